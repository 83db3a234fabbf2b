// SPDX-License-Identifier: MIT
// Time on the line: the request time-out at every speed a master uses, the
// silence of a split reply counted from the end of its first half, and what
// the reports say of replies held back (sent when, failed, cancelled).
#include <gtest/gtest.h>

#include <array>

#include "engine/deadline.h"
#include "engine/frameobserver.h"
#include "engine/linetiming.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

struct CharRow {
    int Baud, DataBits;
    bool Parity;
    int HalfStops;
    int Us;
};

TEST(LineTiming, CharacterTimeCountsEveryBitRoundedUp)
{
    const CharRow rows[] = {
        {9600, 8, true, 2, 1146},  // 8E1: 11 bits, 1145.8 us
        {9600, 8, false, 2, 1042}, // 8N1: 10 bits
        {1200, 8, true, 2, 9167},  // 11 bits at the slowest common speed
        {230400, 8, true, 2, 48},  // 47.7 us
        {19200, 7, false, 4, 521}, // 7N2: 10 bits
        {9600, 5, false, 3, 782},  // 5N1.5: 7.5 bits, 781.25 us
        {0, 8, false, 2, 0},       // no speed: unknown
    };
    for (const CharRow &r : rows)
        EXPECT_EQ(CharTimeUs(r.Baud, r.DataBits, r.Parity, r.HalfStops), r.Us)
            << r.Baud << " baud, " << r.DataBits << " data bits";
}

// One clock for the time-out and the test: microseconds, moved by hand.
int64_t fakeNow = 0;
int64_t fakeClock()
{
    return fakeNow;
}

// A master that sends one byte per character time, with the line's thread
// dropping the partial request whenever the time-out falls due.
struct PacedRig {
    TRegisterImage Image;
    FakeLine Line;
    TDeadline TimeOut{100, fakeClock};
    TModbusSlave Slave{Image, Line, TimeOut};
    TLineCounters Counters;
    struct Counter : IFrameObserver {
        TLineCounters &C;
        explicit Counter(TLineCounters &Into) : C(Into) {}
        void FrameDone(const TFrameReport &R) override { C.Count(R); }
    } Observer{Counters};

    explicit PacedRig(int CharUs)
    {
        fakeNow = 1000000;
        Image.ClearImage();
        Image.MBid = 1;
        Slave.SetObserver(&Observer);
        Slave.SetCharTimeUs(CharUs);
    }
    void waitUntil(int64_t Us)
    {
        if (TimeOut.Due(Us))
            fakeNow = TimeOut.DueUs(), Slave.TimeOutTimerTimer();
        fakeNow = Us;
    }
    void send(const Bytes &B, int CharUs)
    {
        for (uint8_t b : B) {
            waitUntil(fakeNow + CharUs);
            Line.Input.push_back(b);
            Slave.Comm1RxChar(1);
        }
    }
};

// The longest write of each kind: 123 registers, 1968 coils (255 bytes each).
Bytes longestWrite(uint8_t Function)
{
    Bytes b = Function == 0x10 ? hex("01 10 00 00 00 7B F6") : hex("01 0F 00 00 07 B0 F6");
    b.resize(7 + 246, 0x5A);
    appendCrc(b);
    return b;
}

TEST(LineTiming, LongestRequestsAreAnsweredAtEverySpeedAndStalledOnesDropped)
{
    for (int baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400}) {
        const int charUs = CharTimeUs(baud, 8, true, 2); // 8E1, the slowest framing of 8 bits
        for (uint8_t fn : {uint8_t(0x10), uint8_t(0x0F)}) {
            PacedRig rig(charUs);
            rig.send(longestWrite(fn), charUs);
            ASSERT_EQ(rig.Line.Writes.size(), 1u) << baud << " baud, function " << int(fn);
            EXPECT_EQ(rig.Counters.TimedOut, 0u);

            // Half of it, then nothing: dropped, and the next request stands alone.
            const Bytes whole = longestWrite(fn);
            const Bytes half(whole.begin(), whole.begin() + 128);
            rig.send(half, charUs);
            rig.waitUntil(fakeNow + 100000 + 256 * int64_t(charUs));
            EXPECT_EQ(rig.Counters.TimedOut, 1u) << baud << " baud, function " << int(fn);
            rig.send(hex("01 03 00 00 00 01 crc"), charUs);
            EXPECT_EQ(rig.Line.Writes.size(), 2u);
        }
    }
}

TEST(LineTiming, WithoutTheLinesSpeedARequestHasItsHundredMilliseconds)
{
    PacedRig rig(0);
    rig.send(hex("01 03 00 00"), 0);
    rig.waitUntil(fakeNow + 99999);
    EXPECT_EQ(rig.Counters.TimedOut, 0u);
    rig.waitUntil(fakeNow + 1);
    EXPECT_EQ(rig.Counters.TimedOut, 1u);
}

// The reply timer and the line on one clock in milliseconds; the line tells
// how long its bytes take as a UART at 9600 8E1 would, behind Queued bytes.
struct HeldRig : ISerialLine, IReplyTimer, IFrameObserver {
    int Now = 0, Due = 0;
    bool Running = false;
    int Queued = 0;         // what the driver still has to send
    bool RefuseWrites = false;
    std::vector<int> WriteTimes;
    std::vector<std::string> Reports;
    TLineCounters Counters;
    TRegisterImage Image;
    FakeLine Line;
    FakeTimer Timer;
    TModbusSlave Slave{Image, *this, Timer};

