// SPDX-License-Identifier: MIT
// The API's traffic ring: rows that left it are counted, never skipped in
// silence; a cursor from elsewhere starts at the end; a waiting reader wakes
// for the next row, and a stop ends every wait at once.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "api/trafficfeed.h"

using namespace quorlin;
using Clock = std::chrono::steady_clock;

namespace
{

TTrafficRow row(int Function)
{
    TTrafficRow r;
    r.Function = int16_t(Function);
    return r;
}

TEST(TrafficFeed, RowsLeftTheRingAreCountedAndTheCursorNeverSkips)
{
    TTrafficFeed feed(3);
    for (int f = 1; f <= 5; ++f)
        feed.Append(row(f));
    struct Case {
        uint64_t Since;
        size_t Limit;
        uint64_t Dropped, First, Next;
        size_t Rows;
    };
    const Case cases[] = {
        {0, 100, 2, 2, 5, 3}, // rows 0 and 1 are gone
        {1, 100, 1, 2, 5, 3},
        {3, 100, 0, 3, 5, 2},
        {2, 2, 0, 2, 4, 2}, // a limit leaves the rest for the next call
        {5, 100, 0, 0, 5, 0},
        {99, 100, 0, 0, 5, 0}, // a cursor from another run starts at the end
    };
    for (const Case &c : cases) {
        const TTrafficPage p = feed.Page(c.Since, 0, c.Limit);
        EXPECT_EQ(p.Dropped, c.Dropped) << c.Since;
        EXPECT_EQ(p.Next, c.Next) << c.Since;
        ASSERT_EQ(p.Rows.size(), c.Rows) << c.Since;
        for (size_t i = 0; i < p.Rows.size(); ++i) {
            EXPECT_EQ(p.Rows[i].first, c.First + i);
            EXPECT_EQ(p.Rows[i].second.Function, int16_t(c.First + i + 1)); // row n is function n+1
        }
    }
}

TEST(TrafficFeed, AWaitingReaderWakesForTheNextRowAndAStopEndsEveryWait)
{
    TTrafficFeed feed;
    auto waiting = std::async(std::launch::async, [&feed] { return feed.Page(0, 20000, 10); });
    // However early the row comes, the reader has it once it is there.
    feed.Append(row(3));
    feed.Notify();
    const auto start = Clock::now();
    const TTrafficPage p = waiting.get();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(p.Rows.size(), 1u);
    EXPECT_EQ(p.Next, 1u);

    auto stopped = std::async(std::launch::async, [&feed] { return feed.Page(1, 20000, 10); });
    feed.Stop();
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(stopped.get().Rows.empty());
    EXPECT_FALSE(feed.WaitFor(1, 20000)) << "stopped: no wait at all";
}

} // namespace
