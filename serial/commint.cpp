// SPDX-License-Identifier: MIT
#include "serial/commint.h"

#include <QCoreApplication>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <thread>

#include "engine/linetiming.h"
#include "platform/portaccess.h"
#include "serial/commeventthread.h"

namespace quorlin
{

// ---- enumeration values -----------------------------------------------------

uint32_t BaudRateValue(TBaudrate Value)
{
    static constexpr uint32_t rates[] = {110,    300,    600,    1200,  2400,  4800,
                                         9600,   14400,  19200,  38400, 56000, 57600,
                                         115200, 128000, 256000, 230400};
    return Value < std::size(rates) ? rates[Value] : 9600;
}

uint8_t ParityValue(TParity Value)
{
    return uint8_t(Value); // paNone..paSpace are NOPARITY..SPACEPARITY
}

uint8_t StopbitsValue(TStopbits Value)
{
    return uint8_t(Value); // sb10, sb15, sb20 are ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
}

uint8_t DatabitsValue(TDatabits Value)
{
    return uint8_t(Value + 4);
}

namespace
{

// Flag bit of each TCommOption, in declaration order.
constexpr uint32_t optionFlags[] = {DcbFlags::fParity, DcbFlags::fDsrSensitivity,
                                    DcbFlags::fTXContinueOnXoff, DcbFlags::fErrorChar,
                                    DcbFlags::fNull};

std::string defaultIniPath()
{
    if (!QCoreApplication::instance())
        return "quorlin.ini";
    return (QCoreApplication::applicationDirPath() + "/quorlin.ini").toStdString();
}

// A transfer the port refused at once still takes its whole time-out, as
// callers expect of a failed Read or Write.
void waitOut(std::chrono::steady_clock::time_point Start, int TimeoutMs)
{
    if (TimeoutMs > 0)
        std::this_thread::sleep_until(Start + std::chrono::milliseconds(TimeoutMs));
}

// Read or write errors that mean the device itself is gone, not one transfer.
bool isLossCode(int Code)
{
    return Code == EIO || Code == ENXIO || Code == ENODEV;
}

} // namespace

// ---- TCommEventChars --------------------------------------------------------

TCommEventChars &TCommEventChars::operator=(const TCommEventChars &Other)
{
    m_xonChar = Other.m_xonChar;
    m_xoffChar = Other.m_xoffChar;
    m_errorChar = Other.m_errorChar;
    m_eofChar = Other.m_eofChar;
    m_evtChar = Other.m_evtChar;
    return *this;
}

void TCommEventChars::set(uint8_t &Char, uint8_t Value)
{
    Char = Value;
    if (m_owner)
        m_owner->UpdateDataControlBlock();
}

// ---- TCustomComm ------------------------------------------------------------

TCustomComm::TCustomComm(QObject *Owner)
    : QObject(Owner), m_port(std::make_unique<TPosixSerialPort>()), m_iniPath(defaultIniPath())
{
    UpdateDataControlBlock(); // the character time of the default settings
}

TCustomComm::~TCustomComm()
{
    Close();
}

std::string TCustomComm::DevicePath() const
{
    return ResolvePortName(m_deviceName, m_iniPath);
}

std::string TCustomComm::PortLabel() const
{
    const std::string path = DevicePath();
    if (path.empty() || path == m_deviceName)
        return m_deviceName;
    return m_deviceName + " (" + path + ")";
}

void TCustomComm::SetRetryInterval(int RetryMs)
{
    m_retryMs = RetryMs > 0 ? RetryMs : 0;
    if (!m_retryTimer) {
        m_retryTimer = new QTimer(this);
        m_retryTimer->setObjectName(QStringLiteral("RetryTimer"));
        connect(m_retryTimer, &QTimer::timeout, this, &TCustomComm::retry);
    }
    m_retryTimer->setInterval(m_retryMs);
    if (m_retryMs == 0)
        m_retryTimer->stop();
}

bool TCustomComm::Retrying() const
{
    return m_retryTimer && m_retryTimer->isActive() && !IsOpen();
}

namespace
{
// The device number a path leads to now; 0 when it leads to no device.
dev_t deviceAt(const std::string &Path)
{
    struct stat st {
    };
    return ::stat(Path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) ? st.st_rdev : 0;
}
} // namespace

void TCustomComm::retry()
{
    if (IsOpen()) {
        // Most drivers hang up a line whose device goes; for one that does
        // not, the node gone (or now another device) tells the same.
        if (deviceAt(m_openPath) != m_openDevice)
            lineLost(m_generation, ENODEV);
        return;
    }
    m_inRetry = true;
    Open();
    m_inRetry = false;
}

void TCustomComm::SetSysApi(TSysApi &Api)
{
    if (!IsOpen())
        m_port = std::make_unique<TPosixSerialPort>(Api);
}

// Stored for the next Open.
void TCustomComm::SetDeviceName(const std::string &Value)
{
    m_deviceName = Value;
}
void TCustomComm::SetMonitorEvents(TCommEventTypes Value)
{
    m_monitorEvents = Value;
}
void TCustomComm::SetReadBufSize(int Value)
{
    m_readBufSize = Value;
}
void TCustomComm::SetWriteBufSize(int Value)
{
    m_writeBufSize = Value;
}
// Used by the next Read or Write.
void TCustomComm::SetReadTimeout(int Value)
{
    m_readTimeout = Value;
}
void TCustomComm::SetWriteTimeout(int Value)
{
    m_writeTimeout = Value;
}

// Line settings reach an open port at once; an unchanged value touches nothing.
#define QUORLIN_LINE_SETTER(Name, Type, Member)                                                    \
    void TCustomComm::Set##Name(Type Value)                                                        \
    {                                                                                              \
        if (Value == Member)                                                                       \
            return;                                                                                \
        Member = Value;                                                                            \
        UpdateDataControlBlock();                                                                  \
    }
QUORLIN_LINE_SETTER(BaudRate, TBaudrate, m_baudRate)
QUORLIN_LINE_SETTER(Parity, TParity, m_parity)
QUORLIN_LINE_SETTER(Stopbits, TStopbits, m_stopbits)
QUORLIN_LINE_SETTER(Databits, TDatabits, m_databits)
QUORLIN_LINE_SETTER(Options, TCommOptions, m_options)
QUORLIN_LINE_SETTER(FlowControl, TFlowControl, m_flowControl)
#undef QUORLIN_LINE_SETTER

void TCustomComm::CreateHandle()
{
    m_openPath = ResolvePortName(m_deviceName, m_iniPath);
    m_lastOpenError = m_port->Open(m_openPath);
}

void TCustomComm::DestroyHandle()
{
    m_port->Close();
}

void TCustomComm::Open()
{
    if (IsOpen())
        return; // the open handle and its watcher stay as they are
    m_lastOpenWasRetry = m_inRetry;
    // Nothing of an earlier line reaches this one, however it ended.
    if (m_lineHandler)
        m_lineHandler->LineReset();
    CreateHandle();
    // The line takes its settings before the watcher starts: a request
    // already waiting would otherwise be answered at the line's old speed.
    UpdateCommTimeouts();
    UpdateDataControlBlock();
    if (IsOpen())
        openAdapter(); // before the watcher: a first reply already drives RS-485
    if (IsOpen()) {
        m_eventThread =
            TCommEventThread::Create(m_port->Fd(), m_monitorEvents, m_port->Api(), m_lineHandler);
        if (!m_eventThread) {
            // A port nobody watches would look connected and never answer.
            m_lastOpenError = {EAGAIN, "cannot watch " + m_deviceName, "cannot watch the line"};
            DestroyHandle();
        }
    }
    if (!IsOpen()) {
        const std::string detail = !m_lastOpenError.Detail.empty() ? m_lastOpenError.Detail
                                   : m_deviceName.empty()          ? "no port chosen"
                                                                   : "not a serial port";
        m_closeReason = "cannot open " + PortLabel() + ": " + detail;
        if (IsPermissionError(m_lastOpenError.Code))
            m_closeReason += "; " + PermissionAdvice(DeviceGroup(m_openPath));
        if (m_retryMs > 0 && !m_deviceName.empty() && !m_retryTimer->isActive())
            m_retryTimer->start();
        emit ConnectionChanged();
        return;
    }
    ++m_generation;
    m_closeReason.clear();
    m_openDevice = deviceAt(m_openPath);
    // While open, the same timer looks once a second whether the node is still there.
    if (m_retryTimer && m_retryMs > 0)
        m_retryTimer->start();
    m_eventThread->OnLost = [this, generation = m_generation](TCommEventThread *, int Code) {
        lineLost(generation, Code);
    };
    m_eventThread->OnSignal = [this](TCommEventThread *Sender, uint32_t EventMask) {
        const uint64_t taken = m_inputTaken.load();
        HandleSignal(Sender, EventMask);
        if (m_inputTaken != taken)
            Sender->InputTaken();
    };
    // Queue sizes are the driver's own on this platform; ReadBufSize still
    // sets XonLim and XoffLim.
    emit ConnectionChanged();
}

void TCustomComm::SetLineHandler(ILineHandler *Handler)
{
    m_lineHandler = Handler;
    if (m_eventThread)
        m_eventThread->SetLineHandler(Handler);
}

std::unique_lock<std::mutex> TCustomComm::HoldLine()
{
    if (m_eventThread)
        return m_eventThread->HoldLine();
    return {};
}

void TCustomComm::Close()
{
    if (m_retryTimer)
        m_retryTimer->stop();
    closePort();
}

// The device went away under an open port: close it, say why, and try it
// again once every RetryMs. A report for a port since closed (or reopened)
// is late and changes nothing.
void TCustomComm::lineLost(uint64_t Generation, int Code)
{
    if (!IsOpen() || Generation != m_generation)
        return;
    const std::string path = m_openPath;
    closePort();
    struct stat st {
    };
    std::string what;
    if (Code == ENODEV || (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)))
        what = "device removed";
    else if (Code == EIO)
        what = "line hung up";
    else
        what = std::strerror(Code);
    m_closeReason = PortLabel() + ": " + what;
    if (m_retryMs > 0 && !m_deviceName.empty())
        m_retryTimer->start(); // from now on to open it again
    emit ConnectionChanged();
}

