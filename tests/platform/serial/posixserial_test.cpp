// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/posixserial.h"
#include "tests/platform/serial/termios2probe.h"
#include "tests/serial/countingsysapi.h"
#include "tests/serial/ptypair.h"

using namespace quorlin;
using quorlin::testing::CountingSysApi;
using quorlin::testing::PtyPair;

namespace
{

std::string makeTempDir()
{
    char tmpl[] = "/tmp/quorlin-serial-XXXXXX";
    const char *d = ::mkdtemp(tmpl);
    return d ? d : "";
}

termios attrs(int fd)
{
    termios t{};
    ::tcgetattr(fd, &t);
    return t;
}

int queued(int fd)
{
    int n = -1;
    ::ioctl(fd, FIONREAD, &n);
    return n;
}

// Waits (without guessing a time) until the line has Count bytes queued.
bool waitQueued(int fd, int Count)
{
    for (int i = 0; i < 2000; ++i) {
        if (queued(fd) >= Count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TDcb lineOf(uint32_t Baud, uint8_t Size, uint8_t Parity, uint8_t Stop)
{
    TDcb d;
    d.BaudRate = Baud;
    d.ByteSize = Size;
    d.Parity = Parity;
    d.StopBits = Stop;
    d.Flags = DcbFlags::fBinary;
    d.XonChar = 17;
    d.XoffChar = 19;
    return d;
}

// A fresh pseudo-terminal with the port under test open on it. The port's
// system calls go through api, which passes them on until a test hooks it.
template <class Base> class OpenPortOn : public Base
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        ASSERT_FALSE(port.Open(pty.path()));
    }
    CountingSysApi api;
    PtyPair pty;
    TPosixSerialPort port{api};
};
template <class Param> using OpenPortWith = OpenPortOn<::testing::TestWithParam<Param>>;

} // namespace

// ---- port names -----------------------------------------------------------

struct NameRow {
    const char *Label;
    const char *Name;
    const char *Expected;
};

class PortNames : public ::testing::TestWithParam<NameRow>
{
  protected:
    static void SetUpTestSuite()
    {
        dir = makeTempDir();
        std::ofstream(dir + "/quorlin.ini") << "[General]\nStayOnTop=0\n"
                                               "[Ports]\nCOM2=/dev/ttyUSB0\ncom5=/dev/pts/7\n";
    }
    static void TearDownTestSuite()
    {
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }
    static inline std::string dir;
};

TEST_P(PortNames, ResolveAsMapped)
{
    EXPECT_EQ(ResolvePortName(GetParam().Name, dir + "/quorlin.ini"), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PortNames,
    ::testing::Values(NameRow{"MappedUpper", "COM2", "/dev/ttyUSB0"},
                      NameRow{"MappedLower", "com2", "/dev/ttyUSB0"},
                      NameRow{"MappedMixed", "Com2", "/dev/ttyUSB0"},
                      NameRow{"KeyWrittenLowerCase", "COM5", "/dev/pts/7"},
                      NameRow{"UnmappedFirst", "COM1", "/dev/ttyS0"},
                      NameRow{"UnmappedThird", "COM3", "/dev/ttyS2"},
                      NameRow{"TwoDigits", "COM12", "/dev/ttyS11"},
                      NameRow{"AbsolutePath", "/dev/pts/3", "/dev/pts/3"},
                      NameRow{"ComZero", "COM0", ""}, NameRow{"NoNumber", "COM", ""},
                      NameRow{"LetterNumber", "COMX", ""}, NameRow{"Negative", "COM-1", ""},
                      NameRow{"Prefixed", "XCOM1", ""}, NameRow{"RelativeName", "ttyS0", ""},
                      NameRow{"Empty", "", ""}, NameRow{"HugeNumber", "COM99999999999", ""}),
    [](const auto &info) { return std::string(info.param.Label); });

TEST(PortNamesWithoutIni, FallBackToTtyS)
{
    EXPECT_EQ(ResolvePortName("COM2", "/nonexistent/dir/quorlin.ini"), "/dev/ttyS1");
    EXPECT_EQ(ResolvePortName("COM4", ""), "/dev/ttyS3");
}

// ---- open and close -------------------------------------------------------

TEST(PosixSerialOpen, PtyOpensInRawBinaryMode)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    termios cooked = attrs(pty.slave());
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= ICRNL;
    cooked.c_oflag |= OPOST;
    ::tcsetattr(pty.slave(), TCSANOW, &cooked);

    TPosixSerialPort port;
    ASSERT_FALSE(port.Open(pty.path())) << port.Fd();
    EXPECT_TRUE(port.IsOpen());
    termios t = attrs(pty.slave());
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & ICRNL, 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(::fcntl(port.Fd(), F_GETFL) & O_NONBLOCK, O_NONBLOCK);
    EXPECT_EQ(::fcntl(port.Fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

struct RefusedRow {
    const char *Label;
    std::string Path;
    int Code;
};

class PosixSerialRefused : public ::testing::TestWithParam<RefusedRow>
{
};

TEST_P(PosixSerialRefused, StaysClosedWithReason)
{
    TPosixSerialPort port;
    TSysError e = port.Open(GetParam().Path);
    EXPECT_EQ(e.Code, GetParam().Code) << e.Message;
    EXPECT_FALSE(port.IsOpen());
    if (!GetParam().Path.empty()) {
        EXPECT_NE(e.Message.find(GetParam().Path), std::string::npos) << e.Message;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PosixSerialRefused,
                         ::testing::Values(RefusedRow{"CharDeviceNotTerminal", "/dev/null", ENOTTY},
                                           RefusedRow{"RegularFile", "/proc/self/status", ENOTTY},
                                           RefusedRow{"Missing", "/dev/quorlin-no-such-port",
                                                      ENOENT},
                                           RefusedRow{"NoName", "", ENOENT}),
                         [](const auto &info) { return std::string(info.param.Label); });

TEST(PosixSerialOpen, SecondHolderIsRefusedUntilFirstCloses)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TPosixSerialPort first, second;
    ASSERT_FALSE(first.Open(pty.path()));
    // A watcher that is still ending keeps a duplicate of the descriptor.
    int lingering = ::dup(first.Fd());

    TSysError e = second.Open(pty.path());
    EXPECT_EQ(e.Code, EBUSY) << e.Message;
    EXPECT_FALSE(second.IsOpen());

    first.Close();
    EXPECT_FALSE(first.IsOpen());
    EXPECT_FALSE(second.Open(pty.path())) << "the next Open must not wait for the watcher";
    ::close(lingering);
}

TEST(PosixSerialOpen, CloseReleasesTheLockAndCloseOfClosedPortCallsNothing)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    CountingSysApi api;
    TPosixSerialPort port(api);
    ASSERT_FALSE(port.Open(pty.path()));
    port.Close();
    EXPECT_EQ(api.count("close"), 1);
    api.reset();
    port.Close();
    EXPECT_EQ(api.calls().size(), 0u);
    int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

// ---- line state -----------------------------------------------------------

class PosixSerialSpeed : public OpenPortWith<uint32_t>
{
};

TEST_P(PosixSerialSpeed, ReachesTheTerminalAndReadsBack)
{
    ASSERT_FALSE(port.SetCommState(lineOf(GetParam(), 8, NOPARITY, ONESTOPBIT)));
    EXPECT_EQ(quorlin::testing::probeSpeed(pty.slave()), GetParam());
    TDcb back;
    ASSERT_FALSE(port.GetCommState(back));
    EXPECT_EQ(back.BaudRate, GetParam());
}

INSTANTIATE_TEST_SUITE_P(EveryRateOfTheDevice, PosixSerialSpeed,
                         ::testing::Values(110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u,
                                           19200u, 38400u, 56000u, 57600u, 115200u, 128000u,
                                           256000u));

struct FrameRow {
    const char *Label;
    uint8_t Size, Parity, Stop;
    tcflag_t Set, Clear; // c_cflag bits expected set / cleared
    tcflag_t Csize;
};

class PosixSerialFrame : public OpenPortWith<FrameRow>
{
};

TEST_P(PosixSerialFrame, CharacterFormatIsRequestedFromTheTerminal)
{
    const FrameRow &r = GetParam();
    std::vector<unsigned> requested;
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        if (c.Name == "ioctl" && quorlin::testing::isSetTermios2(c.Request))
            requested.push_back(quorlin::testing::probeRequestCflag(c.Arg));
        return std::nullopt;
    });
    ASSERT_FALSE(port.SetCommState(lineOf(9600, r.Size, r.Parity, r.Stop)));
    ASSERT_EQ(requested.size(), 1u);
    const unsigned c = requested[0];
    EXPECT_EQ(c & r.Set, r.Set);
    EXPECT_EQ(c & r.Clear, 0u);
    EXPECT_EQ(c & CSIZE, r.Csize);
    // A pseudo-terminal keeps the stop bits (it forces 8 bits, no parity).
    EXPECT_EQ(attrs(pty.slave()).c_cflag & CSTOPB, r.Set & CSTOPB);
    TDcb back;
    ASSERT_FALSE(port.GetCommState(back));
    EXPECT_EQ(back.StopBits, r.Stop);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PosixSerialFrame,
    ::testing::Values(
        FrameRow{"EightNoneOne", 8, NOPARITY, ONESTOPBIT, 0, PARENB | CSTOPB | CMSPAR, CS8},
        FrameRow{"EightOddOne", 8, ODDPARITY, ONESTOPBIT, PARENB | PARODD, CMSPAR, CS8},
        FrameRow{"EightEvenTwo", 8, EVENPARITY, TWOSTOPBITS, PARENB | CSTOPB, PARODD | CMSPAR, CS8},
        FrameRow{"SevenMarkOne", 7, MARKPARITY, ONESTOPBIT, PARENB | CMSPAR | PARODD, 0, CS7},
        FrameRow{"SixSpaceOne", 6, SPACEPARITY, ONESTOPBIT, PARENB | CMSPAR, PARODD, CS6},
        FrameRow{"FiveNoneTwo", 5, NOPARITY, TWOSTOPBITS, CSTOPB, PARENB, CS5}),
    [](const auto &info) { return std::string(info.param.Label); });

struct RefusedLineRow {
    const char *Label;
    TDcb Dcb;
};

class PosixSerialRefusedLine : public OpenPortWith<RefusedLineRow>
{
};

TEST_P(PosixSerialRefusedLine, FailsAndLeavesTheLineAsItWas)
{
    ASSERT_FALSE(port.SetCommState(lineOf(19200, 8, EVENPARITY, ONESTOPBIT)));
    const termios before = attrs(pty.slave());
    TSysError e = port.SetCommState(GetParam().Dcb);
    EXPECT_EQ(e.Code, EINVAL);
    const termios after = attrs(pty.slave());
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(quorlin::testing::probeSpeed(pty.slave()), 19200u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PosixSerialRefusedLine,
    ::testing::Values(RefusedLineRow{"OneAndAHalfStopBits",
                                     lineOf(9600, 8, NOPARITY, ONE5STOPBITS)},
                      RefusedLineRow{"FourDataBits", lineOf(9600, 4, NOPARITY, ONESTOPBIT)},
                      RefusedLineRow{"NineDataBits", lineOf(9600, 9, NOPARITY, ONESTOPBIT)},
                      RefusedLineRow{"UnknownParity", lineOf(9600, 8, 5, ONESTOPBIT)},
                      RefusedLineRow{"UnknownStopBits", lineOf(9600, 8, NOPARITY, 3)},
                      RefusedLineRow{"ZeroSpeed", lineOf(0, 8, NOPARITY, ONESTOPBIT)}),
    [](const auto &info) { return std::string(info.param.Label); });

class PosixSerialFlags : public OpenPortOn<::testing::Test>
{
};

TEST_F(PosixSerialFlags, HandshakeAndParityCheckReachTermios)
{
    TDcb d = lineOf(9600, 8, NOPARITY, ONESTOPBIT);
    d.Flags = DcbFlags::fBinary | DcbFlags::fParity | DcbFlags::fOutX | DcbFlags::fInX |
              DcbFlags::fOutxCtsFlow;
    d.XonChar = 0x11 + 2;
    d.XoffChar = 0x13 + 2;
    ASSERT_FALSE(port.SetCommState(d));
    termios t = attrs(pty.slave());
    EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), tcflag_t(INPCK | IXON | IXOFF));
    EXPECT_EQ(t.c_cflag & CRTSCTS, tcflag_t(CRTSCTS));
    EXPECT_EQ(t.c_cc[VSTART], 0x13);
    EXPECT_EQ(t.c_cc[VSTOP], 0x15);

    d.Flags = DcbFlags::fBinary | DcbFlags::RtsControlHandshake; // RTS handshake alone
    ASSERT_FALSE(port.SetCommState(d));
    t = attrs(pty.slave());
    EXPECT_EQ(t.c_cflag & CRTSCTS, tcflag_t(CRTSCTS));
    EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), 0u);

    d.Flags = DcbFlags::fBinary;
    ASSERT_FALSE(port.SetCommState(d));
    EXPECT_EQ(attrs(pty.slave()).c_cflag & CRTSCTS, 0u);
}

