// SPDX-License-Identifier: MIT
// The main window's register panels and tick, driven as a user and a master
// drive them: clicks on lamps and boxes, scroll-bar moves, requests on a pty.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

#include "profile/profilemanager.h"
#include "scripts/ui/addscript.h"
#include "serial/commint.h"
#include "engine/deadline.h"
#include "serial/ui/configunit.h"
#include "serial/ui/designfit.h"
#include "serial/ui/spinedit.h"
#include "ui/aboutunit.h"
#include "ui/askunit.h"
#include "ui/helpviewer.h"
#include "ui/mainunit.h"
#include "ui/panelcontrols.h"
#include "tests/ui/uitesthelpers.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

const QColor Lime(0, 255, 0);
const QColor Red(255, 0, 0);

class MainFormTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path());
        m_form->CreateDialogs();
        // The tests step the tick themselves unless they wait for the timer.
        m_form->Timer1->stop();
    }
    void TearDown() override { m_form.reset(); }

    template <class T> T *child(const char *Name)
    {
        T *w = m_form->findChild<T *>(QLatin1String(Name));
        EXPECT_NE(w, nullptr) << Name;
        return w;
    }
    TShape *shape(int n) { return child<TShape>(QStringLiteral("Shape%1").arg(n).toLatin1()); }
    TRegisterImage &image() { return m_form->RegisterImage(); }

    // Opens the value dialog from Box, types Keys into its field and closes it
    // with OK (or Cancel).
    void enterValue(const char *Box, const QString &Keys, bool Ok = true, bool Clear = true)
    {
        onNextModal<TAskForm>([Keys, Ok, Clear](TAskForm *Dialog) {
            if (Clear)
                Dialog->Edit1->clear();
            QTest::keyClicks(Dialog->Edit1, Keys);
            QTest::mouseClick(Ok ? Dialog->Button1 : Dialog->Button2, Qt::LeftButton);
        });
        QTest::mouseClick(child<TNumberBox>(Box), Qt::LeftButton);
    }

    ProgramDir m_dir;
    std::unique_ptr<TMainForm> m_form;
};

TEST_F(MainFormTest, StartsConnectedWithNewProfileValues)
{
    EXPECT_EQ(m_form->windowTitle(),
              QStringLiteral("Quorlin 1.0 - <UNTITLED.QRL> - Connected to COM2"));
    EXPECT_EQ(m_form->TabControl1->Tabs()->tabText(0), QStringLiteral("MB id 1"));
    EXPECT_TRUE(m_form->Comm1->IsOpen());
    EXPECT_EQ(m_form->Comm1->MonitorEvents(), commEvents({evRxChar}));
    EXPECT_EQ(m_form->ConfForm->SerialValues(), TSerialValues{});
}

TEST_F(MainFormTest, TimerTicksEvery100msAfterStartUp)
{
    TMainForm form(nullptr, m_dir.path());
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 100);
    // The request time-out is a 100 ms deadline of the port's own thread.
    EXPECT_EQ(form.TimeOutTimer->DefaultMs(), 100);
    // A lamp click lands through the running timer alone.
    QTest::mouseClick(form.findChild<TShape *>(QStringLiteral("Shape5")), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.RegisterImage().Coils[5] == 1; }, 5000));
}

// Values named at start are in the image before the port opens, not at the
// first tick: a master polling at once must not read zeros.
TEST_F(MainFormTest, StartValuesAreInTheImageBeforeAnyTick)
{
    const QString values = QDir(m_dir.path()).filePath(QStringLiteral("start.csv"));
    ASSERT_TRUE(writeAll(values, "slave,register,value\r\n1,4x0001,1234\r\n1,0x0003,1\r\n"));
    qApp->setProperty(TMainForm::StartValuesProperty, values);
    TMainForm form(nullptr, m_dir.path());
    qApp->setProperty(TMainForm::StartValuesProperty, QString());
    ASSERT_TRUE(form.StartError().isEmpty()) << form.StartError().toStdString();
    // No event has been served: the tick cannot have run.
    EXPECT_EQ(form.RegisterImage().HoldingRegs[1], 1234);
    EXPECT_EQ(form.RegisterImage().Coils[3], 1);
}

