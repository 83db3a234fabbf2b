// SPDX-License-Identifier: MIT
// Injected faults through the receive step, with a fake clock driving the
// reply timer: what each key does to the replies, the order of precedence,
// how requests are counted, the seed, delays, split replies and the
// cancellation of a held-back reply.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/faultplan.h"
#include "engine/frameobserver.h"
#include "engine/replysender.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

struct FakeClock {
    int Now = 0;
};

class ClockedTimer : public IReplyTimer
{
  public:
    explicit ClockedTimer(FakeClock &Clock) : m_clock(Clock) {}
    bool Running = false;
    int Due = 0;
    void Start(int Ms) override
    {
        Running = true;
        Due = m_clock.Now + Ms;
    }
    void Stop() override { Running = false; }
    bool IsRunning() const override { return Running; }

  private:
    FakeClock &m_clock;
};

class ClockedLine : public FakeLine
{
  public:
    explicit ClockedLine(FakeClock &Clock) : m_clock(Clock) {}
    std::vector<int> Times; // clock reading of each Write
    int Write(const void *Buffer, int Count) override
    {
        Times.push_back(m_clock.Now);
        return FakeLine::Write(Buffer, Count);
    }

  private:
    FakeClock &m_clock;
};

struct FaultRig {
    FakeClock Clock;
    TRegisterImage Image;
    ClockedLine Line{Clock};
    FakeTimer Timer;
    ClockedTimer ReplyTimer{Clock};
    TModbusSlave Slave{Image, Line, Timer};

    explicit FaultRig(const TFaultSettings &S)
    {
        Slave.SetReplyTimer(&ReplyTimer);
        Slave.Faults().Load(S);
    }
    void arrive(const Bytes &B)
    {
        Line.Input.insert(Line.Input.end(), B.begin(), B.end());
        Slave.Comm1RxChar(int(Line.Input.size()));
    }
    // Moves the clock on, firing the reply timer whenever it falls due.
    void advance(int Ms)
    {
        const int until = Clock.Now + Ms;
        while (ReplyTimer.Running && ReplyTimer.Due <= until) {
            Clock.Now = ReplyTimer.Due;
            Slave.ReplyTimerTimer();
        }
        Clock.Now = until;
    }
};

const Bytes ReadTwo = hex("01 03 00 00 00 02 C4 0B");       // fn 3, A = 0, Q = 2
const Bytes ReadTwoReply = hex("01 03 04 00 00 00 00 crc"); // from a cleared image

TFaultSettings faults(std::initializer_list<std::pair<const char *, int>> Keys)
{
    TFaultSettings s;
    s.Enabled = 1;
    const std::map<std::string, int TFaultSettings::*> field = {
        {"Enabled", &TFaultSettings::Enabled},
        {"MBid", &TFaultSettings::MBid},
        {"DelayMs", &TFaultSettings::DelayMs},
        {"DelayMaxMs", &TFaultSettings::DelayMaxMs},
        {"NoReplyEvery", &TFaultSettings::NoReplyEvery},
        {"NoReplyPercent", &TFaultSettings::NoReplyPercent},
        {"ExceptionEvery", &TFaultSettings::ExceptionEvery},
        {"ExceptionCode", &TFaultSettings::ExceptionCode},
        {"BadCrcEvery", &TFaultSettings::BadCrcEvery},
        {"BadCrcPercent", &TFaultSettings::BadCrcPercent},
        {"WrongIdEvery", &TFaultSettings::WrongIdEvery},
        {"SplitReplyMs", &TFaultSettings::SplitReplyMs},
        {"Seed", &TFaultSettings::Seed},
    };
    for (const auto &[key, value] : Keys)
        s.*field.at(key) = value;
    return s;
}

// One letter per request, from what reached the line: '.' the normal reply,
// '-' nothing, 'E' exception 6, 'I' the id plus one with a good CRC, 'C' the
// normal reply with its last CRC byte inverted, '?' anything else.
char classify(const std::vector<Bytes> &Writes, size_t &At)
{
    if (At >= Writes.size())
        return '-';
    const Bytes &w = Writes[At++];
    if (w == ReadTwoReply)
        return '.';
    if (w == hex("01 83 06 crc"))
        return 'E';
    Bytes id = ReadTwoReply;
    id[0] = 2;
    id.resize(id.size() - 2);
    appendCrc(id);
    if (w == id)
        return 'I';
    Bytes crc = ReadTwoReply;
    crc.back() = uint8_t(~crc.back());
    return w == crc ? 'C' : '?';
}

