// SPDX-License-Identifier: MIT
#include "engine/replysender.h"

#include <algorithm>

#include "engine/bytes.h"
#include "engine/crc16.h"
#include "engine/linetiming.h"

namespace quorlin
{

using namespace modbus;

void InjectWrongId(uint8_t *Frame, int Length)
{
    if (Length < MinRequestLength)
        return;
    Frame[OffSlaveId] = Frame[OffSlaveId] >= 255 ? 1 : uint8_t(Frame[OffSlaveId] + 1);
    putCrcLE(Frame, size_t(Length - CrcLength), Crc16(Frame, size_t(Length - CrcLength)));
}

void InjectBadCrc(uint8_t *Frame, int Length)
{
    if (Length >= MinRequestLength)
        Frame[Length - 1] = uint8_t(~Frame[Length - 1]);
}

void ShapeReply(uint8_t *Frame, int Length, const TFaultDecision &Fault)
{
    if (Fault.Kind == TFaultKind::WrongId)
        InjectWrongId(Frame, Length);
    else if (Fault.Kind == TFaultKind::BadCrc)
        InjectBadCrc(Frame, Length);
}

bool ChangesBytes(const TFaultDecision &Fault)
{
    return Fault.Kind == TFaultKind::Noise || Fault.Kind == TFaultKind::Truncated ||
           Fault.Kind == TFaultKind::Duplicated;
}

int WireBytes(const uint8_t *Frame, int Length, const TFaultDecision &Fault, uint8_t *Out)
{
    Length = std::clamp(Length, 0, MaxAsciiFrameLength);
    switch (Fault.Kind) {
    case TFaultKind::Noise: {
        const int noise = std::clamp(Fault.Bytes, 0, MaxNoiseBytes);
        NoiseBurst(Fault.NoiseDraw, Out, noise);
        std::copy_n(Frame, Length, Out + noise);
        return noise + Length;
    }
    case TFaultKind::Truncated: {
        // A reply cut to its whole length would be no fault at all.
        const int kept = Fault.Bytes > 0 ? std::min(Fault.Bytes, Length - 1) : Length / 2;
        const int n = std::clamp(kept, std::min(Length, 1), Length);
        std::copy_n(Frame, n, Out);
        return n;
    }
    case TFaultKind::Duplicated:
        std::copy_n(Frame, Length, Out);
        std::copy_n(Frame, Length, Out + Length);
        return 2 * Length;
    default:
        std::copy_n(Frame, Length, Out);
        return Length;
    }
}

int TReplySender::write(const uint8_t *Bytes, int Count)
{
    return m_wrongParity ? m_line.WriteWrongParity(Bytes, Count) : m_line.Write(Bytes, Count);
}

TReplyStep TReplySender::Send(const uint8_t *Frame, int Length, const TFaultDecision &Fault)
{
    if (Length <= 0 || Length > MaxAsciiFrameLength || Fault.Kind == TFaultKind::NoReply)
        return {};
    // A reply still held back belongs to an earlier request; the caller has
    // cancelled it already, this is only a guard.
    Cancel();
    m_wrongParity = Fault.Kind == TFaultKind::WrongParity;
    const bool split = m_timer != nullptr && Length >= 2 && Fault.SplitMs > 0;
    const bool delay = m_timer != nullptr && Fault.DelayMs > 0;
    if (!split && !delay && !ChangesBytes(Fault)) {
        // The everyday road: no copy, no timer.
        const int n = write(Frame, Length);
        return {0, Length, n < 0, false};
    }
    m_length = WireBytes(Frame, Length, Fault, m_frame.data());
    if (!split && !delay) {
        m_stage = Stage::Idle;
        const int n = write(m_frame.data(), m_length);
        return {0, m_length, n < 0, false, true};
    }
    m_splitMs = split ? Fault.SplitMs : 0;
    if (delay) {
        m_stage = Stage::Delay;
        m_timer->Start(Fault.DelayMs);
        return {0, 0, false, true, true};
    }
    return sendFirstPart();
}

TReplyStep TReplySender::sendFirstPart()
{
    if (m_splitMs > 0) {
        const int first = m_length / 2;
        // The silence starts when the first half has left the line, not when
        // it was handed to the driver: at 9600 baud a dozen bytes take 13 ms.
        const int64_t airUs = m_line.SendTimeUs(first);
        if (write(m_frame.data(), first) < 0) {
            m_stage = Stage::Idle; // half a reply is all a master would see
            return {0, first, true, false, true};
        }
        m_stage = Stage::Split;
        m_timer->Start(m_splitMs + CeilMs(airUs));
        return {0, first, false, true, true};
    }
    m_stage = Stage::Idle;
    const int n = write(m_frame.data(), m_length);
    return {0, m_length, n < 0, false, true};
}

TReplyStep TReplySender::TimerFired()
{
    if (m_timer != nullptr)
        m_timer->Stop();
    switch (m_stage) {
    case Stage::Idle:
        break; // a late firing after a cancel
    case Stage::Delay:
        return sendFirstPart();
    case Stage::Split: {
        m_stage = Stage::Idle;
        const int first = m_length / 2;
        const int n = write(m_frame.data() + first, m_length - first);
        return {first, m_length - first, n < 0, false, true};
    }
    }
    return {};
}

bool TReplySender::Cancel()
{
    if (m_stage == Stage::Idle)
        return false;
    m_stage = Stage::Idle;
    if (m_timer != nullptr)
        m_timer->Stop();
    return true;
}

} // namespace quorlin
