#pragma once

// How an item holds its connections.
//
// Most items hold a handful of connections and most of their (type, item) groups hold
// exactly one item, while a few items (a folder's files, a common word, a shared flag
// value) hold hundreds of thousands of one type. So an item owns one heap block: a count
// and a sorted array of (type, item) entries, one entry per connection, in the order
// (type address, item address) that the events and queries walk. A group that grows past
// 32 entries moves out into a ChunkedSet of its own and leaves one tagged entry in the
// array; it comes back into the array when it shrinks to 16 (the gap keeps a group that
// sways around the limit from moving at every change). Memory then costs about 16 bytes
// per connection end in the common case and 8 in large groups, against two tree nodes
// per connection end before.
//
// Storage and query type are separate. `ItemSet` stays what callers build, combine and
// keep (an ordered std::set of handles); the storage hands out `ItemRange`, a read-only
// view of one group in the same address order. A view points into the item's block, so
// it is valid until that item's connections next change: take an ItemSet copy (an
// ItemRange converts) to keep the members across changes. `Item::ConnectedItemsOf`
// returns a view that behaves like the pointer it replaces: false when the item holds
// nothing of that type, `->` and `*` to reach the group.

#include "store/ChunkedSet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <utility>

class Item;
class Type;
class ItemPtr;

using LargeItemGroup = ChunkedSet<Item*, std::less<Item*>>;

struct ConnectionEntry
{
    Type* mp_type;
    // An Item*, or a LargeItemGroup* with the lowest bit set.
    std::uintptr_t m_bits;

    bool IsLarge() const { return (m_bits & 1u) != 0; }
    Item* GetItem() const { return reinterpret_cast<Item*>(m_bits); }
    LargeItemGroup* GetLarge() const
    {
        return reinterpret_cast<LargeItemGroup*>(m_bits & ~std::uintptr_t(1));
    }
};

// The connected items of one type of one item, in address order (see above).
class ItemRange
{
public:
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = ItemPtr;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = ItemPtr;
        struct Arrow;

        const_iterator() = default;
        explicit const_iterator(ConnectionEntry const* entry) : mp_entry(entry) {}
        explicit const_iterator(LargeItemGroup::const_iterator large)
            : mp_entry(nullptr), m_large(large)
        {
        }
        Item* GetPtr() const { return mp_entry ? mp_entry->GetItem() : *m_large; }
        ItemPtr operator*() const;
        Arrow operator->() const;
        const_iterator& operator++()
        {
            if (mp_entry)
                ++mp_entry;
            else
                ++m_large;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator l_old = *this;
            ++*this;
            return l_old;
        }
        bool operator==(const_iterator const& other) const
        {
            return mp_entry == other.mp_entry && (mp_entry || m_large == other.m_large);
        }

    private:
        ConnectionEntry const* mp_entry = nullptr;
        LargeItemGroup::const_iterator m_large;
    };
    using iterator = const_iterator;
    using value_type = ItemPtr;

    ItemRange() = default;
    ItemRange(std::nullptr_t) {}
    ItemRange(ConnectionEntry const* first, ConnectionEntry const* last)
        : mp_first(first), mp_last(last)
    {
    }
    explicit ItemRange(LargeItemGroup const* large) : mp_large(large) {}

    // Pointer-like use: `if (auto lp = item->ConnectedItemsOf(t)) for (ItemPtr x : *lp)`.
    explicit operator bool() const { return !empty(); }
    ItemRange const* operator->() const { return this; }
    ItemRange const& operator*() const { return *this; }
    bool operator==(std::nullptr_t) const { return empty(); }

    bool empty() const { return mp_large ? mp_large->empty() : mp_first == mp_last; }
    std::size_t size() const
    {
        return mp_large ? mp_large->size() : std::size_t(mp_last - mp_first);
    }
    const_iterator begin() const
    {
        return mp_large ? const_iterator(mp_large->begin()) : const_iterator(mp_first);
    }
    const_iterator end() const
    {
        return mp_large ? const_iterator(mp_large->end()) : const_iterator(mp_last);
    }
    // The member with the lowest address; the range must not be empty.
    Item* First() const { return mp_large ? mp_large->front() : mp_first->GetItem(); }
    bool Contains(Item const* item) const;
    std::size_t count(ItemPtr const& item) const;
    // True when both views show the same group.
    bool IsSameGroup(ItemRange const& other) const
    {
        return mp_large == other.mp_large && mp_first == other.mp_first;
    }

