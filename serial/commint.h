// SPDX-License-Identifier: MIT
// The serial device: owns one port, keeps the line settings as typed
// properties, and turns the watcher's line events into handler calls on the
// user-interface thread, except what a line handler serves on the port's own
// thread. Every failure is silent: IsOpen, and Read/Write
// returning -1, are the only reports.
//
// Public surface fixed for the layers above; the serial layer may add to it.
#pragma once

#include <QObject>
#include <QTimer>
#include <sys/types.h>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/echofilter.h"
#include "engine/serialline.h"
#include "platform/posixserial.h"
#include "platform/serialadapter.h"
#include "serial/linehandler.h"

namespace quorlin
{

enum TBaudrate : uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    br230400 // after the classic rates, so their values stay
};
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : uint8_t { sb10, sb15, sb20 };
enum TDatabits : uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };

enum TCommEventType : uint8_t {
    evBreak,
    evCts,
    evDsr,
    evError,
    evRing,
    evRlsd,
    evRxChar,
    evRxFlag,
    evTxEmpty
};
using TCommEventTypes = uint16_t; // bit (1 << TCommEventType)
inline constexpr TCommEventTypes commEvents(std::initializer_list<TCommEventType> l)
{
    TCommEventTypes s = 0;
    for (auto e : l)
        s = TCommEventTypes(s | (1u << e));
    return s;
}
inline constexpr TCommEventTypes AllCommEvents = 0x1FF;

enum TCommOption : uint8_t {
    coParityCheck,
    coDsrSensitivity,
    coIgnoreXOff,
    coErrorChar,
    coNullStrip
};
using TCommOptions = uint8_t; // bit (1 << TCommOption)

class TCustomComm;
using TNotifyEvent = std::function<void(TCustomComm *Sender)>;
using TCommRxCharEvent = std::function<void(TCustomComm *Sender, int Count)>;
using TCommErrorEvent = std::function<void(TCustomComm *Sender, int Errors)>;

inline constexpr TCommOptions commOptions(std::initializer_list<TCommOption> l)
{
    TCommOptions s = 0;
    for (auto o : l)
        s = TCommOptions(s | (1u << o));
    return s;
}

class TCommEventThread;

// The five special characters of the line. Every write is stored, even an
// unchanged one, and then the owning device's line state is updated.
class TCommEventChars
{
  public:
    explicit TCommEventChars(TCustomComm *Owner = nullptr) : m_owner(Owner) {}
    // Copies the five characters; the owner is kept and not updated.
    TCommEventChars &operator=(const TCommEventChars &Other);
    TCommEventChars(const TCommEventChars &) = delete;

    uint8_t XonChar() const { return m_xonChar; }
    uint8_t XoffChar() const { return m_xoffChar; }
    uint8_t ErrorChar() const { return m_errorChar; }
    uint8_t EofChar() const { return m_eofChar; }
    uint8_t EvtChar() const { return m_evtChar; }
    void SetXonChar(uint8_t Value) { set(m_xonChar, Value); }
    void SetXoffChar(uint8_t Value) { set(m_xoffChar, Value); }
    void SetErrorChar(uint8_t Value) { set(m_errorChar, Value); }
    void SetEofChar(uint8_t Value) { set(m_eofChar, Value); }
    void SetEvtChar(uint8_t Value) { set(m_evtChar, Value); }

  private:
    void set(uint8_t &Char, uint8_t Value);

    TCustomComm *m_owner;
    uint8_t m_xonChar = 17;
    uint8_t m_xoffChar = 19;
    uint8_t m_errorChar = 0;
    uint8_t m_eofChar = 0;
    uint8_t m_evtChar = 0;
};

class TCustomComm : public QObject, public ISerialLine
{
    Q_OBJECT
  public:
    explicit TCustomComm(QObject *Owner = nullptr);
    ~TCustomComm() override;

    // ---- properties (getter named like the property, SetX to write) ----
    std::string DeviceName() const { return m_deviceName; }
    void SetDeviceName(const std::string &Value);
    int ReadTimeout() const { return m_readTimeout; }
    void SetReadTimeout(int Value);
    int WriteTimeout() const { return m_writeTimeout; }
    void SetWriteTimeout(int Value);
    int ReadBufSize() const { return m_readBufSize; }
    void SetReadBufSize(int Value);
    int WriteBufSize() const { return m_writeBufSize; }
    void SetWriteBufSize(int Value);
    TCommEventTypes MonitorEvents() const { return m_monitorEvents; }
    void SetMonitorEvents(TCommEventTypes Value);
    TBaudrate BaudRate() const { return m_baudRate; }
    void SetBaudRate(TBaudrate Value);
    TParity Parity() const { return m_parity; }
    void SetParity(TParity Value);
    TStopbits Stopbits() const { return m_stopbits; }
    void SetStopbits(TStopbits Value);
    TDatabits Databits() const { return m_databits; }
    void SetDatabits(TDatabits Value);
    TCommEventChars &EventChars() { return m_eventChars; }
    const TCommEventChars &EventChars() const { return m_eventChars; }
    TCommOptions Options() const { return m_options; }
    void SetOptions(TCommOptions Value);
    TFlowControl FlowControl() const { return m_flowControl; }
    void SetFlowControl(TFlowControl Value);

