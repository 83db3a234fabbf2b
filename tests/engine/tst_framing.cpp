// SPDX-License-Identifier: MIT
// How the receive step turns events into requests: pieces, the time-out, the
// overflow rule, ids, CRC errors, unknown codes and what Read really placed.
#include <gtest/gtest.h>

#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

const Bytes ReadTen = hex("01 03 00 00 00 0A C5 CD"); // fn 3, A = 0, Q = 10

TEST(RtuFraming, RequestSplitAcrossEightReadsIsAnsweredOnce)
{
    Rig rig;
    for (uint8_t b : ReadTen) {
        EXPECT_TRUE(rig.Line.Writes.empty());
        rig.arrive({b});
    }
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
    EXPECT_EQ(rig.Line.Writes[0].size(), 25u);
    EXPECT_EQ(rig.Timer.Starts, 1); // later bytes do not restart it
}

TEST(RtuFraming, OtherIdIsDroppedAndItsOwnRequestStillAnswered)
{
    Rig rig;
    rig.Image.MBid = 2;
    rig.arrive(ReadTen);
    EXPECT_TRUE(rig.Line.Writes.empty());
    EXPECT_EQ(rig.Slave.RxCount, 0);
    EXPECT_FALSE(rig.Timer.Running);
    EXPECT_EQ(rig.Line.Log.find('I'), std::string::npos); // a foreign request purges nothing

    rig.arrive(hex("02 03 00 00 00 0A crc"));
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
    EXPECT_EQ(rig.Line.Writes[0][0], 2);
}

TEST(RtuFraming, IdZeroIsNeverAnsweredEvenWhenMBidWasSetToZero)
{
    Rig rig;
    rig.Image.MBid = 0;
    rig.arrive(hex("00 06 00 00 00 07 crc"));
    EXPECT_TRUE(rig.Line.Writes.empty());
    EXPECT_EQ(rig.Image.HoldingRegs[1], 0);
}

TEST(RtuFraming, TimeOutDropsPartialRequestAndLaterBytesStartANewOne)
{
    Rig rig;
    rig.arrive(Bytes(ReadTen.begin(), ReadTen.begin() + 5));
    EXPECT_TRUE(rig.Timer.Running);
    rig.fireTimer();
    EXPECT_FALSE(rig.Timer.Running);
    EXPECT_EQ(rig.Slave.RxCount, 0);
    EXPECT_EQ(rig.Line.Log.find('I'), std::string::npos); // the driver is not purged

    // The rest of the late request is now the start of a request of its own.
    rig.arrive(Bytes(ReadTen.begin() + 5, ReadTen.end()));
    EXPECT_TRUE(rig.Line.Writes.empty());
    EXPECT_EQ(rig.Slave.RxCount, 3);
    rig.fireTimer();

    rig.arrive(ReadTen);
    EXPECT_EQ(rig.Line.Writes.size(), 1u);
}

TEST(RtuFraming, SlowLineNeverCompletesARequest)
{
    // At 300 baud each byte takes 33 ms: the time-out fires after the third.
    Rig rig;
    for (size_t i = 0; i < ReadTen.size(); ++i) {
        rig.arrive({ReadTen[i]});
        if (i % 3 == 2)
            rig.fireTimer();
    }
    EXPECT_TRUE(rig.Line.Writes.empty());
}

TEST(RtuFraming, BurstOf300BytesOverflowsAndPurges)
{
    Rig rig;
    Bytes burst(300, 0x55);
    burst[1] = 0x09; // no length rule: never completes
    // Nine events of 30 bytes, then the rest; the ninth would pass 256.
    size_t at = 0;
    int event = 0;
    while (at < burst.size()) {
        const size_t n = std::min<size_t>(30, burst.size() - at);
        rig.Line.Input.insert(rig.Line.Input.end(), burst.begin() + at, burst.begin() + at + n);
        at += n;
        ++event;
        const int before = rig.Slave.RxCount;
        rig.Slave.Comm1RxChar(int(rig.Line.Input.size()));
        if (event <= 8) {
            EXPECT_EQ(rig.Slave.RxCount, before + 30) << event;
        } else if (event == 9) {
            EXPECT_EQ(rig.Slave.RxCount, 0);
            EXPECT_TRUE(rig.Line.Input.empty()); // purged unread
            EXPECT_EQ(rig.Line.Log.back(), 'I');
        }
    }
    EXPECT_EQ(rig.Slave.RxCount, 30);
    EXPECT_TRUE(rig.Timer.Running); // goes on and fires on what is left
    EXPECT_TRUE(rig.Line.Writes.empty());
    rig.fireTimer();
    rig.arrive(ReadTen);
    EXPECT_EQ(rig.Line.Writes.size(), 1u);
}

