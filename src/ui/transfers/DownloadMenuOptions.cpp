#include "ui/transfers/DownloadMenuOptions.h"

#include "net/server/Server.h"
#include "store/GeneralFunctions.h"
#include "transfers/TransferQueueManager.h"
#include "ui/transfers/DownloadOpener.h"

#include <QIcon>
#include <QMenu>
#include <QTreeWidgetItem>

namespace
{
QString const c_transferIcon = QStringLiteral(":/icons/transfer_icon");
QString const c_alertIcon = QStringLiteral(":/icons/alert_icon");

bool IsComplete(ItemPtr i_entry)
{
    return i_entry["download_entry_status"].AsStdString() == "complete";
}

bool AnyUnfinished(ItemSet const& i_entries)
{
    for (ItemPtr const& l_entry : i_entries)
        if (!IsComplete(l_entry))
            return true;
    return false;
}

void SetAlertIcon(ItemPtr i_node, int i_column)
{
    if (auto* const lp_row = i_node.AsPtr<QTreeWidgetItem>())
        lp_row->setIcon(i_column, QIcon(c_alertIcon));
}
} // namespace

DownloadMenuOptions::DownloadMenuOptions(QMenu* ip_menu, ItemSet i_entries, QObject* ip_parent)
    : QObject(ip_parent),
      m_entries(std::move(i_entries)),
      m_hasSingleUser(false),
      m_hasSingleFolder(false)
{
    ItemSet const l_users = m_entries.GetItems("user");
    ItemSet const l_folders = m_entries.GetItems("remote_folder");
    ItemPtr const l_user = l_users.size() == 1 ? ItemPtr(l_users) : ItemPtr();
    ItemPtr const l_folder = l_folders.size() == 1 ? ItemPtr(l_folders) : ItemPtr();
    if (l_user)
    {
        m_hasSingleUser = true;
        m_singleUser = l_user.GetValue();
    }
    if (l_folder)
    {
        m_hasSingleFolder = true;
        m_singleFolder = l_folder.GetValue();
    }
    ItemPtr const l_first = m_entries;
    if (!l_first)
        return;
    std::size_t const l_count = m_entries.size();
    ItemPtr const l_status = l_first["download_entry_status"];
    bool const l_firstComplete = l_status.AsStdString() == "complete";

    if (!ip_menu->actions().isEmpty())
        ip_menu->addSeparator();
    if (l_count == 1 && l_firstComplete)
        ip_menu->addAction(QStringLiteral("Open File"), this, &DownloadMenuOptions::OnOpenFile);
    ip_menu->addAction(QStringLiteral("Open Folder"), this, &DownloadMenuOptions::OnOpenFolder);
    if (l_count > 1)
        ip_menu->addAction(QIcon(c_transferIcon), QStringLiteral("Retry downloads"), this,
                           &DownloadMenuOptions::OnRetryDownloads);
    else if (!l_firstComplete && !l_status.IsConnected("is_active"))
        ip_menu->addAction(QIcon(c_transferIcon), QStringLiteral("Retry download"), this,
                           &DownloadMenuOptions::OnRetryDownloads);
    ip_menu->addSeparator();
    ip_menu->addAction(QIcon(c_transferIcon),
                       l_count == 1 ? QStringLiteral("Remove download") : QStringLiteral("Remove downloads"),
                       this, &DownloadMenuOptions::OnRemoveDownloads);

    QMenu* const lp_notify = ip_menu->addMenu(QIcon(c_alertIcon), QStringLiteral("Notify me when..."));
    if (l_count == 1 && !l_first["complete_download_alert"] && !l_firstComplete)
        lp_notify->addAction(QStringLiteral("File download completes"), this,
                             &DownloadMenuOptions::OnSetFileDownloadAlert);
    if (l_user && l_folder &&
        l_folder.GetItems("complete_download_alert").Connected(l_user).empty() &&
        AnyUnfinished(d.GetItems(l_user, l_folder, "download_entry")))
        lp_notify->addAction(QStringLiteral("Folder download completes"), this,
                             &DownloadMenuOptions::OnSetFolderDownloadAlert);
    if (l_user && l_user["download_list_user_node"].GetItems("download_list_folder_node").size() > 1 &&
        l_user.GetItems("complete_download_alert").NotConnected("remote_folder").empty() &&
        AnyUnfinished(l_user.GetItems("download_entry")))
        lp_notify->addAction(QStringLiteral("All downloads from user complete"), this,
                             &DownloadMenuOptions::OnSetUserDownloadAlert);
    if (lp_notify->actions().isEmpty())
        delete lp_notify;

    if (ItemPtr const l_search = l_first["search_request_text"])
    {
        m_searchText = l_search.AsString();
        ip_menu->addAction(QIcon(QStringLiteral(":/icons/search_icon")),
                           QStringLiteral("Re-run Search: ") + EscapeMnemonics(m_searchText), this,
                           &DownloadMenuOptions::OnRerunSearch);
    }
}

