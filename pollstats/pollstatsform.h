// SPDX-License-Identifier: MIT
// "View > Poll Statistics": a separate, resizable window with one row per
// line, slave and function a master polled. The statistics are gathered on
// the lines' threads; the window copies them twice a second while it shows.
#pragma once

#include <QWidget>

#include <functional>

#include "engine/pollstats.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace quorlin
{

class TPollStatsForm : public QWidget
{
    Q_OBJECT
  public:
    enum Column {
        ColLine,
        ColSlave,
        ColFunction,
        ColRequests,
        ColRate,
        ColShortest,
        ColMean,
        ColLongest,
        ColRetries,
        ColRegisters,
        ColumnCount
    };

    TPollStatsForm(TPollCollector &Collector, QWidget *Parent = nullptr);

    // Copies the statistics and shows them.
    void Refresh();
    void ClearClicked();

    // The name the serial line's rows show ("COM2"); unset: "serial".
    std::function<QString()> SerialLineName;

    QTableWidget *Table = nullptr;
    QPushButton *ClearButton = nullptr;
    QLabel *SummaryLabel = nullptr;

  protected:
    void showEvent(QShowEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;

  private:
    TPollCollector &m_collector;
    QTimer *m_tick = nullptr;
};

// "12.5 ms", "1.250 s": an interval as a person reads it; "" for none (< 0).
QString IntervalText(int64_t Us);

} // namespace quorlin
