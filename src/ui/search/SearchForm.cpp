#include "ui/search/SearchForm.h"

#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "store/GeneralFunctions.h"
#include "ui/search/SearchResultsForm.h"
#include "ui_SearchForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/SizeManager.h"
#include "widgets/UIFunctions.h"

#include <QHeaderView>
#include <QIcon>

#include <iterator>

namespace
{
QString const c_resultsSet = QStringLiteral("search_results");
QString const c_wishListSet = QStringLiteral("wish_list");
QString const c_searchIcon = QStringLiteral(":/icons/search_icon");
QString const c_wishListIcon = QStringLiteral(":/icons/wishlist_icon");

// Result tree columns: widths of columns 0 to 5 (column 6 keeps the default).
int const c_columnWidths[] = {100, 40, 40, 150, 170, 70};

void DeclareTabTypes()
{
    Type* const lp_widget = d.NewType("search_results_widget", Primary, false, true);
    Type* const lp_alerted = d.NewType("search_results_widget_alerted", Tertiary, true, true);
    lp_widget->RelateToType(d["search_request"], One, Many);
    lp_widget->RelateToType(d["wish_list_item"], One, One);
    lp_widget->RelateToType(lp_alerted, Many, One);

    lp_widget->RelateToType(d.NewType("expand_folders", Tertiary, false, true), Many, One);
    lp_widget->RelateToType(d.NewType("expand_users", Tertiary, false, true), Many, One);

    Type* const lp_userNode = d.NewType("search_results_user_node", Secondary, false, true);
    Type* const lp_folderNode = d.NewType("search_results_folder_node", Secondary, false, true);
    Type* const lp_fileNode = d.NewType("search_result_node", Secondary, false, true);
    lp_widget->RelateToType(lp_userNode, One, Many, true);
    lp_userNode->RelateToType(d["user"], Many, One);
    lp_userNode->RelateToType(lp_folderNode, One, Many, true);
    lp_folderNode->RelateToType(d["search_result_file_folder"], Many, One);
    lp_fileNode->RelateToType(d["search_result"], One, One);
    lp_fileNode->RelateToType(lp_folderNode, Many, One);
}

void DeclareWishListTypes()
{
    Type* const lp_wish = d["wish_list_item"];
    Type* const lp_row = d.NewType("wish_list_node", Primary, false, true);
    Type* const lp_box = d.NewType("wish_list_node_checkbox", Primary, false, true);
    lp_wish->RelateToType(lp_row, One, One);
    lp_row->RelateToType(lp_box, One, One);
    Type* const lp_filter = d.NewType("wish_list_item_filter_text", Tertiary, false, true);
    dataSaver->AddSavedType("wish_list_item_filter_text");
    lp_wish->RelateToType(lp_filter, Many, One);
}
} // namespace

SearchForm::SearchForm(QWidget* ip_parent) : QWidget(ip_parent), ui(new Ui_SearchForm)
{
    ui->setupUi(this);
    connect(ui->searchEdit, &QLineEdit::returnPressed, this, &SearchForm::OnSearchEntered);
    connect(ui->searchButton, &QPushButton::clicked, this, &SearchForm::OnSearchEntered);
    ui->wishList->setHeaderLabels({QStringLiteral("Wish List Item")});
}

SearchForm::~SearchForm()
{
    RemoveDataHandlers();
    delete ui;
}

