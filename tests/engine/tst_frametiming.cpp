// SPDX-License-Identifier: MIT
// Frame timing: schedules of reads and writes on a hand-moved clock, and the
// engine's reports carrying what was measured without changing one reply.
#include <gtest/gtest.h>

#include <vector>

#include "engine/frametiming.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

// R: Count bytes read at T; W: Count reply bytes written at T; E: the frame ends.
struct Step {
    char Kind;
    int64_t T = 0;
    int Count = 0;
};

struct ScheduleRow {
    const char *Name;
    int Baud;
    int CharUs;
    std::vector<Step> Steps; // the last E is the frame checked
    int64_t Gap, Inside, Turnaround; // of the last frame; the turnaround of its reply
    bool TooSoon, GapInside;
};

class Schedule : public ::testing::TestWithParam<ScheduleRow>
{
};

TEST_P(Schedule, LastFrameIsTimedAndMarked)
{
    const ScheduleRow &row = GetParam();
    TFrameClock clock;
    clock.SetLine(row.CharUs, SilenceLimits(row.Baud, row.CharUs));
    TFrameTiming last;
    for (const Step &s : row.Steps) {
        if (s.Kind == 'R')
            clock.Received(s.T, s.Count);
        else if (s.Kind == 'W')
            clock.Sending(s.T, s.Count);
        else
            last = clock.EndFrame();
    }
    EXPECT_EQ(last.GapUs, row.Gap);
    EXPECT_EQ(last.InsideUs, row.Inside);
    EXPECT_EQ(clock.TakeTurnaround(), row.Turnaround);
    EXPECT_EQ(clock.TakeTurnaround(), -1) << "a turnaround is told once";
    EXPECT_EQ(last.TooSoon, row.TooSoon);
    EXPECT_EQ(last.GapInside, row.GapInside);
}

// 9600 8E1: 1146 us a character; 1.5 characters 1719 us, 3.5 characters 4011 us.
constexpr int C = 1146;
// An 8-byte request read whole at 100000, answered by 7 bytes at 100500:
// the reply leaves the line at 100500 + 7 * 1146 = 108522.
const std::vector<Step> answered = {{'R', 100000, 8}, {'E'}, {'W', 100500, 7}};

