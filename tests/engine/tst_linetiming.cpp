// SPDX-License-Identifier: MIT
// Time on the line: how long a character takes, and the request time-out at
// every speed a master uses.
#include <gtest/gtest.h>


#include "engine/deadline.h"
#include "engine/frameobserver.h"
#include "engine/linetiming.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

struct CharRow {
    int Baud, DataBits;
    bool Parity;
    int HalfStops;
    int Us;
};

TEST(LineTiming, CharacterTimeCountsEveryBitRoundedUp)
{
    const CharRow rows[] = {
        {9600, 8, true, 2, 1146},  // 8E1: 11 bits, 1145.8 us
        {9600, 8, false, 2, 1042}, // 8N1: 10 bits
        {1200, 8, true, 2, 9167},  // 11 bits at the slowest common speed
        {230400, 8, true, 2, 48},  // 47.7 us
        {19200, 7, false, 4, 521}, // 7N2: 10 bits
        {9600, 5, false, 3, 782},  // 5N1.5: 7.5 bits, 781.25 us
        {0, 8, false, 2, 0},       // no speed: unknown
    };
    for (const CharRow &r : rows)
        EXPECT_EQ(CharTimeUs(r.Baud, r.DataBits, r.Parity, r.HalfStops), r.Us)
            << r.Baud << " baud, " << r.DataBits << " data bits";
}

// One clock for the time-out and the test: microseconds, moved by hand.
int64_t fakeNow = 0;
int64_t fakeClock()
{
    return fakeNow;
}

// A master that sends one byte per character time, with the line's thread
// dropping the partial request whenever the time-out falls due.
struct PacedRig {
    TRegisterImage Image;
    FakeLine Line;
    TDeadline TimeOut{100, fakeClock};
    TModbusSlave Slave{Image, Line, TimeOut};
    TLineCounters Counters;
    struct Counter : IFrameObserver {
        TLineCounters &C;
        explicit Counter(TLineCounters &Into) : C(Into) {}
        void FrameDone(const TFrameReport &R) override { C.Count(R); }
    } Observer{Counters};

    explicit PacedRig(int CharUs)
    {
        fakeNow = 1000000;
        Image.ClearImage();
        Image.MBid = 1;
        Slave.SetObserver(&Observer);
        Slave.SetCharTimeUs(CharUs);
    }
    void waitUntil(int64_t Us)
    {
        if (TimeOut.Due(Us))
            fakeNow = TimeOut.DueUs(), Slave.TimeOutTimerTimer();
        fakeNow = Us;
    }
    void send(const Bytes &B, int CharUs)
    {
        for (uint8_t b : B) {
            waitUntil(fakeNow + CharUs);
            Line.Input.push_back(b);
            Slave.Comm1RxChar(1);
        }
    }
};

// The longest write of each kind: 123 registers, 1968 coils (255 bytes each).
Bytes longestWrite(uint8_t Function)
{
    Bytes b = Function == 0x10 ? hex("01 10 00 00 00 7B F6") : hex("01 0F 00 00 07 B0 F6");
    b.resize(7 + 246, 0x5A);
    appendCrc(b);
    return b;
}

TEST(LineTiming, LongestRequestsAreAnsweredAtEverySpeedAndStalledOnesDropped)
{
    for (int baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400}) {
        const int charUs = CharTimeUs(baud, 8, true, 2); // 8E1, the slowest framing of 8 bits
        for (uint8_t fn : {uint8_t(0x10), uint8_t(0x0F)}) {
            PacedRig rig(charUs);
            rig.send(longestWrite(fn), charUs);
            ASSERT_EQ(rig.Line.Writes.size(), 1u) << baud << " baud, function " << int(fn);
            EXPECT_EQ(rig.Counters.TimedOut, 0u);

            // Half of it, then nothing: dropped, and the next request stands alone.
            const Bytes whole = longestWrite(fn);
            const Bytes half(whole.begin(), whole.begin() + 128);
            rig.send(half, charUs);
            rig.waitUntil(fakeNow + 100000 + 256 * int64_t(charUs));
            EXPECT_EQ(rig.Counters.TimedOut, 1u) << baud << " baud, function " << int(fn);
            rig.send(hex("01 03 00 00 00 01 crc"), charUs);
            EXPECT_EQ(rig.Line.Writes.size(), 2u);
        }
    }
}

} // namespace
} // namespace quorlin::test
