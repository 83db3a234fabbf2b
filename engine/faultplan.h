// SPDX-License-Identifier: MIT
// Faults injected on purpose, so a master can be tested against a slave that
// is slow, silent or wrong. Every decision follows from the settings, the
// seed and the number of requests seen since the settings were loaded: the
// same profile and the same requests give the same faults, every run.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/faultaim.h"

namespace quorlin
{

// The keys of a profile's "Faults" section; 0 switches each one off.
struct TFaultSettings {
    int Enabled = 0;
    int MBid = 0;       // the one slave the faults apply to; 0 = every slave
    int DelayMs = 0;    // wait before a reply
    int DelayMaxMs = 0; // above DelayMs: the delay is drawn from [DelayMs, DelayMaxMs]
    int NoReplyEvery = 0;
    int NoReplyPercent = 0;
    int ExceptionEvery = 0;
    int ExceptionCode = 0; // 1..255; 0 sends DefaultFaultException
    int BadCrcEvery = 0;
    int BadCrcPercent = 0;
    int WrongIdEvery = 0;
    int SplitReplyMs = 0; // silence between the two halves of a reply
    int Seed = 0;
    // The aim: function codes ("3,16") and registers ("4x0100-4x0199");
    // empty hits every request.
    std::string Functions{};
    std::string Registers{};
    // What happens to the bytes of a reply on their way out.
    int NoiseEvery = 0;
    int NoisePercent = 0;
    int NoiseBytes = 0; // random bytes before the reply; 0 sends DefaultNoiseBytes
    int TruncateEvery = 0;
    int TruncatePercent = 0;
    int TruncateBytes = 0; // the reply's first K bytes go; 0 sends half of it
    int DuplicateEvery = 0;
    int DuplicatePercent = 0;
    int WrongParityEvery = 0; // serial line only
    int WrongParityPercent = 0;
    int UnsolicitedMs = 0; // serial line only: a reply nobody asked for, this often
    // Modbus TCP and RTU over TCP connections.
    int ResetEvery = 0;         // half the reply, then the connection is reset
    int WrongTidEvery = 0;      // Modbus TCP: the transaction id plus one
    int BadLengthEvery = 0;     // Modbus TCP: the header counts one byte more than follows
    int CloseAfterRequests = 0; // each connection closed once N requests were answered
    int IdleCloseSeconds = 0;   // a connection silent this long is closed

