// SPDX-License-Identifier: MIT
// The real program with a profile of injected faults, as a libmodbus master
// sees it: which requests time out or fail and how, and how late the replies
// come. Counting starts when the profile is loaded, so the master sends
// nothing before the program holds the port: every request it sends is one
// the program counts.
#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;

namespace
{

// A copied installation whose quorlin.ini names a profile holding Faults.
class FaultyInstallation : public InstalledProgram
{
  public:
    explicit FaultyInstallation(const QString &Faults)
    {
        const QString profile = path(QStringLiteral("faults.QRL"));
        m_written =
            writeAll(profile, ("[Scripts]\nCount=0\n[Faults]\nEnabled=1\n" + Faults).toUtf8()) &&
            writePortIni(profile);
    }
    bool ok() const { return InstalledProgram::ok() && m_written; }

  private:
    bool m_written = false;
};

// The program takes the port for itself (TIOCEXCL) right after opening it;
// the test's own handle on the line sees that without touching the port.
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

void stop(QProcess &Program)
{
    endWithSigterm(Program);
}

struct FaultRow {
    const char *Name;
    const char *Faults;   // keys of the profile's Faults section
    std::string Expected; // per request: '.' answered, 't' time-out, 'c' CRC error,
                          // 's' another slave's reply, 'b' exception 6 (busy)
    int MinMs = 0;        // no answer comes sooner than this after its request
};

class ProgramFaults : public ::testing::TestWithParam<FaultRow>
{
};

TEST_P(ProgramFaults, MasterSeesExactlyTheInjectedFaults)
{
    FaultyInstallation inst(QString::fromLatin1(GetParam().Faults));
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program()));
    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();
    // Long enough for a busy machine; the silent requests each cost this much.
    modbus_set_response_timeout(ctx, 1, 200000);
    ASSERT_TRUE(waitForPortTaken(program, inst.pty()));

    std::string seen;
    for (size_t i = 0; i < GetParam().Expected.size(); ++i) {
        uint16_t regs[4] = {};
        errno = 0;
        // The clock starts before the request is written: the program's
        // whole wait lies inside the measured time.
        const auto sent = std::chrono::steady_clock::now();
        if (modbus_read_registers(ctx, 0, 4, regs) == 4) {
            seen += '.';
            const auto waited = std::chrono::steady_clock::now() - sent;
            EXPECT_GE(waited, std::chrono::milliseconds(GetParam().MinMs)) << "request " << i + 1;
            continue;
        }
        switch (errno) {
        case ETIMEDOUT:
            seen += 't';
            break;
        case EMBBADCRC:
            seen += 'c';
            break;
        case EMBBADSLAVE:
            seen += 's';
            break;
        case EMBXSBUSY:
            seen += 'b';
            break;
        default:
            seen += '?';
        }
        modbus_flush(ctx);
    }
    EXPECT_EQ(seen, GetParam().Expected);
    stop(program);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProgramFaults,
    ::testing::Values(FaultRow{"NoReplyEvery3", "NoReplyEvery=3\n", "..t..t..t"},
                      FaultRow{"BadCrcEvery2", "BadCrcEvery=2\n", ".c.c.c"},
                      FaultRow{"ExceptionEvery2", "ExceptionEvery=2\nExceptionCode=6\n", ".b.b"},
                      FaultRow{"WrongIdEvery2", "WrongIdEvery=2\n", ".s.s"},
                      FaultRow{"DelayMs200", "DelayMs=200\n", ".....", 200},
                      // Faults for another slave leave slave 1 alone.
                      FaultRow{"OtherSlaveOnly", "MBid=2\nNoReplyEvery=1\n", "...."}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
