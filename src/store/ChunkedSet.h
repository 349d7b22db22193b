#pragma once

// An ordered set kept as a list of sorted chunks of up to 128 elements: a few bytes per
// element instead of a tree node, a look-up is a binary search over the chunks' first
// elements (held apart, so the search touches no chunk) and one within a chunk, and an
// insertion moves at most one chunk's worth of elements. It holds the large connection
// groups of items, where a node per entry would cost more than the item it names.
//
// Elements are small and trivially copyable (pointers). `Less` may be transparent, so a
// key of another type can be looked up directly.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <vector>

template <class T, class Less> class ChunkedSet
{
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr std::uint32_t c_chunkSize = 128;
    struct Chunk
    {
        std::uint32_t m_count = 0;
        T m_items[c_chunkSize];
    };

    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = T const*;
        using reference = T const&;

        const_iterator() = default;
        const_iterator(Chunk* const* chunk, std::uint32_t index) : mp_chunk(chunk), m_index(index)
        {
        }
        T const& operator*() const { return (*mp_chunk)->m_items[m_index]; }
        T const* operator->() const { return &(*mp_chunk)->m_items[m_index]; }
        const_iterator& operator++()
        {
            if (++m_index == (*mp_chunk)->m_count)
            {
                ++mp_chunk;
                m_index = 0;
            }
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
            return mp_chunk == other.mp_chunk && m_index == other.m_index;
        }

    private:
        Chunk* const* mp_chunk = nullptr;
        std::uint32_t m_index = 0;
    };

    ChunkedSet() = default;
    ChunkedSet(ChunkedSet const&) = delete;
    ChunkedSet& operator=(ChunkedSet const&) = delete;
    ~ChunkedSet() { clear(); }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const_iterator begin() const { return const_iterator(m_chunks.data(), 0); }
    const_iterator end() const { return const_iterator(m_chunks.data() + m_chunks.size(), 0); }
    T const& front() const { return m_chunks.front()->m_items[0]; }
    T const& back() const { return m_chunks.back()->m_items[m_chunks.back()->m_count - 1]; }

    void clear()
    {
        for (Chunk* lp_chunk : m_chunks)
            delete lp_chunk;
        m_chunks.clear();
        m_firsts.clear();
        m_size = 0;
    }

    // The element equal to `key`, or null.
    template <class K> T const* find(K const& key) const
    {
        if (m_chunks.empty())
            return nullptr;
        Chunk const* const lp_chunk = m_chunks[ChunkFor(key)];
        T const* const lp_end = lp_chunk->m_items + lp_chunk->m_count;
        T const* const lp_at = std::lower_bound(lp_chunk->m_items, lp_end, key, Less());
        return lp_at != lp_end && !Less()(key, *lp_at) ? lp_at : nullptr;
    }
    template <class K> bool contains(K const& key) const { return find(key) != nullptr; }

    // The first element not less than `key`, or end().
    template <class K> const_iterator lower_bound(K const& key) const
    {
        if (m_chunks.empty())
            return end();
        std::size_t const l_index = ChunkFor(key);
        Chunk const* const lp_chunk = m_chunks[l_index];
        T const* const lp_end = lp_chunk->m_items + lp_chunk->m_count;
        T const* const lp_at = std::lower_bound(lp_chunk->m_items, lp_end, key, Less());
        if (lp_at == lp_end)
            return const_iterator(m_chunks.data() + l_index + 1, 0);
        return const_iterator(m_chunks.data() + l_index, std::uint32_t(lp_at - lp_chunk->m_items));
    }

    // False when an equal element is there already.
    bool insert(T const& value)
    {
        if (m_chunks.empty())
        {
            AddChunk(0, value);
            return true;
        }
        // Growing at the end (ascending loads, new items at higher addresses) needs no
        // search.
        bool const l_last = Less()(back(), value);
        std::size_t l_index = l_last ? m_chunks.size() - 1 : ChunkFor(value);
        Chunk* lp_chunk = m_chunks[l_index];
        std::uint32_t l_at = l_last ? lp_chunk->m_count : Position(lp_chunk, value);
        if (l_at < lp_chunk->m_count && !Less()(value, lp_chunk->m_items[l_at]))
            return false;
        if (lp_chunk->m_count == c_chunkSize)
        {
            // Growing at the very end (ascending loads) starts a new chunk and leaves the
            // full one full; anywhere else the chunk is split in halves.
            if (l_at == c_chunkSize && l_index + 1 == m_chunks.size())
            {
                AddChunk(l_index + 1, value);
                return true;
            }
            std::uint32_t const l_half = c_chunkSize / 2;
            Chunk* const lp_upper = new Chunk;
            lp_upper->m_count = c_chunkSize - l_half;
            std::memcpy(lp_upper->m_items, lp_chunk->m_items + l_half,
                        sizeof(T) * lp_upper->m_count);
            lp_chunk->m_count = l_half;
            m_chunks.insert(m_chunks.begin() + std::ptrdiff_t(l_index + 1), lp_upper);
            m_firsts.insert(m_firsts.begin() + std::ptrdiff_t(l_index + 1), lp_upper->m_items[0]);
            if (l_at > l_half)
            {
                ++l_index;
                lp_chunk = lp_upper;
                l_at -= l_half;
            }
        }
        std::memmove(lp_chunk->m_items + l_at + 1, lp_chunk->m_items + l_at,
                     sizeof(T) * (lp_chunk->m_count - l_at));
        lp_chunk->m_items[l_at] = value;
        ++lp_chunk->m_count;
        if (l_at == 0)
            m_firsts[l_index] = value;
        ++m_size;
        return true;
    }

    // False when no element equals `key`.
    template <class K> bool erase(K const& key)
    {
        if (m_chunks.empty())
            return false;
        std::size_t const l_index = ChunkFor(key);
        Chunk* const lp_chunk = m_chunks[l_index];
        std::uint32_t const l_at = Position(lp_chunk, key);
        if (l_at == lp_chunk->m_count || Less()(key, lp_chunk->m_items[l_at]))
            return false;
        std::memmove(lp_chunk->m_items + l_at, lp_chunk->m_items + l_at + 1,
                     sizeof(T) * (lp_chunk->m_count - l_at - 1));
        --lp_chunk->m_count;
        --m_size;
        if (lp_chunk->m_count == 0)
        {
            RemoveChunk(l_index);
            return true;
        }
        m_firsts[l_index] = lp_chunk->m_items[0];
        // Neighbours that fit in half a chunk together are merged, so a shrinking set
        // keeps its chunks at least a quarter full on average.
        if (l_index + 1 < m_chunks.size() && Fits(lp_chunk, m_chunks[l_index + 1]))
            MergeInto(l_index);
        else if (l_index > 0 && Fits(m_chunks[l_index - 1], lp_chunk))
            MergeInto(l_index - 1);
        return true;
    }

    // Heap bytes held (chunks and the two chunk lists), each block as `block(bytes)`
    // counts it, for the store's census.
    template <class Block> std::size_t HeapBytes(Block block) const
    {
        return m_chunks.size() * block(sizeof(Chunk)) +
               block(m_chunks.capacity() * sizeof(Chunk*)) + block(m_firsts.capacity() * sizeof(T));
    }

