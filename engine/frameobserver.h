// SPDX-License-Identifier: MIT
// What the engine did with each frame it received, told to whoever wants to
// know (the traffic monitor, the trace file, the line counters). The engine
// reports facts it already has at the moment it decides; nothing is parsed
// again afterwards. Without an observer the engine does no work for it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/faultplan.h"
#include "engine/frametiming.h"

namespace quorlin
{

// The fate of one received frame, or of the bytes collected for one.
enum class TVerdict : uint8_t {
    Answered,   // our id, CRC right, a normal reply sent
    Exception,  // our id, CRC right, an exception reply sent
    BadCrc,     // complete frame for our id whose CRC was wrong: silence
    OtherSlave, // complete frame for another id: silence
    Broadcast,  // complete frame for id 0: silence
    TimedOut,   // incomplete when the time-out fired: discarded
    TooLong,    // the receive buffer would have overflowed: discarded
    NoReply,    // a function code the engine never answers, dropped by the time-out
    BadHeader,  // a Modbus TCP header that cannot be right: the connection was closed
    GapInside,  // framed by silence, with a silence inside it too long: discarded
};

// What became of a frame for id 0 (Broadcast only): the setting that lets
// the slaves carry out broadcast writes decides, and only writes qualify.
enum class TBroadcastFate : uint8_t {
    None,      // not a broadcast
    CarriedOut, // a write, carried out by every slave
    Ignored,    // a write, ignored: the slaves do not take broadcasts
    NotAWrite,  // a function a broadcast cannot carry (a read to id 0)
};

struct TFrameReport {
    std::span<const uint8_t> Rx; // the bytes the engine held for this frame
    int Unread = 0;              // bytes thrown away unread with it (TooLong only)
    TVerdict Verdict = TVerdict::Answered;
    uint8_t ExceptionCode = 0;      // the code sent (Exception only)
    std::span<const uint8_t> Reply; // the reply as handed to the line; empty when silent
    bool ReplyFailed = false;       // the line refused the reply's write
    // Injected faults: what was done to this request's reply on purpose.
    TFaultKind Injected = TFaultKind::None; // the reply withheld or changed (Reply as sent)
    int DelayMs = 0;                        // the reply held back this long
    int SplitMs = 0;                        // the reply sent in two halves with this gap
    bool Replaced = false;                  // this frame cancelled a reply still held back
    bool Closes = false;                    // the connection is closed after this reply
    // Where the frame travelled: empty for the serial line, "tcp 127.0.0.1:40312"
    // for a network connection.
    std::string_view Line;
    // Bytes before the slave id in Rx and Reply: 6 for Modbus TCP's header
    // (transaction, protocol, length), 0 for RTU.
    uint8_t HeaderLength = 0;
    // A reply held back (delayed, or the second half of a split one) is told
    // of again, when its bytes are written or dropped, in a report of its own
    // stamped with that moment. Such a report is not a new frame: its Rx is
    // the request, already reported, and its Reply the bytes written then.
    bool HeldReply = false;      // this is that later report
    bool ReplyHeld = false;      // more of this reply is held back: a later report follows
    bool ReplyCancelled = false; // the held reply was dropped unsent: a newer request came,
                                 // or the port closed or changed
    TBroadcastFate Broadcast = TBroadcastFate::None;
    // When it came and, for a reply written now, how soon it followed its
    // request; all unknown (-1) where the line is not timed.
    TFrameTiming Timing;
};

// Whether an injected fault touched the request's reply: withheld, changed,
// delayed or split.
bool IsInjected(const TFrameReport &Report);

class IFrameObserver
{
  public:
    virtual ~IFrameObserver() = default;
    // Called on the engine's thread once the frame's fate is sealed, after
    // any reply has gone to the line. The spans die when this returns.
    virtual void FrameDone(const TFrameReport &Report) = 0;
};

// "answered", "exception 2", "bad crc", ...: the text the monitor, the trace
// file and the CSV export show in their result column.
std::string VerdictText(TVerdict Verdict, uint8_t ExceptionCode = 0);
// "broadcast: carried out", "broadcast: ignored (setting off)",
// "broadcast: not a write"; "broadcast" when the fate is not known.
std::string BroadcastText(TBroadcastFate Fate);
// The verdict with what the faults did to it: "no reply (injected)",
// "exception 6 (injected)", "wrong id (injected)", "bad crc (injected)",
// then ", delayed 200 ms", ", split 30 ms", ", replaced a held-back reply".
std::string ReportText(const TFrameReport &Report);

// Counters of one line. Requests are the frames for our id that passed the
// CRC check (each answered, normally or with an exception); every other
// verdict has its own count. Bytes in include the ones purged unread. A
// reply counts once its last byte was written; bytes out are the bytes
// written, when they were.
struct TLineCounters {
    uint64_t Requests = 0;
    uint64_t Replies = 0;    // every reply sent, exceptions included
    uint64_t Exceptions = 0; // of them, the exception replies
    uint64_t BadCrc = 0;
    uint64_t OtherSlave = 0;
    uint64_t Broadcast = 0;
    uint64_t TimedOut = 0;
    uint64_t TooLong = 0;
    uint64_t NoReply = 0;
    uint64_t BytesIn = 0;
    uint64_t BytesOut = 0;
    uint64_t Injected = 0; // replies withheld, changed, delayed or split by injected faults
    uint64_t BadHeader = 0; // connections closed for a malformed Modbus TCP header
    uint64_t Failed = 0;    // replies the line refused to take
    uint64_t Cancelled = 0; // replies held back and dropped before they went
    uint64_t TooSoon = 0;   // frames that began sooner than the silence between frames allows
    uint64_t GapInside = 0; // frames with a longer silence inside than a frame may hold

    void Count(const TFrameReport &Report);
    void Reset() { *this = TLineCounters{}; }
    bool operator==(const TLineCounters &) const = default;
};

} // namespace quorlin
