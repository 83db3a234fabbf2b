// SPDX-License-Identifier: MIT
// The slave-id spin edit: stepped, never typed.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "serial/ui/spinedit.h"

using namespace quorlin;

namespace
{

class SpinEditTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_spin.setRange(1, 255);
        m_spin.SetValue(42);
    }
    QLineEdit *edit() { return m_spin.findChild<QLineEdit *>(); }
    TSpinEdit m_spin;
};

TEST_F(SpinEditTest, TypedCharactersAndBackspaceAreRefused)
{
    edit()->setCursorPosition(2);
    QTest::keyClicks(&m_spin, QStringLiteral("7a -"));
    QTest::keyClick(&m_spin, Qt::Key_Backspace);
    EXPECT_EQ(m_spin.Text(), QStringLiteral("42"));
}

TEST_F(SpinEditTest, CutAndPasteAreRefused)
{
    QApplication::clipboard()->setText(QStringLiteral("9"));
    edit()->selectAll();
    QTest::keyClick(&m_spin, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(m_spin.Text(), QStringLiteral("42"));
    QTest::keyClick(&m_spin, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&m_spin, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(m_spin.Text(), QStringLiteral("42"));
}

TEST_F(SpinEditTest, UpAndDownStepByOneWithinRange)
{
    QTest::keyClick(&m_spin, Qt::Key_Up);
    EXPECT_EQ(m_spin.Value(), 43);
    QTest::keyClick(&m_spin, Qt::Key_Down);
    QTest::keyClick(&m_spin, Qt::Key_Down);
    EXPECT_EQ(m_spin.Value(), 41);
    QTest::keyClick(&m_spin, Qt::Key_PageUp);
    EXPECT_EQ(m_spin.Value(), 41);
    m_spin.SetValue(255);
    QTest::keyClick(&m_spin, Qt::Key_Up);
    EXPECT_EQ(m_spin.Value(), 255);
    m_spin.SetValue(1);
    QTest::keyClick(&m_spin, Qt::Key_Down);
    EXPECT_EQ(m_spin.Value(), 1);
}

TEST_F(SpinEditTest, DeleteRemovesDigitsAndEmptyTextReadsAsMinimum)
{
    edit()->setCursorPosition(0);
    QTest::keyClick(&m_spin, Qt::Key_Delete);
    EXPECT_EQ(m_spin.Text(), QStringLiteral("2"));
    EXPECT_EQ(m_spin.Value(), 2);
    QTest::keyClick(&m_spin, Qt::Key_Delete);
    EXPECT_EQ(m_spin.Text(), QString());
    EXPECT_EQ(m_spin.Value(), 1);
    // Stepping starts from the value the text gives.
    QTest::keyClick(&m_spin, Qt::Key_Up);
    EXPECT_EQ(m_spin.Text(), QStringLiteral("2"));
}

TEST_F(SpinEditTest, ValuesOutsideTheRangeAreBroughtIn)
{
    m_spin.SetValue(300);
    EXPECT_EQ(m_spin.Text(), QStringLiteral("255"));
    m_spin.SetValue(-4);
    EXPECT_EQ(m_spin.Text(), QStringLiteral("1"));
    // "100" with its first digit deleted reads "00": never a slave id of 0.
    m_spin.SetValue(100);
    edit()->setCursorPosition(0);
    QTest::keyClick(&m_spin, Qt::Key_Delete);
    EXPECT_EQ(m_spin.Value(), 1);
}

TEST_F(SpinEditTest, LeavingTheControlBringsTheTextIntoRange)
{
    QWidget window;
    auto *spin = new TSpinEdit(&window);
    spin->setRange(1, 255);
    auto *other = new QLineEdit(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    spin->setFocus();
    spin->findChild<QLineEdit *>()->setText(QString());
    other->setFocus();
    EXPECT_EQ(spin->Text(), QStringLiteral("1"));
}

} // namespace
