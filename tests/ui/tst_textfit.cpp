// SPDX-License-Identifier: MIT
// Every window shows its whole text with the font the platform gives it: the
// tab caption after a change of slave id, and every label, box, button, list
// and caption of the main window and of each dialog.
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "scripts/ui/addscript.h"
#include "scripts/ui/delscript.h"
#include "serial/ui/configunit.h"
#include "serial/ui/designfit.h"
#include "serial/ui/spinedit.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/aboutunit.h"
#include "ui/askunit.h"
#include "ui/mainunit.h"
#include "ui/panelcontrols.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

// ---- the tab caption -------------------------------------------------------

// The tab shows its whole caption, and the strip offers no scroll arrows.
::testing::AssertionResult tabShowsWholeCaption(const QTabBar &Tabs)
{
    const QRect tab = Tabs.tabRect(0);
    const int needed = Tabs.fontMetrics().horizontalAdvance(Tabs.tabText(0));
    if (!Tabs.rect().contains(tab))
        return ::testing::AssertionFailure()
               << "tab " << tab.width() << " px wide, strip " << Tabs.width() << " px";
    if (tab.width() < needed)
        return ::testing::AssertionFailure()
               << "tab " << tab.width() << " px wide for a " << needed << " px caption";
    for (const QToolButton *arrow : Tabs.findChildren<QToolButton *>())
        if (arrow->isVisible())
            return ::testing::AssertionFailure() << "scroll arrows shown";
    return ::testing::AssertionSuccess();
}

struct SlaveIdCase {
    const char *name;
    int from, to;
    bool hiddenWhileChanged; // minimised or not yet shown when OK is pressed
};
void PrintTo(const SlaveIdCase &c, std::ostream *os)
{
    *os << c.name;
}

class TabCaption : public ::testing::TestWithParam<SlaveIdCase>
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path());
        m_form->Timer1->stop();
    }

    // The Configuration dialog as a user drives it: a new slave id, then OK.
    void chooseSlaveId(int Id)
    {
        onNextModal<TConfForm>([Id](TConfForm *Dialog) {
            Dialog->SpinEdit1->SetValue(Id);
            QTest::mouseClick(Dialog->Button1, Qt::LeftButton);
        });
        m_form->SerialOptions1Click();
    }

    ProgramDir m_dir;
    std::unique_ptr<TMainForm> m_form;
};

TEST_P(TabCaption, FitsItsTextAfterEveryChangeOfSlaveId)
{
    const SlaveIdCase &c = GetParam();
    QTabBar &tabs = *m_form->TabControl1->Tabs();
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    chooseSlaveId(c.from);
    if (c.hiddenWhileChanged)
        m_form->hide();
    chooseSlaveId(c.to);
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    QApplication::processEvents();

    EXPECT_EQ(tabs.tabText(0), QStringLiteral("MB id %1").arg(c.to));
    EXPECT_TRUE(tabShowsWholeCaption(tabs));
}

INSTANTIATE_TEST_SUITE_P(Rows, TabCaption,
                         ::testing::Values(SlaveIdCase{"OneTo10", 1, 10, false},
                                           SlaveIdCase{"OneTo19", 1, 19, false},
                                           SlaveIdCase{"OneTo100", 1, 100, false},
                                           SlaveIdCase{"OneTo255", 1, 255, false},
                                           SlaveIdCase{"OneTo100WhileHidden", 1, 100, true},
                                           SlaveIdCase{"255To7", 255, 7, false}),
                         [](const ::testing::TestParamInfo<SlaveIdCase> &info) {
                             return std::string(info.param.name);
                         });

// ---- every text of every window -------------------------------------------

// The widest text a line edit has to show, by object name; the others are
// checked with the text they hold.
using Samples = std::map<QString, QString>;

QString nameOf(const QWidget &Widget)
{
    return Widget.objectName().isEmpty() ? QString::fromLatin1(Widget.metaObject()->className())
                                         : Widget.objectName();
}

int widestLine(const QFontMetrics &Metrics, const QString &Text)
{
    int widest = 0;
    for (const QString &line : Text.split(QLatin1Char('\n')))
        widest = std::max(widest, Metrics.horizontalAdvance(line));
    return widest;
}