TEST_F(MainFormTest, LampClickTurnsCoilOnAtNextTickAndSecondClickOff)
{
    TShape *lamp = shape(1);
    EXPECT_EQ(lamp->BrushColor(), Red);
    QTest::mouseClick(lamp, Qt::LeftButton);
    // Nothing lands before the tick.
    EXPECT_EQ(image().Coils[1], 0);
    EXPECT_EQ(lamp->BrushColor(), Red);
    m_form->Tick();
    EXPECT_EQ(image().Coils[1], 1);
    EXPECT_EQ(lamp->BrushColor(), Lime);
    QTest::mouseClick(lamp, Qt::RightButton); // any button
    m_form->Tick();
    EXPECT_EQ(image().Coils[1], 0);
    EXPECT_EQ(lamp->BrushColor(), Red);
}

TEST_F(MainFormTest, DiscreteInputLampTogglesItsOwnRegister)
{
    QTest::mouseClick(shape(64), Qt::LeftButton);
    m_form->Tick();
    EXPECT_EQ(image().DiscreteInputs[32], 1);
    EXPECT_EQ(image().Coils[32], 0);
    EXPECT_EQ(shape(64)->BrushColor(), Lime);
    EXPECT_EQ(shape(32)->BrushColor(), Red);
}

TEST_F(MainFormTest, TwoClicksWithinOneTickChangeTheCoilOnce)
{
    QTest::mouseClick(shape(17), Qt::LeftButton);
    QTest::mouseClick(shape(17), Qt::LeftButton);
    m_form->Tick();
    EXPECT_EQ(image().Coils[17], 1);
    EXPECT_EQ(shape(17)->BrushColor(), Lime);
}

TEST_F(MainFormTest, MasterWriteOfHoldingRegister1ShowsAtNextTickWithoutEcho)
{
    Master master(m_dir.com2().master());
    ASSERT_EQ(master.run([](modbus_t *ctx) { return modbus_write_register(ctx, 0, 1234); }), 1);
    // The master's write lands at once; the panels follow at the tick. The
    // engine wrote it on the line's thread: read it under the image's lock.
    auto holding1 = [this] {
        std::lock_guard<std::mutex> lock(image().ImageLock);
        return image().HoldingRegs[1];
    };
    EXPECT_EQ(holding1(), 1234);
    EXPECT_EQ(child<QScrollBar>("ScrollBar3")->value(), 0);
    m_form->Tick();
    EXPECT_EQ(child<QScrollBar>("ScrollBar3")->value(), 1234);
    EXPECT_EQ(child<QLabel>("Label28")->text(), QStringLiteral("04D2"));
    EXPECT_EQ(child<TNumberBox>("Edit7")->text(), QStringLiteral("1234"));
    // Moving the bar to show the value queued nothing, so a second master
    // write is not overwritten by an echo of the first.
    EXPECT_TRUE(image().PendingWrites.empty());
    ASSERT_EQ(master.run([](modbus_t *ctx) { return modbus_write_register(ctx, 0, 7); }), 1);
    m_form->Tick();
    EXPECT_EQ(holding1(), 7);
    EXPECT_EQ(child<QScrollBar>("ScrollBar3")->value(), 7);
    uint16_t back = 0;
    ASSERT_EQ(
        master.run([&back](modbus_t *ctx) { return modbus_read_registers(ctx, 0, 1, &back); }), 1);
    EXPECT_EQ(back, 7);
}

