// SPDX-License-Identifier: MIT
// Serial latency of a Modbus RTU slave: this program owns a pty pair, starts
// a slave command on the slave side, and plays the master on the other. For
// each request it measures the time from the last request byte written to
// the last reply byte read. It runs quorlin-slave and, in the same run, a
// reference slave on libmodbus's server API, and prints both and their ratio.
//
//   bench_serial_latency [REQUESTS_PER_WORKLOAD]   (default 2000)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/ptymaster.h"

extern char **environ;

namespace
{

using Clock = std::chrono::steady_clock;
using namespace quorlin::bench;

struct Workload {
    const char *name;
    std::vector<uint8_t> request;
    size_t replyLen;
};

std::vector<Workload> workloads()
{
    std::vector<uint8_t> fc16 = {1, 0x10, 0, 0, 0, 100, 200};
    for (int i = 0; i < 100; ++i) {
        fc16.push_back(uint8_t(i >> 8));
        fc16.push_back(uint8_t(i));
    }
    return {
        {"fn3 x10 regs", RtuFrame({1, 3, 0, 0, 0, 10}), 5 + 20},
        {"fn3 x125 regs", RtuFrame({1, 3, 0, 0, 0, 125}), 5 + 250},
        {"fn1 x2000 coils", RtuFrame({1, 1, 0, 0, 0x07, 0xD0}), 5 + 250},
        {"fn16 x100 regs", RtuFrame(fc16), 8},
    };
}

struct Slave {
    pid_t pid = -1;
    int out = -1;
};

Slave launch(const std::vector<std::string> &argv)
{
    int p[2];
    if (::pipe(p) != 0)
        return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    posix_spawn_file_actions_addclose(&fa, p[0]);
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    Slave s;
    if (posix_spawn(&s.pid, args[0], &fa, nullptr, args.data(), environ) != 0)
        s.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(p[1]);
    s.out = p[0];
    // Wait for the ready line.
    std::string line;
    char c;
    pollfd pfd{s.out, POLLIN, 0};
    while (s.pid > 0 && ::poll(&pfd, 1, 5000) > 0 && ::read(s.out, &c, 1) == 1 && c != '\n')
        line += c;
    if (line.find("ready") == std::string::npos) {
        std::fprintf(stderr, "%s did not start (%s)\n", argv[0].c_str(), line.c_str());
        if (s.pid > 0)
            ::kill(s.pid, SIGTERM);
        s.pid = -1;
    }
    return s;
}

void stop(Slave &s)
{
    if (s.pid > 0) {
        ::kill(s.pid, SIGTERM);
        ::waitpid(s.pid, nullptr, 0);
    }
    if (s.out >= 0)
        ::close(s.out);
}

struct Result {
    double p50 = 0, p99 = 0, max = 0, rps = 0;
    int failures = 0;
};

struct Stats {
    std::vector<double> us;
    int failures = 0;
    double seconds = 0; // time spent in this slave's exchanges
};

// One request and its reply; false when the reply is missing or wrong.
bool exchange(int master, const Workload &w, std::vector<uint8_t> &reply, double &us)
{
    size_t done = 0;
    while (done < w.request.size()) {
        ssize_t n = ::write(master, w.request.data() + done, w.request.size() - done);
        if (n > 0)
            done += size_t(n);
    }
    const auto t0 = Clock::now();
    const bool ok = ReadReply(master, reply, w.replyLen, 1000) && reply[0] == w.request[0] &&
                    reply[1] == w.request[1];
    us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if (!ok)
        ::tcflush(master, TCIOFLUSH);
    return ok;
}

Result summarize(Stats &s)
{
    Result r;
    r.failures = s.failures;
    if (s.us.empty())
        return r;
    std::sort(s.us.begin(), s.us.end());
    r.p50 = s.us[s.us.size() / 2];
    r.p99 = s.us[std::min(s.us.size() - 1, size_t(std::ceil(double(s.us.size()) * 0.99)) - 1)];
    r.max = s.us.back();
    r.rps = double(s.us.size()) / s.seconds;
    return r;
}

struct Line {
    int master = -1, slave = -1;
    std::string path;
    Slave proc;
};

Line openLine()
{
    Line l;
    if (::openpty(&l.master, &l.slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    termios t{};
    ::tcgetattr(l.slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(l.slave, TCSANOW, &t);
    l.path = ::ttyname(l.slave);
    return l;
}

} // namespace

int main(int argc, char **argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (count < 10)
        count = 10;
    // Both slaves run at once, each on its own pty pair, and the requests
    // alternate between them, so the noise of a shared machine falls on both.
    Line lines[2] = {openLine(), openLine()};
    lines[0].proc = launch({QUORLIN_SLAVE_PATH, "--id", "1", lines[0].path});
    lines[1].proc = launch({QUORLIN_REFSLAVE_PATH, lines[1].path, "1"});
    if (lines[0].proc.pid < 0 || lines[1].proc.pid < 0)
        return 1;
    const char *names[2] = {"quorlin-slave", "libmodbus"};
    const auto ws = workloads();

    std::printf("Modbus RTU over a pty, %d requests per workload and slave, alternating;\n"
                "times from the last request byte written to the last reply byte read, in\n"
                "microseconds.\n\n",
                count);
    std::printf("%-16s %-14s %9s %9s %9s %9s %5s\n", "workload", "slave", "p50", "p99", "max",
                "req/s", "fail");
    std::vector<uint8_t> reply;
    for (const auto &w : ws) {
        Stats stats[2];
        const int warmup = std::max(20, count / 20);
        for (int i = 0; i < warmup + count; ++i) {
            for (int k = 0; k < 2; ++k) {
                const int which = (i + k) % 2; // alternate who goes first
                double us = 0;
                const auto t0 = Clock::now();
                const bool ok = exchange(lines[which].master, w, reply, us);
                if (i < warmup)
                    continue;
                stats[which].seconds += std::chrono::duration<double>(Clock::now() - t0).count();
                if (ok)
                    stats[which].us.push_back(us);
                else
                    ++stats[which].failures;
            }
        }
        Result r[2] = {summarize(stats[0]), summarize(stats[1])};
        for (int k = 0; k < 2; ++k)
            std::printf("%-16s %-14s %9.1f %9.1f %9.1f %9.0f %5d\n", w.name, names[k], r[k].p50,
                        r[k].p99, r[k].max, r[k].rps, r[k].failures);
        std::printf("%-16s %-14s %9.2f %9.2f %9.2f %9.2f\n", "", "ratio q/l", r[0].p50 / r[1].p50,
                    r[0].p99 / r[1].p99, r[0].max / r[1].max, r[0].rps / r[1].rps);
    }
    for (auto &l : lines) {
        stop(l.proc);
        ::close(l.master);
        ::close(l.slave);
    }
    return 0;
}