// Sends Count read requests, one after the other, and describes their replies.
std::string outcomes(const TFaultSettings &S, int Count)
{
    FaultRig rig(S);
    std::string seen;
    for (int i = 0; i < Count; ++i) {
        const size_t before = rig.Line.Writes.size();
        rig.arrive(ReadTwo);
        rig.advance(20000);
        size_t at = before;
        seen += classify(rig.Line.Writes, at);
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
        OutcomeRow{"NoFaultsSet", faults({}), "............"},
        OutcomeRow{"NoReplyEvery3", faults({{"NoReplyEvery", 3}}), "..-..-..-..-"},
        OutcomeRow{"ExceptionEvery2", faults({{"ExceptionEvery", 2}, {"ExceptionCode", 6}}),
                   ".E.E.E.E.E.E"},
        OutcomeRow{"WrongIdEvery4", faults({{"WrongIdEvery", 4}}), "...I...I...I"},
        OutcomeRow{"BadCrcEvery2", faults({{"BadCrcEvery", 2}}), ".C.C.C.C.C.C"},
        OutcomeRow{"NoReplyPercent100", faults({{"NoReplyPercent", 100}}), "------------"},
        OutcomeRow{"BadCrcPercent100", faults({{"BadCrcPercent", 100}}), "CCCCCCCCCCCC"},
        // Every request is hit by something; the first of no reply,
        // exception, wrong id, bad CRC wins.
        OutcomeRow{"Precedence",
                   faults({{"NoReplyEvery", 5},
                           {"ExceptionEvery", 2},
                           {"ExceptionCode", 6},
                           {"WrongIdEvery", 3},
                           {"BadCrcEvery", 1}}),
                   "CEIE-ECEI-CE"},
        OutcomeRow{"DisabledChangesNothing",
                   faults({{"Enabled", 0}, {"NoReplyEvery", 1}, {"BadCrcEvery", 1}}),
                   "............"},
        OutcomeRow{"OtherSlaveTargeted", faults({{"MBid", 2}, {"NoReplyEvery", 1}}),
                   "............"},
        OutcomeRow{"ThisSlaveTargeted", faults({{"MBid", 1}, {"NoReplyEvery", 2}}), ".-.-.-.-.-.-"},
        // A delay or a split changes when the bytes go, not what they are.
        OutcomeRow{"DelayAndSplitKeepTheBytes",
                   faults({{"DelayMs", 30}, {"DelayMaxMs", 90}, {"BadCrcEvery", 3}}),
                   "..C..C..C..C"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(Faults, SilencedRequestStillChangesTheImageAndAnInjectedExceptionDoesNot)
{
    FaultRig silent(faults({{"NoReplyEvery", 1}}));
    silent.arrive(hex("01 06 00 04 12 34 crc")); // register 5 := 0x1234
    EXPECT_TRUE(silent.Line.Writes.empty());
    EXPECT_EQ(silent.Image.HoldingRegs[5], 0x1234);

    FaultRig refusing(faults({{"ExceptionEvery", 1}, {"ExceptionCode", 6}}));
    refusing.arrive(hex("01 06 00 04 12 34 crc"));
    ASSERT_EQ(refusing.Line.Writes.size(), 1u);
    EXPECT_EQ(toHex(refusing.Line.Writes[0]), toHex(hex("01 86 06 crc")));
    EXPECT_EQ(refusing.Image.HoldingRegs[5], 0);
}

TEST(Faults, ExceptionWithoutAValidCodeSendsSlaveDeviceFailure)
{
    FaultRig rig(faults({{"ExceptionEvery", 1}, {"ExceptionCode", 0}}));
    rig.arrive(ReadTwo);
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
    EXPECT_EQ(toHex(rig.Line.Writes[0]), toHex(hex("01 83 04 crc")));
}

struct FrameRow {
    const char *Name;
    const char *Reply;    // the frame as the handler made it, CRC in place
    const char *Expected; // what reaches the line
    void (*Inject)(uint8_t *, int);
};

class FrameShaping : public ::testing::TestWithParam<FrameRow>
{
};

TEST_P(FrameShaping, ChangesExactlyTheBytesItShould)
{
    Bytes frame = hex(GetParam().Reply);
    GetParam().Inject(frame.data(), int(frame.size()));
    EXPECT_EQ(toHex(frame), toHex(hex(GetParam().Expected)));
}

// CRC bytes from a bit-by-bit CRC-16/MODBUS of another hand, not from Crc16.
INSTANTIATE_TEST_SUITE_P(
    Faults, FrameShaping,
    ::testing::Values(
        FrameRow{"WrongIdAddsOne", "01 06 00 01 00 03 98 0B", "02 06 00 01 00 03 98 38",
                 InjectWrongId},
        FrameRow{"WrongIdBelowTheTop", "FE 83 02 F0 C1", "FF 83 02 A1 01", InjectWrongId},
        FrameRow{"WrongIdWrapsTo1NotToBroadcast", "FF 83 02 A1 01", "01 83 02 C0 F1",
                 InjectWrongId},
        FrameRow{"BadCrcInvertsTheLastByte", "01 03 04 00 00 00 00 FA 33",
                 "01 03 04 00 00 00 00 FA CC", InjectBadCrc},
        FrameRow{"BadCrcOfAnException", "01 83 02 C0 F1", "01 83 02 C0 0E", InjectBadCrc}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(Faults, ReplyIsHeldBackForTheDelay)
{
    FaultRig rig(faults({{"DelayMs", 200}}));
    rig.arrive(ReadTwo);
    EXPECT_TRUE(rig.Line.Writes.empty());
    rig.advance(199);
    EXPECT_TRUE(rig.Line.Writes.empty());
    rig.advance(1);
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
    EXPECT_EQ(rig.Line.Writes[0], ReadTwoReply);
    EXPECT_EQ(rig.Line.Times[0], 200);
    EXPECT_EQ(rig.Slave.Faults().Counts().Delayed, 1u);
}

TEST(Faults, DelaysAreDrawnFromTheWholeRangeAndNoFurther)
{
    FaultRig rig(faults({{"DelayMs", 10}, {"DelayMaxMs", 13}, {"Seed", 77}}));
    std::set<int> delays;
    for (int i = 0; i < 400; ++i) {
        const int sent = rig.Clock.Now;
        rig.arrive(ReadTwo);
        rig.advance(100);
        ASSERT_EQ(rig.Line.Times.size(), size_t(i + 1));
        delays.insert(rig.Line.Times.back() - sent);
    }
    EXPECT_EQ(delays, (std::set<int>{10, 11, 12, 13}));
}

TEST(Faults, SplitReplyGoesInTwoHalvesWithTheGapBetween)
{
    FaultRig rig(faults({{"DelayMs", 40}, {"SplitReplyMs", 25}}));
    rig.arrive(ReadTwo);
    rig.advance(1000);
    ASSERT_EQ(rig.Line.Writes.size(), 2u);
    EXPECT_EQ(rig.Line.Times, (std::vector<int>{40, 65}));
    EXPECT_EQ(rig.Line.Writes[0].size(), ReadTwoReply.size() / 2);
    Bytes joined = rig.Line.Writes[0];
    joined.insert(joined.end(), rig.Line.Writes[1].begin(), rig.Line.Writes[1].end());
    EXPECT_EQ(joined, ReadTwoReply);
}

TEST(Faults, NewRequestCancelsTheReplyStillHeldBack)
{
    FaultRig rig(faults({{"DelayMs", 500}}));
    rig.arrive(hex("01 06 00 00 00 01 crc"));
    rig.advance(100);
    rig.arrive(hex("01 03 00 00 00 01 crc")); // register 1, now 1
    rig.advance(499);
    EXPECT_TRUE(rig.Line.Writes.empty());
    rig.advance(1);
    ASSERT_EQ(rig.Line.Writes.size(), 1u) << "only the second request is answered";
    EXPECT_EQ(toHex(rig.Line.Writes[0]), toHex(hex("01 03 02 00 01 crc")));
    EXPECT_EQ(rig.Line.Times[0], 600);
    EXPECT_EQ(rig.Slave.Faults().Counts().Cancelled, 1u);
    EXPECT_EQ(rig.Image.HoldingRegs[1], 1) << "the cancelled request's write stays";
}

TEST(Faults, CancelledSplitReplyNeverSendsItsSecondHalf)
{
    FaultRig rig(faults({{"SplitReplyMs", 80}}));
    rig.arrive(ReadTwo);
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
    rig.arrive(hex("07 03 00 00 00 02 crc")); // another slave's request completes
    rig.advance(1000);
    EXPECT_EQ(rig.Line.Writes.size(), 1u);
    EXPECT_FALSE(rig.Slave.ReplyPending());
}

TEST(Faults, OnlyRequestsThatWouldBeAnsweredAreCounted)
{
    FaultRig rig(faults({{"NoReplyEvery", 2}}));
    std::string seen;
    auto request = [&](const Bytes &B) {
        const size_t before = rig.Line.Writes.size();
        rig.arrive(B);
        seen += rig.Line.Writes.size() > before ? 'r' : '-';
    };
    request(ReadTwo);                        // 1: answered
    request(hex("01 03 00 00 00 02 C4 0C")); // CRC error: not counted
    request(hex("02 03 00 00 00 02 crc"));   // another id: not counted
    request(ReadTwo);                        // 2: silenced
    request(ReadTwo);                        // 3
    EXPECT_EQ(seen, "r---r");
    EXPECT_EQ(rig.Slave.Faults().Counts().Requests, 3u);
}

TEST(Faults, LoadingTheFaultsAgainStartsTheCountsAfresh)
{
    const TFaultSettings s = faults({{"NoReplyEvery", 3}});
    FaultRig rig(s);
    rig.arrive(ReadTwo);
    rig.arrive(ReadTwo);
    rig.Slave.Faults().Load(s);
    EXPECT_EQ(rig.Slave.Faults().Counts(), TFaultCounts{});
    for (int i = 0; i < 3; ++i)
        rig.arrive(ReadTwo);
    EXPECT_EQ(rig.Line.Writes.size(), 4u) << "the fifth request overall is the third counted";
}

// Everything random at once: percentages and a delay range.
std::vector<std::pair<char, int>> randomRun(int Seed)
{
    FaultRig rig(faults({{"NoReplyPercent", 30},
                         {"BadCrcPercent", 30},
                         {"DelayMs", 5},
                         {"DelayMaxMs", 60},
                         {"Seed", Seed}}));
    std::vector<std::pair<char, int>> run;
    for (int i = 0; i < 60; ++i) {
        const size_t before = rig.Line.Writes.size();
        const int sent = rig.Clock.Now;
        rig.arrive(ReadTwo);
        rig.advance(100);
        size_t at = before;
        const char kind = classify(rig.Line.Writes, at);
        run.emplace_back(kind, kind == '-' ? 0 : rig.Line.Times.back() - sent);
    }
    return run;
}

TEST(Faults, SameSeedGivesTheSameFaultsAndDelays)
{
    const auto first = randomRun(12345);
    EXPECT_EQ(randomRun(12345), first);
    EXPECT_NE(randomRun(12346), first);
    // Thirty percent of sixty is near eighteen: the draws are not stuck.
    const auto silent =
        std::count_if(first.begin(), first.end(), [](const auto &r) { return r.first == '-'; });
    EXPECT_GT(silent, 6);
    EXPECT_LT(silent, 32);
}

TEST(Faults, WithoutAReplyTimerRepliesGoOutAtOnceAndWhole)
{
    TRegisterImage image;
    FakeLine line;
    FakeTimer timer;
    TModbusSlave slave(image, line, timer);
    slave.Faults().Load(faults({{"DelayMs", 300}, {"SplitReplyMs", 50}}));
    line.Input.insert(line.Input.end(), ReadTwo.begin(), ReadTwo.end());
    slave.Comm1RxChar(int(ReadTwo.size()));
    ASSERT_EQ(line.Writes.size(), 1u);
    EXPECT_EQ(line.Writes[0], ReadTwoReply);
}

class TextObserver : public IFrameObserver
{
  public:
    std::vector<std::string> Texts;
    std::vector<Bytes> Replies;
    TLineCounters Counters;
    void FrameDone(const TFrameReport &R) override
    {
        Texts.push_back(ReportText(R));
        Replies.emplace_back(R.Reply.begin(), R.Reply.end());
        Counters.Count(R);
    }
};

struct ReportRow {
    const char *Name;
    TFaultSettings Settings;
    std::vector<std::string> Texts; // two requests, the second 100 ms after the first
    const char *SecondReply;        // as the report gives it; "" when nothing went out
};

class FaultReports : public ::testing::TestWithParam<ReportRow>
{
};

TEST_P(FaultReports, MonitorAndTraceLearnWhatWasInjected)
{
    FaultRig rig(GetParam().Settings);
    TextObserver seen;
    rig.Slave.SetObserver(&seen);
    rig.arrive(ReadTwo);
    rig.advance(100);
    rig.arrive(ReadTwo);
    rig.advance(20000);
    EXPECT_EQ(seen.Texts, GetParam().Texts);
    ASSERT_EQ(seen.Replies.size(), 2u);
    EXPECT_EQ(toHex(seen.Replies[1]), toHex(hex(GetParam().SecondReply)));
    const uint64_t injected =
        std::count_if(seen.Texts.begin(), seen.Texts.end(),
                      [](const std::string &t) { return t.find("injected") != t.npos; });
    EXPECT_EQ(seen.Counters.Injected, injected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultReports,
    ::testing::Values(
        ReportRow{"Off",
                  faults({{"Enabled", 0}}),
                  {"answered", "answered"},
                  "01 03 04 00 00 00 00 FA 33"},
        ReportRow{
            "NoReply", faults({{"NoReplyEvery", 2}}), {"answered", "no reply (injected)"}, ""},
        ReportRow{"Exception",
                  faults({{"ExceptionEvery", 2}, {"ExceptionCode", 6}}),
                  {"answered", "exception 6 (injected)"},
                  "01 83 06 crc"},
        ReportRow{"WrongId",
                  faults({{"WrongIdEvery", 1}}),
                  {"wrong id (injected)", "wrong id (injected)"},
                  "02 03 04 00 00 00 00 crc"},
        ReportRow{"BadCrc",
                  faults({{"BadCrcEvery", 2}}),
                  {"answered", "bad crc (injected)"},
                  "01 03 04 00 00 00 00 FA CC"},
        ReportRow{"DelayAndSplit",
                  faults({{"DelayMs", 40}, {"SplitReplyMs", 30}}),
                  {"answered, delayed 40 ms, split 30 ms", "answered, delayed 40 ms, split 30 ms"},
                  "01 03 04 00 00 00 00 FA 33"},
        ReportRow{
            "Replaced",
            faults({{"DelayMs", 500}}),
            {"answered, delayed 500 ms", "answered, delayed 500 ms, replaced a held-back reply"},
            "01 03 04 00 00 00 00 FA 33"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

struct RangeRow {
    const char *Name;
    TFaultSettings In;
    TFaultSettings Out;
};

class FaultRanges : public ::testing::TestWithParam<RangeRow>
{
};

TEST_P(FaultRanges, SettingsAreBroughtIntoRange)
{
    TFaultSettings want = GetParam().Out;
    EXPECT_EQ(NormalisedFaults(GetParam().In), want);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultRanges,
    ::testing::Values(
        RangeRow{"EnabledIsZeroOrOne", faults({{"Enabled", 7}, {"ExceptionCode", 1}}),
                 faults({{"ExceptionCode", 1}})},
        RangeRow{"TimesAtMostTenSeconds",
                 faults({{"DelayMs", 20000},
                         {"DelayMaxMs", -5},
                         {"SplitReplyMs", 10001},
                         {"ExceptionCode", 9}}),
                 faults({{"DelayMs", 10000}, {"SplitReplyMs", 10000}, {"ExceptionCode", 9}})},
        RangeRow{"PercentagesAndCounts",
                 faults({{"NoReplyPercent", 250},
                         {"BadCrcPercent", -1},
                         {"NoReplyEvery", -3},
                         {"WrongIdEvery", 5},
                         {"ExceptionCode", 255}}),
                 faults({{"NoReplyPercent", 100}, {"WrongIdEvery", 5}, {"ExceptionCode", 255}})},
        RangeRow{"SlaveIdAndExceptionCode", faults({{"MBid", 300}, {"ExceptionCode", 256}}),
                 faults({{"MBid", 255}})}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace quorlin::test
