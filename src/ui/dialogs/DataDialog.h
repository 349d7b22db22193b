#pragma once

// A developer's window onto the live item store: every type with its item count, the
// items of the chosen type (sorted), and the clicked item as a tree of its connections
// that loads one level per expansion. It follows items added and removed while open:
// removals at once, additions and counts in one batch when control is back in the event
// loop (a program may add thousands of items in one go). Connections made or undone
// later show when the tree is built again. Deletes itself when closed.
//
// Rows stand for items through the dialog's own tables, never through the store, so the
// store holds nothing of the dialog's.

#include "store/Data.h"

#include <QDialog>

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QListWidgetItem;
class QTreeWidgetItem;
class Ui_DataDialog;

class DataDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    DataDialog(Data* ip_data, QWidget* ip_parent = nullptr);
    ~DataDialog() override;

    // Adds the item's connected items as children of the row, except those of the types
    // in the set; a child whose item has any connection gets a placeholder child.
    void AddItemSubnodes(ItemPtr i_item, QTreeWidgetItem* ip_row, std::set<Type*> i_excluded);

    // Store handlers.
    void OnItemAdded(ItemPtr i_item);
    void OnItemRemoved(ItemPtr i_item);

    Ui_DataDialog* Form() const { return ui; }
    QTreeWidgetItem* TypeRow(std::string const& i_name) const;
    ItemPtr CurrentItem() const { return m_currentItem; }
    // The item a list entry or a tree row shows; null for none (or a placeholder).
    ItemPtr EntryItem(QListWidgetItem* ip_entry) const;
    ItemPtr RowItem(QTreeWidgetItem* ip_row) const;
    // Number of tree rows the dialog keeps as showing items.
    std::size_t RecordedRowCount() const { return m_rowItems.size(); }

    static QString PlaceholderText();

public slots:
    // Shows the additions and counts waiting since the last pass of the event loop.
    void FlushChanges();
    void OnTypeItemSelectionChanged();
    void OnItemClicked(QListWidgetItem* ip_entry);
    void OnDataSubItemExpanded(QTreeWidgetItem* ip_row);

private:
    void ClearList();
    void ClearTree();
    void FillList(Type* ip_type);
    // Where a text belongs in the ascending list.
    int SortedRow(QString const& i_text) const;
    // The row listing the item, or -1.
    int ListedRow(Item* ip_item) const;
    void UpdateCount(Type* ip_type);
    void ScheduleFlush();
    void AddPendingEntries();
    void RecordRow(QTreeWidgetItem* ip_row, Item* ip_item);
    void ForgetSubtree(QTreeWidgetItem* ip_row);

    Ui_DataDialog* ui;
    Data* mp_data;
    std::map<std::string, QTreeWidgetItem*> m_typeRows;
    std::map<QTreeWidgetItem*, std::string> m_rowTypes;
    std::unordered_map<Type*, QTreeWidgetItem*> m_typeRowsByType;
    Type* mp_currentType;
    ItemPtr m_currentItem;
    // The item of each list row, row for row. A large type lists a million items: a
    // table keyed by item would cost each of them a node. A removed item's row is found
    // by its text, since the list is in text order.
    std::vector<Item*> m_listedItems;
    std::unordered_map<Item*, std::set<QTreeWidgetItem*>> m_itemRows;
    std::unordered_map<QTreeWidgetItem*, Item*> m_rowItems;
    // Items of the listed type added since the last flush, in order, and those of them
    // removed since (rare: kept apart so that an addition costs no lookup).
    std::vector<Item*> m_pending;
    std::unordered_set<Item*> m_removedPending;
    std::unordered_set<Type*> m_staleCounts;
    // The type of the last addition already counted as stale: additions come in runs of
    // one type, which then need no lookups.
    bool m_isFlushScheduled;
    Type* mp_lastStaleType;
};
