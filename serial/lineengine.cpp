// SPDX-License-Identifier: MIT
#include "serial/lineengine.h"

#include <algorithm>

namespace quorlin
{

namespace
{
constexpr int EchoPieceBytes = 64;
} // namespace

TLineEngine::TLineEngine(TModbusSlave &Engine, TCustomComm &Comm, TDeadline &TimeOut,
                         TDeadline &Reply)
    : m_engine(Engine), m_comm(Comm), m_timeOut(TimeOut), m_reply(Reply)
{
    m_engine.SetReplyTimer(&m_reply);
    // Frames are timed where they are read: on this line's own thread.
    m_engine.SetClock(MonotonicUs);
}

bool TLineEngine::LineRxChar(int Count)
{
    const uint64_t before = m_comm.InputTakenCount();
    // The settings may have changed since the last request.
    m_engine.SetCharTimeUs(m_comm.CharTimeUs(), m_comm.LineBaud());
    // An echo counts in the driver's queue but never reaches the engine: a
    // long reply's echo and the next request together may be more than any
    // request, which the engine would take for garbage and purge. Taken in
    // pieces, the echo is gone before the request is framed (what is left
    // queued raises the next event).
    if (m_comm.IgnoreEcho())
        Count = std::min(Count, EchoPieceBytes);
    // When the bytes were read, on the time-out's clock: framing by silence
    // measures the pauses between reads.
    m_engine.Comm1RxChar(Count, m_timeOut.Now());
    // Bytes the device took from the port but has yet to hand over (an
    // echo filter's) raise no event of their own.
    for (int pending = m_comm.PendingInput(); pending > 0;) {
        m_engine.Comm1RxChar(pending, m_timeOut.Now());
        const int left = m_comm.PendingInput();
        if (left >= pending)
            break; // the engine took none: they wait for the next event
        pending = left;
    }
    return m_comm.InputTakenCount() != before;
}

void TLineEngine::syncUnsolicited()
{
    const int ms = m_engine.Faults().UnsolicitedMs();
    if (ms == m_unsolicitedMs)
        return;
    m_unsolicitedMs = ms;
    if (ms > 0)
        m_unsolicited.Start(ms);
    else
        m_unsolicited.Stop();
}

int64_t TLineEngine::LineDeadlineUs()
{
    syncUnsolicited();
    int64_t due = -1;
    for (const TDeadline *d : {&m_timeOut, &m_reply, &m_unsolicited}) {
        const int64_t at = d->DueUs();
        if (at >= 0 && (due < 0 || at < due))
            due = at;
    }
    return due;
}

void TLineEngine::LineDeadline()
{
    const int64_t now = m_timeOut.Now();
    // The time-out first: a partial request is dropped before a held reply
    // goes out, as the older of the two deadlines would have it anyway.
    if (m_timeOut.Due(now))
        m_engine.TimeOutTimerTimer();
    if (m_reply.Due(now))
        m_engine.ReplyTimerTimer();
    syncUnsolicited();
    if (m_unsolicited.Due(now)) {
        m_unsolicited.Start(m_unsolicitedMs);
        m_engine.UnsolicitedTimerTimer();
    }
}

bool TLineEngine::LineDeadlineBeforeRead()
{
    return m_engine.Framing() != TSerialFraming::Strict;
}

void TLineEngine::LineReset()
{
    m_engine.LineClosed();
}

} // namespace quorlin