// Called inside a transfer, maybe from the engine's receive step: the port
// is closed afterwards, when the step has ended.
void TCustomComm::scheduleLoss(int Code)
{
    QMetaObject::invokeMethod(
        this, [this, generation = m_generation, Code] { lineLost(generation, Code); },
        Qt::QueuedConnection);
}

void TCustomComm::closePort()
{
    if (!IsOpen())
        return;
    // The purge that ends the watcher's life is done here, on a descriptor
    // that is certainly still this port's; the watcher, which may still be
    // ending after Stop, never touches the port again.
    m_port->Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (m_eventThread)
        m_eventThread->Stop();
    m_eventThread.reset(); // it releases itself when its loop ends
    closeAdapter();
    DestroyHandle();
    // Whatever the reason (Close, a lost device, new settings), a reply held
    // back for this port never goes out on the next one.
    if (m_lineHandler)
        m_lineHandler->LineReset();
}

void TCustomComm::UpdateCommTimeouts()
{
    // Nothing to set: the descriptor is non-blocking, so a read returns at
    // once with what is queued, and Write bounds its own wait.
}

void TCustomComm::UpdateDataControlBlock()
{
    m_lineBaud.store(int(BaudRateValue(m_baudRate)), std::memory_order_relaxed);
    m_charTimeUs.store(quorlin::CharTimeUs(int(BaudRateValue(m_baudRate)),
                                           DatabitsValue(m_databits), m_parity != paNone,
                                           m_stopbits == sb20 ? 4 : m_stopbits == sb15 ? 3 : 2),
                       std::memory_order_relaxed);
    if (!IsOpen())
        return;
    TDcb d = m_dcb;
    m_port->GetCommState(d); // on failure the last contents stand
    d.BaudRate = BaudRateValue(m_baudRate);
    d.Parity = ParityValue(m_parity);
    d.StopBits = StopbitsValue(m_stopbits);
    d.ByteSize = DatabitsValue(m_databits);
    d.XonChar = m_eventChars.XonChar();
    d.XoffChar = m_eventChars.XoffChar();
    d.ErrorChar = m_eventChars.ErrorChar();
    d.EofChar = m_eventChars.EofChar();
    d.EvtChar = m_eventChars.EvtChar();
    const int lim = m_readBufSize / 4;
    d.XonLim = d.XoffLim = uint16_t(lim < 0 ? 0 : lim > 0xFFFF ? 0xFFFF : lim);
    switch (m_flowControl) {
    case fcNone:
        d.Flags = DcbFlags::fBinary;
        break;
    case fcCTS:
        d.Flags |= DcbFlags::fOutxCtsFlow | DcbFlags::RtsControlHandshake;
        break;
    case fcDTR:
        d.Flags |= DcbFlags::fOutxDsrFlow | DcbFlags::DtrControlHandshake;
        break;
    case fcSoftware:
        d.Flags |= DcbFlags::fOutX | DcbFlags::fInX;
        break;
    case fcDefault:
        break;
    }
    for (unsigned o = 0; o < std::size(optionFlags); ++o) {
        if (m_options & (1u << o))
            d.Flags |= optionFlags[o];
        else
            d.Flags &= ~optionFlags[o];
    }
    m_dcb = d;
    m_port->SetCommState(d); // a refused mode leaves the port as it was
}