TEST_F(MainFormTest, InputRegister2Of255ShowsInBoxBarAndHexLabel)
{
    image().QueueWrite(RegTypeInputReg, 2, 255);
    m_form->Tick();
    EXPECT_EQ(child<TNumberBox>("Edit3")->text(), QStringLiteral("255"));
    EXPECT_EQ(child<QLabel>("Label26")->text(), QStringLiteral("00FF"));
    EXPECT_EQ(child<QScrollBar>("ScrollBar2")->value(), 255);
    EXPECT_EQ(child<QLabel>("Label25")->text(), QStringLiteral("0000"));
}

TEST_F(MainFormTest, UserScrollBarMoveQueuesItsRegister)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    auto *bar = child<QScrollBar>("ScrollBar4"); // holding register 2
    // A click on the arrow at the right end steps the bar by one.
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 5, bar->height() / 2));
    EXPECT_EQ(bar->value(), 1) << bar->isVisible() << bar->isEnabled() << bar->width();
    ASSERT_EQ(image().PendingWrites.size(), 1u);
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[2], 1);
    EXPECT_EQ(child<QLabel>("Label27")->text(), QStringLiteral("0001"));
    EXPECT_EQ(child<TNumberBox>("Edit9")->text(), QStringLiteral("1"));
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[2], 65535);
    EXPECT_EQ(child<QLabel>("Label27")->text(), QStringLiteral("FFFF"));
}

TEST_F(MainFormTest, ValueDialogStoresTypedValueInBoxRegister)
{
    enterValue("Edit11", QStringLiteral("4321")); // holding register 3
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[3], 4321);
    EXPECT_EQ(child<TNumberBox>("Edit11")->text(), QStringLiteral("4321"));
    enterValue("Edit2", QStringLiteral("9")); // input register 4
    m_form->Tick();
    EXPECT_EQ(image().InputRegs[4], 9);
}

TEST_F(MainFormTest, ValueDialogStores65535For70000And0ForEmpty)
{
    enterValue("Edit7", QStringLiteral("70000"));
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[1], 65535);
    enterValue("Edit7", QString());
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[1], 0);
}

TEST_F(MainFormTest, ValueDialogStartsWithTheBoxTextAllSelected)
{
    image().QueueWrite(RegTypeInputReg, 1, 812);
    m_form->Tick();
    // Typing replaces the selected old text.
    enterValue("Edit1", QStringLiteral("5"), true, false);
    m_form->Tick();
    EXPECT_EQ(image().InputRegs[1], 5);
}

TEST_F(MainFormTest, CancelledValueDialogQueuesNothing)
{
    enterValue("Edit8", QStringLiteral("77"), false);
    EXPECT_TRUE(image().PendingWrites.empty());
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[4], 0);
}

TEST_F(MainFormTest, PastedTextThatIsNoNumberIsReportedAndQueuesNothing)
{
    QString message;
    onNextModal<TAskForm>([&message](TAskForm *Dialog) {
        Dialog->Edit1->setText(QStringLiteral("12a")); // as a paste leaves it
        onNextModal<QMessageBox>([&message](QMessageBox *Box) {
            message = Box->text();
            Box->accept();
        });
        QTest::mouseClick(Dialog->Button1, Qt::LeftButton);
    });
    QTest::mouseClick(child<TNumberBox>("Edit5"), Qt::LeftButton);
    EXPECT_EQ(message, QStringLiteral("'12a' is not a valid integer value"));
    EXPECT_TRUE(image().PendingWrites.empty());
}

TEST_F(MainFormTest, PastedNegativeNumberStoresZeroNotAWrappedValue)
{
    onNextModal<TAskForm>([](TAskForm *Dialog) {
        Dialog->Edit1->setText(QStringLiteral("-5"));
        QTest::mouseClick(Dialog->Button1, Qt::LeftButton);
    });
    QTest::mouseClick(child<TNumberBox>("Edit7"), Qt::LeftButton);
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[1], 0);
}

uint32_t Always42(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 42;
}

