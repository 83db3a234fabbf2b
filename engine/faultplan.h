// SPDX-License-Identifier: MIT
// Faults injected on purpose, so a master can be tested against a slave that
// is slow, silent or wrong. Every decision follows from the settings, the
// seed and the number of requests seen since the settings were loaded: the
// same profile and the same requests give the same faults, every run.
#pragma once

#include <cstdint>

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

    bool operator==(const TFaultSettings &) const = default;
};

// The [Faults] keys, by name, in the order a profile writes them; Enabled first.
struct TFaultSettingsKey {
    const char *Name;
    int TFaultSettings::*Member;
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
};

inline constexpr int MaxFaultDelayMs = 10000;
// The exception an "ExceptionEvery" without a valid code sends: slave device failure.
inline constexpr int DefaultFaultException = 4;

// Settings brought into their ranges: Enabled 0/1, MBid 0..255, times
// 0..10000 ms, percentages 0..100, counts >= 0, an exception code outside
// 0..255 replaced by 0 (the default). Whatever a profile holds, the plan
// sees these.
TFaultSettings NormalisedFaults(TFaultSettings Settings);

// What happens to the reply of one request. The kinds are in their order of
// precedence: when several hit one request, the first one wins.
enum class TFaultKind : uint8_t { None, NoReply, Exception, WrongId, BadCrc };

struct TFaultDecision {
    TFaultKind Kind = TFaultKind::None;
    uint8_t ExceptionCode = 0; // for Exception
    int DelayMs = 0;           // before the reply (or its first half) goes out
    int SplitMs = 0;           // silence between the halves; 0 = in one piece

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

    bool operator==(const TFaultCounts &) const = default;
};

class TFaultPlan
{
  public:
    // New settings start everything afresh: counts, request numbers, draws.
    void Load(const TFaultSettings &Settings);
    const TFaultSettings &Settings() const { return m_settings; }
    bool Enabled() const { return m_settings.Enabled != 0; }
    // Whether requests for this slave id are subject to the faults.
    bool AppliesTo(int SlaveId) const;

    // The fate of one request that the slave SlaveId would answer: counted
    // and decided when the faults apply to it, no fault otherwise.
    TFaultDecision Decide(int SlaveId);

    const TFaultCounts &Counts() const { return m_counts; }
    void CountCancelled() { ++m_counts.Cancelled; }

  private:
    uint64_t draw(unsigned Purpose) const;
    bool every(int N) const;
    bool percent(int P, unsigned Purpose) const;

    TFaultSettings m_settings;
    TFaultCounts m_counts;
};

} // namespace quorlin
