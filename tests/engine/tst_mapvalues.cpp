// SPDX-License-Identifier: MIT
// A mapped item's value as the register table shows and takes it: typed and
// engineering values to registers and back, refusals, and the format words
// a profile stores for a row.
#include <gtest/gtest.h>

#include "engine/devicemap.h"

namespace quorlin::test
{
namespace
{

TMapItem item(TValueKind Kind, TWordOrder Order, double Scale, double Offset, int Ascii = 0)
{
    TMapItem i;
    i.Register = {RegTypeHoldingReg, 40001};
    i.Format = {Kind, Order};
    i.Scale = Scale;
    i.Offset = Offset;
    i.AsciiLength = Ascii;
    return i;
}

struct EngineeringRow {
    const char *Name;
    TMapItem Item;
    const char *Typed;           // engineering value typed
    std::vector<uint16_t> Words; // registers written; empty: refused
    const char *Shown;           // engineering text of those registers
};

class Engineering : public ::testing::TestWithParam<EngineeringRow>
{
};

TEST_P(Engineering, WritesTheScaledRegistersAndShowsThemBack)
{
    const EngineeringRow &row = GetParam();
    const TItemWords w = ItemWordsFromEngineering(row.Item, row.Typed);
    ASSERT_EQ(w.Ok, !row.Words.empty()) << w.Error;
    if (!w.Ok) {
        EXPECT_FALSE(w.Error.empty());
        return;
    }
    EXPECT_EQ(w.Words, row.Words);
    EXPECT_EQ(ItemEngineeringText(row.Item, w.Words), row.Shown);
}

constexpr auto ABCD = TWordOrder::ABCD;
constexpr auto CDAB = TWordOrder::CDAB;

INSTANTIATE_TEST_SUITE_P(
    Table, Engineering,
    ::testing::Values(
        // 49.5 Hz at 0.1 Hz per count: 495.
        EngineeringRow{
            "TenthsRound", item(TValueKind::Unsigned, ABCD, 0.1, 0), "49.5", {495}, "49.5"},
        // 49.56 / 0.1 = 495.6: the nearest count, not the truncated 495.
        EngineeringRow{
            "NearestCount", item(TValueKind::Unsigned, ABCD, 0.1, 0), "49.56", {496}, "49.6"},
        // An offset: -40 degC at 0.5 per count from -40 is 0.
        EngineeringRow{"Offset", item(TValueKind::Signed, ABCD, 0.5, -40), "-40", {0}, "-40"},
        EngineeringRow{
            "SignedNegative", item(TValueKind::Signed, ABCD, 1, 0), "-2", {0xFFFE}, "-2"},
        EngineeringRow{"UnsignedBelowZero", item(TValueKind::Unsigned, ABCD, 1, 0), "-1", {}, ""},
        EngineeringRow{
            "UnsignedTooBig", item(TValueKind::Unsigned, ABCD, 0.1, 0), "6553.6", {}, ""},
        EngineeringRow{"NotANumber", item(TValueKind::Unsigned, ABCD, 1, 0), "12V", {}, ""},
        EngineeringRow{"Empty", item(TValueKind::Unsigned, ABCD, 1, 0), "", {}, ""},
        // 1e300 must not reach an integer conversion.
        EngineeringRow{"HugeForS64", item(TValueKind::S64, ABCD, 1, 0), "1e300", {}, ""},
        EngineeringRow{"U64Top",
                       item(TValueKind::U64, ABCD, 1, 0),
                       "18446744073709549568",
                       {0xFFFF, 0xFFFF, 0xFFFF, 0xF800},
                       "18446744073709549568"},
        // f32 "CD AB": 230.5 = 0x43668000, low word first.
        EngineeringRow{"FloatWordSwapped",
                       item(TValueKind::F32, CDAB, 1, 0),
                       "230.5",
                       {0x8000, 0x4366},
                       "230.5"},
        EngineeringRow{
            "FloatScaled", item(TValueKind::F32, ABCD, 1000, 0), "1500", {0x3FC0, 0x0000}, "1500"},
        // A hexadecimal register takes its engineering value as a number.
        EngineeringRow{"HexAsNumber", item(TValueKind::Hex, ABCD, 1, 0), "255", {0x00FF}, "255"},
        EngineeringRow{"AsciiHasNone", item(TValueKind::Ascii, ABCD, 1, 0, 4), "1", {}, ""}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(MapValues, TypedTextTakesTheItemsTypeAndAsciiLength)
{
    const TMapItem serial = item(TValueKind::Ascii, ABCD, 1, 0, 6);
    const TItemWords w = ItemWordsFromText(serial, "QRL-1");
    ASSERT_TRUE(w.Ok) << w.Error;
    EXPECT_EQ(w.Words, (std::vector<uint16_t>{0x5152, 0x4C2D, 0x3100}));
    EXPECT_EQ(ItemValueText(serial, w.Words), "QRL-1");
    EXPECT_FALSE(ItemWordsFromText(serial, "TOO-LONG").Ok) << "7 characters do not fit 6";
    EXPECT_FALSE(ItemWordsFromText(item(TValueKind::S32, ABCD, 1, 0), "2147483648").Ok);
}

TEST(MapValues, FormatWordsRoundTripAndRefuseOrdersOfOneRegister)
{
    for (const auto kind : {TValueKind::Unsigned, TValueKind::Signed, TValueKind::Hex,
                            TValueKind::Binary, TValueKind::Ascii, TValueKind::U32, TValueKind::S32,
                            TValueKind::F32, TValueKind::U64, TValueKind::S64, TValueKind::F64})
        for (const auto order :
             {TWordOrder::ABCD, TWordOrder::CDAB, TWordOrder::BADC, TWordOrder::DCBA}) {
            const TValueFormat f{kind, RegisterSpan(kind) > 1 ? order : TWordOrder::ABCD};
            EXPECT_EQ(ParseFormatType(FormatTypeText(f)), f) << FormatTypeText(f);
        }
    EXPECT_EQ(FormatTypeText({TValueKind::F32, TWordOrder::CDAB}), "f32 CDAB");
    EXPECT_EQ(ParseFormatType(" F64  dc ba "), (TValueFormat{TValueKind::F64, TWordOrder::DCBA}));
    EXPECT_FALSE(ParseFormatType("u16 CDAB")) << "one register has no word order";
    EXPECT_FALSE(ParseFormatType("ascii8")) << "a row format is one register of ASCII";
    EXPECT_FALSE(ParseFormatType("f32 ACBD"));
    EXPECT_FALSE(ParseFormatType(""));
}

} // namespace
} // namespace quorlin::test