    // Handler slots; Sender is always this device.
    TNotifyEvent OnBreak;
    TNotifyEvent OnCts;
    TNotifyEvent OnDsr;
    TNotifyEvent OnRing;
    TNotifyEvent OnRlsd;
    TCommErrorEvent OnError;
    TCommRxCharEvent OnRxChar;
    TNotifyEvent OnRxFlag;
    TNotifyEvent OnTxEmpty;

    // Where "COMn" names are looked up (section "Ports"); by default
    // quorlin.ini in the program's directory.
    void SetIniPath(std::string Path) { m_iniPath = std::move(Path); }
    const std::string &IniPath() const { return m_iniPath; }

    // ---- operations ----
    void Open();
    void Close();
    bool IsOpen() const { return m_port->IsOpen(); }

    int Read(void *Buffer, int Count) override;
    int Write(const void *Buffer, int Count) override;
    void PurgeIn() override;
    void PurgeOut() override;

    // Received characters and the line's deadlines are served by Handler on
    // the port's own thread, now and after every later Open; OnRxChar is not
    // called meanwhile. Null gives them back to OnRxChar. Returns once a
    // call in progress on the old handler has ended.
    void SetLineHandler(ILineHandler *Handler);
    ILineHandler *LineHandler() const { return m_lineHandler; }
    // While the returned lock is held the port's thread calls no line
    // handler (an empty lock while the port is closed: none runs then).
    // Taking it waits for a call in progress, which may be writing a reply:
    // up to WriteTimeout on a line held back by flow control. Never take it
    // while holding ImageLock (the engine takes that one inside it).
    std::unique_lock<std::mutex> HoldLine();
    // Microseconds one character takes at the line settings last applied
    // (start, data, parity and stop bits at the baud rate); any thread.
    int CharTimeUs() const { return m_charTimeUs.load(std::memory_order_relaxed); }
    // Bits per second at the line settings last applied; any thread.
    int LineBaud() const { return m_lineBaud.load(std::memory_order_relaxed); }
    // Microseconds until Count bytes written now will have left the line:
    // what the driver still holds to send (where it tells) and Count, at
    // CharTimeUs. Never waits; 0 while the port is closed.
    int64_t SendTimeUs(int Count) override;
    // Counts every read that placed bytes and every input purge, so a line
    // handler can tell whether it took input.
    uint64_t InputTakenCount() const { return m_inputTaken.load(); }

    // One completed wait of the watcher, on the user-interface thread.
    void HandleSignal(TCommEventThread *Sender, uint32_t EventMask);
    void UpdateDataControlBlock();
    void UpdateCommTimeouts();

    // The line state last read from and written to the port.
    const TDcb &Dcb() const { return m_dcb; }
    // The system call seam of this device's port (tests count calls through
    // it); set only while the port is closed.
    void SetSysApi(TSysApi &Api);
    // The outcome of the last Open, for callers that want the reason.
    const TSysError &LastOpenError() const { return m_lastOpenError; }
    // Why the port is not open, as one line for people: the open failure
    // ("cannot open COM3 (/dev/ttyS2): Permission denied") or the loss of the
    // device ("COM2 (/dev/ttyUSB0): device removed"); empty while open.
    std::string CloseReason() const { return m_closeReason; }
    // The device path a port name maps to (a "COMn" through [Ports]/default, a path as is).
    std::string DevicePath() const;
    // "COM2 (/dev/ttyUSB0)", or the path alone when the name is one.
    std::string PortLabel() const;

    // Whether a lost or unopened port is tried again by itself once every
    // RetryMs milliseconds (0, the default, never). Close stops the retries.
    void SetRetryInterval(int RetryMs);
    int RetryInterval() const { return m_retryMs; }
    bool Retrying() const;
    // True while the last attempt to open was one of those retries.
    bool LastOpenWasRetry() const { return m_lastOpenWasRetry; }

