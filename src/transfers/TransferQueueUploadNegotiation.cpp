// Upload negotiation: queued uploads are offered to their peers as slots free, the
// peer's answer opens the shared file and asks for a file connection, and the file
// connection goes to a worker thread together with the open file. Also the one place
// where an upload's status changes, which ends a finished transfer's objects.

#include "transfers/TransferQueueManager.h"

#include "net/server/MemStream.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "transfers/UploadThread.h"

#include <QDateTime>
#include <QFile>
#include <QTcpSocket>

namespace
{
QString const c_notShared = QStringLiteral("File not shared.");

void Detail(QString const& i_text, ItemPtr i_item = ItemPtr())
{
    Log(LogArea::TransferQueue, 2, i_text, i_item);
}

QString StatusText(ItemPtr i_entry)
{
    return i_entry["upload_entry_status"].AsString();
}

// Whether one of the user's uploads is in one of these statuses.
bool HasUploadIn(ItemPtr i_user, ItemSet const& i_statuses)
{
    for (ItemPtr const& l_entry : i_user.GetItems("upload_entry"))
        if (i_statuses.count(l_entry["upload_entry_status"]))
            return true;
    return false;
}
} // namespace

ItemPtr TransferQueueManager::FindUploadWorkerEntry(QObject* ip_worker)
{
    return ProgressEntry(m_types.mp_uploadThread, m_types.mp_uploadEntry, ip_worker);
}

bool TransferQueueManager::IsUploadStillShared(ItemPtr i_entry)
{
    ItemPtr const l_file = i_entry["shared_file"];
    return l_file && sharedFoldersManager &&
           sharedFoldersManager->IsFileSharedWithUser(l_file, i_entry["user"].AsString());
}

void TransferQueueManager::StartNewUploads()
{
    ItemSet l_activeStatuses;
    for (ItemPtr const& l_flag : d["is_active"]->GetItems())
        l_activeStatuses.Add(l_flag.GetItems("upload_entry_status"));
    int l_free = GetSettingInt("upload_slots") -
                 static_cast<int>(l_activeStatuses.GetItems("upload_entry").size());
    if (l_free <= 0)
        return;

    ItemPtr const l_queued = d["upload_entry_status"]->HasItem(Value("queued"));
    ItemSet const l_online = d["is_online"]->GetItems().GetItems("user");
    ItemSet l_waiting;
    for (ItemPtr const& l_entry : l_queued.GetItems("upload_entry"))
        if (l_online.count(l_entry["user"]))
            l_waiting.insert(l_waiting.end(), l_entry);
    if (l_waiting.empty())
        return;

    // Every waiting upload is renumbered from 0, so the places peers are told are
    // those of the latest walk.
    Type* const lp_placeType = d["effective_upload_order"];
    int l_place = 0;
    for (ItemPtr const& l_entry : l_waiting.SortNumericBy("effective_upload_order", true))
    {
        l_entry += lp_placeType->GetItem(Value(l_place++));
        if (l_free <= 0)
            continue;
        // One upload per user at a time; an upload started earlier in this walk counts.
        ItemPtr const l_user = l_entry["user"];
        if (HasUploadIn(l_user, l_activeStatuses))
            continue;
        // The folder's access may have changed since the file was queued.
        if (!IsUploadStillShared(l_entry))
        {
            Detail(QStringLiteral("Denied, file not shared"), l_user);
            peerMessenger->DenyUpload(l_user.AsString(), l_entry["filename_as_requested"].AsString(),
                                      c_notShared);
            l_entry += d["denial_reason"]->GetItem(Value(c_notShared));
            SetUploadEntryStatus(l_entry, QStringLiteral("denied"));
            continue;
        }
        long long const l_size = l_entry["shared_file"]["shared_file_size"].AsInt64();
        unsigned int const l_token = peerMessenger->RequestUpload(
            l_user.AsString(), l_entry["filename_as_requested"].AsString(), l_size);
        SetUploadEntryStatus(l_entry, QStringLiteral("requesting"));
        l_entry += d["transfer_req"]->GetItem(Value(l_token));
        --l_free;
        DetermineUploadSpeedLimit();
    }
}