TEST_F(PosixSerialFlags, FieldsWithoutTermiosCounterpartReadBackAsWritten)
{
    TDcb d = lineOf(9600, 8, NOPARITY, ONESTOPBIT);
    d.Flags = DcbFlags::fBinary | DcbFlags::fOutxDsrFlow | DcbFlags::DtrControlHandshake |
              DcbFlags::fDsrSensitivity | DcbFlags::fTXContinueOnXoff | DcbFlags::fErrorChar |
              DcbFlags::fNull | DcbFlags::RtsControlEnable;
    d.XonLim = 1024;
    d.XoffLim = 512;
    d.ErrorChar = '?';
    d.EofChar = 26;
    d.EvtChar = '\n';
    ASSERT_FALSE(port.SetCommState(d));
    TDcb back;
    ASSERT_FALSE(port.GetCommState(back));
    EXPECT_EQ(back, d);
}

TEST_F(PosixSerialFlags, StateSetByAnotherPartyIsReadBack)
{
    termios t = attrs(pty.slave());
    t.c_iflag |= IXON | IXOFF | INPCK;
    t.c_cflag |= CRTSCTS;
    ::tcsetattr(pty.slave(), TCSANOW, &t);
    TDcb back;
    ASSERT_FALSE(port.GetCommState(back));
    const uint32_t expected = DcbFlags::fOutX | DcbFlags::fInX | DcbFlags::fParity |
                              DcbFlags::fOutxCtsFlow | DcbFlags::RtsControlHandshake;
    EXPECT_EQ(back.Flags & expected, expected);
    EXPECT_EQ(back.Flags & DcbFlags::fBinary, DcbFlags::fBinary);
}