// Where a line edit draws its text: inside its frame, less its own margins.
QRect lineEditTextRect(const QLineEdit &Edit)
{
    QStyleOptionFrame option;
    option.initFrom(&Edit);
    option.rect = Edit.rect();
    option.lineWidth = Edit.hasFrame()
                           ? Edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &Edit)
                           : 0;
    const QRect contents =
        Edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &Edit);
    const QMargins text = Edit.textMargins();
    return contents.adjusted(2 + text.left(), text.top(), -2 - text.right(), -text.bottom());
}

void checkLineEdit(const QLineEdit &Edit, const QString &Text, const QString &Path,
                   QStringList &Faults)
{
    const QRect room = lineEditTextRect(Edit);
    const QFontMetrics metrics = Edit.fontMetrics();
    if (metrics.horizontalAdvance(Text) > room.width() || metrics.height() > room.height())
        Faults << QStringLiteral("%1: \"%2\" needs %3x%4, has %5x%6")
                      .arg(Path, Text)
                      .arg(metrics.horizontalAdvance(Text))
                      .arg(metrics.height())
                      .arg(room.width())
                      .arg(room.height());
}

// Whether a control lays out its own insides (the walk does not enter it).
bool arrangesItsInside(const QWidget &Widget)
{
    return qobject_cast<const QComboBox *>(&Widget) ||
           qobject_cast<const QAbstractSpinBox *>(&Widget) ||
           qobject_cast<const QAbstractScrollArea *>(&Widget) ||
           qobject_cast<const QLineEdit *>(&Widget) ||
           qobject_cast<const QAbstractButton *>(&Widget) ||
           qobject_cast<const QAbstractSlider *>(&Widget) ||
           qobject_cast<const QLabel *>(&Widget) || qobject_cast<const QTabBar *>(&Widget);
}

