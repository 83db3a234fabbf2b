// SPDX-License-Identifier: MIT
// Turnaround of the whole program against libmodbus's RTU server.
//
// 1. A copy of the installed program (quorlin, scripts.dll, Quorlin.hlp and a
//    quorlin.ini naming a pty as COM2) and the libmodbus reference slave, each
//    on its own pty, both holding the same registers; requests alternate
//    between them request by request. Printed: p50/p90/p99/max of each and
//    the p50 ratio quorlin/libmodbus per workload (the goal: at most 1.0).
// 2. Slow scripts: a second copy whose scripts.dll holds one script that
//    busy-waits 2 ms, bound by its profile to 25 holding registers, so every
//    100 ms tick spends about 50 ms in scripts. A master polls both slaves
//    (10 holding registers) every 10 ms, interleaved. Printed: p50/p90/p99/max
//    of each (the goal for the program: p99 under 1 ms).
//
// Times run from the first request byte written to the last reply byte read.
//
// Every reply is compared byte for byte with what a slave holding those
// registers must send; a missing or wrong reply ends the run with exit
// status 1, since timing garbage would be worthless. The figures themselves
// never fail the run: a busy machine is no fault of the program.
//
// The master and both slaves run on one CPU, the one least busy when the run
// starts, so the noise of a shared machine falls on both slaves alike, and a
// thread of the lowest priority keeps that CPU from sleeping between requests
// (--let-idle lets it sleep; --all-cpus lets the scheduler spread everything).
// What other programs took of that CPU while the figures were taken is
// printed with them: a few per cent more makes every figure, and even the
// ratio, say more about the machine than about the program.
//
// The slow scripts part gives the program's window thread the other CPUs
// (see below).
//
//   bench_program_latency [--all-cpus] [--let-idle] [--slow-on-one-cpu|--slow-on-any-cpu]
//                         [REQUESTS_PER_WORKLOAD [SLOW_POLLS]]
//   (defaults: 3000 requests per workload and slave; slow polls for 10 s)
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/ptymaster.h"
#include "platform/processcpu.h"

extern char **environ;

namespace
{

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace quorlin::bench;

constexpr int ReplyTimeoutMs = 1000;
constexpr int SlowBindings = 25;
constexpr int SlowFirstRegister = 201; // 4x0201..4x0225, clear of what is polled
constexpr int SlowScriptUs = 2000;

std::string hex(const std::vector<uint8_t> &B)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < B.size(); ++i) {
        if (i == 40) {
            s += "... (" + std::to_string(B.size()) + " bytes)";
            break;
        }
        std::snprintf(buf, sizeof buf, "%02X ", B[i]);
        s += buf;
    }
    return s.empty() ? "nothing" : s;
}

// One request of a workload: a read of Count holding registers or a write of
// Values, both from register address Start, to slave 1.
struct Request {
    const char *Name;
    uint8_t Fn;
    uint16_t Start;
    uint16_t Count;
    std::vector<uint16_t> Values; // function 16 only
    std::vector<uint8_t> Bytes;
};

Request readRequest(const char *Name, uint16_t Start, uint16_t Count)
{
    Request r{Name, 3, Start, Count, {}, {}};
    r.Bytes =
        RtuFrame({1, 3, uint8_t(Start >> 8), uint8_t(Start), uint8_t(Count >> 8), uint8_t(Count)});
    return r;
}

Request writeRequest(const char *Name, uint16_t Start, std::vector<uint16_t> Values)
{
    const auto n = uint16_t(Values.size());
    Request r{Name, 16, Start, n, std::move(Values), {}};
    std::vector<uint8_t> pdu = {
        1, 16, uint8_t(Start >> 8), uint8_t(Start), uint8_t(n >> 8), uint8_t(n), uint8_t(2 * n)};
    for (uint16_t v : r.Values) {
        pdu.push_back(uint8_t(v >> 8));
        pdu.push_back(uint8_t(v));
    }
    r.Bytes = RtuFrame(pdu);
    return r;
}

