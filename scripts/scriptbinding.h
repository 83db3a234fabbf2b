// SPDX-License-Identifier: MIT
// Bindings of scripts to registers and their evaluation at every tick.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/registerimage.h"
#include "engine/slaveset.h"
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
    // The slave whose register it drives; none is the profile's first slave
    // (whatever its id). An id no slave has is kept and writes nowhere.
    std::optional<int> SlaveId;
};

using TBindingList = std::vector<TScriptBinding>;

uint32_t EmptyScript(uint32_t Param1, uint32_t Param2, uint32_t Param3, TScriptContext *Context);

// Exact, case-sensitive match on the whole name; null when none matches.
TScriptFunc FindScriptEntry(const TScriptList &ScriptList, const std::string &Name);

// Calls every binding in list order and queues each result for its register.
void RunScripts(TBindingList &BindingList, TRegisterImage &Image);

// The same for every slave on the line: each binding queues into the image
// of its own slave, in list order; bindings of absent slaves still run (their
// scripts keep their state) but write nowhere.
void RunScripts(TBindingList &BindingList, TSlaveSet &Slaves);

// The slave id a binding drives: SlaveId, or the first slave's when it names none.
int BindingSlaveId(const TScriptBinding &Binding, const TSlaveSet &Slaves);

// Gives slave From the id To (its image and its bindings go with it); false,
// and nothing changed, when To is taken, out of 1..255 or From unknown.
bool ChangeSlaveId(TSlaveSet &Slaves, TBindingList &BindingList, int From, int To);
// The number of bindings that drive slave Id.
int CountSlaveBindings(const TBindingList &BindingList, const TSlaveSet &Slaves, int Id);
// Removes slave Id with its bindings; false, and nothing changed, for an
// unknown id or the last slave. The bindings of the first slave name no id,
// so they would pass to the next first slave if they stayed.
bool RemoveSlave(TSlaveSet &Slaves, TBindingList &BindingList, int Id);

// A binding as a profile entry describes it: name cut to 255 characters,
// RegType to its low 8 bits, parameters to their low 16 bits, context zeroed.
TScriptBinding MakeBinding(const TScriptList &ScriptList, const std::string &Name,
                           int64_t RegType, int64_t RegAdr, int64_t Param1, int64_t Param2,
                           int64_t Param3);

} // namespace quorlin
