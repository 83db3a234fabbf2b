// SPDX-License-Identifier: MIT
#include "engine/deadline.h"

#include <chrono>

namespace quorlin
{

int64_t MonotonicUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace quorlin
