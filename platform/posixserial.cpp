// SPDX-License-Identifier: MIT
// termios2 is taken from the kernel's own headers (for speeds without a B...
// constant), so this file must not include <termios.h>.
#include "platform/posixserial.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/inifile.h"
#include "platform/lockfile.h"

namespace quorlin
{

// ---- System calls ---------------------------------------------------------

int TSysApi::Open(const char *Path, int Flags)
{
    return ::open(Path, Flags);
}
int TSysApi::Close(int Fd)
{
    return ::close(Fd);
}
int TSysApi::Dup(int Fd)
{
    return ::fcntl(Fd, F_DUPFD_CLOEXEC, 0);
}
int TSysApi::Ioctl(int Fd, unsigned long Request, void *Arg)
{
    return ::ioctl(Fd, Request, Arg);
}
int TSysApi::Flock(int Fd, int Operation)
{
    return ::flock(Fd, Operation);
}
int TSysApi::Fstat(int Fd, struct stat *St)
{
    return ::fstat(Fd, St);
}
int TSysApi::Isatty(int Fd)
{
    return ::isatty(Fd);
}
long TSysApi::Read(int Fd, void *Buffer, size_t Count)
{
    return ::read(Fd, Buffer, Count);
}
long TSysApi::Write(int Fd, const void *Buffer, size_t Count)
{
    return ::write(Fd, Buffer, Count);
}
int TSysApi::Poll(struct pollfd *Fds, unsigned long Count, int TimeoutMs)
{
    return ::poll(Fds, Count, TimeoutMs);
}
int TSysApi::EventFd()
{
    return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TSysApi &TSysApi::Default()
{
    static TSysApi api;
    return api;
}

namespace
{

// Every call that may be interrupted goes through here.
template <class F> auto retryEintr(F f)
{
    auto r = f();
    while (r < 0 && errno == EINTR)
        r = f();
    return r;
}

// The one place where a failed call becomes an error value.
TSysError sysError(const char *What, const std::string &Path, int Code = 0)
{
    if (Code == 0)
        Code = errno != 0 ? errno : EIO;
    TSysError e;
    e.Code = Code;
    e.Detail = std::strerror(Code);
    e.Message = std::string("cannot ") + What + " " + Path + ": " + e.Detail;
    return e;
}

void *ioctlValue(unsigned long Value)
{
    return reinterpret_cast<void *>(Value);
}

// ---- termios helpers, one per setting ----

struct SpeedEntry {
    uint32_t rate;
    unsigned code;
};
constexpr SpeedEntry standardSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

void putSpeed(termios2 &t, uint32_t rate)
{
    unsigned code = BOTHER;
    for (const auto &e : standardSpeeds)
        if (e.rate == rate)
            code = e.code;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code;
    t.c_ispeed = rate;
    t.c_ospeed = rate;
}

bool putByteSize(termios2 &t, uint8_t size)
{
    unsigned cs;
    switch (size) {
    case 5:
        cs = CS5;
        break;
    case 6:
        cs = CS6;
        break;
    case 7:
        cs = CS7;
        break;
    case 8:
        cs = CS8;
        break;
    default:
        return false; // 4 data bits and anything else: no such line
    }
    t.c_cflag = (t.c_cflag & ~CSIZE) | cs;
    return true;
}

uint8_t byteSizeOf(const termios2 &t)
{
    switch (t.c_cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

bool putParity(termios2 &t, uint8_t parity)
{
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (parity) {
    case NOPARITY:
        break;
    case ODDPARITY:
        t.c_cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        t.c_cflag |= PARENB;
        break;
    case MARKPARITY:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SPACEPARITY:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        return false;
    }
    return true;
}

uint8_t parityOf(const termios2 &t)
{
    if (!(t.c_cflag & PARENB))
        return NOPARITY;
    if (t.c_cflag & CMSPAR)
        return (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    return (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
}

bool putStopBits(termios2 &t, uint8_t stop)
{
    switch (stop) {
    case ONESTOPBIT:
        t.c_cflag &= ~CSTOPB;
        return true;
    case TWOSTOPBITS:
        t.c_cflag |= CSTOPB;
        return true;
    default:
        return false; // 1.5 stop bits do not exist on this line
    }
}

void putFlag(tcflag_t &field, tcflag_t bit, bool on)
{
    field = on ? (field | bit) : (field & ~bit);
}

// Binary line: no echo, no line editing, no translation of any byte.
void makeRaw(termios2 &t)
{
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

uint32_t rtsField(uint32_t flags)
{
    return flags & DcbFlags::fRtsControlMask;
}

} // namespace

// ---- Port names -----------------------------------------------------------

std::string ResolvePortName(const std::string &Name, const std::string &IniPath)
{
    if (!Name.empty() && Name[0] == '/')
        return Name;
    if (Name.size() < 4 || Name.size() > 12)
        return {};
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(Name[i])) != "COM"[i])
            return {};
    long n = 0;
    for (size_t i = 3; i < Name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(Name[i])))
            return {};
        n = n * 10 + (Name[i] - '0');
    }
    if (n < 1)
        return {};
    const std::string key = "COM" + std::to_string(n);
    if (!IniPath.empty()) {
        std::string mapped = TIniFile(IniPath).ReadString("Ports", key, "");
        if (!mapped.empty())
            return mapped;
    }
    return "/dev/ttyS" + std::to_string(n - 1);
}

// ---- The port -------------------------------------------------------------

TPosixSerialPort::TPosixSerialPort(TSysApi &Api)
    : m_api(Api), m_lockDirs(TDeviceLock::DefaultDirs()), m_lock(std::make_unique<TDeviceLock>())
{
}

std::string TPosixSerialPort::LockPath() const
{
    return m_lock->Path();
}

TPosixSerialPort::~TPosixSerialPort()
{
    Close();
}

TSysError TPosixSerialPort::Open(const std::string &Path)
{
    if (m_fd >= 0)
        return sysError("open", Path, EBUSY);
    if (Path.empty())
        return sysError("open", "(no port)", ENOENT);
    // Honour a lock file of another program before touching the line. A
    // device that is not there needs none: its open fails below.
    struct stat node {
    };
    if (::stat(Path.c_str(), &node) == 0 && S_ISCHR(node.st_mode))
        if (TSysError e = m_lock->Acquire(Path, m_lockDirs))
            return e;
    errno = 0;
    int fd = retryEintr(
        [&] { return m_api.Open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        TSysError e = sysError("open", Path);
        m_lock->Release();
        return e;
    }
    auto fail = [&](TSysError e) {
        m_api.Close(fd);
        m_lock->Release();
        return e;
    };
    struct stat st {
    };
    if (m_api.Fstat(fd, &st) < 0)
        return fail(sysError("open", Path));
    if (!S_ISCHR(st.st_mode) || m_api.Isatty(fd) != 1)
        return fail(sysError("open", Path, ENOTTY));
    if (m_api.Ioctl(fd, TIOCEXCL, nullptr) < 0)
        return fail(sysError("open", Path));
    if (retryEintr([&] { return m_api.Flock(fd, LOCK_EX | LOCK_NB); }) < 0) {
        int code = errno == EWOULDBLOCK ? EBUSY : errno;
        m_api.Ioctl(fd, TIOCNXCL, nullptr);
        return fail(sysError("open", Path, code));
    }
    termios2 t{};
    if (m_api.Ioctl(fd, TCGETS2, &t) == 0) {
        makeRaw(t);
        retryEintr([&] { return m_api.Ioctl(fd, TCSETS2, &t); });
    }
    m_fd = fd;
    m_path = Path;
    m_shadow = TDcb{};
    m_shadow.Flags = DcbFlags::fBinary | DcbFlags::DtrControlEnable | DcbFlags::RtsControlEnable;
    serial_icounter_struct c{};
    m_haveCounts = m_api.Ioctl(fd, TIOCGICOUNT, &c) == 0;
    if (m_haveCounts)
        m_counts = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};
    return {};
}

void TPosixSerialPort::Close()
{
    if (m_fd < 0)
        return;
    // A duplicate held by a watcher that is still ending must not keep the
    // port locked against the next Open.
    m_api.Ioctl(m_fd, TIOCNXCL, nullptr);
    m_api.Flock(m_fd, LOCK_UN);
    m_api.Close(m_fd);
    m_fd = -1;
    m_lock->Release();
}

TSysError TPosixSerialPort::GetCommState(TDcb &Dcb)
{
    if (m_fd < 0)
        return sysError("read the line state of", m_path, EBADF);
    termios2 t{};
    if (retryEintr([&] { return m_api.Ioctl(m_fd, TCGETS2, &t); }) < 0)
        return sysError("read the line state of", m_path);
    TDcb d = m_shadow;
    d.BaudRate = t.c_ospeed;
    d.ByteSize = byteSizeOf(t);
    d.Parity = parityOf(t);
    d.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    d.XonChar = t.c_cc[VSTART];
    d.XoffChar = t.c_cc[VSTOP];
    uint32_t f =
        d.Flags & ~(DcbFlags::fParity | DcbFlags::fOutxCtsFlow | DcbFlags::fOutX | DcbFlags::fInX);
    if (t.c_iflag & INPCK)
        f |= DcbFlags::fParity;
    if (t.c_iflag & IXON)
        f |= DcbFlags::fOutX;
    if (t.c_iflag & IXOFF)
        f |= DcbFlags::fInX;
    if (t.c_cflag & CRTSCTS) {
        f |= DcbFlags::fOutxCtsFlow;
        f = (f & ~DcbFlags::fRtsControlMask) | DcbFlags::RtsControlHandshake;
    } else if (rtsField(f) == DcbFlags::RtsControlHandshake) {
        f = (f & ~DcbFlags::fRtsControlMask) | DcbFlags::RtsControlEnable;
    }
    d.Flags = f;
    Dcb = d;
    return {};
}

TSysError TPosixSerialPort::SetCommState(const TDcb &Dcb)
{
    if (m_fd < 0)
        return sysError("set the line state of", m_path, EBADF);
    termios2 t{};
    if (retryEintr([&] { return m_api.Ioctl(m_fd, TCGETS2, &t); }) < 0)
        return sysError("set the line state of", m_path);
    makeRaw(t);
    if (Dcb.BaudRate == 0 || !putByteSize(t, Dcb.ByteSize) || !putParity(t, Dcb.Parity) ||
        !putStopBits(t, Dcb.StopBits))
        return sysError("set the line state of", m_path, EINVAL);
    putSpeed(t, Dcb.BaudRate);
    const uint32_t f = Dcb.Flags;
    putFlag(t.c_iflag, INPCK, f & DcbFlags::fParity);
    putFlag(t.c_iflag, IXON, f & DcbFlags::fOutX);
    putFlag(t.c_iflag, IXOFF, f & DcbFlags::fInX);
    putFlag(t.c_cflag, CRTSCTS,
            (f & DcbFlags::fOutxCtsFlow) || rtsField(f) == DcbFlags::RtsControlHandshake);
    t.c_cc[VSTART] = Dcb.XonChar;
    t.c_cc[VSTOP] = Dcb.XoffChar;
    if (retryEintr([&] { return m_api.Ioctl(m_fd, TCSETS2, &t); }) < 0)
        return sysError("set the line state of", m_path);
    m_shadow = Dcb;
    return {};
}

int TPosixSerialPort::Read(void *Buffer, int Count, TSysError *Error)
{
    auto fail = [&](TSysError e) {
        if (Error)
            *Error = std::move(e);
        return -1;
    };
    if (m_fd < 0)
        return fail(sysError("read from", m_path, EBADF));
    if (Count < 0 || (Count > 0 && Buffer == nullptr))
        return fail(sysError("read from", m_path, EINVAL));
    if (Count == 0)
        return 0;
    long n = retryEintr([&] { return m_api.Read(m_fd, Buffer, size_t(Count)); });
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return fail(sysError("read from", m_path));
    }
    return int(n);
}

int TPosixSerialPort::Write(const void *Buffer, int Count, int TimeoutMs, bool *TimedOut,
                            TSysError *Error)
{
    using Clock = std::chrono::steady_clock;
    if (TimedOut)
        *TimedOut = false;
    auto fail = [&](TSysError e) {
        if (Error)
            *Error = std::move(e);
        return -1;
    };
    if (m_fd < 0)
        return fail(sysError("write to", m_path, EBADF));
    if (Count < 0 || (Count > 0 && Buffer == nullptr))
        return fail(sysError("write to", m_path, EINVAL));
    const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs < 0 ? 0 : TimeoutMs);
    const auto *p = static_cast<const uint8_t *>(Buffer);
    int sent = 0;
    while (sent < Count) {
        long n = retryEintr([&] { return m_api.Write(m_fd, p + sent, size_t(Count - sent)); });
        if (n > 0) {
            sent += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return fail(sysError("write to", m_path));
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) {
                if (TimedOut)
                    *TimedOut = true;
                return fail(sysError("write to", m_path, ETIMEDOUT));
            }
            pollfd pfd{m_fd, POLLOUT, 0};
            int r = m_api.Poll(&pfd, 1, int(left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                return fail(sysError("write to", m_path));
            if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return fail(sysError("write to", m_path, EIO));
            break; // writable, or time left over to be checked above
        }
    }
    return sent;
}

TSysError TPosixSerialPort::WaitSent(int TimeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until =
        Clock::now() + std::chrono::milliseconds(std::max(0, TimeoutMs));
    for (;;) {
        if (m_fd < 0)
            return sysError("drain", m_path, EBADF);
        // The driver's queue first, then the UART's own shift register where
        // the driver tells of it (a built-in UART does, most adapters do not).
        bool busy = OutQueue() > 0;
        if (!busy) {
            unsigned int lsr = 0;
            busy = m_api.Ioctl(m_fd, TIOCSERGETLSR, &lsr) == 0 && (lsr & TIOCSER_TEMT) == 0;
        }
        if (!busy)
            return {};
        if (Clock::now() >= until)
            return sysError("drain", m_path, ETIMEDOUT);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int TPosixSerialPort::OutQueue() const
{
    int q = 0;
    if (m_fd < 0 || m_api.Ioctl(m_fd, TIOCOUTQ, &q) < 0 || q < 0)
        return -1;
    return q;
}

TSysError TPosixSerialPort::Purge(uint32_t Flags)
{
    if (m_fd < 0)
        return sysError("purge", m_path, EBADF);
    const bool rx = Flags & PURGE_RXCLEAR, tx = Flags & PURGE_TXCLEAR;
    if (!rx && !tx)
        return {};
    unsigned long which = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
    if (retryEintr([&] { return m_api.Ioctl(m_fd, TCFLSH, ioctlValue(which)); }) < 0)
        return sysError("purge", m_path);
    return {};
}

TSysError TPosixSerialPort::ClearCommError(uint32_t &Errors, int &InQueue)
{
    Errors = 0;
    InQueue = 0;
    if (m_fd < 0)
        return sysError("query", m_path, EBADF);
    int q = 0;
    if (m_api.Ioctl(m_fd, FIONREAD, &q) < 0)
        return sysError("query", m_path);
    InQueue = q;
    serial_icounter_struct c{};
    if (m_haveCounts && m_api.Ioctl(m_fd, TIOCGICOUNT, &c) == 0) {
        if (c.buf_overrun > m_counts.BufOverrun)
            Errors |= CE_RXOVER;
        if (c.overrun > m_counts.Overrun)
            Errors |= CE_OVERRUN;
        if (c.parity > m_counts.Parity)
            Errors |= CE_RXPARITY;
        if (c.frame > m_counts.Frame)
            Errors |= CE_FRAME;
        if (c.brk > m_counts.Brk)
            Errors |= CE_BREAK;
        m_counts = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};
    }
    return {};
}

// ---- Event waits ----------------------------------------------------------

namespace
{
constexpr uint32_t modemEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
constexpr uint32_t countEvents = EV_BREAK | EV_ERR;
constexpr int sampleMs = 50;
} // namespace

TSerialEventWaiter::TSerialEventWaiter(TSysApi &Api) : m_api(Api) {}

TSerialEventWaiter::~TSerialEventWaiter()
{
    if (m_fd >= 0)
        m_api.Close(m_fd);
    if (m_stop >= 0)
        m_api.Close(m_stop);
}

TSysError TSerialEventWaiter::Attach(int PortFd, uint32_t Mask)
{
    if (m_fd >= 0 || m_stop >= 0)
        return sysError("watch", "port", EBUSY);
    m_stop = m_api.EventFd();
    if (m_stop < 0)
        return sysError("create the stop event for", "port");
    m_fd = m_api.Dup(PortFd);
    if (m_fd < 0)
        return sysError("watch", "port");
    m_mask = Mask;
    m_canModem = (m_mask & modemEvents) != 0;
    m_canCounts = (m_mask & countEvents) != 0;
    m_canOutq = (m_mask & EV_TXEMPTY) != 0;
    Sample(); // the first sample is the baseline, never an event
    return {};
}

uint32_t TSerialEventWaiter::Sample()
{
    uint32_t ev = 0;
    if (m_canModem) {
        int st = 0;
        if (m_api.Ioctl(m_fd, TIOCMGET, &st) < 0) {
            m_canModem = false;
        } else {
            int diff = st ^ m_modem;
            if (diff & TIOCM_CTS)
                ev |= EV_CTS;
            if (diff & TIOCM_DSR)
                ev |= EV_DSR;
            if (diff & TIOCM_CAR)
                ev |= EV_RLSD;
            if ((diff & TIOCM_RNG) && (st & TIOCM_RNG))
                ev |= EV_RING;
            m_modem = st;
        }
    }
    if (m_canCounts) {
        serial_icounter_struct c{};
        if (m_api.Ioctl(m_fd, TIOCGICOUNT, &c) < 0) {
            m_canCounts = false;
        } else {
            int errs = c.frame + c.overrun + c.parity + c.buf_overrun;
            if (c.brk > m_brk)
                ev |= EV_BREAK;
            if (errs > m_errs)
                ev |= EV_ERR;
            m_brk = c.brk;
            m_errs = errs;
        }
    }
    if (m_canOutq) {
        int q = 0;
        if (m_api.Ioctl(m_fd, TIOCOUTQ, &q) < 0) {
            m_canOutq = false;
        } else {
            if (m_outq > 0 && q == 0)
                ev |= EV_TXEMPTY;
            m_outq = q;
        }
    }
    return ev & m_mask;
}

TSerialEventWaiter::TWait TSerialEventWaiter::Wait(uint32_t &EventMask, int TimeoutMs)
{
    EventMask = 0;
    m_lostCode = 0;
    if (m_fd < 0 || m_stop < 0)
        return TWait::Failed;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(std::max(0, TimeoutMs));
    for (;;) {
        // Attach left each of these set only where the mask asks for it.
        const bool sampling = m_canModem || m_canCounts || m_canOutq;
        int pollMs = sampling ? sampleMs : -1;
        if (TimeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            const int leftMs = int(std::max<int64_t>(0, left.count()));
            pollMs = pollMs < 0 ? leftMs : std::min(pollMs, leftMs);
        }
        pollfd fds[2] = {{m_fd, short((m_mask & EV_RXCHAR) ? POLLIN : 0), 0}, {m_stop, POLLIN, 0}};
        int n = retryEintr([&] { return m_api.Poll(fds, 2, pollMs); });
        if (n < 0)
            return TWait::Failed;
        if (fds[1].revents) {
            if (m_stopRequested.load())
                return TWait::Stopped;
            // A wake: the caller looks at its deadlines again.
            uint64_t count = 0;
            retryEintr([&] { return m_api.Read(m_stop, &count, sizeof count); });
            if (m_stopRequested.load())
                return TWait::Stopped;
            return TWait::TimedOut;
        }
        bool broken = fds[0].revents & (POLLERR | POLLHUP | POLLNVAL);
        if (broken)
            m_lostCode = (fds[0].revents & POLLNVAL) ? EBADF : EIO;
        bool stale = false;
        uint32_t ev = 0;
        if (fds[0].revents & POLLIN) {
            int q = QueueLength();
            if (q < 0) {
                broken = true;
                m_lostCode = errno != 0 ? errno : EIO;
            } else if (q > m_oldBytes.load()) {
                ev |= EV_RXCHAR;
            } else {
                // Readable, but no byte came since the last delivery (its
                // handler left them unread): not an event, and no reason to
                // wake again at once.
                m_oldBytes.store(q);
                stale = true;
            }
        }
        if (sampling)
            ev |= Sample();
        if (ev) {
            EventMask = ev;
            return TWait::Events;
        }
        if (broken || stale)
            return TWait::Failed;
        if (TimeoutMs >= 0 && Clock::now() >= until)
            return TWait::TimedOut;
    }
}

bool TSerialEventWaiter::BackOff(int Ms)
{
    if (m_stop < 0)
        return true;
    pollfd pfd{m_stop, POLLIN, 0};
    int n = retryEintr([&] { return m_api.Poll(&pfd, 1, Ms); });
    if (n > 0 && (pfd.revents & POLLIN) && !m_stopRequested.load()) {
        uint64_t count = 0; // a wake ends the pause early, nothing more
        retryEintr([&] { return m_api.Read(m_stop, &count, sizeof count); });
    }
    return m_stopRequested.load();
}

void TSerialEventWaiter::Wake()
{
    if (m_stop < 0)
        return;
    uint64_t one = 1;
    retryEintr([&] { return m_api.Write(m_stop, &one, sizeof one); });
}

void TSerialEventWaiter::Signal()
{
    m_stopRequested.store(true);
    if (m_stop < 0)
        return;
    uint64_t one = 1;
    retryEintr([&] { return m_api.Write(m_stop, &one, sizeof one); });
}

int TSerialEventWaiter::QueueLength() const
{
    int q = 0;
    if (m_fd < 0 || m_api.Ioctl(m_fd, FIONREAD, &q) < 0)
        return -1;
    return q;
}

void TSerialEventWaiter::Delivered(bool Consumed)
{
    if (Consumed) {
        m_oldBytes.store(0);
        return;
    }
    const int q = QueueLength();
    m_oldBytes.store(q > 0 ? q : 0);
}

void TSerialEventWaiter::RaiseThreadPriority()
{
    const id_t tid = id_t(::syscall(SYS_gettid));
    errno = 0;
    int prio = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, prio - 1); // refused without privilege: fine
}

} // namespace quorlin
