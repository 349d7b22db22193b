#include "ui/users/UserListForm.h"

#include "net/server/Server.h"
#include "ui/users/AddUserDialog.h"
#include "ui/users/UserGroupConfigDialog.h"
#include "ui/users/UserListItemWidget.h"
#include "ui/users/UserMenuOptions.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/SizeManager.h"
#include "widgets/TabWidget.h"
#include "widgets/UIFunctions.h"

#include <QIcon>
#include <QMenu>
#include <QStringList>
#include <QVBoxLayout>

namespace
{
char const* const c_userNode = "user_list_node";
char const* const c_unsharedNode = "unshared_list_node";
char const* const c_ignoredNode = "ignored_list_node";
QString const c_onlineIcon = QStringLiteral(":/icons/online_dot_icon");
QString const c_offlineIcon = QStringLiteral(":/icons/offline_dot_icon");
QString const c_noteIcon = QStringLiteral(":/icons/note_icon");

QTreeWidget* MakeList(QWidget* ip_page, char const* ip_name, QStringList const& i_columns)
{
    QVBoxLayout* const lp_layout = new QVBoxLayout(ip_page);
    QTreeWidget* const lp_tree = new QTreeWidget(ip_page);
    lp_tree->setObjectName(QString::fromLatin1(ip_name));
    lp_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    lp_tree->setRootIsDecorated(false);
    lp_tree->setSortingEnabled(false);
    lp_tree->setHeaderLabels(i_columns);
    lp_tree->setColumnWidth(0, 200);
    lp_layout->addWidget(lp_tree);
    RegisterWidgetForTabFocus(lp_tree, 1);
    return lp_tree;
}

void SetNote(QTreeWidgetItem* ip_row, int i_column, ItemPtr i_user)
{
    if (!ip_row)
        return;
    ItemPtr const l_note = i_user["user_note"];
    ip_row->setText(i_column, l_note ? l_note.AsString() : QString());
    ip_row->setIcon(i_column, l_note ? QIcon(c_noteIcon) : QIcon());
}
} // namespace

UserListForm::UserListForm(QWidget* ip_parent) : QWidget(ip_parent)
{
    setObjectName(QStringLiteral("UserListForm"));
    setWindowTitle(tr("Form"));
    resize(570, 401);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->setContentsMargins(0, 0, 0, 0);
    tabWidget = new TabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    lp_layout->addWidget(tabWidget);
    QWidget* const lp_userPage = new QWidget;
    lp_userPage->setObjectName(QStringLiteral("userListTab"));
    QWidget* const lp_unsharedPage = new QWidget;
    lp_unsharedPage->setObjectName(QStringLiteral("unsharedListTab"));
    QWidget* const lp_ignoredPage = new QWidget;
    lp_ignoredPage->setObjectName(QStringLiteral("tab"));
    userList = MakeList(lp_userPage, "userList", {tr("User"), tr("Groups"), tr("Note")});
    userList->setColumnWidth(1, 300);
    unsharedList = MakeList(lp_unsharedPage, "unsharedList", {tr("User"), tr("Note")});
    ignoredList = MakeList(lp_ignoredPage, "ignoredList", {tr("User"), tr("Note")});
    tabWidget->addTab(lp_userPage, tr("User List"));
    tabWidget->addTab(lp_unsharedPage, tr("Unshared"));
    tabWidget->addTab(lp_ignoredPage, tr("Ignored"));
    tabWidget->setCurrentIndex(0);
    connect(userList, &QTreeWidget::customContextMenuRequested, this,
            &UserListForm::OnUserListContextMenuRequested);
    connect(unsharedList, &QTreeWidget::customContextMenuRequested, this,
            &UserListForm::OnUnsharedListContextMenuRequested);
    connect(ignoredList, &QTreeWidget::customContextMenuRequested, this,
            &UserListForm::OnIgnoredListContextMenuRequested);
}

UserListForm::~UserListForm()
{
    RemoveDataHandlers();
}

void UserListForm::AddPathHandler(std::initializer_list<std::pair<char const*, PathNodeRelation>> i_steps,
                                  void (UserListForm::*ip_handler)(ItemPtr), bool i_nested)
{
    // Steps hang off the root, or each off the one before it when nested.
    PathNode* const lp_root = new PathNode(&d, "user");
    PathNode* lp_parent = lp_root;
    for (auto const& [lp_type, l_relation] : i_steps)
    {
        PathNode* const lp_node = new PathNode(lp_parent, lp_type, l_relation);
        if (i_nested)
            lp_parent = lp_node;
    }
    d.AddPathEventHandler(lp_root, CreateHandler(this, ip_handler));
}

