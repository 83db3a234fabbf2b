// SPDX-License-Identifier: MIT
// The traffic monitor: a separate, resizable window with one row per frame,
// newest at the bottom. It repaints only when Refresh runs (the main
// window's 100 ms tick), never per frame, and keeps nothing between runs.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>

#include <deque>
#include <functional>
#include <optional>

#include "monitor/traffic.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace quorlin
{

// The rows of a store that pass a filter, as a table. It follows the store
// only in Sync, so the view changes at the caller's pace.
class TTrafficModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    enum Column {
        ColTime,
        ColDirection,
        ColSlave,
        ColFunction,
        ColAddress,
        ColQuantity,
        ColResult,
        ColLine,
        ColGap,        // silence before the frame, microseconds
        ColTurnaround, // a reply's: from the end of its request, microseconds
        ColBytes,
        ColumnCount
    };

    explicit TTrafficModel(const TTrafficStore &Store, QObject *Parent = nullptr);

    int rowCount(const QModelIndex &Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

    // Drops the rows the store no longer holds and adds its new ones.
    void Sync();
    void SetFilter(TRowFilter Filter);
    TRowFilter Filter() const { return m_filter; }
    // Only that slave's rows (and broadcasts); -1: every slave.
    void SetSlave(int Slave);
    int Slave() const { return m_slave; }
    // Only the rows of that line (LineAccepts); empty: every line.
    void SetLine(const std::string &Line);
    const std::string &Line() const { return m_line; }
    const TTrafficRow &Row(int Index) const { return m_store.AtSeq(m_seqs[size_t(Index)]); }

  private:
    const TTrafficStore &m_store;
    TRowFilter m_filter = TRowFilter::All;
    int m_slave = -1;
    std::string m_line;
    std::deque<uint64_t> m_seqs; // sequence numbers of the rows shown
    uint64_t m_scanned = 0;      // the store's rows below this were looked at
    QVariant m_fixedFont;        // asked for once: the view asks for it per cell
};

class TMonitorForm : public QWidget
{
    Q_OBJECT
  public:
    explicit TMonitorForm(TTrafficRecorder &Recorder, QWidget *Parent = nullptr);

    // Brings the view up to date with the recorder; cheap when nothing came.
    void Refresh();
    // Writes the rows shown (as filtered) to Path as CSV; false on failure.
    bool SaveCsv(const QString &Path, QString *Error = nullptr);

    void FilterChanged(int Index);
    void SlaveChanged(int Index);
    void LineChanged(int Index);

    // The ids of the slaves on the line, for the slave filter; unset, the
    // filter offers "All slaves" only.
    std::function<std::vector<int>()> SlaveIds;
    void PauseClicked(bool Paused);
    void ClearClicked();
    void SaveAsClicked();
    void ResetCountersClicked();

    // Seams for tests: where "Save As..." asks for a file, how it reports.
    std::function<std::optional<QString>(QWidget *)> AskSaveFileName;
    std::function<void(QWidget *, const QString &)> ShowError;

    TTrafficModel *Model = nullptr;
    QTableView *TrafficView = nullptr;
    QComboBox *FilterBox = nullptr;
    QComboBox *SlaveBox = nullptr; // "All slaves", "MB id 1", ...
    QComboBox *LineBox = nullptr;  // "All lines", "COM1", "tcp", "rtu-tcp", lines seen
    QPushButton *PauseButton = nullptr;
    QPushButton *ClearButton = nullptr;
    QPushButton *SaveAsButton = nullptr;
    QPushButton *ResetButton = nullptr;
    QLabel *RowsLabel = nullptr;     // rows shown, dropped, paused
    QLabel *CountersLabel = nullptr; // every counter of the line

    // Room beside a cell's text: the view's margins and the grid line.
    static constexpr int ColumnPadding = 16;

  private:
    void updateLabels();
    void fitColumns(int First);
    void updateSlaveBox();
    void updateLineBox();
    std::vector<std::string> m_lineItems; // as LineBox lists them after "All lines"
    std::vector<int> m_slaveIds; // as SlaveBox lists them

    TTrafficRecorder &m_recorder;
    uint64_t m_seenGeneration = UINT64_MAX;
};

// "Requests 12, replies 12, exceptions 1, ...": every counter, for the monitor.
QString CountersText(const TLineCounters &Counters);

} // namespace quorlin
