// SPDX-License-Identifier: MIT
// The register table window over the main window's slave: opened from the
// View menu, typed into and clicked as a user does, refreshed by the tick,
// and the values files through the File menu and the window's buttons.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "profile/profiledialogs.h"
#include "registers/registermodel.h"
#include "registers/registersform.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"
#include "ui/panelcontrols.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

// Errors are collected; file dialogs answer with the next queued path.
class AnsweringDialogs : public IProfileDialogs
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

class RegistersFormTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path(), &m_dialogs);
        m_form->CreateDialogs();
        m_form->Timer1->stop(); // the tests step the tick
        m_form->show();
        m_form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
        QTest::keyClick(m_form.get(), Qt::Key_R, Qt::ControlModifier);
        m_table = m_form->RegistersForm();
        ASSERT_NE(m_table, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_table));
    }
    void TearDown() override { m_form.reset(); }

    TRegisterImage &image() { return m_form->RegisterImage(); }
    QString cell(int Row, int Column = TRegisterModel::ValueColumn)
    {
        return m_table->Model->index(Row, Column).data().toString();
    }
    // Types Text into a value cell and presses Enter, as a user does.
    void type(int Row, const QString &Text)
    {
        QTableView *view = m_table->View;
        const QModelIndex at = m_table->Model->index(Row, TRegisterModel::ValueColumn);
        view->setCurrentIndex(at);
        view->edit(at);
        auto *editor = view->viewport()->findChild<QLineEdit *>();
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, Text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The delegate commits from the event loop.
        QPointer<QLineEdit> open(editor);
        for (int i = 0; i < 100 && open; ++i)
            QTest::qWait(5);
    }

    ProgramDir m_dir;
    AnsweringDialogs m_dialogs;
    std::unique_ptr<TMainForm> m_form;
    TRegistersForm *m_table = nullptr;
};

TEST_F(RegistersFormTest, OpensOverTheSlaveWithEveryHoldingRegister)
{
    EXPECT_EQ(m_table->windowTitle(), QStringLiteral("Registers - MB id 1"));
    EXPECT_EQ(m_table->TableBox->currentText(), QStringLiteral("Holding Registers (4x)"));
    EXPECT_EQ(m_table->Model->rowCount(), 256);
    EXPECT_EQ(cell(255, TRegisterModel::RegisterColumn), QStringLiteral("4x0256"));
    m_table->resize(700, 300); // a window of its own, not fixed like the main one
    EXPECT_EQ(m_table->size(), QSize(700, 300));

    QStringList tables;
    for (int i = 0; i < m_table->TableBox->count(); ++i)
        tables << m_table->TableBox->itemText(i);
    EXPECT_EQ(tables, (QStringList{"Coils (0x)", "Discrete Inputs (1x)", "Input Registers (3x)",
                                   "Holding Registers (4x)"}));
}

TEST_F(RegistersFormTest, TypedFloatLandsInBothRegistersAtTheNextTick)
{
    m_table->View->selectRow(99); // 4x0100
    m_table->SetSelectedFormat({TValueKind::F32, TWordOrder::CDAB});
    type(99, QStringLiteral("123.456"));
    EXPECT_EQ(image().HoldingRegs[100], 0) << "queued, not stored";
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[100], 0xE979);
    EXPECT_EQ(image().HoldingRegs[101], 0x42F6);
    EXPECT_EQ(cell(99), QStringLiteral("123.456"));
    EXPECT_EQ(cell(100), QStringLiteral("(second half of 4x0100)"));
    EXPECT_EQ(m_form->findChild<QLineEdit *>(QStringLiteral("Edit7"))->text(), QStringLiteral("0"));
}

TEST_F(RegistersFormTest, ValueThatDoesNotFitIsRefusedWithAMessage)
{
    type(0, QStringLiteral("70000"));
    // The message is shown from the event loop, after the editor has closed.
    for (int i = 0; i < 100 && m_dialogs.Errors.empty(); ++i)
        QTest::qWait(10);
    ASSERT_EQ(m_dialogs.Errors.size(), size_t(1));
    EXPECT_EQ(m_dialogs.Errors[0], QStringLiteral("'70000' does not fit Unsigned (0 to 65535)"));
    EXPECT_TRUE(image().PendingWrites.empty());
}

TEST_F(RegistersFormTest, ClickOnACoilTogglesItAndTheLampFollows)
{
    m_table->TableBox->setCurrentIndex(0);
    ASSERT_EQ(m_table->Model->rowCount(), 2048);
    QTableView *view = m_table->View;
    const QRect r = view->visualRect(m_table->Model->index(16, TRegisterModel::ValueColumn));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    m_form->Tick();
    EXPECT_EQ(image().Coils[17], 1);
    EXPECT_EQ(cell(16), QStringLiteral("1"));
    EXPECT_EQ(m_form->Shapes[16]->BrushColor(), QColor(0, 255, 0));
}

