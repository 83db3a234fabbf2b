// SPDX-License-Identifier: MIT
#include "engine/linetiming.h"

namespace quorlin
{

int CharTimeUs(int BaudRate, int DataBits, bool Parity, int HalfStopBits)
{
    if (BaudRate <= 0)
        return 0;
    // In half bits, so that 1.5 stop bits stay exact.
    const int64_t halfBits = 2 * (1 + int64_t(DataBits) + (Parity ? 1 : 0)) + HalfStopBits;
    const int64_t twiceRate = 2 * int64_t(BaudRate);
    return int((halfBits * 1000000 + twiceRate - 1) / twiceRate);
}

} // namespace quorlin
