// SPDX-License-Identifier: MIT
#include "engine/modbusslave.h"

#include <algorithm>

#include "engine/bytes.h"
#include "engine/crc16.h"
#include "engine/linetiming.h"
#include "engine/modbusdefs.h"

namespace quorlin
{

using namespace modbus;

TModbusSlave::TModbusSlave(TRegisterImage &Image, ISerialLine &Line, ITimeOutTimer &Timer)
    : m_timed(Line), m_line(m_timed), m_timer(Timer), m_handler(Image, RxBuf, RxCount, ExpectedLen, TxBuf)
{
    m_rules.Line = &m_line;
}

void TModbusSlave::SetCharTimeUs(int Us, int BaudRate)
{
    m_charTimeUs = Us > 0 ? Us : 0;
    if (m_timed.Clock().CharUs() != m_charTimeUs || BaudRate > 0)
        m_timed.Clock().SetLine(m_charTimeUs, SilenceLimits(BaudRate, m_charTimeUs));
}

void TModbusSlave::sealTiming()
{
    if (m_timingSealed || !m_timed.Timing())
        return;
    m_timing = m_timed.Clock().EndFrame();
    // An ASCII frame may pause up to a second between characters: the
    // character-time silences are RTU's alone.
    if (m_mode == TSerialMode::Ascii)
        m_timing.TooSoon = m_timing.GapInside = false;
    // Framing by silence judged the gap on its own clock: the mark agrees.
    if (m_strictJudged)
        m_timing.GapInside = m_strictGap;
    m_timingSealed = true;
}

void TModbusSlave::Comm1RxChar(int Count, int64_t NowUs)
{
    if (Count <= 0)
        return; // nothing arrived
    if (syncMode()) {
        asciiRxChar(Count);
        return;
    }
    if (syncFraming(NowUs)) {
        strictRxChar(Count, NowUs);
        return;
    }
    if (Count > RxBufferSize - RxCount) {
        // No request is that long: start again from nothing.
        m_timed.Arrived(Count);
        m_line.PurgeIn();
        if (m_observer)
            report(TVerdict::TooLong, Count);
        RxCount = 0;
    } else {
        // Only what Read placed counts; a failed or short read must not turn
        // stale buffer bytes into received ones.
        const int placed = m_line.Read(RxBuf.data() + RxCount, Count);
        if (placed > 0)
            RxCount += std::min(placed, Count);
    }
    if (!m_timer.IsRunning())
        m_timer.Start();
    const bool complete = FrameComplete();
    if (!complete && m_charTimeUs > 0 && RxCount > 0) {
        // The length once the request tells it; before, the most that a
        // request needs to tell it (the byte count of function 23 is its 11th).
        const bool known = RxCount >= MinRequestLength && ExpectedLen > 0;
        const int length = known ? ExpectedLen : std::max(RxCount, LengthKnownAfter);
        m_timer.SetAllowanceUs(LineTimeUs(length, m_charTimeUs));
    }
    if (!complete)
        watchSilence(NowUs);
    if (complete) {
        m_timer.Stop();
        // A device still holding back a reply does not answer two requests:
        // the new one replaces it.
        m_replaced = m_sender.Cancel();
        if (m_replaced && m_observer)
            reportHeld({}, true);
        ProcessFrame();
        m_replaced = false;
    }
}

void TModbusSlave::TimeOutTimerTimer()
{
    if (syncMode()) {
        asciiTimeOut();
        return;
    }
    if (m_framing == TSerialFraming::Strict) {
        strictEnd();
        return;
    }
    m_timer.Stop();
    if (strictSilentEnd())
        return;
    if (m_observer && RxCount > 0) {
        // A code without a length rule could never have completed: the
        // time-out is how the engine stays silent on it.
        const TRequestHandler::FunctionRule &rule = TRequestHandler::ruleFor(RxBuf[OffFunction]);
        const bool silentCode = RxCount > OffFunction && rule.FixedLen == 0 && rule.CountExtra == 0;
        report(silentCode ? TVerdict::NoReply : TVerdict::TimedOut);
    }
    RxCount = 0;
}

bool TModbusSlave::FrameComplete()
{
    if (RxCount < MinRequestLength)
        return false;
    const TRequestHandler::FunctionRule &rule = TRequestHandler::ruleFor(RxBuf[OffFunction]);
    ExpectedLen = 0;
    if (rule.FixedLen != 0)
        ExpectedLen = rule.FixedLen;
    else if (rule.CountExtra != 0 && RxCount >= rule.MinCount)
        ExpectedLen = RxBuf[rule.CountOffset] + rule.CountExtra; // int: no wrap-around
    else if (RxBuf[OffFunction] == FnEncapsulatedInterface && RxCount >= DeviceIdRequestLength &&
             RxBuf[OffMeiType] == MeiReadDeviceId &&
             readCrcLE(RxBuf.data(), DeviceIdRequestLength - CrcLength) ==
                 Crc16(RxBuf.data(), DeviceIdRequestLength - CrcLength))
        // Function 43 has no length of its own: a read device identification
        // request is whole when its seven bytes end in their CRC. Anything
        // else with code 43 waits for the time-out, as it always did.
        ExpectedLen = DeviceIdRequestLength;
    return ExpectedLen != 0 && RxCount >= ExpectedLen;
}

void TModbusSlave::ProcessFrame()
{
    TVerdict verdict = TVerdict::OtherSlave;
    m_fault = {};
    sealTiming();
    TFaultDecision fault;
    const int n = m_handler.Handle(m_rules, m_replaced, verdict, fault);
    if (fault.Kind == TFaultKind::Offline)
        m_fault = fault; // the silence was asked for: the monitor says so
    // The reply leaves with the lock released: the write may wait on the line.
    TReplyStep step;
    if (n >= MinRequestLength && n <= MaxFrameLength) {
        putCrcLE(TxBuf.data(), size_t(n - CrcLength), Crc16(TxBuf.data(), size_t(n - CrcLength)));
        verdict = (TxBuf[OffFunction] & ExceptionFlag) != 0 ? TVerdict::Exception
                                                            : TVerdict::Answered;
        m_fault = fault;
        ShapeReply(TxBuf.data(), n, fault);
        if (fault.Kind != TFaultKind::NoReply)
            step = m_sender.Send(TxBuf.data(), n, fault);
    }
    if (step.Rest)
        holdReport(verdict, fault);
    // The reply as far as it went now; a held part is reported when it goes.
    if (m_observer)
        report(verdict, 0, step.Length, step.Failed, step.Rest,
               step.Own ? m_sender.HeldFrame() : TxBuf.data());
    RxCount = 0;
}

int TModbusSlave::DispatchFunction()
{
    return m_handler.DispatchFunction();
}

int TModbusSlave::ExceptionReply(uint8_t Code)
{
    return m_handler.ExceptionReply(Code);
}

void TModbusSlave::ReplyTimerTimer()
{
    const TReplyStep step = m_sender.TimerFired();
    if (m_observer && step.Length > 0)
        reportHeld(step, false);
}

void TModbusSlave::CancelReply()
{
    if (m_sender.Cancel() && m_observer)
        reportHeld({}, true);
}

void TModbusSlave::LineClosed()
{
    CancelReply();
    m_timer.Stop();
    RxCount = 0;
    m_ascii.Reset();
    m_silence.EndFrame();
    m_spoiled = false;
    m_timed.Clock().Reset();
    m_timingSealed = false;
}

void TModbusSlave::holdReport(TVerdict Verdict, const TFaultDecision &Fault)
{
    m_heldRxCount = std::min(RxCount, RxBufferSize);
    std::copy_n(RxBuf.begin(), m_heldRxCount, m_heldRx.begin());
    m_heldVerdict = Verdict;
    m_heldException = Verdict == TVerdict::Exception ? TxBuf[2] : 0;
    m_heldFault = Fault;
}

void TModbusSlave::reportHeld(const TReplyStep &Step, bool Cancelled)
{
    TFrameReport r;
    r.Rx = std::span<const uint8_t>(m_heldRx.data(), size_t(m_heldRxCount));
    r.Verdict = m_heldVerdict;
    r.ExceptionCode = m_heldException;
    if (!Cancelled)
        r.Reply = std::span<const uint8_t>(m_sender.HeldFrame() + Step.Offset, size_t(Step.Length));
    r.ReplyFailed = Step.Failed;
    r.Injected = m_heldFault.Kind;
    r.DelayMs = m_heldFault.DelayMs;
    r.SplitMs = m_heldFault.SplitMs;
    r.HeldReply = true;
    r.ReplyHeld = Step.Rest;
    r.ReplyCancelled = Cancelled;
    if (m_timed.Timing() && Step.Length > 0)
        r.Timing.TurnaroundUs = m_timed.Clock().TakeTurnaround();
    m_observer->FrameDone(r);
}

void TModbusSlave::report(TVerdict Verdict, int Unread, int ReplyLen, bool ReplyFailed,
                          bool ReplyHeld, const uint8_t *ReplyBytes)
{
    TFrameReport r;
    r.Rx = std::span<const uint8_t>(RxBuf.data(), size_t(RxCount));
    r.Unread = Unread;
    r.Verdict = Verdict;
    if (Verdict == TVerdict::Exception)
        r.ExceptionCode = TxBuf[2];
    r.Reply = std::span<const uint8_t>(ReplyBytes != nullptr ? ReplyBytes : TxBuf.data(),
                                       size_t(ReplyLen));
    r.ReplyFailed = ReplyFailed;
    r.Injected = m_fault.Kind;
    r.DelayMs = m_fault.DelayMs;
    r.SplitMs = m_fault.SplitMs;
    r.Replaced = m_replaced;
    r.ReplyHeld = ReplyHeld;
    r.Broadcast = Verdict == TVerdict::Broadcast ? m_handler.BroadcastFate() : TBroadcastFate::None;
    m_fault = {};
    if (m_timed.Timing()) {
        sealTiming();
        r.Timing = m_timing;
        m_timingSealed = false;
        // Bytes that never made a frame are no request that came too soon.
        if (Verdict == TVerdict::TooLong || Verdict == TVerdict::TimedOut)
            r.Timing.TooSoon = false;
        if (ReplyLen > 0)
            r.Timing.TurnaroundUs = m_timed.Clock().TakeTurnaround();
    }
    // Dropped for its gap: marked so even where the line is not timed.
    if (Verdict == TVerdict::GapInside)
        r.Timing.GapInside = true;
    m_observer->FrameDone(r);
}

} // namespace quorlin