void TransferQueueManager::OnFileTransferResponse(QString i_user, unsigned int i_req,
                                                  bool i_accepted, bool, long long,
                                                  QString i_reason)
{
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Received file transfer response from user %1 for req %2, transfer %3")
            .arg(i_user, QString::number(i_req),
                 i_accepted ? QStringLiteral("accepted") : QStringLiteral("not accepted")),
        d["user"]->HasItem(Value(i_user)));
    ItemPtr const l_token = d["transfer_req"]->HasItem(Value(i_req));
    if (!l_token)
    {
        Detail(QStringLiteral("req not found"));
        return;
    }
    if (l_token["download_entry"])
    {
        Detail(QStringLiteral("Found download, not processing"));
        return;
    }
    ItemPtr const l_entry = l_token["upload_entry"];
    if (!l_entry)
    {
        Detail(QStringLiteral("Neither upload or download attached to req, weird"));
        return;
    }
    Detail(QStringLiteral("Found upload"), l_entry);
    QString const l_owner = l_entry["user"].AsString();
    if (l_owner != i_user)
    {
        Detail(QStringLiteral("Upload user %1 not the same as user who opened the connection, "
                              "not doing anything")
                   .arg(l_owner),
               l_entry);
        return;
    }

    if (!i_accepted)
    {
        Detail(QStringLiteral("Upload was not accepted, marking denied. Reason: %1").arg(i_reason),
               l_entry);
        l_entry += d["denial_reason"]->GetItem(Value(i_reason));
        SetUploadEntryStatus(l_entry, QStringLiteral("denied"));
        StartNewUploads();
        return;
    }
    if (StatusText(l_entry) != QLatin1String("requesting"))
    {
        Detail(QStringLiteral("Upload no longer in requesting phase, instead status is %1. "
                              "Not processing.")
                   .arg(StatusText(l_entry)),
               l_entry);
        return;
    }

    ItemPtr const l_shared = l_entry["shared_file"];
    QString l_path = l_shared["shared_file_folder"].AsString() + QLatin1Char('/') +
                     l_shared["shared_file_name"].AsString();
    l_path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    auto* lp_file = new QFile(l_path);
    if (!lp_file->open(QIODevice::ReadOnly))
    {
        Detail(QStringLiteral("File could not be opened, marking local error and sending denial "
                              "message. Shouldn't we have done this before we requested the "
                              "transfer?"),
               l_entry);
        peerMessenger->DenyUpload(i_user, l_entry["filename_as_requested"].AsString(),
                                  QStringLiteral("File read error."));
        delete lp_file;
        SetUploadEntryStatus(l_entry, QStringLiteral("local error"));
        StartNewUploads();
        return;
    }
    Detail(QStringLiteral("Requesting file connection to user"), l_entry);
    peerMessenger->RequestFileConnectionToUser(i_user);
    l_entry += d["upload_file"]->GetItem(Value(lp_file));
    SetUploadEntryStatus(l_entry, QStringLiteral("connecting"));
}

void TransferQueueManager::OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    if (!ip_socket)
        return;
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    ItemPtr const l_connecting = d["upload_entry_status"]->HasItem(Value("connecting"));
    ItemPtr const l_entry =
        l_user && l_connecting ? d.GetItem(l_user, l_connecting, "upload_entry") : ItemPtr();
    if (!l_entry)
    {
        ip_socket->deleteLater();
        return;
    }
    auto* const lp_file = l_entry["upload_file"].AsPtr<QFile>();
    if (!lp_file)
    {
        // The worker needs the open file; the half-minute check ends the entry.
        Detail(QStringLiteral("Upload has no open file, releasing the file connection"), l_entry);
        ip_socket->deleteLater();
        return;
    }

    l_entry += d["upload_socket"]->GetItem(Value(ip_socket));
    QDateTime const l_now = QDateTime::currentDateTime();
    ItemPtr const l_cells[] = {
        d["last_receipt_time"]->GetItem(Value(new QDateTime(l_now))),
        d["last_speed_measurement_time"]->GetItem(Value(new QDateTime(l_now))),
        d["bytes_per_second"]->GetItem(Value(new int(0))),
        d["bytes_since_last_receipt"]->GetItem(Value(new qint64(0))),
    };
    SetUploadEntryStatus(l_entry, QStringLiteral("uploading"));
    for (ItemPtr const& l_cell : l_cells)
        l_entry += l_cell;
    l_entry += d["read_position"]->GetItem(Value(new qint64(0)));

    unsigned int const l_token = l_entry["transfer_req"].AsUInt();
    ip_socket->disconnect();
    auto* lp_worker = new UploadThread(ip_socket, lp_file, static_cast<int>(l_token));
    // Only an object without parent can change threads; the peer network's listener
    // may still be the socket's parent.
    ip_socket->setParent(nullptr);
    ip_socket->moveToThread(lp_worker);
    l_entry += d["upload_thread"]->GetItem(Value(lp_worker));
    connect(lp_worker, &UploadThread::UploadError, this, &TransferQueueManager::OnUploadError);
    connect(lp_worker, &UploadThread::UploadProgress, this, &TransferQueueManager::OnUploadProgress);
    connect(lp_worker, &UploadThread::UploadComplete, this, &TransferQueueManager::OnUploadComplete);
    lp_worker->start(QThread::InheritPriority);
}

