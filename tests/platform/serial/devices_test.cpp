// SPDX-License-Identifier: MIT
// Lock files of serial devices and the list of devices a user can choose,
// in temporary folders: a fake /dev tree whose nodes are links to /dev/null
// (a real character device), and a lock folder of the test's own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>

#include "platform/lockfile.h"
#include "platform/posixserial.h"
#include "platform/serialdevices.h"
#include "tests/serial/ptypair.h"

using namespace quorlin;
namespace fs = std::filesystem;

namespace
{

class TempDir
{
  public:
    TempDir()
    {
        char tmpl[] = "/tmp/quorlin-devtest-XXXXXX";
        m_path = ::mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const std::string &path() const { return m_path; }
    std::string operator/(const std::string &Name) const { return m_path + "/" + Name; }

  private:
    std::string m_path;
};

std::string readFile(const std::string &Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string &Path, const std::string &Text)
{
    std::ofstream(Path, std::ios::binary) << Text;
}

// A PID that certainly names no process: a child that has ended and been reaped.
long deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// ---- what a lock file holds ----

struct PidRow {
    const char *Name;
    std::string Content;
    long Pid;
};

class LockPidRows : public ::testing::TestWithParam<PidRow>
{
};

TEST_P(LockPidRows, ContentGivesPid)
{
    EXPECT_EQ(ParseLockPid(GetParam().Content), GetParam().Pid);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LockPidRows,
    ::testing::Values(PidRow{"ten_right_aligned", "      4321\n", 4321},
                      PidRow{"bare_digits", "77", 77},
                      PidRow{"digits_then_name", "77 minicom\n", 77},
                      PidRow{"crlf", "  12\r\n", 12}, PidRow{"empty", "", 0},
                      PidRow{"letters", "pid\n", 0}, PidRow{"digits_then_letter", "12x\n", 0},
                      PidRow{"negative", "-12\n", 0}, PidRow{"eleven_digits", "12345678901\n", 0},
                      PidRow{"above_int", "9999999999\n", 0},
                      PidRow{"binary_four_bytes", std::string("\x39\x30\x00\x00", 4), 12345},
                      PidRow{"binary_zero", std::string(4, '\0'), 0}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(LockFile, ContentIsTenRightAlignedDigitsAndANewline)
{
    EXPECT_EQ(LockFileContent(4321), "      4321\n");
    EXPECT_EQ(ParseLockPid(LockFileContent(::getpid())), ::getpid());
}

TEST(LockFile, NameIsTheBaseNameOfTheDeviceBehindLinks)
{
    TempDir dir;
    quorlin::testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    fs::create_symlink(pty.path(), dir / "by-id-link");
    const std::string base = fs::path(pty.path()).filename();
    EXPECT_EQ(LockFileName(pty.path()), "LCK.." + base);
    EXPECT_EQ(LockFileName(dir / "by-id-link"), "LCK.." + base);
    EXPECT_EQ(LockFileName("/dev/ttyUSB0-not-there"), "LCK..ttyUSB0-not-there");
}

// ---- taking the lock ----

// What is in the lock folder before, and what Acquire makes of it.
struct LockRow {
    const char *Name;
    enum { None, Live, Dead, Garbage, Own } Before;
    bool Busy;        // Acquire refuses the device
    bool CreatesOurs; // the lock file then holds our PID and is removed by Release
};

class LockRows : public ::testing::TestWithParam<LockRow>
{
};

TEST_P(LockRows, AcquireHonoursLiveLocksAndReplacesStaleOnes)
{
    TempDir dir;
    quorlin::testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const std::string lock = dir / LockFileName(pty.path());
    std::string before;
    switch (GetParam().Before) {
    case LockRow::None:
        break;
    case LockRow::Live:
        before = LockFileContent(::getppid()); // the test runner's parent is alive
        break;
    case LockRow::Dead:
        before = LockFileContent(deadPid());
        break;
    case LockRow::Garbage:
        before = "not a pid\n";
        break;
    case LockRow::Own:
        before = LockFileContent(::getpid());
        break;
    }
    if (!before.empty())
        writeFile(lock, before);

    TDeviceLock taken;
    const TSysError e = taken.Acquire(pty.path(), {dir.path() + "/missing", dir.path()});
    EXPECT_EQ(bool(e), GetParam().Busy);
    if (GetParam().Busy) {
        EXPECT_EQ(e.Code, EBUSY);
        EXPECT_NE(e.Detail.find("in use by process " + std::to_string(::getppid())),
                  std::string::npos)
            << e.Detail;
        EXPECT_EQ(readFile(lock), before) << "another program's lock is left alone";
    }
    if (GetParam().CreatesOurs) {
        EXPECT_EQ(taken.Path(), lock);
        EXPECT_EQ(readFile(lock), LockFileContent(::getpid()));
        taken.Release();
        EXPECT_FALSE(fs::exists(lock));
    } else if (!GetParam().Busy) {
        taken.Release();
        EXPECT_EQ(readFile(lock), before) << "a lock this object did not make stays";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, LockRows,
                         ::testing::Values(LockRow{"no_lock", LockRow::None, false, true},
                                           LockRow{"live_process", LockRow::Live, true, false},
                                           LockRow{"dead_process", LockRow::Dead, false, true},
                                           LockRow{"garbage", LockRow::Garbage, false, true},
                                           LockRow{"our_own_pid", LockRow::Own, false, false}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// Many processes find the same stale lock at once: exactly one may take the
// device each round. Removing the stale lock without looking again let a
// late process delete the lock a faster one had just made, and both won.
TEST(LockFile, OneOfManyProcessesTakesAStaleLock)
{
    TempDir dir;
    const std::string device = "/dev/quorlin-test-no-such-tty";
    const std::string lock = dir / LockFileName(device);
    constexpr int Rounds = 200;
    constexpr int Children = 16;
    for (int round = 0; round < Rounds; ++round) {
        writeFile(lock, LockFileContent(deadPid()));
        int go[2], results[2], release[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(results), 0);
        ASSERT_EQ(::pipe(release), 0);
        std::vector<pid_t> children;
        for (int c = 0; c < Children; ++c) {
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::close(go[1]);
                ::close(results[0]);
                ::close(release[1]);
                char b;
                (void)!::read(go[0], &b, 1); // all start when the pipe closes
                TDeviceLock taken;
                const TSysError e = taken.Acquire(device, {dir.path()});
                const char verdict = !e && !taken.Path().empty() ? 'W' : e.Code == EBUSY ? 'B' : 'N';
                (void)!::write(results[1], &verdict, 1);
                (void)!::read(release[0], &b, 1); // hold the lock until all have tried
                ::_exit(0);
            }
            children.push_back(child);
        }
        ::close(go[0]);
        ::close(results[1]);
        ::close(release[0]);
        ::close(go[1]);
        std::string verdicts;
        char b;
        while (verdicts.size() < size_t(Children) && ::read(results[0], &b, 1) == 1)
            verdicts += b;
        ::close(release[1]);
        ::close(results[0]);
        for (pid_t child : children)
            ::waitpid(child, nullptr, 0);
        ASSERT_EQ(verdicts.size(), size_t(Children));
        ASSERT_EQ(std::count(verdicts.begin(), verdicts.end(), 'W'), 1)
            << "round " << round << ": " << verdicts;
        ASSERT_EQ(std::count(verdicts.begin(), verdicts.end(), 'B'), Children - 1) << verdicts;
    }
}

// A program that writes its lock in place may be seen before its PID is
// there; such a file is given a moment, while an old empty one is stale.
TEST(LockFile, ALockBeingWrittenIsWaitedForAndAnOldEmptyOneIsStale)
{
    TempDir dir;
    const std::string device = "/dev/quorlin-test-no-such-tty";
    const std::string lock = dir / LockFileName(device);
    writeFile(lock, "");
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int fd = ::open(lock.c_str(), O_WRONLY);
        const std::string text = LockFileContent(::getppid());
        (void)!::write(fd, text.data(), text.size());
        ::close(fd);
    });
    TDeviceLock first;
    const TSysError e = first.Acquire(device, {dir.path()});
    writer.join();
    EXPECT_EQ(e.Code, EBUSY) << "the half-made lock was taken for a stale one";
    EXPECT_EQ(readFile(lock), LockFileContent(::getppid()));

    writeFile(lock, "");
    const struct timespec old[2] = {{::time(nullptr) - 10, 0}, {::time(nullptr) - 10, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, lock.c_str(), old, 0), 0);
    TDeviceLock second;
    EXPECT_FALSE(second.Acquire(device, {dir.path()}));
    EXPECT_EQ(readFile(lock), LockFileContent(::getpid()));
}

TEST(LockFile, PortOpensOnlyWithoutALiveLockAndRemovesItsOwnOnClose)
{
    TempDir dir;
    quorlin::testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const std::string lock = dir / LockFileName(pty.path());
    writeFile(lock, LockFileContent(::getppid()));

    TPosixSerialPort port;
    port.SetLockDirs({dir.path()});
    TSysError e = port.Open(pty.path());
    EXPECT_EQ(e.Code, EBUSY);
    EXPECT_FALSE(port.IsOpen());

    writeFile(lock, LockFileContent(deadPid()));
    e = port.Open(pty.path());
    ASSERT_FALSE(e) << e.Message;
    EXPECT_EQ(readFile(lock), LockFileContent(::getpid()));
    port.Close();
    EXPECT_FALSE(fs::exists(lock));
}

// ---- the devices a user can choose ----

TEST(SerialDevices, FakeTreeListsAdaptersInOrderAndOnlyUartsAmongTtyS)
{
    TempDir root;
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_directories(root / "sys/class/tty/ttyS0");
    fs::create_directories(root / "sys/class/tty/ttyS1");
    for (const char *node : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyAMA0", "ttyS0", "ttyS1", "ttyS2",
                             "ttyS3", "ttyUSBx", "tty0", "ttyprintk", "console"})
        fs::create_symlink("/dev/null", root / (std::string("dev/") + node));
    writeFile(root / "dev/ttyUSB3", "a plain file is no device");
    fs::create_symlink("../../ttyUSB2", root / "dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
    fs::create_symlink("../../ttyUSB9", root / "dev/serial/by-id/usb-gone-if00-port0");
    writeFile(root / "sys/class/tty/ttyS0/type", "4\n"); // a 16550A
    writeFile(root / "sys/class/tty/ttyS1/type", "0\n"); // placeholder
    // ttyS2 and ttyS3 have no sysfs entry: the probe decides.
    std::vector<std::string> probed;
    TDeviceTree tree{root.path(), [&](const std::string &Path) {
                         probed.push_back(Path);
                         return Path == "/dev/ttyS3";
                     }};

    const std::vector<std::string> expected = {
        "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0",
        "/dev/ttyUSB2",
        "/dev/ttyUSB10",
        "/dev/ttyACM0",
        "/dev/ttyAMA0",
        "/dev/ttyS0",
        "/dev/ttyS3",
    };
    EXPECT_EQ(EnumerateSerialDevices(tree), expected);
    EXPECT_EQ(probed, (std::vector<std::string>{"/dev/ttyS2", "/dev/ttyS3"}));
}

TEST(SerialDevices, EmptyOrMissingTreeListsNothing)
{
    TempDir root;
    EXPECT_TRUE(EnumerateSerialDevices({root.path(), nullptr}).empty());
    EXPECT_TRUE(EnumerateSerialDevices({root / "nothing-here", nullptr}).empty());
}

TEST(SerialDevices, ThisMachineListsOnlyCharacterDevices)
{
    for (const std::string &path : EnumerateSerialDevices())
        EXPECT_TRUE(fs::is_character_file(path)) << path;
}

// ---- a line that is gone ----

TEST(SerialEventWaiterLoss, HungUpLineIsLostButAFailingWaitIsNot)
{
    quorlin::testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TSerialEventWaiter waiter;
    ASSERT_FALSE(waiter.Attach(pty.slave(), EV_RXCHAR));
    ASSERT_TRUE(pty.send({1}));
    uint32_t mask = 0;
    ASSERT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Events);
    waiter.Delivered(false);
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Failed);
    EXPECT_EQ(waiter.LostCode(), 0) << "unread bytes are no loss";
    pty.closeMaster();
    EXPECT_EQ(waiter.Wait(mask), TSerialEventWaiter::TWait::Failed);
    EXPECT_NE(waiter.LostCode(), 0);
}

} // namespace
