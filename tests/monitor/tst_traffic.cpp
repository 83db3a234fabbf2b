// SPDX-License-Identifier: MIT
// Rows, CSV lines, filters, the bounded store, the trace file and the
// recorder that ties them to the engine's reports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "monitor/traffic.h"
#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

// Times are shown in local time: the tests fix it to UTC.
const bool inUtc = [] {
    setenv("TZ", "UTC", 1);
    tzset();
    return true;
}();

constexpr int64_t SomeTime = 1000000123456; // 1970-01-12T13:46:40.123456 UTC
const std::string SomeTimeText = "1970-01-12T13:46:40.123456";

struct ReportCase {
    TVerdict Verdict;
    uint8_t ExceptionCode;
    Bytes Rx;
    Bytes Reply;
    int Unread = 0;
    bool ReplyFailed = false;
    TFaultKind Injected = TFaultKind::None;
    int DelayMs = 0;
    bool HeldReply = false, ReplyHeld = false, ReplyCancelled = false;
};

std::vector<std::string> csvOf(const ReportCase &C)
{
    TFrameReport r;
    r.Verdict = C.Verdict;
    r.ExceptionCode = C.ExceptionCode;
    r.Rx = C.Rx;
    r.Reply = C.Reply;
    r.Unread = C.Unread;
    r.ReplyFailed = C.ReplyFailed;
    r.Injected = C.Injected;
    r.DelayMs = C.DelayMs;
    r.HeldReply = C.HeldReply;
    r.ReplyHeld = C.ReplyHeld;
    r.ReplyCancelled = C.ReplyCancelled;
    TTrafficRow rows[2];
    const int n = RowsOfReport(r, SomeTime, rows);
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i)
        lines.push_back(CsvLine(rows[i]));
    return lines;
}

struct CsvRow {
    const char *Name;
    ReportCase Report;
    // Lines without the time and the CRLF; {rx} and {tx} stand for the hex
    // of the received and the reply bytes.
    std::vector<std::string> Lines;
};

class CsvRows : public ::testing::TestWithParam<CsvRow>
{
};

TEST_P(CsvRows, ReportBecomesTheseLines)
{
    const CsvRow &row = GetParam();
    std::vector<std::string> want;
    for (std::string line : row.Lines) {
        for (auto [key, bytes] : {std::pair{"{rx}", &row.Report.Rx}, {"{tx}", &row.Report.Reply}})
            if (const size_t at = line.find(key); at != std::string::npos)
                line.replace(at, 4, toHex(*bytes));
        want.push_back(SomeTimeText + "," + line + ",,,\r\n"); // no line named, nothing timed
    }
    EXPECT_EQ(csvOf(row.Report), want);
}

