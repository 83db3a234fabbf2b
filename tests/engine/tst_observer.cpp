// SPDX-License-Identifier: MIT
// What the engine tells its observer about each frame, and the line counters
// built from it. Each row is a script of events on the line and the reports
// that must come out of it, in order.
#include <gtest/gtest.h>

#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

struct Recorder : IFrameObserver {
    std::vector<std::string> Seen; // "verdict | rx | reply"
    TLineCounters Counters;
    void FrameDone(const TFrameReport &R) override
    {
        std::string line = VerdictText(R.Verdict, R.ExceptionCode) + " | " +
                           toHex(Bytes(R.Rx.begin(), R.Rx.end())) + " | " +
                           toHex(Bytes(R.Reply.begin(), R.Reply.end()));
        if (R.Unread > 0)
            line += " | " + std::to_string(R.Unread) + " unread";
        Seen.push_back(line);
        Counters.Count(R);
    }
};

// "verdict | rx | reply [| n unread]" with the two byte lists written as
// hex() takes them ("crc" allowed), brought to the form Recorder writes.
std::vector<std::string> normalised(const std::vector<std::string> &Reports)
{
    std::vector<std::string> out;
    for (const std::string &r : Reports) {
        std::vector<std::string> parts;
        size_t at = 0;
        for (size_t bar; (bar = r.find(" | ", at)) != std::string::npos; at = bar + 3)
            parts.push_back(r.substr(at, bar - at));
        parts.push_back(r.substr(at));
        std::string line = parts[0];
        for (size_t i = 1; i < parts.size(); ++i)
            line += " | " + (i <= 2 ? toHex(hex(parts[i])) : parts[i]);
        out.push_back(line);
    }
    return out;
}

// Script: events separated by ",": hexadecimal bytes (with "crc") arrive as
// one event, "55*247" is 247 bytes 55 in one event; "T" fires the time-out timer.
void play(Rig &rig, const std::string &Script)
{
    size_t at = 0;
    while (at <= Script.size()) {
        size_t end = Script.find(',', at);
        if (end == std::string::npos)
            end = Script.size();
        const std::string event = Script.substr(at, end - at);
        if (event.find('T') != std::string::npos)
            rig.fireTimer();
        else if (const size_t star = event.find('*'); star != std::string::npos)
            rig.arrive(Bytes(std::stoul(event.substr(star + 1)), hex(event.substr(0, star))[0]));
        else
            rig.arrive(hex(event));
        at = end + 1;
    }
}

struct ReportRow {
    const char *Name;
    int MBid;
    std::string Script;
    std::vector<std::string> Reports;
};

class FrameReports : public ::testing::TestWithParam<ReportRow>
{
};

TEST_P(FrameReports, EachFrameIsReportedOnceWithItsFate)
{
    const ReportRow &row = GetParam();
    Rig rig;
    rig.Image.MBid = row.MBid;
    rig.Image.HoldingRegs[1] = 0x1234;
    Recorder rec;
    rig.Slave.SetObserver(&rec);
    play(rig, row.Script);
    EXPECT_EQ(rec.Seen, normalised(row.Reports));
}

TEST_P(FrameReports, AnObserverChangesNothingOnTheLine)
{
    const ReportRow &row = GetParam();
    Rig quiet, watched;
    quiet.Image.MBid = watched.Image.MBid = row.MBid;
    Recorder rec;
    watched.Slave.SetObserver(&rec);
    play(quiet, row.Script);
    play(watched, row.Script);
    EXPECT_EQ(quiet.Line.Log, watched.Line.Log);
    EXPECT_EQ(quiet.Line.Writes, watched.Line.Writes);
    EXPECT_EQ(quiet.Timer.Starts, watched.Timer.Starts);
    EXPECT_EQ(quiet.Slave.RxCount, watched.Slave.RxCount);
}