void SearchForm::Init()
{
    connect(gp_server, &Server::SearchRequested, this, &SearchForm::OnSearchRequest);
    connect(peerMessenger, &PeerMessenger::SearchResults, this, &SearchForm::OnUserSearchResults);

    DeclareTabTypes();
    d["wish_list_item"]->m_itemRemovedEvent.AddHandler(CreateHandler(this, &SearchForm::OnWishListItemRemoved));

    connect(ui->searchTabControl, &QTabWidget::tabCloseRequested, this, &SearchForm::OnTabCloseRequested);
    connect(ui->wishListTabControl, &QTabWidget::tabCloseRequested, this, &SearchForm::OnWishTabCloseRequested);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SearchForm::OnActionBarTriggered);

    actionBar->AddSetAction(c_resultsSet, "order_by_available", "Order by Available", c_searchIcon, false);
    actionBar->AddSetAction(c_resultsSet, "order_by_fastest", "Order by Fastest", c_searchIcon, false);
    actionBar->AddSetAction(c_resultsSet, "expand_folders", "Expand Folders", c_searchIcon, false);
    actionBar->AddSetAction(c_resultsSet, "expand_users", "Expand Users", c_searchIcon, false);
    actionBar->AddSetAction(c_resultsSet, "add_remove_wishlist", "Add to Wishlist", c_wishListIcon, false);

    QTreeWidget* const lp_wishList = ui->wishList;
    lp_wishList->setColumnCount(2);
    lp_wishList->setHeaderLabels({QString(), QStringLiteral("Wish List Search")});
    lp_wishList->setColumnWidth(0, 20);
    lp_wishList->header()->setSectionResizeMode(QHeaderView::Fixed);
    DeclareWishListTypes();

    actionBar->AddSetAction(c_wishListSet, "remove_wish_list_item", "Remove Wish List Search", c_wishListIcon, false);
    actionBar->AddSetAction(c_wishListSet, "enable_all_wish_list_items", "Enable All Wish List Searches",
                            c_wishListIcon, false);
    actionBar->AddSetAction(c_wishListSet, "disable_all_wish_list_items", "Disable All Wish List Searches",
                            c_wishListIcon, false);
    actionBar->RegisterWidget(lp_wishList, c_wishListSet);
    lp_wishList->setSortingEnabled(true);
    lp_wishList->sortByColumn(1, Qt::AscendingOrder);

    // A queued download keeps the text of the search that found it, and saves it.
    d["search_request_text"]->RelateToType(d["download_entry"], One, Many);
    dataSaver->AddSavedByConnectionType("search_request_text", "download_entry");
    dataSaver->AddDataLoadedEventHandler(this);

    RegisterWidgetForTabFocus(ui->searchEdit, 1);
    RegisterWidgetForTabFocus(lp_wishList, 1);

    d.NewType("saved_filter", Primary, false, true);
    dataSaver->AddSavedType("saved_filter");
}

void SearchForm::OnSearchEntered()
{
    RunSearch(ui->searchEdit->text());
}

void SearchForm::RunSearch(QString const& i_search)
{
    // The text goes as typed: what the server makes of an empty one is its own affair.
    gp_server->FileSearch(i_search, false);
    gp_server->GetSearchCorrelations(i_search);
    ui->searchEdit->clear();
}

void SearchForm::OnSearchRequest(uint i_ticket, QString i_search, bool i_wishListSearch)
{
    // A wish's tab waits for its first result.
    if (!i_wishListSearch)
        CreateSearchForm(i_ticket, i_search, false);
    else
        ForgetUnshownWishSearches(i_search, d["search_request"]->HasItem(Value(i_ticket)));
}

