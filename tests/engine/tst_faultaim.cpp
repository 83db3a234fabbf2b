// SPDX-License-Identifier: MIT
// Aimed faults: which texts name which requests, and in which order the
// offline switch, a "fail next" order, a slave's own section and the line's
// section decide the fate of a request, through the receive step of a line
// with two slaves.
#include <gtest/gtest.h>

#include <functional>

#include "engine/faultaim.h"
#include "engine/faultplan.h"
#include "engine/slaveset.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

// The requests the tables speak of, by letter; upper case: the same to slave 2.
//   a  read 4x0001 (FC3)          b  read 4x0150 (FC3)
//   i  read 3x0001 (FC4)          m  write 4x0149..4x0150 (FC16)
//   r  read/write: reads 4x0001, writes 4x0150 (FC23)
//   e  report slave id (FC17, no register)
Bytes request(char Letter)
{
    const int id = Letter >= 'A' && Letter <= 'Z' ? 2 : 1;
    char text[96];
    switch (Letter | 0x20) {
    case 'a':
        std::snprintf(text, sizeof text, "%02X 03 00 00 00 01 crc", id);
        break;
    case 'b':
        std::snprintf(text, sizeof text, "%02X 03 00 95 00 01 crc", id);
        break;
    case 'i':
        std::snprintf(text, sizeof text, "%02X 04 00 00 00 01 crc", id);
        break;
    case 'm':
        std::snprintf(text, sizeof text, "%02X 10 00 94 00 02 04 00 07 00 08 crc", id);
        break;
    case 'r':
        std::snprintf(text, sizeof text, "%02X 17 00 00 00 01 00 95 00 01 02 00 09 crc", id);
        break;
    default:
        std::snprintf(text, sizeof text, "%02X 11 crc", id);
        break;
    }
    return hex(text);
}

// Slaves 1 and 2 on one line; each request's fate as a letter:
// '.' answered, '-' silent, 'x' exception, 'c' bad CRC, 'w' another id.
struct AimRig {
    TSlaveSet Slaves;
    TRegisterImage Unused;
    FakeLine Line;
    FakeTimer Timer;
    TModbusSlave Engine{Unused, Line, Timer};

    AimRig()
    {
        Slaves.Add(2);
        for (int id : {1, 2}) {
            Slaves.Find(id)->Options.Functions22And23 = true;
            Slaves.Find(id)->HoldingRegs[1] = uint16_t(id);
        }
        Engine.SetSlaves(&Slaves);
    }
    char ask(char Letter)
    {
        const Bytes r = request(Letter);
        Line.Writes.clear();
        Line.Input.insert(Line.Input.end(), r.begin(), r.end());
        Engine.Comm1RxChar(int(Line.Input.size()));
        if (Line.Writes.empty())
            return '-';
        Bytes reply = Line.Writes.back();
        const Bytes body(reply.begin(), reply.end() - 2);
        Bytes check = body;
        appendCrc(check);
        if (check != reply)
            return 'c';
        if (reply[0] != r[0])
            return 'w';
        return (reply[1] & 0x80) != 0 ? 'x' : '.';
    }
    std::string run(const std::string &Letters)
    {
        std::string seen;
        for (char l : Letters)
            seen += ask(l);
        return seen;
    }
};

TFaultSettings on(std::function<void(TFaultSettings &)> Set)
{
    TFaultSettings s;
    s.Enabled = 1;
    Set(s);
    return s;
}

struct PrecedenceRow {
    const char *Name;
    std::optional<TFaultSettings> Line;   // [Faults]
    std::optional<TFaultSettings> Slave2; // [Faults2]
    TFailNext Order;
    bool Slave2Offline;
    const char *Requests;
    const char *Expected;
};

class FaultPrecedence : public ::testing::TestWithParam<PrecedenceRow>
{
};

TEST_P(FaultPrecedence, DecidesAsTheOrderSays)
{
    const PrecedenceRow &row = GetParam();
    AimRig rig;
    TFaultPlan &plan = rig.Engine.Faults();
    if (row.Line)
        plan.Load(*row.Line);
    if (row.Slave2)
        plan.LoadSlave(2, *row.Slave2);
    ASSERT_TRUE(plan.FailNext(row.Order));
    rig.Slaves.Find(2)->Options.Offline = row.Slave2Offline;
    EXPECT_EQ(rig.run(row.Requests), row.Expected);
}

const auto noReplyEvery = [](int N, const char *Functions = "", const char *Registers = "") {
    return on([=](TFaultSettings &s) {
        s.NoReplyEvery = N;
        s.Functions = Functions;
        s.Registers = Registers;
    });
};

