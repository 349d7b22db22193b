#include "transfers/TransferQueueManager.h"

#include "store/ExtendedAsciiTranslator.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "transfers/DownloadThread.h"
#include "transfers/PartialFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace
{
QString const c_downloading = QStringLiteral("\\downloading");
QString const c_complete = QStringLiteral("\\complete");

// File-system form of a store-form path.
QString LocalForm(QString i_path)
{
    return i_path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

// The "\"-joined last level + 1 components of the remote folder, each with its leading
// "\". A folder shorter than that repeats its first component.
std::string RelativeComponents(std::string i_folder, int i_level)
{
    std::string l_result;
    for (int l_round = 0; l_round <= i_level; ++l_round)
    {
        l_result = "\\" + GetFileName(i_folder) + l_result;
        i_folder = GetParentFolder(i_folder);
    }
    return l_result;
}

// Peers name the file and its folders; none of those names may step out of the folder
// it is meant for or name nothing at all.
bool IsPlainName(QString const& i_name)
{
    return !i_name.isEmpty() && i_name != QLatin1String(".") && i_name != QLatin1String("..") &&
           !i_name.contains(QLatin1Char('/')) && !i_name.contains(QLatin1Char('\\')) &&
           !i_name.contains(QChar(0));
}

// The base of the downloading or complete tree in file-system form, cleaned.
QString LocalTreeRoot(bool i_complete)
{
    QString l_base = GetSetting("download_folder");
    l_base.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QDir::cleanPath(LocalForm(l_base + (i_complete ? c_complete : c_downloading)));
}

bool IsInside(QString const& i_path, QString const& i_root)
{
    return i_path.startsWith(i_root + QLatin1Char('/')) && i_path.size() > i_root.size() + 1;
}
} // namespace

QString TransferQueueManager::LocalDownloadFolder()
{
    return QFileInfo(LocalTreeRoot(false)).path();
}

int TransferQueueManager::SubfolderSaveLevel(ItemPtr i_entry)
{
    // Deeper levels than any real folder has only repeat the first component.
    return std::clamp(i_entry["subfolder_save_level"].AsInt(), 0, 255);
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr i_entry)
{
    std::string const l_folder = i_entry["remote_folder"].AsStdString();
    if (l_folder.empty())
        return QString();
    return ToQString(RelativeComponents(l_folder, SubfolderSaveLevel(i_entry)).substr(1));
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr i_entry, bool i_complete)
{
    QString l_folder = GetSetting("download_folder");
    l_folder.replace(QLatin1Char('/'), QLatin1Char('\\'));
    l_folder += i_complete ? c_complete : c_downloading;
    std::string const l_remote = i_entry["remote_folder"].AsStdString();
    if (!l_remote.empty())
        l_folder += ToQString(RelativeComponents(l_remote, SubfolderSaveLevel(i_entry)));
    return l_folder;
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr i_entry, bool i_complete)
{
    return GetDownloadTargetFolder(i_entry, i_complete) + QLatin1Char('\\') +
           i_entry["file_name"].AsString();
}

bool TransferQueueManager::GetLocalDownloadPath(ItemPtr i_entry, bool i_complete,
                                                QString& o_path)
{
    // Text readings end at a zero byte, so the raw names are checked for one first.
    if (i_entry["file_name"].AsStdString().find('\0') != std::string::npos ||
        i_entry["remote_folder"].AsStdString().find('\0') != std::string::npos)
        return false;
    QString const l_relative = GetDownloadRelativeDownloadFolder(i_entry);
    if (!l_relative.isEmpty())
        for (QString const& l_component : l_relative.split(QLatin1Char('\\')))
            if (!IsPlainName(l_component))
                return false;
    if (!IsPlainName(i_entry["file_name"].AsString()))
        return false;
    QString const l_path = QDir::cleanPath(LocalForm(GetDownloadTargetPath(i_entry, i_complete)));
    if (!IsInside(l_path, LocalTreeRoot(i_complete)))
        return false;
    o_path = l_path;
    return true;
}

QString TransferQueueManager::GetPartialFileRelativePath(ItemPtr i_entry)
{
    QString l_path;
    if (!GetLocalDownloadPath(i_entry, false, l_path))
        return QString();
    return l_path.mid(LocalTreeRoot(false).size() + 1);
}

bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr i_entry)
{
    QString l_path;
    return GetLocalDownloadPath(i_entry, true, l_path) && QFileInfo::exists(l_path);
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_entry)
{
    QString l_path;
    if (!GetLocalDownloadPath(i_entry, false, l_path))
        return;
    ItemPtr const l_complete = d["download_entry_status"]->HasItem(Value("complete"));
    for (ItemPtr const& l_other : i_entry["remote_folder"].GetItems("download_entry"))
        if (!l_complete || !l_other.IsConnected(l_complete))
            return;

    // The walk stays inside the downloading tree: it may remove the downloading folder
    // itself, never the download folder or anything above it.
    QString const l_root = LocalTreeRoot(false);
    QString l_folder = QFileInfo(l_path).path();
    QDir l_dir;
    int const l_levels = SubfolderSaveLevel(i_entry) + 1;
    for (int l_round = 0; l_round < l_levels; ++l_round)
    {
        if (l_folder != l_root && !IsInside(l_folder, l_root))
            break;
        l_dir.rmdir(l_folder);
        l_folder = QFileInfo(l_folder).path();
    }
}

