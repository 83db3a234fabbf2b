// SPDX-License-Identifier: MIT
// The script dialog, the list dialog and the three commands of the Scripts menu.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>

#include "scripts/ui/addscript.h"
#include "scripts/ui/delscript.h"
#include "scripts/ui/scriptcommands.h"
#include "serial/ui/designfit.h"

using namespace quorlin;

QT_BEGIN_NAMESPACE
// Readable failure messages for QString comparisons.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace
{

uint32_t rampFunc(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 1;
}
uint32_t sineFunc(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 2;
}

TScriptList twoScripts()
{
    return {
        {"ramp", "Counts from Min to Max", "Min", "Max", "Step", &rampFunc},
        {"sine", "A sine wave", "Amplitude", "Offset", "Period", &sineFunc},
    };
}

TScriptBinding binding(uint8_t type, uint32_t adr, const std::string &name = EmptyScriptName,
                       uint16_t p1 = 0, uint16_t p2 = 0, uint16_t p3 = 0)
{
    return MakeBinding({}, name, type, adr, p1, p2, p3); // no entry
}

// Sets the dialog as a user would: type item, address, script item, parameters.
void fill(TAddSForm &form, int typeItem, int address, int scriptItem, const QString &p1 = "0",
          const QString &p2 = "0", const QString &p3 = "0")
{
    form.ComboBox1->setCurrentIndex(typeItem);
    form.SpinEdit1->setValue(address);
    form.ComboBox2->setCurrentIndex(scriptItem);
    form.Edit1->setText(p1);
    form.Edit2->setText(p2);
    form.Edit3->setText(p3);
}

// The commands with every modal step answered by a queue of scripted steps.
struct Harness {
    TScriptList scripts = twoScripts();
    TBindingList bindings;
    TAddSForm addForm{scripts};
    TDelSForm delForm;
    int unsavedMarks = 0;
    TScriptCommands commands{addForm, delForm, bindings, [this] { ++unsavedMarks; }};

    std::deque<std::function<int(QDialog &)>> steps;
    int wrongRegisterShown = 0;
    std::deque<bool> removeAnswers;
    QStringList errors;

    Harness()
    {
        TScriptPrompts prompts;
        prompts.exec = [this](QDialog &dialog) {
            EXPECT_FALSE(steps.empty()) << "a dialog was shown that the test did not expect";
            if (steps.empty())
                return int(QDialog::Rejected);
            auto step = std::move(steps.front());
            steps.pop_front();
            return step(dialog);
        };
        prompts.wrongRegister = [this](QWidget *) { ++wrongRegisterShown; };
        prompts.confirmRemove = [this](QWidget *) {
            EXPECT_FALSE(removeAnswers.empty());
            if (removeAnswers.empty())
                return false;
            bool answer = removeAnswers.front();
            removeAnswers.pop_front();
            return answer;
        };
        prompts.error = [this](QWidget *, const QString &message) { errors << message; };
        commands.setPrompts(prompts);
    }

    void onScriptDialog(std::function<void(TAddSForm &)> act, int result = QDialog::Accepted)
    {
        steps.push_back([this, act, result](QDialog &dialog) {
            EXPECT_EQ(&dialog, &addForm);
            act(addForm);
            return result;
        });
    }
    void onListDialog(std::function<void(TDelSForm &)> act, int result = QDialog::Accepted)
    {
        steps.push_back([this, act, result](QDialog &dialog) {
            EXPECT_EQ(&dialog, &delForm);
            act(delForm);
            return result;
        });
    }
    void done() { EXPECT_TRUE(steps.empty()) << "expected dialogs were not shown"; }
};

bool sameBinding(const TScriptBinding &a, const TScriptBinding &b)
{
    return a.Name == b.Name && a.Entry == b.Entry && a.Param1 == b.Param1 && a.Param2 == b.Param2 &&
           a.Param3 == b.Param3 && a.RegType == b.RegType && a.RegAdr == b.RegAdr;
}

} // namespace

// ---- list lines -------------------------------------------------------------

struct LineCase {
    const char *name;
    TScriptBinding binding;
    const char *line;
};

