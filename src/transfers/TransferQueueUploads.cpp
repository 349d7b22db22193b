// The upload queue and its order: peers' queue requests and the user's own pushes are
// tested against the share index and queued, each new upload is placed in the
// effective order (group priority, privileges, arrival), places in line are answered,
// users are unshared and reshared, and new requesters' shares are optionally probed.

#include "transfers/TransferQueueManager.h"

#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Log.h"
#include "store/Settings.h"

#include <algorithm>

namespace
{
QString const c_notShared = QStringLiteral("File not shared.");

void Detail(QString const& i_text, ItemPtr i_item)
{
    Log(LogArea::TransferQueue, 2, i_text, i_item);
}

bool IsActiveStatus(ItemPtr i_status)
{
    return i_status.IsConnected("is_active");
}
} // namespace

ItemPtr TransferQueueManager::FindSharedFileForUser(QString const& i_user, QString const& i_file)
{
    if (!sharedFoldersManager)
        return ItemPtr();
    ItemPtr const l_shared =
        sharedFoldersManager->GetSharedFileItem(QString(i_file).replace(QLatin1Char('\\'), QLatin1Char('/')));
    if (!l_shared || !sharedFoldersManager->IsFileSharedWithUser(l_shared, i_user))
        return ItemPtr();
    return l_shared;
}

bool TransferQueueManager::RequeueExistingUpload(ItemPtr i_user, ItemPtr i_shared)
{
    ItemPtr const l_entry = d.GetItem(i_user, i_shared, "upload_entry");
    if (!l_entry)
        return false;
    ItemPtr const l_status = l_entry["upload_entry_status"];
    if (l_status.AsStdString() == "queued" || IsActiveStatus(l_status))
    {
        // The peer hears nothing: it asked for what it already has.
        Detail(QStringLiteral("Already queued"), i_user);
        return true;
    }
    // A finished upload asked for again keeps its place numbers and does not count
    // against the per-user limit.
    Detail(QStringLiteral("%1, re-queueing").arg(l_status.AsString()), i_user);
    SetUploadEntryStatus(l_entry, QStringLiteral("queued"));
    StartNewUploads();
    return true;
}

ItemPtr TransferQueueManager::NewUploadEntry(ItemPtr i_user, ItemPtr i_shared, QString const& i_file)
{
    ItemPtr const l_entry = d["upload_entry"]->NewItem();
    l_entry += i_user;
    l_entry += i_shared;
    l_entry += d["filename_as_requested"]->GetItem(Value(i_file));
    SetUploadEntryStatus(l_entry, QStringLiteral("queued"));
    long long const l_order = GetSetting("transfer_order_counter").toLongLong();
    l_entry += d["upload_order"]->GetItem(Value(l_order));
    SetSetting("transfer_order_counter", QString::number(l_order + 1));
    OrderNewUpload(l_entry);
    Detail(QStringLiteral("Queued"), i_user);
    if (gp_server)
        gp_server->TrackUser(i_user.AsString());
    return l_entry;
}

void TransferQueueManager::OnQueueUploadRequested(QString i_user, QString i_file)
{
    ItemPtr const l_user = d["user"]->GetItem(Value(i_user));
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Queue upload requested by %1 for file %2").arg(i_user, i_file), l_user);
    ItemPtr const l_shared = FindSharedFileForUser(i_user, i_file);
    if (!l_shared)
    {
        Detail(QStringLiteral("Denied, file not shared"), l_user);
        peerMessenger->DenyUpload(i_user, i_file, c_notShared);
        return;
    }
    if (RequeueExistingUpload(l_user, l_shared))
        return;

    // Only waiting uploads count: what runs or has ended takes no place in the queue.
    ItemPtr const l_queued = d["upload_entry_status"]->HasItem(Value("queued"));
    long long const l_waiting =
        l_queued ? static_cast<long long>(d.GetItems(l_user, l_queued, "upload_entry").size()) : 0;
    if (l_waiting >= GetSettingInt("max_queued_uploads_per_user"))
    {
        Detail(QStringLiteral("Denied, too many files already queued by user"), l_user);
        peerMessenger->DenyUpload(i_user, i_file, QStringLiteral("Too many files"));
        return;
    }
    NewUploadEntry(l_user, l_shared, i_file);

    // The probe runs once per user and run, and never on a listed user.
    if (IsSettingYes("check_for_empty_shares") && !l_user["empty_share_check_status"] &&
        !l_user["in_user_list"])
    {
        peerMessenger->GetUserSharedFiles(i_user);
        l_user += d["empty_share_check_status"]->GetItem(Value("requested"));
    }
    StartNewUploads();
}

void TransferQueueManager::AddUpload(QString i_user, QString i_file)
{
    ItemPtr const l_user = d["user"]->GetItem(Value(i_user));
    Log(LogArea::TransferQueue, 1,
        QStringLiteral("Initiating upload to %1 of file %2").arg(i_user, i_file), l_user);
    ItemPtr const l_shared = FindSharedFileForUser(i_user, i_file);
    if (!l_shared)
    {
        Detail(QStringLiteral("Can't upload, file is either not shared or not shared with that "
                              "particular user."),
               l_user);
        return;
    }
    peerMessenger->QueueUpload(i_user, i_file, l_shared["shared_file_size"].AsInt64());
    if (RequeueExistingUpload(l_user, l_shared))
        return;
    NewUploadEntry(l_user, l_shared, i_file);
    StartNewUploads();
}

