// SPDX-License-Identifier: MIT
// The serial slave's framing by silence. Characters collect until the line
// has been quiet for 3.5 character times; only then is the frame judged, as
// a whole: a silence of more than 1.5 character times inside it drops it, and
// its length must be the one its function code gives. The request handler
// then sees it exactly as it sees a frame cut by length.
#include <algorithm>

#include "engine/crc16.h"
#include "engine/modbusslave.h"

namespace quorlin
{

using namespace modbus;

bool TModbusSlave::syncFraming(int64_t NowUs)
{
    const TSerialFraming wanted = m_wantedFraming.load(std::memory_order_relaxed);
    if (wanted != m_framing) {
        m_framing = wanted;
        RxCount = 0;
        m_timer.Stop();
        m_silence.EndFrame();
        m_spoiled = false;
    }
    m_silence.SetLine(m_charTimeUs, m_timed.Clock().Limits());
    return m_framing == TSerialFraming::Strict && NowUs >= 0 && m_silence.Limits().Known();
}

void TModbusSlave::strictRxChar(int Count, int64_t NowUs)
{
    // A thread woken late may find the last frame over before these bytes.
    if (m_silence.EndedBefore(Count, NowUs))
        strictEnd();
    if (Count > RxBufferSize - RxCount) {
        // No request is that long; what follows until the silence belongs
        // to it and goes too.
        m_timed.Arrived(Count);
        m_line.PurgeIn();
        if (!m_spoiled && m_observer)
            report(TVerdict::TooLong, Count);
        m_spoiled = true;
        RxCount = 0;
    } else {
        const int placed = m_line.Read(RxBuf.data() + RxCount, Count);
        if (placed > 0 && !m_spoiled)
            RxCount += std::min(placed, Count);
    }
    m_silence.Arrive(Count, NowUs);
    m_timer.StartFor(0);
    m_timer.SetAllowanceUs(m_silence.EndDueUs() - NowUs);
}

void TModbusSlave::strictEnd()
{
    m_timer.Stop();
    const bool gap = m_silence.GapInside();
    m_silence.EndFrame();
    if (m_spoiled || RxCount == 0) {
        m_spoiled = false;
        RxCount = 0;
        return;
    }
    // The frame's report, if any, is made below and carries this verdict.
    m_strictJudged = true;
    m_strictGap = gap;
    strictJudge(gap);
    m_strictJudged = false;
}

void TModbusSlave::strictJudge(bool Gap)
{
    if (Gap) {
        // What a device does with a frame that paused: it never happened.
        if (m_observer)
            report(TVerdict::GapInside);
        RxCount = 0;
        return;
    }
    const bool complete = FrameComplete();
    if (TRequestHandler::HasLength(RxBuf[OffFunction]) || RxCount < MinRequestLength) {
        if (!complete || RxCount != ExpectedLen) {
            if (m_observer)
                report(complete && RxCount > ExpectedLen ? TVerdict::TooLong : TVerdict::TimedOut);
            RxCount = 0;
            return;
        }
    } else if (RxBuf[OffFunction] == FnEncapsulatedInterface && RxCount != DeviceIdRequestLength &&
               RxBuf[OffMeiType] == MeiReadDeviceId && !m_handler.StrictFor(RxBuf[OffSlaveId])) {
        // A read device identification request has seven bytes; a lenient
        // slave never reads fields that did not arrive.
        if (m_observer)
            report(RxCount > DeviceIdRequestLength ? TVerdict::TooLong : TVerdict::TimedOut);
        RxCount = 0;
        return;
    } else {
        // Silence alone says where it ends; its CRC is its last two bytes.
        ExpectedLen = RxCount;
    }
    takeFrame();
}

void TModbusSlave::watchSilence(int64_t NowUs)
{
    if (RxCount <= OffFunction || TRequestHandler::HasLength(RxBuf[OffFunction]))
        return;
    if (!m_silence.Limits().Known() || NowUs < 0 || !m_handler.StrictFor(RxBuf[OffSlaveId]))
        return;
    // Only a strict slave answers a code it cannot frame by length: once
    // the line falls silent, not after the whole time-out.
    m_timer.StartFor(0);
    m_timer.SetAllowanceUs(m_silence.Limits().BetweenUs);
}

bool TModbusSlave::strictSilentEnd()
{
    if (RxCount < MinRequestLength || TRequestHandler::HasLength(RxBuf[OffFunction]) ||
        !m_handler.StrictFor(RxBuf[OffSlaveId]))
        return false;
    ExpectedLen = RxCount;
    takeFrame();
    return true;
}

void TModbusSlave::takeFrame()
{
    // A device still holding back a reply does not answer two requests.
    m_replaced = m_sender.Cancel();
    if (m_replaced && m_observer)
        reportHeld({}, true);
    ProcessFrame();
    m_replaced = false;
}

} // namespace quorlin
