#include "ui/users/AddUserDialog.h"

#include "net/server/Server.h"
#include "store/Data.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

AddUserDialog::AddUserDialog(QWidget* ip_parent) : QDialog(ip_parent)
{
    setObjectName(QStringLiteral("AddUserDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Add User"));
    resize(292, 188);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(new QLabel(tr("User name:"), this));
    userNameEdit = new QLineEdit(this);
    userNameEdit->setObjectName(QStringLiteral("userNameEdit"));
    lp_layout->addWidget(userNameEdit);
    lp_layout->addStretch();
    statusEdit = new QLineEdit(this);
    statusEdit->setObjectName(QStringLiteral("statusEdit"));
    statusEdit->setReadOnly(true);
    statusEdit->setEnabled(false);
    lp_layout->addWidget(statusEdit);
    lp_layout->addStretch();
    QHBoxLayout* const lp_buttonRow = new QHBoxLayout;
    addFriendButton = new QPushButton(tr("Add User"), this);
    addFriendButton->setObjectName(QStringLiteral("addFriendButton"));
    addFriendButton->setMaximumHeight(23);
    lp_buttonRow->addStretch();
    lp_buttonRow->addWidget(addFriendButton);
    lp_buttonRow->addStretch();
    lp_layout->addLayout(lp_buttonRow);
    connect(addFriendButton, &QPushButton::clicked, this, &AddUserDialog::OnAddUserClicked);
    if (gp_server)
        connect(gp_server, &Server::AddUserResponse, this, &AddUserDialog::OnAddUserResponse);
}

AddUserDialog::~AddUserDialog() = default;

void AddUserDialog::OnAddUserClicked()
{
    QString const l_name = userNameEdit->text().trimmed();
    if (l_name.isEmpty())
    {
        statusEdit->setText(tr("User name must not be empty."));
        return;
    }
    if (!gp_server || !gp_server->IsConnected())
    {
        statusEdit->setText(tr("Must be online to add a user to your list."));
        return;
    }
    if (d["user"]->HasItem(Value(l_name)).IsConnected("in_user_list"))
    {
        statusEdit->setText(tr("User already in list."));
        return;
    }
    statusEdit->setText(tr("Adding user..."));
    userNameEdit->setReadOnly(true);
    addFriendButton->setEnabled(false);
    m_pendingUser = l_name;
    gp_server->AddUser(l_name);
}

void AddUserDialog::OnAddUserResponse(QString i_user, bool i_exists)
{
    if (m_pendingUser.isEmpty() || i_user != m_pendingUser)
        return;
    userNameEdit->setReadOnly(false);
    addFriendButton->setEnabled(true);
    m_pendingUser.clear();
    if (i_exists)
    {
        d["user"]->GetItem(Value(i_user)).NewItem("in_user_list");
        statusEdit->setText(tr("User added to list."));
    }
    else
        statusEdit->setText(tr("User name does not exist."));
}
