// SPDX-License-Identifier: MIT
// Bindings and the evaluation pass: what RunScripts queues, and what the image
// holds after the tick applies it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scripts/scriptbinding.h"

using namespace quorlin;

namespace
{

std::string fullLib()
{
    return std::string(QUORLIN_TEST_LIBS) + "/full";
}

class Bindings : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(lib.LoadScriptLibrary(fullLib())); }

    TScriptBinding bind(const std::string &name, int64_t type, int64_t adr, int64_t p1 = 0,
                        int64_t p2 = 0, int64_t p3 = 0)
    {
        return MakeBinding(lib.ScriptList, name, type, adr, p1, p2, p3);
    }

    void tick()
    {
        RunScripts(list, image);
        image.ApplyPendingWrites();
    }

    TScriptLibrary lib;
    TBindingList list;
    TRegisterImage image;
};

} // namespace

TEST(EmptyScript, ReturnsZeroWhateverItIsGiven)
{
    TScriptContext ctx{};
    EXPECT_EQ(EmptyScript(1, 65535, 7, &ctx), 0u);
    EXPECT_EQ(EmptyScript(0, 0, 0, nullptr), 0u);
}

TEST(FindScriptEntry, MatchesWholeNameCaseSensitively)
{
    TScriptContext ctx{};
    auto one = [](uint32_t, uint32_t, uint32_t, TScriptContext *) -> uint32_t { return 1; };
    TScriptList list(2);
    list[0].Name = "Ramp";
    list[0].Entry = one;
    list[1].Name = "Ramp2";
    EXPECT_EQ(FindScriptEntry(list, "Ramp"), static_cast<TScriptFunc>(one));
    EXPECT_EQ(FindScriptEntry(list, "ramp"), nullptr);
    EXPECT_EQ(FindScriptEntry(list, "Ram"), nullptr);
    EXPECT_EQ(FindScriptEntry(list, "Ramp "), nullptr);
    EXPECT_EQ(FindScriptEntry(list, "Ramp2"), nullptr); // listed, not exported
    EXPECT_EQ(FindScriptEntry(list, ""), nullptr);
    EXPECT_EQ(FindScriptEntry({}, "Ramp"), nullptr);
    EXPECT_EQ(one(0, 0, 0, &ctx), 1u);
}

TEST(MakeBinding, KeepsTheLowBitsOfWhatAProfileHolds)
{
    TScriptList none;
    TScriptBinding b = MakeBinding(none, std::string(300, 'n'), 260, 17, -1, 65536, 70000);
    EXPECT_EQ(b.Name, std::string(255, 'n'));
    EXPECT_EQ(b.Entry, nullptr);
    EXPECT_EQ(b.RegType, 4);
    EXPECT_EQ(b.RegAdr, 17u);
    EXPECT_EQ(b.Param1, 65535);
    EXPECT_EQ(b.Param2, 0);
    EXPECT_EQ(b.Param3, 4464);
    const TScriptContext zero{};
    EXPECT_EQ(std::memcmp(&b.Context, &zero, sizeof zero), 0);
}

TEST_F(Bindings, EntryComesFromTheScriptList)
{
    EXPECT_NE(bind("Twin", 4, 1).Entry, nullptr);
    EXPECT_EQ(bind("twin", 4, 1).Entry, nullptr); // the library exports "twin", the list has not
    EXPECT_EQ(bind("Ghost", 4, 1).Entry, nullptr);
    EXPECT_EQ(bind(EmptyScriptName, 4, 1).Entry, nullptr);
}

TEST_F(Bindings, EmptyListQueuesNothing)
{
    RunScripts(list, image);
    EXPECT_TRUE(image.PendingWrites.empty());
}

TEST_F(Bindings, QueuesOneWritePerBindingInListOrder)
{
    list.push_back(bind("Params", 4, 9, 5, 6, 7));
    list.push_back(bind("Big", 3, 2));
    list.push_back(bind("Ghost", 0, 31));
    RunScripts(list, image);
    ASSERT_EQ(image.PendingWrites.size(), 3u);
    EXPECT_EQ(image.PendingWrites[0].RegType, 4);
    EXPECT_EQ(image.PendingWrites[0].RegAdr, 9);
    EXPECT_EQ(image.PendingWrites[0].Value, 5);
    EXPECT_EQ(image.PendingWrites[1].RegType, 3);
    EXPECT_EQ(image.PendingWrites[1].RegAdr, 2);
    EXPECT_EQ(image.PendingWrites[1].Value, 4464); // 70000 keeps its low 16 bits
    EXPECT_EQ(image.PendingWrites[2].RegType, 0);
    EXPECT_EQ(image.PendingWrites[2].RegAdr, 31);
    EXPECT_EQ(image.PendingWrites[2].Value, 0); // not exported: the empty script
    // Each parameter arrived in its place, and the context is the binding's own.
    EXPECT_EQ(list[0].Context.Qword8, 5u | 6u << 16 | uint64_t(7) << 32);
}

TEST_F(Bindings, ScriptReturning70000Writes4464)
{
    list.push_back(bind("Big", 3, 1));
    list.push_back(bind("Big", 4, 1));
    tick();
    EXPECT_EQ(image.InputRegs[1], 4464);
    EXPECT_EQ(image.HoldingRegs[1], 4464);
}

