// SPDX-License-Identifier: MIT
// Modbus ASCII's wire form: every byte as two hexadecimal characters between
// ':' and CR LF, closed by a longitudinal redundancy check instead of a CRC.
// The receiver only cuts frames out of the character stream; what a frame
// means (its LRC, its length, who it is for) is the slave's to judge.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/modbusdefs.h"

namespace quorlin
{

// How the serial line frames its requests and replies.
enum class TSerialMode : uint8_t { Rtu, Ascii };

// The two's complement of the 8-bit sum of Length bytes: adding it to them gives 0.
uint8_t Lrc(const uint8_t *Data, size_t Length);

// Writes ':', Length bytes and then Check as upper-case hexadecimal pairs,
// and CR LF, to Out (room for 2 * Length + 5); returns the characters written.
int EncodeAscii(const uint8_t *Data, int Length, uint8_t Check, uint8_t *Out);

// The value of a hexadecimal character of either case, -1 for any other.
int HexValue(uint8_t Char);

class TAsciiReceiver
{
  public:
    enum class TEvent : uint8_t {
        None,    // nothing to act on yet
        Frame,   // CR LF closed a frame: Bytes() holds it, LRC last
        Dropped, // a partial frame was abandoned: a new ':', a stray or odd character
        TooLong, // more than MaxAsciiBytes bytes: abandoned, the rest up to ':' ignored
    };

    // Takes one character. After any event but None, Bytes() and Count()
    // show the frame concerned until the next call.
    TEvent Feed(uint8_t Char);
    // Forgets any partial frame (the inter-character time-out, a mode change).
    void Reset();
    // A ':' has been seen and its frame is neither closed nor abandoned.
    bool InFrame() const { return m_state != State::Idle; }

    const uint8_t *Bytes() const { return m_bytes.data(); }
    int Count() const { return m_count; }

  private:
    enum class State : uint8_t { Idle, Hex, Lf };
    TEvent abandon(TEvent Event);

    std::array<uint8_t, modbus::MaxAsciiBytes> m_bytes{};
    int m_count = 0;
    int m_high = -1; // the first character of a pair, -1 between pairs
    State m_state = State::Idle;
    bool m_clearFirst = false; // the last event's bytes go at the next character
};

} // namespace quorlin
