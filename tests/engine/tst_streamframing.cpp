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

// The serial line, RTU over TCP and Modbus TCP share one handler: the same
// requests (every function code, edge addresses and quantities, several ids)
// sent to three identical buses get the same answers and leave the same
// images. RTU over TCP must match the line byte for byte; Modbus TCP its PDU,
// for the ids it reaches alike, where the function has a length rule.
TEST(StreamFraming, AnswersAsTheSerialLineDoesForEveryFunction)
{
    auto makeBus = [](TSlaveSet &S) {
        S.Add(2);
        S.Add(17);
        S.AcceptBroadcast = true;
        for (int id : {1, 2, 17})
            for (int r = 1; r <= 256; ++r)
                S.Find(id)->HoldingRegs[size_t(r)] = uint16_t(id * 1000 + r);
    };
    TSlaveSet lineBus, rtuBus, tcpBus;
    makeBus(lineBus);
    makeBus(rtuBus);
    makeBus(tcpBus);
    TRegisterImage unused;
    FakeLine line;
    FakeTimer timer;
    TModbusSlave serial(unused, line, timer);
    serial.SetSlaves(&lineBus);
    TRequestWorkspace rtuWork(rtuBus.First()), tcpWork(tcpBus.First());
    rtuWork.Handler.SetSlaves(&rtuBus);
    tcpWork.Handler.SetSlaves(&tcpBus);
    TStreamFraming rtu(TStreamKind::RtuOverTcp, rtuWork, 0, nullptr, "rtu");
    TStreamFraming tcp(TStreamKind::ModbusTcp, tcpWork, 0, nullptr, "tcp");
    int64_t now = 0;
    int compared = 0;
    const uint16_t edges[] = {0, 1, 7, 0x7D, 0x7E, 0xFF, 0x100, 0x7D0, 0x7D1, 0x800, 0xFF00};
    for (int fn = 1; fn <= 0x2B; ++fn) {
        for (int id : {0, 1, 2, 9, 17}) {
            for (uint16_t a : {uint16_t(0), uint16_t(0xFF), uint16_t(0x7FF)}) {
                for (uint16_t q : edges) {
                    Bytes pdu = {uint8_t(fn), uint8_t(a >> 8), uint8_t(a), uint8_t(q >> 8),
                                 uint8_t(q)};
                    const auto &rule = TRequestHandler::ruleFor(uint8_t(fn));
                    if (rule.FixedLen != 0) // as long as the function's rule says
                        pdu.resize(size_t(rule.FixedLen - 3), 0);
                    if (fn == 15 || fn == 16) { // byte count and as many data bytes
                        const int count = std::min<int>(fn == 15 ? (q + 7) / 8 : 2 * q, 246);
                        pdu.push_back(uint8_t(count));
                        for (int k = 0; k < count; ++k)
                            pdu.push_back(uint8_t(k * 37 + fn));
                    }
                    Bytes frame = {uint8_t(id)};
                    frame.insert(frame.end(), pdu.begin(), pdu.end());
                    appendCrc(frame);

                    line.Writes.clear();
                    line.Input.insert(line.Input.end(), frame.begin(), frame.end());
                    serial.Comm1RxChar(int(line.Input.size()));
                    serial.TimeOutTimerTimer(); // a request that cannot complete ends here
                    const Bytes lineReply = line.Writes.empty() ? Bytes{} : line.Writes.back();

                    ASSERT_TRUE(rtu.Received(frame.data(), frame.size(), now));
                    now += RtuOverTcpSilenceUs;
                    rtu.Advance(now);
                    ASSERT_EQ(toHex(rtu.Ready()), toHex(lineReply)) << toHex(frame);
                    rtu.Ready().clear();

                    // Modbus TCP: ids 1, 2 and 17 reach the same slave; only a
                    // request as long as its function's rule compares (the line
                    // cannot frame the others as MBAP's length field does).
                    const int need = rule.FixedLen != 0 ? rule.FixedLen
                                     : rule.CountExtra != 0
                                         ? frame[size_t(rule.CountOffset)] + rule.CountExtra
                                         : 0;
                    if (id == 0 || id == 9 || need != int(frame.size()))
                        continue;
                    Bytes mbap = {0x12, 0x34, 0, 0, 0, uint8_t(pdu.size() + 1), uint8_t(id)};
                    mbap.insert(mbap.end(), pdu.begin(), pdu.end());
                    ASSERT_TRUE(tcp.Received(mbap.data(), mbap.size(), now));
                    const Bytes got(tcp.Ready().begin(), tcp.Ready().end());
                    tcp.Ready().clear();
                    const Bytes want = lineReply.size() > 3
                                           ? Bytes(lineReply.begin() + 1, lineReply.end() - 2)
                                           : Bytes{};
                    ASSERT_EQ(toHex(got.size() > 7 ? Bytes(got.begin() + 7, got.end()) : Bytes{}),
                              toHex(want))
                        << toHex(mbap);
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 1000);
    for (int id : {1, 2, 17}) {
        EXPECT_EQ(rtuBus.Find(id)->HoldingRegs, lineBus.Find(id)->HoldingRegs) << id;
        EXPECT_EQ(rtuBus.Find(id)->Coils, lineBus.Find(id)->Coils) << id;
        EXPECT_EQ(tcpBus.Find(id)->HoldingRegs, lineBus.Find(id)->HoldingRegs) << id;
        EXPECT_EQ(tcpBus.Find(id)->Coils, lineBus.Find(id)->Coils) << id;
    }
}

} // namespace
} // namespace quorlin::test