void TransferQueueManager::OnUploadProgress(qint64 i_position, int i_bytesPerSecond)
{
    ItemPtr const l_entry = FindUploadWorkerEntry(sender());
    if (!l_entry)
        return;
    StoreProgress(l_entry, m_types.mp_readPosition, i_position, i_bytesPerSecond);
    emit UploadProgressed(l_entry);
}

void TransferQueueManager::OnUploadComplete()
{
    ItemPtr const l_entry = FindUploadWorkerEntry(sender());
    if (!l_entry)
        return;
    auto const* lp_speed = l_entry["bytes_per_second"].AsPtr<int>();
    int const l_speed = lp_speed ? *lp_speed : 0;
    Log(LogArea::TransferQueue, 1, QStringLiteral("Recording upload speed of %1").arg(l_speed));
    // Small files say little about the line's speed.
    if (l_entry["shared_file"]["shared_file_size"].AsInt64() > 1048576 && l_speed > 0 && gp_server)
        gp_server->SendUploadSpeed(l_speed);
    SetUploadEntryStatus(l_entry, QStringLiteral("complete"));
    StartNewUploads();
}

void TransferQueueManager::OnUploadError()
{
    ItemPtr const l_entry = FindUploadWorkerEntry(sender());
    if (!l_entry)
        return;
    SetUploadEntryStatus(l_entry, QStringLiteral("aborted"));
    StartNewUploads();
}

void TransferQueueManager::SetUploadEntryStatus(ItemPtr i_entry, QString i_status)
{
    bool const l_wasActive = i_entry["upload_entry_status"].IsConnected("is_active");
    ItemPtr const l_status = d["upload_entry_status"]->GetItem(Value(i_status));
    i_entry += l_status;
    i_entry += d["last_status_change_time"]->GetItem(
        Value(QDateTime::currentDateTime().toString(Qt::TextDate)));
    if (!l_wasActive || l_status.IsConnected("is_active"))
        return;

    EndUploadTransfer(i_entry);
    if (i_status == QLatin1String("aborted"))
    {
        // The peer's download side re-queues on this.
        ItemPtr const l_user = i_entry["user"];
        MemStream l_message;
        l_message.Write(46u);
        l_message.Write(i_entry["filename_as_requested"].AsString());
        Log(LogArea::TransferQueue, 1,
            QStringLiteral("Upload of %1 to %2 aborted, sending upload failed notification.")
                .arg(i_entry["shared_file"]["shared_file_name"].AsString(), l_user.AsString()),
            l_user);
        peerMessenger->SendMessage(l_user.AsString(), l_message);
    }
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::EndUploadTransfer(ItemPtr i_entry)
{
    if (ItemPtr const l_cell = i_entry["upload_thread"])
    {
        auto* lp_worker = l_cell.AsPtr<UploadThread>();
        l_cell.Remove();
        // A report the worker queued before it stopped must never reach a later worker
        // that happens to get the same address: the object goes only after the event
        // loop has delivered what is pending (it finds no cell).
        lp_worker->disconnect(this);
        lp_worker->SignalExit();
        lp_worker->wait();
        lp_worker->deleteLater();
    }
    if (ItemPtr const l_cell = i_entry["upload_file"])
    {
        auto* lp_file = l_cell.AsPtr<QFile>();
        l_cell.Remove();
        lp_file->close();
        delete lp_file;
    }
    if (ItemPtr const l_cell = i_entry["upload_socket"])
    {
        auto* lp_socket = l_cell.AsPtr<QTcpSocket>();
        l_cell.Remove();
        lp_socket->disconnect();
        lp_socket->close();
        lp_socket->deleteLater();
    }
    // Removed, not merely disconnected: each removal handler frees its value once, and
    // no later sweep finds a cell whose value is gone.
    for (char const* lp_type : {"read_position", "last_receipt_time", "last_speed_measurement_time",
                                "bytes_per_second", "bytes_since_last_receipt"})
        if (ItemPtr const l_cell = i_entry[lp_type])
            l_cell.Remove();
}
