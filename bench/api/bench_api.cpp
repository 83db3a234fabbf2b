// SPDX-License-Identifier: MIT
// What the HTTP API costs the master. A copy of the installed program serves
// a master on a pty (read 10 holding registers, one request every 5 ms) and
// its API on 127.0.0.1. The run alternates blocks of 25 requests without
// API traffic and with 200 API calls a second (register reads, register
// writes and traffic polls, in turn), so both conditions meet the same
// machine. Printed: the master's turnaround p50/p99 in each condition and
// their p50 ratio (the goal: within 10 %), and the API calls' p50/p99.
//
// Every reply is checked (length, address, CRC) and every API call's status;
// a wrong one ends the run with exit status 1. The figures never fail it.
//
//   bench_api [BLOCKS_PER_CONDITION]   (default 48)
#include <httplib.h>

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
#include <mutex>
#include <netinet/in.h>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/ptymaster.h"

extern char **environ;

namespace
{

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace quorlin::bench;

constexpr int BlockRequests = 25;
constexpr auto PollPeriod = std::chrono::milliseconds(5);
constexpr auto ApiPeriod = std::chrono::microseconds(5000); // 200 calls a second

pid_t g_program = -1;
fs::path g_dir;

[[noreturn]] void fail(const std::string &Why)
{
    std::fprintf(stderr, "bench_api: %s\n", Why.c_str());
    if (g_program > 0) {
        ::kill(g_program, SIGTERM);
        ::waitpid(g_program, nullptr, 0);
    }
    std::exit(1);
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

double percentile(std::vector<double> V, double P)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    return V[std::min(V.size() - 1, size_t(P * double(V.size())))];
}

} // namespace

int main(int argc, char **argv)
{
    const int blocks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 48;
    char tmpl[] = "/tmp/quorlin-bench-api-XXXXXX";
    if (!::mkdtemp(tmpl))
        fail("cannot make a temporary directory");
    g_dir = tmpl;
    const fs::path installed(QUORLIN_PROGRAM_DIR);
    std::error_code ec;
    for (const char *f : {"quorlin", "scripts.dll"})
        if (!fs::copy_file(installed / f, g_dir / f, ec))
            fail("cannot copy " + (installed / f).string() + ": " + ec.message());
    int master = -1, side = -1;
    if (::openpty(&master, &side, nullptr, nullptr, nullptr) != 0)
        fail("openpty failed");
    termios t{};
    for (int fd : {master, side}) {
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    std::ofstream(g_dir / "quorlin.ini") << "[Ports]\nCOM2=" << ::ttyname(side) << "\n";
    const int port = freePort();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string err = (g_dir / "stderr.txt").string();
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string program = (g_dir / "quorlin").string(), opt = "--api",
                endpoint = "127.0.0.1:" + std::to_string(port);
    char *args[] = {program.data(), opt.data(), endpoint.data(), nullptr};
    if (posix_spawn(&g_program, args[0], &fa, nullptr, args, environ) != 0)
        fail("cannot start the program");
    posix_spawn_file_actions_destroy(&fa);

    // Read holding registers 4x0001..4x0010 of slave 1: 25 bytes back.
    const std::vector<uint8_t> request = RtuFrame({1, 3, 0, 0, 0, 10});
    std::vector<uint8_t> reply;
    auto ask = [&]() -> double {
        ::tcflush(master, TCIFLUSH);
        const auto t0 = Clock::now();
        if (::write(master, request.data(), request.size()) != ssize_t(request.size()))
            return -1;
        if (!ReadReply(master, reply, 25, 1000))
            return -1;
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        const std::vector<uint8_t> pdu(reply.begin(), reply.end() - 2);
        const uint16_t crc = BitwiseCrc16(pdu);
        if (reply[0] != 1 || reply[1] != 3 || reply[2] != 20 || reply[23] != (crc & 0xFF) ||
            reply[24] != (crc >> 8))
            fail("a wrong reply");
        return us;
    };
    bool up = false;
    for (int i = 0; i < 300 && !up; ++i)
        up = ask() >= 0;
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    for (int i = 0; i < 300 && up && !client.Get("/api/v1/status"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!up || !client.Get("/api/v1/status"))
        fail("the program did not start (see " + err + ")");

    std::atomic<bool> loaded{false}, done{false};
    std::mutex apiLock;
    std::vector<double> apiUs;
    uint64_t apiCalls = 0;
    double apiSeconds = 0;
    std::thread api([&] {
        uint64_t cursor = 0;
        int kind = 0;
        auto next = Clock::now();
        auto since = Clock::now();
        bool wasLoaded = false;
        while (!done) {
            if (!loaded) {
                if (wasLoaded)
                    apiSeconds += std::chrono::duration<double>(Clock::now() - since).count();
                wasLoaded = false;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                next = Clock::now();
                continue;
            }
            if (!wasLoaded)
                since = Clock::now();
            wasLoaded = true;
            std::this_thread::sleep_until(next);
            next += ApiPeriod;
            const auto t0 = Clock::now();
            const int which = kind++ % 3;
            httplib::Result r =
                which == 0 ? client.Get("/api/v1/slaves/1/holding-registers?start=1&count=10")
                : which == 1
                    ? client.Put("/api/v1/slaves/1/input-registers/1",
                                 "{\"value\": " + std::to_string(kind) + "}", "application/json")
                    : client.Get("/api/v1/traffic?since=" + std::to_string(cursor) + "&limit=100");
            if (!r || r->status != 200)
                fail("an API call failed");
            if (which == 2) {
                const size_t at = r->body.rfind("\"next\":");
                if (at != std::string::npos)
                    cursor = std::strtoull(r->body.c_str() + at + 7, nullptr, 10);
            }
            std::lock_guard<std::mutex> hold(apiLock);
            apiUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            ++apiCalls;
        }
    });

    std::vector<double> quiet, busy;
    for (int b = 0; b < 2 * blocks; ++b) {
        const bool withApi = b % 2 == 1;
        loaded = withApi;
        // The first requests of a block wait for the condition to settle.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto next = Clock::now();
        for (int i = 0; i < BlockRequests; ++i) {
            std::this_thread::sleep_until(next);
            next += PollPeriod;
            const double us = ask();
            if (us < 0)
                fail("no reply from the program");
            (withApi ? busy : quiet).push_back(us);
        }
    }
    loaded = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    done = true;
    api.join();
    ::kill(g_program, SIGTERM);
    ::waitpid(g_program, nullptr, 0);
    fs::remove_all(g_dir, ec);

    const double q50 = percentile(quiet, 0.5), b50 = percentile(busy, 0.5);
    std::printf("master turnaround, %zu requests each, interleaved in blocks of %d:\n",
                quiet.size(), BlockRequests);
    std::printf("  without API calls: p50 %7.0f us  p99 %7.0f us\n", q50, percentile(quiet, 0.99));
    std::printf("  with API calls   : p50 %7.0f us  p99 %7.0f us\n", b50, percentile(busy, 0.99));
    std::printf("  p50 ratio with/without: %.3f (goal: at most 1.10)\n", q50 > 0 ? b50 / q50 : 0);
    std::printf("API calls: %llu at %.0f a second; p50 %.0f us  p99 %.0f us\n",
                static_cast<unsigned long long>(apiCalls),
                apiSeconds > 0 ? double(apiCalls) / apiSeconds : 0, percentile(apiUs, 0.5),
                percentile(apiUs, 0.99));
    return 0;
}
