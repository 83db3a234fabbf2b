// SPDX-License-Identifier: MIT
// The real program, installed as a user installs it (quorlin and scripts.dll
// in one directory with a quorlin.ini mapping COM2 to a pty), answering a
// libmodbus master on all four register families and ending cleanly on
// SIGTERM.
#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;

namespace
{

TEST(Program, AnswersAMasterOnAllFourFamiliesAndEndsCleanlyOnSigterm)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writePortIni());
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";

    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program()));

    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();

    ASSERT_TRUE(waitForFirstAnswer(program, ctx));
    uint16_t regs[16] = {};

    // Coils: write 10 and one at the top of the table, read them back.
    const uint8_t coils[10] = {1, 0, 1, 1, 0, 0, 0, 1, 0, 1};
    EXPECT_EQ(modbus_write_bits(ctx, 0, 10, coils), 10);
    EXPECT_EQ(modbus_write_bit(ctx, 2047, 1), 1);
    uint8_t bits[10] = {};
    ASSERT_EQ(modbus_read_bits(ctx, 0, 10, bits), 10);
    EXPECT_EQ(std::vector<uint8_t>(bits, bits + 10), std::vector<uint8_t>(coils, coils + 10));
    ASSERT_EQ(modbus_read_bits(ctx, 2047, 1, bits), 1);
    EXPECT_EQ(bits[0], 1);

    // Discrete inputs start at 0.
    uint8_t inputs[32];
    std::fill(std::begin(inputs), std::end(inputs), 9);
    ASSERT_EQ(modbus_read_input_bits(ctx, 0, 32, inputs), 32);
    EXPECT_EQ(std::count(std::begin(inputs), std::end(inputs), 0), 32);

    // Holding registers: write several and one, read them back.
    const uint16_t values[5] = {1, 255, 4660, 65535, 0};
    EXPECT_EQ(modbus_write_registers(ctx, 0, 5, values), 5);
    EXPECT_EQ(modbus_write_register(ctx, 255, 40000), 1);
    ASSERT_EQ(modbus_read_registers(ctx, 0, 5, regs), 5);
    EXPECT_EQ(std::vector<uint16_t>(regs, regs + 5), std::vector<uint16_t>(values, values + 5));
    ASSERT_EQ(modbus_read_registers(ctx, 255, 1, regs), 1);
    EXPECT_EQ(regs[0], 40000);

    // Input registers start at 0.
    std::fill(std::begin(regs), std::end(regs), 7);
    ASSERT_EQ(modbus_read_input_registers(ctx, 0, 16, regs), 16);
    EXPECT_EQ(std::count(std::begin(regs), std::end(regs), 0), 16);

    // Beyond the table: exception 2.
    EXPECT_EQ(modbus_read_registers(ctx, 256, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);

    EXPECT_EQ(endWithSigterm(program), 0);

    // The port is free for the next program.
    const int fd = ::open(inst.pty().path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST(Program, WithoutAnyDisplayRunsWindowlessAndStillAnswers)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writePortIni());
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    program.setProcessEnvironment(env);
    program.start(inst.program(), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    MasterContext master(inst.pty().master());
    EXPECT_TRUE(waitForFirstAnswer(program, master.get()));

    EXPECT_EQ(endWithSigterm(program), 0);
    EXPECT_TRUE(program.readAllStandardError().contains("no display"));
}

// A scripts.dll that is missing or no library: one line on stderr says why.
struct LibraryRow {
    const char *name;
    const char *contents; // null: no scripts.dll at all
    const char *reason;
};

class ProgramLibrary : public ::testing::TestWithParam<LibraryRow>
{
};

TEST_P(ProgramLibrary, SaysOnceOnStderrWhyNoScriptsAreOffered)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writePortIni());
    ASSERT_TRUE(inst.ok() && QFile::remove(inst.path(QStringLiteral("scripts.dll"))));
    if (GetParam().contents) {
        ASSERT_TRUE(writeAll(inst.path(QStringLiteral("scripts.dll")), GetParam().contents));
    }
    QProcess program; // standard error kept apart
    ASSERT_TRUE(startOffscreen(program, inst.program(), {}, false));
    MasterContext master(inst.pty().master());
    EXPECT_TRUE(waitForFirstAnswer(program, master.get()));
    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(20000));

    const QByteArray said = program.readAllStandardError();
    EXPECT_EQ(said.count("scripts.dll"), 1) << said.toStdString();
    EXPECT_TRUE(said.contains(GetParam().reason)) << said.toStdString();
    EXPECT_TRUE(said.contains("; no scripts are offered\n")) << said.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProgramLibrary,
    ::testing::Values(LibraryRow{"Missing", nullptr, "No such file or directory"},
                      LibraryRow{"NotALibrary", "MZ this is no shared object\n", "cannot open"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
