#include "transfers/TransferQueueManager.h"

#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Schema.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/DownloadThread.h"
#include "transfers/PartialFile.h"
#include "transfers/UploadThread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTcpSocket>

TransferQueueManager* transferQueueManager = nullptr;

namespace
{
void SaveWith(char const* ip_owner, std::initializer_list<char const*> i_attributes)
{
    dataSaver->AddSavedType(ip_owner);
    for (char const* lp_attribute : i_attributes)
        dataSaver->AddSavedByConnectionType(lp_attribute, ip_owner);
}

// Frees a cell's heap value once its item goes; a value that reads as no address
// frees nothing.
template <class T> void FreeCell(ItemPtr i_item)
{
    delete i_item.AsPtr<T>();
}

// Removes the cells of these types that the entry has; their handlers free the values.
void RemoveCells(ItemPtr i_entry, std::initializer_list<char const*> i_types)
{
    for (char const* lp_type : i_types)
        if (ItemPtr const l_cell = i_entry[lp_type])
            l_cell.Remove();
}
} // namespace

TransferQueueManager::TransferQueueManager() : QObject(nullptr)
{
    transferQueueManager = this;

    CreateDownloadTypes();
    d["write_position"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransferQueueManager::OnWritePositionRemoved));
    d["last_receipt_time"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransferQueueManager::OnLastReceiptTimeRemoved));
    d["last_speed_measurement_time"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransferQueueManager::OnLastSpeedMeasurementTimeRemoved));
    d["bytes_per_second"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransferQueueManager::OnBytesPerSecondRemoved));
    d["bytes_since_last_receipt"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransferQueueManager::OnBytesSinceLastReceiptRemoved));
    SaveWith("download_entry", {"user", "file_name", "remote_folder", "file_size",
                                "download_folder", "download_entry_status", "download_order",
                                "subfolder_save_level"});
    // Who wrote each partial file is now kept on disk beside the download folder; store
    // files of older versions still hold these records, keyed by the absolute path.
    DeclareTypes({{"partial_file", Primary, false}, {"partial_file_remote_path", Tertiary, false}});
    RelateTypes({{"partial_file", "user", Many, One},
                 {"partial_file", "partial_file_remote_path", Many, One}});
    SaveWith("partial_file", {"user", "partial_file_remote_path"});

    CreateUploadTypes();

    {
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "is_online", PathConnecting);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &TransferQueueManager::OnUserOnline));
    }

    connect(peerMessenger, &PeerMessenger::FileTransferRequested, this,
            &TransferQueueManager::OnFileTransferRequest);
    SetSettingDefault("download_folder", QDir::homePath() + QStringLiteral("/Kestrune Downloads"));
    connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this,
            &TransferQueueManager::OnFileConnection);
    connect(peerMessenger, &PeerMessenger::QueueUploadRequested, this,
            &TransferQueueManager::OnQueueUploadRequested);
    connect(peerMessenger, &PeerMessenger::QueueDownloadRequested, this,
            &TransferQueueManager::OnQueueDownloadRequested);
    connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
            &TransferQueueManager::OnFileConnectionAccepted);
    connect(peerMessenger, &PeerMessenger::FileTransferResponse, this,
            &TransferQueueManager::OnFileTransferResponse);
    connect(peerMessenger, &PeerMessenger::UploadFailed, this,
            &TransferQueueManager::OnUploadFailedNotification);
    connect(peerMessenger, &PeerMessenger::UploadDenied, this,
            &TransferQueueManager::OnUploadDeniedNotification);
    connect(peerMessenger, &PeerMessenger::UploadPlaceInLineRequested, this,
            &TransferQueueManager::OnUploadPlaceInLineRequested);
    // Search replies tell the searcher about our upload slots; the share index cannot link
    // the transfer queues, so it asks through these.
    if (sharedFoldersManager)
        sharedFoldersManager->SetUploadQueueState([this] { return IsFreeToUpload(); },
                                                  [this] { return QueuedUploadCount(); });
    // Records of who writes each partial file lie in the download folder, which a user
    // may share; they tell whom the user downloads from. The test needs no manager, so
    // it stays when this one goes.
    if (sharedFoldersManager)
        sharedFoldersManager->SetPrivateFileTest(&PartialFile::IsRecord);

    SetSettingDefault("transfer_order_counter", QStringLiteral("1"));
    SetSetting("transfer_req_counter", QStringLiteral("1"));
    d["download_entry_status"]->GetItem(Value("downloading")).NewItem("is_active");
    for (char const* lp_status : {"connecting", "uploading", "requesting", "waiting for offset"})
        d["upload_entry_status"]->GetItem(Value(lp_status)).NewItem("is_active");

    dataSaver->AddDataLoadedEventHandler(this);
    connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this,
            &TransferQueueManager::PeriodicCheck);
    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this,
            &TransferQueueManager::EveryHalfMinute);

    SetSettingDefault("upload_speed_limit", QStringLiteral("0"));
    SetSetting("upload_speed_limit_enabled", QStringLiteral("no"));
    connect(peerMessenger, &PeerMessenger::DownloadPlaceInLine, this,
            &TransferQueueManager::OnDownloadPlaceInLine);
    DeclareTypes({{"denial_reason", Tertiary, false}});
    RelateTypes({{"denial_reason", "download_entry", One, Many},
            {"denial_reason", "upload_entry", One, Many}});
    SetSetting("upload_slots", QStringLiteral("1"));

    CreateCompleteDownloadTypes();

    DeclareTypes({{"empty_share_check_status", Tertiary, false},
             {"sent_empty_share_warning_message", Tertiary, false}});
    RelateTypes({{"user", "empty_share_check_status", Many, One},
            {"user", "sent_empty_share_warning_message", Many, One}});
    connect(peerMessenger, &PeerMessenger::UserShare, this, &TransferQueueManager::OnUserShare);
    SetSetting("check_for_empty_shares", QStringLiteral("no"));
    SetSetting("empty_share_message",
               QStringLiteral("It looks like you're not sharing any files. Please share "
                              "something before downloading anything from my own shares. "
                              "Thanks."));
    SetSetting("max_queued_uploads_per_user", QStringLiteral("200"));

    m_types = {d["download_thread"],  d["upload_thread"],    d["download_entry"],
               d["upload_entry"],     d["write_position"],   d["read_position"],
               d["bytes_per_second"], d["last_receipt_time"]};
}

