// SPDX-License-Identifier: MIT
// The last step of a reply: the frame, its CRC already in place, shaped by
// the injected fault, then written to the line at once, after a delay, or in
// two halves with a gap between them. Waiting is done by a timer of the program's
// (never a sleep), so the engine keeps receiving meanwhile.
#pragma once

#include <array>
#include <cstdint>

#include "engine/faultplan.h"
#include "engine/modbusdefs.h"
#include "engine/serialline.h"

namespace quorlin
{

// A one-shot timer with an interval given at each start. The program fills it
// with a QTimer, tests with a fake clock.
class IReplyTimer
{
  public:
    virtual ~IReplyTimer() = default;
    virtual void Start(int Ms) = 0; // a running timer is restarted
    virtual void Stop() = 0;
    virtual bool IsRunning() const = 0;
};

// The reply's slave id plus one (255 wraps to 1, never the broadcast 0), the
// CRC computed over what is sent. Length counts the CRC.
void InjectWrongId(uint8_t *Frame, int Length);
// The last CRC byte inverted.
void InjectBadCrc(uint8_t *Frame, int Length);
// The frame as the fault sends it: a wrong id or a bad CRC, or left alone.
void ShapeReply(uint8_t *Frame, int Length, const TFaultDecision &Fault);

// The longest run of bytes a fault can put on the line for one reply: an
// ASCII frame twice, or after a burst of noise.
inline constexpr int MaxWireLength = 2 * modbus::MaxAsciiFrameLength + MaxNoiseBytes;

// Whether the fault changes which bytes go (noise, truncated, duplicated).
bool ChangesBytes(const TFaultDecision &Fault);
// The bytes that go on the line for Frame: noise before it, its first bytes
// only (never all of it, at least one), or it twice; Frame itself for every
// other fault. Out has room for MaxWireLength; Length is at most
// MaxAsciiFrameLength. The length written to Out.
int WireBytes(const uint8_t *Frame, int Length, const TFaultDecision &Fault, uint8_t *Out);

// What one step of a reply did on the line.
struct TReplyStep {
    int Offset = 0;      // where in the frame the bytes written begin
    int Length = 0;      // how many were written (or refused); 0: none
    bool Failed = false; // the line refused them: the rest of the reply goes too
    bool Rest = false;   // part of the reply is still held back for a later step
    bool Own = false;    // the bytes are HeldFrame()'s, not the caller's frame
};

class TReplySender
{
  public:
    explicit TReplySender(ISerialLine &Line) : m_line(Line) {}

    // Without a timer, replies go out at once and whole, whatever the faults say.
    void SetTimer(IReplyTimer *Timer) { m_timer = Timer; }

    // Frame holds Length bytes, CRC included and already shaped; the fault's
    // delay and split say when its bytes go. NoReply sends nothing. What was
    // written at once (nothing when the reply is delayed).
    TReplyStep Send(const uint8_t *Frame, int Length, const TFaultDecision &Fault);
    // The timer fired: the held-back reply, or its second half, goes out.
    // What was written (nothing after a cancel).
    TReplyStep TimerFired();
    // Drops a reply still waiting (or the half not yet sent); true if there was one.
    bool Cancel();
    bool Pending() const { return m_stage != Stage::Idle; }
    // The reply held back, whose bytes the steps point into.
    const uint8_t *HeldFrame() const { return m_frame.data(); }

  private:
    enum class Stage { Idle, Delay, Split };
    TReplyStep sendFirstPart();
    int write(const uint8_t *Bytes, int Count);

    ISerialLine &m_line;
    IReplyTimer *m_timer = nullptr;
    std::array<uint8_t, MaxWireLength> m_frame{};
    int m_length = 0;
    bool m_wrongParity = false; // the reply at hand goes with the wrong parity
    int m_splitMs = 0;
    Stage m_stage = Stage::Idle;
};

} // namespace quorlin
