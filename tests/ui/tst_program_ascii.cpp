// SPDX-License-Identifier: MIT
// The real program with a profile in Modbus ASCII at 7 data bits, against a
// master nobody here wrote: pymodbus's ASCII framer, run by the system's
// python3 on the master side of the program's pty (tests/ui/ascii_master.py).
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;

extern char **environ;

namespace
{

bool waitForPortTaken(const QProcess &Program, const PtyPair &Pty)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && Program.state() == QProcess::Running) {
        int exclusive = 0;
        if (::ioctl(Pty.slave(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
            return true;
        ::usleep(10000);
    }
    return false;
}

// Runs the master script with the pty's master side as its descriptor 3:
// its exit status, or -1 when it could not be run.
int runMaster(int MasterFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, MasterFd, 3);
    const char *argv[] = {QUORLIN_PYTHON, "-I", QUORLIN_ASCII_MASTER, nullptr};
    pid_t pid = 0;
    const int rc =
        ::posix_spawn(&pid, QUORLIN_PYTHON, &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(ProgramAscii, PymodbusMasterGetsExactReplies)
{
    if (::access(QUORLIN_PYTHON, X_OK) != 0)
        GTEST_SKIP() << "no python3";
    InstalledProgram inst;
    const QString profile = inst.path(QStringLiteral("ascii.QRL"));
    // COM2, 9600 bps, 7 data bits, even parity, 1 stop bit, no handshaking.
    ASSERT_TRUE(writeAll(profile, "[SerialSettings]\nMBid=1\nSerialPort=2\nBaudRate=5\n"
                                  "DataBits=3\nStopBits=0\nParity=0\nHandshaking=3\n"
                                  "Mode=ASCII\n[Scripts]\nCount=0\n"));
    ASSERT_TRUE(inst.writePortIni(profile));
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program()));
    ASSERT_TRUE(waitForPortTaken(program, inst.pty()));

    const int rc = runMaster(inst.pty().master());
    if (rc == 77)
        GTEST_SKIP() << "pymodbus is not installed (python3-pymodbus)";
    EXPECT_EQ(rc, 0) << "the master's complaints are above";
    EXPECT_EQ(endWithSigterm(program), 0);
}

} // namespace
