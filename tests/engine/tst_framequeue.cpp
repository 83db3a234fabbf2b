// SPDX-License-Identifier: MIT
// The queue that carries frame reports from the line's thread to the window:
// nothing changed on the way, nothing taken twice, every loss counted.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/framequeue.h"
#include "tests/engine/fakes.h"

// Reports are written as designated initializers: the fields left out keep
// their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quorlin::test
{
namespace
{

auto fieldsOf(const TFrameReport &R)
{
    return std::tuple(Bytes(R.Rx.begin(), R.Rx.end()), Bytes(R.Reply.begin(), R.Reply.end()),
                      R.Unread, R.Verdict, R.ExceptionCode, R.ReplyFailed, R.Injected, R.DelayMs,
                      R.SplitMs, R.Replaced, std::string(R.Line), R.HeaderLength);
}
using Fields = decltype(fieldsOf(TFrameReport{}));

std::vector<Fields> drainAll(TFrameQueue &Queue)
{
    std::vector<Fields> out;
    const size_t n =
        Queue.Drain([&](const TFrameReport &R, int64_t, int64_t) { out.push_back(fieldsOf(R)); });
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

const Bytes read10 = hex("01 03 00 00 00 0A C5 CD"), reply10 = pattern(25, 1),
            fullRx = pattern(256, 9), longest = pattern(255, 3), exc = hex("01 83 02 C0 F1");

TEST(FrameQueue, EveryFieldAndByteArrivesInOrder)
{
    // Every kind of report the engine makes, with the largest spans it
    // holds, and spans longer than a slot, which are cut to it.
    const Bytes huge = pattern(1000, 4);
    const std::vector<TFrameReport> reports = {
        {.Rx = read10, .Reply = reply10},
        {.Rx = read10, .Verdict = TVerdict::Exception, .ExceptionCode = 2, .Reply = exc},
        {.Rx = fullRx, .Unread = 1000, .Verdict = TVerdict::TooLong},
        {.Rx = read10, .Reply = longest, .ReplyFailed = true},
        {.Verdict = TVerdict::TimedOut},
        {.Rx = read10,
         .Reply = exc,
         .Injected = TFaultKind::BadCrc,
         .DelayMs = 200,
         .SplitMs = 30,
         .Replaced = true},
        {.Rx = read10, .Injected = TFaultKind::NoReply},
        {.Rx = read10, .Reply = reply10, .Line = "tcp 127.0.0.1:40312", .HeaderLength = 6},
        {.Rx = huge, .Reply = huge},
    };
    TFrameQueue queue(16);
    std::vector<Fields> want;
    for (TFrameReport r : reports) {
        queue.FrameDone(r);
        // A slot holds the longest frame of any framing (Modbus TCP's).
        r.Rx = r.Rx.first(std::min<size_t>(r.Rx.size(), modbus::MaxAduLength));
        r.Reply = r.Reply.first(std::min<size_t>(r.Reply.size(), modbus::MaxAduLength));
        want.push_back(fieldsOf(r));
    }
    EXPECT_EQ(drainAll(queue), want);
    EXPECT_TRUE(drainAll(queue).empty());
    EXPECT_EQ(queue.Dropped(), 0u);
}

// Frames numbered in Rx[0] pushed in rounds, each round drained; the rings
// go round their end several times.
TEST(FrameQueue, FullQueueDropsAndCountsThenAcceptsAgainAfterADrain)
{
    const std::vector<std::pair<size_t, std::vector<int>>> cases = {
        // capacity, frames pushed before each drain
        {1, {1, 3, 1, 2}},
        {3, {5, 2, 3, 4, 1, 3}},
        {0, {2, 1}}, // taken as 1
        {4, {4, 4, 9, 3, 4}},
    };
    for (const auto &[capacity, pushes] : cases) {
        SCOPED_TRACE(capacity);
        TFrameQueue queue(capacity);
        uint8_t next = 0;
        uint64_t dropped = 0;
        TLineCounters line;
        std::array<TLineCounters, 256> bySlave{};
        for (int push : pushes) {
            std::vector<Fields> kept;
            for (int i = 0; i < push; ++i, ++next) {
                const Bytes rx = {next, 0xAA};
                queue.FrameDone({.Rx = rx});
                if (kept.size() < std::max<size_t>(capacity, 1))
                    kept.push_back(fieldsOf({.Rx = rx}));
                else
                    ++dropped;
            }
            EXPECT_EQ(queue.Dropped(), dropped);
            EXPECT_EQ(drainAll(queue), kept) << "after frame " << int(next);
            // The dropped frames (answered, two bytes each) still count.
            queue.TakeDroppedCounts(line, bySlave);
            EXPECT_EQ(line.Requests, dropped);
            EXPECT_EQ(line.BytesIn, 2 * dropped);
            EXPECT_EQ(bySlave[next - 1u].Requests, uint64_t(kept.size() < size_t(push)));
        }
    }
}

// A producer thread pushes as fast as it can while this thread drains. A
// frame's number (its first four bytes) decides its length and every other
// byte, so a torn or reused slot shows; the times taken must not go back.
// The program's size and a ring so
// small that most frames find it full.
class ConcurrentQueue : public ::testing::TestWithParam<size_t>
{
};

TEST_P(ConcurrentQueue, EveryFrameArrivesOnceInOrderOrIsCountedDropped)
{
    constexpr uint32_t Pushed = 200000;
    auto frame = [](uint32_t N, uint8_t *Out) {
        const size_t length = 4 + N % (modbus::RxBufferSize - 3);
        for (size_t i = 0; i < length; ++i)
            Out[i] = i < 4 ? uint8_t(N >> (8 * i)) : uint8_t(N + i);
        return std::span<const uint8_t>(Out, length);
    };
    const int64_t before = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    TFrameQueue queue(GetParam());
    std::atomic<bool> done{false};
    std::thread producer([&] {
        uint8_t rx[modbus::RxBufferSize];
        for (uint32_t n = 0; n < Pushed; ++n)
            queue.FrameDone({.Rx = frame(n, rx), .DelayMs = int(n)});
        done.store(true, std::memory_order_release);
    });

    uint64_t received = 0, faults = 0;
    int64_t last = -1, lastSteady = INT64_MIN;
    uint8_t want[modbus::RxBufferSize];
    auto check = [&](const TFrameReport &R, int64_t TimeUs, int64_t SteadyUs) {
        const auto n = uint32_t(R.DelayMs);
        faults += !std::ranges::equal(R.Rx, frame(n, want)) || int64_t(n) <= last ||
                  TimeUs < before || SteadyUs < lastSteady;
        last = n;
        lastSteady = SteadyUs;
        ++received;
    };
    TLineCounters line;
    std::array<TLineCounters, 256> bySlave{};
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        queue.TakeDroppedCounts(line, bySlave);
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
    // Every dropped frame counted once, for the line and for its id.
    queue.TakeDroppedCounts(line, bySlave);
    EXPECT_EQ(line.Requests, queue.Dropped());
    uint64_t bySlaveRequests = 0;
    for (const TLineCounters &c : bySlave)
        bySlaveRequests += c.Requests;
    EXPECT_EQ(bySlaveRequests, queue.Dropped());
}

INSTANTIATE_TEST_SUITE_P(FrameQueue, ConcurrentQueue, ::testing::Values(4096, 7));

} // namespace
} // namespace quorlin::test
