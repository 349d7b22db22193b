#pragma once

// A row of the user list: online users first, then by name ignoring letter case,
// whichever column is being sorted.

#include <QTreeWidgetItem>

class UserListItemWidget : public QTreeWidgetItem
{
public:
    explicit UserListItemWidget(QTreeWidget* ip_tree);

    bool operator<(QTreeWidgetItem const& i_other) const override;
};
