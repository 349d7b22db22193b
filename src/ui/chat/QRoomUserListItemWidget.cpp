#include "ui/chat/QRoomUserListItemWidget.h"

#include <algorithm>

namespace
{
// The number a files or speed cell shows; "1,234" is 1234, empty text 0.
double CellNumber(QString i_text)
{
    return i_text.remove(u',').toDouble();
}
} // namespace

QRoomUserListItemWidget::QRoomUserListItemWidget(QTreeWidget* ip_tree) : QTreeWidgetItem(ip_tree)
{
}

QRoomUserListItemWidget::~QRoomUserListItemWidget() = default;

void QRoomUserListItemWidget::setData(int i_column, int i_role, QVariant const& i_value)
{
    // Kept first: the base class may place the row, which compares it.
    if (i_column == ColumnUser && (i_role == Qt::DisplayRole || i_role == Qt::EditRole))
    {
        m_user = i_value.toString();
        bool const l_ascii = std::all_of(m_user.cbegin(), m_user.cend(),
                                         [](QChar i_char) { return i_char.unicode() < 0x80; });
        m_lowerAsciiUser = l_ascii ? m_user.toLower() : QString();
    }
    QTreeWidgetItem::setData(i_column, i_role, i_value);
}

bool QRoomUserListItemWidget::operator<(QTreeWidgetItem const& i_other) const
{
    QTreeWidget const* const lp_tree = treeWidget();
    int const l_column = lp_tree ? lp_tree->sortColumn() : ColumnUser;
    switch (l_column) {
    case ColumnUser:
        if (auto const* const lp_other = dynamic_cast<QRoomUserListItemWidget const*>(&i_other))
        {
            // Folding ignores case in ASCII by mapping A-Z to a-z: the lower-case names
            // compare as the names do without regard to case.
            if (!m_lowerAsciiUser.isEmpty() && !lp_other->m_lowerAsciiUser.isEmpty())
                return m_lowerAsciiUser < lp_other->m_lowerAsciiUser;
            return m_user.compare(lp_other->m_user, Qt::CaseInsensitive) < 0;
        }
        return m_user.compare(i_other.text(ColumnUser), Qt::CaseInsensitive) < 0;
    case ColumnFiles:
    case ColumnSpeed:
        return CellNumber(text(l_column)) < CellNumber(i_other.text(l_column));
    default:
        return text(l_column) < i_other.text(l_column);
    }
}