TEST_F(MainFormTest, BoundRegistersShowTheScriptValueWhateverIsClicked)
{
    m_form->BindingList().push_back(
        MakeBinding(m_form->ScriptList(), EmptyScriptName, 0, 3, 0, 0, 0));
    TScriptBinding always42;
    always42.Name = "Always42";
    always42.Entry = Always42;
    always42.RegType = RegTypeHoldingReg;
    always42.RegAdr = 1;
    m_form->BindingList().push_back(always42);

    QTest::mouseClick(shape(3), Qt::LeftButton);
    child<QScrollBar>("ScrollBar3")->triggerAction(QAbstractSlider::SliderToMaximum);
    ASSERT_FALSE(image().PendingWrites.empty());
    m_form->Tick();
    EXPECT_EQ(image().Coils[3], 0);
    EXPECT_EQ(shape(3)->BrushColor(), Red);
    EXPECT_EQ(image().HoldingRegs[1], 42);
    EXPECT_EQ(child<QScrollBar>("ScrollBar3")->value(), 42);
    enterValue("Edit7", QStringLiteral("100"));
    m_form->Tick();
    EXPECT_EQ(child<TNumberBox>("Edit7")->text(), QStringLiteral("42"));
    EXPECT_EQ(child<QLabel>("Label28")->text(), QStringLiteral("002A"));
}

// Counts every paint of every control of a window.
class PaintCounter : public QObject
{
  public:
    explicit PaintCounter(QWidget *Root)
    {
        for (QWidget *w : Root->findChildren<QWidget *>())
            w->installEventFilter(this);
    }
    int paints = 0;

  protected:
    bool eventFilter(QObject *, QEvent *Event) override
    {
        paints += Event->type() == QEvent::Paint;
        return false;
    }
};

TEST_F(MainFormTest, IdleTickTouchesNoControl)
{
    image().QueueWrite(RegTypeCoil, 4, 1);
    image().QueueWrite(RegTypeDiscreteInput, 9, 1);
    image().QueueWrite(RegTypeInputReg, 1, 300);
    image().QueueWrite(RegTypeHoldingReg, 2, 65535);
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->Tick();
    QApplication::processEvents();

    PaintCounter counter(m_form.get());
    int brushChanges = 0;
    for (TShape *s : m_form->findChildren<TShape *>())
        brushChanges += s->BrushChangeCount();
    QList<std::shared_ptr<QSignalSpy>> spies;
    for (QLineEdit *e : m_form->findChildren<QLineEdit *>())
        spies.append(std::make_shared<QSignalSpy>(e, &QLineEdit::textChanged));
    for (QScrollBar *b : m_form->findChildren<QScrollBar *>())
        spies.append(std::make_shared<QSignalSpy>(b, &QScrollBar::valueChanged));

    for (int i = 0; i < 3; ++i)
        m_form->Tick();
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    int after = 0;
    for (TShape *s : m_form->findChildren<TShape *>())
        after += s->BrushChangeCount();
    EXPECT_EQ(after, brushChanges);
    for (const auto &spy : spies)
        EXPECT_EQ(spy->count(), 0);

    // The same counter does see a tick that changes something.
    image().QueueWrite(RegTypeCoil, 4, 0);
    m_form->Tick();
    QApplication::processEvents();
    EXPECT_GT(counter.paints, 0);
}

