#pragma once

// A row of the finished-downloads list. Rows order by the completion time of the record
// each one shows (found through its `complete_download_node`), whatever the column.
// A row whose record is gone, or whose time does not read, sorts as earlier than every
// row with a readable time.

#include <QTreeWidgetItem>

class CompleteDownloadItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(QTreeWidgetItem const& i_other) const override;
};
