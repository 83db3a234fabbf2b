// SPDX-License-Identifier: MIT
#include "engine/pollstats.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "engine/bytes.h"

namespace quorlin
{

namespace
{

constexpr int RegisterSpace = 65536;

bool isRequest(TVerdict Verdict)
{
    switch (Verdict) {
    case TVerdict::Answered:
    case TVerdict::Exception:
    case TVerdict::NoReply:
    case TVerdict::OtherSlave:
    case TVerdict::Broadcast:
        return true;
    default:
        return false;
    }
}

// Whether the master got a reply it could take. For another slave's request,
// or a broadcast, nothing says it did not.
bool replyUsable(const TFrameReport &Report)
{
    switch (Report.Verdict) {
    case TVerdict::OtherSlave:
    case TVerdict::Broadcast:
        return true;
    case TVerdict::Answered:
    case TVerdict::Exception:
        break;
    default:
        return false;
    }
    if (Report.ReplyFailed || Report.ReplyCancelled)
        return false;
    if (Report.Injected == TFaultKind::NoReply || Report.Injected == TFaultKind::WrongId ||
        Report.Injected == TFaultKind::BadCrc)
        return false;
    return !Report.Reply.empty() || Report.ReplyHeld;
}

void addRange(std::vector<TRegisterRange> &Ranges, int First, int Count)
{
    if (First < 0 || First >= RegisterSpace || Count <= 0)
        return;
    Count = std::min(Count, RegisterSpace - First);
    auto at = std::lower_bound(Ranges.begin(), Ranges.end(), First,
                               [](const TRegisterRange &R, int F) { return R.First < F; });
    Ranges.insert(at, {First, Count});
    // Merge what overlaps or touches.
    std::vector<TRegisterRange> merged;
    merged.reserve(Ranges.size());
    for (const TRegisterRange &r : Ranges) {
        if (!merged.empty() && r.First <= merged.back().First + merged.back().Count) {
            const int end = std::max(merged.back().First + merged.back().Count, r.First + r.Count);
            merged.back().Count = end - merged.back().First;
        } else {
            merged.push_back(r);
        }
    }
    // Too many: the two nearest become one, holes and all.
    while (merged.size() > TPollStats::MaxRanges) {
        size_t best = 0;
        int bestHole = RegisterSpace;
        for (size_t i = 0; i + 1 < merged.size(); ++i) {
            const int hole = merged[i + 1].First - (merged[i].First + merged[i].Count);
            if (hole < bestHole) {
                bestHole = hole;
                best = i;
            }
        }
        merged[best].Count = merged[best + 1].First + merged[best + 1].Count - merged[best].First;
        merged.erase(merged.begin() + std::ptrdiff_t(best) + 1);
    }
    Ranges = std::move(merged);
}

// The registers a request names: P starts at the slave id, its CRC (if any)
// is not looked at.
void addRanges(std::vector<TRegisterRange> &Ranges, std::span<const uint8_t> P)
{
    const int function = P[1];
    auto u16 = [&](size_t Offset) { return int(readU16BE(P.data(), Offset)); };
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 15:
    case 16:
        if (P.size() >= 6)
            addRange(Ranges, u16(2), u16(4));
        break;
    case 5:
    case 6:
    case 22:
    case 24:
        if (P.size() >= 4)
            addRange(Ranges, u16(2), 1);
        break;
    case 23: // what it reads, then what it writes
        if (P.size() >= 10) {
            addRange(Ranges, u16(2), u16(4));
            addRange(Ranges, u16(6), u16(8));
        }
        break;
    default:
        break;
    }
}

} // namespace

double TPollEntry::Rate() const
{
    if (Requests < 2 || LastUs <= FirstUs)
        return 0;
    return double(Requests - 1) * 1e6 / double(LastUs - FirstUs);
}

char PollTable(int Function)
{
    switch (Function) {
    case 1:
    case 5:
    case 15:
        return '0';
    case 2:
        return '1';
    case 4:
        return '3';
    case 3:
    case 6:
    case 16:
    case 22:
    case 23:
    case 24:
        return '4';
    default:
        return 0;
    }
}

