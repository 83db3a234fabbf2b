// SPDX-License-Identifier: MIT
// The serial device on pty pairs: properties and their defaults, what reaches
// the line, which writes reach the port at all (counted through the system
// call seam), Read/Write/purge semantics and the handler dispatch.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <cstdlib>
#include <fstream>

#include "serial/commeventthread.h"
#include "platform/portaccess.h"
#include "serial/commint.h"
#include "tests/platform/serial/termios2probe.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using quorlin::testing::CountingSysApi;
using quorlin::testing::PtyPair;
using quorlin::testing::queued;

namespace
{

termios attrs(int fd)
{
    termios t{};
    ::tcgetattr(fd, &t);
    return t;
}

void setAttrs(int fd, tcflag_t iflagOn, tcflag_t cflagOn)
{
    termios t = attrs(fd);
    t.c_iflag |= iflagOn;
    t.c_cflag |= cflagOn;
    ::tcsetattr(fd, TCSANOW, &t);
}

bool waitQueued(int fd, int Count)
{
    return QTest::qWaitFor([&] { return queued(fd) >= Count; }, 5000);
}

constexpr uint32_t optionBits = DcbFlags::fParity | DcbFlags::fDsrSensitivity |
                                DcbFlags::fTXContinueOnXoff | DcbFlags::fErrorChar |
                                DcbFlags::fNull;

class CommOnPty : public quorlin::testing::CommFixture
{
  protected:
    void openPort()
    {
        comm.Open();
        ASSERT_TRUE(comm.IsOpen()) << comm.LastOpenError().Message;
        api.reset();
    }
    // Line-state writes made by this (the user-interface) thread.
    int setStateCalls() const
    {
        int n = 0;
        for (const auto &c : api.calls())
            n += c.Thread == std::this_thread::get_id() && c.Name == "ioctl" &&
                 quorlin::testing::isSetTermios2(c.Request);
        return n;
    }
};

} // namespace

TEST(CommDefaults, InitialValuesOfEveryProperty)
{
    TComm comm;
    EXPECT_EQ(comm.DeviceName(), "Com2");
    EXPECT_EQ(comm.ReadTimeout(), 1000);
    EXPECT_EQ(comm.WriteTimeout(), 1000);
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.MonitorEvents(), 0x1FF);
    EXPECT_EQ(comm.BaudRate(), br9600);
    EXPECT_EQ(comm.Parity(), paNone);
    EXPECT_EQ(comm.Stopbits(), sb10);
    EXPECT_EQ(comm.Databits(), da8);
    EXPECT_EQ(comm.Options(), 0);
    EXPECT_EQ(comm.FlowControl(), fcDefault);
    EXPECT_EQ(comm.EventChars().XonChar(), 17);
    EXPECT_EQ(comm.EventChars().XoffChar(), 19);
    EXPECT_EQ(comm.EventChars().ErrorChar(), 0);
    EXPECT_EQ(comm.EventChars().EofChar(), 0);
    EXPECT_EQ(comm.EventChars().EvtChar(), 0);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(comm.OnRxChar || comm.OnError || comm.OnBreak || comm.OnCts || comm.OnDsr ||
                 comm.OnRing || comm.OnRlsd || comm.OnRxFlag || comm.OnTxEmpty);
    EXPECT_NE(comm.IniPath().find("quorlin.ini"), std::string::npos);
}

// ---- the device control block ----------------------------------------------

