// SPDX-License-Identifier: MIT
// What timing every frame costs: two quorlin-slave processes, each writing
// its trace, one with the gap and turnaround columns (the default) and one
// without (--no-timing), on their own pty pairs, requests alternating between
// them. Printed: p50/p90/p99 of each and the p50 ratio (the goal: within
// 10 %). Times run from the last request byte written to the last reply byte
// read, in microseconds.
//
//   bench_serial_timing_cost [REQUESTS_PER_WORKLOAD]   (default 3000)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "bench/ptymaster.h"

extern char **environ;

namespace
{

using Clock = std::chrono::steady_clock;
using namespace quorlin::bench;

struct Slave {
    pid_t pid = -1;
    int out = -1;
    int master = -1, slave = -1;
};

bool start(Slave &S, std::vector<std::string> Argv)
{
    if (::openpty(&S.master, &S.slave, nullptr, nullptr, nullptr) != 0)
        return false;
    termios t{};
    ::tcgetattr(S.slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(S.slave, TCSANOW, &t);
    Argv.push_back(::ttyname(S.slave));
    int p[2];
    if (::pipe(p) != 0)
        return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    posix_spawn_file_actions_addclose(&fa, p[0]);
    std::vector<char *> args;
    for (auto &a : Argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    if (posix_spawn(&S.pid, args[0], &fa, nullptr, args.data(), environ) != 0)
        S.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(p[1]);
    S.out = p[0];
    std::string line;
    char c;
    pollfd pfd{S.out, POLLIN, 0};
    while (S.pid > 0 && ::poll(&pfd, 1, 5000) > 0 && ::read(S.out, &c, 1) == 1 && c != '\n')
        line += c;
    return line.find("ready") != std::string::npos;
}

void stop(Slave &S)
{
    if (S.pid > 0) {
        ::kill(S.pid, SIGTERM);
        ::waitpid(S.pid, nullptr, 0);
    }
    for (int fd : {S.out, S.master, S.slave})
        if (fd >= 0)
            ::close(fd);
}

double percentile(std::vector<double> V, double P)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    return V[std::min(V.size() - 1, size_t(std::ceil(double(V.size()) * P)) - 1)];
}

} // namespace

int main(int argc, char **argv)
{
    const int count = std::max(10, argc > 1 ? std::atoi(argv[1]) : 3000);
    Slave slaves[2];
    const char *names[2] = {"timed", "untimed"};
    if (!start(slaves[0], {QUORLIN_SLAVE_PATH, "--trace", "/dev/null"}) ||
        !start(slaves[1], {QUORLIN_SLAVE_PATH, "--trace", "/dev/null", "--no-timing"})) {
        std::fprintf(stderr, "quorlin-slave did not start\n");
        return 1;
    }
    std::vector<uint8_t> fc16 = {1, 0x10, 0, 0, 0, 100, 200};
    for (int i = 0; i < 200; ++i)
        fc16.push_back(uint8_t(i));
    struct Workload {
        const char *name;
        std::vector<uint8_t> request;
        size_t replyLen;
    } workloads[] = {{"fn3 x10 regs", RtuFrame({1, 3, 0, 0, 0, 10}), 25},
                     {"fn16 x100 regs", RtuFrame(fc16), 8}};
    std::printf("quorlin-slave writing its trace, with and without the timing columns, %d\n"
                "requests per workload and slave, alternating; microseconds.\n\n",
                count);
    std::printf("%-16s %-9s %9s %9s %9s %5s\n", "workload", "slave", "p50", "p90", "p99", "fail");
    std::vector<uint8_t> reply;
    for (const Workload &w : workloads) {
        std::vector<double> us[2];
        int failures[2] = {0, 0};
        const int warmup = std::max(20, count / 20);
        for (int i = 0; i < warmup + count; ++i)
            for (int k = 0; k < 2; ++k) {
                const int which = (i + k) % 2;
                const int fd = slaves[which].master;
                if (::write(fd, w.request.data(), w.request.size()) != ssize_t(w.request.size()))
                    return 1;
                const auto t0 = Clock::now();
                const bool ok = ReadReply(fd, reply, w.replyLen, 1000) && reply[1] == w.request[1];
                const double d = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
                if (!ok)
                    ::tcflush(fd, TCIOFLUSH);
                if (i < warmup)
                    continue;
                if (ok)
                    us[which].push_back(d);
                else
                    ++failures[which];
            }
        for (int k = 0; k < 2; ++k)
            std::printf("%-16s %-9s %9.1f %9.1f %9.1f %5d\n", w.name, names[k], percentile(us[k], 0.5),
                        percentile(us[k], 0.9), percentile(us[k], 0.99), failures[k]);
        std::printf("%-16s %-9s %9.3f\n", "", "p50 ratio", percentile(us[0], 0.5) / percentile(us[1], 0.5));
    }
    for (Slave &s : slaves)
        stop(s);
    return 0;
}
