// SPDX-License-Identifier: MIT
// A TCP connection's framings: Modbus TCP (MBAP header, gateway unit ids) and
// RTU over TCP (RTU frames, CRC, silence), fed in the pieces TCP delivers.
#include <gtest/gtest.h>

#include <sstream>

#include "engine/slaveset.h"
#include "engine/streamframing.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

struct Recorder : IFrameObserver {
    std::vector<TVerdict> Verdicts;
    std::vector<std::string> Lines;
    void FrameDone(const TFrameReport &R) override
    {
        Verdicts.push_back(R.Verdict);
        Lines.emplace_back(R.Line);
    }
};

// Slaves 1, 2 and 17, holding register 1 = id * 100; slave 1 is the default.
struct StreamRig {
    TSlaveSet Slaves;
    TRequestWorkspace Work{Slaves.First()};
    Recorder Seen;
    TStreamFraming Framing;
    int64_t Now = 0;
    bool Open = true;

    explicit StreamRig(TStreamKind Kind, int DefaultId = 0)
        : Framing(Kind, Work, DefaultId, &Seen, "tcp 127.0.0.1:40312")
    {
        Slaves.Add(2);
        Slaves.Add(17);
        for (int id : {1, 2, 17})
            Slaves.Find(id)->HoldingRegs[1] = uint16_t(id * 100);
        Work.Handler.SetSlaves(&Slaves);
    }
    // Pieces separated by '|', each delivered as one read; "+N" lets N ms pass.
    std::string feed(const std::string &Script)
    {
        std::stringstream pieces(Script);
        std::string piece;
        while (Open && std::getline(pieces, piece, '|')) {
            if (const auto plus = piece.find('+'); plus != std::string::npos) {
                Now += std::stoll(piece.substr(plus + 1)) * 1000;
                Framing.Advance(Now);
                continue;
            }
            const Bytes b = hex(piece);
            Open = Framing.Received(b.data(), b.size(), Now);
        }
        const std::string out = toHex(Framing.Ready());
        Framing.Ready().clear();
        return out;
    }
};

struct StreamRow {
    const char *name;
    TStreamKind kind;
    const char *script; // pieces as StreamRig::feed takes them
    const char *reply;  // every reply byte in order; "" for silence
    bool stays_open;
};

class StreamAnswers : public ::testing::TestWithParam<StreamRow>
{
};

TEST_P(StreamAnswers, AsTheFramingSays)
{
    const StreamRow &row = GetParam();
    StreamRig rig(row.kind);
    EXPECT_EQ(rig.feed(row.script), toHex(hex(row.reply)));
    EXPECT_EQ(rig.Open, row.stays_open);
}

constexpr TStreamKind Tcp = TStreamKind::ModbusTcp;
constexpr TStreamKind Rtu = TStreamKind::RtuOverTcp;

