// SPDX-License-Identifier: MIT
// Feeds arbitrary byte streams in arbitrary pieces, with time passing between
// them, to the Modbus TCP and RTU over TCP framings of one connection, and
// checks what must hold whatever a client sends.
//
// Input: byte 0 picks the framing (bit 0), delay and split faults (bits 1, 2),
// a bus of slaves 1, 2, 17 with accepted broadcasts (bit 3) and the faults
// that change the reply's bytes or end the connection (bit 4); then a
// sequence of operations, each an op byte followed by its operands:
//   op & 3 == 0  deliver (op >> 2) + 1 bytes
//   op & 3 == 1  let (op >> 2) * 50 ms pass
//   op & 3 == 2  the client reads what is ready
//   op & 3 == 3  deliver a whole well-formed Modbus TCP header of (op >> 2) + 2 bytes
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/bytes.h"
#include "engine/replysender.h"
#include "engine/slaveset.h"
#include "engine/streamframing.h"

using namespace quorlin;

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
    TStreamKind Kind = TStreamKind::ModbusTcp;
    void FrameDone(const TFrameReport &R) override
    {
        require(R.Line == "tcp fuzz");
        require(R.Rx.size() <= size_t(modbus::MaxAduLength));
        require(R.Reply.size() <= size_t(MaxWireLength));
        const bool reshaped = R.Injected >= TFaultKind::Reset && R.Injected <= TFaultKind::Noise;
        if (!reshaped)
            require(R.Reply.size() <= size_t(modbus::MaxAduLength));
        if (Kind == TStreamKind::ModbusTcp && !R.Reply.empty() && !reshaped) {
            // Every reply echoes its request's transaction and says its own length.
            require(R.Reply.size() >= size_t(modbus::MbapHeaderLength + 1));
            require(R.Reply[0] == R.Rx[0] && R.Reply[1] == R.Rx[1]);
            require(readU16BE(R.Reply.data(), 4) + 6u == R.Reply.size());
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size < 1)
        return 0;
    const uint8_t mode = Data[0];
    TSlaveSet slaves;
    if (mode & 8) {
        slaves.Assign(1, {2, 17});
        slaves.AcceptBroadcast = true;
    }
    TRequestWorkspace work(slaves.First());
    work.Handler.SetSlaves(&slaves);
    TFaultSettings faults;
    faults.Enabled = (mode & 22) != 0;
    if (mode & 16) {
        faults.NoiseEvery = 4;
        faults.TruncateEvery = 6;
        faults.TruncateBytes = mode >> 5;
        faults.DuplicateEvery = 9;
        faults.ResetEvery = 23;
        faults.WrongTidEvery = 2;
        faults.BadLengthEvery = 11;
        faults.CloseAfterRequests = 40;
    }
    faults.DelayMs = (mode & 2) ? 20 : 0;
    faults.DelayMaxMs = (mode & 2) ? 120 : 0;
    faults.SplitReplyMs = (mode & 4) ? 30 : 0;
    faults.NoReplyEvery = 7;
    faults.WrongIdEvery = 5;
    faults.BadCrcEvery = 3;
    work.Handler.Faults().Load(NormalisedFaults(faults));

    CheckingObserver observer;
    observer.Kind = (mode & 1) ? TStreamKind::RtuOverTcp : TStreamKind::ModbusTcp;
    TStreamFraming framing(observer.Kind, work, 0, &observer, "tcp fuzz");
    int64_t now = 0;
    size_t delivered = 0, taken = 0;
    bool open = true;
    size_t i = 1;
    while (i < Size && open) {
        const uint8_t op = Data[i++];
        switch (op & 3) {
        case 0: {
            const size_t n = std::min<size_t>((op >> 2) + 1, Size - i);
            open = framing.Received(Data + i, n, now);
            delivered += n;
            i += n;
            break;
        }
        case 1:
            now += int64_t(op >> 2) * 50000;
            framing.Advance(now);
            break;
        case 2:
            taken += framing.Ready().size();
            framing.Sent(framing.Ready().size());
            open = framing.EndNow() == TStreamEnd::None;
            break;
        case 3: {
            const size_t pdu = std::min<size_t>((op >> 2) + 1, Size - i);
            uint8_t header[6] = {0x12, 0x34, 0, 0, 0, 0};
            putU16BE(header, 4, uint16_t(pdu + 1));
            open = framing.Received(header, sizeof header, now);
            if (open)
                open = framing.Received(Data + i, pdu, now);
            delivered += 6 + pdu;
            i += pdu;
            break;
        }
        }
        // Nothing is answered that was not asked: at most one reply per request,
        // and no request is shorter than 4 bytes on either framing.
        const size_t out = taken + framing.PendingBytes();
        require(out <= (delivered / 4 + 1) * size_t(MaxWireLength));
    }
    // Time enough for every held reply: nothing stays behind for ever.
    now += 20000000;
    framing.Advance(now);
    require(framing.NextDueUs() < 0);
    require(framing.PendingBytes() == framing.Ready().size());
    return 0;
}
