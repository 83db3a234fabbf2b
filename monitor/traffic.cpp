// SPDX-License-Identifier: MIT
#include "monitor/traffic.h"

#include <algorithm>

#include <chrono>
#include <ctime>

#include "engine/bytes.h"
#include "engine/modbusdefs.h"
#include "engine/pollstats.h"

namespace quorlin
{

namespace
{

bool hasAddress(int Function)
{
    switch (Function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 15:
    case 16:
    case 22:
    case 23:
    case 24:
        return true;
    default:
        return false;
    }
}

bool hasQuantity(int Function)
{
    switch (Function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 15:
    case 16:
    case 23:
        return true;
    default:
        return false;
    }
}

} // namespace

TRequestFields ParseRequest(std::span<const uint8_t> Frame)
{
    TRequestFields f;
    if (Frame.size() > size_t(modbus::OffSlaveId))
        f.Slave = Frame[modbus::OffSlaveId];
    if (Frame.size() > size_t(modbus::OffFunction))
        f.Function = Frame[modbus::OffFunction];
    if (hasAddress(f.Function) && Frame.size() >= size_t(modbus::OffAddress + 2))
        f.Address = readU16BE(Frame.data(), modbus::OffAddress);
    if (hasQuantity(f.Function) && Frame.size() >= size_t(modbus::OffQuantity + 2))
        f.Quantity = readU16BE(Frame.data(), modbus::OffQuantity);
    return f;
}

int RowsOfReport(const TFrameReport &Report, int64_t TimeUs, TTrafficRow Out[2],
                 std::string_view SerialLine)
{
    // Fields start at the slave id: a Modbus TCP header before it is skipped.
    const size_t head = std::min<size_t>(Report.HeaderLength, Report.Rx.size());
    const TRequestFields f = ParseRequest(Report.Rx.subspan(head));
    const std::string_view line = Report.Line.empty() ? SerialLine : Report.Line;
    std::string injected;
    if (Report.Injected != TFaultKind::None || Report.DelayMs > 0 || Report.SplitMs > 0 ||
        Report.Replaced || Report.Closes)
        injected = ReportText(Report);
    int n = 0;
    if (!Report.HeldReply) { // a held reply's request has its row already
        TTrafficRow &rx = Out[n++];
        rx.TimeUs = TimeUs;
        rx.Direction = TDirection::Rx;
        rx.Verdict = Report.Verdict;
        rx.ExceptionCode = Report.ExceptionCode;
        rx.Slave = f.Slave;
        rx.Function = f.Function;
        rx.Address = f.Address;
        rx.Quantity = f.Quantity;
        rx.Bytes.assign(reinterpret_cast<const char *>(Report.Rx.data()), Report.Rx.size());
        rx.Injected = injected;
        rx.Line = line;
        rx.Broadcast = Report.Broadcast;
        rx.GapUs = Report.Timing.GapUs;
        rx.TooSoon = Report.Timing.TooSoon;
        rx.GapInside = Report.Timing.GapInside;
    }
    // A reply the line refused or that was dropped never travelled: its row
    // says so and shows no bytes.
    const TUnsent unsent = Report.ReplyCancelled ? TUnsent::Cancelled
                           : Report.ReplyFailed && !Report.Reply.empty() ? TUnsent::Failed
                                                                         : TUnsent::No;
    if (Report.Reply.empty() && unsent == TUnsent::No)
        return n;
    TTrafficRow &tx = Out[n++];
    tx.TimeUs = TimeUs;
    tx.Direction = TDirection::Tx;
    tx.Verdict = Report.Verdict;
    tx.ExceptionCode = Report.ExceptionCode;
    tx.Slave = unsent != TUnsent::No ? f.Slave
               : Report.Reply.size() > Report.HeaderLength
                   ? int16_t(Report.Reply[Report.HeaderLength + modbus::OffSlaveId])
                   : int16_t(-1);
    tx.Line = line;
    tx.Function = f.Function;
    tx.Address = f.Address;
    tx.Quantity = f.Quantity;
    if (unsent == TUnsent::No)
        tx.Bytes.assign(reinterpret_cast<const char *>(Report.Reply.data()), Report.Reply.size());
    tx.Injected = injected;
    tx.Unsent = unsent;
    // The silence before a reply is the one since its request ended.
    tx.TurnaroundUs = Report.Timing.TurnaroundUs;
    tx.GapUs = Report.Timing.TurnaroundUs;
    return n;
}

std::string FunctionName(int Function)
{
    switch (Function) {
    case 1:
        return "Read Coils";
    case 2:
        return "Read Discrete Inputs";
    case 3:
        return "Read Holding Registers";
    case 4:
        return "Read Input Registers";
    case 5:
        return "Write Single Coil";
    case 6:
        return "Write Single Register";
    case 7:
        return "Read Exception Status";
    case 8:
        return "Diagnostics";
    case 11:
        return "Get Comm Event Counter";
    case 12:
        return "Get Comm Event Log";
    case 15:
        return "Write Multiple Coils";
    case 16:
        return "Write Multiple Registers";
    case 17:
        return "Report Slave ID";
    case 20:
        return "Read File Record";
    case 21:
        return "Write File Record";
    case 22:
        return "Mask Write Register";
    case 23:
        return "Read/Write Multiple Registers";
    case 24:
        return "Read FIFO Queue";
    case 43:
        return "Encapsulated Interface Transport";
    default:
        return {};
    }
}

std::string FunctionText(int Function)
{
    if (Function < 0)
        return {};
    const std::string name = FunctionName(Function);
    return name.empty() ? std::to_string(Function) : std::to_string(Function) + " " + name;
}

char RegisterTable(int Function)
{
    return PollTable(Function);
}

std::string RegisterText(const TTrafficRow &Row)
{
    const char table = RegisterTable(Row.Function);
    if (table == 0 || Row.Address < 0)
        return {};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%cx%04d", table, int(Row.Address) + 1);
    return buf;
}

std::string ResultText(const TTrafficRow &Row)
{
    std::string text;
    if (!Row.Injected.empty())
        text = Row.Injected;
    else if (Row.Direction == TDirection::Tx)
        text = Row.Verdict == TVerdict::Exception ? VerdictText(Row.Verdict, Row.ExceptionCode)
                                                  : std::string("reply");
    else if (Row.Verdict == TVerdict::Broadcast)
        text = BroadcastText(Row.Broadcast);
    else
        text = VerdictText(Row.Verdict, Row.ExceptionCode);
    if (Row.Unsent == TUnsent::Failed)
        text += ", not sent: write failed";
    else if (Row.Unsent == TUnsent::Cancelled)
        text += ", not sent: cancelled";
    if (Row.TooSoon)
        text += ", too soon";
    // A frame dropped for its gap has said so already.
    if (Row.GapInside && Row.Verdict != TVerdict::GapInside)
        text += ", gap inside";
    return text;
}

std::string HexText(std::string_view Bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    if (Bytes.empty())
        return s;
    s.resize(Bytes.size() * 3 - 1, ' ');
    for (size_t i = 0; i < Bytes.size(); ++i) {
        const auto b = uint8_t(Bytes[i]);
        s[3 * i] = digits[b >> 4];
        s[3 * i + 1] = digits[b & 15];
    }
    return s;
}

std::string LocalTimeText(int64_t TimeUs)
{
    int64_t seconds = TimeUs / 1000000;
    int64_t micros = TimeUs % 1000000;
    if (micros < 0) {
        micros += 1000000;
        --seconds;
    }
    // Rows come many to a second: the calendar is worked out once a second.
    static int64_t cachedSecond = INT64_MIN;
    static char cachedText[32] = "";
    if (seconds != cachedSecond) {
        const std::time_t t = std::time_t(seconds);
        const std::tm *local = std::localtime(&t);
        if (local == nullptr ||
            std::strftime(cachedText, sizeof cachedText, "%Y-%m-%dT%H:%M:%S", local) == 0)
            std::snprintf(cachedText, sizeof cachedText, "@%lld", static_cast<long long>(seconds));
        cachedSecond = seconds;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s.%06d", cachedText, int(micros));
    return buf;
}

int64_t NowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t SteadyNowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

bool IsDiscarded(TVerdict Verdict)
{
    switch (Verdict) {
    case TVerdict::BadCrc:
    case TVerdict::TimedOut:
    case TVerdict::TooLong:
    case TVerdict::NoReply:
    case TVerdict::BadHeader:
    case TVerdict::GapInside:
        return true;
    default:
        return false;
    }
}

const char *const CsvHeader =
    "time,direction,slave,function,address,quantity,result,bytes,line,gap_us,turnaround_us";

std::string CsvField(std::string_view Text)
{
    if (Text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(Text);
    std::string quoted = "\"";
    for (char c : Text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string CsvLine(const TTrafficRow &Row)
{
    auto number = [](int64_t v) { return v < 0 ? std::string() : std::to_string(v); };
    std::string line;
    line.reserve(64 + Row.Bytes.size() * 3);
    line += LocalTimeText(Row.TimeUs);
    line += Row.Direction == TDirection::Rx ? ",RX," : ",TX,";
    line += number(Row.Slave);
    line += ',';
    line += number(Row.Function);
    line += ',';
    line += number(Row.Address);
    line += ',';
    line += number(Row.Quantity);
    line += ',';
    line += CsvField(ResultText(Row));
    line += ',';
    line += HexText(Row.Bytes);
    line += ',';
    line += CsvField(Row.Line);
    line += ',';
    line += number(Row.GapUs);
    line += ',';
    line += number(Row.TurnaroundUs);
    line += "\r\n";
    return line;
}

std::string FilterName(TRowFilter Filter)
{
    switch (Filter) {
    case TRowFilter::All:
        return "All frames";
    case TRowFilter::Problems:
        return "Problems only";
    case TRowFilter::Answered:
        return "answered";
    case TRowFilter::Exception:
        return "exception";
    case TRowFilter::BadCrc:
        return "bad crc";
    case TRowFilter::OtherSlave:
        return "other slave";
    case TRowFilter::Broadcast:
        return "broadcast";
    case TRowFilter::TimedOut:
        return "timed out";
    case TRowFilter::TooLong:
        return "too long";
    case TRowFilter::NoReply:
        return "no reply";
    case TRowFilter::Injected:
        return "injected";
    case TRowFilter::Timing:
        return "too soon / gap inside";
    }
    return {};
}

bool FilterAccepts(TRowFilter Filter, const TTrafficRow &Row)
{
    switch (Filter) {
    case TRowFilter::All:
        return true;
    case TRowFilter::Problems:
        return Row.Verdict != TVerdict::Answered || Row.Unsent != TUnsent::No || IsInjectedRow(Row) ||
               IsTimingMarked(Row);
    case TRowFilter::Answered:
        return Row.Verdict == TVerdict::Answered;
    case TRowFilter::Exception:
        return Row.Verdict == TVerdict::Exception;
    case TRowFilter::BadCrc:
        return Row.Verdict == TVerdict::BadCrc;
    case TRowFilter::OtherSlave:
        return Row.Verdict == TVerdict::OtherSlave;
    case TRowFilter::Broadcast:
        return Row.Verdict == TVerdict::Broadcast;
    case TRowFilter::TimedOut:
        return Row.Verdict == TVerdict::TimedOut;
    case TRowFilter::TooLong:
        return Row.Verdict == TVerdict::TooLong;
    case TRowFilter::NoReply:
        return Row.Verdict == TVerdict::NoReply;
    case TRowFilter::Injected:
        return IsInjectedRow(Row);
    case TRowFilter::Timing:
        return IsTimingMarked(Row);
    }
    return false;
}

TTrafficStore::TTrafficStore(size_t Capacity) : m_capacity(Capacity > 0 ? Capacity : 1) {}

void TTrafficStore::Append(TTrafficRow Row)
{
    const size_t slot = size_t((m_end - m_base) % m_capacity);
    if (slot == m_rows.size())
        m_rows.push_back(std::move(Row));
    else
        m_rows[slot] = std::move(Row);
    ++m_end;
    if (m_end - m_begin > m_capacity) {
        ++m_begin;
        ++m_dropped;
    }
}

void TTrafficStore::Clear()
{
    // Sequence numbers go on, so a view never takes a new row for an old one.
    std::vector<TTrafficRow>().swap(m_rows);
    m_base = m_begin = m_end;
    m_dropped = 0;
}

TCsvTrace::TCsvTrace(std::FILE *Stream, bool Owned) : m_stream(Stream), m_owned(Owned)
{
    m_ok = m_stream != nullptr && put(std::string(CsvHeader) + "\r\n");
}

TCsvTrace::TCsvTrace(TStreamWriter &Writer) : m_writer(&Writer)
{
    put(std::string(CsvHeader) + "\r\n");
}

TCsvTrace::~TCsvTrace()
{
    if (m_stream == nullptr && m_writer == nullptr)
        return;
    Flush();
    if (m_stream != nullptr && m_owned)
        std::fclose(m_stream);
}

bool TCsvTrace::Ok() const
{
    return m_writer != nullptr ? !m_writer->Failed() : m_ok;
}

// A row the writer drops is counted there; only a failed write stops the trace.
bool TCsvTrace::put(const std::string &Text)
{
    if (m_writer != nullptr) {
        m_writer->Write(Text);
        return !m_writer->Failed();
    }
    return std::fwrite(Text.data(), 1, Text.size(), m_stream) == Text.size();
}

void TCsvTrace::Write(const TTrafficRow &Row)
{
    if (m_ok)
        m_pending.push_back(Row);
}

void TCsvTrace::Flush()
{
    for (const TTrafficRow &row : m_pending) {
        if (!m_ok)
            break;
        m_ok = put(CsvLine(row));
    }
    m_pending.clear();
    if (m_ok && m_stream != nullptr && std::fflush(m_stream) != 0)
        m_ok = false;
}

TTrafficRecorder::TTrafficRecorder(size_t Capacity) : Store(Capacity) {}

bool SlaveAccepts(int Slave, const TTrafficRow &Row)
{
    return Slave < 0 || Row.Slave == Slave || Row.Slave == 0;
}

bool LineAccepts(const std::string &Line, const TTrafficRow &Row)
{
    if (Line.empty() || Row.Line == Line)
        return true;
    // A kind: every connection of it, whatever its peer.
    return (Line == "tcp" || Line == "rtu-tcp") && Row.Line.size() > Line.size() &&
           Row.Line.compare(0, Line.size(), Line) == 0 && Row.Line[Line.size()] == ' ';
}

void TTrafficRecorder::ResetCounters()
{
    Counters.Reset();
    SlaveCounters.fill(TLineCounters{});
}

void TTrafficRecorder::FrameDone(const TFrameReport &Report)
{
    Record(Report, NowUs(), SteadyNowUs());
}

size_t TTrafficRecorder::Take(TFrameQueue &Queue)
{
    const size_t n = Queue.Drain([this](const TFrameReport &Report, int64_t TimeUs,
                                        int64_t SteadyUs) { Record(Report, TimeUs, SteadyUs); });
    Queue.TakeDroppedCounts(Counters, SlaveCounters);
    // The queue counts from its start; a smaller count means a new queue.
    const uint64_t dropped = Queue.Dropped();
    const uint64_t lost = dropped >= m_queueDropped ? dropped - m_queueDropped : dropped;
    m_queueDropped = dropped;
    if (lost > 0) {
        LostFrames += lost;
        ++Generation; // the window has news even if no row came
    }
    return n;
}

void TTrafficRecorder::Record(const TFrameReport &Report, int64_t TimeUs, int64_t SteadyUs)
{
    Counters.Count(Report);
    if (Report.Rx.size() > Report.HeaderLength)
        SlaveCounters[Report.Rx[Report.HeaderLength]].Count(Report);
    if ((Report.Verdict == TVerdict::Answered || Report.Verdict == TVerdict::Exception) &&
        !Report.HeldReply)
        LastRequestUs = SteadyUs;
    TTrafficRow rows[2];
    const int n = RowsOfReport(Report, TimeUs, rows, SerialLine);
    if (!Report.Line.empty() && SeenLines.size() < MaxSeenLines &&
        std::find(SeenLines.begin(), SeenLines.end(), Report.Line) == SeenLines.end())
        SeenLines.emplace_back(Report.Line);
    if (Trace != nullptr)
        for (int i = 0; i < n; ++i)
            Trace->Write(rows[i]);
    if (Tap)
        for (int i = 0; i < n; ++i)
            Tap(rows[i]);
    if (Paused) {
        PausedRows += uint64_t(n);
    } else {
        for (int i = 0; i < n; ++i)
            Store.Append(std::move(rows[i]));
    }
    ++Generation;
}

} // namespace quorlin
