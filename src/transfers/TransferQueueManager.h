#pragma once

// The transfer queues: every download and upload, its status, progress, worker thread,
// socket and open file are items of the store, joined by the relations the constructor
// declares. The manager keeps no queue of its own; it reacts to the peer network's
// transfer signals, the store's events and the timers, and moves bytes on one worker
// thread per running transfer.
//
// The implementation is split by responsibility:
//   TransferQueueManager.cpp            schema, settings defaults, wiring, loading,
//                                       removal of entries, counts, progress cells
//   TransferQueueDownloadFolders.cpp    download folders and paths, completed downloads
//   TransferQueueDownloads.cpp          the download queue and download statuses
//   TransferQueueDownloadTransfer.cpp   transfer offers, file connections, the
//                                       download worker's reports
//   TransferQueueUploads.cpp            the upload queue and its effective order,
//                                       unsharing, the empty-share probe
//   TransferQueueUploadNegotiation.cpp  upload offers, the peer's answers, file
//                                       connections, the upload worker's reports and
//                                       upload statuses
//   TransferQueueSpeedLimit.cpp         upload slots and the shared speed budget
//   TransferQueuePeriodic.cpp           the half-minute time-outs and re-queues
//
// GUI thread only; the workers report by queued signals.

#include "net/peer/PeerMessenger.h"
#include "store/Data.h"
#include "store/DataSaver.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <string>

class PartialFile;
class QTcpSocket;

class TransferQueueManager : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Needs the store, the saver, the timer manager and the peer network; sets
    // transferQueueManager.
    TransferQueueManager();
    // Stops every worker and waits for it.
    ~TransferQueueManager() override;

    // Unfinished downloads become "queued" and their users are tracked.
    void DataLoaded() override;

    // --- Entries and counts (TransferQueueManager.cpp) ----------------------------
    // Stops the worker, releases socket, file and progress cells, removes the entry.
    void RemoveDownload(ItemPtr i_entry);
    void RemoveUpload(ItemPtr i_entry);
    int ActiveDownloadCount();
    int ActiveUploadCount();
    // The number of uploads whose status is "queued".
    std::uint32_t QueuedUploadCount();
    // True while the setting upload_slots exceeds the number of running uploads.
    bool IsFreeToUpload();

    // --- Download folders (TransferQueueDownloadFolders.cpp) ----------------------
    // Paths in store form ("\" separators). The relative folder is the last
    // subfolder_save_level + 1 components of the remote folder.
    QString GetDownloadRelativeDownloadFolder(ItemPtr i_entry);
    QString GetDownloadTargetFolder(ItemPtr i_entry, bool i_complete);
    QString GetDownloadTargetPath(ItemPtr i_entry, bool i_complete);
    // The file-system form of the target path, or false when the names the peer gave
    // would lead outside the downloading (or complete) folder.
    bool GetLocalDownloadPath(ItemPtr i_entry, bool i_complete, QString& o_path);
    bool DoesDownloadItemCompleteFilenameExist(ItemPtr i_entry);
    // Removes the entry's emptied downloading folders unless another unfinished
    // download of the same remote folder remains.
    void RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr i_entry);
    // The entry's subfolder_save_level, kept within 0 to 255.
    static int SubfolderSaveLevel(ItemPtr i_entry);
    // The download folder setting in file-system form, cleaned.
    static QString LocalDownloadFolder();

    // --- Download queue (TransferQueueDownloads.cpp) -------------------------------
    ItemPtr AddDownload(QString i_user, std::string i_fileName, std::string i_folder,
                        long long i_size, int i_subfolderSaveLevel);
    // The entry of user, file name and remote folder, or null. Never creates.
    ItemPtr GetDownloadEntry(QString i_user, std::string const& i_fileName,
                             std::string const& i_folder);
    void RequeueDownload(ItemPtr i_entry);
    void RequeueUserDownloads(ItemPtr i_user);
    void QueueDownloadIfUserOnline(ItemPtr i_entry);
    void OnUserOnline(ItemPtr i_user);
    void RequestDownloadPlaceInLine(ItemPtr i_entry);
    // The one way a download's status changes; leaving "downloading" ends the transfer.
    void SetDownloadEntryStatus(ItemPtr i_entry, QString i_status);
    bool IsActivelyDownloadingFromUser(QString i_user);
    bool CanAcceptUserInitiatedUploadsFrom(QString i_user);

    // --- Upload queue and order (TransferQueueUploads.cpp) -------------------------
    // Pushes one of our files (path with "\" separators) to the user.
    void AddUpload(QString i_user, QString i_file);
    // Gives a new entry its place in the effective order.
    void OrderNewUpload(ItemPtr i_entry);
    // True when a is served before b: group priority, then privileges, then arrival.
    bool UploadEntrySortCompare(ItemPtr i_a, ItemPtr i_b);
    int GetUserGroupDownloadPriority(QString i_user);
    // Withdraws our shares from the user, denying and removing every upload of theirs.
    void UnshareUser(QString i_user);
    void ReshareUser(QString i_user);

    // --- Upload negotiation (TransferQueueUploadNegotiation.cpp) --------------------
    // Offers queued uploads of online users while slots are free.
    void StartNewUploads();
    // The one way an upload's status changes; leaving the active statuses ends the
    // transfer, and "aborted" tells the peer.
    void SetUploadEntryStatus(ItemPtr i_entry, QString i_status);

    // --- Upload slots and speed limit (TransferQueueSpeedLimit.cpp) -----------------
    // Turns the limit settings into each active upload's share and empties the budget.
    void DetermineUploadSpeedLimit();
    void EnableUploadSpeedLimit(bool i_enabled);
    void SetUploadSpeedLimit(int i_kilobytesPerSecond);
    // 1 to 99; more slots start uploads at once, fewer stop none.
    void SetUploadSlots(int i_slots);
    // The speed members, read and changed under m_uploadSpeedMutex; the upload workers
    // call these from their threads.
    int GetUploadSpeed();
    int GetUploadSpeedLimitPerUpload();
    long long GetUploadByteBudget();
    // Takes what was sent from the budget; returns the part the budget did not cover.
    long long SettleUploadBytes(long long i_unsettled);
    void RefillUploadBudget(long long i_bytes);