DownloadMenuOptions::~DownloadMenuOptions() = default;

ItemList DownloadMenuOptions::PresentEntries() const
{
    std::set<Item*> const& l_present = d["download_entry"]->NullItems();
    ItemList l_entries;
    for (ItemPtr const& l_entry : m_entries)
        if (l_present.count(l_entry.GetPtr()))
            l_entries.push_back(l_entry);
    return l_entries;
}

ItemPtr DownloadMenuOptions::FirstEntry() const
{
    if (m_entries.empty())
        return ItemPtr();
    ItemPtr const l_first = *m_entries.begin();
    return d["download_entry"]->NullItems().count(l_first.GetPtr()) ? l_first : ItemPtr();
}

ItemPtr DownloadMenuOptions::SingleUser() const
{
    return m_hasSingleUser ? d["user"]->HasItem(m_singleUser) : ItemPtr();
}

ItemPtr DownloadMenuOptions::SingleFolder() const
{
    return m_hasSingleFolder ? d["remote_folder"]->HasItem(m_singleFolder) : ItemPtr();
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    for (ItemPtr const& l_entry : PresentEntries())
        if (!l_entry->IsRemoved())
            transferQueueManager->RemoveDownload(l_entry);
}

void DownloadMenuOptions::OnRetryDownloads()
{
    for (ItemPtr const& l_entry : PresentEntries())
        if (!l_entry->IsRemoved())
            transferQueueManager->RequeueDownload(l_entry);
}

void DownloadMenuOptions::OnRerunSearch()
{
    if (gp_server)
        gp_server->FileSearch(m_searchText, false);
}

void DownloadMenuOptions::OnOpenFile()
{
    if (ItemPtr const l_first = FirstEntry())
        DownloadOpener::Open(l_first, false);
}

void DownloadMenuOptions::OnOpenFolder()
{
    if (ItemPtr const l_first = FirstEntry())
        DownloadOpener::Open(l_first, true);
}

void DownloadMenuOptions::OnSetFileDownloadAlert()
{
    ItemPtr const l_first = FirstEntry();
    if (!l_first)
        return;
    d["complete_download_alert"]->NewItem() += l_first;
    SetAlertIcon(l_first["download_list_node"], 2);
}

void DownloadMenuOptions::OnSetFolderDownloadAlert()
{
    ItemPtr const l_user = SingleUser();
    ItemPtr const l_folder = SingleFolder();
    if (!l_user || !l_folder)
        return;
    ItemPtr const l_alert = d["complete_download_alert"]->NewItem();
    l_alert += l_user;
    l_alert += l_folder;
    if (ItemPtr const l_userNode = l_user["download_list_user_node"])
        SetAlertIcon(d.GetItem(l_folder, l_userNode, "download_list_folder_node"), 1);
}

void DownloadMenuOptions::OnSetUserDownloadAlert()
{
    ItemPtr const l_user = SingleUser();
    if (!l_user)
        return;
    d["complete_download_alert"]->NewItem() += l_user;
    SetAlertIcon(l_user["download_list_user_node"], 0);
}
