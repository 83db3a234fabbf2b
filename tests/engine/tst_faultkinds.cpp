// SPDX-License-Identifier: MIT
// The fault kinds that change how a reply travels (noise, truncated,
// duplicated, wrong parity, unsolicited) and the connection faults of the
// TCP framings (reset, wrong transaction id, bad length, close after N): the
// bytes a master receives, the precedence among all kinds, and the counts.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/frameobserver.h"
#include "engine/replysender.h"
#include "engine/slaveset.h"
#include "engine/streamframing.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

// A line that tells the wrong-parity writes apart, and remembers the report texts.
struct KindRig : IFrameObserver {
    struct ParityLine : FakeLine {
        std::vector<bool> WrongParity; // per write
        int Write(const void *B, int N) override
        {
            WrongParity.push_back(false);
            return FakeLine::Write(B, N);
        }
        int WriteWrongParity(const void *B, int N) override
        {
            WrongParity.push_back(true);
            return FakeLine::Write(B, N);
        }
    };
    TRegisterImage Image;
    ParityLine Line;
    FakeTimer Timer;
    TModbusSlave Slave{Image, Line, Timer};
    std::vector<std::string> Texts;
    std::vector<std::string> Replies; // the reply bytes each report shows
    TLineCounters Counters;

    explicit KindRig(TFaultSettings S)
    {
        S.Enabled = 1;
        Slave.SetObserver(this);
        Slave.Faults().Load(S);
    }
    void FrameDone(const TFrameReport &R) override
    {
        Texts.push_back(ReportText(R));
        Replies.push_back(toHex(Bytes(R.Reply.begin(), R.Reply.end())));
        Counters.Count(R);
    }
    // What the master reads in answer to one request.
    std::string ask(const Bytes &Request)
    {
        const size_t before = Line.Writes.size();
        Line.Input.insert(Line.Input.end(), Request.begin(), Request.end());
        Slave.Comm1RxChar(int(Line.Input.size()));
        Bytes got;
        for (size_t k = before; k < Line.Writes.size(); ++k)
            got.insert(got.end(), Line.Writes[k].begin(), Line.Writes[k].end());
        return toHex(got);
    }
};

// Read holding registers 1-2 of slave 1 (02 2A in the first), and its reply.
const Bytes ReadTwo = hex("01 03 00 00 00 02 C4 0B");
const std::string Reply = toHex(hex("01 03 04 02 2A 00 00 crc"));

// What the master should read, written against Reply: "R" the reply, "RR" it
// twice, "R:3" its first 3 bytes, "C" it with its last byte inverted, "N:8"
// 8 bytes of noise and then the reply.
std::string expected(const std::string &Form, const std::string &Got)
{
    if (Form == "R")
        return Reply;
    if (Form == "RR")
        return Reply + " " + Reply;
    if (Form.rfind("R:", 0) == 0)
        return Reply.substr(0, 3 * std::stoul(Form.substr(2)) - 1);
    if (Form == "C") {
        Bytes b = hex(Reply);
        b.back() = uint8_t(~b.back());
        return toHex(b);
    }
    if (Form.rfind("N:", 0) == 0) {
        const size_t n = std::stoul(Form.substr(2));
        if (Got.size() != 3 * n + Reply.size())
            return "noise of " + Form.substr(2) + " bytes, then the reply";
        return Got.substr(0, 3 * n) + Reply;
    }
    return Form;
}

struct SerialRow {
    const char *Name;
    TFaultSettings Settings;
    const char *Expected; // as expected() reads it
    const char *Text;     // what the monitor says of it
};

class SerialKinds : public ::testing::TestWithParam<SerialRow>
{
};

