// SPDX-License-Identifier: MIT
// The monitor window fed by a recorder as the engine feeds it: rows appear
// only when the window refreshes, filters, pause, clear, the bounded store,
// following the end, colours, and "Save As...".
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "monitor/monitorform.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

class MonitorFormTest : public ::testing::Test
{
  protected:
    explicit MonitorFormTest(size_t Capacity = 1000) : m_rec(Capacity), m_form(m_rec) {}

    // One engine report: the bytes are kept alive by the test for the call.
    void report(TVerdict Verdict, const std::string &Rx, const std::string &Reply = "",
                uint8_t Code = 0)
    {
        const Bytes rx = hex(Rx), reply = hex(Reply);
        TFrameReport r;
        r.Verdict = Verdict;
        r.ExceptionCode = Code;
        r.Rx = rx;
        r.Reply = reply;
        m_rec.FrameDone(r);
    }
    void someTraffic()
    {
        report(TVerdict::Answered, "01 03 00 00 00 02 C4 0B", "01 03 04 12 34 00 05 7E 86");
        report(TVerdict::BadCrc, "01 03 00 00 00 0A C5 CC");
        report(TVerdict::Exception, "01 01 08 00 00 01 FF AA", "01 81 02 C1 91", 2);
        report(TVerdict::OtherSlave, "02 03 00 00 00 0A crc");
    }
    QString cell(int Row, int Column)
    {
        return m_form.Model->data(m_form.Model->index(Row, Column), Qt::DisplayRole).toString();
    }
    QStringList column(int Column)
    {
        QStringList out;
        for (int r = 0; r < m_form.Model->rowCount(); ++r)
            out << cell(r, Column);
        return out;
    }

    TTrafficRecorder m_rec;
    TMonitorForm m_form;
};

TEST_F(MonitorFormTest, RowsWaitForTheRefreshAndShowEveryColumn)
{
    someTraffic();
    EXPECT_EQ(m_form.Model->rowCount(), 0); // no repaint per frame
    m_form.Refresh();
    ASSERT_EQ(m_form.Model->rowCount(), 6);
    using M = TTrafficModel;
    EXPECT_EQ(column(M::ColDirection), (QStringList{"RX", "TX", "RX", "RX", "TX", "RX"}));
    EXPECT_EQ(column(M::ColResult), (QStringList{"answered", "reply", "bad crc", "exception 2",
                                                 "exception 2", "other slave"}));
    EXPECT_EQ(column(M::ColAddress),
              (QStringList{"4x0001", "4x0001", "4x0001", "0x2049", "0x2049", "4x0001"}));
    EXPECT_EQ(cell(0, M::ColFunction), QStringLiteral("3 Read Holding Registers"));
    EXPECT_EQ(cell(0, M::ColSlave), QStringLiteral("1"));
    EXPECT_EQ(cell(0, M::ColQuantity), QStringLiteral("2"));
    EXPECT_EQ(cell(1, M::ColBytes), QStringLiteral("01 03 04 12 34 00 05 7E 86"));
    // Local time to the microsecond.
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}$)"))
                    .match(cell(0, M::ColTime))
                    .hasMatch())
        << cell(0, M::ColTime).toStdString();
    EXPECT_TRUE(m_form.CountersLabel->text().startsWith(
        QStringLiteral("Requests 2, replies 2, exceptions 1, bad CRC 1, other slave 1")));
}

TEST_F(MonitorFormTest, BadAndDiscardedRowsStandOutByColour)
{
    someTraffic();
    report(TVerdict::TimedOut, "01 03");
    m_form.Refresh();
    auto background = [this](int Row) {
        return m_form.Model->data(m_form.Model->index(Row, 0), Qt::BackgroundRole);
    };
    EXPECT_FALSE(background(0).isValid()); // answered: plain
    EXPECT_FALSE(background(1).isValid());
    const QVariant bad = background(2), exception = background(3), late = background(6);
    ASSERT_TRUE(bad.isValid() && exception.isValid() && late.isValid());
    EXPECT_EQ(bad, late);
    EXPECT_NE(bad, exception);
    EXPECT_TRUE(
        m_form.Model->data(m_form.Model->index(5, 0), Qt::ForegroundRole).isValid()); // not ours
}

