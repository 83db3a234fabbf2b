// SPDX-License-Identifier: MIT
// The real program with the fault kinds that change how a reply travels, seen
// byte for byte by a raw master on the serial line, and its network faults
// seen by libmodbus's TCP client as the errors they cause; the trace names
// each one.
#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <modbus/modbus.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#include "tests/engine/fakes.h"
#include "tests/net/netclient.h"
#include "tests/ui/installedprogram.h"

namespace quorlin::testing
{
namespace
{

using quorlin::test::Bytes;
using quorlin::test::hex;
using quorlin::test::toHex;

// A copied installation whose profile holds Faults, traced to trace.csv.
class KindsInstallation : public InstalledProgram
{
  public:
    explicit KindsInstallation(const char *Faults)
    {
        const QString profile = path(QStringLiteral("kinds.QRL"));
        m_written =
            writeAll(profile, QByteArray("[Scripts]\nCount=0\n[Faults]\nEnabled=1\n") + Faults) &&
            writePortIni(profile);
    }
    bool ok() const { return InstalledProgram::ok() && m_written; }
    QString trace() const { return path(QStringLiteral("trace.csv")); }
    bool start(QProcess &Program, QStringList Args = {})
    {
        Args << QStringLiteral("--trace") << trace();
        return startOffscreen(Program, program(), Args);
    }

