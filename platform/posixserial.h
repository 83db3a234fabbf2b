// SPDX-License-Identifier: MIT
// Serial ports on POSIX termios, shaped like the device-control-block interface
// the serial device is written against: exclusive open by name, a DCB-like
// line state translated to and from termios, non-blocking reads, writes with a
// time-out, purges, queue length and error flags, and event waits that a stop
// signal from another thread ends.
//
// Every system call goes through TSysApi, so tests can count calls and inject
// failures; failures are mapped to a TSysError in one place and EINTR is retried.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct pollfd;
struct stat;

namespace quorlin
{

// ---- Line state -----------------------------------------------------------

// Bits of TDcb::Flags, at the positions of the classic device control block.
struct DcbFlags {
    static constexpr uint32_t fBinary = 1;
    static constexpr uint32_t fParity = 2;
    static constexpr uint32_t fOutxCtsFlow = 4;
    static constexpr uint32_t fOutxDsrFlow = 8;
    static constexpr uint32_t fDtrControlMask = 0x30; // two-bit field, shift 4
    static constexpr uint32_t fDsrSensitivity = 64;
    static constexpr uint32_t fTXContinueOnXoff = 128;
    static constexpr uint32_t fOutX = 256;
    static constexpr uint32_t fInX = 512;
    static constexpr uint32_t fErrorChar = 1024;
    static constexpr uint32_t fNull = 2048;
    static constexpr uint32_t fRtsControlMask = 0x3000; // two-bit field, shift 12
    static constexpr uint32_t fAbortOnError = 16384;

    static constexpr uint32_t DtrControlEnable = 1u << 4;     // 16
    static constexpr uint32_t DtrControlHandshake = 2u << 4;  // 32
    static constexpr uint32_t RtsControlEnable = 1u << 12;    // 4096
    static constexpr uint32_t RtsControlHandshake = 2u << 12; // 8192
};

inline constexpr uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3,
                         SPACEPARITY = 4;
inline constexpr uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

struct TDcb {
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
    bool operator==(const TDcb &) const = default;
};

// Line events (the event mask of a completed wait).
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;

// Purge flags.
inline constexpr uint32_t PURGE_TXABORT = 1;
inline constexpr uint32_t PURGE_RXABORT = 2;
inline constexpr uint32_t PURGE_TXCLEAR = 4;
inline constexpr uint32_t PURGE_RXCLEAR = 8;

// Error flags reported by ClearCommError.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;

// ---- System call seam -----------------------------------------------------

// The system calls the serial layer makes. The default forwards to the kernel;
// tests derive from it to count calls or fail one on purpose. Each returns what
// the system call returns and leaves errno set on failure.
class TSysApi
{
  public:
    virtual ~TSysApi() = default;
    virtual int Open(const char *Path, int Flags);
    virtual int Close(int Fd);
    virtual int Dup(int Fd);
    virtual int Ioctl(int Fd, unsigned long Request, void *Arg);
    virtual int Flock(int Fd, int Operation);
    virtual int Fstat(int Fd, struct stat *St);
    virtual int Isatty(int Fd);
    virtual long Read(int Fd, void *Buffer, size_t Count);
    virtual long Write(int Fd, const void *Buffer, size_t Count);
    virtual int Poll(struct pollfd *Fds, unsigned long Count, int TimeoutMs);
    virtual int EventFd();

    // The process-wide forwarding instance.
    static TSysApi &Default();
};

// A failed system call: errno and a message such as
// "cannot open /dev/ttyUSB0: Permission denied". Code 0 means success.
struct TSysError {
    int Code = 0;
    std::string Message;
    std::string Detail; // what follows the colon: "Permission denied"

    explicit operator bool() const { return Code != 0; }
};

// ---- Port names -----------------------------------------------------------

// "COMn" (any letter case, n >= 1) -> key "COMn" of section "Ports" of the INI
// file IniPath when present, else /dev/ttyS<n-1>; a name starting with "/" is
// a path as it stands. Anything else resolves to "" (no such port).
std::string ResolvePortName(const std::string &Name, const std::string &IniPath);

// ---- The port -------------------------------------------------------------

class TDeviceLock;

class TPosixSerialPort
{
  public:
    explicit TPosixSerialPort(TSysApi &Api = TSysApi::Default());
    ~TPosixSerialPort();
    TPosixSerialPort(const TPosixSerialPort &) = delete;
    TPosixSerialPort &operator=(const TPosixSerialPort &) = delete;

    // Exclusive open of a character device that is a terminal, switched to
    // raw binary mode. Fails when another process holds the port.
    TSysError Open(const std::string &Path);
    // Releases the exclusive hold and closes; nothing when closed.
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    TSysApi &Api() const { return m_api; }
    // Folders of the customary "LCK.." lock files (/run/lock, /var/lock by
    // default; none turns them off). Used by the next Open.
    void SetLockDirs(std::vector<std::string> Dirs) { m_lockDirs = std::move(Dirs); }
    // The lock file this port created, empty when none.
    std::string LockPath() const;

