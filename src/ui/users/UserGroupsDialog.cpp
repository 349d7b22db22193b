#include "ui/users/UserGroupsDialog.h"

UserGroupsDialog::UserGroupsDialog(QString i_user, QWidget* ip_parent) : QDialog(ip_parent), m_user(i_user)
{
    setObjectName(QStringLiteral("UserGroupsDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(335, 300);
    groupListWidget = new QListWidget(this);
    groupListWidget->setObjectName(QStringLiteral("groupListWidget"));
    groupListWidget->setGeometry(10, 10, 311, 221);
    groupListWidget->setSortingEnabled(true);
    newGroupEdit = new QLineEdit(this);
    newGroupEdit->setObjectName(QStringLiteral("newGroupEdit"));
    newGroupEdit->setGeometry(10, 240, 311, 20);
    newGroupButton = new QPushButton(tr("Create New Group"), this);
    newGroupButton->setObjectName(QStringLiteral("newGroupButton"));
    newGroupButton->setGeometry(160, 270, 161, 23);
    connect(newGroupButton, &QPushButton::clicked, this, &UserGroupsDialog::OnNewGroupButtonClicked);
    setWindowTitle(tr("User Groups for [") + m_user + QLatin1Char(']'));

    ItemPtr const l_listed = d["user"]->GetItem(Value(m_user))["in_user_list"];
    for (ItemPtr const& l_group : d["user_list_group"]->GetItems())
        AddRow(l_group.AsString(), l_listed && l_listed.IsConnected(l_group));
    connect(groupListWidget, &QListWidget::itemChanged, this, &UserGroupsDialog::OnGroupItemChanged);
    d["user_list_group"]->m_itemAddedEvent.AddHandler(CreateHandler(this, &UserGroupsDialog::OnUserGroupAdded));
}

UserGroupsDialog::~UserGroupsDialog()
{
    RemoveDataHandlers();
}

void UserGroupsDialog::AddRow(QString const& i_name, bool i_checked)
{
    QListWidgetItem* const lp_row = new QListWidgetItem(i_name);
    lp_row->setFlags(lp_row->flags() | Qt::ItemIsUserCheckable);
    lp_row->setCheckState(i_checked ? Qt::Checked : Qt::Unchecked);
    groupListWidget->addItem(lp_row);
}

void UserGroupsDialog::OnNewGroupButtonClicked()
{
    QString const l_name = newGroupEdit->text().trimmed();
    newGroupEdit->clear();
    if (!l_name.isEmpty())
        d["user_list_group"]->GetItem(Value(l_name));
}

void UserGroupsDialog::OnUserGroupAdded(ItemPtr i_group)
{
    AddRow(i_group.AsString(), false);
}

void UserGroupsDialog::OnGroupItemChanged(QListWidgetItem* ip_row)
{
    Qt::CheckState const l_state = ip_row->checkState();
    if (l_state == Qt::PartiallyChecked || ip_row->text().isEmpty())
        return;
    // The user may have left the list while the dialog was open: a tick must not put
    // them back in by the side door.
    ItemPtr const l_listed = d["user"]->HasItem(Value(m_user))["in_user_list"];
    // Nor may a tick bring back a group deleted meanwhile (this dialog keeps its row).
    ItemPtr const l_group = d["user_list_group"]->HasItem(Value(ip_row->text()));
    if (!l_listed || !l_group)
        return;
    bool const l_member = l_listed.IsConnected(l_group);
    if (l_state == Qt::Checked && !l_member)
        l_listed += l_group;
    else if (l_state == Qt::Unchecked && l_member)
        l_listed -= l_group;
}
