#pragma once

// The "Users" page of the main window: the user list (online users first, with their
// groups and notes), the users the own shares are withheld from and the ignored users.
// It holds no user state: rows follow the `in_user_list`, `unshared` and `is_ignored`
// connections of the `user` items through store events.

#include "store/Data.h"

#include <QTabWidget>
#include <QTreeWidget>
#include <QWidget>

class UserListForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit UserListForm(QWidget* ip_parent = nullptr);
    ~UserListForm() override;

    // Declares the row node types, fills the lists and follows the store from then on.
    // Called once by start-up after the store file is loaded.
    void Init();
    // Rewrites the Groups cell of the user's row.
    void UpdateUserGroupsDisplay(QString i_user);

    QTabWidget* tabWidget;
    QTreeWidget* userList;
    QTreeWidget* unsharedList;
    QTreeWidget* ignoredList;

public slots:
    void OnUserListContextMenuRequested(QPoint i_point);
    void OnUnsharedListContextMenuRequested(QPoint i_point);
    void OnIgnoredListContextMenuRequested(QPoint i_point);
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);

private:
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);
    void OnUserAddedToList(ItemPtr i_user);
    void OnUserRemovedFromList(ItemPtr i_user);
    void OnUserUnshared(ItemPtr i_user);
    void OnUserReshared(ItemPtr i_user);
    void OnUserIgnored(ItemPtr i_user);
    void OnUserUnignored(ItemPtr i_user);
    void OnUserNoteChanged(ItemPtr i_user);
    void OnUserNoteRemoved(ItemPtr i_user);
    void OnUserGroupAdded(ItemPtr i_user);
    void OnUserGroupRemoved(ItemPtr i_user);

    // A plain row of the Unshared or Ignored list tied to the user by the node type.
    void AddPlainRow(QTreeWidget* ip_tree, char const* ip_nodeType, ItemPtr i_user);
    // Deletes the user's row of that kind and its node, when there is one.
    void RemoveRow(char const* ip_nodeType, ItemPtr i_user);
    static QTreeWidgetItem* RowOf(ItemPtr i_user, char const* ip_nodeType);
    void SortUserList();
    void ShowMenu(QTreeWidget* ip_tree, QPoint i_point);
    void AddPathHandler(std::initializer_list<std::pair<char const*, PathNodeRelation>> i_steps,
                        void (UserListForm::*ip_handler)(ItemPtr), bool i_nested = false);
};