void TransferQueueManager::CreateDownloadTypes()
{
    DeclareTypes({{"download_entry", Primary, true},
             {"file_name", Tertiary, false},
             {"remote_folder", Secondary, false},
             {"download_folder", Secondary, false},
             {"transfer_req", Tertiary, false},
             {"remote_transfer_req", Tertiary, false},
             {"download_socket", Primary, false},
             {"download_file", Primary, false},
             {"write_position", Tertiary, false},
             {"download_entry_status", Primary, false},
             {"download_order", Tertiary, false},
             {"upload_socket", Primary, false},
             {"upload_file", Primary, false},
             {"read_position", Tertiary, false},
             {"upload_entry_status", Primary, false},
             {"upload_order", Tertiary, false},
             {"is_active", Tertiary, true},
             {"last_receipt_time", Tertiary, false},
             {"last_speed_measurement_time", Tertiary, false},
             {"bytes_per_second", Tertiary, false},
             {"bytes_since_last_receipt", Tertiary, false},
             {"place_in_line", Tertiary, false},
             {"last_queue_request_time", Tertiary, false},
             {"next_place_in_line_request_time", Tertiary, false},
             {"download_thread", Primary, false},
             {"subfolder_save_level", Tertiary, false},
             {"last_status_change_time", Tertiary, false}});
    RelateTypes({{"download_entry", "user", Many, One},
            {"download_entry", "file_name", Many, One},
            {"download_entry", "remote_folder", Many, One},
            {"download_entry", "file_size", Many, One},
            {"download_entry", "download_folder", Many, One},
            {"download_entry", "transfer_req", One, One},
            {"download_entry", "remote_transfer_req", Many, One},
            {"download_entry", "download_socket", One, One},
            {"download_entry", "download_thread", One, One},
            {"download_entry", "download_file", One, One},
            {"download_entry", "write_position", Many, One},
            {"download_entry", "download_entry_status", Many, One},
            {"download_entry", "download_order", One, One},
            {"download_entry", "last_receipt_time", One, One},
            {"download_entry", "last_speed_measurement_time", One, One},
            {"download_entry", "bytes_per_second", One, One},
            {"download_entry", "bytes_since_last_receipt", One, One},
            {"download_entry", "place_in_line", Many, One},
            {"download_entry", "subfolder_save_level", Many, One},
            {"download_entry", "last_status_change_time", Many, One},
            {"download_entry_status", "is_active", Many, One},
            {"user", "last_queue_request_time", Many, One},
            {"user", "next_place_in_line_request_time", Many, One}});
}

