// SPDX-License-Identifier: MIT
#include "profile/faultformat.h"

#include <iterator>
#include <string>

namespace quorlin
{

namespace
{

using FaultKey = TFaultSettingsKey;
constexpr const auto &Keys = FaultSettingsKeys;

std::optional<TFaultSettings> readSection(const TIniDocument &Document, const std::string &Section)
{
    if (!Document.SectionExists(Section))
        return std::nullopt;
    TFaultSettings s;
    for (const FaultKey &k : Keys)
        s.*k.Member = Document.ReadInteger(Section, k.Name, 0);
    for (const TFaultSettingsTextKey &k : FaultSettingsTextKeys)
        s.*k.Member = Document.ReadString(Section, k.Name, "");
    return NormalisedFaults(s);
}

} // namespace

std::optional<TFaultSettings> ReadFaults(const TIniDocument &Document)
{
    return readSection(Document, FaultsSection);
}

std::vector<TIniEntry> FaultEntries(const TFaultSettings &Faults)
{
    std::vector<TIniEntry> e;
    e.reserve(std::size(Keys));
    for (const FaultKey &k : Keys)
        e.push_back({FaultsSection, k.Name, std::to_string(Faults.*k.Member)});
    return e;
}

std::vector<TIniEntry> FaultTextEntries(const TFaultSettings &Faults, const std::string &Section,
                                        const TIniDocument &Existing)
{
    std::vector<TIniEntry> e;
    for (const TFaultSettingsTextKey &k : FaultSettingsTextKeys) {
        const std::string &value = Faults.*k.Member;
        if (!value.empty() || Existing.Value(Section, k.Name).has_value())
            e.push_back({Section, k.Name, value});
    }
    return e;
}

std::string SlaveFaultsSectionName(int SlaveId)
{
    return std::string(FaultsSection) + std::to_string(SlaveId);
}

std::map<int, TFaultSettings> ReadSlaveFaults(const TIniDocument &Document)
{
    std::map<int, TFaultSettings> faults;
    for (int id = 1; id <= 255; ++id)
        if (auto s = readSection(Document, SlaveFaultsSectionName(id)))
            faults[id] = *s;
    return faults;
}

std::vector<TIniEntry> SlaveFaultEntries(const std::map<int, TFaultSettings> &SlaveFaults,
                                         const TIniDocument &Existing)
{
    std::vector<TIniEntry> e;
    for (const auto &[id, faults] : SlaveFaults) {
        const std::string section = SlaveFaultsSectionName(id);
        for (const FaultKey &k : Keys)
            e.push_back({section, k.Name, std::to_string(faults.*k.Member)});
        const std::vector<TIniEntry> text = FaultTextEntries(faults, section, Existing);
        e.insert(e.end(), text.begin(), text.end());
    }
    // A section the file has for a slave that follows [Faults] now is
    // switched off, not left to say otherwise.
    for (int id = 1; id <= 255; ++id) {
        const std::string section = SlaveFaultsSectionName(id);
        if (!SlaveFaults.contains(id) && Existing.SectionExists(section))
            e.push_back({section, "Enabled", "0"});
    }
    return e;
}

bool FaultsToBeSaved(const TFaultSettings &Faults, const TIniDocument &Existing)
{
    return Faults != TFaultSettings{} || Existing.SectionExists(FaultsSection);
}

} // namespace quorlin
