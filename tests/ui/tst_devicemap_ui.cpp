// SPDX-License-Identifier: MIT
// Device maps through the main window as a user meets them: a map imported
// into the register table, a value edited there, the profile saved and
// opened again, the map exported unchanged; the per-slave options dialog.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "profile/profiledialogs.h"
#include "profile/profilemanager.h"
#include "registers/registermodel.h"
#include "registers/registersform.h"
#include "slaves/devicemaps.h"
#include "slaves/slaveoptionsform.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

// Errors are collected; file dialogs answer with the next queued path; a
// question (save changes?) is answered No.
class QueuedDialogs : public IProfileDialogs
{
  public:
    std::vector<QString> Errors;
    std::deque<QString> Files;
    TConfirmAnswer Confirm(QWidget *, const QString &, bool) override { return TConfirmAnswer::No; }
    void ShowError(QWidget *, const QString &Text) override { Errors.push_back(Text); }
    std::optional<QString> SaveFileName(QWidget *, const TFileDialogRequest &) override
    {
        return next();
    }
    std::optional<QString> OpenFileName(QWidget *, const TFileDialogRequest &) override
    {
        return next();
    }

  private:
    std::optional<QString> next()
    {
        if (Files.empty())
            return std::nullopt;
        QString f = Files.front();
        Files.pop_front();
        return f;
    }
};

// As an export writes it: full header, CRLF, numbers as short as they go.
const QByteArray Meter = "slave,register,name,type,order,scale,offset,unit,access,value\r\n"
                         "1,3x30001,Voltage L1,f32,CDAB,1,0,V,ro,230.5\r\n"
                         "1,3x30003,Voltage L2,f32,CDAB,1,0,V,ro,\r\n"
                         "1,4x40001,Frequency set point,u16,,0.1,0,Hz,rw,500\r\n"
                         "1,4x40010,Tag,ascii6,,1,0,,rw,QRL-1\r\n"
                         "1,0x0010,Run,bit,,1,0,,rw,1\r\n";

class DeviceMapUiTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path(), &m_dialogs);
        m_form->CreateDialogs();
        m_form->Timer1->stop(); // the tests step the tick
        m_form->show();
        m_form->Registers1Click();
        m_table = m_form->RegistersForm();
        ASSERT_NE(m_table, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_table));
    }
    void TearDown() override { m_form.reset(); }

    QString file(const char *Name) const { return QDir(m_dir.path()).filePath(Name); }
    QString cell(int Row, int Column)
    {
        return m_table->Model->index(Row, Column).data().toString();
    }
    int currentRow() const { return m_table->View->currentIndex().row(); }
    // Types Text into a cell of the current row and presses Enter.
    void type(int Column, const QString &Text)
    {
        QTableView *view = m_table->View;
        const QModelIndex at = m_table->Model->index(currentRow(), Column);
        view->setCurrentIndex(at);
        view->edit(at);
        auto *editor = view->viewport()->findChild<QLineEdit *>();
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, Text);
        QTest::keyClick(editor, Qt::Key_Return);
        QPointer<QLineEdit> open(editor);
        for (int i = 0; i < 100 && open; ++i)
            QTest::qWait(5);
    }

    ProgramDir m_dir;
    QueuedDialogs m_dialogs;
    std::unique_ptr<TMainForm> m_form;
    TRegistersForm *m_table = nullptr;
};

