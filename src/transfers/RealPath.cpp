#include "transfers/RealPath.h"

#include "store/Log.h"

#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace
{
// A folder is looked through this far for a name unlike the spelling: only a file system
// that takes one name for another gets there, and only with the folder's listing.
qsizetype const c_maxListedNames = 100000;

// What a file system that ignores case and Unicode form compares: the name folded, or
// all in upper case, as some do; the two differ for a few letters (the dotless i).
std::pair<QString, QString> Forms(QString const& i_name)
{
    QString const l_composed = i_name.normalized(QString::NormalizationForm_C);
    return {l_composed.toCaseFolded(), l_composed.toUpper()};
}

struct FolderCloser
{
    void operator()(DIR* ip_folder) const { ::closedir(ip_folder); }
};
} // namespace

QString RealPath::ListedName(QString const& i_spelled, QStringList const& i_listed,
                             std::function<bool(QString const&)> const& i_isSame)
{
    if (i_listed.contains(i_spelled))
        return i_spelled;
    auto const [l_folded, l_upper] = Forms(i_spelled);
    QStringList l_alike;
    for (QString const& l_name : i_listed)
        if (auto const [l_nameFolded, l_nameUpper] = Forms(l_name);
            l_nameFolded == l_folded || l_nameUpper == l_upper)
            l_alike << l_name;
    if (l_alike.size() == 1)
        return l_alike.front();
    // Several alike: the file system folds names its own way. None: it takes other
    // names for one entry too (a short name of eight and three characters).
    for (QString const& l_name : l_alike.isEmpty() ? i_listed : l_alike)
        if (i_isSame(l_name))
            return l_name;
    return i_spelled;
}

QString RealPath::NameInFolder(QString const& i_folder, QString const& i_spelled)
{
    QString const l_key = i_folder + QLatin1Char('/') + i_spelled;
    auto l_known = m_names.constFind(l_key);
    if (l_known == m_names.cend())
        l_known = m_names.insert(l_key, ListNameInFolder(i_folder, i_spelled));
    return *l_known;
}

QString RealPath::ListNameInFolder(QString const& i_folder, QString const& i_spelled)
{
    int const l_handle =
        ::open(QFile::encodeName(i_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (l_handle < 0)
        return i_spelled;
    std::unique_ptr<DIR, FolderCloser> const lp_folder(::fdopendir(l_handle));
    if (!lp_folder)
    {
        ::close(l_handle);
        return i_spelled;
    }
    QByteArray const l_spelled = QFile::encodeName(i_spelled);
    struct stat l_entry;
    // Nothing there yet: whatever is made there is listed as spelled.
    if (::fstatat(l_handle, l_spelled.constData(), &l_entry, AT_SYMLINK_NOFOLLOW) != 0)
        return i_spelled;
    while (dirent const* lp_name = ::readdir(lp_folder.get()))
        if (l_spelled == lp_name->d_name)
            return i_spelled;

    ::rewinddir(lp_folder.get());
    QStringList l_listed;
    while (dirent const* lp_name = ::readdir(lp_folder.get()))
    {
        QByteArray const l_name(lp_name->d_name);
        QString const l_text = QFile::decodeName(l_name);
        // A name that no text gives back could not be named again.
        if (l_name == "." || l_name == ".." || QFile::encodeName(l_text) != l_name)
            continue;
        if (l_listed.size() == c_maxListedNames)
        {
            Log(LogArea::TransferQueue, 1,
                QStringLiteral("Folder %1 holds more than %2 names: %3 is looked for among the "
                               "first of them only")
                    .arg(i_folder, QString::number(c_maxListedNames), i_spelled));
            break;
        }
        l_listed << l_text;
    }
    return ListedName(i_spelled, l_listed,
                      [&](QString const& i_name)
                      {
                          struct stat l_other;
                          return ::fstatat(l_handle, QFile::encodeName(i_name).constData(),
                                           &l_other, AT_SYMLINK_NOFOLLOW) == 0 &&
                                 l_other.st_dev == l_entry.st_dev &&
                                 l_other.st_ino == l_entry.st_ino;
                      });
}

QString RealPath::OfFolder(QString const& i_path)
{
    // The longest part of the path that leads somewhere; the rest is still to be made.
    QString l_existing = QFileInfo(i_path).absoluteFilePath();
    QStringList l_missing;
    char* lp_resolved = nullptr;
    while (!(lp_resolved = ::realpath(QFile::encodeName(l_existing).constData(), nullptr)))
    {
        QFileInfo const l_info(l_existing);
        if (l_info.path() == l_existing)
            return l_existing;
        l_missing.prepend(l_info.fileName());
        l_existing = l_info.path();
    }
    QString const l_resolved = QFile::decodeName(lp_resolved);
    std::free(lp_resolved);
    QString l_real;
    for (QString const& l_name : l_resolved.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        l_real += QLatin1Char('/') +
                  NameInFolder(l_real.isEmpty() ? QStringLiteral("/") : l_real, l_name);
    for (QString const& l_name : l_missing)
        l_real += QLatin1Char('/') + l_name;
    return l_real.isEmpty() ? QStringLiteral("/") : l_real;
}

QString RealPath::OfFile(QString const& i_path)
{
    QFileInfo const l_file(i_path);
    QString const l_folder = OfFolder(l_file.path());
    QString const l_name = NameInFolder(l_folder, l_file.fileName());
    return l_folder.endsWith(QLatin1Char('/')) ? l_folder + l_name
                                               : l_folder + QLatin1Char('/') + l_name;
}