private:
    // The chunk where `key` is or belongs: the last whose first element is not greater.
    template <class K> std::size_t ChunkFor(K const& key) const
    {
        auto const l_it = std::upper_bound(m_firsts.begin(), m_firsts.end(), key, Less());
        return l_it == m_firsts.begin() ? 0 : std::size_t(l_it - m_firsts.begin()) - 1;
    }
    template <class K> static std::uint32_t Position(Chunk const* chunk, K const& key)
    {
        return std::uint32_t(
            std::lower_bound(chunk->m_items, chunk->m_items + chunk->m_count, key, Less()) -
            chunk->m_items);
    }
    void AddChunk(std::size_t index, T const& value)
    {
        Chunk* const lp_chunk = new Chunk;
        lp_chunk->m_count = 1;
        lp_chunk->m_items[0] = value;
        m_chunks.insert(m_chunks.begin() + std::ptrdiff_t(index), lp_chunk);
        m_firsts.insert(m_firsts.begin() + std::ptrdiff_t(index), value);
        ++m_size;
    }
    void RemoveChunk(std::size_t index)
    {
        delete m_chunks[index];
        m_chunks.erase(m_chunks.begin() + std::ptrdiff_t(index));
        m_firsts.erase(m_firsts.begin() + std::ptrdiff_t(index));
    }
    static bool Fits(Chunk const* a, Chunk const* b)
    {
        return a->m_count + b->m_count <= c_chunkSize / 2;
    }
    // Moves chunk index+1 to the end of chunk index.
    void MergeInto(std::size_t index)
    {
        Chunk* const lp_to = m_chunks[index];
        Chunk const* const lp_from = m_chunks[index + 1];
        std::memcpy(lp_to->m_items + lp_to->m_count, lp_from->m_items,
                    sizeof(T) * lp_from->m_count);
        lp_to->m_count += lp_from->m_count;
        RemoveChunk(index + 1);
    }

    std::vector<Chunk*> m_chunks; // none empty
    std::vector<T> m_firsts;      // each chunk's first element
    std::size_t m_size = 0;
};
