// SPDX-License-Identifier: MIT
#include "monitor/monitorform.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

namespace quorlin
{

namespace
{

// Frames that were thrown away, exceptions, and frames that were not ours.
const QColor DiscardedBackground(255, 205, 205);
const QColor ExceptionBackground(255, 236, 179);
const QColor NotOursForeground(128, 128, 128);
// Replies that faults were injected into: a master's failure there is wanted.
const QColor InjectedBackground(222, 200, 255);

} // namespace

TTrafficModel::TTrafficModel(const TTrafficStore &Store, QObject *Parent)
    : QAbstractTableModel(Parent), m_store(Store), m_scanned(Store.FirstSeq()),
      m_fixedFont(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{
}

int TTrafficModel::rowCount(const QModelIndex &Parent) const
{
    return Parent.isValid() ? 0 : int(m_seqs.size());
}

int TTrafficModel::columnCount(const QModelIndex &Parent) const
{
    return Parent.isValid() ? 0 : ColumnCount;
}

QVariant TTrafficModel::data(const QModelIndex &Index, int Role) const
{
    if (!Index.isValid() || Index.row() >= int(m_seqs.size()))
        return {};
    const TTrafficRow &row = Row(Index.row());
    switch (Role) {
    case Qt::DisplayRole:
        switch (Index.column()) {
        case ColTime:
            return QString::fromStdString(LocalTimeText(row.TimeUs))
                .replace(QLatin1Char('T'), QLatin1Char(' '));
        case ColDirection:
            return row.Direction == TDirection::Rx ? QStringLiteral("RX") : QStringLiteral("TX");
        case ColSlave:
            return row.Slave < 0 ? QVariant() : QVariant(int(row.Slave));
        case ColFunction:
            return QString::fromStdString(FunctionText(row.Function));
        case ColAddress:
            return QString::fromStdString(RegisterText(row));
        case ColQuantity:
            return row.Quantity < 0 ? QVariant() : QVariant(int(row.Quantity));
        case ColResult:
            return QString::fromStdString(ResultText(row));
        case ColBytes:
            return QString::fromStdString(HexText(row.Bytes));
        case ColLine:
            return QString::fromStdString(row.Line);
        case ColGap:
            return row.GapUs < 0 ? QVariant() : QVariant(qlonglong(row.GapUs));
        case ColTurnaround:
            return row.TurnaroundUs < 0 ? QVariant() : QVariant(qlonglong(row.TurnaroundUs));
        }
        break;
    case Qt::BackgroundRole:
        if (IsInjectedRow(row))
            return InjectedBackground;
        if (IsDiscarded(row.Verdict))
            return DiscardedBackground;
        if (row.Verdict == TVerdict::Exception)
            return ExceptionBackground;
        break;
    case Qt::ForegroundRole:
        if (row.Verdict == TVerdict::OtherSlave ||
            (row.Verdict == TVerdict::Broadcast && row.Broadcast != TBroadcastFate::CarriedOut))
            return NotOursForeground;
        break;
    case Qt::FontRole:
        if (Index.column() == ColBytes || Index.column() == ColTime)
            return m_fixedFont;
        break;
    default:
        break;
    }
    return {};
}

QVariant TTrafficModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(Section, Orientation, Role);
    static const char *const names[ColumnCount] = {
        "Time",   "Dir",  "Slave",    "Function",        "Register", "Quantity",
        "Result", "Line", "Gap (us)", "Turnaround (us)", "Bytes"};
    return Section >= 0 && Section < ColumnCount ? QString::fromLatin1(names[Section]) : QVariant();
}

void TTrafficModel::Sync()
{
    // Rows dropped from the store (or cleared) leave the front of the view.
    size_t gone = 0;
    while (gone < m_seqs.size() && m_seqs[gone] < m_store.FirstSeq())
        ++gone;
    if (gone > 0) {
        beginRemoveRows(QModelIndex(), 0, int(gone) - 1);
        m_seqs.erase(m_seqs.begin(), m_seqs.begin() + std::ptrdiff_t(gone));
        endRemoveRows();
    }
    // New rows; those that were dropped before this view saw them are skipped.
    std::vector<uint64_t> fresh;
    for (uint64_t seq = std::max(m_scanned, m_store.FirstSeq()); seq < m_store.EndSeq(); ++seq)
        if (FilterAccepts(m_filter, m_store.AtSeq(seq)) &&
            SlaveAccepts(m_slave, m_store.AtSeq(seq)) && LineAccepts(m_line, m_store.AtSeq(seq)))
            fresh.push_back(seq);
    m_scanned = m_store.EndSeq();
    if (!fresh.empty()) {
        const int first = int(m_seqs.size());
        beginInsertRows(QModelIndex(), first, first + int(fresh.size()) - 1);
        m_seqs.insert(m_seqs.end(), fresh.begin(), fresh.end());
        endInsertRows();
    }
}

void TTrafficModel::SetFilter(TRowFilter Filter)
{
    beginResetModel();
    m_filter = Filter;
    m_seqs.clear();
    m_scanned = m_store.FirstSeq();
    endResetModel();
    Sync();
}

void TTrafficModel::SetSlave(int Slave)
{
    beginResetModel();
    m_slave = Slave;
    m_seqs.clear();
    m_scanned = m_store.FirstSeq();
    endResetModel();
    Sync();
}

void TTrafficModel::SetLine(const std::string &Line)
{
    beginResetModel();
    m_line = Line;
    m_seqs.clear();
    m_scanned = m_store.FirstSeq();
    endResetModel();
    Sync();
}

QString CountersText(const TLineCounters &C)
{
    return QStringLiteral("Requests %1, replies %2, exceptions %3, bad CRC %4, other slave %5, "
                          "broadcast %6, timed out %7, too long %8, no reply %9, injected %10; "
                          "bytes in %11, out %12")
        .arg(C.Requests)
        .arg(C.Replies)
        .arg(C.Exceptions)
        .arg(C.BadCrc)
        .arg(C.OtherSlave)
        .arg(C.Broadcast)
        .arg(C.TimedOut)
        .arg(C.TooLong)
        .arg(C.NoReply)
        .arg(C.Injected)
        .arg(C.BytesIn)
        .arg(C.BytesOut) +
           (C.BadHeader > 0 ? QStringLiteral("; bad Modbus TCP headers %1").arg(C.BadHeader)
                            : QString()) +
           // Replies that never went out, named only once there are some.
           (C.Failed + C.Cancelled == 0
                ? QString()
                : QStringLiteral("; not sent: failed %1, cancelled %2").arg(C.Failed).arg(C.Cancelled)) +
           // Timing marks, named only once a frame was marked.
           (C.TooSoon + C.GapInside == 0
                ? QString()
                : QStringLiteral("; too soon %1, gap inside %2").arg(C.TooSoon).arg(C.GapInside));
}

TMonitorForm::TMonitorForm(TTrafficRecorder &Recorder, QWidget *Parent)
    : QWidget(Parent, Qt::Window), m_recorder(Recorder)
{
    setObjectName(QStringLiteral("MonitorForm"));
    setWindowTitle(QStringLiteral("Traffic Monitor"));
    resize(1100, 520);

    FilterBox = new QComboBox(this);
    FilterBox->setObjectName(QStringLiteral("FilterBox"));
    for (int f = 0; f < RowFilterCount; ++f)
        FilterBox->addItem(QString::fromStdString(FilterName(TRowFilter(f))));
    SlaveBox = new QComboBox(this);
    SlaveBox->setObjectName(QStringLiteral("SlaveBox"));
    SlaveBox->addItem(QStringLiteral("All slaves"));
    LineBox = new QComboBox(this);
    LineBox->setObjectName(QStringLiteral("LineBox"));
    LineBox->addItem(QStringLiteral("All lines"));
    PauseButton = new QPushButton(QStringLiteral("&Pause"), this);
    PauseButton->setObjectName(QStringLiteral("PauseButton"));
    PauseButton->setCheckable(true);
    ClearButton = new QPushButton(QStringLiteral("&Clear"), this);
    ClearButton->setObjectName(QStringLiteral("ClearButton"));
    SaveAsButton = new QPushButton(QStringLiteral("&Save As..."), this);
    SaveAsButton->setObjectName(QStringLiteral("SaveAsButton"));
    ResetButton = new QPushButton(QStringLiteral("&Reset Counters"), this);
    ResetButton->setObjectName(QStringLiteral("ResetButton"));
    RowsLabel = new QLabel(this);
    RowsLabel->setObjectName(QStringLiteral("RowsLabel"));

    auto *tools = new QHBoxLayout;
    tools->addWidget(new QLabel(QStringLiteral("Show:"), this));
    tools->addWidget(FilterBox);
    tools->addWidget(SlaveBox);
    tools->addWidget(LineBox);
    tools->addWidget(PauseButton);
    tools->addWidget(ClearButton);
    tools->addWidget(SaveAsButton);
    tools->addWidget(ResetButton);
    tools->addStretch(1);
    tools->addWidget(RowsLabel);

    Model = new TTrafficModel(m_recorder.Store, this);
    TrafficView = new QTableView(this);
    TrafficView->setObjectName(QStringLiteral("TrafficView"));
    TrafficView->setModel(Model);
    TrafficView->setSelectionBehavior(QAbstractItemView::SelectRows);
    TrafficView->setWordWrap(false);
    TrafficView->verticalHeader()->hide();
    // A fixed row height lets the view skip measuring 100,000 rows.
    TrafficView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TrafficView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    TrafficView->horizontalHeader()->setStretchLastSection(true);
    // Columns as wide as their contents, each in the font it is drawn in; the
    // ones whose text varies grow as wider rows come (fitColumns).
    const QFontMetrics plain = TrafficView->fontMetrics();
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics heading(TrafficView->horizontalHeader()->font());
    auto fit = [&](int Column, const QFontMetrics &Metrics, const QString &Widest) {
        const int text = Metrics.horizontalAdvance(Widest) + ColumnPadding;
        const int title =
            heading.horizontalAdvance(Model->headerData(Column, Qt::Horizontal, Qt::DisplayRole)
                                          .toString()) +
            2 * ColumnPadding;
        TrafficView->setColumnWidth(Column, std::max(text, title));
    };
    fit(TTrafficModel::ColTime, fixed, QStringLiteral("2026-12-31 23:59:59.999999"));
    fit(TTrafficModel::ColDirection, plain, QStringLiteral("RX"));
    fit(TTrafficModel::ColSlave, plain, QStringLiteral("255"));
    fit(TTrafficModel::ColFunction, plain, QStringLiteral("16 Write Multiple Registers"));
    fit(TTrafficModel::ColAddress, plain, QStringLiteral("4x65536"));
    fit(TTrafficModel::ColQuantity, plain, QStringLiteral("65535"));
    fit(TTrafficModel::ColResult, plain, QStringLiteral("exception 2"));
    fit(TTrafficModel::ColLine, plain, QStringLiteral("tcp 127.0.0.1:40312"));
    fit(TTrafficModel::ColGap, plain, QStringLiteral("3600000000"));
    fit(TTrafficModel::ColTurnaround, plain, QStringLiteral("10000000"));

    CountersLabel = new QLabel(this);
    CountersLabel->setObjectName(QStringLiteral("CountersLabel"));
    CountersLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Every counter stays in sight in a narrow window: the line wraps
    // instead of making the window wider than the screen.
    CountersLabel->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addWidget(TrafficView, 1);
    layout->addWidget(CountersLabel);

    connect(FilterBox, &QComboBox::currentIndexChanged, this, &TMonitorForm::FilterChanged);
    connect(SlaveBox, &QComboBox::currentIndexChanged, this, &TMonitorForm::SlaveChanged);
    connect(LineBox, &QComboBox::currentIndexChanged, this, &TMonitorForm::LineChanged);
    connect(PauseButton, &QPushButton::toggled, this, &TMonitorForm::PauseClicked);
    connect(ClearButton, &QPushButton::clicked, this, &TMonitorForm::ClearClicked);
    connect(SaveAsButton, &QPushButton::clicked, this, &TMonitorForm::SaveAsClicked);
    connect(ResetButton, &QPushButton::clicked, this, &TMonitorForm::ResetCountersClicked);

    AskSaveFileName = [](QWidget *Parent) -> std::optional<QString> {
        const QString path =
            QFileDialog::getSaveFileName(Parent, QStringLiteral("Save traffic as..."), QString(),
                                         QStringLiteral("CSV files (*.csv);;Any files (*)"));
        return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
    };
    ShowError = [](QWidget *Parent, const QString &Text) {
        QMessageBox::critical(Parent, QStringLiteral("Error"), Text);
    };

    Refresh();
}

void TMonitorForm::Refresh()
{
    updateSlaveBox();
    updateLineBox();
    if (m_recorder.Generation == m_seenGeneration)
        return;
    m_seenGeneration = m_recorder.Generation;
    // Follow the end unless the user has scrolled up to read something.
    QScrollBar *bar = TrafficView->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int before = Model->rowCount();
    Model->Sync();
    fitColumns(before);
    if (atEnd)
        TrafficView->scrollToBottom();
    updateLabels();
}

void TMonitorForm::fitColumns(int First)
{
    // Only the rows that came since the last look (and not more than a
    // screenful of them at a time): what was measured stays measured.
    const int rows = Model->rowCount();
    First = std::max({First, 0, rows - 2000});
    const QFontMetrics metrics = TrafficView->fontMetrics();
    for (int column : {int(TTrafficModel::ColFunction), int(TTrafficModel::ColAddress),
                       int(TTrafficModel::ColResult)}) {
        int widest = TrafficView->columnWidth(column);
        for (int r = First; r < rows; ++r)
            widest = std::max(widest, metrics.horizontalAdvance(
                                          Model->data(Model->index(r, column), Qt::DisplayRole)
                                              .toString()) +
                                          ColumnPadding);
        if (widest > TrafficView->columnWidth(column))
            TrafficView->setColumnWidth(column, widest);
    }
}

void TMonitorForm::updateLabels()
{
    QString rows = QStringLiteral("%1 rows").arg(Model->rowCount());
    if (m_recorder.Store.Dropped() > 0)
        rows += QStringLiteral(", %1 older rows dropped").arg(m_recorder.Store.Dropped());
    if (m_recorder.LostFrames > 0)
        rows +=
            QStringLiteral(", %1 frames lost: the window fell behind").arg(m_recorder.LostFrames);
    if (m_recorder.Paused)
        rows += QStringLiteral(", paused: %1 rows not shown").arg(m_recorder.PausedRows);
    RowsLabel->setText(rows);
    const int slave = Model->Slave();
    if (slave >= 0 && slave < int(m_recorder.SlaveCounters.size()))
        CountersLabel->setText(QStringLiteral("MB id %1: ").arg(slave) +
                               CountersText(m_recorder.SlaveCounters[size_t(slave)]));
    else
        CountersLabel->setText(CountersText(m_recorder.Counters));
}

void TMonitorForm::updateSlaveBox()
{
    const std::vector<int> ids = SlaveIds ? SlaveIds() : std::vector<int>{};
    if (ids == m_slaveIds)
        return;
    // Rebuilt quietly; the slave shown stays chosen while it is on the line.
    const int shown = Model->Slave();
    m_slaveIds = ids;
    const QSignalBlocker quiet(SlaveBox);
    SlaveBox->clear();
    SlaveBox->addItem(QStringLiteral("All slaves"));
    int index = 0;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        SlaveBox->addItem(QStringLiteral("MB id %1").arg(ids[i]));
        if (ids[i] == shown)
            index = int(i) + 1;
    }
    SlaveBox->setCurrentIndex(index);
    if (index == 0 && shown >= 0)
        SlaveChanged(0);
}

