// SPDX-License-Identifier: MIT
// quorlin-slave in Modbus ASCII behind a line that keeps time (timedline.h):
// a long request takes half a second to arrive, and silences inside a frame
// are real silences, so the time-out between characters is what decides.
#include <gtest/gtest.h>

#include <QProcess>
#include <modbus.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/serial/timedline.h"

using quorlin::testing::TimedLine;
using namespace std::chrono_literals;

namespace
{

QString harnessPath()
{
    const char *build = std::getenv("QUORLIN_BUILD_DIR");
    return QString::fromUtf8(build ? build : ".") + "/quorlin-slave";
}

// Reads what comes back up to LF, or until Limit passes.
std::string readReply(int Fd, std::chrono::milliseconds Limit)
{
    std::string reply;
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (reply.empty() || reply.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{Fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            break;
        char buf[600];
        const ssize_t n = ::read(Fd, buf, sizeof buf);
        if (n <= 0)
            break;
        reply.append(buf, size_t(n));
    }
    return reply;
}

// quorlin-slave, id 1, ASCII at 9600 bps 7E1 (ten bits a character).
class TimedAscii : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(line.ok());
        slave.setProgram(harnessPath());
        slave.setArguments({"--mode", "ascii", "--databits", "7", "--parity", "even",
                            QString::fromStdString(line.programPath())});
        slave.start();
        ASSERT_TRUE(slave.waitForStarted(5000)) << slave.errorString().toStdString();
        ASSERT_TRUE(slave.waitForReadyRead(5000));
    }
    void TearDown() override
    {
        slave.terminate();
        EXPECT_TRUE(slave.waitForFinished(5000));
        EXPECT_EQ(slave.exitCode(), 0);
    }
    void send(const std::string &Text)
    {
        ASSERT_EQ(::write(line.masterFd(), Text.data(), Text.size()), ssize_t(Text.size()));
    }

    TimedLine line{9600, 10};
    QProcess slave;
};

// 01 03 0000 0001: sum 05, LRC FB. The reply 01 03 02 0000: sum 06, LRC FA.
const std::string readOne = ":010300000001FB\r\n";
const std::string readOneReply = ":0103020000FA\r\n";

TEST_F(TimedAscii, LongestWriteTakesHalfASecondAndIsAnswered)
{
    // Function 16 of 123 registers, 511 characters: 532 ms on this line.
    // 01 10 0000 007B F6 + 246 zero bytes: sum 182, LRC 7E. Reply sum 8C, LRC 74.
    const auto start = std::chrono::steady_clock::now();
    send(":01100000007BF6" + std::string(492, '0') + "7E\r\n");
    EXPECT_EQ(readReply(line.masterFd(), 10s), ":01100000007B74\r\n");
    // The relay really paced it: no reply before the request could have arrived.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 511 * line.charTime());
}

struct GapRow {
    const char *Name;
    int GapMs; // silence held before the eighth character
    bool Answered;
};

class TimedAsciiGaps : public TimedAscii, public ::testing::WithParamInterface<GapRow>
{
};

TEST_P(TimedAsciiGaps, SilenceInsideAFrame)
{
    line.holdBefore(7, std::chrono::milliseconds(GetParam().GapMs));
    send(readOne);
    const std::string reply = readReply(line.masterFd(), 3s);
    EXPECT_EQ(reply, GetParam().Answered ? readOneReply : "");
    // Whatever became of it, the next frame is answered.
    send(readOne);
    EXPECT_EQ(readReply(line.masterFd(), 5s), readOneReply);
}

