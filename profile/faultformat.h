// SPDX-License-Identifier: MIT
// The "Faults" section of a profile. A profile without it loads with every
// fault off, and a save writes the section only when there is something to
// keep: faults set, or a section already in the file to bring up to date.
#pragma once

#include <optional>
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

} // namespace quorlin
