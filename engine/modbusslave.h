// SPDX-License-Identifier: MIT
// Modbus RTU slave: turns the received byte stream into requests, answers the
// ones addressed to MBid with a correct CRC, and stays silent otherwise.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>

#include "engine/asciiframing.h"
#include "engine/faultplan.h"
#include "engine/frameobserver.h"
#include "engine/frametiming.h"
#include "engine/modbusdefs.h"
#include "engine/registerimage.h"
#include "engine/replysender.h"
#include "engine/requesthandler.h"
#include "engine/serialline.h"
#include "engine/silenceframing.h"
#include "engine/slaveset.h"

namespace quorlin
{

// The unsolicited reply of slave SlaveId: a read of one holding register
// answered with Value, CRC included, into Out (7 bytes). Its length.
int UnsolicitedFrame(int SlaveId, uint16_t Value, uint8_t *Out);

class TModbusSlave
{
  public:
    TModbusSlave(TRegisterImage &Image, ISerialLine &Line, ITimeOutTimer &Timer);

    // Answers as every slave of Slaves instead of Image alone (null: Image
    // again). The set must outlive the engine or be unset first.
    void SetSlaves(TSlaveSet *Slaves) { m_handler.SetSlaves(Slaves); }

    // The lock the engine holds while it handles one request: the image's
    // ImageLock, or the slave set's. Whoever changes what the engine reads
    // (tables, slaves, faults) from another thread holds it meanwhile.
    std::mutex &Lock() const { return m_handler.Lock(); }

    // The receive step: OnRxChar of the serial device, Count bytes waiting (> 0).
    void Comm1RxChar(int Count) { Comm1RxChar(Count, -1); }
    // The same, the bytes read at NowUs on the clock the time-out timer
    // keeps (-1: unknown). Framing by silence needs it.
    void Comm1RxChar(int Count, int64_t NowUs);
    // TimeOutTimer fired: drop the partial request.
    void TimeOutTimerTimer();
    // Microseconds one character takes on the line (0, the default: unknown).
    // A request is then given its 100 ms plus the time its own bytes take,
    // so a long one at a low speed is not dropped while it still arrives.
    // BaudRate (0: unknown) sets the silences the timing marks are held to,
    // and that framing by silence ends and drops requests by.
    void SetCharTimeUs(int Us, int BaudRate = 0);
    int CharTimeUs() const { return m_charTimeUs; }

    // How RTU requests end: by their length (the default) or by silence.
    // Set from any thread; taken up like a mode change. Silence needs the
    // character time and the arrival times; without them length rules.
    void SetFraming(TSerialFraming Framing)
    {
        m_wantedFraming.store(Framing, std::memory_order_relaxed);
    }
    TSerialFraming Framing() const { return m_wantedFraming.load(std::memory_order_relaxed); }

    bool FrameComplete();
    void ProcessFrame();
    int DispatchFunction();
    int ExceptionReply(uint8_t Code);

    // Who hears of every frame's fate; null (the default) costs nothing.
    void SetObserver(IFrameObserver *Observer) { m_observer = Observer; }
    IFrameObserver *Observer() const { return m_observer; }
    // Times every frame for the observer's reports (gap, turnaround, marks)
    // by Clock (microseconds, steady); null, the default, times nothing.
    void SetClock(TTimedLine::TClockFn Clock) { m_timed.SetClock(Clock); }

    std::array<uint8_t, modbus::RxBufferSize> RxBuf{};
    int RxCount = 0;
    // Total request length once known, 0 before; computed without wrap-around,
    // so a request that cannot fit RxBuf never completes.
    int ExpectedLen = 0;
    std::array<uint8_t, modbus::MaxFrameLength> TxBuf{};

    // Injected faults. Delays and split replies need the reply timer; without
    // one every reply goes out at once and whole. From another thread than
    // the engine's, load and read them holding Lock().
    TFaultPlan &Faults() { return m_handler.Faults(); }
    const TFaultPlan &Faults() const { return m_handler.Faults(); }
    void SetReplyTimer(IReplyTimer *Timer) { m_sender.SetTimer(Timer); }
    // The reply timer fired: a held-back reply, or its second half, goes out.
    void ReplyTimerTimer();
    bool ReplyPending() const { return m_sender.Pending(); }
    // Time for an unsolicited reply (the faults' UnsolicitedMs): one goes
    // out now, when the faults still ask for it.
    void UnsolicitedTimerTimer();
    // Drops a reply still held back: it was asked for on the line as it was,
    // and must not reach another port or go out at another speed.
    void CancelReply();
    // The port closed (or is about to open again): the held reply and the
    // partial request belonged to the line as it was, and both go. Called
    // while nothing else runs the engine.
    void LineClosed();