void UserListForm::Init()
{
    for (char const* lp_node : {c_userNode, c_unsharedNode, c_ignoredNode})
    {
        d.NewType(lp_node, Primary, false, true);
        d[lp_node]->RelateToType(d["user"], One, One);
    }
    Type* const lp_userNodes = d[c_userNode];
    for (ItemPtr const& l_user : d["user"]->GetItems().Connected("in_user_list"))
    {
        UserListItemWidget* const lp_row = new UserListItemWidget(userList);
        QString const l_name = l_user.AsString();
        lp_row->setText(0, l_name);
        lp_row->setIcon(0, QIcon(c_offlineIcon));
        lp_userNodes->GetItem(Value(static_cast<QTreeWidgetItem*>(lp_row))) += l_user;
        if (gp_server)
            gp_server->TrackUser(l_name);
        UpdateUserGroupsDisplay(l_name);
        SetNote(lp_row, 2, l_user);
    }
    SortUserList();
    for (ItemPtr const& l_user : d["user"]->GetItems().Connected("unshared"))
        AddPlainRow(unsharedList, c_unsharedNode, l_user);
    unsharedList->setSortingEnabled(true);
    for (ItemPtr const& l_user : d["user"]->GetItems().Connected("is_ignored"))
        AddPlainRow(ignoredList, c_ignoredNode, l_user);
    ignoredList->setSortingEnabled(true);

    AddPathHandler({{"is_online", PathConnecting}, {"in_user_list", PathConnectedSilent}},
                   &UserListForm::OnUserOnline);
    AddPathHandler({{"is_online", PathDisconnecting}, {"in_user_list", PathConnectedSilent}},
                   &UserListForm::OnUserOffline);
    AddPathHandler({{"in_user_list", PathConnecting}}, &UserListForm::OnUserAddedToList);
    AddPathHandler({{"in_user_list", PathDisconnecting}}, &UserListForm::OnUserRemovedFromList);
    AddPathHandler({{"unshared", PathConnecting}}, &UserListForm::OnUserUnshared);
    AddPathHandler({{"unshared", PathDisconnecting}}, &UserListForm::OnUserReshared);
    AddPathHandler({{"is_ignored", PathConnecting}}, &UserListForm::OnUserIgnored);
    AddPathHandler({{"is_ignored", PathDisconnecting}}, &UserListForm::OnUserUnignored);
    AddPathHandler({{"user_note", PathConnecting}}, &UserListForm::OnUserNoteChanged);
    AddPathHandler({{"user_note", PathDisconnecting}}, &UserListForm::OnUserNoteRemoved);

    if (actionBar)
    {
        actionBar->AddSetAction(QStringLiteral("user_list"), QStringLiteral("manual_add_user"), tr("Add User"),
                                QStringLiteral(":/icons/add_user_icon"), false);
        actionBar->AddSetAction(QStringLiteral("user_list"), QStringLiteral("configure_user_groups"),
                                tr("Configure User Groups"), QStringLiteral(":/icons/users_icon"), false);
        actionBar->RegisterWidget(tabWidget->widget(0), QStringLiteral("user_list"));
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UserListForm::OnActionBarTriggered);
    }
    AddPathHandler({{"in_user_list", PathConnectedSilent}, {"user_list_group", PathConnecting}},
                   &UserListForm::OnUserGroupAdded, true);
    AddPathHandler({{"in_user_list", PathConnectedSilent}, {"user_list_group", PathDisconnecting}},
                   &UserListForm::OnUserGroupRemoved, true);
    if (sizeManager)
        sizeManager->RegisterTreeWidget(QStringLiteral("user_list"), userList);
}

QTreeWidgetItem* UserListForm::RowOf(ItemPtr i_user, char const* ip_nodeType)
{
    return i_user[ip_nodeType].AsPtr<QTreeWidgetItem>();
}

void UserListForm::SortUserList()
{
    userList->sortItems(0, Qt::AscendingOrder);
}

void UserListForm::AddPlainRow(QTreeWidget* ip_tree, char const* ip_nodeType, ItemPtr i_user)
{
    QTreeWidgetItem* const lp_row = new QTreeWidgetItem(ip_tree);
    lp_row->setText(0, i_user.AsString());
    SetNote(lp_row, 1, i_user);
    d[ip_nodeType]->GetItem(Value(lp_row)) += i_user;
}

void UserListForm::RemoveRow(char const* ip_nodeType, ItemPtr i_user)
{
    ItemPtr const l_node = i_user[ip_nodeType];
    if (!l_node)
        return;
    delete l_node.AsPtr<QTreeWidgetItem>();
    l_node.Remove();
}

