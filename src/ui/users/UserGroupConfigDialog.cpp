#include "ui/users/UserGroupConfigDialog.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>

UserGroupConfigDialog* userGroupConfigDialog = nullptr;

UserGroupConfigDialog::UserGroupConfigDialog(QWidget* ip_parent) : QDialog(ip_parent)
{
    userGroupConfigDialog = this;
    setObjectName(QStringLiteral("UserGroupConfigDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(595, 300);
    setWindowTitle(tr("Configure User Groups"));
    QHBoxLayout* const lp_layout = new QHBoxLayout(this);
    groupList = new QListWidget(this);
    groupList->setObjectName(QStringLiteral("groupList"));
    groupList->setSortingEnabled(true);
    groupBox = new QGroupBox(this);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    lp_layout->addWidget(groupList);
    lp_layout->addWidget(groupBox);
    QVBoxLayout* const lp_box = new QVBoxLayout(groupBox);
    QHBoxLayout* const lp_priorityRow = new QHBoxLayout;
    lp_priorityRow->addWidget(new QLabel(tr("Download Priority"), groupBox));
    prioritySpinBox = new QSpinBox(groupBox);
    prioritySpinBox->setObjectName(QStringLiteral("prioritySpinBox"));
    prioritySpinBox->setRange(0, 99);
    prioritySpinBox->setWhatsThis(
        tr("Defines the download priority of users belonging to this group. Users who belong to more "
           "than one group will be prioritized by their highest-ranked group.") +
        QStringLiteral("\n\n") +
        tr("A priority of 0 will not affect the order of downloads by users of this group relative to "
           "other downloads. A priority of 1 or more will order downloads by users of this group ahead "
           "of all other downloads, except for ones with a higher priority."));
    lp_priorityRow->addWidget(prioritySpinBox);
    lp_priorityRow->addStretch();
    lp_box->addLayout(lp_priorityRow);
    acceptUploadsCheckBox = new QCheckBox(tr("Accept uploads from users in this group"), groupBox);
    acceptUploadsCheckBox->setObjectName(QStringLiteral("acceptUploadsCheckBox"));
    lp_box->addWidget(acceptUploadsCheckBox);
    deleteButton = new QPushButton(tr("Delete Group"), groupBox);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    lp_box->addWidget(deleteButton, 0, Qt::AlignLeft);
    label_2 = new QLabel(groupBox);
    label_2->setObjectName(QStringLiteral("label_2"));
    lp_box->addWidget(label_2, 1);

    connect(groupList, &QListWidget::currentItemChanged, this, &UserGroupConfigDialog::OnCurrentGroupItemChanged);
    connect(prioritySpinBox, &QSpinBox::valueChanged, this, &UserGroupConfigDialog::OnPrioritySpinValueChanged);
    connect(acceptUploadsCheckBox, &QCheckBox::toggled, this, &UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled);
    connect(deleteButton, &QPushButton::clicked, this, &UserGroupConfigDialog::OnDeleteClicked);

    for (ItemPtr const& l_group : d["user_list_group"]->GetItems())
        OnUserGroupAdded(l_group);
    EnableControls(false);
    d["user_list_group"]->m_itemAddedEvent.AddHandler(
        CreateHandler(this, &UserGroupConfigDialog::OnUserGroupAdded));
    d["user_list_group"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &UserGroupConfigDialog::OnUserGroupRemoved));
}

UserGroupConfigDialog::~UserGroupConfigDialog()
{
    RemoveDataHandlers();
    if (userGroupConfigDialog == this)
        userGroupConfigDialog = nullptr;
}

void UserGroupConfigDialog::EnableControls(bool i_enabled)
{
    prioritySpinBox->setEnabled(i_enabled);
    acceptUploadsCheckBox->setEnabled(i_enabled);
    deleteButton->setEnabled(i_enabled);
}

ItemPtr UserGroupConfigDialog::CurrentGroup() const
{
    QListWidgetItem* const lp_row = groupList->currentItem();
    if (!lp_row)
        return ItemPtr();
    return d["user_list_group"]->HasItem(Value(lp_row->text()));
}

void UserGroupConfigDialog::OnCurrentGroupItemChanged(QListWidgetItem* ip_current, QListWidgetItem*)
{
    ItemPtr const l_group = ip_current ? d["user_list_group"]->HasItem(Value(ip_current->text())) : ItemPtr();
    if (!l_group)
    {
        EnableControls(false);
        groupBox->setTitle(QString());
        return;
    }
    EnableControls(true);
    groupBox->setTitle(ip_current->text());
    prioritySpinBox->setValue(l_group["group_download_priority"].AsInt());
    acceptUploadsCheckBox->setChecked(l_group.IsConnected("accept_uploads"));
}

void UserGroupConfigDialog::OnPrioritySpinValueChanged(int i_value)
{
    ItemPtr const l_group = CurrentGroup();
    if (!l_group)
        return;
    if (i_value <= 0)
        l_group.Disconnect("group_download_priority");
    else
    {
        l_group.Disconnect("group_download_priority");
        l_group += d["group_download_priority"]->GetItem(Value(QString::number(i_value)));
    }
}

void UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled(bool i_checked)
{
    ItemPtr const l_group = CurrentGroup();
    if (!l_group)
        return;
    if (i_checked)
        l_group += d["accept_uploads"]->GetGlobalNullItem();
    else
        l_group.Disconnect("accept_uploads");
}

void UserGroupConfigDialog::OnDeleteClicked()
{
    if (!CurrentGroup())
        return;
    QMessageBox l_box(QMessageBox::Question, tr("Delete group?"),
                      tr("Are you sure you want to delete this user group?"),
                      QMessageBox::Yes | QMessageBox::No);
    l_box.setDefaultButton(QMessageBox::No);
    if (l_box.exec() != QMessageBox::Yes)
        return;
    // The box ran an event loop: the row or the group may be gone by now.
    if (ItemPtr const l_group = CurrentGroup())
        l_group.Remove();
}

void UserGroupConfigDialog::OnUserGroupAdded(ItemPtr i_group)
{
    groupList->addItem(i_group.AsString());
}

void UserGroupConfigDialog::OnUserGroupRemoved(ItemPtr i_group)
{
    QString const l_name = i_group.AsString();
    for (int l_row = 0; l_row < groupList->count(); ++l_row)
        if (groupList->item(l_row)->text() == l_name)
        {
            delete groupList->takeItem(l_row);
            return;
        }
}