// A slave under test: its pty, its process and the holding registers the
// master has written to it, from which every reply is predicted.
struct Slave {
    std::string Label;
    int Master = -1, Side = -1;
    pid_t Pid = -1;
    fs::path Dir; // the program's copied installation; empty for libmodbus
    std::array<uint16_t, 256> Holding{};
};

std::vector<Slave *> Running; // stopped by finish(), also on failure

std::vector<uint8_t> expectedReply(const Slave &S, const Request &R)
{
    if (R.Fn == 16) // id, function, start and count echoed
        return RtuFrame(std::vector<uint8_t>(R.Bytes.begin(), R.Bytes.begin() + 6));
    std::vector<uint8_t> pdu = {1, 3, uint8_t(2 * R.Count)};
    for (int i = 0; i < R.Count; ++i) {
        const uint16_t v = S.Holding[size_t(R.Start + i)];
        pdu.push_back(uint8_t(v >> 8));
        pdu.push_back(uint8_t(v));
    }
    return RtuFrame(pdu);
}

void stop(Slave &S)
{
    if (S.Pid > 0) {
        ::kill(S.Pid, SIGTERM);
        ::waitpid(S.Pid, nullptr, 0);
        S.Pid = -1;
    }
    if (S.Master >= 0)
        ::close(S.Master);
    if (S.Side >= 0)
        ::close(S.Side);
    S.Master = S.Side = -1;
    std::error_code ec;
    if (!S.Dir.empty())
        fs::remove_all(S.Dir, ec);
    Running.erase(std::remove(Running.begin(), Running.end(), &S), Running.end());
}

[[noreturn]] void fail(const std::string &Message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "bench_program_latency: %s\n", Message.c_str());
    for (Slave *s : Running) {
        if (s->Dir.empty())
            continue;
        std::ifstream err(s->Dir / "stderr.txt");
        std::stringstream text;
        text << err.rdbuf();
        if (!text.str().empty())
            std::fprintf(stderr, "%s said on standard error:\n%s", s->Label.c_str(),
                         text.str().c_str());
    }
    while (!Running.empty())
        stop(*Running.back());
    std::exit(1);
}

void openLine(Slave &S)
{
    if (::openpty(&S.Master, &S.Side, nullptr, nullptr, nullptr) != 0)
        fail(std::string("openpty: ") + std::strerror(errno));
    termios t{};
    for (int fd : {S.Master, S.Side}) {
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
}

pid_t spawn(std::vector<std::string> Argv, const posix_spawn_file_actions_t &Actions)
{
    std::vector<char *> args;
    for (auto &a : Argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &Actions, nullptr, args.data(), environ) != 0)
        fail("cannot start " + Argv[0]);
    return pid;
}

// A copy of the installed program with the given script library, and the
// profile text when there is one; COM2 is the pty.
void startProgram(Slave &S, const fs::path &Scripts, const std::string &Profile)
{
    char tmpl[] = "/tmp/quorlin-bench-XXXXXX";
    if (!::mkdtemp(tmpl))
        fail("cannot make a temporary directory");
    S.Dir = tmpl;
    Running.push_back(&S);
    const fs::path program(QUORLIN_PROGRAM_DIR);
    std::error_code ec;
    for (const char *f : {"quorlin", "Quorlin.hlp"})
        if (!fs::copy_file(program / f, S.Dir / f, ec))
            fail("cannot copy " + (program / f).string() + ": " + ec.message());
    if (!fs::copy_file(Scripts, S.Dir / "scripts.dll", ec))
        fail("cannot copy " + Scripts.string() + ": " + ec.message());
    openLine(S);
    std::ofstream ini(S.Dir / "quorlin.ini");
    if (!Profile.empty()) {
        std::ofstream(S.Dir / "bench.QRL") << Profile;
        ini << "[General]\nCurrentProfile=" << (S.Dir / "bench.QRL").string() << "\n";
    }
    ini << "[Ports]\nCOM2=" << ::ttyname(S.Side) << "\n";
    ini.close();

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string err = (S.Dir / "stderr.txt").string();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    S.Pid = spawn({(S.Dir / "quorlin").string()}, fa);
    posix_spawn_file_actions_destroy(&fa);
}

