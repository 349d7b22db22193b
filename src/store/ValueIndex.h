#pragma once

// A hash index of a type's keyed items by value, beside the value-ordered table that
// gives the order: a look-up costs a hash and about one item read instead of a descent
// through a tree of a million values.
//
// Open addressing with linear probing over one array of item pointers, kept at most
// three quarters full (about 11 bytes per item on average). The top 16 bits of each
// slot, which user-space addresses leave clear, hold bits of the value's hash, so a probe
// reads the item only when those bits agree. Where the heap uses those bits too (pointer
// tagging, 57-bit address spaces) the index keeps plain addresses instead, from the first
// item whose address reaches them.
//
// Items created in a run without look-ups between them (a load: values arrive in order
// and need none) wait in a list and enter the table together at the next look-up, where
// their slots can be fetched ahead instead of missing the cache one by one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Item;

class ValueIndex
{
public:
    Item* Find(std::string const& bytes);
    // The item's value must not be in the index yet.
    void Insert(Item* item);
    // Takes out exactly this item (a no-op when it is not there).
    void Erase(Item const* item);
    std::size_t Size() const { return m_count + m_waiting.size(); }
    // Room for `count` items without growing.
    void Reserve(std::size_t count);
    std::size_t CapacityBytes() const
    {
        return (m_slots.capacity() + m_waiting.capacity()) * sizeof(std::uintptr_t);
    }
    // Items inserted after this many waiting ones go in at once (bounds the list).
    static constexpr std::size_t c_maxWaiting = 1 << 16;
    // Moves the tags above the low `bits` address bits (48 at first); 64, or an item
    // already past them, leaves plain addresses. A heap known to be wide can skip the
    // tags from the start, and a narrow one can be made to run the plain mode.
    void SetAddressBits(unsigned bits);

private:
    static std::size_t Hash(std::string const& bytes);
    static std::uintptr_t Address(Item const* item)
    {
        return reinterpret_cast<std::uintptr_t>(item);
    }
    // Both read the mask from the caller, so a loop can keep it in a register.
    static Item* ItemOf(std::uintptr_t slot, std::uintptr_t tagMask)
    {
        return reinterpret_cast<Item*>(slot & ~tagMask);
    }
    static std::uintptr_t SlotOf(Item const* item, std::size_t hash, std::uintptr_t tagMask)
    {
        return Address(item) | (std::uintptr_t(hash) & tagMask);
    }
    Item* ItemOf(std::uintptr_t slot) const { return ItemOf(slot, m_tagMask); }
    void Place(std::uintptr_t slot, std::size_t hash);
    void Rebuild(std::size_t capacity);
    void Grow(std::size_t count);
    // Enters the waiting items.
    void Settle();

    std::vector<std::uintptr_t> m_slots; // 0 = empty
    std::vector<Item*> m_waiting;
    std::size_t m_count = 0;
    std::size_t m_mask = 0;
    // The slot bits that hold the tag; 0 once an address uses them (then slots hold
    // plain addresses and every probe reads its item).
    std::uintptr_t m_tagMask = ~((std::uintptr_t(1) << 48) - 1);
};
