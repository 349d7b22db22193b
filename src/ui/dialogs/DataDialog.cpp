#include "ui/dialogs/DataDialog.h"

#include "ui_DataDialog.h"

#include <QHeaderView>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace
{
constexpr int c_typeListWidth = 300;

QString ConnectedItemText(ItemPtr i_item)
{
    QString const l_type = QString::fromStdString(i_item.GetType()->Name());
    if (i_item.GetType()->IsNull())
        return QLatin1Char('[') + l_type + QLatin1String(", null]");
    return QLatin1Char('[') + l_type + QLatin1String("] ") + i_item.AsString();
}
} // namespace

DataDialog::DataDialog(Data* ip_data, QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui_DataDialog), mp_data(ip_data), mp_currentType(nullptr),
      m_isFlushScheduled(false)
{
    ui->setupUi(this);
    ui->typeSplitter->setSizes({c_typeListWidth, width() - c_typeListWidth});
    ui->typeSplitter->setStretchFactor(0, 0);
    ui->typeSplitter->setStretchFactor(1, 1);

    QTreeWidget* const lp_types = ui->typeList;
    lp_types->setColumnCount(3);
    lp_types->setHeaderLabels({QStringLiteral("Type"), QString(), QStringLiteral("#")});
    lp_types->header()->setStretchLastSection(false);
    for (int l_column = 0; l_column < 3; ++l_column)
        lp_types->header()->setSectionResizeMode(l_column, QHeaderView::ResizeToContents);

    for (auto const& [l_name, lp_type] : mp_data->Types())
    {
        QTreeWidgetItem* const lp_row = new QTreeWidgetItem(lp_types);
        lp_row->setText(0, QString::fromStdString(l_name));
        lp_row->setText(1, lp_type->IsNull() ? QStringLiteral("null   ")
                                             : QStringLiteral("value   "));
        lp_row->setText(2, QString::number(lp_type->GetItemCount()));
        m_typeRows[l_name] = lp_row;
        m_rowTypes[lp_row] = l_name;
        m_typeRowsByType[lp_type] = lp_row;
    }
    lp_types->sortItems(0, Qt::AscendingOrder);
    // The list keeps its entries in ascending text order itself (SortedRow): the list's
    // own sorting would compare through variants on every insertion.

    setAttribute(Qt::WA_DeleteOnClose);
    mp_data->m_itemAddedEvent.AddHandler(CreateHandler(this, &DataDialog::OnItemAdded));
    mp_data->m_itemRemovedEvent.AddHandler(CreateHandler(this, &DataDialog::OnItemRemoved));

    connect(lp_types, &QTreeWidget::itemSelectionChanged, this,
            &DataDialog::OnTypeItemSelectionChanged);
    connect(ui->itemList, &QListWidget::itemClicked, this, &DataDialog::OnItemClicked);
    connect(ui->itemDataTree, &QTreeWidget::itemExpanded, this, &DataDialog::OnDataSubItemExpanded);
}

DataDialog::~DataDialog()
{
    RemoveDataHandlers();
    delete ui;
}

QString DataDialog::PlaceholderText()
{
    return QStringLiteral("~~unloaded~~");
}

QTreeWidgetItem* DataDialog::TypeRow(std::string const& i_name) const
{
    auto const l_row = m_typeRows.find(i_name);
    return l_row == m_typeRows.end() ? nullptr : l_row->second;
}

ItemPtr DataDialog::EntryItem(QListWidgetItem* ip_entry) const
{
    for (auto const& [lp_item, lp_entry] : m_entries)
        if (lp_entry == ip_entry)
            return ItemPtr(lp_item);
    return ItemPtr();
}

ItemPtr DataDialog::RowItem(QTreeWidgetItem* ip_row) const
{
    auto const l_item = m_rowItems.find(ip_row);
    return l_item == m_rowItems.end() ? ItemPtr() : ItemPtr(l_item->second);
}

void DataDialog::ClearList()
{
    m_entries.clear();
    ui->itemList->clear();
}

void DataDialog::ClearTree()
{
    m_itemRows.clear();
    m_rowItems.clear();
    ui->itemDataTree->clear();
}

void DataDialog::OnTypeItemSelectionChanged()
{
    QList<QTreeWidgetItem*> const l_selected = ui->typeList->selectedItems();
    if (l_selected.isEmpty())
        return;
    mp_currentType = nullptr;
    m_currentItem = ItemPtr();
    m_pending.clear();
    m_removedPending.clear();
    ClearList();
    ClearTree();
    Type* const lp_type = mp_data->GetType(m_rowTypes.at(l_selected.first()));
    // Items of a null type have no values to list.
    if (lp_type->IsNull())
        return;
    mp_currentType = lp_type;
    FillList(lp_type);
}

