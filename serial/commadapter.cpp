// SPDX-License-Identifier: MIT
// The serial device's adapter options: low latency and the latency timer on
// open, RS-485 mode, and the filter that drops a two-wire adapter's echo of
// our own replies.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include "engine/linetiming.h"
#include "serial/commint.h"

namespace quorlin
{

namespace
{

// How long after our bytes have left the line their echo may still begin
// (and how long it may pause): a USB adapter keeps received bytes up to its
// latency timer (16 ms by default), and the time is taken when the line's
// thread reads them, which a busy system delays further. A request the
// window wrongly holds back is released by its first differing byte, so a
// generous window costs nothing but on an adapter that does not echo.
constexpr int64_t EchoSlackUs = 100000;

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void TCustomComm::openAdapter()
{
    m_lowLatency = RequestLowLatency(m_port->Api(), m_port->Fd());
    // Read after the request: some drivers lower the timer to match it.
    m_latencyTimerMs = LatencyTimerMs(m_openPath, m_sysRoot);
    applyRs485();
}

void TCustomComm::closeAdapter()
{
    if (m_rs485Changed)
        WriteRs485(m_port->Api(), m_port->Fd(), m_openPath, m_rs485Before);
    m_rs485Changed = false;
    if (m_lowLatency == TLowLatency::On)
        ReleaseLowLatency(m_port->Api(), m_port->Fd());
    std::lock_guard<std::mutex> guard(m_lock);
    m_echo.Reset();
}

void TCustomComm::applyRs485()
{
    m_rs485Error = {};
    m_rs485Accepted = {};
    if (!IsOpen())
        return;
    TSysApi &api = m_port->Api();
    const int fd = m_port->Fd();
    if (!m_rs485.Enabled) {
        if (m_rs485Changed)
            WriteRs485(api, fd, m_openPath, m_rs485Before);
        m_rs485Changed = false;
        return;
    }
    if (!m_rs485Changed) {
        // What to put back later; a driver that cannot tell is left off.
        m_rs485Before = {};
        ReadRs485(api, fd, m_openPath, m_rs485Before);
    }
    TRs485Settings wanted = m_rs485;
    wanted.OtherFlags = m_rs485Before.OtherFlags;
    m_rs485Error = WriteRs485(api, fd, m_openPath, wanted, &m_rs485Accepted);
    if (!m_rs485Error)
        m_rs485Changed = true;
}

void TCustomComm::SetRs485(const TRs485Settings &Value)
{
    if (Value == m_rs485)
        return;
    m_rs485 = Value;
    if (!IsOpen())
        return;
    {
        // No reply is half-way out while the driver changes its mode.
        const auto hold = HoldLine();
        applyRs485();
    }
    emit AdapterChanged();
}

void TCustomComm::SetIgnoreEcho(bool On)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_ignoreEcho.store(On);
    if (!On)
        m_echo.Disarm();
}

uint64_t TCustomComm::EchoesIgnored() const
{
    return m_echoesIgnored.load();
}

int TCustomComm::PendingInput()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return int(m_echo.Pending());
}

// Under m_lock. Never places more than Count bytes; what the filter
// releases beyond that stays pending for the next read.
int TCustomComm::readFiltered(uint8_t *Buffer, int Count)
{
    int placed = int(m_echo.Take(Buffer, size_t(Count)));
    if (placed == Count)
        return placed;
    std::array<uint8_t, 512> raw;
    const int want = std::min(Count - placed, int(raw.size()));
    TSysError error;
    const int n = m_port->Read(raw.data(), want, &error);
    if (n < 0) {
        if (error.Code == EIO || error.Code == ENXIO || error.Code == ENODEV)
            scheduleLoss(error.Code); // the device is gone, as an unfiltered read says
        return placed > 0 ? placed : -1;
    }
    if (n > 0) {
        ++m_inputTaken;
        // With the option off nothing is awaited, and all of it is input.
        m_echo.Received(raw.data(), size_t(n), nowUs());
        m_echoesIgnored.store(m_echo.EchoesDropped());
    }
    placed += int(m_echo.Take(Buffer + placed, size_t(Count - placed)));
    return placed;
}

// Under m_lock, after Count bytes went to the driver.
void TCustomComm::echoSent(const void *Buffer, int Count)
{
    if (Count <= 0)
        return;
    const int queued = m_port->OutQueue(); // -1: the driver does not tell
    const int64_t leaves = LineTimeUs(std::max(queued, Count), CharTimeUs());
    m_echo.Sent(static_cast<const uint8_t *>(Buffer), size_t(Count), nowUs(), leaves + EchoSlackUs);
}

std::string TCustomComm::AdapterSummary() const
{
    if (!IsOpen())
        return {};
    std::string s = "Low latency: " + LowLatencyText(m_lowLatency);
    s += "\nLatency timer: ";
    s +=
        m_latencyTimerMs >= 0 ? std::to_string(m_latencyTimerMs) + " ms" : "not told by the system";
    if (m_rs485.Enabled)
        s += "\n" + (m_rs485Error ? m_rs485Error.Message : Rs485Text(m_rs485Accepted));
    if (m_ignoreEcho.load())
        s += "\nEchoes ignored: " + std::to_string(EchoesIgnored());
    return s;
}

} // namespace quorlin
