// SPDX-License-Identifier: MIT
// CPU seconds (user + system) a running process has used so far, read from
// /proc/<pid>/stat; -1 when the process is gone. Its resolution is the
// kernel's clock tick (10 ms on most machines): what the CPU-cost checks of
// the program and its benchmarks can see.
#pragma once

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace quorlin
{

inline double ProcessCpuSeconds(long long Pid)
{
    std::ifstream in("/proc/" + std::to_string(Pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    // The command name in field 2 may hold spaces and parentheses: the
    // fields that follow start after its last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) { // field 3 is the state
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

} // namespace quorlin
