#include "net/peer/SearchReply.h"

bool SearchReply::ReadFiles(InputStream& io_stream)
{
    m_files.clear();
    std::uint32_t l_count = 0;
    if (!io_stream.Read(l_count) || l_count > kStreamReadLimit)
        return false;
    for (std::uint32_t l_index = 0; l_index < l_count; ++l_index)
    {
        FileInfo l_file;
        if (!l_file.Read(io_stream))
            return false;
        m_files.push_back(std::move(l_file));
    }
    return true;
}

void SearchReply::ReadTail(InputStream& io_stream)
{
    unsigned char l_freeSlot = 0;
    if (!io_stream.Read(l_freeSlot))
        return;
    m_hasFreeSlot = l_freeSlot != 0;
    if (!io_stream.Read(m_uploadSpeed) || !io_stream.Read(m_queueLength))
        return;
    if (!io_stream.Read(m_attributeNames))
        m_attributeNames.clear();
}
