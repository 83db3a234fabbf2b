// SPDX-License-Identifier: MIT
#include "ui/statustext.h"

#include <cstdio>

namespace quorlin
{

std::string PortStatusText(const TPortStatus &Port)
{
    std::string text = Port.Name;
    if (!Port.Device.empty())
        text += " " + Port.Device;
    if (Port.Open) {
        text += " " + std::to_string(Port.BaudRate) + " " + std::to_string(Port.DataBits) +
                Port.Parity + Port.StopBits;
        return text;
    }
    if (Port.Device.empty())
        return text + ": no such port";
    return text + ": " + (Port.Reason.empty() ? std::string("closed") : Port.Reason);
}

namespace
{

std::string ago(int64_t Us)
{
    char buf[48];
    const int64_t s = Us / 1000000;
    if (s < 60)
        std::snprintf(buf, sizeof buf, "%.1f s ago", double(Us) / 1e6);
    else if (s < 3600)
        std::snprintf(buf, sizeof buf, "%lld min %lld s ago", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
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
           " | Timed out " + std::to_string(C.TimedOut) + " | " +
           (SinceLastUs < 0 ? std::string("No request yet") : "Last request " + ago(SinceLastUs));
}

std::string ShortCountersStatusText(const TLineCounters &C, int64_t SinceLastUs)
{
    return "Req " + std::to_string(C.Requests) + " | Exc " + std::to_string(C.Exceptions) +
           " | CRC " + std::to_string(C.BadCrc) + " | T/O " + std::to_string(C.TimedOut) + " | " +
           (SinceLastUs < 0 ? std::string("idle") : ago(SinceLastUs));
}

} // namespace quorlin
