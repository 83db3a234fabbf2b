// SPDX-License-Identifier: MIT
// The unsolicited reply: a frame a slave sends with nobody having asked, as a
// master meets it when two devices think they own the line or a slave
// answers a request that timed out long ago. It is a well-formed answer to a
// read of one holding register (4x0001), so a master that takes any frame
// for its reply takes this one.
#include <algorithm>

#include "engine/asciiframing.h"
#include "engine/bytes.h"
#include "engine/crc16.h"
#include "engine/modbusslave.h"

namespace quorlin
{

using namespace modbus;

int UnsolicitedFrame(int SlaveId, uint16_t Value, uint8_t *Out)
{
    Out[0] = uint8_t(SlaveId);
    Out[1] = FnReadHoldingRegisters;
    Out[2] = 2; // byte count
    putU16BE(Out, 3, Value);
    putCrcLE(Out, 5, Crc16(Out, 5));
    return 7;
}

void TModbusSlave::UnsolicitedTimerTimer()
{
    uint8_t frame[7];
    int length = 0;
    {
        std::lock_guard<std::mutex> hold(m_handler.Lock());
        const TFaultPlan &plan = m_handler.Faults();
        if (plan.UnsolicitedMs() <= 0)
            return;
        TSlaveSet *set = m_handler.Slaves();
        TRegisterImage &image = m_handler.Image();
        const int fallback = set != nullptr && set->Count() > 0 ? set->At(0).MBid : image.MBid;
        const int id = plan.UnsolicitedSlave(fallback);
        const TRegisterImage *slave =
            set != nullptr ? set->Find(id) : (image.MBid == id ? &image : nullptr);
        if (slave == nullptr || id < 1 || id > MaxUnitId)
            return; // the faults name a slave the line does not have
        const uint16_t value =
            slave->TableSize(RegTypeHoldingReg) >= 1 ? slave->HoldingRegs.Get(1) : 0;
        length = UnsolicitedFrame(id, value, frame);
        m_handler.Faults().CountUnsolicited();
    }
    // Written with the lock released, as every reply is.
    const uint8_t *wire = frame;
    int wireLength = length;
    uint8_t ascii[2 * 7 + 3];
    if (m_mode == TSerialMode::Ascii) {
        const uint8_t check = Lrc(frame, size_t(length - CrcLength));
        wireLength = EncodeAscii(frame, length - CrcLength, check, ascii);
        wire = ascii;
        frame[length - CrcLength] = check; // the monitor shows the bytes, LRC last
    }
    const int n = m_line.Write(wire, wireLength);
    if (m_observer == nullptr)
        return;
    TFrameReport r;
    r.Verdict = TVerdict::Answered;
    r.Reply =
        std::span<const uint8_t>(frame, size_t(m_mode == TSerialMode::Ascii ? length - 1 : length));
    r.ReplyFailed = n < 0;
    r.Injected = TFaultKind::Unsolicited;
    r.HeldReply = true; // no request of its own: the monitor shows the reply alone
    m_observer->FrameDone(r);
}

} // namespace quorlin
