// SPDX-License-Identifier: MIT
// The generators of our own scripts.dll, loaded as the program loads it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "scripts/scriptbinding.h"
#include "scripts/scriptint.h"
#include "scripts/verinfo.h"

using namespace quorlin;

namespace
{

const TScriptLibrary &library()
{
    static TScriptLibrary lib;
    static bool loaded = lib.LoadScriptLibrary(QUORLIN_INSTALL_DIR);
    (void)loaded;
    return lib;
}

TScriptFunc entry(const std::string &name)
{
    return FindScriptEntry(library().ScriptList, name);
}

std::vector<uint32_t> run(TScriptFunc f, uint32_t p1, uint32_t p2, uint32_t p3, size_t ticks,
                          TScriptContext &ctx)
{
    std::vector<uint32_t> out;
    for (size_t i = 0; i < ticks; ++i)
        out.push_back(f(p1, p2, p3, &ctx) & 0xFFFF);
    return out;
}

struct Sequence {
    const char *label;
    const char *script;
    uint32_t p1, p2, p3;
    std::vector<uint32_t> expected; // from the first tick of a fresh binding
};

class Generator : public ::testing::TestWithParam<Sequence>
{
};

} // namespace

TEST(OurScriptLibrary, OffersTheGeneratorsWithTextsThatFitTheDialog)
{
    const TScriptList &list = library().ScriptList;
    std::set<std::string> names;
    for (const TScriptItem &item : list) {
        SCOPED_TRACE(item.Name);
        names.insert(item.Name);
        EXPECT_NE(item.Entry, nullptr);
        EXPECT_FALSE(item.Description.empty());
        EXPECT_LE(item.Description.size(), 80u);
        for (const std::string *text : {&item.Param1Text, &item.Param2Text, &item.Param3Text}) {
            EXPECT_FALSE(text->empty());
            EXPECT_LE(text->size(), 55u);
        }
    }
    for (const char *name : {"Ramp", "RampOnce", "Triangle", "Sine", "Square", "Random", "Counter"})
        EXPECT_EQ(names.count(name), 1u) << name;
}

TEST(OurScriptLibrary, CarriesAFileVersion)
{
    TVersionInfo info("scripts.dll", QUORLIN_INSTALL_DIR);
    ASSERT_TRUE(info.Valid());
    EXPECT_FALSE(info.GetFileVersion().empty());
}