// clang-format off
const ReportRow reportRows[] = {
    // fn 3, A = 0, Q = 1: register 1 = 0x1234
    {"ReadAnswered", 1, "01 03 00 00 00 01 crc",
     {"answered | 01 03 00 00 00 01 crc | 01 03 02 12 34 crc"}},
    // fn 3, A = 256: out of range
    {"ReadOutOfRangeException2", 1, "01 03 01 00 00 01 crc",
     {"exception 2 | 01 03 01 00 00 01 crc | 01 83 02 crc"}},
    // fn 22 has a length but no handler
    {"MaskWriteException1", 1, "01 16 00 00 00 00 00 00 crc",
     {"exception 1 | 01 16 00 00 00 00 00 00 crc | 01 96 01 crc"}},
    // last CRC byte flipped
    {"BadCrcIsSilent", 1, "01 03 00 00 00 0A C5 CC",
     {"bad crc | 01 03 00 00 00 0A C5 CC | "}},
    {"OtherSlave", 2, "01 03 00 00 00 0A C5 CD",
     {"other slave | 01 03 00 00 00 0A C5 CD | "}},
    // another id is reported whatever its CRC says
    {"OtherSlaveWithBadCrc", 2, "01 03 00 00 00 0A 00 00",
     {"other slave | 01 03 00 00 00 0A 00 00 | "}},
    // fn 6 to id 0
    {"Broadcast", 1, "00 06 00 00 00 07 crc",
     {"broadcast | 00 06 00 00 00 07 crc | "}},
    {"FragmentTimesOut", 1, "01 03 00,T",
     {"timed out | 01 03 00 | "}},
    {"SingleByteTimesOut", 1, "01,T",
     {"timed out | 01 | "}},
    // function 43 has no length rule: never complete, never answered
    {"Function43NoReply", 1, "01 2B 0E 01 00 crc,T",
     {"no reply | 01 2B 0E 01 00 crc | "}},
    {"IdleTimerFiresUnreported", 1, "T", {}},
    // ten bytes held, then one event of 247 would pass 256; the time-out that
    // follows finds nothing left to report
    {"OverflowTooLong", 1, "01 09 00 00 00 00 00 00 00 00,55*247,T",
     {"too long | 01 09 00 00 00 00 00 00 00 00 |  | 247 unread"}},
    // a request and a second one behind it in one read: one report, both dropped with it
    {"TrailingBytesTravelWithTheRequest", 1, "01 07 41 E2 01 07",
     {"answered | 01 07 41 E2 01 07 | 01 07 00 22 30"}},
    // the time-out ends a fragment; the next request stands on its own
    {"FragmentThenRequest", 1, "01 03,T,01 07 41 E2",
     {"timed out | 01 03 | ", "answered | 01 07 41 E2 | 01 07 00 22 30"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Engine, FrameReports, ::testing::ValuesIn(reportRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(FrameReports, OverflowOfAnEmptyBufferReportsTheUnreadCount)
{
    Rig rig;
    Recorder rec;
    rig.Slave.SetObserver(&rec);
    rig.arrive(Bytes(300, 0x01));
    EXPECT_EQ(rec.Seen, std::vector<std::string>{"too long |  |  | 300 unread"});
    EXPECT_EQ(rec.Counters.BytesIn, 300u);
}

TEST(FrameReports, FailedWriteIsReportedAndNotCountedAsSent)
{
    struct RefusingLine : FakeLine {
        int Write(const void *, int) override { return -1; }
    };
    TRegisterImage image;
    RefusingLine line;
    FakeTimer timer;
    TModbusSlave slave(image, line, timer);
    Recorder rec;
    slave.SetObserver(&rec);
    const Bytes req = hex("01 07 41 E2");
    line.Input.assign(req.begin(), req.end());
    slave.Comm1RxChar(int(req.size()));
    ASSERT_EQ(rec.Seen.size(), 1u);
    EXPECT_EQ(rec.Counters.Requests, 1u);
    EXPECT_EQ(rec.Counters.Replies, 0u);
    EXPECT_EQ(rec.Counters.BytesOut, 0u);
}

} // namespace
} // namespace quorlin::test
