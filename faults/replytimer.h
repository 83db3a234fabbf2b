// SPDX-License-Identifier: MIT
// The engine's reply timer: a single-shot QTimer on the user-interface
// thread, so a held-back reply never blocks the window or the tick.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "engine/replysender.h"

namespace quorlin
{

class TQtReplyTimer : public QObject, public IReplyTimer
{
    Q_OBJECT
  public:
    explicit TQtReplyTimer(QObject *Owner = nullptr);

    void Start(int Ms) override;
    void Stop() override;
    bool IsRunning() const override;

    // Called when the timer fires (it has stopped by then).
    std::function<void()> OnTimer;

  private:
    QTimer m_timer;
};

} // namespace quorlin
