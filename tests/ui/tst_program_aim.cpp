// SPDX-License-Identifier: MIT
// Aimed faults in the real program, as masters from another hand see them:
// faults limited to functions and registers, two slaves with sections of
// their own, a slave taken off the line on the serial port, Modbus TCP and
// RTU over TCP, and "fail next" orders given through the HTTP API.
#include <QProcess>

#include <gtest/gtest.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include "engine/crc16.h"
#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;
using json = nlohmann::json;

namespace
{

// The program takes the port for itself (TIOCEXCL) right after opening it.
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

// One request by letter, its fate as a letter: 'a' reads 4x0001, 'b' reads
// 4x0141..4x0160, 'i' reads 3x0001, 'w' writes 4x0001; upper case: the same
// to slave 2. '.' answered, 't' timed out, 'b' exception 6 (busy), '?' else.
char ask(modbus_t *Ctx, char Letter)
{
    modbus_set_slave(Ctx, Letter >= 'A' && Letter <= 'Z' ? 2 : 1);
    uint16_t regs[20] = {};
    errno = 0;
    int n = -1;
    switch (Letter | 0x20) {
    case 'a':
        n = modbus_read_registers(Ctx, 0, 1, regs) == 1 ? 1 : -1;
        break;
    case 'b':
        n = modbus_read_registers(Ctx, 140, 20, regs) == 20 ? 1 : -1;
        break;
    case 'i':
        n = modbus_read_input_registers(Ctx, 0, 1, regs) == 1 ? 1 : -1;
        break;
    default:
        n = modbus_write_register(Ctx, 0, 5) == 1 ? 1 : -1;
        break;
    }
    if (n == 1)
        return '.';
    const char seen = errno == ETIMEDOUT ? 't' : errno == EMBXSBUSY ? 'b' : '?';
    modbus_flush(Ctx);
    return seen;
}

std::string run(modbus_t *Ctx, const std::string &Letters)
{
    std::string seen;
    for (char l : Letters)
        seen += ask(Ctx, l);
    return seen;
}

struct AimRow {
    const char *Name;
    const char *Profile; // besides [Scripts] Count=0
    const char *Requests;
    const char *Expected;
};

class ProgramAim : public ::testing::TestWithParam<AimRow>
{
};

TEST_P(ProgramAim, MasterSeesTheAimedFaults)
{
    InstalledProgram inst;
    const QString profile = inst.path(QStringLiteral("aim.QRL"));
    ASSERT_TRUE(writeAll(profile, QByteArray("[Scripts]\nCount=0\n") + GetParam().Profile));
    ASSERT_TRUE(inst.writePortIni(profile));
    ASSERT_TRUE(inst.ok()) << "quorlin and scripts.dll must be built first";
    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program()));
    MasterContext master(inst.pty().master());
    // Long enough for a busy machine; each silent request costs this much.
    modbus_set_response_timeout(master.get(), 1, 200000);
    ASSERT_TRUE(waitForPortTaken(program, inst.pty()));
    EXPECT_EQ(run(master.get(), GetParam().Requests), GetParam().Expected);
    endWithSigterm(program);
}

