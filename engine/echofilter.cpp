// SPDX-License-Identifier: MIT
#include "engine/echofilter.h"

#include <algorithm>

namespace quorlin
{

void TEchoFilter::Sent(const uint8_t *Data, size_t Count, int64_t NowUs, int64_t WindowUs)
{
    expire(NowUs);
    if (Data == nullptr || Count == 0)
        return;
    const size_t room = MaxExpected - std::min(MaxExpected, m_expected.size());
    m_expected.insert(m_expected.end(), Data, Data + std::min(Count, room));
    m_windowUs = std::max<int64_t>(0, WindowUs);
    m_dueUs = NowUs + m_windowUs;
}

// An echo that has not begun by its time is not coming. One that began and
// then fell silent for longer than the window is cut short: the prefix in is
// what we sent and is dropped, as the framing would drop a request that
// stopped that long. After either, every byte is input again.
void TEchoFilter::expire(int64_t NowUs)
{
    if (m_expected.empty() || NowUs <= m_dueUs)
        return;
    if (m_matched > 0) {
        ++m_cut;
        m_bytesDropped += m_matched;
    }
    m_expected.clear();
    m_matched = 0;
}

// The held prefix turned out to be input after all.
void TEchoFilter::release()
{
    m_output.insert(m_output.end(), m_expected.begin(),
                    m_expected.begin() + std::ptrdiff_t(m_matched));
    m_expected.clear();
    m_matched = 0;
}

void TEchoFilter::Received(const uint8_t *Data, size_t Count, int64_t NowUs)
{
    expire(NowUs);
    if (Data == nullptr)
        return;
    for (size_t i = 0; i < Count; ++i) {
        const uint8_t b = Data[i];
        if (m_expected.empty()) {
            m_output.insert(m_output.end(), Data + i, Data + Count);
            return;
        }
        if (b == m_expected[m_matched]) {
            m_dueUs = NowUs + m_windowUs;
            if (++m_matched == m_expected.size()) {
                ++m_echoes;
                m_bytesDropped += m_matched;
                m_expected.clear();
                m_matched = 0;
            }
            continue;
        }
        // Not our echo: what was held and this byte are input, and so is
        // all that follows until the next reply goes out.
        release();
        m_output.push_back(b);
    }
}

size_t TEchoFilter::Take(uint8_t *Out, size_t Max)
{
    const size_t n = Out == nullptr ? 0 : std::min(Max, m_output.size());
    std::copy_n(m_output.begin(), n, Out);
    m_output.erase(m_output.begin(), m_output.begin() + std::ptrdiff_t(n));
    return n;
}

void TEchoFilter::Disarm()
{
    release();
}

void TEchoFilter::Reset()
{
    m_expected.clear();
    m_matched = 0;
    m_output.clear();
}

} // namespace quorlin
