// SPDX-License-Identifier: MIT
// The value dialog on its own: what may be typed and how OK mends the field.
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

#include "serial/ui/designfit.h"
#include "ui/askunit.h"

using namespace quorlin;

namespace
{

// What goes into the field (typed or set) and what the field then holds.
struct FieldRow {
    const char *Name;
    const char *Input;
    const char *Field;
};

std::string rowName(const ::testing::TestParamInfo<FieldRow> &Info)
{
    return Info.param.Name;
}

class AskFormTyping : public ::testing::TestWithParam<FieldRow>
{
};

TEST_P(AskFormTyping, OnlyDigitsGetThrough)
{
    TAskForm form;
    form.Edit1->clear();
    QTest::keyClicks(form.Edit1, QString::fromUtf8(GetParam().Input));
    EXPECT_EQ(form.Edit1->text(), QString::fromUtf8(GetParam().Field));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AskFormTyping,
    ::testing::Values(FieldRow{"digits", "0123", "0123"}, FieldRow{"letters", "1a2B", "12"},
                      FieldRow{"signs", "-5+6", "56"}, FieldRow{"spaces", " 7 8", "78"},
                      FieldRow{"hex_prefix", "$FF", ""}, FieldRow{"decimal_point", "1.5", "15"},
                      FieldRow{"at_most_five", "1234567", "12345"}),
    rowName);

TEST(AskForm, DigitsOfOtherScriptsAreRefused)
{
    // ARABIC-INDIC DIGIT THREE: a digit, but not one StrToInt-style
    // conversion reads.
    const QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x0663)));
    EXPECT_TRUE(TAskForm::Edit1KeyPress(key));
    const QKeyEvent seven(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, QStringLiteral("7"));
    EXPECT_FALSE(TAskForm::Edit1KeyPress(seven));
}

TEST(AskForm, BackspaceStillDeletes)
{
    TAskForm form;
    form.Edit1->setText(QStringLiteral("123"));
    form.Edit1->end(false);
    QTest::keyClick(form.Edit1, Qt::Key_Backspace);
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("12"));
}

class AskFormMend : public ::testing::TestWithParam<FieldRow>
{
};

TEST_P(AskFormMend, OkMendsTheField)
{
    TAskForm form;
    form.Edit1->setText(QString::fromUtf8(GetParam().Input));
    form.Button1Click();
    EXPECT_EQ(form.Edit1->text(), QString::fromUtf8(GetParam().Field));
}

INSTANTIATE_TEST_SUITE_P(Rows, AskFormMend,
                         ::testing::Values(FieldRow{"empty_gives_0", "", "0"},
                                           FieldRow{"above_max", "70000", "65535"},
                                           FieldRow{"max_kept", "65535", "65535"},
                                           FieldRow{"just_above", "65536", "65535"},
                                           FieldRow{"leading_zeros_kept", "00042", "00042"},
                                           FieldRow{"negative_paste", "-5", "0"},
                                           FieldRow{"no_number_left_alone", "12a", "12a"}),
                         rowName);

TEST(AskForm, OkAcceptsAndEscapeRejects)
{
    TAskForm form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Enter new Value..."));
    // The design size, scaled to the font, and wide enough for the caption.
    const QSize design = TDesignScale::ForFont(form.font()).Size(QSize(185, 83));
    EXPECT_EQ(form.size(),
              QSize(std::max(design.width(), CaptionWidth(form.windowTitle())), design.height()));
    EXPECT_TRUE(form.Button1->isDefault());
    form.show();
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    form.show();
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_FALSE(form.isVisible());
}

} // namespace
