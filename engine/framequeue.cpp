// SPDX-License-Identifier: MIT
#include "engine/framequeue.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace quorlin
{

TFrameQueue::TFrameQueue(size_t Capacity)
    : m_capacity(std::max<size_t>(Capacity, 1)), m_slots(new TSlot[m_capacity])
{
}

void TFrameQueue::FrameDone(const TFrameReport &Report)
{
    const uint64_t pushed = m_pushed.load(std::memory_order_relaxed);
    if (pushed - m_takenSeen >= m_capacity) {
        // Acquire: the consumer's last reads of the slot we may reuse are done.
        m_takenSeen = m_taken.load(std::memory_order_acquire);
        if (pushed - m_takenSeen >= m_capacity) {
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

    m_writeSlot = m_writeSlot + 1 == m_capacity ? 0 : m_writeSlot + 1;
    // Release: the slot's contents are visible before the consumer sees it counted.
    m_pushed.store(pushed + 1, std::memory_order_release);
}

} // namespace quorlin
