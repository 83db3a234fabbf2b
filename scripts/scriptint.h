// SPDX-License-Identifier: MIT
// The script library as the program sees it: the list of available scripts,
// loaded once at start-up and kept until the program ends.
#pragma once

#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "scriptlib/quorlinscript.h"

namespace quorlin
{

inline constexpr const char *ScriptLibraryName = "scripts.dll";

struct TScriptItem {
    std::string Name; // exported symbol name; shown in lists and profiles
    std::string Description;
    std::string Param1Text;
    std::string Param2Text;
    std::string Param3Text;
    TScriptFunc Entry = nullptr; // null when the library exports no such symbol
};

using TScriptList = std::vector<TScriptItem>;

// The loaded library, its two exports and the scripts it offers. Owned by the
// main window for the whole run; the Entry addresses in ScriptList (and in
// every binding made from them) stay valid only while this object lives.
class TScriptLibrary
{
  public:
    // Opens FileName from ProgramDir, else by bare name through the linker's
    // search, and lists its scripts. A missing or unloadable library, or one
    // without GetScriptCount or GetScriptInfo, leaves ScriptList empty and
    // says why in LoadError. Only functions the library itself defines become
    // entries: a script named after a function of one of its dependencies
    // ("exit", "rand") is listed without one. Returns whether any script is
    // offered.
    bool LoadScriptLibrary(const std::string &ProgramDir,
                           const std::string &FileName = ScriptLibraryName);

    TScriptList ScriptList;
    TGetScriptCount GetScriptCount = nullptr;
    TGetScriptInfo GetScriptInfo = nullptr;

    bool IsLoaded() const { return ScriptLib.isLoaded(); }
    // Why the last load offers no scripts although it should have tried
    // ("cannot open ...: ...", "... exports no GetScriptCount"); empty after
    // a load that listed the library's scripts, also when it has none.
    const std::string &LoadError() const { return m_loadError; }
    const DynamicLibrary &Library() const { return ScriptLib; }

  private:
    DynamicLibrary ScriptLib;
    std::string m_loadError;
};

// The five strings of a TScriptInfo as the library left them.
TScriptItem ScriptItemFromInfo(const TScriptInfo &Info);

} // namespace quorlin
