#include "ui/search/SearchForm.h"

#include "ui/search/SearchResultsForm.h"
#include "ui_SearchForm.h"
#include "widgets/SizeManager.h"

#include <QCheckBox>

#include <vector>

namespace
{
int const c_wishListWidth = 200;

ItemPtr EnabledFlag()
{
    return d["wish_list_item_enabled"]->GetGlobalNullItem();
}
} // namespace

void SearchForm::DataLoaded()
{
    for (ItemPtr const& l_wish : d["wish_list_item"]->GetItems())
        OnWishListItemAdded(l_wish);
    QList<int> const l_sizes = {width() - c_wishListWidth, c_wishListWidth};
    ui->searchSplitter->setSizes(l_sizes);
    sizeManager->RegisterSplitter(QStringLiteral("wish_list_splitter"), ui->searchSplitter, l_sizes);
}

void SearchForm::OnWishListItemAdded(ItemPtr i_wish)
{
    if (!i_wish || i_wish["wish_list_node"])
        return;
    // The row is complete before it joins the sorted list, so it sorts once.
    auto* const lp_row = new QTreeWidgetItem;
    lp_row->setText(1, i_wish.AsString());
    lp_row->setTextAlignment(0, Qt::AlignHCenter);
    ui->wishList->addTopLevelItem(lp_row);

    auto* const lp_box = new QCheckBox;
    ui->wishList->setItemWidget(lp_row, 0, lp_box);
    if (i_wish.IsConnected("wish_list_item_enabled"))
    {
        lp_row->setText(0, QStringLiteral("Y"));
        lp_box->setChecked(true);
    }

    ItemPtr const l_rowNode = d["wish_list_node"]->GetItem(Value(lp_row));
    l_rowNode += i_wish;
    d["wish_list_node_checkbox"]->GetItem(Value(lp_box)) += l_rowNode;
    // Connected only now: setting the box above is no change of the user's.
    connect(lp_box, &QCheckBox::stateChanged, this, &SearchForm::OnWishListItemCheckStateChanged);
}

void SearchForm::OnWishListItemCheckStateChanged(int i_state)
{
    auto* const lp_box = qobject_cast<QCheckBox*>(sender());
    if (!lp_box)
        return;
    ItemPtr const l_rowNode = d["wish_list_node_checkbox"]->HasItem(Value(lp_box))["wish_list_node"];
    ItemPtr const l_wish = l_rowNode["wish_list_item"];
    auto* const lp_row = l_rowNode.AsPtr<QTreeWidgetItem>();
    if (!l_wish || !lp_row)
        return;
    if (i_state == Qt::Checked)
    {
        l_wish += EnabledFlag();
        lp_row->setText(0, QStringLiteral("Y"));
    }
    else if (i_state == Qt::Unchecked)
    {
        l_wish -= EnabledFlag();
        lp_row->setText(0, QString());
    }
}

void SearchForm::OnWishListItemRemoved(ItemPtr i_wish)
{
    ForgetUnshownWishSearches(i_wish.AsString(), ItemPtr());
    ItemPtr const l_rowNode = i_wish["wish_list_node"];
    if (!l_rowNode)
        return;
    ItemPtr const l_boxNode = l_rowNode["wish_list_node_checkbox"];
    delete l_rowNode.AsPtr<QTreeWidgetItem>();
    if (l_boxNode)
        l_boxNode.Remove();
    l_rowNode.Remove();
}

void SearchForm::ForgetUnshownWishSearches(QString const& i_text, ItemPtr i_kept)
{
    // The searcher repeats a wish for as long as the client runs, and a repetition that
    // brings nothing joins no tab: kept, each would stay for good. Replies come soon after
    // a search, so one is kept only until the wish is sent again or goes.
    std::vector<ItemPtr> l_unshown;
    for (ItemPtr const& l_request :
         d["search_request_text"]->HasItem(Value(i_text)).GetItems("search_request"))
        if (l_request != i_kept && l_request.IsConnected("wishlist_search") &&
            !l_request.IsConnected("search_results_widget"))
            l_unshown.push_back(l_request);
    for (ItemPtr const& l_request : l_unshown)
    {
        l_request.GetItems("search_results").Remove();
        l_request.Remove();
    }
}

void SearchForm::AddOrRemoveWish()
{
    ItemPtr const l_widgetItem = WidgetItemOf(GetCurrentSearchResultsForm());
    ItemPtr const l_request = ItemPtr(l_widgetItem.GetItems("search_request"));
    std::string const l_text = l_request["search_request_text"].AsStdString();
    if (!l_request || l_text.empty())
        return;
    Type* const lp_wishes = d["wish_list_item"];
    if (!l_request.IsConnected("wishlist_search"))
    {
        if (lp_wishes->HasItem(Value(l_text)))
            return;
        ItemPtr const l_wish = lp_wishes->NewItem(Value(l_text));
        l_wish += EnabledFlag();
        OnWishListItemAdded(l_wish);
    }
    else if (ItemPtr const l_wish = lp_wishes->HasItem(Value(l_text)))
        l_wish.Remove();
}

void SearchForm::RemoveSelectedWishes()
{
    for (QTreeWidgetItem* const lp_row : ui->wishList->selectedItems())
        if (ItemPtr const l_wish = d["wish_list_node"]->HasItem(Value(lp_row))["wish_list_item"])
            l_wish.Remove();
}

void SearchForm::SetAllWishesChecked(bool i_checked)
{
    for (ItemPtr const& l_wish : d["wish_list_item"]->GetItems())
        if (auto* const lp_box = l_wish["wish_list_node"]["wish_list_node_checkbox"].AsPtr<QCheckBox>())
            lp_box->setChecked(i_checked);
}
