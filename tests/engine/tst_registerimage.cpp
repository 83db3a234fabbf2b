// SPDX-License-Identifier: MIT
// The pending-write queue: what the tick stores, in which order, and what it
// refuses to store.
#include <gtest/gtest.h>

#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

TEST(PendingWrites, WholeSixteenBitValueDecidesABit)
{
    TRegisterImage im;
    im.QueueWrite(RegTypeCoil, 5, 256); // low byte 0, still "on"
    im.QueueWrite(RegTypeDiscreteInput, 7, 0x8000);
    im.ApplyPendingWrites();
    EXPECT_EQ(im.Coils[5], 1);
    EXPECT_EQ(im.DiscreteInputs[7], 1);
}

TEST(PendingWrites, ValueKeepsItsLowSixteenBits)
{
    TRegisterImage im;
    im.HoldingRegs[3] = 9;
    im.Coils[3] = 1;
    im.QueueWrite(RegTypeHoldingReg, 3, 65536);
    im.QueueWrite(RegTypeCoil, 3, 65536);
    im.QueueWrite(RegTypeInputReg, 4, 0x12345678);
    EXPECT_EQ(im.PendingWrites.front().Value, 0);
    im.ApplyPendingWrites();
    EXPECT_EQ(im.HoldingRegs[3], 0);
    EXPECT_EQ(im.Coils[3], 0);
    EXPECT_EQ(im.InputRegs[4], 0x5678);
}

TEST(PendingWrites, TwoClicksBeforeATickToggleOnce)
{
    TRegisterImage im;
    for (int click = 0; click < 2; ++click)
        im.QueueWrite(RegTypeCoil, 1, im.Coils[1] == 0 ? 1 : 0);
    im.ApplyPendingWrites();
    EXPECT_EQ(im.Coils[1], 1);
}

TEST(PendingWrites, AppliedOldestFirstSoTheLastOneStays)
{
    TRegisterImage im;
    im.QueueWrite(RegTypeInputReg, 2, 10);
    im.QueueWrite(RegTypeInputReg, 2, 20);
    im.QueueWrite(RegTypeInputReg, 2, 30);
    im.ApplyPendingWrites();
    EXPECT_EQ(im.InputRegs[2], 30);
    EXPECT_TRUE(im.PendingWrites.empty());
}

TEST(PendingWrites, QueuedWriteOverwritesAMastersWriteAtTheNextTick)
{
    Rig rig;
    rig.Image.QueueWrite(RegTypeHoldingReg, 1, 7); // scroll bar
    rig.arrive(hex("01 06 00 00 00 2A crc"));      // master writes 42
    EXPECT_EQ(rig.Image.HoldingRegs[1], 42);       // lands at once
    rig.Image.ApplyPendingWrites();
    EXPECT_EQ(rig.Image.HoldingRegs[1], 7);
}

TEST(PendingWrites, RecordsOutsideTheirTableAreDropped)
{
    TRegisterImage im;
    const int32_t types[] = {RegTypeCoil, RegTypeDiscreteInput, RegTypeInputReg, RegTypeHoldingReg};
    for (int32_t t : types) {
        const int32_t past = (t <= RegTypeDiscreteInput) ? 2049 : 257;
        for (int32_t adr : {0, -1, past, past + 1000, INT32_MIN, INT32_MAX})
            im.QueueWrite(t, adr, 1);
    }
    im.QueueWrite(RegTypeCoil, 2048, 1); // the last valid ones still land
    im.QueueWrite(RegTypeHoldingReg, 256, 77);
    im.ApplyPendingWrites();
    EXPECT_TRUE(im.PendingWrites.empty());
    EXPECT_EQ(im.Coils[0], 0);
    EXPECT_EQ(im.DiscreteInputs[0], 0);
    EXPECT_EQ(im.InputRegs[0], 0);
    EXPECT_EQ(im.HoldingRegs[0], 0);
    EXPECT_EQ(im.Coils[2048], 1);
    EXPECT_EQ(im.HoldingRegs[256], 77);
    int set = 0;
    for (auto v : im.Coils)
        set += v;
    for (auto v : im.DiscreteInputs)
        set += v;
    for (auto v : im.InputRegs)
        set += v != 0;
    for (auto v : im.HoldingRegs)
        set += v != 0;
    EXPECT_EQ(set, 2);
}

TEST(PendingWrites, UnknownTypeCodesStoreNothing)
{
    TRegisterImage im;
    for (int32_t t : {2, 5, -1, 40})
        im.QueueWrite(t, 1, 1);
    im.ApplyPendingWrites();
    EXPECT_TRUE(im.PendingWrites.empty());
    EXPECT_EQ(im.Coils[1] + im.DiscreteInputs[1], 0);
    EXPECT_EQ(im.InputRegs[1] + im.HoldingRegs[1], 0);
}

TEST(PendingWrites, ClearDropsEverythingUnapplied)
{
    TRegisterImage im;
    im.QueueWrite(RegTypeHoldingReg, 1, 5);
    im.ClearPendingWrites();
    im.ApplyPendingWrites();
    EXPECT_EQ(im.HoldingRegs[1], 0);
}

TEST(RegisterImage, ClearImageZeroesEveryEntryIndexZeroIncluded)
{
    TRegisterImage im;
    im.Coils.fill(1);
    im.DiscreteInputs.fill(1);
    im.InputRegs.fill(0xFFFF);
    im.HoldingRegs.fill(0xFFFF);
    im.ClearImage();
    for (auto v : im.Coils)
        ASSERT_EQ(v, 0);
    for (auto v : im.DiscreteInputs)
        ASSERT_EQ(v, 0);
    for (auto v : im.InputRegs)
        ASSERT_EQ(v, 0);
    for (auto v : im.HoldingRegs)
        ASSERT_EQ(v, 0);
}

TEST(RegisterImage, IndexZeroStaysZeroUnderMasterWritesAndClicks)
{
    Rig rig;
    rig.arrive(hex("01 0F 00 00 00 10 02 FF FF crc"));
    rig.arrive(hex("01 10 00 00 00 02 04 FF FF FF FF crc"));
    rig.arrive(hex("01 05 00 00 FF 00 crc"));
    rig.arrive(hex("01 06 00 00 FF FF crc"));
    for (int32_t t : {0, 1, 3, 4})
        for (int32_t adr : {0, 1})
            rig.Image.QueueWrite(t, adr, 0xFFFF);
    rig.Image.ApplyPendingWrites();
    EXPECT_EQ(rig.Line.Writes.size(), 4u);
    EXPECT_EQ(rig.Image.Coils[0], 0);
    EXPECT_EQ(rig.Image.DiscreteInputs[0], 0);
    EXPECT_EQ(rig.Image.InputRegs[0], 0);
    EXPECT_EQ(rig.Image.HoldingRegs[0], 0);
    EXPECT_EQ(rig.Image.Coils[16], 1);
}

TEST(RegisterImage, BitHelpersPackLeastSignificantBitFirst)
{
    uint8_t b = 0;
    for (int j : {0, 3, 7})
        b = SetBit(b, j);
    EXPECT_EQ(b, 0x89);
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(BitIsSet(b, j), j == 0 || j == 3 || j == 7) << j;
}

} // namespace
} // namespace quorlin::test
