// SPDX-License-Identifier: MIT
// What one emulated slave does beyond the usual: the size of its tables, its
// map, strict addressing, device identification, functions 22 and 23 and an
// address offset. Every option is off by default, and a slave with all of
// them off answers exactly as one without options does.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quorlin
{

// The objects of a device identification, by object id: 0..2 basic, 3..6
// regular.
inline constexpr int DeviceIdObjectCount = 7;
// Their names as profile keys, by object id.
inline constexpr std::array<const char *, DeviceIdObjectCount> DeviceIdKeys = {
    "VendorName", "ProductCode", "Revision", "VendorUrl",
    "ProductName", "ModelName", "UserApplicationName"};

struct TSlaveOptions {
    int Registers = 0;    // size of every table, 1..65536; 0: 2048 bits, 256 words
    std::string Map;      // the map file as the profile names it; empty: none
    bool MappedOnly = false;       // exception 2 outside the map, and for read-only writes
    bool DeviceId = false;         // answers function 43, MEI type 14
    std::array<std::string, DeviceIdObjectCount> Identity; // object values
    bool Functions22And23 = false; // mask write, read/write multiple registers
    int AddressOffset = 0;         // a request for address n serves register n + 1 + offset
    // Exception 1 for every function not served, 3 for a malformed request
    // (checked before the address), where a lenient slave is silent or accepts.
    bool Strict = false;
    bool Offline = false; // silent to every request, broadcasts included; registers kept

    bool operator==(const TSlaveOptions &) const = default;
};

// The registers a map declares in one table, as sorted, disjoint ranges.
struct TAccessRange {
    int First = 1;
    int Last = 1;
    bool ReadOnly = false;

    bool operator==(const TAccessRange &) const = default;
};

class TAccessMap
{
  public:
    bool Empty() const;
    void Clear();
    // Declares registers First..Last of a table (type code 0, 1, 3 or 4).
    // Ranges may touch or overlap; a register declared read-only anywhere
    // stays read-only.
    void Add(int RegType, int First, int Last, bool ReadOnly);
    // Whether every register First..First+Count-1 of the table is declared.
    bool Covers(int RegType, int First, int Count) const;
    // Whether any of them is declared read-only.
    bool AnyReadOnly(int RegType, int First, int Count) const;
    const std::vector<TAccessRange> &Ranges(int RegType) const;

  private:
    std::vector<TAccessRange> &table(int RegType);
    std::array<std::vector<TAccessRange>, 5> m_tables; // by type code; 2 unused
};

} // namespace quorlin
