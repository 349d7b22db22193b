#include "transfers/TransferQueueManager.h"

#include "store/ExtendedAsciiTranslator.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "transfers/DownloadThread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QtEndian>

namespace
{
void Detail(QString const& i_text, ItemPtr i_item = ItemPtr())
{
    Log(LogArea::TransferQueue, 2, i_text, i_item);
}

void DropSocket(QTcpSocket* ip_socket)
{
    ip_socket->close();
    ip_socket->deleteLater();
}
} // namespace

void TransferQueueManager::OnFileTransferRequest(QString i_user, int i_direction,
                                                 unsigned int i_req, std::string i_path,
                                                 long long i_size)
{
    std::string const l_fileName = GetFileName(i_path);
    std::string const l_folder = GetFolder(i_path);
    if (i_direction != 1)
    {
        // The peer asks us to upload: that is a queue request in another form.
        peerMessenger->DenyTransferRequest(i_user, i_req, QStringLiteral("Queued"));
        OnQueueUploadRequested(i_user, ToQString(i_path));
        return;
    }

    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Received upload request from %1 for file %2, req %3")
            .arg(i_user, ToQString(i_path), QString::number(i_req)));
    ItemPtr l_entry = GetDownloadEntry(i_user, l_fileName, l_folder);
    if (!l_entry)
    {
        if (!CanAcceptUserInitiatedUploadsFrom(i_user))
        {
            Detail(QStringLiteral("Denied, Cancelled"));
            peerMessenger->DenyTransferRequest(i_user, i_req, QStringLiteral("Cancelled"));
            return;
        }
        l_entry = NewDownloadEntry(i_user, l_fileName, l_folder, i_size, 0);
        SetDownloadEntryStatus(l_entry, QStringLiteral("queued"));
    }
    if (l_entry["download_entry_status"].AsStdString() == "complete")
    {
        Detail(QStringLiteral("Denied, Complete"), l_entry);
        peerMessenger->DenyTransferRequest(i_user, i_req, QStringLiteral("Complete"));
        return;
    }

    // One token names at most one of the user's downloads.
    ItemPtr const l_token = d["remote_transfer_req"]->GetItem(Value(i_req));
    for (ItemPtr const& l_holder : l_token.GetItems("download_entry"))
        if (l_holder["user"] == l_entry["user"])
            l_holder.Disconnect(l_token);
    l_entry += l_token;

    if (l_entry["download_entry_status"].AsStdString() == "downloading")
    {
        Detail(QStringLiteral("Transfer is already downloading, cancelling..."), l_entry);
        SetDownloadEntryStatus(l_entry, QStringLiteral("aborted"));
    }
    peerMessenger->AcceptTransferRequest(i_user, i_req, false, 0);
    Detail(QStringLiteral("Accepted"), l_entry);
}

bool TransferQueueManager::IsPartialFileInUse(QString const& i_path, ItemPtr i_entry)
{
    for (ItemPtr const& l_cell : d["download_file"]->GetItems())
    {
        auto const* lp_file = l_cell.AsPtr<QFile>();
        if (lp_file && lp_file->fileName() == i_path && l_cell["download_entry"] != i_entry)
            return true;
    }
    return false;
}

TransferQueueManager::PartialFileUse
TransferQueueManager::CheckPartialFileWriter(QString const& i_path, ItemPtr i_entry)
{
    // A partial file without a recorded writer predates the records and is resumed; a
    // missing one is simply started.
    ItemPtr const l_record = d["partial_file"]->HasItem(Value(i_path));
    if (!l_record || !QFileInfo::exists(i_path))
        return PartialFileUse::Resume;
    std::string const l_remote = l_record["partial_file_remote_path"].AsStdString();
    ItemPtr const l_user = l_record["user"];
    if (l_user == i_entry["user"] && l_remote == RemotePath(i_entry))
        return PartialFileUse::Resume;
    QString const l_userName = l_user.AsString();
    if (GetDownloadEntry(l_userName, GetFileName(l_remote), GetFolder(l_remote)))
    {
        Detail(QStringLiteral("Partial file %1 holds %2 from %3, which is still queued, aborting")
                   .arg(i_path, ToQString(l_remote), l_userName),
               i_entry);
        return PartialFileUse::Refuse;
    }
    Detail(QStringLiteral("Partial file %1 holds %2 from %3, which is no longer queued, "
                          "replacing it")
               .arg(i_path, ToQString(l_remote), l_userName),
           i_entry);
    return PartialFileUse::StartOver;
}

void TransferQueueManager::RecordPartialFileWriter(QString const& i_path, ItemPtr i_entry)
{
    ItemPtr const l_record = d["partial_file"]->GetItem(Value(i_path));
    l_record += i_entry["user"];
    l_record += d["partial_file_remote_path"]->GetItem(Value(RemotePath(i_entry)));
}

