#include "transfers/PartialFile.h"

#include "store/DataSaver.h"
#include "transfers/RealPath.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace
{
// Beside "downloading", where a user who moves what the download folder shows takes it
// along with the partial files.
QString const c_recordFolder = QStringLiteral("/partial writers");
// Where the version before kept records. They are still read, and still written when
// nothing can be written at the place above.
QString const c_hiddenRecordFolder = QStringLiteral("/.partial writers");
QString const c_setAsideFolder = QStringLiteral("set aside");
quint32 const c_recordMagic = 0x4B505752;
// A record holds two paths and a user name; anything larger was not written here.
qint64 const c_maxRecordBytes = 1024 * 1024;
int const c_maxSetAsideNames = 1000;
// Why nothing can be kept for a partial file that lies in no known download folder.
QString const c_unknownFolder = QStringLiteral("the download folder: it is not known");

qsizetype NativeSize(QString const& i_name)
{
    return QFile::encodeName(i_name).size();
}

// The longest name in bytes that the file system takes in that folder.
qsizetype NameLimit(QString const& i_folder)
{
    long const l_limit = ::pathconf(QFile::encodeName(i_folder).constData(), _PC_NAME_MAX);
    return l_limit > 0 ? l_limit : 255;
}

// "name", "name (2)", "name (3)"...; the number goes before the extension. A name that
// would grow past the limit loses characters at the end of its stem, whole ones.
QString NumberedName(QString const& i_name, int i_number, qsizetype i_limit)
{
    QString const l_number = i_number == 1 ? QString() : QStringLiteral(" (%1)").arg(i_number);
    qsizetype const l_dot = i_name.lastIndexOf(QLatin1Char('.'));
    QString l_stem = l_dot > 0 ? i_name.left(l_dot) : i_name;
    QString l_extension = l_dot > 0 ? i_name.mid(l_dot) : QString();
    // An extension too long to keep a character of the stem is no extension.
    if (NativeSize(l_number + l_extension) >= i_limit)
    {
        l_stem = i_name;
        l_extension.clear();
    }
    qsizetype const l_room = i_limit - NativeSize(l_number + l_extension);
    while (NativeSize(l_stem) > l_room)
    {
        qsizetype const l_size = l_stem.size();
        // A character outside the first plane takes two units.
        qsizetype const l_last =
            l_size > 1 && l_stem.back().isLowSurrogate() && l_stem.at(l_size - 2).isHighSurrogate()
                ? 2
                : 1;
        if (l_last == l_size)
            break;
        l_stem.chop(l_last);
    }
    return l_stem + l_number + l_extension;
}

// A file opened by its handle has no name of its own; the move into the complete folder
// and the check for a second writer of one file go by the name it was opened under.
class NamedFile : public QFile
{
public:
    explicit NamedFile(QString const& i_path) : m_path(i_path) {}
    QString fileName() const override { return m_path; }

private:
    QString m_path;
};

// Opens a regular file by its handle, never through a link and never waiting on a pipe
// (opening one waits for the other end); the handle blocks as usual afterwards. The
// reason, or an empty text once the file is open.
QString OpenRegularFile(QFile& io_file, QString const& i_path, int i_flags,
                        QIODevice::OpenMode i_mode, struct stat& o_status)
{
    int const l_handle = ::open(QFile::encodeName(i_path).constData(),
                                i_flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (l_handle < 0)
        return qt_error_string(errno);
    if (::fstat(l_handle, &o_status) != 0 || !S_ISREG(o_status.st_mode) ||
        ::fcntl(l_handle, F_SETFL, i_flags & O_APPEND) != 0 ||
        !io_file.open(l_handle, i_mode, QFileDevice::AutoCloseHandle))
    {
        ::close(l_handle);
        return QStringLiteral("not a file of its own");
    }
    return QString();
}

// Why the last call failed; "no free name" when every name was taken.
QString ErrorText(int i_error, QString const& i_name)
{
    return i_error ? qt_error_string(i_error) : QStringLiteral("no free name for %1").arg(i_name);
}

// The folder of that name below i_parent, made when missing. A name taken by anything
// but a folder (a file, a link) gets the next number, as file names do.
QString TakeFolder(QString const& i_parent, QString const& i_name, QString& o_error)
{
    qsizetype const l_limit = NameLimit(i_parent);
    int l_error = 0;
    for (int l_number = 1; l_number <= c_maxSetAsideNames && !l_error; ++l_number)
    {
        QString const l_path =
            i_parent + QLatin1Char('/') + NumberedName(i_name, l_number, l_limit);
        QByteArray const l_native = QFile::encodeName(l_path);
        struct stat l_status;
        if (::lstat(l_native.constData(), &l_status) != 0)
        {
            if (errno == ENOENT && ::mkdir(l_native.constData(), 0777) == 0)
                return l_path;
            // Made by someone else meanwhile: looked at again below.
            if (errno != EEXIST || ::lstat(l_native.constData(), &l_status) != 0)
            {
                l_error = errno;
                continue;
            }
        }
        if (S_ISDIR(l_status.st_mode))
            return l_path;
    }
    o_error = ErrorText(l_error, i_name);
    return QString();
}

// Moves the file to that name in the folder, or the next numbered one that is free.
QString MoveToFreeName(QString const& i_from, QString const& i_folder, QString const& i_name,
                       QString& o_error)
{
    QByteArray const l_from = QFile::encodeName(i_from);
    qsizetype const l_limit = NameLimit(i_folder);
    int l_error = 0;
    for (int l_number = 1; l_number <= c_maxSetAsideNames && !l_error; ++l_number)
    {
        QString const l_to = i_folder + QLatin1Char('/') + NumberedName(i_name, l_number, l_limit);
        QByteArray const l_native = QFile::encodeName(l_to);
        if (::renameat2(AT_FDCWD, l_from.constData(), AT_FDCWD, l_native.constData(),
                        RENAME_NOREPLACE) == 0)
            return l_to;
        l_error = errno == EEXIST ? 0 : errno;
        if (l_error != EINVAL && l_error != ENOSYS)
            continue;
        // A file system that cannot promise not to replace: look first.
        struct stat l_status;
        if (::lstat(l_native.constData(), &l_status) == 0)
            l_error = 0;
        else if (errno != ENOENT || ::rename(l_from.constData(), l_native.constData()) != 0)
            l_error = errno;
        else
            return l_to;
    }
    o_error = ErrorText(l_error, i_name);
    return QString();
}
} // namespace

PartialFile::PartialFile(QString const& i_path, QString const& i_relative)
    : m_path(i_path), m_relative(i_relative)
{
    QString const l_tail = QLatin1Char('/') + i_relative;
    if (!i_relative.isEmpty() && i_path.endsWith(l_tail))
        m_base = QFileInfo(i_path.chopped(l_tail.size())).path();
    Locate();
}

void PartialFile::Locate()
{
    if (m_base.isEmpty())
        return;
    RealPath l_paths;
    QString const l_real = l_paths.OfFile(m_path);
    QString l_root = l_paths.OfFolder(m_path.chopped(m_relative.size() + 1));
    if (!l_root.endsWith(QLatin1Char('/')))
        l_root += QLatin1Char('/');
    m_key = l_real.startsWith(l_root) ? l_real.mid(l_root.size()) : l_real;
}

QStringList PartialFile::RecordFolders() const
{
    return {m_base + c_recordFolder, m_base + c_hiddenRecordFolder};
}

QString PartialFile::RecordName() const
{
    // One flat folder: the relative path may be deeper than any name allows.
    return QLatin1Char('/') +
           QString::fromLatin1(
               QCryptographicHash::hash(m_key.toUtf8(), QCryptographicHash::Sha1).toHex());
}

std::optional<PartialFile::Writer> PartialFile::ReadRecord(QString const& i_path) const
{
    QFile l_file;
    struct stat l_status;
    if (!OpenRegularFile(l_file, i_path, O_RDONLY, QIODevice::ReadOnly, l_status).isEmpty() ||
        l_status.st_size > c_maxRecordBytes)
        return std::nullopt;
    QDataStream l_in(l_file.read(c_maxRecordBytes));
    l_in.setVersion(QDataStream::Qt_6_0);
    quint32 l_magic = 0;
    QString l_relative;
    Writer l_writer;
    QByteArray l_remotePath;
    l_in >> l_magic >> l_relative >> l_writer.user >> l_remotePath;
    if (l_in.status() != QDataStream::Ok || l_magic != c_recordMagic || l_relative != m_key)
        return std::nullopt;
    l_writer.remotePath = l_remotePath.toStdString();
    return l_writer;
}

std::optional<PartialFile::Writer>
PartialFile::ReadWriter(std::optional<Writer> const& i_keptElsewhere) const
{
    std::optional<Writer> l_agreed = i_keptElsewhere;
    if (m_base.isEmpty())
        return l_agreed;
    for (QString const& l_folder : RecordFolders())
    {
        QString const l_path = l_folder + RecordName();
        struct stat l_status;
        if (::lstat(QFile::encodeName(l_path).constData(), &l_status) != 0 &&
            (errno == ENOENT || errno == ENOTDIR))
            continue;
        // Something there that cannot be read as a record of this file may still be one.
        std::optional<Writer> const l_record = ReadRecord(l_path);
        if (!l_record || (l_agreed && *l_agreed != *l_record))
            return std::nullopt;
        l_agreed = l_record;
    }
    return l_agreed;
}

QString PartialFile::WriteRecord(QString const& i_folder, Writer const& i_writer) const
{
    QByteArray const l_folder = QFile::encodeName(i_folder);
    struct stat l_status;
    if ((::mkdir(l_folder.constData(), 0777) != 0 && errno != EEXIST) ||
        ::stat(l_folder.constData(), &l_status) != 0)
        return qt_error_string(errno);
    if (!S_ISDIR(l_status.st_mode))
        return qt_error_string(ENOTDIR);
    QString const l_path = i_folder + RecordName();
    // A record is saved by replacing the file, and a link there would have its target
    // replaced instead.
    if (::lstat(QFile::encodeName(l_path).constData(), &l_status) == 0 &&
        !S_ISREG(l_status.st_mode))
        return QStringLiteral("%1 is not a file").arg(QFileInfo(l_path).fileName());
    QSaveFile l_file(l_path);
    if (!l_file.open(QIODevice::WriteOnly))
        return l_file.errorString();
    QDataStream l_out(&l_file);
    l_out.setVersion(QDataStream::Qt_6_0);
    l_out << c_recordMagic << m_key << i_writer.user
          << QByteArray::fromStdString(i_writer.remotePath);
    if (l_out.status() != QDataStream::Ok || !l_file.flush())
        return l_file.errorString();
    if (::fsync(l_file.handle()) != 0)
        return qt_error_string(errno);
    if (!l_file.commit())
        return l_file.errorString();
    return DataSaver::SyncFolderOf(l_path) ? QString() : qt_error_string(errno);
}

bool PartialFile::WriteWriter(Writer const& i_writer, QString& o_error) const
{
    if (m_base.isEmpty())
    {
        o_error = c_unknownFolder;
        return false;
    }
    QStringList const l_folders = RecordFolders();
    QString l_reason;
    qsizetype l_written = 0;
    for (; l_written < l_folders.size(); ++l_written)
    {
        QString const l_error = WriteRecord(l_folders[l_written], i_writer);
        if (l_error.isEmpty())
            break;
        // Where records belong is what the user is told of when no place takes one.
        if (l_written == 0)
            l_reason = l_error;
    }
    if (l_written == l_folders.size())
    {
        o_error = QStringLiteral("%1: %2").arg(l_folders[0], l_reason);
        return false;
    }
    // A record left at another place would disagree, or speak for the file once this
    // one is gone.
    for (qsizetype l_other = 0; l_other < l_folders.size(); ++l_other)
        if (l_other != l_written &&
            ::unlink(QFile::encodeName(l_folders[l_other] + RecordName()).constData()) != 0 &&
            errno != ENOENT && errno != ENOTDIR)
        {
            o_error = QStringLiteral("%1: %2").arg(l_folders[l_other], qt_error_string(errno));
            return false;
        }
    return true;
}

void PartialFile::RemoveWriter() const
{
    if (m_base.isEmpty())
        return;
    for (QString const& l_folder : RecordFolders())
    {
        QFile::remove(l_folder + RecordName());
        QDir().rmdir(l_folder);
    }
}

QString PartialFile::SetAside(QString& o_error)
{
    if (m_base.isEmpty())
    {
        o_error = c_unknownFolder;
        return QString();
    }
    QStringList l_names = m_relative.split(QLatin1Char('/'));
    QString const l_fileName = l_names.takeLast();
    QString l_folder = TakeFolder(m_base, c_setAsideFolder, o_error);
    for (QString const& l_name : l_names)
        if (!l_folder.isEmpty())
            l_folder = TakeFolder(l_folder, l_name, o_error);
    QString const l_aside =
        l_folder.isEmpty() ? QString() : MoveToFreeName(m_path, l_folder, l_fileName, o_error);
    if (l_aside.isEmpty())
        return l_aside;
    // The file made at the path next is listed as this download spells it, which may be
    // another name than the one set aside: that one's record goes with its bytes.
    PartialFile const l_before = *this;
    Locate();
    if (m_key != l_before.m_key)
        l_before.RemoveWriter();
    return l_aside;
}

QFile* PartialFile::OpenToAppend(QString& o_error) const
{
    // A link, even one leading nowhere, is never followed: a link to a device would take
    // the bytes, one to a file elsewhere would have them appended to it.
    auto lp_file = std::make_unique<NamedFile>(m_path);
    struct stat l_status;
    o_error =
        OpenRegularFile(*lp_file, m_path, O_WRONLY | O_APPEND | O_CREAT,
                        QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::Append, l_status);
    if (o_error.isEmpty() && l_status.st_nlink != 1)
        o_error = QStringLiteral("it has another name elsewhere (a hard link)");
    return o_error.isEmpty() ? lp_file.release() : nullptr;
}

bool PartialFile::IsRecord(QFileInfo const& i_file)
{
    QString const l_name = i_file.fileName();
    if (l_name.size() != 40 || i_file.size() > c_maxRecordBytes)
        return false;
    for (QChar const l_char : l_name)
        if ((l_char < QLatin1Char('0') || l_char > QLatin1Char('9')) &&
            (l_char < QLatin1Char('a') || l_char > QLatin1Char('f')))
            return false;
    // Read, not taken from its folder's name: a user may have renamed or moved that.
    int const l_handle =
        ::open(QFile::encodeName(i_file.filePath()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (l_handle < 0)
        return false;
    quint32 l_magic = 0;
    bool const l_read = ::read(l_handle, &l_magic, sizeof l_magic) == sizeof l_magic;
    ::close(l_handle);
    return l_read && qFromBigEndian(l_magic) == c_recordMagic;
}

void PartialFile::BringRecordsIntoView(QString const& i_downloadFolder)
{
    QDir const l_hidden(i_downloadFolder + c_hiddenRecordFolder);
    // Record names are SHA-1 sums in hexadecimal: nothing else there was written here.
    QStringList const l_names = l_hidden.entryList({QString(40, QLatin1Char('?'))}, QDir::Files);
    QString const l_folder = i_downloadFolder + c_recordFolder;
    if (l_names.isEmpty() || !QDir().mkpath(l_folder))
        return;
    for (QString const& l_name : l_names)
        ::renameat2(AT_FDCWD, QFile::encodeName(l_hidden.filePath(l_name)).constData(), AT_FDCWD,
                    QFile::encodeName(l_folder + QLatin1Char('/') + l_name).constData(),
                    RENAME_NOREPLACE);
    DataSaver::SyncFolderOf(l_folder + QLatin1Char('/') + l_names.first());
    l_hidden.rmdir(l_hidden.path());
}