void TransferQueueManager::CreateUploadTypes()
{
    DeclareTypes({{"upload_entry", Primary, true},
             {"filename_as_requested", Tertiary, false},
             {"upload_start_time", Tertiary, false},
             {"bytes_uploaded", Tertiary, false},
             {"upload_thread", Primary, false},
             {"effective_upload_order", Tertiary, false}});
    d["bytes_uploaded"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransferQueueManager::OnBytesUploadedRemoved));
    d["read_position"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransferQueueManager::OnWritePositionRemoved));
    RelateTypes({{"upload_entry", "user", Many, One},
            {"upload_entry", "shared_file", Many, One},
            {"upload_entry", "upload_socket", One, One},
            {"upload_entry", "upload_file", One, One},
            {"upload_entry", "read_position", Many, One},
            {"upload_entry", "upload_entry_status", Many, One},
            {"upload_entry", "upload_order", One, One},
            {"upload_entry", "transfer_req", One, One},
            {"upload_entry_status", "is_active", Many, One},
            {"upload_entry", "filename_as_requested", Many, One},
            {"upload_entry", "upload_start_time", Many, One},
            {"upload_entry", "bytes_uploaded", Many, One},
            {"upload_entry", "last_status_change_time", Many, One},
            {"upload_entry", "last_receipt_time", One, One},
            {"upload_entry", "last_speed_measurement_time", One, One},
            {"upload_entry", "bytes_per_second", One, One},
            {"upload_entry", "bytes_since_last_receipt", One, One},
            {"upload_entry", "upload_thread", One, One},
            {"upload_entry", "effective_upload_order", Many, One}});
}

void TransferQueueManager::CreateCompleteDownloadTypes()
{
    DeclareTypes({{"complete_download", Primary, true},
             {"complete_download_folder", Secondary, false},
             {"complete_download_relative_folder", Secondary, false},
             {"complete_download_filename", Tertiary, false},
             {"complete_download_file_size", Tertiary, false},
             {"complete_download_completion_time", Tertiary, false}});
    RelateTypes({{"complete_download", "user", Many, One},
            {"complete_download", "complete_download_folder", Many, One},
            {"complete_download", "complete_download_relative_folder", Many, One},
            {"complete_download", "complete_download_filename", Many, One},
            {"complete_download", "complete_download_completion_time", Many, One},
            {"complete_download", "complete_download_file_size", Many, One},
            {"complete_download", "search_request_text", Many, One}});
    SaveWith("complete_download",
             {"user", "complete_download_folder", "complete_download_relative_folder",
              "complete_download_filename", "complete_download_file_size",
              "complete_download_completion_time"});
}

