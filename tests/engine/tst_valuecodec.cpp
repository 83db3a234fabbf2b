// SPDX-License-Identifier: MIT
// Typed register values: every format and byte order against vectors worked
// out by hand from the IEEE 754 and two's complement bit patterns.
#include <gtest/gtest.h>

#include <vector>

#include "engine/valuecodec.h"

namespace quorlin
{
namespace
{

using K = TValueKind;
using O = TWordOrder;

struct CodecRow {
    const char *Name;
    TValueFormat Format;
    std::vector<uint16_t> Words; // register n first
    const char *Text;
};

// Each row both ways: the words show as Text, and Text typed gives the words.
const CodecRow RoundTrips[] = {
    // 123.456f = 0x42F6E979
    {"Float32_ABCD", {K::F32, O::ABCD}, {0x42F6, 0xE979}, "123.456"},
    {"Float32_CDAB", {K::F32, O::CDAB}, {0xE979, 0x42F6}, "123.456"},
    {"Float32_BADC", {K::F32, O::BADC}, {0xF642, 0x79E9}, "123.456"},
    {"Float32_DCBA", {K::F32, O::DCBA}, {0x79E9, 0xF642}, "123.456"},
    {"Float32_Negative", {K::F32, O::ABCD}, {0xBFC0, 0x0000}, "-1.5"},
    // -2 = 0xFFFFFFFE
    {"Int32_ABCD", {K::S32, O::ABCD}, {0xFFFF, 0xFFFE}, "-2"},
    {"Int32_CDAB", {K::S32, O::CDAB}, {0xFFFE, 0xFFFF}, "-2"},
    {"Int32_BADC", {K::S32, O::BADC}, {0xFFFF, 0xFEFF}, "-2"},
    {"Int32_DCBA", {K::S32, O::DCBA}, {0xFEFF, 0xFFFF}, "-2"},
    {"Int32_Lowest", {K::S32, O::ABCD}, {0x8000, 0x0000}, "-2147483648"},
    // 305419896 = 0x12345678
    {"UInt32_ABCD", {K::U32, O::ABCD}, {0x1234, 0x5678}, "305419896"},
    {"UInt32_CDAB", {K::U32, O::CDAB}, {0x5678, 0x1234}, "305419896"},
    {"UInt32_BADC", {K::U32, O::BADC}, {0x3412, 0x7856}, "305419896"},
    {"UInt32_DCBA", {K::U32, O::DCBA}, {0x7856, 0x3412}, "305419896"},
    {"UInt32_Highest", {K::U32, O::CDAB}, {0xFFFF, 0xFFFF}, "4294967295"},
    // 123.456 = 0x405EDD2F1A9FBE77
    {"Float64_ABCD", {K::F64, O::ABCD}, {0x405E, 0xDD2F, 0x1A9F, 0xBE77}, "123.456"},
    {"Float64_CDAB", {K::F64, O::CDAB}, {0xBE77, 0x1A9F, 0xDD2F, 0x405E}, "123.456"},
    {"Float64_BADC", {K::F64, O::BADC}, {0x5E40, 0x2FDD, 0x9F1A, 0x77BE}, "123.456"},
    {"Float64_DCBA", {K::F64, O::DCBA}, {0x77BE, 0x9F1A, 0x2FDD, 0x5E40}, "123.456"},
    {"Float64_Tenth", {K::F64, O::ABCD}, {0xBFB9, 0x9999, 0x9999, 0x999A}, "-0.1"},
    // one register; the order does not apply
    {"Unsigned_Highest", {K::Unsigned, O::DCBA}, {0xFFFF}, "65535"},
    {"Signed_MinusOne", {K::Signed, O::ABCD}, {0xFFFF}, "-1"},
    {"Signed_Lowest", {K::Signed, O::ABCD}, {0x8000}, "-32768"},
    {"Hex_FourDigits", {K::Hex, O::ABCD}, {0x00FF}, "0x00FF"},
    {"Binary_Grouped", {K::Binary, O::ABCD}, {0x80FF}, "1000 0000 1111 1111"},
    {"Ascii_HighByteFirst", {K::Ascii, O::ABCD}, {0x4142}, "AB"},
    {"Ascii_Unprintable", {K::Ascii, O::ABCD}, {0x005A}, "\\x00Z"},
    {"Ascii_Backslash", {K::Ascii, O::ABCD}, {0x5C20}, "\\\\ "},
};

class ValueCodec : public ::testing::TestWithParam<CodecRow>
{
};

TEST_P(ValueCodec, ShowsTheWordsAsTheText)
{
    const CodecRow &row = GetParam();
    ASSERT_EQ(row.Words.size(), size_t(RegisterSpan(row.Format.Kind)));
    EXPECT_EQ(FormatValue(row.Format, row.Words), row.Text);
}

TEST_P(ValueCodec, TypedTextGivesTheWords)
{
    const CodecRow &row = GetParam();
    const TParsedValue parsed = ParseValue(row.Format, row.Text);
    ASSERT_TRUE(parsed.Ok) << parsed.Error;
    for (size_t i = 0; i < row.Words.size(); ++i)
        EXPECT_EQ(parsed.Words[i], row.Words[i]) << "register " << i;
}

INSTANTIATE_TEST_SUITE_P(Formats, ValueCodec, ::testing::ValuesIn(RoundTrips),
                         [](const auto &Info) { return std::string(Info.param.Name); });

struct TypedRow {
    const char *Name;
    TValueFormat Format;
    const char *Text;
    std::vector<uint16_t> Words; // empty: refused
};

const TypedRow Typed[] = {
    {"SpacesAroundANumber", {K::Unsigned}, " 42 ", {42}},
    {"PlusSign", {K::Unsigned}, "+7", {7}},
    {"UnsignedTooBig", {K::Unsigned}, "65536", {}},
    {"UnsignedNegative", {K::Unsigned}, "-1", {}},
    {"UnsignedWithLetters", {K::Unsigned}, "12a", {}},
    {"Empty", {K::Unsigned}, "", {}},
    {"Blank", {K::S32}, "   ", {}},
    {"SignedTooBig", {K::Signed}, "32768", {}},
    {"SignedTooSmall", {K::Signed}, "-32769", {}},
    {"SignedFarTooBig", {K::Signed}, "99999999999999999999999", {}},
    {"UInt32TooBig", {K::U32}, "4294967296", {}},
    {"UInt32Negative", {K::U32}, "-1", {}},
    {"Int32TooBig", {K::S32}, "2147483648", {}},
    {"Int32TooSmall", {K::S32}, "-2147483649", {}},
    {"Float32Largest", {K::F32, O::ABCD}, "3.4028235e38", {0x7F7F, 0xFFFF}},
    {"Float32Overflow", {K::F32}, "1e39", {}},
    {"Float64Overflow", {K::F64}, "1e309", {}},
    {"FloatDecimalComma", {K::F32}, "1,5", {}},
    {"FloatWord", {K::F32}, "abc", {}},
    {"FloatExponent", {K::F32, O::ABCD}, "-1.5e0", {0xBFC0, 0x0000}},
    {"HexWithoutPrefix", {K::Hex}, "ff", {0x00FF}},
    {"HexUpperPrefix", {K::Hex}, "0XBEEF", {0xBEEF}},
    {"HexTooBig", {K::Hex}, "0x10000", {}},
    {"HexLeadingZeros", {K::Hex}, "0x0000FFFF", {0xFFFF}},
    {"HexNotADigit", {K::Hex}, "0xG", {}},
    {"HexPrefixOnly", {K::Hex}, "0x", {}},
    {"BinaryPrefix", {K::Binary}, "0b101", {5}},
    {"BinarySeventeenBits", {K::Binary}, "1 0000 0000 0000 0000", {}},
    {"BinaryTwo", {K::Binary}, "102", {}},
    {"AsciiOneCharacter", {K::Ascii}, "A", {}},
    {"AsciiThreeCharacters", {K::Ascii}, "ABC", {}},
    {"AsciiHexEscape", {K::Ascii}, "\\x7f\\xFF", {0x7FFF}},
    {"AsciiBadEscape", {K::Ascii}, "\\q", {}},
    {"AsciiNotAscii", {K::Ascii}, "\xC3\xA9", {}},
    {"Float32SubnormalIsKept", {K::F32, O::ABCD}, "1e-40", {0x0001, 0x16C2}},
    {"Float32SmallestNormal", {K::F32, O::ABCD}, "1.17549435e-38", {0x0080, 0x0000}},
    {"Float64Subnormal", {K::F64, O::ABCD}, "5e-324", {0, 0, 0, 1}},
    {"NegativeZeroIsNoUnderflow", {K::F32, O::ABCD}, "-0.0", {0x8000, 0x0000}},
};

class TypedValue : public ::testing::TestWithParam<TypedRow>
{
};

TEST_P(TypedValue, IsReadOrRefusedWithAReason)
{
    const TypedRow &row = GetParam();
    const TParsedValue parsed = ParseValue(row.Format, row.Text);
    if (row.Words.empty()) {
        EXPECT_FALSE(parsed.Ok);
        EXPECT_FALSE(parsed.Error.empty());
        return;
    }
    ASSERT_TRUE(parsed.Ok) << parsed.Error;
    for (size_t i = 0; i < row.Words.size(); ++i)
        EXPECT_EQ(parsed.Words[i], row.Words[i]) << "register " << i;
}

INSTANTIATE_TEST_SUITE_P(Typing, TypedValue, ::testing::ValuesIn(Typed),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ValueCodecNames, RefusalNamesTheFormatAndItsRange)
{
    EXPECT_EQ(ParseValue({K::Unsigned}, "70000").Error,
              "'70000' does not fit Unsigned (0 to 65535)");
    EXPECT_EQ(ParseValue({K::F32, O::CDAB}, "1e39").Error, "'1e39' does not fit Float 32 CD AB");
}

// Each kind of bad number gets the same reason whatever the format, and a
// number too small for a float is refused like one too large instead of
// becoming 0 without a word.
struct ReasonRow {
    const char *Name;
    TValueFormat Format;
    const char *Text;
    const char *Reason;
};

const ReasonRow Reasons[] = {
    {"PlusMinus", {K::Unsigned}, "+-5", "'+-5' is not a whole number"},
    {"PlusMinusSigned", {K::Signed}, "+-5", "'+-5' is not a whole number"},
    {"MinusPlus", {K::S32}, "-+5", "'-+5' is not a whole number"},
    {"DoublePlus", {K::U32}, "++5", "'++5' is not a whole number"},
    {"PlusMinusFloat", {K::F32}, "+-5", "'+-5' is not a number"},
    {"PlusAlone", {K::F64}, "+", "'+' is not a number"},
    {"DecimalPointInInteger", {K::Signed}, "1.0", "'1.0' is not a whole number"},
    {"WordInInteger", {K::Unsigned}, "true", "'true' is not a whole number"},
    {"Float32Underflow", {K::F32}, "1e-50",
     "'1e-50' does not fit Float 32 AB CD (too small: it would be stored as 0)"},
    {"Float32FarUnderflow", {K::F32}, "1e-400",
     "'1e-400' does not fit Float 32 AB CD (too small: it would be stored as 0)"},
    {"Float64Underflow", {K::F64}, "1e-400",
     "'1e-400' does not fit Float 64 AB CD (too small: it would be stored as 0)"},
    {"Float64BeyondLongDouble", {K::F64}, "-1e-99999",
     "'-1e-99999' does not fit Float 64 AB CD (too small: it would be stored as 0)"},
    {"Float64Overflow", {K::F64}, "-1e400", "'-1e400' does not fit Float 64 AB CD"},
    {"NaN", {K::F32}, "nan", "'nan' is not a finite number (enter its bits in Hex instead)"},
    {"Infinity", {K::F64}, "-infinity",
     "'-infinity' is not a finite number (enter its bits in Hex instead)"},
    {"PlusInf", {K::F32}, "+INF", "'+INF' is not a finite number (enter its bits in Hex instead)"},
};

class RefusedValue : public ::testing::TestWithParam<ReasonRow>
{
};

TEST_P(RefusedValue, SaysWhy)
{
    const TParsedValue parsed = ParseValue(GetParam().Format, GetParam().Text);
    EXPECT_FALSE(parsed.Ok);
    EXPECT_EQ(parsed.Error, GetParam().Reason);
}

INSTANTIATE_TEST_SUITE_P(Typing, RefusedValue, ::testing::ValuesIn(Reasons),
                         [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace quorlin
