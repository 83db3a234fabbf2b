// SPDX-License-Identifier: MIT
// The main window's status bar and traffic monitor while a master plays the
// known sequence on a pty: counters step by step, the port text, and the
// monitor opened from the counters.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <unistd.h>

#include "engine/faultplan.h"
#include "monitor/monitorform.h"
#include "serial/ui/configunit.h"
#include "tests/ui/knownsequence.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

class TrafficWindowTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path());
        m_form->CreateDialogs();
        m_form->Timer1->stop(); // the tests step the tick themselves
    }
    void TearDown() override { m_form.reset(); }

    ProgramDir m_dir;
    std::unique_ptr<TMainForm> m_form;
};

TEST_F(TrafficWindowTest, StatusBarSitsBelowThePanelsWhichDoNotMove)
{
    m_form->show();
    m_form->layout()->activate();
    const QRect client = m_form->centralWidget()->geometry();
    EXPECT_EQ(client.size(), m_form->centralWidget()->maximumSize()); // its fixed size, whole
    EXPECT_EQ(client.top(), m_form->menuBar()->geometry().bottom() + 1);
    const QRect status = m_form->statusBar()->geometry();
    EXPECT_EQ(status.top(), client.bottom() + 1);
    EXPECT_EQ(m_form->height(), client.bottom() + 1 + status.height());
    EXPECT_GT(status.height(), 0);
}

TEST_F(TrafficWindowTest, PortTextNamesTheDeviceAndLineOrWhyItIsClosed)
{
    m_form->TrafficTick();
    EXPECT_EQ(m_form->PortStatus->FullText(),
              QStringLiteral("Connected 9600 8E1 - COM2 %1")
                  .arg(QString::fromStdString(m_dir.com2().path())));

    // A new speed on the open port shows at once, not only when the port changes.
    m_form->ConfForm->ComboBox2->setCurrentIndex(6);
    m_form->ApplySerialSettings();
    EXPECT_EQ(m_form->PortStatus->FullText(),
              QStringLiteral("Connected 19200 8E1 - COM2 %1")
                  .arg(QString::fromStdString(m_dir.com2().path())));

    m_form->ConfForm->ComboBox1->setCurrentIndex(2); // COM3: a path that does not exist
    m_form->ConfForm->ComboBox2->setCurrentIndex(7);
    m_form->ApplySerialSettings();
    m_form->TrafficTick();
    EXPECT_EQ(m_form->PortStatus->FullText(),
              QStringLiteral("Disconnected: No such file or directory - COM3 %1/no-such-port")
                  .arg(m_dir.path()));
    EXPECT_EQ(m_form->PortStatus->toolTip(), m_form->PortStatus->FullText());
}

TEST(TrafficWindowLoss, PortTextFollowsALostDeviceWithoutWaitingForTheTick)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("quorlin-slave"));
    ASSERT_TRUE(writeAll(dir.filePath(QStringLiteral("quorlin.ini")),
                         QStringLiteral("[Ports]\nCOM2=%1\n").arg(link).toUtf8()));
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(QFile::link(QString::fromStdString(pty.path()), link));
    TMainForm form(nullptr, dir.path());
    form.Timer1->stop();
    EXPECT_EQ(form.PortStatus->FullText(), QStringLiteral("Connected 9600 8E1 - COM2 %1").arg(link));

    QFile::remove(link);
    pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(form.PortStatus->FullText(),
                              QStringLiteral("Disconnected: device removed - COM2 %1").arg(link),
                              3000);
    form.CloseWithoutQuestion();
}

