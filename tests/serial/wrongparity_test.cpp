// SPDX-License-Identifier: MIT
// A reply written with the wrong parity, seen through the system-call seam:
// a pseudo-terminal keeps no parity, so the line states the device asks for
// around the write are where the fault shows. The bytes themselves must
// reach the master unchanged.
#include <gtest/gtest.h>

#include <termios.h>

#include "serial/commint.h"
#include "tests/platform/serial/termios2probe.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using quorlin::testing::CountingSysApi;

namespace
{

std::string parityOf(unsigned Cflag)
{
    if ((Cflag & PARENB) == 0)
        return "none";
    if (Cflag & CMSPAR)
        return (Cflag & PARODD) ? "mark" : "space";
    return (Cflag & PARODD) ? "odd" : "even";
}

struct ParityRow {
    const char *Name;
    TParity Line;
    bool RefuseChange;    // the driver refuses the wrong parity
    std::string Expected; // the line states set and the writes, in order
};

class WrongParity : public quorlin::testing::CommFixture,
                    public ::testing::WithParamInterface<ParityRow>
{
};

TEST_P(WrongParity, ReplyGoesBetweenTwoChangesOfParity)
{
    const ParityRow &row = GetParam();
    comm.SetParity(row.Line);
    comm.Open();
    ASSERT_TRUE(comm.IsOpen()) << comm.LastOpenError().Message;
    const std::string line = parityOf(row.Line == paNone   ? 0
                                      : row.Line == paOdd  ? PARENB | PARODD
                                      : row.Line == paEven ? PARENB
                                      : row.Line == paMark ? PARENB | PARODD | CMSPAR
                                                           : PARENB | CMSPAR);
    std::string seen;
    const auto self = std::this_thread::get_id();
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        if (c.Thread != self)
            return std::nullopt; // the watcher's own waits
        if (c.Name == "ioctl" && quorlin::testing::isSetTermios2(c.Request)) {
            const std::string parity = parityOf(quorlin::testing::probeRequestCflag(c.Arg));
            seen += "set " + parity + ", ";
            if (row.RefuseChange && parity != line) {
                errno = EINVAL;
                return -1;
            }
        } else if (c.Name == "write") {
            seen += "write, ";
        }
        return std::nullopt;
    });
    const std::vector<uint8_t> reply = {0x01, 0x03, 0x02, 0x00, 0x2A, 0x38, 0x5B};
    EXPECT_EQ(comm.WriteWrongParity(reply.data(), int(reply.size())), int(reply.size()));
    api.setHook(nullptr);
    EXPECT_EQ(seen, row.Expected);
    EXPECT_EQ(pty.receive(reply.size(), 2000), reply);
}

INSTANTIATE_TEST_SUITE_P(
    Serial, WrongParity,
    ::testing::Values(
        // No parity: a space where the master expects the stop bit, a framing error.
        ParityRow{"NoneBecomesSpace", paNone, false, "set space, write, set none, "},
        ParityRow{"EvenBecomesOdd", paEven, false, "set odd, write, set even, "},
        ParityRow{"OddBecomesEven", paOdd, false, "set even, write, set odd, "},
        ParityRow{"MarkBecomesSpace", paMark, false, "set space, write, set mark, "},
        ParityRow{"SpaceBecomesMark", paSpace, false, "set mark, write, set space, "},
        // A driver that refuses the change still gets the reply, with the line's parity.
        ParityRow{"RefusedChangeStillSends", paEven, true, "set odd, write, "}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
