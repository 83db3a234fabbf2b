// SPDX-License-Identifier: MIT
// The serial slave's ASCII framing. A frame is cut out of the characters by
// its ':' and CR LF, decoded, and handed to the request handler in the RTU
// layout the handler reads: the LRC, checked here, travels on as a CRC that
// is right exactly when the LRC was, so addressing, broadcast, counters and
// faults take the same road as in RTU.
#include <algorithm>

#include "engine/bytes.h"
#include "engine/crc16.h"
#include "engine/modbusslave.h"

namespace quorlin
{

using namespace modbus;

bool TModbusSlave::syncMode()
{
    const TSerialMode wanted = m_wantedMode.load(std::memory_order_relaxed);
    if (wanted != m_mode) {
        m_mode = wanted;
        m_ascii.Reset();
        RxCount = 0;
        m_timer.Stop();
    }
    return m_mode == TSerialMode::Ascii;
}

void TModbusSlave::asciiRxChar(int Count)
{
    while (Count > 0) {
        const int want = std::min(Count, int(m_asciiIn.size()));
        const int placed = m_line.Read(m_asciiIn.data(), want);
        if (placed <= 0)
            return; // what was not read stays queued for the next event
        const int got = std::min(placed, want);
        for (int i = 0; i < got; ++i)
            asciiChar(m_asciiIn[size_t(i)]);
        if (got < want)
            return;
        Count -= got;
    }
}

void TModbusSlave::asciiChar(uint8_t Char)
{
    switch (m_ascii.Feed(Char)) {
    case TAsciiReceiver::TEvent::None:
        break;
    case TAsciiReceiver::TEvent::Frame:
        m_timer.Stop();
        asciiFrame();
        break;
    case TAsciiReceiver::TEvent::Dropped:
        if (m_observer && m_ascii.Count() > 0)
            asciiReport(TVerdict::TimedOut, {m_ascii.Bytes(), size_t(m_ascii.Count())});
        break;
    case TAsciiReceiver::TEvent::TooLong:
        if (m_observer)
            asciiReport(TVerdict::TooLong, {m_ascii.Bytes(), size_t(m_ascii.Count())});
        break;
    }
    // The time-out runs between the characters of a frame, not over all of it.
    if (m_ascii.InFrame())
        m_timer.StartFor(AsciiCharTimeOutMs);
    else if (m_timer.IsRunning())
        m_timer.Stop();
}

void TModbusSlave::asciiTimeOut()
{
    m_timer.Stop();
    if (m_observer && m_ascii.InFrame() && m_ascii.Count() > 0)
        asciiReport(TVerdict::TimedOut, {m_ascii.Bytes(), size_t(m_ascii.Count())});
    m_ascii.Reset();
}

void TModbusSlave::asciiFrame()
{
    const uint8_t *bytes = m_ascii.Bytes();
    const int count = m_ascii.Count();
    const std::span<const uint8_t> rx(bytes, size_t(count));
    // Id, function and LRC at the least.
    if (count < MinRequestLength - 1) {
        if (m_observer)
            asciiReport(TVerdict::TimedOut, rx);
        return;
    }
    const int pdu = count - 1;
    const int length = pdu + CrcLength; // <= RxBufferSize, as count <= MaxAsciiBytes
    std::copy_n(bytes, pdu, RxBuf.begin());
    const uint16_t crc = Crc16(RxBuf.data(), size_t(pdu));
    const bool lrcRight = Lrc(bytes, size_t(pdu)) == bytes[pdu];
    putCrcLE(RxBuf.data(), size_t(pdu), lrcRight ? crc : uint16_t(~crc));
    RxCount = length;

    // The end of the frame says how long it is; the function code must agree.
    const TRequestHandler::FunctionRule &rule = TRequestHandler::ruleFor(RxBuf[OffFunction]);
    int expected = rule.FixedLen;
    if (expected == 0 && rule.CountExtra != 0 && length >= rule.MinCount)
        expected = RxBuf[rule.CountOffset] + rule.CountExtra;
    if (rule.FixedLen == 0 && rule.CountExtra == 0 && m_handler.StrictFor(RxBuf[OffSlaveId]))
        expected = length; // CR LF ended it; a strict slave answers what it cannot serve
    else if (rule.FixedLen == 0 && rule.CountExtra == 0) {
        // A code RTU could never frame is not answered in ASCII either.
        if (m_observer)
            asciiReport(TVerdict::NoReply, rx);
        RxCount = 0;
        return;
    }
    if (length != expected) {
        if (m_observer)
            asciiReport(length < expected ? TVerdict::TimedOut : TVerdict::TooLong, rx);
        RxCount = 0;
        return;
    }
    ExpectedLen = length;

    sealTiming();
    m_replaced = m_sender.Cancel();
    if (m_replaced && m_observer)
        reportHeld({}, true);
    TVerdict verdict = TVerdict::OtherSlave;
    m_fault = {};
    TFaultDecision fault;
    const int n = m_handler.Handle(m_rules, m_replaced, verdict, fault);
    if (fault.Kind == TFaultKind::Offline)
        m_fault = fault;
    int shown = 0;
    bool failed = false;
    bool held = false;
    if (n >= MinRequestLength && n <= MaxFrameLength) {
        verdict =
            (TxBuf[OffFunction] & ExceptionFlag) != 0 ? TVerdict::Exception : TVerdict::Answered;
        m_fault = fault;
        const int replyPdu = n - CrcLength;
        if (fault.Kind == TFaultKind::WrongId)
            InjectWrongId(TxBuf.data(), n);
        uint8_t check = Lrc(TxBuf.data(), size_t(replyPdu));
        if (fault.Kind == TFaultKind::BadCrc)
            check = uint8_t(~check); // in ASCII a bad CRC is a bad LRC
        std::copy_n(TxBuf.begin(), replyPdu, m_asciiReply.begin());
        m_asciiReply[size_t(replyPdu)] = check;
        const int chars = EncodeAscii(TxBuf.data(), replyPdu, check, m_asciiOut.data());
        if (fault.Kind != TFaultKind::NoReply) {
            const TReplyStep step = m_sender.Send(m_asciiOut.data(), chars, fault);
            failed = step.Failed;
            held = step.Rest;
            // The monitor shows the reply's bytes once its first characters went.
            shown = step.Length > 0 ? replyPdu + 1 : 0;
        }
    }
    if (held)
        holdReport(verdict, fault);
    if (m_observer)
        asciiReport(verdict, rx, {m_asciiReply.data(), size_t(shown)}, failed, held);
    m_replaced = false;
    RxCount = 0;
}

void TModbusSlave::asciiReport(TVerdict Verdict, std::span<const uint8_t> Rx,
                               std::span<const uint8_t> Reply, bool ReplyFailed, bool ReplyHeld)
{
    TFrameReport r;
    r.Rx = Rx;
    r.Verdict = Verdict;
    if (Verdict == TVerdict::Exception)
        r.ExceptionCode = TxBuf[2];
    r.Reply = Reply;
    r.ReplyFailed = ReplyFailed;
    r.Injected = m_fault.Kind;
    r.DelayMs = m_fault.DelayMs;
    r.SplitMs = m_fault.SplitMs;
    r.Replaced = m_replaced;
    r.ReplyHeld = ReplyHeld;
    m_fault = {};
    if (m_timed.Timing()) {
        sealTiming();
        r.Timing = m_timing;
        m_timingSealed = false;
        if (!Reply.empty())
            r.Timing.TurnaroundUs = m_timed.Clock().TakeTurnaround();
    }
    m_observer->FrameDone(r);
}

} // namespace quorlin
