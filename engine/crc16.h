// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorlin
{

// CRC-16 of the Modbus serial line (reflected 0xA001, initial 0xFFFF). The low
// byte of the result is sent first: Crc16(01 03 00 00 00 0A) == 0xCDC5.
uint16_t Crc16(const uint8_t *Data, size_t Length);

} // namespace quorlin
