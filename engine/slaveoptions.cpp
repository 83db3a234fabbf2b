// SPDX-License-Identifier: MIT
#include "engine/slaveoptions.h"

#include <algorithm>

namespace quorlin
{

namespace
{

bool validType(int RegType)
{
    return RegType == 0 || RegType == 1 || RegType == 3 || RegType == 4;
}

const std::vector<TAccessRange> NoRanges;

} // namespace

bool TAccessMap::Empty() const
{
    return std::all_of(m_tables.begin(), m_tables.end(),
                       [](const auto &t) { return t.empty(); });
}

void TAccessMap::Clear()
{
    for (auto &t : m_tables)
        t.clear();
}

std::vector<TAccessRange> &TAccessMap::table(int RegType)
{
    return m_tables[size_t(RegType)];
}

const std::vector<TAccessRange> &TAccessMap::Ranges(int RegType) const
{
    return validType(RegType) ? m_tables[size_t(RegType)] : NoRanges;
}

void TAccessMap::Add(int RegType, int First, int Last, bool ReadOnly)
{
    if (!validType(RegType) || Last < First)
        return;
    // Split what is there at First and Last + 1, then mark or add the pieces:
    // ranges stay sorted and disjoint, and neighbours of equal access merge.
    std::vector<TAccessRange> &t = table(RegType);
    std::vector<TAccessRange> out;
    out.reserve(t.size() + 3);
    int next = First; // the first register of [First, Last] not yet placed
    for (const TAccessRange &r : t) {
        if (r.Last < First || r.First > Last) {
            if (r.First > Last && next <= Last) {
                out.push_back({next, Last, ReadOnly});
                next = Last + 1;
            }
            out.push_back(r);
            continue;
        }
        if (r.First < First)
            out.push_back({r.First, First - 1, r.ReadOnly});
        const int lo = std::max(r.First, First);
        const int hi = std::min(r.Last, Last);
        if (next < lo)
            out.push_back({next, lo - 1, ReadOnly});
        out.push_back({lo, hi, r.ReadOnly || ReadOnly});
        next = hi + 1;
        if (r.Last > Last)
            out.push_back({Last + 1, r.Last, r.ReadOnly});
    }
    if (next <= Last)
        out.push_back({next, Last, ReadOnly});
    std::sort(out.begin(), out.end(),
              [](const TAccessRange &a, const TAccessRange &b) { return a.First < b.First; });
    t.clear();
    for (const TAccessRange &r : out) {
        if (!t.empty() && t.back().Last + 1 == r.First && t.back().ReadOnly == r.ReadOnly)
            t.back().Last = r.Last;
        else
            t.push_back(r);
    }
}

bool TAccessMap::Covers(int RegType, int First, int Count) const
{
    const auto &t = Ranges(RegType);
    int need = First;
    const int last = First + Count - 1;
    // The first range that ends at or after First, then contiguous ones.
    auto it = std::lower_bound(t.begin(), t.end(), First,
                               [](const TAccessRange &r, int n) { return r.Last < n; });
    for (; it != t.end() && need <= last; ++it) {
        if (it->First > need)
            return false;
        need = it->Last + 1;
    }
    return need > last;
}

bool TAccessMap::AnyReadOnly(int RegType, int First, int Count) const
{
    const auto &t = Ranges(RegType);
    const int last = First + Count - 1;
    auto it = std::lower_bound(t.begin(), t.end(), First,
                               [](const TAccessRange &r, int n) { return r.Last < n; });
    for (; it != t.end() && it->First <= last; ++it)
        if (it->ReadOnly)
            return true;
    return false;
}

} // namespace quorlin
