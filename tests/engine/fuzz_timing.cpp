// SPDX-License-Identifier: MIT
// Any schedule of reads, writes and frame ends, and any frames handed to the
// poll statistics: no silence is negative, a turnaround is told at most once,
// and the statistics stay within their bounds.
//
// Input: byte 0 picks the speed; then records of 4 bytes: kind (% 4: read,
// write, frame end, request to the statistics), microseconds to move on (two
// bytes), and a count; a request takes the count's bytes that follow as its
// frame.
#include <cstdlib>
#include <cstdint>
#include <cstddef>

#include "engine/frametiming.h"
#include "engine/pollstats.h"

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
    if (Size < 1)
        return 0;
    static const int bauds[] = {0, 1200, 9600, 19200, 38400, 115200};
    const int baud = bauds[Data[0] % 6];
    const int charUs = baud > 0 ? 11000000 / baud : 0;
    TFrameClock clock;
    clock.SetLine(charUs, SilenceLimits(baud, charUs));
    TPollStats stats;
    int64_t now = 0;
    size_t at = 1;
    while (at + 4 <= Size) {
        const uint8_t kind = Data[at] % 4;
        now += int64_t(Data[at + 1]) << 8 | Data[at + 2];
        const int count = Data[at + 3];
        at += 4;
        switch (kind) {
        case 0:
            clock.Received(now, count);
            break;
        case 1:
            clock.Sending(now, count);
            break;
        case 2: {
            const TFrameTiming t = clock.EndFrame();
            require(t.GapUs >= -1 && t.InsideUs >= -1);
            require(!t.TooSoon || t.GapUs >= 0);
            const int64_t turn = clock.TakeTurnaround();
            require(turn >= -1 && clock.TakeTurnaround() == -1);
            break;
        }
        default: {
            const size_t n = std::min<size_t>(count, Size - at);
            TFrameReport r;
            r.Rx = std::span<const uint8_t>(Data + at, n);
            r.Verdict = TVerdict(count % 9);
            r.HeaderLength = uint8_t(count & 1 ? 6 : 0);
            r.Line = count & 2 ? "tcp" : "";
            stats.Add(r, now);
            at += n;
            break;
        }
        }
    }
    for (const TPollEntry &e : stats.Entries()) {
        require(e.Retries <= e.Requests && e.Intervals < e.Requests);
        require(e.Ranges.size() <= TPollStats::MaxRanges);
        for (const TRegisterRange &g : e.Ranges)
            require(g.First >= 0 && g.Count > 0 && g.First + g.Count <= 65536);
        (void)RangesText(e.Function, e.Ranges);
    }
    return 0;
}
