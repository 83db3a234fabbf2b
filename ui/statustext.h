// SPDX-License-Identifier: MIT
// The two texts of the main window's status bar: the port on the left, the
// counters that matter most on the right. Standard C++, tested as tables.
#pragma once

#include <cstdint>
#include <string>

#include "engine/frameobserver.h"

namespace quorlin
{

struct TPortStatus {
    std::string Name;   // as the caption names it: "COM2"
    std::string Device; // the device it maps to; empty when it maps to none
    bool Open = false;
    // Line settings, shown while open.
    int BaudRate = 0;
    int DataBits = 8;
    char Parity = 'N';    // N, O, E, M or S
    std::string StopBits; // "1", "1.5" or "2"
    // Why it is closed ("Permission denied"); empty when no reason is known.
    std::string Reason;
};

// The port's state, which the status bar always shows whole:
// "Connected 9600 8E1", "Disconnected: Permission denied", "Disconnected".
std::string PortStateText(const TPortStatus &Port);
// What the port is: "COM2 /dev/pts/4", a typed path once ("/tmp/x").
std::string PortNameText(const TPortStatus &Port);
// The state, then the port: "Connected 9600 8E1 - COM2 /dev/pts/4".
std::string PortStatusText(const TPortStatus &Port);

// SinceLastUs < 0: no request yet.
// "Requests 12 | ... | Injected 0 | Last request 4 s ago": every counter the
// status bar has, for its tooltip and where there is room.
std::string CountersStatusText(const TLineCounters &Counters, int64_t SinceLastUs);
// The same in the room the narrow main window leaves beside a long port text:
// "Req 12 | Exc 1 | CRC 0 | T/O 2 | 4 s ago", with "Inj 3" once faults were
// injected (its tooltip spells it out).
std::string ShortCountersStatusText(const TLineCounters &Counters, int64_t SinceLastUs);

} // namespace quorlin
