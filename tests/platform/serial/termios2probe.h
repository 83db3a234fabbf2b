// SPDX-License-Identifier: MIT
// Reads a terminal's line speed through termios2, independently of the code
// under test (the kernel's own answer, also for speeds without a B... constant).
#pragma once
#include <cstdint>

namespace quorlin::testing
{
// The output speed in bit/s, or 0 when the descriptor refuses the request.
uint32_t probeSpeed(int Fd);
// c_cflag of the termios2 a TCSETS2 request carries (the Arg of that ioctl),
// and whether Request is TCSETS2. Pseudo-terminals force 8 bits without
// parity, so the request is where the character format can be seen.
unsigned probeRequestCflag(const void *Arg);
bool isSetTermios2(unsigned long Request);
} // namespace quorlin::testing
