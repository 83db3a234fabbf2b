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
    // Even ids are emulated; slave 4 serves every register of every table.
    const auto size = [](int Id, int32_t RegType) {
        return Id % 2 != 0 ? 0 : Id == 4 ? MaxTableRegisters : RegisterCount(RegType);
    };
    const TValuesImport in = ReadValuesCsv(text, 2, size);
    if (!in.Ok) {
        if (!in.Entries.empty() || in.Error.rfind("line ", 0) != 0)
            std::abort();
        return 0;
    }
    TRegisterImage image;
    image.SetRegisterCount(MaxTableRegisters);
    for (const TValueEntry &e : in.Entries) {
        const int count = size(e.Slave, e.Register.RegType);
        if (count == 0 || e.Register.RegAdr < 1 || e.Register.RegAdr > count)
            std::abort();
        const bool bit = RegisterCount(e.Register.RegType) == BitRegisterCount;
        if (bit && e.Value > 1)
            std::abort();
        if (ParseRegisterName(RegisterName(e.Register), MaxTableRegisters) != e.Register)
            std::abort();
        image.QueueWrite(e.Register.RegType, e.Register.RegAdr, e.Value);
    }
    image.ApplyPendingWrites();
    return 0;
}
