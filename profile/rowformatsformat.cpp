// SPDX-License-Identifier: MIT
#include "profile/rowformatsformat.h"

#include <set>

#include "engine/devicemap.h"

namespace quorlin
{

std::string FormatsSectionName(int Id)
{
    return "Formats" + std::to_string(Id);
}

TSlaveFormats ReadSlaveFormats(const TIniDocument &Document, int Id)
{
    TSlaveFormats formats;
    const std::string section = FormatsSectionName(Id);
    for (const std::string &key : Document.SectionKeys(section)) {
        const auto ref = ParseRegisterName(key, MaxTableRegisters);
        if (!ref || (ref->RegType != RegTypeInputReg && ref->RegType != RegTypeHoldingReg))
            continue;
        const auto format = ParseFormatType(Document.ReadString(section, key, ""));
        if (!format || format->Kind == TValueKind::Unsigned)
            continue;
        formats.emplace_back(*ref, *format);
    }
    return formats;
}

void AppendFormatEntries(std::vector<TIniEntry> &Entries, int Id, const TSlaveFormats &Formats,
                         const TIniDocument &Existing)
{
    const std::string section = FormatsSectionName(Id);
    std::set<std::string> written;
    for (const auto &[ref, format] : Formats) {
        std::string key = RegisterName(ref);
        Entries.push_back({section, key, FormatTypeText(format)});
        written.insert(std::move(key));
    }
    for (const std::string &key : Existing.SectionKeys(section)) {
        // Keys match without regard to case and leading zeros: compare the
        // registers they name.
        const auto ref = ParseRegisterName(key, MaxTableRegisters);
        if (ref && written.count(RegisterName(*ref)) == 0 &&
            Existing.ReadString(section, key, "") != "u16") {
            Entries.push_back({section, key, "u16"});
            written.insert(RegisterName(*ref));
        }
    }
}

} // namespace quorlin
