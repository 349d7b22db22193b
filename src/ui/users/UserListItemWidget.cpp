#include "ui/users/UserListItemWidget.h"

#include "store/Data.h"

UserListItemWidget::UserListItemWidget(QTreeWidget* ip_tree) : QTreeWidgetItem(ip_tree)
{
}

bool UserListItemWidget::operator<(QTreeWidgetItem const& i_other) const
{
    ::Type* const lp_users = ::d["user"];
    bool const l_online = lp_users->HasItem(Value(text(0))).IsConnected("is_online");
    bool const l_otherOnline = lp_users->HasItem(Value(i_other.text(0))).IsConnected("is_online");
    if (l_online != l_otherOnline)
        return l_online;
    return QString::compare(text(0), i_other.text(0), Qt::CaseInsensitive) < 0;
}
