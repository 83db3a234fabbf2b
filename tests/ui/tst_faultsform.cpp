// SPDX-License-Identifier: MIT
// "Settings > Faults..." and "Settings > Inject Faults" on the main window:
// what OK, Cancel and the check item do to the engine and to the profile,
// and the counts the dialog shows while a master is served.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>

#include <cerrno>

#include <gtest/gtest.h>

#include "engine/modbusslave.h"
#include "faults/failnextdialog.h"
#include "faults/faultsform.h"
#include "profile/profilemanager.h"
#include "slaves/slavecommands.h"
#include "ui/panelcontrols.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

class FaultsMenuTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path());
        m_form->CreateDialogs();
        m_form->Timer1->stop();
    }
    const TFaultPlan &plan() { return m_form->Engine().Faults(); }
    // The engine counts on the line's thread, under its lock.
    TFaultCounts counts()
    {
        std::lock_guard<std::mutex> lock(m_form->Engine().Lock());
        return plan().Counts();
    }

    // Opens the Faults dialog, lets Edit change it, and closes it with OK or Cancel.
    void editFaults(std::function<void(TFaultsForm *)> Edit, bool Ok = true)
    {
        onNextModal<TFaultsForm>([Edit, Ok](TFaultsForm *Dialog) {
            Edit(Dialog);
            if (Ok)
                Dialog->accept();
            else
                QTest::keyClick(Dialog, Qt::Key_Escape);
        });
        m_form->Faults1Click();
    }

    ProgramDir m_dir;
    std::unique_ptr<TMainForm> m_form;
};

TEST_F(FaultsMenuTest, CancelAndUnchangedOkKeepTheProfileAndOkAppliesEveryKey)
{
    editFaults([](TFaultsForm *d) { d->NoReplyEveryEdit->setValue(3); }, false);
    editFaults([](TFaultsForm *) {});
    EXPECT_EQ(plan().Settings(), TFaultSettings{});
    EXPECT_TRUE(m_form->Profile().ProfileSaved);

    editFaults([](TFaultsForm *d) {
        d->EnabledBox->setChecked(true);
        const std::pair<QSpinBox *, int> values[] = {
            {d->MBidEdit, 1},          {d->DelayMsEdit, 20},       {d->DelayMaxMsEdit, 40},
            {d->NoReplyEveryEdit, 5},  {d->NoReplyPercentEdit, 7}, {d->ExceptionEveryEdit, 9},
            {d->ExceptionCodeEdit, 6}, {d->BadCrcEveryEdit, 2},    {d->BadCrcPercentEdit, 3},
            {d->WrongIdEveryEdit, 11}, {d->SplitReplyMsEdit, 15},  {d->SeedEdit, -8}};
        for (const auto &[edit, value] : values)
            edit->setValue(value);
    });
    const TFaultSettings want{1, 1, 20, 40, 5, 7, 9, 6, 2, 3, 11, 15, -8};
    EXPECT_EQ(plan().Settings(), want);
    EXPECT_EQ(m_form->Profile().Faults, want);
    EXPECT_TRUE(m_form->InjectFaults1->isChecked());
    EXPECT_FALSE(m_form->Profile().ProfileSaved);

    // The dialog opens again with what was set.
    editFaults([&want](TFaultsForm *d) { EXPECT_EQ(d->Faults(), want); }, false);
}

TEST_F(FaultsMenuTest, InjectFaultsSwitchesTheFaultsAndANewProfileHasNone)
{
    m_form->InjectFaults1->trigger();
    EXPECT_TRUE(plan().Enabled());
    EXPECT_FALSE(m_form->Profile().ProfileSaved);
    ASSERT_NE(m_form->FaultsStatus, nullptr);
    EXPECT_FALSE(m_form->FaultsStatus->isHidden());
    // Shortened to "FAULTS ON" where the bar is short of room; the tooltip has it all.
    EXPECT_EQ(m_form->FaultsStatus->toolTip(), QStringLiteral("FAULTS ON: none set"));
    EXPECT_TRUE(m_form->FaultsStatus->text().startsWith(QStringLiteral("FAULTS ON")));
    m_form->InjectFaults1->trigger();
    EXPECT_FALSE(plan().Enabled());
    EXPECT_TRUE(m_form->FaultsStatus->isHidden());

    m_form->InjectFaults1->trigger();
    // A new profile has no faults, and the check item follows.
    m_form->Profile().ProfileSaved = true; // no question about the changes
    m_form->NewProfile1Click();
    EXPECT_FALSE(plan().Enabled());
    EXPECT_FALSE(m_form->InjectFaults1->isChecked());
}

