#pragma once

// A row of the main window's room list: column 0 the room name, column 1 the user count.
// Sorted by name, the rooms the user owns come first, then those the user operates, then
// those the user is a member of, then the rest, each group by name without regard to
// case; sorted by another column, rows compare by the number in column 1. The roles are
// read from the store at every comparison.

#include <QTreeWidget>
#include <QTreeWidgetItem>

class QRoomListItemWidget : public QTreeWidgetItem
{
public:
    explicit QRoomListItemWidget(QTreeWidget* ip_tree);
    ~QRoomListItemWidget() override;

    bool operator<(QTreeWidgetItem const& i_other) const override;

    // 0 owner, 1 operator, 2 member, 3 none: the room's group in the name order.
    static int RoleRank(QString const& i_room);
};