class BindingLineTest : public testing::TestWithParam<LineCase>
{
};

TEST_P(BindingLineTest, ReadsAsTheListShowsIt)
{
    EXPECT_EQ(BindingLine(GetParam().binding).toStdString(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BindingLineTest,
    testing::Values(LineCase{"HoldingRegister17EmptyScript", binding(4, 17),
                             "4x0017 = (Empty Script) (0, 0, 0)"},
                    LineCase{"Coil2048", binding(0, 2048, "ramp", 1, 2, 3),
                             "0x2048 = ramp (1, 2, 3)"},
                    LineCase{"InputRegister1", binding(3, 1, "sine"), "3x0001 = sine (0, 0, 0)"},
                    LineCase{"ParametersUnsigned", binding(1, 9, "x", 65535, 32768, 4464),
                             "1x0009 = x (65535, 32768, 4464)"},
                    LineCase{"HandEditedTypeAndWideAddress", binding(200, 12345, "gone"),
                             "200x12345 = gone (0, 0, 0)"},
                    // Placeholders in a name are text, not places for the numbers.
                    LineCase{"NameWithPlaceholder", binding(0, 3, "50%1 load", 7, 8, 9),
                             "0x0003 = 50%1 load (7, 8, 9)"},
                    LineCase{"NameOfPlaceholdersOnly", binding(4, 1, "%9%3%L1%%", 1, 2, 3),
                             "4x0001 = %9%3%L1%% (1, 2, 3)"}),
    [](const testing::TestParamInfo<LineCase> &info) { return std::string(info.param.name); });

// ---- the script dialog itself ----------------------------------------------

TEST(ScriptDialog, StartsWithDesignContentsAndListsEveryScript)
{
    TScriptList scripts = twoScripts();
    TAddSForm form(scripts);
    const TDesignScale scale = TDesignScale::ForFont(form.font());
    EXPECT_EQ(form.size(), scale.Size(QSize(489, 224)));
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
    ASSERT_EQ(form.ComboBox1->count(), 4);
    EXPECT_EQ(form.ComboBox1->itemText(0), "0x (DO)");
    EXPECT_EQ(form.ComboBox1->itemText(3), "4x (AO)");
    EXPECT_EQ(form.SpinEdit1->value(), 1);
    EXPECT_EQ(form.SpinEdit1->maximum(), 2048);
    ASSERT_EQ(form.ComboBox2->count(), 3);
    EXPECT_EQ(form.ComboBox2->itemText(0), "(Empty Script)");
    EXPECT_EQ(form.ComboBox2->itemText(1), "ramp");
    EXPECT_EQ(form.ComboBox2->itemText(2), "sine");
    EXPECT_EQ(form.ComboBox2->currentIndex(), 0);
    EXPECT_EQ(form.D1L->text(), "<not used>");
    EXPECT_EQ(form.DL->text(), "This is EMPTY script, it always returns \"0\".");
    EXPECT_EQ(form.Edit2->text(), "0");
    EXPECT_EQ(form.Button1->text(), "OK");
    EXPECT_EQ(form.Button2->text(), "Cancel");
    EXPECT_EQ(form.Edit3->geometry().topLeft(), scale.Rect(QRect(30, 130, 71, 22)).topLeft());
    EXPECT_EQ(form.Button2->geometry(), scale.Rect(QRect(337, 190, 75, 25)));
}

TEST(ScriptDialog, WithoutLibraryOffersOnlyTheEmptyScript)
{
    TScriptList none;
    TAddSForm form(none);
    ASSERT_EQ(form.ComboBox2->count(), 1);
    EXPECT_EQ(form.ComboBox2->itemText(0), "(Empty Script)");
}

TEST(ScriptDialog, ChoosingAScriptShowsItsTextsAndEmptyRestoresThem)
{
    TScriptList scripts = twoScripts();
    TAddSForm form(scripts);
    form.ComboBox2->setCurrentIndex(2);
    EXPECT_EQ(form.D1L->text(), "Amplitude");
    EXPECT_EQ(form.D3L->text(), "Period");
    EXPECT_EQ(form.DL->text(), "A sine wave");
    form.ComboBox2->setCurrentIndex(0);
    EXPECT_EQ(form.D2L->text(), "<not used>");
    EXPECT_EQ(form.DL->text(), "This is EMPTY script, it always returns \"0\".");
}

TEST(ScriptDialog, WordTypeLowersAddressAndBitTypeWidensRangeAgain)
{
    TScriptList scripts = twoScripts();
    TAddSForm form(scripts);
    form.ComboBox1->setCurrentIndex(0);
    form.SpinEdit1->setValue(1000);
    form.ComboBox1->setCurrentIndex(2); // 3x (AI)
    EXPECT_EQ(form.SpinEdit1->value(), 256);
    EXPECT_EQ(form.SpinEdit1->maximum(), 256);
    form.ComboBox1->setCurrentIndex(0); // back to 0x (DO)
    EXPECT_EQ(form.SpinEdit1->value(), 256);
    form.SpinEdit1->setValue(2048);
    EXPECT_EQ(form.SpinEdit1->value(), 2048);
}

// Each type item names the family as the main window's panels do (coils are
// " DO (0x regs) ", discrete inputs " DI (1x regs) "), binds that table, and
// is shown again when a binding of that table is edited.
TEST(ScriptDialog, TypeItemsNameTheFamilyTheyBind)
{
    const struct {
        const char *text;
        uint8_t regType;
    } rows[] = {{"0x (DO)", RegTypeCoil},
                {"1x (DI)", RegTypeDiscreteInput},
                {"3x (AI)", RegTypeInputReg},
                {"4x (AO)", RegTypeHoldingReg}};
    TScriptList scripts = twoScripts();
    TAddSForm form(scripts);
    for (int item = 0; item < 4; ++item) {
        EXPECT_EQ(form.ComboBox1->itemText(item), rows[item].text);
        fill(form, item, 7, 0);
        TScriptBinding read;
        QString error;
        ASSERT_TRUE(form.readBinding(read, error));
        EXPECT_EQ(read.RegType, rows[item].regType) << rows[item].text;
        form.ComboBox1->setCurrentIndex(-1);
        form.loadBinding(binding(rows[item].regType, 7));
        EXPECT_EQ(form.ComboBox1->currentText(), rows[item].text);
    }
}

TEST(ScriptDialog, ParameterFieldsTakeOnlyDigitsAndBackspace)
{
    TScriptList scripts;
    TAddSForm form(scripts);
    form.Edit1->clear();
    QTest::keyClicks(form.Edit1, "1a2-3 .x4");
    EXPECT_EQ(form.Edit1->text(), "1234");
    QTest::keyClick(form.Edit1, Qt::Key_Backspace);
    EXPECT_EQ(form.Edit1->text(), "123");
}

struct ParamCase {
    const char *name;
    const char *text;
    bool valid;
    uint16_t stored;
};

class ParameterReading : public testing::TestWithParam<ParamCase>
{
};

TEST_P(ParameterReading, KeepsTheNumberModulo65536OrRefusesIt)
{
    TScriptList scripts;
    TAddSForm form(scripts);
    fill(form, 3, 1, 0, "7", GetParam().text, "9");
    TScriptBinding read = binding(4, 99, "before", 5, 5, 5);
    QString error;
    ASSERT_EQ(form.readBinding(read, error), GetParam().valid) << error.toStdString();
    if (GetParam().valid) {
        EXPECT_EQ(read.Param2, GetParam().stored);
        EXPECT_EQ(read.Param1, 7);
        EXPECT_EQ(read.Param3, 9);
    } else {
        EXPECT_EQ(error, QStringLiteral("'%1' is not a valid integer value").arg(GetParam().text));
        EXPECT_EQ(read.Name, "before"); // untouched
        EXPECT_EQ(read.Param2, 5);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Params, ParameterReading,
    testing::Values(ParamCase{"Plain", "123", true, 123},
                    ParamCase{"SeventyThousandWrapsTo4464", "70000", true, 4464},
                    ParamCase{"Exactly65536IsZero", "65536", true, 0},
                    ParamCase{"LargestInt32", "2147483647", true, 65535},
                    ParamCase{"PastedMinusOne", "-1", true, 65535},
                    ParamCase{"PastedSmallestInt32", "-2147483648", true, 0},
                    ParamCase{"BeyondInt32", "2147483648", false, 0},
                    ParamCase{"ElevenDigits", "99999999999", false, 0},
                    ParamCase{"PastedWord", "abc", false, 0},
                    ParamCase{"PastedHex", "0x10", false, 0}, ParamCase{"LoneSign", "-", false, 0},
                    ParamCase{"InnerSpace", "1 2", false, 0}),
    [](const testing::TestParamInfo<ParamCase> &info) { return std::string(info.param.name); });

TEST(ScriptDialog, EmptyParameterFieldBecomesZeroInTheDialog)
{
    TScriptList scripts;
    TAddSForm form(scripts);
    fill(form, 0, 3, 0, "", "4", "");
    TScriptBinding read;
    QString error;
    ASSERT_TRUE(form.readBinding(read, error));
    EXPECT_EQ(form.Edit1->text(), "0");
    EXPECT_EQ(form.Edit3->text(), "0");
    EXPECT_EQ(read.Param1, 0);
    EXPECT_EQ(read.Param2, 4);
}

// ---- Add --------------------------------------------------------------------

TEST(AddScript, AppendsTheBindingWithTheScriptsEntryAndMarksTheProfile)
{
    Harness h;
    h.bindings.push_back(binding(0, 1));
    h.onScriptDialog([](TAddSForm &form) {
        EXPECT_EQ(form.windowTitle(), "Add Script...");
        EXPECT_EQ(form.ComboBox1->currentIndex(), 0) << "Add starts with a type chosen";
        fill(form, 2, 12, 1, "10", "20", "70000");
    });
    EXPECT_TRUE(h.commands.AddPLC2Click());
    h.done();
    ASSERT_EQ(h.bindings.size(), 2u);
    const TScriptBinding &added = h.bindings[1];
    EXPECT_EQ(added.RegType, 3);
    EXPECT_EQ(added.RegAdr, 12u);
    EXPECT_EQ(added.Name, "ramp");
    EXPECT_EQ(added.Entry, &rampFunc);
    EXPECT_EQ(added.Param3, 4464);
    EXPECT_EQ(h.unsavedMarks, 1);
    h.delForm.FillBindingList(h.bindings);
    EXPECT_EQ(h.delForm.ListBox1->item(1)->text(), "3x0012 = ramp (10, 20, 4464)");
}

TEST(AddScript, ClashWarnsAndShowsTheDialogAgainWithTheEntriesKept)
{
    Harness h;
    h.bindings.push_back(binding(4, 5, "sine"));
    h.onScriptDialog([](TAddSForm &form) { fill(form, 2, 5, 2, "1", "2", "3"); }); // 3x5: free
    EXPECT_TRUE(h.commands.AddPLC2Click());
    h.onScriptDialog([](TAddSForm &form) { fill(form, 2, 5, 2, "1", "2", "3"); }); // now taken
    h.onScriptDialog([](TAddSForm &form) {
        EXPECT_EQ(form.ComboBox1->currentIndex(), 2);
        EXPECT_EQ(form.SpinEdit1->value(), 5);
        EXPECT_EQ(form.Edit2->text(), "2");
        form.SpinEdit1->setValue(6);
    });
    EXPECT_TRUE(h.commands.AddPLC2Click());
    h.done();
    EXPECT_EQ(h.wrongRegisterShown, 1);
    ASSERT_EQ(h.bindings.size(), 3u);
    EXPECT_EQ(h.bindings[2].RegAdr, 6u);
    EXPECT_EQ(h.unsavedMarks, 2);
}

TEST(AddScript, SameAddressOnAnotherTypeIsNoClash)
{
    Harness h;
    h.bindings.push_back(binding(4, 5));
    h.onScriptDialog([](TAddSForm &form) { fill(form, 2, 5, 0); });
    EXPECT_TRUE(h.commands.AddPLC2Click());
    EXPECT_EQ(h.wrongRegisterShown, 0);
    EXPECT_EQ(h.bindings.size(), 2u);
}

TEST(AddScript, StartsFromWhatTheDialogLastShowed)
{
    Harness h;
    h.bindings.push_back(binding(4, 9, "sine", 1, 2, 3));
    h.onListDialog([](TDelSForm &) {});
    h.onScriptDialog([](TAddSForm &) {}, QDialog::Rejected);
    EXPECT_FALSE(h.commands.AddScript1Click());
    h.onScriptDialog(
        [](TAddSForm &form) {
            EXPECT_EQ(form.windowTitle(), "Add Script...");
            EXPECT_EQ(form.ComboBox1->currentIndex(), 3);
            EXPECT_EQ(form.SpinEdit1->value(), 9);
            EXPECT_EQ(form.ComboBox2->currentIndex(), 2);
            EXPECT_EQ(form.Edit3->text(), "3");
        },
        QDialog::Rejected);
    EXPECT_FALSE(h.commands.AddPLC2Click());
    h.done();
}

// The register is typed as a user types it: a slave serving the whole space
// takes five digits up to its last register; one of the usual sizes keeps
// its ends.
TEST(AddScript, TakesAnyRegisterTheSelectedSlaveServes)
{
    struct Row {
        int Slave, TypeItem;
        const char *Typed;
        uint32_t Bound;
    };
    const Row rows[] = {
        {2, 3, "40001", 40001}, // 4x40001
        {2, 2, "30001", 30001}, // 3x30001
        {2, 0, "65536", 65536}, // the last coil
        {1, 3, "256", 256},     // the usual end
        {1, 0, "2048", 2048},
    };
    for (const Row &row : rows) {
        Harness h;
        TSlaveSet slaves;
        slaves.Add(2);
        slaves.Find(2)->SetRegisterCount(MaxTableRegisters);
        h.commands.setSlaves(&slaves, [&row] { return row.Slave; });
        h.onScriptDialog([&row](TAddSForm &form) {
            form.ComboBox1->setCurrentIndex(row.TypeItem);
            QLineEdit *line = form.SpinEdit1->findChild<QLineEdit *>();
            line->selectAll();
            QTest::keyClicks(line, QString::fromLatin1(row.Typed));
        });
        EXPECT_TRUE(h.commands.AddPLC2Click()) << row.Typed;
        h.done();
        ASSERT_EQ(h.bindings.size(), 1u);
        EXPECT_EQ(h.bindings[0].RegAdr, row.Bound) << "slave " << row.Slave << ": " << row.Typed;
    }
}

TEST(AddScript, InvalidParameterEndsTheCommandWithoutChange)
{
    Harness h;
    h.onScriptDialog([](TAddSForm &form) { fill(form, 0, 1, 0, "1", "99999999999", "0"); });
    EXPECT_FALSE(h.commands.AddPLC2Click());
    h.done();
    EXPECT_TRUE(h.bindings.empty());
    EXPECT_EQ(h.unsavedMarks, 0);
    ASSERT_EQ(h.errors.size(), 1);
    EXPECT_EQ(h.errors[0], "'99999999999' is not a valid integer value");
}

// ---- Cancel and No change nothing -------------------------------------------

TEST(ScriptCommands, CancelAndNoChangeNothing)
{
    Harness h;
    h.bindings = {binding(0, 1, "ramp"), binding(4, 17)};
    const TBindingList before = h.bindings;

    h.onScriptDialog([](TAddSForm &form) { fill(form, 1, 4, 1); }, QDialog::Rejected);
    EXPECT_FALSE(h.commands.AddPLC2Click());

    h.onListDialog([](TDelSForm &) {}, QDialog::Rejected);
    EXPECT_FALSE(h.commands.DeletePLC1Click());

    h.onListDialog([](TDelSForm &) {});
    h.removeAnswers.push_back(false);
    EXPECT_FALSE(h.commands.DeletePLC1Click());

    h.onListDialog([](TDelSForm &) {}, QDialog::Rejected);
    EXPECT_FALSE(h.commands.AddScript1Click());

    h.onListDialog([](TDelSForm &) {});
    h.onScriptDialog([](TAddSForm &form) { fill(form, 2, 100, 2, "5"); }, QDialog::Rejected);
    EXPECT_FALSE(h.commands.AddScript1Click());
    h.done();

    ASSERT_EQ(h.bindings.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_TRUE(sameBinding(h.bindings[i], before[i])) << i;
    EXPECT_EQ(h.unsavedMarks, 0);
}

// ---- Remove -----------------------------------------------------------------

TEST(RemoveScript, YesRemovesTheSelectedLineAndClosesTheGap)
{
    Harness h;
    h.bindings = {binding(0, 1), binding(3, 2, "sine"), binding(4, 3, "ramp")};
    h.onListDialog([](TDelSForm &form) {
        EXPECT_EQ(form.windowTitle(), "Select Script to remove...");
        EXPECT_EQ(form.Button1->text(), "Remove");
        EXPECT_TRUE(form.Button1->isEnabled());
        ASSERT_EQ(form.ListBox1->count(), 3);
        EXPECT_EQ(form.ListBox1->currentRow(), 0);
        form.ListBox1->setCurrentRow(1);
    });
    h.removeAnswers.push_back(true);
    EXPECT_TRUE(h.commands.DeletePLC1Click());
    h.done();
    ASSERT_EQ(h.bindings.size(), 2u);
    EXPECT_EQ(h.bindings[0].RegType, 0);
    EXPECT_EQ(h.bindings[1].Name, "ramp");
    EXPECT_EQ(h.unsavedMarks, 1);
}

TEST(RemoveScript, EmptyListDisablesButtonAndOkWithoutLineChangesNothing)
{
    Harness h;
    h.onListDialog([](TDelSForm &form) {
        EXPECT_EQ(form.ListBox1->count(), 0);
        EXPECT_FALSE(form.Button1->isEnabled());
    });
    EXPECT_FALSE(h.commands.DeletePLC1Click());
    // The list is refilled and the button enabled again on the next use.
    h.bindings.push_back(binding(1, 1));
    h.onListDialog(
        [](TDelSForm &form) {
            EXPECT_EQ(form.ListBox1->count(), 1);
            EXPECT_TRUE(form.Button1->isEnabled());
        },
        QDialog::Rejected);
    EXPECT_FALSE(h.commands.DeletePLC1Click());
    h.done();
    EXPECT_EQ(h.unsavedMarks, 0);
}

TEST(RemoveScript, DoubleClickAnywhereInTheListClosesWithOk)
{
    TDelSForm form;
    form.FillBindingList({});
    form.show();
    QTest::mouseDClick(form.ListBox1->viewport(), Qt::LeftButton, {}, QPoint(50, 200));
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.selectedIndex(), -1);
}

// ---- Edit -------------------------------------------------------------------

TEST(EditScript, FillsTheDialogAndWritesBackInPlaceWithZeroedContext)
{
    Harness h;
    h.bindings = {binding(0, 1), binding(3, 200, "sine", 7, 8, 9), binding(1, 3)};
    h.bindings[1].Entry = &sineFunc;
    h.bindings[1].Context.Qword8 = 77;
    h.onListDialog([](TDelSForm &form) {
        EXPECT_EQ(form.windowTitle(), "Select Script to edit...");
        EXPECT_EQ(form.Button1->text(), "Edit");
        form.ListBox1->setCurrentRow(1);
    });
    h.onScriptDialog([](TAddSForm &form) {
        EXPECT_EQ(form.windowTitle(), "Edit script...");
        EXPECT_EQ(form.ComboBox1->currentIndex(), 2);
        EXPECT_EQ(form.SpinEdit1->maximum(), 256);
        EXPECT_EQ(form.SpinEdit1->value(), 200);
        EXPECT_EQ(form.ComboBox2->currentIndex(), 2);
        EXPECT_EQ(form.D1L->text(), "Amplitude");
        EXPECT_EQ(form.Edit1->text(), "7");
        EXPECT_EQ(form.Edit3->text(), "9");
        form.ComboBox2->setCurrentIndex(1);
        form.Edit2->setText("70000");
    });
    EXPECT_TRUE(h.commands.AddScript1Click());
    h.done();
    ASSERT_EQ(h.bindings.size(), 3u);
    const TScriptBinding &edited = h.bindings[1];
    EXPECT_EQ(edited.Name, "ramp");
    EXPECT_EQ(edited.Entry, &rampFunc);
    EXPECT_EQ(edited.RegType, 3);
    EXPECT_EQ(edited.RegAdr, 200u);
    EXPECT_EQ(edited.Param2, 4464);
    EXPECT_EQ(edited.Context.Qword8, 0u);
    EXPECT_EQ(h.bindings[2].RegType, 1);
    EXPECT_EQ(h.unsavedMarks, 1);
}

TEST(EditScript, KeepingTheRegisterPassesButTakingAnothersClashes)
{
    Harness h;
    h.bindings = {binding(4, 1), binding(4, 2)};
    h.onListDialog([](TDelSForm &form) { form.ListBox1->setCurrentRow(1); });
    h.onScriptDialog([](TAddSForm &form) { form.Edit1->setText("5"); });
    EXPECT_TRUE(h.commands.AddScript1Click());
    EXPECT_EQ(h.wrongRegisterShown, 0);
    EXPECT_EQ(h.bindings[1].Param1, 5);

    h.onListDialog([](TDelSForm &form) { form.ListBox1->setCurrentRow(1); });
    h.onScriptDialog([](TAddSForm &form) { form.SpinEdit1->setValue(1); });
    h.onScriptDialog([](TAddSForm &form) {
        EXPECT_EQ(form.SpinEdit1->value(), 1);
        form.SpinEdit1->setValue(3);
    });
    EXPECT_TRUE(h.commands.AddScript1Click());
    h.done();
    EXPECT_EQ(h.wrongRegisterShown, 1);
    EXPECT_EQ(h.bindings[0].RegAdr, 1u);
    EXPECT_EQ(h.bindings[1].RegAdr, 3u);
}

TEST(EditScript, MissingScriptShowsEmptyScriptAndOkMakesItOne)
{
    Harness h;
    h.bindings = {binding(4, 5, "Ramp", 1, 2, 3)}; // "ramp" exists, "Ramp" does not
    h.onListDialog([](TDelSForm &form) {
        EXPECT_EQ(form.ListBox1->item(0)->text(), "4x0005 = Ramp (1, 2, 3)");
    });
    h.onScriptDialog([](TAddSForm &form) {
        EXPECT_EQ(form.ComboBox2->currentIndex(), 0);
        EXPECT_EQ(form.D2L->text(), "<not used>");
        EXPECT_EQ(form.DL->text(), "This is EMPTY script, it always returns \"0\".");
    });
    EXPECT_TRUE(h.commands.AddScript1Click());
    h.done();
    EXPECT_EQ(h.bindings[0].Name, "(Empty Script)");
    EXPECT_EQ(h.bindings[0].Entry, nullptr);
    EXPECT_EQ(h.bindings[0].Param3, 3);
}

TEST(EditScript, TypeWithoutTableShowsNoTypeAndWaitsForAChoice)
{
    Harness h;
    h.bindings = {binding(7, 3000, "sine", 1, 1, 1), binding(4, 256)};
    h.onListDialog([](TDelSForm &form) {
        EXPECT_EQ(form.ListBox1->item(0)->text(), "7x3000 = sine (1, 1, 1)");
    });
    h.onScriptDialog([](TAddSForm &form) {
        EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
        EXPECT_FALSE(form.Button1->isEnabled());
        EXPECT_EQ(form.SpinEdit1->value(), 2048);
        EXPECT_EQ(form.ComboBox2->currentIndex(), 2);
        form.accept(); // Enter or a stray OK does not close it
        EXPECT_NE(form.result(), QDialog::Accepted);
    }); // reported as OK all the same: the command shows the dialog again
    h.onScriptDialog([](TAddSForm &form) {
        form.ComboBox1->setCurrentIndex(3); // 4x: 2048 drops to 256, which is taken
        EXPECT_TRUE(form.Button1->isEnabled());
        EXPECT_EQ(form.SpinEdit1->value(), 256);
    });
    h.onScriptDialog([](TAddSForm &form) { form.SpinEdit1->setValue(255); });
    EXPECT_TRUE(h.commands.AddScript1Click());
    h.done();
    EXPECT_EQ(h.wrongRegisterShown, 1);
    EXPECT_EQ(h.bindings[0].RegType, 4);
    EXPECT_EQ(h.bindings[0].RegAdr, 255u);
    EXPECT_EQ(h.bindings[0].Name, "sine");
}

TEST(EditScript, TypeWithoutTableCancelledStaysAsItWas)
{
    Harness h;
    h.bindings = {binding(9, 0, "x")};
    h.onListDialog([](TDelSForm &) {});
    h.onScriptDialog([](TAddSForm &form) { EXPECT_EQ(form.SpinEdit1->value(), 1); },
                     QDialog::Rejected);
    EXPECT_FALSE(h.commands.AddScript1Click());
    h.done();
    EXPECT_EQ(h.bindings[0].RegType, 9);
    EXPECT_EQ(h.bindings[0].RegAdr, 0u);
    EXPECT_EQ(h.unsavedMarks, 0);
}

// ---- the real modal path ----------------------------------------------------

namespace
{

// Runs act on the next modal widget that is not `previous`, once it is up.
void whenModal(std::function<void(QWidget *)> act, QWidget *previous = nullptr)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act, previous] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == previous || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}

} // namespace

TEST(ScriptCommandsModal, RealDialogsAndBoxesAnswerAClashThenAdd)
{
    TScriptList scripts = twoScripts();
    TBindingList bindings = {binding(4, 1)};
    TAddSForm addForm(scripts);
    TDelSForm delForm;
    int marks = 0;
    TScriptCommands commands(addForm, delForm, bindings, [&] { ++marks; });

    QString boxTitle, boxText;
    whenModal([&](QWidget *w) {
        ASSERT_EQ(w, &addForm);
        fill(addForm, 3, 1, 1);
        QTest::mouseClick(addForm.Button1, Qt::LeftButton);
        whenModal(
            [&](QWidget *box) {
                auto *message = qobject_cast<QMessageBox *>(box);
                ASSERT_NE(message, nullptr);
                boxTitle = message->windowTitle();
                boxText = message->text();
                message->button(QMessageBox::Ok)->click();
                whenModal([&](QWidget *again) {
                    ASSERT_EQ(again, &addForm);
                    addForm.SpinEdit1->setValue(2);
                    QTest::mouseClick(addForm.Button1, Qt::LeftButton);
                });
            },
            &addForm);
    });
    EXPECT_TRUE(commands.AddPLC2Click());
    EXPECT_EQ(boxTitle, "Wrong register!");
    EXPECT_EQ(boxText, "This register already used by another script!\n         You need to "
                       "select another one.");
    ASSERT_EQ(bindings.size(), 2u);
    EXPECT_EQ(bindings[1].RegAdr, 2u);
    EXPECT_EQ(marks, 1);
}

TEST(ScriptCommandsModal, RemovalQuestionHasYesAndNo)
{
    TScriptList scripts;
    TBindingList bindings = {binding(0, 1), binding(0, 2)};
    TAddSForm addForm(scripts);
    TDelSForm delForm;
    TScriptCommands commands(addForm, delForm, bindings, [] {});

    for (const char *answer : {"&No", "&Yes"}) {
        QString title, text;
        whenModal([&](QWidget *w) {
            ASSERT_EQ(w, &delForm);
            QTest::mouseClick(delForm.Button1, Qt::LeftButton);
            whenModal(
                [&](QWidget *box) {
                    auto *message = qobject_cast<QMessageBox *>(box);
                    ASSERT_NE(message, nullptr);
                    title = message->windowTitle();
                    text = message->text();
                    for (QAbstractButton *b : message->buttons())
                        if (b->text() == answer)
                            b->click();
                },
                &delForm);
        });
        commands.DeletePLC1Click();
        EXPECT_EQ(title, "Confirm");
        EXPECT_EQ(text, "Are you sure to remove script?");
    }
    ASSERT_EQ(bindings.size(), 1u);
    EXPECT_EQ(bindings[0].RegAdr, 2u);
}
