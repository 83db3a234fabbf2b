// SPDX-License-Identifier: MIT
// Modbus ASCII on the serial line, character for character. Every LRC below
// was worked out by hand: the bytes summed modulo 256, then negated.
#include <gtest/gtest.h>

#include <string>

#include "engine/asciiframing.h"
#include "tests/engine/fakes.h"

using namespace quorlin;
using namespace quorlin::test;

namespace
{

Bytes chars(const std::string &Text)
{
    return Bytes(Text.begin(), Text.end());
}

std::string text(const Bytes &B)
{
    return std::string(B.begin(), B.end());
}

struct AsciiRig : Rig {
    AsciiRig()
    {
        Slave.SetMode(TSerialMode::Ascii);
        Image.HoldingRegs[1] = 0x1234;
        Image.HoldingRegs[2] = 0xABCD;
    }
    // What the slave wrote, all writes joined.
    std::string written() const
    {
        std::string s;
        for (const Bytes &w : Line.Writes)
            s += text(w);
        return s;
    }
};

struct AsciiRow {
    const char *Name;
    const char *Request; // characters as the master sends them
    const char *Reply;   // characters expected back; "" = silence
};

const AsciiRow asciiRows[] = {
    // 01 03 0000 0002: sum 06, LRC FA. Reply 01 03 04 1234 ABCD: sum 1C6, LRC 3A.
    {"ReadTwoHoldingRegisters", ":010300000002FA\r\n", ":010304 1234ABCD3A\r\n"},
    {"LowerCaseAccepted", ":010300000002fa\r\n", ":0103041234ABCD3A\r\n"},
    {"WrongLrcIsSilent", ":010300000002FB\r\n", ""},
    // 02 03 0000 0002: sum 07, LRC F9; for slave 2.
    {"OtherSlaveIsSilent", ":020300000002F9\r\n", ""},
    // A ':' abandons the frame it interrupts and starts the one that is answered.
    {"ColonRestartsTheFrame", ":0103:010300000002FA\r\n", ":0103041234ABCD3A\r\n"},
    {"NoiseBeforeTheColonIgnored", "xy\r\n:010300000002FA\r\n", ":0103041234ABCD3A\r\n"},
    // 01 06 0001 5678: sum D6, LRC 2A; the echo is the request.
    {"WriteSingleRegisterEchoed", ":010600015678 2A\r\n", ":0106000156782A\r\n"},
    // 01 16 0000 0000 0000: sum 17, LRC E9. Reply 01 96 01: sum 98, LRC 68.
    {"UnservedCodeIsIllegalFunction", ":011600000000000 0E9\r\n", ":01960168\r\n"},
    // 01 03 0000: sum 04, LRC FC; four bytes short of what function 3 needs.
    {"FrameShorterThanItsFunctionIsSilent", ":01030000FC\r\n", ""},
    // 01 03 0000 0002 00: sum 06, LRC FA; one byte more than function 3 has.
    {"FrameLongerThanItsFunctionIsSilent", ":01030000000200FA\r\n", ""},
    {"OddNumberOfDigitsIsSilent", ":010300000002F\r\n", ""},
    {"CrWithoutLfIsSilent", ":010300000002FA\rX\n", ""},
    {"LfWithoutCrIsSilent", ":010300000002FA\n", ""},
    {"NonHexDigitIsSilent", ":01030000000G02FA\r\n", ""},
    // 01 2A: a code with no length rule; sum 2B, LRC D5. RTU never answers it either.
    {"CodeWithoutLengthRuleIsSilent", ":012AD5\r\n", ""},
    // 00 06 0001 5678: broadcast, sum D5, LRC 2B; carried out, never answered.
    {"BroadcastIsSilent", ":000600015678 2B\r\n", ""},
};

// Spaces in the table only group digits for the reader.
std::string unspaced(const char *S)
{
    std::string out;
    for (const char *p = S; *p != 0; ++p)
        if (*p != ' ')
            out += *p;
    return out;
}

class AsciiTable : public ::testing::TestWithParam<AsciiRow>
{
};

TEST_P(AsciiTable, WholeAndOneCharacterAtATime)
{
    const AsciiRow &row = GetParam();
    for (size_t piece : {size_t(0), size_t(1)}) {
        AsciiRig rig;
        rig.arriveInPieces(chars(unspaced(row.Request)), piece);
        EXPECT_EQ(rig.written(), unspaced(row.Reply)) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Vectors, AsciiTable, ::testing::ValuesIn(asciiRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(AsciiFraming, WriteReachesTheImageOnlyWithTheRightLrc)
{
    AsciiRig rig;
    rig.arrive(chars(":0106000156782B\r\n")); // LRC off by one
    EXPECT_EQ(rig.Image.HoldingRegs[2], 0xABCD);
    rig.arrive(chars(":0106000156782A\r\n"));
    EXPECT_EQ(rig.Image.HoldingRegs[2], 0x5678);
}

TEST(AsciiFraming, SilenceOfOneSecondBetweenCharactersDropsTheFrame)
{
    AsciiRig rig;
    rig.arrive(chars(":01030000"));
    ASSERT_TRUE(rig.Timer.Running);
    EXPECT_EQ(rig.Timer.LastMs, 1000);
    rig.fireTimer();
    rig.arrive(chars("0002FA\r\n")); // the rest alone is no frame
    EXPECT_TRUE(rig.Line.Writes.empty());
    EXPECT_FALSE(rig.Timer.Running);
    rig.arrive(chars(":010300000002FA\r\n"));
    EXPECT_EQ(rig.written(), ":0103041234ABCD3A\r\n");
}

TEST(AsciiFraming, TheLongestRequestIsAnsweredAndOneByteMoreIsNot)
{
    // Function 16 of 123 registers: 01 10 0000 007B F6 then 246 zero bytes.
    // Sum 01+10+7B+F6 = 182 -> 82, LRC 7E; 254 bytes = 508 digits.
    const std::string request = ":01100000007BF6" + std::string(492, '0') + "7E\r\n";
    AsciiRig rig;
    rig.arrive(chars(request));
    // 01 10 0000 007B: sum 8C, LRC 74.
    EXPECT_EQ(rig.written(), ":01100000007B74\r\n");

    // 256 bytes (512 digits) cannot be a request: dropped, nothing answered.
    AsciiRig over;
    over.arrive(chars(":" + std::string(512, '1') + "\r\n"));
    EXPECT_TRUE(over.Line.Writes.empty());
    over.arrive(chars(":010300000002FA\r\n"));
    EXPECT_EQ(over.written(), ":0103041234ABCD3A\r\n");
}

TEST(AsciiFraming, BadCrcFaultSendsABadLrcAndWrongIdARightOne)
{
    TFaultSettings bad;
    bad.Enabled = 1;
    bad.BadCrcEvery = 1;
    AsciiRig rig;
    rig.Slave.Faults().Load(bad);
    rig.arrive(chars(":010300000002FA\r\n"));
    EXPECT_EQ(rig.written(), ":0103041234ABCDC5\r\n"); // 3A inverted

    TFaultSettings wrong;
    wrong.Enabled = 1;
    wrong.WrongIdEvery = 1;
    AsciiRig other;
    other.Slave.Faults().Load(wrong);
    other.arrive(chars(":010300000002FA\r\n"));
    EXPECT_EQ(other.written(), ":0203041234ABCD39\r\n"); // sum 1C7, LRC 39
}

TEST(AsciiFraming, ModeSwitchesBothWaysAndRtuStaysTheDefault)
{
    Rig rig;
    EXPECT_EQ(rig.Slave.Mode(), TSerialMode::Rtu);
    const Bytes rtu = hex("01 03 00 00 00 01 crc");
    rig.Slave.SetMode(TSerialMode::Ascii);
    rig.arrive(rtu);
    EXPECT_TRUE(rig.Line.Writes.empty());
    rig.Slave.SetMode(TSerialMode::Rtu);
    rig.arrive(chars(":0103")); // half an ASCII frame is only bytes to RTU
    rig.fireTimer();
    rig.arrive(rtu);
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
    EXPECT_EQ(rig.Line.Writes[0], hex("01 03 02 00 00 crc"));
}

TEST(AsciiCodec, LrcAndEncoding)
{
    const uint8_t request[] = {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03};
    EXPECT_EQ(Lrc(request, sizeof request), 0x7E); // sum 82
    uint8_t out[32];
    const int n = EncodeAscii(request, int(sizeof request), 0x7E, out);
    EXPECT_EQ(std::string(out, out + n), ":1103006B00037E\r\n");
    EXPECT_EQ(Lrc(nullptr, 0), 0x00);
    EXPECT_EQ(HexValue('a'), 10);
    EXPECT_EQ(HexValue('F'), 15);
    EXPECT_EQ(HexValue('g'), -1);
    EXPECT_EQ(HexValue(':'), -1);
}

} // namespace