TEST_P(SerialKinds, MasterReadsTheseBytes)
{
    const SerialRow &row = GetParam();
    KindRig rig(row.Settings);
    rig.Image.HoldingRegs[1] = 0x022A;
    const std::string got = rig.ask(ReadTwo);
    EXPECT_EQ(got, expected(row.Expected, got));
    ASSERT_FALSE(rig.Texts.empty());
    EXPECT_EQ(rig.Texts.front(), row.Text);
    // The monitor shows the bytes as they went, noise and all.
    EXPECT_EQ(rig.Replies.front(), got);
    EXPECT_EQ(rig.Counters.Injected, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SerialKinds,
    ::testing::Values(
        SerialRow{"TruncatedToHalf", {.TruncateEvery = 1}, "R:4", "truncated (injected)"},
        SerialRow{"TruncatedToK",
                  {.TruncateEvery = 1, .TruncateBytes = 3},
                  "R:3",
                  "truncated (injected)"},
        // A K as long as the reply still leaves its last byte off: no fault would be none.
        SerialRow{"TruncatedNeverWhole",
                  {.TruncateEvery = 1, .TruncateBytes = 200},
                  "R:8",
                  "truncated (injected)"},
        SerialRow{"Duplicated", {.DuplicatePercent = 100}, "RR", "duplicated (injected)"},
        SerialRow{"NoiseDefault", {.NoiseEvery = 1}, "N:8", "noise (injected)"},
        SerialRow{"NoiseThree", {.NoisePercent = 100, .NoiseBytes = 3}, "N:3", "noise (injected)"},
        SerialRow{
            "WrongParityKeepsTheBytes", {.WrongParityEvery = 1}, "R", "wrong parity (injected)"},
        // A delivery fault comes after the ones that change the reply itself.
        SerialRow{"BadCrcWinsOverTruncated",
                  {.BadCrcEvery = 1, .TruncateEvery = 1},
                  "C",
                  "bad crc (injected)"},
        // The connection kinds do not exist on a serial line: passed over.
        SerialRow{"TcpKindsPassedOver",
                  {.DuplicateEvery = 1, .ResetEvery = 1, .WrongTidEvery = 1, .BadLengthEvery = 1},
                  "RR",
                  "duplicated (injected)"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// One letter per request: '.' the reply, '-' nothing, 'E' an exception, 'C' a
// bad CRC, 'T' truncated, 'D' twice, 'N' after noise, 'P' wrong parity.
std::string serialOutcomes(const TFaultSettings &S, int Count)
{
    KindRig rig(S);
    std::string seen;
    for (int i = 0; i < Count; ++i) {
        const size_t before = rig.Line.WrongParity.size();
        const std::string got = rig.ask(ReadTwo);
        const std::string plain = "01 03 04 00 00 00 00 FA 33";
        if (got.empty())
            seen += '-';
        else if (rig.Line.WrongParity.size() > before && rig.Line.WrongParity.back())
            seen += 'P';
        else if (got == plain)
            seen += '.';
        else if (got == plain + " " + plain)
            seen += 'D';
        else if (got.size() > plain.size() && got.substr(got.size() - plain.size()) == plain)
            seen += 'N';
        else if (plain.rfind(got, 0) == 0)
            seen += 'T';
        else if (got == toHex(hex("01 83 04 crc")))
            seen += 'E';
        else if (got == "01 03 04 00 00 00 00 FA CC")
            seen += 'C';
        else
            seen += '?';
    }
    return seen;
}

struct PrecedenceRow {
    const char *Name;
    TFaultSettings Settings;
    std::string Expected; // requests 1..12
};

class KindPrecedence : public ::testing::TestWithParam<PrecedenceRow>
{
};

TEST_P(KindPrecedence, FirstKindWins)
{
    EXPECT_EQ(serialOutcomes(GetParam().Settings, 12), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, KindPrecedence,
    ::testing::Values(
        PrecedenceRow{"NoiseEvery3", {.NoiseEvery = 3}, "..N..N..N..N"},
        // Truncated before duplicated before noise before wrong parity.
        PrecedenceRow{
            "DeliveryOrder",
            {.NoiseEvery = 2, .TruncateEvery = 4, .DuplicateEvery = 3, .WrongParityEvery = 1},
            "PNDTPDPTDNPT"},
        // No reply, exception and bad CRC all come before the delivery kinds.
        PrecedenceRow{
            "OlderKindsFirst",
            {.NoReplyEvery = 5, .ExceptionEvery = 4, .BadCrcEvery = 3, .TruncateEvery = 1},
            "TTCE-CTEC-TE"},
        PrecedenceRow{"WrongParityLast", {.NoiseEvery = 3, .WrongParityEvery = 2}, ".PNP.N.PNP.N"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(FaultKinds, PercentagesAreSeededDrawsNearTheirRate)
{
    const std::string a = serialOutcomes({.Seed = 1, .DuplicatePercent = 50}, 1000);
    EXPECT_EQ(a, serialOutcomes({.Seed = 1, .DuplicatePercent = 50}, 1000));
    EXPECT_NE(a, serialOutcomes({.Seed = 2, .DuplicatePercent = 50}, 1000));
    const auto twice = std::count(a.begin(), a.end(), 'D');
    EXPECT_GT(twice, 430);
    EXPECT_LT(twice, 570);
    EXPECT_EQ(twice + std::count(a.begin(), a.end(), '.'), 1000);
}

TEST(FaultKinds, NoiseIsTheSameForTheSameSeedAndRequest)
{
    auto noise = [](int Seed) {
        KindRig rig({.Seed = Seed, .NoiseEvery = 1, .NoiseBytes = 16});
        return rig.ask(ReadTwo) + "|" + rig.ask(ReadTwo);
    };
    const std::string a = noise(5);
    EXPECT_EQ(a, noise(5));
    EXPECT_NE(a, noise(6));
    // Two requests of one run get bursts of their own.
    EXPECT_NE(a.substr(0, 47), a.substr(a.find('|') + 1, 47));
}

TEST(FaultKinds, TheNewKindsLeaveTheOlderDrawsAlone)
{
    // A profile that used the older random keys gets the same faults as before.
    const TFaultSettings old{.Enabled = 1, .NoReplyPercent = 30, .BadCrcPercent = 30, .Seed = 9};
    TFaultSettings more = old;
    more.NoisePercent = 50;
    std::string a = serialOutcomes(old, 40), b = serialOutcomes(more, 40);
    for (size_t i = 0; i < a.size(); ++i)
        if (b[i] == 'N')
            b[i] = '.';
    EXPECT_EQ(a, b);
}

TEST(FaultKinds, UnsolicitedReplyReadsRegisterOneOfTheFaultsSlave)
{
    TSlaveSet slaves;
    slaves.Add(7);
    slaves.Find(7)->HoldingRegs[1] = 0x1234;
    FakeLine line;
    FakeTimer timer;
    TModbusSlave slave(slaves.First(), line, timer);
    slave.SetSlaves(&slaves);
    slave.Faults().Load({.Enabled = 1, .MBid = 7, .UnsolicitedMs = 50});
    EXPECT_EQ(slave.Faults().UnsolicitedMs(), 50);
    slave.UnsolicitedTimerTimer();
    ASSERT_EQ(line.Writes.size(), 1u);
    // A read-holding-registers reply from slave 7: one register, 0x1234.
    EXPECT_EQ(toHex(line.Writes[0]), toHex(hex("07 03 02 12 34 crc")));
    EXPECT_EQ(slave.Faults().Counts().Unsolicited, 1u);

    // Faults for a slave the line does not have send nothing; faults off, nothing.
    slave.Faults().Load({.Enabled = 1, .MBid = 9, .UnsolicitedMs = 50});
    slave.UnsolicitedTimerTimer();
    slave.Faults().Load({.UnsolicitedMs = 50});
    EXPECT_EQ(slave.Faults().UnsolicitedMs(), 0);
    slave.UnsolicitedTimerTimer();
    EXPECT_EQ(line.Writes.size(), 1u);
}

// ---- the TCP framings ----

struct TcpRig : IFrameObserver {
    TSlaveSet Slaves;
    TRequestWorkspace Work{Slaves.First()};
    TStreamFraming Framing;
    std::vector<std::string> Texts;

    TcpRig(TStreamKind Kind, TFaultSettings S) : Framing(Kind, Work, 0, this, "tcp 127.0.0.1:40312")
    {
        Slaves.First().HoldingRegs[1] = 0x022A;
        Work.Handler.SetSlaves(&Slaves);
        S.Enabled = 1;
        Work.Handler.Faults().Load(S);
    }
    void FrameDone(const TFrameReport &R) override { Texts.push_back(ReportText(R)); }
    std::string feed(const Bytes &B)
    {
        Framing.Received(B.data(), B.size(), 0);
        const std::string out = toHex(Framing.Ready());
        Framing.Sent(Framing.Ready().size());
        return out;
    }
};

// Transaction 0x0102, unit 1, read holding registers 1-2; and its reply.
const Bytes MbapRead = hex("01 02 00 00 00 06 01 03 00 00 00 02");
const std::string MbapReply = "01 02 00 00 00 07 01 03 04 02 2A 00 00";

struct TcpRow {
    const char *Name;
    TStreamKind Kind;
    TFaultSettings Settings;
    std::string Expected;
    TStreamEnd End; // how the connection ends after the reply
};

class TcpKinds : public ::testing::TestWithParam<TcpRow>
{
};

TEST_P(TcpKinds, ClientReadsTheseBytes)
{
    const TcpRow &row = GetParam();
    TcpRig rig(row.Kind, row.Settings);
    const Bytes request = row.Kind == TStreamKind::ModbusTcp ? MbapRead : ReadTwo;
    EXPECT_EQ(rig.feed(request), row.Expected);
    EXPECT_EQ(rig.Framing.EndNow(), row.End);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TcpKinds,
    ::testing::Values(TcpRow{"NoFault", TStreamKind::ModbusTcp, {}, MbapReply, TStreamEnd::None},
                      TcpRow{"WrongTid",
                             TStreamKind::ModbusTcp,
                             {.WrongTidEvery = 1},
                             "01 03 00 00 00 07 01 03 04 02 2A 00 00",
                             TStreamEnd::None},
                      // The header counts 8 bytes after it; 7 follow.
                      TcpRow{"BadLength",
                             TStreamKind::ModbusTcp,
                             {.BadLengthEvery = 1},
                             "01 02 00 00 00 08 01 03 04 02 2A 00 00",
                             TStreamEnd::None},
                      TcpRow{"ResetHalfway",
                             TStreamKind::ModbusTcp,
                             {.ResetEvery = 1},
                             "01 02 00 00 00 07",
                             TStreamEnd::Reset},
                      TcpRow{"ResetRtuOverTcp",
                             TStreamKind::RtuOverTcp,
                             {.ResetEvery = 1},
                             "01 03 04 02",
                             TStreamEnd::Reset},
                      TcpRow{"TruncatedMbap",
                             TStreamKind::ModbusTcp,
                             {.TruncateEvery = 1, .TruncateBytes = 7},
                             "01 02 00 00 00 07 01",
                             TStreamEnd::None},
                      TcpRow{"DuplicatedMbap",
                             TStreamKind::ModbusTcp,
                             {.DuplicateEvery = 1},
                             MbapReply + " " + MbapReply,
                             TStreamEnd::None},
                      TcpRow{"CloseAfterOne",
                             TStreamKind::ModbusTcp,
                             {.CloseAfterRequests = 1},
                             MbapReply,
                             TStreamEnd::Close},
                      // No parity on a connection, no transaction id in RTU over TCP: passed over.
                      TcpRow{"ParityPassedOver",
                             TStreamKind::ModbusTcp,
                             {.WrongParityEvery = 1},
                             MbapReply,
                             TStreamEnd::None},
                      TcpRow{"TidPassedOverOnRtu",
                             TStreamKind::RtuOverTcp,
                             {.WrongTidEvery = 1, .BadLengthEvery = 1},
                             Reply,
                             TStreamEnd::None}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(FaultKinds, CloseAfterTwoAnswersTwoAndTakesNothingMore)
{
    TcpRig rig(TStreamKind::ModbusTcp, {.CloseAfterRequests = 2});
    Bytes three;
    for (int i = 0; i < 3; ++i)
        three.insert(three.end(), MbapRead.begin(), MbapRead.end());
    // Three requests in one segment: two answers, then the end.
    const std::string out = rig.feed(three);
    EXPECT_EQ(out, MbapReply + " " + MbapReply);
    EXPECT_EQ(rig.Framing.EndNow(), TStreamEnd::Close);
    ASSERT_EQ(rig.Texts.size(), 2u);
    EXPECT_EQ(rig.Texts[0], "answered");
    EXPECT_EQ(rig.Texts[1], "answered, then the connection closed (injected)");
    EXPECT_EQ(rig.Work.Handler.Faults().Counts().ClosedAfter, 1u);
}

TEST(FaultKinds, AnEndWaitsForTheDelayedReplyBeforeIt)
{
    TcpRig rig(TStreamKind::ModbusTcp, {.DelayMs = 50, .ResetEvery = 1});
    EXPECT_EQ(rig.feed(MbapRead), "");
    // Nothing has gone yet: the connection must not end before its half reply.
    EXPECT_EQ(rig.Framing.EndNow(), TStreamEnd::None);
    rig.Framing.Advance(50000);
    EXPECT_EQ(toHex(rig.Framing.Ready()), "01 02 00 00 00 07");
    EXPECT_EQ(rig.Framing.EndNow(), TStreamEnd::None);
    rig.Framing.Sent(4);
    EXPECT_EQ(rig.Framing.EndNow(), TStreamEnd::None);
    rig.Framing.Sent(2);
    EXPECT_EQ(rig.Framing.EndNow(), TStreamEnd::Reset);
    EXPECT_EQ(rig.Texts.front(), "reset (injected), delayed 50 ms");
}

} // namespace
} // namespace quorlin::test
