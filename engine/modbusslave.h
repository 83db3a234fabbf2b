// SPDX-License-Identifier: MIT
// Modbus RTU slave: turns the received byte stream into requests, answers the
// ones addressed to MBid with a correct CRC, and stays silent otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "engine/faultplan.h"
#include "engine/frameobserver.h"
#include "engine/modbusdefs.h"
#include "engine/registerimage.h"
#include "engine/replysender.h"
#include "engine/serialline.h"
#include "engine/slaveset.h"

namespace quorlin
{

class TModbusSlave
{
  public:
    TModbusSlave(TRegisterImage &Image, ISerialLine &Line, ITimeOutTimer &Timer);

    // Answers as every slave of Slaves instead of Image alone (null: Image
    // again). The set must outlive the engine or be unset first.
    void SetSlaves(TSlaveSet *Slaves);

    // The lock the engine holds while it handles one request: the image's
    // ImageLock, or the slave set's. Whoever changes what the engine reads
    // (tables, slaves, faults) from another thread holds it meanwhile.
    std::mutex &Lock() const { return *m_lock; }

    // The receive step: OnRxChar of the serial device, Count bytes waiting (> 0).
    void Comm1RxChar(int Count);
    // TimeOutTimer fired: drop the partial request.
    void TimeOutTimerTimer();

    bool FrameComplete();
    void ProcessFrame();
    int DispatchFunction();
    int ExceptionReply(uint8_t Code);

    // Who hears of every frame's fate; null (the default) costs nothing.
    void SetObserver(IFrameObserver *Observer) { m_observer = Observer; }
    IFrameObserver *Observer() const { return m_observer; }

    std::array<uint8_t, modbus::RxBufferSize> RxBuf{};
    int RxCount = 0;
    // Total request length once known, 0 before; computed without wrap-around,
    // so a request that cannot fit RxBuf never completes.
    int ExpectedLen = 0;
    std::array<uint8_t, modbus::MaxFrameLength> TxBuf{};

    // Injected faults. Delays and split replies need the reply timer; without
    // one every reply goes out at once and whole. From another thread than
    // the engine's, load and read them holding Lock().
    TFaultPlan &Faults() { return m_faults; }
    const TFaultPlan &Faults() const { return m_faults; }
    void SetReplyTimer(IReplyTimer *Timer) { m_sender.SetTimer(Timer); }
    // The reply timer fired: a held-back reply, or its second half, goes out.
    void ReplyTimerTimer() { m_sender.TimerFired(); }
    bool ReplyPending() const { return m_sender.Pending(); }
    // Drops a reply still held back: it was asked for on the line as it was,
    // and must not reach another port or go out at another speed.
    void CancelReply() { m_sender.Cancel(); }

  private:
    using Handler = int (TModbusSlave::*)();
    struct FunctionRule;
    static const FunctionRule &ruleFor(uint8_t Function);

    // Picks the image that answers the request in RxBuf; false for none.
    // The caller holds the lock.
    bool addressedToUs();
    // Under the lock: carries out the request (building the reply in TxBuf,
    // returning its length without the CRC's computation yet, 0 for none)
    // and says what became of it.
    int handleLocked(TVerdict &Verdict, TFaultDecision &Fault);
    bool isAcceptedBroadcast() const;
    // The functions a broadcast may carry: the four writes.
    static bool isWriteFunction(uint8_t Function);
    bool crcIsRight() const;
    void report(TVerdict Verdict, int Unread = 0, int ReplyLen = 0, bool ReplyFailed = false);
    int beginReply();
    int echoReply();
    int fixedReply(const uint8_t *Data, int Length);
    int writeDataBytes() const;

    template <typename Table> int readBits(const Table &Bits);
    template <typename Table> int readWords(const Table &Words);

    // One handler per function code; each fills TxBuf and returns the reply
    // length, CRC included.
    int readCoils();
    int readDiscreteInputs();
    int readHoldingRegisters();
    int readInputRegisters();
    int writeSingleCoil();
    int writeSingleRegister();
    int writeMultipleCoils();
    int writeMultipleRegisters();
    int readExceptionStatus();
    int diagnostics();
    int getCommEventCounter();
    int getCommEventLog();
    int reportSlaveId();
    int illegalFunction();

    TRegisterImage &m_image;
    TRegisterImage *m_target;      // the slave answering the request at hand
    TSlaveSet *m_slaves = nullptr; // null: m_image is the only slave
    std::mutex *m_lock;            // m_image's lock or the set's
    ISerialLine &m_line;
    ITimeOutTimer &m_timer;
    IFrameObserver *m_observer = nullptr;
    TFaultPlan m_faults;
    TReplySender m_sender{m_line};
    TFaultDecision m_fault;  // injected into the frame being reported
    bool m_replaced = false; // this frame cancelled a reply still held back
    TBroadcastFate m_broadcast = TBroadcastFate::None; // of the frame being reported
};

} // namespace quorlin