// clang-format off
const CsvRow csvRows[] = {
    // fn 3, A = 0, Q = 2, registers 0x1234 and 5
    {"ReadAnsweredAndItsReply",
     {TVerdict::Answered, 0, hex("01 03 00 00 00 02 C4 0B"), hex("01 03 04 12 34 00 05 7E 86")},
     {"RX,1,3,0,2,answered,01 03 00 00 00 02 C4 0B", "TX,1,3,0,2,reply,01 03 04 12 34 00 05 7E 86"}},
    // fn 1, A = 2048, Q = 1: out of range
    {"ExceptionOnBothRows",
     {TVerdict::Exception, 2, hex("01 01 08 00 00 01 FF AA"), hex("01 81 02 C1 91")},
     {"RX,1,1,2048,1,exception 2,{rx}", "TX,1,1,2048,1,exception 2,{tx}"}},
    // fn 6 carries an address and a value, no quantity
    {"WriteSingleRegisterHasNoQuantity",
     {TVerdict::Answered, 0, hex("01 06 00 FF 9C 40 crc"), hex("01 06 00 FF 9C 40 crc")},
     {"RX,1,6,255,,answered,{rx}", "TX,1,6,255,,reply,{tx}"}},
    // fn 16, A = 0, Q = 1, one value
    {"WriteMultipleRegisters",
     {TVerdict::Answered, 0, hex("01 10 00 00 00 01 02 00 2A crc"), hex("01 10 00 00 00 01 crc")},
     {"RX,1,16,0,1,answered,{rx}", "TX,1,16,0,1,reply,{tx}"}},
    {"ReportSlaveIdHasNoAddress",
     {TVerdict::Answered, 0, hex("01 11 crc"), hex("01 11 09 09 FF 09 FF 01 02 0A 00 D0 crc")},
     {"RX,1,17,,,answered,{rx}", "TX,1,17,,,reply,{tx}"}},
    {"FragmentKeepsWhatItHolds", {TVerdict::TimedOut, 0, hex("01 03 00 04"), {}},
     {"RX,1,3,4,,timed out,01 03 00 04"}},
    {"SingleByteFragment", {TVerdict::TimedOut, 0, hex("01"), {}},
     {"RX,1,,,,timed out,01"}},
    {"OverflowOfAnEmptyBuffer", {TVerdict::TooLong, 0, {}, {}, 300},
     {"RX,,,,,too long,"}},
    {"RefusedReplyIsNamedWithoutItsBytes",
     {TVerdict::Answered, 0, hex("01 07 41 E2"), hex("01 07 00 22 30"), 0, true},
     {"RX,1,7,,,answered,01 07 41 E2", "TX,1,7,,,\"reply, not sent: write failed\","}},
    // A held reply: the request's row now, the reply's row when it is written or dropped.
    {"DelayedReplyNotYetWritten",
     {TVerdict::Answered, 0, hex("01 03 00 00 00 02 C4 0B"), {}, 0, false, TFaultKind::None, 200, false, true},
     {"RX,1,3,0,2,\"answered, delayed 200 ms\",{rx}"}},
    {"DelayedReplyWrittenLater",
     {TVerdict::Answered, 0, hex("01 03 00 00 00 02 C4 0B"), hex("01 03 04 12 34 00 05 7E 86"), 0, false, TFaultKind::None, 200, true},
     {"TX,1,3,0,2,\"answered, delayed 200 ms\",{tx}"}},
    {"DelayedReplyRefusedLater",
     {TVerdict::Answered, 0, hex("01 03 00 00 00 02 C4 0B"), hex("01 03 04 12 34 00 05 7E 86"), 0, true, TFaultKind::None, 200, true},
     {"TX,1,3,0,2,\"answered, delayed 200 ms, not sent: write failed\","}},
    {"DelayedReplyCancelled",
     {TVerdict::Exception, 6, hex("01 03 00 00 00 02 C4 0B"), {}, 0, false, TFaultKind::Exception, 500, true, false, true},
     {"TX,1,3,0,2,\"exception 6 (injected), delayed 500 ms, not sent: cancelled\","}},
    // Injected faults name themselves on both rows, in the trace as on the screen.
    {"InjectedBadCrcDelayed",
     {TVerdict::Answered, 0, hex("01 03 00 00 00 02 C4 0B"), hex("01 03 04 12 34 00 05 7E 79"), 0, false, TFaultKind::BadCrc, 200},
     {"RX,1,3,0,2,\"bad crc (injected), delayed 200 ms\",{rx}", "TX,1,3,0,2,\"bad crc (injected), delayed 200 ms\",{tx}"}},
    {"InjectedNoReply",
     {TVerdict::Answered, 0, hex("01 03 00 00 00 02 C4 0B"), {}, 0, false, TFaultKind::NoReply},
     {"RX,1,3,0,2,no reply (injected),{rx}"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Traffic, CsvRows, ::testing::ValuesIn(csvRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// What a person hunting a fault needs from each report's request row: its
// result text, whether "Problems only" and "injected" keep it, and whether the
// injected counter counts it. Injected delays and splits are faults too.
struct FateRow {
    const char *Name;
    TVerdict Verdict;
    TFaultKind Injected;
    int DelayMs;
    int SplitMs;
    TBroadcastFate Broadcast;
    std::string Result;
    bool Problem;
    bool Injected_;
};

class FateRows : public ::testing::TestWithParam<FateRow>
{
};

TEST_P(FateRows, ResultFiltersAndInjectedCounter)
{
    const FateRow &c = GetParam();
    const Bytes rx = hex("00 06 00 01 00 07 crc"), reply = hex("01 06 00 01 00 07 crc");
    TFrameReport r;
    r.Verdict = c.Verdict;
    r.Rx = rx;
    if (c.Verdict == TVerdict::Answered && c.Injected != TFaultKind::NoReply)
        r.Reply = reply;
    r.Injected = c.Injected;
    r.DelayMs = c.DelayMs;
    r.SplitMs = c.SplitMs;
    r.Broadcast = c.Broadcast;
    TTrafficRecorder rec(10);
    rec.FrameDone(r);
    ASSERT_GE(rec.Store.Size(), 1u);
    for (size_t i = 0; i < rec.Store.Size(); ++i) {
        const TTrafficRow &row = rec.Store.At(i);
        if (i == 0)
            EXPECT_EQ(ResultText(row), c.Result);
        EXPECT_EQ(FilterAccepts(TRowFilter::Problems, row), c.Problem) << "row " << i;
        EXPECT_EQ(FilterAccepts(TRowFilter::Injected, row), c.Injected_) << "row " << i;
        EXPECT_EQ(IsInjectedRow(row), c.Injected_) << "row " << i;
    }
    EXPECT_EQ(rec.Counters.Injected, c.Injected_ ? 1u : 0u);
    EXPECT_EQ(rec.SlaveCounters[rx[0]].Injected, c.Injected_ ? 1u : 0u);
}

using K = TFaultKind;
using B = TBroadcastFate;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Traffic, FateRows, ::testing::Values(
    FateRow{"Answered", TVerdict::Answered, K::None, 0, 0, B::None, "answered", false, false},
    FateRow{"InjectedNoReply", TVerdict::Answered, K::NoReply, 0, 0, B::None, "no reply (injected)", true, true},
    FateRow{"InjectedBadCrc", TVerdict::Answered, K::BadCrc, 0, 0, B::None, "bad crc (injected)", true, true},
    FateRow{"InjectedWrongId", TVerdict::Answered, K::WrongId, 0, 0, B::None, "wrong id (injected)", true, true},
    FateRow{"InjectedDelayOnly", TVerdict::Answered, K::None, 200, 0, B::None, "answered, delayed 200 ms", true, true},
    FateRow{"InjectedSplitOnly", TVerdict::Answered, K::None, 0, 30, B::None, "answered, split 30 ms", true, true},
    FateRow{"BroadcastCarriedOut", TVerdict::Broadcast, K::None, 0, 0, B::CarriedOut, "broadcast: carried out", true, false},
    FateRow{"BroadcastIgnored", TVerdict::Broadcast, K::None, 0, 0, B::Ignored, "broadcast: ignored (setting off)", true, false},
    FateRow{"BroadcastNotAWrite", TVerdict::Broadcast, K::None, 0, 0, B::NotAWrite, "broadcast: not a write", true, false},
    FateRow{"BadCrc", TVerdict::BadCrc, K::None, 0, 0, B::None, "bad crc", true, false}),
    [](const auto &Info) { return std::string(Info.param.Name); });
// clang-format on

TEST(Csv, LocalTimeHasMicrosecondsAndCountsBackBeforeTheEpoch)
{
    EXPECT_EQ(LocalTimeText(SomeTime), SomeTimeText);
    EXPECT_EQ(LocalTimeText(0), "1970-01-01T00:00:00.000000");
    EXPECT_EQ(LocalTimeText(-1), "1969-12-31T23:59:59.999999");
    EXPECT_EQ(LocalTimeText(1796771701123456), "2026-12-08T23:15:01.123456");
}

TEST(Csv, FieldsAreQuotedOnlyWhenTheyMustBe)
{
    const std::pair<std::string, std::string> rows[] = {
        {"", ""},
        {"exception 2", "exception 2"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
    };
    for (const auto &[in, out] : rows)
        EXPECT_EQ(CsvField(in), out) << in;
    EXPECT_STREQ(CsvHeader, "time,direction,slave,function,address,quantity,result,bytes,line,"
                            "gap_us,turnaround_us");
}

// A report's timing as rows: the RX row's silence and marks, the TX row's
// turnaround (its silence too), and empty columns where nothing was measured.
TEST(MonitorTiming, RowsCarryGapTurnaroundAndMarksToTheCsv)
{
    const uint8_t rx[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
    const uint8_t reply[] = {1, 3, 2, 0, 0, 0xB8, 0x44};
    struct Row {
        const char *Name;
        TFrameTiming Timing;
        TVerdict Verdict;
        const char *RxTail, *TxTail; // result onwards; TxTail null: no TX row
        bool Marked;
    };
    const Row rows[] = {
        {"Untimed", {}, TVerdict::Answered, "answered,01 03 00 00 00 01 84 0A,COM1,,\r\n",
         "reply,01 03 02 00 00 B8 44,COM1,,\r\n", false},
        {"TooSoon", {1500, 0, 800, true, false}, TVerdict::Answered,
         "\"answered, too soon\",01 03 00 00 00 01 84 0A,COM1,1500,\r\n",
         "reply,01 03 02 00 00 B8 44,COM1,800,800\r\n", true},
        {"GapInsideOtherSlave", {90000, 25000, -1, false, true}, TVerdict::OtherSlave,
         "\"other slave, gap inside\",01 03 00 00 00 01 84 0A,COM1,90000,\r\n", nullptr, true},
        {"FirstFrameNoGap", {-1, 0, 12, false, false}, TVerdict::Answered,
         "answered,01 03 00 00 00 01 84 0A,COM1,,\r\n", "reply,01 03 02 00 00 B8 44,COM1,12,12\r\n",
         false},
    };
    for (const Row &row : rows) {
        TFrameReport r;
        r.Rx = rx;
        r.Verdict = row.Verdict;
        if (row.TxTail != nullptr)
            r.Reply = reply;
        r.Timing = row.Timing;
        TTrafficRow out[2];
        const int n = RowsOfReport(r, 0, out, "COM1");
        ASSERT_EQ(n, row.TxTail != nullptr ? 2 : 1) << row.Name;
        const std::string csvRx = CsvLine(out[0]);
        EXPECT_TRUE(csvRx.ends_with(row.RxTail)) << row.Name << ": " << csvRx;
        if (row.TxTail != nullptr) {
            const std::string csvTx = CsvLine(out[1]);
            EXPECT_TRUE(csvTx.ends_with(row.TxTail)) << row.Name << ": " << csvTx;
            EXPECT_FALSE(IsTimingMarked(out[1])) << "marks belong to what was received";
        }
        EXPECT_EQ(FilterAccepts(TRowFilter::Timing, out[0]), row.Marked) << row.Name;
        EXPECT_EQ(FilterAccepts(TRowFilter::Problems, out[0]),
                  row.Marked || row.Verdict != TVerdict::Answered)
            << row.Name;
        // The counter line counts each mark once per frame.
        TLineCounters c;
        c.Count(r);
        EXPECT_EQ(c.TooSoon + c.GapInside, row.Marked ? 1u : 0u) << row.Name;
    }
}

TEST(MonitorText, FunctionsAndRegistersAsTheWindowShowsThem)
{
    struct Row {
        int Function;
        int Address;
        std::string Function_;
        std::string Register;
    };
    const Row rows[] = {
        {3, 0, "3 Read Holding Registers", "4x0001"},
        {1, 2047, "1 Read Coils", "0x2048"},
        {2, 0, "2 Read Discrete Inputs", "1x0001"},
        {4, 255, "4 Read Input Registers", "3x0256"},
        {5, 9, "5 Write Single Coil", "0x0010"},
        {6, 99, "6 Write Single Register", "4x0100"},
        {15, 0, "15 Write Multiple Coils", "0x0001"},
        {16, 65535, "16 Write Multiple Registers", "4x65536"},
        {7, -1, "7 Read Exception Status", ""},
        {8, -1, "8 Diagnostics", ""},
        {43, -1, "43 Encapsulated Interface Transport", ""},
        {65, -1, "65", ""},
        {-1, -1, "", ""},
        {3, -1, "3 Read Holding Registers", ""}, // a fragment without its address
    };
    for (const Row &r : rows) {
        TTrafficRow row;
        row.Function = int16_t(r.Function);
        row.Address = r.Address;
        EXPECT_EQ(FunctionText(r.Function), r.Function_) << r.Function;
        EXPECT_EQ(RegisterText(row), r.Register) << r.Function << " " << r.Address;
    }
}

TTrafficRow rowFrom(int Slave)
{
    TTrafficRow row;
    row.Slave = int16_t(Slave);
    return row;
}

std::vector<int> slavesIn(const TTrafficStore &Store)
{
    std::vector<int> out;
    for (size_t i = 0; i < Store.Size(); ++i)
        out.push_back(Store.At(i).Slave);
    return out;
}

TEST(TrafficStore, KeepsTheNewestRowsAndCountsTheDropped)
{
    TTrafficStore store(3);
    for (int i = 0; i < 5; ++i)
        store.Append(rowFrom(i));
    EXPECT_EQ(slavesIn(store), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(store.Dropped(), 2u);
    EXPECT_EQ(store.FirstSeq(), 2u);
    EXPECT_EQ(store.EndSeq(), 5u);
    EXPECT_EQ(store.AtSeq(3).Slave, 3);

    // Cleared in the middle of its ring: numbering goes on, nothing old comes back.
    store.Clear();
    EXPECT_EQ(store.Size(), 0u);
    EXPECT_EQ(store.Dropped(), 0u);
    EXPECT_EQ(store.FirstSeq(), 5u);
    for (int i = 5; i < 9; ++i)
        store.Append(rowFrom(i));
    EXPECT_EQ(slavesIn(store), (std::vector<int>{6, 7, 8}));
    EXPECT_EQ(store.Dropped(), 1u);
    EXPECT_EQ(store.AtSeq(8).Slave, 8);
}

std::string readBack(std::FILE *F)
{
    std::rewind(F);
    std::string text;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, F)) > 0)
        text.append(buf, n);
    return text;
}

TEST(CsvTrace, AFullDiskIsNoticed)
{
    std::FILE *f = std::fopen("/dev/full", "w");
    if (f == nullptr)
        GTEST_SKIP() << "no /dev/full";
    TCsvTrace trace(f, true);
    trace.Write(rowFrom(1));
    trace.Flush();
    EXPECT_FALSE(trace.Ok());
}

TEST(TrafficRecorder, PauseStopsTheRowsButNotTheCountersOrTheTrace)
{
    std::FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    TCsvTrace trace(f, false);
    TTrafficRecorder rec(100);
    rec.Trace = &trace;
    const Bytes rx = hex("01 07 41 E2"), reply = hex("01 07 00 22 30");
    TFrameReport r;
    r.Rx = rx;
    r.Reply = reply;

    rec.FrameDone(r);
    EXPECT_EQ(rec.Store.Size(), 2u);
    EXPECT_GE(rec.LastRequestUs, 0);
    rec.Paused = true;
    rec.FrameDone(r);
    EXPECT_EQ(rec.Store.Size(), 2u);
    EXPECT_EQ(rec.PausedRows, 2u);
    EXPECT_EQ(rec.Counters.Requests, 2u);
    EXPECT_EQ(rec.Generation, 2u);

    trace.Flush();
    const std::string text = readBack(f);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5); // header and four rows
    std::fclose(f);
}

TEST(TrafficRecorder, OnlyRequestsForUsSetTheTimeOfTheLastRequest)
{
    TTrafficRecorder rec(10);
    const Bytes rx = hex("02 07 41 E2");
    TFrameReport r;
    r.Rx = rx;
    for (TVerdict v : {TVerdict::OtherSlave, TVerdict::BadCrc, TVerdict::TimedOut,
                       TVerdict::Broadcast, TVerdict::TooLong, TVerdict::NoReply}) {
        r.Verdict = v;
        rec.FrameDone(r);
    }
    EXPECT_EQ(rec.LastRequestUs, -1);
    EXPECT_EQ(rec.Store.Size(), 6u);
}

// Frames queued on the line's thread keep the times they were taken, not
// the time the window got round to them; frames the queue dropped are counted.
TEST(TrafficRecorder, TakeRecordsQueuedFramesWithTheirOwnTimesAndCountsTheLost)
{
    TFrameQueue queue(2);
    TTrafficRecorder rec(100);
    const Bytes rx = hex("01 03 00 00 00 0A C5 CD"), reply = hex("01 83 02 C0 F1");
    TFrameReport r;
    r.Rx = rx;
    r.Reply = reply;
    r.Verdict = TVerdict::Exception;
    queue.FrameDone(r);
    r.Verdict = TVerdict::BadCrc;
    r.Reply = {};
    for (int i = 0; i < 2; ++i)
        queue.FrameDone(r); // the second finds the queue full
    const int64_t queuedBy = NowUs(), queuedBySteady = SteadyNowUs();
    while (NowUs() <= queuedBy || SteadyNowUs() <= queuedBySteady) {
    }

    EXPECT_EQ(rec.Take(queue), 2u);
    ASSERT_EQ(rec.Store.Size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_LE(rec.Store.At(i).TimeUs, queuedBy) << "row " << i;
    EXPECT_EQ(rec.Store.At(1).Bytes, std::string(reply.begin(), reply.end()));
    EXPECT_LE(rec.LastRequestUs, queuedBySteady);
    EXPECT_GE(rec.LastRequestUs, 0);
    EXPECT_EQ(rec.Counters.BadCrc, 2u); // the lost frame counted all the same
    EXPECT_EQ(rec.SlaveCounters[1].BadCrc, 2u);
    EXPECT_EQ(rec.LostFrames, 1u);

    // Nothing new: nothing to repaint. Zeroed, only new losses count.
    const uint64_t generation = rec.Generation;
    EXPECT_EQ(rec.Take(queue), 0u);
    EXPECT_EQ(rec.Generation, generation);
    rec.LostFrames = 0;
    for (int i = 0; i < 4; ++i)
        queue.FrameDone(r);
    EXPECT_EQ(rec.Take(queue), 2u);
    EXPECT_EQ(rec.LostFrames, 2u);
}

} // namespace
} // namespace quorlin::test

namespace quorlin::test
{
namespace
{

// A Modbus TCP frame's fields come after its header, its line names the
// connection, the serial line's rows take the recorder's name for it, and
// the per-slave counters go by the unit id.
TEST(TrafficRecorder, NetworkFramesAreReadPastTheirHeaderAndNamedByTheirLine)
{
    TTrafficRecorder rec;
    rec.SerialLine = "COM2";
    const std::vector<uint8_t> rx = {0, 1, 0, 0, 0, 6, 17, 3, 0, 4, 0, 2};
    const std::vector<uint8_t> reply = {0, 1, 0, 0, 0, 7, 17, 3, 4, 0, 1, 0, 2};
    TFrameReport net;
    net.Rx = rx;
    net.Reply = reply;
    net.Line = "tcp 127.0.0.1:40312";
    net.HeaderLength = 6;
    rec.FrameDone(net);
    const std::vector<uint8_t> serialRx = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
    TFrameReport serial;
    serial.Rx = serialRx;
    serial.Verdict = TVerdict::BadCrc;
    rec.FrameDone(serial);

    ASSERT_EQ(rec.Store.Size(), 3u);
    const TTrafficRow &r = rec.Store.At(0), &t = rec.Store.At(1), &s = rec.Store.At(2);
    EXPECT_EQ(r.Slave, 17);
    EXPECT_EQ(r.Function, 3);
    EXPECT_EQ(r.Address, 4);
    EXPECT_EQ(r.Quantity, 2);
    EXPECT_EQ(t.Slave, 17);
    EXPECT_EQ(r.Line, "tcp 127.0.0.1:40312");
    EXPECT_EQ(t.Line, r.Line);
    EXPECT_EQ(s.Line, "COM2");
    EXPECT_EQ(rec.SlaveCounters[17].Requests, 1u);
    EXPECT_EQ(rec.SlaveCounters[1].BadCrc, 1u);
    EXPECT_EQ(rec.SeenLines, std::vector<std::string>{"tcp 127.0.0.1:40312"});
    EXPECT_TRUE(CsvLine(r).ends_with(",tcp 127.0.0.1:40312,,\r\n")) << CsvLine(r);

    // The line filter: one line, one kind of connection, or all.
    struct {
        std::string filter;
        bool net, serial;
    } const rows[] = {{"", true, true},          {"COM2", false, true},
                      {"tcp", true, false},      {"rtu-tcp", false, false},
                      {"tcp 127.0.0.1:40312", true, false}, {"tcp 127.0.0.1:4031", false, false}};
    for (const auto &row : rows) {
        EXPECT_EQ(LineAccepts(row.filter, r), row.net) << row.filter;
        EXPECT_EQ(LineAccepts(row.filter, s), row.serial) << row.filter;
    }
}

TEST(TrafficFilters, ProblemsOnlyKeepsRepliesThatNeverWent)
{
    TTrafficRow tx;
    tx.Direction = TDirection::Tx;
    tx.Verdict = TVerdict::Answered;
    EXPECT_FALSE(FilterAccepts(TRowFilter::Problems, tx));
    for (TUnsent why : {TUnsent::Failed, TUnsent::Cancelled}) {
        tx.Unsent = why;
        EXPECT_TRUE(FilterAccepts(TRowFilter::Problems, tx));
        EXPECT_TRUE(FilterAccepts(TRowFilter::Answered, tx)) << "it stays with its request";
    }
}

} // namespace
} // namespace quorlin::test
