// SPDX-License-Identifier: MIT
// Faults injected on purpose, so a master can be tested against a slave that
// is slow, silent or wrong. Every decision follows from the settings, the
// seed and the number of requests seen since the settings were loaded: the
// same profile and the same requests give the same faults, every run.
#pragma once

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
// The exception an "ExceptionEvery" without a valid code sends: slave device failure.
inline constexpr int DefaultFaultException = 4;

// Settings brought into their ranges: Enabled 0/1, MBid 0..255, times
// 0..10000 ms, percentages 0..100, counts >= 0, an exception code outside
// 0..255 replaced by 0 (the default). Whatever a profile holds, the plan
// sees these.
TFaultSettings NormalisedFaults(TFaultSettings Settings);

// What happens to the reply of one request. The kinds are in their order of
// precedence: when several hit one request, the first one wins.
enum class TFaultKind : uint8_t { None, NoReply, Exception, WrongId, BadCrc, Offline };

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
    uint64_t FailedNext = 0; // requests failed by a "fail next" order

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

    const TFaultCounts &Counts() const { return m_counts; }
    void CountCancelled() { ++m_counts.Cancelled; }

    // The section of one slave (MBid is ignored: it is the slave's). One with
    // Enabled 0 is dropped: the slave follows these settings again. Loading
    // starts the section's counts afresh.
    void LoadSlave(int SlaveId, const TFaultSettings &Settings);
    void ClearSlaves() { m_slaves.clear(); }
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
};

} // namespace quorlin
