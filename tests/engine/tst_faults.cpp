// SPDX-License-Identifier: MIT
// Injected faults through the receive step, with a fake clock driving the
// reply timer: what each key does to the replies, the order of precedence,
// the counting, the seed, delays, split replies, cancellation, and what the
// monitor is told.
#include <gtest/gtest.h>

#include <array>
#include <set>

#include "engine/faultplan.h"
#include "engine/frameobserver.h"
#include "engine/linetiming.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

// The reply timer and the line on one fake clock: the line notes when each
// write happens, and tells how long bytes take as a UART would (CharUs each,
// behind Queued bytes still to send).
struct FaultRig : ISerialLine, IReplyTimer, IFrameObserver {
    int Now = 0, Due = 0;
    bool Running = false;
    int CharUs = 0, Queued = 0;
    bool RefuseWrites = false;
    std::vector<int> Times;
    std::vector<std::string> Reports;
    std::vector<std::string> Fates; // "t:request|later:what became of the reply:bytes"
    TLineCounters Counters;
    TRegisterImage Image;
    FakeLine Line;
    FakeTimer Timer;
    TModbusSlave Slave{Image, *this, Timer};

    explicit FaultRig(const TFaultSettings &S)
    {
        Slave.SetReplyTimer(this);
        Slave.SetObserver(this);
        Slave.Faults().Load(S);
    }
    int Read(void *B, int N) override { return Line.Read(B, N); }
    int Write(const void *B, int N) override
    {
        Times.push_back(Now);
        return RefuseWrites ? -1 : Line.Write(B, N);
    }
    int64_t SendTimeUs(int Count) override { return LineTimeUs(Queued + Count, CharUs); }
    void PurgeIn() override { Line.PurgeIn(); }
    void PurgeOut() override {}
    void Start(int Ms) override
    {
        Running = true;
        Due = Now + Ms;
    }
    void Stop() override { Running = false; }
    bool IsRunning() const override { return Running; }
    // The requests' reports; held replies' later reports are tested on their own.
    void FrameDone(const TFrameReport &R) override
    {
        if (!R.HeldReply)
            Reports.push_back(ReportText(R));
        Counters.Count(R);
        const char *what = R.ReplyCancelled  ? "cancelled"
                           : R.ReplyFailed   ? "failed"
                           : R.Reply.empty() ? (R.ReplyHeld ? "held" : "none")
                                             : (R.ReplyHeld ? "part" : "sent");
        Fates.push_back(std::to_string(Now) + (R.HeldReply ? ":later:" : ":request:") + what +
                        ":" + std::to_string(R.Reply.size()));
    }

