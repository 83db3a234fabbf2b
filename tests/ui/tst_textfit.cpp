// SPDX-License-Identifier: MIT
// Every window shows its whole text with the font it really gets: labels,
// boxes, lists, the tab and dialog captions, and no control sits on a group
// box's title or frame.
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTabBar>

#include <gtest/gtest.h>

#include "scripts/ui/addscript.h"
#include "serial/ui/designfit.h"
#include "serial/ui/spinedit.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/mainunit.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

// Where a line edit draws its text: inside its frame, less 2 pixels a side.
QRect textRoom(const QLineEdit &Edit)
{
    QStyleOptionFrame option;
    option.initFrom(&Edit);
    option.lineWidth = Edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &Edit);
    return Edit.style()
        ->subElementRect(QStyle::SE_LineEditContents, &option, &Edit)
        .adjusted(2, 0, -2, 0);
}

// What in Window does not show its whole text, one line each. Line edits
// must hold Widest too, spin boxes their largest value.
QStringList unfitText(const QWidget &Window, const QString &Widest = {})
{
    QStringList faults;
    if (qobject_cast<const QDialog *>(&Window) &&
        Window.width() < CaptionWidth(Window.windowTitle()))
        faults << QStringLiteral("caption \"%1\" cut").arg(Window.windowTitle());
    for (const QWidget *w : Window.findChildren<QWidget *>()) {
        if (w->isHidden() || w->window() != &Window)
            continue;
        const auto *group = qobject_cast<const QGroupBox *>(w->parentWidget());
        if (group &&
            !group->rect().adjusted(0, group->contentsRect().top(), 0, 0).contains(w->geometry()))
            faults << w->objectName() + QStringLiteral(" sits on its group's title or frame");
        QStringList texts;
        QRect room;
        int lines = 1;
        if (const auto *label = qobject_cast<const QLabel *>(w);
            label && label->pixmap().isNull()) {
            texts = label->text().split(QLatin1Char('\n'));
            lines = int(texts.size());
            room = label->contentsRect();
        } else if (const auto *edit = qobject_cast<const QLineEdit *>(w)) {
            const auto *spin = qobject_cast<const QSpinBox *>(w->parentWidget());
            texts << edit->text() << (spin ? QString::number(spin->maximum()) : Widest);
            room = textRoom(*edit);
        } else if (const auto *combo = qobject_cast<const QComboBox *>(w);
                   combo && !combo->isEditable()) { // a typed one scrolls like an edit
            QStyleOptionComboBox option;
            option.initFrom(combo);
            room = combo->style()
                       ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                        combo)
                       .adjusted(1, 0, -1, 0);
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        }
        // Every item shows whole in the opened list, every tab in its strip.
        if (const auto *combo = qobject_cast<const QComboBox *>(w)) {
            const QAbstractItemView *list = combo->view();
            if (list->sizeHintForColumn(0) + 2 * list->frameWidth() >
                std::max(combo->width(), list->minimumWidth()))
                faults << combo->objectName() + QStringLiteral(": list narrower than its items");
        } else if (const auto *tabs = qobject_cast<const QTabBar *>(w)) {
            // Cut tabs get scroll arrows instead of their whole caption.
            if (!tabs->rect().contains(tabs->tabRect(0)))
                faults << QStringLiteral("tab \"%1\" cut").arg(tabs->tabText(0));
        }
        const QFontMetrics metrics = w->fontMetrics();
        for (const QString &text : texts)
            if (metrics.horizontalAdvance(text) > room.width())
                faults
                    << QStringLiteral("%1: \"%2\" wider than its box").arg(w->objectName(), text);
        if (!texts.isEmpty() &&
            metrics.height() + (lines - 1) * metrics.lineSpacing() > room.height())
            faults << w->objectName() + QStringLiteral(": text taller than its box");
    }
    return faults;
}

// The main window as the program runs it, with our scripts.dll.
class TextFit : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const QDir build(qEnvironmentVariable("QUORLIN_BUILD_DIR"));
        ASSERT_TRUE(m_dir.ok());
        ASSERT_TRUE(QFile::copy(build.filePath(QStringLiteral("scripts.dll")),
                                QDir(m_dir.path()).filePath(QStringLiteral("scripts.dll"))));
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path());
        m_form->Timer1->stop();
        m_form->CreateDialogs();
        m_form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    }
    ProgramDir m_dir;
    std::unique_ptr<TMainForm> m_form;
};

class MainWindowText : public TextFit, public ::testing::WithParamInterface<int>
{
};

// After a new slave id through the Configuration dialog, with the widest
// values (D is the widest hexadecimal digit of common sans-serif fonts).
TEST_P(MainWindowText, ShowsItsWholeTextAfterAChangeOfSlaveId)
{
    onNextModal<TConfForm>([](TConfForm *Dialog) {
        Dialog->SpinEdit1->SetValue(GetParam());
        QTest::mouseClick(Dialog->Button1, Qt::LeftButton);
    });
    m_form->SerialOptions1Click();
    for (int n = 1; n <= 6; ++n) {
        m_form->RegisterImage().QueueWrite(RegTypeInputReg, n, 0xDDDD);
        m_form->RegisterImage().QueueWrite(RegTypeHoldingReg, n, 0xDDDD);
    }
    m_form->Tick();
    const QStringList faults = unfitText(*m_form);
    EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(SlaveIds, MainWindowText, ::testing::Values(10, 19, 100, 255));

struct DialogCase {
    const char *name;
    std::function<void(TMainForm &)> show;
    const char *widest; // what its line edits must hold
};
void PrintTo(const DialogCase &c, std::ostream *os)
{
    *os << c.name;
}
class DialogText : public TextFit, public ::testing::WithParamInterface<DialogCase>
{
};

// The script dialog is checked with each script chosen in turn.
TEST_P(DialogText, ShowsItsWholeTextAndCaption)
{
    QStringList faults;
    onNextModal<QDialog>([&](QDialog *Dialog) {
        auto *script = qobject_cast<TAddSForm *>(Dialog);
        for (int i = 0; i <= (script ? int(m_form->ScriptList().size()) : 0); ++i) {
            if (script)
                script->ComboBox2->setCurrentIndex(i);
            faults << unfitText(*Dialog, QString::fromLatin1(GetParam().widest));
        }
        Dialog->reject();
    });
    GetParam().show(*m_form);
    faults.removeDuplicates();
    EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, DialogText,
    ::testing::Values(
        DialogCase{"Configuration",
                   [](TMainForm &f) {
                       f.ConfForm->DeviceList = [] {
                           return std::vector<std::string>{
                               "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
                       };
                       f.SerialOptions1Click();
                   },
                   ""},
        DialogCase{"ValueDialog", [](TMainForm &f) { f.Edit1Click(f.Edits[0]); }, "65535"},
        DialogCase{"AddScript", [](TMainForm &f) { f.AddPLC2Click(); }, "2147483647"},
        DialogCase{"ScriptList", [](TMainForm &f) { f.DeletePLC1Click(); }, ""},
        DialogCase{"AboutBox", [](TMainForm &f) { f.About2Click(); }, ""}),
    [](const auto &Info) { return std::string(Info.param.name); });

} // namespace
