// SPDX-License-Identifier: MIT
// A one-shot timer of the line's own thread: it fires nothing by itself. The
// thread that serves the line asks when it falls due, waits for the line or
// that moment, whichever comes first, and then tells the engine. So a partial
// request is dropped, and a held-back reply sent, whatever the window does.
#pragma once

#include <cstdint>

#include "engine/replysender.h"
#include "engine/serialline.h"

namespace quorlin
{

// Microseconds on a clock that never jumps.
int64_t MonotonicUs();

class TDeadline : public ITimeOutTimer, public IReplyTimer
{
  public:
    using TClock = int64_t (*)();
    // Start() without an interval runs for DefaultMs.
    explicit TDeadline(int DefaultMs = 100, TClock Clock = MonotonicUs)
        : m_defaultMs(DefaultMs), m_clock(Clock)
    {
    }

    void Start() override { Start(m_defaultMs); }
    void StartFor(int Ms) override { Start(Ms); }
    void Start(int Ms) override
    {
        m_startUs = m_clock();
        m_spanUs = int64_t(Ms < 0 ? 0 : Ms) * 1000;
        m_dueUs = m_startUs + m_spanUs;
    }
    void Stop() override { m_dueUs = -1; }
    void SetAllowanceUs(int64_t Us) override
    {
        if (m_dueUs >= 0)
            m_dueUs = m_startUs + m_spanUs + (Us > 0 ? Us : 0);
    }
    bool IsRunning() const override { return m_dueUs >= 0; }

    int DefaultMs() const { return m_defaultMs; }
    // When it falls due on the clock, -1 while stopped.
    int64_t DueUs() const { return m_dueUs; }
    bool Due(int64_t NowUs) const { return m_dueUs >= 0 && NowUs >= m_dueUs; }
    int64_t Now() const { return m_clock(); }

  private:
    int m_defaultMs;
    TClock m_clock;
    int64_t m_dueUs = -1;
    int64_t m_startUs = 0; // when it was last started
    int64_t m_spanUs = 0;  // the interval it was started with
};

} // namespace quorlin