void TMonitorForm::updateLineBox()
{
    // The serial line, both kinds of connection, then each line seen.
    std::vector<std::string> items;
    if (!m_recorder.SerialLine.empty())
        items.push_back(m_recorder.SerialLine);
    if (!m_recorder.SeenLines.empty()) {
        items.push_back("tcp");
        items.push_back("rtu-tcp");
    }
    for (const std::string &l : m_recorder.SeenLines)
        if (l != m_recorder.SerialLine)
            items.push_back(l);
    if (items == m_lineItems)
        return;
    const std::string shown = Model->Line();
    m_lineItems = items;
    const QSignalBlocker quiet(LineBox);
    LineBox->clear();
    LineBox->addItem(QStringLiteral("All lines"));
    int index = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        LineBox->addItem(QString::fromStdString(items[i]));
        if (items[i] == shown)
            index = int(i) + 1;
    }
    LineBox->setCurrentIndex(index);
    if (index == 0 && !shown.empty())
        LineChanged(0);
}

void TMonitorForm::LineChanged(int Index)
{
    if (Index < 0 || Index > int(m_lineItems.size()))
        return;
    Model->SetLine(Index == 0 ? std::string() : m_lineItems[size_t(Index - 1)]);
    TrafficView->scrollToBottom();
    updateLabels();
}

