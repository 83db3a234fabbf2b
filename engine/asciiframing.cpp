// SPDX-License-Identifier: MIT
#include "engine/asciiframing.h"

namespace quorlin
{

using namespace modbus;

uint8_t Lrc(const uint8_t *Data, size_t Length)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < Length; ++i)
        sum = uint8_t(sum + Data[i]);
    return uint8_t(-sum);
}

int EncodeAscii(const uint8_t *Data, int Length, uint8_t Check, uint8_t *Out)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    int n = 0;
    Out[n++] = AsciiStart;
    auto put = [&](uint8_t b) {
        Out[n++] = uint8_t(digits[b >> 4]);
        Out[n++] = uint8_t(digits[b & 0x0F]);
    };
    for (int i = 0; i < Length; ++i)
        put(Data[i]);
    put(Check);
    Out[n++] = AsciiCr;
    Out[n++] = AsciiLf;
    return n;
}

int HexValue(uint8_t Char)
{
    if (Char >= '0' && Char <= '9')
        return Char - '0';
    if (Char >= 'A' && Char <= 'F')
        return Char - 'A' + 10;
    if (Char >= 'a' && Char <= 'f')
        return Char - 'a' + 10;
    return -1;
}

void TAsciiReceiver::Reset()
{
    m_state = State::Idle;
    m_count = 0;
    m_high = -1;
    m_clearFirst = false;
}

TAsciiReceiver::TEvent TAsciiReceiver::abandon(TEvent Event)
{
    m_state = State::Idle;
    m_clearFirst = true;
    return Event;
}

TAsciiReceiver::TEvent TAsciiReceiver::Feed(uint8_t Char)
{
    if (m_clearFirst) {
        m_count = 0;
        m_high = -1;
        m_clearFirst = false;
    }
    if (Char == AsciiStart) {
        // A master that gave up on a frame starts the next one: the old
        // characters are lost, the new frame is not.
        const bool abandoned = m_state != State::Idle;
        m_state = State::Hex;
        if (abandoned) {
            m_clearFirst = true;
            return TEvent::Dropped;
        }
        m_count = 0;
        m_high = -1;
        return TEvent::None;
    }
    switch (m_state) {
    case State::Idle:
        return TEvent::None; // line noise between frames
    case State::Hex: {
        if (Char == AsciiCr) {
            if (m_high >= 0)
                return abandon(TEvent::Dropped); // half a byte
            m_state = State::Lf;
            return TEvent::None;
        }
        const int v = HexValue(Char);
        if (v < 0)
            return abandon(TEvent::Dropped);
        if (m_high < 0) {
            if (m_count == MaxAsciiBytes)
                return abandon(TEvent::TooLong);
            m_high = v;
            return TEvent::None;
        }
        m_bytes[size_t(m_count++)] = uint8_t(m_high << 4 | v);
        m_high = -1;
        return TEvent::None;
    }
    case State::Lf:
        if (Char != AsciiLf)
            return abandon(TEvent::Dropped);
        m_state = State::Idle;
        m_clearFirst = true;
        return TEvent::Frame;
    }
    return TEvent::None;
}

} // namespace quorlin
