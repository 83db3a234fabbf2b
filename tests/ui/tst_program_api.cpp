// SPDX-License-Identifier: MIT
// The real program driven through its HTTP API while a libmodbus master
// polls it on a pty: what the API writes the master reads at once, what the
// master writes the API sees, faults, slaves and values changed mid-run,
// the traffic with its cursor, every refusal as a client receives it, and
// the token and Host rules.
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/ui/installedprogram.h"

using namespace quorlin::testing;
using json = nlohmann::json;

namespace
{

QString waitForError(QProcess &Program, const QString &Text, QString &Seen)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        Seen += QString::fromLocal8Bit(Program.readAllStandardError());
        if (Seen.contains(Text) || std::chrono::steady_clock::now() > deadline)
            return Seen;
        Program.waitForReadyRead(100);
    }
}

// The installed program with --api on a free port, a master on its pty and
// an HTTP client.
class ApiProgram
{
  public:
    explicit ApiProgram(QStringList Extra = {},
                        const QString &Address = QStringLiteral("127.0.0.1"))
        : port(freeLoopbackPort()),
          http(Address == QLatin1String("0.0.0.0") ? "127.0.0.1" : Address.toStdString(), port)
    {
        http.set_read_timeout(40, 0);
        http.set_connection_timeout(5, 0);
        if (!inst.writePortIni() || !inst.ok())
            return;
        program.setProcessChannelMode(QProcess::SeparateChannels);
        QStringList args = {QStringLiteral("--api"),
                            QStringLiteral("%1:%2").arg(Address).arg(port)};
        args += Extra;
        started = startOffscreen(program, inst.program(), args, false) &&
                  waitForFirstAnswer(program, master.get()) && waitForApi();
    }
    // The port may answer before the API listens: both start with the program.
    bool waitForApi()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline &&
               program.state() == QProcess::Running) {
            if (http.Get("/api/v1/openapi.json"))
                return true;
            program.waitForFinished(50);
        }
        return false;
    }
    ~ApiProgram()
    {
        if (program.state() == QProcess::Running)
            endWithSigterm(program);
    }
    // Standard error so far, once it holds Text (or 10 s have passed).
    QString errors(const QString &Text) { return waitForError(program, Text, m_errors); }

    int port;
    InstalledProgram inst;
    MasterContext master{inst.pty().master()};
    QProcess program;
    httplib::Client http;
    bool started = false;

  private:
    QString m_errors;
};

json body(const httplib::Result &R)
{
    return R ? json::parse(R->body, nullptr, false) : json();
}

// Reads holding or input registers until the master gets an answer (the
// line may carry a reply the master gave up on).
int readInputs(modbus_t *Ctx, int Address, int Count, uint16_t *Out)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int n = modbus_read_input_registers(Ctx, Address, Count, Out);
        if (n == Count)
            return n;
        modbus_flush(Ctx);
    }
    return -1;
}

