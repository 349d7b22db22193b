#include "ui/users/UserMenuOptions.h"

UserMenuOptions::UserMenuOptions(QMenu* ip_menu, QString i_user, QObject* ip_parent)
    : QObject(ip_parent)
{
    Q_UNUSED(ip_menu);
    Q_UNUSED(i_user);
}
