// SPDX-License-Identifier: MIT
// The engine's request time-out: a single-shot 100 ms QTimer.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "engine/serialline.h"

namespace quorlin
{

class TQtTimeOutTimer : public QObject, public ITimeOutTimer
{
    Q_OBJECT
  public:
    explicit TQtTimeOutTimer(QObject *Owner = nullptr, int IntervalMs = 100);

    void Start() override;
    void Stop() override;
    bool IsRunning() const override;
    QTimer &Timer() { return m_timer; }

    // Called when the time-out fires (the timer has already stopped); the
    // timeout() signal is emitted as well.
    std::function<void()> OnTimer;

  signals:
    void timeout();

  private:
    QTimer m_timer;
};

} // namespace quorlin