TEST(RtuFraming, OneEventOver256BytesIsPurgedUnread)
{
    Rig rig;
    rig.arrive(Bytes(257, 0x01));
    EXPECT_EQ(rig.Slave.RxCount, 0);
    EXPECT_EQ(rig.Line.Log, "I");
}

TEST(RtuFraming, WrongByteAnywhereInARequestGetsNoReply)
{
    const Bytes write = hex("01 10 00 00 00 02 04 12 34 56 78 crc");
    for (const Bytes &good : {ReadTen, write}) {
        for (size_t pos = 0; pos < good.size(); ++pos) {
            for (int bit = 0; bit < 8; ++bit) {
                Bytes bad = good;
                bad[pos] ^= uint8_t(1 << bit);
                Rig rig;
                rig.arrive(bad);
                rig.fireTimer(); // a damaged length byte may leave it waiting
                EXPECT_TRUE(rig.Line.Writes.empty()) << toHex(bad);
                EXPECT_EQ(rig.Image.HoldingRegs[1], 0) << toHex(bad);
                EXPECT_EQ(rig.Slave.RxCount, 0);
            }
        }
    }
}

TEST(RtuFraming, CodesWithoutLengthRuleAreNeverAnswered)
{
    for (int fn = 0; fn < 256; ++fn) {
        const bool known = (fn >= 1 && fn <= 8) || fn == 11 || fn == 12 || (fn >= 15 && fn <= 17) ||
                           (fn >= 20 && fn <= 24);
        if (known)
            continue;
        Rig rig;
        Bytes req = {0x01, uint8_t(fn), 0, 0, 0, 1};
        appendCrc(req);
        rig.arrive(req);
        EXPECT_EQ(rig.Slave.RxCount, 8) << fn; // waits for more
        EXPECT_TRUE(rig.Timer.Running);
        rig.fireTimer();
        EXPECT_TRUE(rig.Line.Writes.empty()) << fn;
        EXPECT_EQ(rig.Slave.RxCount, 0);
    }
}

TEST(RtuFraming, BytesBeyondTheRequestAreDroppedWithIt)
{
    Rig rig;
    Bytes more = ReadTen;
    more.insert(more.end(), {0x01, 0x03, 0x00});
    rig.arrive(more);
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
    EXPECT_EQ(rig.Slave.RxCount, 0);
    rig.arrive(ReadTen); // nothing left over spoils the next one
    EXPECT_EQ(rig.Line.Writes.size(), 2u);
}

TEST(RtuFraming, BytesThatArriveAfterTheReadArePurgedBeforeTheReply)
{
    Rig rig;
    rig.Line.Input.assign(ReadTen.begin(), ReadTen.end());
    rig.Line.Input.insert(rig.Line.Input.end(), {0xAA, 0xBB});
    rig.Slave.Comm1RxChar(8); // the two extra bytes came after the count was taken
    EXPECT_TRUE(rig.Line.Input.empty());
    EXPECT_EQ(rig.Line.Log, "RIOW");
}

TEST(RtuFraming, FailedReadAddsNothingSoStaleBytesAreNotAnsweredAgain)
{
    Rig rig;
    rig.arrive(ReadTen);
    ASSERT_EQ(rig.Line.Writes.size(), 1u); // RxBuf still holds the old request
    rig.Line.Input.assign(8, 0x00);
    rig.Line.FailingReads = 1;
    rig.Slave.Comm1RxChar(8);
    EXPECT_EQ(rig.Slave.RxCount, 0);
    EXPECT_EQ(rig.Line.Writes.size(), 1u);
}

TEST(RtuFraming, ShortReadCountsOnlyWhatWasPlaced)
{
    Rig rig;
    rig.Line.ReadLimit = 3;
    rig.Line.Input.assign(ReadTen.begin(), ReadTen.end());
    rig.Slave.Comm1RxChar(8);
    EXPECT_EQ(rig.Slave.RxCount, 3);
    while (!rig.Line.Input.empty())
        rig.Slave.Comm1RxChar(int(rig.Line.Input.size()));
    EXPECT_EQ(rig.Line.Writes.size(), 1u);
}

