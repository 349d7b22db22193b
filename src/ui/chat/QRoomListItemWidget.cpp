#include "ui/chat/QRoomListItemWidget.h"

#include "store/Data.h"

namespace
{
constexpr int c_unknownRank = -1;
} // namespace

QRoomListItemWidget::QRoomListItemWidget(QTreeWidget* ip_tree)
    : QTreeWidgetItem(ip_tree), m_rank(c_unknownRank)
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

void QRoomListItemWidget::setData(int i_column, int i_role, QVariant const& i_value)
{
    // Set first: the base class may place the row, which compares it.
    if (i_column == 0 && (i_role == Qt::DisplayRole || i_role == Qt::EditRole))
    {
        m_name = i_value.toString();
        m_rank = c_unknownRank;
    }
    QTreeWidgetItem::setData(i_column, i_role, i_value);
}

void QRoomListItemWidget::RefreshRoleRank()
{
    m_rank = RoleRank(m_name);
}

int QRoomListItemWidget::Rank() const
{
    if (m_rank == c_unknownRank)
        m_rank = RoleRank(m_name);
    return m_rank;
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

    auto const* const lp_other = dynamic_cast<QRoomListItemWidget const*>(&i_other);
    if (!lp_other)
    {
        // Not a room row: its name and group are read as they stand.
        QString const l_otherName = i_other.text(0);
        int const l_otherRank = RoleRank(l_otherName);
        if (Rank() != l_otherRank)
            return Rank() < l_otherRank;
        return m_name.compare(l_otherName, Qt::CaseInsensitive) < 0;
    }
    if (Rank() != lp_other->Rank())
        return Rank() < lp_other->Rank();
    return m_name.compare(lp_other->m_name, Qt::CaseInsensitive) < 0;
}
