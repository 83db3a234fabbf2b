// SPDX-License-Identifier: MIT
// The real program started with --values: a test rig's device state is there
// when a libmodbus master first asks, and a bad file ends the program with
// the reason before the port opens.
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <termios.h>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;

namespace
{

// The program sets the line's speed when it opens the port (and never puts
// it back): a pty left at 1200 bps tells that it was not opened.
void setSpeed1200(const PtyPair &Pty)
{
    termios t{};
    ::tcgetattr(Pty.slave(), &t);
    ::cfsetispeed(&t, B1200);
    ::cfsetospeed(&t, B1200);
    ::tcsetattr(Pty.slave(), TCSANOW, &t);
}

speed_t speed(const PtyPair &Pty)
{
    termios t{};
    ::tcgetattr(Pty.slave(), &t);
    return ::cfgetospeed(&t);
}

TEST(ProgramValues, PreloadedValuesAreWhatAMasterReads)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writePortIni());
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
    const QString values = inst.path(QStringLiteral("device.csv"));
    ASSERT_TRUE(writeAll(values, "slave,register,value\r\n"
                                 "1,4x0001,1234\r\n"
                                 "1,4x0100,0x42F6\r\n" // 123.456 as float, AB CD
                                 "1,4x0101,0xE979\r\n"
                                 "1,3x0005,-2\r\n"
                                 "1,0x0017,1\r\n"
                                 "1,1x2048,1\r\n"));

    setSpeed1200(inst.pty());
    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program(), {QStringLiteral("--values"), values}));
    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();
    ASSERT_TRUE(waitForFirstAnswer(program, ctx));
    EXPECT_EQ(speed(inst.pty()), speed_t(B9600)) << "the open port has its profile's speed";

    // The values are queued like the user's changes: stored at the first tick.
    uint16_t regs[2] = {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (regs[0] != 1234 && std::chrono::steady_clock::now() < deadline)
        ASSERT_EQ(modbus_read_registers(ctx, 0, 1, regs), 1);
    EXPECT_EQ(regs[0], 1234);
    ASSERT_EQ(modbus_read_registers(ctx, 99, 2, regs), 2);
    EXPECT_FLOAT_EQ(modbus_get_float_abcd(regs), 123.456f); // libmodbus's own decoding
    ASSERT_EQ(modbus_read_input_registers(ctx, 4, 1, regs), 1);
    EXPECT_EQ(regs[0], 0xFFFE);
    uint8_t bits[1] = {};
    ASSERT_EQ(modbus_read_bits(ctx, 16, 1, bits), 1);
    EXPECT_EQ(bits[0], 1);
    ASSERT_EQ(modbus_read_input_bits(ctx, 2047, 1, bits), 1);
    EXPECT_EQ(bits[0], 1);

    EXPECT_EQ(endWithSigterm(program), 0);
}

struct BadStart {
    const char *Name;
    QByteArray File;  // empty: no file given
    QStringList Args; // %1 stands for the file's path
    QString Reason;   // on stderr
};

class ProgramValuesRefused : public ::testing::TestWithParam<BadStart>
{
};

TEST_P(ProgramValuesRefused, EndsWithStatusTwoAndTheReasonBeforeThePortOpens)
{
    const BadStart &row = GetParam();
    InstalledProgram inst;
    ASSERT_TRUE(inst.writePortIni());
    ASSERT_TRUE(inst.ok());
    const QString file = inst.path(QStringLiteral("device.csv"));
    if (!row.File.isEmpty()) {
        ASSERT_TRUE(writeAll(file, row.File));
    }
    QStringList args;
    for (const QString &a : row.Args)
        args << QString(a).replace(QStringLiteral("%1"), file);

    setSpeed1200(inst.pty());
    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program(), args, false));
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_TRUE(err.contains(QString(row.Reason).replace(QStringLiteral("%1"), file)))
        << err.toStdString();
    EXPECT_EQ(speed(inst.pty()), speed_t(B1200)) << "the port was opened";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramValuesRefused,
    ::testing::Values(BadStart{"NotARegister",
                               "slave,register,value\n1,4x0001,5\n1,5x0001,1\n",
                               {"--values", "%1"},
                               "%1: line 3: 5x0001 is not a register"},
                      BadStart{"SlaveNotEmulated",
                               "slave,register,value\n2,4x0001,5\n",
                               {"--values=%1"},
                               "%1: line 2: slave 2 is not emulated"},
                      BadStart{"NoSuchFile", "", {"--values", "%1"}, "Unable to read %1"},
                      BadStart{
                          "NoFileName", "", {"--values"}, "option '--values' needs a file name"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
