// SPDX-License-Identifier: MIT
// Modbus TCP on loopback: the program (its listeners, started headless with
// a profile that listens) against libmodbus's TCP server, interleaved in one
// run, medians over rounds:
//   - turnaround p50 of FC3 x10 and x125 from one client, and of x10 again
//     with each server held on its client's CPU, then on another one;
//   - requests per second with 1, 10 and 100 clients polling at once;
//   - the servers' own CPU time per request with one client, which the load
//     of other programs on the machine moves far less than the wall clock;
//   - 1,000 idle connections held: the memory and the idle CPU they cost.
// Figures only: nothing here passes or fails.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/netsocket.h"

extern char **environ;

namespace
{

using Clock = std::chrono::steady_clock;

int connectTo(int Port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(Port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// One FC3 request and its whole reply; false on any failure.
bool ask(int Fd, uint16_t Tid, int Quantity)
{
    const uint8_t req[12] = {uint8_t(Tid >> 8), uint8_t(Tid), 0, 0, 0, 6, 1, 3, 0, 0, 0,
                             uint8_t(Quantity)};
    if (::send(Fd, req, sizeof req, MSG_NOSIGNAL) != ssize_t(sizeof req))
        return false;
    const size_t want = 9 + 2 * size_t(Quantity);
    uint8_t buf[300];
    size_t got = 0;
    while (got < want) {
        const ssize_t n = ::recv(Fd, buf + got, want - got, 0);
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    return buf[0] == req[0] && buf[1] == req[1] && buf[7] == 3;
}

struct Server {
    const char *Name;
    pid_t Pid = -1;
    int Port = 0;
    std::string Dir; // the program's copy lives here
};

bool waitListening(int Port)
{
    for (int i = 0; i < 200; ++i) {
        const int fd = connectTo(Port);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

pid_t spawn(const std::vector<std::string> &Args, const std::string &Dir)
{
    std::vector<char *> argv;
    for (const std::string &a : Args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!Dir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, Dir.c_str());
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool startQuorlin(Server &S)
{
    char dir[] = "/tmp/quorlin-bench-net-XXXXXX";
    if (!::mkdtemp(dir))
        return false;
    S.Dir = dir;
    S.Port = freePort();
    const std::string program = S.Dir + "/quorlin";
    if (std::system(("cp '" + std::string(QUORLIN_PATH) + "' '" + program + "'").c_str()) != 0)
        return false;
    std::ofstream(S.Dir + "/bench.QRL")
        << "[SerialSettings]\nMBid=1\n[Network]\nListeners=1\nNoSerial=1\nKind1=Modbus "
           "TCP\nAddress1=127.0.0.1\nPort1="
        << S.Port << "\nMaxClients1=4096\n";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    S.Pid = spawn({program, S.Dir + "/bench.QRL"}, S.Dir);
    return S.Pid > 0 && waitListening(S.Port);
}

bool startReference(Server &S)
{
    S.Port = freePort();
    S.Pid = spawn({QUORLIN_REFTCP_PATH, std::to_string(S.Port)}, "");
    return S.Pid > 0 && waitListening(S.Port);
}

void stop(Server &S)
{
    if (S.Pid > 0) {
        ::kill(S.Pid, SIGTERM);
        int status;
        ::waitpid(S.Pid, &status, 0);
    }
    if (!S.Dir.empty())
        std::system(("rm -rf '" + S.Dir + "'").c_str());
}

double median(std::vector<double> V)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}

// Microseconds, p50 of Count round trips on one connection to each server,
// the two taking turns request by request: whatever else the machine does
// at any moment falls on both alike.
void turnaroundP50(const int Ports[2], int Quantity, int Count, double P50[2])
{
    const int fd[2] = {connectTo(Ports[0]), connectTo(Ports[1])};
    std::vector<double> us[2];
    bool ok = fd[0] >= 0 && fd[1] >= 0;
    for (int i = 0; i < Count + 100 && ok; ++i)
        for (int s = 0; s < 2 && ok; ++s) {
            const auto t0 = Clock::now();
            ok = ask(fd[s], uint16_t(i), Quantity);
            if (ok && i >= 100) // the first ones warm up both sides
                us[s].push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
    for (int s = 0; s < 2; ++s) {
        if (fd[s] >= 0)
            ::close(fd[s]);
        P50[s] = median(us[s]);
    }
}

long residentKb(pid_t Pid)
{
    std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

double cpuSeconds(pid_t Pid)
{
    std::ifstream stat("/proc/" + std::to_string(Pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    size_t at = close + 2;
    while (at < text.size()) {
        const size_t sp = text.find(' ', at);
        fields.push_back(text.substr(at, sp - at));
        if (sp == std::string::npos)
            break;
        at = sp + 1;
    }
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return fields.size() > 12 ? (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) /
                                    double(::sysconf(_SC_CLK_TCK))
                              : 0;
}

// Waits until the server has settled after its start (a window drawn, its
// files read): its first requests must not pay for that.
void waitQuiet(pid_t Pid)
{
    double last = cpuSeconds(Pid);
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const double now = cpuSeconds(Pid);
        if (now - last < 0.011) // at most one clock tick in 200 ms
            return;
        last = now;
    }
}

// Seconds every thread of Pid has run, to the nanosecond (the scheduler's
// own count, where /proc/PID/stat has clock ticks only).
double runSeconds(pid_t Pid)
{
    double ns = 0;
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(Pid) + "/task";
    for (const auto &task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream stat(task.path() / "schedstat");
        double run = 0;
        if (stat >> run)
            ns += run;
    }
    return ns * 1e-9;
}

std::string loadAverage()
{
    std::ifstream load("/proc/loadavg");
    std::string one, five, fifteen;
    load >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Every thread of Pid (0: this thread alone) on the CPUs of Mask.
void pin(pid_t Pid, const cpu_set_t &Mask)
{
    if (Pid == 0) {
        ::sched_setaffinity(0, sizeof Mask, &Mask);
        return;
    }
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(Pid) + "/task";
    for (const auto &task : std::filesystem::directory_iterator(tasks, error))
        ::sched_setaffinity(pid_t(std::atoi(task.path().filename().c_str())), sizeof Mask, &Mask);
}

// Turnaround p50 of FC3 x10 with the client and both servers held on chosen
// CPUs: where the scheduler puts a server beside its client or on another
// CPU decides most of the turnaround, and a free run may land either way.
void pinnedTurnaround(const Server S[2], bool SameCpu, double P50[2])
{
    cpu_set_t all, client, server;
    ::sched_getaffinity(0, sizeof all, &all);
    CPU_ZERO(&client);
    CPU_ZERO(&server);
    CPU_SET(0, &client);
    CPU_SET(SameCpu ? 0 : 1, &server);
    pin(0, client);
    for (int s = 0; s < 2; ++s)
        pin(S[s].Pid, server);
    const int ports[2] = {S[0].Port, S[1].Port};
    turnaroundP50(ports, 10, 2000, P50);
    for (int s = 0; s < 2; ++s)
        pin(S[s].Pid, all);
    pin(0, all);
}

// Requests per second with Clients polling without pause, and each server's
// run time per request. Every client holds a connection to both servers and
// polls the one whose turn it is; turns of 50 ms alternate, Seconds in all
// for each server, so that the load of the machine falls on both alike.
void interleavedRate(const Server S[2], int Clients, double Seconds, double Rate[2],
                     double RunUs[2])
{
    std::atomic<int> turn{-1}; // -1 wait, 0 or 1 the server polled, 2 stop
    std::atomic<long> count[2] = {0, 0};
    std::atomic<int> connected{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < Clients; ++c)
        threads.emplace_back([&] {
            const int fd[2] = {connectTo(S[0].Port), connectTo(S[1].Port)};
            ++connected;
            uint16_t tid = 0;
            for (int t; (t = turn.load(std::memory_order_acquire)) < 2;) {
                if (t < 0 || fd[t] < 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    continue;
                }
                if (!ask(fd[t], tid++, 10))
                    break;
                count[t].fetch_add(1, std::memory_order_relaxed);
            }
            for (int f : fd)
                if (f >= 0)
                    ::close(f);
        });
    while (connected.load() < Clients)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    double wall[2] = {0, 0}, run[2] = {0, 0};
    long n[2] = {0, 0};
    for (int slice = 0; slice < int(Seconds / 0.05); ++slice)
        for (int s = 0; s < 2; ++s) {
            const long n0 = count[s].load();
            const double run0 = runSeconds(S[s].Pid);
            const auto t0 = Clock::now();
            turn.store(s, std::memory_order_release);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            turn.store(-1, std::memory_order_release);
            wall[s] += std::chrono::duration<double>(Clock::now() - t0).count();
            // Requests still in flight finish within the turn they began in.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            run[s] += runSeconds(S[s].Pid) - run0;
            n[s] += count[s].load() - n0;
        }
    turn.store(2);
    for (auto &t : threads)
        t.join();
    for (int s = 0; s < 2; ++s) {
        Rate[s] = wall[s] > 0 ? double(n[s]) / wall[s] : 0;
        RunUs[s] = n[s] > 0 ? run[s] * 1e6 / double(n[s]) : 0;
    }
}

struct IdleCost {
    int Held = 0;
    double KbPerConnection = 0;
    double IdleCpuPercent = 0;
};

IdleCost holdIdle(const Server &S, int Count)
{
    IdleCost cost;
    const long before = residentKb(S.Pid);
    std::vector<int> fds;
    for (int i = 0; i < Count; ++i) {
        const int fd = connectTo(S.Port);
        if (fd < 0)
            break;
        fds.push_back(fd);
    }
    // Each one served once, so the server has really taken it in.
    for (size_t i = 0; i < fds.size(); ++i)
        if (ask(fds[i], uint16_t(i), 1))
            ++cost.Held;
    const long after = residentKb(S.Pid);
    const double cpu0 = cpuSeconds(S.Pid);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    cost.IdleCpuPercent = (cpuSeconds(S.Pid) - cpu0) / 2.0 * 100.0;
    cost.KbPerConnection = cost.Held > 0 ? double(after - before) / cost.Held : 0;
    for (int fd : fds)
        ::close(fd);
    return cost;
}

} // namespace

int main()
{
    quorlin::RaiseFileLimit();
    std::signal(SIGPIPE, SIG_IGN);
    Server servers[2] = {{"quorlin", -1, 0, {}}, {"libmodbus", -1, 0, {}}};
    if (!startQuorlin(servers[0]) || !startReference(servers[1])) {
        std::fprintf(stderr, "bench_net: a server did not start\n");
        stop(servers[0]);
        stop(servers[1]);
        return 1;
    }
    waitQuiet(servers[0].Pid);
    waitQuiet(servers[1].Pid);
    const std::string loadBefore = loadAverage();
    constexpr int Rounds = 5;
    struct Figures {
        std::vector<double> p50x10, p50x125, rps1, cpu1, rps10, rps100, kb, cpu, held;
        std::vector<double> oneCpu, twoCpus;
    } f[2];
    for (int round = 0; round < Rounds; ++round) {
        const int ports[2] = {servers[0].Port, servers[1].Port};
        double x10[2], x125[2], rate[2], run[2];
        turnaroundP50(ports, 10, 2000, x10);
        turnaroundP50(ports, 125, 2000, x125);
        interleavedRate(servers, 1, 1.0, rate, run);
        for (int s = 0; s < 2; ++s) {
            f[s].p50x10.push_back(x10[s]);
            f[s].p50x125.push_back(x125[s]);
            f[s].rps1.push_back(rate[s]);
            f[s].cpu1.push_back(run[s]);
        }
        if (std::thread::hardware_concurrency() >= 2) {
            double same[2], apart[2];
            pinnedTurnaround(servers, true, same);
            pinnedTurnaround(servers, false, apart);
            for (int s = 0; s < 2; ++s) {
                f[s].oneCpu.push_back(same[s]);
                f[s].twoCpus.push_back(apart[s]);
            }
        }
        interleavedRate(servers, 10, 1.0, rate, run);
        for (int s = 0; s < 2; ++s)
            f[s].rps10.push_back(rate[s]);
        interleavedRate(servers, 100, 1.0, rate, run);
        for (int s = 0; s < 2; ++s)
            f[s].rps100.push_back(rate[s]);
    }
    // Idle connections last, once each: they take seconds.
    for (int s = 0; s < 2; ++s) {
        const IdleCost c = holdIdle(servers[s], 1000);
        f[s].held.push_back(c.Held);
        f[s].kb.push_back(c.KbPerConnection);
        f[s].cpu.push_back(c.IdleCpuPercent);
    }
    std::printf("Modbus TCP on loopback, medians of %d interleaved rounds\n", Rounds);
    std::printf("load average before %s, after %s\n", loadBefore.c_str(), loadAverage().c_str());
    std::printf("%-34s %12s %12s %8s\n", "", "quorlin", "libmodbus", "ratio");
    auto row = [&](const char *name, const std::vector<double> &a, const std::vector<double> &b,
                   const char *unit) {
        const double x = median(a), y = median(b);
        std::printf("%-34s %10.1f%-2s %10.1f%-2s %8.2f\n", name, x, unit, y, unit,
                    y > 0 ? x / y : 0.0);
    };
    row("turnaround p50, FC3 x10", f[0].p50x10, f[1].p50x10, "us");
    row("turnaround p50, FC3 x125", f[0].p50x125, f[1].p50x125, "us");
    row("  p50 x10, server on client's CPU", f[0].oneCpu, f[1].oneCpu, "us");
    row("  p50 x10, server on another CPU", f[0].twoCpus, f[1].twoCpus, "us");
    row("requests/s, 1 client", f[0].rps1, f[1].rps1, "");
    row("server CPU per request, 1 client", f[0].cpu1, f[1].cpu1, "us");
    row("requests/s, 10 clients", f[0].rps10, f[1].rps10, "");
    row("requests/s, 100 clients", f[0].rps100, f[1].rps100, "");
    row("idle connections held (of 1000)", f[0].held, f[1].held, "");
    row("memory per idle connection", f[0].kb, f[1].kb, "kB");
    row("CPU with 1000 idle connections", f[0].cpu, f[1].cpu, "%");
    stop(servers[0]);
    stop(servers[1]);
    return 0;
}
