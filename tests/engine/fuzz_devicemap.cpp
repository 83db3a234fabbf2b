// SPDX-License-Identifier: MIT
// Arbitrary text as a register map: refused with a reason naming a line, or
// items that fit their tables, never overlap, and survive a write and reread.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/devicemap.h"

using namespace quorlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    const std::string_view text(reinterpret_cast<const char *>(Data), Size);
    const TMapImport in = ReadMapCsv(text, 5);
    if (!in.Ok) {
        if (!in.Items.empty() || in.Error.rfind("line ", 0) != 0)
            std::abort();
        return 0;
    }
    for (const TMapItem &item : in.Items)
        if (item.Register.RegAdr < 1 || item.Register.RegAdr + ItemSpan(item) - 1 > 65536)
            std::abort();
    const TMapImport again = ReadMapCsv(WriteMapCsv(in.Items), 5);
    if (!again.Ok || again.Items.size() != in.Items.size())
        std::abort();
    TRegisterTables tables;
    tables.SetRegisterCount(65536);
    TAccessMap access;
    ApplyMap(in.Items, 5, tables, access);
    return 0;
}
