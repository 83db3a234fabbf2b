// SPDX-License-Identifier: MIT
// What waiting for a missing device costs: the installed program, its COM2
// mapped to a device that is not there, trying it once a second. Prints the
// CPU time it used over ten seconds as a share of one core.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/processcpu.h"

namespace fs = std::filesystem;
using quorlin::ProcessCpuSeconds;

namespace
{

} // namespace

int main()
{
    char tmpl[] = "/tmp/quorlin-retrycpu-XXXXXX";
    if (!::mkdtemp(tmpl))
        return 1;
    const fs::path dir = tmpl;
    fs::copy_file(QUORLIN_PATH, dir / "quorlin");
    std::ofstream(dir / "quorlin.ini")
        << "[Ports]\nCOM2=" << (dir / "no-such-device").string() << "\n";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::freopen("/dev/null", "w", stderr);
        const std::string program = (dir / "quorlin").string();
        ::execl(program.c_str(), program.c_str(), nullptr);
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(3)); // past the start-up
    const double c0 = ProcessCpuSeconds(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double c1 = ProcessCpuSeconds(pid);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    fs::remove_all(dir);
    if (c0 < 0 || c1 < 0)
        return 1;
    std::printf("retrying a missing device once a second: %.3f %% of one core over %.1f s "
                "(%.3f s CPU)\n",
                100.0 * (c1 - c0) / wall, wall, c1 - c0);
    return 0;
}
