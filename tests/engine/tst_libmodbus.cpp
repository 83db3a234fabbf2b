// SPDX-License-Identifier: MIT
// libmodbus as an independent master: its CRC must equal ours on arbitrary
// frames, and its client calls, sent over a pty, must accept the engine's
// replies and see the register image.
#include <atomic>
#include <cerrno>
#include <functional>
#include <random>
#include <thread>

#include <fcntl.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/engine/fakes.h"
#include "tests/serial/ptypair.h"

namespace quorlin::test
{
namespace
{

using quorlin::testing::PtyPair;

// The engine's side of a pty: Read and Write on the controlling end.
class PtyLine : public ISerialLine
{
  public:
    explicit PtyLine(int Fd) : m_fd(Fd) {}
    int Read(void *Buffer, int Count) override { return int(::read(m_fd, Buffer, size_t(Count))); }
    int Write(const void *Buffer, int Count) override
    {
        return int(::write(m_fd, Buffer, size_t(Count)));
    }
    void PurgeIn() override { ::tcflush(m_fd, TCIFLUSH); }
    void PurgeOut() override {}

  private:
    int m_fd;
};

class LibModbusMaster : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.ok());
        m_ctx = modbus_new_rtu(m_pty.path().c_str(), 19200, 'N', 8, 1);
        ASSERT_NE(m_ctx, nullptr);
        modbus_set_slave(m_ctx, 1);
        modbus_set_response_timeout(m_ctx, 10, 0);
        ASSERT_EQ(modbus_connect(m_ctx), 0) << modbus_strerror(errno);
    }
    void TearDown() override
    {
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
    }

    // Runs Call (a libmodbus client call) in a thread while the engine serves
    // the other end of the pty; returns Call's result.
    int serve(const std::function<int()> &Call)
    {
        std::atomic<bool> done{false};
        int result = 0;
        std::thread client([&] {
            result = Call();
            done = true;
        });
        PtyLine line(m_pty.master());
        FakeTimer timer;
        TModbusSlave slave(Image, line, timer);
        while (!done) {
            pollfd p{m_pty.master(), POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                int waiting = 0;
                ::ioctl(m_pty.master(), FIONREAD, &waiting);
                if (waiting > 0)
                    slave.Comm1RxChar(waiting);
            }
        }
        client.join();
        return result;
    }

    PtyPair m_pty;
    modbus_t *m_ctx = nullptr;
    TRegisterImage Image;
};

TEST_F(LibModbusMaster, CrcOfRandomFramesMatches)
{
    std::mt19937 rng(20261208);
    for (int round = 0; round < 200; ++round) {
        Bytes raw(2 + rng() % 200);
        for (auto &b : raw)
            b = uint8_t(rng());
        ASSERT_EQ(modbus_send_raw_request(m_ctx, raw.data(), int(raw.size())), int(raw.size()) + 2);
        const Bytes sent = m_pty.receive(raw.size() + 2, 10000);
        ASSERT_EQ(sent.size(), raw.size() + 2);
        const uint16_t crc = Crc16(raw.data(), raw.size());
        EXPECT_EQ(sent[raw.size()], uint8_t(crc)) << toHex(raw);
        EXPECT_EQ(sent[raw.size() + 1], uint8_t(crc >> 8)) << toHex(raw);
    }
}

TEST_F(LibModbusMaster, ReadsWhatTheImageHolds)
{
    for (int n = 1; n <= 256; ++n) {
        Image.HoldingRegs[n] = uint16_t(n * 251);
        Image.InputRegs[n] = uint16_t(n * 13 + 7);
    }
    for (int n = 1; n <= 2048; ++n) {
        Image.Coils[n] = uint8_t(n % 3 == 0);
        Image.DiscreteInputs[n] = uint8_t(n % 5 == 0);
    }
    uint16_t regs[125] = {};
    ASSERT_EQ(serve([&] { return modbus_read_registers(m_ctx, 131, 125, regs); }), 125);
    for (int i = 0; i < 125; ++i)
        EXPECT_EQ(regs[i], Image.HoldingRegs[132 + i]);
    ASSERT_EQ(serve([&] { return modbus_read_input_registers(m_ctx, 0, 10, regs); }), 10);
    EXPECT_EQ(regs[9], Image.InputRegs[10]);

    std::vector<uint8_t> bits(2000);
    ASSERT_EQ(serve([&] { return modbus_read_bits(m_ctx, 48, 2000, bits.data()); }), 2000);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(bits[i], Image.Coils[49 + i]) << i;
    ASSERT_EQ(serve([&] { return modbus_read_input_bits(m_ctx, 0, 13, bits.data()); }), 13);
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(bits[i], Image.DiscreteInputs[1 + i]) << i;
}

TEST_F(LibModbusMaster, WritesLandInTheImage)
{
    ASSERT_EQ(serve([&] { return modbus_write_register(m_ctx, 255, 0xBEEF); }), 1);
    EXPECT_EQ(Image.HoldingRegs[256], 0xBEEF);
    ASSERT_EQ(serve([&] { return modbus_write_bit(m_ctx, 2047, 1); }), 1);
    EXPECT_EQ(Image.Coils[2048], 1);
    const uint16_t values[3] = {1, 0x8000, 0xFFFF};
    ASSERT_EQ(serve([&] { return modbus_write_registers(m_ctx, 10, 3, values); }), 3);
    EXPECT_EQ(Image.HoldingRegs[11], 1);
    EXPECT_EQ(Image.HoldingRegs[12], 0x8000);
    EXPECT_EQ(Image.HoldingRegs[13], 0xFFFF);
    const uint8_t bits[11] = {1, 0, 1, 1, 0, 0, 0, 0, 1, 1, 1};
    ASSERT_EQ(serve([&] { return modbus_write_bits(m_ctx, 100, 11, bits); }), 11);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(Image.Coils[101 + i], bits[i]) << i;
}

TEST_F(LibModbusMaster, RangeErrorIsIllegalDataAddress)
{
    uint16_t regs[10];
    int err = 0;
    EXPECT_EQ(serve([&] {
                  const int rc = modbus_read_registers(m_ctx, 250, 10, regs);
                  err = errno;
                  return rc;
              }),
              -1);
    EXPECT_EQ(err, EMBXILADD);
}

TEST_F(LibModbusMaster, ReportSlaveIdFrameIsAccepted)
{
    uint8_t id[32] = {};
    ASSERT_EQ(serve([&] { return modbus_report_slave_id(m_ctx, int(sizeof id), id); }), 9);
    EXPECT_EQ(id[0], 0x09);
    EXPECT_EQ(id[1], 0xFF);
    EXPECT_EQ(id[8], 0xD0);
}

} // namespace
} // namespace quorlin::test