// ---- data -----------------------------------------------------------------

class PosixSerialData : public OpenPortOn<::testing::Test>
{
};

TEST_F(PosixSerialData, ReadReturnsAtOnceWithWhatIsQueued)
{
    uint8_t buf[100];
    EXPECT_EQ(port.Read(buf, sizeof buf), 0) << "empty queue";
    ASSERT_TRUE(pty.send({1, 2, 3, 4, 5}));
    ASSERT_TRUE(waitQueued(port.Fd(), 5));
    EXPECT_EQ(port.Read(buf, sizeof buf), 5);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(port.Read(buf, 0), 0);
    EXPECT_EQ(port.Read(buf, -1), -1);
}

TEST(PosixSerialClosed, RefusesWithoutSystemCalls)
{
    CountingSysApi api;
    TPosixSerialPort port(api);
    uint8_t buf[4] = {};
    TSysError e;
    EXPECT_EQ(port.Read(buf, 4, &e), -1);
    EXPECT_EQ(e.Code, EBADF);
    EXPECT_EQ(port.Write(buf, 4, 10), -1);
    EXPECT_TRUE(port.Purge(PURGE_RXCLEAR));
    uint32_t errors;
    int inQueue;
    EXPECT_TRUE(port.ClearCommError(errors, inQueue));
    TDcb d;
    EXPECT_TRUE(port.GetCommState(d));
    EXPECT_TRUE(port.SetCommState(lineOf(9600, 8, 0, 0)));
    EXPECT_EQ(api.calls().size(), 0u);
}