TEST_F(CommOnPty, NoFlowControlWritesAFlagsWordOfExactlyOne)
{
    setAttrs(pty.slave(), IXON | IXOFF | INPCK, CRTSCTS);
    comm.SetFlowControl(fcNone);
    openPort();
    EXPECT_EQ(comm.Dcb().Flags, 1u);
    const termios t = attrs(pty.slave());
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

TEST_F(CommOnPty, DefaultFlowKeepsHandshakeReadBackAndClearsTheOptionBits)
{
    setAttrs(pty.slave(), IXON | IXOFF | INPCK, CRTSCTS);
    ASSERT_EQ(comm.FlowControl(), fcDefault);
    openPort();
    const uint32_t handshake =
        DcbFlags::fOutX | DcbFlags::fInX | DcbFlags::fOutxCtsFlow | DcbFlags::RtsControlHandshake;
    EXPECT_EQ(comm.Dcb().Flags & handshake, handshake);
    EXPECT_EQ(comm.Dcb().Flags & optionBits, 0u) << "the port's fParity is cleared too";
    const termios t = attrs(pty.slave());
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(t.c_cflag & CRTSCTS, tcflag_t(CRTSCTS));
    EXPECT_EQ(t.c_iflag & INPCK, 0u);
}

struct FlowRow {
    const char *Label;
    TFlowControl Flow;
    uint32_t Added;
};

class CommFlow : public CommOnPty, public ::testing::WithParamInterface<FlowRow>
{
};

TEST_P(CommFlow, HandshakeBitsAreOredIntoWhatThePortHad)
{
    setAttrs(pty.slave(), IXON, 0); // the port already sends XON/XOFF
    comm.SetFlowControl(GetParam().Flow);
    openPort();
    const uint32_t f = comm.Dcb().Flags;
    EXPECT_EQ(f & GetParam().Added, GetParam().Added);
    EXPECT_TRUE(f & DcbFlags::fOutX) << "nothing is cleared first";
    EXPECT_TRUE(f & DcbFlags::fBinary);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommFlow,
    ::testing::Values(
        // RTS and DTR read back as ENABLE (1): OR-ing the handshake (2) gives 3.
        FlowRow{"Cts", fcCTS, DcbFlags::fOutxCtsFlow | DcbFlags::fRtsControlMask},
        FlowRow{"Dtr", fcDTR, DcbFlags::fOutxDsrFlow | DcbFlags::fDtrControlMask},
        FlowRow{"Software", fcSoftware, DcbFlags::fOutX | DcbFlags::fInX}),
    [](const auto &info) { return std::string(info.param.Label); });

struct OptionRow {
    const char *Label;
    TCommOption Option;
    uint32_t Bit;
};

class CommOption : public CommOnPty, public ::testing::WithParamInterface<OptionRow>
{
};

TEST_P(CommOption, SetsItsBitAloneWhateverTheFlowControl)
{
    comm.SetFlowControl(fcNone);
    comm.SetOptions(commOptions({GetParam().Option}));
    openPort();
    EXPECT_EQ(comm.Dcb().Flags, DcbFlags::fBinary | GetParam().Bit);
    EXPECT_EQ((attrs(pty.slave()).c_iflag & INPCK) != 0, GetParam().Option == coParityCheck);
}

INSTANTIATE_TEST_SUITE_P(Table, CommOption,
                         ::testing::Values(OptionRow{"ParityCheck", coParityCheck, 2},
                                           OptionRow{"DsrSensitivity", coDsrSensitivity, 64},
                                           OptionRow{"IgnoreXOff", coIgnoreXOff, 128},
                                           OptionRow{"ErrorChar", coErrorChar, 1024},
                                           OptionRow{"NullStrip", coNullStrip, 2048}),
                         [](const auto &info) { return std::string(info.param.Label); });

TEST_F(CommOnPty, LimitsAreAQuarterOfTheReadBuffer)
{
    openPort();
    EXPECT_EQ(comm.Dcb().XonLim, 1024);
    EXPECT_EQ(comm.Dcb().XoffLim, 1024);
    comm.Close();
    comm.SetReadBufSize(1001);
    openPort();
    EXPECT_EQ(comm.Dcb().XonLim, 250);
    EXPECT_EQ(comm.Dcb().XoffLim, 250);
}

TEST_F(CommOnPty, LineSettingsReachTheOpenPort)
{
    comm.SetFlowControl(fcNone);
    openPort();
    comm.SetBaudRate(br56000);
    EXPECT_EQ(quorlin::testing::probeSpeed(pty.slave()), 56000u);
    comm.SetStopbits(sb20);
    EXPECT_TRUE(attrs(pty.slave()).c_cflag & CSTOPB);
    comm.EventChars().SetXonChar(0x01);
    comm.EventChars().SetXoffChar(0x02);
    EXPECT_EQ(attrs(pty.slave()).c_cc[VSTART], 0x01);
    EXPECT_EQ(attrs(pty.slave()).c_cc[VSTOP], 0x02);
    EXPECT_EQ(comm.Dcb().BaudRate, 56000u);
    EXPECT_EQ(comm.Dcb().StopBits, 2);
}

TEST_F(CommOnPty, RefusedModeLeavesTheLineButKeepsTheProperty)
{
    openPort();
    comm.SetStopbits(sb20);
    ASSERT_TRUE(attrs(pty.slave()).c_cflag & CSTOPB);
    comm.SetStopbits(sb15); // no 1.5 stop bits on this platform
    EXPECT_EQ(comm.Stopbits(), sb15);
    EXPECT_TRUE(attrs(pty.slave()).c_cflag & CSTOPB);
    comm.SetDatabits(da4);
    EXPECT_EQ(comm.Databits(), da4);
    EXPECT_TRUE(comm.IsOpen());
}

// ---- which writes reach the port -----------------------------------------

struct SetterRow {
    const char *Label;
    std::function<void(TComm &)> SetSame, SetNew;
    int NewCalls; // line-state writes a new value makes on an open port
};

class CommSetter : public CommOnPty, public ::testing::WithParamInterface<SetterRow>
{
};

TEST_P(CommSetter, UnchangedValueMakesNoCallAndANewOneOnlyItsOwn)
{
    openPort();
    GetParam().SetSame(comm);
    EXPECT_EQ(api.countHere(), 0) << "an unchanged value must not reach the port";
    GetParam().SetNew(comm);
    EXPECT_EQ(setStateCalls(), GetParam().NewCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommSetter,
    ::testing::Values(SetterRow{"BaudRate", [](TComm &c) { c.SetBaudRate(br9600); },
                                [](TComm &c) { c.SetBaudRate(br19200); }, 1},
                      SetterRow{"Parity", [](TComm &c) { c.SetParity(paNone); },
                                [](TComm &c) { c.SetParity(paEven); }, 1},
                      SetterRow{"Stopbits", [](TComm &c) { c.SetStopbits(sb10); },
                                [](TComm &c) { c.SetStopbits(sb20); }, 1},
                      SetterRow{"Databits", [](TComm &c) { c.SetDatabits(da8); },
                                [](TComm &c) { c.SetDatabits(da7); }, 1},
                      SetterRow{"Options", [](TComm &c) { c.SetOptions(0); },
                                [](TComm &c) { c.SetOptions(commOptions({coNullStrip})); }, 1},
                      SetterRow{"FlowControl", [](TComm &c) { c.SetFlowControl(fcDefault); },
                                [](TComm &c) { c.SetFlowControl(fcSoftware); }, 1},
                      // Stored for the next Open or the next transfer: never a call.
                      SetterRow{"DeviceName", [](TComm &c) { c.SetDeviceName(c.DeviceName()); },
                                [](TComm &c) { c.SetDeviceName("COM3"); }, 0},
                      SetterRow{"MonitorEvents",
                                [](TComm &c) { c.SetMonitorEvents(c.MonitorEvents()); },
                                [](TComm &c) { c.SetMonitorEvents(AllCommEvents); }, 0},
                      SetterRow{"ReadBufSize", [](TComm &c) { c.SetReadBufSize(4096); },
                                [](TComm &c) { c.SetReadBufSize(8192); }, 0},
                      SetterRow{"WriteBufSize", [](TComm &c) { c.SetWriteBufSize(2048); },
                                [](TComm &c) { c.SetWriteBufSize(1024); }, 0},
                      SetterRow{"ReadTimeout", [](TComm &c) { c.SetReadTimeout(1000); },
                                [](TComm &c) { c.SetReadTimeout(5); }, 0},
                      SetterRow{"WriteTimeout", [](TComm &c) { c.SetWriteTimeout(1000); },
                                [](TComm &c) { c.SetWriteTimeout(5); }, 0}),
    [](const auto &info) { return std::string(info.param.Label); });

TEST_F(CommOnPty, EventCharacterWritesAlwaysUpdateTheLine)
{
    openPort();
    comm.EventChars().SetXonChar(17); // unchanged, still stored and applied
    EXPECT_EQ(setStateCalls(), 1);
    comm.EventChars().SetEvtChar(0);
    EXPECT_EQ(setStateCalls(), 2);
}

TEST_F(CommOnPty, AssigningEventCharsCopiesWithoutTouchingThePort)
{
    openPort();
    TCommEventChars other;
    other.SetXonChar(1);
    other.SetXoffChar(2);
    other.SetErrorChar(3);
    other.SetEofChar(4);
    other.SetEvtChar(5);
    comm.EventChars() = other;
    EXPECT_EQ(api.countHere(), 0);
    EXPECT_EQ(comm.EventChars().XonChar(), 1);
    EXPECT_EQ(comm.EventChars().EvtChar(), 5);
    EXPECT_EQ(attrs(pty.slave()).c_cc[VSTART], 17) << "applied only by the next update";
}

TEST_F(CommOnPty, SettingsMadeWhileClosedCallNothingAndOpenAppliesThem)
{
    comm.SetBaudRate(br128000);
    comm.SetStopbits(sb20);
    comm.PurgeIn();
    comm.PurgeOut();
    comm.Close();
    EXPECT_EQ(api.calls().size(), 0u);
    openPort();
    EXPECT_EQ(quorlin::testing::probeSpeed(pty.slave()), 128000u);
    EXPECT_TRUE(attrs(pty.slave()).c_cflag & CSTOPB);
}

// ---- transfers --------------------------------------------------------------

TEST_F(CommOnPty, ReadAboveTheQueueReturnsAtOnceWithWhatIsThere)
{
    comm.SetReadTimeout(10 * 60 * 1000); // a read that waited would hang the test
    openPort();
    uint8_t buf[256];
    EXPECT_EQ(comm.Read(buf, sizeof buf), 0);
    ASSERT_TRUE(pty.send({0x01, 0x03, 0x00}));
    ASSERT_TRUE(waitQueued(pty.slave(), 3));
    EXPECT_EQ(comm.Read(buf, sizeof buf), 3);
    EXPECT_EQ(buf[0], 0x01);
    EXPECT_EQ(buf[2], 0x00);
}

TEST_F(CommOnPty, WriteReachesTheFarEnd)
{
    openPort();
    const uint8_t reply[] = {0x01, 0x06, 0x00, 0x01, 0x00, 0x03, 0x98, 0x0B};
    EXPECT_EQ(comm.Write(reply, sizeof reply), 8);
    EXPECT_EQ(pty.receive(8, 2000), std::vector<uint8_t>(reply, reply + 8));
}

TEST_F(CommOnPty, PurgeInEmptiesTheInputQueue)
{
    openPort();
    ASSERT_TRUE(pty.send({1, 2, 3, 4}));
    ASSERT_TRUE(waitQueued(pty.slave(), 4));
    comm.PurgeIn();
    EXPECT_EQ(queued(pty.slave()), 0);
}

TEST(CommClosed, ReadAndWriteFailAfterTheirTimeOut)
{
    CountingSysApi api;
    TComm comm;
    comm.SetSysApi(api);
    comm.SetReadTimeout(40);
    comm.SetWriteTimeout(60);
    uint8_t buf[8] = {};
    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    EXPECT_EQ(comm.Read(buf, 8), -1);
    auto t1 = Clock::now();
    EXPECT_EQ(comm.Write(buf, 8), -1);
    auto t2 = Clock::now();
    EXPECT_GE(t1 - t0, std::chrono::milliseconds(40));
    EXPECT_GE(t2 - t1, std::chrono::milliseconds(60));
    EXPECT_EQ(api.calls().size(), 0u);
}

// ---- opening ----------------------------------------------------------------

namespace
{

// A quorlin.ini of the test's own, removed with its directory afterwards.
class IniFile
{
  public:
    explicit IniFile(const std::string &Text) { std::ofstream(path()) << Text; }
    bool ok() const { return m_dir.isValid(); }
    std::string path() const { return m_dir.filePath(QStringLiteral("quorlin.ini")).toStdString(); }

  private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(CommOpen, MissingPortStaysClosedWithoutAWatcher)
{
    IniFile ini("[Ports]\nCOM2=/dev/quorlin-no-such-port\n");
    ASSERT_TRUE(ini.ok());
    const int watchers = TCommEventThread::Running();
    TComm comm;
    comm.SetIniPath(ini.path());
    comm.Open(); // DeviceName is still "Com2"
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.LastOpenError().Code, ENOENT);
    EXPECT_NE(comm.LastOpenError().Message.find("/dev/quorlin-no-such-port"), std::string::npos);
    EXPECT_EQ(TCommEventThread::Running(), watchers);
}

TEST(CommOpen, ComNameIsMappedThroughThePortsSection)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    IniFile ini("[ports]\ncom2=" + pty.path() + "\n");
    ASSERT_TRUE(ini.ok());
    TComm comm;
    comm.SetIniPath(ini.path());
    comm.Open();
    EXPECT_TRUE(comm.IsOpen()) << comm.LastOpenError().Message;
    EXPECT_EQ(comm.DeviceName(), "Com2");
}

// A port refused for want of permission says which group to join, with the
// port's own group; any other failure says nothing of groups.
TEST(CommOpen, RefusedPortAdvisesTheGroupToJoin)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    struct Row {
        int Code;
        bool Advised;
    };
    for (const Row row : {Row{EACCES, true}, Row{EPERM, true}, Row{ENOENT, false}, Row{EBUSY, false}}) {
        CountingSysApi api;
        api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
            if (c.Name != "open")
                return std::nullopt;
            errno = row.Code;
            return -1;
        });
        TComm comm;
        comm.SetSysApi(api);
        comm.SetDeviceName(pty.path());
        comm.Open();
        ASSERT_FALSE(comm.IsOpen());
        EXPECT_EQ(comm.LastOpenError().Code, row.Code);
        const std::string advice = "; join the group " + DeviceGroup(pty.path()) + " (sudo adduser $USER ";
        EXPECT_EQ(comm.CloseReason().find(advice) != std::string::npos, row.Advised)
            << comm.CloseReason();
        EXPECT_EQ(comm.CloseReason().rfind("cannot open " + comm.PortLabel() + ": " +
                                               std::strerror(row.Code), 0),
                  0u)
            << comm.CloseReason();
    }
}

