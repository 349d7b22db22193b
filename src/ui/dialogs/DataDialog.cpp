#include "ui/dialogs/DataDialog.h"

#include "ui_DataDialog.h"

#include "store/ExtendedAsciiTranslator.h"

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

// The entry text of an item. Bytes below 0x80 without a zero are their own text, read
// without a second look; o_plain tells whether they were. Plain texts are in the byte
// order of their values.
QString ListText(Item const* ip_item, bool& o_plain)
{
    std::string const& l_bytes = ip_item->GetValue().GetBytes();
    o_plain = std::all_of(l_bytes.begin(), l_bytes.end(),
                          [](char i_byte)
                          { return i_byte != 0 && static_cast<unsigned char>(i_byte) < 0x80; });
    if (o_plain)
        return QString::fromLatin1(l_bytes.data(), qsizetype(l_bytes.size()));
    return ToQString(l_bytes);
}
} // namespace

DataDialog::DataDialog(Data* ip_data, QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui_DataDialog), mp_data(ip_data), mp_currentType(nullptr),
      m_isFlushScheduled(false), mp_lastStaleType(nullptr)
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
    int const l_row = ip_entry ? ui->itemList->row(ip_entry) : -1;
    if (l_row < 0 || std::size_t(l_row) >= m_listedItems.size())
        return ItemPtr();
    return ItemPtr(m_listedItems[std::size_t(l_row)]);
}

ItemPtr DataDialog::RowItem(QTreeWidgetItem* ip_row) const
{
    auto const l_item = m_rowItems.find(ip_row);
    return l_item == m_rowItems.end() ? ItemPtr() : ItemPtr(l_item->second);
}

void DataDialog::ClearList()
{
    m_listedItems.clear();
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
    bool l_allPlain = true;
    for (Item* lp_item : ip_type->KeyedItems())
    {
        bool l_plain = true;
        l_order.push_back(lp_item);
        l_texts.append(ListText(lp_item, l_plain));
        l_allPlain = l_allPlain && l_plain;
    }
    // Other texts follow byte order but for rare ones (characters beyond the basic plane,
    // undecodable bytes); only then are they sorted, with their items.
    if (!l_allPlain && !std::is_sorted(l_texts.cbegin(), l_texts.cend()))
    {
        std::vector<std::pair<QString, Item*>> l_entries;
        l_entries.reserve(l_order.size());
        for (std::size_t l_row = 0; l_row < l_order.size(); ++l_row)
            l_entries.emplace_back(l_texts[qsizetype(l_row)], l_order[l_row]);
        std::stable_sort(l_entries.begin(), l_entries.end(),
                         [](auto const& a, auto const& b) { return a.first < b.first; });
        for (std::size_t l_row = 0; l_row < l_entries.size(); ++l_row)
        {
            l_texts[qsizetype(l_row)] = l_entries[l_row].first;
            l_order[l_row] = l_entries[l_row].second;
        }
    }
    ui->itemList->addItems(l_texts);
    m_listedItems = std::move(l_order);
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

int DataDialog::ListedRow(Item* ip_item) const
{
    if (m_listedItems.empty())
        return -1;
    // The newest entries are the likeliest to go.
    if (m_listedItems.back() == ip_item)
        return int(m_listedItems.size()) - 1;
    QListWidget* const lp_list = ui->itemList;
    bool l_plain = true;
    QString const l_text = ListText(ip_item, l_plain);
    int l_low = 0;
    int l_high = lp_list->count();
    while (l_low < l_high)
    {
        int const l_middle = l_low + (l_high - l_low) / 2;
        if (lp_list->item(l_middle)->text() < l_text)
            l_low = l_middle + 1;
        else
            l_high = l_middle;
    }
    // Different values may read as the same text.
    for (int l_row = l_low; l_row < lp_list->count() && lp_list->item(l_row)->text() == l_text;
         ++l_row)
        if (m_listedItems[std::size_t(l_row)] == ip_item)
            return l_row;
    // Not yet listed; or listed under a text read with another code page than now, which
    // only a walk finds (no entry may outlive its item).
    if (std::find(m_pending.rbegin(), m_pending.rend(), ip_item) != m_pending.rend())
        return -1;
    auto const l_listed = std::find(m_listedItems.begin(), m_listedItems.end(), ip_item);
    return l_listed == m_listedItems.end() ? -1 : int(l_listed - m_listedItems.begin());
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
    {
        bool l_plain = true;
        l_texts.append(ListText(lp_item, l_plain));
    }
    QListWidget* const lp_list = ui->itemList;
    bool l_inOrder = lp_list->count() == 0 || !(l_texts.first() < lp_list->item(lp_list->count() - 1)->text());
    for (qsizetype l_index = 1; l_index < l_texts.size() && l_inOrder; ++l_index)
        l_inOrder = !(l_texts[l_index] < l_texts[l_index - 1]);
    if (l_inOrder)
    {
        // The usual case (counters, times): all of them after the listed ones, at once.
        lp_list->addItems(l_texts);
        m_listedItems.insert(m_listedItems.end(), l_items.begin(), l_items.end());
        return;
    }
    for (std::size_t l_index = 0; l_index < l_items.size(); ++l_index)
    {
        QString const& l_text = l_texts[qsizetype(l_index)];
        int const l_row = SortedRow(l_text);
        lp_list->insertItem(l_row, l_text);
        m_listedItems.insert(m_listedItems.begin() + l_row, l_items[l_index]);
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
    mp_lastStaleType = nullptr;
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
    if (lp_type != mp_lastStaleType)
    {
        if (!m_typeRowsByType.count(lp_type))
            return;
        m_staleCounts.insert(lp_type);
        mp_lastStaleType = lp_type;
    }
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
        int const l_row = ListedRow(i_item.GetPtr());
        if (l_row < 0)
        {
            if (!m_pending.empty())
                m_removedPending.insert(i_item.GetPtr());
        }
        else
        {
            delete ui->itemList->takeItem(l_row);
            m_listedItems.erase(m_listedItems.begin() + l_row);
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