TEST_F(FaultsMenuTest, DialogShowsWhatTheFaultsDidToAMaster)
{
    editFaults([](TFaultsForm *d) {
        d->EnabledBox->setChecked(true);
        d->BadCrcEveryEdit->setValue(2);
    });
    Master master(m_dir.com2().master());
    uint16_t regs[2];
    std::string seen;
    for (int i = 0; i < 4; ++i)
        seen += master.run(
                    [&regs](modbus_t *Ctx) { return modbus_read_registers(Ctx, 0, 2, regs); }) == 2
                    ? '.'
                    : 'c';
    EXPECT_EQ(seen, ".c.c");
    EXPECT_EQ(counts().Requests, 4u);
    EXPECT_EQ(counts().BadCrc, 2u);

    QString shown;
    editFaults([&shown](TFaultsForm *d) { shown = d->CountsLabel->text(); }, false);
    EXPECT_TRUE(shown.contains(QStringLiteral("4 requests counted"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("2 bad CRCs"))) << shown.toStdString();
}

// The slave chooser, the aim, "Fail next..." and the tab's offline switch,
// as a master on the line meets them.
TEST_F(FaultsMenuTest, SlaveSectionsAimFailNextAndOffline)
{
    ASSERT_TRUE(m_form->SlaveCommands().AddSlaveId(2).ok());
    bool refused = false;
    editFaults([&refused](TFaultsForm *d) {
        d->ShowSlave(2);
        d->EnabledBox->setChecked(true);
        d->NoReplyEveryEdit->setValue(1);
        d->RegistersEdit->setText(QStringLiteral("4x0002-4x0001"));
        d->accept(); // refused: the range runs backwards
        refused = d->isVisible() && !d->AimErrorLabel->isHidden();
        d->RegistersEdit->setText(QStringLiteral("4x0002"));
    });
    EXPECT_TRUE(refused);
    EXPECT_EQ(m_form->Profile().Faults, TFaultSettings{}) << "every slave's section untouched";
    ASSERT_EQ(m_form->Profile().SlaveFaults.size(), 1u);
    EXPECT_EQ(m_form->Profile().SlaveFaults.at(2).Registers, "4x0002");

    Master master(m_dir.com2().master());
    // Slave, register (0-based address): '.' answered, 't' silent, 'x' exception.
    auto read = [&master](int Slave, int Address) {
        const int n = master.run([Slave, Address](modbus_t *Ctx) {
            modbus_set_slave(Ctx, Slave);
            modbus_set_response_timeout(Ctx, 1, 0);
            uint16_t r;
            const int got = modbus_read_registers(Ctx, Address, 1, &r);
            const int error = errno;
            if (got != 1)
                modbus_flush(Ctx);
            return got == 1 ? 0 : error;
        });
        return n == 0 ? '.' : n == ETIMEDOUT ? 't' : n == EMBXSFAIL ? 'x' : '?';
    };
    EXPECT_EQ(std::string({read(2, 0), read(2, 1), read(1, 1)}), ".t.");

    // Two exceptions for any slave; the dialog says what is left as it runs down.
    QString ordered;
    editFaults(
        [&ordered](TFaultsForm *d) {
            onNextModal<TFailNextDialog>([](TFailNextDialog *f) {
                f->KindBox->setCurrentIndex(int(TFailKind::Exception));
                f->CountEdit->setValue(2);
                f->accept();
            });
            d->FailNextButton->click();
            ordered = d->FailNextLabel->text();
        },
        false);
    EXPECT_TRUE(ordered.contains(QStringLiteral("next 2 requests of any slave: exception 4")))
        << ordered.toStdString();
    EXPECT_EQ(std::string({read(2, 1), read(1, 0), read(2, 1)}), "xxt");
    QString own, left;
    editFaults(
        [&own, &left](TFaultsForm *d) {
            d->ShowSlave(2);
            own = d->CountsLabel->text();
            left = d->FailNextLabel->text();
        },
        false);
    EXPECT_TRUE(own.contains(QStringLiteral("2 requests counted; 2 without reply")))
        << own.toStdString();
    EXPECT_TRUE(left.startsWith(QStringLiteral("No "))) << left.toStdString();

    // Offline from the tab's menu: silent, values kept, and back.
    {
        std::lock_guard<std::mutex> lock(m_form->Engine().Lock());
        m_form->Slaves().Find(1)->HoldingRegs[1] = 41;
    }
    QMenu *menu = m_form->BuildSlaveMenu(0);
    QAction *offline = menu->findChild<QAction *>(QStringLiteral("SlaveOffline"));
    ASSERT_NE(offline, nullptr);
    offline->trigger();
    EXPECT_TRUE(m_form->TabControl1->Tabs()->tabText(0).endsWith(QStringLiteral("(offline)")));
    EXPECT_EQ(read(1, 0), 't');
    menu = m_form->BuildSlaveMenu(0);
    offline = menu->findChild<QAction *>(QStringLiteral("SlaveOffline"));
    ASSERT_TRUE(offline->isChecked());
    offline->trigger();
    EXPECT_EQ(read(1, 0), '.');
    EXPECT_FALSE(m_form->Profile().ProfileSaved);
}

struct SummaryRow {
    TFaultSettings Faults;
    const char *Text;
};

TEST(FaultsStatus, NamesEveryFaultThatIsSet)
{
    const SummaryRow rows[] = {
        {{.NoReplyEvery = 3, .ExceptionEvery = 5, .BadCrcPercent = 10}, //
         "FAULTS ON: no reply every 3, exception 4 every 5, bad CRC 10 %"},
        {{.MBid = 7, .DelayMs = 200, .DelayMaxMs = 400, .ExceptionCode = 6, .WrongIdEvery = 1},
         "FAULTS ON: slave 7 only, wrong id always, delay 200-400 ms"},
        {{.DelayMs = 50, .DelayMaxMs = 20, .NoReplyPercent = 5, .SplitReplyMs = 3},
         "FAULTS ON: no reply 5 %, delay 50 ms, split 3 ms"},
    };
    for (const SummaryRow &r : rows)
        EXPECT_EQ(FaultsSummary(r.Faults), QString::fromUtf8(r.Text));
}

} // namespace