void TransferQueueManager::OnDownloadComplete()
{
    ItemPtr const l_entry = FindDownloadWorkerEntry(sender());
    if (!l_entry)
        return;
    l_entry["download_thread"].AsPtr<DownloadThread>()->wait();

    // The file is moved from where it was actually written, whatever the download
    // folder setting says by now.
    auto* lp_file = l_entry["download_file"].AsPtr<QFile>();
    QString const l_source = lp_file ? lp_file->fileName() : QString();
    // Its record is found by the file, before the file leaves.
    PartialFile const l_partial(l_source, GetPartialFileRelativePath(l_entry));
    QString const l_folder = GetDownloadTargetFolder(l_entry, true);
    QString l_destination;
    bool const l_moved = lp_file && GetLocalDownloadPath(l_entry, true, l_destination) &&
                         QDir().mkpath(QFileInfo(l_destination).path()) &&
                         QFile::rename(l_source, l_destination);
    if (!l_moved)
    {
        Log(LogArea::TransferQueue, 1,
            QStringLiteral("Could not move finished download %1 into the complete folder %2")
                .arg(l_source, l_folder),
            l_entry);
        SetDownloadEntryStatus(l_entry, QStringLiteral("local error"));
        return;
    }

    // The partial file is gone, and with it the record of who wrote it.
    ForgetPartialFileWriter(l_partial);
    SetDownloadEntryStatus(l_entry, QStringLiteral("complete"));
    RemoveDownloadDownloadingFolderIfAppropriate(l_entry);

    ItemPtr const l_folderItem = d["complete_download_folder"]->GetItem(Value(l_folder));
    ItemPtr const l_nameItem =
        d["complete_download_filename"]->GetItem(Value(l_entry["file_name"].AsString()));
    if (d.GetItem(l_folderItem, l_nameItem, "complete_download"))
        return;
    ItemPtr const l_record = d["complete_download"]->NewItem();
    l_record += l_entry["user"];
    l_record += l_folderItem;
    l_record += d["complete_download_relative_folder"]->GetItem(
        Value(GetDownloadRelativeDownloadFolder(l_entry)));
    l_record += l_nameItem;
    l_record += d["complete_download_file_size"]->GetItem(Value(l_entry["file_size"].AsStdString()));
    l_record += d["complete_download_completion_time"]->GetItem(
        Value(QDateTime::currentDateTime().toString(Qt::TextDate)));
    if (ItemPtr const l_search = l_entry["search_request_text"])
        l_record += l_search;
    emit CompleteDownloadAdded(l_record);
}
