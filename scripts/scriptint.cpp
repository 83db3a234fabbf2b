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
    if (!ScriptLib.load(FileName, ProgramDir))
        return false;

    GetScriptCount = reinterpret_cast<TGetScriptCount>(ScriptLib.symbol(QUORLIN_GET_SCRIPT_COUNT));
    if (!GetScriptCount)
        return false;
    GetScriptInfo = reinterpret_cast<TGetScriptInfo>(ScriptLib.symbol(QUORLIN_GET_SCRIPT_INFO));
    // Without GetScriptInfo no script can be described or named: offer none.
    if (!GetScriptInfo)
        return false;

    const uint16_t count = uint16_t(GetScriptCount() & 0xFFFF);
    // One buffer serves every index and is not cleared between calls.
    auto info = std::make_unique<TScriptInfo>();
    ScriptList.reserve(count);
    for (uint16_t index = 0; index < count; ++index) {
        GetScriptInfo(index, info.get());
        TScriptItem item = ScriptItemFromInfo(*info);
        item.Entry = reinterpret_cast<TScriptFunc>(ScriptLib.symbol(item.Name));
        ScriptList.push_back(std::move(item));
    }
    return !ScriptList.empty();
}

} // namespace quorlin
