// SPDX-License-Identifier: MIT
// What a serial adapter's driver offers beyond termios: the low-latency
// request (many USB adapters otherwise keep received bytes up to 16 ms), the
// latency timer the system shows for USB adapters, and RS-485 mode, where
// the kernel drives the transceiver's RTS around each transmission.
//
// Every call goes through the port's TSysApi, so tests see the requests and
// answer them as a driver would.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posixserial.h"

namespace quorlin
{

// ---- Low latency ------------------------------------------------------------

enum class TLowLatency {
    Unknown,    // not asked (the port is closed)
    NotOffered, // the driver has no such setting (a pty, most on-board UARTs)
    Refused,    // it has one, but would not take it
    WasOn,      // already set before we asked
    On,         // set by us on open
};

// Asks the driver of Fd for low latency (TIOCGSERIAL/TIOCSSERIAL with
// ASYNC_LOW_LATENCY). Never fails: the answer says what became of it.
TLowLatency RequestLowLatency(TSysApi &Api, int Fd);
// Clears the flag again (only after On: a setting found on stays on).
void ReleaseLowLatency(TSysApi &Api, int Fd);
// "on", "already on", "not offered by the driver", ...
std::string LowLatencyText(TLowLatency State);

// ---- Latency timer ----------------------------------------------------------

// The kernel's name of the terminal a device path leads to, following
// symlinks such as /dev/serial/by-id/...: "ttyUSB0". Empty when the path
// leads nowhere.
std::string TtyName(const std::string &DevicePath);
// The adapter's latency timer in milliseconds, as SysRoot (normally "/sys")
// shows it under bus/usb-serial/devices/<tty>/latency_timer; -1 where the
// system does not tell (no such adapter, not a USB serial device).
int LatencyTimerMs(const std::string &DevicePath, const std::string &SysRoot = "/sys");
// Where that file is for DevicePath (whether or not it exists).
std::string LatencyTimerPath(const std::string &DevicePath, const std::string &SysRoot = "/sys");

// ---- RS-485 -----------------------------------------------------------------

// The largest delay before or after sending that is asked for; the kernel
// holds bigger ones to its own limit anyway.
inline constexpr int MaxRs485DelayMs = 100;

struct TRs485Settings {
    bool Enabled = false;
    bool RtsOnSend = true;     // RTS level while sending (logical 1 drives the bus)
    bool RtsAfterSend = false; // RTS level once sent
    int DelayBeforeMs = 0;     // RTS set this long before the first byte
    int DelayAfterMs = 0;      // and kept this long after the last
    // Other flag bits as the driver had them, kept when its state is put back.
    uint32_t OtherFlags = 0;
    bool operator==(const TRs485Settings &) const = default;
};

// The driver's RS-485 state now.
TSysError ReadRs485(TSysApi &Api, int Fd, const std::string &Path, TRs485Settings &Settings);
// Asks the driver for Wanted (TIOCSRS485); Accepted gets what it took (a
// driver may hold the delays to its limits). A refusal gives an error whose
// message says so: "cannot switch /dev/ttyUSB0 to RS-485: the adapter's
// driver does not offer it".
TSysError WriteRs485(TSysApi &Api, int Fd, const std::string &Path, const TRs485Settings &Wanted,
                     TRs485Settings *Accepted = nullptr);
// "RS-485 on: RTS high while sending, low after; delays 0/0 ms".
std::string Rs485Text(const TRs485Settings &Settings);

} // namespace quorlin
