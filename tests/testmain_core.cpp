// SPDX-License-Identifier: MIT
// GoogleTest main for non-widget tests: a QCoreApplication exists so that
// timers, queued calls and event loops work in every test.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
