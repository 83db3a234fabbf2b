// SPDX-License-Identifier: MIT
// Framing by silence: on a real RTU line a frame ends when the line has been
// quiet for 3.5 character times, and a device drops a frame that fell quiet
// for more than 1.5 character times before it was over. This keeps the
// clock of one line: it is told when characters were read and says when the
// frame in progress ends and whether a silence inside it spoiled it. Times
// are microseconds on one steady clock that the caller owns.
#pragma once

#include <cstdint>

namespace quorlin
{

// How the serial line finds the end of an RTU request.
enum class TSerialFraming : uint8_t {
    Length, // by the length its function code gives (the default)
    Strict, // by 3.5 character times of silence; a 1.5 silence inside drops it
};

struct TSilenceTimes {
    int CharUs = 0;   // one character on the line; 0 when unknown
    int InsideUs = 0; // longer than this inside a frame spoils it (1.5 characters)
    int EndUs = 0;    // this long ends a frame (3.5 characters)
};

// Above 19200 bps the character time is too short for a UART's timer to
// measure reliably, so fixed times stand in: 750 us and 1750 us. At and
// below, 1.5 and 3.5 of CharUs. Nothing (all 0) for an unknown rate.
TSilenceTimes SilenceTimesFor(int BaudRate, int CharUs);

class TSilenceClock
{
  public:
    enum class TArrival : uint8_t {
        Starts, // the first characters of a new frame
        Joins,  // more of the frame in progress
        Gap,    // more of it, after a silence longer than InsideUs
    };

    void SetTimes(const TSilenceTimes &Times) { m_times = Times; }
    const TSilenceTimes &Times() const { return m_times; }

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
        return m_inFrame && SilenceBefore(Count, NowUs) >= m_times.EndUs;
    }
    // The silence on the line before Count characters read at NowUs.
    int64_t SilenceBefore(int Count, int64_t NowUs) const;
    // When the frame in progress ends by silence; -1 between frames.
    int64_t EndDueUs() const { return m_inFrame ? m_lastUs + m_times.EndUs : -1; }
    bool InFrame() const { return m_inFrame; }
    // A silence longer than InsideUs fell inside the frame in progress.
    bool GapInside() const { return m_gapInside; }
    // The longest silence inside the frame in progress, in microseconds.
    int64_t LongestGapUs() const { return m_longestGapUs; }
    // The frame has been dealt with: the next characters start another.
    void EndFrame();

  private:
    TSilenceTimes m_times;
    int64_t m_lastUs = 0;
    int64_t m_longestGapUs = 0;
    bool m_inFrame = false;
    bool m_gapInside = false;
};

} // namespace quorlin
