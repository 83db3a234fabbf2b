// SPDX-License-Identifier: MIT
// What the benchmarks that play a Modbus master on a pty share: frames with
// a CRC of their own making and a reply read with a deadline.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace quorlin::bench
{

// Modbus CRC, bit by bit: independent of the engine's table version, so a
// fault there cannot hide in the check.
inline uint16_t BitwiseCrc16(const std::vector<uint8_t> &Bytes)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : Bytes) {
        crc ^= byte;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

// The PDU with its CRC, low-order byte first.
inline std::vector<uint8_t> RtuFrame(std::vector<uint8_t> Pdu)
{
    const uint16_t c = BitwiseCrc16(Pdu);
    Pdu.push_back(uint8_t(c & 0xFF));
    Pdu.push_back(uint8_t(c >> 8));
    return Pdu;
}

// Reads until Len bytes came, within TimeoutMs in all; what arrived is in Buf.
inline bool ReadReply(int Fd, std::vector<uint8_t> &Buf, size_t Len, int TimeoutMs)
{
    using Clock = std::chrono::steady_clock;
    Buf.clear();
    uint8_t tmp[512];
    const auto end = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Buf.size() < Len) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{Fd, POLLIN, 0};
        if (left < 0 || ::poll(&p, 1, int(left) + 1) <= 0)
            return false;
        const ssize_t n = ::read(Fd, tmp, std::min(sizeof tmp, Len - Buf.size()));
        if (n <= 0)
            return false;
        Buf.insert(Buf.end(), tmp, tmp + n);
    }
    return true;
}

} // namespace quorlin::bench
