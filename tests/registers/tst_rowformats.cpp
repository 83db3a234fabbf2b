// SPDX-License-Identifier: MIT
// Which row shows which registers after a sequence of format choices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registers/rowformats.h"

namespace quorlin
{
namespace
{

constexpr TValueFormat U16{TValueKind::Unsigned};
constexpr TValueFormat F32{TValueKind::F32, TWordOrder::CDAB};
constexpr TValueFormat F64{TValueKind::F64, TWordOrder::ABCD};
constexpr TValueFormat Hex{TValueKind::Hex};

struct Step {
    std::vector<int> Rows;
    TValueFormat Format;
};

struct PlanRow {
    const char *Name;
    std::vector<Step> Steps;
    std::string Owners; // row r: '.' shows its own value, a digit names the owner row
};

// Eight rows; the owners string reads top to bottom.
std::string owners(const TRowFormats &F)
{
    std::string s;
    for (int r = 0; r < F.Rows(); ++r)
        s += F.Owner(r) == r ? '.' : char('0' + F.Owner(r));
    return s;
}

class RowFormats : public ::testing::TestWithParam<PlanRow>
{
};

TEST_P(RowFormats, CoverTheRowsBelowAWideFormat)
{
    TRowFormats formats(8);
    for (const Step &s : GetParam().Steps)
        formats.SetMany(s.Rows, s.Format);
    EXPECT_EQ(owners(formats), GetParam().Owners);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, RowFormats,
    ::testing::Values(
        PlanRow{"Nothing", {}, "........"}, PlanRow{"OnePair", {{{2}, F32}}, "...2...."},
        PlanRow{"OneQuad", {{{1}, F64}}, "..111..."},
        PlanRow{"SelectionBecomesPairs", {{{0, 1, 2, 3, 4, 5}, F32}}, ".0.2.4.."},
        PlanRow{"SecondHalfTakesAFormatAndBreaksThePair", {{{2}, F32}, {{3}, Hex}}, "........"},
        PlanRow{"PairInsideAQuadBreaksIt", {{{0}, F64}, {{2}, F32}}, "...2...."},
        PlanRow{"PairAboveAQuadFreesItsTail", {{{1}, F64}, {{0}, F32}}, ".0......"},
        PlanRow{"BackToOneRegister", {{{4}, F64}, {{4}, U16}}, "........"},
        PlanRow{"QuadDoesNotFitAtTheEnd", {{{5}, F64}}, "........"},
        PlanRow{"PairFitsAtTheEnd", {{{6}, F32}}, ".......6"},
        PlanRow{"LastRowCannotPair", {{{7}, F32}}, "........"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(RowFormats, CoveredRowHasNoFormatOfItsOwn)
{
    TRowFormats formats(4);
    ASSERT_TRUE(formats.Set(0, F32));
    EXPECT_EQ(formats.Format(0), F32);
    EXPECT_TRUE(formats.Covered(1));
    EXPECT_EQ(formats.Format(1), U16);
    EXPECT_FALSE(formats.Set(3, F32)); // refused, nothing changed
    EXPECT_EQ(formats.Format(0), F32);
}

} // namespace
} // namespace quorlin