int TransferQueueManager::GetUserGroupDownloadPriority(QString i_user)
{
    int l_priority = 0;
    ItemPtr const l_listed = d["user"]->HasItem(Value(i_user))["in_user_list"];
    for (ItemPtr const& l_group : l_listed.GetItems("user_list_group"))
        if (ItemPtr const l_value = l_group["group_download_priority"])
            l_priority = std::max(l_priority, l_value.AsInt());
    return l_priority;
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr i_a, ItemPtr i_b)
{
    ItemPtr const l_userA = i_a["user"];
    ItemPtr const l_userB = i_b["user"];
    if (l_userA != l_userB)
    {
        int const l_priorityA = GetUserGroupDownloadPriority(l_userA.AsString());
        int const l_priorityB = GetUserGroupDownloadPriority(l_userB.AsString());
        if (l_priorityA != l_priorityB)
            return l_priorityA > l_priorityB;
        bool const l_privilegedA = l_userA.IsConnected("is_privileged");
        if (l_privilegedA != l_userB.IsConnected("is_privileged"))
            return l_privilegedA;
    }
    return i_a["upload_order"].AsInt64() < i_b["upload_order"].AsInt64();
}

void TransferQueueManager::OrderNewUpload(ItemPtr i_entry)
{
    Type* const lp_placeType = d["effective_upload_order"];
    ItemList l_ordered;
    bool l_loaded = false;
    auto const l_load = [&] {
        l_ordered = lp_placeType->GetItems().GetItems("upload_entry").SortNumericBy(
            "effective_upload_order", true);
        l_loaded = true;
        if (!l_ordered.empty())
            m_lastOrderedUpload = l_ordered.back();
    };
    auto const l_append = [&] {
        i_entry += lp_placeType->GetItem(
            Value(m_lastOrderedUpload ? m_lastOrderedUpload["effective_upload_order"].AsInt64() + 1 : 1));
        m_lastOrderedUpload = i_entry;
    };

    if (!m_lastOrderedUpload)
        l_load();
    if (!m_lastOrderedUpload || UploadEntrySortCompare(m_lastOrderedUpload, i_entry))
    {
        l_append();
        return;
    }
    if (!l_loaded)
        l_load();
    if (l_ordered.empty())
    {
        l_append();
        return;
    }
    auto const l_before = std::find_if(l_ordered.begin(), l_ordered.end(), [&](ItemPtr const& l_member) {
        return UploadEntrySortCompare(i_entry, l_member);
    });
    l_ordered.insert(l_before, i_entry);
    long long l_place = 1;
    for (ItemPtr const& l_member : l_ordered)
        l_member += lp_placeType->GetItem(Value(l_place++));
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    Type* const lp_placeType = d["effective_upload_order"];
    int l_place = 0;
    for (ItemPtr const& l_entry : d["upload_entry"]->GetItems().Sort(
             [this](ItemPtr const& i_a, ItemPtr const& i_b) { return UploadEntrySortCompare(i_a, i_b); }))
        l_entry += lp_placeType->GetItem(Value(l_place++));
}

void TransferQueueManager::OnUploadPlaceInLineRequested(QString i_user, QString i_file)
{
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    ItemPtr const l_name = d["filename_as_requested"]->HasItem(Value(i_file));
    if (!l_user || !l_name)
        return;
    ItemPtr const l_place = d.GetItem(l_user, l_name, "upload_entry")["effective_upload_order"];
    if (l_place)
        peerMessenger->SendUploadPlaceInLine(i_user, i_file, l_place.AsInt());
}

void TransferQueueManager::UnshareUser(QString i_user)
{
    ItemPtr const l_user = d["user"]->GetItem(Value(i_user));
    l_user.NewItem("unshared");
    // The running upload goes last: its removal starts the next uploads, and none of
    // this user's may be among them.
    ItemList l_entries = l_user.GetItems("upload_entry").Sort([](ItemPtr const& i_a, ItemPtr const& i_b) {
        return !IsActiveStatus(i_a["upload_entry_status"]) && IsActiveStatus(i_b["upload_entry_status"]);
    });
    for (ItemPtr const& l_entry : l_entries)
    {
        peerMessenger->DenyUpload(i_user, l_entry["filename_as_requested"].AsString(), c_notShared);
        RemoveUpload(l_entry);
    }
}

void TransferQueueManager::ReshareUser(QString i_user)
{
    d["user"]->GetItem(Value(i_user)).Disconnect("unshared");
}

void TransferQueueManager::OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable&)
{
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    // A share list that no probe asked for (the user browses the peer) changes nothing.
    if (l_user["empty_share_check_status"].AsStdString() != "requested")
        return;
    if (!i_share.empty())
    {
        l_user += d["empty_share_check_status"]->GetItem(Value("not_empty"));
        return;
    }
    l_user += d["empty_share_check_status"]->GetItem(Value("empty"));
    QString const l_message = GetSetting("empty_share_message");
    if (!IsSettingYes("check_for_empty_shares") || l_user["in_user_list"] || l_message.isEmpty())
        return;
    if (gp_server)
        gp_server->SendPrivateChat(i_user, l_message);
    Log(LogArea::Shared, 1, QStringLiteral("Sent empty share warning message to user %1").arg(i_user));
    l_user += d["sent_empty_share_warning_message"]->GetItem(Value(l_message));
}
