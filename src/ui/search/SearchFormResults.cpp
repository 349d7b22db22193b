#include "ui/search/SearchForm.h"

#include "shares/SharedFoldersManager.h"
#include "store/DelayedInvoker.h"
#include "store/GeneralFunctions.h"
#include "ui/search/FilterParser.h"
#include "ui/search/SearchResultListItem.h"
#include "ui/search/SearchResultsForm.h"
#include "widgets/EventToolBar.h"

#include <QLineEdit>
#include <QTreeWidget>

namespace
{
enum Column
{
    c_userColumn = 0,
    c_freeColumn = 1,
    c_speedColumn = 2,
    c_folderColumn = 3,
    c_fileColumn = 4,
    c_sizeColumn = 5,
    c_attributesColumn = 6
};

int const c_sortDelayMilliseconds = 1000;

// The file result a file row shows, or null.
ItemPtr ResultOfRow(QTreeWidgetItem* ip_row)
{
    return d["search_result_node"]->HasItem(Value(ip_row))["search_result"];
}

// Hiding or showing a row costs the view a persistent index and a relayout; most rows
// keep their state from one pass to the next.
void SetHidden(QTreeWidgetItem* ip_row, bool i_hidden)
{
    if (ip_row->isHidden() != i_hidden)
        ip_row->setHidden(i_hidden);
}

// A folder is shown when enough of its files are.
bool IsFolderShown(int i_shownFiles, int i_minFiles)
{
    return i_shownFiles > 0 && i_shownFiles >= i_minFiles;
}

// Column 1 and 2 of a user row, from the reply that made it.
void FillUserColumns(QTreeWidgetItem* ip_row, ItemPtr i_replies)
{
    if (i_replies["search_results_user_available"].AsStdString() == "yes")
        ip_row->setText(c_freeColumn, QStringLiteral("Y"));
    else
        ip_row->setText(c_freeColumn, i_replies["search_results_uploads_in_queue"].AsString());
    ip_row->setTextAlignment(c_freeColumn, Qt::AlignHCenter);
    long long const l_speed = i_replies["search_results_user_speed"].AsInt64();
    if (l_speed != 0)
        ip_row->setText(c_speedColumn, QString::number(l_speed / 1024.0, 'f', 1));
}
} // namespace

void SearchForm::OnUserSearchResults(ItemPtr i_results)
{
    if (!i_results)
        return;
    ItemSet const l_files = i_results.GetItems("search_result");
    ItemPtr const l_request = i_results["search_request"];
    if (l_files.empty() || !l_request)
        return;

    ItemPtr l_widgetItem = l_request["search_results_widget"];
    if (!l_widgetItem)
    {
        if (!l_request.IsConnected("wishlist_search"))
            return;
        ItemPtr const l_text = l_request["search_request_text"];
        ItemPtr const l_wish = d["wish_list_item"]->HasItem(Value(l_text.AsStdString()));
        if (l_wish && l_wish.IsConnected("wish_list_item_enabled"))
            CreateSearchForm(l_request.AsUInt(), l_text.AsString(), true);
        l_widgetItem = l_request["search_results_widget"];
        if (!l_widgetItem)
        {
            // Nothing shows it, so nothing keeps it.
            i_results.Remove();
            return;
        }
    }
    SearchResultsForm* const lp_tab = TabOf(l_widgetItem);

    QTreeWidgetItem* lp_userRow = nullptr;
    for (ItemPtr const& l_file : l_files)
        if (QTreeWidgetItem* const lp_row = AddSearchResult(l_widgetItem, l_file))
            lp_userRow = lp_row;
    if (lp_userRow)
        FilterUserRows(lp_tab, lp_userRow);
    AlertWishTab(l_widgetItem, lp_tab);

    // Replies come in bursts: one sort a second at most, the first a second after the
    // burst began.
    if (delayedInvoker)
        delayedInvoker->Invoke(lp_tab, QStringLiteral("1Sort()"), c_sortDelayMilliseconds);
}

