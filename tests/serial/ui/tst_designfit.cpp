// SPDX-License-Identifier: MIT
// Fitting a window's pixel layout to its font, where the font of one control
// is larger than its window's.
#include <QDialog>
#include <QLabel>

#include <gtest/gtest.h>

#include "serial/ui/designfit.h"

using namespace quorlin;

TEST(DesignFit, HeadingInALargerFontGrowsAndPushesTheRestDown)
{
    QDialog dialog;
    dialog.setFixedSize(200, 200);
    auto *heading = new QLabel(QStringLiteral("Heading"), &dialog);
    heading->setGeometry(50, 10, 100, 10);
    heading->setAlignment(Qt::AlignHCenter);
    QFont large = heading->font();
    large.setPixelSize(40);
    heading->setFont(large);
    auto *line = new QLabel(QStringLiteral("text"), &dialog);
    line->setGeometry(50, 30, 100, 10);
    FitDesignToFont(dialog);

    const QFontMetrics metrics = heading->fontMetrics();
    EXPECT_GE(heading->height(), metrics.height());
    EXPECT_GE(heading->width(), metrics.horizontalAdvance(heading->text()));
    EXPECT_GE(heading->x(), 0);
    EXPECT_LE(heading->geometry().right(), dialog.width() - 1);
    EXPECT_GT(line->y(), heading->geometry().bottom());
    EXPECT_GT(dialog.height(), TDesignScale::ForFont(dialog.font()).Size({200, 200}).height());
}

#include "serial/ui/placement.h"

// A window of its own opens beside its owner, on the screen: a 1000-pixel
// tall screen never has it hang off the bottom, and it covers its owner only
// when no side has room for it.
TEST(Placement, WindowGoesBesideItsOwnerAndStaysOnTheScreen)
{
    struct Row {
        const char *Name;
        QRect Owner;
        QSize Wanted;
        QRect Available;
        QRect Expected;
    };
    const QRect hd(0, 0, 1920, 1000);
    const Row rows[] = {
        // Centred main window: the right side has the most room for it.
        {"right_of_a_centred_owner", {735, 300, 450, 400}, {1100, 520}, hd, {1185, 300, 735, 520}},
        // Tall wish: cut to the screen's height, not past its bottom.
        {"cut_to_the_height", {735, 300, 450, 400}, {700, 1200}, hd, {1185, 0, 700, 1000}},
        // Owner at the right edge: the left side.
        {"left_of_an_owner_on_the_right", {1400, 100, 520, 400}, {1100, 520}, hd, {300, 100, 1100, 520}},
        // Owner as wide as the screen: below it.
        {"below_a_wide_owner", {0, 0, 1920, 300}, {1100, 520}, hd, {0, 300, 1100, 520}},
        // Owner low on the screen: above it, level with its left edge.
        {"above_a_low_owner", {100, 700, 1820, 300}, {1100, 520}, hd, {100, 180, 1100, 520}},
        // A work area that starts below a panel.
        {"below_a_top_panel", {735, 400, 450, 400}, {700, 900}, {0, 30, 1920, 970}, {1185, 100, 700, 900}},
        // No side holds a usable window: over the owner, inside the screen.
        {"no_room_beside", {100, 100, 600, 400}, {1100, 520}, {0, 0, 800, 600}, {0, 80, 800, 520}},
    };
    for (const Row &r : rows) {
        const QRect got = PlaceBeside(r.Owner, r.Wanted, r.Available);
        EXPECT_EQ(got, r.Expected) << r.Name;
        EXPECT_TRUE(r.Available.contains(got)) << r.Name;
    }
}
