// SPDX-License-Identifier: MIT
// The engine on the port's own thread: requests are answered, partial ones
// dropped and delayed replies sent while the user-interface thread does
// nothing at all; closing the port and holding the line wait for a handler
// call in progress.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <memory>
#include <chrono>
#include <thread>

#include "engine/crc16.h"
#include "engine/deadline.h"
#include "engine/modbusslave.h"
#include "serial/lineengine.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace
{

Bytes withCrc(Bytes Frame)
{
    const uint16_t c = Crc16(Frame.data(), Frame.size());
    Frame.push_back(uint8_t(c));
    Frame.push_back(uint8_t(c >> 8));
    return Frame;
}

// The engine served by the port's thread; this (the user-interface) thread
// never serves its event loop in these tests.
class LineThread : public quorlin::testing::CommFixture
{
  protected:
    void SetUp() override
    {
        CommFixture::SetUp();
        comm.SetFlowControl(fcNone);
        image.MBid = 1;
        for (int n = 1; n <= WordRegisterCount; ++n)
            image.HoldingRegs[size_t(n)] = uint16_t(0x0100 + n);
        comm.SetLineHandler(&line);
        comm.Open();
        ASSERT_TRUE(comm.IsOpen());
    }
    void TearDown() override
    {
        comm.Close();
        comm.SetLineHandler(nullptr);
        CommFixture::TearDown();
    }
    // Sends Request and reads Count bytes of the answer, blocking this thread.
    Bytes ask(const Bytes &Request, size_t Count, int TimeoutMs = 2000)
    {
        EXPECT_TRUE(pty.send(Request));
        return pty.receive(Count, TimeoutMs);
    }

    TRegisterImage image;
    TDeadline timeOut{100}, reply{0};
    TModbusSlave engine{image, comm, timeOut};
    TLineEngine line{engine, comm, timeOut, reply};
};

struct AskRow {
    const char *Label;
    Bytes Request;
    Bytes Reply; // empty: the slave stays silent
};

class LineThreadAnswers : public LineThread, public ::testing::WithParamInterface<AskRow>
{
};

TEST_P(LineThreadAnswers, WithoutTheEventLoop)
{
    const AskRow &row = GetParam();
    const Bytes got = ask(row.Request, row.Reply.empty() ? 1 : row.Reply.size(),
                          row.Reply.empty() ? 300 : 2000);
    EXPECT_EQ(got, row.Reply);
    // Still answering afterwards.
    const Bytes read = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    EXPECT_EQ(ask(read, 7), withCrc({0x01, 0x03, 0x02, 0x01, 0x01}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineThreadAnswers,
    ::testing::Values(
        AskRow{"ReadTwo", withCrc({0x01, 0x03, 0x00, 0x04, 0x00, 0x02}),
               withCrc({0x01, 0x03, 0x04, 0x01, 0x05, 0x01, 0x06})},
        AskRow{"WriteOne", withCrc({0x01, 0x06, 0x00, 0x09, 0x12, 0x34}),
               withCrc({0x01, 0x06, 0x00, 0x09, 0x12, 0x34})},
        AskRow{"OutOfRange", withCrc({0x01, 0x03, 0x00, 0xFF, 0x00, 0x02}),
               withCrc({0x01, 0x83, 0x02})},
        AskRow{"OtherSlave", withCrc({0x02, 0x03, 0x00, 0x00, 0x00, 0x01}), {}},
        AskRow{"BadCrc", {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, {}}),
    [](const auto &info) { return std::string(info.param.Label); });

TEST_F(LineThread, APartialRequestIsDroppedAfterItsTimeOutWithoutTheEventLoop)
{
    const Bytes read = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    ASSERT_TRUE(pty.send({0x01, 0x03, 0x00}));
    std::this_thread::sleep_for(250ms);
    // Had the three bytes stayed, these would make a garbled frame.
    EXPECT_EQ(ask(read, 7), withCrc({0x01, 0x03, 0x02, 0x01, 0x01}));
}

TEST_F(LineThread, ADelayedReplyLeavesOnTheLinesOwnDeadline)
{
    TFaultSettings f;
    f.Enabled = 1;
    f.DelayMs = 120;
    {
        std::lock_guard<std::mutex> hold(engine.Lock());
        engine.Faults().Load(f);
    }
    const Bytes read = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(read, 7), withCrc({0x01, 0x03, 0x02, 0x01, 0x01}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 120ms);
}

// A master that paces its bytes as a UART at 9600 8E1 sends them: one every
// 1146 us, each on its own schedule so that a late wake-up does not add up.
void sendPaced(const quorlin::testing::PtyPair &Pty, const Bytes &Frame)
{
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < Frame.size(); ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(1146 * (i + 1)));
        ASSERT_TRUE(Pty.send({Frame[i]}));
    }
}

TEST_F(LineThread, LongestWriteArrivingAt9600BaudIsAnsweredAndAStalledOneDropped)
{
    comm.SetParity(paEven);
    Bytes write = {0x01, 0x10, 0x00, 0x00, 0x00, 0x7B, 0xF6}; // 123 registers from 4x0001
    write.resize(7 + 246, 0x5A);
    write = withCrc(write); // 255 bytes: 292 ms on the line
    std::thread master([&] { sendPaced(pty, write); });
    const Bytes reply = pty.receive(8, 3000);
    master.join();
    EXPECT_EQ(reply, withCrc({0x01, 0x10, 0x00, 0x00, 0x00, 0x7B}));

    // The same request stalled halfway is dropped; the next one stands alone.
    std::thread stalled([&] { sendPaced(pty, Bytes(write.begin(), write.begin() + 100)); });
    stalled.join();
    EXPECT_TRUE(pty.receive(1, 700).empty());
    const Bytes read = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    EXPECT_EQ(ask(read, 7), withCrc({0x01, 0x03, 0x02, 0x5A, 0x5A}));
}

TEST_F(LineThread, LineTimeFollowsTheSettings)
{
    comm.SetParity(paEven);
    EXPECT_EQ(comm.CharTimeUs(), 1146); // 11 bits at 9600
    // Nothing queued on the pty: the bytes' own time.
    EXPECT_EQ(comm.SendTimeUs(12), 12 * 1146);
    comm.SetBaudRate(br19200);
    comm.SetParity(paNone);
    EXPECT_EQ(comm.CharTimeUs(), 521);
    comm.Close();
    EXPECT_EQ(comm.SendTimeUs(12), 0) << "a closed port sends nothing";
}

TEST_F(LineThread, HoldingTheLineKeepsTheEngineStillUntilReleased)
{
    const Bytes read = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    {
        auto hold = comm.HoldLine();
        ASSERT_TRUE(hold.owns_lock());
        ASSERT_TRUE(pty.send(read));
        EXPECT_TRUE(pty.receive(1, 150).empty());
        // What the handler owns may change meanwhile.
        image.HoldingRegs[1] = 0xBEEF;
    }
    EXPECT_EQ(pty.receive(7, 2000), withCrc({0x01, 0x03, 0x02, 0xBE, 0xEF}));
}

// A handler that takes its time, to catch Close returning under its feet.
class SlowHandler : public ILineHandler
{
  public:
    bool LineRxChar(int) override
    {
        inside = true;
        std::this_thread::sleep_for(200ms);
        inside = false;
        ++calls;
        return false;
    }
    int64_t LineDeadlineUs() override { return -1; }
    void LineDeadline() override {}

    std::atomic<bool> inside{false};
    std::atomic<int> calls{0};
};

TEST(LineThreadClose, WaitsForTheHandlerCallInProgressAndCallsNoMore)
{
    quorlin::testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SlowHandler slow;
    TComm comm;
    comm.SetDeviceName(pty.path());
    comm.SetMonitorEvents(commEvents({evRxChar}));
    comm.SetLineHandler(&slow);
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    ASSERT_TRUE(pty.send({1, 2, 3}));
    for (int i = 0; i < 2000 && !slow.inside; ++i)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(slow.inside);
    comm.Close();
    EXPECT_FALSE(slow.inside);
    EXPECT_EQ(slow.calls, 1);
    ASSERT_TRUE(pty.send({4}));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(slow.calls, 1);
    EXPECT_TRUE(quorlin::testing::watchersEnded());
}

// The watcher asks its handler for the next deadline at the top of its loop;
// Stop may come between the loop's check and that question. With a deadline
// always due, the loop turns as fast as it can, so a stop lands anywhere in it.
class AlwaysDueHandler : public ILineHandler
{
  public:
    bool LineRxChar(int) override { return check(); }
    int64_t LineDeadlineUs() override { return check(), 0; }
    void LineDeadline() override { check(); }

    std::atomic<bool> gone{false};
    std::atomic<int> callsAfterStop{0};
    std::atomic<int> calls{0};

  private:
    bool check()
    {
        ++calls;
        if (gone.load())
            ++callsAfterStop;
        return false;
    }
};

TEST(LineThreadStop, NoHandlerCallAfterStopReturns)
{
    quorlin::testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    // Handlers outlive the test's loop: a call after Stop counts, not crashes.
    std::vector<std::unique_ptr<AlwaysDueHandler>> handlers;
    for (int trial = 0; trial < 800; ++trial) {
        AlwaysDueHandler &handler = *handlers.emplace_back(std::make_unique<AlwaysDueHandler>());
        auto watcher =
            TCommEventThread::Create(pty.slave(), commEvents({evRxChar}), TSysApi::Default(),
                                     &handler);
        ASSERT_TRUE(watcher);
        while (handler.calls.load() < 3 + trial % 7)
            std::this_thread::yield();
        watcher->Stop();
        handler.gone = true;
        // Whatever the thread was doing, it calls nothing more.
        for (int i = 0; i < 20; ++i)
            std::this_thread::yield();
        ASSERT_EQ(handler.callsAfterStop.load(), 0) << "trial " << trial;
    }
    EXPECT_TRUE(quorlin::testing::watchersEnded());
    for (const auto &h : handlers)
        EXPECT_EQ(h->callsAfterStop.load(), 0);
}

// Bytes and a passed deadline seen at one wake-up: the deadline goes first,
// so late bytes never join a request whose time had run out.
class OrderHandler : public ILineHandler
{
  public:
    bool LineRxChar(int) override { return record('R'), false; }
    int64_t LineDeadlineUs() override { return due ? 0 : -1; }
    void LineDeadline() override { due = false, record('D'); }

    std::string seen() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_seen;
    }

  private:
    void record(char C)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_seen += C;
    }
    std::atomic<bool> due{true};
    mutable std::mutex m_lock;
    std::string m_seen;
};

TEST(LineThreadOrder, APassedDeadlineIsKeptBeforeBytesThatCameAfter)
{
    quorlin::testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(pty.send({1, 2, 3}));
    OrderHandler handler;
    auto watcher =
        TCommEventThread::Create(pty.slave(), commEvents({evRxChar}), TSysApi::Default(), &handler);
    ASSERT_TRUE(watcher);
    for (int i = 0; i < 2000 && handler.seen().find('R') == std::string::npos; ++i)
        std::this_thread::sleep_for(1ms);
    watcher->Stop();
    EXPECT_EQ(handler.seen().substr(0, 2), "DR");
    EXPECT_TRUE(quorlin::testing::watchersEnded());
}

} // namespace
