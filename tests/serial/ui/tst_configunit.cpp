// SPDX-License-Identifier: MIT
// The Configuration dialog and ApplySerialSettings against real pty ports:
// COMn names resolve through a quorlin.ini of the test's own.
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QToolButton>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <termios.h>

#include "engine/registerimage.h"
#include "serial/commint.h"
#include "serial/ui/adapterdialog.h"
#include "serial/ui/configunit.h"
#include "serial/ui/connectionreport.h"
#include "serial/ui/designfit.h"
#include "serial/ui/spinedit.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using quorlin::testing::CountingSysApi;
using quorlin::testing::PtyPair;

namespace
{

// Index-to-enumeration rows: list index, expected enumeration value.
struct IndexRow {
    const char *Name;
    int Index;
    int Expected;
};

class BaudRateTable : public ::testing::TestWithParam<IndexRow>
{
};
TEST_P(BaudRateTable, IndexGivesSpeed)
{
    EXPECT_EQ(int(BaudRateFromIndex(GetParam().Index)), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(
    Rows, BaudRateTable,
    ::testing::Values(IndexRow{"i0_300", 0, br300}, IndexRow{"i1_600", 1, br600},
                      IndexRow{"i2_1200", 2, br1200}, IndexRow{"i3_2400", 3, br2400},
                      IndexRow{"i4_4800", 4, br4800}, IndexRow{"i5_9600", 5, br9600},
                      IndexRow{"i6_19200", 6, br19200}, IndexRow{"i7_38400", 7, br38400},
                      IndexRow{"none_38400", -1, br38400}, IndexRow{"i8_57600", 8, br57600},
                      IndexRow{"i9_115200", 9, br115200}, IndexRow{"i10_230400", 10, br230400},
                      IndexRow{"i11_38400", 11, br38400}),
    [](const auto &Info) { return std::string(Info.param.Name); });

class ParityTable : public ::testing::TestWithParam<IndexRow>
{
};
TEST_P(ParityTable, IndexGivesParity)
{
    EXPECT_EQ(int(ParityFromIndex(GetParam().Index)), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(
    Rows, ParityTable,
    ::testing::Values(IndexRow{"i0_even", 0, paEven}, IndexRow{"i1_odd", 1, paOdd},
                      IndexRow{"i2_none", 2, paNone}, IndexRow{"i3_mark", 3, paMark},
                      IndexRow{"i4_space", 4, paSpace}, IndexRow{"none_space", -1, paSpace}),
    [](const auto &Info) { return std::string(Info.param.Name); });

class StopbitsTable : public ::testing::TestWithParam<IndexRow>
{
};
TEST_P(StopbitsTable, IndexGivesStopbits)
{
    EXPECT_EQ(int(StopbitsFromIndex(GetParam().Index)), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, StopbitsTable,
                         ::testing::Values(IndexRow{"i0_one", 0, sb10},
                                           IndexRow{"i1_oneandhalf", 1, sb15},
                                           IndexRow{"i2_two", 2, sb20},
                                           IndexRow{"none_two", -1, sb20}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

class FlowControlTable : public ::testing::TestWithParam<IndexRow>
{
};
TEST_P(FlowControlTable, IndexGivesFlowControl)
{
    EXPECT_EQ(int(FlowControlFromIndex(GetParam().Index)), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, FlowControlTable,
                         ::testing::Values(IndexRow{"i0_cts", 0, fcCTS},
                                           IndexRow{"i1_default", 1, fcDefault},
                                           IndexRow{"i2_dtr", 2, fcDTR},
                                           IndexRow{"i3_none", 3, fcNone},
                                           IndexRow{"i4_software", 4, fcSoftware},
                                           IndexRow{"none_software", -1, fcSoftware}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// A program directory whose quorlin.ini maps COM2 and COM4 to pty slaves and
// COM1 and COM3 to paths that do not exist.
class ConfigFixture : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_com2.ok() && m_com4.ok());
        QFile ini(m_dir.filePath(QStringLiteral("quorlin.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Ports]\nCOM1=%1\nCOM2=%2\nCOM3=%3\nCOM4=%4\n")
                      .arg(m_dir.filePath(QStringLiteral("no-such-port-1")),
                           QString::fromStdString(m_com2.path()),
                           m_dir.filePath(QStringLiteral("no-such-port-3")),
                           QString::fromStdString(m_com4.path()))
                      .toUtf8());
        ini.close();
        m_comm.SetIniPath(m_dir.filePath(QStringLiteral("quorlin.ini")).toStdString());
        m_comm.SetSysApi(m_api);
        m_tabs.addTab(QStringLiteral("MB id 1"));
    }
    void TearDown() override
    {
        m_comm.Close();
        // The watcher uses this test's system-call seam until it has ended.
        EXPECT_TRUE(quorlin::testing::watchersEnded());
    }

    void apply()
    {
        m_form.ApplySerialSettings(m_image, m_comm, m_tabs, m_window, QStringLiteral("T"));
    }

    // The speed the pty line runs at, as the kernel reports it.
    static speed_t lineSpeed(const PtyPair &Pty)
    {
        termios t{};
        ::tcgetattr(Pty.slave(), &t);
        return cfgetospeed(&t);
    }

    QTemporaryDir m_dir;
    PtyPair m_com2, m_com4;
    CountingSysApi m_api;
    TComm m_comm;
    TRegisterImage m_image;
    QTabBar m_tabs;
    QWidget m_window;
    TConfForm m_form;
};

TEST_F(ConfigFixture, NewProfileAtStartUpTakesDiffersBranchAndConnects)
{
    ASSERT_EQ(m_comm.DeviceName(), "Com2");
    m_form.LoadSerialDialog(TSerialValues{});
    apply();
    EXPECT_EQ(m_comm.DeviceName(), "COM2");
    EXPECT_TRUE(m_comm.IsOpen());
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("T - Connected to COM2"));
    EXPECT_EQ(m_tabs.tabText(0), QStringLiteral("MB id 1"));
    EXPECT_EQ(m_comm.BaudRate(), br9600);
    EXPECT_EQ(m_comm.Parity(), paEven);
    EXPECT_EQ(m_comm.Stopbits(), sb10);
    EXPECT_EQ(m_comm.FlowControl(), fcDefault);
    EXPECT_EQ(lineSpeed(m_com2), speed_t(B9600));
}

TEST_F(ConfigFixture, SpeedChangeOnOpenPortKeepsItOpenAndReachesTheLine)
{
    m_form.LoadSerialDialog(TSerialValues{});
    apply();
    ASSERT_TRUE(m_comm.IsOpen());
    m_api.reset();
    m_form.ComboBox2->setCurrentIndex(6);
    apply();
    EXPECT_TRUE(m_comm.IsOpen());
    EXPECT_EQ(m_api.count("open"), 0);
    EXPECT_EQ(m_api.count("close"), 0);
    EXPECT_EQ(m_comm.BaudRate(), br19200);
    EXPECT_EQ(lineSpeed(m_com2), speed_t(B19200));
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("T - Connected to COM2"));
}

TEST_F(ConfigFixture, OtherPortClosesTheOldOneBeforeOpening)
{
    m_form.LoadSerialDialog(TSerialValues{});
    apply();
    ASSERT_TRUE(m_comm.IsOpen());
    m_api.reset();
    m_form.ComboBox1->setCurrentIndex(3);
    apply();
    EXPECT_TRUE(m_comm.IsOpen());
    EXPECT_EQ(m_comm.DeviceName(), "COM4");
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("T - Connected to COM4"));
    // The first open of the new port comes after the old port's close.
    const auto calls = m_api.calls();
    int firstClose = -1, firstOpen = -1;
    for (int i = 0; i < int(calls.size()); ++i) {
        if (calls[i].Name == "close" && firstClose < 0)
            firstClose = i;
        if (calls[i].Name == "open" && firstOpen < 0)
            firstOpen = i;
    }
    ASSERT_GE(firstClose, 0);
    ASSERT_GE(firstOpen, 0);
    EXPECT_LT(firstClose, firstOpen);
}

TEST_F(ConfigFixture, PortThatCannotOpenShowsDisconnectedWithItsName)
{
    m_form.LoadSerialDialog(TSerialValues{});
    apply();
    ASSERT_TRUE(m_comm.IsOpen());
    m_form.ComboBox1->setCurrentIndex(2);
    m_form.SpinEdit1->SetValue(17);
    apply();
    EXPECT_FALSE(m_comm.IsOpen());
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("T - Disconnected (COM3)"));
    // Everything before the port is applied all the same.
    EXPECT_EQ(m_image.MBid, 17);
    EXPECT_EQ(m_tabs.tabText(0), QStringLiteral("MB id 17"));
    // Applying again retries the port; back on COM2 it connects.
    m_form.ComboBox1->setCurrentIndex(1);
    apply();
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("T - Connected to COM2"));
}

TEST_F(ConfigFixture, ListsWithoutSelectionApplyTheLastEntries)
{
    m_form.LoadSerialDialog(2, 99, 99, 99, 99, 99, 1);
    EXPECT_EQ(m_form.ComboBox2->currentIndex(), -1);
    apply();
    EXPECT_EQ(m_comm.BaudRate(), br38400);
    EXPECT_EQ(m_comm.Parity(), paSpace);
    EXPECT_EQ(m_comm.Stopbits(), sb20);
    EXPECT_EQ(m_comm.FlowControl(), fcSoftware);
    EXPECT_TRUE(m_comm.IsOpen());
}

TEST_F(ConfigFixture, NoPortSelectedClosesThePortAndAppliesTheRest)
{
    m_form.LoadSerialDialog(TSerialValues{});
    apply();
    ASSERT_TRUE(m_comm.IsOpen());
    m_form.LoadSerialDialog(7, 0, 4, 1, 2, 3, 42);
    EXPECT_EQ(m_form.ComboBox1->currentIndex(), -1);
    apply();
    EXPECT_FALSE(m_comm.IsOpen());
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("T - Disconnected ()"));
    EXPECT_EQ(m_image.MBid, 42);
    EXPECT_EQ(m_comm.BaudRate(), br300);
    EXPECT_EQ(m_comm.Parity(), paOdd);
    EXPECT_EQ(m_comm.Stopbits(), sb20);
    EXPECT_EQ(m_comm.FlowControl(), fcNone);
}

TEST_F(ConfigFixture, SlaveId300IsShownAndAppliedAs255)
{
    m_form.LoadSerialDialog(2, 5, 4, 0, 0, 1, 300);
    EXPECT_EQ(m_form.SpinEdit1->Text(), QStringLiteral("255"));
    apply();
    EXPECT_EQ(m_image.MBid, 255);
    EXPECT_EQ(m_tabs.tabText(0), QStringLiteral("MB id 255"));
}

struct LoadRow {
    const char *Name;
    TSerialValues In;
    TSerialValues Back; // read back from the controls
};

class LoadSerialDialogRows : public ::testing::TestWithParam<LoadRow>
{
};

TEST_P(LoadSerialDialogRows, ControlsHoldWhatWasLoaded)
{
    TConfForm form;
    form.LoadSerialDialog(GetParam().In);
    EXPECT_EQ(form.SerialValues(), GetParam().Back);
}

// Fields: MBid, SerialPort, BaudRate, DataBits, Parity, StopBits, Handshaking.
INSTANTIATE_TEST_SUITE_P(
    Rows, LoadSerialDialogRows,
    ::testing::Values(
        LoadRow{"defaults", {1, 2, 5, 4, 0, 0, 1}, {1, 2, 5, 4, 0, 0, 1}},
        LoadRow{"last_entries", {255, 4, 7, 4, 4, 2, 4}, {255, 4, 7, 4, 4, 2, 4}},
        LoadRow{"port_7_no_selection", {1, 7, 5, 4, 0, 0, 1}, {1, 0, 5, 4, 0, 0, 1}},
        LoadRow{"port_0_no_selection", {1, 0, 5, 4, 0, 0, 1}, {1, 0, 5, 4, 0, 0, 1}},
        LoadRow{"negative_indexes", {1, -5, -1, -2, -3, -4, -9}, {1, 0, -1, -1, -1, -1, -1}},
        LoadRow{"slave_id_0_gives_1", {0, 1, 0, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0, 0}},
        LoadRow{"slave_id_300_gives_255", {300, 1, 0, 0, 0, 0, 0}, {255, 1, 0, 0, 0, 0, 0}},
        LoadRow{"int_min_port", {1, INT32_MIN, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0}},
        LoadRow{"fastest_speed", {1, 2, 10, 4, 0, 0, 1}, {1, 2, 10, 4, 0, 0, 1}},
        LoadRow{"speed_11_no_selection", {1, 2, 11, 4, 0, 0, 1}, {1, 2, -1, 4, 0, 0, 1}},
        LoadRow{"device_keeps_the_com_choice",
                {1, 3, 5, 4, 0, 0, 1, "/dev/ttyUSB0"},
                {1, 3, 5, 4, 0, 0, 1, "/dev/ttyUSB0"}},
        LoadRow{"device_with_port_7",
                {1, 7, 5, 4, 0, 0, 1, "/tmp/quorlin-slave"},
                {1, 7, 5, 4, 0, 0, 1, "/tmp/quorlin-slave"}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ConfForm, FreshDialogHasNoSelectionAndSlaveId1)
{
    TConfForm form;
    for (QComboBox *box : {form.ComboBox1, form.ComboBox2, form.ComboBox3, form.ComboBox4,
                           form.ComboBox5, form.ComboBox6}) {
        EXPECT_EQ(box->currentIndex(), -1) << box->objectName().toStdString();
        // The port list also takes a typed device path.
        EXPECT_EQ(box->isEditable(), box == form.ComboBox1);
    }
    EXPECT_EQ(form.SpinEdit1->Value(), 1);
    EXPECT_EQ(form.ComboBox7->currentText(), QStringLiteral("RTU")); // the default framing
    EXPECT_EQ(form.ComboBox8->currentIndex(), 0);                    // by length
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Configuration"));
    // The design size, scaled to the font, and wide enough for the caption.
    const QSize design = TDesignScale::ForFont(form.font()).Size(QSize(169, 319));
    EXPECT_EQ(form.size(),
              QSize(std::max(design.width(), CaptionWidth(form.windowTitle())), design.height()));
}

TEST(ConfForm, TabOrderRunsThroughListsButtonsThenSlaveId)
{
    TConfForm form;
    const QList<QWidget *> order = {form.ComboBox1, form.ComboBox2, form.ComboBox3, form.ComboBox4,
                                    form.ComboBox5, form.ComboBox6, form.ComboBox7, form.ComboBox8,
                                    form.Button1,   form.Button2,   form.SpinEdit1};
    // Walk the focus chain once round and keep the controls of the table.
    QList<QWidget *> seen;
    QWidget *w = form.ComboBox1;
    do {
        if (order.contains(w) && !seen.contains(w))
            seen.append(w);
        w = w->nextInFocusChain();
    } while (w && w != form.ComboBox1);
    EXPECT_EQ(seen, order);
}

// The adapter dialog's choice goes with the Configuration dialog's: into
// the values a profile saves and onto the device on OK, and away again
// with Cancel. A pty refuses RS-485 and stays open.
TEST_F(ConfigFixture, AdapterChoiceReachesTheDeviceAndCancelTakesItBack)
{
    m_form.LoadSerialDialog(TSerialValues{});
    auto choose = [](QDialog &D) {
        auto &dialog = static_cast<TAdapterDialog &>(D);
        dialog.Rs485Box->setChecked(true);
        dialog.RtsOnSendBox->setCurrentIndex(1); // Low
        dialog.RtsAfterSendBox->setCurrentIndex(1); // High
        dialog.DelayBeforeBox->setValue(3);
        dialog.DelayAfterBox->setValue(250); // more than the box takes
        dialog.IgnoreEchoBox->setChecked(true);
        return int(QDialog::Accepted);
    };
    m_form.ExecAdapterDialog = choose;
    m_form.AdapterButton->click();
    TSerialValues v = m_form.SerialValues();
    EXPECT_TRUE(v.Rs485 && !v.Rs485RtsOnSend && v.Rs485RtsAfterSend && v.IgnoreEcho);
    EXPECT_EQ(v.Rs485DelayBefore, 3);
    EXPECT_EQ(v.Rs485DelayAfter, MaxRs485DelayMs);
    apply();
    ASSERT_TRUE(m_comm.IsOpen());
    EXPECT_TRUE(m_comm.Rs485().Enabled);
    EXPECT_FALSE(m_comm.Rs485().RtsOnSend);
    EXPECT_EQ(m_comm.Rs485().DelayBeforeMs, 3);
    EXPECT_TRUE(m_comm.IgnoreEcho());
    EXPECT_TRUE(m_comm.Rs485Error());

    // Shown, changed in the adapter dialog, then cancelled: back as shown.
    m_form.show();
    m_form.ExecAdapterDialog = [](QDialog &D) {
        static_cast<TAdapterDialog &>(D).IgnoreEchoBox->setChecked(false);
        return int(QDialog::Accepted);
    };
    m_form.AdapterButton->click();
    EXPECT_FALSE(m_form.SerialValues().IgnoreEcho);
    m_form.reject();
    EXPECT_EQ(m_form.SerialValues(), v);
}

TEST(ConfForm, OkWithEmptiedSlaveIdGives1)
{
    TConfForm form;
    form.LoadSerialDialog(TSerialValues{2, 2, 5, 4, 0, 0, 1});
    form.SpinEdit1->findChild<QLineEdit *>()->setText(QString());
    form.Button1Click();
    EXPECT_EQ(form.SpinEdit1->Text(), QStringLiteral("1"));
}

TEST_F(ConfigFixture, FastSpeedsReachTheLine)
{
    m_form.LoadSerialDialog(TSerialValues{});
    apply();
    ASSERT_TRUE(m_comm.IsOpen());
    const std::pair<int, speed_t> rows[] = {{8, B57600}, {9, B115200}, {10, B230400}};
    for (const auto &[index, speed] : rows) {
        m_form.ComboBox2->setCurrentIndex(index);
        apply();
        EXPECT_EQ(lineSpeed(m_com2), speed) << "index " << index;
    }
    EXPECT_EQ(m_form.ComboBox2->itemText(10), QStringLiteral("230400 bps"));
    EXPECT_TRUE(m_comm.IsOpen());
}

TEST_F(ConfigFixture, TypedPtyOrLinkConnectsAndTheCaptionNamesIt)
{
    const QString link = m_dir.filePath(QStringLiteral("quorlin-slave"));
    ASSERT_TRUE(QFile::link(QString::fromStdString(m_com4.path()), link));
    m_form.LoadSerialDialog(TSerialValues{});
    for (const QString &path : {QString::fromStdString(m_com2.path()), link}) {
        m_form.ComboBox1->setEditText(path);
        apply();
        EXPECT_TRUE(m_comm.IsOpen()) << path.toStdString();
        EXPECT_EQ(m_comm.DeviceName(), path.toStdString());
        EXPECT_EQ(m_window.windowTitle(), QStringLiteral("T - Connected to ") + path);
        const TSerialValues saved = m_form.SerialValues();
        EXPECT_EQ(saved.Device, path.toStdString());
        EXPECT_EQ(saved.SerialPort, 2) << "the COM choice stays for programs without Device";
    }
    // Back to a COM item: the device goes.
    m_form.ComboBox1->setCurrentIndex(0);
    EXPECT_EQ(m_form.SerialValues().Device, "");
    EXPECT_EQ(m_form.SerialValues().SerialPort, 1);
}

TEST_F(ConfigFixture, ReportSaysWhyOncePerAttemptAndKeepsTheCaption)
{
    std::vector<std::string> lines;
    TConnectionReport report(
        m_comm, m_window, [] { return QStringLiteral("T"); },
        [&](const std::string &Line) { lines.push_back(Line); });
    m_comm.SetRetryInterval(100);
    const std::string com3 =
        "COM3 (" + m_dir.filePath(QStringLiteral("no-such-port-3")).toStdString() + ")";
    const std::string com2 = "COM2 (" + m_com2.path() + ")";

    m_form.LoadSerialDialog(TSerialValues{});
    m_form.ComboBox1->setCurrentIndex(2);
    apply();
    apply(); // OK again: tried at once, and said again
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "cannot open " + com3 + ": No such file or directory");
    EXPECT_EQ(lines[1], lines[0]);
    // Retries with the same outcome stay quiet.
    QTest::qWait(350);
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_TRUE(m_comm.Retrying());

    m_form.ComboBox1->setCurrentIndex(1);
    apply();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "connected to " + com2);
    EXPECT_FALSE(m_comm.Retrying());

    // The far end goes: caption and report follow without any apply.
    m_com2.closeMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_comm.IsOpen(); }, 2000));
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("T - Disconnected (COM2)"));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_TRUE(lines[3] == com2 + ": device removed" || lines[3] == com2 + ": line hung up")
        << lines[3];
}