INSTANTIATE_TEST_SUITE_P(
    Aim, FaultPrecedence,
    ::testing::Values(
        PrecedenceRow{"UnaimedAsBefore", noReplyEvery(2), {}, {}, false, "aiai", ".-.-"},
        // FC4 is answered and not counted: every second FC3 is silent.
        PrecedenceRow{"FunctionsSkipOthersUncounted", noReplyEvery(2, "3"), {}, {}, false,
                      "aiaiaa", "..-..-"},
        PrecedenceRow{"FunctionRange", noReplyEvery(1, "1-3,16"), {}, {}, false, "aime", "-.-."},
        // 4x0001 misses, 4x0150 hits, a write of 4x0149..4x0150 touches it,
        // FC23 hits by its written register, FC17 touches none.
        PrecedenceRow{"RegistersTouched", noReplyEvery(1, "", "4x0100-4x0199"), {}, {}, false,
                      "abmre", ".---."},
        PrecedenceRow{"RegisterOfAnotherTableMisses", noReplyEvery(1, "", "3x0150,4x0002"), {},
                      {}, false, "bai", "..."},
        PrecedenceRow{"BothLimitsMustHit", noReplyEvery(1, "4", "4x0150"), {}, {}, false, "bi",
                      ".."},
        PrecedenceRow{"UnreadableAimHitsNothing", noReplyEvery(1, "3x"), {}, {}, false, "ab",
                      ".."},
        // Slave 2's own section replaces the line's for slave 2 alone.
        PrecedenceRow{"OwnSectionReplacesLine", noReplyEvery(1),
                      on([](TFaultSettings &s) { s.ExceptionEvery = 1; }), {}, false, "aA",
                      "-x"},
        PrecedenceRow{"OwnSectionOnWithNothingExempts", noReplyEvery(1), on([](auto &) {}), {},
                      false, "aA", "-."},
        PrecedenceRow{"OwnSectionOffFollowsLine", noReplyEvery(1), TFaultSettings{}, {}, false,
                      "aA", "--"},
        PrecedenceRow{"OwnSectionWithoutLine", {},
                      on([](TFaultSettings &s) {
                          s.BadCrcEvery = 2;
                          s.Registers = "4x0150";
                      }),
                      {}, false, "aAbBBB", "....c."},
        PrecedenceRow{"LineForOneSlave", on([](TFaultSettings &s) {
                          s.MBid = 2;
                          s.WrongIdEvery = 1;
                      }),
                      {}, {}, false, "aA", ".w"},
        // An order comes before every section, and does not move their counts.
        PrecedenceRow{"FailNextBeforeSections", noReplyEvery(2),
                      {}, TFailNext{TFailKind::BadCrc, 2}, false, "aaaa", "cc.-"},
        PrecedenceRow{"FailNextOfOneSlave", {}, {}, TFailNext{TFailKind::Exception, 2, 2}, false,
                      "aAaAA", ".x.x."},
        PrecedenceRow{"FailNextIgnoresAim", noReplyEvery(1, "4"), {},
                      TFailNext{TFailKind::WrongId, 1}, false, "aai", "w.-"},
        // Offline comes first of all: the order waits for a request that is heard.
        PrecedenceRow{"OfflineBeforeFailNext", {}, {}, TFailNext{TFailKind::Exception, 1}, true,
                      "AAa", "--x"},
        PrecedenceRow{"OfflineBeforeOwnSection", {}, on([](auto &) {}), {}, true, "Aa", "-."}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(FaultAim, OfflineSlaveKeepsItsRegistersAndComesBack)
{
    AimRig rig;
    rig.Slaves.AcceptBroadcast = true;
    TRegisterImage &two = *rig.Slaves.Find(2);
    two.Options.Offline = true;
    // A write to it and a broadcast write both pass it by.
    EXPECT_EQ(rig.run("M"), "-");
    rig.Line.Input.clear();
    const Bytes broadcast = hex("00 06 00 00 00 2A crc");
    rig.Line.Input.insert(rig.Line.Input.end(), broadcast.begin(), broadcast.end());
    rig.Engine.Comm1RxChar(int(rig.Line.Input.size()));
    EXPECT_EQ(two.HoldingRegs[1], 2);
    EXPECT_EQ(two.HoldingRegs[150], 0);
    EXPECT_EQ(rig.Slaves.Find(1)->HoldingRegs[1], 0x2A);
    two.Options.Offline = false;
    rig.Line.Writes.clear();
    const Bytes read = request('A');
    rig.Line.Input.insert(rig.Line.Input.end(), read.begin(), read.end());
    rig.Engine.Comm1RxChar(int(rig.Line.Input.size()));
    ASSERT_FALSE(rig.Line.Writes.empty());
    EXPECT_EQ(toHex(rig.Line.Writes.back()), toHex(hex("02 03 02 00 02 crc")));
}

TEST(FaultAim, FailNextRunsDownAndCountsApart)
{
    AimRig rig;
    TFaultPlan &plan = rig.Engine.Faults();
    plan.Load(noReplyEvery(3));
    ASSERT_FALSE(plan.FailNext({TFailKind::Delay, 2, 0, 0, 0})); // a delay needs its time
    ASSERT_TRUE(plan.FailNext({TFailKind::NoReply, 3}));
    EXPECT_EQ(rig.run("aa"), "--");
    EXPECT_EQ(plan.FailNextLeft().Count, 1);
    EXPECT_EQ(rig.run("aaaa"), "-..-");
    EXPECT_EQ(plan.FailNextLeft().Count, 0);
    EXPECT_EQ(plan.Counts().FailedNext, 3u);
    EXPECT_EQ(plan.Counts().NoReply, 1u);
    EXPECT_EQ(plan.Counts().Requests, 3u);
}

// Texts as a profile or the dialog gives them, and what they hit.
struct AimTextRow {
    const char *Functions;
    const char *Registers;
    bool Valid;
    const char *Hits; // which of the requests a, b, i, m, e (slave 1) it hits
};

class AimText : public ::testing::TestWithParam<AimTextRow>
{
};

TEST_P(AimText, ParsesAndHits)
{
    TFaultAim aim;
    aim.Set(GetParam().Functions, GetParam().Registers);
    EXPECT_EQ(aim.Valid(), GetParam().Valid);
    std::string hits;
    for (char l : std::string("abime")) {
        const Bytes r = request(l);
        if (aim.Hits(FaultRequestOf(r.data(), int(r.size()) - 2, 0)))
            hits += l;
    }
    EXPECT_EQ(hits, GetParam().Hits);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AimText,
    ::testing::Values(AimTextRow{"", "", true, "abime"}, AimTextRow{" \t", "  ", true, "abime"},
                      AimTextRow{"3, 16", "", true, "abm"}, AimTextRow{"1-4", "", true, "abi"},
                      AimTextRow{"255", "", true, ""}, AimTextRow{"0", "", false, ""},
                      AimTextRow{"256", "", false, ""}, AimTextRow{"4-3", "", false, ""},
                      AimTextRow{"3,", "", false, ""}, AimTextRow{"3;16", "", false, ""},
                      AimTextRow{"-3", "", false, ""}, AimTextRow{"", "4x150", true, "bm"},
                      AimTextRow{"", "4X0149-4x0149", true, "m"},
                      AimTextRow{"", "3x0001,4x0001", true, "ai"},
                      AimTextRow{"", "4x65536", true, ""}, AimTextRow{"", "4x65537", false, ""},
                      AimTextRow{"", "4x0000", false, ""}, AimTextRow{"", "2x0001", false, ""},
                      AimTextRow{"", "4x0200-4x0100", false, ""},
                      AimTextRow{"", "4x0100-3x0200", false, ""},
                      AimTextRow{"", "4x0100-", false, ""}, AimTextRow{"16", "4x0150", true, "m"}));

// The register numbers a request touches follow the slave's address offset,
// and nothing is read past the bytes given.
TEST(FaultAim, TouchedRegistersFollowTheOffsetAndTheLength)
{
    const Bytes r = hex("01 03 00 95 00 03");
    const TFaultRequest plain = FaultRequestOf(r.data(), int(r.size()), 0);
    ASSERT_EQ(plain.TouchedCount, 1);
    EXPECT_EQ(plain.Touched[0], (TRegisterSpan{4, 150, 152}));
    const TFaultRequest shifted = FaultRequestOf(r.data(), int(r.size()), -1);
    EXPECT_EQ(shifted.Touched[0], (TRegisterSpan{4, 149, 151}));
    for (int n = 0; n < int(r.size()); ++n)
        EXPECT_EQ(FaultRequestOf(r.data(), n, 0).TouchedCount, 0) << n << " bytes";
    const Bytes zero = hex("01 01 00 00 00 00");
    EXPECT_EQ(FaultRequestOf(zero.data(), int(zero.size()), 0).TouchedCount, 0);
}

} // namespace
} // namespace quorlin::test