// Every column is as wide as the widest text it holds, in the font it is drawn
// in: no time without its microseconds, no result cut to "answered, delayed 2...".
TEST_F(MonitorFormTest, ColumnsHoldTheirWholeText)
{
    someTraffic();
    const Bytes rx = hex("01 17 00 00 00 01 00 10 00 01 02 00 2A crc"), reply = hex("01 17 02 00 2A crc");
    TFrameReport r;
    r.Rx = rx;
    r.Reply = reply;
    r.Injected = TFaultKind::BadCrc;
    r.DelayMs = 2000;
    r.SplitMs = 30;
    r.Replaced = true;
    m_rec.FrameDone(r);
    m_form.Refresh();
    QTableView *view = m_form.TrafficView;
    for (int c = 0; c < TTrafficModel::ColBytes; ++c)
        for (int row = 0; row < m_form.Model->rowCount(); ++row) {
            const QModelIndex at = m_form.Model->index(row, c);
            const QVariant font = at.data(Qt::FontRole);
            const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : view->font());
            EXPECT_LE(metrics.horizontalAdvance(at.data().toString()) + 8, view->columnWidth(c))
                << "column " << c << ": " << at.data().toString().toStdString();
        }
}

// Injected faults are marked and found: their rows have a colour of their own
// and "Problems only" and "injected" keep them; the counters line counts them.
TEST_F(MonitorFormTest, InjectedRowsStandOutAndAreKeptByProblemsOnly)
{
    report(TVerdict::Answered, "01 03 00 00 00 02 C4 0B", "01 03 04 12 34 00 05 7E 86");
    const Bytes rx = hex("01 03 00 00 00 02 C4 0B");
    TFrameReport r;
    r.Rx = rx;
    r.Injected = TFaultKind::NoReply;
    m_rec.FrameDone(r);
    m_form.Refresh();
    ASSERT_EQ(m_form.Model->rowCount(), 3);
    const QVariant plain = m_form.Model->data(m_form.Model->index(0, 0), Qt::BackgroundRole);
    const QVariant injected = m_form.Model->data(m_form.Model->index(2, 0), Qt::BackgroundRole);
    EXPECT_FALSE(plain.isValid());
    ASSERT_TRUE(injected.isValid());
    report(TVerdict::BadCrc, "01 03 00 00 00 0A C5 CC");
    m_form.Refresh();
    EXPECT_NE(injected, m_form.Model->data(m_form.Model->index(3, 0), Qt::BackgroundRole));
    for (TRowFilter f : {TRowFilter::Problems, TRowFilter::Injected}) {
        m_form.FilterBox->setCurrentIndex(int(f));
        EXPECT_TRUE(column(TTrafficModel::ColResult).contains("no reply (injected)"))
            << FilterName(f);
    }
    EXPECT_EQ(m_form.FilterBox->itemText(int(TRowFilter::Injected)), QStringLiteral("injected"));
    EXPECT_TRUE(m_form.CountersLabel->text().contains(QStringLiteral("injected 1;")))
        << m_form.CountersLabel->text().toStdString();
}

TEST_F(MonitorFormTest, FilterByVerdictKeepsRequestsWithTheirReplies)
{
    someTraffic();
    m_form.Refresh();
    m_form.FilterBox->setCurrentIndex(int(TRowFilter::Exception));
    EXPECT_EQ(column(TTrafficModel::ColDirection), (QStringList{"RX", "TX"}));
    m_form.FilterBox->setCurrentIndex(int(TRowFilter::Problems));
    EXPECT_EQ(column(TTrafficModel::ColResult),
              (QStringList{"bad crc", "exception 2", "exception 2", "other slave"}));
    // New rows pass the same filter at the next refresh.
    report(TVerdict::Answered, "01 07 41 E2", "01 07 00 22 30");
    report(TVerdict::TooLong, "01 09");
    m_form.Refresh();
    EXPECT_EQ(m_form.Model->rowCount(), 5);
    m_form.FilterBox->setCurrentIndex(int(TRowFilter::All));
    EXPECT_EQ(m_form.Model->rowCount(), 9);
}

