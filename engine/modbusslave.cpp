// SPDX-License-Identifier: MIT
#include "engine/modbusslave.h"

#include <algorithm>

#include "engine/bytes.h"
#include "engine/crc16.h"
#include "engine/modbusdefs.h"

namespace quorlin
{

using namespace modbus;

TModbusSlave::TModbusSlave(TRegisterImage &Image, ISerialLine &Line, ITimeOutTimer &Timer)
    : m_line(Line), m_timer(Timer), m_handler(Image, RxBuf, RxCount, ExpectedLen, TxBuf)
{
    m_rules.Line = &m_line;
}

void TModbusSlave::Comm1RxChar(int Count)
{
    if (Count <= 0)
        return; // nothing arrived
    if (syncMode()) {
        asciiRxChar(Count);
        return;
    }
    if (Count > RxBufferSize - RxCount) {
        // No request is that long: start again from nothing.
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
    if (FrameComplete()) {
        m_timer.Stop();
        // A device still holding back a reply does not answer two requests:
        // the new one replaces it.
        m_replaced = m_sender.Cancel();
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
    m_timer.Stop();
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
    return ExpectedLen != 0 && RxCount >= ExpectedLen;
}

void TModbusSlave::ProcessFrame()
{
    TVerdict verdict = TVerdict::OtherSlave;
    m_fault = {};
    TFaultDecision fault;
    const int n = m_handler.Handle(m_rules, m_replaced, verdict, fault);
    // The reply leaves with the lock released: the write may wait on the line.
    int sent = 0;
    bool failed = false;
    if (n >= MinRequestLength && n <= MaxFrameLength) {
        putCrcLE(TxBuf.data(), size_t(n - CrcLength), Crc16(TxBuf.data(), size_t(n - CrcLength)));
        verdict = (TxBuf[OffFunction] & ExceptionFlag) != 0 ? TVerdict::Exception
                                                            : TVerdict::Answered;
        m_fault = fault;
        ShapeReply(TxBuf.data(), n, fault);
        if (fault.Kind != TFaultKind::NoReply) {
            failed = m_sender.Send(TxBuf.data(), n, fault) < 0;
            sent = n;
        }
    }
    if (m_observer)
        report(verdict, 0, sent, failed);
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

void TModbusSlave::report(TVerdict Verdict, int Unread, int ReplyLen, bool ReplyFailed)
{
    TFrameReport r;
    r.Rx = std::span<const uint8_t>(RxBuf.data(), size_t(RxCount));
    r.Unread = Unread;
    r.Verdict = Verdict;
    if (Verdict == TVerdict::Exception)
        r.ExceptionCode = TxBuf[2];
    r.Reply = std::span<const uint8_t>(TxBuf.data(), size_t(ReplyLen));
    r.ReplyFailed = ReplyFailed;
    r.Injected = m_fault.Kind;
    r.DelayMs = m_fault.DelayMs;
    r.SplitMs = m_fault.SplitMs;
    r.Replaced = m_replaced;
    m_fault = {};
    m_observer->FrameDone(r);
}

} // namespace quorlin
