// SPDX-License-Identifier: MIT
#include "engine/silenceframing.h"

namespace quorlin
{

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
    if (m_limits.InsideUs > 0 && silence > m_limits.InsideUs) {
        m_gapInside = true;
        return TArrival::Gap;
    }
    return TArrival::Joins;
}

int64_t TSilenceClock::SilenceBefore(int Count, int64_t NowUs) const
{
    if (!m_inFrame)
        return 0;
    return SilenceBeforeRead(m_lastUs, NowUs, Count < 1 ? 1 : Count, m_charUs);
}

void TSilenceClock::EndFrame()
{
    m_inFrame = false;
    m_gapInside = false;
    m_longestGapUs = 0;
}

} // namespace quorlin