private:
    ConnectionEntry const* mp_first = nullptr;
    ConnectionEntry const* mp_last = nullptr;
    LargeItemGroup const* mp_large = nullptr;
};

// An item's groups in type-address order, each as (type, ItemRange); read-only.
class ConnectionGroups
{
public:
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::pair<Type*, ItemRange>;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = value_type;

        const_iterator(ConnectionEntry const* at, ConnectionEntry const* last)
            : mp_at(at), mp_last(last)
        {
        }
        value_type operator*() const
        {
            if (mp_at->IsLarge())
                return {mp_at->mp_type, ItemRange(mp_at->GetLarge())};
            return {mp_at->mp_type, ItemRange(mp_at, GroupEnd())};
        }
        const_iterator& operator++()
        {
            mp_at = GroupEnd();
            return *this;
        }
        bool operator==(const_iterator const& other) const { return mp_at == other.mp_at; }

    private:
        ConnectionEntry const* GroupEnd() const
        {
            ConnectionEntry const* lp_end = mp_at + 1;
            while (lp_end != mp_last && lp_end->mp_type == mp_at->mp_type)
                ++lp_end;
            return lp_end;
        }
        ConnectionEntry const* mp_at;
        ConnectionEntry const* mp_last;
    };

    ConnectionGroups(ConnectionEntry const* first, ConnectionEntry const* last)
        : mp_first(first), mp_last(last)
    {
    }
    const_iterator begin() const { return const_iterator(mp_first, mp_last); }
    const_iterator end() const { return const_iterator(mp_last, mp_last); }
    bool empty() const { return mp_first == mp_last; }

private:
    ConnectionEntry const* mp_first;
    ConnectionEntry const* mp_last;
};

// The storage itself: one pointer in the item, the block on the heap (none while empty).
class ConnectionTable
{
public:
    // Groups longer than this move into a LargeItemGroup; back at c_smallAgain entries
    // they return to the array.
    static constexpr std::size_t c_largeFrom = 32;
    static constexpr std::size_t c_smallAgain = 16;

    ConnectionTable() = default;
    ConnectionTable(ConnectionTable const&) = delete;
    ConnectionTable& operator=(ConnectionTable const&) = delete;
    ~ConnectionTable() { Clear(); }

    bool empty() const { return !mp_block || mp_block->m_size == 0; }
    ItemRange Find(Type* type) const;
    bool Contains(Type* type, Item const* item) const { return Find(type).Contains(item); }
    // False when the pair is there already / was not there.
    bool Insert(Type* type, Item* item);
    bool Erase(Type* type, Item* item);
    // The first connection in (type, item) order; the table must not be empty.
    Item* First() const;
    ConnectionGroups Groups() const
    {
        return mp_block ? ConnectionGroups(Entries(), Entries() + mp_block->m_size)
                        : ConnectionGroups(nullptr, nullptr);
    }
    void Clear();
    void const* Address() const { return mp_block; }
    // Room for `more` connections beyond those held, for a caller that knows what is
    // coming: one block of the final size instead of a move at every step of growth.
    // More than a group of the array holds is not reserved, since a large group takes
    // one entry.
    void ReserveMore(std::size_t more);

    // Heap bytes held, as the allocator counts them, and connection ends held (for the
    // store's census).
    std::size_t HeapBytes() const;
    std::size_t Count() const;

private:
    // The header; the entries follow it in the same heap block.
    struct Block
    {
        std::uint32_t m_size;
        std::uint32_t m_capacity;
    };
    static_assert(sizeof(Block) % alignof(ConnectionEntry) == 0);
    static std::size_t BlockBytes(std::uint32_t capacity)
    {
        return sizeof(Block) + sizeof(ConnectionEntry) * capacity;
    }
    ConnectionEntry* Entries() const { return reinterpret_cast<ConnectionEntry*>(mp_block + 1); }
    // The entries of `type`: [first, last).
    std::pair<std::uint32_t, std::uint32_t> GroupOf(Type* type) const;
    // Opens `count` entries at `at` / closes them, keeping the order of the rest.
    void Open(std::uint32_t at, std::uint32_t count);
    void Close(std::uint32_t at, std::uint32_t count);
    void Reserve(std::uint32_t capacity);

    Block* mp_block = nullptr;
};