TransferQueueManager::~TransferQueueManager()
{
    RemoveDataHandlers();
    if (sharedFoldersManager)
        sharedFoldersManager->SetUploadQueueState({}, {});
    // Uploads first, then downloads; the threads, sockets and files themselves stay
    // with their cells.
    for (ItemPtr const& l_cell : d["upload_thread"]->GetItems())
    {
        auto* lp_worker = l_cell.AsPtr<UploadThread>();
        lp_worker->SignalExit();
        lp_worker->wait();
    }
    for (ItemPtr const& l_cell : d["download_thread"]->GetItems())
    {
        auto* lp_worker = l_cell.AsPtr<DownloadThread>();
        lp_worker->SignalExit();
        lp_worker->wait();
    }
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

void TransferQueueManager::DataLoaded()
{
    ItemPtr const l_queued = d["download_entry_status"]->GetItem(Value("queued"));
    ItemSet const l_entries = d["download_entry"]->GetItems();
    for (ItemPtr const& l_entry : l_entries)
        if (l_entry["download_entry_status"].AsStdString() != "complete")
            l_entry += l_queued;
    if (gp_server)
        for (ItemPtr const& l_user : l_entries.GetItems("user"))
            gp_server->TrackUser(l_user.AsString());
    PartialFile::BringRecordsIntoView(LocalDownloadFolder());
    emit TransfersLoaded();
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::RemoveDownload(ItemPtr i_entry)
{
    if (ItemPtr const l_cell = i_entry["download_thread"])
    {
        auto* lp_worker = l_cell.AsPtr<DownloadThread>();
        // A report the worker queued before it stopped must never reach a later worker
        // that happens to get the same address: cut the signals, let the event loop
        // deliver what is pending (it finds no cell) and only then free the object.
        lp_worker->disconnect(this);
        lp_worker->SignalExit();
        lp_worker->wait();
        lp_worker->deleteLater();
        l_cell.Remove();
    }
    if (ItemPtr const l_cell = i_entry["download_socket"])
    {
        auto* lp_socket = l_cell.AsPtr<QTcpSocket>();
        lp_socket->disconnect();
        l_cell.Remove();
        lp_socket->close();
        lp_socket->deleteLater();
    }
    if (ItemPtr const l_cell = i_entry["download_file"])
    {
        auto* lp_file = l_cell.AsPtr<QFile>();
        lp_file->close();
        delete lp_file;
        l_cell.Remove();
    }
    RemoveCells(i_entry, {"write_position", "last_receipt_time", "last_speed_measurement_time",
                          "bytes_per_second", "bytes_since_last_receipt"});
    i_entry.Remove();
}

void TransferQueueManager::RemoveUpload(ItemPtr i_entry)
{
    bool const l_wasActive = i_entry["upload_entry_status"].IsConnected("is_active");
    EndUploadTransfer(i_entry);
    if (m_lastOrderedUpload == i_entry)
        m_lastOrderedUpload = ItemPtr();
    i_entry.Remove();
    // A running upload's slot and speed share go to the others.
    if (l_wasActive)
    {
        DetermineUploadSpeedLimit();
        StartNewUploads();
    }
}

namespace
{
int CountActive(char const* ip_statusType, char const* ip_entryType)
{
    ItemSet const l_flags = d["is_active"]->GetItems();
    ItemSet l_statuses;
    for (ItemPtr const& l_flag : l_flags)
        l_statuses.Add(l_flag.GetItems(ip_statusType));
    return static_cast<int>(l_statuses.GetItems(ip_entryType).size());
}
} // namespace

int TransferQueueManager::ActiveDownloadCount()
{
    return CountActive("download_entry_status", "download_entry");
}

int TransferQueueManager::ActiveUploadCount()
{
    return CountActive("upload_entry_status", "upload_entry");
}

std::uint32_t TransferQueueManager::QueuedUploadCount()
{
    ItemPtr const l_queued = d["upload_entry_status"]->HasItem(Value("queued"));
    return static_cast<std::uint32_t>(l_queued.GetItems("upload_entry").size());
}

bool TransferQueueManager::IsFreeToUpload()
{
    unsigned long long const l_slots = GetSetting("upload_slots").toULongLong();
    return l_slots > static_cast<unsigned long long>(ActiveUploadCount());
}

void TransferQueueManager::PeriodicCheck()
{
}

void TransferQueueManager::OnWritePositionRemoved(ItemPtr i_item)
{
    FreeCell<qint64>(i_item);
}

void TransferQueueManager::OnBytesUploadedRemoved(ItemPtr i_item)
{
    FreeCell<qint64>(i_item);
}

void TransferQueueManager::OnBytesSinceLastReceiptRemoved(ItemPtr i_item)
{
    FreeCell<qint64>(i_item);
}

void TransferQueueManager::OnBytesPerSecondRemoved(ItemPtr i_item)
{
    FreeCell<int>(i_item);
}

void TransferQueueManager::OnLastReceiptTimeRemoved(ItemPtr i_item)
{
    FreeCell<QDateTime>(i_item);
}

void TransferQueueManager::OnLastSpeedMeasurementTimeRemoved(ItemPtr i_item)
{
    FreeCell<QDateTime>(i_item);
}

namespace
{
// The first connected item of the type, as operator[] finds it, without the name look-up.
ItemPtr Connected(ItemPtr i_item, Type* ip_type)
{
    ItemRange const l_items = i_item ? i_item->ConnectedItemsOf(ip_type) : nullptr;
    return l_items ? ItemPtr(l_items.First()) : ItemPtr();
}
} // namespace

ItemPtr TransferQueueManager::ProgressEntry(Type* ip_threadType, Type* ip_entryType,
                                            QObject* ip_worker) const
{
    // Looked up by address alone: a report may outlive the cell, never the object.
    if (!ip_worker)
        return ItemPtr();
    return Connected(ip_threadType->HasItem(Value(ip_worker)), ip_entryType);
}

void TransferQueueManager::StoreProgress(ItemPtr i_entry, Type* ip_positionType, qint64 i_position,
                                         int i_bytesPerSecond) const
{
    if (auto* lp_position = Connected(i_entry, ip_positionType).AsPtr<qint64>())
        *lp_position = i_position;
    if (auto* lp_speed = Connected(i_entry, m_types.mp_bytesPerSecond).AsPtr<int>())
        *lp_speed = i_bytesPerSecond;
    // The UTC clock skips the time zone look-up; the cell is only ever compared.
    if (auto* lp_time = Connected(i_entry, m_types.mp_lastReceiptTime).AsPtr<QDateTime>())
        *lp_time = QDateTime::currentDateTimeUtc();
}

void TransferQueueManager::SetUserTime(ItemPtr i_user, char const* ip_type, int i_secondsFromNow)
{
    if (!i_user)
        return;
    i_user += d[ip_type]->GetItem(
        Value(QDateTime::currentDateTime().addSecs(i_secondsFromNow).toString(Qt::TextDate)));
}
