// The half-minute checks: transfers stall in ways no message reports. Upload requests
// and file connections that never get anywhere are aborted, queued downloads are asked
// for again at online peers that may have forgotten them, and places in line are asked
// for now and then.

#include "transfers/TransferQueueManager.h"

#include "store/Log.h"

#include <QDateTime>

namespace
{
// The phases an upload may stall in before its worker runs.
char const* const c_stallingPhases[] = {"requesting", "connecting", "waiting for offset"};
constexpr qint64 c_phaseTimeoutMs = 29999;
constexpr qint64 c_requeueIntervalMs = 600000;
constexpr int c_placeInLineIntervalS = 600;

// A stored time; missing or unreadable ones read as invalid.
QDateTime StoredTime(ItemPtr i_holder, char const* ip_type)
{
    return QDateTime::fromString(i_holder[ip_type].AsString(), Qt::TextDate);
}

// Milliseconds from the time to now; 0 from an invalid time.
qint64 MillisecondsSince(QDateTime const& i_time, QDateTime const& i_now)
{
    return i_time.isValid() ? i_time.msecsTo(i_now) : 0;
}
} // namespace

void TransferQueueManager::EveryHalfMinute()
{
    AbortStalledUploads();

    ItemSet l_users;
    if (ItemPtr const l_queued = d["download_entry_status"]->HasItem(Value("queued")))
        l_users = l_queued.GetItems("download_entry").GetItems("user").Connected("is_online");
    RequeueDownloadsAtOnlineUsers(l_users);
    RequestPlacesInLine(l_users);
}

void TransferQueueManager::AbortStalledUploads()
{
    ItemSet l_entries;
    for (char const* lp_phase : c_stallingPhases)
        l_entries.Add(d["upload_entry_status"]->HasItem(Value(lp_phase)).GetItems("upload_entry"));
    QDateTime const l_now = QDateTime::currentDateTime();
    bool l_aborted = false;
    for (ItemPtr const& l_entry : l_entries)
    {
        // An upload without a change time never times out.
        if (MillisecondsSince(StoredTime(l_entry, "last_status_change_time"), l_now) <= c_phaseTimeoutMs)
            continue;
        Log(LogArea::TransferQueue, 1,
            QStringLiteral("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(l_entry["shared_file"]["shared_file_name"].AsString(),
                     l_entry["user"].AsString(), l_entry["upload_entry_status"].AsString()));
        SetUploadEntryStatus(l_entry, QStringLiteral("aborted"));
        l_aborted = true;
    }
    if (l_aborted)
        StartNewUploads();
}

void TransferQueueManager::RequeueDownloadsAtOnlineUsers(ItemSet const& i_users)
{
    for (ItemPtr const& l_user : i_users)
    {
        if (IsActivelyDownloadingFromUser(l_user.AsString()))
            continue;
        ItemPtr const l_last = l_user["last_queue_request_time"];
        if (l_last &&
            MillisecondsSince(StoredTime(l_user, "last_queue_request_time"),
                              QDateTime::currentDateTime()) < c_requeueIntervalMs)
            continue;
        RequeueUserDownloads(l_user);
    }
}

void TransferQueueManager::RequestPlacesInLine(ItemSet const& i_users)
{
    for (ItemPtr const& l_user : i_users)
    {
        if (IsActivelyDownloadingFromUser(l_user.AsString()))
            continue;
        // A time equal to now is due.
        if (l_user["next_place_in_line_request_time"] &&
            QDateTime::currentDateTime().msecsTo(StoredTime(l_user, "next_place_in_line_request_time")) > 0)
            continue;
        ItemPtr const l_queued = d["download_entry_status"]->HasItem(Value("queued"));
        ItemSet const l_entries = l_user.GetItems("download_entry").Connected(l_queued);
        for (ItemPtr const& l_entry : l_entries.SortNumericBy("download_order", true))
            RequestDownloadPlaceInLine(l_entry);
        SetUserTime(l_user, "next_place_in_line_request_time", c_placeInLineIntervalS);
    }
}
