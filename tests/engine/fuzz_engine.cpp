// SPDX-License-Identifier: MIT
// Feeds arbitrary byte streams, read sizes, failing and short reads, timer
// firings and queued writes to the receive step, and checks after every step
// what must hold whatever a master sends.
//
// Input: byte 0 is MBid (248..255: a bus of slaves 1, 2, 17 and that id,
// broadcast writes accepted for odd ones); then a sequence of operations, each one byte op
// followed by its operands:
//   op & 3 == 0  deliver (op >> 2) + 1 bytes; the event reports all waiting bytes
//   op & 3 == 1  the same, but reads place at most half of what they are asked
//   op & 3 == 2  an event whose read fails (-1), reporting (op >> 2) + 1 bytes
//   op & 3 == 3  by (op >> 2) & 3: fire the timer; an event reporting more than
//                is waiting; queue a write (5 operand bytes) and apply the queue;
//                deliver a whole valid-CRC frame of (op >> 4) + 2 bytes
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/slaveset.h"
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

// A FakeLine that also refuses a Read aimed outside RxBuf: the buffer sits
// inside the slave object, where AddressSanitizer could not see an overrun.
class CheckedLine : public FakeLine
{
  public:
    const TModbusSlave *Slave = nullptr;
    int Read(void *Buffer, int Count) override
    {
        const auto *begin = Slave->RxBuf.data();
        const auto *at = static_cast<const uint8_t *>(Buffer);
        require(Count > 0);
        require(at >= begin && at + Count <= begin + Slave->RxBuf.size());
        return FakeLine::Read(Buffer, Count);
    }
};

// Every report must describe bytes that lie inside the slave's buffers and a
// reply that is exactly the last write; the counters must add up.
class CheckingObserver : public IFrameObserver
{
  public:
    const TModbusSlave *Slave = nullptr;
    const FakeLine *Line = nullptr;
    TLineCounters Counters;
    uint64_t Reports = 0;
    void FrameDone(const TFrameReport &R) override
    {
        require(R.Rx.size() <= Slave->RxBuf.size() && R.Rx.data() == Slave->RxBuf.data());
        require(R.Reply.size() <= Slave->TxBuf.size() && R.Reply.data() == Slave->TxBuf.data());
        const bool replied = R.Verdict == TVerdict::Answered || R.Verdict == TVerdict::Exception;
        require(replied == !R.Reply.empty());
        if (replied)
            require(!Line->Writes.empty() &&
                    Bytes(R.Reply.begin(), R.Reply.end()) == Line->Writes.back());
        require(R.Unread == 0 || R.Verdict == TVerdict::TooLong);
        ++Reports;
        Counters.Count(R);
        const TLineCounters &c = Counters;
        require(c.Requests + c.BadCrc + c.OtherSlave + c.Broadcast + c.TimedOut + c.TooLong +
                    c.NoReply ==
                Reports);
        require(c.Replies == c.Requests && c.Exceptions <= c.Replies);
    }
};

struct FuzzRig {
    TSlaveSet Bus;
    bool OnBus = false;
    TRegisterImage Image;
    CheckedLine Line;
    FakeTimer Timer;
    TModbusSlave Slave{Image, Line, Timer};
    CheckingObserver Observer;
    FuzzRig()
    {
        Line.Slave = &Slave;
        Observer.Slave = &Slave;
        Observer.Line = &Line;
    }
};