QTreeWidgetItem* SearchForm::AddSearchResult(ItemPtr i_widgetItem, ItemPtr i_result)
{
    SearchResultsForm* const lp_tab = TabOf(i_widgetItem);
    ItemPtr const l_replies = i_result["search_results"];
    ItemPtr const l_user = l_replies["user"];
    if (!lp_tab || !l_user)
        return nullptr;

    ItemPtr l_userNode = d.GetItem(i_widgetItem, l_user, "search_results_user_node");
    QTreeWidgetItem* lp_userRow = l_userNode.AsPtr<QTreeWidgetItem>();
    if (!l_userNode)
    {
        lp_userRow = new SearchResultListItem(lp_tab->searchResults());
        lp_userRow->setText(c_userColumn, l_user.AsString());
        l_userNode = d["search_results_user_node"]->GetItem(Value(lp_userRow));
        l_userNode += i_widgetItem;
        l_userNode += l_user;
        // Later replies of the user in this tab leave these as the first one set them.
        FillUserColumns(lp_userRow, l_replies);
    }

    ItemPtr const l_folder = i_result["search_result_file_folder"];
    ItemPtr l_folderNode = d.GetItem(l_userNode, l_folder, "search_results_folder_node");
    QTreeWidgetItem* lp_folderRow = l_folderNode.AsPtr<QTreeWidgetItem>();
    if (!l_folderNode)
    {
        lp_folderRow = new SearchResultListItem(lp_userRow);
        lp_folderRow->setText(c_folderColumn, ReversePathname(l_folder.AsString()));
        l_folderNode = d["search_results_folder_node"]->GetItem(Value(lp_folderRow));
        l_folderNode += l_userNode;
        l_folderNode += l_folder;
    }

    QTreeWidgetItem* const lp_fileRow = new SearchResultListItem(lp_folderRow);
    lp_fileRow->setText(c_fileColumn, i_result["search_result_file_name"].AsString());
    lp_fileRow->setText(c_sizeColumn, CommafyNumber(i_result["file_size"].AsInt64()));
    if (sharedFoldersManager)
        lp_fileRow->setText(c_attributesColumn, sharedFoldersManager->GetFileItemDisplayString(i_result));

    if (i_widgetItem["expand_users"].AsStdString() == "yes")
        lp_userRow->setExpanded(true);
    if (i_widgetItem["expand_folders"].AsStdString() == "yes")
        lp_folderRow->setExpanded(true);

    ItemPtr const l_fileNode = d["search_result_node"]->GetItem(Value(lp_fileRow));
    l_fileNode += i_result;
    l_fileNode += l_folderNode;
    return lp_userRow;
}

void SearchForm::FilterUserRows(SearchResultsForm* ip_tab, QTreeWidgetItem* ip_userRow)
{
    FilterParser l_filter;
    l_filter.Parse(ip_tab->filterEdit()->text());
    // A filter without attribute conditions has nothing to ask of the file: with no
    // item, a file whose bitrate or size reads as negative is not hidden by it.
    bool const l_readsItems = l_filter.HasAttributes();
    bool l_isUserShown = false;
    for (int l_folderIndex = 0; l_folderIndex < ip_userRow->childCount(); ++l_folderIndex)
    {
        QTreeWidgetItem* const lp_folderRow = ip_userRow->child(l_folderIndex);
        QString const l_folderText = lp_folderRow->text(c_folderColumn);
        int l_shown = 0;
        for (int l_fileIndex = 0; l_fileIndex < lp_folderRow->childCount(); ++l_fileIndex)
        {
            QTreeWidgetItem* const lp_fileRow = lp_folderRow->child(l_fileIndex);
            bool const l_isMatch =
                l_filter.IsMatching(l_folderText + lp_fileRow->text(c_fileColumn), nullptr,
                                    l_readsItems ? ResultOfRow(lp_fileRow) : ItemPtr()) == 0;
            SetHidden(lp_fileRow, !l_isMatch);
            l_shown += l_isMatch ? 1 : 0;
        }
        bool const l_isFolderShown = IsFolderShown(l_shown, l_filter.MinFilesInFolder());
        SetHidden(lp_folderRow, !l_isFolderShown);
        l_isUserShown = l_isUserShown || l_isFolderShown;
    }
    SetHidden(ip_userRow, !l_isUserShown);
}