public slots:
    void OnFileTransferRequest(QString i_user, int i_direction, unsigned int i_req,
                               std::string i_path, long long i_size);
    void OnFileConnection(QString i_user, QTcpSocket* ip_socket, unsigned int i_req);
    void OnQueueUploadRequested(QString i_user, QString i_file);
    void OnQueueDownloadRequested(QString i_user, std::string i_path, long long i_size);
    void OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void OnFileTransferResponse(QString i_user, unsigned int i_req, bool i_accepted,
                                bool i_receivedFileSize, long long i_fileSize,
                                QString i_reason);
    void OnUploadFailedNotification(QString i_user, std::string i_path);
    void OnUploadDeniedNotification(QString i_user, std::string i_path, QString i_reason);
    // The five-minute timer's slot; there is nothing to do on it.
    void PeriodicCheck();
    void EveryHalfMinute();
    void OnDownloadPlaceInLine(QString i_user, std::string i_path, int i_place);
    void OnUploadError();
    void OnUploadProgress(qint64 i_position, int i_bytesPerSecond);
    void OnUploadComplete();
    void OnDownloadError(QString i_reason);
    void OnDownloadProgress(qint64 i_position, int i_bytesPerSecond);
    void OnDownloadComplete();
    void DetermineUploadsEffectiveOrder();
    void OnUploadPlaceInLineRequested(QString i_user, QString i_file);
    void OnUserShare(QString i_user, FileInfoMap& i_share,
                     AttributeTranslationTable& i_translationTable);

signals:
    void DownloadProgressed(ItemPtr i_entry);
    void UploadProgressed(ItemPtr i_entry);
    void CompleteDownloadAdded(ItemPtr i_record);
    void TransfersLoaded();