void startReference(Slave &S)
{
    openLine(S);
    Running.push_back(&S);
    int p[2];
    if (::pipe(p) != 0)
        fail("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    posix_spawn_file_actions_addclose(&fa, p[0]);
    S.Pid = spawn({QUORLIN_REFSLAVE_PATH, ::ttyname(S.Side), "1"}, fa);
    posix_spawn_file_actions_destroy(&fa);
    ::close(p[1]);
    std::string line;
    char c;
    pollfd pfd{p[0], POLLIN, 0};
    while (::poll(&pfd, 1, 5000) > 0 && ::read(p[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(p[0]);
    if (line.find("ready") == std::string::npos)
        fail("the libmodbus reference slave did not start (" + line + ")");
}


// Sends R to S and waits for its reply: the microseconds from the first
// request byte written to the last reply byte read, or a message saying what
// was wrong. The clock starts before the write: on one CPU the slave may run
// inside the master's write, and a clock started after it would miss the
// whole turnaround (writing 8 to 207 bytes into a pty costs a microsecond or two).
bool exchange(Slave &S, const Request &R, double &Us, std::string &Problem,
              int TimeoutMs = ReplyTimeoutMs)
{
    const std::vector<uint8_t> want = expectedReply(S, R);
    static std::vector<uint8_t> got;
    const auto t0 = Clock::now();
    size_t done = 0;
    while (done < R.Bytes.size()) {
        const ssize_t n = ::write(S.Master, R.Bytes.data() + done, R.Bytes.size() - done);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            Problem = std::string("write: ") + std::strerror(errno);
            return false;
        }
        if (n > 0)
            done += size_t(n);
    }
    const bool complete = ReadReply(S.Master, got, want.size(), TimeoutMs);
    Us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if (complete && got == want) {
        if (R.Fn == 16)
            std::copy(R.Values.begin(), R.Values.end(), S.Holding.begin() + R.Start);
        return true;
    }
    Problem = (complete ? "wrong reply to "
                        : "no complete reply within " + std::to_string(TimeoutMs) + " ms to ") +
              std::string(R.Name) + "\n  expected " + hex(want) + "\n  got      " + hex(got);
    return false;
}

void exchangeOrFail(Slave &S, const Request &R, double &Us)
{
    std::string problem;
    if (!exchange(S, R, Us, problem))
        fail(S.Label + ": " + problem);
}

// Nothing may be left over on the line: a stray byte is a wrong reply.
void checkQuiet(Slave &S)
{
    std::vector<uint8_t> extra;
    ReadReply(S.Master, extra, 256, 20); // whatever arrives within 20 ms
    if (!extra.empty())
        fail(S.Label + " sent bytes nobody asked for: " + hex(extra));
}

// Until the slave answers: a program starts in a second or two.
void waitForAnswer(Slave &S)
{
    const Request probe = readRequest("probe", 0, 1);
    std::string problem;
    double us;
    for (const auto end = Clock::now() + std::chrono::seconds(15); Clock::now() < end;) {
        if (exchange(S, probe, us, problem, 200))
            return;
        ::usleep(150000); // the slave's frame time-out drops what it holds
        ::tcflush(S.Master, TCIOFLUSH);
    }
    fail(S.Label + " never answered: " + problem);
}

// Raw read of holding registers whose values nobody predicts (the scripts').
std::vector<uint16_t> readValues(Slave &S, uint16_t Start, uint16_t Count)
{
    Request r = readRequest("read of the scripts' registers", Start, Count);
    if (::write(S.Master, r.Bytes.data(), r.Bytes.size()) != ssize_t(r.Bytes.size()))
        fail(S.Label + ": write failed");
    std::vector<uint8_t> got;
    const size_t len = 5 + 2 * size_t(Count);
    if (!ReadReply(S.Master, got, len, ReplyTimeoutMs) || got[0] != 1 || got[1] != 3 ||
        got[2] != 2 * Count ||
        BitwiseCrc16(std::vector<uint8_t>(got.begin(), got.end() - 2)) !=
            uint16_t(got[len - 2] | got[len - 1] << 8))
        fail(S.Label + ": bad reply to the read of the scripts' registers: " + hex(got));
    std::vector<uint16_t> v;
    for (size_t i = 0; i < Count; ++i)
        v.push_back(uint16_t(got[3 + 2 * i] << 8 | got[4 + 2 * i]));
    return v;
}

struct Figures {
    double P50 = 0, P90 = 0, P99 = 0, Max = 0;
};

Figures figures(std::vector<double> V)
{
    Figures f;
    if (V.empty())
        return f;
    std::sort(V.begin(), V.end());
    const auto at = [&](double P) {
        return V[std::min(V.size() - 1, size_t(std::ceil(double(V.size()) * P)) - 1)];
    };
    f.P50 = at(0.50);
    f.P90 = at(0.90);
    f.P99 = at(0.99);
    f.Max = V.back();
    return f;
}

void printRow(const char *Workload, const std::string &Label, const std::vector<double> &Us)
{
    const Figures f = figures(Us);
    std::printf("%-16s %-10s %7zu %9.1f %9.1f %9.1f %9.1f\n", Workload, Label.c_str(), Us.size(),
                f.P50, f.P90, f.P99, f.Max);
}

// Busy and total time of one CPU (-1: all of them) so far, in clock ticks.
struct CpuTimes {
    unsigned long long Busy = 0, Total = 0;
};

CpuTimes cpuTimes(int Cpu)
{
    std::ifstream in("/proc/stat");
    const std::string want = Cpu < 0 ? "cpu " : "cpu" + std::to_string(Cpu) + " ";
    std::string line;
    CpuTimes t;
    while (std::getline(in, line))
        if (line.rfind(want, 0) == 0) {
            std::istringstream f(line.substr(want.size()));
            unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0,
                               softirq = 0, steal = 0;
            f >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
            t.Busy = user + nice + system + irq + softirq + steal;
            t.Total = t.Busy + idle + iowait;
        }
    return t;
}

// Of the CPUs this process may use, the one least busy over a short look.
int quietestCpu()
{
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return std::max(0, sched_getcpu());
    std::vector<int> cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &allowed))
            cpus.push_back(c);
    std::vector<CpuTimes> before;
    for (int c : cpus)
        before.push_back(cpuTimes(c));
    ::usleep(300000);
    int best = std::max(0, sched_getcpu());
    unsigned long long least = ~0ull;
    for (size_t i = 0; i < cpus.size(); ++i) {
        const unsigned long long busy = cpuTimes(cpus[i]).Busy - before[i].Busy;
        if (busy < least) {
            least = busy;
            best = cpus[i];
        }
    }
    return best;
}

// CPU clock ticks of each of the kernel's own threads so far: what they do
// while the benchmark runs is mostly moving its bytes through the ptys.
std::map<long, unsigned long long> kernelThreadTicks()
{
    constexpr unsigned long PfKthread = 0x00200000;
    std::map<long, unsigned long long> ticks;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(e.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream f(stat.substr(close + 2));
        std::string field;
        unsigned long flags = 0;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && f >> field; ++i) { // field 3 is the state
            if (i == 9)
                flags = std::stoul(field);
            else if (i == 14)
                utime = std::stoull(field);
            else if (i == 15)
                stime = std::stoull(field);
        }
        if (flags & PfKthread)
            ticks[std::stol(name)] = utime + stime;
    }
    return ticks;
}