TEST(ProgramApi, WritesReachTheMasterAtOnceAndTheMastersWritesReachTheApi)
{
    ApiProgram p;
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    modbus_t *ctx = p.master.get();

    // In the image when the call returns: the very next read sees it, no tick needed.
    auto r =
        p.http.Put("/api/v1/slaves/1/input-registers/1", R"({"value": 250})", "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    uint16_t regs[2] = {};
    ASSERT_EQ(readInputs(ctx, 0, 1, regs), 1);
    EXPECT_EQ(regs[0], 250);
    r = p.http.Put("/api/v1/slaves/1/input-registers/5",
                   R"({"type": "float32", "order": "CD AB", "value": 21.5})", "application/json");
    ASSERT_TRUE(r && r->status == 200);
    ASSERT_EQ(readInputs(ctx, 4, 2, regs), 2);
    EXPECT_EQ(modbus_get_float_cdab(regs), 21.5f); // libmodbus's own decoding

    // "Wait until the master writes 1 to coil 17" is one call.
    auto waited = std::async(std::launch::async, [&p] {
        httplib::Client c("127.0.0.1", p.port);
        c.set_read_timeout(40, 0);
        return body(c.Get("/api/v1/slaves/1/coils/17?until=1&timeout=20000"));
    });
    ASSERT_EQ(modbus_write_bit(ctx, 16, 1), 1);
    const json w = waited.get();
    EXPECT_EQ(w["reached"], true) << w.dump();
    EXPECT_EQ(w["value"], 1);

    // Without "until": the call answers when a master writes the register.
    // The master keeps writing until the waiting call has started and seen one.
    auto written = std::async(std::launch::async, [&p] {
        httplib::Client c("127.0.0.1", p.port);
        c.set_read_timeout(40, 0);
        return body(c.Get("/api/v1/slaves/1/holding-registers/9?timeout=20000"));
    });
    for (int v = 1;
         v < 400 && written.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready;
         ++v) {
        if (modbus_write_register(ctx, 8, v) != 1)
            modbus_flush(ctx);
    }
    const json m = written.get();
    EXPECT_EQ(m["reached"], true) << m.dump();
    EXPECT_GT(m["value"].get<int>(), 0);

    // A wait that nothing satisfies ends with the value at its time-out.
    const json none = body(p.http.Get("/api/v1/slaves/1/coils/18?until=1&timeout=200"));
    EXPECT_EQ(none["reached"], false) << none.dump();
    EXPECT_EQ(none["value"], 0);
}

// A slave whose map reaches 40001 serves the whole space: the API, a values
// file sent to it and the master meet at 4x40001, 3x30001 and 4x65536.
TEST(ProgramApi, ReachesTheWholeAddressSpace)
{
    QTemporaryDir dir;
    const QString map = dir.filePath(QStringLiteral("device.csv"));
    ASSERT_TRUE(writeAll(map, "slave,register,name,type,order,scale,offset,unit,access,value\n"
                              "1,4x40001,Set point,u16,,1,0,,rw,7\n"));
    ApiProgram p({QStringLiteral("--map"), map});
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    modbus_t *ctx = p.master.get();

    auto r = p.http.Put("/api/v1/slaves/1/holding-registers/65536", R"({"value": 48879})",
                        "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    uint16_t regs[2] = {};
    ASSERT_EQ(modbus_read_registers(ctx, 65534, 2, regs), 2) << modbus_strerror(errno);
    EXPECT_EQ(regs[1], 0xBEEF);

    ASSERT_EQ(modbus_write_register(ctx, 40000, 99), 1) << modbus_strerror(errno);
    EXPECT_EQ(body(p.http.Get("/api/v1/slaves/1/holding-registers?start=40001&count=2")),
              json::parse(R"({"start": 40001, "values": [99, 0]})"));

    r = p.http.Put("/api/v1/values", "slave,register,value\r\n1,3x30001,4660\r\n", "text/csv");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    ASSERT_EQ(readInputs(ctx, 30000, 1, regs), 1);
    EXPECT_EQ(regs[0], 4660);

    // Past the end: refused with where the table ends; nothing written.
    r = p.http.Put("/api/v1/slaves/1/holding-registers", R"({"start": 65536, "values": [1, 2]})",
                   "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_NE(r->body.find("4x65536"), std::string::npos) << r->body;
    EXPECT_EQ(body(p.http.Get("/api/v1/slaves/1/holding-registers/65536"))["value"], 0xBEEF);
    r = p.http.Put("/api/v1/values", "slave,register,value\r\n1,3x65537,1\r\n", "text/csv");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_NE(r->body.find("3x65537 is not a register"), std::string::npos) << r->body;
}

// The status names every line: the serial port and each network listener
// with the clients it has now.
TEST(ProgramApi, StatusListsTheNetworkListenersAndTheirClients)
{
    const int tcpPort = freeLoopbackPort();
    ApiProgram p({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(tcpPort)});
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    modbus_t *tcp = modbus_new_tcp("127.0.0.1", tcpPort);
    ASSERT_EQ(modbus_connect(tcp), 0);
    uint16_t reg = 0;
    EXPECT_EQ(modbus_read_registers(tcp, 0, 1, &reg), 1);

    const json s = body(p.http.Get("/api/v1/status"));
    ASSERT_TRUE(s.contains("lines")) << s.dump();
    ASSERT_EQ(s["lines"].size(), 2u) << s.dump();
    EXPECT_EQ(s["lines"][0]["kind"], "serial");
    EXPECT_EQ(s["lines"][0]["open"], true);
    const json &net = s["lines"][1];
    EXPECT_EQ(net["kind"], "tcp");
    EXPECT_EQ(net["name"], "127.0.0.1:" + std::to_string(tcpPort));
    EXPECT_EQ(net["open"], true);
    EXPECT_EQ(net["clients"], 1);
    EXPECT_EQ(net["max_clients"], 64);
    modbus_close(tcp);
    modbus_free(tcp);
}

TEST(ProgramApi, FaultsSlavesAndValuesChangeMidRun)
{
    ApiProgram p;
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    modbus_t *ctx = p.master.get();
    uint16_t regs[2] = {};

    // NoReplyEvery on: the master times out; off again: answered.
    auto r = p.http.Put("/api/v1/faults", R"({"on": true, "NoReplyEvery": 1})", "application/json");
    ASSERT_TRUE(r && r->status == 200) << (r ? r->body : "");
    errno = 0;
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    const json f = body(p.http.Get("/api/v1/faults"));
    EXPECT_EQ(f["on"], true);
    EXPECT_EQ(f["NoReplyEvery"], 1);
    EXPECT_GE(f["counts"]["no_reply"].get<int>(), 1) << f.dump();
    r = p.http.Put("/api/v1/faults", R"({"on": false})", "application/json");
    ASSERT_TRUE(r && r->status == 200);
    modbus_flush(ctx);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), 1);

    // A slave added through the API answers at once; a duplicate is refused.
    modbus_set_slave(ctx, 7);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), -1) << "no slave 7 yet";
    modbus_flush(ctx);
    r = p.http.Post("/api/v1/slaves", R"({"id": 7})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 201) << r->body;
    EXPECT_EQ(r->get_header_value("Location"), "/api/v1/slaves/7");
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), 1);
    r = p.http.Post("/api/v1/slaves", R"({"id": 7})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 409);
    EXPECT_EQ(body(r)["error"], "Slave id 7 is already used.");

    // Values as CSV: all or nothing, the register table's messages.
    r = p.http.Put("/api/v1/values", "slave,register,value\r\n7,4x0003,4321\r\n1,4x0256,-1\r\n",
                   "text/csv");
    ASSERT_TRUE(r && r->status == 200) << (r ? r->body : "");
    ASSERT_EQ(modbus_read_registers(ctx, 2, 1, regs), 1);
    EXPECT_EQ(regs[0], 4321);
    r = p.http.Put("/api/v1/values", "slave,register,value\r\n7,4x0003,1\r\n7,4x0257,1\r\n",
                   "text/csv");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_NE(body(r)["error"].get<std::string>().find("line 3"), std::string::npos) << r->body;
    ASSERT_EQ(modbus_read_registers(ctx, 2, 1, regs), 1);
    EXPECT_EQ(regs[0], 4321) << "a refused file changes nothing";
    r = p.http.Get("/api/v1/values");
    ASSERT_TRUE(r && r->status == 200);
    EXPECT_NE(r->body.find("7,4x0003,4321\r\n"), std::string::npos);
    EXPECT_NE(r->body.find("1,4x0256,65535\r\n"), std::string::npos);

    // Removed again; the last slave stays.
    r = p.http.Delete("/api/v1/slaves/7");
    ASSERT_TRUE(r && r->status == 200);
    r = p.http.Delete("/api/v1/slaves/1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 409) << r->body;
    EXPECT_EQ(body(p.http.Get("/api/v1/slaves"))["slaves"],
              json::parse(R"([{"id":1,"offline":false,"scripts":0}])"));
}

TEST(ProgramApi, TrafficRowsWithACursorAndALongPoll)
{
    ApiProgram p;
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    modbus_t *ctx = p.master.get();
    const json status = body(p.http.Get("/api/v1/status"));
    ASSERT_EQ(status["lines"].size(), 1u) << status.dump();
    EXPECT_EQ(status["lines"][0]["kind"], "serial");
    EXPECT_EQ(status["lines"][0]["open"], true);
    EXPECT_EQ(status["lines"][0]["settings"], "9600 8E1");

    // Rows so far, then a poll that waits for the next frame.
    json page = body(p.http.Get("/api/v1/traffic?since=0&wait=2000"));
    uint64_t cursor = page["next"].get<uint64_t>();
    ASSERT_GT(cursor, 0u) << "the first answer's rows are there";
    while (!page["rows"].empty()) { // the tick may still be handing over rows
        page = body(p.http.Get("/api/v1/traffic?since=" + std::to_string(cursor) + "&wait=300"));
        cursor = page["next"].get<uint64_t>();
    }
    auto next = std::async(std::launch::async, [&p, cursor] {
        httplib::Client c("127.0.0.1", p.port);
        c.set_read_timeout(40, 0);
        return body(c.Get("/api/v1/traffic?since=" + std::to_string(cursor) + "&wait=20000"));
    });
    uint16_t regs[3];
    ASSERT_EQ(modbus_read_registers(ctx, 9, 3, regs), 3);
    const json got = next.get();
    ASSERT_GE(got["rows"].size(), 1u) << got.dump();
    const json &rx = got["rows"][0];
    EXPECT_EQ(rx["seq"], cursor) << "no row skipped";
    EXPECT_EQ(rx["direction"], "RX");
    EXPECT_EQ(rx["slave"], 1);
    EXPECT_EQ(rx["function"], 3);
    EXPECT_EQ(rx["address"], 9);
    EXPECT_EQ(rx["quantity"], 3);
    EXPECT_EQ(rx["bytes"].get<std::string>().rfind("01 03 00 09 00 03", 0), 0u);
    EXPECT_EQ(got["dropped"], 0);
    EXPECT_GT(got["next"].get<uint64_t>(), cursor);

    // The counters reset as the monitor's button does.
    EXPECT_GT(body(p.http.Get("/api/v1/status"))["counters"]["requests"].get<int>(), 0);
    auto r = p.http.Post("/api/v1/counters/reset", "", "application/json");
    ASSERT_TRUE(r && r->status == 200);
    EXPECT_EQ(body(p.http.Get("/api/v1/status"))["counters"]["requests"], 0);
}

// Every refusal as a client receives it: status, JSON body, headers.
TEST(ProgramApi, RefusalsReachTheClientWithTheirHeaders)
{
    ApiProgram p;
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    struct Row {
        const char *Name;
        const char *Method;
        const char *Path;
        std::string Body;
        httplib::Headers Headers;
        int Status;
        const char *Header;
        const char *Value;
    };
    const Row rows[] = {
        {"BadJson", "POST", "/api/v1/slaves", "{id:3}", {}, 400, nullptr, nullptr},
        {"UnknownSlave", "GET", "/api/v1/slaves/42/coils", "", {}, 404, nullptr, nullptr},
        {"WrongMethod", "DELETE", "/api/v1/faults", "", {}, 405, "Allow", "GET, PUT"},
        {"Duplicate", "POST", "/api/v1/slaves", R"({"id":1})", {}, 409, nullptr, nullptr},
        {"TooLarge",
         "PUT",
         "/api/v1/values",
         std::string(1024 * 1024 + 1, '1'),
         {},
         413,
         nullptr,
         nullptr},
        {"ForeignHost",
         "GET",
         "/api/v1/status",
         "",
         {{"Host", "rebind.example"}},
         403,
         nullptr,
         nullptr},
        {"CrossOrigin",
         "GET",
         "/api/v1/status",
         "",
         {{"Origin", "https://evil.example"}},
         403,
         nullptr,
         nullptr},
    };
    for (const Row &row : rows) {
        httplib::Request req;
        req.method = row.Method;
        req.path = row.Path;
        req.headers = row.Headers;
        req.body = row.Body;
        if (!row.Body.empty())
            req.set_header("Content-Type", "application/json");
        const auto r = p.http.send(req);
        ASSERT_TRUE(r) << row.Name;
        EXPECT_EQ(r->status, row.Status) << row.Name << ": " << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), "application/json") << row.Name;
        EXPECT_TRUE(body(r).contains("error")) << row.Name << ": " << r->body;
        EXPECT_FALSE(r->has_header("Access-Control-Allow-Origin")) << row.Name;
        if (row.Header) {
            EXPECT_EQ(r->get_header_value(row.Header), row.Value) << row.Name;
        }
    }
    // The program still serves its master.
    uint16_t reg = 0;
    EXPECT_EQ(modbus_read_registers(p.master.get(), 0, 1, &reg), 1);
}

