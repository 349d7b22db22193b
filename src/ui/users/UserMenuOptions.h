#pragma once

// The user entries of a context menu. Interim: adds no entries yet.

#include <QMenu>
#include <QObject>
#include <QString>

class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    UserMenuOptions(QMenu* ip_menu, QString i_user, QObject* ip_parent = nullptr);
};
