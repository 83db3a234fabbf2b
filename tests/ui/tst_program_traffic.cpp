// SPDX-License-Identifier: MIT
// The real program's command line: --help, --version, a wrong option, a
// profile named on the line, and --trace, which must log the known sequence
// of a master line by line while the program runs without a display.
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "tests/ui/installedprogram.h"
#include "tests/ui/knownsequence.h"

using namespace quorlin::testing;

namespace
{

struct RunResult {
    int Code = -1;
    QByteArray Out, Err;
};

RunResult runToEnd(const QString &Program, const QStringList &Args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(Program, Args);
    RunResult r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput();
    r.Err = p.readAllStandardError();
    return r;
}

TEST(ProgramCommandLine, HelpVersionAndWrongOptionsEndAtOnce)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.ok()) << "quorlin must be built first";
    struct Row {
        QStringList Args;
        int Code;
        const char *Out; // start of standard output
        const char *Err; // found in standard error
    };
    const Row rows[] = {
        {{"--help"}, 0, "Usage: ", ""},
        {{"--version"}, 0, "Quorlin 1.0\n", ""},
        {{"plant.QRL", "--help"}, 0, "Usage: ", ""},
        {{"--bogus"}, 2, "", "unknown option '--bogus'"},
        {{"--trace"}, 2, "", "needs a file name"},
        {{"a.QRL", "b.QRL"}, 2, "", "more than one profile"},
    };
    for (const Row &r : rows) {
        const RunResult got = runToEnd(inst.program(), r.Args);
        const std::string args = r.Args.join(' ').toStdString();
        EXPECT_EQ(got.Code, r.Code) << args;
        EXPECT_TRUE(got.Out.startsWith(r.Out)) << args << ": " << got.Out.toStdString();
        EXPECT_TRUE(got.Err.contains(r.Err)) << args << ": " << got.Err.toStdString();
        if (r.Code == 2) {
            EXPECT_TRUE(got.Err.contains("Usage: ")) << args; // the usage goes to stderr
        }
    }
    // A trace file that cannot be created is reported before anything runs.
    const RunResult bad =
        runToEnd(inst.program(), {"--trace", inst.path(QStringLiteral("no-dir/t.csv"))});
    EXPECT_EQ(bad.Code, 1);
    EXPECT_TRUE(bad.Err.contains("cannot write the trace file")) << bad.Err.toStdString();
}

// The lines of the trace file, without their CRLF.
QStringList traceLines(const QString &Path)
{
    QStringList lines;
    for (const QByteArray &l : readAll(Path).split('\n'))
        if (!l.isEmpty())
            lines << QString::fromLatin1(l.endsWith('\r') ? l.chopped(1) : l);
    return lines;
}

bool waitForTrace(const QString &Path, const std::function<bool(const QStringList &)> &Done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Done(traceLines(Path)))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool waitForLines(const QString &Path, int Count)
{
    return waitForTrace(Path, [Count](const QStringList &Lines) { return Lines.size() >= Count; });
}

