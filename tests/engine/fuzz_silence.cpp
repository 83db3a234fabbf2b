// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the RTU slave framed by silence, at arbitrary
// moments, and checks after every step what must hold whatever a master
// sends: every reply is one whole RTU frame with a right CRC, at most one
// reply per frame the silence closed, and every report lies inside its
// buffers.
//
// Input: byte 0 sets the line (bits 0-1: 1200, 9600, 19200 or 115200 bps)
// and the slave (bit 2 strict protocol, bit 3 functions 22 and 23, bit 4
// device identification); then operations, each one byte op and operands:
//   op & 3 == 0  (op >> 2) + 1 bytes read together, after a silence of the
//                next operand byte times 64 us
//   op & 3 == 1  the time-out falls due
//   op & 3 == 2  a whole request of ((op >> 2) & 0x1F) + 2 bytes with its CRC
//   op & 3 == 3  framing by length (op & 4) or by silence again; or (op & 8)
//                a read that fails
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "engine/crc16.h"
#include "tests/engine/fakes.h"

using namespace quorlin;
using namespace quorlin::test;

namespace
{

void require(bool Condition)
{
    if (!Condition)
        std::abort();
}

class CheckingObserver : public IFrameObserver
{
  public:
    void FrameDone(const TFrameReport &R) override
    {
        require(R.Rx.size() <= size_t(modbus::RxBufferSize));
        require(R.Reply.size() <= size_t(modbus::MaxFrameLength));
        ++Reports;
    }
    int Reports = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size == 0)
        return 0;
    static constexpr int rates[] = {1200, 9600, 19200, 115200};
    const int baud = rates[Data[0] & 3];
    const int charUs = int((10 * 1000000LL + baud - 1) / baud);
    Rig rig;
    CheckingObserver observer;
    rig.Image.ClearImage();
    rig.Image.MBid = 1;
    rig.Image.Options.Strict = (Data[0] & 4) != 0;
    rig.Image.Options.Functions22And23 = (Data[0] & 8) != 0;
    rig.Image.Options.DeviceId = (Data[0] & 16) != 0;
    rig.Slave.SetObserver(&observer);
    rig.Slave.SetFraming(TSerialFraming::Strict);
    rig.Slave.SetCharTimeUs(charUs, baud);
    int64_t now = 0;
    size_t at = 1;
    size_t checked = 0;
    auto deliver = [&](const Bytes &B, int64_t Silence) {
        now += Silence + int64_t(B.size()) * charUs;
        rig.Line.Input.insert(rig.Line.Input.end(), B.begin(), B.end());
        rig.Slave.Comm1RxChar(int(B.size()), now);
        rig.Line.Input.clear();
    };
    while (at < Size) {
        const uint8_t op = Data[at++];
        switch (op & 3) {
        case 0: {
            const int64_t silence = at < Size ? int64_t(Data[at++]) * 64 : 0;
            const size_t end = std::min(Size, at + size_t(op >> 2) + 1);
            if (end > at)
                deliver(Bytes(Data + at, Data + end), silence);
            at = end;
            break;
        }
        case 1:
            now += 4 * charUs;
            rig.fireTimer();
            break;
        case 2: {
            const size_t len = std::min<size_t>(((op >> 2) & 0x1F) + 2, Size - at);
            Bytes frame(Data + at, Data + at + len);
            at += len;
            appendCrc(frame);
            deliver(frame, 4 * charUs);
            rig.fireTimer();
            break;
        }
        case 3:
            if ((op & 8) != 0) {
                rig.Line.FailingReads = 1;
                rig.Slave.Comm1RxChar(1, now);
            } else {
                rig.Slave.SetFraming((op & 4) != 0 ? TSerialFraming::Length
                                                   : TSerialFraming::Strict);
            }
            break;
        }
        require(rig.Slave.RxCount >= 0 && rig.Slave.RxCount <= modbus::RxBufferSize);
        for (; checked < rig.Line.Writes.size(); ++checked) {
            const Bytes &w = rig.Line.Writes[checked];
            require(w.size() >= 4 && w.size() <= size_t(modbus::MaxFrameLength));
            const uint16_t crc = Crc16(w.data(), w.size() - 2);
            require(w[w.size() - 2] == uint8_t(crc) && w.back() == uint8_t(crc >> 8));
            require(w[0] == 1); // only slave 1 ever answers
        }
        require(int(rig.Line.Writes.size()) <= observer.Reports);
    }
    return 0;
}