void checkInvariants(FuzzRig &rig, size_t &writesSeen)
{
    require(rig.Slave.RxCount >= 0 && rig.Slave.RxCount <= 256);
    require(rig.Image.Coils[0] == 0 && rig.Image.DiscreteInputs[0] == 0);
    require(rig.Image.InputRegs[0] == 0 && rig.Image.HoldingRegs[0] == 0);
    for (size_t i = writesSeen; i < rig.Line.Writes.size(); ++i) {
        const Bytes &w = rig.Line.Writes[i];
        require(w.size() >= 5 && w.size() <= 255);
        if (rig.OnBus) {
            require(rig.Bus.Find(w[0]) != nullptr); // never a broadcast, never a stranger
        } else {
            require(rig.Image.MBid >= 1 && rig.Image.MBid <= 255);
            require(w[0] == rig.Image.MBid);
        }
        require(Crc16(w.data(), w.size()) == 0); // the CRC closes the frame
        if (w[1] & 0x80)
            require(w.size() == 5 && w[2] >= 1 && w[2] <= 3);
    }
    writesSeen = rig.Line.Writes.size();
    for (int i = 0; rig.OnBus && i < rig.Bus.Count(); ++i) {
        const TRegisterImage &s = rig.Bus.At(i);
        require(s.Coils[0] == 0 && s.DiscreteInputs[0] == 0);
        require(s.InputRegs[0] == 0 && s.HoldingRegs[0] == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size == 0)
        return 0;
    FuzzRig rig;
    rig.Image.MBid = Data[0];
    // Odd ids run with an observer, even ones without: both must hold up.
    if (Data[0] & 1)
        rig.Slave.SetObserver(&rig.Observer);
    if (Data[0] >= 248) {
        rig.OnBus = true;
        rig.Bus.Assign(1, {2, 17, Data[0]});
        rig.Bus.AcceptBroadcast = (Data[0] & 1) != 0;
        rig.Slave.SetSlaves(&rig.Bus);
    }
    size_t at = 1;
    size_t writesSeen = 0;
    auto take = [&](size_t n) {
        n = std::min(n, Size - at);
        rig.Line.Input.insert(rig.Line.Input.end(), Data + at, Data + at + n);
        at += n;
    };
    auto event = [&](int count) { rig.Slave.Comm1RxChar(count); };

    while (at < Size) {
        const uint8_t op = Data[at++];
        const int arg = op >> 2;
        rig.Line.ReadLimit = 0;
        switch (op & 3) {
        case 0:
            take(size_t(arg) + 1);
            if (!rig.Line.Input.empty())
                event(int(rig.Line.Input.size()));
            break;
        case 1:
            take(size_t(arg) + 1);
            rig.Line.ReadLimit = std::max<int>(1, int(rig.Line.Input.size()) / 2);
            if (!rig.Line.Input.empty())
                event(int(rig.Line.Input.size()));
            break;
        case 2:
            rig.Line.FailingReads = 1;
            event(arg + 1);
            rig.Line.FailingReads = 0;
            break;
        default:
            switch (arg & 3) {
            case 0:
                if (rig.Timer.Running)
                    rig.Slave.TimeOutTimerTimer();
                break;
            case 1:
                event(int(rig.Line.Input.size()) + (arg >> 2) + 1);
                break;
            case 2:
                if (Size - at >= 5) {
                    const int32_t type = int8_t(Data[at]);
                    const int32_t adr = int16_t(Data[at + 1] << 8 | Data[at + 2]);
                    const uint32_t value = uint32_t(Data[at + 3] << 8 | Data[at + 4]);
                    at += 5;
                    rig.Image.QueueWrite(type, adr, value);
                    rig.Image.ApplyPendingWrites();
                }
                break;
            default: {
                // A frame with a correct CRC, so the handlers are reached often.
                const size_t body = std::min<size_t>(size_t(arg >> 2) + 2, Size - at);
                Bytes frame(Data + at, Data + at + body);
                at += body;
                appendCrc(frame);
                rig.Line.Input.insert(rig.Line.Input.end(), frame.begin(), frame.end());
                event(int(rig.Line.Input.size()));
                break;
            }
            }
            break;
        }
        checkInvariants(rig, writesSeen);
    }
    for (int n = 1; n <= 2048; ++n)
        require(rig.Image.Coils[n] <= 1 && rig.Image.DiscreteInputs[n] <= 1);
    return 0;
}
