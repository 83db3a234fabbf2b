// SPDX-License-Identifier: MIT
// Arbitrary text as a register values file: the reader either refuses it
// with a reason that names a line, or gives only entries an image can take.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/registercsv.h"

using namespace quorlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const std::string_view text(reinterpret_cast<const char *>(Data), Size);
    const auto even = [](int Id) { return Id % 2 == 0; };
    const TValuesImport in = ReadValuesCsv(text, 2, even);
    if (!in.Ok) {
        if (!in.Entries.empty() || in.Error.rfind("line ", 0) != 0)
            std::abort();
        return 0;
    }
    TRegisterImage image;
    for (const TValueEntry &e : in.Entries) {
        const int count = RegisterCount(e.Register.RegType);
        if (e.Slave % 2 != 0 || e.Register.RegAdr < 1 || e.Register.RegAdr > count)
            std::abort();
        if (count == BitRegisterCount && e.Value > 1)
            std::abort();
        if (ParseRegisterName(RegisterName(e.Register)) != e.Register)
            std::abort();
        image.QueueWrite(e.Register.RegType, e.Register.RegAdr, e.Value);
    }
    image.ApplyPendingWrites();
    return 0;
}
