// SPDX-License-Identifier: MIT
// The script library as the program sees it: the list of available scripts,
// loaded once at start-up and kept until the program ends.
#pragma once

#include <string>
#include <vector>

#include "scriptlib/quorlinscript.h"

namespace quorlin {

struct TScriptItem {
    std::string Name; // exported symbol name; shown in lists and profiles
    std::string Description;
    std::string Param1Text;
    std::string Param2Text;
    std::string Param3Text;
    TScriptFunc Entry = nullptr; // null when the library exports no such symbol
};

using TScriptList = std::vector<TScriptItem>;

} // namespace quorlin