TEST_F(MainFormTest, CancelledConfigurationAppliesNothingAndPutsTheControlsBack)
{
    onNextModal<TConfForm>([](TConfForm *Dialog) {
        Dialog->ComboBox2->setCurrentIndex(0);
        QTest::keyClick(Dialog, Qt::Key_Escape);
    });
    m_form->SerialOptions1Click();
    EXPECT_EQ(m_form->Comm1->BaudRate(), br9600);
    EXPECT_TRUE(m_form->Profile().ProfileSaved);
    // What a save would write is what the port runs.
    EXPECT_EQ(m_form->ConfForm->ComboBox2->currentIndex(), 5);
    EXPECT_EQ(m_form->ReadSerialDialog().BaudRate, 5);

    // OK then applies what the controls hold and marks the profile changed.
    onNextModal<TConfForm>([](TConfForm *Dialog) {
        Dialog->ComboBox2->setCurrentIndex(0);
        Dialog->SpinEdit1->SetValue(9);
        QTest::mouseClick(Dialog->Button1, Qt::LeftButton);
    });
    m_form->SerialOptions1Click();
    EXPECT_EQ(m_form->Comm1->BaudRate(), br300);
    EXPECT_FALSE(m_form->Profile().ProfileSaved);
    EXPECT_EQ(image().MBid, 9);
    EXPECT_EQ(m_form->TabControl1->Tabs()->tabText(0), QStringLiteral("MB id 9"));
    EXPECT_TRUE(m_form->Comm1->IsOpen());
}

TEST_F(MainFormTest, PortThatCannotOpenLeavesTheProgramRunningDisconnected)
{
    m_form->ConfForm->ComboBox1->setCurrentIndex(2);
    m_form->ApplySerialSettings();
    EXPECT_EQ(m_form->windowTitle(),
              QStringLiteral("Quorlin 1.0 - <UNTITLED.QRL> - Disconnected (COM3)"));
    QTest::mouseClick(shape(2), Qt::LeftButton);
    m_form->Tick();
    EXPECT_EQ(image().Coils[2], 1);
}

TEST_F(MainFormTest, CloseStopsTheTickAndReleasesThePort)
{
    m_form->Timer1->start();
    m_form->CloseWithoutQuestion();
    EXPECT_FALSE(m_form->Timer1->isActive());
    EXPECT_FALSE(m_form->Comm1->IsOpen());
}

TEST_F(MainFormTest, CtrlNStartsANewProfileWithoutOpeningTheMenu)
{
    image().QueueWrite(RegTypeCoil, 1, 1);
    m_form->Tick();
    ASSERT_EQ(image().Coils[1], 1);
    m_form->show();
    m_form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
    QTest::keyClick(m_form.get(), Qt::Key_N, Qt::ControlModifier);
    // A new profile clears the register image.
    EXPECT_EQ(image().Coils[1], 0);
    EXPECT_EQ(m_form->windowTitle(),
              QStringLiteral("Quorlin 1.0 - <UNTITLED.QRL> - Connected to COM2"));
}

