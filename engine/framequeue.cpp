// SPDX-License-Identifier: MIT
#include "engine/framequeue.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>

namespace quorlin
{

namespace
{

constexpr uint64_t TLineCounters::*countFields[] = {
    &TLineCounters::Requests, &TLineCounters::Replies,    &TLineCounters::Exceptions,
    &TLineCounters::BadCrc,   &TLineCounters::OtherSlave, &TLineCounters::Broadcast,
    &TLineCounters::TimedOut, &TLineCounters::TooLong,    &TLineCounters::NoReply,
    &TLineCounters::BytesIn,  &TLineCounters::BytesOut,   &TLineCounters::Injected,
    &TLineCounters::BadHeader, &TLineCounters::Failed, &TLineCounters::Cancelled,
    &TLineCounters::TooSoon,  &TLineCounters::GapInside,
};
static_assert(sizeof(TLineCounters) == std::size(countFields) * sizeof(uint64_t),
              "a counter was added to TLineCounters: list it in countFields");

} // namespace

TFrameQueue::TFrameQueue(size_t Capacity)
    : m_capacity(std::max<size_t>(Capacity, 1)), m_slots(new TSlot[m_capacity]),
      m_droppedCounts(new std::atomic<uint64_t>[(1 + 256) * CountFields]())
{
    static_assert(std::size(countFields) == CountFields);
}

void TFrameQueue::FrameDone(const TFrameReport &Report)
{
    const uint64_t pushed = m_pushed.load(std::memory_order_relaxed);
    if (pushed - m_takenSeen >= m_capacity) {
        // Acquire: the consumer's last reads of the slot we may reuse are done.
        m_takenSeen = m_taken.load(std::memory_order_acquire);
        if (pushed - m_takenSeen >= m_capacity) {
            // The counts first, so that a consumer that sees the drop sees them.
            TLineCounters counts;
            counts.Count(Report);
            for (int f = 0; f < CountFields; ++f) {
                if (const uint64_t n = counts.*countFields[f]; n > 0) {
                    m_droppedCounts[f].fetch_add(n, std::memory_order_relaxed);
                    if (Report.Rx.size() > Report.HeaderLength)
                        m_droppedCounts[(1 + Report.Rx[Report.HeaderLength]) * CountFields + f].fetch_add(
                            n, std::memory_order_relaxed);
                }
            }
            // Only this thread writes the count: no read-modify-write needed.
            m_dropped.store(m_dropped.load(std::memory_order_relaxed) + 1,
                            std::memory_order_release);
            return;
        }
    }

    TSlot &slot = m_slots[m_writeSlot];
    {
        using namespace std::chrono;
        slot.TimeUs = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
        slot.SteadyUs = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    // Every field by value first, so one added to the report later travels too;
    // then the bytes, which the report only points at.
    slot.Report = Report;
    const size_t rx = std::min(Report.Rx.size(), sizeof slot.Rx);
    const size_t reply = std::min(Report.Reply.size(), sizeof slot.Reply);
    if (rx > 0)
        std::memcpy(slot.Rx, Report.Rx.data(), rx);
    if (reply > 0)
        std::memcpy(slot.Reply, Report.Reply.data(), reply);
    slot.Report.Rx = std::span<const uint8_t>(slot.Rx, rx);
    slot.Report.Reply = std::span<const uint8_t>(slot.Reply, reply);
    const size_t line = std::min(Report.Line.size(), sizeof slot.Line);
    if (line > 0)
        std::memcpy(slot.Line, Report.Line.data(), line);
    slot.Report.Line = std::string_view(slot.Line, line);

    m_writeSlot = m_writeSlot + 1 == m_capacity ? 0 : m_writeSlot + 1;
    // Release: the slot's contents are visible before the consumer sees it counted.
    m_pushed.store(pushed + 1, std::memory_order_release);
}

void TFrameQueue::TakeDroppedCounts(TLineCounters &Line, std::array<TLineCounters, 256> &BySlave)
{
    // Nothing dropped since the last look: nothing to scan.
    const uint64_t dropped = Dropped();
    if (dropped == m_droppedCounted)
        return;
    m_droppedCounted = dropped;
    for (int set = 0; set < 1 + 256; ++set) {
        TLineCounters &into = set == 0 ? Line : BySlave[size_t(set - 1)];
        for (int f = 0; f < CountFields; ++f) {
            std::atomic<uint64_t> &count = m_droppedCounts[set * CountFields + f];
            if (count.load(std::memory_order_relaxed) > 0)
                into.*countFields[f] += count.exchange(0, std::memory_order_relaxed);
        }
    }
}

} // namespace quorlin
