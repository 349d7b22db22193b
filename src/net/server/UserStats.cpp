#include "net/server/UserStats.h"

bool UserStats::Read(InputStream& stream)
{
  return stream.Read(m_speed) && stream.Read(m_counter) && stream.Read(m_fileCount) &&
         stream.Read(m_folderCount);
}

bool UserStats::Write(OutputStream& stream) const
{
  return stream.Write(m_speed) && stream.Write(m_counter) && stream.Write(m_fileCount) &&
         stream.Write(m_folderCount);
}