TEST_F(PosixSerialData, InterruptedCallsAreRetried)
{
    int interrupts = 0;
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        if ((c.Name == "read" || c.Name == "write") && interrupts < 3) {
            ++interrupts;
            errno = EINTR;
            return -1;
        }
        return std::nullopt;
    });
    ASSERT_TRUE(pty.send({7, 8}));
    ASSERT_TRUE(waitQueued(port.Fd(), 2));
    uint8_t buf[8];
    EXPECT_EQ(port.Read(buf, 8), 2);
    EXPECT_EQ(port.Write(buf, 2, 100), 2);
    EXPECT_EQ(pty.receive(2, 1000), (std::vector<uint8_t>{7, 8}));
    EXPECT_GE(interrupts, 2);
}

TEST_F(PosixSerialData, WriteSendsEverythingOrTimesOut)
{
    const uint8_t reply[] = {0x01, 0x03, 0x02, 0x00, 0x2A, 0x38, 0x5B};
    EXPECT_EQ(port.Write(reply, sizeof reply, 1000), int(sizeof reply));
    EXPECT_EQ(pty.receive(sizeof reply, 1000), std::vector<uint8_t>(reply, reply + sizeof reply));

    // Nobody reads the far end: the terminal's queue fills and the write ends at its time-out.
    std::vector<uint8_t> flood(1 << 20, 0x55);
    bool timedOut = false;
    EXPECT_EQ(port.Write(flood.data(), int(flood.size()), 30, &timedOut), -1);
    EXPECT_TRUE(timedOut);
}

