// SPDX-License-Identifier: MIT
#include "platform/serialadapter.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace quorlin
{

// ---- Low latency ------------------------------------------------------------

TLowLatency RequestLowLatency(TSysApi &Api, int Fd)
{
    serial_struct s{};
    if (Api.Ioctl(Fd, TIOCGSERIAL, &s) < 0)
        return TLowLatency::NotOffered;
    if (s.flags & ASYNC_LOW_LATENCY)
        return TLowLatency::WasOn;
    s.flags |= ASYNC_LOW_LATENCY;
    if (Api.Ioctl(Fd, TIOCSSERIAL, &s) < 0)
        return TLowLatency::Refused; // EPERM for some drivers without privilege
    return TLowLatency::On;
}

void ReleaseLowLatency(TSysApi &Api, int Fd)
{
    serial_struct s{};
    if (Api.Ioctl(Fd, TIOCGSERIAL, &s) < 0 || !(s.flags & ASYNC_LOW_LATENCY))
        return;
    s.flags &= ~unsigned(ASYNC_LOW_LATENCY);
    Api.Ioctl(Fd, TIOCSSERIAL, &s);
}

std::string LowLatencyText(TLowLatency State)
{
    switch (State) {
    case TLowLatency::On:
        return "on";
    case TLowLatency::WasOn:
        return "on (already set)";
    case TLowLatency::Refused:
        return "refused by the driver";
    case TLowLatency::NotOffered:
        return "not offered by the driver";
    case TLowLatency::Unknown:
        break;
    }
    return "unknown";
}

// ---- Latency timer ----------------------------------------------------------

std::string TtyName(const std::string &DevicePath)
{
    if (DevicePath.empty())
        return {};
    char resolved[PATH_MAX];
    if (::realpath(DevicePath.c_str(), resolved) == nullptr)
        return {};
    const std::string path(resolved);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LatencyTimerPath(const std::string &DevicePath, const std::string &SysRoot)
{
    const std::string tty = TtyName(DevicePath);
    if (tty.empty())
        return {};
    return SysRoot + "/bus/usb-serial/devices/" + tty + "/latency_timer";
}

int LatencyTimerMs(const std::string &DevicePath, const std::string &SysRoot)
{
    const std::string path = LatencyTimerPath(DevicePath, SysRoot);
    if (path.empty())
        return -1;
    std::ifstream in(path);
    std::string text;
    if (!in || !std::getline(in, text))
        return -1;
    // The file holds a decimal number of milliseconds (1..255) and a newline.
    char *end = nullptr;
    errno = 0;
    const long ms = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || ms < 0 || ms > 255)
        return -1;
    return int(ms);
}

// ---- RS-485 -----------------------------------------------------------------

namespace
{

constexpr uint32_t modelled = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND;

TSysError rs485Error(const std::string &Path, int Code)
{
    TSysError e;
    e.Code = Code != 0 ? Code : EIO;
    // A driver without RS-485 support answers ENOTTY (no such request) or
    // EINVAL/EOPNOTSUPP (it has the request, not the mode).
    if (e.Code == ENOTTY || e.Code == EINVAL || e.Code == EOPNOTSUPP)
        e.Detail =
            "the adapter's driver does not offer it (" + std::string(std::strerror(e.Code)) + ")";
    else
        e.Detail = std::strerror(e.Code);
    e.Message = "cannot switch " + Path + " to RS-485: " + e.Detail;
    return e;
}

TRs485Settings fromKernel(const serial_rs485 &R)
{
    TRs485Settings s;
    s.Enabled = R.flags & SER_RS485_ENABLED;
    s.RtsOnSend = R.flags & SER_RS485_RTS_ON_SEND;
    s.RtsAfterSend = R.flags & SER_RS485_RTS_AFTER_SEND;
    s.DelayBeforeMs = int(std::min<uint32_t>(R.delay_rts_before_send, INT_MAX));
    s.DelayAfterMs = int(std::min<uint32_t>(R.delay_rts_after_send, INT_MAX));
    s.OtherFlags = R.flags & ~modelled;
    return s;
}

uint32_t clampDelay(int Ms)
{
    return uint32_t(std::clamp(Ms, 0, MaxRs485DelayMs));
}

} // namespace

TSysError ReadRs485(TSysApi &Api, int Fd, const std::string &Path, TRs485Settings &Settings)
{
    serial_rs485 r{};
    errno = 0;
    if (Api.Ioctl(Fd, TIOCGRS485, &r) < 0)
        return rs485Error(Path, errno);
    Settings = fromKernel(r);
    return {};
}

TSysError WriteRs485(TSysApi &Api, int Fd, const std::string &Path, const TRs485Settings &Wanted,
                     TRs485Settings *Accepted)
{
    serial_rs485 r{};
    r.flags = Wanted.OtherFlags & ~modelled;
    if (Wanted.Enabled)
        r.flags |= SER_RS485_ENABLED;
    if (Wanted.RtsOnSend)
        r.flags |= SER_RS485_RTS_ON_SEND;
    if (Wanted.RtsAfterSend)
        r.flags |= SER_RS485_RTS_AFTER_SEND;
    r.delay_rts_before_send = clampDelay(Wanted.DelayBeforeMs);
    r.delay_rts_after_send = clampDelay(Wanted.DelayAfterMs);
    errno = 0;
    int rc;
    do
        rc = Api.Ioctl(Fd, TIOCSRS485, &r);
    while (rc < 0 && errno == EINTR);
    if (rc < 0)
        return rs485Error(Path, errno);
    // A driver that takes the request but not the mode says so by clearing
    // the flag in what it hands back.
    if (Wanted.Enabled && !(r.flags & SER_RS485_ENABLED))
        return rs485Error(Path, EOPNOTSUPP);
    if (Accepted)
        *Accepted = fromKernel(r);
    return {};
}

std::string Rs485Text(const TRs485Settings &S)
{
    if (!S.Enabled)
        return "RS-485 off";
    return std::string("RS-485 on: RTS ") + (S.RtsOnSend ? "high" : "low") + " while sending, " +
           (S.RtsAfterSend ? "high" : "low") + " after; delays " + std::to_string(S.DelayBeforeMs) +
           "/" + std::to_string(S.DelayAfterMs) + " ms";
}

} // namespace quorlin