TEST(CommOpen, PortHeldByAnotherProcessStaysClosed)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
        char c = (fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
                     ? 'y'
                     : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    TComm comm;
    comm.SetDeviceName(pty.path());
    comm.Open();
    EXPECT_FALSE(comm.IsOpen());
    (void)!::write(release[1], &c, 1);
    ::waitpid(child, nullptr, 0);
    comm.Open();
    EXPECT_TRUE(comm.IsOpen());
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);
}

// ---- handler dispatch -------------------------------------------------------

class CommDispatch : public CommOnPty
{
  protected:
    void SetUp() override
    {
        CommOnPty::SetUp();
        // Watch for breaks only (a pty has none), so nothing else calls the handlers.
        comm.SetMonitorEvents(commEvents({evBreak}));
        auto note = [this](const char *name) {
            return [this, name](TCustomComm *Sender) {
                EXPECT_EQ(Sender, &comm);
                order.push_back(name);
            };
        };
        comm.OnBreak = note("Break");
        comm.OnCts = note("Cts");
        comm.OnDsr = note("Dsr");
        comm.OnRing = note("Ring");
        comm.OnRlsd = note("Rlsd");
        comm.OnRxFlag = note("RxFlag");
        comm.OnTxEmpty = note("TxEmpty");
        comm.OnError = [this](TCustomComm *Sender, int Errors) {
            EXPECT_EQ(Sender, &comm);
            EXPECT_EQ(Errors, 0);
            order.push_back("Error");
        };
        comm.OnRxChar = [this](TCustomComm *Sender, int Count) {
            EXPECT_EQ(Sender, &comm);
            order.push_back("RxChar " + std::to_string(Count));
        };
    }
    std::vector<std::string> order;
};

