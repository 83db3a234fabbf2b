// SPDX-License-Identifier: MIT
// What watching the line costs.
//
// 1. Turnaround through the whole program: two copies of the installed
//    program run at once, each on its own pty; one plain, one with
//    --trace FILE and --monitor. Requests alternate between them, so the
//    noise of a shared machine falls on both; the p50 of each and their
//    ratio are printed (the goal: within 10 %).
// 2. Memory: the resident size of both programs after 100,000 rows more, and
//    the heap that 100,000 kept rows take in the recorder and the monitor's
//    model, measured in this process.
//
//   bench_traffic [REQUESTS_PER_WORKLOAD]   (default 3000)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "bench/ptymaster.h"
#include "engine/crc16.h"
#include "monitor/monitorform.h"
#include "monitor/traffic.h"

extern char **environ;

namespace
{

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace quorlin::bench;

std::vector<uint8_t> frame(std::vector<uint8_t> Pdu)
{
    const uint16_t c = quorlin::Crc16(Pdu.data(), Pdu.size());
    Pdu.push_back(uint8_t(c));
    Pdu.push_back(uint8_t(c >> 8));
    return Pdu;
}

struct Workload {
    const char *Name;
    std::vector<uint8_t> Request;
    size_t ReplyLen;
};

struct Instance {
    std::string Label;
    fs::path Dir;
    int Master = -1, Slave = -1;
    pid_t Pid = -1;
};

bool setUp(Instance &I, const std::vector<std::string> &Extra)
{
    char tmpl[] = "/tmp/quorlin-bench-XXXXXX";
    if (!::mkdtemp(tmpl))
        return false;
    I.Dir = tmpl;
    std::error_code ec;
    for (const char *f : {"quorlin", "scripts.dll"})
        fs::copy_file(fs::path(QUORLIN_PROGRAM_DIR) / f, I.Dir / f, ec);
    if (::openpty(&I.Master, &I.Slave, nullptr, nullptr, nullptr) != 0)
        return false;
    termios t{};
    ::tcgetattr(I.Master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(I.Master, TCSANOW, &t);
    std::ofstream(I.Dir / "quorlin.ini") << "[Ports]\nCOM2=" << ::ttyname(I.Slave) << "\n";

    std::vector<std::string> argv = {(I.Dir / "quorlin").string()};
    for (const std::string &e : Extra)
        argv.push_back(e);
    std::vector<char *> args;
    for (auto &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const bool ok = posix_spawn(&I.Pid, args[0], &fa, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    return ok;
}

bool exchange(int Master, const Workload &W, double &Us, int TimeoutMs = 1000)
{
    static std::vector<uint8_t> reply;
    if (::write(Master, W.Request.data(), W.Request.size()) != ssize_t(W.Request.size()))
        return false;
    const auto t0 = Clock::now();
    const bool ok = ReadReply(Master, reply, W.ReplyLen, TimeoutMs) && reply[1] == W.Request[1];
    Us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if (!ok) {
        ::usleep(150000); // let the program's time-out drop what it holds
        ::tcflush(Master, TCIOFLUSH);
    }
    return ok;
}

bool waitForAnswer(Instance &I, const Workload &W)
{
    for (int i = 0; i < 100; ++i) {
        double us;
        if (exchange(I.Master, W, us, 200))
            return true;
    }
    return false;
}

void stop(Instance &I)
{
    if (I.Pid > 0) {
        ::kill(I.Pid, SIGTERM);
        ::waitpid(I.Pid, nullptr, 0);
    }
    ::close(I.Master);
    ::close(I.Slave);
    std::error_code ec;
    fs::remove_all(I.Dir, ec);
}

long residentKiB(pid_t Pid)
{
    std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key)
        if (key == "VmRSS:" && status >> value)
            return value;
    return -1;
}

double percentile(std::vector<double> V, double P)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    return V[std::min(V.size() - 1, size_t(std::ceil(double(V.size()) * P)) - 1)];
}

size_t heapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd; // small blocks and the mmap-ed large ones
}

void rowMemory()
{
    using namespace quorlin;
    const std::vector<uint8_t> rx = frame({1, 3, 0, 0, 0, 10});
    std::vector<uint8_t> reply = {1, 3, 20};
    reply.resize(23, 0x42);
    reply = frame(reply);
    const size_t before = heapInUse();
    {
        TTrafficRecorder recorder;
        TFrameReport r;
        r.Rx = rx;
        r.Reply = reply;
        for (int i = 0; i < 60000; ++i) // 120,000 rows: the store is full and dropping
            recorder.FrameDone(r);
        const size_t storeBytes = heapInUse() - before;
        TTrafficModel model(recorder.Store);
        model.Sync();
        const size_t modelBytes = heapInUse() - before - storeBytes;
        std::printf(
            "\nMemory of %zu rows kept (%llu dropped), read of 10 registers and its "
            "reply:\n  store %.1f MiB (%.0f bytes a row), monitor model %.1f MiB more\n",
            recorder.Store.Size(), static_cast<unsigned long long>(recorder.Store.Dropped()),
            double(storeBytes) / 1048576.0, double(storeBytes) / double(recorder.Store.Size()),
            double(modelBytes) / 1048576.0);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const int count = std::max(50, argc > 1 ? std::atoi(argv[1]) : 3000);
    std::vector<uint8_t> fc16 = {1, 0x10, 0, 0, 0, 100, 200};
    fc16.resize(fc16.size() + 200, 0x11);
    const std::vector<Workload> workloads = {
        {"fn3 x10 regs", frame({1, 3, 0, 0, 0, 10}), 25},
        {"fn3 x125 regs", frame({1, 3, 0, 0, 0, 125}), 255},
        {"fn16 x100 regs", frame(fc16), 8},
    };

    // Both programs and this master on one CPU: on a shared machine a program
    // that lands on the busier core would otherwise decide the comparison.
    cpu_set_t one;
    CPU_ZERO(&one);
    const int cpu = std::max(0, sched_getcpu());
    CPU_SET(cpu, &one);
    const bool pinned = sched_setaffinity(0, sizeof one, &one) == 0; // inherited by both
    Instance inst[2];
    inst[0].Label = "plain";
    inst[1].Label = "trace+monitor";
    if (!setUp(inst[0], {}) ||
        !setUp(inst[1], {"--monitor", "--trace",
                         (fs::temp_directory_path() /
                          ("quorlin-bench-trace-" + std::to_string(::getpid()) + ".csv"))
                             .string()})) {
        std::fprintf(stderr, "cannot start the programs\n");
        return 1;
    }
    const std::string tracePath =
        (fs::temp_directory_path() / ("quorlin-bench-trace-" + std::to_string(::getpid()) + ".csv"))
            .string();
    for (Instance &i : inst)
        if (!waitForAnswer(i, workloads[0])) {
            std::fprintf(stderr, "%s never answered\n", i.Label.c_str());
            for (Instance &j : inst)
                stop(j);
            return 1;
        }

    std::printf("Whole program over a pty, %d requests per workload and program, alternating%s;\n"
                "microseconds from the last request byte written to the last reply byte read.\n\n",
                count, pinned ? ", all on one CPU" : "");
    std::printf("%-16s %-14s %9s %9s %5s\n", "workload", "program", "p50", "p99", "fail");
    bool within = true;
    for (const Workload &w : workloads) {
        std::vector<double> us[2];
        int failures[2] = {0, 0};
        // Warm up for a second: it spans several ticks, so each program has
        // shown, traced and repainted before anything is counted.
        for (const auto end = Clock::now() + std::chrono::seconds(1); Clock::now() < end;)
            for (Instance &in : inst) {
                double t;
                exchange(in.Master, w, t);
            }
        for (int i = 0; i < count; ++i)
            for (int k = 0; k < 2; ++k) {
                const int which = (i + k) % 2;
                double t = 0;
                const bool ok = exchange(inst[which].Master, w, t);
                if (ok)
                    us[which].push_back(t);
                else
                    ++failures[which];
            }
        for (int k = 0; k < 2; ++k)
            std::printf("%-16s %-14s %9.1f %9.1f %5d\n", w.Name, inst[k].Label.c_str(),
                        percentile(us[k], 0.5), percentile(us[k], 0.99), failures[k]);
        const double ratio = percentile(us[1], 0.5) / percentile(us[0], 0.5);
        within = within && ratio <= 1.10;
        std::printf("%-16s %-14s %9.3f %9.3f\n", "", "ratio", ratio,
                    percentile(us[1], 0.99) / percentile(us[0], 0.99));
    }
    std::printf("p50 with trace and monitor within 10 %% of without: %s\n", within ? "yes" : "NO");

    // 100,000 rows more in both (50,000 requests and their replies).
    const Workload &small = workloads[0];
    for (int i = 0; i < 50000; ++i)
        for (Instance &in : inst) {
            double t;
            exchange(in.Master, small, t);
        }
    ::usleep(300000); // a few ticks, so the monitor has shown them all
    std::printf("\nResident size after 100,000 more rows: plain %ld KiB, trace+monitor %ld KiB\n",
                residentKiB(inst[0].Pid), residentKiB(inst[1].Pid));
    for (Instance &i : inst)
        stop(i);
    std::error_code ec;
    std::printf("Trace file: %ju bytes\n", uintmax_t(fs::file_size(tracePath, ec)));
    fs::remove(tracePath, ec);

    rowMemory();
    return 0; // the figures are for reading: a busy machine is no failure
}
