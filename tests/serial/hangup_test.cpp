// SPDX-License-Identifier: MIT
// A line that hangs up (far end closed, adapter unplugged) or a descriptor
// whose every wait fails must not keep a core busy: the watcher backs off on
// its stop event. Checked by the number of waits over a few seconds of an
// event loop; the share of a core it used is printed, not asserted.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "serial/commint.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using quorlin::testing::CountingSysApi;

namespace
{

double cpuSeconds()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Percent of one core used by the whole process while the event loop runs.
double cpuPercentOver(int Ms)
{
    const double c0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    // A plain event loop, as the program's: it sleeps until something happens.
    QEventLoop loop;
    QTimer::singleShot(Ms, &loop, &QEventLoop::quit);
    loop.exec();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return 100.0 * (cpuSeconds() - c0) / wall;
}

class HangUp : public quorlin::testing::CommFixture
{
};

} // namespace

TEST_F(HangUp, FarEndClosedWhileOpenCostsNoCpu)
{
    int calls = 0;
    comm.OnRxChar = [&](TCustomComm *Sender, int Count) {
        std::vector<uint8_t> buf(static_cast<size_t>(Count));
        Sender->Read(buf.data(), Count);
        ++calls;
    };
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    ASSERT_TRUE(pty.send({1}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 5000));

    pty.closeMaster();
    api.reset();
    const double pct = cpuPercentOver(5000);
    std::printf("hang-up: %.3f %% of one core over 5 s, %d waits\n", pct, api.count("poll"));
    ::testing::Test::RecordProperty("hangup_cpu_percent", std::to_string(pct));
    // The share of a core is a figure, not a verdict: a busy machine moves
    // it. The number of waits is what a spinning watcher gives away.
    EXPECT_LT(api.count("poll"), 1000) << "a spinning watcher makes millions";
    comm.Close();
}

TEST_F(HangUp, WaitsThatFailAtOnceCostNoCpu)
{
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    // The descriptor errors: every wait on port and stop event fails at
    // once; only the back-off (stop event alone) still waits.
    api.setHook([](const CountingSysApi::Call &c) -> std::optional<long> {
        if (c.Name == "poll" && c.Request == 2) {
            errno = EIO;
            return -1;
        }
        return std::nullopt;
    });
    ASSERT_TRUE(pty.send({1})); // wake the watcher into the failing waits
    api.reset();
    const double pct = cpuPercentOver(2000);
    std::printf("failing waits: %.3f %% of one core over 2 s, %d waits\n", pct, api.count("poll"));
    EXPECT_LT(api.count("poll"), 400);
    EXPECT_GT(api.count("poll"), 0);
    comm.Close();
}
