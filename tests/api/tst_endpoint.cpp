// SPDX-License-Identifier: MIT
// What --api and the Remote Control dialog accept as the place to listen,
// and which of those places need no token.
#include <gtest/gtest.h>

#include "api/apiserver.h"

using namespace quorlin;

namespace
{

TEST(ApiEndpoint, AddressDefaultsToLoopbackAndBadPortsAreRefused)
{
    struct Row {
        const char *Text;
        bool Ok;
        const char *Address;
        int Port;
        bool Loopback;
    };
    const Row rows[] = {
        {"8502", true, "127.0.0.1", 8502, true},
        {"127.0.0.2:1", true, "127.0.0.2", 1, true},
        {"localhost:65535", true, "localhost", 65535, true},
        {"[::1]:8502", true, "::1", 8502, true},
        {"0.0.0.0:8502", true, "0.0.0.0", 8502, false},
        {"[::]:8502", true, "::", 8502, false},
        {"192.168.1.20:502", true, "192.168.1.20", 502, false},
        {"127.0.0.1.example:80", true, "127.0.0.1.example", 80, false},
        {"", false, "", 0, false},
        {"0", false, "", 0, false},
        {"65536", false, "", 0, false},
        {"host:", false, "", 0, false},
        {":8502", false, "", 0, false},
        {"[::1]8502", false, "", 0, false},
        {"85o2", false, "", 0, false},
        {"-1", false, "", 0, false},
    };
    for (const Row &row : rows) {
        std::string address = "unchanged", error;
        int port = -7;
        EXPECT_EQ(ParseApiEndpoint(row.Text, address, port, error), row.Ok) << row.Text;
        if (!row.Ok) {
            EXPECT_FALSE(error.empty()) << row.Text;
            EXPECT_EQ(address, "unchanged") << row.Text;
            continue;
        }
        EXPECT_EQ(address, row.Address) << row.Text;
        EXPECT_EQ(port, row.Port) << row.Text;
        EXPECT_EQ(IsLoopbackListen(address), row.Loopback) << row.Text;
    }
}

} // namespace
