// SPDX-License-Identifier: MIT
// The main window with several slaves: one tab each in ascending id order,
// panels showing the selected slave, the "Slaves" dialog and the tab strip's
// menu, the slave id in the Configuration dialog, the broadcast switch, and
// the script commands acting on the selected slave. The master's side is in
// tst_program_slaves.cpp.
#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include "profile/profiledialogs.h"
#include "profile/profilemanager.h"
#include "scripts/ui/delscript.h"
#include "scripts/ui/scriptcommands.h"
#include "serial/ui/configunit.h"
#include "serial/ui/spinedit.h"
#include "slaves/slavecommands.h"
#include "slaves/slavesform.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"
#include "ui/panelcontrols.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

// A profile of slaves 1, 2 and 17; the (empty) script bound to coil 3 of
// slave 1 and holding register 2 of slave 17.
const QByteArray BusProfile = "[SerialSettings]\nMBid=1\nMoreIds=17,2\n"
                              "[Scripts]\nCount=3\n"
                              "[Script1]\nName=(Empty Script)\nRegType=0\nRegAdr=3\n"
                              "[Script2]\nName=(Empty Script)\nRegType=4\nRegAdr=2\nMBid=17\n"
                              "[Script3]\nName=Gone\nRegType=3\nRegAdr=1\nMBid=40\n";

// Answers the file dialogs and questions of the profile commands.
class ScriptedDialogs : public IProfileDialogs
{
  public:
    QString File;
    TConfirmAnswer Confirm(QWidget *, const QString &, bool) override { return TConfirmAnswer::No; }
    void ShowError(QWidget *, const QString &Text) override { Errors << Text; }
    std::optional<QString> SaveFileName(QWidget *, const TFileDialogRequest &) override
    {
        return File;
    }
    std::optional<QString> OpenFileName(QWidget *, const TFileDialogRequest &) override
    {
        return File;
    }
    QStringList Errors;
};

class SlavesTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path(), &m_dialogs);
        m_form->CreateDialogs();
        m_form->Timer1->stop();
        // Every question of the slave commands is answered from here.
        TSlavePrompts prompts;
        prompts.askId = [this](QWidget *, int Suggested) -> std::optional<int> {
            m_suggested.push_back(Suggested);
            if (m_ids.empty())
                return std::nullopt;
            const int id = m_ids.front();
            m_ids.erase(m_ids.begin());
            return id;
        };
        prompts.confirm = [this](QWidget *, const QString &Question) {
            m_questions << Question;
            return m_yes;
        };
        prompts.warn = [this](QWidget *, const QString &Message) { m_warnings << Message; };
        m_form->SlaveCommands().setPrompts(prompts);
    }
    void TearDown() override { m_form.reset(); }

    void openBus()
    {
        m_dialogs.File = QDir(m_dir.path()).filePath(QStringLiteral("bus.QRL"));
        ASSERT_TRUE(writeAll(m_dialogs.File, BusProfile));
        m_form->OpenProfile1Click();
    }
    QStringList tabs() const
    {
        QStringList t;
        QTabBar *bar = m_form->TabControl1->Tabs();
        for (int i = 0; i < bar->count(); ++i)
            t << bar->tabText(i);
        return t;
    }
    int shownId() const { return m_form->RegisterImage().MBid; }
    QString shownTab() const
    {
        QTabBar *bar = m_form->TabControl1->Tabs();
        return bar->tabText(bar->currentIndex());
    }

    ProgramDir m_dir;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<TMainForm> m_form;
    std::vector<int> m_ids; // answers to "MB id of the new slave"
    std::vector<int> m_suggested;
    QStringList m_questions, m_warnings;
    bool m_yes = true;
};