// The port's state keeps its room in the status bar whatever else is there:
// a long by-id device name is shortened in its middle, the faults warning
// keeps "FAULTS ON" whole, and the counters give way first.
TEST_F(TrafficWindowTest, PortStateKeepsItsRoomBesideFaultsAndALongDeviceName)
{
    const QString longName = m_dir.path() +
                             QStringLiteral("/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZ9-if00-port0");
    TFaultSettings faults;
    faults.Enabled = 1;
    faults.MBid = 3;
    faults.NoReplyEvery = 10;
    faults.BadCrcPercent = 5;
    faults.DelayMs = 200;
    faults.DelayMaxMs = 500;
    faults.SplitReplyMs = 30;
    for (bool faultsOn : {false, true}) {
        for (const QString &port : {QStringLiteral("COM2"), longName}) {
            SCOPED_TRACE(port.toStdString() + (faultsOn ? " faults on" : ""));
            m_form->ConfForm->ComboBox1->setEditText(port);
            m_form->ApplySerialSettings();
            faults.Enabled = faultsOn ? 1 : 0;
            m_form->ApplyFaults(faults);
            m_form->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
            m_form->TrafficTick();
            QApplication::processEvents();
            m_form->statusBar()->layout()->activate();
            const QString state = port == longName
                                      ? QStringLiteral("Disconnected: No such file or directory")
                                      : QStringLiteral("Connected 9600 8E1");
            QLabel *label = m_form->PortStatus;
            EXPECT_TRUE(label->text().startsWith(state + QStringLiteral(" - ")))
                << label->text().toStdString();
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                      label->contentsRect().width())
                << label->text().toStdString();
            // The device name shows once, cut in its middle when it must be.
            EXPECT_EQ(label->text().count(QStringLiteral("port0")) +
                          label->text().count(QStringLiteral("COM2")),
                      1)
                << label->text().toStdString();
            // Side by side, none over another, all inside the bar.
            std::vector<QWidget *> shown = {label};
            if (faultsOn) {
                QLabel *warning = m_form->FaultsStatus;
                ASSERT_NE(warning, nullptr);
                EXPECT_TRUE(warning->text().startsWith(QStringLiteral("FAULTS ON")));
                EXPECT_LE(warning->sizeHint().width(), warning->width())
                    << warning->text().toStdString();
                EXPECT_EQ(warning->toolTip(), QStringLiteral("FAULTS ON: slave 3 only, no reply "
                                                             "every 10, bad CRC 5 %, delay "
                                                             "200-500 ms, split 30 ms"));
                shown.push_back(warning);
            }
            if (m_form->CountersStatus->isVisible())
                shown.push_back(m_form->CountersStatus);
            for (size_t a = 0; a < shown.size(); ++a) {
                EXPECT_LE(shown[a]->geometry().right(), m_form->statusBar()->width())
                    << shown[a]->objectName().toStdString();
                for (size_t b = a + 1; b < shown.size(); ++b)
                    EXPECT_FALSE(shown[a]->geometry().intersects(shown[b]->geometry()))
                        << shown[a]->objectName().toStdString() << " "
                        << shown[b]->objectName().toStdString();
            }
        }
    }
}

// A line gone quiet after a request: the ticks go on, ten a second, but the
// status bar's text (and so its repaint and layout) changes at most once a
// second, not at every tick.
TEST_F(TrafficWindowTest, QuietLineLeavesTheStatusBarTextAloneBetweenSeconds)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    Master master(m_dir.com2().master());
    uint16_t regs[1];
    ASSERT_EQ(master.run([&](modbus_t *m) { return modbus_read_registers(m, 0, 1, regs); }), 1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            m_form->TrafficTick();
            return m_form->Traffic().Counters.Requests == 1;
        },
        5000));
    QStringList texts;
    for (int tick = 0; tick < 6; ++tick) {
        QTest::qWait(100);
        m_form->Tick();
        m_form->TrafficTick();
        if (texts.isEmpty() || texts.back() != m_form->CountersStatus->toolTip())
            texts << m_form->CountersStatus->toolTip();
    }
    // 600 ms cross at most one whole second.
    EXPECT_LE(texts.size(), 2) << texts.join(QStringLiteral(" / ")).toStdString();
}

