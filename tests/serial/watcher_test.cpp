// SPDX-License-Identifier: MIT
// The watcher thread with the device: deliveries on the user-interface
// thread, nothing after Stop, bursts during Open, Close followed by Open, and
// no busy loop over bytes a handler leaves unread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QtCore/qtestsupport_core.h>
#include <sys/ioctl.h>

#include "serial/commeventthread.h"
#include "serial/commint.h"
#include "tests/platform/serial/termios2probe.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using quorlin::testing::CountingSysApi;
using quorlin::testing::queued;
using quorlin::testing::watchersEnded;

namespace
{

class Watching : public quorlin::testing::CommFixture
{
  protected:
    void SetUp() override
    {
        CommFixture::SetUp();
        comm.SetFlowControl(fcNone);
    }
    // Reading handler: takes Count bytes, on the user-interface thread only.
    void collect()
    {
        comm.OnRxChar = [this](TCustomComm *, int Count) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            std::vector<uint8_t> buf(static_cast<size_t>(Count));
            int n = comm.Read(buf.data(), Count);
            ASSERT_EQ(n, Count);
            received.insert(received.end(), buf.begin(), buf.end());
            ++calls;
        };
    }
    // True once the watcher thread has looked at the queue (it hands over
    // next). Waits without serving the event loop, so the hand-over stays queued.
    bool watcherSawData()
    {
        for (int i = 0; i < 5000; ++i) {
            for (const auto &c : api.calls())
                if (c.Thread != std::this_thread::get_id() && c.Name == "ioctl" &&
                    c.Request == FIONREAD)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    int watcherCalls(const char *Name)
    {
        int n = 0;
        for (const auto &c : api.calls())
            n += c.Thread != std::this_thread::get_id() && c.Name == Name;
        return n;
    }

    std::vector<uint8_t> received;
    int calls = 0;
};

} // namespace

struct MaskRow {
    const char *Label;
    TCommEventTypes Events;
    uint32_t Mask;
};

class WatcherMask : public ::testing::TestWithParam<MaskRow>
{
};

TEST_P(WatcherMask, IsTheOrOfTheMonitoredEventFlags)
{
    EXPECT_EQ(TCommEventThread::EventMaskOf(GetParam().Events), GetParam().Mask);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WatcherMask,
    ::testing::Values(MaskRow{"RxCharOnly", commEvents({evRxChar}), 1},
                      MaskRow{"AllNine", AllCommEvents, 511}, MaskRow{"None", 0, 0},
                      MaskRow{"BreakAndRing", commEvents({evBreak, evRing}), 64 | 256},
                      MaskRow{"ErrorAndRxChar", commEvents({evError, evRxChar}), 129}),
    [](const auto &info) { return std::string(info.param.Label); });

TEST_F(Watching, WatcherTakesTheMaskOfTheMonitoredEvents)
{
    TPosixSerialPort port(api);
    ASSERT_FALSE(port.Open(pty.path()));
    auto one = TCommEventThread::Create(port.Fd(), commEvents({evRxChar}), api);
    auto all = TCommEventThread::Create(port.Fd(), AllCommEvents, api);
    ASSERT_TRUE(one && all);
    EXPECT_EQ(one->Mask(), 1u);
    EXPECT_EQ(all->Mask(), 511u);
    one->Stop();
    all->Stop();
}

TEST_F(Watching, EveryBurstRaisesRxCharOnTheUserInterfaceThread)
{
    collect();
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    std::vector<uint8_t> sent;
    for (int burst = 0; burst < 20; ++burst) {
        std::vector<uint8_t> bytes(size_t(burst % 7 + 1));
        for (auto &b : bytes)
            b = uint8_t(sent.size() + (&b - bytes.data()));
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        ASSERT_TRUE(pty.send(bytes));
        ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == sent.size(); }, 5000))
            << "burst " << burst;
    }
    EXPECT_EQ(received, sent);
    EXPECT_GE(calls, 1);
}

TEST_F(Watching, BurstArrivingDuringOpenIsDeliveredAfterOpenReturns)
{
    const std::vector<uint8_t> burst = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
    bool injected = false, openReturned = false, deliveredDuringOpen = false;
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        if (!injected && c.Name == "ioctl" && quorlin::testing::isSetTermios2(c.Request) &&
            c.Thread == std::this_thread::get_id()) {
            injected = true;
            EXPECT_TRUE(pty.send(burst));
            for (int i = 0; i < 5000 && queued(pty.slave()) < int(burst.size()); ++i)
                std::this_thread::yield();
        }
        return std::nullopt;
    });
    collect();
    auto reading = comm.OnRxChar;
    comm.OnRxChar = [&](TCustomComm *Sender, int Count) {
        deliveredDuringOpen |= !openReturned;
        reading(Sender, Count);
    };
    comm.Open();
    openReturned = true;
    ASSERT_TRUE(comm.IsOpen());
    ASSERT_TRUE(injected);
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() == burst.size(); }, 5000));
    EXPECT_EQ(received, burst);
    EXPECT_FALSE(deliveredDuringOpen);
    api.setHook(nullptr); // it refers to this body's locals
}