// A change of every kind, then Cancel (or Escape): what the controls hold,
// and so what a profile saves, is what was applied before the dialog opened.
struct CancelRow {
    const char *Name;
    std::function<void(TConfForm &)> Change;
};

class CancelRestores : public ::testing::TestWithParam<CancelRow>
{
};

TEST_P(CancelRestores, ControlsAsShownAfterCancelAndEscapeButNotAfterOk)
{
    const TSerialValues loaded{7, 3, 5, 4, 0, 0, 1, "/tmp/quorlin-slave"};
    for (int how = 0; how < 3; ++how) {
        TConfForm form;
        form.DeviceList = [] { return std::vector<std::string>{"/dev/ttyUSB0"}; };
        form.LoadSerialDialog(loaded);
        form.show();
        GetParam().Change(form);
        const TSerialValues changed = form.SerialValues();
        ASSERT_NE(changed, loaded);
        if (how == 0)
            QTest::mouseClick(form.Button2, Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(&form, Qt::Key_Escape);
        else
            QTest::mouseClick(form.Button1, Qt::LeftButton);
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.SerialValues(), how == 2 ? changed : loaded) << "way " << how;
        // Shown again, the dialog offers what is in use.
        form.show();
        EXPECT_EQ(form.SerialValues(), how == 2 ? changed : loaded) << "way " << how;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CancelRestores,
    ::testing::Values(
        CancelRow{"parity", [](TConfForm &F) { F.ComboBox4->setCurrentIndex(2); }},
        CancelRow{"speed", [](TConfForm &F) { F.ComboBox2->setCurrentIndex(9); }},
        CancelRow{"data_bits", [](TConfForm &F) { F.ComboBox3->setCurrentIndex(3); }},
        CancelRow{"stop_bits", [](TConfForm &F) { F.ComboBox5->setCurrentIndex(2); }},
        CancelRow{"handshaking", [](TConfForm &F) { F.ComboBox6->setCurrentIndex(3); }},
        CancelRow{"slave_id", [](TConfForm &F) { F.SpinEdit1->SetValue(9); }},
        CancelRow{"com_port", [](TConfForm &F) { F.ComboBox1->setCurrentIndex(0); }},
        CancelRow{"found_device", [](TConfForm &F) { F.ComboBox1->setCurrentIndex(4); }},
        CancelRow{"typed_path", [](TConfForm &F) { F.ComboBox1->setEditText("/tmp/other"); }}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ConfForm, PortListOffersFoundDevicesAndKeepsTheChoiceAcrossRefreshes)
{
    TConfForm form;
    std::vector<std::string> found = {"/dev/serial/by-id/usb-FTDI_A1-if00-port0", "/dev/ttyUSB0"};
    form.DeviceList = [&] { return found; };
    TSerialValues v;
    v.Device = "/tmp/quorlin-slave";
    form.LoadSerialDialog(v);
    form.RefreshPortList();
    QStringList items;
    for (int i = 0; i < form.ComboBox1->count(); ++i)
        items << form.ComboBox1->itemText(i);
    EXPECT_EQ(items, (QStringList{"COM1", "COM2", "COM3", "COM4",
                                  "/dev/serial/by-id/usb-FTDI_A1-if00-port0", "/dev/ttyUSB0",
                                  "/tmp/quorlin-slave"}));
    EXPECT_EQ(form.PortText(), QStringLiteral("/tmp/quorlin-slave"));

    // The adapter is unplugged; the next opening of the dialog drops it.
    found = {};
    form.ComboBox1->setCurrentIndex(5);
    form.show();
    EXPECT_EQ(form.ComboBox1->count(), 5);
    EXPECT_EQ(form.PortText(), QStringLiteral("/dev/ttyUSB0")) << "a chosen device stays shown";
    form.hide();
    form.ComboBox1->setCurrentIndex(1);
    form.show();
    EXPECT_EQ(form.ComboBox1->count(), 4);
    EXPECT_EQ(form.PortText(), QStringLiteral("COM2"));
}

} // namespace
