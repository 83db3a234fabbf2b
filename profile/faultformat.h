// SPDX-License-Identifier: MIT
// The "Faults" section of a profile. A profile without it loads with every
// fault off, and a save writes the section only when there is something to
// keep: faults set, or a section already in the file to bring up to date.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/faultplan.h"
#include "platform/inifile.h"

namespace quorlin
{

inline constexpr const char *FaultsSection = "Faults";

// The section's keys brought into range; nothing without the section.
// Missing keys and values that are no number read as 0.
std::optional<TFaultSettings> ReadFaults(const TIniDocument &Document);

// Every key of the section, in a fixed order.
std::vector<TIniEntry> FaultEntries(const TFaultSettings &Faults);

// Whether a save into a file holding Existing writes the section.
bool FaultsToBeSaved(const TFaultSettings &Faults, const TIniDocument &Existing);

// The text keys ("Functions", "Registers") of Section: each written when it
// holds something or when Existing has it already (emptied then), so a
// section that never used them is written exactly as before.
std::vector<TIniEntry> FaultTextEntries(const TFaultSettings &Faults, const std::string &Section,
                                        const TIniDocument &Existing);

// "Faults" + N: the section of slave N's own faults.
std::string SlaveFaultsSectionName(int SlaveId);
// Every section "Faults<N>" (N 1..255) by N, whether or not the profile
// emulates slave N, so that a save keeps them all.
std::map<int, TFaultSettings> ReadSlaveFaults(const TIniDocument &Document);
// The sections of SlaveFaults, and of the slaves the file has one for and
// SlaveFaults has not (switched off: the slave follows "Faults" again).
std::vector<TIniEntry> SlaveFaultEntries(const std::map<int, TFaultSettings> &SlaveFaults,
                                         const TIniDocument &Existing);

} // namespace quorlin
