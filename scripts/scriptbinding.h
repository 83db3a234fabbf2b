// SPDX-License-Identifier: MIT
// Bindings of scripts to registers and their evaluation at every tick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/registerimage.h"
#include "scripts/scriptint.h"

namespace quorlin {

inline constexpr const char *EmptyScriptName = "(Empty Script)";

struct TScriptBinding {
    std::string Name; // at most 255 characters, kept even when no such script exists
    TScriptFunc Entry = nullptr;
    uint16_t Param1 = 0;
    uint16_t Param2 = 0;
    uint16_t Param3 = 0;
    TScriptContext Context{};
    uint8_t RegType = 0;
    uint32_t RegAdr = 1;
};

using TBindingList = std::vector<TScriptBinding>;

uint32_t EmptyScript(uint32_t Param1, uint32_t Param2, uint32_t Param3, TScriptContext *Context);

// Exact, case-sensitive match on the whole name; null when none matches.
TScriptFunc FindScriptEntry(const TScriptList &ScriptList, const std::string &Name);

// Calls every binding in list order and queues each result for its register.
void RunScripts(TBindingList &BindingList, TRegisterImage &Image);

// A binding as a profile entry describes it: name cut to 255 characters,
// RegType to its low 8 bits, parameters to their low 16 bits, context zeroed.
TScriptBinding MakeBinding(const TScriptList &ScriptList, const std::string &Name,
                           int64_t RegType, int64_t RegAdr, int64_t Param1, int64_t Param2,
                           int64_t Param3);

} // namespace quorlin
