#include "ui/search/SearchForm.h"

#include "ui/search/SearchResultDownload.h"
#include "ui/search/SearchResultMenuOptions.h"
#include "ui/search/SearchResultsForm.h"
#include "ui/users/UserMenuOptions.h"
#include "ui_SearchForm.h"
#include "widgets/ActionSetToolBar.h"

#include <QMenu>

void SearchForm::OnResultDoubleClicked(QTreeWidgetItem* ip_row, int /*i_column*/)
{
    // The kind of row is the node type that holds its address: texts cannot tell, as a
    // path without "\" leaves a folder row's text empty.
    Value const l_key(ip_row);
    ItemSet l_results;
    if (ItemPtr const l_userNode = d["search_results_user_node"]->HasItem(l_key))
        l_results = l_userNode.GetItems("search_results_folder_node").GetItems("search_result_node").GetItems("search_result");
    else if (ItemPtr const l_folderNode = d["search_results_folder_node"]->HasItem(l_key))
        l_results = l_folderNode.GetItems("search_result_node").GetItems("search_result");
    else if (ItemPtr const l_fileNode = d["search_result_node"]->HasItem(l_key))
        l_results = l_fileNode.GetItems("search_result");
    if (l_results.empty())
        return;

    ItemPtr const l_searchText = ItemPtr(l_results.GetItems("search_results"))["search_request"]["search_request_text"];
    for (ItemPtr const& l_result : l_results.Sort(&SearchForm::CompareSearchResults))
        SearchResultDownload::Queue(l_result, l_searchText);
}

bool SearchForm::CompareSearchResults(ItemPtr i_first, ItemPtr i_second)
{
    QString const l_firstFolder = i_first["search_result_file_folder"].AsString();
    QString const l_secondFolder = i_second["search_result_file_folder"].AsString();
    if (l_firstFolder != l_secondFolder)
        return l_firstFolder < l_secondFolder;
    return i_first["search_result_file_name"].AsString() < i_second["search_result_file_name"].AsString();
}

void SearchForm::OnActionBarTriggered(QWidget* ip_widget, QString i_action)
{
    auto* const lp_tab = qobject_cast<SearchResultsForm*>(ip_widget);
    ItemPtr const l_widgetItem = WidgetItemOf(lp_tab);

    if (i_action == QLatin1String("expand_folders"))
    {
        if (l_widgetItem)
            ToggleExpansion(lp_tab, l_widgetItem, "expand_folders", true);
    }
    else if (i_action == QLatin1String("expand_users"))
    {
        if (l_widgetItem)
            ToggleExpansion(lp_tab, l_widgetItem, "expand_users", false);
    }
    else if (i_action == QLatin1String("order_by_available"))
    {
        if (l_widgetItem)
            OrderBy(lp_tab, 1);
    }
    else if (i_action == QLatin1String("order_by_fastest"))
    {
        if (l_widgetItem)
            OrderBy(lp_tab, 2);
    }
    else if (i_action == QLatin1String("remove_wish_list_item"))
        RemoveSelectedWishes();
    else if (i_action == QLatin1String("enable_all_wish_list_items"))
        SetAllWishesChecked(true);
    else if (i_action == QLatin1String("disable_all_wish_list_items"))
        SetAllWishesChecked(false);
    else if (i_action == QLatin1String("add_remove_wishlist"))
        AddOrRemoveWish();
}

void SearchForm::ToggleExpansion(SearchResultsForm* ip_tab, ItemPtr i_widgetItem, char const* ip_type,
                                 bool i_folders)
{
    bool const l_expand = i_widgetItem[ip_type].AsStdString() == "no";
    i_widgetItem += d[ip_type]->GetItem(Value(l_expand ? "yes" : "no"));
    QString const l_label = i_folders ? QStringLiteral("Expand Folders") : QStringLiteral("Expand Users");
    actionBar->SetWidgetActionText(ip_tab, ip_type, l_label + (l_expand ? " [on]" : " [off]"));

    QTreeWidget* const lp_tree = ip_tab->searchResults();
    for (int l_userIndex = 0; l_userIndex < lp_tree->topLevelItemCount(); ++l_userIndex)
    {
        QTreeWidgetItem* const lp_userRow = lp_tree->topLevelItem(l_userIndex);
        if (!i_folders)
        {
            lp_userRow->setExpanded(l_expand);
            continue;
        }
        for (int l_folderIndex = 0; l_folderIndex < lp_userRow->childCount(); ++l_folderIndex)
            lp_userRow->child(l_folderIndex)->setExpanded(l_expand);
    }
}

void SearchForm::OrderBy(SearchResultsForm* ip_tab, int i_column)
{
    bool const l_byFree = i_column == 1;
    actionBar->SetWidgetActionText(ip_tab, "order_by_available",
                                   l_byFree ? "Order by Available [on]" : "Order by Available");
    actionBar->SetWidgetActionText(ip_tab, "order_by_fastest",
                                   l_byFree ? "Order by Fastest" : "Order by Fastest [on]");
    ip_tab->SetSortingParamters(i_column, Qt::DescendingOrder);
    ip_tab->Sort();
}

void SearchForm::OnSearchResultsContextMenuRequested(QPoint i_position)
{
    auto* const lp_tree = qobject_cast<QTreeWidget*>(sender());
    QTreeWidgetItem* const lp_row = lp_tree ? lp_tree->itemAt(i_position) : nullptr;
    if (!lp_row)
        return;
    QMenu l_menu;
    SearchResultMenuOptions l_resultOptions(&l_menu, lp_row, nullptr);
    QTreeWidgetItem* const lp_userRow = GetNodeUserNode(lp_row);
    UserMenuOptions l_userOptions(&l_menu, lp_userRow ? lp_userRow->text(0) : QString(), nullptr);
    l_menu.exec(lp_tree->viewport()->mapToGlobal(i_position));
}

void SearchForm::OnCorrelationClicked(QTreeWidgetItem* ip_row, int /*i_column*/)
{
    if (ip_row)
        ui->searchEdit->setText(ip_row->text(0));
}

void SearchForm::OnCorrelationDoubleClicked(QTreeWidgetItem* ip_row, int /*i_column*/)
{
    if (ip_row)
        RunSearch(ip_row->text(0));
}