TEST_F(PosixSerialData, WriteFailingHalfWayIsAFailureNotATimeOut)
{
    int writes = 0;
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        if (c.Name != "write")
            return std::nullopt;
        if (++writes == 1)
            return 3; // the first three bytes leave
        errno = EIO;  // then the adapter goes away
        return -1;
    });
    const uint8_t frame[8] = {1, 3, 0, 0, 0, 10, 0xC5, 0xCD};
    bool timedOut = true;
    TSysError e;
    EXPECT_EQ(port.Write(frame, 8, 1000, &timedOut, &e), -1);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(e.Code, EIO);
    EXPECT_EQ(writes, 2);
}

TEST_F(PosixSerialData, PurgeEmptiesTheInputQueue)
{
    ASSERT_TRUE(pty.send({1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(waitQueued(port.Fd(), 6));
    uint32_t errors = 99;
    int inQueue = 0;
    ASSERT_FALSE(port.ClearCommError(errors, inQueue));
    EXPECT_EQ(inQueue, 6);
    EXPECT_EQ(errors, 0u);

    api.reset();
    EXPECT_FALSE(port.Purge(PURGE_TXABORT | PURGE_RXABORT)); // nothing to abort
    EXPECT_EQ(api.calls().size(), 0u);
    EXPECT_FALSE(port.Purge(PURGE_RXABORT | PURGE_RXCLEAR));
    EXPECT_EQ(api.countIoctl(TCFLSH), 1);
    ASSERT_FALSE(port.ClearCommError(errors, inQueue));
    EXPECT_EQ(inQueue, 0);
}

// ---- event waits ----------------------------------------------------------

class SerialEventWaiter : public OpenPortOn<::testing::Test>
{
};

TEST_F(SerialEventWaiter, ArrivalIsAnEventUnreadBytesAreNotAndStopEndsTheWait)
{
    TSerialEventWaiter waiter;
    ASSERT_FALSE(waiter.Attach(port.Fd(), EV_RXCHAR));
    EXPECT_EQ(waiter.Mask(), EV_RXCHAR);

    ASSERT_TRUE(pty.send({1, 2, 3}));
    uint32_t mask = 0;
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Events);
    EXPECT_EQ(mask, EV_RXCHAR);
    ASSERT_TRUE(waitQueued(port.Fd(), 3));

    // The handler read nothing: the same bytes are no new event.
    waiter.Delivered(false);
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Failed);
    ASSERT_TRUE(pty.send({4}));
    ASSERT_TRUE(waitQueued(port.Fd(), 4));
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Events);

    // A handler that took some bytes leaves the rest (and bytes that came
    // during its run) as new, even when the queue is as long as before.
    uint8_t buf[2];
    ASSERT_EQ(port.Read(buf, 2), 2);
    ASSERT_TRUE(pty.send({5, 6}));
    ASSERT_TRUE(waitQueued(port.Fd(), 4));
    waiter.Delivered(true);
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Events);
    port.Purge(PURGE_RXCLEAR);
    waiter.Delivered(true);

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        waiter.Signal();
    });
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Stopped);
    stopper.join();
    EXPECT_TRUE(waiter.BackOff(1000)) << "the stop signal stays set";
}