INSTANTIATE_TEST_SUITE_P(
    Aim, ProgramAim,
    ::testing::Values(
        // FC4 always answered and not counted: every second FC3 is silent.
        AimRow{"NoReplyEvery2Functions3", "[Faults]\nEnabled=1\nNoReplyEvery=2\nFunctions=3\n",
               "iaiaiaia", "...t...t"},
        AimRow{"NoReplyEvery1Registers",
               "[Faults]\nEnabled=1\nNoReplyEvery=1\nRegisters=4x0100-4x0199\n", "abab", ".t.t"},
        // Each slave as its own section says; [Faults] is not there at all.
        AimRow{"TwoSlavesOwnSections",
               "[SerialSettings]\nMBid=1\nMoreIds=2\n"
               "[Faults1]\nEnabled=1\nNoReplyEvery=2\n"
               "[Faults2]\nEnabled=1\nExceptionEvery=1\nExceptionCode=6\nFunctions=3\n",
               "aAaAiIaA", ".btb..tb"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// A raw client for the two network framings: the program's replies in order.
class RawClient
{
  public:
    explicit RawClient(int Port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(Port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < 300 && !m_connected; ++i) {
            m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
            if (!m_connected) {
                ::close(m_fd);
                m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                ::usleep(100000);
            }
        }
        timeval tv{10, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawClient() { ::close(m_fd); }
    bool connected() const { return m_connected; }
    bool send(const std::vector<uint8_t> &Bytes)
    {
        return ::write(m_fd, Bytes.data(), Bytes.size()) == ssize_t(Bytes.size());
    }
    // Exactly N bytes, or what came before the time-out.
    std::vector<uint8_t> receive(size_t N)
    {
        std::vector<uint8_t> got(N);
        size_t have = 0;
        while (have < N) {
            const ssize_t n = ::read(m_fd, got.data() + have, N - have);
            if (n <= 0)
                break;
            have += size_t(n);
        }
        got.resize(have);
        return got;
    }

  private:
    int m_fd = -1;
    bool m_connected = false;
};

// Read one holding register 4x0001 of Unit: MBAP with transaction Tid, or RTU with its CRC.
std::vector<uint8_t> mbapRead(int Unit, int Tid)
{
    return {0, uint8_t(Tid), 0, 0, 0, 6, uint8_t(Unit), 3, 0, 0, 0, 1};
}
std::vector<uint8_t> rtuRead(int Unit)
{
    std::vector<uint8_t> f = {uint8_t(Unit), 3, 0, 0, 0, 1};
    const uint16_t c = quorlin::Crc16(f.data(), f.size());
    f.push_back(uint8_t(c));
    f.push_back(uint8_t(c >> 8));
    return f;
}

class AimApiProgram
{
  public:
    AimApiProgram()
        : apiPort(freeLoopbackPort()), tcpPort(freeLoopbackPort()), rtuPort(freeLoopbackPort()),
          http("127.0.0.1", apiPort)
    {
        http.set_read_timeout(40, 0);
        const QString profile = inst.path(QStringLiteral("offline.QRL"));
        const QByteArray text = QStringLiteral("[Scripts]\nCount=0\n[SerialSettings]\nMBid=1\n"
                                               "MoreIds=2\n[Slave2]\nOffline=1\n"
                                               "[Network]\nListeners=1\nKind1=RTU over TCP\n"
                                               "Address1=127.0.0.1\nPort1=%1\n")
                                    .arg(rtuPort)
                                    .toUtf8();
        if (!writeAll(profile, text) || !inst.writePortIni(profile) || !inst.ok())
            return;
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        started = startOffscreen(program, inst.program(),
                                 {QStringLiteral("--api"), QStringLiteral("127.0.0.1:%1").arg(apiPort),
                                  QStringLiteral("--listen"), QString::number(tcpPort)}) &&
                  waitForFirstAnswer(program, master.get());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (started && !http.Get("/api/v1/openapi.json")) {
            if (std::chrono::steady_clock::now() > deadline)
                started = false;
            program.waitForFinished(50);
        }
    }
    ~AimApiProgram()
    {
        if (program.state() == QProcess::Running)
            endWithSigterm(program);
    }
    json call(const char *Method, const std::string &Path, const std::string &Body = "")
    {
        httplib::Result r = std::string(Method) == "GET"  ? http.Get(Path)
                            : std::string(Method) == "PUT" ? http.Put(Path, Body, "application/json")
                                                           : http.Post(Path, Body, "application/json");
        if (!r)
            return json();
        json j = json::parse(r->body, nullptr, false);
        j["status"] = r->status;
        return j;
    }

    int apiPort, tcpPort, rtuPort;
    InstalledProgram inst;
    MasterContext master{inst.pty().master()};
    QProcess program;
    httplib::Client http;
    bool started = false;
};

TEST(ProgramAimApi, OfflineSlaveIsSilentOnEveryLineAndKeepsItsValues)
{
    AimApiProgram p;
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    modbus_t *ctx = p.master.get();
    modbus_set_response_timeout(ctx, 1, 200000);
    EXPECT_EQ(p.call("GET", "/api/v1/slaves/2")["offline"], true);
    // The API may still set its values; no master reaches them.
    ASSERT_EQ(p.call("PUT", "/api/v1/slaves/2/holding-registers/1", R"({"value": 77})")["status"],
              200);
    EXPECT_EQ(run(ctx, "AWaA"), "tt.t");

    // On the network, the offline slave's request gets nothing: the next
    // reply a client reads is the one to the request after it.
    RawClient tcp(p.tcpPort);
    ASSERT_TRUE(tcp.connected());
    ASSERT_TRUE(tcp.send(mbapRead(2, 1)) && tcp.send(mbapRead(1, 2)));
    const std::vector<uint8_t> tcpReply = tcp.receive(11);
    ASSERT_EQ(tcpReply.size(), 11u);
    EXPECT_EQ(tcpReply[1], 2) << "transaction 2 answered first";
    EXPECT_EQ(tcpReply[6], 1);
    RawClient rtu(p.rtuPort);
    ASSERT_TRUE(rtu.connected());
    std::vector<uint8_t> both = rtuRead(2);
    const std::vector<uint8_t> second = rtuRead(1);
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(rtu.send(both)); // each request is whole by its function's length
    const std::vector<uint8_t> rtuReply = rtu.receive(7);
    ASSERT_EQ(rtuReply.size(), 7u);
    EXPECT_EQ(rtuReply[0], 1) << "slave 1 answered first";

    // Back on the line, with the value it was given while away.
    const json back = p.call("PUT", "/api/v1/slaves/2", R"({"offline": false})");
    EXPECT_EQ(back["status"], 200) << back.dump();
    modbus_set_slave(ctx, 2);
    uint16_t r = 0;
    ASSERT_EQ(modbus_read_registers(ctx, 0, 1, &r), 1) << modbus_strerror(errno);
    EXPECT_EQ(r, 77);
    EXPECT_EQ(p.call("GET", "/api/v1/slaves/2")["offline"], false);
}

TEST(ProgramAimApi, FailNextFailsExactlyTheNextRequests)
{
    AimApiProgram p;
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    modbus_t *ctx = p.master.get();
    modbus_set_response_timeout(ctx, 1, 200000);

    json order = p.call("POST", "/api/v1/faults/next", R"({"kind": "no_reply", "count": 3})");
    ASSERT_EQ(order["status"], 200) << order.dump();
    EXPECT_EQ(order["left"], 3);
    EXPECT_EQ(run(ctx, "aaaaa"), "ttt..");
    EXPECT_EQ(p.call("GET", "/api/v1/faults/next")["left"], 0);

    // An order for one slave leaves the others alone.
    order = p.call("POST", "/api/v1/faults/next",
                   R"({"kind": "exception", "count": 2, "slave": 1, "code": 6})");
    ASSERT_EQ(order["status"], 200) << order.dump();
    ASSERT_EQ(p.call("PUT", "/api/v1/slaves/2", R"({"offline": false})")["status"], 200);
    EXPECT_EQ(run(ctx, "AaAaa"), ".b.b.");
    const json faults = p.call("GET", "/api/v1/faults");
    EXPECT_EQ(faults["counts"]["failed_next"], 5) << faults.dump();
}

} // namespace
