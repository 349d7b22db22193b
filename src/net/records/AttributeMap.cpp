#include "net/records/AttributeMap.h"

bool AttributeMap::Read(InputStream& io_stream)
{
    if (!io_stream.Read(m_extension))
        return false;
    m_pairs.clear();
    std::uint32_t l_count = 0;
    // Unsigned: a count that reads as negative is as much a lie as a huge one.
    if (!io_stream.Read(l_count) || l_count > kStreamReadLimit)
        return false;
    for (std::uint32_t l_index = 0; l_index < l_count; ++l_index)
    {
        Pair l_pair;
        if (!io_stream.Read(l_pair.first) || !io_stream.Read(l_pair.second))
            return false;
        m_pairs.push_back(l_pair);
    }
    return true;
}

bool AttributeMap::Write(OutputStream& io_stream) const
{
    if (!io_stream.Write(m_extension) ||
        !io_stream.Write(static_cast<unsigned int>(m_pairs.size())))
        return false;
    for (Pair const& l_pair : m_pairs)
        if (!io_stream.Write(l_pair.first) || !io_stream.Write(l_pair.second))
            return false;
    return true;
}
