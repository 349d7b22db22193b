#include "ui/chat/QRoomListItemWidget.h"

#include "store/Data.h"

QRoomListItemWidget::QRoomListItemWidget(QTreeWidget* ip_tree) : QTreeWidgetItem(ip_tree)
{
}

QRoomListItemWidget::~QRoomListItemWidget() = default;

int QRoomListItemWidget::RoleRank(QString const& i_room)
{
    // Looked up without creating: sorting the list must not make rooms.
    // ::d, not the tree item's own private member of that name.
    ItemPtr const l_room = ::d["room"]->HasItem(Value(i_room));
    if (!l_room)
        return 3;
    if (l_room.IsConnected("is_owner"))
        return 0;
    if (l_room.IsConnected("is_operator"))
        return 1;
    if (l_room.IsConnected("is_member"))
        return 2;
    return 3;
}

bool QRoomListItemWidget::operator<(QTreeWidgetItem const& i_other) const
{
    QTreeWidget const* const lp_tree = treeWidget();
    int const l_column = lp_tree ? lp_tree->sortColumn() : 0;
    if (l_column != 0) {
        // A count that is not a 32-bit number (the empty cell of a room nobody is in
        // included) sorts as 0.
        return text(1).toInt() < i_other.text(1).toInt();
    }

    int const l_rank = RoleRank(text(0));
    int const l_otherRank = RoleRank(i_other.text(0));
    if (l_rank != l_otherRank)
        return l_rank < l_otherRank;
    return text(0).compare(i_other.text(0), Qt::CaseInsensitive) < 0;
}
