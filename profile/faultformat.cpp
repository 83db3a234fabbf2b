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

} // namespace

std::optional<TFaultSettings> ReadFaults(const TIniDocument &Document)
{
    if (!Document.SectionExists(FaultsSection))
        return std::nullopt;
    TFaultSettings s;
    for (const FaultKey &k : Keys)
        s.*k.Member = Document.ReadInteger(FaultsSection, k.Name, 0);
    return NormalisedFaults(s);
}

std::vector<TIniEntry> FaultEntries(const TFaultSettings &Faults)
{
    std::vector<TIniEntry> e;
    e.reserve(std::size(Keys));
    for (const FaultKey &k : Keys)
        if (!k.Optional || Faults.*k.Member != 0) // an unused newer key is not written
            e.push_back({FaultsSection, k.Name, std::to_string(Faults.*k.Member)});
    return e;
}

bool FaultsToBeSaved(const TFaultSettings &Faults, const TIniDocument &Existing)
{
    return Faults != TFaultSettings{} || Existing.SectionExists(FaultsSection);
}

} // namespace quorlin