void DataDialog::FillList(Type* ip_type)
{
    // One insertion of all entries: one by one, a large type would cost a search and a
    // view update per item.
    if (ip_type->GetItemCount() == 0)
        return;
    std::vector<Item*> l_order;
    l_order.reserve(ip_type->GetItemCount());
    QStringList l_texts;
    l_texts.reserve(qsizetype(ip_type->GetItemCount()));
    // Values are in byte order; for ASCII values that is the texts' order too.
    bool l_allAscii = true;
    for (Item* lp_item : ip_type->KeyedItems())
    {
        l_order.push_back(lp_item);
        l_texts.append(ItemPtr(lp_item).AsString());
        for (char const l_byte : lp_item->GetValue().GetBytes())
            l_allAscii = l_allAscii && static_cast<unsigned char>(l_byte) < 0x80;
    }

    QListWidget* const lp_list = ui->itemList;
    lp_list->addItems(l_texts);
    m_entries.reserve(l_order.size());
    for (std::size_t l_row = 0; l_row < l_order.size(); ++l_row)
    {
        QListWidgetItem* const lp_entry = lp_list->item(int(l_row));
        m_entries.emplace(l_order[l_row], lp_entry);
    }
    // Other texts follow byte order but for rare ones (characters beyond the basic plane,
    // undecodable bytes); only then are they sorted.
    for (qsizetype l_row = 1; !l_allAscii && l_row < l_texts.size(); ++l_row)
        if (l_texts[l_row] < l_texts[l_row - 1])
        {
            lp_list->sortItems(Qt::AscendingOrder);
            break;
        }
}

int DataDialog::SortedRow(QString const& i_text) const
{
    // New items mostly come after the others (counters, times): one comparison then.
    QListWidget* const lp_list = ui->itemList;
    int l_high = lp_list->count();
    if (l_high == 0 || !(i_text < lp_list->item(l_high - 1)->text()))
        return l_high;
    int l_low = 0;
    while (l_low < l_high)
    {
        int const l_middle = l_low + (l_high - l_low) / 2;
        if (i_text < lp_list->item(l_middle)->text())
            l_high = l_middle;
        else
            l_low = l_middle + 1;
    }
    return l_low;
}

void DataDialog::AddPendingEntries()
{
    std::vector<Item*> l_items;
    l_items.swap(m_pending);
    if (!m_removedPending.empty())
    {
        std::erase_if(l_items, [this](Item* ip_item) { return m_removedPending.count(ip_item) != 0; });
        m_removedPending.clear();
    }
    if (l_items.empty())
        return;

    QStringList l_texts;
    l_texts.reserve(qsizetype(l_items.size()));
    for (Item* lp_item : l_items)
        l_texts.append(ItemPtr(lp_item).AsString());
    QListWidget* const lp_list = ui->itemList;
    bool l_inOrder = lp_list->count() == 0 || !(l_texts.first() < lp_list->item(lp_list->count() - 1)->text());
    for (qsizetype l_index = 1; l_index < l_texts.size() && l_inOrder; ++l_index)
        l_inOrder = !(l_texts[l_index] < l_texts[l_index - 1]);
    m_entries.reserve(m_entries.size() + l_items.size());
    if (l_inOrder)
    {
        // The usual case (counters, times): all of them after the listed ones, at once.
        int const l_first = lp_list->count();
        lp_list->addItems(l_texts);
        for (std::size_t l_index = 0; l_index < l_items.size(); ++l_index)
        {
            QListWidgetItem* const lp_entry = lp_list->item(l_first + int(l_index));
            m_entries.emplace(l_items[l_index], lp_entry);
        }
        return;
    }
    for (std::size_t l_index = 0; l_index < l_items.size(); ++l_index)
    {
        QListWidgetItem* const lp_entry = new QListWidgetItem(l_texts[qsizetype(l_index)]);
        lp_list->insertItem(SortedRow(l_texts[qsizetype(l_index)]), lp_entry);
        m_entries.emplace(l_items[l_index], lp_entry);
    }
}

void DataDialog::ScheduleFlush()
{
    if (m_isFlushScheduled)
        return;
    m_isFlushScheduled = true;
    QMetaObject::invokeMethod(this, &DataDialog::FlushChanges, Qt::QueuedConnection);
}

void DataDialog::FlushChanges()
{
    m_isFlushScheduled = false;
    for (Type* lp_type : m_staleCounts)
        UpdateCount(lp_type);
    m_staleCounts.clear();
    AddPendingEntries();
}

void DataDialog::OnItemClicked(QListWidgetItem* ip_entry)
{
    ClearTree();
    ItemPtr const l_item = EntryItem(ip_entry);
    m_currentItem = l_item;
    if (!l_item)
        return;
    QTreeWidgetItem* const lp_top = new QTreeWidgetItem(ui->itemDataTree);
    lp_top->setText(0, l_item.AsString());
    RecordRow(lp_top, l_item.GetPtr());
    AddItemSubnodes(l_item, lp_top, {l_item.GetType()});
}

