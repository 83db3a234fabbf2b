// SPDX-License-Identifier: MIT
// Register maps in CSV: what a good map gives, why a bad one is refused
// whole, and that writing what was read gives the same items back.
#include <gtest/gtest.h>

#include "engine/devicemap.h"

namespace quorlin::test
{
namespace
{

#define HEADER "slave,register,name,type,order,scale,offset,unit,access,value\n"

TEST(DeviceMap, ReadsEveryColumn)
{
    const TMapImport m = ReadMapCsv(HEADER
                                    "1,3x30001,Voltage L1,f32,CD AB,0.1,-5,V,ro,230.5\n"
                                    ",4x40001,Set point,s64,dcba,,,,rw,-2\n"
                                    "2,0x0001,Run,bit,,,,,,1\n"
                                    "1,4x0100,Serial,ascii8,,,,,ro, AB\"C\n",
                                    7);
    ASSERT_TRUE(m.Ok) << m.Error;
    ASSERT_EQ(m.Items.size(), 4u);
    const TMapItem &v = m.Items[0];
    EXPECT_EQ(v.Register, (TRegisterRef{RegTypeInputReg, 30001}));
    EXPECT_EQ(v.Format, (TValueFormat{TValueKind::F32, TWordOrder::CDAB}));
    EXPECT_EQ(v.Scale, 0.1);
    EXPECT_EQ(v.Offset, -5);
    EXPECT_EQ(v.Unit, "V");
    EXPECT_TRUE(v.ReadOnly);
    EXPECT_EQ(m.Items[1].Slave, 7); // an empty slave is the selected one
    EXPECT_EQ(m.Items[1].Format, (TValueFormat{TValueKind::S64, TWordOrder::DCBA}));
    EXPECT_EQ(ItemSpan(m.Items[3]), 4);
    EXPECT_EQ(m.Items[3].Value, " AB\"C");

    // First values land in the tables in their type and order.
    TRegisterTables t;
    t.SetRegisterCount(65536);
    TAccessMap access;
    ApplyMap(m.Items, 1, t, access);
    // 230.5f = 0x43668000, words swapped.
    EXPECT_EQ(t.InputRegs.Get(30001), 0x8000);
    EXPECT_EQ(t.InputRegs.Get(30002), 0x4366);
    EXPECT_EQ(t.HoldingRegs.Get(100), 0x2041); // ' ' 'A'
    EXPECT_EQ(t.HoldingRegs.Get(102), 0x4300); // 'C', then NUL
    EXPECT_EQ(t.HoldingRegs.Get(40001), 0);    // slave 7's item
    EXPECT_TRUE(access.Covers(RegTypeInputReg, 30001, 2));
    EXPECT_TRUE(access.AnyReadOnly(RegTypeHoldingReg, 103, 1));
    EXPECT_FALSE(access.Covers(RegTypeHoldingReg, 104, 1));
}

struct BadRow {
    const char *Name;
    std::string Text;
    std::string Error;
};

class BadMap : public ::testing::TestWithParam<BadRow>
{
};

TEST_P(BadMap, IsRefusedWholeWithLineAndReason)
{
    const TMapImport m = ReadMapCsv(GetParam().Text, 1);
    EXPECT_FALSE(m.Ok);
    EXPECT_TRUE(m.Items.empty());
    EXPECT_EQ(m.Error, GetParam().Error);
}

#define GOOD "1,4x0001,a,u16,,,,,,\n"
INSTANTIATE_TEST_SUITE_P(
    Map, BadMap,
    ::testing::Values(
        BadRow{"Empty", "",
               "line 1: the file is empty; the header must be slave,register,name,type,order,"
               "scale,offset,unit,access,value"},
        BadRow{"WrongHeader", "register,value\n",
               "line 1: the header must be slave,register,name,type,order,scale,offset,unit,"
               "access,value"},
        BadRow{"RegisterZero", HEADER GOOD "1,4x0000,b,u16,,,,,,\n",
               "line 3: 4x0000 is not a register"},
        BadRow{"Register65537", HEADER "1,3x65537,b,u16,,,,,,\n",
               "line 2: 3x65537 is not a register"},
        BadRow{"WideItemPastTheEnd", HEADER "1,4x65534,b,f64,,,,,,\n",
               "line 2: 4x65534 as f64 runs past register 65536"},
        BadRow{"UnknownType", HEADER "1,4x1,b,float,,,,,,\n",
               "line 2: float is not a type (u16, s16, hex, bits, ascii, asciiN, u32, s32, f32, "
               "u64, s64, f64)"},
        BadRow{"AsciiTooLong", HEADER "1,4x1,b,ascii65,,,,,,\n",
               "line 2: ascii65 is not a type (u16, s16, hex, bits, ascii, asciiN, u32, s32, "
               "f32, u64, s64, f64)"},
        BadRow{"BitWithWordType", HEADER "1,0x1,b,u16,,,,,,\n",
               "line 2: 0x1 is a bit: its type is bit or empty, not u16"},
        BadRow{"BadOrder", HEADER "1,4x1,b,u32,ABDC,,,,,\n",
               "line 2: ABDC is not an order (ABCD, CDAB, BADC, DCBA)"},
        BadRow{"ZeroScale", HEADER "1,4x1,b,u16,,0,,,,\n",
               "line 2: 0 is not a scale (a number other than 0)"},
        BadRow{"BadAccess", HEADER "1,4x1,b,u16,,,,,wo,\n", "line 2: wo is not an access (rw or ro)"},
        BadRow{"ValueOutOfType", HEADER "1,4x1,b,s16,,,,,,40000\n",
               "line 2: '40000' is not a value of type s16"},
        BadRow{"U64TooBig", HEADER "1,4x1,b,u64,,,,,,18446744073709551616\n",
               "line 2: '18446744073709551616' is not a value of type u64"},
        BadRow{"AsciiValueTooLong", HEADER "1,4x1,b,ascii3,,,,,,ABCD\n",
               "line 2: 'ABCD' is not a value of type ascii3"},
        BadRow{"Overlap", HEADER "1,4x10,a,f64,,,,,,\n1,4x13,b,u16,,,,,,\n",
               "line 3: 4x13 overlaps the item of line 2"},
        BadRow{"OverlapFromBelow", HEADER "1,4x13,a,u16,,,,,,\n1,4x10,b,u64,,,,,,\n",
               "line 3: 4x10 overlaps the item of line 2"},
        BadRow{"SlaveOutOfRange", HEADER "256,4x1,a,u16,,,,,,\n",
               "line 2: 256 is not a slave id"},
        BadRow{"FieldCount", HEADER "1,4x1,a,u16\n1,4x2\n",
               "line 2: expected 10 fields, found 4 (and 1 more bad line)"}),
    [](const auto &info) { return std::string(info.param.Name); });

// The same register in two slaves, or in two tables, is no overlap.
TEST(DeviceMap, SameNumberInOtherSlavesAndTablesIsAllowed)
{
    const TMapImport m =
        ReadMapCsv(HEADER "1,4x1,a,u32,,,,,,\n2,4x1,a,u32,,,,,,\n1,3x1,a,u32,,,,,,\n", 1);
    EXPECT_TRUE(m.Ok) << m.Error;
}

TEST(DeviceMap, WritingWhatWasReadGivesTheSameFile)
{
    const std::string file = "slave,register,name,type,order,scale,offset,unit,access,value\r\n"
                             "1,3x30001,\"Voltage, L1\",f32,CDAB,0.1,-5,V,ro,230.5\r\n"
                             "1,4x40001,Energy,u64,DCBA,1,0,Wh,rw,18446744073709551615\r\n"
                             "3,0x0001,Run,bit,,1,0,,rw,1\r\n"
                             "3,4x0001,Serial,ascii5,,1,0,,ro,\" A,B \"\r\n"
                             "3,4x0010,Status,bits,,1,0,,ro,\r\n";
    const TMapImport m = ReadMapCsv(file, 1);
    ASSERT_TRUE(m.Ok) << m.Error;
    EXPECT_EQ(WriteMapCsv(m.Items), file);
    const TMapImport again = ReadMapCsv(WriteMapCsv(m.Items), 9);
    EXPECT_EQ(again.Items, m.Items);
}

} // namespace
} // namespace quorlin::test
