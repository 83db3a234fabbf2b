// SPDX-License-Identifier: MIT
// The traffic of one line as rows: one row per frame received (RX) and per
// reply sent (TX), with the fields a person debugging a master looks at, and
// the CSV form of a row that "Save As..." and the trace file write. Standard
// C++ only, so it can be tested, fuzzed and measured without a display.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/frameobserver.h"
#include "engine/framequeue.h"
#include "platform/streamwriter.h"

namespace quorlin
{

enum class TDirection : uint8_t { Rx, Tx };
// Why a reply's TX row has no bytes: the line refused the write, or the
// reply was held back and dropped (a newer request, the port closed).
enum class TUnsent : uint8_t { No, Failed, Cancelled };

struct TTrafficRow {
    int64_t TimeUs = 0; // microseconds since the Unix epoch
    TDirection Direction = TDirection::Rx;
    // The fate of the request; a TX row carries its request's (Answered or
    // Exception), so a filter by verdict keeps a request and its reply together.
    TVerdict Verdict = TVerdict::Answered;
    uint8_t ExceptionCode = 0;
    int16_t Slave = -1;    // byte 0, -1 when no byte was held
    int16_t Function = -1; // the request's function code, -1 when unknown
    int32_t Address = -1;  // 0-based data address as the request carries it, -1: none
    int32_t Quantity = -1; // -1: none
    std::string Bytes;     // the frame as it travelled, one char per byte
    std::string Injected;  // what injected faults did ("bad crc (injected), delayed 200 ms")
    std::string Line;      // where it travelled: "COM2", "tcp 127.0.0.1:40312"
    // TX rows: a reply that never went out keeps no bytes and says why.
    TUnsent Unsent = TUnsent::No;
    TBroadcastFate Broadcast = TBroadcastFate::None; // Broadcast rows: what became of it
    // Microseconds of silence before the frame (a reply's is its turnaround),
    // and for a reply the time from the end of its request to its first
    // byte; -1 where the line did not tell.
    int64_t GapUs = -1;
    int64_t TurnaroundUs = -1;
    bool TooSoon = false;   // RX: began sooner than the silence between frames allows
    bool GapInside = false; // RX: held a longer silence inside than a frame may
};

// Whether the row carries a timing mark ("too soon", "gap inside").
inline bool IsTimingMarked(const TTrafficRow &Row) { return Row.TooSoon || Row.GapInside; }

// Whether injected faults touched the row's reply (what the monitor marks).
inline bool IsInjectedRow(const TTrafficRow &Row) { return !Row.Injected.empty(); }

// Fields of a request as far as its bytes go: a function without an address
// (7, 8, 11, ...) or a frame too short to hold one leaves them at -1.
struct TRequestFields {
    int16_t Slave = -1;
    int16_t Function = -1;
    int32_t Address = -1;
    int32_t Quantity = -1;
};
TRequestFields ParseRequest(std::span<const uint8_t> Frame);

// The rows of one report: the RX row, then the TX row when a reply went out
// or was meant to and did not. The later report of a held reply has its TX
// row alone. Returns how many rows were written to Out. A report without a
// line of its own travelled on SerialLine.
int RowsOfReport(const TFrameReport &Report, int64_t TimeUs, TTrafficRow Out[2],
                 std::string_view SerialLine = {});

// "Read Holding Registers"; empty for a code without a standard name.
std::string FunctionName(int Function);
// "3 Read Holding Registers", "65" for an unnamed code, "" for none.
std::string FunctionText(int Function);
// The table a function addresses, as its type code digit ('0', '1', '3',
// '4'), or 0 when it addresses none.
char RegisterTable(int Function);
// "4x0001": the first register a row addresses, numbered from 1; "" for none.
std::string RegisterText(const TTrafficRow &Row);
// "answered", "bad crc", ... for RX rows; "reply" or "exception N" for TX
// rows, followed by ", not sent: write failed" or ", not sent: cancelled",
// then the timing marks ", too soon", ", gap inside".
std::string ResultText(const TTrafficRow &Row);
// "01 03 00 0A": upper-case pairs, single spaces.
std::string HexText(std::string_view Bytes);
// Local time to the microsecond: "2026-12-08T23:15:01.123456".
std::string LocalTimeText(int64_t TimeUs);
int64_t NowUs();

// Whether a verdict means the frame was thrown away or not understood.
bool IsDiscarded(TVerdict Verdict);

// CSV of RFC 4180: comma separated, CRLF line ends, fields holding a comma,
// a quote or a line break quoted with doubled quotes.
extern const char *const CsvHeader; // "time,direction,...,line,gap_us,turnaround_us", no line end
std::string CsvField(std::string_view Text);
std::string CsvLine(const TTrafficRow &Row); // with its CRLF

// Verdict filters of the monitor, in the order the window lists them.
enum class TRowFilter : uint8_t {
    All,
    Problems, // everything but answered requests and their replies; injected faults; timing marks
    Answered,
    Exception,
    BadCrc,
    OtherSlave,
    Broadcast,
    TimedOut,
    TooLong,
    NoReply,
    Injected, // rows whose reply injected faults withheld, changed, delayed or split
    Timing,   // frames marked too soon or with a gap inside
};
inline constexpr int RowFilterCount = 12;
std::string FilterName(TRowFilter Filter);
bool FilterAccepts(TRowFilter Filter, const TTrafficRow &Row);
// The slave filter: Slave < 0 takes every row; otherwise the rows of that id
// and the broadcasts (id 0), which address every slave.
bool SlaveAccepts(int Slave, const TTrafficRow &Row);
// The line filter: empty takes every row; "tcp" and "rtu-tcp" every
// connection of that kind; anything else the rows of that line alone.
bool LineAccepts(const std::string &Line, const TTrafficRow &Row);

// The newest Capacity rows, oldest first, and how many older ones were
// dropped to keep within it. Rows are numbered in the order they came
// (sequence numbers), so a view can tell which of its rows are gone.
class TTrafficStore
{
  public:
    static constexpr size_t DefaultCapacity = 100000;
    explicit TTrafficStore(size_t Capacity = DefaultCapacity);