int TCustomComm::Read(void *Buffer, int Count)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if ((m_ignoreEcho.load() || m_echo.Pending() > 0 || m_echo.Held() > 0) && Count > 0 &&
        Buffer != nullptr && IsOpen())
        return readFiltered(static_cast<uint8_t *>(Buffer), Count);
    const auto start = std::chrono::steady_clock::now();
    TSysError error;
    int n = m_port->Read(Buffer, Count, &error);
    if (n > 0)
        ++m_inputTaken;
    if (n >= 0)
        return n;
    if (isLossCode(error.Code)) {
        scheduleLoss(error.Code);
        return -1; // no point in waiting on a device that is gone
    }
    waitOut(start, m_readTimeout);
    return -1;
}

int TCustomComm::Write(const void *Buffer, int Count)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const auto start = std::chrono::steady_clock::now();
    bool timedOut = false;
    TSysError error;
    int n = m_port->Write(Buffer, Count, m_writeTimeout, &timedOut, &error);
    if (n >= 0) {
        if (m_ignoreEcho.load())
            echoSent(Buffer, n);
        return n;
    }
    if (isLossCode(error.Code)) {
        scheduleLoss(error.Code);
        return -1;
    }
    if (!timedOut)
        waitOut(start, m_writeTimeout);
    return -1;
}

