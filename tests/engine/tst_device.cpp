// SPDX-License-Identifier: MIT
// A slave emulating a real device: the whole address space, strict
// addressing from a map, an address offset, functions 22, 23 and 43/14.
// Rows of request and reply bytes, each decoded in its comment.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "engine/devicemap.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

struct Row {
    std::string Name;
    std::function<void(TRegisterImage &)> Setup;
    std::string Request;
    std::string Reply; // empty: silence
    std::function<void(const TRegisterImage &)> Check;
};

void PrintTo(const Row &R, std::ostream *Os)
{
    *Os << R.Name;
}

void noCheck(const TRegisterImage &) {}

std::string ascii(const std::string &Text)
{
    std::string s;
    char buf[4];
    for (unsigned char c : Text) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        s += buf;
    }
    return s;
}

void fns22And23(TRegisterImage &im)
{
    im.Options.Functions22And23 = true;
}

// Holding registers 1..10 read-write, 11..12 read-only, input registers
// 30001..30002; every table 65536 long; strict addressing on.
void strictDevice(TRegisterImage &im)
{
    im.SetRegisterCount(65536);
    im.Options.Registers = 65536;
    im.Options.MappedOnly = true;
    im.Options.Functions22And23 = true;
    im.Access.Add(RegTypeHoldingReg, 1, 10, false);
    im.Access.Add(RegTypeHoldingReg, 11, 12, true);
    im.Access.Add(RegTypeInputReg, 30001, 30002, false);
    im.Access.Add(RegTypeCoil, 1, 8, false);
    for (int n = 1; n <= 12; ++n)
        im.HoldingRegs.Set(n, uint16_t(n));
    im.InputRegs.Set(30001, 0x4148);
    im.InputRegs.Set(30002, 0x0000);
}

// The strict device with coils 9..10 read-only beside its coils 1..8.
void strictCoils(TRegisterImage &im)
{
    strictDevice(im);
    im.Access.Add(RegTypeCoil, 9, 10, true);
}

void identity(TRegisterImage &im)
{
    im.Options.DeviceId = true;
    im.Options.Identity[0] = "Quorlin";
    im.Options.Identity[1] = "QM-3";
    im.Options.Identity[2] = "1.0";
}

void regularIdentity(TRegisterImage &im)
{
    identity(im);
    im.Options.Identity[5] = "M3"; // model name
}

// Two long basic objects: the third no longer fits the first reply.
void longIdentity(TRegisterImage &im)
{
    identity(im);
    im.Options.Identity[0] = std::string(120, 'A');
    im.Options.Identity[1] = std::string(120, 'B');
}

void holdingUntouched(const TRegisterImage &im)
{
    for (int n = 1; n <= 12; ++n)
        EXPECT_EQ(im.HoldingRegs.Get(n), n) << n;
}

