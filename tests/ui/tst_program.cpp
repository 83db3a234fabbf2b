// SPDX-License-Identifier: MIT
// The real program, installed as a user installs it (quorlin and scripts.dll
// in one directory with a quorlin.ini mapping COM2 to a pty), answering a
// libmodbus master on all four register families and ending cleanly on
// SIGTERM.
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
    ASSERT_TRUE(inst.writeIni(QStringLiteral("[Ports]\nCOM2=%1\n").arg(inst.ptyPath()).toUtf8()));
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

    ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    // The port is free for the next program.
    const int fd = ::open(inst.pty().path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST(Program, WithoutAnyDisplayRunsWindowlessAndStillAnswers)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writeIni(QStringLiteral("[Ports]\nCOM2=%1\n").arg(inst.ptyPath()).toUtf8()));
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

    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(program.readAllStandardError().contains("no display"));
}

// Starts the installed program headless with its standard error kept apart.
bool startKeepingStderr(QProcess &Program, const QString &Path)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Program.setProcessEnvironment(env);
    Program.setProcessChannelMode(QProcess::SeparateChannels);
    Program.start(Path, {});
    return Program.waitForStarted(10000);
}

// The program with a scripts.dll that is missing or no library says once,
// at start, why no scripts are offered, and runs on without them.
struct LibraryRow {
    const char *name;
    const char *contents; // null: no scripts.dll at all
    const char *reason;
};

class ProgramLibrary : public ::testing::TestWithParam<LibraryRow>
{
};

TEST_P(ProgramLibrary, SaysOnStderrWhyNoScriptsAreOffered)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writeIni(QStringLiteral("[Ports]\nCOM2=%1\n").arg(inst.ptyPath()).toUtf8()));
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
    const QString library = inst.path(QStringLiteral("scripts.dll"));
    ASSERT_TRUE(QFile::remove(library));
    if (GetParam().contents) {
        ASSERT_TRUE(writeAll(library, GetParam().contents));
    }

    QProcess program;
    ASSERT_TRUE(startKeepingStderr(program, inst.program()));
    MasterContext master(inst.pty().master());
    EXPECT_TRUE(waitForFirstAnswer(program, master.get()));
    ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitCode(), 0);

    const QList<QByteArray> lines = program.readAllStandardError().split('\n');
    const auto said = std::count_if(lines.begin(), lines.end(), [](const QByteArray &l) {
        return l.startsWith("quorlin: ") && l.contains("scripts.dll");
    });
    EXPECT_EQ(said, 1);
    const auto line = std::find_if(lines.begin(), lines.end(),
                                   [](const QByteArray &l) { return l.contains("scripts.dll"); });
    ASSERT_NE(line, lines.end());
    EXPECT_TRUE(line->contains(GetParam().reason)) << line->toStdString();
    EXPECT_TRUE(line->contains("no scripts are offered")) << line->toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProgramLibrary,
    ::testing::Values(LibraryRow{"Missing", nullptr, "No such file or directory"},
                      LibraryRow{"NotALibrary", "MZ this is no shared object\n", "cannot open"}),
    [](const auto &info) { return std::string(info.param.name); });

// A library listing scripts named after C library functions: a binding of
// "exit" with Param1 = 42 must not end the program with status 42, and
// "abort" must not abort it. Both write 0; the library's own script runs.
TEST(Program, ScriptNamesReachOnlyTheLibrarysOwnFunctions)
{
    InstalledProgram inst;
    const QString profile = inst.path(QStringLiteral("foreign.QRL"));
    ASSERT_TRUE(inst.writeIni(QStringLiteral("[General]\nCurrentProfile=%1\n[Ports]\nCOM2=%2\n")
                                  .arg(profile, inst.ptyPath())
                                  .toUtf8()));
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
    const QString library = inst.path(QStringLiteral("scripts.dll"));
    ASSERT_TRUE(QFile::remove(library));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUORLIN_FOREIGN_LIB), library));
    ASSERT_TRUE(writeAll(profile, "[Scripts]\nCount=3\n"
                                  "[Script1]\nName=exit\nRegType=4\nRegAdr=1\nParam1=42\n"
                                  "[Script2]\nName=abort\nRegType=4\nRegAdr=2\n"
                                  "[Script3]\nName=Own\nRegType=4\nRegAdr=3\nParam1=41\n"));

    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program()));
    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();
    ASSERT_TRUE(waitForFirstAnswer(program, ctx));
    // Writes 7 into all three; a tick puts the scripts' results back.
    const uint16_t sevens[3] = {7, 7, 7};
    ASSERT_EQ(modbus_write_registers(ctx, 0, 3, sevens), 3);
    uint16_t regs[3] = {7, 7, 7};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (regs[2] != 42 && std::chrono::steady_clock::now() < deadline &&
           program.state() == QProcess::Running) {
        if (modbus_read_registers(ctx, 0, 3, regs) != 3)
            modbus_flush(ctx);
    }
    ASSERT_EQ(program.state(), QProcess::Running) << "ended with status " << program.exitCode();
    EXPECT_EQ(regs[0], 0);
    EXPECT_EQ(regs[1], 0);
    EXPECT_EQ(regs[2], 42);

    ASSERT_EQ(::kill(pid_t(program.processId()), SIGTERM), 0);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(readAll(inst.iniPath()).contains("CurrentProfile=" + profile.toUtf8()));
}

} // namespace
