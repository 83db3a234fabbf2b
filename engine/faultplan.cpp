// SPDX-License-Identifier: MIT
#include "engine/faultplan.h"

#include <algorithm>

namespace quorlin
{

namespace
{

// Each draw is a function of the seed, the request number and what it is
// for, not a step of one shared generator: switching one random fault on
// leaves the draws of the others where they were, and no library's
// distribution (which differ between implementations) is involved.
enum Purpose : unsigned { DrawNoReply = 0, DrawBadCrc = 1, DrawDelay = 2, DrawCount = 4 };

// SplitMix64's output function.
uint64_t mix(uint64_t X)
{
    X = (X ^ (X >> 30)) * 0xBF58476D1CE4E5B9ULL;
    X = (X ^ (X >> 27)) * 0x94D049BB133111EBULL;
    return X ^ (X >> 31);
}

constexpr uint64_t Gamma = 0x9E3779B97F4A7C15ULL;

} // namespace

TFaultSettings NormalisedFaults(TFaultSettings S)
{
    S.Enabled = S.Enabled != 0 ? 1 : 0;
    S.MBid = std::clamp(S.MBid, 0, 255);
    S.DelayMs = std::clamp(S.DelayMs, 0, MaxFaultDelayMs);
    S.DelayMaxMs = std::clamp(S.DelayMaxMs, 0, MaxFaultDelayMs);
    S.SplitReplyMs = std::clamp(S.SplitReplyMs, 0, MaxFaultDelayMs);
    S.NoReplyPercent = std::clamp(S.NoReplyPercent, 0, 100);
    S.BadCrcPercent = std::clamp(S.BadCrcPercent, 0, 100);
    for (int *every : {&S.NoReplyEvery, &S.ExceptionEvery, &S.BadCrcEvery, &S.WrongIdEvery})
        *every = std::max(*every, 0);
    if (S.ExceptionCode < 0 || S.ExceptionCode > 255)
        S.ExceptionCode = 0;
    return S;
}

void TFaultPlan::Load(const TFaultSettings &Settings)
{
    m_settings = NormalisedFaults(Settings);
    m_counts = {};
    m_aim.Set(m_settings.Functions, m_settings.Registers);
}

void TFaultPlan::LoadSlave(int SlaveId, const TFaultSettings &Settings)
{
    if (Settings.Enabled == 0 || SlaveId < 1 || SlaveId > 255) {
        m_slaves.erase(SlaveId);
        return;
    }
    TFaultSettings own = Settings;
    own.MBid = SlaveId;
    auto &plan = m_slaves[SlaveId];
    if (!plan)
        plan = std::make_unique<TFaultPlan>();
    plan->Load(own);
}

const TFaultPlan *TFaultPlan::SlavePlan(int SlaveId) const
{
    const auto found = m_slaves.find(SlaveId);
    return found != m_slaves.end() ? found->second.get() : nullptr;
}

bool ValidFailNext(const TFailNext &O)
{
    return O.Count >= 0 && O.Count <= MaxFailNextCount && O.SlaveId >= 0 && O.SlaveId <= 255 &&
           O.ExceptionCode >= 0 && O.ExceptionCode <= 255 &&
           (O.Kind != TFailKind::Delay || O.Count == 0 ||
            (O.DelayMs >= 1 && O.DelayMs <= MaxFaultDelayMs));
}

bool TFaultPlan::FailNext(const TFailNext &Order)
{
    if (!ValidFailNext(Order))
        return false;
    m_failNext = Order;
    return true;
}

TFaultDecision TFaultPlan::failNext()
{
    --m_failNext.Count;
    ++m_counts.FailedNext;
    TFaultDecision d;
    switch (m_failNext.Kind) {
    case TFailKind::NoReply:
        d.Kind = TFaultKind::NoReply;
        break;
    case TFailKind::Exception:
        d.Kind = TFaultKind::Exception;
        d.ExceptionCode = uint8_t(m_failNext.ExceptionCode != 0 ? m_failNext.ExceptionCode
                                                                : DefaultFaultException);
        break;
    case TFailKind::BadCrc:
        d.Kind = TFaultKind::BadCrc;
        break;
    case TFailKind::WrongId:
        d.Kind = TFaultKind::WrongId;
        break;
    case TFailKind::Delay:
        d.DelayMs = m_failNext.DelayMs;
        break;
    }
    return d;
}

bool TFaultPlan::AppliesTo(int SlaveId) const
{
    return Enabled() && (m_settings.MBid == 0 || m_settings.MBid == SlaveId);
}

uint64_t TFaultPlan::draw(unsigned Purpose) const
{
    const uint64_t index = m_counts.Requests * DrawCount + Purpose + 1;
    return mix(uint64_t(uint32_t(m_settings.Seed)) + Gamma * index);
}

bool TFaultPlan::every(int N) const
{
    return N > 0 && m_counts.Requests % uint64_t(N) == 0;
}

bool TFaultPlan::percent(int P, unsigned Purpose) const
{
    // The bias of a 64-bit draw taken modulo 100 is below 1e-17.
    return P > 0 && int(draw(Purpose) % 100) < P;
}

TFaultDecision TFaultPlan::Decide(int SlaveId)
{
    TFaultRequest r;
    r.SlaveId = SlaveId;
    return Decide(r);
}

TFaultDecision TFaultPlan::Decide(const TFaultRequest &Request)
{
    if (m_failNext.Count > 0 && (m_failNext.SlaveId == 0 || m_failNext.SlaveId == Request.SlaveId))
        return failNext();
    if (const auto own = m_slaves.find(Request.SlaveId); own != m_slaves.end())
        return own->second->Decide(Request);
    TFaultDecision d;
    if (!AppliesTo(Request.SlaveId) || !m_aim.Hits(Request))
        return d;
    ++m_counts.Requests;
    const TFaultSettings &s = m_settings;

    if (every(s.NoReplyEvery) || percent(s.NoReplyPercent, DrawNoReply)) {
        d.Kind = TFaultKind::NoReply;
        ++m_counts.NoReply;
        return d; // nothing goes out, so there is nothing to delay or split
    }
    if (every(s.ExceptionEvery)) {
        d.Kind = TFaultKind::Exception;
        d.ExceptionCode = uint8_t(s.ExceptionCode != 0 ? s.ExceptionCode : DefaultFaultException);
        ++m_counts.Exception;
    } else if (every(s.WrongIdEvery)) {
        d.Kind = TFaultKind::WrongId;
        ++m_counts.WrongId;
    } else if (every(s.BadCrcEvery) || percent(s.BadCrcPercent, DrawBadCrc)) {
        d.Kind = TFaultKind::BadCrc;
        ++m_counts.BadCrc;
    }

    d.DelayMs = s.DelayMs;
    if (s.DelayMaxMs > s.DelayMs)
        d.DelayMs += int(draw(DrawDelay) % uint64_t(s.DelayMaxMs - s.DelayMs + 1));
    if (d.DelayMs > 0)
        ++m_counts.Delayed;
    d.SplitMs = s.SplitReplyMs;
    if (d.SplitMs > 0)
        ++m_counts.Split;
    return d;
}

} // namespace quorlin