    void Append(TTrafficRow Row);
    void Clear();
    size_t Size() const { return size_t(m_end - m_begin); }
    size_t Capacity() const { return m_capacity; }
    uint64_t Dropped() const { return m_dropped; }
    uint64_t FirstSeq() const { return m_begin; } // of the oldest row kept
    uint64_t EndSeq() const { return m_end; }     // one past the newest
    const TTrafficRow &AtSeq(uint64_t Seq) const { return m_rows[(Seq - m_base) % m_capacity]; }
    const TTrafficRow &At(size_t Index) const { return AtSeq(m_begin + Index); }

  private:
    size_t m_capacity;
    std::vector<TTrafficRow> m_rows; // grows to m_capacity, then reused in turn
    uint64_t m_base = 0;             // sequence number that sits in m_rows[0]
    uint64_t m_begin = 0;
    uint64_t m_end = 0;
    uint64_t m_dropped = 0;
};

// Writes rows to a trace as CSV, header first. Write only keeps the row;
// Flush, which the 100 ms tick calls, formats and pushes out what came since,
// so the text work never stands between a reply and the next request.
class TCsvTrace
{
  public:
    // Takes a stream that is open for writing; Owned closes it at the end.
    TCsvTrace(std::FILE *Stream, bool Owned);
    // Hands each line to Writer, which writes on a thread of its own: Flush
    // then never waits for the reader, and a row the writer has no room for
    // is dropped and counted there.
    explicit TCsvTrace(TStreamWriter &Writer);
    ~TCsvTrace();
    TCsvTrace(const TCsvTrace &) = delete;
    TCsvTrace &operator=(const TCsvTrace &) = delete;

    void Write(const TTrafficRow &Row);
    void Flush();
    // False once a write or a flush has failed (disk full, closed pipe).
    bool Ok() const;

  private:
    bool put(const std::string &Text);

    std::FILE *m_stream = nullptr;
    TStreamWriter *m_writer = nullptr;
    bool m_owned = false;
    bool m_ok = true;
    std::vector<TTrafficRow> m_pending;
};

// The observer the program attaches to its engine: counts every frame, keeps
// the rows for the monitor (unless paused) and hands them to the trace.
class TTrafficRecorder : public IFrameObserver
{
  public:
    explicit TTrafficRecorder(size_t Capacity = TTrafficStore::DefaultCapacity);

    // Records the frame as taken now.
    void FrameDone(const TFrameReport &Report) override;
    // Records a frame taken earlier, at TimeUs (system clock) and SteadyUs
    // (steady clock), as the frame queue hands them over.
    void Record(const TFrameReport &Report, int64_t TimeUs, int64_t SteadyUs);
    // Records every frame waiting in Queue, and counts those it dropped;
    // returns how many frames were recorded.
    size_t Take(TFrameQueue &Queue);

    TLineCounters Counters;
    // The same counts split by the id the frames carried (byte 0).
    std::array<TLineCounters, 256> SlaveCounters{};
    void ResetCounters();
    TTrafficStore Store;
    // While paused the rows are counted in PausedRows instead of being kept.
    bool Paused = false;
    uint64_t PausedRows = 0;
    TCsvTrace *Trace = nullptr;
    // The name of the serial line's rows ("COM2"), which its reports leave out.
    std::string SerialLine;
    // Every other line that had a frame, first seen first (up to MaxSeenLines).
    std::vector<std::string> SeenLines;
    static constexpr size_t MaxSeenLines = 64;
    // Sees every row, paused or not (the remote-control API keeps its own
    // ring); null: none.
    std::function<void(const TTrafficRow &)> Tap;
    // When the last request for us was seen (steady clock, microseconds), or
    // -1 before the first.
    int64_t LastRequestUs = -1;
    // Bumped by every row, so a view knows whether it has anything to repaint.
    uint64_t Generation = 0;
    // Frames the queue dropped before Take saw them, because the consumer fell
    // behind: they are missing from the rows, though the counters hold them.
    // Zero it to start counting again.
    uint64_t LostFrames = 0;

  private:
    uint64_t m_queueDropped = 0; // the queue's drop count at the last Take
};

// Microseconds on a clock that never jumps, for "time since".
int64_t SteadyNowUs();

} // namespace quorlin
