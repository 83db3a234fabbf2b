// SPDX-License-Identifier: MIT
#include "serial/timeouttimer.h"

namespace quorlin
{

TQtTimeOutTimer::TQtTimeOutTimer(QObject *Owner, int IntervalMs) : QObject(Owner), m_timer(this)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer();
        emit timeout();
    });
}

void TQtTimeOutTimer::Start()
{
    m_timer.start();
}
void TQtTimeOutTimer::Stop()
{
    m_timer.stop();
}
bool TQtTimeOutTimer::IsRunning() const
{
    return m_timer.isActive();
}

} // namespace quorlin