    bool operator==(const TFaultSettings &) const = default;
};

// The [Faults] keys, by name, in the order a profile writes them; Enabled first.
// An Optional key is written only when set, so a profile that does not use it
// is saved as it was before the key existed.
struct TFaultSettingsKey {
    const char *Name;
    int TFaultSettings::*Member;
    bool Optional = false;
};
inline constexpr TFaultSettingsKey FaultSettingsKeys[] = {
    {"Enabled", &TFaultSettings::Enabled},
    {"MBid", &TFaultSettings::MBid},
    {"DelayMs", &TFaultSettings::DelayMs},
    {"DelayMaxMs", &TFaultSettings::DelayMaxMs},
    {"NoReplyEvery", &TFaultSettings::NoReplyEvery},
    {"NoReplyPercent", &TFaultSettings::NoReplyPercent},
    {"ExceptionEvery", &TFaultSettings::ExceptionEvery},
    {"ExceptionCode", &TFaultSettings::ExceptionCode},
    {"BadCrcEvery", &TFaultSettings::BadCrcEvery},
    {"BadCrcPercent", &TFaultSettings::BadCrcPercent},
    {"WrongIdEvery", &TFaultSettings::WrongIdEvery},
    {"SplitReplyMs", &TFaultSettings::SplitReplyMs},
    {"Seed", &TFaultSettings::Seed},
    {"NoiseEvery", &TFaultSettings::NoiseEvery, true},
    {"NoisePercent", &TFaultSettings::NoisePercent, true},
    {"NoiseBytes", &TFaultSettings::NoiseBytes, true},
    {"TruncateEvery", &TFaultSettings::TruncateEvery, true},
    {"TruncatePercent", &TFaultSettings::TruncatePercent, true},
    {"TruncateBytes", &TFaultSettings::TruncateBytes, true},
    {"DuplicateEvery", &TFaultSettings::DuplicateEvery, true},
    {"DuplicatePercent", &TFaultSettings::DuplicatePercent, true},
    {"WrongParityEvery", &TFaultSettings::WrongParityEvery, true},
    {"WrongParityPercent", &TFaultSettings::WrongParityPercent, true},
    {"UnsolicitedMs", &TFaultSettings::UnsolicitedMs, true},
    {"ResetEvery", &TFaultSettings::ResetEvery, true},
    {"WrongTidEvery", &TFaultSettings::WrongTidEvery, true},
    {"BadLengthEvery", &TFaultSettings::BadLengthEvery, true},
    {"CloseAfterRequests", &TFaultSettings::CloseAfterRequests, true},
    {"IdleCloseSeconds", &TFaultSettings::IdleCloseSeconds, true},
};

// The text keys of a section, written only when they hold something (or
// when the file has them already), so a profile without them stays as it was.
struct TFaultSettingsTextKey {
    const char *Name;
    std::string TFaultSettings::*Member;
};
inline constexpr TFaultSettingsTextKey FaultSettingsTextKeys[] = {
    {"Functions", &TFaultSettings::Functions},
    {"Registers", &TFaultSettings::Registers},
};

inline constexpr int MaxFaultDelayMs = 10000;
inline constexpr int DefaultNoiseBytes = 8;
inline constexpr int MaxNoiseBytes = 64;
// Unsolicited replies no closer together than this: a line kept busy by them
// alone would leave a master no room to ask anything.
inline constexpr int MinUnsolicitedMs = 10;
inline constexpr int MaxIdleCloseSeconds = 86400;
// The exception an "ExceptionEvery" without a valid code sends: slave device failure.
inline constexpr int DefaultFaultException = 4;

// Settings brought into their ranges: Enabled 0/1, MBid 0..255, times
// 0..10000 ms, percentages 0..100, counts >= 0, an exception code outside
// 0..255 replaced by 0 (the default). Whatever a profile holds, the plan
// sees these.
TFaultSettings NormalisedFaults(TFaultSettings Settings);

// What happens to the reply of one request. The kinds are in their order of
// precedence: when several hit one request, the first one wins. A kind the
// framing cannot carry (a wrong parity on a TCP connection, a transaction id
// on the serial line) is passed over for that request, neither winning nor
// counted. Unsolicited is no request's: it marks the frame sent on its own.
enum class TFaultKind : uint8_t {
    None,
    NoReply,
    Exception,
    WrongId,
    BadCrc,
    Reset,
    WrongTid,
    BadLength,
    Truncated,
    Duplicated,
    Noise,
    WrongParity,
    Unsolicited,
    Offline, // the slave is switched offline: silent, registers kept
};

// Where a reply goes, for the kinds that only some framings can carry.
enum class TFaultMedium : uint8_t { Serial, ModbusTcp, RtuOverTcp };

struct TFaultDecision {
    TFaultKind Kind = TFaultKind::None;
    uint8_t ExceptionCode = 0; // for Exception
    int DelayMs = 0;           // before the reply (or its first half) goes out
    int SplitMs = 0;           // silence between the halves; 0 = in one piece
    int Bytes = 0;             // Noise: how many; Truncated: how many kept (0: half)
    uint64_t NoiseDraw = 0;    // Noise: where its bytes come from

    bool operator==(const TFaultDecision &) const = default;
};

// What the faults did since they were loaded.
struct TFaultCounts {
    uint64_t Requests = 0; // requests counted towards the "...Every" faults
    uint64_t NoReply = 0;
    uint64_t Exception = 0;
    uint64_t WrongId = 0;
    uint64_t BadCrc = 0;
    uint64_t Delayed = 0;   // replies held back before they went out
    uint64_t Split = 0;     // replies sent in two halves
    uint64_t Cancelled = 0; // held-back replies dropped because a new request came
    uint64_t FailedNext = 0; // requests failed by a "fail next" order
    uint64_t Noise = 0;
    uint64_t Truncated = 0;
    uint64_t Duplicated = 0;
    uint64_t WrongParity = 0;
    uint64_t Unsolicited = 0;
    uint64_t Reset = 0;
    uint64_t WrongTid = 0;
    uint64_t BadLength = 0;
    uint64_t ClosedAfter = 0; // connections closed after their CloseAfterRequests
    uint64_t IdleClosed = 0;  // connections closed for silence