void SearchForm::CreateSearchForm(unsigned int i_ticket, QString i_search, bool i_wishListSearch)
{
    ItemPtr const l_request = d["search_request"]->HasItem(Value(i_ticket));
    ItemPtr l_wish;
    if (i_wishListSearch)
    {
        // A wish that is gone opens nothing, and is not brought back.
        l_wish = d["wish_list_item"]->HasItem(Value(i_search));
        if (!l_wish)
            return;
        if (ItemPtr const l_openTab = l_wish["search_results_widget"])
        {
            if (l_request)
                l_openTab += l_request;
            return;
        }
    }

    auto* const lp_tab = new SearchResultsForm(i_search, i_wishListSearch, this);
    QTreeWidget* const lp_tree = lp_tab->searchResults();
    lp_tree->setColumnCount(7);
    QHeaderView* const lp_header = lp_tree->header();
    lp_header->setStretchLastSection(false);
    for (int l_column = 0; l_column < int(std::size(c_columnWidths)); ++l_column)
        lp_tree->setColumnWidth(l_column, c_columnWidths[l_column]);
    lp_header->setSectionsMovable(false);
    lp_tree->setHeaderLabels({"User", "Free", "K/s", "Folder", "File", "Size", "Attributes"});
    lp_header->setSectionsClickable(false);
    lp_tree->expandAll();

    if (i_wishListSearch)
        ui->wishListTabControl->addTab(lp_tab, QIcon(c_wishListIcon), EscapeMnemonics(i_search));
    else
        ui->searchTabControl->addTab(lp_tab, QIcon(c_searchIcon), EscapeMnemonics(i_search));

    ItemPtr const l_widgetItem = d["search_results_widget"]->GetItem(Value(lp_tab));
    if (l_request)
        l_widgetItem += l_request;
    if (l_wish)
    {
        l_widgetItem += l_wish;
        if (ItemPtr const l_filter = l_wish["wish_list_item_filter_text"])
            lp_tab->filterEdit()->setText(l_filter.AsString());
    }

    connect(lp_tree, &QTreeWidget::itemDoubleClicked, this, &SearchForm::OnResultDoubleClicked);

    actionBar->RegisterWidget(lp_tab, c_resultsSet);
    if (i_wishListSearch)
        actionBar->SetWidgetActionText(lp_tab, "add_remove_wishlist", "Remove from Wish List");
    actionBar->SetWidgetActionText(lp_tab, "order_by_available", "Order by Available [on]");
    actionBar->SetWidgetActionText(lp_tab, "order_by_fastest", "Order by Fastest");
    actionBar->SetWidgetActionText(lp_tab, "expand_folders", "Expand Folders [on]");
    actionBar->SetWidgetActionText(lp_tab, "expand_users", "Expand Users [on]");

    l_widgetItem += d["expand_folders"]->GetItem(Value("yes"));
    l_widgetItem += d["expand_users"]->GetItem(Value("yes"));

    lp_tab->SetSortingParamters(1, Qt::DescendingOrder);

    // A wish tab opens in the background: the user may be busy elsewhere.
    if (!i_wishListSearch)
        FocusWidget(lp_tree);

    lp_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lp_tree, &QWidget::customContextMenuRequested, this, &SearchForm::OnSearchResultsContextMenuRequested);
    connect(lp_tab->filterEdit(), &QLineEdit::textChanged, this, &SearchForm::OnFilterTextChanged);
    sizeManager->RegisterTreeWidget(QStringLiteral("search_results"), lp_tree);
    lp_tab->Init();
    QTreeWidget* const lp_correlations = lp_tab->CorrelationsWidget();
    connect(lp_correlations, &QTreeWidget::itemClicked, this, &SearchForm::OnCorrelationClicked);
    connect(lp_correlations, &QTreeWidget::itemDoubleClicked, this, &SearchForm::OnCorrelationDoubleClicked);
}

void SearchForm::OnTabCloseRequested(int i_index)
{
    CloseTab(ui->searchTabControl, i_index);
}

void SearchForm::OnWishTabCloseRequested(int i_index)
{
    CloseTab(ui->wishListTabControl, i_index);
}

void SearchForm::CloseTab(QTabWidget* ip_tabs, int i_index)
{
    auto* const lp_tab = qobject_cast<SearchResultsForm*>(ip_tabs->widget(i_index));
    if (!lp_tab)
        return;
    ItemPtr const l_widgetItem = WidgetItemOf(lp_tab);
    if (!l_widgetItem)
        return;

    ItemSet const l_requests = l_widgetItem.GetItems("search_request");
    l_widgetItem.Remove();
    ip_tabs->removeTab(i_index);
    delete lp_tab;
    // Its searches are forgotten with it, so late replies to them are dropped. A wish
    // stays: its next result opens a new tab.
    for (ItemPtr const& l_request : l_requests)
    {
        l_request.GetItems("search_results").Remove();
        l_request.Remove();
    }
    d.RemoveDisconnectedItems();
}

SearchResultsForm* SearchForm::GetCurrentSearchResultsForm()
{
    if (ui->searchTabControl->isVisible())
        return qobject_cast<SearchResultsForm*>(ui->searchTabControl->currentWidget());
    if (ui->wishListTabControl->isVisible())
        return qobject_cast<SearchResultsForm*>(ui->wishListTabControl->currentWidget());
    return nullptr;
}

ItemPtr SearchForm::WidgetItemOf(SearchResultsForm* ip_tab)
{
    return ip_tab ? d["search_results_widget"]->HasItem(Value(ip_tab)) : ItemPtr();
}

SearchResultsForm* SearchForm::TabOf(ItemPtr i_widgetItem)
{
    return i_widgetItem.AsPtr<SearchResultsForm>();
}
