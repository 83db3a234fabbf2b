// SPDX-License-Identifier: MIT
// The serial devices of this machine, as a user would choose among them: the
// stable names under /dev/serial/by-id, then USB and ACM adapters, on-chip
// UARTs, and the ttyS ports that have a real UART behind them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quorlin
{

struct TDeviceTree {
    // Prefix of every path looked at ("" for the machine itself; a test's
    // fake tree otherwise). The results never carry it.
    std::string Root;
    // Whether a /dev/ttyS<n> has a UART, asked only when sysfs does not say
    // (/sys/class/tty/ttyS<n>/type): by default TIOCGSERIAL reports a type
    // other than none.
    std::function<bool(const std::string &Path)> HasUart;
};

// Full device paths in the order shown: by-id names sorted, then
// /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyAMA*, /dev/ttyS* each in numeric order.
std::vector<std::string> EnumerateSerialDevices(const TDeviceTree &Tree = {});

} // namespace quorlin
