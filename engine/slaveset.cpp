// SPDX-License-Identifier: MIT
#include "engine/slaveset.h"

#include <algorithm>

namespace quorlin
{

namespace
{

bool validId(int Id)
{
    return Id >= MinSlaveId && Id <= MaxSlaveId;
}

} // namespace

TSlaveSet::TSlaveSet()
{
    m_first = add(1);
}

std::vector<int> TSlaveSet::Ids() const
{
    std::vector<int> ids;
    ids.reserve(m_slaves.size());
    for (const auto &s : m_slaves)
        ids.push_back(s->MBid);
    return ids;
}

int TSlaveSet::IndexOf(int Id) const
{
    for (size_t i = 0; i < m_slaves.size(); ++i)
        if (m_slaves[i]->MBid == Id)
            return int(i);
    return -1;
}

void TSlaveSet::sort()
{
    std::sort(m_slaves.begin(), m_slaves.end(),
              [](const auto &a, const auto &b) { return a->MBid < b->MBid; });
}

TRegisterImage *TSlaveSet::Add(int Id)
{
    std::lock_guard<std::mutex> hold(m_lock);
    return add(Id);
}

TRegisterImage *TSlaveSet::add(int Id)
{
    if (!validId(Id) || m_byId[size_t(Id)] != nullptr)
        return nullptr;
    auto image = std::make_unique<TRegisterImage>(m_lock);
    image->MBid = Id;
    TRegisterImage *p = image.get();
    m_slaves.push_back(std::move(image));
    m_byId[size_t(Id)] = p;
    sort();
    if (m_first == nullptr)
        m_first = p;
    return p;
}

bool TSlaveSet::Remove(int Id)
{
    std::lock_guard<std::mutex> hold(m_lock);
    TRegisterImage *p = Find(Id);
    if (p == nullptr || m_slaves.size() <= 1)
        return false;
    m_byId[size_t(Id)] = nullptr;
    const bool wasFirst = p == m_first;
    m_slaves.erase(std::find_if(m_slaves.begin(), m_slaves.end(),
                                [p](const auto &s) { return s.get() == p; }));
    if (wasFirst)
        m_first = m_slaves.front().get();
    return true;
}

bool TSlaveSet::ChangeId(int From, int To)
{
    std::lock_guard<std::mutex> hold(m_lock);
    TRegisterImage *p = Find(From);
    if (p == nullptr || !validId(To))
        return false;
    if (From == To)
        return true;
    if (m_byId[size_t(To)] != nullptr)
        return false;
    m_byId[size_t(From)] = nullptr;
    m_byId[size_t(To)] = p;
    p->MBid = To;
    sort();
    return true;
}

void TSlaveSet::Assign(int FirstId, const std::vector<int> &MoreIds)
{
    std::lock_guard<std::mutex> hold(m_lock);
    FirstId = std::clamp(FirstId, MinSlaveId, MaxSlaveId);
    std::array<bool, MaxSlaveId + 1> wanted{};
    wanted[size_t(FirstId)] = true;
    for (int id : MoreIds)
        if (validId(id))
            wanted[size_t(id)] = true;
    // Drop the slaves that go, then add the ones that come.
    for (auto it = m_slaves.begin(); it != m_slaves.end();) {
        if (!wanted[size_t((*it)->MBid)]) {
            m_byId[size_t((*it)->MBid)] = nullptr;
            it = m_slaves.erase(it);
        } else {
            ++it;
        }
    }
    m_first = nullptr;
    for (int id = MinSlaveId; id <= MaxSlaveId; ++id)
        if (wanted[size_t(id)] && m_byId[size_t(id)] == nullptr)
            add(id);
    m_first = m_byId[size_t(FirstId)];
}

} // namespace quorlin
