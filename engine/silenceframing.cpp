// SPDX-License-Identifier: MIT
#include "engine/silenceframing.h"

#include "engine/linetiming.h"

namespace quorlin
{

TSilenceTimes SilenceTimesFor(int BaudRate, int CharUs)
{
    if (BaudRate <= 0 || CharUs <= 0)
        return {};
    if (BaudRate > 19200)
        return {CharUs, 750, 1750};
    // Rounded up: a silence of exactly 1.5 characters does not spoil a frame.
    return {CharUs, (3 * CharUs + 1) / 2, (7 * CharUs + 1) / 2};
}

TSilenceClock::TArrival TSilenceClock::Arrive(int Count, int64_t NowUs)
{
    if (Count < 1)
        Count = 1;
    if (!m_inFrame) {
        m_inFrame = true;
        m_gapInside = false;
        m_longestGapUs = 0;
        m_lastUs = NowUs;
        return TArrival::Starts;
    }
    const int64_t silence = SilenceBefore(Count, NowUs);
    // A clock read late never moves the frame's end back.
    if (NowUs > m_lastUs)
        m_lastUs = NowUs;
    if (silence > m_longestGapUs)
        m_longestGapUs = silence;
    if (m_times.InsideUs > 0 && silence > m_times.InsideUs) {
        m_gapInside = true;
        return TArrival::Gap;
    }
    return TArrival::Joins;
}

int64_t TSilenceClock::SilenceBefore(int Count, int64_t NowUs) const
{
    if (!m_inFrame)
        return 0;
    const int64_t silence = NowUs - m_lastUs - LineTimeUs(Count < 1 ? 1 : Count, m_times.CharUs);
    return silence > 0 ? silence : 0;
}

void TSilenceClock::EndFrame()
{
    m_inFrame = false;
    m_gapInside = false;
    m_longestGapUs = 0;
}

} // namespace quorlin