// Off loopback every call needs the token, here generated into a file only
// the user may read. The server listens on every address; the test only
// ever talks to it over 127.0.0.1.
TEST(ProgramApi, OffLoopbackEveryCallNeedsTheToken)
{
    ApiProgram p({}, QStringLiteral("0.0.0.0"));
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    auto r = p.http.Get("/api/v1/status");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 401);
    EXPECT_EQ(r->get_header_value("WWW-Authenticate").rfind("Bearer", 0), 0u);

    const QString said = p.errors(QStringLiteral(".token\n"));
    const qsizetype at = said.indexOf(QStringLiteral("the API token is in "));
    ASSERT_GE(at, 0) << said.toStdString();
    const QString path = said.mid(at + 20).section(QLatin1Char('\n'), 0, 0).trimmed();
    struct stat st {
    };
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0) << path.toStdString();
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string token = readAll(path).trimmed().toStdString();
    ASSERT_EQ(token.size(), 64u);

    p.http.set_bearer_token_auth(token);
    r = p.http.Get("/api/v1/status", {{"Host", "plant.example:8502"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    p.http.set_bearer_token_auth(token.substr(1) + "0");
    r = p.http.Get("/api/v1/status");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 401);
}

// A token file given on loopback is required as well, and a port another
// program holds says why without stopping the emulator.
TEST(ProgramApi, TokenFileOnLoopbackAndAPortInUse)
{
    QTemporaryDir dir;
    const QString tokenFile = dir.filePath(QStringLiteral("token"));
    ASSERT_TRUE(writeAll(tokenFile, "rig-token-1\n"));
    ApiProgram p({QStringLiteral("--api-token-file"), tokenFile}, QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(p.started) << "quorlin and scripts.dll must be built first";
    auto r = p.http.Get("/api/v1/slaves");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 401);
    p.http.set_bearer_token_auth("rig-token-1");
    r = p.http.Get("/api/v1/slaves");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);

    InstalledProgram second;
    ASSERT_TRUE(second.writePortIni() && second.ok());
    QProcess other;
    other.setProcessChannelMode(QProcess::SeparateChannels);
    ASSERT_TRUE(startOffscreen(
        other, second.program(),
        {QStringLiteral("--api"), QStringLiteral("127.0.0.2:%1").arg(p.port)}, false));
    MasterContext master(second.pty().master());
    ASSERT_TRUE(waitForFirstAnswer(other, master.get())) << "the emulator runs on";
    const QString expected =
        QStringLiteral("cannot listen on 127.0.0.2:%1: Address already in use").arg(p.port);
    QString said;
    EXPECT_TRUE(waitForError(other, expected, said).contains(expected)) << said.toStdString();
    EXPECT_EQ(endWithSigterm(other), 0);
}

} // namespace
