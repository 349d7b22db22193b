#include "transfers/PartialFile.h"

#include "store/DataSaver.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <unistd.h>

namespace
{
QString const c_recordFolder = QStringLiteral("/.partial writers");
QString const c_setAsideFolder = QStringLiteral("/set aside");
quint32 const c_recordMagic = 0x4B505752;
// A record holds two paths and a user name; anything larger was not written here.
qint64 const c_maxRecordBytes = 1024 * 1024;
int const c_maxSetAsideNames = 1000;

// "name", "name (2)", "name (3)"...; the number goes before the extension.
QString NumberedName(QString const& i_name, int i_number)
{
    if (i_number == 1)
        return i_name;
    QString const l_number = QStringLiteral(" (%1)").arg(i_number);
    qsizetype const l_dot = i_name.lastIndexOf(QLatin1Char('.'));
    return l_dot > 0 ? QString(i_name).insert(l_dot, l_number) : i_name + l_number;
}
} // namespace

PartialFile::PartialFile(QString const& i_path, QString const& i_relative)
    : m_path(i_path), m_relative(i_relative)
{
    QString const l_tail = QLatin1Char('/') + i_relative;
    if (!i_relative.isEmpty() && i_path.endsWith(l_tail))
        m_base = QFileInfo(i_path.chopped(l_tail.size())).path();
}

QString PartialFile::RecordFolder() const
{
    return m_base + c_recordFolder;
}

QString PartialFile::RecordPath() const
{
    // One flat folder: the relative path may be deeper than any name allows.
    return RecordFolder() + QLatin1Char('/') +
           QString::fromLatin1(
               QCryptographicHash::hash(m_relative.toUtf8(), QCryptographicHash::Sha1).toHex());
}

std::optional<PartialFile::Writer> PartialFile::ReadWriter() const
{
    if (m_base.isEmpty())
        return std::nullopt;
    QFile l_file(RecordPath());
    if (!l_file.open(QIODevice::ReadOnly) || l_file.size() > c_maxRecordBytes)
        return std::nullopt;
    QDataStream l_in(l_file.read(c_maxRecordBytes));
    l_in.setVersion(QDataStream::Qt_6_0);
    quint32 l_magic = 0;
    QString l_relative;
    Writer l_writer;
    QByteArray l_remotePath;
    l_in >> l_magic >> l_relative >> l_writer.user >> l_remotePath;
    if (l_in.status() != QDataStream::Ok || l_magic != c_recordMagic || l_relative != m_relative)
        return std::nullopt;
    l_writer.remotePath = l_remotePath.toStdString();
    return l_writer;
}

bool PartialFile::WriteWriter(Writer const& i_writer) const
{
    if (m_base.isEmpty() || !QDir().mkpath(RecordFolder()))
        return false;
    QSaveFile l_file(RecordPath());
    if (!l_file.open(QIODevice::WriteOnly))
        return false;
    QDataStream l_out(&l_file);
    l_out.setVersion(QDataStream::Qt_6_0);
    l_out << c_recordMagic << m_relative << i_writer.user
          << QByteArray::fromStdString(i_writer.remotePath);
    return l_out.status() == QDataStream::Ok && l_file.flush() && ::fsync(l_file.handle()) == 0 &&
           l_file.commit() && DataSaver::SyncFolderOf(RecordPath());
}

void PartialFile::RemoveWriter() const
{
    if (m_base.isEmpty())
        return;
    QFile::remove(RecordPath());
    QDir().rmdir(RecordFolder());
}

QString PartialFile::SetAside() const
{
    if (m_base.isEmpty())
        return QString();
    QFileInfo const l_place(m_base + c_setAsideFolder + QLatin1Char('/') + m_relative);
    if (!QDir().mkpath(l_place.path()))
        return QString();
    for (int l_number = 1; l_number <= c_maxSetAsideNames; ++l_number)
    {
        QString const l_target =
            l_place.path() + QLatin1Char('/') + NumberedName(l_place.fileName(), l_number);
        // A dangling link does not exist either, but it is not free.
        QFileInfo const l_taken(l_target);
        if (l_taken.exists() || l_taken.isSymLink())
            continue;
        // Renaming never replaces a file that appeared meanwhile.
        return QFile::rename(m_path, l_target) ? l_target : QString();
    }
    return QString();
}
