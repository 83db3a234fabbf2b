// SPDX-License-Identifier: MIT
// The engine on the port's own thread: requests are answered, partial ones
// dropped and delayed replies sent while the user-interface thread does
// nothing at all; closing the port and holding the line wait for a handler
// call in progress.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
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

} // namespace
