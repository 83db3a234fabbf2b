// SPDX-License-Identifier: MIT
// TStreamWriter never makes its caller wait for the reader: rows go out in
// order while the reader reads, are dropped and counted while it does not,
// and Close ends in a bounded time whatever the reader does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

#include "platform/streamwriter.h"

namespace quorlin
{
namespace
{

// Rows of one length, so a count of bytes is a count of rows.
std::string row(int I)
{
    std::string n = std::to_string(I);
    return "row " + std::string(6 - n.size(), '0') + n + std::string(90, '.') + "\r\n";
}

// Everything the pipe holds now, without waiting.
std::string drain(int Fd)
{
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(Fd, buf, sizeof buf)) > 0;)
        out.append(buf, size_t(n));
    return out;
}

struct Pipe {
    int Fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(Fd, O_CLOEXEC), 0); }
    ~Pipe()
    {
        for (int f : Fd)
            if (f >= 0)
                ::close(f);
    }
};

TEST(StreamWriter, RowsReachAReaderInOrder)
{
    Pipe p;
    std::string got;
    std::thread reader([&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(p.Fd[0], buf, sizeof buf)) > 0;)
            got.append(buf, size_t(n));
    });
    std::string sent;
    {
        TStreamWriter writer(p.Fd[1], true);
        p.Fd[1] = -1; // the writer closes it, which ends the reader
        for (int i = 0; i < 5000; ++i) {
            sent += row(i);
            // A reader that keeps up may still lag: retry what is dropped.
            while (!writer.Write(row(i)))
                std::this_thread::yield();
        }
        EXPECT_TRUE(writer.Close(std::chrono::seconds(30)));
        EXPECT_FALSE(writer.Failed());
    }
    reader.join();
    EXPECT_EQ(got, sent);
}

// The case that froze the window: a pipe nobody reads. Writing goes on at
// once, rows beyond the bound are dropped and counted, and Close returns.
TEST(StreamWriter, AReaderThatStopsCostsRowsNotTime)
{
    Pipe p;
    ::fcntl(p.Fd[0], F_SETFL, O_NONBLOCK);
    constexpr size_t Bound = 16 * 1024;
    TStreamWriter writer(p.Fd[1], false, Bound);
    // Until the pipe is full; the writer thread may lag the loop meanwhile.
    int rows = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (pollfd room = {p.Fd[1], POLLOUT, 0}; ::poll(&room, 1, 0) == 1;) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        writer.Write(row(rows++));
        if (rows % 64 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Now every row only waits in the queue, and past its bound is dropped.
    const uint64_t droppedBefore = writer.Dropped();
    for (int i = 0; i < 1000; ++i)
        writer.Write(row(rows++));
    // The queue holds Bound bytes, and the writer may yet take one row out
    // of it to wait on the pipe with.
    EXPECT_GE(writer.Dropped() - droppedBefore, uint64_t(1000 - Bound / row(0).size() - 1));
    EXPECT_FALSE(writer.Close(std::chrono::milliseconds(100))) << "rows were left";
    EXPECT_FALSE(writer.Write(row(0))) << "nothing is taken after Close";
    EXPECT_FALSE(writer.Failed()) << "a slow reader is no failure";
    const std::string inPipe = drain(p.Fd[0]);
    EXPECT_EQ(inPipe.substr(0, row(0).size()), row(0));
    EXPECT_EQ(inPipe.size() % row(0).size(), 0u) << "a row was cut";
    EXPECT_EQ(writer.Dropped() + inPipe.size() / row(0).size(), uint64_t(rows))
        << "every row is either in the pipe or counted as dropped";
}

TEST(StreamWriter, AReaderThatLeavesIsAFailure)
{
    std::signal(SIGPIPE, SIG_IGN);
    Pipe p;
    ::close(p.Fd[0]);
    p.Fd[0] = -1;
    TStreamWriter writer(p.Fd[1], false); // SIGPIPE is ignored by the program, as here
    writer.Write(row(0));
    // The writer's thread finds out when it next runs: a generous bound.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!writer.Failed() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(writer.Failed());
    EXPECT_FALSE(writer.Write(row(1)));
    EXPECT_FALSE(writer.Close(std::chrono::milliseconds(100)));
}

} // namespace
} // namespace quorlin