int64_t TCustomComm::SendTimeUs(int Count)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!IsOpen())
        return 0;
    const int queued = m_port->OutQueue(); // -1: the driver does not tell
    return LineTimeUs((queued > 0 ? queued : 0) + Count, CharTimeUs());
}

void TCustomComm::PurgeIn()
{
    if (IsOpen()) {
        m_port->Purge(PURGE_RXABORT | PURGE_RXCLEAR);
        ++m_inputTaken;
        std::lock_guard<std::mutex> guard(m_lock);
        m_echo.Reset();
    }
}

void TCustomComm::PurgeOut()
{
    if (IsOpen())
        m_port->Purge(PURGE_TXABORT | PURGE_TXCLEAR);
}

void TCustomComm::HandleSignal(TCommEventThread *, uint32_t EventMask)
{
    uint32_t errors = 0;
    int inQueue = 0;
    if (m_port->ClearCommError(errors, inQueue))
        return; // the port was closed in the meantime
    if ((EventMask & EV_BREAK) && OnBreak)
        OnBreak(this);
    if ((EventMask & EV_CTS) && OnCts)
        OnCts(this);
    if ((EventMask & EV_DSR) && OnDsr)
        OnDsr(this);
    if ((EventMask & EV_ERR) && OnError)
        OnError(this, int(errors));
    if ((EventMask & EV_RING) && OnRing)
        OnRing(this);
    if ((EventMask & EV_RLSD) && OnRlsd)
        OnRlsd(this);
    inQueue += PendingInput();
    if ((EventMask & EV_RXCHAR) && OnRxChar && inQueue > 0)
        OnRxChar(this, inQueue);
    if ((EventMask & EV_RXFLAG) && OnRxFlag)
        OnRxFlag(this);
    if ((EventMask & EV_TXEMPTY) && OnTxEmpty)
        OnTxEmpty(this);
}

} // namespace quorlin