TEST_F(SerialEventWaiter, ATimeOutEndsAQuietWaitButNotOneWithBytesWaiting)
{
    TSerialEventWaiter waiter;
    ASSERT_FALSE(waiter.Attach(port.Fd(), EV_RXCHAR));
    uint32_t mask = 1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waiter.Wait(mask, 30), TSerialEventWaiter::TWait::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(mask, 0u);
    // Bytes already there are an event even with no time left.
    ASSERT_TRUE(pty.send({7}));
    ASSERT_TRUE(waitQueued(port.Fd(), 1));
    EXPECT_EQ(waiter.Wait(mask, 0), TSerialEventWaiter::TWait::Events);
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(SerialEventWaiter, HungUpLineFailsAndBackOffWaitsOnTheStopSignal)
{
    TSerialEventWaiter waiter;
    ASSERT_FALSE(waiter.Attach(port.Fd(), EV_RXCHAR | EV_ERR | EV_CTS));
    pty.closeMaster();
    uint32_t mask = 0;
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Failed);
    EXPECT_EQ(mask, 0u);
    EXPECT_FALSE(waiter.BackOff(5));
    waiter.Signal();
    EXPECT_TRUE(waiter.BackOff(1000));
}

TEST_F(SerialEventWaiter, WatchesItsOwnDescriptorThatOutlivesThePort)
{
    const int portFd = port.Fd();
    TSerialEventWaiter waiter(api);
    ASSERT_FALSE(waiter.Attach(portFd, EV_RXCHAR));
    port.Close();
    api.reset();
    ASSERT_TRUE(pty.send({9}));
    uint32_t mask = 0;
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Events);
    for (const auto &c : api.calls())
        if (c.Name == "ioctl" || c.Name == "poll") {
            EXPECT_NE(c.Fd, portFd) << "the waiter never uses the port's own descriptor";
        }
}

// Modem lines, error counters and the output queue are sampled; a pty has
// none of them, so the driver's answers come through the seam.
struct SampleRow {
    const char *Label;
    uint32_t Mask;
    unsigned long Request;
    std::function<void(void *Arg, bool Later)> Answer;
    uint32_t Expected;
};

class SerialEventSampling : public OpenPortWith<SampleRow>
{
};

