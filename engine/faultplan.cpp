// SPDX-License-Identifier: MIT
#include "engine/faultplan.h"

#include <algorithm>

#include "engine/modbusdefs.h"

namespace quorlin
{

namespace
{

// Each draw is a function of the seed, the request number and what it is
// for, not a step of one shared generator: switching one random fault on
// leaves the draws of the others where they were, and no library's
// distribution (which differ between implementations) is involved.
enum Purpose : unsigned { DrawNoReply = 0, DrawBadCrc = 1, DrawDelay = 2, DrawCount = 4 };
// The delivery kinds draw from a second series of their own, so the draws
// above stay exactly what they were before these kinds existed.
enum DeliveryPurpose : unsigned {
    DrawTruncate = 0,
    DrawDuplicate = 1,
    DrawNoise = 2,
    DrawNoiseBytes = 3,
    DrawParity = 4,
    DeliveryDrawCount = 8
};
constexpr uint64_t DeliverySeries = 0xD1B54A32D192ED03ULL;

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
    for (int *chance :
         {&S.NoisePercent, &S.TruncatePercent, &S.DuplicatePercent, &S.WrongParityPercent})
        *chance = std::clamp(*chance, 0, 100);
    for (int *every : {&S.NoiseEvery, &S.TruncateEvery, &S.DuplicateEvery, &S.WrongParityEvery,
                       &S.ResetEvery, &S.WrongTidEvery, &S.BadLengthEvery, &S.CloseAfterRequests})
        *every = std::max(*every, 0);
    S.NoiseBytes = std::clamp(S.NoiseBytes, 0, MaxNoiseBytes);
    S.TruncateBytes = std::clamp(S.TruncateBytes, 0, modbus::MaxAsciiFrameLength);
    S.UnsolicitedMs =
        S.UnsolicitedMs <= 0 ? 0 : std::clamp(S.UnsolicitedMs, MinUnsolicitedMs, MaxFaultDelayMs);
    S.IdleCloseSeconds = std::clamp(S.IdleCloseSeconds, 0, MaxIdleCloseSeconds);
    return S;
}

void TFaultPlan::Load(const TFaultSettings &Settings)
{
    m_settings = NormalisedFaults(Settings);
    m_counts = {};
    m_aim.Set(m_settings.Functions, m_settings.Registers);
    m_lastDecider = nullptr;
    m_unsolicitedMs.store(Enabled() ? m_settings.UnsolicitedMs : 0, std::memory_order_relaxed);
    m_closeAfter.store(Enabled() ? m_settings.CloseAfterRequests : 0, std::memory_order_relaxed);
    m_idleClose.store(Enabled() ? m_settings.IdleCloseSeconds : 0, std::memory_order_relaxed);
}

void TFaultPlan::LoadSlave(int SlaveId, const TFaultSettings &Settings)
{
    if (Settings.Enabled == 0 || SlaveId < 1 || SlaveId > 255) {
        m_lastDecider = nullptr;
        m_slaves.erase(SlaveId);
        return;
    }
    m_lastDecider = nullptr; // it may be the plan about to go
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
    m_lastDecider = nullptr;
    if (m_failNext.Count > 0 && (m_failNext.SlaveId == 0 || m_failNext.SlaveId == Request.SlaveId))
        return failNext();
    if (const auto own = m_slaves.find(Request.SlaveId); own != m_slaves.end()) {
        const TFaultDecision d = own->second->Decide(Request);
        m_lastDecider = own->second->m_lastDecider;
        return d;
    }
    TFaultDecision d;
    if (!AppliesTo(Request.SlaveId) || !m_aim.Hits(Request))
        return d;
    ++m_counts.Requests;
    m_lastDecider = this;
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

void TFaultPlan::DecideDelivery(TFaultDecision &D, TFaultMedium Medium)
{
    // Decide did not count this request (or its delivery is decided already):
    // nothing is injected into it. A slave's own section decides its own.
    TFaultPlan *const plan = m_lastDecider;
    m_lastDecider = nullptr;
    if (plan == nullptr)
        return;
    if (plan != this) {
        plan->m_lastDecider = plan;
        plan->DecideDelivery(D, Medium);
        return;
    }
    if (D.Kind != TFaultKind::None)
        return;
    const TFaultSettings &s = m_settings;
    const bool tcp = Medium != TFaultMedium::Serial;
    const bool mbap = Medium == TFaultMedium::ModbusTcp;
    auto draw2 = [this](unsigned Purpose) {
        const uint64_t index = m_counts.Requests * DeliveryDrawCount + Purpose + 1;
        return mix((uint64_t(uint32_t(m_settings.Seed)) ^ DeliverySeries) + Gamma * index);
    };
    auto chance = [&draw2](int P, unsigned Purpose) {
        return P > 0 && int(draw2(Purpose) % 100) < P;
    };
    if (tcp && every(s.ResetEvery)) {
        D.Kind = TFaultKind::Reset;
        ++m_counts.Reset;
    } else if (mbap && every(s.WrongTidEvery)) {
        D.Kind = TFaultKind::WrongTid;
        ++m_counts.WrongTid;
    } else if (mbap && every(s.BadLengthEvery)) {
        D.Kind = TFaultKind::BadLength;
        ++m_counts.BadLength;
    } else if (every(s.TruncateEvery) || chance(s.TruncatePercent, DrawTruncate)) {
        D.Kind = TFaultKind::Truncated;
        D.Bytes = s.TruncateBytes;
        ++m_counts.Truncated;
    } else if (every(s.DuplicateEvery) || chance(s.DuplicatePercent, DrawDuplicate)) {
        D.Kind = TFaultKind::Duplicated;
        ++m_counts.Duplicated;
    } else if (every(s.NoiseEvery) || chance(s.NoisePercent, DrawNoise)) {
        D.Kind = TFaultKind::Noise;
        D.Bytes = s.NoiseBytes != 0 ? s.NoiseBytes : DefaultNoiseBytes;
        D.NoiseDraw = draw2(DrawNoiseBytes);
        ++m_counts.Noise;
    } else if (!tcp && (every(s.WrongParityEvery) || chance(s.WrongParityPercent, DrawParity))) {
        D.Kind = TFaultKind::WrongParity;
        ++m_counts.WrongParity;
    }
}

void NoiseBurst(uint64_t Draw, uint8_t *Out, int Count)
{
    for (int i = 0; i < Count; i += 8) {
        const uint64_t x = mix(Draw + Gamma * uint64_t(i / 8 + 1));
        for (int k = 0; k < 8 && i + k < Count; ++k)
            Out[i + k] = uint8_t(x >> (8 * k));
    }
}

} // namespace quorlin