TEST_F(MonitorFormTest, SlaveFilterShowsOneSlavesRowsWithBroadcastsAndItsCounters)
{
    std::vector<int> ids = {1, 2, 17};
    m_form.SlaveIds = [&ids] { return ids; };
    report(TVerdict::Answered, "01 03 00 00 00 02 C4 0B", "01 03 04 12 34 00 05 7E 86");
    report(TVerdict::Answered, "02 06 00 01 00 07 crc", "02 06 00 01 00 07 crc");
    report(TVerdict::Broadcast, "00 06 00 01 00 07 crc");
    report(TVerdict::OtherSlave, "03 03 00 00 00 0A crc");
    report(TVerdict::BadCrc, "02 03 00 00 00 01 00 00");
    m_form.Refresh();
    QStringList items;
    for (int i = 0; i < m_form.SlaveBox->count(); ++i)
        items << m_form.SlaveBox->itemText(i);
    EXPECT_EQ(items, (QStringList{"All slaves", "MB id 1", "MB id 2", "MB id 17"}));
    EXPECT_EQ(m_form.Model->rowCount(), 7);

    m_form.SlaveBox->setCurrentIndex(2);
    EXPECT_EQ(column(TTrafficModel::ColSlave), (QStringList{"2", "2", "0", "2"}));
    EXPECT_TRUE(m_form.CountersLabel->text().startsWith("MB id 2: Requests 1, replies 1, "
                                                        "exceptions 0, bad CRC 1,"))
        << m_form.CountersLabel->text().toStdString();
    // Slave 2 leaves the line: the filter goes back to every slave.
    ids = {1, 17};
    m_form.Refresh();
    EXPECT_EQ(m_form.SlaveBox->count(), 3);
    EXPECT_EQ(m_form.SlaveBox->currentIndex(), 0);
    EXPECT_EQ(m_form.Model->rowCount(), 7);
    EXPECT_TRUE(m_form.CountersLabel->text().startsWith("Requests 2, "));
    m_form.ResetButton->click();
    EXPECT_EQ(m_rec.SlaveCounters[2], TLineCounters{});
}

TEST_F(MonitorFormTest, PauseCountsWithoutShowingAndClearEmptiesTheWindow)
{
    someTraffic();
    m_form.Refresh();
    QTest::mouseClick(m_form.PauseButton, Qt::LeftButton);
    someTraffic();
    m_form.Refresh();
    EXPECT_EQ(m_form.Model->rowCount(), 6);
    EXPECT_TRUE(m_form.RowsLabel->text().contains(QStringLiteral("paused: 6 rows not shown")))
        << m_form.RowsLabel->text().toStdString();
    EXPECT_EQ(m_rec.Counters.Requests, 4u); // counted all the same
    QTest::mouseClick(m_form.PauseButton, Qt::LeftButton);
    report(TVerdict::BadCrc, "01 02");
    m_form.Refresh();
    EXPECT_EQ(m_form.Model->rowCount(), 7);

    QTest::mouseClick(m_form.ClearButton, Qt::LeftButton);
    EXPECT_EQ(m_form.Model->rowCount(), 0);
    report(TVerdict::BadCrc, "01 02");
    m_form.Refresh();
    EXPECT_EQ(m_form.Model->rowCount(), 1);

    QTest::mouseClick(m_form.ResetButton, Qt::LeftButton);
    EXPECT_EQ(m_rec.Counters, TLineCounters{});
    EXPECT_TRUE(m_form.CountersLabel->text().startsWith(QStringLiteral("Requests 0,")));
}

class SmallMonitorTest : public MonitorFormTest
{
  protected:
    SmallMonitorTest() : MonitorFormTest(5) {}
};

TEST_F(SmallMonitorTest, KeepsTheNewestRowsAndSaysHowManyWereDropped)
{
    for (int i = 0; i < 4; ++i)
        someTraffic(); // 24 rows
    m_form.Refresh();
    EXPECT_EQ(m_form.Model->rowCount(), 5);
    EXPECT_TRUE(m_form.RowsLabel->text().contains(QStringLiteral("19 older rows dropped")))
        << m_form.RowsLabel->text().toStdString();
    EXPECT_EQ(cell(4, TTrafficModel::ColResult), QStringLiteral("other slave"));
    // Rows dropped between two refreshes leave the view too.
    report(TVerdict::TimedOut, "01");
    report(TVerdict::TimedOut, "02");
    m_form.Refresh();
    EXPECT_EQ(m_form.Model->rowCount(), 5);
    EXPECT_EQ(cell(4, TTrafficModel::ColBytes), QStringLiteral("02"));
}