TEST_F(DeviceMapUiTest, ImportEditSaveReopenExportIsIdentical)
{
    ASSERT_TRUE(writeAll(file("meter.csv"), Meter));
    m_dialogs.Files = {file("meter.csv")};
    QTest::mouseClick(m_table->ImportMapButton, Qt::LeftButton);
    ASSERT_TRUE(m_dialogs.Errors.empty()) << m_dialogs.Errors[0].toStdString();
    TRegisterImage &slave = m_form->RegisterImage();
    EXPECT_EQ(slave.TableSize(RegTypeHoldingReg), 65536) << "the map reaches past 256";
    EXPECT_EQ(slave.HoldingRegs[40001], 500);

    // The table shows the map where the user jumps to.
    m_table->JumpEdit->setText(QStringLiteral("4x40001"));
    QTest::keyClick(m_table->JumpEdit, Qt::Key_Return);
    ASSERT_EQ(currentRow(), 40000);
    m_form->Tick();
    EXPECT_EQ(cell(40000, TRegisterModel::NameColumn), QStringLiteral("Frequency set point"));
    EXPECT_EQ(cell(40000, TRegisterModel::ValueColumn), QStringLiteral("500"));
    EXPECT_EQ(cell(40000, TRegisterModel::EngineeringColumn), QStringLiteral("50"));
    EXPECT_EQ(cell(40000, TRegisterModel::UnitColumn), QStringLiteral("Hz"));
    EXPECT_EQ(cell(40010, TRegisterModel::ValueColumn),
              QStringLiteral("(register 2 of 3 of 4x40010)"));

    // An engineering value goes in through the table's write queue.
    type(TRegisterModel::EngineeringColumn, QStringLiteral("49.5"));
    m_form->Tick();
    EXPECT_EQ(slave.HoldingRegs[40001], 495);
    EXPECT_EQ(cell(40000, TRegisterModel::EngineeringColumn), QStringLiteral("49.5"));

    // A row format of an unmapped register, and none on a mapped one.
    ASSERT_TRUE(m_table->Jump(QStringLiteral("2")).isEmpty());
    m_form->Profile().ProfileSaved = true;
    m_table->SetSelectedFormat({TValueKind::F32, TWordOrder::CDAB});
    EXPECT_FALSE(m_form->Profile().ProfileSaved) << "the profile keeps the formats";
    ASSERT_TRUE(m_table->Jump(QStringLiteral("40001")).isEmpty());
    m_table->SetSelectedFormat({TValueKind::Hex});
    ASSERT_EQ(m_dialogs.Errors.size(), 1u);
    EXPECT_EQ(m_dialogs.Errors[0], QStringLiteral("4x40001 is typed by the device map"));

    // The filter keeps the mapped rows whose name holds the text.
    ASSERT_TRUE(m_table->Jump(QStringLiteral("3x30001")).isEmpty());
    m_table->FilterEdit->setText(QStringLiteral("volt"));
    ASSERT_EQ(m_table->Model->rowCount(), 2);
    EXPECT_EQ(cell(1, TRegisterModel::RegisterColumn), QStringLiteral("3x30003"));
    EXPECT_EQ(cell(0, TRegisterModel::EngineeringColumn), QStringLiteral("230.5"));
    m_table->FilterEdit->clear();

    m_dialogs.Files = {file("meter.QRL")};
    m_form->SaveAsProfile1Click();
    const QByteArray profile = readAll(file("meter.QRL"));
    EXPECT_TRUE(profile.contains("[Slave1]\nMap=meter.csv\n")) << profile.toStdString();
    EXPECT_TRUE(profile.contains("[Formats1]\n4x0002=f32 CDAB\n")) << profile.toStdString();

    m_form->NewProfile1Click();
    EXPECT_EQ(m_form->RegisterImage().TableSize(RegTypeHoldingReg), 256);
    EXPECT_EQ(m_form->DeviceMaps().ExportMap(file("none.csv")),
              QStringLiteral("No slave has a device map to export."));

    m_dialogs.Files = {file("meter.QRL")};
    m_form->OpenProfile1Click();
    m_form->Tick();
    ASSERT_TRUE(m_table->Jump(QStringLiteral("4x0002")).isEmpty());
    EXPECT_EQ(cell(1, TRegisterModel::FormatColumn), QStringLiteral("Float 32 CD AB"));
    EXPECT_EQ(cell(40000, TRegisterModel::NameColumn), QStringLiteral("Frequency set point"));

    m_dialogs.Files = {file("out.csv")};
    m_form->ExportMap1->trigger();
    EXPECT_EQ(readAll(file("out.csv")), Meter);
    EXPECT_EQ(m_dialogs.Errors.size(), 1u);
}

TEST_F(DeviceMapUiTest, BadMapIsRefusedWholeAndTheOldOneStays)
{
    ASSERT_TRUE(writeAll(file("meter.csv"), Meter));
    ASSERT_TRUE(m_form->DeviceMaps().ImportMap(file("meter.csv"), 1).isEmpty());
    struct Bad {
        const char *Text;
        const char *Error;
    };
    const Bad rows[] = {
        {"register,name,type,order,scale,offset,unit,access,value\n"
         "4x0001,A,u16,,,,,,\n4x0001,B,u16,,,,,,\n",
         "line 3: 4x0001 overlaps the item of line 2"},
        {"slave,register,name,type,order,scale,offset,unit,access,value\n"
         "9,4x0001,A,u16,,,,,,\n",
         "the map has items for slave 9, which is not emulated; add it first"},
        {"slave,register,name,type,order,scale,offset,unit,access,value\n", "the map has no items"},
    };
    for (const Bad &b : rows) {
        ASSERT_TRUE(writeAll(file("bad.csv"), b.Text));
        m_dialogs.Files = {file("bad.csv")};
        m_form->ImportMap1->trigger();
        ASSERT_FALSE(m_dialogs.Errors.empty());
        EXPECT_EQ(m_dialogs.Errors.back(), file("bad.csv") + QStringLiteral(": ") + b.Error);
    }
    EXPECT_EQ(m_dialogs.Errors.size(), std::size(rows));
    EXPECT_EQ(m_form->RegisterImage().Options.Map, file("meter.csv").toStdString());
    m_dialogs.Files = {file("out.csv")};
    m_form->ExportMap1->trigger();
    EXPECT_EQ(readAll(file("out.csv")), Meter);
}

