// SPDX-License-Identifier: MIT
// When frames came and went on a line, as well as the line's own thread can
// tell: the silence before each frame, the longest silence inside it, and
// how long a reply took to start after its request ended. A master that
// polls too soon after a reply, or an adapter that stalls in the middle of a
// frame, shows here although the answer does not change.
//
// The clock is read where the bytes are read and written, on the line's
// thread; each read is taken to end with the arrival of its last byte, and
// the bytes before it to have come back to back, one character time apart.
#pragma once

#include <cstdint>

#include "engine/serialline.h"

namespace quorlin
{

// The silences that separate frames on a serial line, in microseconds.
struct TSilenceLimits {
    int64_t InsideUs = 0;  // the longest silence a frame may hold (1.5 characters)
    int64_t BetweenUs = 0; // the shortest silence between two frames (3.5 characters)
    bool Known() const { return InsideUs > 0 && BetweenUs > 0; }
};

// Above 19200 bps the fixed 750 us and 1750 us, which a UART's interrupt
// load makes the practical limits; at and below, 1.5 and 3.5 character
// times (rounded up). Nothing known without a character time.
TSilenceLimits SilenceLimits(int BaudRate, int CharUs);

// The silence on the line before Count bytes (> 0) read at NowUs, the last
// read having ended at LastUs: the bytes are taken to have come back to
// back, so bytes that waited in a queue together (a thread woken late) show
// no pause, and a late read can only show less silence than there was. 0
// when there was none.
int64_t SilenceBeforeRead(int64_t LastUs, int64_t NowUs, int Count, int CharUs);

// What was measured of one frame; -1 where nothing could be.
struct TFrameTiming {
    int64_t GapUs = -1;        // silence before its first byte since the last frame on the line ended
    int64_t InsideUs = -1;     // the longest silence between two of its reads
    int64_t TurnaroundUs = -1; // reply: from the end of its request to its first byte written
    bool TooSoon = false;      // began sooner than the silence between frames allows
    bool GapInside = false;    // held a longer silence than a frame may
};

// The timing of one line's frames. Standard C++ with times handed in, so a
// test can play any schedule.
class TFrameClock
{
  public:
    // Character time (0: unknown, then only the times are kept) and limits.
    void SetLine(int CharUs, TSilenceLimits Limits)
    {
        m_charUs = CharUs > 0 ? CharUs : 0;
        m_limits = Limits;
    }
    int CharUs() const { return m_charUs; }
    const TSilenceLimits &Limits() const { return m_limits; }

    // Count bytes (> 0) were taken from the line at NowUs.
    void Received(int64_t NowUs, int Count);
    // The bytes received since the last frame ended make one frame: its
    // timing. The line counts it as ended with its last read.
    TFrameTiming EndFrame();
    // Count reply bytes are handed to the line at NowUs; they leave it
    // LeftUs later (0: one character time each).
    void Sending(int64_t NowUs, int Count, int64_t LeftUs = 0);
    // The turnaround of the reply that started since the last frame ended,
    // once: -1 when none started or it was taken already.
    int64_t TakeTurnaround();
    // The line closed or changed: what went before says nothing of what follows.
    void Reset();

  private:
    int m_charUs = 0;
    TSilenceLimits m_limits;
    bool m_open = false;        // bytes of a frame not yet ended were received
    int64_t m_startUs = 0;      // when the open frame's first byte began
    int64_t m_lastReadUs = -1;  // the last read's time
    int64_t m_insideUs = -1;    // the open frame's longest silence
    int64_t m_lineEndUs = -1;   // when the line last fell silent (a frame ended)
    int64_t m_requestEndUs = -1; // when the last received frame ended
    bool m_awaitReply = false;  // no reply has started since that frame
    int64_t m_turnaroundUs = -1;
};

// The line the engine reads and writes, with the clock read around each
// read and write. Without a clock it only passes the calls on.
class TTimedLine : public ISerialLine
{
  public:
    using TClockFn = int64_t (*)();
    explicit TTimedLine(ISerialLine &Line) : m_line(Line) {}

    void SetClock(TClockFn Clock) { m_now = Clock; }
    bool Timing() const { return m_now != nullptr; }
    TFrameClock &Clock() { return m_clock; }

    // Count bytes arrived that are purged unread.
    void Arrived(int Count)
    {
        if (m_now != nullptr && Count > 0)
            m_clock.Received(m_now(), Count);
    }
    int Read(void *Buffer, int Count) override;
    int Write(const void *Buffer, int Count) override;
    int WriteWrongParity(const void *Buffer, int Count) override;
    void PurgeIn() override { m_line.PurgeIn(); }
    void PurgeOut() override { m_line.PurgeOut(); }
    int64_t SendTimeUs(int Count) override { return m_line.SendTimeUs(Count); }

  private:
    int timedWrite(const void *Buffer, int Count, bool WrongParity);
    ISerialLine &m_line;
    TClockFn m_now = nullptr;
    TFrameClock m_clock;
};

} // namespace quorlin
