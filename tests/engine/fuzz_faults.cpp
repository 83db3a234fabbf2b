// SPDX-License-Identifier: MIT
// Any fault settings and any byte stream, with the reply timer firing at any
// moment: the engine never writes outside its frames, a held-back reply and
// a running reply timer always go together, and the counts add up.
//
// Input: 8 bytes of settings, then operations of one byte each (with operands):
//   op % 4 == 0  deliver (op / 4) + 1 bytes
//   op % 4 == 1  deliver a whole valid-CRC frame of (op / 4) % 16 + 2 bytes
//   op % 4 == 2  let (op / 4) * 4 ms pass on the fake clock
//   op % 4 == 3  fire the time-out timer, or load the same faults again
#include <cstdint>
#include <cstdlib>

#include "engine/replysender.h"
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

struct ClockTimer : IReplyTimer {
    int Now = 0, Due = 0;
    bool Running = false;
    void Start(int Ms) override
    {
        require(Ms > 0 && Ms <= MaxFaultDelayMs);
        Running = true;
        Due = Now + Ms;
    }
    void Stop() override { Running = false; }
    bool IsRunning() const override { return Running; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size < 8)
        return 0;
    TFaultSettings s;
    s.Enabled = 1;
    s.MBid = Data[0] % 3; // 0 (all), 1 (ours) or 2 (another)
    s.NoReplyEvery = Data[1] % 5;
    s.ExceptionEvery = Data[1] / 5 % 5;
    s.ExceptionCode = Data[2];
    s.BadCrcEvery = Data[3] % 5;
    s.WrongIdEvery = Data[3] / 5 % 5;
    s.NoReplyPercent = Data[4] % 101;
    s.BadCrcPercent = Data[5] % 101;
    s.DelayMs = Data[6] % 64;
    s.DelayMaxMs = s.DelayMs + Data[7] % 64 - 8;
    s.SplitReplyMs = Data[7] % 16;
    s.Seed = int(Data[4]) * 7919 + Data[5];

    TRegisterImage image;
    FakeLine line;
    FakeTimer timeout;
    ClockTimer reply;
    TModbusSlave slave(image, line, timeout);
    slave.SetReplyTimer(&reply);
    slave.Faults().Load(s);

    size_t at = 8;
    bool reloaded = false; // a reply held back across a reload is cancelled uncounted
    while (at < Size) {
        const uint8_t op = Data[at++];
        const int arg = op >> 2;
        switch (op & 3) {
        case 0: {
            const size_t n = std::min<size_t>(size_t(arg) + 1, Size - at);
            line.Input.insert(line.Input.end(), Data + at, Data + at + n);
            at += n;
            if (!line.Input.empty())
                slave.Comm1RxChar(int(line.Input.size()));
            break;
        }
        case 1: {
            const size_t n = std::min<size_t>(size_t(arg % 16) + 2, Size - at);
            Bytes frame(Data + at, Data + at + n);
            at += n;
            appendCrc(frame);
            line.Input.insert(line.Input.end(), frame.begin(), frame.end());
            slave.Comm1RxChar(int(line.Input.size()));
            break;
        }
        case 2: {
            const int until = reply.Now + arg * 4;
            while (reply.Running && reply.Due <= until) {
                reply.Now = reply.Due;
                slave.ReplyTimerTimer();
            }
            reply.Now = until;
            break;
        }
        default:
            if (arg & 1) {
                slave.Faults().Load(s);
                reloaded = reloaded || slave.ReplyPending();
            }
            else if (timeout.Running)
                slave.TimeOutTimerTimer();
            break;
        }
        require(slave.ReplyPending() == reply.Running);
        require(slave.RxCount >= 0 && slave.RxCount <= 256);
        for (const Bytes &w : line.Writes)
            require(!w.empty() && w.size() <= 255);
        const TFaultCounts &c = slave.Faults().Counts();
        require(c.NoReply + c.Exception + c.WrongId + c.BadCrc <= c.Requests);
        require(reloaded || c.Cancelled <= c.Delayed + c.Split);
    }
    return 0;
}