void TransferQueueManager::OnFileConnection(QString i_user, QTcpSocket* ip_socket,
                                            unsigned int i_req)
{
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("File connection created by user %1 for req %2")
            .arg(i_user, QString::number(i_req)));
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    ItemPtr const l_token = d["remote_transfer_req"]->HasItem(Value(i_req));
    ItemPtr const l_entry =
        l_user && l_token ? d.GetItem(l_user, l_token, "download_entry") : ItemPtr();
    if (!l_entry)
    {
        DropSocket(ip_socket);
        Detail(QStringLiteral("Download not found, aborting"));
        return;
    }

    QString l_path;
    if (!GetLocalDownloadPath(l_entry, false, l_path))
    {
        SetDownloadEntryStatus(l_entry, QStringLiteral("local error"));
        DropSocket(ip_socket);
        Detail(QStringLiteral("File name leads outside the download folder, aborting"), l_entry);
        return;
    }
    // Two writers appending to one partial file would interleave their bytes.
    if (IsPartialFileInUse(l_path, l_entry))
    {
        DropSocket(ip_socket);
        Detail(QStringLiteral("Partial file %1 is being written by another download, aborting")
                   .arg(l_path),
               l_entry);
        return;
    }
    PartialFileUse const l_use = CheckPartialFileWriter(l_path, l_entry);
    if (l_use == PartialFileUse::Refuse)
    {
        DropSocket(ip_socket);
        return;
    }
    if (l_entry["download_entry_status"].IsConnected("is_active"))
    {
        Detail(QStringLiteral("Transfer is already downloading, cancelling..."), l_entry);
        SetDownloadEntryStatus(l_entry, QStringLiteral("aborted"));
    }

    QDir().mkpath(QFileInfo(l_path).path());
    auto* lp_file = new QFile(l_path);
    // Append keeps what earlier connections received; a plain write-only open would
    // truncate it, which only a stale partial of another download wants. Unbuffered:
    // every block goes to the file system as soon as it is full, and a refusal shows
    // in the write that carried it.
    QIODevice::OpenMode const l_keep =
        l_use == PartialFileUse::StartOver ? QIODevice::Truncate : QIODevice::Append;
    if (!lp_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered | l_keep))
    {
        SetDownloadEntryStatus(l_entry, QStringLiteral("local error"));
        delete lp_file;
        DropSocket(ip_socket);
        Detail(QStringLiteral("Could not open file, aborting"), l_entry);
        return;
    }

    RecordPartialFileWriter(l_path, l_entry);
    qint64 const l_offset = lp_file->size();
    char l_offsetBytes[8];
    qToLittleEndian<qint64>(l_offset, l_offsetBytes);
    ip_socket->write(l_offsetBytes, sizeof l_offsetBytes);
    ip_socket->flush();

    l_entry += d["download_socket"]->GetItem(Value(ip_socket));
    l_entry += d["download_file"]->GetItem(Value(lp_file));
    l_entry += d["write_position"]->GetItem(Value(new qint64(l_offset)));
    SetDownloadEntryStatus(l_entry, QStringLiteral("downloading"));
    l_entry += d["last_receipt_time"]->GetItem(Value(new QDateTime(QDateTime::currentDateTime())));
    l_entry += d["bytes_per_second"]->GetItem(Value(new int(0)));

    long long const l_expectedSize = l_entry["file_size"].AsInt64();
    ip_socket->disconnect();

    auto* lp_worker = new DownloadThread(ip_socket, lp_file, l_expectedSize, l_offset);
    // Only an object without parent can change threads; the peer network's listener
    // may still be the socket's parent.
    ip_socket->setParent(nullptr);
    ip_socket->moveToThread(lp_worker);
    l_entry += d["download_thread"]->GetItem(Value(lp_worker));

    connect(lp_worker, &DownloadThread::DownloadError, this, &TransferQueueManager::OnDownloadError);
    connect(lp_worker, &DownloadThread::DownloadProgress, this,
            &TransferQueueManager::OnDownloadProgress);
    connect(lp_worker, &DownloadThread::DownloadComplete, this,
            &TransferQueueManager::OnDownloadComplete);
    lp_worker->start();
    Detail(QStringLiteral("Downloading"), l_entry);
}

ItemPtr TransferQueueManager::FindDownloadWorkerEntry(QObject* ip_worker)
{
    return ProgressEntry(m_types.mp_downloadThread, m_types.mp_downloadEntry, ip_worker);
}

void TransferQueueManager::OnDownloadProgress(qint64 i_position, int i_bytesPerSecond)
{
    ItemPtr const l_entry = FindDownloadWorkerEntry(sender());
    if (!l_entry)
        return;
    StoreProgress(l_entry, m_types.mp_writePosition, i_position, i_bytesPerSecond);
    emit DownloadProgressed(l_entry);
}

void TransferQueueManager::OnDownloadError(QString i_reason)
{
    ItemPtr const l_entry = FindDownloadWorkerEntry(sender());
    if (!l_entry)
        return;
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Error downloading %1 from %2. %3")
            .arg(l_entry["file_name"].AsString(), l_entry["user"].AsString(), i_reason),
        l_entry);
    SetDownloadEntryStatus(l_entry, QStringLiteral("aborted"));
}
