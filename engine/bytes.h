// SPDX-License-Identifier: MIT
// Big-endian field access for Modbus frames; the CRC is the one field that
// travels low-order byte first, and it has its own helper.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorlin
{

inline uint16_t readU16BE(const uint8_t *Buf, size_t Offset)
{
    return uint16_t(Buf[Offset] << 8 | Buf[Offset + 1]);
}

inline void putU16BE(uint8_t *Buf, size_t Offset, uint16_t Value)
{
    Buf[Offset] = uint8_t(Value >> 8);
    Buf[Offset + 1] = uint8_t(Value);
}

// A CRC as it travels: low-order byte first.
inline uint16_t readCrcLE(const uint8_t *Buf, size_t Offset)
{
    return uint16_t(Buf[Offset] | Buf[Offset + 1] << 8);
}

inline void putCrcLE(uint8_t *Buf, size_t Offset, uint16_t Crc)
{
    Buf[Offset] = uint8_t(Crc);
    Buf[Offset + 1] = uint8_t(Crc >> 8);
}

} // namespace quorlin
