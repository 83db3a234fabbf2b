// SPDX-License-Identifier: MIT
// The device maps and options of the slaves, as the user changes them: the
// per-slave options dialog, map import and export (from the register table
// and the File menu). A slave's map items are kept in its display, so that
// the register table shows them and an export writes them back as read.
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "engine/devicemap.h"
#include "engine/slaveset.h"
#include "registers/slavedisplay.h"

class QWidget;

namespace quorlin
{

class IProfileDialogs;

// Gives the slave its options and map items (rows of other slaves are left
// out) under the line's lock, and keeps the items in Display. StoreValues:
// the map's first values are stored; else the registers keep their values.
void ApplyDevice(TSlaveSet &Slaves, TRegisterImage &Image, const TSlaveOptions &Options,
                 std::vector<TMapItem> Items, TSlaveDisplay &Display, bool StoreValues);

// Every slave's map, in the order of the set, each item under its slave's
// id as it is now: what an export writes. Empty when no slave has a map.
std::vector<TMapItem> CollectMaps(const TSlaveSet &Slaves, const TSlaveDisplays &Displays);

// Map= as a profile in Folder names the file at Path: relative when the file
// lies in that folder or below it, else absolute.
std::string MapNameFor(const QString &Path, const QString &Folder);

class TDeviceMaps
{
  public:
    // Folder: the folder relative map names are found in (the profile's).
    // Changed runs after a slave's map or options changed.
    TDeviceMaps(TSlaveSet &Slaves, TSlaveDisplays &Displays, IProfileDialogs &Dialogs,
                std::function<QString()> Folder, std::function<void()> Changed);

    // Reads the map file, refusing it whole (with the line and the reason) when
    // a line is bad or names a slave that is not emulated; else every slave
    // it names takes its items and names the file as its map. SelectedSlave
    // owns the rows without a slave. Empty on success, else why not.
    QString ImportMap(const QString &Path, int SelectedSlave);
    // Writes every slave's map; empty on success, else why not.
    QString ExportMap(const QString &Path) const;

    // The commands, with their file dialogs and error boxes.
    void ImportMapCommand(QWidget *Parent, int SelectedSlave);
    void ExportMapCommand(QWidget *Parent);
    // "Slave Options" for one slave; true when it was changed.
    bool EditOptions(QWidget *Parent, int Id);

    QString Directory; // where the map dialogs start

  private:
    TSlaveSet &m_slaves;
    TSlaveDisplays &m_displays;
    IProfileDialogs &m_dialogs;
    std::function<QString()> m_folder;
    std::function<void()> m_changed;
};

} // namespace quorlin
