#pragma once

// A hash index of a type's keyed items by value, beside the value-ordered table that
// gives the order: a look-up costs a hash and about one item read instead of a descent
// through a tree of a million values.
//
// Open addressing with linear probing over one array of item pointers, kept at most
// three quarters full (about 11 bytes per item on average). The top 16 bits of each
// slot, which user-space addresses leave clear, hold bits of the value's hash, so a probe
// reads the item only when those bits agree.
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

private:
    static constexpr unsigned c_tagShift = 48;
    static constexpr std::uintptr_t c_addressMask = (std::uintptr_t(1) << c_tagShift) - 1;
    static std::size_t Hash(std::string const& bytes);
    std::uintptr_t Tag(std::size_t hash) const
    {
        return m_tagged ? (std::uintptr_t(hash >> c_tagShift) << c_tagShift) : 0;
    }
    static Item* ItemOf(std::uintptr_t slot)
    {
        return reinterpret_cast<Item*>(slot & c_addressMask);
    }
    void Place(std::uintptr_t slot, std::size_t hash);
    void Rebuild(std::size_t capacity);
    void Grow(std::size_t count);
    // Enters the waiting items.
    void Settle();

    std::vector<std::uintptr_t> m_slots; // 0 = empty
    std::vector<Item*> m_waiting;
    std::size_t m_count = 0;
    std::size_t m_mask = 0;
    // False once an address uses the top bits (then slots hold plain addresses).
    bool m_tagged = true;
};
