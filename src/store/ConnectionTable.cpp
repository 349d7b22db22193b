// Connection storage of one item: see ConnectionTable.h.

#include "store/Data.h"
#include "store/StoreCensus.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace
{
bool TypeBefore(ConnectionEntry const& entry, Type* type)
{
    return std::less<Type*>()(entry.mp_type, type);
}

bool ItemBefore(ConnectionEntry const& entry, Item const* item)
{
    return std::less<Item const*>()(entry.GetItem(), item);
}
} // namespace

bool ItemRange::Contains(Item const* item) const
{
    if (mp_large)
        return mp_large->contains(const_cast<Item*>(item));
    ConnectionEntry const* const lp_at = std::lower_bound(mp_first, mp_last, item, ItemBefore);
    return lp_at != mp_last && lp_at->GetItem() == item;
}

std::size_t ItemRange::count(ItemPtr const& item) const
{
    return Contains(item.GetPtr()) ? 1 : 0;
}

std::pair<std::uint32_t, std::uint32_t> ConnectionTable::GroupOf(Type* type) const
{
    if (!mp_block)
        return {0, 0};
    ConnectionEntry const* const lp_begin = Entries();
    ConnectionEntry const* const lp_end = lp_begin + mp_block->m_size;
    ConnectionEntry const* const lp_first = std::lower_bound(lp_begin, lp_end, type, TypeBefore);
    ConnectionEntry const* lp_last = lp_first;
    // Groups in the array are short (32 at most), so a scan beats a second search.
    while (lp_last != lp_end && lp_last->mp_type == type)
        ++lp_last;
    return {std::uint32_t(lp_first - lp_begin), std::uint32_t(lp_last - lp_begin)};
}

ItemRange ConnectionTable::Find(Type* type) const
{
    auto const [l_first, l_last] = GroupOf(type);
    if (l_first == l_last)
        return ItemRange();
    ConnectionEntry const* const lp_first = Entries() + l_first;
    if (lp_first->IsLarge())
        return ItemRange(lp_first->GetLarge());
    return ItemRange(lp_first, Entries() + l_last);
}

Item* ConnectionTable::First() const
{
    ConnectionEntry const& l_entry = Entries()[0];
    return l_entry.IsLarge() ? l_entry.GetLarge()->front() : l_entry.GetItem();
}

void ConnectionTable::Reserve(std::uint32_t capacity)
{
    if (mp_block && capacity <= mp_block->m_capacity)
        return;
    void* const lp_memory = std::realloc(mp_block, BlockBytes(capacity));
    if (!lp_memory)
        throw std::bad_alloc();
    bool const l_new = !mp_block;
    mp_block = static_cast<Block*>(lp_memory);
    if (l_new)
        mp_block->m_size = 0;
    mp_block->m_capacity = capacity;
}

void ConnectionTable::ReserveMore(std::size_t more)
{
    std::uint32_t const l_size = mp_block ? mp_block->m_size : 0;
    std::size_t const l_more = std::min(more, c_largeFrom);
    if (l_more > 0)
        Reserve(l_size + std::uint32_t(l_more));
}

void ConnectionTable::Open(std::uint32_t at, std::uint32_t count)
{
    std::uint32_t const l_size = mp_block ? mp_block->m_size : 0;
    std::uint32_t const l_needed = l_size + count;
    if (!mp_block || l_needed > mp_block->m_capacity)
    {
        // A quarter more than needed: few moves for a growing item, and little unused
        // room in the many that stay small. Capacities of 1, 2, 3... fill the
        // allocator's 16-byte size steps exactly (the header is 8 bytes).
        Reserve(l_needed + l_needed / 4);
    }
    ConnectionEntry* const lp_at = Entries() + at;
    std::memmove(static_cast<void*>(lp_at + count), lp_at, sizeof(ConnectionEntry) * (l_size - at));
    mp_block->m_size = l_needed;
}

