// SPDX-License-Identifier: MIT
// The rows of the line's traffic as the API hands them out: a ring of its
// own (the monitor's pause does not stop it), fed on the window's thread at
// every traffic tick and read by the API's threads, which can wait for the
// next row without a busy loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "api/apirouter.h"
#include "monitor/traffic.h"

namespace quorlin
{

class TTrafficFeed
{
  public:
    static constexpr size_t DefaultCapacity = 20000;
    explicit TTrafficFeed(size_t Capacity = DefaultCapacity) : m_store(Capacity) {}

    void Append(const TTrafficRow &Row);
    // Wakes the waiting readers: once per tick, after the tick's rows.
    void Notify();
    // Ends every wait at once, now and later (the server is stopping).
    void Stop();
    void Resume() { m_stopping = false; }
    bool Stopping() const { return m_stopping; }

    // Rows from sequence number Since on (at most Limit), waiting up to
    // WaitMs for the first one.
    TTrafficPage Page(uint64_t Since, int WaitMs, size_t Limit);
    // The sequence number the next row will get.
    uint64_t End() const;
    // Waits up to Ms for rows at or after Since, or for Stop; true when there are.
    bool WaitFor(uint64_t Since, int Ms);
    // Calls Visit for the rows at or after Since; returns the new cursor.
    template <typename F> uint64_t Visit(uint64_t Since, F &&Visit) const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        uint64_t seq = std::max(Since, m_store.FirstSeq());
        for (; seq < m_store.EndSeq(); ++seq)
            Visit(m_store.AtSeq(seq));
        return seq;
    }

  private:
    mutable std::mutex m_lock; // never held with the line's lock
    std::condition_variable m_changed;
    TTrafficStore m_store;
    std::atomic<bool> m_stopping{false};
};

} // namespace quorlin