// The share of a CPU's time (of all CPUs' with -1) that went to programs
// other than this one and the slaves it watches, between Start() and Share().
// The kernel's threads count as this run's, wherever they ran: the share
// leans towards calling a run quiet.
class OtherWork
{
  public:
    OtherWork(int Cpu, std::vector<pid_t> Pids) : m_cpu(Cpu), m_pids(std::move(Pids)) { Start(); }
    void Start()
    {
        m_ours = ours();
        m_kernel = kernelThreadTicks();
        m_times = cpuTimes(m_cpu);
    }
    double Share() const
    {
        const CpuTimes now = cpuTimes(m_cpu);
        const double hz = double(::sysconf(_SC_CLK_TCK));
        // Kernel threads come and go (and take their time with them): only
        // what each spent since Start() counts, a new one's whole time.
        unsigned long long kernel = 0;
        for (const auto &[pid, ticks] : kernelThreadTicks()) {
            const auto then = m_kernel.find(pid);
            kernel += then == m_kernel.end() ? ticks : ticks - std::min(ticks, then->second);
        }
        const double total = double(now.Total - m_times.Total) / hz;
        const double other =
            double(now.Busy - m_times.Busy) / hz - (ours() - m_ours) - double(kernel) / hz;
        return total > 0 ? std::clamp(other / total, 0.0, 1.0) : 0.0;
    }