void ConnectionTable::Close(std::uint32_t at, std::uint32_t count)
{
    ConnectionEntry* const lp_at = Entries() + at;
    std::uint32_t const l_size = mp_block->m_size - count;
    std::memmove(static_cast<void*>(lp_at), lp_at + count, sizeof(ConnectionEntry) * (l_size - at));
    mp_block->m_size = l_size;
    if (l_size == 0)
    {
        std::free(mp_block);
        mp_block = nullptr;
    }
    else if (l_size * 2 < mp_block->m_capacity && mp_block->m_capacity > 4)
    {
        // Give back what a shrunken item no longer needs, keeping some room.
        std::uint32_t const l_capacity = l_size + l_size / 4 + 1;
        mp_block = static_cast<Block*>(std::realloc(mp_block, BlockBytes(l_capacity)));
        mp_block->m_capacity = l_capacity;
    }
}

bool ConnectionTable::Insert(Type* type, Item* item)
{
    auto const [l_first, l_last] = GroupOf(type);
    if (l_first != l_last && Entries()[l_first].IsLarge())
        return Entries()[l_first].GetLarge()->insert(item);
    ConnectionEntry const* const lp_first = mp_block ? Entries() + l_first : nullptr;
    ConnectionEntry const* const lp_at =
        std::lower_bound(lp_first, lp_first + (l_last - l_first), item, ItemBefore);
    std::uint32_t const l_at = l_first + std::uint32_t(lp_at - lp_first);
    if (l_at != l_last && lp_at->GetItem() == item)
        return false;
    if (l_last - l_first < c_largeFrom)
    {
        Open(l_at, 1);
        Entries()[l_at] = {type, reinterpret_cast<std::uintptr_t>(item)};
        return true;
    }
    auto* const lp_large = new LargeItemGroup;
    for (std::uint32_t l_index = l_first; l_index < l_last; ++l_index)
        lp_large->insert(Entries()[l_index].GetItem());
    lp_large->insert(item);
    Entries()[l_first] = {type, reinterpret_cast<std::uintptr_t>(lp_large) | 1u};
    Close(l_first + 1, l_last - l_first - 1);
    return true;
}

bool ConnectionTable::Erase(Type* type, Item* item)
{
    auto const [l_first, l_last] = GroupOf(type);
    if (l_first == l_last)
        return false;
    ConnectionEntry& l_head = Entries()[l_first];
    if (l_head.IsLarge())
    {
        LargeItemGroup* const lp_large = l_head.GetLarge();
        if (!lp_large->erase(item))
            return false;
        if (lp_large->size() > c_smallAgain)
            return true;
        // Back into the array: the large entry's place becomes the group's first entry.
        std::uint32_t const l_count = std::uint32_t(lp_large->size());
        Open(l_first + 1, l_count - 1);
        ConnectionEntry* lp_to = Entries() + l_first;
        for (Item* lp_member : *lp_large)
            *lp_to++ = {type, reinterpret_cast<std::uintptr_t>(lp_member)};
        delete lp_large;
        return true;
    }
    ConnectionEntry const* const lp_first = Entries() + l_first;
    ConnectionEntry const* const lp_at =
        std::lower_bound(lp_first, lp_first + (l_last - l_first), item, ItemBefore);
    std::uint32_t const l_at = l_first + std::uint32_t(lp_at - lp_first);
    if (l_at == l_last || lp_at->GetItem() != item)
        return false;
    Close(l_at, 1);
    return true;
}

void ConnectionTable::Clear()
{
    if (!mp_block)
        return;
    for (std::uint32_t l_index = 0; l_index < mp_block->m_size; ++l_index)
        if (Entries()[l_index].IsLarge())
            delete Entries()[l_index].GetLarge();
    std::free(mp_block);
    mp_block = nullptr;
}

std::size_t ConnectionTable::HeapBytes() const
{
    if (!mp_block)
        return 0;
    std::size_t l_bytes = StoreCensus::HeapBlock(BlockBytes(mp_block->m_capacity));
    for (std::uint32_t l_index = 0; l_index < mp_block->m_size; ++l_index)
        if (Entries()[l_index].IsLarge())
            l_bytes += StoreCensus::HeapBlock(sizeof(LargeItemGroup)) +
                       Entries()[l_index].GetLarge()->HeapBytes(StoreCensus::HeapBlock);
    return l_bytes;
}

std::size_t ConnectionTable::Count() const
{
    if (!mp_block)
        return 0;
    std::size_t l_count = 0;
    for (std::uint32_t l_index = 0; l_index < mp_block->m_size; ++l_index)
        l_count += Entries()[l_index].IsLarge() ? Entries()[l_index].GetLarge()->size() : 1;
    return l_count;
}
