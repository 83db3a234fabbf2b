// SPDX-License-Identifier: MIT
// How long characters take on an asynchronous serial line. The request
// time-out and the gap of a split reply are counted in line time, so that a
// slow line is given the time its bytes need to travel.
#pragma once

#include <cstdint>

namespace quorlin
{

// Microseconds one character takes: a start bit, DataBits, a parity bit when
// there is one, and HalfStopBits / 2 stop bits (2, 3 or 4 halves). Rounded
// up; 0 for a rate of 0 or less (the line's time unknown).
int CharTimeUs(int BaudRate, int DataBits, bool Parity, int HalfStopBits);

// Line time of Count characters of CharUs each, in microseconds.
inline int64_t LineTimeUs(int Count, int CharUs)
{
    return Count > 0 && CharUs > 0 ? int64_t(Count) * CharUs : 0;
}

// Whole milliseconds that cover Us microseconds (rounded up).
inline int CeilMs(int64_t Us)
{
    return Us <= 0 ? 0 : int((Us + 999) / 1000);
}

} // namespace quorlin
