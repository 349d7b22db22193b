#include "ui/search/SearchResultMenuOptions.h"

#include "store/Data.h"
#include "ui/search/SearchResultDownload.h"
#include "ui/users/ShareForm.h"
#include "ui/users/SharesForm.h"

#include <QIcon>
#include <QMenu>
#include <QTreeWidget>

#include <set>

namespace
{
ItemPtr FileNodeOf(QTreeWidgetItem* ip_row)
{
    return d["search_result_node"]->HasItem(Value(ip_row));
}

ItemPtr FolderNodeOf(QTreeWidgetItem* ip_row)
{
    return d["search_results_folder_node"]->HasItem(Value(ip_row));
}

QList<QTreeWidgetItem*> SelectionOf(QTreeWidgetItem* ip_row)
{
    QTreeWidget* const lp_tree = ip_row ? ip_row->treeWidget() : nullptr;
    return lp_tree ? lp_tree->selectedItems() : QList<QTreeWidgetItem*>();
}
} // namespace

SearchResultMenuOptions::SearchResultMenuOptions(QMenu* ip_menu, QTreeWidgetItem* ip_row, QObject* ip_parent)
    : QObject(ip_parent), mp_row(ip_row)
{
    if (ItemPtr const l_fileNode = FileNodeOf(ip_row))
    {
        ItemPtr const l_result = l_fileNode["search_result"];
        m_searchText = SearchResultDownload::SearchTextOf(l_result).AsString();
        m_folder = l_result["search_result_file_folder"].AsStdString();
        m_user = l_result["search_results"]["user"].AsString();
        ip_menu->addAction(QIcon(":/icons/download_icon"), "Download File(s)", this,
                           &SearchResultMenuOptions::OnDownloadFile);
    }
    else if (ItemPtr const l_folderNode = FolderNodeOf(ip_row))
    {
        // The folder item is shared by every reply with that path, whichever user or tab
        // sent it: the user is the row's own, and so is the result that gives the text.
        m_folder = l_folderNode["search_result_file_folder"].AsStdString();
        m_user = l_folderNode["search_results_user_node"]["user"].AsString();
        ItemPtr const l_result = ItemPtr(l_folderNode.GetItems("search_result_node").GetItems("search_result"));
        m_searchText = SearchResultDownload::SearchTextOf(l_result).AsString();
    }
    else
        return;
    ip_menu->addAction(QIcon(":/icons/downloads_icon"), "Download Folder(s)", this,
                       &SearchResultMenuOptions::OnDownloadFolder);
    ip_menu->addAction(QIcon(":/icons/browse_icon"), "Browse Folder", this, &SearchResultMenuOptions::OnBrowseFolder);
}

SearchResultMenuOptions::~SearchResultMenuOptions() = default;

void SearchResultMenuOptions::OnDownloadFile()
{
    ItemPtr const l_searchText = d["search_request_text"]->GetItem(Value(m_searchText));
    for (QTreeWidgetItem* const lp_row : SelectionOf(mp_row))
    {
        ItemPtr const l_fileNode = FileNodeOf(lp_row);
        if (!l_fileNode)
            break;
        SearchResultDownload::Queue(l_fileNode["search_result"], l_searchText);
    }
}

void SearchResultMenuOptions::OnDownloadFolder()
{
    ItemSet l_folderNodes;
    for (QTreeWidgetItem* const lp_row : SelectionOf(mp_row))
    {
        ItemPtr l_folderNode = FolderNodeOf(lp_row);
        if (!l_folderNode)
            l_folderNode = FileNodeOf(lp_row)["search_results_folder_node"];
        if (!l_folderNode)
            return;
        l_folderNodes.insert(l_folderNode);
    }
    // A file selected by itself and through its folder counts once.
    ItemSet const l_results = l_folderNodes.GetItems("search_result_node").GetItems("search_result");
    ItemPtr const l_searchText = d["search_request_text"]->GetItem(Value(m_searchText));
    for (ItemPtr const& l_result : l_results.SortAlphabeticBy("search_result_file_name"))
        SearchResultDownload::Queue(l_result, l_searchText);
}

void SearchResultMenuOptions::OnBrowseFolder()
{
    if (!sharesForm)
        return;
    if (ShareForm* const lp_share = sharesForm->OpenShareBrowse(m_user))
        lp_share->BrowseToFolder(m_folder);
}
