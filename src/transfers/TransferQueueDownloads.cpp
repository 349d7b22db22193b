#include "transfers/TransferQueueManager.h"

#include "net/server/MemStream.h"
#include "net/server/Server.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "transfers/DownloadThread.h"

#include <QDateTime>
#include <QFile>
#include <QTcpSocket>

namespace
{
QString const c_queued = QStringLiteral("queued");

bool HasStatus(ItemPtr i_entry, char const* ip_status)
{
    return i_entry["download_entry_status"].AsStdString() == ip_status;
}

// The received path as the log lines show it.
QString PathText(std::string const& i_path)
{
    return ToQString(i_path);
}
} // namespace

std::string TransferQueueManager::RemotePath(ItemPtr i_entry)
{
    return i_entry["remote_folder"].AsStdString() + "\\" + i_entry["file_name"].AsStdString();
}

ItemPtr TransferQueueManager::GetDownloadEntry(QString i_user, std::string const& i_fileName,
                                               std::string const& i_folder)
{
    // The names come from peers: looking them up must not create anything.
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    ItemPtr const l_file = d["file_name"]->HasItem(Value(i_fileName));
    ItemPtr const l_folder = d["remote_folder"]->HasItem(Value(i_folder));
    if (!l_user || !l_file || !l_folder)
        return ItemPtr();
    return d.GetItem(ItemSet{l_user, l_file, l_folder}, "download_entry");
}

ItemPtr TransferQueueManager::NewDownloadEntry(QString const& i_user,
                                               std::string const& i_fileName,
                                               std::string const& i_folder, long long i_size,
                                               int i_subfolderSaveLevel)
{
    ItemPtr const l_entry = d["download_entry"]->NewItem();
    l_entry += d["user"]->GetItem(Value(i_user));
    l_entry += d["file_name"]->GetItem(Value(i_fileName));
    l_entry += d["remote_folder"]->GetItem(Value(i_folder));
    l_entry += d["file_size"]->GetItem(Value(i_size));
    l_entry += d["subfolder_save_level"]->GetItem(Value(i_subfolderSaveLevel));
    long long const l_order = GetSetting("transfer_order_counter").toLongLong();
    SetSetting("transfer_order_counter", QString::number(l_order + 1));
    l_entry += d["download_order"]->GetItem(Value(l_order));
    if (gp_server)
        gp_server->TrackUser(i_user);
    return l_entry;
}

ItemPtr TransferQueueManager::AddDownload(QString i_user, std::string i_fileName,
                                          std::string i_folder, long long i_size,
                                          int i_subfolderSaveLevel)
{
    if (ItemPtr const l_existing = GetDownloadEntry(i_user, i_fileName, i_folder))
        return l_existing;
    ItemPtr const l_entry = NewDownloadEntry(i_user, i_fileName, i_folder, i_size,
                                             i_subfolderSaveLevel);
    if (DoesDownloadItemCompleteFilenameExist(l_entry))
    {
        SetDownloadEntryStatus(l_entry, QStringLiteral("complete"));
        return l_entry;
    }
    SetDownloadEntryStatus(l_entry, c_queued);
    ItemPtr const l_user = l_entry["user"];
    if (l_user.IsConnected("is_online"))
        peerMessenger->QueueDownload(i_user, RemotePath(l_entry));
    SetUserTime(l_user, "next_place_in_line_request_time", 10);
    return l_entry;
}

void TransferQueueManager::RequeueDownload(ItemPtr i_entry)
{
    ItemPtr const l_status = i_entry["download_entry_status"];
    if (l_status.AsStdString() == "complete" || l_status.IsConnected("is_active"))
        return;
    if (DoesDownloadItemCompleteFilenameExist(i_entry))
    {
        SetDownloadEntryStatus(i_entry, QStringLiteral("complete"));
        return;
    }
    peerMessenger->QueueDownload(i_entry["user"].AsString(), RemotePath(i_entry));
    SetDownloadEntryStatus(i_entry, c_queued);
    Log(LogArea::TransferQueue, 2,
        QStringLiteral("Queueing %1").arg(i_entry["file_name"].AsString()), i_entry);
}

void TransferQueueManager::RequeueUserDownloads(ItemPtr i_user)
{
    ItemSet const l_entries = i_user.GetItems("download_entry");
    if (l_entries.empty())
        return;
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Requeueing downloads from user %1").arg(i_user.AsString()), i_user);
    for (ItemPtr const& l_entry : l_entries.SortNumericBy("download_order", true))
        if (!HasStatus(l_entry, "complete") && !HasStatus(l_entry, "denied"))
            RequeueDownload(l_entry);
    SetUserTime(i_user, "last_queue_request_time", 0);
    SetUserTime(i_user, "next_place_in_line_request_time", 30);
}

void TransferQueueManager::OnUserOnline(ItemPtr i_user)
{
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("User %1 went online").arg(i_user.AsString()), i_user);
    RequeueUserDownloads(i_user);
    StartNewUploads();
}

void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr i_entry)
{
    ItemPtr const l_user = i_entry["user"];
    QString const l_path = PathText(RemotePath(i_entry));
    if (HasStatus(i_entry, "local error"))
        Log(LogArea::TransferQueue, 1,
            QStringLiteral("Download status %1, not re-queueing %2")
                .arg(i_entry["download_entry_status"].AsString(), l_path),
            i_entry);
    else if (l_user.IsConnected("is_online"))
    {
        Log(LogArea::TransferQueue, 1,
            QStringLiteral("User %1 appears to still be online, re-queueing %2")
                .arg(l_user.AsString(), l_path),
            i_entry);
        peerMessenger->QueueDownload(l_user.AsString(), RemotePath(i_entry));
    }
    else
        Log(LogArea::TransferQueue, 1,
            QStringLiteral("User %1 offline, not re-queueing %2").arg(l_user.AsString(), l_path),
            i_entry);
}