    // RTU (the default) or ASCII. Set from any thread; the receive step takes
    // it up at its next call, dropping a frame half received in the old mode.
    void SetMode(TSerialMode Mode) { m_wantedMode.store(Mode, std::memory_order_relaxed); }
    TSerialMode Mode() const { return m_wantedMode.load(std::memory_order_relaxed); }

    // The functions, slaves and faults this line shares with every framing.
    TRequestHandler &Handler() { return m_handler; }

  private:
    // The timing of the frame received, taken once it is whole and before
    // its reply goes, for the report that follows.
    void sealTiming();
    void report(TVerdict Verdict, int Unread = 0, int ReplyLen = 0, bool ReplyFailed = false,
                bool ReplyHeld = false, const uint8_t *ReplyBytes = nullptr);
    // What became of a held reply: Step's bytes written (or refused), or,
    // with Cancelled, nothing sent.
    void reportHeld(const TReplyStep &Step, bool Cancelled);
    // Keeps what a later report of the reply held back needs.
    void holdReport(TVerdict Verdict, const TFaultDecision &Fault);

    // The ASCII framing, in engine/asciislave.cpp.
    bool syncMode(); // takes up a mode change; true in ASCII
    void asciiRxChar(int Count);
    void asciiChar(uint8_t Char);
    void asciiTimeOut();
    void asciiFrame();
    // Framing by silence, in engine/strictframing.cpp.
    bool syncFraming(int64_t NowUs); // takes up a change; true when silence frames
    void strictRxChar(int Count, int64_t NowUs);
    void strictEnd();
    void strictJudge(bool Gap); // a whole frame ended by silence: drop it or take it
    // A request to a strict slave whose function gives no length ends by
    // silence; true when the time-out handled it so.
    bool strictSilentEnd();
    void watchSilence(int64_t NowUs);
    void takeFrame(); // a whole frame in RxBuf: cancel a held reply, then process

    void asciiReport(TVerdict Verdict, std::span<const uint8_t> Rx,
                     std::span<const uint8_t> Reply = {}, bool ReplyFailed = false,
                     bool ReplyHeld = false);

    TTimedLine m_timed; // the line as given, with the clock around its reads and writes
    ISerialLine &m_line;
    ITimeOutTimer &m_timer;
    IFrameObserver *m_observer = nullptr;
    TRequestHandler m_handler;
    TFramingRules m_rules; // RTU on a serial line: CRC checked, queues purged
    TReplySender m_sender{m_line};
    TFaultDecision m_fault;  // injected into the frame being reported
    bool m_replaced = false; // this frame cancelled a reply still held back
    int m_charTimeUs = 0;
    TFrameTiming m_timing;      // of the frame being reported
    bool m_timingSealed = false;
    // The request of the reply held back, for the reports of its later steps.
    std::array<uint8_t, modbus::RxBufferSize> m_heldRx{};
    int m_heldRxCount = 0;
    TVerdict m_heldVerdict = TVerdict::Answered;
    uint8_t m_heldException = 0;
    TFaultDecision m_heldFault;

    std::atomic<TSerialFraming> m_wantedFraming{TSerialFraming::Length};
    TSerialFraming m_framing = TSerialFraming::Length; // the receive step's own copy
    TSilenceClock m_silence;
    bool m_strictJudged = false; // framing by silence ended the frame being reported
    bool m_strictGap = false;    // and found a silence inside it
    bool m_spoiled = false; // the frame overflowed: the rest of it is dropped unread

    std::atomic<TSerialMode> m_wantedMode{TSerialMode::Rtu};
    TSerialMode m_mode = TSerialMode::Rtu; // the receive step's own copy
    TAsciiReceiver m_ascii;
    std::array<uint8_t, modbus::RxBufferSize> m_asciiIn{}; // characters as read
    std::array<uint8_t, modbus::MaxAsciiFrameLength> m_asciiOut{};
    std::array<uint8_t, modbus::MaxAsciiBytes> m_asciiReply{}; // the reply's bytes, LRC last
};

} // namespace quorlin