    // The line state as termios has it; fields termios cannot hold (DTR/DSR
    // handshake, fNull, fErrorChar, the limits, EofChar, EvtChar, ErrorChar)
    // read back as last written.
    TSysError GetCommState(TDcb &Dcb);
    // Refuses (EINVAL, port unchanged) what the line cannot do: 1.5 stop bits,
    // fewer than 5 data bits, an unknown parity, a zero or unrepresentable speed.
    TSysError SetCommState(const TDcb &Dcb);

    // Returns at once: the bytes already queued (possibly 0), or -1.
    int Read(void *Buffer, int Count, TSysError *Error = nullptr);
    // All Count bytes within TimeoutMs, or -1 (time-out or failure; TimedOut
    // tells which).
    int Write(const void *Buffer, int Count, int TimeoutMs, bool *TimedOut = nullptr,
              TSysError *Error = nullptr);
    // PURGE_* flags; the abort flags have nothing to abort (I/O is synchronous).
    TSysError Purge(uint32_t Flags);
    // Waits until every byte written has left the line (the driver's queue,
    // then the transmitter where the driver tells of it), at most TimeoutMs.
    TSysError WaitSent(int TimeoutMs);
    // Bytes written but not yet sent, as the driver tells (TIOCOUTQ); -1
    // when it does not, or the port is closed. Never waits.
    int OutQueue() const;
    // Queue length and the CE_* flags raised since the last call; fails when
    // the port is closed.
    TSysError ClearCommError(uint32_t &Errors, int &InQueue);

  private:
    TSysApi &m_api;
    int m_fd = -1;
    std::string m_path;
    TDcb m_shadow; // what termios cannot keep
    std::vector<std::string> m_lockDirs;
    std::unique_ptr<TDeviceLock> m_lock;
    struct TCounts {
        int Frame = 0, Overrun = 0, Parity = 0, Brk = 0, BufOverrun = 0;
    } m_counts;
    bool m_haveCounts = false;
};

// ---- Event waits ----------------------------------------------------------

// Waits for line events on its own duplicate of a port descriptor, ended early
// by Signal from any thread. EV_RXCHAR means the input queue grew since the
// last delivery; the modem lines, breaks, errors and an emptied output queue
// are sampled every few tens of milliseconds, and only while monitored.
class TSerialEventWaiter
{
  public:
    explicit TSerialEventWaiter(TSysApi &Api = TSysApi::Default());
    ~TSerialEventWaiter();
    TSerialEventWaiter(const TSerialEventWaiter &) = delete;
    TSerialEventWaiter &operator=(const TSerialEventWaiter &) = delete;

    // Duplicates PortFd and keeps Mask (the SetCommMask of this layer).
    TSysError Attach(int PortFd, uint32_t Mask);
    uint32_t Mask() const { return m_mask; }

    enum class TWait { Events, Stopped, Failed, TimedOut };
    // Blocks until an event, the stop signal or a failure (an error of the
    // descriptor, a hung-up line, a readable queue that did not grow), or
    // until TimeoutMs milliseconds have passed (TimedOut; -1 waits for ever).
    TWait Wait(uint32_t &EventMask, int TimeoutMs = -1);
    // After Failed: why the line is gone for good (the device hung up, was
    // unplugged, or its descriptor became invalid), as an errno value; 0 when
    // the failure may pass by itself.
    int LostCode() const { return m_lostCode; }
    // After Failed: waits on the stop signal alone for Ms milliseconds, so a
    // broken line costs no CPU. True when the stop signal came.
    bool BackOff(int Ms);
    // Thread-safe; the signal stays set.
    void Signal();
    // Thread-safe: a Wait in progress (or the next one) returns TimedOut at
    // once, so its caller looks at its deadlines again.
    void Wake();

    // After a delivery of EV_RXCHAR, on the delivering thread: Consumed tells
    // whether its handler took input (read or purged). One that took nothing
    // makes the bytes now queued old, so only further bytes raise the next
    // event; after one that took some, whatever is queued counts as new.
    void Delivered(bool Consumed);
    int QueueLength() const;

    // Raise the calling thread's priority one step, where permitted.
    static void RaiseThreadPriority();

  private:
    uint32_t Sample();

    TSysApi &m_api;
    int m_fd = -1;
    int m_stop = -1; // the stop signal, and wakes that are not one
    std::atomic<bool> m_stopRequested{false};
    uint32_t m_mask = 0;
    std::atomic<int> m_oldBytes{0};
    int m_lostCode = 0;
    // Sampled state; a driver that lacks an ioctl is not asked again.
    bool m_canModem = true, m_canCounts = true, m_canOutq = true;
    int m_modem = 0, m_outq = 0;
    int m_brk = 0, m_errs = 0;
};

} // namespace quorlin
