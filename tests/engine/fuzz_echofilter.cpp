// SPDX-License-Identifier: MIT
// Feeds the echo filter arbitrary sends, receptions and takes at arbitrary
// times, and checks after every step what must hold for any line: no byte
// is made up or lost (received = delivered + dropped + held + pending), the
// held prefix is never longer than what was sent, and without any send the
// output is the input exactly.
//
// Input: operations, each one byte op then operands:
//   op & 3 == 0  sent: (op >> 2) + 1 bytes follow; window (next byte) * 100 us
//   op & 3 == 1  received: (op >> 2) + 1 bytes follow
//   op & 3 == 2  take up to (op >> 2) bytes
//   op & 3 == 3  time passes by (op >> 2) * 1000 us; op & 0x80 resets
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/echofilter.h"

using namespace quorlin;

namespace
{
void require(bool Condition)
{
    if (!Condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    TEchoFilter filter;
    int64_t now = 0;
    uint64_t received = 0, delivered = 0, sentTotal = 0, resetLoss = 0;
    bool everSent = false;
    std::vector<uint8_t> input, output;
    size_t i = 0;
    auto settle = [&] {
        const uint64_t accounted =
            delivered + filter.BytesDropped() + filter.Held() + filter.Pending() + resetLoss;
        require(accounted == received);
        require(filter.Held() <= TEchoFilter::MaxExpected);
        require(filter.Held() <= sentTotal);
    };
    while (i < Size) {
        const uint8_t op = Data[i++];
        const size_t n = size_t(op >> 2) + 1;
        switch (op & 3) {
        case 0: {
            const size_t count = std::min(n, Size - i);
            const int64_t window = i + count < Size ? int64_t(Data[i + count]) * 100 : 0;
            filter.Sent(Data + i, count, now, window);
            everSent = everSent || count > 0;
            sentTotal += count;
            i += count + (i + count < Size ? 1 : 0);
            break;
        }
        case 1: {
            const size_t count = std::min(n, Size - i);
            filter.Received(Data + i, count, now);
            input.insert(input.end(), Data + i, Data + i + count);
            received += count;
            i += count;
            break;
        }
        case 2: {
            uint8_t buf[64];
            const size_t got = filter.Take(buf, std::min<size_t>(op >> 2, sizeof buf));
            require(got <= size_t(op >> 2));
            output.insert(output.end(), buf, buf + got);
            delivered += got;
            break;
        }
        default:
            now += int64_t(op >> 2 & 0x1F) * 1000;
            if (op & 0x80) {
                resetLoss += filter.Held() + filter.Pending();
                filter.Reset();
                // The echo a reset forgot was counted as held: it is neither
                // dropped nor delivered from here on.
                everSent = true;
            }
            break;
        }
        settle();
    }
    if (!everSent) {
        uint8_t buf[256];
        while (size_t got = filter.Take(buf, sizeof buf))
            output.insert(output.end(), buf, buf + got);
        require(output == input);
    }
    return 0;
}
