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

int64_t TLineEngine::LineDeadlineUs()
{
    const int64_t a = m_timeOut.DueUs();
    const int64_t b = m_reply.DueUs();
    if (a < 0)
        return b;
    return b < 0 || a < b ? a : b;
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
