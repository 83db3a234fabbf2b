// SPDX-License-Identifier: MIT
// libmodbus's TCP client, a master from another hand, against the listeners:
// every supported function, several slaves by unit id, exception 11 for an
// id no slave has, fifty clients polling at once, and IPv6 through its
// protocol-independent client.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <modbus/modbus.h>
#include <thread>
#include <vector>

#include "net/netserver.h"

namespace quorlin::test
{
namespace
{

class LibModbusTcp : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_slaves.Add(2);
        m_slaves.Add(17);
        for (int id : {1, 2, 17}) {
            TRegisterImage &s = *m_slaves.Find(id);
            for (int r = 1; r <= 200; ++r) {
                s.HoldingRegs[r] = uint16_t(id * 1000 + r);
                s.InputRegs[r] = uint16_t(id * 2000 + r);
                s.Coils[r] = uint8_t((r + id) % 3 == 0);
                s.DiscreteInputs[r] = uint8_t((r * id) % 5 == 0);
            }
        }
        TListenerConfig c;
        c.Port = 0;
        ASSERT_TRUE(m_server.Start({c}));
        m_port = m_server.Listener(0).BoundPort;
    }
    modbus_t *connect(int Unit)
    {
        modbus_t *ctx = modbus_new_tcp("127.0.0.1", m_port);
        modbus_set_slave(ctx, Unit);
        modbus_set_response_timeout(ctx, 5, 0);
        EXPECT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
        return ctx;
    }

    TSlaveSet m_slaves;
    TFaultPlan m_faults;
    TNetServer m_server{m_slaves, m_faults};
    int m_port = -1;
};

TEST_F(LibModbusTcp, EveryFunctionOnEverySlaveByUnitId)
{
    for (int id : {1, 2, 17}) {
        SCOPED_TRACE(id);
        modbus_t *ctx = connect(id);
        uint16_t regs[125];
        ASSERT_EQ(modbus_read_registers(ctx, 0, 125, regs), 125) << modbus_strerror(errno);
        for (int i = 0; i < 125; ++i)
            ASSERT_EQ(regs[i], id * 1000 + i + 1);
        ASSERT_EQ(modbus_read_input_registers(ctx, 10, 3, regs), 3);
        EXPECT_EQ(regs[2], id * 2000 + 13);
        uint8_t bits[2000];
        ASSERT_EQ(modbus_read_bits(ctx, 0, 2000, bits), 2000) << modbus_strerror(errno);
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(bits[i], (i + 1 + id) % 3 == 0) << i;
        ASSERT_EQ(modbus_read_input_bits(ctx, 0, 20, bits), 20);
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ(bits[i], ((i + 1) * id) % 5 == 0) << i;

        ASSERT_EQ(modbus_write_register(ctx, 230, uint16_t(0xA000 + id)), 1);
        ASSERT_EQ(modbus_write_bit(ctx, 300, 1), 1);
        const uint16_t many[] = {1, 2, 3, uint16_t(id)};
        ASSERT_EQ(modbus_write_registers(ctx, 240, 4, many), 4);
        const uint8_t onoff[] = {1, 0, 1, 1, 0, 0, 1, 0, 1};
        ASSERT_EQ(modbus_write_bits(ctx, 500, 9, onoff), 9);
        EXPECT_EQ(m_slaves.Find(id)->HoldingRegs[231], 0xA000 + id);
        EXPECT_EQ(m_slaves.Find(id)->Coils[301], 1);
        EXPECT_EQ(m_slaves.Find(id)->HoldingRegs[244], id);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(m_slaves.Find(id)->Coils[501 + i], onoff[i]);

        uint8_t report[64];
        EXPECT_GT(modbus_report_slave_id(ctx, sizeof report, report), 0);
        // Past the table, and functions the slave refuses.
        errno = 0;
        EXPECT_EQ(modbus_read_registers(ctx, 255, 2, regs), -1);
        EXPECT_EQ(errno, EMBXILADD);
        EXPECT_EQ(modbus_mask_write_register(ctx, 1, 0xFF, 0), -1);
        EXPECT_EQ(errno, EMBXILFUN);
        modbus_close(ctx);
        modbus_free(ctx);
    }
    // Other slaves never saw those writes.
    EXPECT_EQ(m_slaves.Find(1)->HoldingRegs[244], 1);
    EXPECT_EQ(m_slaves.Find(2)->HoldingRegs[244], 2);
}

