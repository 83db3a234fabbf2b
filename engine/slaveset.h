// SPDX-License-Identifier: MIT
// Several emulated slaves on one line: one register image per slave id, found
// by id in one step however many slaves there are. The image of each slave
// carries its own id (MBid), tables and pending writes; all of them share the
// set's one lock, which also guards the set itself. Only one thread (the
// user interface's) changes the set, always under the lock; the engine looks
// slaves up under the lock; that one thread may read the set without it.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/registerimage.h"

namespace quorlin
{

inline constexpr int MinSlaveId = 1;   // 0 is the broadcast address
inline constexpr int MaxSlaveId = 255; // the id is one byte

class TSlaveSet
{
  public:
    // One slave, id 1, cleared: what a new profile emulates.
    TSlaveSet();
    TSlaveSet(const TSlaveSet &) = delete;
    TSlaveSet &operator=(const TSlaveSet &) = delete;

    // Slaves in ascending id order.
    int Count() const { return int(m_slaves.size()); }
    TRegisterImage &At(int Index) { return *m_slaves[size_t(Index)]; }
    const TRegisterImage &At(int Index) const { return *m_slaves[size_t(Index)]; }
    std::vector<int> Ids() const;
    // Position of the slave with that id in ascending order, -1 when none.
    int IndexOf(int Id) const;

    // The slave that answers Id, or null. Ids outside 1..255 find nothing.
    TRegisterImage *Find(int Id) const
    {
        return Id >= MinSlaveId && Id <= MaxSlaveId ? m_byId[size_t(Id)] : nullptr;
    }

    // The slave a profile's "MBid" names; it stays the same slave when its id
    // changes. When it is removed, the slave with the lowest id takes over.
    TRegisterImage &First() const { return *m_first; }

    // A new cleared slave; null when Id lies outside 1..255 or is taken.
    TRegisterImage *Add(int Id);
    // False for an unknown id and for the last slave: a line always has one.
    bool Remove(int Id);
    // Gives the slave From the id To, keeping its image; false when From is
    // unknown, To lies outside 1..255 or another slave has it.
    bool ChangeId(int From, int To);
    // Makes the set emulate FirstId and MoreIds (ids out of range and repeats
    // ignored). Slaves whose id stays keep their images; new ones start
    // cleared. FirstId out of range is held to 1..255.
    void Assign(int FirstId, const std::vector<int> &MoreIds);

    // Whether id 0 with functions 5, 6, 15 and 16 is carried out on every
    // slave. Read by the engine on the line's thread.
    std::atomic<bool> AcceptBroadcast{false};

    // The lock of every image in the set (their ImageLock) and of the set.
    std::mutex &Lock() const { return m_lock; }

  private:
    void sort();
    TRegisterImage *add(int Id);

    mutable std::mutex m_lock; // before the images, which refer to it

    std::vector<std::unique_ptr<TRegisterImage>> m_slaves;
    std::array<TRegisterImage *, MaxSlaveId + 1> m_byId{};
    TRegisterImage *m_first = nullptr;
};

} // namespace quorlin