TEST(ProgramTrace, KnownSequenceIsLoggedLineByLine)
{
    InstalledProgram inst;
    const QString profile = inst.path(QStringLiteral("plain.QRL"));
    // The profile named on the command line, not the one quorlin.ini names.
    ASSERT_TRUE(writeAll(profile, "[SerialSettings]\nMBid=1\n"));
    ASSERT_TRUE(inst.writePortIni(inst.path(QStringLiteral("other.QRL"))));
    ASSERT_TRUE(writeAll(inst.path(QStringLiteral("other.QRL")), "[SerialSettings]\nMBid=9\n"));
    ASSERT_TRUE(inst.ok()) << "quorlin must be built first";
    const QString trace = inst.path(QStringLiteral("trace.csv"));

    // No display at all: the trace is what an automated test reads.
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(inst.path(QString()));
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(inst.program(), {QStringLiteral("--trace"), trace, QStringLiteral("plain.QRL")});
    ASSERT_TRUE(program.waitForStarted(10000));

    MasterContext master(inst.pty().master());
    modbus_t *ctx = master.get();
    ASSERT_TRUE(waitForFirstAnswer(program, ctx)); // slave 1: plain.QRL was opened
    // Whatever the start-up left ends with the reply to the first answer;
    // the sequence starts after it.
    ASSERT_TRUE(waitForTrace(trace, [](const QStringList &Lines) {
        return Lines.size() >= 3 && Lines.last().contains(QStringLiteral(",TX,1,3,0,2,reply,"));
    }));
    const int before = int(traceLines(trace).size());
    ASSERT_EQ(traceLines(trace).value(0),
              QStringLiteral("time,direction,slave,function,address,quantity,result,bytes,line,"
                             "gap_us,turnaround_us"));

    int expected = before;
    const std::vector<SequenceStep> steps = knownSequence();
    for (const SequenceStep &step : steps) {
        if (step.Request) {
            const int rc = step.Request(ctx);
            if (std::string(step.Name) == "Exception2") {
                EXPECT_EQ(rc, -1) << step.Name;
            } else {
                EXPECT_GE(rc, 0) << step.Name;
            }
        } else {
            const quorlin::test::Bytes b = rawBytes(step);
            ASSERT_EQ(::write(inst.pty().master(), b.data(), b.size()), ssize_t(b.size()));
        }
        // Each step's rows are in the file before the next step starts, so no
        // two frames ever share a read.
        expected += int(step.Rows.size());
        ASSERT_TRUE(waitForLines(trace, expected)) << step.Name;
    }

    EXPECT_EQ(endWithSigterm(program), 0);

    const QStringList lines = traceLines(trace);
    ASSERT_EQ(lines.size(), expected);
    const QRegularExpression time(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6},)"));
    int at = before;
    for (const SequenceStep &step : steps) {
        for (const std::string &want : step.Rows) {
            const QString line = lines.value(at++);
            ASSERT_TRUE(time.match(line).hasMatch()) << step.Name << ": " << line.toStdString();
            // The line column names the port the program was given; the
            // timing columns follow it.
            EXPECT_FALSE(line.section(QLatin1Char(','), -3, -3).isEmpty()) << line.toStdString();
            const std::string row = line.section(QLatin1Char(','), 1, -4).toStdString();
            EXPECT_TRUE(rowMatches(row, want))
                << step.Name << "\n  got:  " << row << "\n  want: " << want;
        }
    }
    // The profile of the command line is the last one used now.
    EXPECT_TRUE(readAll(inst.iniPath()).contains("CurrentProfile=" + profile.toUtf8()))
        << readAll(inst.iniPath()).toStdString();
}

TEST(ProgramTrace, DashSendsTheTraceToStandardOutput)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writePortIni());
    ASSERT_TRUE(inst.ok()) << "quorlin must be built first";
    QProcess program; // standard output read below
    ASSERT_TRUE(startOffscreen(program, inst.program(),
                               {QStringLiteral("--trace"), QStringLiteral("-")}, false));
    MasterContext master(inst.pty().master());
    ASSERT_TRUE(waitForFirstAnswer(program, master.get()));
    // The reply's row reaches the pipe within a tick, while the program runs.
    QByteArray out;
    const QByteArray reply = ",TX,1,3,0,2,reply,";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!out.contains(reply) && std::chrono::steady_clock::now() < deadline &&
           program.waitForReadyRead(500))
        out += program.readAllStandardOutput();
    EXPECT_TRUE(out.startsWith("time,direction,slave,function,address,quantity,result,bytes,line,"
                               "gap_us,turnaround_us\r\n"))
        << out.toStdString();
    EXPECT_TRUE(out.contains(reply)) << out.toStdString();
    EXPECT_EQ(endWithSigterm(program), 0);
}

// A reader that stops reading (a full pipe) must cost trace rows, not the
// window: the tick goes on and SIGTERM still ends the program with
// quorlin.ini written.
TEST(ProgramTrace, AReaderThatStopsReadingStopsNothingElse)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writePortIni());
    ASSERT_TRUE(inst.ok()) << "quorlin must be built first";
    // Standard output is a FIFO this test holds open and never reads.
    const QString fifo = inst.path(QStringLiteral("stalled"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int held = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(held, 0);
    QProcess program;
    program.setStandardOutputFile(fifo);
    ASSERT_TRUE(startOffscreen(program, inst.program(),
                               {QStringLiteral("--trace"), QStringLiteral("-")}, false));
    MasterContext master(inst.pty().master());
    ASSERT_TRUE(waitForFirstAnswer(program, master.get()));
    // Long replies fill the pipe's 64 KB in a few hundred requests.
    uint16_t regs[125];
    pollfd room = {held, POLLOUT, 0};
    for (int i = 0; i < 3000 && ::poll(&room, 1, 0) == 1; ++i)
        modbus_read_registers(master.get(), 0, 125, regs);
    // The program writes the rows of the last requests within a tick or two.
    for (int i = 0; i < 50 && ::poll(&room, 1, 0) == 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(::poll(&room, 1, 0), 0) << "the pipe never filled";
    // Still served while the trace waits: the line never waited for it.
    EXPECT_EQ(modbus_read_registers(master.get(), 0, 125, regs), 125);
    EXPECT_EQ(endWithSigterm(program), 0);
    EXPECT_TRUE(readAll(inst.iniPath()).contains("CurrentProfile="))
        << readAll(inst.iniPath()).toStdString();
    ::close(held);
}

} // namespace
