#include "shares/FolderFileSizes.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FolderFileSizes::~FolderFileSizes()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

qint64 FolderFileSizes::Of(QFileInfo const& i_entry)
{
    if (!m_opened)
    {
        m_opened = true;
        m_descriptor =
            ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    struct stat l_status;
    if (m_descriptor >= 0 &&
        ::fstatat(m_descriptor, QFile::encodeName(i_entry.fileName()).constData(), &l_status, 0) ==
            0)
        return qint64(l_status.st_size);
    return i_entry.size();
}