    // ---- the adapter (serial/commadapter.cpp) ----
    // RS-485 mode asked of the driver on every open, and at once while
    // open; turned off (or closed), the driver's state before is put back.
    void SetRs485(const TRs485Settings &Value);
    const TRs485Settings &Rs485() const { return m_rs485; }
    // Why the driver refused RS-485 the last time it was asked; no error
    // when it took it or was not asked.
    const TSysError &Rs485Error() const { return m_rs485Error; }
    // What the driver took (its delays may differ from those asked).
    const TRs485Settings &Rs485Accepted() const { return m_rs485Accepted; }
    // Received bytes equal to the reply just sent, arriving right after it
    // (a two-wire adapter's echo), are dropped before anything reads them.
    void SetIgnoreEcho(bool On);
    bool IgnoreEcho() const { return m_ignoreEcho.load(); }
    // Whole echoes dropped since the device was made.
    uint64_t EchoesIgnored() const;
    // Received bytes already taken from the port that Read has still to
    // hand over (the echo filter held them back, or released more than a
    // read asked for): whoever reads on a character event reads again while
    // this is above 0.
    int PendingInput();
    // The low-latency request's outcome at the last open.
    TLowLatency LowLatency() const { return m_lowLatency; }
    // The adapter's latency timer at the last open, -1 where not told.
    int LatencyTimer() const { return m_latencyTimerMs; }
    // Where the system's device files are ("/sys"; tests give a fake tree).
    void SetSysRoot(std::string Root) { m_sysRoot = std::move(Root); }
    // The adapter's state in a few lines, for a tooltip.
    std::string AdapterSummary() const;

  signals:
    // The port opened, failed to open, or was lost.
    void ConnectionChanged();
    // RS-485 was asked of the driver again while the port was open.
    void AdapterChanged();

  protected:
    // Opens the port named by DeviceName; the port stays closed on failure.
    virtual void CreateHandle();
    void DestroyHandle();

  private:
    void retry();
    void lineLost(uint64_t Generation, int Code);
    void scheduleLoss(int Code);
    void closePort();

    std::unique_ptr<TPosixSerialPort> m_port; // never null
    TDcb m_dcb;
    std::string m_deviceName = "Com2";
    // Held for the whole of each Read and Write (a write waits for the
    // driver up to WriteTimeout). Last in the line's lock order: taken inside
    // the watcher's line lock, never with ImageLock held, and nothing is
    // taken inside it.
    std::mutex m_lock;
    int m_readTimeout = 1000;
    int m_writeTimeout = 1000;
    int m_readBufSize = 4096;
    int m_writeBufSize = 2048;
    TCommEventTypes m_monitorEvents = AllCommEvents;
    TBaudrate m_baudRate = br9600;
    TParity m_parity = paNone;
    TStopbits m_stopbits = sb10;
    TDatabits m_databits = da8;
    std::shared_ptr<TCommEventThread> m_eventThread;
    TCommEventChars m_eventChars{this};
    TCommOptions m_options = 0;
    TFlowControl m_flowControl = fcDefault;
    std::string m_iniPath;
    TSysError m_lastOpenError;
    std::string m_closeReason;
    int m_retryMs = 0;
    QTimer *m_retryTimer = nullptr;
    bool m_lastOpenWasRetry = false;
    bool m_inRetry = false;
    uint64_t m_generation = 0; // counts the opens, so a late loss report finds its port gone
    std::string m_openPath;    // the path the open port was opened by
    dev_t m_openDevice = 0;    // the device number that path led to then
    std::atomic<uint64_t> m_inputTaken{0}; // reads that placed bytes, and input purges
    std::atomic<int> m_charTimeUs{0};
    std::atomic<int> m_lineBaud{0};
    ILineHandler *m_lineHandler = nullptr;

    // The adapter; the echo filter under m_lock.
    void openAdapter();
    void closeAdapter();
    void applyRs485();
    int readFiltered(uint8_t *Buffer, int Count);
    void echoSent(const void *Buffer, int Count);
    TRs485Settings m_rs485;
    TRs485Settings m_rs485Before;   // the driver's own, put back on close
    TRs485Settings m_rs485Accepted;
    TSysError m_rs485Error;
    bool m_rs485Changed = false;    // the driver holds our RS-485 settings
    TLowLatency m_lowLatency = TLowLatency::Unknown;
    int m_latencyTimerMs = -1;
    std::string m_sysRoot = "/sys";
    std::atomic<bool> m_ignoreEcho{false};
    std::atomic<uint64_t> m_echoesIgnored{0};
    TEchoFilter m_echo;
};

class TComm : public TCustomComm
{
    Q_OBJECT
  public:
    explicit TComm(QObject *Owner = nullptr) : TCustomComm(Owner) {}
};

// The value each enumeration puts into the device control block.
uint32_t BaudRateValue(TBaudrate Value);
uint8_t ParityValue(TParity Value);
uint8_t StopbitsValue(TStopbits Value);
uint8_t DatabitsValue(TDatabits Value);

} // namespace quorlin