INSTANTIATE_TEST_SUITE_P(Rows, TimedAsciiGaps,
                         ::testing::Values(GapRow{"HalfASecondIsWaitedFor", 500, true},
                                           GapRow{"OneAndAHalfSecondsDropsTheFrame", 1500, false}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// RTU at 9600 bps 8E1 (eleven bits a character), with libmodbus as master:
// the longest write takes 292 ms on the line, far beyond the 100 ms a
// request once had to arrive in.
TEST(TimedRtu, LongestWriteAt9600EvenParityIsAnswered)
{
    TimedLine line(9600, 11);
    ASSERT_TRUE(line.ok());
    QProcess slave;
    slave.start(harnessPath(), {"--parity", "even", QString::fromStdString(line.programPath())});
    ASSERT_TRUE(slave.waitForStarted(5000));
    ASSERT_TRUE(slave.waitForReadyRead(5000));
    modbus_t *ctx = modbus_new_rtu(line.masterPath().c_str(), 9600, 'E', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(modbus_connect(ctx), 0);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 3, 0);
    uint16_t values[123];
    for (int i = 0; i < 123; ++i)
        values[i] = uint16_t(i * 515 + 1);
    EXPECT_EQ(modbus_write_registers(ctx, 0, 123, values), 123) << modbus_strerror(errno);
    uint16_t back[123] = {};
    EXPECT_EQ(modbus_read_registers(ctx, 0, 123, back), 123) << modbus_strerror(errno);
    EXPECT_EQ(std::vector<uint16_t>(back, back + 123), std::vector<uint16_t>(values, values + 123));
    modbus_close(ctx);
    modbus_free(ctx);
    slave.terminate();
    EXPECT_TRUE(slave.waitForFinished(5000));
}

} // namespace

namespace
{

// Reads up to Want bytes, or what came until Limit passed.
std::vector<uint8_t> readBytes(int Fd, size_t Want, std::chrono::milliseconds Limit)
{
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (got.size() < Want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{Fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
            break;
        uint8_t buf[64];
        const ssize_t n = ::read(Fd, buf, std::min(sizeof buf, Want - got.size()));
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

// Framing by silence at 1200 bps 8N1: a character takes 8.33 ms, so 1.5
// characters are 12.5 ms and 3.5 are 29.2 ms. A 20 ms pause inside a
// request lies between the two: a strict line drops the frame, a lenient
// one (framing by length) answers it.
struct SilenceRow {
    const char *Name;
    const char *Framing;
    int GapMs; // silence held before the fifth byte
    bool Answered;
};

class TimedSilence : public ::testing::TestWithParam<SilenceRow>
{
};

TEST_P(TimedSilence, PauseInsideARequest)
{
    const SilenceRow &row = GetParam();
    TimedLine line(1200, 10);
    ASSERT_TRUE(line.ok());
    QProcess slave;
    slave.start(harnessPath(), {"--baud", "1200", "--framing", row.Framing,
                                QString::fromStdString(line.programPath())});
    ASSERT_TRUE(slave.waitForStarted(5000));
    ASSERT_TRUE(slave.waitForReadyRead(5000));
    // 01 03 0000 0001: read holding register 0 of slave 1; its reply
    // 01 03 02 0000 with CRC B8 44.
    const std::vector<uint8_t> request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    const std::vector<uint8_t> reply = {0x01, 0x03, 0x02, 0x00, 0x00, 0xB8, 0x44};
    line.holdBefore(4, std::chrono::milliseconds(row.GapMs));
    ASSERT_EQ(::write(line.masterFd(), request.data(), request.size()), ssize_t(request.size()));
    EXPECT_EQ(readBytes(line.masterFd(), reply.size(), 1500ms),
              row.Answered ? reply : std::vector<uint8_t>{});
    // Whatever became of it, the next request is answered.
    ASSERT_EQ(::write(line.masterFd(), request.data(), request.size()), ssize_t(request.size()));
    EXPECT_EQ(readBytes(line.masterFd(), reply.size(), 3s), reply);
    slave.terminate();
    EXPECT_TRUE(slave.waitForFinished(5000));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TimedSilence,
    ::testing::Values(SilenceRow{"StrictDropsTwentyMsInside", "strict", 20, false},
                      SilenceRow{"LengthAnswersTwentyMsInside", "length", 20, true},
                      SilenceRow{"StrictAnswersAnUnbrokenRequest", "strict", 0, true},
                      // Past 3.5 characters the first part is a frame of its
                      // own, too short, and the rest another: neither answered.
                      SilenceRow{"StrictSplitsAtFortyMs", "strict", 40, false}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
