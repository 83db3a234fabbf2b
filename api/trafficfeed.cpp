// SPDX-License-Identifier: MIT
#include "api/trafficfeed.h"

#include <algorithm>
#include <chrono>

namespace quorlin
{

void TTrafficFeed::Append(const TTrafficRow &Row)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_store.Append(Row);
}

void TTrafficFeed::Notify()
{
    m_changed.notify_all();
}

void TTrafficFeed::Stop()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
}

uint64_t TTrafficFeed::End() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_store.EndSeq();
}

bool TTrafficFeed::WaitFor(uint64_t Since, int Ms)
{
    std::unique_lock<std::mutex> hold(m_lock);
    return m_changed.wait_for(hold, std::chrono::milliseconds(std::max(Ms, 0)), [&] {
        return m_stopping || m_store.EndSeq() > Since;
    }) && m_store.EndSeq() > Since;
}

TTrafficPage TTrafficFeed::Page(uint64_t Since, int WaitMs, size_t Limit)
{
    if (WaitMs > 0)
        WaitFor(Since, WaitMs);
    TTrafficPage page;
    std::lock_guard<std::mutex> hold(m_lock);
    // A cursor from the future (another run, a typo) starts at the end.
    uint64_t seq = std::min(Since, m_store.EndSeq());
    if (seq < m_store.FirstSeq()) {
        page.Dropped = m_store.FirstSeq() - seq;
        seq = m_store.FirstSeq();
    }
    for (; seq < m_store.EndSeq() && page.Rows.size() < Limit; ++seq)
        page.Rows.emplace_back(seq, m_store.AtSeq(seq));
    page.Next = seq;
    return page;
}

} // namespace quorlin