    explicit HeldRig(TFaultSettings S)
    {
        Image.ClearImage();
        Image.MBid = 1;
        S.Enabled = 1;
        Slave.SetReplyTimer(this);
        Slave.SetObserver(this);
        Slave.Faults().Load(S);
    }
    int Read(void *B, int N) override { return Line.Read(B, N); }
    int Write(const void *B, int N) override
    {
        WriteTimes.push_back(Now);
        return RefuseWrites ? -1 : Line.Write(B, N);
    }
    void PurgeIn() override { Line.PurgeIn(); }
    void PurgeOut() override {}
    int64_t SendTimeUs(int Count) override { return LineTimeUs(Queued + Count, 1146); }
    void Start(int Ms) override { Running = true, Due = Now + Ms; }
    void Stop() override { Running = false; }
    bool IsRunning() const override { return Running; }
    // "t:kind:bytes", kind being what the report says of its reply.
    void FrameDone(const TFrameReport &R) override
    {
        Counters.Count(R);
        const char *kind = R.ReplyCancelled ? "cancelled"
                           : R.ReplyFailed  ? "failed"
                           : R.Reply.empty() ? (R.ReplyHeld ? "held" : "none")
                                             : (R.ReplyHeld ? "part" : "sent");
        Reports.push_back(std::to_string(Now) + (R.HeldReply ? ":later:" : ":request:") + kind +
                          ":" + std::to_string(R.Reply.size()));
    }
    void arrive(const Bytes &B)
    {
        Line.Input.insert(Line.Input.end(), B.begin(), B.end());
        Slave.Comm1RxChar(int(Line.Input.size()));
    }
    void advance(int Ms)
    {
        const int until = Now + Ms;
        while (Running && Due <= until) {
            Now = Due;
            Slave.ReplyTimerTimer();
        }
        Now = until;
    }
};

const Bytes ReadTen = hex("01 03 00 00 00 0A crc"); // a reply of 25 bytes

TEST(SplitReply, SilenceStartsWhenTheFirstHalfHasLeftTheLine)
{
    struct Row {
        int SplitMs, Queued, SecondAt; // ms
    } rows[] = {
        {5, 0, 5 + 14},        // 12 bytes at 1146 us: 13.75 ms on the line
        {30, 0, 30 + 14},
        {5, 30, 5 + 49},       // behind 30 bytes still queued: 42 bytes, 48.1 ms
    };
    for (const Row &r : rows) {
        HeldRig rig({.SplitReplyMs = r.SplitMs});
        rig.Queued = r.Queued;
        rig.arrive(ReadTen);
        rig.advance(1000);
        ASSERT_EQ(rig.WriteTimes.size(), 2u);
        EXPECT_EQ(rig.Line.Writes[0].size(), 12u);
        EXPECT_EQ(rig.WriteTimes[1] - rig.WriteTimes[0], r.SecondAt) << r.SplitMs << " ms split";
    }
}

struct FateRow {
    const char *Name;
    TFaultSettings Faults;
    bool RefuseWrites;
    int NewRequestAt; // ms; -1 none
    int CloseAt;      // ms; -1 never
    std::vector<std::string> Reports;
    // requests, replies, bytes out, failed, cancelled
    std::array<uint64_t, 5> Counts;
};

class HeldReplyFates : public ::testing::TestWithParam<FateRow>
{
};

TEST_P(HeldReplyFates, ReportsSayWhenAndWhetherTheBytesWent)
{
    const FateRow &row = GetParam();
    HeldRig rig(row.Faults);
    rig.RefuseWrites = row.RefuseWrites;
    rig.arrive(ReadTen);
    for (int t = 1; t <= 1000; ++t) {
        rig.advance(1);
        if (t == row.NewRequestAt)
            rig.arrive(ReadTen);
        if (t == row.CloseAt)
            rig.Slave.LineClosed();
    }
    EXPECT_EQ(rig.Reports, row.Reports);
    const TLineCounters &c = rig.Counters;
    EXPECT_EQ((std::array<uint64_t, 5>{c.Requests, c.Replies, c.BytesOut, c.Failed, c.Cancelled}),
              row.Counts);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Fates, HeldReplyFates,
    ::testing::Values(
        FateRow{"DelayedReplyIsReportedWhenWritten", {.DelayMs = 200}, false, -1, -1,
                {"0:request:held:0", "200:later:sent:25"}, {1, 1, 25, 0, 0}},
        FateRow{"DelayedReplyTheLineRefused", {.DelayMs = 200}, true, -1, -1,
                {"0:request:held:0", "200:later:failed:25"}, {1, 0, 0, 1, 0}},
        FateRow{"DelayedReplyReplacedByANewerRequest", {.DelayMs = 500}, false, 100, -1,
                {"0:request:held:0", "100:later:cancelled:0", "100:request:held:0",
                 "600:later:sent:25"}, {2, 1, 25, 0, 1}},
        FateRow{"DelayedReplyOfAClosedPort", {.DelayMs = 500}, false, -1, 300,
                {"0:request:held:0", "300:later:cancelled:0"}, {1, 0, 0, 0, 1}},
        FateRow{"SplitHalvesEachAtItsWrite", {.SplitReplyMs = 30}, false, -1, -1,
                {"0:request:part:12", "44:later:sent:13"}, {1, 1, 25, 0, 0}},
        FateRow{"DelayedSplitHalves", {.DelayMs = 100, .SplitReplyMs = 30}, false, -1, -1,
                {"0:request:held:0", "100:later:part:12", "144:later:sent:13"}, {1, 1, 25, 0, 0}},
        FateRow{"SplitCutByAClose", {.SplitReplyMs = 30}, false, -1, 10,
                {"0:request:part:12", "10:later:cancelled:0"}, {1, 0, 12, 0, 1}}),
    [](const auto &Info) { return std::string(Info.param.Name); });
// clang-format on

} // namespace
} // namespace quorlin::test
