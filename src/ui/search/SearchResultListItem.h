#pragma once

// A row of a search result tree (user, folder or file), ordered for the "Free" and
// "K/s" columns. The tabs always sort in descending order, which puts users with a free
// slot first, then shorter queues, then faster users; rows still equal, and all folder
// and file rows, follow their file name (column 4) in ascending order.

#include <QTreeWidgetItem>

class SearchResultListItem : public QTreeWidgetItem
{
public:
    explicit SearchResultListItem(QTreeWidget* ip_tree);
    explicit SearchResultListItem(QTreeWidgetItem* ip_parent);
    ~SearchResultListItem() override;

    // Reads the tree's sort column: 1 orders by free slot ("Y") or queue length, then
    // speed; 2 by speed; anything else, and every tie, by column 4 reversed.
    bool operator<(QTreeWidgetItem const& i_other) const override;

private:
    // Column 4 of the other row before this row's: ascending on screen once the
    // descending sort reverses it.
    bool FallbackLess(QTreeWidgetItem const& i_other) const;
};
