// SPDX-License-Identifier: MIT
// A strict slave's exceptions, and framing by silence. Exception replies are
// the request's slave id, its function code with bit 7 set, and the code; the
// lenient rows show what a slave without the option does with the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/silenceframing.h"
#include "tests/engine/fakes.h"

using namespace quorlin;
using namespace quorlin::test;

namespace
{

struct StrictRow {
    const char *Name;
    bool Strict;
    const char *Request; // hex, "crc" appends the CRC
    const char *Reply;   // hex, "crc" appends the CRC; "" = silence
};

// Slave 1 with the default tables: 2048 coils and inputs, 256 registers.
const StrictRow strictRows[] = {
    // Function first: codes the slave does not serve.
    {"UnknownCodeGetsException1", true, "01 41 crc", "01 C1 01 crc"},
    {"UnknownCodeLenientIsSilent", false, "01 41 crc", ""},
    {"UnknownCodeBadCrcIsSilent", true, "01 41 00 00", ""},
    {"UnknownCodeOtherSlaveIsSilent", true, "02 41 crc", ""},
    // 43 / 14 without device identification: served by neither, answered by one.
    {"DeviceIdOffGetsException1", true, "01 2B 0E 01 00 crc", "01 AB 01 crc"},
    {"DeviceIdOffLenientIsSilent", false, "01 2B 0E 01 00 crc", ""},
    // 43 with MEI type 13 (CANopen) frames only by silence.
    {"MeiThirteenGetsException1", true, "01 2B 0D 00 00 crc", "01 AB 01 crc"},
    // Then quantity, byte count and value: exception 3.
    {"ReadCoilsQuantity0", true, "01 01 00 00 00 00 crc", "01 81 03 crc"},
    {"ReadCoilsQuantity0Lenient", false, "01 01 00 00 00 00 crc", "01 01 00 crc"},
    {"ReadCoilsQuantity2001", true, "01 01 00 00 07 D1 crc", "01 81 03 crc"},
    // Quantity before address: 2001 coils from 0xFFFF is a 3, not a 2 ...
    {"QuantityCheckedBeforeAddress", true, "01 01 FF FF 07 D1 crc", "01 81 03 crc"},
    // ... where the lenient slave looks at the address first.
    {"LenientChecksAddressFirst", false, "01 01 FF FF 07 D1 crc", "01 81 02 crc"},
    {"ReadHoldingQuantity0", true, "01 03 00 00 00 00 crc", "01 83 03 crc"},
    {"ReadHoldingQuantity126", true, "01 03 00 00 00 7E crc", "01 83 03 crc"},
    {"SingleCoilValue1234", true, "01 05 00 00 12 34 crc", "01 85 03 crc"},
    {"SingleCoilValue1234LenientEchoes", false, "01 05 00 00 12 34 crc", "01 05 00 00 12 34 crc"},
    {"SingleCoilOnEchoes", true, "01 05 00 00 FF 00 crc", "01 05 00 00 FF 00 crc"},
    {"WriteCoilsQuantity0", true, "01 0F 00 00 00 00 00 crc", "01 8F 03 crc"},
    // Nine coils need two bytes.
    {"WriteCoilsByteCountShort", true, "01 0F 00 00 00 09 01 FF crc", "01 8F 03 crc"},
    {"WriteCoilsRightByteCount", true, "01 0F 00 00 00 09 02 FF 01 crc", "01 0F 00 00 00 09 crc"},
    {"WriteRegistersByteCountShort", true, "01 10 00 00 00 02 02 00 07 crc", "01 90 03 crc"},
    {"WriteRegistersByteCountShortLenient", false, "01 10 00 00 00 02 02 00 07 crc",
     "01 10 00 00 00 02 crc"},
    // Then the address: exception 2.
    {"ReadHoldingPastTheTable", true, "01 03 01 00 00 01 crc", "01 83 02 crc"},
    // And a sound request is carried out as ever.
    {"ReadHoldingAnswered", true, "01 03 00 00 00 01 crc", "01 03 02 00 00 crc"},
    // Broadcasts are never answered, strict or not.
    {"BroadcastUnknownCodeIsSilent", true, "00 41 crc", ""},
};

class StrictProtocol : public ::testing::TestWithParam<StrictRow>
{
};

TEST_P(StrictProtocol, Reply)
{
    const StrictRow &row = GetParam();
    Rig rig;
    rig.Image.ClearImage();
    rig.Image.MBid = 1;
    rig.Image.Options.Strict = row.Strict;
    rig.arrive(hex(row.Request));
    // A code that tells no length ends with the line's silence: here the time-out.
    rig.fireTimer();
    const Bytes expected = hex(row.Reply);
    if (expected.empty()) {
        EXPECT_TRUE(rig.Line.Writes.empty()) << toHex(rig.Line.Writes.front());
    } else {
        ASSERT_EQ(rig.Line.Writes.size(), 1u);
        EXPECT_EQ(toHex(rig.Line.Writes.front()), toHex(expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, StrictProtocol, ::testing::ValuesIn(strictRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// A malformed write refused by a strict slave changes nothing, a broadcast
// one included; a lenient slave writes what it can.
TEST(StrictProtocol, RefusedWritesLeaveTheImageAlone)
{
    for (const bool strict : {true, false}) {
        Rig rig;
        rig.Image.ClearImage();
        rig.Image.MBid = 1;
        rig.Image.Options.Strict = strict;
        rig.arrive(hex("01 10 00 00 00 02 02 00 07 crc"));
        EXPECT_EQ(rig.Image.HoldingRegs[1], strict ? 0 : 7) << strict;
    }
    // Broadcast to a strict slave 1 and a lenient slave 2: function 16 with
    // two registers but one register's bytes.
    Rig rig;
    TSlaveSet slaves; // slave 1
    slaves.First().Options.Strict = true;
    TRegisterImage &lenient = *slaves.Add(2);
    slaves.AcceptBroadcast = true;
    rig.Slave.SetSlaves(&slaves);
    rig.arrive(hex("00 10 00 00 00 02 02 00 07 crc"));
    EXPECT_EQ(slaves.First().HoldingRegs[1], 0);
    EXPECT_EQ(lenient.HoldingRegs[1], 7);
    rig.arrive(hex("00 06 00 00 00 09 crc"));
    EXPECT_EQ(slaves.First().HoldingRegs[1], 9); // a sound broadcast is carried out
    EXPECT_TRUE(rig.Line.Writes.empty());
}

class VerdictLog : public IFrameObserver
{
  public:
    void FrameDone(const TFrameReport &R) override
    {
        Verdicts.push_back(R.Verdict);
        Counters.Count(R);
    }
    std::vector<TVerdict> Verdicts;
    TLineCounters Counters;
};

// The frame clock's time: the reads' own, so its marks see what framing saw.
int64_t lineNowUs = 0;
int64_t lineNow()
{
    return lineNowUs;
}

struct Piece {
    const char *Bytes; // hex
    int64_t AtUs;      // when the read found them (the last one complete)
};

struct SilenceRow {
    const char *Name;
    int Baud, CharUs;
    bool Strict; // the slave's protocol
    std::vector<Piece> Pieces;
    const char *Reply; // "" = silence
    std::vector<TVerdict> Verdicts;
};

// 01 03 0000 0001 with its CRC 84 0A: eight characters. At 9600 8E1 a
// character is 1146 us, 1.5 of them 1719 and 3.5 of them 4011.
// clang-format off
const SilenceRow silenceRows[] = {
    {"WholeRequestAnswered", 9600, 1146, false, {{"01 03 00 00 00 01 84 0A", 0}},
     "01 03 02 00 00 crc", {TVerdict::Answered}},
    // The second half read 4 characters later plus a silence of 1500 us.
    {"PauseBelowOneAndAHalfAnswered", 9600, 1146, false,
     {{"01 03 00 00", 0}, {"00 01 84 0A", 4 * 1146 + 1500}}, "01 03 02 00 00 crc", {TVerdict::Answered}},
    {"PauseAboveOneAndAHalfDropped", 9600, 1146, false,
     {{"01 03 00 00", 0}, {"00 01 84 0A", 4 * 1146 + 1800}}, "", {TVerdict::GapInside}},
    // Past 3.5 characters the halves are two frames, each too short.
    {"PauseAboveThreeAndAHalfSplits", 9600, 1146, false,
     {{"01 03 00 00", 0}, {"00 01 84 0A", 4 * 1146 + 4100}}, "", {TVerdict::TimedOut, TVerdict::TimedOut}},
    // Characters that waited in the queue together are no pause.
    {"LateReadIsNoPause", 9600, 1146, false,
     {{"01 03", 0}, {"00 00 00 01 84 0A", 6 * 1146 + 300}}, "01 03 02 00 00 crc", {TVerdict::Answered}},
    // Two requests without silence between them are one frame, too long.
    {"BackToBackRequestsDropped", 9600, 1146, false,
     {{"01 03 00 00 00 01 84 0A 01 03 00 00 00 01 84 0A", 0}}, "", {TVerdict::TooLong}},
    {"BadCrcSilent", 9600, 1146, false, {{"01 03 00 00 00 01 84 0B", 0}}, "", {TVerdict::BadCrc}},
    // Above 19200 the fixed 750 us decides, whatever the character time.
    {"FastLinePauseBelow750Answered", 38400, 287, false,
     {{"01 03 00 00", 0}, {"00 01 84 0A", 4 * 287 + 700}}, "01 03 02 00 00 crc", {TVerdict::Answered}},
    {"FastLinePauseAbove750Dropped", 38400, 287, false,
     {{"01 03 00 00", 0}, {"00 01 84 0A", 4 * 287 + 800}}, "", {TVerdict::GapInside}},
    // Silence frames what length cannot: a strict slave answers it.
    {"UnknownCodeStrictException1", 9600, 1146, true, {{"01 41 crc", 0}}, "01 C1 01 crc",
     {TVerdict::Exception}},
    {"UnknownCodeLenientSilent", 9600, 1146, false, {{"01 41 crc", 0}}, "", {TVerdict::NoReply}},
};
// clang-format on

class SilenceFraming : public ::testing::TestWithParam<SilenceRow>
{
};

TEST_P(SilenceFraming, Frames)
{
    const SilenceRow &row = GetParam();
    Rig rig;
    VerdictLog log;
    rig.Image.ClearImage();
    rig.Image.MBid = 1;
    rig.Image.Options.Strict = row.Strict;
    rig.Slave.SetObserver(&log);
    rig.Slave.SetClock(lineNow);
    rig.Slave.SetFraming(TSerialFraming::Strict);
    rig.Slave.SetCharTimeUs(row.CharUs, row.Baud);
    const TSilenceLimits limits = SilenceLimits(row.Baud, row.CharUs);
    for (const Piece &p : row.Pieces) {
        const Bytes b = hex(p.Bytes);
        rig.Line.Input.insert(rig.Line.Input.end(), b.begin(), b.end());
        lineNowUs = p.AtUs;
        rig.Slave.Comm1RxChar(int(b.size()), p.AtUs);
        // Nothing is judged while the line may still carry more of it.
        EXPECT_TRUE(rig.Line.Writes.empty());
        EXPECT_TRUE(rig.Timer.Running);
        EXPECT_EQ(rig.Timer.AllowanceUs, limits.BetweenUs);
    }
    rig.fireTimer();
    const Bytes expected = hex(row.Reply);
    if (expected.empty()) {
        EXPECT_TRUE(rig.Line.Writes.empty());
    } else {
        ASSERT_EQ(rig.Line.Writes.size(), 1u);
        EXPECT_EQ(toHex(rig.Line.Writes.front()), toHex(expected));
    }
    EXPECT_EQ(log.Verdicts, row.Verdicts);
    // A frame dropped for its gap is the timing's "gap inside" too, counted
    // once; one framing let through carries no such mark.
    const auto gaps = std::count(row.Verdicts.begin(), row.Verdicts.end(), TVerdict::GapInside);
    EXPECT_EQ(log.Counters.GapInside, uint64_t(gaps));
    // The next request stands on its own.
    rig.Line.Writes.clear();
    const Bytes again = hex("01 03 00 00 00 01 84 0A");
    rig.Line.Input.insert(rig.Line.Input.end(), again.begin(), again.end());
    lineNowUs = 1000000;
    rig.Slave.Comm1RxChar(int(again.size()), 1000000);
    rig.fireTimer();
    ASSERT_EQ(rig.Line.Writes.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Rows, SilenceFraming, ::testing::ValuesIn(silenceRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// Without the line's clock, or with framing by length, nothing changes: a
// request is taken the moment its length has arrived.
TEST(SilenceFraming, LengthFramingAndUnknownTimesAnswerAtOnce)
{
    for (const bool clock : {false, true}) {
        Rig rig;
        rig.Image.ClearImage();
        rig.Image.MBid = 1;
        rig.Slave.SetFraming(clock ? TSerialFraming::Length : TSerialFraming::Strict);
        rig.Slave.SetCharTimeUs(1146, 9600);
        const Bytes b = hex("01 03 00 00 00 01 84 0A");
        rig.Line.Input.insert(rig.Line.Input.end(), b.begin(), b.end());
        rig.Slave.Comm1RxChar(int(b.size()), clock ? 0 : -1);
        EXPECT_EQ(rig.Line.Writes.size(), 1u) << clock;
    }
}

} // namespace

namespace
{

// Modbus TCP hands the handler whole frames (no CRC, unit id first): the
// strict checks apply there the same way.
TEST(StrictProtocol, SameChecksOnModbusTcp)
{
    struct Row {
        const char *Request; // unit id, PDU
        bool Strict;
        const char *Reply; // unit id, PDU
    };
    const Row rows[] = {
        {"01 03 00 00 00 00", true, "01 83 03"},
        {"01 03 00 00 00 00", false, "01 03 00"},
        {"01 01 FF FF 07 D1", true, "01 81 03"},
        {"01 05 00 00 12 34", true, "01 85 03"},
        {"01 2B 0E 01 00", true, "01 AB 01"}, // no device identification
        {"01 41", false, "01 C1 01"},         // as it always was on TCP
    };
    for (const Row &r : rows) {
        TRegisterImage image;
        image.ClearImage();
        image.MBid = 1;
        image.Options.Strict = r.Strict;
        TRequestWorkspace w(image);
        const Bytes in = hex(r.Request);
        std::copy(in.begin(), in.end(), w.RxBuf.begin());
        // The handler counts checksum room after the PDU, as in RTU.
        w.RxCount = w.ExpectedLen = int(in.size()) + modbus::CrcLength;
        TFramingRules rules;
        rules.Checksum = false;
        rules.GatewayIds = true;
        TVerdict verdict = TVerdict::Answered;
        TFaultDecision fault;
        const int n = w.Handler.Handle(rules, false, verdict, fault);
        ASSERT_GE(n, modbus::CrcLength) << r.Request;
        EXPECT_EQ(toHex(Bytes(w.TxBuf.begin(), w.TxBuf.begin() + n - modbus::CrcLength)),
                  toHex(hex(r.Reply)))
            << r.Request << (r.Strict ? " strict" : " lenient");
    }
}

} // namespace