  private:
    bool m_written = false;
};

bool waitForPortTaken(const QProcess &Program, const PtyPair &Pty)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && Program.state() == QProcess::Running) {
        int exclusive = 0;
        if (::ioctl(Pty.slave(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// What the master's end of the line receives until Quiet ms pass without a
// byte (or 10 s in all).
Bytes readUntilQuiet(int Fd, int QuietMs)
{
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{Fd, POLLIN, 0};
        if (::poll(&p, 1, QuietMs) <= 0)
            break;
        uint8_t buf[512];
        const ssize_t n = ::read(Fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

// Whether the trace names Text within 5 s (it is flushed within 100 ms).
bool traceSays(const QString &Trace, const char *Text)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        if (readAll(Trace).contains(Text))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Read holding registers 1-2 of slave 1, all zero, and the reply (its CRC
// from a bit-wise CRC of another hand).
const Bytes ReadTwo = hex("01 03 00 00 00 02 C4 0B");
const std::string Reply = "01 03 04 00 00 00 00 FA 33";

struct SerialRow {
    const char *Name;
    const char *Faults;
    int Noise;            // bytes of noise before Expected
    std::string Expected; // after the noise, to the first silence
    const char *Traced;   // what the trace says of it
};

class ProgramFaultKinds : public ::testing::TestWithParam<SerialRow>
{
};

TEST_P(ProgramFaultKinds, MasterReadsExactlyTheseBytes)
{
    const SerialRow &row = GetParam();
    KindsInstallation inst(row.Faults);
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
    QProcess program;
    ASSERT_TRUE(inst.start(program));
    ASSERT_TRUE(waitForPortTaken(program, inst.pty()));
    const int master = inst.pty().master();
    // The program may still be settling the line: the first request may need asking again.
    Bytes got;
    for (int attempt = 0; attempt < 20 && got.empty(); ++attempt) {
        ASSERT_EQ(::write(master, ReadTwo.data(), ReadTwo.size()), ssize_t(ReadTwo.size()));
        got = readUntilQuiet(master, 300);
    }
    ASSERT_EQ(got.size(), size_t(row.Noise) + hex(row.Expected).size()) << toHex(got);
    EXPECT_EQ(toHex(Bytes(got.begin() + row.Noise, got.end())), row.Expected);
    EXPECT_TRUE(traceSays(inst.trace(), row.Traced));
    endWithSigterm(program);
}

INSTANTIATE_TEST_SUITE_P(Faults, ProgramFaultKinds,
                         ::testing::Values(SerialRow{"Noise", "NoiseEvery=1\nNoiseBytes=5\n", 5,
                                                     Reply, "noise (injected)"},
                                           SerialRow{"Truncated",
                                                     "TruncateEvery=1\nTruncateBytes=3\n", 0,
                                                     "01 03 04", "truncated (injected)"},
                                           SerialRow{"Duplicated", "DuplicatePercent=100\n", 0,
                                                     Reply + " " + Reply, "duplicated (injected)"},
                                           // A pty has no parity bit: the bytes arrive as they are.
                                           SerialRow{"WrongParity", "WrongParityEvery=1\n", 0,
                                                     Reply, "wrong parity (injected)"}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ProgramFaultKinds, UnsolicitedRepliesComeUnasked)
{
    KindsInstallation inst("UnsolicitedMs=150\n");
    ASSERT_TRUE(inst.ok());
    QProcess program;
    ASSERT_TRUE(inst.start(program));
    ASSERT_TRUE(waitForPortTaken(program, inst.pty()));
    // Slave 1's answer to a read of 4x0001 (0), three times in about half a
    // second, with no request at all.
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < 21 && std::chrono::steady_clock::now() < end) {
        const Bytes more = readUntilQuiet(inst.pty().master(), 1000);
        got.insert(got.end(), more.begin(), more.end());
    }
    ASSERT_GE(got.size(), 21u);
    const std::string one = "01 03 02 00 00 B8 44";
    EXPECT_EQ(toHex(Bytes(got.begin(), got.begin() + 21)), one + " " + one + " " + one);
    EXPECT_TRUE(traceSays(inst.trace(), "unsolicited (injected)"));
    endWithSigterm(program);
}

// ---- the network ----

struct TcpRow {
    const char *Name;
    const char *Faults;
    int Good;           // requests answered before the failing one
    int IdleMs;         // silence before the failing request
    int Errno;          // what libmodbus says of it; 0: it takes the reply
    const char *Traced; // in the trace; "" when the fault is no request's
};

class ProgramConnectionFaults : public ::testing::TestWithParam<TcpRow>
{
};

TEST_P(ProgramConnectionFaults, LibmodbusClientSeesTheError)
{
    const TcpRow &row = GetParam();
    KindsInstallation inst(row.Faults);
    ASSERT_TRUE(inst.ok());
    const int port = freeLoopbackPort();
    QProcess program;
    ASSERT_TRUE(inst.start(program, {QStringLiteral("--no-serial"), QStringLiteral("--listen"),
                                     QString::number(port)}));
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 1, 0);
    bool connected = false;
    for (int i = 0; i < 300 && !connected; ++i) {
        connected = modbus_connect(ctx) == 0;
        if (!connected)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(connected);
    uint16_t regs[2];
    for (int i = 0; i < row.Good; ++i)
        ASSERT_EQ(modbus_read_registers(ctx, 0, 2, regs), 2) << modbus_strerror(errno);
    std::this_thread::sleep_for(std::chrono::milliseconds(row.IdleMs));
    errno = 0;
    if (row.Errno != 0) {
        EXPECT_EQ(modbus_read_registers(ctx, 0, 2, regs), -1);
        EXPECT_EQ(errno, row.Errno) << modbus_strerror(errno);
    } else {
        // libmodbus reads a reply by its function's own length, not the
        // header's: the raw bytes show what a master trusting the header meets.
        EXPECT_EQ(modbus_read_registers(ctx, 0, 2, regs), 2) << modbus_strerror(errno);
        quorlin::test::RawClient raw(port);
        ASSERT_TRUE(raw.Connected());
        ASSERT_TRUE(raw.Send(hex("00 07 00 00 00 06 01 03 00 00 00 02")));
        // The header counts 8 bytes after it; 7 follow, and no more.
        EXPECT_EQ(toHex(raw.Read(13)), "00 07 00 00 00 08 01 03 04 00 00 00 00");
        EXPECT_TRUE(raw.Read(1, 300).empty());
    }
    if (*row.Traced != '\0')
        EXPECT_TRUE(traceSays(inst.trace(), row.Traced));
    modbus_close(ctx);
    modbus_free(ctx);
    endWithSigterm(program);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProgramConnectionFaults,
    ::testing::Values(
        TcpRow{"ResetMidReply", "ResetEvery=2\n", 1, 0, ECONNRESET, "reset (injected)"},
        TcpRow{"CloseAfterTwo", "CloseAfterRequests=2\n", 2, 0, ECONNRESET,
               "then the connection closed (injected)"},
        TcpRow{"IdleClose", "IdleCloseSeconds=1\n", 1, 1600, ECONNRESET, ""},
        TcpRow{"WrongTransactionId", "WrongTidEvery=1\n", 0, 0, EMBBADDATA,
               "wrong transaction id (injected)"},
        TcpRow{"LengthBeyondThePdu", "BadLengthEvery=1\n", 0, 0, 0, "bad length (injected)"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace quorlin::testing