void DataDialog::RecordRow(QTreeWidgetItem* ip_row, Item* ip_item)
{
    m_rowItems[ip_row] = ip_item;
    m_itemRows[ip_item].insert(ip_row);
}

void DataDialog::AddItemSubnodes(ItemPtr i_item, QTreeWidgetItem* ip_row,
                                 std::set<Type*> i_excluded)
{
    for (auto const& [lp_type, l_items] : i_item.Connections())
    {
        if (i_excluded.count(lp_type))
            continue;
        for (ItemPtr const& l_connected : l_items)
        {
            QTreeWidgetItem* const lp_child = new QTreeWidgetItem(ip_row);
            lp_child->setText(0, ConnectedItemText(l_connected));
            // The placeholder makes the row expandable; its children load on expansion.
            if (!l_connected.IsDisconnectedFromAll())
                (new QTreeWidgetItem(lp_child))->setText(0, PlaceholderText());
            RecordRow(lp_child, l_connected.GetPtr());
        }
        ip_row->setExpanded(true);
    }
}

void DataDialog::OnDataSubItemExpanded(QTreeWidgetItem* ip_row)
{
    if (ip_row->childCount() != 1 || m_rowItems.count(ip_row->child(0)))
        return;
    ItemPtr const l_item = RowItem(ip_row);
    if (!l_item)
        return;
    delete ip_row->child(0);
    AddItemSubnodes(l_item, ip_row, {l_item.GetType()});
    ui->itemDataTree->setCurrentItem(ip_row);
}

void DataDialog::UpdateCount(Type* ip_type)
{
    auto const l_row = m_typeRowsByType.find(ip_type);
    if (l_row != m_typeRowsByType.end())
        l_row->second->setText(2, QString::number(ip_type->GetItemCount()));
}

void DataDialog::OnItemAdded(ItemPtr i_item)
{
    Type* const lp_type = i_item.GetType();
    if (!m_typeRowsByType.count(lp_type))
        return;
    m_staleCounts.insert(lp_type);
    if (lp_type == mp_currentType)
    {
        // A removed pending item whose address a new item now has: the old one is
        // dropped from the batch, the new one joins it.
        if (!m_removedPending.empty() && m_removedPending.erase(i_item.GetPtr()))
            std::erase(m_pending, i_item.GetPtr());
        m_pending.push_back(i_item.GetPtr());
    }
    ScheduleFlush();
}

void DataDialog::ForgetSubtree(QTreeWidgetItem* ip_row)
{
    auto const l_row = m_rowItems.find(ip_row);
    if (l_row != m_rowItems.end())
    {
        auto const l_rows = m_itemRows.find(l_row->second);
        if (l_rows != m_itemRows.end())
        {
            l_rows->second.erase(ip_row);
            if (l_rows->second.empty())
                m_itemRows.erase(l_rows);
        }
        m_rowItems.erase(l_row);
    }
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        ForgetSubtree(ip_row->child(l_child));
}

void DataDialog::OnItemRemoved(ItemPtr i_item)
{
    Type* const lp_type = i_item.GetType();
    if (m_typeRowsByType.count(lp_type))
    {
        m_staleCounts.insert(lp_type);
        ScheduleFlush();
    }
    // Entries go at once: the bookkeeping must not outlive the item.
    if (lp_type == mp_currentType)
    {
        auto const l_entry = m_entries.find(i_item.GetPtr());
        if (l_entry == m_entries.end())
        {
            if (!m_pending.empty())
                m_removedPending.insert(i_item.GetPtr());
        }
        else
        {
            // Deleting the entry would look it up from the front of the list; its row,
            // found from the back first, costs little for the newest entries.
            QListWidget* const lp_list = ui->itemList;
            delete lp_list->takeItem(lp_list->row(l_entry->second));
            m_entries.erase(l_entry);
        }
    }
    if (i_item == m_currentItem)
    {
        m_currentItem = ItemPtr();
        ClearTree();
        return;
    }
    auto const l_rows = m_itemRows.find(i_item.GetPtr());
    if (l_rows == m_itemRows.end())
        return;
    std::set<QTreeWidgetItem*> const l_shown = l_rows->second;
    // A row inside another row of the same item goes with that one; deleting it first
    // would leave its outer row's subtree pointing at freed rows.
    std::vector<QTreeWidgetItem*> l_outermost;
    for (QTreeWidgetItem* lp_row : l_shown)
    {
        bool l_nested = false;
        for (QTreeWidgetItem* lp_up = lp_row->parent(); lp_up && !l_nested; lp_up = lp_up->parent())
            l_nested = l_shown.count(lp_up) != 0;
        if (!l_nested)
            l_outermost.push_back(lp_row);
    }
    for (QTreeWidgetItem* lp_row : l_outermost)
    {
        ForgetSubtree(lp_row);
        delete lp_row;
    }
}