TEST_F(SlavesTest, OneTabPerSlaveInAscendingOrderAndThePanelsFollowTheTab)
{
    EXPECT_EQ(tabs(), QStringList{"MB id 1"});
    openBus();
    EXPECT_EQ(tabs(), (QStringList{"MB id 1", "MB id 2", "MB id 17"}));
    EXPECT_EQ(shownTab(), QStringLiteral("MB id 1"));
    EXPECT_EQ(m_form->ConfForm->SpinEdit1->Value(), 1);
    QTabBar *bar = m_form->TabControl1->Tabs();
    EXPECT_TRUE(bar->rect().contains(bar->tabRect(2))); // the strip grew with its tabs

    m_form->Slaves().Find(17)->HoldingRegs[1] = 1717;
    m_form->Slaves().Find(2)->Coils[1] = 1;
    m_form->TabControl1->Tabs()->setCurrentIndex(2);
    EXPECT_EQ(shownId(), 17);
    EXPECT_EQ(m_form->ConfForm->SpinEdit1->Value(), 17);
    EXPECT_EQ(m_form->findChild<TNumberBox *>(QStringLiteral("Edit7"))->text(), "1717");

    // A click on a lamp goes to the shown slave only.
    m_form->TabControl1->Tabs()->setCurrentIndex(1);
    EXPECT_EQ(m_form->findChild<TShape *>(QStringLiteral("Shape1"))->BrushColor(), LampOnColor);
    QTest::mouseClick(m_form->findChild<TShape *>(QStringLiteral("Shape5")), Qt::LeftButton);
    m_form->Tick();
    EXPECT_EQ(m_form->Slaves().Find(2)->Coils[5], 1);
    EXPECT_EQ(m_form->Slaves().Find(1)->Coils[5], 0);
    EXPECT_EQ(m_form->Slaves().Find(17)->Coils[5], 0);
}

TEST_F(SlavesTest, ConfigurationRefusesAnIdAnotherSlaveHasAndRenumbersTheSelectedOne)
{
    openBus();
    m_form->SelectSlave(17);
    QStringList refusals;
    m_form->ConfForm->ShowRefusal = [&](const QString &M) { refusals << M; };
    onNextModal<TConfForm>([](TConfForm *Dialog) {
        Dialog->SpinEdit1->SetValue(2);
        QTest::mouseClick(Dialog->Button1, Qt::LeftButton); // refused: stays open
        EXPECT_TRUE(Dialog->isVisible());
        Dialog->SpinEdit1->SetValue(9);
        QTest::mouseClick(Dialog->Button1, Qt::LeftButton);
    });
    m_form->SerialOptions1Click();
    EXPECT_EQ(refusals, QStringList{"Slave id 2 is already used."});
    EXPECT_EQ(tabs(), (QStringList{"MB id 1", "MB id 2", "MB id 9"}));
    EXPECT_EQ(shownTab(), QStringLiteral("MB id 9"));
    EXPECT_EQ(m_form->Slaves().Find(17), nullptr);
    // Its binding went with it.
    EXPECT_EQ(m_form->BindingList()[1].SlaveId, 9);
    EXPECT_FALSE(m_form->Profile().ProfileSaved);
    // Its own id is no clash.
    m_form->ConfForm->SpinEdit1->SetValue(9);
    EXPECT_FALSE(m_form->ConfForm->RefuseSlaveId());
}

TEST_F(SlavesTest, SlavesDialogAddsAFreeIdAndRemovesAfterConfirmingButNeverTheLast)
{
    TSlavesForm form(m_form->SlaveCommands());
    form.Refill();
    EXPECT_FALSE(form.RemoveButton->isEnabled()); // one slave: it stays

    m_ids = {1, 40}; // 1 is taken: said so, then asked again
    form.AddClick();
    EXPECT_EQ(m_warnings, QStringList{"Slave id 1 is already used."});
    EXPECT_EQ(m_suggested, (std::vector<int>{2, 2}));
    EXPECT_EQ(tabs(), (QStringList{"MB id 1", "MB id 40"}));
    EXPECT_EQ(shownTab(), QStringLiteral("MB id 40"));
    EXPECT_EQ(form.ListBox1->count(), 2);
    EXPECT_EQ(form.ListBox1->currentItem()->text(), QStringLiteral("MB id 40 (0 scripts)"));
    EXPECT_FALSE(m_form->Profile().ProfileSaved);

    m_ids = {}; // cancelled
    form.AddClick();
    EXPECT_EQ(m_form->Slaves().Count(), 2);

    m_yes = false;
    form.RemoveClick();
    EXPECT_EQ(m_questions, QStringList{"Remove slave 40?"});
    EXPECT_EQ(m_form->Slaves().Count(), 2);
    m_yes = true;
    form.RemoveClick();
    EXPECT_EQ(tabs(), QStringList{"MB id 1"});
    EXPECT_EQ(shownTab(), QStringLiteral("MB id 1"));
    EXPECT_FALSE(form.RemoveButton->isEnabled());
    EXPECT_FALSE(m_form->SlaveCommands().RemoveSlave(1));
}

