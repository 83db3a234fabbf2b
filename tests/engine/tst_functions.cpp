// SPDX-License-Identifier: MIT
// Every request the slave answers (and a few it must not), as rows of
// request bytes and reply bytes, each run in one piece and split into pieces.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

struct Row {
    std::string Name;
    std::function<void(TRegisterImage &)> Setup;
    std::string Request;
    std::string Reply; // empty: the slave stays silent
    std::function<void(const TRegisterImage &)> Check;
};

void PrintTo(const Row &R, std::ostream *Os)
{
    *Os << R.Name;
}

void none(TRegisterImage &) {}
void noCheck(const TRegisterImage &) {}

// "A B C ..." for Count bytes produced by Byte(i).
std::string hexRun(int Count, const std::function<int(int)> &Byte)
{
    std::string s;
    char buf[4];
    for (int i = 0; i < Count; ++i) {
        std::snprintf(buf, sizeof buf, "%02X ", Byte(i) & 0xFF);
        s += buf;
    }
    return s;
}

std::vector<Row> rows()
{
    std::vector<Row> r;

    // --- framing ---------------------------------------------------------
    // Holding registers 1..10 = 0x0101 * n; read them: A = 0, Q = 10.
    r.push_back({"Fn3TenRegisters",
                 [](TRegisterImage &im) {
                     for (int n = 1; n <= 10; ++n)
                         im.HoldingRegs[n] = uint16_t(0x0101 * n);
                 },
                 "01 03 00 00 00 0A C5 CD",
                 "01 03 14 " + hexRun(20, [](int i) { return i / 2 + 1; }) + "crc", noCheck});
    // Function 22 has a fixed 10-byte length but no handler: exception 1.
    r.push_back(
        {"Fn22IllegalFunction", none, "01 16 00 00 00 00 00 00 crc", "01 96 01 crc", noCheck});
    r.push_back(
        {"Fn24IllegalFunction", none, "01 18 00 00 00 00 00 00 crc", "01 98 01 crc", noCheck});
    // Function 23: byte count at offset 10 (2), 15 bytes in all.
    r.push_back({"Fn23IllegalFunction", none, "01 17 00 00 00 01 00 00 00 01 02 00 00 crc",
                 "01 97 01 crc", noCheck});
    // Function 16, byte count 4: complete at 13 bytes.
    r.push_back({"Fn16ByteCountFourCompletesAt13", none, "01 10 00 00 00 02 04 00 0A 01 02 crc",
                 "01 10 00 00 00 02 crc", [](const TRegisterImage &im) {
                     EXPECT_EQ(im.HoldingRegs[1], 10);
                     EXPECT_EQ(im.HoldingRegs[2], 0x0102);
                 }});

    // --- reads -------------------------------------------------------------
    // Coils 1..10 = 1 0 1 1 0 0 0 0 1 1: bytes 0x0D, 0x03.
    r.push_back({"Fn1TenCoils",
                 [](TRegisterImage &im) {
                     const int v[] = {1, 0, 1, 1, 0, 0, 0, 0, 1, 1};
                     for (int n = 1; n <= 10; ++n)
                         im.Coils[n] = uint8_t(v[n - 1]);
                 },
                 "01 01 00 00 00 0A BC 0D", "01 01 02 0D 03 FD 6D", noCheck});
    r.push_back({"Fn3TwoRegisters",
                 [](TRegisterImage &im) {
                     im.HoldingRegs[1] = 0x1234;
                     im.HoldingRegs[2] = 5;
                 },
                 "01 03 00 00 00 02 C4 0B", "01 03 04 12 34 00 05 7E 86", noCheck});
    r.push_back({"Fn1LastCoil", [](TRegisterImage &im) { im.Coils[2048] = 1; },
                 "01 01 07 FF 00 01 crc", "01 01 01 01 crc", noCheck});
    r.push_back({"Fn1PastLastCoil", none, "01 01 08 00 00 01 FF AA", "01 81 02 C1 91", noCheck});
    r.push_back(
        {"Fn1RangeEndsPastLastCoil", none, "01 01 07 F8 00 09 crc", "01 81 02 C1 91", noCheck});
    // Discrete inputs 1..3 = 1 1 0, 9 = 1: bytes 0x03, 0x01.
    // Any non-zero entry reads as on, whichever of its bits is set.
    r.push_back({"Fn1EightEntriesAnyNonZeroIsOn",
                 [](TRegisterImage &im) {
                     const uint8_t v[] = {0x80, 0, 0x02, 0x10, 0, 0xFF, 0x01, 0x40};
                     for (int n = 1; n <= 8; ++n)
                         im.Coils[n] = v[n - 1];
                 },
                 "01 01 00 00 00 08 crc", "01 01 01 ED crc", noCheck});
    r.push_back({"Fn2NineInputs",
                 [](TRegisterImage &im) {
                     im.DiscreteInputs[1] = im.DiscreteInputs[2] = im.DiscreteInputs[9] = 1;
                     im.Coils[3] = 1; // another table: must not show
                 },
                 "01 02 00 00 00 09 crc", "01 02 02 03 01 crc", noCheck});
    r.push_back({"Fn2PastLastInput", none, "01 02 08 00 00 01 crc", "01 82 02 crc", noCheck});
    r.push_back({"Fn4LastRegister", [](TRegisterImage &im) { im.InputRegs[256] = 0xBEEF; },
                 "01 04 00 FF 00 01 crc", "01 04 02 BE EF crc", noCheck});
    r.push_back({"Fn4RangeEndsPastLast", none, "01 04 00 FA 00 07 crc", "01 84 02 crc", noCheck});
    r.push_back({"Fn3PastLastRegister", none, "01 03 01 00 00 01 crc", "01 83 02 crc", noCheck});
    r.push_back({"Fn1QuantityZero", none, "01 01 00 00 00 00 crc", "01 01 00 crc", noCheck});
    r.push_back({"Fn3QuantityZero", none, "01 03 00 00 00 00 crc", "01 03 00 crc", noCheck});
    // Largest replies: 2000 coils and 125 registers make exactly 255 bytes.
    r.push_back({"Fn1TwoThousandCoils",
                 [](TRegisterImage &im) {
                     for (int n = 1; n <= 2048; n += 2)
                         im.Coils[n] = 1; // odd coils on: every byte 0x55
                 },
                 "01 01 00 00 07 D0 crc",
                 "01 01 FA " + hexRun(250, [](int) { return 0x55; }) + "crc", noCheck});
    r.push_back(
        {"Fn3HundredTwentyFiveRegisters",
         [](TRegisterImage &im) {
             for (int n = 1; n <= 256; ++n)
                 im.HoldingRegs[n] = uint16_t(0xA500 | (n & 0xFF));
         },
         // A = 131: registers 132..256, high byte A5 first.
         "01 03 00 83 00 7D crc",
         "01 03 FA " + hexRun(250, [](int i) { return i % 2 ? 0x84 + i / 2 : 0xA5; }) + "crc",
         noCheck});

    // --- single writes -------------------------------------------------
    r.push_back({"Fn5On", none, "01 05 00 02 FF 00 crc", "01 05 00 02 FF 00 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils[3], 1); }});
    r.push_back({"Fn5Off", [](TRegisterImage &im) { im.Coils[3] = 1; }, "01 05 00 02 00 00 crc",
                 "01 05 00 02 00 00 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils[3], 0); }});
    r.push_back({"Fn5Value00FFLeavesCoilOn", [](TRegisterImage &im) { im.Coils[3] = 1; },
                 "01 05 00 02 00 FF crc", "01 05 00 02 00 FF crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils[3], 1); }});
    r.push_back({"Fn5Value1234LeavesCoilOff", none, "01 05 00 02 12 34 crc",
                 "01 05 00 02 12 34 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils[3], 0); }});
    r.push_back({"Fn5LastCoil", none, "01 05 07 FF FF 00 crc", "01 05 07 FF FF 00 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils[2048], 1); }});
    r.push_back({"Fn5PastLastCoil", none, "01 05 08 00 FF 00 crc", "01 85 02 crc", noCheck});
    r.push_back({"Fn6LastRegister", none, "01 06 00 FF AB CD crc", "01 06 00 FF AB CD crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs[256], 0xABCD); }});
    r.push_back({"Fn6PastLastRegister", none, "01 06 01 00 00 01 crc", "01 86 02 crc", noCheck});

    // --- multiple writes -------------------------------------------------
    auto coils11to16 = [](TRegisterImage &im) {
        im.Coils[12] = im.Coils[14] = 1; // 11..16 = 0 1 0 1 0 0
    };
    r.push_back({"Fn15TenCoilsTwoBytes", coils11to16, "01 0F 00 00 00 0A 02 FF FF crc",
                 "01 0F 00 00 00 0A crc", [](const TRegisterImage &im) {
                     for (int n = 1; n <= 10; ++n)
                         EXPECT_EQ(im.Coils[n], 1) << n;
                     const int rest[] = {0, 1, 0, 1, 0, 0};
                     for (int n = 11; n <= 16; ++n)
                         EXPECT_EQ(im.Coils[n], rest[n - 11]) << n;
                 }});
    r.push_back({"Fn15TenCoilsOneByteWritesEight", [](TRegisterImage &im) { im.Coils[10] = 1; },
                 "01 0F 00 00 00 0A 01 FF crc", "01 0F 00 00 00 0A crc",
                 [](const TRegisterImage &im) {
                     for (int n = 1; n <= 8; ++n)
                         EXPECT_EQ(im.Coils[n], 1) << n;
                     EXPECT_EQ(im.Coils[9], 0);
                     EXPECT_EQ(im.Coils[10], 1);
                 }});
    r.push_back({"Fn15ClearsAndSets",
                 [](TRegisterImage &im) {
                     for (int n = 1; n <= 12; ++n)
                         im.Coils[n] = 1;
                 },
                 // A = 2: coils 3..6 = 1 0 1 0 from 0x05.
                 "01 0F 00 02 00 04 01 05 crc", "01 0F 00 02 00 04 crc",
                 [](const TRegisterImage &im) {
                     const int want[] = {1, 1, 1, 0, 1, 0, 1};
                     for (int n = 1; n <= 7; ++n)
                         EXPECT_EQ(im.Coils[n], want[n - 1]) << n;
                 }});
    r.push_back({"Fn15PastLastCoil", none, "01 0F 07 F8 00 09 02 FF 01 crc", "01 8F 02 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils[2041], 0); }});
    r.push_back({"Fn16OneRegister", none, "01 10 00 00 00 01 02 00 2A crc", "01 10 00 00 00 01 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs[1], 42); }});
    r.push_back({"Fn16PastLastRegister", none,
                 "01 10 00 FA 00 07 0E " + hexRun(14, [](int) { return 0x11; }) + "crc",
                 "01 90 02 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs[251], 0); }});

    // --- diagnostics and others ------------------------------------------
    r.push_back({"Fn7", none, "01 07 41 E2", "01 07 00 22 30", noCheck});
    r.push_back(
        {"Fn8ReturnQuery", none, "01 08 00 01 FF 00 crc", "01 08 00 01 FF 00 crc", noCheck});
    r.push_back(
        {"Fn8ListenOnlyIsEchoed", none, "01 08 00 04 00 00 crc", "01 08 00 04 00 00 crc", noCheck});
    r.push_back({"Fn11", none, "01 0B 41 E7", "01 0B 00 00 FF FF A5 BB", noCheck});
    r.push_back({"Fn12", none, "01 0C 00 25", "01 0C 08 00 00 01 08 01 21 20 00 0D C1", noCheck});
    // The 14-byte frame: byte count 9 covers all data, the CRC follows at once.
    r.push_back({"Fn17FourteenByteFrame", none, "01 11 crc",
                 "01 11 09 09 FF 09 FF 01 02 0A 00 D0 AC 6F", noCheck});
    r.push_back({"Fn20ByteCountSeven", none, "01 14 07 06 00 01 00 00 00 01 crc", "01 94 01 8F 00",
                 noCheck});
    r.push_back({"Fn21", none, "01 15 02 00 00 crc", "01 95 01 crc", noCheck});

    // --- oversized reads: exception 3, but only after the range check ---------
    r.push_back({"Fn1Quantity2001", none, "01 01 00 00 07 D1 crc", "01 81 03 crc", noCheck});
    r.push_back({"Fn2Quantity2001", none, "01 02 00 00 07 D1 crc", "01 82 03 crc", noCheck});
    r.push_back({"Fn3Quantity126", none, "01 03 00 00 00 7E crc", "01 83 03 crc", noCheck});
    r.push_back({"Fn4Quantity126", none, "01 04 00 00 00 7E crc", "01 84 03 crc", noCheck});
    r.push_back(
        {"Fn1Quantity2001PastEndIsRange", none, "01 01 00 64 07 D1 crc", "01 81 02 crc", noCheck});
    r.push_back(
        {"Fn3Quantity126PastEndIsRange", none, "01 03 00 C8 00 7E crc", "01 83 02 crc", noCheck});
    r.push_back({"Fn3QuantityFFFFIsRange", none, "01 03 00 00 FF FF crc", "01 83 02 crc", noCheck});

    // --- function 16 with a short byte count -----------------------------------
    auto presetRegs = [](TRegisterImage &im) {
        for (int n = 1; n <= 5; ++n)
            im.HoldingRegs[n] = 0x7777;
    };
    r.push_back({"Fn16ShortCountWritesReceivedOnly", presetRegs,
                 "01 10 00 00 00 03 04 00 01 00 02 crc", "01 10 00 00 00 03 crc",
                 [](const TRegisterImage &im) {
                     EXPECT_EQ(im.HoldingRegs[1], 1);
                     EXPECT_EQ(im.HoldingRegs[2], 2);
                     EXPECT_EQ(im.HoldingRegs[3], 0x7777);
                 }});
    r.push_back({"Fn16OddCountDropsHalfRegister", presetRegs, "01 10 00 00 00 02 03 00 01 00 crc",
                 "01 10 00 00 00 02 crc", [](const TRegisterImage &im) {
                     EXPECT_EQ(im.HoldingRegs[1], 1);
                     EXPECT_EQ(im.HoldingRegs[2], 0x7777);
                 }});
    r.push_back({"Fn16ZeroCountWritesNothing", presetRegs, "01 10 00 00 00 05 00 crc",
                 "01 10 00 00 00 05 crc", [](const TRegisterImage &im) {
                     for (int n = 1; n <= 5; ++n)
                         EXPECT_EQ(im.HoldingRegs[n], 0x7777) << n;
                 }});
    r.push_back({"Fn16LongCountWritesQuantity", presetRegs, "01 10 00 00 00 01 04 00 01 00 02 crc",
                 "01 10 00 00 00 01 crc", [](const TRegisterImage &im) {
                     EXPECT_EQ(im.HoldingRegs[1], 1);
                     EXPECT_EQ(im.HoldingRegs[2], 0x7777);
                 }});

    // --- silence ---------------------------------------------------------
    r.push_back({"OtherSlaveId", none, "02 06 00 00 00 07 crc", "",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs[1], 0); }});
    r.push_back({"BroadcastIsNotAnsweredNorApplied", none, "00 06 00 00 00 07 crc", "",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs[1], 0); }});
    r.push_back({"WrongCrcWritesNothing", none, "01 06 00 00 00 07 00 00", "",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs[1], 0); }});
    return r;
}

class Functions : public ::testing::TestWithParam<Row>
{
};

TEST_P(Functions, AnswersOnceWhateverThePieces)
{
    const Row &row = GetParam();
    const Bytes request = hex(row.Request);
    for (size_t piece : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(5)}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        Rig rig;
        row.Setup(rig.Image);
        rig.arriveInPieces(request, piece);
        if (row.Reply.empty()) {
            EXPECT_TRUE(rig.Line.Writes.empty());
        } else {
            ASSERT_EQ(rig.Line.Writes.size(), 1u);
            EXPECT_EQ(toHex(rig.Line.Writes[0]), toHex(hex(row.Reply)));
            // Purged before the reply went out.
            EXPECT_EQ(rig.Line.Log.substr(rig.Line.Log.size() - 3), "IOW");
        }
        row.Check(rig.Image);
        EXPECT_EQ(rig.Slave.RxCount, 0);
        EXPECT_FALSE(rig.Timer.Running);
        EXPECT_EQ(rig.Timer.Starts, 1);
        EXPECT_EQ(rig.Image.Coils[0], 0);
        EXPECT_EQ(rig.Image.HoldingRegs[0], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, Functions, ::testing::ValuesIn(rows()),
                         [](const auto &info) { return info.param.Name; });

} // namespace
} // namespace quorlin::test
