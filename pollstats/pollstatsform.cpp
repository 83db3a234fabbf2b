// SPDX-License-Identifier: MIT
#include "pollstats/pollstatsform.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace quorlin
{

namespace
{

QString functionText(int Function)
{
    static const char *const names[] = {
        nullptr, "Read Coils", "Read Discrete Inputs", "Read Holding Registers",
        "Read Input Registers", "Write Single Coil", "Write Single Register"};
    if (Function >= 1 && Function <= 6)
        return QStringLiteral("%1 %2").arg(Function).arg(QLatin1String(names[Function]));
    switch (Function) {
    case 15:
        return QStringLiteral("15 Write Multiple Coils");
    case 16:
        return QStringLiteral("16 Write Multiple Registers");
    case 22:
        return QStringLiteral("22 Mask Write Register");
    case 23:
        return QStringLiteral("23 Read/Write Multiple Registers");
    default:
        return QString::number(Function);
    }
}

QTableWidgetItem *numberItem(const QVariant &Value)
{
    auto *item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, Value);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

QString IntervalText(int64_t Us)
{
    if (Us < 0)
        return {};
    if (Us < 1000000)
        return QStringLiteral("%1 ms").arg(double(Us) / 1000.0, 0, 'f', 1);
    return QStringLiteral("%1 s").arg(double(Us) / 1e6, 0, 'f', 3);
}

TPollStatsForm::TPollStatsForm(TPollCollector &Collector, QWidget *Parent)
    : QWidget(Parent, Qt::Window), m_collector(Collector)
{
    setObjectName(QStringLiteral("PollStatsForm"));
    setWindowTitle(QStringLiteral("Poll Statistics"));
    resize(980, 360);

    Table = new QTableWidget(0, ColumnCount, this);
    Table->setObjectName(QStringLiteral("PollTable"));
    Table->setHorizontalHeaderLabels({QStringLiteral("Line"), QStringLiteral("Slave"),
                                      QStringLiteral("Function"), QStringLiteral("Requests"),
                                      QStringLiteral("Rate (/s)"), QStringLiteral("Shortest"),
                                      QStringLiteral("Mean"), QStringLiteral("Longest"),
                                      QStringLiteral("Retries"), QStringLiteral("Registers")});
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->setColumnWidth(ColFunction, 220);

    ClearButton = new QPushButton(QStringLiteral("&Clear"), this);
    ClearButton->setObjectName(QStringLiteral("ClearButton"));
    SummaryLabel = new QLabel(this);
    SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
    SummaryLabel->setWordWrap(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(SummaryLabel, 1);
    buttons->addWidget(ClearButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Table, 1);
    layout->addLayout(buttons);

    m_tick = new QTimer(this);
    m_tick->setInterval(500);
    connect(m_tick, &QTimer::timeout, this, &TPollStatsForm::Refresh);
    connect(ClearButton, &QPushButton::clicked, this, &TPollStatsForm::ClearClicked);
}

void TPollStatsForm::showEvent(QShowEvent *Event)
{
    Refresh();
    m_tick->start();
    QWidget::showEvent(Event);
}

void TPollStatsForm::hideEvent(QHideEvent *Event)
{
    m_tick->stop();
    QWidget::hideEvent(Event);
}

void TPollStatsForm::Refresh()
{
    const std::vector<TPollEntry> entries = m_collector.Snapshot();
    const QString serial = SerialLineName ? SerialLineName() : QStringLiteral("serial");
    Table->setSortingEnabled(false);
    Table->setRowCount(int(entries.size()));
    uint64_t requests = 0, retries = 0;
    for (int r = 0; r < int(entries.size()); ++r) {
        const TPollEntry &e = entries[size_t(r)];
        requests += e.Requests;
        retries += e.Retries;
        Table->setItem(r, ColLine,
                       new QTableWidgetItem(e.Line.empty() ? serial : QString::fromStdString(e.Line)));
        Table->setItem(r, ColSlave, numberItem(e.Slave));
        Table->setItem(r, ColFunction, new QTableWidgetItem(functionText(e.Function)));
        Table->setItem(r, ColRequests, numberItem(qulonglong(e.Requests)));
        Table->setItem(r, ColRate,
                       numberItem(e.Requests > 1 ? QString::number(e.Rate(), 'f', 2) : QString()));
        Table->setItem(r, ColShortest, numberItem(IntervalText(e.ShortestUs)));
        Table->setItem(r, ColMean, numberItem(IntervalText(e.MeanUs())));
        Table->setItem(r, ColLongest, numberItem(IntervalText(e.LongestUs)));
        Table->setItem(r, ColRetries, numberItem(qulonglong(e.Retries)));
        Table->setItem(r, ColRegisters,
                       new QTableWidgetItem(QString::fromStdString(RangesText(e.Function, e.Ranges))));
    }
    SummaryLabel->setText(entries.empty()
                              ? QStringLiteral("No request seen yet.")
                              : QStringLiteral("%1 requests, %2 of them retries")
                                    .arg(requests)
                                    .arg(retries));
}

void TPollStatsForm::ClearClicked()
{
    m_collector.Clear();
    Refresh();
}

} // namespace quorlin