TEST_F(CommDispatch, AllNineInTheirFixedOrder)
{
    openPort();
    ASSERT_TRUE(pty.send({1, 2, 3}));
    ASSERT_TRUE(waitQueued(pty.slave(), 3));
    comm.HandleSignal(nullptr, 511);
    EXPECT_EQ(order, (std::vector<std::string>{"Break", "Cts", "Dsr", "Error", "Ring", "Rlsd",
                                               "RxChar 3", "RxFlag", "TxEmpty"}));
}

TEST_F(CommDispatch, ErrorComesBeforeReceivedCharacters)
{
    openPort();
    ASSERT_TRUE(pty.send({9, 9}));
    ASSERT_TRUE(waitQueued(pty.slave(), 2));
    comm.HandleSignal(nullptr, EV_RXCHAR | EV_ERR);
    EXPECT_EQ(order, (std::vector<std::string>{"Error", "RxChar 2"}));
}

TEST_F(CommDispatch, EmptyQueueCallsNoReceiveHandler)
{
    openPort();
    comm.HandleSignal(nullptr, EV_RXCHAR);
    EXPECT_TRUE(order.empty());
    comm.HandleSignal(nullptr, EV_RXCHAR | EV_CTS);
    EXPECT_EQ(order, (std::vector<std::string>{"Cts"}));
}

TEST_F(CommDispatch, ClosedPortCallsNoHandler)
{
    comm.HandleSignal(nullptr, 511);
    EXPECT_TRUE(order.empty());
}

TEST_F(CommDispatch, UnassignedHandlersAreSkipped)
{
    openPort();
    ASSERT_TRUE(pty.send({5}));
    ASSERT_TRUE(waitQueued(pty.slave(), 1));
    comm.OnError = nullptr;
    comm.OnBreak = nullptr;
    comm.HandleSignal(nullptr, EV_ERR | EV_BREAK | EV_RXCHAR);
    EXPECT_EQ(order, (std::vector<std::string>{"RxChar 1"}));
}
