// SPDX-License-Identifier: MIT
// Fitting a window's pixel layout to its font: the scale, and what the fit
// does to controls of a fixed size, group boxes, headings and captions.
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "serial/ui/designfit.h"

using namespace quorlin;

namespace
{

QFont pixelFont(int Pixels)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(Pixels);
    return font;
}

struct ScaleRow {
    const char *name;
    QRect design, expected;
};

class DesignScaleRows : public ::testing::TestWithParam<ScaleRow>
{
};

// Edges are scaled, so controls that touch in the design still touch.
TEST_P(DesignScaleRows, ScalesEdgesNotSizes)
{
    const TDesignScale scale{1.5, 1.25};
    EXPECT_EQ(scale.Rect(GetParam().design), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DesignScaleRows,
    ::testing::Values(ScaleRow{"Origin", {0, 0, 10, 8}, {0, 0, 15, 10}},
                      // 7 * 1.5 = 10.5 and 14 * 1.5 = 21: the neighbour starts at 21.
                      ScaleRow{"LeftNeighbour", {7, 4, 7, 4}, {11, 5, 10, 5}},
                      ScaleRow{"RightNeighbour", {14, 4, 7, 4}, {21, 5, 11, 5}},
                      ScaleRow{"Empty", {3, 3, 0, 0}, {5, 4, 0, 0}}),
    [](const auto &Info) { return std::string(Info.param.name); });

TEST(DesignScale, FollowsTheFontButNeverShrinksTheDesign)
{
    const TDesignScale tiny = TDesignScale::ForFont(pixelFont(5));
    EXPECT_EQ(tiny.X, 1.0);
    EXPECT_EQ(tiny.Y, 1.0);
    const TDesignScale normal = TDesignScale::ForFont(pixelFont(11));
    const TDesignScale big = TDesignScale::ForFont(pixelFont(22));
    EXPECT_GT(normal.X, 1.0);
    EXPECT_NEAR(big.X / normal.X, 2.0, 0.15);
    EXPECT_GT(big.Y, 1.5);
}

// A dialog laid out in design pixels with a font twice the usual size.
class Fit : public ::testing::Test
{
  protected:
    Fit()
    {
        dialog.setFont(pixelFont(22));
        dialog.setWindowTitle(QStringLiteral("A"));
        dialog.setFixedSize(200, 200);
        scale = TDesignScale::ForFont(dialog.font());
    }
    QDialog dialog;
    TDesignScale scale;
};

TEST_F(Fit, ControlsScaleAndFixedSizeOnesKeepTheirSizeCentred)
{
    auto *edit = new QLineEdit(&dialog);
    edit->setGeometry(10, 10, 80, 20);
    auto *lamp = new QWidget(&dialog);
    lamp->setGeometry(100, 10, 10, 10);
    lamp->setFixedSize(10, 10);
    FitDesignToFont(dialog);

    EXPECT_EQ(dialog.size(), scale.Size(QSize(200, 200)));
    EXPECT_EQ(edit->geometry(), scale.Rect(QRect(10, 10, 80, 20)));
    EXPECT_EQ(lamp->size(), QSize(10, 10));
    EXPECT_EQ(lamp->geometry().center(), scale.Rect(QRect(100, 10, 10, 10)).center());

    // A second fit changes nothing.
    FitDesignToFont(dialog);
    EXPECT_EQ(edit->geometry(), scale.Rect(QRect(10, 10, 80, 20)));
}

TEST_F(Fit, GroupContentsStartBelowTheTitleAndWhatIsBelowMovesDown)
{
    auto *group = new QGroupBox(QStringLiteral("Group"), &dialog);
    group->setGeometry(10, 10, 180, 60);
    auto *inside = new QLineEdit(group);
    inside->setGeometry(10, 4, 60, 20); // would sit on the title
    auto *below = new QPushButton(QStringLiteral("OK"), &dialog);
    below->setGeometry(10, 150, 60, 25);
    FitDesignToFont(dialog);

    const int drop = group->contentsRect().top() - scale.Rect(QRect(10, 4, 60, 20)).top();
    ASSERT_GT(drop, 0);
    EXPECT_EQ(inside->y(), group->contentsRect().top());
    EXPECT_EQ(group->height(), scale.Rect(QRect(10, 10, 180, 60)).height() + drop);
    EXPECT_EQ(below->y(), scale.Rect(QRect(10, 150, 60, 25)).y() + drop);
    EXPECT_EQ(dialog.height(), scale.Size(QSize(200, 200)).height() + drop);
}

TEST_F(Fit, HeadingInALargerFontGrowsAndPushesTheRestDown)
{
    auto *heading = new QLabel(QStringLiteral("Heading"), &dialog);
    heading->setGeometry(50, 10, 100, 10);
    heading->setAlignment(Qt::AlignHCenter);
    heading->setFont(pixelFont(40));
    auto *line = new QLabel(QStringLiteral("text"), &dialog);
    line->setGeometry(50, 30, 100, 10);
    FitDesignToFont(dialog);

    const QFontMetrics metrics = heading->fontMetrics();
    EXPECT_GE(heading->height(), metrics.height());
    EXPECT_GE(heading->width(), metrics.horizontalAdvance(heading->text()));
    EXPECT_GE(heading->x(), 0);
    EXPECT_LE(heading->geometry().right(), dialog.width() - 1);
    EXPECT_GT(line->y(), heading->geometry().bottom());
    EXPECT_GT(dialog.height(), scale.Size(QSize(200, 200)).height());
}

TEST_F(Fit, DialogStaysWideEnoughForEachCaptionWithItsControlsCentred)
{
    auto *edit = new QLineEdit(&dialog);
    edit->setGeometry(10, 10, 180, 20);
    FitDesignToFont(dialog);
    const int fitted = scale.Size(QSize(200, 200)).width();
    ASSERT_EQ(dialog.width(), fitted);
    const int left = edit->x();

    const QString caption(60, QLatin1Char('W'));
    dialog.setWindowTitle(caption);
    EXPECT_EQ(dialog.width(), CaptionWidth(caption));
    ASSERT_GT(dialog.width(), fitted);
    EXPECT_EQ(edit->x(), left + (dialog.width() - fitted) / 2);

    dialog.setWindowTitle(QStringLiteral("B"));
    EXPECT_EQ(dialog.width(), fitted);
    EXPECT_EQ(edit->x(), left);
}

} // namespace