TEST_P(SerialEventSampling, ChangeSinceTheLastSampleIsAnEvent)
{
    int asked = 0;
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        if (c.Name != "ioctl" || c.Request != GetParam().Request)
            return std::nullopt;
        GetParam().Answer(c.Arg, asked++ > 0); // the first answer is the baseline
        return 0;
    });
    TSerialEventWaiter waiter(api);
    ASSERT_FALSE(waiter.Attach(port.Fd(), GetParam().Mask));
    uint32_t mask = 0;
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Events);
    EXPECT_EQ(mask, GetParam().Expected);
}

namespace
{
auto modemLines(int Later)
{
    return [Later](void *Arg, bool later) { *static_cast<int *>(Arg) = later ? Later : 0; };
}
auto counter(int serial_icounter_struct::*Field)
{
    return [Field](void *Arg, bool later) {
        auto *c = static_cast<serial_icounter_struct *>(Arg);
        *c = {};
        c->*Field = later ? 1 : 0;
    };
}
} // namespace

INSTANTIATE_TEST_SUITE_P(
    Table, SerialEventSampling,
    ::testing::Values(
        SampleRow{"CtsChanged", EV_CTS | EV_RXCHAR, TIOCMGET, modemLines(TIOCM_CTS), EV_CTS},
        SampleRow{"DsrChanged", EV_DSR, TIOCMGET, modemLines(TIOCM_DSR), EV_DSR},
        SampleRow{"CarrierChanged", EV_RLSD, TIOCMGET, modemLines(TIOCM_CAR), EV_RLSD},
        SampleRow{"RingRose", EV_RING, TIOCMGET, modemLines(TIOCM_RNG), EV_RING},
        SampleRow{"OnlyMonitoredLines", EV_DSR, TIOCMGET, modemLines(TIOCM_CTS | TIOCM_DSR),
                  EV_DSR},
        SampleRow{"Break", EV_BREAK | EV_ERR, TIOCGICOUNT, counter(&serial_icounter_struct::brk),
                  EV_BREAK},
        SampleRow{"FramingError", EV_BREAK | EV_ERR, TIOCGICOUNT,
                  counter(&serial_icounter_struct::frame), EV_ERR},
        SampleRow{"Overrun", EV_ERR, TIOCGICOUNT, counter(&serial_icounter_struct::overrun),
                  EV_ERR},
        SampleRow{"OutputDrained", EV_TXEMPTY, TIOCOUTQ,
                  [](void *Arg, bool later) { *static_cast<int *>(Arg) = later ? 0 : 10; },
                  EV_TXEMPTY}),
    [](const auto &info) { return std::string(info.param.Label); });

TEST(PosixSerialErrors, FlagsRaiseOnceForErrorsCountedSinceTheLastQuery)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    CountingSysApi api;
    serial_icounter_struct counts{};
    api.setHook([&](const CountingSysApi::Call &c) -> std::optional<long> {
        if (c.Name != "ioctl" || c.Request != TIOCGICOUNT)
            return std::nullopt;
        *static_cast<serial_icounter_struct *>(c.Arg) = counts;
        return 0;
    });
    TPosixSerialPort port(api);
    ASSERT_FALSE(port.Open(pty.path()));
    counts.frame = 1;
    counts.overrun = 2;
    counts.brk = 1;
    uint32_t errors = 0;
    int inQueue = -1;
    ASSERT_FALSE(port.ClearCommError(errors, inQueue));
    EXPECT_EQ(errors, CE_FRAME | CE_OVERRUN | CE_BREAK);
    ASSERT_FALSE(port.ClearCommError(errors, inQueue));
    EXPECT_EQ(errors, 0u) << "cleared by the query";
    counts.parity = 1;
    counts.buf_overrun = 1;
    ASSERT_FALSE(port.ClearCommError(errors, inQueue));
    EXPECT_EQ(errors, CE_RXPARITY | CE_RXOVER);
    port.Close();
}