TEST_F(SlavesTest, TabMenuRemovesTheSlaveUnderTheMouseWithItsBindings)
{
    openBus();
    m_form->SelectSlave(17);
    QMenu *menu = m_form->BuildSlaveMenu(2);
    QStringList items;
    for (QAction *a : menu->actions())
        if (!a->isSeparator())
            items << a->text();
    EXPECT_EQ(items, (QStringList{"&Add Slave...", "&Remove Slave 17", "Slave 17 &Offline",
                                  "Slave &Options 17...",
                                  "S&laves..."}));
    menu->actions()[1]->trigger();
    EXPECT_EQ(m_questions, QStringList{"Remove slave 17? Its script binding is removed with it."});
    EXPECT_EQ(tabs(), (QStringList{"MB id 1", "MB id 2"}));
    EXPECT_EQ(shownTab(), QStringLiteral("MB id 1"));
    ASSERT_EQ(m_form->BindingList().size(), 2u);
    EXPECT_EQ(m_form->BindingList()[0].RegType, 0);
    EXPECT_EQ(m_form->BindingList()[1].SlaveId, 40); // no slave's: kept
    delete menu;
}

TEST_F(SlavesTest, SavedBusLoadsBackWithBroadcastAndOneSlaveSavesTheOldKeysOnly)
{
    openBus();
    m_form->AcceptBroadcast1->trigger();
    EXPECT_TRUE(m_form->Slaves().AcceptBroadcast);
    m_form->SelectSlave(2); // the file's MBid stays the first slave's
    m_form->SaveProfile1Click();
    const QString saved = QString::fromUtf8(readAll(m_dialogs.File));
    EXPECT_TRUE(saved.contains("MBid=1\n")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("MoreIds=2,17\n")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("Broadcast=1\n")) << saved.toStdString();

    m_form->NewProfile1Click();
    EXPECT_EQ(tabs(), QStringList{"MB id 1"});
    EXPECT_FALSE(m_form->AcceptBroadcast1->isChecked());
    m_form->OpenProfile1Click();
    EXPECT_EQ(tabs(), (QStringList{"MB id 1", "MB id 2", "MB id 17"}));
    EXPECT_TRUE(m_form->AcceptBroadcast1->isChecked());
    EXPECT_TRUE(m_form->Slaves().AcceptBroadcast);

    // A new profile of one slave has none of the new keys.
    m_form->NewProfile1Click();
    m_dialogs.File = QDir(m_dir.path()).filePath(QStringLiteral("one.QRL"));
    m_form->SaveAsProfile1Click();
    EXPECT_EQ(readAll(m_dialogs.File),
              QByteArray("[SerialSettings]\nMBid=1\nSerialPort=2\nBaudRate=5\nDataBits=4\n"
                         "StopBits=0\nParity=0\nHandshaking=1\n[Scripts]\nCount=0\n"));
}

TEST_F(SlavesTest, ScriptListsShowTheSelectedSlavesBindingsOnly)
{
    openBus();
    QStringList lines;
    TScriptPrompts prompts = TScriptPrompts::standard();
    prompts.exec = [&](QDialog &Dialog) {
        lines.clear();
        if (auto *list = qobject_cast<TDelSForm *>(&Dialog))
            for (int i = 0; i < list->ListBox1->count(); ++i)
                lines << list->ListBox1->item(i)->text();
        return int(QDialog::Rejected);
    };
    m_form->ScriptCommands()->setPrompts(prompts);
    m_form->DeletePLC1Click();
    // A binding of an id that is not emulated is listed with every slave.
    const QString gone = "(MB id 40, not emulated) 3x0001 = Gone (0, 0, 0)";
    EXPECT_EQ(lines, (QStringList{"0x0003 = (Empty Script) (0, 0, 0)", gone}));
    m_form->SelectSlave(17);
    m_form->AddScript1Click();
    EXPECT_EQ(lines, (QStringList{"4x0002 = (Empty Script) (0, 0, 0)", gone}));
    m_form->SelectSlave(2);
    m_form->DeletePLC1Click();
    EXPECT_EQ(lines, QStringList{gone});
}

} // namespace
