// SPDX-License-Identifier: MIT
// The echo rule in time: what was sent, what came back when, and what the
// framing gets. Times are microseconds after the reply was handed over; the
// echo's window is 10 ms.
#include <gtest/gtest.h>

#include "engine/echofilter.h"

using namespace quorlin;
using Bytes = std::vector<uint8_t>;

namespace
{

struct Step {
    char Kind; // 's' sent, 'r' received
    int64_t AtUs;
    Bytes Data;
};

struct EchoFilterRow {
    const char *Label;
    std::vector<Step> Steps;
    Bytes Delivered;
    uint64_t Echoes, Cut;
};

class EchoFilterRule : public ::testing::TestWithParam<EchoFilterRow>
{
};

TEST_P(EchoFilterRule, DeliversAllButTheEcho)
{
    const EchoFilterRow &row = GetParam();
    TEchoFilter filter;
    Bytes out;
    for (const Step &s : row.Steps) {
        if (s.Kind == 's') {
            filter.Sent(s.Data.data(), s.Data.size(), s.AtUs, 10000);
            continue;
        }
        filter.Received(s.Data.data(), s.Data.size(), s.AtUs);
        // Taken two at a time: what is not taken waits, in order.
        uint8_t two[2];
        while (size_t n = filter.Take(two, sizeof two))
            out.insert(out.end(), two, two + n);
    }
    EXPECT_EQ(out, row.Delivered);
    EXPECT_EQ(filter.EchoesDropped(), row.Echoes);
    EXPECT_EQ(filter.EchoesCut(), row.Cut);
}

// A reply to "write register 17" (the filter looks at bytes, not at CRCs).
const Bytes R = {0x01, 0x06, 0x00, 0x10, 0x00, 0x2A, 0x09, 0xD8};
const Bytes Q = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}; // next request

Bytes join(std::initializer_list<Bytes> Parts)
{
    Bytes all;
    for (const Bytes &p : Parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes part(const Bytes &B, size_t From, size_t To)
{
    return Bytes(B.begin() + std::ptrdiff_t(From), B.begin() + std::ptrdiff_t(To));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EchoFilterRule,
    ::testing::Values(
        EchoFilterRow{"EchoDropped", {{'s', 0, R}, {'r', 900, R}, {'r', 5000, Q}}, Q, 1, 0},
        EchoFilterRow{"EchoByteByByte",
                      {{'s', 0, R},
                       {'r', 1, part(R, 0, 1)},
                       {'r', 2, part(R, 1, 2)},
                       {'r', 3, part(R, 2, 7)},
                       {'r', 4, part(R, 7, 8)},
                       {'r', 5, Q}},
                      Q,
                      1,
                      0},
        // The same bytes once the window has passed: a master's request.
        EchoFilterRow{"SameBytesAfterTheWindowAreInput", {{'s', 0, R}, {'r', 10001, R}}, R, 0, 0},
        // A prefix, then silence past the window: ours, cut short.
        EchoFilterRow{"CutEchoDroppedAfterTheWindow",
                      {{'s', 0, R}, {'r', 500, part(R, 0, 3)}, {'r', 20000, Q}},
                      Q,
                      0,
                      1},
        // Differing in its fifth byte: the four before it are input too.
        EchoFilterRow{"MismatchReleasesTheHeldPrefix",
                      {{'s', 0, R}, {'r', 500, part(R, 0, 4)}, {'r', 600, {0x77, 0x2A}}},
                      join({part(R, 0, 4), {0x77, 0x2A}}),
                      0,
                      0},
        // Begun inside the window, going on past it: still compared, byte by byte.
        EchoFilterRow{"EchoGoingOnPastTheWindow",
                      {{'s', 0, R}, {'r', 9000, part(R, 0, 5)}, {'r', 15000, part(R, 5, 8)}},
                      {},
                      1,
                      0},
        EchoFilterRow{"RequestGoingOnPastTheWindow",
                      {{'s', 0, R}, {'r', 9000, part(R, 0, 5)}, {'r', 15000, {0x2B, 0x55}}},
                      join({part(R, 0, 5), {0x2B, 0x55}}),
                      0,
                      0},
        // A reply sent in two parts: both echoes are looked for, in order.
        EchoFilterRow{"SplitReplyBothHalvesDropped",
                      {{'s', 0, part(R, 0, 4)},
                       {'r', 300, part(R, 0, 2)},
                       {'s', 8000, part(R, 4, 8)},
                       {'r', 8100, part(R, 2, 8)},
                       {'r', 9000, Q}},
                      Q,
                      1,
                      0},
        EchoFilterRow{"EmptySendAwaitsNothing", {{'s', 0, {}}, {'r', 1, R}}, R, 0, 0}),
    [](const auto &Info) { return std::string(Info.param.Label); });

} // namespace
