// The store's memory census: see StoreCensus.h.

#include "store/StoreCensus.h"

#include "store/Data.h"

std::size_t StoreCensus::HeapBlock(std::size_t bytes)
{
    std::size_t const l_block = (bytes + 8 + 15) / 16 * 16;
    return l_block < 32 ? 32 : l_block;
}

StoreCensus StoreCensus::Take(Data const& data)
{
    StoreCensus l_census;
    // A node of a std::set of pointers: three links, the colour and the element.
    std::size_t const l_indexNode = HeapBlock(4 * sizeof(void*) + sizeof(Item*));
    std::size_t l_ends = 0;
    auto const l_count = [&](Item const* item)
    {
        ++l_census.m_items;
        l_census.m_itemBytes += HeapBlock(sizeof(Item)) + l_indexNode;
        std::string const& l_bytes = item->GetValue().GetBytes();
        if (l_bytes.capacity() > 15) // longer values leave the string's own buffer
            l_census.m_valueBytes += HeapBlock(l_bytes.capacity() + 1);
        l_census.m_connectionBytes += item->ConnectionsHeapBytes();
        l_ends += item->ConnectionCount();
    };
    for (auto const& [l_name, lp_type] : data.Types())
    {
        l_census.m_itemBytes += lp_type->HeapBytes();
        if (lp_type->IsNull())
            for (Item const* lp_item : lp_type->NullItems())
                l_count(lp_item);
        else
            for (Item const* lp_item : lp_type->KeyedItems())
                l_count(lp_item);
    }
    l_census.m_connections = l_ends / 2;
    return l_census;
}