    void arrive(const Bytes &B)
    {
        Line.Input.insert(Line.Input.end(), B.begin(), B.end());
        Slave.Comm1RxChar(int(Line.Input.size()));
    }
    // Moves the clock on, firing the reply timer whenever it falls due.
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

TFaultSettings on(TFaultSettings S)
{
    S.Enabled = 1;
    return S;
}

const Bytes ReadTwo = hex("01 03 00 00 00 02 C4 0B");
const Bytes Reply = hex("01 03 04 00 00 00 00 FA 33"); // CRCs from a bit-wise CRC of another hand
const Bytes ReplyBadCrc = hex("01 03 04 00 00 00 00 FA CC");

// One letter per request: '.' the normal reply, '-' nothing, 'E' exception 6,
// 'I' the id plus one, 'C' the last CRC byte inverted, '?' anything else.
std::string outcomes(const TFaultSettings &S, int Count)
{
    FaultRig rig(S);
    std::string seen;
    for (int i = 0; i < Count; ++i) {
        const size_t before = rig.Line.Writes.size();
        rig.arrive(ReadTwo);
        rig.advance(20000);
        if (rig.Line.Writes.size() == before) {
            seen += '-';
            continue;
        }
        Bytes w;
        for (size_t k = before; k < rig.Line.Writes.size(); ++k)
            w.insert(w.end(), rig.Line.Writes[k].begin(), rig.Line.Writes[k].end());
        seen += w == Reply ? '.' : w == hex("01 83 06 crc") ? 'E' : w == ReplyBadCrc ? 'C' : '?';
        if (w.size() == Reply.size() && w[0] == 2 && Crc16(w.data(), w.size()) == 0)
            seen.back() = 'I';
    }
    return seen;
}

struct OutcomeRow {
    const char *Name;
    TFaultSettings Settings;
    std::string Expected; // requests 1..12
};

class FaultOutcomes : public ::testing::TestWithParam<OutcomeRow>
{
};

TEST_P(FaultOutcomes, RepliesToTwelveRequests)
{
    EXPECT_EQ(outcomes(GetParam().Settings, 12), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultOutcomes,
    ::testing::Values(
        OutcomeRow{"NoFaultsSet", on({}), "............"},
        OutcomeRow{"NoReplyEvery3", on({.NoReplyEvery = 3}), "..-..-..-..-"},
        OutcomeRow{"ExceptionEvery2", on({.ExceptionEvery = 2, .ExceptionCode = 6}),
                   ".E.E.E.E.E.E"},
        OutcomeRow{"WrongIdEvery4", on({.WrongIdEvery = 4}), "...I...I...I"},
        OutcomeRow{"BadCrcEvery2", on({.BadCrcEvery = 2}), ".C.C.C.C.C.C"},
        OutcomeRow{"NoReplyPercent100", on({.NoReplyPercent = 100}), "------------"},
        OutcomeRow{"BadCrcPercent100", on({.BadCrcPercent = 100}), "CCCCCCCCCCCC"},
        // Every request is hit; the first of no reply, exception, wrong id, bad CRC wins.
        OutcomeRow{"Precedence",
                   on({.NoReplyEvery = 5,
                       .ExceptionEvery = 2,
                       .ExceptionCode = 6,
                       .BadCrcEvery = 1,
                       .WrongIdEvery = 3}),
                   "CEIE-ECEI-CE"},
        OutcomeRow{"DisabledChangesNothing", {.NoReplyEvery = 1, .BadCrcEvery = 1}, "............"},
        OutcomeRow{"OtherSlaveTargeted", on({.MBid = 2, .NoReplyEvery = 1}), "............"},
        OutcomeRow{"ThisSlaveTargeted", on({.MBid = 1, .NoReplyEvery = 2}), ".-.-.-.-.-.-"},
        // A delay or a split changes when the bytes go, not what they are.
        OutcomeRow{"DelayAndSplitKeepTheBytes",
                   on({.DelayMs = 30, .DelayMaxMs = 90, .BadCrcEvery = 3, .SplitReplyMs = 9}),
                   "..C..C..C..C"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(Faults, SilencedRequestStillWritesAndAnInjectedExceptionDoesNot)
{
    FaultRig silent(on({.NoReplyEvery = 1}));
    silent.arrive(hex("01 06 00 04 12 34 crc")); // register 5 := 0x1234
    EXPECT_TRUE(silent.Line.Writes.empty());
    EXPECT_EQ(silent.Image.HoldingRegs[5], 0x1234);

    FaultRig refusing(on({.ExceptionEvery = 1})); // no code: 4, slave device failure
    refusing.arrive(hex("01 06 00 04 12 34 crc"));
    ASSERT_EQ(refusing.Line.Writes.size(), 1u);
    EXPECT_EQ(toHex(refusing.Line.Writes[0]), toHex(hex("01 86 04 crc")));
    EXPECT_EQ(refusing.Image.HoldingRegs[5], 0);
}

TEST(Faults, WrongIdWrapsFrom255To1NeverToBroadcast)
{
    // From a bit-wise CRC of another hand: FF 83 02 -> A1 01, 01 83 02 -> C0 F1.
    Bytes frame = hex("FF 83 02 A1 01");
    InjectWrongId(frame.data(), int(frame.size()));
    EXPECT_EQ(toHex(frame), "01 83 02 C0 F1");
}

TEST(Faults, DelaysAreDrawnFromTheWholeRangeAndNoFurther)
{
    FaultRig rig(on({.DelayMs = 10, .DelayMaxMs = 13, .Seed = 77}));
    std::set<int> delays;
    for (int i = 0; i < 400; ++i) {
        const int sent = rig.Now;
        rig.arrive(ReadTwo);
        rig.advance(100);
        ASSERT_EQ(rig.Times.size(), size_t(i + 1));
        delays.insert(rig.Times.back() - sent);
    }
    EXPECT_EQ(delays, (std::set<int>{10, 11, 12, 13}));
}

TEST(Faults, SplitReplyGoesInTwoHalvesAfterTheDelay)
{
    FaultRig rig(on({.DelayMs = 40, .SplitReplyMs = 25}));
    rig.arrive(ReadTwo);
    rig.advance(1000);
    ASSERT_EQ(rig.Line.Writes.size(), 2u);
    EXPECT_EQ(rig.Times, (std::vector<int>{40, 65}));
    EXPECT_EQ(toHex(rig.Line.Writes[0]) + " " + toHex(rig.Line.Writes[1]), toHex(Reply));
    EXPECT_EQ(rig.Line.Writes[0].size(), Reply.size() / 2);
}

TEST(Faults, NewRequestCancelsTheReplyStillHeldBack)
{
    FaultRig rig(on({.DelayMs = 500}));
    rig.arrive(hex("01 06 00 00 00 01 crc"));
    rig.advance(100);
    rig.arrive(hex("01 03 00 00 00 01 crc")); // register 1, now 1
    rig.advance(499);
    EXPECT_TRUE(rig.Line.Writes.empty());
    rig.advance(1);
    ASSERT_EQ(rig.Line.Writes.size(), 1u) << "only the second request is answered";
    EXPECT_EQ(toHex(rig.Line.Writes[0]), toHex(hex("01 03 02 00 01 crc")));
    EXPECT_EQ(rig.Times[0], 600);
    EXPECT_EQ(rig.Slave.Faults().Counts().Cancelled, 1u);
    EXPECT_EQ(rig.Reports,
              (std::vector<std::string>{"answered, delayed 500 ms",
                                        "answered, delayed 500 ms, replaced a held-back reply"}));
}

TEST(Faults, ReplyHeldBackIsDroppedWhenTheLineChanges)
{
    // Split too: a half already sent must not be followed by the other half
    // on another port or at another speed.
    for (const TFaultSettings &faults : {on({.DelayMs = 300}), on({.SplitReplyMs = 50})}) {
        FaultRig rig(faults);
        rig.arrive(ReadTwo);
        const size_t before = rig.Line.Writes.size();
        rig.Slave.CancelReply();
        rig.advance(1000);
        EXPECT_EQ(rig.Line.Writes.size(), before);
        EXPECT_FALSE(rig.Slave.ReplyPending());
    }
}

TEST(Faults, OnlyAnsweredRequestsCountAndALoadStartsAfresh)
{
    FaultRig rig(on({.NoReplyEvery = 2}));
    std::string seen;
    for (const Bytes &b : {ReadTwo, hex("01 03 00 00 00 02 C4 0C"), hex("02 03 00 00 00 02 crc"),
                           ReadTwo, ReadTwo}) {
        const size_t before = rig.Line.Writes.size();
        rig.arrive(b); // answered, CRC error, other id, silenced, answered
        seen += rig.Line.Writes.size() > before ? 'r' : '-';
    }
    EXPECT_EQ(seen, "r---r");
    EXPECT_EQ(rig.Slave.Faults().Counts().Requests, 3u);
    rig.Slave.Faults().Load(rig.Slave.Faults().Settings());
    EXPECT_EQ(rig.Slave.Faults().Counts(), TFaultCounts{});
    rig.arrive(ReadTwo);
    EXPECT_EQ(rig.Line.Writes.size(), 3u);
}

// Percentages and a delay range drawn together, as letters and delays.
std::vector<std::pair<char, int>> randomRun(int Seed)
{
    FaultRig rig(on(
        {.DelayMs = 5, .DelayMaxMs = 60, .NoReplyPercent = 30, .BadCrcPercent = 30, .Seed = Seed}));
    std::vector<std::pair<char, int>> run;
    for (int i = 0; i < 60; ++i) {
        const size_t before = rig.Line.Writes.size();
        const int sent = rig.Now;
        rig.arrive(ReadTwo);
        rig.advance(100);
        if (rig.Line.Writes.size() == before)
            run.emplace_back('-', 0);
        else
            run.emplace_back(rig.Line.Writes.back() == Reply ? '.' : 'C', rig.Times.back() - sent);
    }
    return run;
}

TEST(Faults, SameSeedGivesTheSameFaultsAndDelays)
{
    const auto first = randomRun(12345);
    EXPECT_EQ(randomRun(12345), first);
    EXPECT_NE(randomRun(12346), first);
    const auto silent =
        std::count_if(first.begin(), first.end(), [](const auto &r) { return r.first == '-'; });
    EXPECT_GT(silent, 6); // thirty percent of sixty is near eighteen
    EXPECT_LT(silent, 32);
}

struct ReportRow {
    const char *Name;
    TFaultSettings Settings;
    const char *Text;
};

class FaultReports : public ::testing::TestWithParam<ReportRow>
{
};

TEST_P(FaultReports, MonitorAndTraceLearnWhatWasInjected)
{
    FaultRig rig(GetParam().Settings);
    rig.arrive(ReadTwo);
    rig.advance(1000);
    EXPECT_EQ(rig.Reports, std::vector<std::string>{GetParam().Text});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultReports,
    ::testing::Values(ReportRow{"Off", {.NoReplyEvery = 1}, "answered"},
                      ReportRow{"NoReply", on({.NoReplyEvery = 1}), "no reply (injected)"},
                      ReportRow{"Exception", on({.ExceptionEvery = 1, .ExceptionCode = 6}),
                                "exception 6 (injected)"},
                      ReportRow{"WrongId", on({.WrongIdEvery = 1}), "wrong id (injected)"},
                      ReportRow{"BadCrc", on({.BadCrcEvery = 1, .SplitReplyMs = 3}),
                                "bad crc (injected), split 3 ms"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

const Bytes ReadTen = hex("01 03 00 00 00 0A crc"); // a reply of 25 bytes

TEST(SplitReply, SilenceStartsWhenTheFirstHalfHasLeftTheLine)
{
    struct Row {
        int SplitMs, Queued, Gap; // ms
    } rows[] = {
        {5, 0, 5 + 14},  // 12 bytes at 9600 8E1 (1146 us each): 13.75 ms on the line
        {30, 0, 30 + 14},
        {5, 30, 5 + 49}, // behind 30 bytes still queued: 42 bytes, 48.1 ms
    };
    for (const Row &r : rows) {
        FaultRig rig(on({.SplitReplyMs = r.SplitMs}));
        rig.CharUs = 1146;
        rig.Queued = r.Queued;
        rig.arrive(ReadTen);
        rig.advance(1000);
        ASSERT_EQ(rig.Times.size(), 2u);
        EXPECT_EQ(rig.Line.Writes[0].size(), 12u);
        EXPECT_EQ(rig.Times[1] - rig.Times[0], r.Gap) << r.SplitMs << " ms split";
    }
}

struct FateRow {
    const char *Name;
    TFaultSettings Faults;
    bool RefuseWrites;
    int NewRequestAt, CloseAt; // ms; -1: never
    std::vector<std::string> Fates;
    std::array<uint64_t, 5> Counts; // requests, replies, bytes out, failed, cancelled
};

class HeldReplyFates : public ::testing::TestWithParam<FateRow>
{
};

TEST_P(HeldReplyFates, ReportsSayWhenAndWhetherTheBytesWent)
{
    const FateRow &row = GetParam();
    FaultRig rig(on(row.Faults));
    rig.CharUs = 1146;
    rig.RefuseWrites = row.RefuseWrites;
    rig.arrive(ReadTen);
    for (int t = 1; t <= 1000; ++t) {
        rig.advance(1);
        if (t == row.NewRequestAt)
            rig.arrive(ReadTen);
        if (t == row.CloseAt)
            rig.Slave.LineClosed();
    }
    EXPECT_EQ(rig.Fates, row.Fates);
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
