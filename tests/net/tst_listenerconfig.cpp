// SPDX-License-Identifier: MIT
// "[ADDRESS:]PORT" as the command line and the profile give it.
#include <gtest/gtest.h>

#include "engine/listenerconfig.h"

namespace quorlin::test
{
namespace
{

struct SpecRow {
    const char *text;
    bool ok;
    const char *address;
    int port;
};

class ListenSpec : public ::testing::TestWithParam<SpecRow>
{
};

TEST_P(ListenSpec, ParsesOrRefuses)
{
    const SpecRow &row = GetParam();
    std::string address = "unchanged";
    int port = -7;
    EXPECT_EQ(ParseListenSpec(row.text, address, port), row.ok) << row.text;
    EXPECT_EQ(address, row.ok ? row.address : "unchanged") << row.text;
    EXPECT_EQ(port, row.ok ? row.port : -7) << row.text;
    if (row.ok) {
        // What is written back reads back the same.
        std::string a2;
        int p2 = 0;
        EXPECT_TRUE(ParseListenSpec(ListenSpecText(address, port), a2, p2));
        EXPECT_EQ(a2, address);
        EXPECT_EQ(p2, port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ListenSpec,
    ::testing::Values(
        SpecRow{"1502", true, "127.0.0.1", 1502}, SpecRow{"0", true, "127.0.0.1", 0},
        SpecRow{"65535", true, "127.0.0.1", 65535}, SpecRow{"0.0.0.0:502", true, "0.0.0.0", 502},
        SpecRow{"192.168.1.20:1502", true, "192.168.1.20", 1502},
        SpecRow{"[::1]:1502", true, "::1", 1502}, SpecRow{"[::]:4001", true, "::", 4001},
        SpecRow{"65536", false, "", 0}, SpecRow{"", false, "", 0}, SpecRow{"-1", false, "", 0},
        SpecRow{"15o2", false, "", 0}, SpecRow{"127.0.0.1:", false, "", 0},
        SpecRow{":1502", false, "", 0}, SpecRow{"::1:1502", false, "", 0},
        SpecRow{"[::1]1502", false, "", 0}, SpecRow{"[::1", false, "", 0},
        SpecRow{"host name:1502", false, "", 0}, SpecRow{"99999999999999999999", false, "", 0}));

TEST(ListenerConfig, KindsAndRangesAreNormalised)
{
    TStreamKind k = TStreamKind::ModbusTcp;
    EXPECT_TRUE(KindFromName("RTU over TCP", k));
    EXPECT_EQ(k, TStreamKind::RtuOverTcp);
    EXPECT_TRUE(KindFromName(KindName(TStreamKind::ModbusTcp), k));
    EXPECT_EQ(k, TStreamKind::ModbusTcp);
    EXPECT_FALSE(KindFromName("udp", k));
    TListenerConfig c;
    c.MaxClients = 100000;
    c.DefaultId = -4;
    c.Address.clear();
    c = NormalisedListener(c);
    EXPECT_EQ(c.MaxClients, MaxClientsLimit);
    EXPECT_EQ(c.DefaultId, 0);
    EXPECT_EQ(c.Address, "127.0.0.1");
    c.MaxClients = 0;
    EXPECT_EQ(NormalisedListener(c).MaxClients, 1);
}

} // namespace
} // namespace quorlin::test