  private:
    double ours() const
    {
        double s = quorlin::ProcessCpuSeconds(::getpid());
        for (pid_t p : m_pids)
            s += std::max(0.0, quorlin::ProcessCpuSeconds(p));
        return s;
    }
    int m_cpu;
    std::vector<pid_t> m_pids;
    double m_ours = 0;
    std::map<long, unsigned long long> m_kernel;
    CpuTimes m_times;
};

// Above this share of other work the figures describe the machine's load.
constexpr double DisturbedShare = 0.10;

std::string otherWorkNote(double Share)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "other work on the CPU: %.0f %%%s", Share * 100,
                  Share > DisturbedShare ? ", DISTURBED" : "");
    return buf;
}

std::string slowProfile()
{
    std::ostringstream p;
    p << "[SerialSettings]\nMBid=1\nSerialPort=2\nBaudRate=5\nDataBits=4\nStopBits=0\n"
         "Parity=0\nHandshaking=1\n[Scripts]\nCount="
      << SlowBindings << "\n";
    for (int i = 0; i < SlowBindings; ++i)
        p << "[Script" << i + 1 << "]\nName=Spin\nRegType=4\nRegAdr=" << SlowFirstRegister + i
          << "\nParam1=" << SlowScriptUs << "\nParam2=0\nParam3=0\n";
    return p.str();
}

} // namespace