void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr i_entry)
{
    QString const l_user = i_entry["user"].AsString();
    QString const l_file = i_entry["file_name"].AsString();
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Requesting place in line for download of %1 from %2").arg(l_file, l_user),
        i_entry);
    // Unlike the queue request this one carries the names re-encoded as UTF-8.
    MemStream l_message;
    l_message.Write(51u);
    l_message.Write(i_entry["remote_folder"].AsString() + QLatin1Char('\\') + l_file);
    peerMessenger->SendMessage(l_user, l_message);
}

void TransferQueueManager::OnDownloadPlaceInLine(QString i_user, std::string i_path, int i_place)
{
    ItemPtr const l_entry = GetDownloadEntry(i_user, GetFileName(i_path), GetFolder(i_path));
    if (l_entry)
        l_entry += d["place_in_line"]->GetItem(Value(i_place));
}

void TransferQueueManager::OnQueueDownloadRequested(QString i_user, std::string i_path,
                                                    long long i_size)
{
    if (CanAcceptUserInitiatedUploadsFrom(i_user))
        AddDownload(i_user, GetFileName(i_path), GetFolder(i_path), i_size, 0);
}

bool TransferQueueManager::CanAcceptUserInitiatedUploadsFrom(QString i_user)
{
    ItemPtr const l_listed = d["user"]->HasItem(Value(i_user))["in_user_list"];
    if (!l_listed)
        return false;
    if (IsSettingYes("accept_userlist_uploads"))
        return true;
    for (ItemPtr const& l_group : l_listed.GetItems("user_list_group"))
        if (l_group.IsConnected("accept_uploads"))
            return true;
    return false;
}

void TransferQueueManager::OnUploadDeniedNotification(QString i_user, std::string i_path,
                                                      QString i_reason)
{
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Received peer notification from %1 that upload of %2 was denied, "
                       "reason: %3")
            .arg(i_user, PathText(i_path), i_reason));
    ItemPtr const l_entry = GetDownloadEntry(i_user, GetFileName(i_path), GetFolder(i_path));
    if (!l_entry)
    {
        Log(LogArea::TransferQueue, 2, QStringLiteral("Download not found."));
        return;
    }
    Log(LogArea::TransferQueue, 2, QStringLiteral("Download found, marking as denied."), l_entry);
    l_entry += d["denial_reason"]->GetItem(Value(i_reason));
    SetDownloadEntryStatus(l_entry, QStringLiteral("denied"));
}

void TransferQueueManager::OnUploadFailedNotification(QString i_user, std::string i_path)
{
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Received peer notification from %1 that upload of %2 failed")
            .arg(i_user, PathText(i_path)));
    ItemPtr const l_entry = GetDownloadEntry(i_user, GetFileName(i_path), GetFolder(i_path));
    if (!l_entry)
    {
        Log(LogArea::TransferQueue, 2, QStringLiteral("Download not found."));
        return;
    }
    Log(LogArea::TransferQueue, 2, QStringLiteral("Download found!"), l_entry);
    QueueDownloadIfUserOnline(l_entry);
    SetUserTime(l_entry["user"], "last_queue_request_time", 0);
}

void TransferQueueManager::SetDownloadEntryStatus(ItemPtr i_entry, QString i_status)
{
    bool const l_wasActive = i_entry["download_entry_status"].IsConnected("is_active");
    ItemPtr const l_status = d["download_entry_status"]->GetItem(Value(i_status));
    i_entry += l_status;
    i_entry += d["last_status_change_time"]->GetItem(
        Value(QDateTime::currentDateTime().toString(Qt::TextDate)));
    if (l_wasActive && !l_status.IsConnected("is_active"))
    {
        EndDownloadTransfer(i_entry);
        SetUserTime(i_entry["user"], "last_queue_request_time", 0);
    }
}

void TransferQueueManager::EndDownloadTransfer(ItemPtr i_entry)
{
    if (ItemPtr const l_cell = i_entry["download_thread"])
    {
        auto* lp_worker = l_cell.AsPtr<DownloadThread>();
        l_cell.Remove();
        lp_worker->disconnect(this);
        lp_worker->SignalExit();
        lp_worker->wait();
        lp_worker->deleteLater();
    }
    if (ItemPtr const l_cell = i_entry["download_file"])
    {
        auto* lp_file = l_cell.AsPtr<QFile>();
        lp_file->close();
        delete lp_file;
        l_cell.Remove();
    }
    if (ItemPtr const l_cell = i_entry["download_socket"])
    {
        auto* lp_socket = l_cell.AsPtr<QTcpSocket>();
        l_cell.Remove();
        lp_socket->disconnect();
        lp_socket->close();
        lp_socket->deleteLater();
    }
    for (char const* lp_type : {"write_position", "last_receipt_time", "bytes_per_second"})
        if (ItemPtr const l_cell = i_entry[lp_type])
            l_cell.Remove();
}

bool TransferQueueManager::IsActivelyDownloadingFromUser(QString i_user)
{
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    for (ItemPtr const& l_entry : l_user.GetItems("download_entry"))
        if (HasStatus(l_entry, "downloading"))
            return true;
    return false;
}