std::string RangesText(int Function, const std::vector<TRegisterRange> &Ranges)
{
    const char table = PollTable(Function);
    std::string text;
    if (table == 0)
        return text;
    for (const TRegisterRange &r : Ranges) {
        char buf[32];
        if (r.Count == 1)
            std::snprintf(buf, sizeof buf, "%cx%04d", table, r.First + 1);
        else
            std::snprintf(buf, sizeof buf, "%cx%04d-%cx%04d", table, r.First + 1, table,
                          r.First + r.Count);
        if (!text.empty())
            text += ", ";
        text += buf;
    }
    return text;
}

TPollEntry *TPollStats::entry(std::string_view Line, int Slave, int Function)
{
    auto key = [](const TPollEntry &E) {
        return std::make_tuple(std::string_view(E.Line), E.Slave, E.Function);
    };
    const auto wanted = std::make_tuple(Line, Slave, Function);
    auto at = std::lower_bound(m_entries.begin(), m_entries.end(), wanted,
                               [&](const TPollEntry &E, const auto &W) { return key(E) < W; });
    if (at != m_entries.end() && key(*at) == wanted)
        return &*at;
    if (m_entries.size() >= MaxEntries)
        return nullptr;
    TPollEntry e;
    e.Line = std::string(Line);
    e.Slave = Slave;
    e.Function = Function;
    return &*m_entries.insert(at, std::move(e));
}

int64_t &TPollStats::timeOutOf(std::string_view Line)
{
    for (TLineTimeOut &t : m_timeOuts)
        if (t.Line == Line)
            return t.Us;
    m_timeOuts.push_back({std::string(Line), -1});
    return m_timeOuts.back().Us;
}

int64_t TPollStats::ApparentTimeOutUs(std::string_view Line) const
{
    for (const TLineTimeOut &t : m_timeOuts)
        if (t.Line == Line)
            return t.Us;
    return -1;
}

void TPollStats::Add(const TFrameReport &Report, int64_t NowUs)
{
    if (Report.HeldReply || !isRequest(Report.Verdict))
        return;
    const size_t head = Report.HeaderLength;
    if (Report.Rx.size() < head + 2)
        return;
    const std::span<const uint8_t> p = Report.Rx.subspan(head);
    TPollEntry *e = entry(Report.Line, p[0], p[1]);
    if (e == nullptr) {
        ++m_overflow;
        return;
    }
    const bool repeat =
        e->Requests > 0 && std::equal(p.begin(), p.end(), e->LastRequest.begin(), e->LastRequest.end());
    const int64_t since = e->LastUs >= 0 ? NowUs - e->LastUs : -1;
    int64_t &timeOut = timeOutOf(Report.Line);
    // A request repeated after no usable reply is a retry, and how long the
    // master waited tells its time-out; a repeat within that time after a
    // reply is one too (the reply came too late, or was lost on the way).
    bool retry = false;
    if (repeat && since >= 0) {
        if (!e->LastAnswered) {
            retry = true;
            timeOut = timeOut < 0 ? since : std::min(timeOut, since);
        } else if (timeOut >= 0 && since <= timeOut + timeOut / 4) {
            retry = true;
        }
    }
    ++e->Requests;
    if (retry) {
        ++e->Retries;
    } else {
        if (e->LastPollUs >= 0) {
            const int64_t interval = std::max<int64_t>(0, NowUs - e->LastPollUs);
            ++e->Intervals;
            e->TotalUs += interval;
            e->ShortestUs = e->ShortestUs < 0 ? interval : std::min(e->ShortestUs, interval);
            e->LongestUs = std::max(e->LongestUs, interval);
        }
        e->LastPollUs = NowUs;
    }
    if (e->FirstUs < 0)
        e->FirstUs = NowUs;
    e->LastUs = NowUs;
    e->LastRequest.assign(p.begin(), p.end());
    e->LastAnswered = replyUsable(Report);
    addRanges(e->Ranges, p);
}

void TPollStats::Clear()
{
    m_entries.clear();
    m_timeOuts.clear();
    m_overflow = 0;
}

void TPollCollector::FrameDone(const TFrameReport &Report)
{
    // Only what can count takes the lock: a held reply's report never does.
    if (Report.HeldReply)
        return;
    const int64_t now = m_clock();
    std::lock_guard<std::mutex> hold(m_lock);
    m_stats.Add(Report, now);
}

std::vector<TPollEntry> TPollCollector::Snapshot() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_stats.Entries();
}

void TPollCollector::Clear()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_stats.Clear();
}

} // namespace quorlin
