// SPDX-License-Identifier: MIT
// Register names and register values in CSV files: what a good file queues,
// and that any bad line refuses the whole file, naming the line.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine/registercsv.h"

namespace quorlin
{
namespace
{

struct NameRow {
    const char *Text;
    std::optional<TRegisterRef> Ref;
};

class RegisterNames : public ::testing::TestWithParam<NameRow>
{
};

TEST_P(RegisterNames, NameARegisterOrNothing)
{
    const NameRow &row = GetParam();
    EXPECT_EQ(ParseRegisterName(row.Text), row.Ref) << row.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegisterNames,
    ::testing::Values(
        NameRow{"4x0001", TRegisterRef{4, 1}}, NameRow{"4x0256", TRegisterRef{4, 256}},
        NameRow{"3x0100", TRegisterRef{3, 100}}, NameRow{"0x2048", TRegisterRef{0, 2048}},
        NameRow{"1x0017", TRegisterRef{1, 17}}, NameRow{"4X1", TRegisterRef{4, 1}},
        NameRow{"0x00017", TRegisterRef{0, 17}}, NameRow{"4x0257", std::nullopt},
        NameRow{"3x0257", std::nullopt}, NameRow{"0x2049", std::nullopt},
        NameRow{"4x0000", std::nullopt}, NameRow{"5x0001", std::nullopt},
        NameRow{"2x0001", std::nullopt}, NameRow{"4x", std::nullopt}, NameRow{"4x-1", std::nullopt},
        NameRow{"4x+1", std::nullopt}, NameRow{"4x 1", std::nullopt},
        NameRow{"x0001", std::nullopt}, NameRow{"40001", std::nullopt}, NameRow{"", std::nullopt},
        NameRow{"4x99999999999999999999", std::nullopt}));

TEST(RegisterNames, AreWrittenWithFourDigits)
{
    EXPECT_EQ(RegisterName({4, 1}), "4x0001");
    EXPECT_EQ(RegisterName({0, 2048}), "0x2048");
    EXPECT_EQ(RegisterName({3, 256}), "3x0256");
}

const auto SlavesOneAndThree = [](int Id) { return Id == 1 || Id == 3; };
// Slave 1 of the usual sizes, slave 3 serving every register of every table.
const TSlaveTableSize OneUsualThreeWhole = [](int Id, int32_t RegType) {
    return Id == 3 ? MaxTableRegisters : Id == 1 ? RegisterCount(RegType) : 0;
};

TEST(ValuesCsv, GoodFileGivesItsValuesInFileOrder)
{
    const char *text = "\xEF\xBB\xBF"
                       "Slave, Register ,VALUE\r\n"
                       "1,4x0001,1234\r\n"
                       "\r\n"
                       "3,0x0017,1\r\n"
                       "\"1\",\"3x0002\",\"0xBEEF\"\n"
                       ",4x0256,-2\n"
                       " 3 , 1x2048 , 0 \r"
                       "1,4x0001,65535"; // no line end after the last line
    const TValuesImport in = ReadValuesCsv(text, 3, SlavesOneAndThree);
    ASSERT_TRUE(in.Ok) << in.Error;
    const std::vector<TValueEntry> expected = {
        {1, {4, 1}, 1234},     {3, {0, 17}, 1},   {1, {3, 2}, 0xBEEF},
        {3, {4, 256}, 0xFFFE}, {3, {1, 2048}, 0}, {1, {4, 1}, 65535},
    };
    EXPECT_EQ(in.Entries, expected);
}

TEST(ValuesCsv, WithoutSlaveColumnTheSelectedSlaveIsMeant)
{
    const TValuesImport in =
        ReadValuesCsv("register,value\n4x0010,7\n0x0001,1\n", 3, SlavesOneAndThree);
    ASSERT_TRUE(in.Ok) << in.Error;
    const std::vector<TValueEntry> expected = {{3, {4, 10}, 7}, {3, {0, 1}, 1}};
    EXPECT_EQ(in.Entries, expected);
}

TEST(ValuesCsv, SlaveServingTheWholeSpaceTakesItsLastRegisters)
{
    const TValuesImport in = ReadValuesCsv(
        "slave,register,value\n3,4x40001,7\n3,3x65536,0xFFFF\n3,0x65536,1\n1,4x0256,2\n", 1,
        OneUsualThreeWhole);
    ASSERT_TRUE(in.Ok) << in.Error;
    const std::vector<TValueEntry> expected = {
        {3, {4, 40001}, 7}, {3, {3, 65536}, 0xFFFF}, {3, {0, 65536}, 1}, {1, {4, 256}, 2}};
    EXPECT_EQ(in.Entries, expected);
}

TEST(ValuesCsv, HeaderOnlyIsAGoodEmptyFile)
{
    const TValuesImport in = ReadValuesCsv("slave,register,value\r\n", 1, SlavesOneAndThree);
    EXPECT_TRUE(in.Ok);
    EXPECT_TRUE(in.Entries.empty());
}

struct BadFileRow {
    const char *Name;
    const char *Text;
    const char *Error;
};

class ValuesCsvBadLine : public ::testing::TestWithParam<BadFileRow>
{
};

// Every file has good lines too: none of them may come through.
TEST_P(ValuesCsvBadLine, RefusesTheWholeFileNamingTheLine)
{
    const BadFileRow &row = GetParam();
    const TValuesImport in = ReadValuesCsv(row.Text, 1, OneUsualThreeWhole);
    EXPECT_FALSE(in.Ok);
    EXPECT_TRUE(in.Entries.empty());
    EXPECT_EQ(in.Error, row.Error);
}

#define GOOD "slave,register,value\n1,4x0001,5\n3,0x0001,1\n"
INSTANTIATE_TEST_SUITE_P(
    Table, ValuesCsvBadLine,
    ::testing::Values(
        BadFileRow{"NoSuchFamily", GOOD "1,5x0001,1\n", "line 4: 5x0001 is not a register"},
        BadFileRow{"PastTheTable", GOOD "1,4x0257,1\n",
                   "line 4: 4x0257 is past the end of slave 1's table (4x0001 to 4x0256)"},
        BadFileRow{"PastTheBitTable", GOOD "1,1x2049,1\n",
                   "line 4: 1x2049 is past the end of slave 1's table (1x0001 to 1x2048)"},
        // Slave 3's register 65536 is good (GOOD has slave 3 too); nothing is beyond it.
        BadFileRow{"PastTheWholeSpace", GOOD "3,3x65536,1\n3,3x65537,1\n",
                   "line 5: 3x65537 is not a register"},
        BadFileRow{"SelectedSlaveIsTheUsualOne", "register,value\n4x30001,1\n",
                   "line 2: 4x30001 is past the end of slave 1's table (4x0001 to 4x0256)"},
        BadFileRow{"EmptyRegister", GOOD "1,,1\n", "line 4: an empty field is not a register"},
        BadFileRow{"WordTooBig", GOOD "1,4x0002,65536\n",
                   "line 4: 65536 is out of range for 4x0002 (0 to 65535)"},
        BadFileRow{"WordTooNegative", GOOD "1,3x0002,-32769\n",
                   "line 4: -32769 is out of range for 3x0002 (0 to 65535)"},
        BadFileRow{"WordNotANumber", GOOD "1,3x0002,12.5\n",
                   "line 4: 12.5 is not a whole number (3x0002 takes 0 to 65535)"},
        BadFileRow{"WordWholeLookingDecimal", GOOD "1,4x0002,1.0\n",
                   "line 4: 1.0 is not a whole number (4x0002 takes 0 to 65535)"},
        BadFileRow{"BitWord", GOOD "1,0x0017,true\n",
                   "line 4: true is not a whole number (0x0017 takes 0 or 1)"},
        BadFileRow{"BitDecimal", GOOD "1,0x0017,1.0\n",
                   "line 4: 1.0 is not a whole number (0x0017 takes 0 or 1)"},
        BadFileRow{"WordPlusMinus", GOOD "1,4x0002,+-5\n",
                   "line 4: +-5 is not a whole number (4x0002 takes 0 to 65535)"},
        BadFileRow{"HexTooBig", GOOD "1,4x0002,0x10000\n",
                   "line 4: 0x10000 is out of range for 4x0002 (0 to 65535)"},
        BadFileRow{"HexNoDigits", GOOD "1,4x0002,0x\n",
                   "line 4: 0x is not a whole number (4x0002 takes 0 to 65535)"},
        BadFileRow{"BitTwo", GOOD "1,0x0017,2\n", "line 4: 2 is out of range for 0x0017 (0 or 1)"},
        BadFileRow{"BitEmpty", GOOD "1,1x0017,\n", "line 4: 1x0017 has no value (0 or 1)"},
        BadFileRow{"SlaveNotEmulated", GOOD "2,4x0001,1\n", "line 4: slave 2 is not emulated"},
        BadFileRow{"SlaveZero", GOOD "0,4x0001,1\n", "line 4: 0 is not a slave id"},
        BadFileRow{"SlaveTooBig", GOOD "256,4x0001,1\n", "line 4: 256 is not a slave id"},
        BadFileRow{"SlaveWord", GOOD "one,4x0001,1\n", "line 4: one is not a slave id"},
        BadFileRow{"TooFewFields", GOOD "1,4x0001\n", "line 4: expected 3 fields, found 2"},
        BadFileRow{"TooManyFields", GOOD "1,4x0001,1,\n", "line 4: expected 3 fields, found 4"},
        BadFileRow{"UnclosedQuote", GOOD "1,\"4x0001,1\n", "line 4: a quoted field is not closed"},
        BadFileRow{"TextAfterQuote", GOOD "1,\"4x0001\"x,1\n",
                   "line 4: a closing quote must end its field"},
        // A quoted line break moves the line count on.
        BadFileRow{"LineCountAfterQuotedBreak", GOOD "1,\"4x\n0001\",1\n1,4x0001,x\n",
                   "line 4: 4x\n0001 is not a register (and 1 more bad line)"},
        BadFileRow{
            "SeveralBadLines", GOOD "1,4x0001,x\n9,4x0001,1\n1,6x1,1\n",
            "line 4: x is not a whole number (4x0001 takes 0 to 65535) (and 2 more bad lines)"},
        BadFileRow{"WrongHeader", "register;value\n4x0001;1\n",
                   "line 1: the header must be slave,register,value or register,value"},
        BadFileRow{"NoHeader", "1,4x0001,1\n",
                   "line 1: the header must be slave,register,value or register,value"},
        BadFileRow{"Empty", "",
                   "line 1: the file is empty; the header must be slave,register,value or "
                   "register,value"}),
    [](const auto &Info) { return std::string(Info.param.Name); });
#undef GOOD

TEST(ValuesCsv, ExportReadsBackAsEveryRegisterOfEverySlave)
{
    TRegisterImage one, three;
    three.SetRegisterCount(MaxTableRegisters);
    one.HoldingRegs[1] = 1234;
    one.Coils[17] = 1;
    three.InputRegs[256] = 65535;
    three.InputRegs[65536] = 4321;
    three.DiscreteInputs[2048] = 1;
    three.Coils[65536] = 1;
    const TSlaveImage slaves[] = {{1, &one}, {3, &three}};
    const std::string csv = WriteValuesCsv(slaves);

    EXPECT_EQ(csv.substr(0, 22), "slave,register,value\r\n");
    EXPECT_NE(csv.find("\r\n1,4x0001,1234\r\n"), std::string::npos);
    EXPECT_NE(csv.find("\r\n1,0x0017,1\r\n"), std::string::npos);
    EXPECT_NE(csv.find("\r\n3,3x65536,4321\r\n"), std::string::npos);

    const TValuesImport in = ReadValuesCsv(csv, 1, OneUsualThreeWhole);
    ASSERT_TRUE(in.Ok) << in.Error;
    ASSERT_EQ(in.Entries.size(), size_t(2048 + 2048 + 256 + 256 + 4 * MaxTableRegisters));
    TRegisterImage back[2];
    back[1].SetRegisterCount(MaxTableRegisters);
    for (const TValueEntry &e : in.Entries) {
        TRegisterImage &im = back[e.Slave == 1 ? 0 : 1];
        im.QueueWrite(e.Register.RegType, e.Register.RegAdr, e.Value);
    }
    for (TRegisterImage &im : back)
        im.ApplyPendingWrites();
    EXPECT_EQ(back[0].HoldingRegs, one.HoldingRegs);
    EXPECT_EQ(back[0].Coils, one.Coils);
    EXPECT_EQ(back[1].InputRegs, three.InputRegs);
    EXPECT_EQ(back[1].DiscreteInputs, three.DiscreteInputs);
    EXPECT_EQ(back[1].Coils, three.Coils);
}

} // namespace
} // namespace quorlin