TEST(RtuFraming, EventWithoutBytesChangesNothing)
{
    Rig rig;
    rig.Slave.Comm1RxChar(0);
    rig.Slave.Comm1RxChar(-5);
    EXPECT_EQ(rig.Slave.RxCount, 0);
    EXPECT_FALSE(rig.Timer.Running);
    EXPECT_TRUE(rig.Line.Log.empty());
}

// Counted requests: the length is never taken modulo 256.
TEST(RtuFraming, CountedLengthDoesNotWrapAround)
{
    Rig rig;
    rig.arrive(hex("01 0F 00 00 07 D0 F8")); // byte count 248: 257 bytes
    EXPECT_FALSE(rig.Slave.FrameComplete());
    EXPECT_EQ(rig.Slave.ExpectedLen, 257);

    Rig twentyThree;
    twentyThree.arrive(hex("01 17 00 00 00 01 00 00 00 01 FA")); // 263 bytes
    EXPECT_EQ(twentyThree.Slave.ExpectedLen, 263);
}

TEST(RtuFraming, RequestLongerThanTheBufferIsNeverAnswered)
{
    // Function 16, byte count 248 (257 bytes), all of it sent within the time-out.
    Bytes req = hex("01 10 00 00 00 7C F8");
    req.resize(7 + 248, 0x00);
    appendCrc(req);
    Rig rig;
    rig.arriveInPieces(req, 64);
    EXPECT_TRUE(rig.Line.Writes.empty());
    EXPECT_EQ(rig.Image.HoldingRegs[1], 0);
    rig.fireTimer();
    rig.arrive(ReadTen);
    EXPECT_EQ(rig.Line.Writes.size(), 1u);
}

TEST(RtuFraming, RequestFillingTheWholeBufferIsAnswered)
{
    // Function 15, byte count 247: exactly 256 bytes, 1976 coils all on.
    Bytes req = hex("01 0F 00 00 07 B8 F7");
    req.resize(7 + 247, 0xFF);
    appendCrc(req);
    Rig rig;
    rig.arriveInPieces(req, 100);
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
    EXPECT_EQ(toHex(rig.Line.Writes[0]), toHex(hex("01 0F 00 00 07 B8 crc")));
    EXPECT_EQ(rig.Image.Coils[1976], 1);
    EXPECT_EQ(rig.Image.Coils[1977], 0);

    Bytes fn20 = hex("01 14 FB"); // byte count 251: 256 bytes, exception 1
    fn20.resize(3 + 251, 0x00);
    appendCrc(fn20);
    rig.arrive(fn20);
    ASSERT_EQ(rig.Line.Writes.size(), 2u);
    EXPECT_EQ(toHex(rig.Line.Writes[1]), toHex(hex("01 94 01 crc")));
}

TEST(RtuFraming, ListenOnlyDiagnosticDoesNotSilenceTheSlave)
{
    Rig rig;
    rig.arrive(hex("01 08 00 04 00 00 crc"));
    rig.arrive(hex("01 0B 41 E7"));
    rig.arrive(hex("01 0B 41 E7"));
    ASSERT_EQ(rig.Line.Writes.size(), 3u);
    EXPECT_EQ(rig.Line.Writes[1], rig.Line.Writes[2]); // no counter moves
    EXPECT_EQ(toHex(rig.Line.Writes[2]), "01 0B 00 00 FF FF A5 BB");
}

TEST(RtuFraming, DispatchOfAnUnknownCodeIsIllegalFunction)
{
    Rig rig;
    rig.Slave.RxBuf[1] = 0x2C; // 0x2B is device identification now, a slave option
    ASSERT_EQ(rig.Slave.DispatchFunction(), 5);
    EXPECT_EQ(rig.Slave.TxBuf[1], 0xAC);
    EXPECT_EQ(rig.Slave.TxBuf[2], 1);
}

TEST(RtuFraming, ProcessFrameNeverReadsPastTheReceivedBytes)
{
    // Called with a length the buffer does not hold: silence, not a stale CRC.
    Rig rig;
    rig.Slave.RxCount = 4;
    rig.Slave.ExpectedLen = 8;
    rig.Slave.ProcessFrame();
    EXPECT_TRUE(rig.Line.Writes.empty());
    EXPECT_EQ(rig.Slave.RxCount, 0);
}

} // namespace
} // namespace quorlin::test
