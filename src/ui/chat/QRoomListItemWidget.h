#pragma once

// A row of the main window's room list: column 0 the room name, column 1 the user count.
// Sorted by name, the rooms the user owns come first, then those the user operates, then
// those the user is a member of, then the rest, each group by name without regard to
// case; sorted by another column, rows compare by the number in column 1.
//
// A sort of thousands of rooms compares each row many times, so the row keeps its name
// and its room's group rather than reading them from the cell and the store each time.
// The group is read from the store at the first comparison after the name is set, and
// again when RefreshRoleRank() is called: whoever changes a room's roles calls it.

#include <QTreeWidget>
#include <QTreeWidgetItem>

class QRoomListItemWidget : public QTreeWidgetItem
{
public:
    explicit QRoomListItemWidget(QTreeWidget* ip_tree);
    ~QRoomListItemWidget() override;

    bool operator<(QTreeWidgetItem const& i_other) const override;
    void setData(int i_column, int i_role, QVariant const& i_value) override;

    // Reads the room's roles from the store again.
    void RefreshRoleRank();

    // 0 owner, 1 operator, 2 member, 3 none: the room's group in the name order.
    static int RoleRank(QString const& i_room);

private:
    int Rank() const;

    QString m_name;
    mutable int m_rank;
};
