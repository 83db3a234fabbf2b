// SPDX-License-Identifier: MIT
// Every window shows its whole text with the font the platform gives it: the
// tab caption after a change of slave id, and every label, box, button, list
// and caption of the main window and of each dialog.
#include <QComboBox>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "serial/ui/configunit.h"
#include "serial/ui/spinedit.h"
#include "tests/ui/uitesthelpers.h"
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

} // namespace
