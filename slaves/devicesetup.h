// SPDX-License-Identifier: MIT
// A slave set up as a device: its options, the size of its tables and its
// map, read from the files a profile or the command line names.
#pragma once

#include <QString>

#include <vector>

#include "engine/devicemap.h"
#include "engine/registerimage.h"
#include "engine/slaveoptions.h"

namespace quorlin
{

// Reads a map file (rows without a slave are SelectedSlave's). Empty on
// success, else "cannot read FILE: reason" or "FILE: line N: reason"; Items
// is then left empty.
QString ReadMapFile(const QString &Path, int SelectedSlave, std::vector<TMapItem> &Items);

// Where a profile's Map= names its file: relative to the profile's folder.
QString MapPath(const std::string &Folder, const std::string &Map);

// Gives the slave its options and its items of Items: the tables take the
// size the options ask for, or 65536 when the map reaches past the usual
// sizes; the map's first values are stored and its ranges declared. The
// caller holds the slave's lock.
void SetUpSlave(TRegisterImage &Image, const TSlaveOptions &Options,
                const std::vector<TMapItem> &Items);

} // namespace quorlin