TEST_F(MainFormTest, StayOnTopTwiceRestoresWindowAndCheckMark)
{
    m_form->StayOnTop1->trigger();
    EXPECT_TRUE(m_form->StayOnTop1->isChecked());
    EXPECT_TRUE(m_form->windowFlags() & Qt::WindowStaysOnTopHint);
    m_form->StayOnTop1->trigger();
    EXPECT_FALSE(m_form->StayOnTop1->isChecked());
    EXPECT_FALSE(m_form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(m_form->Profile().ProfileSaved);
}

TEST_F(MainFormTest, ExitWithUnsavedChangesAnsweredNoKeepsRunning)
{
    m_form->Timer1->start();
    m_form->Profile().ProfileSaved = false;
    QString question;
    onNextModal<QMessageBox>([&question](QMessageBox *Box) {
        question = Box->text();
        Box->button(QMessageBox::No)->click();
    });
    m_form->Exit1->trigger();
    EXPECT_EQ(question, QStringLiteral("Profile data not saved. Do you still want to exit?"));
    EXPECT_TRUE(m_form->Timer1->isActive());
    EXPECT_TRUE(m_form->Comm1->IsOpen());
}

TEST_F(MainFormTest, CloseWithoutQuestionAlsoEndsAnOpenDialog)
{
    m_form->show();
    m_form->Profile().ProfileSaved = false; // no question may come up all the same
    onNextModal<TConfForm>([this](TConfForm *Dialog) {
        Dialog->ComboBox2->setCurrentIndex(0);
        m_form->CloseWithoutQuestion();
    });
    m_form->SerialOptions1Click();
    EXPECT_FALSE(m_form->ConfForm->isVisible());
    EXPECT_FALSE(m_form->isVisible());
    EXPECT_FALSE(m_form->Comm1->IsOpen());
    EXPECT_FALSE(m_form->Timer1->isActive());
    // The dialog was cancelled, not applied.
    EXPECT_EQ(m_form->Comm1->BaudRate(), br9600);
}

TEST_F(MainFormTest, MenuCommandsReachTheirDialogs)
{
    bool aboutShown = false;
    onNextModal<TAboutBox>([&aboutShown](TAboutBox *Box) {
        aboutShown = true;
        Box->accept();
    });
    m_form->About2->trigger();
    EXPECT_TRUE(aboutShown);

    bool addShown = false;
    onNextModal<TAddSForm>([&addShown](TAddSForm *Dialog) {
        addShown = true;
        Dialog->reject();
    });
    m_form->AddPLC2->trigger();
    EXPECT_TRUE(addShown);
    EXPECT_TRUE(m_form->BindingList().empty());
    EXPECT_TRUE(m_form->Profile().ProfileSaved);

    m_form->HelpTopics1->trigger();
    ASSERT_NE(m_form->HelpViewer(), nullptr);
    EXPECT_TRUE(m_form->HelpViewer()->isVisible());
}

TEST_F(MainFormTest, FindPanelControlFollowsTheTags)
{
    struct Row {
        int RegType, n;
        const char *Name;
    } rows[] = {{0, 1, "Shape1"},      {0, 32, "Shape32"},    {1, 1, "Shape33"},
                {1, 32, "Shape64"},    {3, 1, "Edit1"},       {3, 2, "Edit3"},
                {3, 4, "Edit2"},       {4, 1, "Edit7"},       {4, 6, "Edit12"},
                {3, 11, "ScrollBar1"}, {4, 12, "ScrollBar4"}, {3, 22, "Label26"},
                {4, 21, "Label28"},    {4, 22, "Label27"}};
    for (const Row &r : rows) {
        QWidget *w = m_form->FindPanelControl(r.RegType, r.n);
        ASSERT_NE(w, nullptr) << r.Name;
        EXPECT_EQ(w->objectName(), QLatin1String(r.Name));
    }
    EXPECT_EQ(m_form->FindPanelControl(0, 33), nullptr);
    EXPECT_EQ(m_form->FindPanelControl(2, 1), nullptr);
    EXPECT_EQ(m_form->FindPanelControl(0, 0), nullptr); // not the first caption
    EXPECT_EQ(m_form->FindPanelControl(3, -5), nullptr);
}

TEST_F(MainFormTest, PanelsSitAtTheirPositions)
{
    // The design scaled to the font: across exactly (lamps keep their size,
    // centred); down, each group's controls move as one below its title.
    const TDesignScale scale = TDesignScale::ForFont(m_form->font());
    EXPECT_EQ(m_form->centralWidget()->width(), scale.Size(QSize(460, 380)).width());
    struct Row {
        const char *Name;
        QRect Geometry;
    } rows[] = {{"GroupBox1", {10, 30, 441, 61}},   {"GroupBox2", {10, 95, 441, 61}},
                {"GroupBox3", {10, 160, 441, 101}}, {"GroupBox4", {10, 265, 441, 106}},
                {"Shape1", {70, 20, 10, 10}},       {"Shape16", {370, 20, 10, 10}},
                {"Shape17", {70, 40, 10, 10}},      {"Shape64", {370, 40, 10, 10}},
                {"Edit1", {60, 15, 71, 21}},        {"Edit3", {210, 15, 71, 21}},
                {"Edit6", {360, 35, 71, 21}},       {"Edit8", {60, 35, 71, 21}},
                {"ScrollBar1", {60, 60, 331, 16}},  {"ScrollBar4", {60, 80, 331, 16}}};
    std::map<QWidget *, int> drops;
    for (const Row &r : rows) {
        QWidget *w = child<QWidget>(r.Name);
        const QRect expected = scale.Rect(r.Geometry);
        EXPECT_EQ(w->geometry().center().x(), expected.center().x()) << r.Name;
        EXPECT_EQ(w->width(), qobject_cast<TShape *>(w) ? 10 : expected.width()) << r.Name;
        const int drop = w->y() - expected.y();
        EXPECT_GE(drop, 0) << r.Name;
        if (!qobject_cast<QGroupBox *>(w)) {
            EXPECT_EQ(drop, drops.try_emplace(w->parentWidget(), drop).first->second) << r.Name;
        }
    }
    EXPECT_EQ(child<QGroupBox>("GroupBox3")->title(), QStringLiteral(" AI (3x regs) "));
    EXPECT_EQ(child<QLabel>("Label4")->text(), QStringLiteral("0x0032"));
    EXPECT_EQ(child<QLabel>("Label6")->text(), QStringLiteral("1x0016"));
    EXPECT_EQ(child<QScrollBar>("ScrollBar1")->maximum(), 65535);
}

TEST_F(MainFormTest, MenuHoldsEveryItemWithItsShortcut)
{
    struct Row {
        const char *Menu, *Item, *Caption, *Shortcut;
    } rows[] = {{"File1", "NewProfile1", "New Profile", "Ctrl+N"},
                {"File1", "OpenProfile1", "&Open Profile", "Ctrl+O"},
                {"File1", "SaveProfile1", "&Save Profile", "Ctrl+S"},
                {"File1", "SaveAsProfile1", "Save As Profile", ""},
                {"File1", "Exit1", "E&xit", ""},
                {"AddPLC1", "AddPLC2", "&Add Script", ""},
                {"AddPLC1", "DeletePLC1", "&Remove Script", ""},
                {"AddPLC1", "AddScript1", "Edit S&cript", ""},
                {"Settings1", "SerialOptions1", "Serial O&ptions", ""},
                {"Settings1", "StayOnTop1", "Stay On Top", ""},
                {"File1", "ExportValues1", "Export &Values...", ""},
                {"File1", "ImportValues1", "&Import Values...", ""},
                {"View1", "Registers1", "&Registers", "Ctrl+R"},
                {"View1", "TrafficMonitor1", "Traffic &Monitor", "Ctrl+T"},
                {"About1", "HelpTopics1", "Help &Topics", ""},
                {"About1", "About2", "A&bout", ""}};
    for (const Row &r : rows) {
        auto *menu = child<QMenu>(r.Menu);
        QAction *item = nullptr;
        for (QAction *a : menu->actions())
            if (a->objectName() == QLatin1String(r.Item))
                item = a;
        ASSERT_NE(item, nullptr) << r.Item;
        EXPECT_EQ(item->text(), QLatin1String(r.Caption)) << r.Item;
        EXPECT_EQ(item->shortcut().toString(), QLatin1String(r.Shortcut)) << r.Item;
        EXPECT_TRUE(item->isEnabled());
    }
    QStringList bar;
    for (QAction *a : m_form->menuBar()->actions())
        bar << a->text();
    EXPECT_EQ(bar, (QStringList{"&File", "&Scripts", "Se&ttings", "&View", "&Help"}));
    QStringList file;
    for (QAction *a : child<QMenu>("File1")->actions())
        file << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    EXPECT_EQ(file, (QStringList{"NewProfile1", "-", "OpenProfile1", "-", "SaveProfile1",
                                 "SaveAsProfile1", "-", "ExportValues1", "ImportValues1",
                                 "ImportMap1", "ExportMap1", "-", "Exit1"}));
    EXPECT_TRUE(m_form->StayOnTop1->isCheckable());
    EXPECT_FALSE(m_form->StayOnTop1->isChecked());
}

} // namespace
