// SPDX-License-Identifier: MIT
// The two framings of a TCP connection: Modbus TCP (an MBAP header in front
// of each request, no CRC) and RTU over TCP (RTU frames as a serial device
// server forwards them, CRC kept). Bytes go in as the connection delivers
// them, in pieces of any size; replies come out in order, some of them held
// back by injected faults until a time given by the caller's clock. No
// system call here: the network thread feeds and drains it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/frametiming.h"
#include "engine/requesthandler.h"

namespace quorlin
{

enum class TStreamKind : uint8_t { ModbusTcp, RtuOverTcp };

// A partial RTU over TCP request is dropped after this much silence: TCP may
// deliver one request in pieces well apart.
inline constexpr int64_t RtuOverTcpSilenceUs = 1000000;

class TStreamFraming
{
  public:
    // Work is shared by every connection of the thread and used only inside
    // the calls below. DefaultId: the Modbus TCP slave for unit ids 0 and 255
    // (0: the lowest id). Line names the connection in the frame reports.
    TStreamFraming(TStreamKind Kind, TRequestWorkspace &Work, int DefaultId,
                   IFrameObserver *Observer, std::string Line);

    // Bytes arrived at NowUs (microseconds, any steady clock). False when the
    // connection must be closed: a Modbus TCP header that cannot be right.
    bool Received(const uint8_t *Data, size_t Length, int64_t NowUs);
    // Time has passed: a partial RTU request whose silence ran out is
    // dropped, replies whose time has come move to Ready().
    void Advance(int64_t NowUs);
    // When Advance has something to do, -1 for never.
    int64_t NextDueUs() const;

    // Reply bytes to send, in order; the caller erases what it sent.
    std::vector<uint8_t> &Ready() { return m_ready; }
    // Bytes waiting: ready ones and the ones held back.
    size_t PendingBytes() const { return m_ready.size() + m_heldBytes; }
    TStreamKind Kind() const { return m_kind; }
    // Times the connection's frames for the reports by Clock, the one the
    // NowUs arguments come from (null, the default: no timing). The gap is
    // counted per connection; the turnaround is how long the reply took to be
    // ready after the segment that completed its request was read.
    void SetClock(TTimedLine::TClockFn Clock) { m_now = Clock; }
    const std::string &Line() const { return m_line; }

  private:
    struct THeld {
        int64_t DueUs;
        std::vector<uint8_t> Bytes;
    };

    bool takeMbap(int64_t NowUs);
    bool takeRtu(int64_t NowUs);
    void handle(const uint8_t *Request, int Length, int64_t NowUs);
    void queue(const uint8_t *Bytes, int Length, const TFaultDecision &Fault, int64_t NowUs);
    // The timing of a frame that began at StartUs and ended at EndUs.
    void timeFrame(int64_t StartUs, int64_t EndUs);
    void report(TVerdict Verdict, const uint8_t *Rx, int RxLength, const uint8_t *Reply,
                int ReplyLength, const TFaultDecision &Fault, bool Replaced, int Unread = 0);

    TStreamKind m_kind;
    TRequestWorkspace &m_work;
    TFramingRules m_rules;
    IFrameObserver *m_observer;
    std::string m_line;

    std::vector<uint8_t> m_in; // bytes received, not yet a whole request
    int64_t m_lastInUs = 0;    // when the last byte arrived (RTU silence)
    std::vector<uint8_t> m_ready;
    std::deque<THeld> m_held; // replies held back by faults, due in order
    size_t m_heldBytes = 0;

    TTimedLine::TClockFn m_now = nullptr;
    int64_t m_firstInUs = 0;   // when the first byte held in m_in arrived
    int64_t m_lineEndUs = -1;  // when the connection's last frame ended
    TFrameTiming m_timing;     // of the frame about to be reported
};

} // namespace quorlin