TEST_P(Generator, ProducesItsSequence)
{
    const Sequence &s = GetParam();
    TScriptFunc f = entry(s.script);
    ASSERT_NE(f, nullptr);
    TScriptContext ctx{};
    EXPECT_EQ(run(f, s.p1, s.p2, s.p3, s.expected.size(), ctx), s.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, Generator,
    ::testing::Values(
        Sequence{"RampUpLastStepLandsOnToThenWraps", "Ramp", 0, 10, 3, {0, 3, 6, 9, 10, 0, 3}},
        Sequence{"RampDownWhenFromAboveTo", "Ramp", 10, 4, 3, {10, 7, 4, 10, 7}},
        Sequence{"RampStepZeroHoldsFrom", "Ramp", 5, 9, 0, {5, 5, 5}},
        Sequence{"RampFromEqualsTo", "Ramp", 7, 7, 1, {7, 7, 7}},
        Sequence{"RampAtTopOfRangeDoesNotOverflow",
                 "Ramp",
                 65530,
                 65535,
                 4,
                 {65530, 65534, 65535, 65530}},
        Sequence{"RampWholeRangeInOneStep", "Ramp", 0, 65535, 65535, {0, 65535, 0}},
        Sequence{"RampStepLargerThanRange", "Ramp", 3, 5, 100, {3, 5, 3}},
        Sequence{"RampUpperHalfOfSlotsIgnored",
                 "Ramp",
                 0xABCD0000,
                 0x00010002,
                 0xFFFF0001,
                 {0, 1, 2, 0}},
        Sequence{"RampOnceStopsAtTo", "RampOnce", 0, 10, 4, {0, 4, 8, 10, 10, 10}},
        Sequence{"RampOnceDown", "RampOnce", 9, 1, 5, {9, 4, 1, 1}},
        Sequence{"TriangleBounces", "Triangle", 0, 4, 2, {0, 2, 4, 2, 0, 2, 4}},
        Sequence{"TriangleDownFirst", "Triangle", 6, 0, 3, {6, 3, 0, 3, 6, 3}},
        Sequence{"SineQuarterSteps", "Sine", 1000, 5000, 4, {5000, 6000, 5000, 4000, 5000}},
        Sequence{"SineClampedToRange", "Sine", 100, 50, 4, {50, 150, 50, 0, 50}},
        Sequence{"SineClampedAtTop", "Sine", 1000, 65000, 4, {65000, 65535, 65000, 64000}},
        Sequence{"SinePeriodZeroGivesOffset", "Sine", 1000, 123, 0, {123, 123}},
        Sequence{"SquareHalfPeriodTwo", "Square", 0, 1, 2, {0, 0, 1, 1, 0, 0, 1}},
        Sequence{"SquareHalfPeriodZeroTogglesEveryTick", "Square", 3, 7, 0, {3, 7, 3, 7}},
        Sequence{"CounterWrapsAt65536", "Counter", 65534, 1, 1, {65534, 65535, 0, 1}},
        Sequence{"CounterStepsEveryNTicks", "Counter", 10, 5, 2, {10, 10, 15, 15, 20}},
        Sequence{"CounterDownWithStep65535", "Counter", 2, 65535, 0, {2, 1, 0, 65535}},
        Sequence{"RandomMinEqualsMaxIsConstant", "Random", 42, 42, 9, {42, 42, 42}}),
    [](const ::testing::TestParamInfo<Sequence> &info) { return std::string(info.param.label); });

TEST(OurScriptLibrary, TwoContextsOfOneScriptRunIndependently)
{
    TScriptFunc ramp = entry("Ramp");
    ASSERT_NE(ramp, nullptr);
    TScriptContext a{}, b{};
    std::vector<uint32_t> gotA, gotB;
    for (int i = 0; i < 4; ++i) {
        gotA.push_back(ramp(0, 100, 10, &a));
        gotB.push_back(ramp(50, 0, 25, &b));
    }
    EXPECT_EQ(gotA, (std::vector<uint32_t>{0, 10, 20, 30}));
    EXPECT_EQ(gotB, (std::vector<uint32_t>{50, 25, 0, 50}));
}

TEST(OurScriptLibrary, RandomStaysInRangeAndRepeatsForOneSeed)
{
    TScriptFunc random = entry("Random");
    ASSERT_NE(random, nullptr);
    TScriptContext a{}, b{}, c{}, swapped{};
    const auto seqA = run(random, 100, 200, 7, 500, a);
    const auto seqB = run(random, 100, 200, 7, 500, b);
    const auto seqC = run(random, 100, 200, 8, 500, c);
    const auto seqSwapped = run(random, 200, 100, 7, 500, swapped);
    EXPECT_EQ(seqA, seqB);
    EXPECT_NE(seqA, seqC);
    EXPECT_EQ(seqA, seqSwapped); // min > max is taken the other way round
    std::set<uint32_t> seen(seqA.begin(), seqA.end());
    EXPECT_GE(*seen.begin(), 100u);
    EXPECT_LE(*seen.rbegin(), 200u);
    EXPECT_GT(seen.size(), 50u); // spread over the range, not stuck
}

TEST(OurScriptLibrary, RandomCoversTheFullRange)
{
    TScriptFunc random = entry("Random");
    ASSERT_NE(random, nullptr);
    TScriptContext ctx{};
    std::set<uint32_t> seen;
    for (uint32_t v : run(random, 0, 1, 0, 200, ctx))
        seen.insert(v);
    EXPECT_EQ(seen, (std::set<uint32_t>{0, 1}));
    TScriptContext wide{};
    uint32_t top = 0;
    for (uint32_t v : run(random, 0, 65535, 3, 5000, wide))
        top = std::max(top, v);
    EXPECT_GT(top, 60000u);
}
