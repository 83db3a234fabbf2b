// SPDX-License-Identifier: MIT
// The register table's display formats of one slave in a profile: section
// "Formats<N>", one key per formatted row, the register as the key and the
// type as a map writes it ("4x0001=f32 CDAB"). Written only for a slave with
// a row formatted, so a profile without any is saved as it always was.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/registercsv.h"
#include "engine/valuecodec.h"
#include "platform/inifile.h"

namespace quorlin
{

// Rows of the input and holding registers whose format is not Unsigned.
using TSlaveFormats = std::vector<std::pair<TRegisterRef, TValueFormat>>;

// "Formats" + N.
std::string FormatsSectionName(int Id);
// The slave's formats, in the order of the file; keys that name no word
// register and values that name no format are left out.
TSlaveFormats ReadSlaveFormats(const TIniDocument &Document, int Id);
// The keys of a save. A key already in the file that the slave no longer
// formats is written back as "u16", so it does not outlive the change.
void AppendFormatEntries(std::vector<TIniEntry> &Entries, int Id, const TSlaveFormats &Formats,
                         const TIniDocument &Existing);

} // namespace quorlin
