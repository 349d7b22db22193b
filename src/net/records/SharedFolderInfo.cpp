#include "net/records/SharedFolderInfo.h"

bool SharedFolderInfo::Read(InputStream& io_stream)
{
    m_files.clear();
    std::uint32_t l_count = 0;
    if (!io_stream.Read(l_count) || l_count > kStreamReadLimit)
        return false;
    // Starts value-initialised: an absent first entry stands for an empty-named file
    // of size 0.
    FileInfo l_working;
    for (std::uint32_t l_index = 0; l_index < l_count; ++l_index)
    {
        if (!l_working.Read(io_stream))
            return false;
        m_files.insert(l_working);
    }
    std::uint32_t l_trailer = 0;
    return io_stream.Read(l_trailer);
}

bool SharedFolderInfo::Write(OutputStream& io_stream) const
{
    if (!io_stream.Write(static_cast<unsigned int>(m_files.size())))
        return false;
    for (FileInfo const& l_file : m_files)
        if (!l_file.Write(io_stream))
            return false;
    return io_stream.Write(0u);
}
