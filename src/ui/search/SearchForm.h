#pragma once

// The search page of the main window. A text entered on "Manual Searches" goes to the
// server; every search the server connection confirms opens a results tab. Wish-list
// searches get one tab per wish on "Wish List Searches", made when their first result
// arrives, beside the list of wishes.
//
// Rows and tabs are tied to the store through node items keyed by their addresses:
// `search_results_widget` for a tab, `search_results_user_node`,
// `search_results_folder_node` and `search_result_node` for the user, folder and file
// rows of its tree, `wish_list_node` and `wish_list_node_checkbox` for a wish's row.
//
// The work is split by subject:
//   SearchForm.cpp          set-up, searching, opening and closing tabs
//   SearchFormResults.cpp   replies into rows, the filter passes, the wish-tab alert
//   SearchFormWishList.cpp  the wish list
//   SearchFormActions.cpp   double-click, toolbar actions, context menu, related searches
//
// One instance, made by the main window. GUI thread only.

#include "store/Data.h"
#include "store/DataSaver.h"

#include <QPoint>
#include <QString>
#include <QWidget>

class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class SearchResultsForm;
class Ui_SearchForm;

class SearchForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit SearchForm(QWidget* ip_parent = nullptr);
    ~SearchForm() override;

    // Declares the form's item types and actions and makes its connections. Once.
    void Init();
    // Gives every loaded wish its row, then sizes the wish-list page.
    void DataLoaded() override;

    // Opens the results tab of a search; a wish's later searches join its open tab.
    void CreateSearchForm(unsigned int i_ticket, QString i_search, bool i_wishListSearch);
    // The results tab shown on the visible page, or null.
    SearchResultsForm* GetCurrentSearchResultsForm();

    // Adds the rows of one result to the tab of the widget item; returns the user row.
    QTreeWidgetItem* AddSearchResult(ItemPtr i_widgetItem, ItemPtr i_result);
    // The user row above a result row (the row itself for a user row), or null.
    QTreeWidgetItem* GetNodeUserNode(QTreeWidgetItem* ip_row);

    // Folder text first, then file name (case-sensitive): the order downloads are queued.
    static bool CompareSearchResults(ItemPtr i_first, ItemPtr i_second);

    void OnWishListItemAdded(ItemPtr i_wish);
    void OnWishListItemRemoved(ItemPtr i_wish);

public slots:
    void OnSearchRequest(uint i_ticket, QString i_search, bool i_wishListSearch);
    void OnSearchEntered();
    void OnTabCloseRequested(int i_index);
    void OnWishTabCloseRequested(int i_index);
    void OnUserSearchResults(ItemPtr i_results);
    void OnFilterTextChanged(QString i_text);
    void OnResultDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnSearchResultsContextMenuRequested(QPoint i_position);
    void OnCorrelationClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnCorrelationDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnWishListItemCheckStateChanged(int i_state);

private:
    // Sends a manual search and asks for its related searches, as typed.
    void RunSearch(QString const& i_search);
    void CloseTab(QTabWidget* ip_tabs, int i_index);
    // The widget item of a tab, or null; never creates.
    static ItemPtr WidgetItemOf(SearchResultsForm* ip_tab);
    // The tab whose widget item this is.
    static SearchResultsForm* TabOf(ItemPtr i_widgetItem);

    // Applies the filter to one user's rows as a reply arrives: each file against its
    // folder and file text joined.
    void FilterUserRows(SearchResultsForm* ip_tab, QTreeWidgetItem* ip_userRow);
    // Applies the filter to a whole tab after an edit: folder text first, the files
    // against what the folder left.
    void FilterTab(SearchResultsForm* ip_tab, QString const& i_filter);
    void AlertWishTab(ItemPtr i_widgetItem, SearchResultsForm* ip_tab);

    // Toolbar actions of a results tab.
    void ToggleExpansion(SearchResultsForm* ip_tab, ItemPtr i_widgetItem, char const* ip_type,
                         bool i_folders);
    void OrderBy(SearchResultsForm* ip_tab, int i_column);
    void AddOrRemoveWish();
    // Forgets the wish-list searches of the text that no tab shows, but the one kept.
    void ForgetUnshownWishSearches(QString const& i_text, ItemPtr i_kept);
    // Wish-list actions.
    void RemoveSelectedWishes();
    void SetAllWishesChecked(bool i_checked);

    Ui_SearchForm* ui;
};
