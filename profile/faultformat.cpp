// SPDX-License-Identifier: MIT
#include "profile/faultformat.h"

#include <iterator>
#include <string>

namespace quorlin
{

namespace
{

struct FaultKey {
    const char *Name;
    int TFaultSettings::*Field;
};

constexpr FaultKey Keys[] = {
    {"Enabled", &TFaultSettings::Enabled},
    {"MBid", &TFaultSettings::MBid},
    {"DelayMs", &TFaultSettings::DelayMs},
    {"DelayMaxMs", &TFaultSettings::DelayMaxMs},
    {"NoReplyEvery", &TFaultSettings::NoReplyEvery},
    {"NoReplyPercent", &TFaultSettings::NoReplyPercent},
    {"ExceptionEvery", &TFaultSettings::ExceptionEvery},
    {"ExceptionCode", &TFaultSettings::ExceptionCode},
    {"BadCrcEvery", &TFaultSettings::BadCrcEvery},
    {"BadCrcPercent", &TFaultSettings::BadCrcPercent},
    {"WrongIdEvery", &TFaultSettings::WrongIdEvery},
    {"SplitReplyMs", &TFaultSettings::SplitReplyMs},
    {"Seed", &TFaultSettings::Seed},
};

} // namespace

std::optional<TFaultSettings> ReadFaults(const TIniDocument &Document)
{
    if (!Document.SectionExists(FaultsSection))
        return std::nullopt;
    TFaultSettings s;
    for (const FaultKey &k : Keys)
        s.*k.Field = Document.ReadInteger(FaultsSection, k.Name, 0);
    return NormalisedFaults(s);
}

std::vector<TIniEntry> FaultEntries(const TFaultSettings &Faults)
{
    std::vector<TIniEntry> e;
    e.reserve(std::size(Keys));
    for (const FaultKey &k : Keys)
        e.push_back({FaultsSection, k.Name, std::to_string(Faults.*k.Field)});
    return e;
}

bool FaultsToBeSaved(const TFaultSettings &Faults, const TIniDocument &Existing)
{
    return Faults != TFaultSettings{} || Existing.SectionExists(FaultsSection);
}

} // namespace quorlin