    bool operator==(const TFaultCounts &) const = default;
};

// An order to fail the next Count requests of one slave (0: of any slave)
// in one way, whatever the sections say.
enum class TFailKind : uint8_t { NoReply, Exception, BadCrc, WrongId, Delay };
struct TFailNext {
    TFailKind Kind = TFailKind::NoReply;
    int Count = 0;
    int SlaveId = 0;
    int ExceptionCode = 0; // 0: DefaultFaultException
    int DelayMs = 0;       // for Delay, 1..MaxFaultDelayMs

    bool operator==(const TFailNext &) const = default;
};
inline constexpr int MaxFailNextCount = 1000000;
// The order brought into range: a Count outside 0..MaxFailNextCount or a
// slave id outside 0..255 is refused (false), as is a Delay without a delay.
bool ValidFailNext(const TFailNext &Order);

class TFaultPlan
{
  public:
    // New settings start everything afresh: counts, request numbers, draws.
    void Load(const TFaultSettings &Settings);
    const TFaultSettings &Settings() const { return m_settings; }
    bool Enabled() const { return m_settings.Enabled != 0; }
    // Whether requests for this slave id are subject to the faults.
    bool AppliesTo(int SlaveId) const;

    // The fate of one request that the slave Request.SlaveId would answer.
    // First a "fail next" order for it; then the slave's own section when it
    // has one switched on; else these settings when they apply to it. A
    // request outside a section's aim has no fault and is not counted.
    TFaultDecision Decide(const TFaultRequest &Request);
    // A request whose function and registers are not known.
    TFaultDecision Decide(int SlaveId);

    // The kinds that change how a reply's bytes travel, decided for the
    // request Decide has just counted, where the framing can carry them;
    // nothing when Decide did not count it or already chose a kind.
    void DecideDelivery(TFaultDecision &Decision, TFaultMedium Medium);

    // Connection faults, whatever slave is asked: 0 when off. Any thread, no lock.
    int CloseAfterRequests() const { return m_closeAfter.load(std::memory_order_relaxed); }
    int IdleCloseSeconds() const { return m_idleClose.load(std::memory_order_relaxed); }
    // The unsolicited reply's interval, 0 when off; any thread, no lock.
    int UnsolicitedMs() const { return m_unsolicitedMs.load(std::memory_order_relaxed); }
    // The slave the unsolicited reply comes from: the one the faults are for,
    // or Fallback when they are for every slave.
    int UnsolicitedSlave(int Fallback) const
    {
        return m_settings.MBid != 0 ? m_settings.MBid : Fallback;
    }

    const TFaultCounts &Counts() const { return m_counts; }
    void CountCancelled() { ++m_counts.Cancelled; }
    void CountUnsolicited() { ++m_counts.Unsolicited; }
    void CountClosedAfter() { ++m_counts.ClosedAfter; }
    void CountIdleClosed() { ++m_counts.IdleClosed; }

    // The section of one slave (MBid is ignored: it is the slave's). One with
    // Enabled 0 is dropped: the slave follows these settings again. Loading
    // starts the section's counts afresh.
    void LoadSlave(int SlaveId, const TFaultSettings &Settings);
    void ClearSlaves()
    {
        m_lastDecider = nullptr;
        m_slaves.clear();
    }
    // The slave's own section, or null when it follows these settings.
    const TFaultPlan *SlavePlan(int SlaveId) const;
    // Whether the aim of these settings parsed; an aim that did not hits nothing.
    bool AimValid() const { return m_aim.Valid(); }

    // Replaces any order still running; Count 0 cancels it. False, and
    // nothing changed, for an order that ValidFailNext refuses.
    bool FailNext(const TFailNext &Order);
    // What is left of the order.
    const TFailNext &FailNextLeft() const { return m_failNext; }

  private:
    uint64_t draw(unsigned Purpose) const;
    bool every(int N) const;
    bool percent(int P, unsigned Purpose) const;

    TFaultDecision failNext();

    TFaultSettings m_settings;
    TFaultCounts m_counts;
    TFaultAim m_aim;
    TFailNext m_failNext;
    std::map<int, std::unique_ptr<TFaultPlan>> m_slaves;
    // The plan that counted the request Decide saw last (this one or a
    // slave's), whose settings decide its delivery; null when none did.
    TFaultPlan *m_lastDecider = nullptr;
    std::atomic<int> m_unsolicitedMs{0};
    std::atomic<int> m_closeAfter{0};
    std::atomic<int> m_idleClose{0};
};

// Count bytes of noise drawn from Draw into Out, the same every time.
void NoiseBurst(uint64_t Draw, uint8_t *Out, int Count);

} // namespace quorlin