std::vector<Step> plus(std::vector<Step> A, const std::vector<Step> &B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Schedule,
    ::testing::Values(
        ScheduleRow{"FirstFrameHasNoGap", 9600, C, {{'R', 5000, 8}, {'E'}}, -1, 0, -1, false, false},
        // The next request's first byte starts 1000 us after the reply left.
        ScheduleRow{"RequestSoonAfterTheReplyIsTooSoon", 9600, C,
                    plus(answered, {{'R', 108522 + 1000 + C, 1}, {'E'}}), 1000, 0, -1, true, false},
        ScheduleRow{"ThreeAndAHalfCharactersIsEnough", 9600, C,
                    plus(answered, {{'R', 108522 + 4011 + C, 1}, {'E'}}), 4011, 0, -1, false, false},
        ScheduleRow{"TurnaroundRunsFromTheLastRead", 9600, C,
                    {{'R', 10000, 4}, {'R', 10000 + 4 * C, 4}, {'E'}, {'W', 12345 + 4 * C, 5}}, -1, 0,
                    2345, false, false},
        // Two bytes one character apart, then 2000 us of silence.
        ScheduleRow{"SilenceInsideBeyondOneAndAHalfCharacters", 9600, C,
                    {{'R', 1000, 1}, {'R', 1000 + C, 1}, {'R', 1000 + 2 * C + 2000, 1}, {'E'}}, -1,
                    2000, -1, false, true},
        ScheduleRow{"OneAndAHalfCharactersInsideIsAllowed", 9600, C,
                    {{'R', 1000, 1}, {'R', 1000 + C + 1719, 1}, {'E'}}, -1, 1719, -1, false, false},
        // A read that comes late with five bytes: they came back to back.
        ScheduleRow{"LateReadOfManyBytesHoldsNoSilence", 9600, C,
                    {{'R', 1000, 1}, {'R', 1000 + 5 * C, 5}, {'E'}}, -1, 0, -1, false, false},
        // 38400 8E1: 287 us a character; the fixed 750 us rule applies.
        ScheduleRow{"Above19200TheFixedLimitsApply", 38400, 287,
                    {{'R', 1000, 1}, {'R', 1000 + 287 + 760, 1}, {'E'}}, -1, 760, -1, false, true},
        ScheduleRow{"UnknownSpeedMeasuresButNeverMarks", 0, 0,
                    {{'R', 1000, 8}, {'E'}, {'R', 1100, 8}, {'E'}}, 100, 0, -1, false, false},
        ScheduleRow{"DelayedReplyCountsItsDelay", 9600, C,
                    {{'R', 1000, 8}, {'E'}, {'W', 201000, 5}}, -1, 0, 200000, false, false},
        // A frame that begins before our reply could have left collided with it.
        ScheduleRow{"FrameDuringOurReplyHasNoSilence", 9600, C,
                    plus(answered, {{'R', 101000, 8}, {'E'}}), 0, 0, -1, true, false}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(SilenceLimits, FollowTheCharacterUpTo19200)
{
    EXPECT_EQ(SilenceLimits(9600, 1146).InsideUs, 1719);
    EXPECT_EQ(SilenceLimits(9600, 1146).BetweenUs, 4011);
    EXPECT_EQ(SilenceLimits(19200, 573).BetweenUs, 2006); // still the character's at 19200
    EXPECT_EQ(SilenceLimits(19201, 573).BetweenUs, 1750);
    EXPECT_FALSE(SilenceLimits(9600, 0).Known());
}

// The engine on a clock moved by hand: what the reports carry, and replies
// byte for byte the same with timing on.
int64_t engineNow = 0;
int64_t engineClock()
{
    return engineNow;
}

struct Recorder : IFrameObserver {
    std::vector<TFrameReport> Reports; // the spans die with the call: cleared
    TLineCounters Counts;
    void FrameDone(const TFrameReport &R) override
    {
        Counts.Count(R);
        Reports.push_back(R);
        Reports.back().Rx = {};
        Reports.back().Reply = {};
    }
};

TEST(EngineTiming, ReportsCarryGapTurnaroundAndMarksAndRepliesStayTheSame)
{
    Bytes read = {1, 3, 0, 0, 0, 2};
    appendCrc(read);
    std::vector<Bytes> replies[2];
    for (int timed = 0; timed < 2; ++timed) {
        Rig rig;
        rig.Image.MBid = 1;
        Recorder seen;
        rig.Slave.SetObserver(&seen);
        rig.Slave.SetCharTimeUs(C, 9600);
        if (timed)
            rig.Slave.SetClock(engineClock);
        engineNow = 1000000;
        rig.arrive(read);
        // 100 us of silence after the reply has left: too soon.
        engineNow += 9 * C + 100 + 8 * C;
        rig.arrive(read);
        // Half a request, 3 ms of silence, the rest: a gap inside.
        engineNow += 100000;
        rig.arrive(Bytes(read.begin(), read.begin() + 4));
        engineNow += 3000 + 4 * C;
        rig.arrive(Bytes(read.begin() + 4, read.end()));
        replies[timed] = rig.Line.Writes;
        ASSERT_EQ(seen.Reports.size(), 3u);
        if (!timed) {
            for (const TFrameReport &r : seen.Reports)
                EXPECT_EQ(r.Timing.GapUs, -1) << "no clock, no timing";
            continue;
        }
        EXPECT_EQ(seen.Reports[0].Timing.GapUs, -1);
        EXPECT_EQ(seen.Reports[0].Timing.TurnaroundUs, 0) << "the clock did not move";
        EXPECT_EQ(seen.Reports[1].Timing.GapUs, 100);
        EXPECT_TRUE(seen.Reports[1].Timing.TooSoon);
        EXPECT_FALSE(seen.Reports[1].Timing.GapInside);
        EXPECT_EQ(seen.Reports[2].Timing.InsideUs, 3000);
        EXPECT_TRUE(seen.Reports[2].Timing.GapInside);
        EXPECT_FALSE(seen.Reports[2].Timing.TooSoon);
        const TLineCounters &counts = seen.Counts;
        EXPECT_EQ(counts.TooSoon, 1u);
        EXPECT_EQ(counts.GapInside, 1u);
        EXPECT_EQ(counts.Replies, 3u) << "marked requests are answered all the same";
    }
    EXPECT_EQ(replies[0], replies[1]);
}

} // namespace
} // namespace quorlin::test
