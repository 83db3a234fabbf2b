// SPDX-License-Identifier: MIT
// What the main window needs for poll statistics: the collector that sees
// every frame beside the frame queue, its menu item, and the window, made
// the first time it is asked for.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

#include "engine/pollstats.h"
#include "pollstats/pollstatsform.h"

class QAction;
class QMenu;
class QWidget;

namespace quorlin
{

class TPollStatsView : public QObject
{
    Q_OBJECT
  public:
    // Queue: the observer that had the engine's reports so far (it keeps them).
    TPollStatsView(IFrameObserver *Queue, QWidget *Owner);

    // What the engine reports to: the queue, then the statistics.
    IFrameObserver *Observer() { return &m_tee; }
    TPollCollector &Collector() { return m_collector; }
    // Adds "Poll Statistics" to Menu.
    QAction *AddTo(QMenu &Menu);
    // Shows the window (made now the first time).
    void Show();
    TPollStatsForm *Form() const { return m_form; }

    std::function<QString()> SerialLineName;

  private:
    QWidget *m_owner;
    TPollCollector m_collector;
    TFrameTee m_tee;
    QPointer<TPollStatsForm> m_form;
};

} // namespace quorlin
