#include "transfers/TransferQueueManager.h"

#include "store/ExtendedAsciiTranslator.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "transfers/DownloadThread.h"
#include "transfers/PartialFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QtEndian>

#include <sys/stat.h>

#include <optional>

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

// A file on disk, told apart from others by device and inode.
struct FileId
{
    dev_t device;
    ino_t inode;

    static std::optional<FileId> Of(QString const& i_path)
    {
        struct stat l_status;
        if (::stat(QFile::encodeName(i_path).constData(), &l_status) != 0)
            return std::nullopt;
        return FileId{l_status.st_dev, l_status.st_ino};
    }
    // Two local paths of one file: the same text, or another text that the file system
    // leads to the same file (one that folds case, or a link the user made).
    static bool Same(QString const& i_path, std::optional<FileId> const& i_file,
                     QString const& i_other)
    {
        if (i_path == i_other)
            return true;
        std::optional<FileId> const l_other = i_file ? Of(i_other) : std::nullopt;
        return l_other && l_other->device == i_file->device && l_other->inode == i_file->inode;
    }
};
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
    std::optional<FileId> const l_file = FileId::Of(i_path);
    for (ItemPtr const& l_cell : d["download_file"]->GetItems())
    {
        auto const* lp_file = l_cell.AsPtr<QFile>();
        if (lp_file && l_cell["download_entry"] != i_entry &&
            FileId::Same(i_path, l_file, lp_file->fileName()))
            return true;
    }
    return false;
}

TransferQueueManager::PartialFileUse
TransferQueueManager::CheckPartialFileWriter(PartialFile const& i_partial, ItemPtr i_entry,
                                             QString& o_reason)
{
    QString const& l_path = i_partial.Path();
    struct stat l_status;
    if (::lstat(QFile::encodeName(l_path).constData(), &l_status) != 0)
        return PartialFileUse::Resume;
    // The bytes go into a file of the download's own and nowhere else: not through a link
    // (to a device, to a file outside the download folder), not into a folder that may
    // hold other downloads' files, not into a pipe, whose opening waits for a reader.
    // None of these is moved, nor opened.
    if (!S_ISREG(l_status.st_mode))
    {
        o_reason = QStringLiteral("Partial file %1 is not a file of its own (a link, a folder, "
                                  "a pipe or a device)")
                       .arg(l_path);
        return PartialFileUse::InTheWay;
    }
    // Bytes appended here would show under the other name too: a snapshot made with hard
    // links would change with the download.
    if (l_status.st_nlink != 1)
    {
        o_reason = QStringLiteral("Partial file %1 has another name elsewhere (a hard link); the "
                                  "download can go on once that other name is removed")
                       .arg(l_path);
        return PartialFileUse::InTheWay;
    }
    // Older versions kept the writer in the store, keyed by the absolute path.
    std::optional<PartialFile::Writer> l_stored;
    if (ItemPtr const l_record = d["partial_file"]->HasItem(Value(l_path)))
        l_stored = PartialFile::Writer{l_record["user"].AsString(),
                                       l_record["partial_file_remote_path"].AsStdString()};
    std::optional<PartialFile::Writer> const l_writer = i_partial.ReadWriter(l_stored);
    if (l_writer)
    {
        std::string const& l_remote = l_writer->remotePath;
        if (l_writer->user == i_entry["user"].AsString() && l_remote == RemotePath(i_entry))
            return PartialFileUse::Resume;
        if (GetDownloadEntry(l_writer->user, GetFileName(l_remote), GetFolder(l_remote)))
        {
            Detail(
                QStringLiteral("Partial file %1 holds %2 from %3, which is still queued, aborting")
                    .arg(l_path, ToQString(l_remote), l_writer->user),
                i_entry);
            return PartialFileUse::Refuse;
        }
    }
    // Nothing there to mix with.
    if (l_status.st_size == 0)
        return PartialFileUse::Resume;
    // Bytes whose writer is not known for sure are resumed by nobody: a lost or stale
    // record then costs a download fetched again, never a file of two.
    o_reason = l_writer ? QStringLiteral("Partial file %1 holds %2 from %3, which is no longer "
                                         "queued")
                              .arg(l_path, ToQString(l_writer->remotePath), l_writer->user)
                        : QStringLiteral("Partial file %1 has no known writer").arg(l_path);
    return PartialFileUse::SetAside;
}