TEST_F(RegistersFormTest, RowMenuFormatsTheSelectionAndSpaceTogglesSelectedBits)
{
    QTableView *view = m_table->View;
    view->selectRow(0);
    view->selectionModel()->select(m_table->Model->index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QAction *hex = nullptr;
    for (QAction *a : m_table->FormatMenu()->actions())
        if (a->text() == QStringLiteral("Hex"))
            hex = a;
    ASSERT_NE(hex, nullptr);
    hex->trigger();
    EXPECT_EQ(cell(0, TRegisterModel::FormatColumn), QStringLiteral("Hex"));
    EXPECT_EQ(cell(1, TRegisterModel::FormatColumn), QStringLiteral("Unsigned"));
    EXPECT_EQ(cell(3), QStringLiteral("0x0000"));

    m_table->TableBox->setCurrentIndex(1); // discrete inputs
    view->setFocus();
    view->selectRow(4);
    view->selectionModel()->select(m_table->Model->index(5, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(view, Qt::Key_Space);
    m_form->Tick();
    EXPECT_EQ(image().DiscreteInputs[5], 1);
    EXPECT_EQ(image().DiscreteInputs[6], 1);
    EXPECT_EQ(image().DiscreteInputs[4], 0);
}

TEST_F(RegistersFormTest, KeysTypedAfterChoosingAFormatGoToTheRowsValue)
{
    m_table->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_table));
    m_table->View->selectRow(9); // 4x0010
    m_table->FormatBox->setFocus();
    ASSERT_EQ(m_table->FormatBox->currentText(), QStringLiteral("Unsigned"));
    QTest::keyClick(m_table->FormatBox, Qt::Key_Down); // chooses "Signed", as a user does
    ASSERT_EQ(cell(9, TRegisterModel::FormatColumn), QStringLiteral("Signed"));
    QWidget *focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_NE(focus, m_table->FormatBox);
    // Each key goes where the keyboard focus is, as a user's keys do.
    for (const char key : {'-', '2'})
        QTest::keyClick(QApplication::focusWidget(), key);
    QPointer<QWidget> editor(QApplication::focusWidget());
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits from the event loop.
    for (int i = 0; i < 100 && editor; ++i)
        QTest::qWait(5);
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[10], 65534);
    EXPECT_EQ(m_table->View->currentIndex().row(), 9);
}

TEST_F(RegistersFormTest, MastersWriteShowsAtTheTick)
{
    image().HoldingRegs[3] = 0x4142; // as a master's write lands: at once, no queue
    m_table->View->selectRow(2);
    m_table->SetSelectedFormat({TValueKind::Ascii});
    EXPECT_EQ(cell(2), QStringLiteral("\\x00\\x00")) << "the last tick's value";
    m_form->Tick();
    EXPECT_EQ(cell(2), QStringLiteral("AB"));
}

TEST_F(RegistersFormTest, BoundScriptIsNamedAndWinsOverATypedValue)
{
    m_form->BindingList().push_back(
        MakeBinding(m_form->ScriptList(), "(Empty Script)", RegTypeHoldingReg, 7, 0, 0, 0));
    type(6, QStringLiteral("99"));
    ASSERT_EQ(image().PendingWrites.size(), size_t(1));
    EXPECT_EQ(image().PendingWrites.back().Value, 99);
    m_form->Tick();
    EXPECT_EQ(cell(6, TRegisterModel::ScriptColumn), QStringLiteral("(Empty Script)"));
    EXPECT_EQ(image().HoldingRegs[7], 0) << "the script's result is applied after the user's";
}

TEST_F(RegistersFormTest, ImportButtonQueuesAGoodFileAndRefusesABadOne)
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.csv"));
    const QString bad = dir.filePath(QStringLiteral("bad.csv"));
    ASSERT_TRUE(writeAll(good, "register,value\n4x0200,7\n0x2048,1\n"));
    ASSERT_TRUE(writeAll(bad, "slave,register,value\n1,4x0201,8\n1,4x0202,x\n"));
    m_dialogs.Files = {good, bad};
    QTest::mouseClick(m_table->ImportButton, Qt::LeftButton);
    QTest::mouseClick(m_table->ImportButton, Qt::LeftButton);
    m_form->Tick();
    EXPECT_EQ(image().HoldingRegs[200], 7);
    EXPECT_EQ(image().Coils[2048], 1);
    EXPECT_EQ(image().HoldingRegs[201], 0);
    ASSERT_EQ(m_dialogs.Errors.size(), size_t(1));
    EXPECT_EQ(m_dialogs.Errors[0],
              bad + QStringLiteral(": line 3: x is not a whole number (4x0202 takes 0 to 65535)"));
}

TEST_F(RegistersFormTest, FileMenuExportWritesEveryRegister)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.csv"));
    image().HoldingRegs[256] = 65535;
    m_dialogs.Files = {out};
    m_form->ExportValues1->trigger();
    const QByteArray csv = readAll(out);
    EXPECT_TRUE(csv.startsWith("slave,register,value\r\n1,0x0001,0\r\n"));
    EXPECT_TRUE(csv.endsWith("\r\n1,4x0256,65535\r\n"));
    EXPECT_EQ(csv.count('\n'), 1 + 2048 + 2048 + 256 + 256);
}

} // namespace
