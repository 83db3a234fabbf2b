// SPDX-License-Identifier: MIT
// Poll statistics: scripts of requests on a hand-moved clock, each row one
// master's behaviour, checked against what a person counting by hand gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/pollstats.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

Bytes frame(Bytes B)
{
    appendCrc(B);
    return B;
}

// Read holding registers Address .. Address + Count - 1 of slave 1.
Bytes read3(int Address, int Count)
{
    return frame({1, 3, uint8_t(Address >> 8), uint8_t(Address), uint8_t(Count >> 8), uint8_t(Count)});
}

struct Request {
    int64_t Ms;
    Bytes Rx;
    bool Usable = true; // false: the reply was withheld (no reply injected)
};

struct PollRow {
    const char *Name;
    std::vector<Request> Requests;
    uint64_t Count, Retries;
    int64_t ShortestUs, MeanUs, LongestUs;
    std::string Ranges;
};

class PollScript : public ::testing::TestWithParam<PollRow>
{
};

void add(TPollStats &Stats, const Request &R)
{
    static const uint8_t reply[] = {1, 3, 2, 0, 0};
    TFrameReport r;
    r.Rx = R.Rx;
    r.Verdict = TVerdict::Answered;
    if (R.Usable)
        r.Reply = reply;
    else
        r.Injected = TFaultKind::NoReply;
    Stats.Add(r, R.Ms * 1000);
}

TEST_P(PollScript, CountsIntervalsRetriesAndRanges)
{
    const PollRow &row = GetParam();
    TPollStats stats;
    for (const Request &r : row.Requests)
        add(stats, r);
    ASSERT_EQ(stats.Entries().size(), 1u);
    const TPollEntry &e = stats.Entries()[0];
    EXPECT_EQ(e.Requests, row.Count);
    EXPECT_EQ(e.Retries, row.Retries);
    EXPECT_EQ(e.ShortestUs, row.ShortestUs);
    EXPECT_EQ(e.MeanUs(), row.MeanUs);
    EXPECT_EQ(e.LongestUs, row.LongestUs);
    EXPECT_EQ(RangesText(e.Function, e.Ranges), row.Ranges);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PollScript,
    ::testing::Values(
        PollRow{"RegularPolls", {{0, read3(0, 2)}, {100, read3(0, 2)}, {300, read3(0, 2)}}, 3, 0,
                100000, 150000, 200000, "4x0001-4x0002"},
        // Unanswered, repeated after 50 ms: a retry, and the master's time-out.
        // The poll a second later is no retry, and its interval runs from the
        // first poll, not from the retry.
        PollRow{"RepeatAfterNoReplyIsARetry",
                {{0, read3(0, 2), false}, {50, read3(0, 2)}, {1000, read3(0, 2)}}, 3, 1, 1000000,
                1000000, 1000000, "4x0001-4x0002"},
        // Once the time-out is known, a quick repeat of an answered request is
        // a retry too: the reply was late or lost on the way.
        PollRow{"QuickRepeatOfAnAnsweredOneOnceTheTimeOutIsKnown",
                {{0, read3(0, 2), false}, {50, read3(0, 2)}, {1000, read3(0, 2)}, {1040, read3(0, 2)}},
                4, 2, 1000000, 1000000, 1000000, "4x0001-4x0002"},
        PollRow{"AnotherRequestIsNoRetry",
                {{0, read3(0, 2), false}, {50, read3(10, 2)}}, 2, 0, 50000, 50000, 50000,
                "4x0001-4x0002, 4x0011-4x0012"},
        PollRow{"TouchingRangesMerge",
                {{0, read3(0, 10)}, {10, read3(10, 10)}, {20, read3(5, 1)}}, 3, 0, 10000, 10000,
                10000, "4x0001-4x0020"},
        // Quantity beyond the last register: only what exists is touched.
        PollRow{"RangeEndsAtTheLastRegister", {{0, read3(65530, 100)}}, 1, 0, -1, -1, -1,
                "4x65531-4x65536"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(PollStats, OnlyRequestsThatPassedTheirChecksCount)
{
    TPollStats stats;
    const Bytes rx = read3(0, 1);
    for (TVerdict v : {TVerdict::BadCrc, TVerdict::TimedOut, TVerdict::TooLong, TVerdict::BadHeader}) {
        TFrameReport r;
        r.Rx = rx;
        r.Verdict = v;
        stats.Add(r, 0);
    }
    TFrameReport held;
    held.Rx = rx;
    held.HeldReply = true; // the request was counted when it came
    stats.Add(held, 0);
    TFrameReport tiny;
    const Bytes one = {1};
    tiny.Rx = one;
    tiny.Verdict = TVerdict::OtherSlave;
    stats.Add(tiny, 0);
    EXPECT_TRUE(stats.Entries().empty());
}

TEST(PollStats, ReadWriteTouchesBothRangesAndTheCountOfRangesIsBounded)
{
    TPollStats stats;
    // 23: read 4x0001 x2, write 4x0101 x1 (one value).
    const Bytes fc23 = frame({1, 23, 0, 0, 0, 2, 0, 100, 0, 1, 2, 0, 7});
    TFrameReport r;
    r.Rx = fc23;
    r.Verdict = TVerdict::Answered;
    stats.Add(r, 0);
    EXPECT_EQ(RangesText(23, stats.Entries()[0].Ranges), "4x0001-4x0002, 4x0101");
    // Twenty single registers five apart: the nearest merge until sixteen stay,
    // and every register asked for is still inside one.
    for (int i = 0; i < 20; ++i) {
        const Bytes b = read3(i * 5, 1);
        r.Rx = b;
        stats.Add(r, 1000 * i);
    }
    const TPollEntry &e = stats.Entries()[0]; // by function: 3 before 23
    ASSERT_EQ(e.Function, 3);
    EXPECT_EQ(e.Ranges.size(), TPollStats::MaxRanges);
    for (int i = 0; i < 20; ++i) {
        bool inside = false;
        for (const TRegisterRange &g : e.Ranges)
            inside |= i * 5 >= g.First && i * 5 < g.First + g.Count;
        EXPECT_TRUE(inside) << i * 5;
    }
}

TEST(PollStats, ModbusTcpRepeatsAreKnownWhateverTheirTransactionAndLinesStayApart)
{
    TPollStats stats;
    // Transaction 1 and 2 of the same read, unanswered then answered, on one
    // connection; the same read on the serial line is another entry.
    const Bytes t1 = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
    const Bytes t2 = {0, 2, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
    TFrameReport r;
    r.Line = "tcp 127.0.0.1:5000";
    r.HeaderLength = 6;
    r.Verdict = TVerdict::Answered;
    r.Injected = TFaultKind::NoReply;
    r.Rx = t1;
    stats.Add(r, 0);
    r.Injected = TFaultKind::None;
    r.Rx = t2;
    stats.Add(r, 300000);
    add(stats, {400, read3(0, 1)});
    ASSERT_EQ(stats.Entries().size(), 2u);
    EXPECT_EQ(stats.Entries()[0].Line, "");
    EXPECT_EQ(stats.Entries()[1].Retries, 1u);
    EXPECT_EQ(stats.ApparentTimeOutUs("tcp 127.0.0.1:5000"), 300000);
    EXPECT_EQ(stats.ApparentTimeOutUs(""), -1);
}

} // namespace
} // namespace quorlin::test