TEST_F(Bindings, LastRegisterOfEachTableIsWritten)
{
    list.push_back(bind("Twin", 0, 2048));
    list.push_back(bind("Twin", 1, 2048));
    list.push_back(bind("Twin", 3, 256));
    list.push_back(bind("Twin", 4, 256));
    tick();
    EXPECT_EQ(image.Coils[2048], 1);
    EXPECT_EQ(image.DiscreteInputs[2048], 1);
    EXPECT_EQ(image.InputRegs[256], 22);
    EXPECT_EQ(image.HoldingRegs[256], 22);
    EXPECT_EQ(image.Coils[2047], 0);
    EXPECT_EQ(image.HoldingRegs[255], 0);
}

TEST_F(Bindings, LaterOfTwoBindingsOnOneRegisterWins)
{
    list.push_back(bind("Calls", 4, 5, 100));
    list.push_back(bind("Twin", 4, 5));
    tick();
    EXPECT_EQ(image.HoldingRegs[5], 22);
    std::swap(list[0], list[1]);
    tick();
    EXPECT_EQ(image.HoldingRegs[5], 102); // Calls' second call, its own count kept
}

TEST_F(Bindings, EmptyScriptHoldsABoundCoilOff)
{
    list.push_back(bind(EmptyScriptName, 0, 3));
    image.QueueWrite(0, 3, 1); // the user's click, queued before the tick
    tick();
    EXPECT_EQ(image.Coils[3], 0);
}

TEST_F(Bindings, UnknownNameWritesZeroAndKeepsItsName)
{
    image.HoldingRegs[7] = 1234;
    list.push_back(bind("NoSuchScript", 4, 7));
    tick();
    EXPECT_EQ(image.HoldingRegs[7], 0);
    EXPECT_EQ(list[0].Name, "NoSuchScript");
}

TEST_F(Bindings, BindingsOutsideTheTablesStayListedAndWriteNothing)
{
    const struct {
        int64_t type, adr;
    } stray[] = {{0, 0},     {0, 2049}, {1, 2049},       {3, 0}, {3, 257}, {4, 257},
                 {4, 65536}, {4, -1},   {4, 4294967295}, {2, 1}, {5, 1},   {255, 1}};
    for (const auto &s : stray)
        list.push_back(bind("Twin", s.type, s.adr));
    TRegisterImage before;
    tick();
    tick();
    EXPECT_EQ(list.size(), std::size(stray));
    EXPECT_EQ(image.Coils, before.Coils);
    EXPECT_EQ(image.DiscreteInputs, before.DiscreteInputs);
    EXPECT_EQ(image.InputRegs, before.InputRegs);
    EXPECT_EQ(image.HoldingRegs, before.HoldingRegs);
    EXPECT_TRUE(image.PendingWrites.empty());
}

TEST_F(Bindings, TwoBindingsOfOneScriptKeepSeparateState)
{
    list.push_back(bind("Calls", 4, 1, 0));
    list.push_back(bind("Calls", 4, 2, 1000));
    tick();
    tick();
    tick();
    EXPECT_EQ(image.HoldingRegs[1], 3);
    EXPECT_EQ(image.HoldingRegs[2], 1003);
}

// Bindings spread over slaves 1 (the first), 2 and 17 of one line.
TEST_F(Bindings, EachSlaveTakesOnlyItsOwnBindingsAndAbsentSlavesTakeNone)
{
    TSlaveSet slaves;
    slaves.Add(2);
    slaves.Add(17);
    const struct {
        int slaveId; // as the binding names it; -1: none, the first slave
        int regAdr;
        int p1;
    } rows[] = {{-1, 1, 10}, {1, 2, 11}, {2, 1, 20}, {17, 3, 170}, {99, 1, 990}};
    for (const auto &r : rows) {
        list.push_back(bind("Calls", 4, r.regAdr, r.p1));
        if (r.slaveId >= 0)
            list.back().SlaveId = r.slaveId;
    }
    for (int i = 0; i < 2; ++i) {
        RunScripts(list, slaves);
        for (int k = 0; k < slaves.Count(); ++k)
            slaves.At(k).ApplyPendingWrites();
    }
    // "Calls" counts its calls up from Param1: two ticks give Param1 + 2.
    const TRegisterImage &one = *slaves.Find(1), &two = *slaves.Find(2), &s17 = *slaves.Find(17);
    EXPECT_EQ(one.HoldingRegs[1], 12);
    EXPECT_EQ(one.HoldingRegs[2], 13);
    EXPECT_EQ(one.HoldingRegs[3], 0);
    EXPECT_EQ(two.HoldingRegs[1], 22);
    EXPECT_EQ(two.HoldingRegs[2], 0);
    EXPECT_EQ(s17.HoldingRegs[3], 172);
    EXPECT_EQ(s17.HoldingRegs[1], 0);
    EXPECT_EQ(list[4].Context.Word2, 2); // slave 99 is absent: its script runs, writes nowhere

    // The first slave's bindings follow it when its id changes.
    ASSERT_TRUE(slaves.ChangeId(1, 5));
    EXPECT_EQ(BindingSlaveId(list[0], slaves), 5);
    EXPECT_EQ(BindingSlaveId(list[2], slaves), 2);
}
