#pragma once

// A hash index of a type's keyed items by value, beside the value-ordered table that
// gives the order: a look-up costs a hash and about one item read instead of a descent
// through a tree of a million values.
//
// Open addressing with linear probing over one array of item pointers, kept at most
// three quarters full (about 11 bytes per item on average). The top 16 bits of each
// slot, which user-space addresses leave clear, hold bits of the value's hash, so a probe
// reads the item only when those bits agree.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Item;

class ValueIndex
{
public:
    Item* Find(std::string const& bytes) const;
    // The item's value must not be in the index yet.
    void Insert(Item* item);
    // Takes out exactly this item (a no-op when it is not there).
    void Erase(Item const* item);
    std::size_t Size() const { return m_count; }
    std::size_t CapacityBytes() const { return m_slots.capacity() * sizeof(std::uintptr_t); }

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

    std::vector<std::uintptr_t> m_slots; // 0 = empty
    std::size_t m_count = 0;
    std::size_t m_mask = 0;
    // False once an address uses the top bits (then slots hold plain addresses).
    bool m_tagged = true;
};
