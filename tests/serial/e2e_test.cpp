// SPDX-License-Identifier: MIT
// End to end with masters written by others: libmodbus's client and mbpoll
// talk to quorlin-slave (the engine behind the serial device) over pty pairs.
// Expected values are what the master itself wrote, or the harness's
// documented --pattern (input n on when n % 3 == 0; input register n = n * 257).
#include <gtest/gtest.h>

#include <chrono>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <modbus.h>

#include <cerrno>
#include <cstdlib>

#include "tests/serial/ptypair.h"

using quorlin::testing::PtyBridge;

namespace
{

constexpr int slaveId = 17;

QString harnessPath()
{
    const char *build = std::getenv("QUORLIN_BUILD_DIR");
    return QString::fromUtf8(build ? build : ".") + "/quorlin-slave";
}

// quorlin-slave on side A of a bridge; masters use side B.
class Harness : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(bridge.ok());
        slave.setProgram(harnessPath());
        slave.setArguments(QStringList{"--id", QString::number(slaveId), "--pattern"} + extraArgs +
                           QStringList{QString::fromStdString(bridge.pathA())});
        slave.start();
        ASSERT_TRUE(slave.waitForStarted(5000)) << slave.errorString().toStdString();
        ASSERT_TRUE(slave.waitForReadyRead(5000));
        const QString ready = QString::fromUtf8(slave.readLine()).trimmed();
        ASSERT_EQ(ready.toStdString(),
                  "quorlin-slave ready on " + bridge.pathA() + " id " + std::to_string(slaveId));

        ctx = modbus_new_rtu(bridge.pathB().c_str(), 9600, 'N', 8, 1);
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
        modbus_set_slave(ctx, slaveId);
        modbus_set_response_timeout(ctx, 2, 0);
    }
    void TearDown() override
    {
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
        if (slave.state() != QProcess::NotRunning) {
            slave.terminate(); // SIGTERM: the harness ends cleanly
            EXPECT_TRUE(slave.waitForFinished(5000));
            EXPECT_EQ(slave.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(slave.exitCode(), 0);
        }
    }

    PtyBridge bridge;
    QProcess slave;
    modbus_t *ctx = nullptr;
    QStringList extraArgs;
};

// Every reply held back 150 ms, then sent in two halves 10 ms apart.
class HeldHarness : public Harness
{
  protected:
    HeldHarness() { extraArgs = {"--delay", "150", "--split", "10"}; }
};

} // namespace

TEST_F(HeldHarness, DelayedSplitRepliesReachAMasterWhole)
{
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<uint16_t> back(10);
        ASSERT_EQ(modbus_read_input_registers(ctx, 0, 10, back.data()), 10)
            << modbus_strerror(errno);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
        for (int n = 1; n <= 10; ++n)
            EXPECT_EQ(back[size_t(n - 1)], uint16_t(n * 257)) << "input register " << n;
    }
}

TEST_F(Harness, HoldingRegistersWrittenSinglyAndTogetherReadBack)
{
    ASSERT_EQ(modbus_write_register(ctx, 0, 0x1234), 1) << modbus_strerror(errno); // fn 6
    std::vector<uint16_t> values(100);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = uint16_t(i * 3 + 7 + (i << 9));
    ASSERT_EQ(modbus_write_registers(ctx, 1, 100, values.data()), 100) // fn 16
        << modbus_strerror(errno);

    std::vector<uint16_t> back(125);
    ASSERT_EQ(modbus_read_registers(ctx, 0, 125, back.data()), 125) << modbus_strerror(errno);
    EXPECT_EQ(back[0], 0x1234);
    EXPECT_EQ(std::vector<uint16_t>(back.begin() + 1, back.begin() + 101), values);
    EXPECT_EQ(back[101], 0) << "untouched registers stay zero";
}

TEST_F(Harness, CoilsWrittenSinglyAndTogetherReadBack)
{
    ASSERT_EQ(modbus_write_bit(ctx, 0, TRUE), 1) << modbus_strerror(errno); // fn 5
    ASSERT_EQ(modbus_write_bit(ctx, 2, TRUE), 1);
    ASSERT_EQ(modbus_write_bit(ctx, 2, FALSE), 1);
    std::vector<uint8_t> bits(37);
    for (size_t i = 0; i < bits.size(); ++i)
        bits[i] = (i * 7) % 5 < 2;
    ASSERT_EQ(modbus_write_bits(ctx, 10, int(bits.size()), bits.data()), int(bits.size())) // fn 15
        << modbus_strerror(errno);
    ASSERT_EQ(modbus_write_bit(ctx, 2047, TRUE), 1) << "the last coil";

    std::vector<uint8_t> back(2000);
    ASSERT_EQ(modbus_read_bits(ctx, 0, 2000, back.data()), 2000) << modbus_strerror(errno);
    EXPECT_EQ(back[0], 1);
    EXPECT_EQ(back[1], 0);
    EXPECT_EQ(back[2], 0);
    EXPECT_EQ(std::vector<uint8_t>(back.begin() + 10, back.begin() + 47), bits);
    uint8_t last[8] = {};
    ASSERT_EQ(modbus_read_bits(ctx, 2040, 8, last), 8);
    EXPECT_EQ(last[7], 1);
    EXPECT_EQ(last[6], 0);
}