void UserListForm::UpdateUserGroupsDisplay(QString i_user)
{
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    QTreeWidgetItem* const lp_row = RowOf(l_user, c_userNode);
    if (!lp_row)
        return;
    QStringList l_names;
    for (ItemPtr const& l_group : l_user["in_user_list"].GetItems("user_list_group").SortAlphabetic(true))
        l_names << l_group.AsString();
    lp_row->setText(1, l_names.join(QStringLiteral(", ")));
}

void UserListForm::OnUserOnline(ItemPtr i_user)
{
    if (QTreeWidgetItem* const lp_row = RowOf(i_user, c_userNode))
        lp_row->setIcon(0, QIcon(c_onlineIcon));
    SortUserList();
}

void UserListForm::OnUserOffline(ItemPtr i_user)
{
    if (QTreeWidgetItem* const lp_row = RowOf(i_user, c_userNode))
        lp_row->setIcon(0, QIcon(c_offlineIcon));
    SortUserList();
}

void UserListForm::OnUserAddedToList(ItemPtr i_user)
{
    if (RowOf(i_user, c_userNode))
        return;
    UserListItemWidget* const lp_row = new UserListItemWidget(userList);
    QString const l_name = i_user.AsString();
    lp_row->setText(0, l_name);
    lp_row->setIcon(0, QIcon(c_offlineIcon));
    d[c_userNode]->GetItem(Value(static_cast<QTreeWidgetItem*>(lp_row))) += i_user;
    if (i_user.IsConnected("is_online"))
        OnUserOnline(i_user);
    if (gp_server)
        gp_server->TrackUser(l_name);
    UpdateUserGroupsDisplay(l_name);
    SetNote(lp_row, 2, i_user);
    SortUserList();
}

void UserListForm::OnUserRemovedFromList(ItemPtr i_user)
{
    RemoveRow(c_userNode, i_user);
}

void UserListForm::OnUserUnshared(ItemPtr i_user)
{
    if (!RowOf(i_user, c_unsharedNode))
        AddPlainRow(unsharedList, c_unsharedNode, i_user);
}

void UserListForm::OnUserReshared(ItemPtr i_user)
{
    RemoveRow(c_unsharedNode, i_user);
}

void UserListForm::OnUserIgnored(ItemPtr i_user)
{
    if (!RowOf(i_user, c_ignoredNode))
        AddPlainRow(ignoredList, c_ignoredNode, i_user);
}

void UserListForm::OnUserUnignored(ItemPtr i_user)
{
    RemoveRow(c_ignoredNode, i_user);
}

void UserListForm::OnUserNoteChanged(ItemPtr i_user)
{
    SetNote(RowOf(i_user, c_userNode), 2, i_user);
    SetNote(RowOf(i_user, c_unsharedNode), 1, i_user);
    SetNote(RowOf(i_user, c_ignoredNode), 1, i_user);
}

void UserListForm::OnUserNoteRemoved(ItemPtr i_user)
{
    // The handler runs while the note is still joined; the cells are cleared outright.
    for (auto const& [lp_node, l_column] : {std::pair{c_userNode, 2}, {c_unsharedNode, 1}, {c_ignoredNode, 1}})
        if (QTreeWidgetItem* const lp_row = RowOf(i_user, lp_node))
        {
            lp_row->setText(l_column, QString());
            lp_row->setIcon(l_column, QIcon());
        }
}

void UserListForm::OnUserGroupAdded(ItemPtr i_user)
{
    UpdateUserGroupsDisplay(i_user.AsString());
}

void UserListForm::OnUserGroupRemoved(ItemPtr i_user)
{
    UpdateUserGroupsDisplay(i_user.AsString());
}

void UserListForm::ShowMenu(QTreeWidget* ip_tree, QPoint i_point)
{
    QTreeWidgetItem* const lp_row = ip_tree->itemAt(i_point);
    if (!lp_row)
        return;
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, lp_row->text(0), nullptr);
    l_menu.exec(ip_tree->viewport()->mapToGlobal(i_point));
}

void UserListForm::OnUserListContextMenuRequested(QPoint i_point)
{
    ShowMenu(userList, i_point);
}

void UserListForm::OnUnsharedListContextMenuRequested(QPoint i_point)
{
    ShowMenu(unsharedList, i_point);
}

void UserListForm::OnIgnoredListContextMenuRequested(QPoint i_point)
{
    ShowMenu(ignoredList, i_point);
}

void UserListForm::OnActionBarTriggered(QWidget*, QString i_action)
{
    if (i_action == QLatin1String("configure_user_groups"))
    {
        if (userGroupConfigDialog)
            userGroupConfigDialog->setFocus(Qt::OtherFocusReason);
        else
            (new UserGroupConfigDialog(this))->show();
    }
    else if (i_action == QLatin1String("manual_add_user"))
        (new AddUserDialog(this))->show();
}
