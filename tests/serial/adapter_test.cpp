// SPDX-License-Identifier: MIT
// The adapter options through the port's system-call seam (no adapter here:
// the driver's answers are given by the seam's hook), the latency timer from
// a fake system tree, and the echo rule on a pty whose far end plays both
// the master and a two-wire adapter returning what we send.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "engine/crc16.h"
#include "engine/deadline.h"
#include "engine/modbusslave.h"
#include "engine/registerimage.h"
#include "serial/lineengine.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using quorlin::testing::CommFixture;
using quorlin::testing::CountingSysApi;
using quorlin::testing::queued;
using Bytes = std::vector<uint8_t>;

namespace
{

// ---- Low latency ------------------------------------------------------------

struct LowLatencyRow {
    const char *Label;
    std::optional<int> DriverFlags; // none: TIOCGSERIAL fails (ENOTTY)
    bool SetFails;                  // TIOCSSERIAL fails (EPERM)
    TLowLatency Expected;
    std::vector<int> SetOnOpen, SetOnClose; // the flags TIOCSSERIAL is asked for
};

class LowLatency : public CommFixture, public ::testing::WithParamInterface<LowLatencyRow>
{
};

TEST_P(LowLatency, IsAskedOnOpenAndGivenBackOnClose)
{
    const LowLatencyRow &row = GetParam();
    int driverFlags = row.DriverFlags.value_or(0);
    std::vector<int> sets;
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        auto *s = static_cast<serial_struct *>(c.Arg);
        if (c.Name == "ioctl" && c.Request == TIOCGSERIAL) {
            errno = ENOTTY;
            if (!row.DriverFlags)
                return -1;
            *s = serial_struct{};
            s->flags = driverFlags;
            return 0;
        }
        if (c.Name == "ioctl" && c.Request == TIOCSSERIAL) {
            sets.push_back(s->flags);
            errno = EPERM;
            if (row.SetFails)
                return -1;
            driverFlags = s->flags;
            return 0;
        }
        return std::nullopt;
    });
    // The timer is read after the request, from the system's tree (a fake one here).
    QTemporaryDir sys;
    const std::string timer = "/bus/usb-serial/devices/" + TtyName(pty.path()) + "/latency_timer";
    QDir().mkpath(sys.path() + QString::fromStdString(timer.substr(0, timer.rfind('/'))));
    std::ofstream(sys.path().toStdString() + timer) << "1\n";
    comm.SetSysRoot(sys.path().toStdString());
    comm.Open();
    ASSERT_TRUE(comm.IsOpen()) << comm.LastOpenError().Message;
    EXPECT_EQ(comm.LowLatency(), row.Expected);
    EXPECT_EQ(comm.LatencyTimer(), 1);
    EXPECT_EQ(sets, row.SetOnOpen);
    sets.clear();
    comm.Close();
    EXPECT_EQ(sets, row.SetOnClose) << "only a setting we made is given back, other flags kept";
}

constexpr int spdHi = ASYNC_SPD_HI; // another flag the driver may hold
INSTANTIATE_TEST_SUITE_P(
    Driver, LowLatency,
    ::testing::Values(
        LowLatencyRow{"NotOffered", std::nullopt, false, TLowLatency::NotOffered, {}, {}},
        LowLatencyRow{
            "Offered", spdHi, false, TLowLatency::On, {spdHi | ASYNC_LOW_LATENCY}, {spdHi}},
        LowLatencyRow{"AlreadyOn", ASYNC_LOW_LATENCY, false, TLowLatency::WasOn, {}, {}},
        LowLatencyRow{"Refused", 0, true, TLowLatency::Refused, {ASYNC_LOW_LATENCY}, {}}),
    [](const auto &Info) { return std::string(Info.param.Label); });

// ---- RS-485 -----------------------------------------------------------------

using Asked = std::array<uint32_t, 3>; // flags, delay before, delay after

struct Rs485Row {
    const char *Label;
    TRs485Settings Wanted;
    int SetErrno; // 0: the driver takes it; -1: takes it, hands it back without the mode
    Asked Request;
    const char *Message; // the refusal's message; empty when taken
};

class Rs485 : public CommFixture, public ::testing::WithParamInterface<Rs485Row>
{
};