private:
    // Schema and wiring, in the order the constructor makes them.
    void CreateDownloadTypes();
    void CreateUploadTypes();
    void CreateCompleteDownloadTypes();

    // Removal handlers of the progress cells: each frees its heap value.
    void OnWritePositionRemoved(ItemPtr i_item);
    void OnBytesUploadedRemoved(ItemPtr i_item);
    void OnBytesSinceLastReceiptRemoved(ItemPtr i_item);
    void OnBytesPerSecondRemoved(ItemPtr i_item);
    void OnLastReceiptTimeRemoved(ItemPtr i_item);
    void OnLastSpeedMeasurementTimeRemoved(ItemPtr i_item);

    // A new entry with user, names, size, level and order; the user is tracked.
    ItemPtr NewDownloadEntry(QString const& i_user, std::string const& i_fileName,
                             std::string const& i_folder, long long i_size,
                             int i_subfolderSaveLevel);
    // Remote folder, "\" and file name, as bytes.
    static std::string RemotePath(ItemPtr i_entry);
    // The entry whose download_thread cell holds this worker, or null.
    ItemPtr FindDownloadWorkerEntry(QObject* ip_worker);
    // Stops and releases a download's worker, file, socket and cells (the status is
    // left alone).
    void EndDownloadTransfer(ItemPtr i_entry);
    // Whether a running download other than the entry writes to this local file.
    bool IsPartialFileInUse(QString const& i_path, ItemPtr i_entry);
    // The entry's partial file path below the downloading folder, in file-system form;
    // empty when the names the peer gave would lead outside that folder.
    QString GetPartialFileRelativePath(ItemPtr i_entry);
    // What a download may do with its partial file: a partial file is resumed only by
    // the download (user and remote path) that every record of it names.
    enum class PartialFileUse
    {
        Resume,
        // The download that wrote it is still queued: the file stays as it is.
        Refuse,
        // No download may resume it: it is moved aside and the download starts from
        // the first byte. o_reason says whose bytes they are, if known.
        SetAside,
        // Something other than a file of its own lies there (a link, a folder, a pipe):
        // the download cannot go on.
        InTheWay
    };
    PartialFileUse CheckPartialFileWriter(PartialFile const& i_partial, ItemPtr i_entry,
                                          QString& o_reason);
    // Records the entry as the writer of the partial file, on disk, as its one record;
    // false when that failed, with the folder and the reason.
    bool RecordPartialFileWriter(PartialFile const& i_partial, ItemPtr i_entry, QString& o_error);
    // Forgets the writer of a partial file that is gone.
    void ForgetPartialFileWriter(PartialFile const& i_partial);
    static void SetUserTime(ItemPtr i_user, char const* ip_type, int i_secondsFromNow);

    // Upload side helpers.
    ItemSet ActiveUploads();
    // The shared file of that name ("\" separators) when the user may have it, or null.
    ItemPtr FindSharedFileForUser(QString const& i_user, QString const& i_file);
    // For an existing entry of user and file: re-queues a finished one, leaves a queued
    // or running one. False when there is no entry.
    bool RequeueExistingUpload(ItemPtr i_user, ItemPtr i_shared);
    ItemPtr NewUploadEntry(ItemPtr i_user, ItemPtr i_shared, QString const& i_file);
    bool IsUploadStillShared(ItemPtr i_entry);
    // The entry whose upload_thread cell holds this worker, or null.
    ItemPtr FindUploadWorkerEntry(QObject* ip_worker);
    // Stops and releases an upload's worker, file, socket and cells (the status is
    // left alone).
    void EndUploadTransfer(ItemPtr i_entry);
    // The three passes of the half-minute check.
    void AbortStalledUploads();
    void RequeueDownloadsAtOnlineUsers(ItemSet const& i_users);
    void RequestPlacesInLine(ItemSet const& i_users);

    // The types a progress report touches, looked up once: reports come many times a
    // second per transfer.
    struct ProgressTypes
    {
        Type* mp_downloadThread = nullptr;
        Type* mp_uploadThread = nullptr;
        Type* mp_downloadEntry = nullptr;
        Type* mp_uploadEntry = nullptr;
        Type* mp_writePosition = nullptr;
        Type* mp_readPosition = nullptr;
        Type* mp_bytesPerSecond = nullptr;
        Type* mp_lastReceiptTime = nullptr;
    };
    // The entry of a worker's report and its cells, or a null entry when the worker's
    // cell is gone.
    ItemPtr ProgressEntry(Type* ip_threadType, Type* ip_entryType, QObject* ip_worker) const;
    // Stores position, rate and receipt time in the entry's cells.
    void StoreProgress(ItemPtr i_entry, Type* ip_positionType, qint64 i_position,
                       int i_bytesPerSecond) const;
    ProgressTypes m_types;

    // Guards the shared upload budget below; the upload workers take it too.
    QMutex m_uploadSpeedMutex;
    long long m_uploadByteBudget = 0;
    // KB/s; 0 = unlimited.
    int m_uploadSpeedLimit = 0;
    int m_uploadSpeedLimitPerUpload = 0;
    ItemPtr m_lastOrderedUpload;
};

extern TransferQueueManager* transferQueueManager;
