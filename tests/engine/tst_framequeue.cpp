// SPDX-License-Identifier: MIT
// The queue that carries frame reports from the line's thread to the window:
// nothing changed on the way, nothing taken twice, every loss counted.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/framequeue.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

// A report as the consumer got it, with the spans copied out.
struct Taken {
    Bytes Rx, Reply;
    int Unread;
    TVerdict Verdict;
    uint8_t ExceptionCode;
    bool ReplyFailed;
    TFaultKind Injected;
    int DelayMs, SplitMs;
    bool Replaced;
    int64_t TimeUs, SteadyUs;
};

std::vector<Taken> drainAll(TFrameQueue &Queue)
{
    std::vector<Taken> out;
    const size_t n = Queue.Drain([&](const TFrameReport &R, int64_t TimeUs, int64_t SteadyUs) {
        out.push_back({Bytes(R.Rx.begin(), R.Rx.end()), Bytes(R.Reply.begin(), R.Reply.end()),
                       R.Unread, R.Verdict, R.ExceptionCode, R.ReplyFailed, R.Injected, R.DelayMs,
                       R.SplitMs, R.Replaced, TimeUs, SteadyUs});
    });
    EXPECT_EQ(n, out.size());
    return out;
}

Bytes pattern(size_t Length, uint8_t Seed)
{
    Bytes b(Length);
    for (size_t i = 0; i < Length; ++i)
        b[i] = uint8_t(Seed + i * 7);
    return b;
}

struct QueuedCase {
    const char *Name;
    Bytes Rx, Reply;
    int Unread = 0;
    TVerdict Verdict = TVerdict::Answered;
    uint8_t ExceptionCode = 0;
    bool ReplyFailed = false;
    TFaultKind Injected = TFaultKind::None;
    int DelayMs = 0, SplitMs = 0;
    bool Replaced = false;
};

TFrameReport reportOf(const QueuedCase &C)
{
    TFrameReport r;
    r.Rx = C.Rx;
    r.Reply = C.Reply;
    r.Unread = C.Unread;
    r.Verdict = C.Verdict;
    r.ExceptionCode = C.ExceptionCode;
    r.ReplyFailed = C.ReplyFailed;
    r.Injected = C.Injected;
    r.DelayMs = C.DelayMs;
    r.SplitMs = C.SplitMs;
    r.Replaced = C.Replaced;
    return r;
}

// Every kind of report the engine makes, with the largest spans it can hold.
const std::vector<QueuedCase> queuedCases = {
    // fn 3, 10 registers from 0, answered with 20 bytes of data
    {"ReadAnswered", hex("01 03 00 00 00 0A C5 CD"), pattern(25, 1)},
    {"ExceptionTwo", hex("01 03 FF FF 00 0A 00 00"), hex("01 83 02 C0 F1"), 0, TVerdict::Exception,
     2},
    {"FullReceiveBufferTooLong", pattern(256, 9), {}, 1000, TVerdict::TooLong},
    {"LongestReplyRefusedByTheLine", hex("01 03 00 00 00 7D 84 2B"), pattern(255, 3), 0,
     TVerdict::Answered, 0, true},
    {"TimedOutWithNothingHeld", {}, {}, 0, TVerdict::TimedOut},
    {"InjectedBadCrcDelayedSplitReplacing", hex("01 06 00 01 00 03 98 0B"), pattern(8, 5), 0,
     TVerdict::Answered, 0, false, TFaultKind::BadCrc, 200, 30, true},
    {"InjectedNoReply",
     hex("01 07 41 E2"),
     {},
     0,
     TVerdict::Answered,
     0,
     false,
     TFaultKind::NoReply},
    {"OtherSlave", hex("02 03 00 00 00 01 84 39"), {}, 0, TVerdict::OtherSlave},
};

TEST(FrameQueue, EveryFieldAndByteArrivesInOrder)
{
    TFrameQueue queue(16);
    const int64_t before = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    for (const QueuedCase &c : queuedCases)
        queue.FrameDone(reportOf(c));
    const std::vector<Taken> got = drainAll(queue);
    ASSERT_EQ(got.size(), queuedCases.size());
    int64_t lastSteady = INT64_MIN;
    for (size_t i = 0; i < got.size(); ++i) {
        const QueuedCase &c = queuedCases[i];
        const Taken &t = got[i];
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(t.Rx, c.Rx);
        EXPECT_EQ(t.Reply, c.Reply);
        EXPECT_EQ(t.Unread, c.Unread);
        EXPECT_EQ(t.Verdict, c.Verdict);
        EXPECT_EQ(t.ExceptionCode, c.ExceptionCode);
        EXPECT_EQ(t.ReplyFailed, c.ReplyFailed);
        EXPECT_EQ(t.Injected, c.Injected);
        EXPECT_EQ(t.DelayMs, c.DelayMs);
        EXPECT_EQ(t.SplitMs, c.SplitMs);
        EXPECT_EQ(t.Replaced, c.Replaced);
        EXPECT_GE(t.TimeUs, before);
        EXPECT_GE(t.SteadyUs, lastSteady);
        lastSteady = t.SteadyUs;
    }
    EXPECT_EQ(queue.Dropped(), 0u);
    EXPECT_TRUE(drainAll(queue).empty());
}

