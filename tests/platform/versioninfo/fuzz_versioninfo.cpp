// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the ELF version reader as if they were a file, and
// queries every kind of value from whatever block comes out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "platform/versioninfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> block = quorlin::versionBlockFromElf(std::span<const uint8_t>(data, size));
    if (block.empty())
        return 0;
    // The block goes to the caller in 4-byte-aligned storage, as TVersionInfo keeps it.
    std::vector<uint32_t> aligned((block.size() + 3) / 4);
    std::memcpy(aligned.data(), block.data(), block.size());
    const void *value = nullptr;
    uint32_t length = 0;
    volatile uint32_t sink = 0;
    for (const char *path :
         {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\FileVersion",
          "\\StringFileInfo\\040904E4\\ProductName", "\\StringFileInfo\\00000000\\A"}) {
        if (quorlin::verQueryValue(aligned.data(), path, &value, &length))
            for (uint32_t i = 0; i < length; ++i)
                sink = sink + static_cast<const uint8_t *>(value)[i];
    }
    if (quorlin::verQueryValue(aligned.data(), "\\VarFileInfo\\Translation", &value, &length)) {
        const auto *pair = static_cast<const uint16_t *>(value);
        char path[64];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04X\\FileVersion",
                      unsigned(pair[0]), unsigned(pair[1]));
        if (quorlin::verQueryValue(aligned.data(), path, &value, &length))
            sink = sink + static_cast<const uint8_t *>(value)[length - 1];
    }
    return 0;
}
