// SPDX-License-Identifier: MIT
// Any fault settings, any frames with a right CRC, the reply timer firing at
// any moment: a held-back reply and a running reply timer always go together,
// no write leaves a frame, and the counts add up.
//
// Input: 8 bytes of settings, then operations: op % 3 == 0 delivers a frame of
// (op / 3) % 16 + 2 bytes and its CRC, 1 lets (op / 3) * 4 ms pass, 2 fires
// the time-out timer (op / 3 even) or, for op / 3 odd, by (op / 6) % 4: loads
// the same faults again (0); aims them with the next Data[at] % 32 bytes as
// "Functions|Registers" text (1); gives the slave a section of its own or
// takes it away (2); a "fail next" order from the next byte, or (240 and
// above) the slave off the line and back (3).
#include <cstdlib>
#include <string>

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
    const TFaultSettings s{1,
                           Data[0] % 3, // every slave, ours or another
                           Data[6] % 64,
                           Data[6] % 64 + Data[7] % 64 - 8,
                           Data[1] % 5,
                           Data[4] % 101,
                           Data[1] / 5 % 5,
                           Data[2],
                           Data[3] % 5,
                           Data[5] % 101,
                           Data[3] / 5 % 5,
                           Data[7] % 16,
                           Data[4] * 7919 + Data[5]};
    TRegisterImage image;
    FakeLine line;
    FakeTimer timeout;
    ClockTimer reply;
    TModbusSlave slave(image, line, timeout);
    slave.SetReplyTimer(&reply);
    slave.Faults().Load(s);

    bool reloaded = false; // a reply held back across a reload is cancelled uncounted
    for (size_t at = 8; at < Size;) {
        const uint8_t op = Data[at++];
        const int arg = op / 3;
        if (op % 3 == 0) {
            const size_t n = std::min<size_t>(size_t(arg % 16) + 2, Size - at);
            Bytes frame(Data + at, Data + at + n);
            at += n;
            appendCrc(frame);
            line.Input.insert(line.Input.end(), frame.begin(), frame.end());
            slave.Comm1RxChar(int(line.Input.size()));
        } else if (op % 3 == 1) {
            const int until = reply.Now + arg * 4;
            while (reply.Running && reply.Due <= until) {
                reply.Now = reply.Due;
                slave.ReplyTimerTimer();
            }
            reply.Now = until;
        } else if (arg % 2 != 0) {
            reloaded = reloaded || slave.ReplyPending();
            TFaultSettings aimed = slave.Faults().Settings();
            const uint8_t next = at < Size ? Data[at] : 0;
            switch (arg / 2 % 4) {
            case 0:
                slave.Faults().Load(s);
                break;
            case 1: {
                const size_t n = std::min<size_t>(next % 32, Size - std::min(Size, at + 1));
                const std::string text(reinterpret_cast<const char *>(Data) + at + 1, n);
                at += n + 1;
                const size_t bar = text.find('|');
                aimed.Functions = text.substr(0, bar);
                aimed.Registers = bar == std::string::npos ? "" : text.substr(bar + 1);
                slave.Faults().Load(aimed);
                break;
            }
            case 2:
                aimed.Enabled = slave.Faults().SlavePlan(1) == nullptr ? 1 : 0;
                slave.Faults().LoadSlave(1, aimed);
                break;
            default:
                ++at;
                if (next >= 240) {
                    image.Options.Offline = !image.Options.Offline;
                } else {
                    TFailNext order{TFailKind(next % 5), next / 5 % 4, next / 20 % 3, next / 60,
                                    next % 64};
                    require(slave.Faults().FailNext(order) == ValidFailNext(order));
                }
                break;
            }
        } else if (timeout.Running) {
            slave.TimeOutTimerTimer();
        }
        require(slave.ReplyPending() == reply.Running);
        require(slave.RxCount >= 0 && slave.RxCount <= 256);
        for (const Bytes &w : line.Writes)
            require(!w.empty() && w.size() <= 255);
        const TFaultCounts &c = slave.Faults().Counts();
        require(c.NoReply + c.Exception + c.WrongId + c.BadCrc <= c.Requests);
        const TFaultPlan *own = slave.Faults().SlavePlan(1);
        const uint64_t held = c.Delayed + c.Split + c.FailedNext +
                              (own != nullptr ? own->Counts().Delayed + own->Counts().Split : 0);
        require(reloaded || c.Cancelled <= held);
        require(slave.Faults().FailNextLeft().Count >= 0);
    }
    return 0;
}