void TMonitorForm::SlaveChanged(int Index)
{
    if (Index < 0 || Index > int(m_slaveIds.size()))
        return;
    Model->SetSlave(Index == 0 ? -1 : m_slaveIds[size_t(Index - 1)]);
    TrafficView->scrollToBottom();
    updateLabels();
}

void TMonitorForm::FilterChanged(int Index)
{
    if (Index < 0 || Index >= RowFilterCount)
        return;
    Model->SetFilter(TRowFilter(Index));
    TrafficView->scrollToBottom();
    updateLabels();
}

void TMonitorForm::PauseClicked(bool Paused)
{
    m_recorder.Paused = Paused;
    m_recorder.PausedRows = 0;
    updateLabels();
}

void TMonitorForm::ClearClicked()
{
    m_recorder.Store.Clear();
    m_recorder.LostFrames = 0;
    Model->Sync();
    updateLabels();
}

void TMonitorForm::ResetCountersClicked()
{
    m_recorder.ResetCounters();
    updateLabels();
}

bool TMonitorForm::SaveCsv(const QString &Path, QString *Error)
{
    // All or nothing: an existing file is replaced only once the new one is whole.
    QSaveFile file(Path);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        std::string text = std::string(CsvHeader) + "\r\n";
        for (int i = 0; i < Model->rowCount(); ++i)
            text += CsvLine(Model->Row(i));
        ok = file.write(text.data(), qint64(text.size())) == qint64(text.size()) && file.commit();
    }
    if (!ok && Error)
        *Error = file.errorString();
    return ok;
}

void TMonitorForm::SaveAsClicked()
{
    const std::optional<QString> path = AskSaveFileName(this);
    if (!path)
        return;
    Model->Sync(); // what is saved is what the window holds now
    QString why;
    if (!SaveCsv(*path, &why))
        ShowError(this, QStringLiteral("Unable to write to %1").arg(*path));
}

} // namespace quorlin
