// SPDX-License-Identifier: MIT
// The trace's timing columns and marks, through a line that keeps time
// (timedline.h): quorlin-slave at 1200 bps 8E1 (9167 us a character, so 3.5
// characters are 32 ms and 1.5 are 13.75 ms) writes its trace while a master
// sends requests back to back, after a pause, and with a pause inside one.
// What the master measured on its side of the line must agree with the
// trace within a millisecond.
#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/serial/timedline.h"

using quorlin::testing::TimedLine;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace
{

QString buildDir()
{
    const char *build = std::getenv("QUORLIN_BUILD_DIR");
    return QString::fromUtf8(build ? build : ".");
}

// RFC 4180 fields of one line (quotes undone).
std::vector<std::string> csvFields(const std::string &Line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < Line.size(); ++i) {
        const char c = Line[i];
        if (quoted) {
            if (c == '"' && i + 1 < Line.size() && Line[i + 1] == '"')
                fields.back() += Line[++i];
            else if (c == '"')
                quoted = false;
            else
                fields.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

struct Row {
    const char *What;
    Clock::duration HoldBefore; // silence before the request's first byte
    Clock::duration HoldInside; // silence before its fifth byte
    const char *Marks;          // what the trace's result must end with
};

const Row rows[] = {
    {"first", 0ms, 0ms, ""},
    {"back to back", 0ms, 0ms, ", too soon"},
    {"after 60 ms", 60ms, 0ms, ""},
    {"20 ms inside", 60ms, 20ms, ", gap inside"},
};

// 01 03 0000 0001, CRC 84 0A; its reply is 01 03 02 0000 and a CRC.
const std::vector<uint8_t> request = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
constexpr size_t replyLength = 7;

// One run of the rows: the trace's lines, and the line's own record.
struct TRun {
    std::vector<std::vector<std::string>> Trace;
    std::vector<TimedLine::ByteTimes> ToProgram, ToMaster;
    Clock::duration CharTime{};
};

void runRows(TRun &Out)
{
    TimedLine line(1200, 11);
    ASSERT_TRUE(line.ok());
    Out.CharTime = line.charTime();
    const QString tracePath =
        QStringLiteral("%1/timing-trace-%2.csv").arg(buildDir()).arg(qint64(::getpid()));
    QProcess slave;
    slave.start(buildDir() + "/quorlin-slave",
                {"--baud", "1200", "--parity", "even", "--trace", tracePath,
                 QString::fromStdString(line.programPath())});
    ASSERT_TRUE(slave.waitForStarted(5000));
    ASSERT_TRUE(slave.waitForReadyRead(5000));
    uint64_t sent = 0;
    for (const Row &row : rows) {
        if (row.HoldBefore > 0ms)
            line.holdBefore(sent, row.HoldBefore);
        if (row.HoldInside > 0ms)
            line.holdBefore(sent + 4, row.HoldInside);
        ASSERT_EQ(::write(line.masterFd(), request.data(), request.size()), ssize_t(request.size()));
        sent += request.size();
        size_t got = 0;
        const auto end = Clock::now() + 5s;
        while (got < replyLength && Clock::now() < end) {
            pollfd p{line.masterFd(), POLLIN, 0};
            uint8_t buf[64];
            if (::poll(&p, 1, 100) > 0)
                got += size_t(std::max<ssize_t>(0, ::read(line.masterFd(), buf, sizeof buf)));
        }
        ASSERT_EQ(got, replyLength) << row.What << ": answered, marked or not";
    }
    slave.terminate();
    ASSERT_TRUE(slave.waitForFinished(5000));
    std::ifstream in(tracePath.toStdString());
    std::string text;
    while (std::getline(in, text))
        Out.Trace.push_back(csvFields(text));
    std::remove(tracePath.toStdString().c_str());
    Out.ToProgram = line.toProgramTimes();
    Out.ToMaster = line.toMasterTimes();
}

int64_t us(Clock::duration D)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(D).count();
}

// The wire's own record against the trace, per row: the request ended when
// its last byte was delivered, the reply began when the program's first byte
// reached the line and ended when its last was due at the master, and a
// silence runs from there to the start (one character before delivery) of
// the next request. How far the trace's turnaround and gap are from it.
struct TDisagreement {
    int64_t Turnaround = 0;
    int64_t Gap = 0; // 0 for the first row, which has none
};

TDisagreement disagreement(const TRun &R, size_t I)
{
    const std::vector<std::string> &rx = R.Trace[1 + 2 * I];
    const std::vector<std::string> &tx = R.Trace[2 + 2 * I];
    TDisagreement d;
    const auto requestEnd = R.ToProgram[(I + 1) * request.size() - 1].Delivered;
    d.Turnaround = std::abs(std::stoll(tx.back()) - us(R.ToMaster[I * replyLength].Read - requestEnd));
    if (I > 0)
        d.Gap = std::abs(std::stoll(rx[rx.size() - 2]) -
                         us(R.ToProgram[I * request.size()].Delivered - R.CharTime -
                            R.ToMaster[I * replyLength - 1].Due));
    return d;
}

// A row whose relay or slave the machine held up for milliseconds says
// nothing of the program: the rows run again, up to twenty times, until each
// row has once agreed with the wire within a millisecond, and its marks are
// checked in the runs where it agreed. A wrong measurement disagrees every time.
TEST(TimedTrace, GapAndTurnaroundAgreeWithTheWireAndMarksAreSet)
{
    constexpr size_t n = std::size(rows);
    int64_t best[n][2];
    bool checked[n] = {};
    for (auto &b : best)
        b[0] = b[1] = INT64_MAX;
    auto done = [&] {
        for (size_t i = 0; i < n; ++i)
            if (!checked[i])
                return false;
        return true;
    };
    for (int attempt = 0; attempt < 20 && !done(); ++attempt) {
        TRun run;
        ASSERT_NO_FATAL_FAILURE(runRows(run));
        ASSERT_EQ(run.Trace.size(), 1 + 2 * n);
        const std::vector<std::string> &header = run.Trace[0];
        ASSERT_GE(header.size(), 2u);
        EXPECT_EQ(header[header.size() - 2], "gap_us");
        EXPECT_EQ(header.back(), "turnaround_us");
        ASSERT_EQ(run.ToProgram.size(), n * request.size());
        ASSERT_EQ(run.ToMaster.size(), n * replyLength);
        for (size_t i = 0; i < run.Trace.size(); ++i)
            ASSERT_EQ(run.Trace[i].size(), header.size()) << i;
        EXPECT_EQ(run.Trace[1][run.Trace[1].size() - 2], "") << "nothing came before the first frame";
        for (size_t i = 0; i < n; ++i) {
            const std::vector<std::string> &rx = run.Trace[1 + 2 * i];
            const std::vector<std::string> &tx = run.Trace[2 + 2 * i];
            EXPECT_EQ(rx[1], "RX");
            EXPECT_EQ(tx[tx.size() - 2], tx.back()) << "a reply's silence is its turnaround";
            const TDisagreement d = disagreement(run, i);
            best[i][0] = std::min(best[i][0], d.Turnaround);
            best[i][1] = std::min(best[i][1], d.Gap);
            if (d.Turnaround > 1000 || d.Gap > 1000)
                continue;
            EXPECT_EQ(rx[6], std::string("answered") + rows[i].Marks) << rows[i].What;
            checked[i] = true;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        EXPECT_LE(best[i][0], 1000) << rows[i].What << ": turnaround, microseconds off the wire";
        EXPECT_LE(best[i][1], 1000) << rows[i].What << ": gap, microseconds off the wire";
    }
}

} // namespace
