// SPDX-License-Identifier: MIT
// Framing by silence: on a real RTU line a frame ends when the line has been
// quiet for 3.5 character times, and a device drops a frame that fell quiet
// for more than 1.5 character times before it was over. This keeps the
// clock of one line: it is told when characters were read and says when the
// frame in progress ends and whether a silence inside it spoiled it. Times
// are microseconds on one steady clock that the caller owns.
#pragma once

#include <cstdint>

#include "engine/frametiming.h"

namespace quorlin
{

// How the serial line finds the end of an RTU request.
enum class TSerialFraming : uint8_t {
    Length, // by the length its function code gives (the default)
    Strict, // by 3.5 character times of silence; a 1.5 silence inside drops it
};

class TSilenceClock
{
  public:
    enum class TArrival : uint8_t {
        Starts, // the first characters of a new frame
        Joins,  // more of the frame in progress
        Gap,    // more of it, after a silence longer than InsideUs
    };

    // The line's character time and the silences it is held to: the ones
    // the frame clock marks frames by, so framing and marks never disagree.
    void SetLine(int CharUs, TSilenceLimits Limits)
    {
        m_charUs = CharUs > 0 ? CharUs : 0;
        m_limits = Limits;
    }
    const TSilenceLimits &Limits() const { return m_limits; }

    // Count characters were read at NowUs, the last of them just complete.
    // The silence before them is the time since the last read less their
    // own line time, so characters that wait in a queue together (a thread
    // woken late) are not taken for a pause. The caller ends the frame in
    // progress first when EndedBefore says it has.
    TArrival Arrive(int Count, int64_t NowUs);
    // Whether the frame in progress had ended before Count characters read
    // at NowUs began to arrive.
    bool EndedBefore(int Count, int64_t NowUs) const
    {
        return m_inFrame && SilenceBefore(Count, NowUs) >= m_limits.BetweenUs;
    }
    // The silence on the line before Count characters read at NowUs.
    int64_t SilenceBefore(int Count, int64_t NowUs) const;
    // When the frame in progress ends by silence; -1 between frames.
    int64_t EndDueUs() const { return m_inFrame ? m_lastUs + m_limits.BetweenUs : -1; }
    bool InFrame() const { return m_inFrame; }
    // A silence longer than InsideUs fell inside the frame in progress.
    bool GapInside() const { return m_gapInside; }
    // The longest silence inside the frame in progress, in microseconds.
    int64_t LongestGapUs() const { return m_longestGapUs; }
    // The frame has been dealt with: the next characters start another.
    void EndFrame();

  private:
    int m_charUs = 0;
    TSilenceLimits m_limits;
    int64_t m_lastUs = 0;
    int64_t m_longestGapUs = 0;
    bool m_inFrame = false;
    bool m_gapInside = false;
};

} // namespace quorlin
