// SPDX-License-Identifier: MIT
#include "scripts/scriptint.h"

#include <memory>

namespace quorlin
{

namespace
{

// Byte 0 is the length, and 255 characters always fit the 256-byte slot.
std::string fromScriptString(const TScriptString &s)
{
    return std::string(reinterpret_cast<const char *>(s.Text + 1), s.Text[0]);
}

} // namespace

TScriptItem ScriptItemFromInfo(const TScriptInfo &Info)
{
    TScriptItem item;
    item.Name = fromScriptString(Info.Name);
    item.Description = fromScriptString(Info.Description);
    item.Param1Text = fromScriptString(Info.Param1Text);
    item.Param2Text = fromScriptString(Info.Param2Text);
    item.Param3Text = fromScriptString(Info.Param3Text);
    return item;
}

bool TScriptLibrary::LoadScriptLibrary(const std::string &ProgramDir, const std::string &FileName)
{
    ScriptList.clear();
    GetScriptCount = nullptr;
    GetScriptInfo = nullptr;
    m_loadError.clear();
    if (!ScriptLib.load(FileName, ProgramDir)) {
        m_loadError = ScriptLib.errorString();
        return false;
    }
    auto missing = [this](const char *Export) {
        m_loadError = ScriptLib.path() + " exports no " + Export;
        return false;
    };

    // The two exports, like every script, must be the library's own: dlsym
    // would also find a function of that name in any of its dependencies.
    GetScriptCount =
        reinterpret_cast<TGetScriptCount>(ScriptLib.ownFunction(QUORLIN_GET_SCRIPT_COUNT));
    if (!GetScriptCount)
        return missing(QUORLIN_GET_SCRIPT_COUNT);
    GetScriptInfo =
        reinterpret_cast<TGetScriptInfo>(ScriptLib.ownFunction(QUORLIN_GET_SCRIPT_INFO));
    // Without GetScriptInfo no script can be described or named: offer none.
    if (!GetScriptInfo)
        return missing(QUORLIN_GET_SCRIPT_INFO);

    const uint16_t count = uint16_t(GetScriptCount() & 0xFFFF);
    // One buffer serves every index and is not cleared between calls.
    auto info = std::make_unique<TScriptInfo>();
    ScriptList.reserve(count);
    for (uint16_t index = 0; index < count; ++index) {
        GetScriptInfo(index, info.get());
        TScriptItem item = ScriptItemFromInfo(*info);
        // A name such as "exit" must not reach the C library's exit.
        item.Entry = reinterpret_cast<TScriptFunc>(ScriptLib.ownFunction(item.Name));
        ScriptList.push_back(std::move(item));
    }
    return !ScriptList.empty();
}

} // namespace quorlin