void checkControl(const QWidget &Widget, const Samples &Widest, const QString &Path,
                  QStringList &Faults)
{
    const QFontMetrics metrics = Widget.fontMetrics();
    const auto sample = [&](const QString &Held) {
        const auto found = Widest.find(Widget.objectName());
        return found == Widest.end() ? Held : found->second;
    };
    if (const auto *label = qobject_cast<const QLabel *>(&Widget)) {
        if (!label->pixmap().isNull() || label->text().isEmpty())
            return;
        const QRect room = label->contentsRect().marginsRemoved(
            QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
        const int lines = int(label->text().count(QLatin1Char('\n'))) + 1;
        const int height = metrics.height() + (lines - 1) * metrics.lineSpacing();
        if ((!label->wordWrap() && widestLine(metrics, label->text()) > room.width()) ||
            height > room.height())
            Faults << QStringLiteral("%1: \"%2\" needs %3x%4, has %5x%6")
                          .arg(Path, label->text())
                          .arg(widestLine(metrics, label->text()))
                          .arg(height)
                          .arg(room.width())
                          .arg(room.height());
    } else if (const auto *button = qobject_cast<const QPushButton *>(&Widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const QString text = QString(button->text()).remove(QLatin1Char('&'));
        if (metrics.horizontalAdvance(text) > room.width())
            Faults << QStringLiteral("%1: \"%2\" wider than its button").arg(Path, text);
    } else if (const auto *combo = qobject_cast<const QComboBox *>(&Widget)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        option.frame = combo->hasFrame();
        const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                           QStyle::SC_ComboBoxEditField, combo);
        for (int i = 0; i < combo->count(); ++i)
            if (metrics.horizontalAdvance(combo->itemText(i)) > field.width() - 2 ||
                metrics.height() > field.height())
                Faults << QStringLiteral("%1: item \"%2\" wider than its box")
                              .arg(Path, combo->itemText(i));
    } else if (const auto *spin = qobject_cast<const QSpinBox *>(&Widget)) {
        if (const auto *edit = spin->findChild<QLineEdit *>())
            checkLineEdit(*edit, QString::number(spin->maximum()), Path, Faults);
    } else if (const auto *edit = qobject_cast<const QLineEdit *>(&Widget)) {
        checkLineEdit(*edit, sample(edit->text()), Path, Faults);
    } else if (const auto *list = qobject_cast<const QListWidget *>(&Widget)) {
        // An item's text sits a focus-frame margin in from either side.
        const int room = list->viewport()->width() - 6;
        for (int i = 0; i < list->count(); ++i)
            if (metrics.horizontalAdvance(list->item(i)->text()) > room)
                Faults << QStringLiteral("%1: line \"%2\" wider than the list")
                              .arg(Path, list->item(i)->text());
    } else if (const auto *tabs = qobject_cast<const QTabBar *>(&Widget)) {
        if (tabs->count() > 0 && !tabShowsWholeCaption(*tabs))
            Faults << QStringLiteral("%1: tab \"%2\" cut").arg(Path, tabs->tabText(0));
    } else if (const auto *group = qobject_cast<const QGroupBox *>(&Widget)) {
        if (metrics.horizontalAdvance(group->title()) > group->width())
            Faults << QStringLiteral("%1: title wider than its box").arg(Path);
    }
}

// Every control under Parent: its text fits, and it lies within its parent
// (within a group box, below the title and the frame line).
void checkTree(const QWidget &Parent, const Samples &Widest, const QString &Path,
               QStringList &Faults)
{
    QRect room = Parent.rect();
    if (qobject_cast<const QGroupBox *>(&Parent))
        room.setTop(Parent.contentsRect().top());
    for (const QObject *object : Parent.children()) {
        const auto *widget = qobject_cast<const QWidget *>(object);
        if (!widget || widget->isWindow() || widget->isHidden())
            continue;
        const QString path = Path + QLatin1Char('/') + nameOf(*widget);
        if (!room.contains(widget->geometry()))
            Faults << QStringLiteral("%1: sticks out of %2").arg(path, nameOf(Parent));
        checkControl(*widget, Widest, path, Faults);
        if (!arrangesItsInside(*widget))
            checkTree(*widget, Widest, path, Faults);
    }
}

// What of Window does not show its whole text, one line per fault; a dialog's
// caption included.
QStringList unfitText(const QWidget &Window, const Samples &Widest = {})
{
    QStringList faults;
    if (qobject_cast<const QDialog *>(&Window) &&
        Window.width() < CaptionWidth(Window.windowTitle()))
        faults << QStringLiteral("%1: caption \"%2\" cut at %3 px")
                      .arg(nameOf(Window), Window.windowTitle())
                      .arg(Window.width());
    const auto *main = qobject_cast<const QMainWindow *>(&Window);
    const QWidget &client = main ? *main->centralWidget() : Window;
    checkTree(client, Widest, nameOf(Window), faults);
    return faults;
}

// The main window as the program runs it, with our scripts.dll, every dialog
// reached through its menu command or its box while it is shown.
class TextFit;
struct WindowCase {
    const char *name;
    std::function<QStringList(TextFit &)> faults;
};
void PrintTo(const WindowCase &c, std::ostream *os)
{
    *os << c.name;
}

class TextFit : public ::testing::TestWithParam<WindowCase>
{
  public:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        const QDir build(qEnvironmentVariable("QUORLIN_BUILD_DIR"));
        ASSERT_TRUE(QFile::copy(build.filePath(QStringLiteral("scripts.dll")),
                                QDir(m_dir.path()).filePath(QStringLiteral("scripts.dll"))));
        form = std::make_unique<TMainForm>(nullptr, m_dir.path());
        form->Timer1->stop();
        form->CreateDialogs();
        ASSERT_FALSE(form->ScriptList().empty());
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override { form.reset(); }

    // Runs Check on the next dialog of type T while it is shown, then closes
    // it with OK or Cancel; Command is what shows it.
    template <class T>
    QStringList whileShown(const std::function<void()> &Command,
                           const std::function<QStringList(T &)> &Check, bool Ok = false)
    {
        QStringList faults;
        onNextModal<T>([&](T *Dialog) {
            faults = Check(*Dialog);
            Ok ? Dialog->accept() : Dialog->reject();
        });
        Command();
        return faults;
    }

    // One binding per script of the library, on the widest register names.
    void bindEveryScript()
    {
        uint32_t address = 256;
        for (const TScriptItem &item : form->ScriptList())
            form->BindingList().push_back(MakeBinding(
                form->ScriptList(), item.Name, RegTypeHoldingReg, address--, 65535, 65535, 65535));
    }

    std::unique_ptr<TMainForm> form;

  private:
    ProgramDir m_dir;
};

// The widest value a register box and its hex label show.
void fillWidestValues(TMainForm &Form)
{
    const QFontMetrics metrics = Form.Labels[24]->fontMetrics();
    int widestDigit = 0;
    for (int d = 1; d < 16; ++d)
        if (metrics.horizontalAdvance(QString::number(d, 16).toUpper()) >
            metrics.horizontalAdvance(QString::number(widestDigit, 16).toUpper()))
            widestDigit = d;
    const auto value = uint16_t(widestDigit * 0x1111);
    for (int n = 1; n <= 6; ++n) {
        Form.RegisterImage().QueueWrite(RegTypeInputReg, n, value);
        Form.RegisterImage().QueueWrite(RegTypeHoldingReg, n, value);
    }
    Form.Tick();
}

TEST_P(TextFit, EveryCaptionLabelAndBoxShowsItsWholeText)
{
    QStringList faults = GetParam().faults(*this);
    faults.removeDuplicates();
    EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

const Samples WidestParameters = {{QStringLiteral("Edit1"), QStringLiteral("2147483647")},
                                  {QStringLiteral("Edit2"), QStringLiteral("2147483647")},
                                  {QStringLiteral("Edit3"), QStringLiteral("2147483647")}};

INSTANTIATE_TEST_SUITE_P(
    Windows, TextFit,
    ::testing::Values(
        WindowCase{"MainWindow",
                   [](TextFit &t) {
                       t.form->ConfForm->SpinEdit1->SetValue(255);
                       t.form->ApplySerialSettings();
                       fillWidestValues(*t.form);
                       return unfitText(*t.form);
                   }},
        WindowCase{"Configuration",
                   [](TextFit &t) {
                       return t.whileShown<TConfForm>([&] { t.form->SerialOptions1Click(); },
                                                      [](TConfForm &d) { return unfitText(d); });
                   }},
        WindowCase{
            "ValueDialog",
            [](TextFit &t) {
                return t.whileShown<TAskForm>(
                    [&] { t.form->Edit1Click(t.form->Edits[0]); },
                    [](TAskForm &d) {
                        return unfitText(d, {{QStringLiteral("Edit1"), QStringLiteral("65535")}});
                    });
            }},
        WindowCase{"AddScriptWithEachScript",
                   [](TextFit &t) {
                       return t.whileShown<TAddSForm>(
                           [&] { t.form->AddPLC2->trigger(); },
                           [](TAddSForm &d) {
                               QStringList faults;
                               for (int i = 0; i < d.ComboBox2->count(); ++i) {
                                   d.ComboBox2->setCurrentIndex(i);
                                   faults << unfitText(d, WidestParameters);
                               }
                               return faults;
                           });
                   }},
        WindowCase{"RemoveScriptList",
                   [](TextFit &t) {
                       t.bindEveryScript();
                       return t.whileShown<TDelSForm>([&] { t.form->DeletePLC1->trigger(); },
                                                      [](TDelSForm &d) { return unfitText(d); });
                   }},
        WindowCase{"EditScriptListThenDialog",
                   [](TextFit &t) {
                       t.bindEveryScript();
                       QStringList faults;
                       onNextModal<TDelSForm>([&](TDelSForm *List) {
                           faults << unfitText(*List);
                           onNextModal<TAddSForm>([&](TAddSForm *Dialog) {
                               faults << unfitText(*Dialog, WidestParameters);
                               Dialog->reject();
                           });
                           List->accept();
                       });
                       t.form->AddScript1->trigger();
                       return faults;
                   }},
        WindowCase{"AboutBox",
                   [](TextFit &t) {
                       t.form->AboutBox->setProgramFile(
                           QDir(qEnvironmentVariable("QUORLIN_BUILD_DIR"))
                               .filePath(QStringLiteral("quorlin")));
                       return t.whileShown<TAboutBox>([&] { t.form->About2->trigger(); },
                                                      [](TAboutBox &d) { return unfitText(d); });
                   }}),
    [](const ::testing::TestParamInfo<WindowCase> &info) { return std::string(info.param.name); });

} // namespace