void SearchForm::OnFilterTextChanged(QString i_text)
{
    QObject* const lp_edit = sender();
    auto* const lp_tab = qobject_cast<SearchResultsForm*>(lp_edit ? lp_edit->parent() : nullptr);
    ItemPtr const l_widgetItem = WidgetItemOf(lp_tab);
    if (!l_widgetItem)
        return;
    // A wish remembers the last filter typed in its tab, the empty one too.
    if (ItemPtr const l_wish = l_widgetItem["wish_list_item"])
        l_wish += d["wish_list_item_filter_text"]->GetItem(Value(i_text));
    FilterTab(lp_tab, i_text);
}

void SearchForm::FilterTab(SearchResultsForm* ip_tab, QString const& i_filter)
{
    FilterParser l_filter;
    l_filter.Parse(i_filter);
    QTreeWidget* const lp_tree = ip_tab->searchResults();
    for (int l_userIndex = 0; l_userIndex < lp_tree->topLevelItemCount(); ++l_userIndex)
    {
        QTreeWidgetItem* const lp_userRow = lp_tree->topLevelItem(l_userIndex);
        bool l_isUserShown = false;
        for (int l_folderIndex = 0; l_folderIndex < lp_userRow->childCount(); ++l_folderIndex)
        {
            QTreeWidgetItem* const lp_folderRow = lp_userRow->child(l_folderIndex);
            // What the folder text does not hold, its files must.
            FilterParser l_remainder;
            if (l_filter.IsMatching(lp_folderRow->text(c_folderColumn), &l_remainder, ItemPtr()) == 2)
            {
                SetHidden(lp_folderRow, true);
                continue;
            }
            bool const l_readsItems = l_remainder.HasAttributes();
            int l_shown = 0;
            for (int l_fileIndex = 0; l_fileIndex < lp_folderRow->childCount(); ++l_fileIndex)
            {
                QTreeWidgetItem* const lp_fileRow = lp_folderRow->child(l_fileIndex);
                ItemPtr const l_result = l_readsItems ? ResultOfRow(lp_fileRow) : ItemPtr();
                bool const l_isMatch = l_remainder.IsMatching(lp_fileRow->text(c_fileColumn), nullptr, l_result) == 0;
                SetHidden(lp_fileRow, !l_isMatch);
                l_shown += l_isMatch ? 1 : 0;
            }
            bool const l_isFolderShown = IsFolderShown(l_shown, l_remainder.MinFilesInFolder());
            SetHidden(lp_folderRow, !l_isFolderShown);
            l_isUserShown = l_isUserShown || l_isFolderShown;
        }
        SetHidden(lp_userRow, !l_isUserShown);
    }
}

void SearchForm::AlertWishTab(ItemPtr i_widgetItem, SearchResultsForm* ip_tab)
{
    ItemPtr const l_wish = i_widgetItem["wish_list_item"];
    if (!l_wish || i_widgetItem.IsConnected("search_results_widget_alerted"))
        return;
    // Only a reply that leaves something to see is worth the user's attention; until
    // then the tab may still alert.
    QTreeWidget* const lp_tree = ip_tab->searchResults();
    bool l_isAnyShown = false;
    for (int l_index = 0; l_index < lp_tree->topLevelItemCount() && !l_isAnyShown; ++l_index)
        l_isAnyShown = !lp_tree->topLevelItem(l_index)->isHidden();
    if (!l_isAnyShown)
        return;
    if (eventToolBar)
        eventToolBar->AddEvent(l_wish.AsString(), QStringLiteral(":/icons/wishlist_icon"), ip_tab, QString());
    i_widgetItem.NewItem("search_results_widget_alerted");
}

QTreeWidgetItem* SearchForm::GetNodeUserNode(QTreeWidgetItem* ip_row)
{
    Value const l_key(ip_row);
    if (d["search_results_user_node"]->HasItem(l_key))
        return ip_row;
    ItemPtr l_folderNode = d["search_results_folder_node"]->HasItem(l_key);
    if (!l_folderNode)
        l_folderNode = d["search_result_node"]->HasItem(l_key)["search_results_folder_node"];
    return l_folderNode["search_results_user_node"].AsPtr<QTreeWidgetItem>();
}
