// SPDX-License-Identifier: MIT
#include "pollstats/pollstatsview.h"

#include <QAction>
#include <QMenu>

#include "engine/deadline.h"
#include "pollstats/pollstatsform.h"

namespace quorlin
{

TPollStatsView::TPollStatsView(IFrameObserver *Queue, QWidget *Owner)
    : QObject(Owner), m_owner(Owner), m_collector(MonotonicUs), m_tee(Queue, &m_collector)
{
}

QAction *TPollStatsView::AddTo(QMenu &Menu)
{
    QAction *a = Menu.addAction(QStringLiteral("Poll &Statistics"));
    a->setObjectName(QStringLiteral("PollStatistics1"));
    connect(a, &QAction::triggered, this, &TPollStatsView::Show);
    return a;
}

void TPollStatsView::Show()
{
    if (!m_form) {
        m_form = new TPollStatsForm(m_collector, m_owner);
        m_form->SerialLineName = SerialLineName;
    }
    m_form->show();
    m_form->raise();
    m_form->activateWindow();
}

} // namespace quorlin
