// SPDX-License-Identifier: MIT
// Any bytes as the content of a lock file: a PID or 0, never a read beyond
// the input, and what we write is read back as written.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/lockfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const long pid =
        quorlin::ParseLockPid(std::string_view(reinterpret_cast<const char *>(Data), Size));
    if (pid < 0 || pid > 0x7fffffff)
        std::abort();
    if (pid > 0 && quorlin::ParseLockPid(quorlin::LockFileContent(pid)) != pid)
        std::abort();
    return 0;
}