TEST_P(Rs485, DriverIsAskedWithTheFlagsAndDelays)
{
    const Rs485Row &row = GetParam();
    std::vector<Asked> sets;
    // What the driver had before: termination on, RS-485 off.
    const serial_rs485 before{SER_RS485_TERMINATE_BUS, 7, 8, {}};
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        auto *r = static_cast<serial_rs485 *>(c.Arg);
        if (c.Name != "ioctl" || (c.Request != TIOCGRS485 && c.Request != TIOCSRS485))
            return std::nullopt;
        if (c.Request == TIOCGRS485) {
            *r = before;
            return 0;
        }
        sets.push_back({r->flags, r->delay_rts_before_send, r->delay_rts_after_send});
        errno = row.SetErrno;
        if (row.SetErrno > 0)
            return -1;
        if (row.SetErrno < 0)
            r->flags &= ~uint32_t(SER_RS485_ENABLED);
        return 0;
    });
    comm.SetRs485(row.Wanted);
    comm.Open();
    ASSERT_TRUE(comm.IsOpen()) << "a refusal leaves the port open";
    EXPECT_EQ(sets, std::vector<Asked>{row.Request});
    // The table names the device PTY.
    auto named = [&](std::string Text) {
        if (const size_t at = Text.find(pty.path()); at != std::string::npos)
            Text.replace(at, pty.path().size(), "PTY");
        return Text;
    };
    EXPECT_EQ(named(comm.Rs485Error().Message), row.Message);
    const bool taken = std::string(row.Message).empty();
    EXPECT_NE(named(comm.AdapterSummary()).find(taken ? "RS-485 on: RTS" : row.Message),
              std::string::npos)
        << comm.AdapterSummary();
    sets.clear();
    comm.Close();
    // The driver's own state is put back after we changed it.
    const std::vector<Asked> restored = {{before.flags, 7, 8}};
    EXPECT_EQ(sets, taken ? restored : std::vector<Asked>());
}

TRs485Settings rs485(bool OnSend, bool AfterSend, int BeforeMs, int AfterMs)
{
    TRs485Settings s;
    s.Enabled = true;
    s.RtsOnSend = OnSend;
    s.RtsAfterSend = AfterSend;
    s.DelayBeforeMs = BeforeMs;
    s.DelayAfterMs = AfterMs;
    return s;
}

constexpr uint32_t on = SER_RS485_ENABLED, term = SER_RS485_TERMINATE_BUS;
INSTANTIATE_TEST_SUITE_P(
    Driver, Rs485,
    ::testing::Values(
        Rs485Row{"RtsHighWhileSending",
                 rs485(true, false, 0, 0),
                 0,
                 {on | SER_RS485_RTS_ON_SEND | term, 0, 0},
                 ""},
        Rs485Row{"RtsInvertedWithDelays",
                 rs485(false, true, 2, 5),
                 0,
                 {on | SER_RS485_RTS_AFTER_SEND | term, 2, 5},
                 ""},
        // Beyond what is ever asked: held to 100 ms, never sent as asked.
        Rs485Row{"DelaysHeldToTheLimit",
                 rs485(true, false, 100000, -4),
                 0,
                 {on | SER_RS485_RTS_ON_SEND | term, 100, 0},
                 ""},
        Rs485Row{"DriverWithoutRs485",
                 rs485(true, false, 0, 0),
                 ENOTTY,
                 {on | SER_RS485_RTS_ON_SEND | term, 0, 0},
                 "cannot switch PTY to RS-485: the adapter's driver does not offer it "
                 "(Inappropriate ioctl for device)"},
        Rs485Row{"DriverRefusesTheMode",
                 rs485(true, false, 0, 0),
                 EINVAL,
                 {on | SER_RS485_RTS_ON_SEND | term, 0, 0},
                 "cannot switch PTY to RS-485: the adapter's driver does not offer it "
                 "(Invalid argument)"},
        Rs485Row{"DriverDropsTheModeSilently",
                 rs485(true, false, 0, 0),
                 -1,
                 {on | SER_RS485_RTS_ON_SEND | term, 0, 0},
                 "cannot switch PTY to RS-485: the adapter's driver does not offer it "
                 "(Operation not supported)"}),
    [](const auto &Info) { return std::string(Info.param.Label); });

// ---- Latency timer ----------------------------------------------------------

// A fake tree: /dev/ttyUSB3, a by-id link to it, and the system's file.
TEST(LatencyTimer, IsReadForTheTtyThePathLeadsTo)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString(), sys = root + "/sys";
    const std::string file = sys + "/bus/usb-serial/devices/ttyUSB3/latency_timer";
    const std::string byId = root + "/dev/serial/usb-FTDI_FT232R-if00";
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/dev/serial"));
    std::ofstream(root + "/dev/ttyUSB3").flush();
    ASSERT_EQ(::symlink("../ttyUSB3", byId.c_str()), 0);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(file.substr(0, file.rfind('/')))));
    const struct {
        const char *Content; // null: no such file
        std::string Device;
        int Expected;
    } rows[] = {
        {"16\n", byId, 16}, // through the symlink
        {"1\n", root + "/dev/ttyUSB3", 1},
        {"16\n", root + "/dev/gone", -1}, // the path leads nowhere
        {nullptr, byId, -1},              // not a USB serial adapter
        {"fast\n", byId, -1},             // unreadable: not told
        {"99999\n", byId, -1},
        {"", byId, -1},
    };
    for (const auto &r : rows) {
        std::remove(file.c_str());
        if (r.Content)
            std::ofstream(file) << r.Content;
        EXPECT_EQ(LatencyTimerMs(r.Device, sys), r.Expected)
            << (r.Content ? r.Content : "(none)") << " for " << r.Device;
    }
}

