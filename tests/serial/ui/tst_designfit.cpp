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