TEST_F(MonitorFormTest, SaysHowManyFramesTheQueueLostUntilCleared)
{
    TFrameQueue queue(3);
    const Bytes rx = hex("01 03 00 00 00 0A C5 CD");
    TFrameReport r;
    r.Rx = rx;
    r.Verdict = TVerdict::BadCrc;
    for (int frames : {3, 15, 0, 1}) { // the queue holds 3: 12 lost in the second round
        for (int i = 0; i < frames; ++i)
            queue.FrameDone(r);
        if (frames == 0)
            QTest::mouseClick(m_form.ClearButton, Qt::LeftButton);
        m_rec.Take(queue);
        m_form.Refresh();
        const QString text = m_form.RowsLabel->text();
        EXPECT_EQ(text.contains(QStringLiteral("frames lost")), frames == 15) << text.toStdString();
        EXPECT_EQ(text.contains(QStringLiteral(", 12 frames lost")), frames == 15);
    }
}

TEST_F(MonitorFormTest, FollowsTheEndUnlessScrolledUp)
{
    m_form.resize(600, 200);
    m_form.show();
    for (int i = 0; i < 20; ++i)
        someTraffic();
    m_form.Refresh();
    QScrollBar *bar = m_form.TrafficView->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    someTraffic();
    m_form.Refresh();
    EXPECT_EQ(bar->value(), bar->maximum()); // still following

    bar->setValue(0); // the user reads the start
    someTraffic();
    m_form.Refresh();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_LT(bar->value(), bar->maximum());
}

TEST_F(MonitorFormTest, SaveAsWritesTheRowsShownAsCsv)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("traffic.csv"));
    someTraffic();
    m_form.Refresh();
    m_form.FilterBox->setCurrentIndex(int(TRowFilter::BadCrc));
    m_form.AskSaveFileName = [path](QWidget *) { return std::optional<QString>(path); };
    QStringList errors;
    m_form.ShowError = [&errors](QWidget *, const QString &Text) { errors << Text; };
    QTest::mouseClick(m_form.SaveAsButton, Qt::LeftButton);
    EXPECT_TRUE(errors.isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3); // header, one row, nothing after the last CRLF
    EXPECT_EQ(lines[0], "time,direction,slave,function,address,quantity,result,bytes,line,gap_us,"
                        "turnaround_us\r");
    EXPECT_TRUE(lines[1].endsWith(",RX,1,3,0,10,bad crc,01 03 00 00 00 0A C5 CC,,,\r"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].isEmpty());

    // A place that cannot be written: an error, and the old file stays whole.
    m_form.AskSaveFileName = [&dir](QWidget *) {
        return std::optional<QString>(dir.filePath(QStringLiteral("no-dir/traffic.csv")));
    };
    QTest::mouseClick(m_form.SaveAsButton, Qt::LeftButton);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Unable to write to ")));
}

} // namespace
} // namespace quorlin::test

namespace quorlin::test
{
namespace
{

// The line filter lists the serial line, both kinds of connection and each
// connection seen, and shows only the rows of the one chosen.
TEST_F(MonitorFormTest, LineFilterShowsOneLineOrOneKind)
{
    m_rec.SerialLine = "COM2";
    someTraffic(); // 6 rows on COM2
    const Bytes rx = hex("00 07 00 00 00 06 01 03 00 00 00 01");
    const Bytes reply = hex("00 07 00 00 00 05 01 03 02 00 00");
    TFrameReport r;
    r.Rx = rx;
    r.Reply = reply;
    r.HeaderLength = 6;
    r.Line = "tcp 127.0.0.1:40312";
    m_rec.FrameDone(r);
    m_form.Refresh();
    ASSERT_EQ(m_form.Model->rowCount(), 8);
    QStringList items;
    for (int i = 0; i < m_form.LineBox->count(); ++i)
        items << m_form.LineBox->itemText(i);
    EXPECT_EQ(items, QStringList({"All lines", "COM2", "tcp", "rtu-tcp", "tcp 127.0.0.1:40312"}));
    m_form.LineBox->setCurrentIndex(2); // every Modbus TCP connection
    EXPECT_EQ(m_form.Model->rowCount(), 2);
    EXPECT_EQ(cell(0, TTrafficModel::ColLine), QStringLiteral("tcp 127.0.0.1:40312"));
    EXPECT_EQ(cell(0, TTrafficModel::ColSlave), QStringLiteral("1"));
    m_form.LineBox->setCurrentIndex(1);
    EXPECT_EQ(m_form.Model->rowCount(), 6);
    m_form.LineBox->setCurrentIndex(0);
    EXPECT_EQ(m_form.Model->rowCount(), 8);
}

} // namespace
} // namespace quorlin::test