bool TransferQueueManager::RecordPartialFileWriter(PartialFile const& i_partial, ItemPtr i_entry,
                                                   QString& o_error)
{
    if (!i_partial.WriteWriter({i_entry["user"].AsString(), RemotePath(i_entry)}, o_error))
        return false;
    // The record on disk replaces one an older version kept in the store.
    if (ItemPtr const l_old = d["partial_file"]->HasItem(Value(i_partial.Path())))
        l_old.Remove();
    return true;
}

void TransferQueueManager::ForgetPartialFileWriter(PartialFile const& i_partial)
{
    i_partial.RemoveWriter();
    if (ItemPtr const l_old = d["partial_file"]->HasItem(Value(i_partial.Path())))
        l_old.Remove();
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

    // The download cannot go on here: the connection goes, the download waits for the user.
    auto const l_localError = [&](QString const& i_why)
    {
        SetDownloadEntryStatus(l_entry, QStringLiteral("local error"));
        DropSocket(ip_socket);
        Detail(i_why + QStringLiteral(", aborting"), l_entry);
    };
    QString l_path;
    if (!GetLocalDownloadPath(l_entry, false, l_path))
    {
        l_localError(QStringLiteral("File name leads outside the download folder"));
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
    PartialFile l_partial(l_path, GetPartialFileRelativePath(l_entry));
    QString l_reason;
    PartialFileUse const l_use = CheckPartialFileWriter(l_partial, l_entry, l_reason);
    if (l_use == PartialFileUse::Refuse)
    {
        DropSocket(ip_socket);
        return;
    }
    if (l_use == PartialFileUse::InTheWay)
    {
        l_localError(l_reason);
        return;
    }
    if (l_entry["download_entry_status"].IsConnected("is_active"))
    {
        Detail(QStringLiteral("Transfer is already downloading, cancelling..."), l_entry);
        SetDownloadEntryStatus(l_entry, QStringLiteral("aborted"));
    }
    if (l_use == PartialFileUse::SetAside)
    {
        // Bytes of another file are never appended to, and never thrown away either.
        QString l_error;
        QString const l_aside = l_partial.SetAside(l_error);
        if (l_aside.isEmpty())
        {
            l_localError(l_reason + QStringLiteral(", could not set it aside: %1").arg(l_error));
            return;
        }
        Detail(l_reason + QStringLiteral(", set aside as %1").arg(l_aside), l_entry);
    }

    QDir().mkpath(QFileInfo(l_path).path());
    // The writer goes on record before the partial file holds a byte: a crash must not
    // leave bytes whose download is unknown.
    QString l_recordError;
    if (!RecordPartialFileWriter(l_partial, l_entry, l_recordError))
    {
        l_localError(QStringLiteral("Could not record the writer of partial file %1 in %2")
                         .arg(l_path, l_recordError));
        return;
    }
    // Append keeps what earlier connections received. Unbuffered: every block goes to
    // the file system as soon as it is full, and a refusal shows in the write that
    // carried it.
    QString l_openError;
    QFile* const lp_file = l_partial.OpenToAppend(l_openError);
    if (!lp_file)
    {
        Detail(QStringLiteral("Partial file %1: %2").arg(l_path, l_openError), l_entry);
        l_localError(QStringLiteral("Could not open file"));
        return;
    }

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

    connect(lp_worker, &DownloadThread::DownloadError, this,
            &TransferQueueManager::OnDownloadError);
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