TEST_F(Harness, InputsAndInputRegistersHoldThePattern)
{
    std::vector<uint8_t> inputs(64);
    ASSERT_EQ(modbus_read_input_bits(ctx, 0, 64, inputs.data()), 64)
        << modbus_strerror(errno); // fn 2
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(inputs[size_t(i)], (i + 1) % 3 == 0 ? 1 : 0) << "input " << i + 1;

    uint16_t regs[6] = {};
    ASSERT_EQ(modbus_read_input_registers(ctx, 250, 6, regs), 6) << modbus_strerror(errno); // fn 4
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(regs[i], uint16_t((251 + i) * 257)) << "input register " << 251 + i;
}

TEST_F(Harness, AddressesOutOfRangeGetExceptionTwo)
{
    uint16_t regs[10];
    uint8_t bits[16];
    errno = 0;
    EXPECT_EQ(modbus_read_registers(ctx, 250, 10, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    errno = 0;
    EXPECT_EQ(modbus_write_register(ctx, 256, 1), -1);
    EXPECT_EQ(errno, EMBXILADD);
    errno = 0;
    EXPECT_EQ(modbus_read_bits(ctx, 2040, 16, bits), -1);
    EXPECT_EQ(errno, EMBXILADD);
    errno = 0;
    EXPECT_EQ(modbus_read_input_registers(ctx, 256, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_read_registers(ctx, 246, 10, regs), 10) << "the last ten are in range";
}

TEST_F(Harness, RequestForAnotherSlaveIdTimesOut)
{
    uint16_t reg = 0;
    modbus_set_slave(ctx, slaveId + 1);
    modbus_set_response_timeout(ctx, 0, 300000);
    errno = 0;
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &reg), -1);
    EXPECT_EQ(errno, ETIMEDOUT);

    modbus_set_slave(ctx, slaveId);
    modbus_set_response_timeout(ctx, 2, 0);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &reg), 1) << "the slave still answers its own id";
}

TEST_F(Harness, MbpollReadsHoldingRegisters)
{
    const QString mbpoll = QStandardPaths::findExecutable("mbpoll");
    if (mbpoll.isEmpty())
        GTEST_SKIP() << "mbpoll is not installed (Debian package mbpoll)";
    const uint16_t values[5] = {11, 22, 33, 44, 55};
    ASSERT_EQ(modbus_write_registers(ctx, 0, 5, values), 5) << modbus_strerror(errno);
    modbus_close(ctx);
    modbus_free(ctx);
    ctx = nullptr;

    QProcess poll;
    poll.start(mbpoll,
               {"-m", "rtu", "-a", QString::number(slaveId), "-b", "9600", "-P", "none", "-t", "4",
                "-r", "1", "-c", "5", "-1", "-o", "2", QString::fromStdString(bridge.pathB())});
    ASSERT_TRUE(poll.waitForFinished(15000));
    const QString out = QString::fromUtf8(poll.readAllStandardOutput());
    EXPECT_EQ(poll.exitCode(), 0) << out.toStdString() << poll.readAllStandardError().toStdString();
    QRegularExpression line(R"(\[(\d+)\]:\s+(-?\d+))");
    std::map<int, int> got;
    for (auto it = line.globalMatch(out); it.hasNext();) {
        auto m = it.next();
        got[m.captured(1).toInt()] = m.captured(2).toInt();
    }
    EXPECT_EQ(got, (std::map<int, int>{{1, 11}, {2, 22}, {3, 33}, {4, 44}, {5, 55}}))
        << out.toStdString();
}

struct ArgsRow {
    const char *Label;
    QStringList Args;
    int ExitCode;
};

class HarnessArguments : public ::testing::TestWithParam<ArgsRow>
{
};

TEST_P(HarnessArguments, BadInvocationEndsWithAReason)
{
    QProcess p;
    p.start(harnessPath(), GetParam().Args);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), GetParam().ExitCode);
    EXPECT_FALSE(p.readAllStandardError().isEmpty());
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty()) << "no ready line";
}

INSTANTIATE_TEST_SUITE_P(
    Table, HarnessArguments,
    ::testing::Values(ArgsRow{"NoDevice", {"--id", "3"}, 2},
                      ArgsRow{"IdZero", {"--id", "0", "/dev/null"}, 2},
                      ArgsRow{"IdTooBig", {"--id", "256", "/dev/null"}, 2},
                      ArgsRow{"UnknownSpeed", {"--baud", "12345", "/dev/null"}, 2},
                      ArgsRow{"UnknownOption", {"--verbose", "/dev/null"}, 2},
                      ArgsRow{"NotATerminal", {"/dev/null"}, 1},
                      ArgsRow{"MissingPort", {"/dev/quorlin-no-such-port"}, 1}),
    [](const auto &info) { return std::string(info.param.Label); });
