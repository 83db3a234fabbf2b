// SPDX-License-Identifier: MIT
// How a master polls, per line, slave and function: how many requests, how
// often, how regularly, how many were retries, and which registers they
// touched. Fed with the frame reports on the line's own thread; a window
// copies a snapshot. Standard C++, so it can be tested and fuzzed.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/frameobserver.h"

namespace quorlin
{

// Registers First .. First + Count - 1, numbered from 0 as requests carry them.
struct TRegisterRange {
    int First = 0;
    int Count = 0;
    bool operator==(const TRegisterRange &) const = default;
};

struct TPollEntry {
    std::string Line; // empty for the serial line
    int Slave = 0;
    int Function = 0;
    uint64_t Requests = 0; // retries included
    uint64_t Retries = 0;  // the same request again within the master's apparent time-out
    int64_t FirstUs = -1;  // the first and the last request
    int64_t LastUs = -1;
    // Intervals between polls: from one request that is not a retry to the next.
    uint64_t Intervals = 0;
    int64_t ShortestUs = -1;
    int64_t LongestUs = -1;
    int64_t TotalUs = 0;
    std::vector<TRegisterRange> Ranges; // sorted, merged, at most MaxRanges

    int64_t MeanUs() const { return Intervals > 0 ? TotalUs / int64_t(Intervals) : -1; }
    // Requests per second between the first and the last; 0 before a second one.
    double Rate() const;

    // What the next request is compared with.
    std::vector<uint8_t> LastRequest;
    bool LastAnswered = true; // whether the master got a reply it could take
    int64_t LastPollUs = -1;  // the last request that was not a retry
};

// The table a function's registers belong to, as its type digit ('0', '1',
// '3', '4'); 0 when the function addresses none.
char PollTable(int Function);
// "4x0001-4x0010, 4x0101": the ranges numbered from 1, as the register panels do.
std::string RangesText(int Function, const std::vector<TRegisterRange> &Ranges);

class TPollStats
{
  public:
    static constexpr size_t MaxEntries = 4096;
    static constexpr size_t MaxRanges = 16;

    // One frame's report, at NowUs (microseconds, steady). Requests that
    // passed their checks count, whoever they were for; held replies' later
    // reports and discarded frames do not.
    void Add(const TFrameReport &Report, int64_t NowUs);
    void Clear();
    const std::vector<TPollEntry> &Entries() const { return m_entries; } // by line, slave, function
    // The master's apparent time-out on Line: the shortest silence after
    // which it repeated a request that got no usable reply; -1 unknown.
    int64_t ApparentTimeOutUs(std::string_view Line) const;
    // Requests that could not be counted: every entry was taken.
    uint64_t Overflow() const { return m_overflow; }

  private:
    struct TLineTimeOut {
        std::string Line;
        int64_t Us = -1;
    };
    TPollEntry *entry(std::string_view Line, int Slave, int Function);
    int64_t &timeOutOf(std::string_view Line);

    std::vector<TPollEntry> m_entries;
    std::vector<TLineTimeOut> m_timeOuts;
    uint64_t m_overflow = 0;
};

// The collector the program attaches: the statistics behind a lock, fed on
// the line's thread, copied out on the window's.
class TPollCollector : public IFrameObserver
{
  public:
    using TClockFn = int64_t (*)();
    explicit TPollCollector(TClockFn Clock) : m_clock(Clock) {}
    void FrameDone(const TFrameReport &Report) override;
    std::vector<TPollEntry> Snapshot() const;
    void Clear();

  private:
    TClockFn m_clock;
    mutable std::mutex m_lock;
    TPollStats m_stats;
};

// Hands every report to two observers, in order; either may be null.
class TFrameTee : public IFrameObserver
{
  public:
    TFrameTee(IFrameObserver *First, IFrameObserver *Second) : m_first(First), m_second(Second) {}
    void FrameDone(const TFrameReport &Report) override
    {
        if (m_first != nullptr)
            m_first->FrameDone(Report);
        if (m_second != nullptr)
            m_second->FrameDone(Report);
    }

  private:
    IFrameObserver *m_first;
    IFrameObserver *m_second;
};

} // namespace quorlin