// ---- The echo of our own replies --------------------------------------------

Bytes withCrc(Bytes Frame)
{
    const uint16_t crc = Crc16(Frame.data(), Frame.size());
    Frame.push_back(uint8_t(crc & 0xFF));
    Frame.push_back(uint8_t(crc >> 8));
    return Frame;
}

// Slave 1, read holding register 0 (its value 0 in a cleared image).
const Bytes request = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
const Bytes reply = withCrc({0x01, 0x03, 0x02, 0x00, 0x00});
// The longest read: 125 registers from 0, a reply of 255 bytes.
const Bytes longRequest = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x7D});
Bytes longReplyOf()
{
    Bytes r = {0x01, 0x03, 250};
    r.resize(253, 0x00);
    return withCrc(r);
}
const Bytes longReply = longReplyOf();

struct EchoRow {
    const char *Label;
    bool IgnoreEcho;
    std::vector<Bytes> Arrives; // after the first reply, each piece read apart
    bool SecondAnswered;        // the request in Arrives has its reply
    uint64_t Dropped;           // whole echoes dropped
    bool LongFirst = false;     // the first request is longRequest
};

// The engine on the port's own thread, as the program runs it; the test is
// the master and, where a row says so, the adapter returning our reply.
class EchoOnTheLine : public CommFixture, public ::testing::WithParamInterface<EchoRow>
{
  protected:
    void SetUp() override
    {
        CommFixture::SetUp();
        image.ClearImage();
        image.MBid = 1;
        comm.SetLineHandler(&line);
    }
    void TearDown() override
    {
        CommFixture::TearDown();
        comm.SetLineHandler(nullptr);
    }
    TRegisterImage image;
    TDeadline timeOut{100}, replyTimer{0};
    TModbusSlave slave{image, comm, timeOut};
    TLineEngine line{slave, comm, timeOut, replyTimer};
};

TEST_P(EchoOnTheLine, OnlyWhatEqualsOurReplyIsDropped)
{
    const EchoRow &row = GetParam();
    comm.SetIgnoreEcho(row.IgnoreEcho);
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    ASSERT_TRUE(pty.send(row.LongFirst ? longRequest : request));
    const Bytes &first = row.LongFirst ? longReply : reply;
    ASSERT_EQ(pty.receive(first.size(), 5000), first);
    for (const Bytes &piece : row.Arrives) {
        ASSERT_TRUE(pty.send(piece));
        // Each piece is taken in before the next comes, as a slow adapter hands them over.
        ASSERT_TRUE(QTest::qWaitFor([&] { return queued(pty.slave()) == 0; }, 5000));
    }
    const Bytes second = pty.receive(reply.size(), row.SecondAnswered ? 5000 : 400);
    EXPECT_EQ(second, row.SecondAnswered ? reply : Bytes{});
    EXPECT_EQ(comm.EchoesIgnored(), row.Dropped);
}

Bytes cat(std::initializer_list<Bytes> Parts)
{
    Bytes all;
    for (const Bytes &p : Parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes head(const Bytes &B, size_t N)
{
    return Bytes(B.begin(), B.begin() + std::ptrdiff_t(N));
}
Bytes tail(const Bytes &B, size_t N)
{
    return Bytes(B.begin() + std::ptrdiff_t(N), B.end());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EchoOnTheLine,
    ::testing::Values(
        // Without the option an echo is input: seven bytes of "request" that
        // swallow the start of the real one, which is lost.
        EchoRow{"EchoTakenAsInputWhenOff", false, {cat({reply, request})}, false, 0},
        EchoRow{"NoEchoOptionOff", false, {request}, true, 0},
        EchoRow{"EchoThenRequest", true, {cat({reply, request})}, true, 1},
        EchoRow{
            "EchoInPiecesThenRequest", true, {head(reply, 3), tail(reply, 3), request}, true, 1},
        EchoRow{"EchoAndRequestSplitInside",
                true,
                {cat({reply, head(request, 2)}), tail(request, 2)},
                true,
                1},
        // The option on, but the adapter returns nothing: the request starts
        // like our reply ("01 03") and is input from where it differs.
        EchoRow{"NoEchoComesRequestKept", true, {request}, true, 0},
        EchoRow{"NoEchoPrefixHeldAcrossReads", true, {head(request, 2), tail(request, 2)}, true, 0},
        // The longest reply's echo and a request in one piece: more than any
        // request, yet nothing of the request is lost.
        EchoRow{"LongEchoAndRequestAtOnce", true, {cat({longReply, request})}, true, 1, true},
        // A corrupted echo is input: its bytes from the differing one on are not ours.
        EchoRow{"BadEchoIsInput",
                true,
                {cat({head(reply, 4), Bytes{0x55}, tail(reply, 5), request})},
                false,
                0}),
    [](const auto &Info) { return std::string(Info.param.Label); });

} // namespace
