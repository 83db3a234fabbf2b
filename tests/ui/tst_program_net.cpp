// SPDX-License-Identifier: MIT
// The real program serving its slaves over the network beside the serial
// line, with masters no one here wrote: libmodbus's TCP client, mbpoll -m tcp
// and fifty TCP clients polling while libmodbus polls the serial line.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

#include "installedprogram.h"
#include "tests/engine/fakes.h"
#include "tests/net/netclient.h"

namespace quorlin::testing
{
namespace
{

using quorlin::test::hex;
using quorlin::test::RawClient;
using quorlin::test::toHex;

// A loopback port nobody listens on just now.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

modbus_t *tcpMaster(int Port, int Unit)
{
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", Port);
    modbus_set_slave(ctx, Unit);
    modbus_set_response_timeout(ctx, 5, 0);
    return ctx;
}

// Connects until the program listens (it may still be starting).
bool connectWhenListening(modbus_t *Ctx)
{
    for (int i = 0; i < 300; ++i) {
        if (modbus_connect(Ctx) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// Slaves 1, 2 and 17 on COM2, an RTU over TCP listener in the profile and a
// Modbus TCP one from the command line.
QByteArray netProfile(int RtuPort)
{
    return QStringLiteral("[SerialSettings]\nMBid=1\nMoreIds=2,17\n"
                          "[Network]\nListeners=1\nKind1=RTU over TCP\nAddress1=127.0.0.1\n"
                          "Port1=%1\n")
        .arg(RtuPort)
        .toUtf8();
}

TEST(ProgramNet, TcpMastersAndTheSerialMasterShareTheSlaves)
{
    InstalledProgram inst;
    const QString profile = inst.path(QStringLiteral("net.QRL"));
    const int tcpPort = freePort(), rtuPort = freePort();
    ASSERT_TRUE(writeAll(profile, netProfile(rtuPort)));
    ASSERT_TRUE(inst.writePortIni(profile));
    ASSERT_TRUE(inst.ok());
    QProcess program;
    ASSERT_TRUE(startOffscreen(program, inst.program(),
                               {QStringLiteral("--listen"), QString::number(tcpPort)}));
    MasterContext serial(inst.pty().master());
    ASSERT_TRUE(waitForFirstAnswer(program, serial.get()));

    // Every slave by its unit id: written over TCP, read back over TCP.
    for (int id : {1, 2, 17}) {
        modbus_t *ctx = tcpMaster(tcpPort, id);
        ASSERT_TRUE(connectWhenListening(ctx));
        const uint16_t values[] = {uint16_t(id * 100), uint16_t(id * 100 + 1)};
        ASSERT_EQ(modbus_write_registers(ctx, 0, 2, values), 2) << modbus_strerror(errno);
        ASSERT_EQ(modbus_write_bit(ctx, id, 1), 1);
        uint16_t back[2] = {};
        ASSERT_EQ(modbus_read_registers(ctx, 0, 2, back), 2);
        EXPECT_EQ(back[1], id * 100 + 1);
        uint8_t bits[32] = {};
        ASSERT_EQ(modbus_read_bits(ctx, 0, 32, bits), 32);
        for (int b = 0; b < 32; ++b)
            EXPECT_EQ(bits[b], b == id ? 1 : 0) << id << " coil " << b;
        modbus_close(ctx);
        modbus_free(ctx);
    }
    // An id no slave has: exception 11.
    {
        modbus_t *ctx = tcpMaster(tcpPort, 9);
        ASSERT_TRUE(connectWhenListening(ctx));
        uint16_t r;
        errno = 0;
        EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &r), -1);
        EXPECT_EQ(errno, EMBXGTAR);
        modbus_close(ctx);
        modbus_free(ctx);
    }
    // The serial master sees what the network wrote: the same images.
    modbus_set_slave(serial.get(), 17);
    uint16_t seen[2] = {};
    ASSERT_EQ(modbus_read_registers(serial.get(), 0, 2, seen), 2);
    EXPECT_EQ(seen[0], 1700);

    // mbpoll, another master from another hand: reads slave 2 and writes slave 17.
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    if (!mbpoll.isEmpty()) {
        QProcess poll;
        poll.start(mbpoll,
                   {QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"),
                    QString::number(tcpPort), QStringLiteral("-a"), QStringLiteral("2"),
                    QStringLiteral("-r"), QStringLiteral("1"), QStringLiteral("-c"),
                    QStringLiteral("2"), QStringLiteral("-1"), QStringLiteral("127.0.0.1")});
        ASSERT_TRUE(poll.waitForFinished(20000));
        const QString out = QString::fromUtf8(poll.readAllStandardOutput());
        EXPECT_TRUE(out.contains(QStringLiteral("[1]: \t200")) &&
                    out.contains(QStringLiteral("[2]: \t201")))
            << out.toStdString();
        poll.start(mbpoll, {QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"),
                            QString::number(tcpPort), QStringLiteral("-a"), QStringLiteral("17"),
                            QStringLiteral("-r"), QStringLiteral("10"), QStringLiteral("127.0.0.1"),
                            QStringLiteral("4321")});
        ASSERT_TRUE(poll.waitForFinished(20000));
        EXPECT_EQ(poll.exitCode(), 0) << poll.readAll().toStdString();
        uint16_t r = 0;
        ASSERT_EQ(modbus_read_registers(serial.get(), 9, 1, &r), 1);
        EXPECT_EQ(r, 4321);
    }

    // RTU over TCP with RTU vectors: answered, exceptions, silence.
    {
        RawClient rtu(rtuPort);
        ASSERT_TRUE(rtu.Connected());
        const std::pair<const char *, const char *> vectors[] = {
            {"02 03 00 00 00 02 crc", "02 03 04 00 C8 00 C9 crc"}, // fn 3 of slave 2
            {"11 06 00 05 12 34 crc", "11 06 00 05 12 34 crc"},    // fn 6 echoed
            {"01 03 01 00 00 01 crc", "01 83 02 crc"},             // past the table
            {"01 03 00 00 00 01 00 00", ""},                       // bad CRC: silent
            {"09 03 00 00 00 01 crc", ""},                         // no such slave: silent
            {"11 03 00 05 00 01 crc", "11 03 02 12 34 crc"}};      // the write is there
        for (const auto &[request, reply] : vectors) {
            ASSERT_TRUE(rtu.Send(hex(request)));
            const auto want = hex(reply);
            EXPECT_EQ(toHex(rtu.Read(want.empty() ? 1 : want.size(), want.empty() ? 300 : 5000)),
                      toHex(want))
                << request;
        }
    }

    // Fifty TCP clients at once while the serial master polls the line.
    std::atomic<int> good{0}, bad{0};
    std::atomic<bool> tcpDone{false};
    std::vector<std::thread> clients;
    for (int k = 0; k < 50; ++k)
        clients.emplace_back([&, k] {
            const int id = k % 3 == 0 ? 1 : k % 3 == 1 ? 2 : 17;
            modbus_t *ctx = tcpMaster(tcpPort, id);
            if (modbus_connect(ctx) != 0) {
                bad += 20;
                modbus_free(ctx);
                return;
            }
            for (int round = 0; round < 20; ++round) {
                uint16_t r[2] = {};
                const bool ok = modbus_read_registers(ctx, 0, 2, r) == 2 && r[0] == id * 100 &&
                                r[1] == id * 100 + 1;
                ok ? ++good : ++bad;
            }
            modbus_close(ctx);
            modbus_free(ctx);
        });
    int serialGood = 0, serialRounds = 0;
    std::thread waiter([&] {
        for (auto &t : clients)
            t.join();
        tcpDone = true;
    });
    modbus_set_slave(serial.get(), 2);
    while (!tcpDone || serialRounds < 5) {
        uint16_t r[2] = {};
        ++serialRounds;
        if (modbus_read_registers(serial.get(), 0, 2, r) == 2 && r[0] == 200 && r[1] == 201)
            ++serialGood;
        if (serialRounds > 2000)
            break;
    }
    waiter.join();
    EXPECT_EQ(good.load(), 50 * 20);
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(serialGood, serialRounds);
    EXPECT_EQ(endWithSigterm(program), 0);
}

TEST(ProgramNet, NoSerialServesTheNetworkAloneAndABusyPortSaysWhy)
{
    InstalledProgram inst;
    ASSERT_TRUE(inst.writePortIni());
    ASSERT_TRUE(inst.ok());
    // A port someone else holds.
    const int busy = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(busy, 1), 0);
    ::getsockname(busy, reinterpret_cast<sockaddr *>(&a), &len);
    const int busyPort = ntohs(a.sin_port), port = freePort();

    QProcess program;
    program.setProcessChannelMode(QProcess::SeparateChannels);
    ASSERT_TRUE(startOffscreen(program, inst.program(),
                               {QStringLiteral("--no-serial"), QStringLiteral("--listen"),
                                QString::number(port), QStringLiteral("--listen"),
                                QString::number(busyPort)},
                               false));
    modbus_t *ctx = tcpMaster(port, 1);
    ASSERT_TRUE(connectWhenListening(ctx));
    uint16_t r[2];
    EXPECT_EQ(modbus_read_registers(ctx, 0, 2, r), 2);
    modbus_close(ctx);
    modbus_free(ctx);
    // The serial port was never opened: nobody answers there.
    MasterContext serial(inst.pty().master());
    EXPECT_EQ(modbus_read_registers(serial.get(), 0, 2, r), -1);
    EXPECT_EQ(endWithSigterm(program), 0);
    const QString err = QString::fromUtf8(program.readAllStandardError());
    EXPECT_TRUE(err.contains(
        QStringLiteral("cannot listen on 127.0.0.1:%1: Address already in use").arg(busyPort)))
        << err.toStdString();
    ::close(busy);
}

} // namespace
} // namespace quorlin::testing