std::vector<Row> rows()
{
    std::vector<Row> r;
    const auto none = [](TRegisterImage &) {};

    // --- functions 22 and 23 -----------------------------------------------
    // Off: exception 1, as without the option.
    r.push_back({"Fn22OffIsIllegal", none, "01 16 00 00 00 F2 00 25 crc", "01 96 01 crc", noCheck});
    r.push_back({"Fn23OffIsIllegal", none, "01 17 00 00 00 01 00 00 00 01 02 00 07 crc",
                 "01 97 01 crc", noCheck});
    // 0x0012 AND 0x00F2 OR (0x0025 AND NOT 0x00F2) = 0x0017; the reply echoes.
    r.push_back({"Fn22MaskWrite",
                 [](TRegisterImage &im) {
                     fns22And23(im);
                     im.HoldingRegs.Set(5, 0x0012);
                 },
                 "01 16 00 04 00 F2 00 25 crc", "01 16 00 04 00 F2 00 25 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs.Get(5), 0x0017); }});
    r.push_back({"Fn22PastTheTable", fns22And23, "01 16 01 00 FF FF 00 00 crc", "01 96 02 crc",
                 noCheck});
    // Write 0x0102 0x0304 at 1..2, read 1..3: the read sees the write.
    r.push_back({"Fn23WritesBeforeReading", fns22And23,
                 "01 17 00 00 00 03 00 00 00 02 04 01 02 03 04 crc",
                 "01 17 06 01 02 03 04 00 00 crc", noCheck});
    // Read quantity 0 and 126 (0x7E), write quantity 0, byte count not 2 x quantity.
    r.push_back({"Fn23ReadQuantityZero", fns22And23,
                 "01 17 00 00 00 00 00 00 00 01 02 00 07 crc", "01 97 03 crc", noCheck});
    r.push_back({"Fn23ReadQuantity126", fns22And23,
                 "01 17 00 00 00 7E 00 00 00 01 02 00 07 crc", "01 97 03 crc", noCheck});
    r.push_back({"Fn23WriteQuantityZero", fns22And23, "01 17 00 00 00 01 00 00 00 00 00 crc",
                 "01 97 03 crc", noCheck});
    r.push_back({"Fn23ByteCountMismatch", fns22And23,
                 "01 17 00 00 00 01 00 00 00 02 02 00 07 crc", "01 97 03 crc", noCheck});
    // Read range 255..256 fits, the write at 256..257 does not: nothing written.
    r.push_back({"Fn23WritePastTheTableWritesNothing", fns22And23,
                 "01 17 00 FE 00 02 00 FF 00 02 04 11 11 22 22 crc", "01 97 02 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs.Get(256), 0); }});
    r.push_back({"Fn23ReadPastTheTableWritesNothing", fns22And23,
                 "01 17 00 FF 00 02 00 00 00 01 02 12 34 crc", "01 97 02 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs.Get(1), 0); }});
    // 121 registers written (242 bytes, a 255-byte request) and 125 read.
    {
        std::string req = "01 17 00 00 00 7D 00 00 00 79 F2 ";
        std::string rep = "01 17 FA ";
        for (int i = 0; i < 121; ++i) {
            req += "AB CD ";
            rep += "AB CD ";
        }
        for (int i = 121; i < 125; ++i)
            rep += "00 00 ";
        r.push_back({"Fn23Limits", fns22And23, req + "crc", rep + "crc", noCheck});
    }

    // --- the whole address space -------------------------------------------
    auto big = [](TRegisterImage &im) {
        im.SetRegisterCount(65536);
        im.HoldingRegs.Set(65536, 0xBEEF);
        im.InputRegs.Set(30001, 0x1234);
        im.Coils.Set(65536, 1);
    };
    r.push_back({"Fn3Register65536", big, "01 03 FF FF 00 01 crc", "01 03 02 BE EF crc", noCheck});
    r.push_back({"Fn3PastRegister65536", big, "01 03 FF FF 00 02 crc", "01 83 02 crc", noCheck});
    r.push_back({"Fn4Register30001", big, "01 04 75 30 00 01 crc", "01 04 02 12 34 crc", noCheck});
    r.push_back({"Fn1Coil65536", big, "01 01 FF FF 00 01 crc", "01 01 01 01 crc", noCheck});
    r.push_back({"Fn6Register65536", big, "01 06 FF FF 12 34 crc", "01 06 FF FF 12 34 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs.Get(65536), 0x1234); }});
    r.push_back({"Fn5Coil65536Off", big, "01 05 FF FF 00 00 crc", "01 05 FF FF 00 00 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils.Get(65536), 0); }});
    r.push_back({"Fn2Input65536", big, "01 02 FF FF 00 01 crc", "01 02 01 00 crc", noCheck});
    // 65535..65536 written; one more would be register 65537: nothing written.
    r.push_back({"Fn16EndsAtRegister65536", big, "01 10 FF FE 00 02 04 11 11 22 22 crc",
                 "01 10 FF FE 00 02 crc", [](const TRegisterImage &im) {
                     EXPECT_EQ(im.HoldingRegs.Get(65535), 0x1111);
                     EXPECT_EQ(im.HoldingRegs.Get(65536), 0x2222);
                 }});
    r.push_back({"Fn16PastRegister65536WritesNothing", big, "01 10 FF FF 00 02 04 11 11 22 22 crc",
                 "01 90 02 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs.Get(65536), 0xBEEF); }});
    // Coils 65535 on, 65536 off (bits 0 and 1 of 0x01).
    r.push_back({"Fn15EndsAtCoil65536", big, "01 0F FF FE 00 02 01 01 crc", "01 0F FF FE 00 02 crc",
                 [](const TRegisterImage &im) {
                     EXPECT_EQ(im.Coils.Get(65535), 1);
                     EXPECT_EQ(im.Coils.Get(65536), 0);
                 }});
    // (0xBEEF AND 0xFF00) OR (0x0012 AND NOT 0xFF00) = 0xBE12.
    r.push_back({"Fn22Register65536",
                 [big](TRegisterImage &im) {
                     big(im);
                     fns22And23(im);
                 },
                 "01 16 FF FF FF 00 00 12 crc", "01 16 FF FF FF 00 00 12 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs.Get(65536), 0xBE12); }});
    // Write 0x0102 at 65536, read 65535..65536 after it.
    r.push_back({"Fn23AtRegister65536",
                 [big](TRegisterImage &im) {
                     big(im);
                     fns22And23(im);
                 },
                 "01 17 FF FE 00 02 FF FF 00 01 02 01 02 crc", "01 17 04 00 00 01 02 crc",
                 noCheck});
    r.push_back({"Fn23ReadPast65536WritesNothing",
                 [big](TRegisterImage &im) {
                     big(im);
                     fns22And23(im);
                 },
                 "01 17 FF FF 00 02 00 00 00 01 02 12 34 crc", "01 97 02 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.HoldingRegs.Get(1), 0); }});
    // The usual sizes stay without the option: register 257 does not exist.
    r.push_back({"UsualSizeRefuses257", none, "01 03 01 00 00 01 crc", "01 83 02 crc", noCheck});

    // --- address offset ----------------------------------------------------
    auto offset = [](int By) {
        return [By](TRegisterImage &im) {
            im.Options.AddressOffset = By;
            for (int n = 1; n <= 256; ++n)
                im.HoldingRegs.Set(n, uint16_t(0x100 + n));
        };
    };
    // -1: address 1 is register 1, address 0 would be register 0.
    r.push_back({"OffsetMinusOneAddress1IsRegister1", offset(-1), "01 03 00 01 00 01 crc",
                 "01 03 02 01 01 crc", noCheck});
    r.push_back({"OffsetMinusOneAddress0Refused", offset(-1), "01 03 00 00 00 01 crc",
                 "01 83 02 crc", noCheck});
    r.push_back({"OffsetMinusOneAddress256IsRegister256", offset(-1), "01 03 01 00 00 01 crc",
                 "01 03 02 02 00 crc", noCheck});
    // +1: address 0 is register 2; address 255 would be register 257.
    r.push_back({"OffsetPlusOneAddress0IsRegister2", offset(1), "01 03 00 00 00 01 crc",
                 "01 03 02 01 02 crc", noCheck});
    r.push_back({"OffsetPlusOneAddress255Refused", offset(1), "01 03 00 FF 00 01 crc",
                 "01 83 02 crc", noCheck});
    r.push_back({"OffsetPlusOneWrite", offset(1), "01 06 00 00 AB CD crc", "01 06 00 00 AB CD crc",
                 [](const TRegisterImage &im) {
                     EXPECT_EQ(im.HoldingRegs.Get(1), 0x101);
                     EXPECT_EQ(im.HoldingRegs.Get(2), 0xABCD);
                 }});

    // The offset at the top of the whole address space.
    auto bigOffset = [](int By) {
        return [By](TRegisterImage &im) {
            im.SetRegisterCount(65536);
            im.Options.AddressOffset = By;
            im.HoldingRegs.Set(65535, 0xCAFE);
            im.HoldingRegs.Set(65536, 0xBEEF);
        };
    };
    r.push_back({"OffsetPlusOneAddress65534IsRegister65536", bigOffset(1), "01 03 FF FE 00 01 crc",
                 "01 03 02 BE EF crc", noCheck});
    r.push_back({"OffsetPlusOneAddress65535Refused", bigOffset(1), "01 03 FF FF 00 01 crc",
                 "01 83 02 crc", noCheck});
    r.push_back({"OffsetMinusOneAddress65535IsRegister65535", bigOffset(-1),
                 "01 03 FF FF 00 01 crc", "01 03 02 CA FE crc", noCheck});

    // --- strict addressing, at every edge of the map -----------------------
    r.push_back({"StrictWholeRange", strictDevice, "01 03 00 00 00 0C crc",
                 "01 03 18 " + [] {
                     std::string s;
                     for (int n = 1; n <= 12; ++n)
                         s += "00 " + std::string(n < 16 ? "0" : "") +
                              "0123456789ABCDEF"[n % 16] + " ";
                     return s;
                 }() + "crc",
                 noCheck});
    r.push_back({"StrictOnePastTheEnd", strictDevice, "01 03 00 00 00 0D crc", "01 83 02 crc",
                 noCheck});
    r.push_back({"StrictFirstUnmapped", strictDevice, "01 03 00 0C 00 01 crc", "01 83 02 crc",
                 noCheck});
    r.push_back({"StrictInputRangeEdges", strictDevice, "01 04 75 30 00 02 crc",
                 "01 04 04 41 48 00 00 crc", noCheck});
    r.push_back({"StrictInputBeforeRange", strictDevice, "01 04 75 2F 00 02 crc", "01 84 02 crc",
                 noCheck});
    r.push_back({"StrictInputAfterRange", strictDevice, "01 04 75 31 00 02 crc", "01 84 02 crc",
                 noCheck});
    r.push_back({"StrictUnmappedTable", strictDevice, "01 02 00 00 00 01 crc", "01 82 02 crc",
                 noCheck});
    r.push_back({"StrictCoilsToTheEdge", strictDevice, "01 01 00 00 00 08 crc", "01 01 01 00 crc",
                 noCheck});
    r.push_back(
        {"StrictCoilsOnePast", strictDevice, "01 01 00 00 00 09 crc", "01 81 02 crc", noCheck});
    // Writes outside the map are refused like reads, and write nothing.
    r.push_back({"StrictFn6Unmapped", strictDevice, "01 06 00 0C 00 63 crc", "01 86 02 crc",
                 [](const TRegisterImage &im) {
                     holdingUntouched(im);
                     EXPECT_EQ(im.HoldingRegs.Get(13), 0);
                 }});
    r.push_back({"StrictFn5Unmapped", strictDevice, "01 05 00 08 FF 00 crc", "01 85 02 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils.Get(9), 0); }});
    r.push_back({"StrictFn15PastTheCoils", strictDevice, "01 0F 00 07 00 02 01 03 crc",
                 "01 8F 02 crc", [](const TRegisterImage &im) { EXPECT_EQ(im.Coils.Get(8), 0); }});
    r.push_back({"StrictFn22Unmapped", strictDevice, "01 16 00 0C 00 00 FF FF crc", "01 96 02 crc",
                 noCheck});
    // 23 reading 12..13 (13 unmapped) must not write register 1 first.
    r.push_back({"StrictFn23ReadUnmappedWritesNothing", strictDevice,
                 "01 17 00 0B 00 02 00 00 00 01 02 00 63 crc", "01 97 02 crc", holdingUntouched});
    // A map that reaches register 65536, and its first edge below.
    auto strictTop = [](TRegisterImage &im) {
        strictDevice(im);
        im.Access.Add(RegTypeHoldingReg, 65535, 65536, false);
        im.HoldingRegs.Set(65536, 0xBEEF);
    };
    r.push_back({"StrictMapToRegister65536", strictTop, "01 03 FF FE 00 02 crc",
                 "01 03 04 00 00 BE EF crc", noCheck});
    r.push_back(
        {"StrictBelowTheTopRange", strictTop, "01 03 FF FD 00 02 crc", "01 83 02 crc", noCheck});
    // With offset -1 the map's registers 1..12 are addresses 1..12.
    auto strictOffset = [](TRegisterImage &im) {
        strictDevice(im);
        im.Options.AddressOffset = -1;
    };
    r.push_back({"StrictOffsetLastRegister", strictOffset, "01 03 00 0C 00 01 crc",
                 "01 03 02 00 0C crc", noCheck});
    r.push_back(
        {"StrictOffsetPastTheMap", strictOffset, "01 03 00 0C 00 02 crc", "01 83 02 crc", noCheck});
    // Read-only coils read, and refuse 5 and a 15 that touches one.
    r.push_back({"StrictReadOnlyCoilsRead", strictCoils, "01 01 00 00 00 0A crc",
                 "01 01 02 00 00 crc", noCheck});
    r.push_back({"StrictReadOnlyCoilFn5", strictCoils, "01 05 00 08 FF 00 crc", "01 85 02 crc",
                 [](const TRegisterImage &im) { EXPECT_EQ(im.Coils.Get(9), 0); }});
    r.push_back({"StrictReadOnlyCoilFn15Partly", strictCoils, "01 0F 00 07 00 02 01 03 crc",
                 "01 8F 02 crc", [](const TRegisterImage &im) {
                     EXPECT_EQ(im.Coils.Get(8), 0);
                     EXPECT_EQ(im.Coils.Get(9), 0);
                 }});
    // Read-only registers read, but refuse every kind of write, writing nothing.
    r.push_back({"StrictReadOnlyReads", strictDevice, "01 03 00 0A 00 02 crc",
                 "01 03 04 00 0B 00 0C crc", noCheck});
    r.push_back({"StrictReadOnlyFn6", strictDevice, "01 06 00 0A 00 63 crc", "01 86 02 crc",
                 holdingUntouched});
    r.push_back({"StrictReadOnlyFn16Partly", strictDevice,
                 "01 10 00 08 00 03 06 00 63 00 63 00 63 crc", "01 90 02 crc", holdingUntouched});
    r.push_back({"StrictReadOnlyFn22", strictDevice, "01 16 00 0B 00 00 FF FF crc",
                 "01 96 02 crc", holdingUntouched});
    r.push_back({"StrictReadOnlyFn23", strictDevice,
                 "01 17 00 00 00 01 00 0A 00 01 02 00 63 crc", "01 97 02 crc", holdingUntouched});
    r.push_back({"StrictWritableFn16", strictDevice, "01 10 00 08 00 02 04 00 63 00 64 crc",
                 "01 10 00 08 00 02 crc", [](const TRegisterImage &im) {
                     EXPECT_EQ(im.HoldingRegs.Get(9), 0x63);
                     EXPECT_EQ(im.HoldingRegs.Get(10), 0x64);
                     EXPECT_EQ(im.HoldingRegs.Get(11), 11);
                 }});

    // --- device identification (43 / 14) ----------------------------------
    r.push_back({"Fn43OffIsSilent", none, "01 2B 0E 01 00 crc", "", noCheck});
    // Code 1 from object 0: conformity 0x81, no more, three objects.
    const std::string basic = "00 07 " + ascii("Quorlin") + "01 04 " + ascii("QM-3") + "02 03 " +
                              ascii("1.0");
    r.push_back({"Fn43Basic", identity, "01 2B 0E 01 00 crc",
                 "01 2B 0E 01 81 00 00 03 " + basic + "crc", noCheck});
    // Code 2 on a basic device: its level; code 3 likewise.
    r.push_back({"Fn43RegularOnBasicDevice", identity, "01 2B 0E 02 00 crc",
                 "01 2B 0E 02 81 00 00 03 " + basic + "crc", noCheck});
    r.push_back({"Fn43ExtendedAnsweredAtOwnLevel", regularIdentity, "01 2B 0E 03 00 crc",
                 "01 2B 0E 03 82 00 00 04 " + basic + "05 02 " + ascii("M3") + "crc", noCheck});
    // Starting at object 1; an object the stream lacks restarts at 0.
    r.push_back({"Fn43StreamFromObject1", identity, "01 2B 0E 01 01 crc",
                 "01 2B 0E 01 81 00 00 02 01 04 " + ascii("QM-3") + "02 03 " + ascii("1.0") +
                     "crc",
                 noCheck});
    r.push_back({"Fn43UnknownObjectRestarts", identity, "01 2B 0E 01 09 crc",
                 "01 2B 0E 01 81 00 00 03 " + basic + "crc", noCheck});
    r.push_back({"Fn43MissingRegularObjectRestarts", regularIdentity, "01 2B 0E 02 04 crc",
                 "01 2B 0E 02 82 00 00 04 " + basic + "05 02 " + ascii("M3") + "crc", noCheck});
    // Code 4: one object, or exception 2 when the slave lacks it.
    r.push_back({"Fn43OneObject", regularIdentity, "01 2B 0E 04 05 crc",
                 "01 2B 0E 04 82 00 00 01 05 02 " + ascii("M3") + "crc", noCheck});
    r.push_back({"Fn43OneMissingObject", regularIdentity, "01 2B 0E 04 04 crc", "01 AB 02 crc",
                 noCheck});
    r.push_back({"Fn43OneObjectPastTheLast", identity, "01 2B 0E 04 07 crc", "01 AB 02 crc",
                 noCheck});
    // Read codes 0 and 5: exception 3.
    r.push_back({"Fn43ReadCode0", identity, "01 2B 0E 00 00 crc", "01 AB 03 crc", noCheck});
    r.push_back({"Fn43ReadCode5", identity, "01 2B 0E 05 00 crc", "01 AB 03 crc", noCheck});
    // 8 + (2 + 120) + (2 + 120) = 252 bytes: object 2 (5 more) would pass
    // 255 with the CRC, so it follows: more follows FF, next object 02.
    r.push_back({"Fn43ChainsWhenFull", longIdentity, "01 2B 0E 01 00 crc",
                 "01 2B 0E 01 81 FF 02 02 00 78 " + ascii(std::string(120, 'A')) + "01 78 " +
                     ascii(std::string(120, 'B')) + "crc",
                 noCheck});
    r.push_back({"Fn43ChainContinues", longIdentity, "01 2B 0E 01 02 crc",
                 "01 2B 0E 01 81 00 00 01 02 03 " + ascii("1.0") + "crc", noCheck});
    return r;
}

class Device : public ::testing::TestWithParam<Row>
{
};

TEST_P(Device, AnswersAsTheDeviceDoes)
{
    const Row &row = GetParam();
    Rig rig;
    row.Setup(rig.Image);
    rig.arrive(hex(row.Request));
    if (row.Reply.empty()) {
        EXPECT_TRUE(rig.Line.Writes.empty());
    } else {
        ASSERT_EQ(rig.Line.Writes.size(), 1u);
        EXPECT_EQ(toHex(rig.Line.Writes[0]), toHex(hex(row.Reply)));
    }
    row.Check(rig.Image);
    EXPECT_EQ(rig.Slave.RxCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Engine, Device, ::testing::ValuesIn(rows()),
                         [](const auto &info) { return info.param.Name; });

// The access map keeps ranges sorted and disjoint however they are added:
// a register declared read-only anywhere stays read-only.
TEST(AccessMap, OverlapsSplitAndMerge)
{
    TAccessMap m;
    m.Add(RegTypeHoldingReg, 10, 20, false);
    m.Add(RegTypeHoldingReg, 15, 25, true);
    m.Add(RegTypeHoldingReg, 1, 9, false);
    m.Add(RegTypeHoldingReg, 30, 30, false);
    const std::vector<TAccessRange> want = {{1, 14, false}, {15, 25, true}, {30, 30, false}};
    EXPECT_EQ(m.Ranges(RegTypeHoldingReg), want);
    EXPECT_TRUE(m.Covers(RegTypeHoldingReg, 1, 25));
    EXPECT_FALSE(m.Covers(RegTypeHoldingReg, 1, 26));
    EXPECT_FALSE(m.Covers(RegTypeHoldingReg, 26, 5));
    EXPECT_TRUE(m.Covers(RegTypeHoldingReg, 30, 1));
    EXPECT_FALSE(m.AnyReadOnly(RegTypeHoldingReg, 1, 14));
    EXPECT_TRUE(m.AnyReadOnly(RegTypeHoldingReg, 14, 2));
    EXPECT_FALSE(m.Covers(RegTypeInputReg, 1, 1));
}

// A slave of 65536 registers that uses a few costs a few pages, not 384 KiB.
TEST(RegisterTable, MemoryGrowsWithUse)
{
    TRegisterImage im;
    im.SetRegisterCount(65536);
    const size_t empty = im.MemoryUsed();
    EXPECT_LT(empty, 16u * 1024);
    im.HoldingRegs.Set(40001, 7);
    im.HoldingRegs.Set(40002, 0); // a zero takes no page
    im.InputRegs.Set(1, 0);
    EXPECT_EQ(im.MemoryUsed(), empty + 256 * sizeof(uint16_t));
    // Shrinking drops what lies beyond; growing again reads zeros there.
    im.SetRegisterCount(0);
    EXPECT_EQ(im.TableSize(RegTypeHoldingReg), 256);
    im.HoldingRegs.Set(256, 9);
    im.SetRegisterCount(65536);
    EXPECT_EQ(im.HoldingRegs.Get(40001), 0);
    EXPECT_EQ(im.HoldingRegs.Get(256), 9);
    EXPECT_FALSE(im.WriteRegister(RegTypeHoldingReg, 65537, 1));
    EXPECT_FALSE(im.WriteRegister(2, 1, 1));
    EXPECT_TRUE(im.WriteRegister(RegTypeCoil, 65536, 5));
    EXPECT_EQ(im.ReadRegister(RegTypeCoil, 65536), 1);
}

} // namespace
} // namespace quorlin::test
