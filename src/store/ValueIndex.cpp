// Hash index of keyed items by value: see ValueIndex.h.

#include "store/ValueIndex.h"

#include "store/Data.h"

#include <functional>
#include <string_view>

std::size_t ValueIndex::Hash(std::string const& bytes)
{
    std::size_t const l_hash = std::hash<std::string_view>()(bytes);
    // Spread the bits, so both the slot (low bits) and the tag (high bits) vary.
    return (l_hash ^ (l_hash >> 29)) * 0x9E3779B97F4A7C15ull;
}

Item* ValueIndex::Find(std::string const& bytes)
{
    if (!m_waiting.empty())
        Settle();
    if (m_count == 0)
        return nullptr;
    std::size_t const l_hash = Hash(bytes);
    std::uintptr_t const l_tagMask = m_tagMask;
    std::uintptr_t const l_tag = l_hash & l_tagMask;
    for (std::size_t l_at = l_hash & m_mask;; l_at = (l_at + 1) & m_mask)
    {
        std::uintptr_t const l_slot = m_slots[l_at];
        if (l_slot == 0)
            return nullptr;
        if ((l_slot & l_tagMask) == l_tag)
        {
            Item* const lp_item = ItemOf(l_slot, l_tagMask);
            if (lp_item->GetValue().GetBytes() == bytes)
                return lp_item;
        }
    }
}

void ValueIndex::Place(std::uintptr_t slot, std::size_t hash)
{
    std::size_t l_at = hash & m_mask;
    while (m_slots[l_at] != 0)
        l_at = (l_at + 1) & m_mask;
    m_slots[l_at] = slot;
}

void ValueIndex::Rebuild(std::size_t capacity)
{
    std::vector<std::uintptr_t> l_old;
    l_old.swap(m_slots);
    m_slots.assign(capacity, 0);
    m_mask = capacity - 1;
    // The items lie all over the heap: fetching some ahead overlaps their misses.
    constexpr std::size_t c_ahead = 16;
    for (std::size_t l_index = 0; l_index < l_old.size(); ++l_index)
    {
        if (l_index + c_ahead < l_old.size() && l_old[l_index + c_ahead] != 0)
            __builtin_prefetch(ItemOf(l_old[l_index + c_ahead]));
        std::uintptr_t const l_slot = l_old[l_index];
        if (l_slot != 0)
        {
            Item* const lp_item = ItemOf(l_slot);
            std::size_t const l_hash = Hash(lp_item->GetValue().GetBytes());
            Place(SlotOf(lp_item, l_hash, m_tagMask), l_hash);
        }
    }
}

void ValueIndex::Grow(std::size_t count)
{
    std::size_t l_capacity = m_slots.empty() ? 16 : m_slots.size();
    while (count * 4 > l_capacity * 3)
        l_capacity *= 2;
    if (l_capacity > m_slots.size())
        Rebuild(l_capacity);
}

void ValueIndex::Reserve(std::size_t count)
{
    if (count > 0)
        Grow(count);
}

void ValueIndex::SetAddressBits(unsigned bits)
{
    // Waiting items go in under the tags their addresses were checked against.
    if (!m_waiting.empty())
        Settle();
    std::uintptr_t l_tagMask = bits >= 64 ? 0 : ~((std::uintptr_t(1) << bits) - 1);
    for (std::uintptr_t const l_slot : m_slots)
        if (l_slot != 0 && (Address(ItemOf(l_slot)) & l_tagMask) != 0)
        {
            l_tagMask = 0;
            break;
        }
    if (l_tagMask == m_tagMask)
        return;
    // A slot's place follows from the hash alone: only the tags change, in place.
    for (std::uintptr_t& l_slot : m_slots)
        if (l_slot != 0)
        {
            Item* const lp_item = ItemOf(l_slot);
            l_slot = SlotOf(lp_item, l_tagMask != 0 ? Hash(lp_item->GetValue().GetBytes()) : 0,
                            l_tagMask);
        }
    m_tagMask = l_tagMask;
}

void ValueIndex::Insert(Item* item)
{
    if ((Address(item) & m_tagMask) != 0)
        SetAddressBits(64);
    m_waiting.push_back(item);
    if (m_waiting.size() >= c_maxWaiting)
        Settle();
}

void ValueIndex::Settle()
{
    Grow(m_count + m_waiting.size());
    if (m_waiting.size() == 1)
    {
        // Creation and look-up taking turns: nothing to fetch ahead.
        std::size_t const l_hash = Hash(m_waiting.front()->GetValue().GetBytes());
        Place(SlotOf(m_waiting.front(), l_hash, m_tagMask), l_hash);
        ++m_count;
        m_waiting.clear();
        return;
    }
    // Hashes first (the items were made one after another, so they are read in
    // order), then each slot fetched some places ahead of its use.
    constexpr std::size_t c_ahead = 16;
    std::vector<std::size_t> l_hashes(m_waiting.size());
    for (std::size_t l_index = 0; l_index < m_waiting.size(); ++l_index)
        l_hashes[l_index] = Hash(m_waiting[l_index]->GetValue().GetBytes());
    for (std::size_t l_index = 0; l_index < m_waiting.size(); ++l_index)
    {
        if (l_index + c_ahead < m_waiting.size())
            __builtin_prefetch(&m_slots[l_hashes[l_index + c_ahead] & m_mask]);
        std::size_t const l_hash = l_hashes[l_index];
        Place(SlotOf(m_waiting[l_index], l_hash, m_tagMask), l_hash);
    }
    m_count += m_waiting.size();
    m_waiting.clear();
    if (m_waiting.capacity() > 1024)
        m_waiting.shrink_to_fit();
}

void ValueIndex::Erase(Item const* item)
{
    if (!m_waiting.empty())
        Settle();
    if (m_count == 0)
        return;
    std::size_t l_at = Hash(item->GetValue().GetBytes()) & m_mask;
    while (m_slots[l_at] != 0 && ItemOf(m_slots[l_at]) != item)
        l_at = (l_at + 1) & m_mask;
    if (m_slots[l_at] == 0)
        return;
    // Backward shift: later slots of the run move up where their probe may start, so
    // no tombstones are needed and look-ups stay short.
    std::size_t l_hole = l_at;
    for (std::size_t l_next = (l_hole + 1) & m_mask; m_slots[l_next] != 0;
         l_next = (l_next + 1) & m_mask)
    {
        std::size_t const l_home = Hash(ItemOf(m_slots[l_next])->GetValue().GetBytes()) & m_mask;
        // The entry may fill the hole unless its home lies cyclically in (hole, next].
        bool const l_stays = l_hole <= l_next ? (l_hole < l_home && l_home <= l_next)
                                              : (l_hole < l_home || l_home <= l_next);
        if (l_stays)
            continue;
        m_slots[l_hole] = m_slots[l_next];
        l_hole = l_next;
    }
    m_slots[l_hole] = 0;
    --m_count;
    if (m_count == 0)
    {
        m_slots.clear();
        m_slots.shrink_to_fit();
        m_mask = 0;
    }
}