INSTANTIATE_TEST_SUITE_P(
    Framings, StreamAnswers,
    ::testing::Values(
        // Transaction 0x0001, protocol 0, length 6, unit 1, fn 3 of register 1:
        // 100 = 0x0064, the transaction echoed, length 5.
        StreamRow{"TcpRead", Tcp, "00 01 00 00 00 06 01 03 00 00 00 01",
                  "00 01 00 00 00 05 01 03 02 00 64", true},
        StreamRow{"TcpUnit17", Tcp, "BE EF 00 00 00 06 11 03 00 00 00 01",
                  "BE EF 00 00 00 05 11 03 02 06 A4", true},
        // Units 0 and 255 go to the default slave (the lowest id), echoed as sent.
        StreamRow{"TcpUnit0IsTheDefaultSlave", Tcp, "00 02 00 00 00 06 00 03 00 00 00 01",
                  "00 02 00 00 00 05 00 03 02 00 64", true},
        StreamRow{"TcpUnit255IsTheDefaultSlave", Tcp, "00 03 00 00 00 06 FF 03 00 00 00 01",
                  "00 03 00 00 00 05 FF 03 02 00 64", true},
        // An id no slave has: gateway exception 11.
        StreamRow{"TcpUnknownUnitGetsException11", Tcp, "00 04 00 00 00 06 05 03 00 00 00 01",
                  "00 04 00 00 00 03 05 83 0B", true},
        // Two requests in one segment, one request in three: all answered in order.
        StreamRow{"TcpTwoInOneSegment", Tcp,
                  "00 0A 00 00 00 06 01 03 00 00 00 01 00 0B 00 00 00 06 02 03 00 00 00 01",
                  "00 0A 00 00 00 05 01 03 02 00 64 00 0B 00 00 00 05 02 03 02 00 C8", true},
        StreamRow{"TcpOneAcrossThreeSegments", Tcp, "00 0C 00|00 00 06 01 03|00 00 00 01",
                  "00 0C 00 00 00 05 01 03 02 00 64", true},
        // A write, then its read-back in the same segment.
        StreamRow{"TcpWriteThenRead", Tcp,
                  "00 01 00 00 00 06 02 06 00 04 BE EF 00 02 00 00 00 06 02 03 00 04 00 01",
                  "00 01 00 00 00 06 02 06 00 04 BE EF 00 02 00 00 00 05 02 03 02 BE EF", true},
        // A length that disagrees with the function's (fn 3 needs 6): exception 3.
        StreamRow{"TcpLengthShortForFunction", Tcp, "00 05 00 00 00 05 01 03 00 00 00",
                  "00 05 00 00 00 03 01 83 03", true},
        StreamRow{"TcpWriteByteCountBeyondLength", Tcp,
                  "00 06 00 00 00 09 01 10 00 00 00 02 04 00 01", "00 06 00 00 00 03 01 90 03",
                  true},
        // A code without a handler: exception 1 (the length is known on TCP).
        StreamRow{"TcpUnknownFunction", Tcp, "00 07 00 00 00 02 01 41",
                  "00 07 00 00 00 03 01 C1 01", true},
        // Headers that cannot be right close the connection, unanswered.
        StreamRow{"TcpProtocolId1", Tcp, "00 08 00 01 00 06 01 03 00 00 00 01", "", false},
        StreamRow{"TcpLength0", Tcp, "00 08 00 00 00 00 01", "", false},
        StreamRow{"TcpLength1", Tcp, "00 08 00 00 00 01 01", "", false},
        StreamRow{"TcpLength255", Tcp, "00 08 00 00 00 FF 01", "", false},
        StreamRow{"TcpLengthFFFF", Tcp, "00 08 00 00 FF FF 01", "", false},
        // Answered before the bad header that follows it in the same segment.
        StreamRow{"TcpGoodThenBad", Tcp,
                  "00 01 00 00 00 06 01 03 00 00 00 01 00 02 12 34 00 06 01 03 00 00 00 01",
                  "00 01 00 00 00 05 01 03 02 00 64", false},
        // A header cut short waits for the rest; nothing is answered meanwhile.
        StreamRow{"TcpHeaderCutShort", Tcp, "00 01 00 00 00|+5000", "", true},

        // RTU over TCP: the serial line's rules, with a CRC.
        StreamRow{"RtuRead", Rtu, "01 03 00 00 00 01 crc", "01 03 02 00 64 crc", true},
        StreamRow{"RtuInPieces", Rtu, "01 03|00 00|+900|00 01 84 0A", "01 03 02 00 64 crc", true},
        StreamRow{"RtuTwoInOneSegment", Rtu, "01 03 00 00 00 01 84 0A 11 03 00 00 00 01 86 9A",
                  "01 03 02 00 64 B9 AF 11 03 02 06 A4 7B 9C", true},
        StreamRow{"RtuBadCrcIsSilent", Rtu, "01 03 00 00 00 01 84 0B", "", true},
        StreamRow{"RtuOtherSlaveIsSilent", Rtu, "05 03 00 00 00 01 crc", "", true},
        StreamRow{"RtuUnit255IsNotTheDefault", Rtu, "FF 03 00 00 00 01 crc", "", true},
        // A partial request dropped after 1 s of silence; the next one answered.
        StreamRow{"RtuPartialDroppedAfterSilence", Rtu, "01 03 00|+1000|02 03 00 00 00 01 crc",
                  "02 03 02 00 C8 crc", true},
        StreamRow{"RtuExceptionCarriesId", Rtu, "02 03 01 00 00 01 crc", "02 83 02 crc", true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(StreamFraming, ABadHeaderIsReportedWithItsLine)
{
    StreamRig rig(Tcp);
    rig.feed("00 01 00 00 00 06 01 03 00 00 00 01 00 02 00 07 00 06 01");
    ASSERT_EQ(rig.Seen.Verdicts.size(), 2u);
    EXPECT_EQ(rig.Seen.Verdicts[0], TVerdict::Answered);
    EXPECT_EQ(rig.Seen.Verdicts[1], TVerdict::BadHeader);
    EXPECT_EQ(rig.Seen.Lines[1], "tcp 127.0.0.1:40312");
}

TEST(StreamFraming, TcpDefaultSlaveCanBeChosen)
{
    StreamRig rig(Tcp, 17);
    EXPECT_EQ(rig.feed("00 01 00 00 00 06 00 03 00 00 00 01"),
              toHex(hex("00 01 00 00 00 05 00 03 02 06 A4")));
}

// On Modbus TCP a delayed reply holds back the ones behind it and is never
// cancelled; on RTU over TCP a new request replaces it, as on the line.
TEST(StreamFraming, DelayedRepliesKeepTheirOrderOnTcpAndAreReplacedOnRtu)
{
    TFaultSettings f;
    f.Enabled = 1;
    f.DelayMs = 100;
    for (TStreamKind kind : {Tcp, Rtu}) {
        StreamRig rig(kind);
        rig.Work.Handler.Faults().Load(f);
        const char *two = kind == Tcp ? "00 01 00 00 00 06 01 03 00 00 00 01|+50|"
                                        "00 02 00 00 00 06 02 03 00 00 00 01"
                                      : "01 03 00 00 00 01 crc|+50|02 03 00 00 00 01 crc";
        EXPECT_EQ(rig.feed(two), "");
        // TCP: the first reply is due first; RTU: only the second is left.
        EXPECT_EQ(rig.Framing.NextDueUs(), kind == Tcp ? 100000 : 150000);
        const std::string out = rig.feed("+100");
        if (kind == Tcp)
            EXPECT_EQ(out, toHex(hex("00 01 00 00 00 05 01 03 02 00 64 "
                                     "00 02 00 00 00 05 02 03 02 00 C8")));
        else
            EXPECT_EQ(out, toHex(hex("02 03 02 00 C8 crc")));
        EXPECT_EQ(rig.Work.Handler.Faults().Counts().Cancelled, kind == Tcp ? 0u : 1u);
        EXPECT_EQ(rig.Framing.PendingBytes(), 0u);
    }
}

TEST(StreamFraming, SplitReplyComesInTwoHalvesAndWrongIdMovesTheUnit)
{
    TFaultSettings f;
    f.Enabled = 1;
    f.SplitReplyMs = 30;
    f.WrongIdEvery = 1;
    StreamRig rig(Tcp);
    rig.Work.Handler.Faults().Load(f);
    // 11 bytes: the first 5 at once, the other 6 after 30 ms; unit 1 sent as 2.
    EXPECT_EQ(rig.feed("00 01 00 00 00 06 01 03 00 00 00 01"), toHex(hex("00 01 00 00 00")));
    EXPECT_EQ(rig.feed("+29"), "");
    EXPECT_EQ(rig.feed("+1"), toHex(hex("05 02 03 02 00 64")));
}

TEST(StreamFraming, RtuRequestTooLongForAnyFrameIsDropped)
{
    StreamRig rig(Rtu);
    // fn 16 whose byte count makes 264 bytes: it could never fit, so 256
    // bytes in it is thrown away and the stream starts again.
    std::string junk = "01 10 00 00 00 7F FF";
    for (int i = 0; i < 260; ++i)
        junk += " 00";
    EXPECT_EQ(rig.feed(junk + "|01 03 00 00 00 01 crc"), toHex(hex("01 03 02 00 64 crc")));
    ASSERT_FALSE(rig.Seen.Verdicts.empty());
    EXPECT_EQ(rig.Seen.Verdicts.front(), TVerdict::TooLong);
}

} // namespace
} // namespace quorlin::test
