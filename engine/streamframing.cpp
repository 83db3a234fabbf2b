// SPDX-License-Identifier: MIT
#include "engine/streamframing.h"

#include <algorithm>

#include "engine/bytes.h"
#include "engine/crc16.h"
#include "engine/replysender.h"

namespace quorlin
{

using namespace modbus;

namespace
{

// Where an RTU request ends by its function's rule; 0 while not yet known or
// never (a code without a rule).
int rtuRequestLength(const uint8_t *Bytes, size_t Count)
{
    if (Count < size_t(MinRequestLength))
        return 0;
    const TRequestHandler::FunctionRule &rule = TRequestHandler::ruleFor(Bytes[OffFunction]);
    if (rule.FixedLen != 0)
        return rule.FixedLen;
    if (rule.CountExtra != 0 && Count >= size_t(rule.MinCount))
        return Bytes[rule.CountOffset] + rule.CountExtra;
    return 0;
}

bool hasLengthRule(uint8_t Function)
{
    const TRequestHandler::FunctionRule &rule = TRequestHandler::ruleFor(Function);
    return rule.FixedLen != 0 || rule.CountExtra != 0;
}

} // namespace

TStreamFraming::TStreamFraming(TStreamKind Kind, TRequestWorkspace &Work, int DefaultId,
                               IFrameObserver *Observer, std::string Line)
    : m_kind(Kind), m_work(Work), m_observer(Observer), m_line(std::move(Line))
{
    m_rules.Checksum = Kind == TStreamKind::RtuOverTcp;
    m_rules.GatewayIds = Kind == TStreamKind::ModbusTcp;
    m_rules.DefaultId = DefaultId;
}

bool TStreamFraming::Received(const uint8_t *Data, size_t Length, int64_t NowUs)
{
    if (Length == 0)
        return true;
    if (m_kind == TStreamKind::RtuOverTcp) {
        Advance(NowUs); // a partial request whose silence ran out goes first
        m_lastInUs = NowUs;
    }
    if (m_in.empty())
        m_firstInUs = NowUs;
    m_in.insert(m_in.end(), Data, Data + Length);
    return m_kind == TStreamKind::ModbusTcp ? takeMbap(NowUs) : takeRtu(NowUs);
}

bool TStreamFraming::takeMbap(int64_t NowUs)
{
    size_t at = 0;
    bool ok = true;
    // Every whole request in what arrived, in order; a header that cannot be
    // right ends the connection, as the stream has no way to find the next.
    while (m_in.size() - at >= size_t(MbapHeaderLength)) {
        const uint8_t *f = m_in.data() + at;
        const int protocol = readU16BE(f, 2);
        const int length = readU16BE(f, MbapLengthOffset);
        // Only the first request can have begun in an earlier segment.
        const int64_t startUs = at == 0 ? m_firstInUs : NowUs;
        if (protocol != 0 || length < MbapMinLength || length > MbapMaxLength) {
            timeFrame(startUs, NowUs);
            report(TVerdict::BadHeader, f, MbapHeaderLength, nullptr, 0, {}, false);
            ok = false;
            at = m_in.size();
            break;
        }
        const size_t whole = size_t(MbapLengthOffset + 2 + length);
        if (m_in.size() - at < whole)
            break; // the rest follows in a later segment
        timeFrame(startUs, NowUs);
        handle(f, int(whole), NowUs);
        at += whole;
    }
    m_in.erase(m_in.begin(), m_in.begin() + ptrdiff_t(at));
    return ok;
}

bool TStreamFraming::takeRtu(int64_t NowUs)
{
    size_t at = 0;
    for (;;) {
        const size_t have = m_in.size() - at;
        const int need = rtuRequestLength(m_in.data() + at, have);
        const int64_t startUs = at == 0 ? m_firstInUs : NowUs;
        if (need != 0 && need <= RxBufferSize && have >= size_t(need)) {
            timeFrame(startUs, NowUs);
            handle(m_in.data() + at, need, NowUs);
            at += size_t(need);
            continue;
        }
        if (have >= size_t(RxBufferSize)) {
            // No request is that long: start again from nothing, as the line does.
            timeFrame(startUs, NowUs);
            report(TVerdict::TooLong, m_in.data() + at, RxBufferSize, nullptr, 0, {}, false,
                   int(have) - RxBufferSize);
            at = m_in.size();
        }
        break;
    }
    m_in.erase(m_in.begin(), m_in.begin() + ptrdiff_t(at));
    return true;
}

void TStreamFraming::handle(const uint8_t *Request, int Length, int64_t NowUs)
{
    TRequestWorkspace &w = m_work;
    const bool mbap = m_kind == TStreamKind::ModbusTcp;
    // The request in RTU layout: unit id, PDU, room for the CRC (MBAP has none;
    // its room is zeroed so no handler ever reads an earlier request's bytes).
    if (mbap) {
        const int pdu = Length - MbapHeaderLength;
        w.RxBuf[OffSlaveId] = Request[MbapHeaderLength - 1];
        std::copy_n(Request + MbapHeaderLength, pdu, w.RxBuf.begin() + 1);
        w.RxBuf[size_t(1 + pdu)] = 0;
        w.RxBuf[size_t(2 + pdu)] = 0;
        w.RxCount = w.ExpectedLen = pdu + 1 + CrcLength;
    } else {
        std::copy_n(Request, Length, w.RxBuf.begin());
        w.RxCount = w.ExpectedLen = Length;
    }
    // On RTU over TCP a new request replaces a reply still held back, as on
    // the line; on Modbus TCP each request has its own transaction and waits
    // its turn.
    const bool replaced = !mbap && !m_held.empty();
    if (replaced) {
        m_held.clear();
        m_heldBytes = 0;
    }

    TVerdict verdict = TVerdict::OtherSlave;
    TFaultDecision fault;
    const int n = w.Handler.Handle(m_rules, replaced, verdict, fault);
    if (n < MinRequestLength || n > MaxFrameLength) {
        report(verdict, Request, Length, nullptr, 0,
               fault.Kind == TFaultKind::Offline ? fault : TFaultDecision{}, replaced);
        return;
    }
    verdict =
        (w.TxBuf[OffFunction] & ExceptionFlag) != 0 ? TVerdict::Exception : TVerdict::Answered;
    uint8_t reply[MaxAduLength];
    int replyLength;
    if (mbap) {
        if (fault.Kind == TFaultKind::BadCrc)
            fault.Kind = TFaultKind::None; // there is no CRC to spoil
        const int pdu = n - 1 - CrcLength;
        std::copy_n(Request, 4, reply); // transaction and protocol id, echoed
        putU16BE(reply, MbapLengthOffset, uint16_t(pdu + 1));
        uint8_t unit = Request[MbapHeaderLength - 1];
        if (fault.Kind == TFaultKind::WrongId)
            unit = unit >= 255 ? 1 : uint8_t(unit + 1);
        reply[MbapHeaderLength - 1] = unit;
        std::copy_n(w.TxBuf.begin() + 1, pdu, reply + MbapHeaderLength);
        replyLength = MbapHeaderLength + pdu;
    } else {
        putCrcLE(w.TxBuf.data(), size_t(n - CrcLength),
                 Crc16(w.TxBuf.data(), size_t(n - CrcLength)));
        ShapeReply(w.TxBuf.data(), n, fault);
        std::copy_n(w.TxBuf.begin(), n, reply);
        replyLength = n;
    }
    if (fault.Kind == TFaultKind::NoReply) {
        report(verdict, Request, Length, nullptr, 0, fault, replaced);
        return;
    }
    // Ready now, or when a fault (or a reply held before it) lets its first bytes go.
    int64_t readyUs = NowUs + int64_t(std::max(0, fault.DelayMs)) * 1000;
    if (!m_held.empty())
        readyUs = std::max(readyUs, m_held.back().DueUs);
    queue(reply, replyLength, fault, NowUs);
    if (m_now != nullptr) {
        if (readyUs <= NowUs)
            readyUs = m_now();
        m_timing.TurnaroundUs = std::max<int64_t>(0, readyUs - NowUs);
        m_lineEndUs = std::max(m_lineEndUs, readyUs);
    }
    report(verdict, Request, Length, reply, replyLength, fault, replaced);
}

void TStreamFraming::queue(const uint8_t *Bytes, int Length, const TFaultDecision &Fault,
                           int64_t NowUs)
{
    const int64_t delayUs = int64_t(std::max(0, Fault.DelayMs)) * 1000;
    const int64_t splitUs = int64_t(std::max(0, Fault.SplitMs)) * 1000;
    if (delayUs == 0 && splitUs == 0 && m_held.empty()) {
        m_ready.insert(m_ready.end(), Bytes, Bytes + Length); // the everyday road
        return;
    }
    // Behind whatever is held already: replies leave in the order asked.
    int64_t due = NowUs + delayUs;
    if (!m_held.empty())
        due = std::max(due, m_held.back().DueUs);
    const int first = splitUs > 0 && Length >= 2 ? Length / 2 : Length;
    m_held.push_back({due, std::vector<uint8_t>(Bytes, Bytes + first)});
    if (first < Length)
        m_held.push_back({due + splitUs, std::vector<uint8_t>(Bytes + first, Bytes + Length)});
    m_heldBytes += size_t(Length);
    Advance(NowUs);
}

void TStreamFraming::Advance(int64_t NowUs)
{
    if (m_kind == TStreamKind::RtuOverTcp && !m_in.empty() &&
        NowUs - m_lastInUs >= RtuOverTcpSilenceUs) {
        // A code without a length rule could never have completed.
        const bool silentCode =
            m_in.size() > size_t(OffFunction) && !hasLengthRule(m_in[OffFunction]);
        timeFrame(m_firstInUs, m_lastInUs);
        report(silentCode ? TVerdict::NoReply : TVerdict::TimedOut, m_in.data(), int(m_in.size()),
               nullptr, 0, {}, false);
        m_in.clear();
    }
    while (!m_held.empty() && m_held.front().DueUs <= NowUs) {
        const std::vector<uint8_t> &b = m_held.front().Bytes;
        m_ready.insert(m_ready.end(), b.begin(), b.end());
        m_heldBytes -= b.size();
        m_held.pop_front();
    }
}

int64_t TStreamFraming::NextDueUs() const
{
    int64_t due = -1;
    if (m_kind == TStreamKind::RtuOverTcp && !m_in.empty())
        due = m_lastInUs + RtuOverTcpSilenceUs;
    if (!m_held.empty() && (due < 0 || m_held.front().DueUs < due))
        due = m_held.front().DueUs;
    return due;
}

void TStreamFraming::timeFrame(int64_t StartUs, int64_t EndUs)
{
    m_timing = {};
    if (m_now == nullptr)
        return;
    if (m_lineEndUs >= 0)
        m_timing.GapUs = std::max<int64_t>(0, StartUs - m_lineEndUs);
    m_lineEndUs = std::max(m_lineEndUs, EndUs);
}

void TStreamFraming::report(TVerdict Verdict, const uint8_t *Rx, int RxLength, const uint8_t *Reply,
                            int ReplyLength, const TFaultDecision &Fault, bool Replaced, int Unread)
{
    if (m_observer == nullptr)
        return;
    TFrameReport r;
    r.Rx = std::span<const uint8_t>(Rx, size_t(RxLength));
    r.Unread = Unread;
    r.Verdict = Verdict;
    if (Verdict == TVerdict::Exception)
        r.ExceptionCode = m_work.TxBuf[2];
    if (Reply != nullptr)
        r.Reply = std::span<const uint8_t>(Reply, size_t(ReplyLength));
    r.Injected = Fault.Kind;
    r.DelayMs = Fault.DelayMs;
    r.SplitMs = Fault.SplitMs;
    r.Replaced = Replaced;
    r.Line = m_line;
    r.HeaderLength = m_kind == TStreamKind::ModbusTcp ? MbapHeaderLength - 1 : 0;
    r.Timing = m_timing;
    m_timing = {};
    m_observer->FrameDone(r);
}

} // namespace quorlin
