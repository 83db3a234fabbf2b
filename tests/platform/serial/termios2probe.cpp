// SPDX-License-Identifier: MIT
// Kept apart: <asm/termbits.h> and <termios.h> cannot meet in one file.
#include "tests/platform/serial/termios2probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace quorlin::testing
{
uint32_t probeSpeed(int Fd)
{
    termios2 t{};
    if (::ioctl(Fd, TCGETS2, &t) != 0)
        return 0;
    return t.c_ospeed;
}

unsigned probeRequestCflag(const void *Arg)
{
    return static_cast<const termios2 *>(Arg)->c_cflag;
}

bool isSetTermios2(unsigned long Request)
{
    return Request == TCSETS2;
}
} // namespace quorlin::testing