TEST_F(TrafficWindowTest, KnownSequenceMovesTheCountersOneByOne)
{
    // Cumulative counters after each step of the known sequence.
    struct Counts {
        uint64_t Requests, Exceptions, BadCrc, OtherSlave, Broadcast, TimedOut, TooLong, NoReply;
    };
    const Counts after[] = {
        {1, 0, 0, 0, 0, 0, 0, 0}, // normal read
        {2, 0, 0, 0, 0, 0, 0, 0}, // write
        {3, 1, 0, 0, 0, 0, 0, 0}, // exception 2
        {3, 1, 1, 0, 0, 0, 0, 0}, // bad CRC
        {3, 1, 1, 1, 0, 0, 0, 0}, // other slave
        {3, 1, 1, 1, 1, 0, 0, 0}, // broadcast
        {3, 1, 1, 1, 1, 1, 0, 0}, // fragment
        {3, 1, 1, 1, 1, 1, 1, 0}, // burst
        {3, 1, 1, 1, 1, 1, 1, 1}, // function 43
        {4, 1, 1, 1, 1, 1, 1, 1}, // still answering
    };
    const std::vector<SequenceStep> steps = knownSequence();
    ASSERT_EQ(steps.size(), std::size(after));

    Master master(m_dir.com2().master());
    const TTrafficRecorder &traffic = m_form->Traffic();
    size_t rows = traffic.Store.Size();
    for (size_t i = 0; i < steps.size(); ++i) {
        const SequenceStep &step = steps[i];
        if (step.Request) {
            master.run(step.Request);
        } else {
            const quorlin::test::Bytes b = rawBytes(step);
            ASSERT_EQ(::write(m_dir.com2().master(), b.data(), b.size()), ssize_t(b.size()));
        }
        rows += step.Rows.size();
        // Reports reach the recorder at the tick, from the port's own thread.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                m_form->TrafficTick();
                return traffic.Store.Size() >= rows;
            },
            5000))
            << step.Name;
        const TLineCounters &c = traffic.Counters;
        const Counts &want = after[i];
        EXPECT_EQ(
            (std::vector<uint64_t>{c.Requests, c.Exceptions, c.BadCrc, c.OtherSlave, c.Broadcast,
                                   c.TimedOut, c.TooLong, c.NoReply}),
            (std::vector<uint64_t>{want.Requests, want.Exceptions, want.BadCrc, want.OtherSlave,
                                   want.Broadcast, want.TimedOut, want.TooLong, want.NoReply}))
            << step.Name;
        EXPECT_EQ(c.Replies, c.Requests) << step.Name;
    }
    // 8 + 8 + 8 + 8 + 8 + 8 + 3 + 300 + 7 + 8 in; 9 + 8 + 5 + 9 out.
    EXPECT_EQ(traffic.Counters.BytesIn, 366u);
    EXPECT_EQ(traffic.Counters.BytesOut, 31u);

    m_form->TrafficTick();
    // Beside a pty's path the bar shows the short form; its tooltip spells it out.
    EXPECT_TRUE(m_form->CountersStatus->text().startsWith(
        QStringLiteral("Req 4 | Exc 1 | CRC 1 | T/O 1 | ")))
        << m_form->CountersStatus->text().toStdString();
    EXPECT_TRUE(m_form->CountersStatus->toolTip().startsWith(
        QStringLiteral("Requests 4 | Exceptions 1 | Bad CRC 1 | Timed out 1 | Injected 0 | "
                       "Last request ")))
        << m_form->CountersStatus->toolTip().toStdString();

    // The counters open the monitor, which shows every row so far.
    EXPECT_EQ(m_form->MonitorForm, nullptr);
    QTest::mouseClick(m_form->CountersStatus, Qt::LeftButton);
    ASSERT_NE(m_form->MonitorForm, nullptr);
    EXPECT_TRUE(m_form->MonitorForm->isVisible());
    EXPECT_EQ(size_t(m_form->MonitorForm->Model->rowCount()), traffic.Store.Size());
    EXPECT_TRUE(m_form->MonitorForm->isWindow());
}

TEST_F(TrafficWindowTest, ViewMenuOpensOneMonitorWhichRepaintsAtTheTick)
{
    m_form->TrafficMonitor1->trigger();
    TMonitorForm *monitor = m_form->MonitorForm;
    ASSERT_NE(monitor, nullptr);
    m_form->TrafficMonitor1->trigger();
    EXPECT_EQ(m_form->MonitorForm, monitor);

    Master master(m_dir.com2().master());
    uint16_t regs[2];
    ASSERT_EQ(master.run([&](modbus_t *m) { return modbus_read_registers(m, 0, 2, regs); }), 2);
    EXPECT_EQ(monitor->Model->rowCount(), 0); // nothing until the tick
    // The report may follow the reply by a moment: it is made after the write.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            m_form->TrafficTick();
            return monitor->Model->rowCount() == 2;
        },
        5000));
}

} // namespace
