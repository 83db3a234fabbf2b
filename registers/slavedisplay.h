// SPDX-License-Identifier: MIT
// What the register table knows of one slave beyond its registers: the
// device map it was given and the display format of each row. Held per
// slave, so a slave keeps its formats when another one is selected, and
// saved with the profile.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "engine/devicemap.h"
#include "registers/rowformats.h"

namespace quorlin
{

struct TSlaveDisplay {
    std::vector<TMapItem> Map; // the slave's items, in the map's order
    // Changes with every change of Map, and differs between displays, so
    // that a view indexing a map knows when to index it again.
    unsigned MapGeneration = nextGeneration();
    TRowFormats Formats[2]; // input registers, holding registers

    void SetMap(std::vector<TMapItem> Items)
    {
        Map = std::move(Items);
        MapGeneration = nextGeneration();
    }
    static unsigned nextGeneration()
    {
        static unsigned last = 0; // the window's thread alone
        return ++last;
    }
    // The row formats of a word table (type code 3 or 4).
    TRowFormats &FormatsOf(int RegType) { return Formats[RegType == 3 ? 0 : 1]; }
    const TRowFormats &FormatsOf(int RegType) const { return Formats[RegType == 3 ? 0 : 1]; }
};

// One display per slave, found by the slave's image: an id may change, the
// image stays.
class TSlaveDisplays
{
  public:
    TSlaveDisplay &Of(const TRegisterImage *Slave)
    {
        auto &d = m_displays[Slave];
        if (!d)
            d = std::make_unique<TSlaveDisplay>();
        return *d;
    }
    const TSlaveDisplay *Find(const TRegisterImage *Slave) const
    {
        const auto it = m_displays.find(Slave);
        return it != m_displays.end() ? it->second.get() : nullptr;
    }
    // Drops the displays of slaves that are gone (Alive false), before a
    // new slave could take a freed image's address.
    template <typename Alive> void KeepOnly(Alive IsAlive)
    {
        std::erase_if(m_displays, [&](const auto &d) { return !IsAlive(d.first); });
    }
    void Clear() { m_displays.clear(); }

  private:
    std::map<const TRegisterImage *, std::unique_ptr<TSlaveDisplay>> m_displays;
};

} // namespace quorlin
