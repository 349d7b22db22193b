#pragma once

// A census of the store's memory: every item, its place in its type's table, its value's
// heap bytes and its connection storage, each heap block counted at the size the
// allocator hands out for it (glibc: the request plus 8 bytes, in steps of 16, at least
// 32). For benchmarks and diagnostics: it walks the whole store.

#include <cstddef>

class Data;

struct StoreCensus
{
    std::size_t m_items = 0;
    // Connections (each counted once, though both ends hold it).
    std::size_t m_connections = 0;
    std::size_t m_itemBytes = 0;       // items and their type-table entries
    std::size_t m_valueBytes = 0;      // value bytes kept on the heap
    std::size_t m_connectionBytes = 0; // connection storage, both ends

    static StoreCensus Take(Data const& data);
    // The allocator's block size for a request of `bytes`.
    static std::size_t HeapBlock(std::size_t bytes);
};
