// SPDX-License-Identifier: MIT
#include "ui/statustext.h"

#include <cstdio>

namespace quorlin
{

std::string PortStateText(const TPortStatus &Port)
{
    if (Port.Open)
        return "Connected " + std::to_string(Port.BaudRate) + " " + std::to_string(Port.DataBits) +
               Port.Parity + Port.StopBits;
    if (Port.Device.empty())
        return "Disconnected: no such port";
    return Port.Reason.empty() ? std::string("Disconnected") : "Disconnected: " + Port.Reason;
}

std::string PortNameText(const TPortStatus &Port)
{
    // A path typed in the dialog is its own device: once is enough.
    if (Port.Device.empty() || Port.Device == Port.Name)
        return Port.Name;
    return Port.Name + " " + Port.Device;
}

std::string PortStatusText(const TPortStatus &Port)
{
    return PortStateText(Port) + " - " + PortNameText(Port);
}

namespace
{

std::string ago(int64_t Us)
{
    char buf[48];
    const int64_t s = Us / 1000000;
    // Whole seconds: the text, and so the status bar, changes at most once a
    // second, not at every tick.
    if (s < 1)
        return "just now";
    if (s < 60)
        std::snprintf(buf, sizeof buf, "%lld s ago", static_cast<long long>(s));
    else if (s < 3600) // from here on, once a minute is often enough
        std::snprintf(buf, sizeof buf, "%lld min ago", static_cast<long long>(s / 60));
    else
        std::snprintf(buf, sizeof buf, "%lld h %lld min ago", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60));
    return buf;
}

} // namespace

std::string CountersStatusText(const TLineCounters &C, int64_t SinceLastUs)
{
    return "Requests " + std::to_string(C.Requests) + " | Exceptions " +
           std::to_string(C.Exceptions) + " | Bad CRC " + std::to_string(C.BadCrc) +
           " | Timed out " + std::to_string(C.TimedOut) + " | Injected " +
           std::to_string(C.Injected) + " | " +
           (SinceLastUs < 0 ? std::string("No request yet") : "Last request " + ago(SinceLastUs));
}

std::string ShortCountersStatusText(const TLineCounters &C, int64_t SinceLastUs)
{
    return "Req " + std::to_string(C.Requests) + " | Exc " + std::to_string(C.Exceptions) +
           " | CRC " + std::to_string(C.BadCrc) + " | T/O " + std::to_string(C.TimedOut) +
           (C.Injected > 0 ? " | Inj " + std::to_string(C.Injected) : std::string()) + " | " +
           (SinceLastUs < 0 ? std::string("idle") : ago(SinceLastUs));
}

} // namespace quorlin