TEST(FrameQueue, SpansLongerThanASlotAreCutNotOverflowed)
{
    TFrameQueue queue(2);
    const Bytes rx = pattern(1000, 1), reply = pattern(1000, 2);
    TFrameReport r;
    r.Rx = rx;
    r.Reply = reply;
    queue.FrameDone(r);
    const std::vector<Taken> got = drainAll(queue);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Rx, Bytes(rx.begin(), rx.begin() + modbus::RxBufferSize));
    EXPECT_EQ(got[0].Reply, Bytes(reply.begin(), reply.begin() + modbus::MaxFrameLength));
}

// Pushes Push frames numbered from First (the number in Rx[0..1]), then
// drains; the table walks each ring round its end several times.
struct FullCase {
    const char *Name;
    size_t Capacity;
    std::vector<int> Pushes; // frames pushed before each drain
};

const std::vector<FullCase> fullCases = {
    {"OneSlot", 1, {1, 3, 1, 2}},
    {"ThreeSlots", 3, {5, 2, 3, 4, 1, 3}},
    {"ZeroMeansOne", 0, {2, 1}},
    {"FourSlots", 4, {4, 4, 9, 3, 4}},
};

void PrintTo(const FullCase &C, std::ostream *Out)
{
    *Out << C.Name;
}

class FullQueue : public ::testing::TestWithParam<FullCase>
{
};

TEST_P(FullQueue, DropsAndCountsThenAcceptsAgainAfterADrain)
{
    const FullCase &c = GetParam();
    TFrameQueue queue(c.Capacity);
    const size_t capacity = std::max<size_t>(c.Capacity, 1);
    EXPECT_EQ(queue.Capacity(), capacity);
    int next = 0;
    uint64_t dropped = 0;
    for (int push : c.Pushes) {
        std::vector<int> kept;
        for (int i = 0; i < push; ++i, ++next) {
            const Bytes rx = {uint8_t(next >> 8), uint8_t(next), 0xAA};
            TFrameReport r;
            r.Rx = rx;
            queue.FrameDone(r);
            if (kept.size() < capacity)
                kept.push_back(next);
            else
                ++dropped;
        }
        EXPECT_EQ(queue.Dropped(), dropped);
        std::vector<int> got;
        for (const Taken &t : drainAll(queue)) {
            ASSERT_EQ(t.Rx.size(), 3u);
            got.push_back(t.Rx[0] << 8 | t.Rx[1]);
        }
        EXPECT_EQ(got, kept) << "after frame " << next;
    }
}

INSTANTIATE_TEST_SUITE_P(FrameQueue, FullQueue, ::testing::ValuesIn(fullCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// A producer thread pushes as fast as it can while this thread drains. The
// frame's number sits in its first four bytes and decides its length and
// every other byte, so a torn or reused slot shows.
class ConcurrentQueue : public ::testing::TestWithParam<size_t>
{
};

TEST_P(ConcurrentQueue, EveryFrameArrivesOnceInOrderOrIsCountedDropped)
{
    constexpr uint32_t Pushed = 200000;
    TFrameQueue queue(GetParam());
    std::atomic<bool> done{false};
    std::thread producer([&] {
        uint8_t rx[modbus::RxBufferSize];
        for (uint32_t n = 0; n < Pushed; ++n) {
            const size_t length = 4 + n % (sizeof rx - 3);
            for (size_t i = 0; i < 4; ++i)
                rx[i] = uint8_t(n >> (8 * i));
            for (size_t i = 4; i < length; ++i)
                rx[i] = uint8_t(n + i);
            TFrameReport r;
            r.Rx = std::span<const uint8_t>(rx, length);
            r.Reply = std::span<const uint8_t>(rx, n % 3 == 0 ? length - 1 : 0);
            r.DelayMs = int(n);
            queue.FrameDone(r);
        }
        done.store(true, std::memory_order_release);
    });

    uint64_t received = 0;
    int64_t last = -1;
    size_t faults = 0;
    auto check = [&](const TFrameReport &R, int64_t, int64_t) {
        uint32_t n = 0;
        for (size_t i = 0; i < 4 && i < R.Rx.size(); ++i)
            n |= uint32_t(R.Rx[i]) << (8 * i);
        bool intact = R.Rx.size() == 4 + n % (modbus::RxBufferSize - 3) && R.DelayMs == int(n) &&
                      R.Reply.size() == (n % 3 == 0 ? R.Rx.size() - 1 : 0);
        for (size_t i = 4; intact && i < R.Rx.size(); ++i)
            intact = R.Rx[i] == uint8_t(n + i);
        if (!intact || int64_t(n) <= last)
            ++faults;
        last = n;
        ++received;
    };
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        if (queue.Drain(check) == 0) {
            if (finished)
                break;
            std::this_thread::yield();
        }
    }
    producer.join();

    EXPECT_EQ(faults, 0u);
    EXPECT_EQ(received + queue.Dropped(), Pushed);
    EXPECT_GT(received, 0u);
}

// The size the program uses, and a ring so small that most frames find it full.
INSTANTIATE_TEST_SUITE_P(FrameQueue, ConcurrentQueue, ::testing::Values(4096, 7));

} // namespace
} // namespace quorlin::test
