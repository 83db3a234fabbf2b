// SPDX-License-Identifier: MIT
// Feeds arbitrary character streams to the slave in ASCII, in pieces, with
// failing reads, time-outs, mode changes and faults, and checks after every
// step what must hold whatever a master sends: every write is one whole
// frame of upper-case digits whose LRC matches unless a bad-LRC fault was
// asked for, and every report lies inside its buffers.
//
// Input: byte 0 picks the faults (bit 0 bad LRC, bit 1 wrong id, bit 2 no
// reply); then operations, each one byte op followed by its operands:
//   op & 3 == 0  deliver (op >> 2) + 1 characters as one event
//   op & 3 == 1  the same, delivered one character per event
//   op & 3 == 2  an event whose read fails, or (op & 4) fire the time-out
//   op & 3 == 3  a whole frame of ((op >> 2) & 0x1F) + 1 bytes with its right LRC
//                (op & 0x80: to RTU and straight back to ASCII)
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/asciiframing.h"
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
        require(R.Rx.size() <= size_t(modbus::MaxAsciiBytes));
        require(R.Reply.size() <= size_t(modbus::MaxAsciiBytes));
        require(R.Unread == 0);
    }
};

void checkWrite(const Bytes &W, bool BadLrc)
{
    require(W.size() >= 9 && W.size() <= size_t(modbus::MaxAsciiFrameLength));
    require(W.front() == ':' && W[W.size() - 2] == '\r' && W.back() == '\n');
    const size_t digits = W.size() - 3;
    require(digits % 2 == 0);
    Bytes decoded;
    for (size_t i = 1; i + 1 < W.size() - 1; i += 2) {
        require((W[i] < 'a' || W[i] > 'f') && (W[i + 1] < 'a' || W[i + 1] > 'f'));
        const int hi = HexValue(W[i]);
        const int lo = HexValue(W[i + 1]);
        require(hi >= 0 && lo >= 0);
        decoded.push_back(uint8_t(hi << 4 | lo));
    }
    const bool right = Lrc(decoded.data(), decoded.size() - 1) == decoded.back();
    require(BadLrc || right);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size == 0)
        return 0;
    TFaultSettings f;
    f.Enabled = (Data[0] & 7) != 0 ? 1 : 0;
    f.BadCrcEvery = (Data[0] & 1) != 0 ? 2 : 0;
    f.WrongIdEvery = (Data[0] & 2) != 0 ? 3 : 0;
    f.NoReplyEvery = (Data[0] & 4) != 0 ? 5 : 0;
    Rig rig;
    CheckingObserver observer;
    rig.Slave.SetObserver(&observer);
    rig.Slave.Faults().Load(f);
    rig.Slave.SetMode(TSerialMode::Ascii);
    size_t at = 1;
    size_t checked = 0;
    while (at < Size) {
        const uint8_t op = Data[at++];
        const size_t n = size_t(op >> 2) + 1;
        switch (op & 3) {
        case 0:
        case 1: {
            const size_t end = std::min(Size, at + n);
            rig.arriveInPieces(Bytes(Data + at, Data + end), (op & 3) == 1 ? 1 : 0);
            at = end;
            break;
        }
        case 2:
            if ((op & 4) != 0) {
                rig.fireTimer();
            } else {
                rig.Line.FailingReads = 1;
                rig.Slave.Comm1RxChar(int(n));
            }
            break;
        case 3: {
            const size_t len = std::min<size_t>(((op >> 2) & 0x1F) + 1, Size - at);
            if (len == 0)
                break;
            Bytes frame(Data + at, Data + at + len);
            at += len;
            Bytes out(2 * frame.size() + 5);
            const int k = EncodeAscii(frame.data(), int(frame.size()),
                                      Lrc(frame.data(), frame.size()), out.data());
            out.resize(size_t(k));
            if ((op & 0x80) != 0) {
                rig.Slave.SetMode(TSerialMode::Rtu);
                rig.arrive(hex("01"));
                rig.Slave.SetMode(TSerialMode::Ascii);
            }
            rig.arrive(out);
            break;
        }
        }
        for (; checked < rig.Line.Writes.size(); ++checked)
            checkWrite(rig.Line.Writes[checked], f.BadCrcEvery != 0);
        rig.Line.Input.clear();
    }
    return 0;
}
