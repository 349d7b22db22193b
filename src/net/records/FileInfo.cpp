#include "net/records/FileInfo.h"

bool FileInfo::Read(InputStream& io_stream)
{
    unsigned char l_presence = 0;
    if (!io_stream.Read(l_presence))
        return false;
    if (l_presence == 0)
        return true;
    // The string reader refuses a length above 131072 before reading any name byte,
    // and cuts the name at its first NUL.
    return io_stream.Read(m_name) && io_stream.Read(m_size) && m_attributes.Read(io_stream);
}

bool FileInfo::Write(OutputStream& io_stream) const
{
    return io_stream.Write(static_cast<unsigned char>(1)) && io_stream.Write(m_name) &&
           io_stream.Write(m_size) && m_attributes.Write(io_stream);
}
