// SPDX-License-Identifier: MIT
// The real program started with --values: a test rig's device state is there
// when a libmodbus master first asks, and a bad file ends the program with
// the reason before the port opens.
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
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

// Starts that fail on their arguments change nothing: the status is 2 with
// the reason, no file named on the line is emptied or rewritten, quorlin.ini
// stays as it was and the port is never opened.
struct RefusedStart {
    const char *Name;
    QStringList Args;  // %d stands for the program's folder
    const char *Ini;   // quorlin.ini after [Ports]; %d as above
    const char *Reason; // on stderr, %d as above
};

class ProgramStartRefused : public ::testing::TestWithParam<RefusedStart>
{
};

TEST_P(ProgramStartRefused, ChangesNothing)
{
    const RefusedStart &row = GetParam();
    InstalledProgram inst;
    ASSERT_TRUE(inst.ok());
    const QString dir = QFileInfo(inst.iniPath()).absolutePath();
    auto fill = [&dir](QString Text) { return Text.replace(QStringLiteral("%d"), dir); };
    const QByteArray ini = QStringLiteral("[Ports]\nCOM2=%1\n").arg(inst.ptyPath()).toUtf8() +
                           fill(QString::fromUtf8(row.Ini)).toUtf8();
    ASSERT_TRUE(inst.writeIni(ini));
    // Every file a row may name, each with content of its own.
    const std::map<QString, QByteArray> files = {
        {QStringLiteral("old.csv"), "a trace of yesterday\n"},
        {QStringLiteral("good.csv"), "slave,register,value\n1,4x0001,5\n"},
        {QStringLiteral("bad.csv"), "slave,register,value\n1,5x0001,5\n"},
        {QStringLiteral("plant.QRL"), "[SerialSettings]\nSerialPort=1\nBaudRate=5\n"},
        {QStringLiteral("picture.gif"), QByteArray("GIF89a\x01\x00\x01\x00\x00\xff", 12)},
    };
    for (const auto &[name, text] : files)
        ASSERT_TRUE(writeAll(inst.path(name), text));
    ASSERT_TRUE(QDir(dir).mkdir(QStringLiteral("folder.QRL")));
    QStringList args;
    for (const QString &a : row.Args)
        args << fill(a);

    setSpeed1200(inst.pty());
    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program(), args, false));
    ASSERT_TRUE(program.waitForFinished(20000)) << "the program ran";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_TRUE(err.contains(fill(QString::fromUtf8(row.Reason)))) << err.toStdString();
    for (const auto &[name, text] : files)
        EXPECT_EQ(readAll(inst.path(name)), text) << name.toStdString() << " was changed";
    EXPECT_EQ(readAll(inst.iniPath()), ini) << "quorlin.ini was rewritten";
    EXPECT_EQ(speed(inst.pty()), speed_t(B1200)) << "the port was opened";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramStartRefused,
    ::testing::Values(
        RefusedStart{"ProfileIsNoProfile", {"%d/picture.gif"}, "",
                     "'%d/picture.gif' is not a Quorlin profile"},
        RefusedStart{"ProfileIsAFolder", {"%d/folder.QRL"}, "",
                     "'%d/folder.QRL' is a folder, not a Quorlin profile"},
        RefusedStart{"BadValuesKeepTheOldTrace",
                     {"--trace", "%d/old.csv", "--values", "%d/bad.csv"}, "",
                     "line 2: 5x0001 is not a register"},
        RefusedStart{"TraceOntoTheValuesFile",
                     {"--values", "%d/good.csv", "--trace", "%d/good.csv"}, "",
                     "the trace file '%d/good.csv' is the values file"},
        RefusedStart{"TraceOntoTheProfile", {"--trace=%d/plant.QRL", "%d/plant.QRL"}, "",
                     "the trace file '%d/plant.QRL' is the profile"},
        RefusedStart{"TraceOntoTheSettingsFile", {"--trace", "%d/quorlin.ini"}, "",
                     "the trace file '%d/quorlin.ini' is the settings file"},
        RefusedStart{"TraceOntoTheLastProfile", {"--trace", "%d/plant.QRL"},
                     "[General]\nCurrentProfile=%d/plant.QRL\n",
                     "the trace file '%d/plant.QRL' is the profile"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
