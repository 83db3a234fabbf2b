// SPDX-License-Identifier: MIT
// A device's register map: per slave, which registers exist, their names,
// types, engineering scaling, units, access and first values. Read from and
// written to CSV with the header
//   slave,register,name,type,order,scale,offset,unit,access,value
// (the slave column may be left out: the rows are then the selected slave's).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/registercsv.h"
#include "engine/registerimage.h"
#include "engine/valuecodec.h"

namespace quorlin
{

// The largest ASCII item: 32 registers of two characters.
inline constexpr int MaxAsciiLength = 64;

struct TMapItem {
    int Slave = 1;
    TRegisterRef Register;
    std::string Name;
    TValueFormat Format;  // a bit table's items are Unsigned, 0 or 1
    int AsciiLength = 0;  // characters of an ASCII item (2 per register), else 0
    double Scale = 1;     // engineering value = raw * Scale + Offset
    double Offset = 0;
    std::string Unit;
    bool ReadOnly = false;
    std::string Value;    // first value in the item's type, before scaling; empty: none

    bool operator==(const TMapItem &) const = default;
};

// Registers the item occupies (1 for a bit).
int ItemSpan(const TMapItem &Item);
// "u16", "f32", "ascii8" ... as the type column writes them; "bit" for bits.
std::string ItemTypeName(const TMapItem &Item);

struct TMapImport {
    bool Ok = false;
    std::string Error;            // "line 4: 3x0000 is not a register", when not Ok
    std::vector<TMapItem> Items;  // in file order; empty when not Ok
};

// Reads a whole map; any bad line refuses all of it. Items may not overlap
// within a slave, and must fit the 65536 registers of their table.
TMapImport ReadMapCsv(std::string_view Text, int SelectedSlave);
// The items with the full header and CRLF line ends, in the given order.
std::string WriteMapCsv(const std::vector<TMapItem> &Items);

// The registers of the item's first value; nothing for an item without one.
std::optional<std::vector<uint16_t>> ItemWords(const TMapItem &Item);
// The highest register any item of this slave reaches, 0 for none.
int MapExtent(const std::vector<TMapItem> &Items, int Slave);
// Declares the slave's items in Access (cleared first) and stores their first
// values into the tables; registers beyond a table's size are left out.
void ApplyMap(const std::vector<TMapItem> &Items, int Slave, TRegisterTables &Tables,
              TAccessMap &Access);

// A register format in the words of the type and order columns: "u16",
// "f32 CDAB", "s64 ABCD"; one-register kinds have no order.
std::string FormatTypeText(TValueFormat Format);
// The reverse, in any letter case; ASCII is the one-register kind here.
std::optional<TValueFormat> ParseFormatType(std::string_view Text);

// The item's value in its own type, from its registers (ItemSpan words):
// what the value column of a map holds.
std::string ItemValueText(const TMapItem &Item, std::span<const uint16_t> Words);
// Raw * Scale + Offset, as text; empty for a bit or an ASCII item, which
// have no engineering value.
std::string ItemEngineeringText(const TMapItem &Item, std::span<const uint16_t> Words);

struct TItemWords {
    bool Ok = false;
    std::vector<uint16_t> Words; // ItemSpan words when Ok
    std::string Error;           // why the text was refused
};
// The registers that give the item the typed value Text (in its type, as
// the value column writes it).
TItemWords ItemWordsFromText(const TMapItem &Item, std::string_view Text);
// The registers whose engineering value is Text: (value - Offset) / Scale,
// rounded to the nearest whole number for an integer type.
TItemWords ItemWordsFromEngineering(const TMapItem &Item, std::string_view Text);

} // namespace quorlin