TEST_F(LibModbusTcp, UnitIdRules)
{
    uint16_t reg = 0;
    for (int unit : {0, 255}) {
        modbus_t *ctx = connect(unit);
        // libmodbus does not wait for a reply to unit 0 (broadcast on RTU): write only.
        if (unit == 255) {
            ASSERT_EQ(modbus_read_registers(ctx, 0, 1, &reg), 1) << modbus_strerror(errno);
            EXPECT_EQ(reg, 1001); // the default slave: the lowest id
        }
        modbus_close(ctx);
        modbus_free(ctx);
    }
    modbus_t *ctx = connect(9);
    errno = 0;
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &reg), -1);
    EXPECT_EQ(errno, EMBXGTAR); // exception 11
    modbus_close(ctx);
    modbus_free(ctx);
}

TEST_F(LibModbusTcp, FiftyClientsPollingAtOnceAllGetExactAnswers)
{
    std::atomic<int> good{0}, bad{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < 50; ++k) {
        clients.emplace_back([&, k] {
            const int id = k % 3 == 0 ? 1 : k % 3 == 1 ? 2 : 17;
            modbus_t *ctx = modbus_new_tcp("127.0.0.1", m_port);
            modbus_set_slave(ctx, id);
            modbus_set_response_timeout(ctx, 10, 0);
            if (modbus_connect(ctx) != 0) {
                ++bad;
                modbus_free(ctx);
                return;
            }
            for (int round = 0; round < 40; ++round) {
                uint16_t regs[10];
                const int at = (k + round) % 100;
                bool ok = modbus_read_registers(ctx, at, 10, regs) == 10;
                for (int i = 0; ok && i < 10; ++i)
                    ok = regs[i] == id * 1000 + at + i + 1;
                ok ? ++good : ++bad;
            }
            modbus_close(ctx);
            modbus_free(ctx);
        });
    }
    for (auto &t : clients)
        t.join();
    EXPECT_EQ(good.load(), 50 * 40);
    EXPECT_EQ(bad.load(), 0);
}

// IPv6: this machine's address and every address (which takes IPv6 alone,
// so that "0.0.0.0" may listen on the same port beside it).
struct Ipv6Row {
    const char *name;
    const char *listen;
};

class LibModbusTcpPi : public ::testing::TestWithParam<Ipv6Row>
{
};

TEST_P(LibModbusTcpPi, AnswersOverIpv6)
{
    TSlaveSet slaves;
    TFaultPlan faults;
    TNetServer server(slaves, faults);
    slaves.Add(5);
    slaves.Find(5)->HoldingRegs[3] = 0xBEEF;
    TListenerConfig v6, v4;
    v6.Address = GetParam().listen;
    v6.Port = 0;
    ASSERT_TRUE(server.Start({v6}));
    const int port = server.Listener(0).BoundPort;
    v4.Address = "0.0.0.0";
    v4.Port = port;
    ASSERT_TRUE(server.Update({v6, v4})) << server.Listener(1).Error;

    for (const char *host : {"::1", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        modbus_t *ctx = modbus_new_tcp_pi(host, std::to_string(port).c_str());
        ASSERT_NE(ctx, nullptr);
        modbus_set_slave(ctx, 5);
        modbus_set_response_timeout(ctx, 5, 0);
        ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
        uint16_t regs[3] = {};
        EXPECT_EQ(modbus_read_registers(ctx, 0, 3, regs), 3) << modbus_strerror(errno);
        EXPECT_EQ(regs[2], 0xBEEF);
        modbus_close(ctx);
        modbus_free(ctx);
    }
}

INSTANTIATE_TEST_SUITE_P(Network, LibModbusTcpPi,
                         ::testing::Values(Ipv6Row{"Loopback", "::1"}, Ipv6Row{"Any", "::"}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace quorlin::test