TEST_F(DeviceMapUiTest, OptionsDialogSetsEveryOptionAndKeepsABadMapOpen)
{
    ASSERT_TRUE(writeAll(file("bad.csv"), "nonsense\n"));
    ASSERT_TRUE(writeAll(file("meter.csv"), Meter));
    int shown = 0;
    std::function<void(TSlaveOptionsForm *)> answer = [&](TSlaveOptionsForm *d) {
        ++shown;
        if (shown == 1) {
            d->RegistersEdit->setValue(1000);
            d->MapEdit->setText(file("bad.csv"));
            d->MappedOnlyBox->setChecked(true);
            d->DeviceIdBox->setChecked(true);
            d->IdentityEdits[0]->setText(QStringLiteral("Quorlin"));
            d->IdentityEdits[6]->setText(QStringLiteral("Meter, 3 phases"));
            d->Functions22And23Box->setChecked(true);
            d->OffsetBox->setCurrentIndex(0);
            d->StrictBox->setChecked(true);
            d->OkButton->click(); // refused: the map does not read
            EXPECT_TRUE(d->isVisible());
            d->MapEdit->setText(file("meter.csv"));
            d->RegistersEdit->setValue(65536);
        }
        d->OkButton->click();
    };
    onNextModal<TSlaveOptionsForm>(answer);
    m_form->SlaveOptions1Click(1);
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(m_dialogs.Errors.size(), 1u);
    EXPECT_TRUE(m_dialogs.Errors[0].startsWith(file("bad.csv") + QStringLiteral(": line 1: ")))
        << m_dialogs.Errors[0].toStdString();

    const TSlaveOptions &o = m_form->RegisterImage().Options;
    EXPECT_EQ(o.Registers, 65536);
    EXPECT_EQ(o.Map, file("meter.csv").toStdString()) << "no profile folder yet: absolute";
    EXPECT_TRUE(o.MappedOnly);
    EXPECT_TRUE(o.DeviceId);
    EXPECT_EQ(o.Identity[0], "Quorlin");
    EXPECT_TRUE(o.Functions22And23);
    EXPECT_EQ(o.AddressOffset, -1);
    EXPECT_TRUE(o.Strict);
    EXPECT_EQ(m_form->RegisterImage().TableSize(RegTypeInputReg), 65536);
    EXPECT_EQ(m_form->RegisterImage().HoldingRegs[40001], 500);

    m_dialogs.Files = {file("dev.QRL")};
    m_form->SaveAsProfile1Click();
    const QByteArray profile = readAll(file("dev.QRL"));
    EXPECT_TRUE(profile.contains("[Slave1]\nRegisters=65536\nMap=meter.csv\nMappedOnly=1\n"
                                 "DeviceId=1\nVendorName=Quorlin\n"
                                 "UserApplicationName=Meter, 3 phases\nFunctions22And23=1\n"
                                 "AddressOffset=-1\nStrict=1\n"))
        << profile.toStdString();

    // Cancel changes nothing; the same map keeps the registers' values, and
    // OK keeps what the dialog does not show (a slave switched offline).
    m_form->RegisterImage().HoldingRegs[40001] = 7;
    m_form->RegisterImage().Options.Offline = true;
    onNextModal<TSlaveOptionsForm>([](TSlaveOptionsForm *d) { d->CancelButton->click(); });
    m_form->SlaveOptions1Click(1);
    onNextModal<TSlaveOptionsForm>([](TSlaveOptionsForm *d) { d->OkButton->click(); });
    m_form->SlaveOptions1Click(1);
    EXPECT_EQ(m_form->RegisterImage().HoldingRegs[40001], 7);
    EXPECT_EQ(m_form->RegisterImage().Options.Map, file("meter.csv").toStdString());    EXPECT_TRUE(m_form->RegisterImage().Options.Offline);
    EXPECT_TRUE(m_form->RegisterImage().Options.Strict) << "the box starts from the slave's option";
}

} // namespace
