// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>

#include "serial/timeouttimer.h"

using namespace quorlin;

TEST(TimeOutTimer, IsASingleShotOfOneHundredMilliseconds)
{
    TQtTimeOutTimer timer;
    EXPECT_TRUE(timer.Timer().isSingleShot());
    EXPECT_EQ(timer.Timer().interval(), 100);
    EXPECT_FALSE(timer.IsRunning());
}

TEST(TimeOutTimer, FiresOnceAndStopsItselfUnlessStopped)
{
    TQtTimeOutTimer timer(nullptr, 5);
    int fired = 0, signalled = 0;
    timer.Start();
    timer.Stop(); // cancelled: must not fire
    EXPECT_FALSE(timer.IsRunning());
    timer.OnTimer = [&] {
        ++fired;
        EXPECT_FALSE(timer.IsRunning());
    };
    QObject::connect(&timer, &TQtTimeOutTimer::timeout, [&] { ++signalled; });
    timer.Start();
    EXPECT_TRUE(timer.IsRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired == 1; }, 5000));
    EXPECT_EQ(signalled, 1);
    EXPECT_FALSE(timer.IsRunning());
}
