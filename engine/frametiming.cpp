// SPDX-License-Identifier: MIT
#include "engine/frametiming.h"

#include <algorithm>

#include "engine/linetiming.h"

namespace quorlin
{

namespace
{
// Above this speed the silences no longer follow the character time.
constexpr int FixedLimitsAboveBaud = 19200;
constexpr int64_t FixedInsideUs = 750;
constexpr int64_t FixedBetweenUs = 1750;
} // namespace

TSilenceLimits SilenceLimits(int BaudRate, int CharUs)
{
    if (BaudRate > FixedLimitsAboveBaud)
        return {FixedInsideUs, FixedBetweenUs};
    if (CharUs <= 0)
        return {};
    // Halves of a character, rounded up: 1.5 and 3.5 characters.
    return {(int64_t(CharUs) * 3 + 1) / 2, (int64_t(CharUs) * 7 + 1) / 2};
}

int64_t SilenceBeforeRead(int64_t LastUs, int64_t NowUs, int Count, int CharUs)
{
    return std::max<int64_t>(0, NowUs - LineTimeUs(Count, CharUs) - LastUs);
}

void TFrameClock::Received(int64_t NowUs, int Count)
{
    if (Count <= 0)
        return;
    // The read ends with its last byte; the first began the batch's own line
    // time earlier. A late read of bytes that came apart can only show less
    // silence than there was, never more.
    int64_t firstUs = NowUs - LineTimeUs(Count, m_charUs);
    if (m_lastReadUs >= 0)
        firstUs = std::max(firstUs, std::min(m_lastReadUs, NowUs));
    if (!m_open) {
        m_open = true;
        m_startUs = firstUs;
        m_insideUs = 0;
    } else {
        m_insideUs = std::max(m_insideUs, SilenceBeforeRead(m_lastReadUs, NowUs, Count, m_charUs));
    }
    m_lastReadUs = NowUs;
}

TFrameTiming TFrameClock::EndFrame()
{
    TFrameTiming t;
    if (m_lastReadUs < 0)
        return t; // nothing was ever read: nothing to measure
    if (!m_open) {
        // A second frame out of one read: it ended where the read did.
        m_startUs = m_lastReadUs;
        m_insideUs = 0;
    }
    if (m_lineEndUs >= 0)
        t.GapUs = std::max<int64_t>(0, m_startUs - m_lineEndUs);
    t.InsideUs = m_insideUs;
    if (m_limits.Known()) {
        t.TooSoon = t.GapUs >= 0 && t.GapUs < m_limits.BetweenUs;
        t.GapInside = t.InsideUs > m_limits.InsideUs;
    }
    m_open = false;
    m_lineEndUs = std::max(m_lineEndUs, m_lastReadUs);
    m_requestEndUs = m_lastReadUs;
    m_awaitReply = true;
    m_turnaroundUs = -1;
    return t;
}

void TFrameClock::Sending(int64_t NowUs, int Count, int64_t LeftUs)
{
    if (m_awaitReply && m_requestEndUs >= 0) {
        m_turnaroundUs = std::max<int64_t>(0, NowUs - m_requestEndUs);
        m_awaitReply = false;
    }
    const int64_t left = LeftUs > 0 ? LeftUs : LineTimeUs(Count, m_charUs);
    m_lineEndUs = std::max(m_lineEndUs, NowUs + left);
}

int64_t TFrameClock::TakeTurnaround()
{
    const int64_t t = m_turnaroundUs;
    m_turnaroundUs = -1;
    return t;
}

void TFrameClock::Reset()
{
    const int charUs = m_charUs;
    const TSilenceLimits limits = m_limits;
    *this = TFrameClock{};
    m_charUs = charUs;
    m_limits = limits;
}

int TTimedLine::Read(void *Buffer, int Count)
{
    const int n = m_line.Read(Buffer, Count);
    if (m_now != nullptr && n > 0)
        m_clock.Received(m_now(), std::min(n, Count));
    return n;
}

int TTimedLine::Write(const void *Buffer, int Count)
{
    return timedWrite(Buffer, Count, false);
}

int TTimedLine::WriteWrongParity(const void *Buffer, int Count)
{
    return timedWrite(Buffer, Count, true);
}

int TTimedLine::timedWrite(const void *Buffer, int Count, bool WrongParity)
{
    auto write = [&] {
        return WrongParity ? m_line.WriteWrongParity(Buffer, Count) : m_line.Write(Buffer, Count);
    };
    if (m_now == nullptr)
        return write();
    // The first byte leaves when the write begins.
    const int64_t now = m_now();
    const int n = write();
    if (n > 0)
        m_clock.Sending(now, n);
    return n;
}

} // namespace quorlin
