// SPDX-License-Identifier: MIT
#include "faults/replytimer.h"

namespace quorlin
{

TQtReplyTimer::TQtReplyTimer(QObject *Owner) : QObject(Owner), m_timer(this)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; a delay is a promise to the master.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer();
    });
}

void TQtReplyTimer::Start(int Ms)
{
    m_timer.start(Ms);
}
void TQtReplyTimer::Stop()
{
    m_timer.stop();
}
bool TQtReplyTimer::IsRunning() const
{
    return m_timer.isActive();
}

} // namespace quorlin