TEST_F(Watching, StopEndsAWaitingWatcher)
{
    TPosixSerialPort port(api);
    ASSERT_FALSE(port.Open(pty.path()));
    auto watcher = TCommEventThread::Create(port.Fd(), commEvents({evRxChar}), api);
    ASSERT_TRUE(watcher);
    int delivered = 0;
    watcher->OnSignal = [&](TCommEventThread *, uint32_t) { ++delivered; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcherCalls("poll") > 0; }, 5000));
    EXPECT_EQ(TCommEventThread::Running(), 1);
    watcher->Stop();
    watcher.reset();
    EXPECT_TRUE(watchersEnded());
    EXPECT_EQ(delivered, 0);
}

TEST_F(Watching, NothingIsDeliveredAfterStopEvenWhenAlreadyHandedOver)
{
    TPosixSerialPort port(api);
    ASSERT_FALSE(port.Open(pty.path()));
    auto watcher = TCommEventThread::Create(port.Fd(), commEvents({evRxChar}), api);
    ASSERT_TRUE(watcher);
    int delivered = 0;
    watcher->OnSignal = [&](TCommEventThread *, uint32_t) { ++delivered; };
    ASSERT_TRUE(pty.send({1, 2, 3}));
    ASSERT_TRUE(watcherSawData()); // its hand-over is queued or about to be
    watcher->Stop();
    EXPECT_TRUE(watchersEnded());
    EXPECT_EQ(delivered, 0);
}

TEST_F(Watching, CloseWithADeliveryPendingDeliversNothing)
{
    collect();
    comm.Open();
    ASSERT_TRUE(pty.send({1, 2, 3}));
    ASSERT_TRUE(watcherSawData());
    comm.Close();
    EXPECT_TRUE(watchersEnded());
    EXPECT_EQ(calls, 0);
}

TEST_F(Watching, CloseFollowedAtOnceByOpenWorksAndPurgesOnlyThePortItOwns)
{
    collect();
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    // The old watcher is blocked in a hand-over the event loop has not served.
    ASSERT_TRUE(pty.send({0xAA}));
    ASSERT_TRUE(watcherSawData());
    comm.Close();
    comm.Open();
    ASSERT_TRUE(comm.IsOpen()) << comm.LastOpenError().Message;
    ASSERT_TRUE(pty.send({0xBB, 0xCC}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 5000));
    EXPECT_EQ(received, (std::vector<uint8_t>{0xBB, 0xCC})) << "Close purged the old byte";

    // The final purge of the old port: done by Close, on the user-interface
    // thread, with all four flags, before that descriptor was closed; the
    // watchers never purge.
    int purges = 0;
    bool closedBeforePurge = false, purged = false;
    for (const auto &c : api.calls()) {
        if (c.Name == "ioctl" && c.Request == TCFLSH) {
            EXPECT_EQ(c.Thread, std::this_thread::get_id());
            if (c.Arg == reinterpret_cast<void *>(2ul)) { // TCIOFLUSH
                ++purges;
                purged = true;
            }
        }
        if (c.Name == "close" && c.Thread == std::this_thread::get_id() && !purged)
            closedBeforePurge = true;
    }
    EXPECT_EQ(purges, 1);
    EXPECT_FALSE(closedBeforePurge);
}

TEST_F(Watching, BytesAHandlerLeavesUnreadRaiseNoFurtherEventsUntilMoreArrive)
{
    int count = 0;
    comm.OnRxChar = [&](TCustomComm *, int Count) {
        ++calls;
        count = Count; // reads nothing
    };
    comm.Open();
    ASSERT_TRUE(pty.send({1, 2, 3}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 5000));
    api.reset();
    QTest::qWait(200); // a window in which a busy loop would show
    EXPECT_EQ(calls, 1);
    EXPECT_LT(watcherCalls("poll"), 20) << "the watcher must back off, not spin";
    ASSERT_TRUE(pty.send({4}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 2; }, 5000));
    EXPECT_EQ(count, 4);
}
