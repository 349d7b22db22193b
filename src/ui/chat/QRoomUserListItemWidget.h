#pragma once

// A row of a room tab's member list. Columns: 0 empty, 1 the country flag, 2 the user
// name, 3 the note icon, 4 the shared files with thousands separators, 5 the speed in
// K/s. Sorted by name, rows compare by name without regard to case; by files or speed,
// by the number shown (separators ignored, an empty cell as 0); by any other column, by
// the cell's text.
//
// A join of thousands of members sorts them all: the row keeps its user name, and for a
// name of plain ASCII the name in lower case, so that comparisons read no cell and
// seldom fold case.

#include <QTreeWidget>
#include <QTreeWidgetItem>

class QRoomUserListItemWidget : public QTreeWidgetItem
{
public:
    // The row is added to the list; null makes a row not yet in any list.
    explicit QRoomUserListItemWidget(QTreeWidget* ip_tree);
    ~QRoomUserListItemWidget() override;

    bool operator<(QTreeWidgetItem const& i_other) const override;
    void setData(int i_column, int i_role, QVariant const& i_value) override;

    enum Column
    {
        ColumnFlag = 1,
        ColumnUser = 2,
        ColumnNote = 3,
        ColumnFiles = 4,
        ColumnSpeed = 5
    };

private:
    QString m_user;
    // Empty unless the name is plain ASCII.
    QString m_lowerAsciiUser;
};