int main(int argc, char **argv)
{
    bool pin = true, awake = true, slowPinned = false, slowAnywhere = false;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--all-cpus") == 0)
            pin = false;
        else if (std::strcmp(argv[i], "--let-idle") == 0)
            awake = false;
        else if (std::strcmp(argv[i], "--slow-on-one-cpu") == 0)
            slowPinned = true;
        else if (std::strcmp(argv[i], "--slow-on-any-cpu") == 0)
            slowAnywhere = true;
        else if (std::atoi(argv[i]) > 0)
            counts.push_back(std::atoi(argv[i]));
        else {
            std::fprintf(stderr,
                         "usage: %s [--all-cpus] [--let-idle] [--slow-on-one-cpu|--slow-on-any-cpu] "
                         "[REQUESTS_PER_WORKLOAD [SLOW_POLLS]]\n",
                         argv[0]);
            return 2;
        }
    }
    const int count = counts.size() > 0 ? std::max(50, counts[0]) : 3000;
    const int slowPolls = counts.size() > 1 ? counts[1] : 0; // 0: for SlowSeconds
    constexpr int SlowSeconds = 10;

    std::vector<uint16_t> pattern;
    for (int i = 0; i < 100; ++i)
        pattern.push_back(uint16_t(0xA500 + i * 7));
    const std::vector<Request> workloads = {
        readRequest("fn3 x10 regs", 0, 10),
        readRequest("fn3 x125 regs", 0, 125),
        writeRequest("fn16 x100 regs", 0, pattern),
    };

    // Everything on one CPU (inherited by the slaves and their threads).
    int cpu = -1;
    cpu_set_t allowed;
    const bool knowAllowed = sched_getaffinity(0, sizeof allowed, &allowed) == 0;
    if (pin) {
        cpu_set_t one;
        CPU_ZERO(&one);
        const int quiet = quietestCpu();
        CPU_SET(quiet, &one);
        if (sched_setaffinity(0, sizeof one, &one) == 0)
            cpu = quiet;
    }
    // A thread that takes only the time nobody else wants keeps the CPU from
    // sleeping between requests: waking a sleeping CPU (in a virtual machine,
    // a halted one) costs tens of microseconds, more than the difference to
    // be measured, and how often it happens depends on how each slave
    // splits its work into threads rather than on how fast it answers.
    std::atomic<bool> keepAwake{awake && cpu >= 0};
    std::thread waker;
    if (keepAwake)
        waker = std::thread([&keepAwake] {
            sched_param none{};
            pthread_setschedparam(pthread_self(), SCHED_IDLE, &none);
            while (keepAwake.load(std::memory_order_relaxed)) {
            }
        });
    Slave program, reference;
    program.Label = "quorlin";
    reference.Label = "libmodbus";
    startProgram(program, fs::path(QUORLIN_PROGRAM_DIR) / "scripts.dll", "");
    startReference(reference);
    waitForAnswer(program);
    waitForAnswer(reference);
    Slave *pair[2] = {&program, &reference};

    std::printf("Whole program and libmodbus's RTU server over ptys, alternating request by "
                "request%s%s;\nmicroseconds from the first request byte written to the last reply "
                "byte read.\nEvery reply checked byte for byte.\n\n",
                cpu >= 0 ? (", all on CPU " + std::to_string(cpu)).c_str() : "",
                cpu >= 0 && awake ? " (kept awake)" : "");
    std::printf("%-16s %-10s %7s %9s %9s %9s %9s\n", "workload", "slave", "n", "p50", "p90", "p99",
                "max");
    bool within = true, disturbed = false;
    OtherWork other(cpu, {program.Pid, reference.Pid});
    for (const Request &w : workloads) {
        std::vector<double> us[2];
        double t;
        // A second of warming up spans several ticks: the program has shown
        // and repainted what it holds before anything is counted.
        for (const auto end = Clock::now() + std::chrono::seconds(1); Clock::now() < end;)
            for (Slave *s : pair)
                exchangeOrFail(*s, w, t);
        other.Start();
        for (int i = 0; i < count; ++i)
            for (int k = 0; k < 2; ++k) {
                const int which = (i + k) % 2; // who goes first alternates too
                exchangeOrFail(*pair[which], w, t);
                us[which].push_back(t);
            }
        printRow(w.Name, program.Label, us[0]);
        printRow(w.Name, reference.Label, us[1]);
        const double ratio = figures(us[0]).P50 / figures(us[1]).P50;
        const double share = other.Share();
        within = within && ratio <= 1.0;
        disturbed = disturbed || share > DisturbedShare;
        std::printf("%-16s %-10s %7s %9.2f   (%+.1f us; %s)\n", "", "p50 ratio", "", ratio,
                    figures(us[0]).P50 - figures(us[1]).P50, otherWorkNote(share).c_str());
    }
    std::printf("p50 of the program at most libmodbus's in every workload: %s%s\n",
                within ? "yes" : "NO",
                disturbed ? " (but other work disturbed the figures: run it again)" : "");
    checkQuiet(program);
    stop(program);

    // Slow scripts. They run on the program's window thread. By default that
    // thread gets the other CPUs to itself, while the master, the reference
    // slave and the rest of the program (its port's thread) stay on the
    // measured CPU: as on a desk machine with cores to spare, the question is
    // then only whether a reply waits for the window. On one shared CPU every
    // wake-up would wait for the scheduler to interrupt the spinning scripts
    // (up to a clock tick of 4 ms), which measures the kernel and costs
    // libmodbus as much (--slow-on-one-cpu); --slow-on-any-cpu lets the
    // scheduler place everything.
    int slowCpu = cpu;
    cpu_set_t windowCpus;
    CPU_ZERO(&windowCpus);
    if (knowAllowed && cpu >= 0)
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (c != cpu && CPU_ISSET(c, &allowed))
                CPU_SET(c, &windowCpus);
    const bool windowApart = !slowPinned && !slowAnywhere && CPU_COUNT(&windowCpus) > 0;
    if (!windowApart) {
        keepAwake = false;
        if (waker.joinable())
            waker.join();
    }
    if (!slowPinned && !windowApart && knowAllowed && cpu >= 0 &&
        sched_setaffinity(0, sizeof allowed, &allowed) == 0 &&
        sched_setaffinity(reference.Pid, sizeof allowed, &allowed) == 0)
        slowCpu = -1;
    Slave slow;
    slow.Label = "quorlin";
    startProgram(slow, QUORLIN_SPIN_LIBRARY, slowProfile());
    waitForAnswer(slow);
    // Its port is open (its thread made, on this CPU): only the window's
    // thread, whose id is the process's, moves.
    const bool moved =
        windowApart && sched_setaffinity(slow.Pid, sizeof windowCpus, &windowCpus) == 0;
    // The scripts count their runs into their registers: wait until each has
    // run, so a library or profile that did not load cannot pass for speed.
    std::vector<uint16_t> runs0;
    for (const auto end = Clock::now() + std::chrono::seconds(5);;) {
        runs0 = readValues(slow, SlowFirstRegister - 1, SlowBindings);
        if (std::none_of(runs0.begin(), runs0.end(), [](uint16_t v) { return v == 0; }))
            break;
        if (Clock::now() > end)
            fail("the slow scripts never ran: the registers they are bound to stay 0");
        ::usleep(50000);
    }

    const Request poll = workloads[0];
    Slave *slowPair[2] = {&slow, &reference};
    std::vector<double> us[2];
    const auto period = std::chrono::milliseconds(10);
    const OtherWork slowOther(slowCpu, {slow.Pid, reference.Pid});
    const auto start = Clock::now();
    auto next = start;
    for (int i = 0;
         slowPolls > 0 ? i < slowPolls : Clock::now() - start < std::chrono::seconds(SlowSeconds);
         ++i) {
        std::this_thread::sleep_until(next);
        for (int k = 0; k < 2; ++k) {
            const int which = (i + k) % 2;
            double t;
            exchangeOrFail(*slowPair[which], poll, t);
            us[which].push_back(t);
        }
        // A master that waited past its next poll polls at the one after.
        next += period;
        while (next < Clock::now())
            next += period;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::vector<uint16_t> runs1 = readValues(slow, SlowFirstRegister - 1, SlowBindings);
    const int runs = uint16_t(runs1[0] - runs0[0]);
    if (runs == 0)
        fail("the slow scripts stopped running while the master polled");

    std::printf("\nSlow scripts: %d bindings of a script that busy-waits %.1f ms; they ran %d "
                "times each\nin %.1f s (%.0f ms of scripts a second). A master polls both slaves "
                "(fn3 x10 regs)\nevery 10 ms, interleaved, %s; microseconds as above.\n\n",
                SlowBindings, SlowScriptUs / 1000.0, runs, seconds,
                runs * SlowBindings * SlowScriptUs / 1000.0 / seconds,
                moved          ? ("on CPU " + std::to_string(slowCpu) +
                                  ", the program's window thread on the other CPUs")
                                     .c_str()
                : slowCpu >= 0 ? ("all on CPU " + std::to_string(slowCpu)).c_str()
                               : "on any CPU");
    std::printf("%-16s %-10s %7s %9s %9s %9s %9s\n", "workload", "slave", "n", "p50", "p90", "p99",
                "max");
    printRow("slow scripts", slow.Label, us[0]);
    printRow("slow scripts", reference.Label, us[1]);
    std::printf("p99 of the program under 1 ms with slow scripts: %s (%s)\n",
                figures(us[0]).P99 < 1000.0 ? "yes" : "NO",
                otherWorkNote(slowOther.Share()).c_str());

    for (Slave *s : slowPair)
        checkQuiet(*s);
    stop(slow);
    stop(reference);
    keepAwake = false;
    if (waker.joinable())
        waker.join();
    return 0;
}
