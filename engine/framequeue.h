// SPDX-License-Identifier: MIT
// Carries the engine's frame reports from the line's thread to the thread
// that shows them. The engine must answer like a device whatever the window
// is doing, so handing a report over never waits, never takes a lock and
// never allocates: it copies the report into a slot of a ring that was
// allocated once, up front. When the window falls so far behind that the
// ring is full, the report is dropped and counted instead.
//
// One producer (the line's thread calls FrameDone) and one consumer (the
// window's thread calls Drain); Dropped may be read from anywhere.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/frameobserver.h"
#include "engine/modbusdefs.h"

namespace quorlin
{

class TFrameQueue : public IFrameObserver
{
  public:
    static constexpr size_t DefaultCapacity = 4096;
    // Capacity frames (at least one); all the memory is taken here.
    explicit TFrameQueue(size_t Capacity = DefaultCapacity);
    TFrameQueue(const TFrameQueue &) = delete;
    TFrameQueue &operator=(const TFrameQueue &) = delete;

    // Producer side. Copies the report with the time it was taken (system
    // clock and steady clock, microseconds). Bytes beyond what a slot holds
    // (the receive buffer, the longest reply) are cut off.
    void FrameDone(const TFrameReport &Report) override;

    // Consumer side: calls Sink(const TFrameReport &, int64_t TimeUs,
    // int64_t SteadyUs) for each frame waiting when the call began, oldest
    // first. The report's spans point into the queue and stay valid only
    // during that call. Returns how many frames were handed over.
    template <typename TSink> size_t Drain(TSink &&Sink);

    // Frames dropped because the queue was full, since it was made.
    uint64_t Dropped() const { return m_dropped.load(std::memory_order_acquire); }
    size_t Capacity() const { return m_capacity; }

    // Consumer side: adds what the frames dropped since the last call would
    // have counted, for the line and by the id they carried (byte 0), so the
    // counters stay whole when rows are lost.
    void TakeDroppedCounts(TLineCounters &Line, std::array<TLineCounters, 256> &BySlave);

  private:
    struct TSlot {
        TFrameReport Report; // its spans point at Rx and Reply below
        int64_t TimeUs;
        int64_t SteadyUs;
        uint8_t Rx[modbus::MaxAduLength];
        uint8_t Reply[modbus::MaxAduLength];
        char Line[64];
    };

    const size_t m_capacity;
    const std::unique_ptr<TSlot[]> m_slots;

    // Frames ever pushed and ever taken: the ring holds m_pushed - m_taken.
    // Each lives on a cache line of its own so that the two threads do not
    // fight over one line when only the other side changed.
    alignas(64) std::atomic<uint64_t> m_pushed{0};
    // The producer's own state: where the next frame goes, and the last
    // m_taken it saw (re-read only when the ring looks full).
    size_t m_writeSlot = 0;
    uint64_t m_takenSeen = 0;
    std::atomic<uint64_t> m_dropped{0};

    alignas(64) std::atomic<uint64_t> m_taken{0};
    size_t m_readSlot = 0;                 // the consumer's own
    uint64_t m_droppedCounted = 0;         // m_dropped at the last TakeDroppedCounts
    static constexpr int CountFields = 17; // the members of TLineCounters
    // The dropped frames' counts not yet taken: the line's, then one set per id.
    const std::unique_ptr<std::atomic<uint64_t>[]> m_droppedCounts;
};

template <typename TSink> size_t TFrameQueue::Drain(TSink &&Sink)
{
    uint64_t taken = m_taken.load(std::memory_order_relaxed);
    // Only what is there now: a busy line never keeps the consumer here.
    const uint64_t pushed = m_pushed.load(std::memory_order_acquire);
    size_t count = 0;
    while (taken != pushed) {
        const TSlot &slot = m_slots[m_readSlot];
        Sink(static_cast<const TFrameReport &>(slot.Report), slot.TimeUs, slot.SteadyUs);
        m_readSlot = m_readSlot + 1 == m_capacity ? 0 : m_readSlot + 1;
        // The slot goes back to the producer only after the sink is done with it.
        m_taken.store(++taken, std::memory_order_release);
        ++count;
    }
    return count;
}

} // namespace quorlin
