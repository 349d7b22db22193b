#pragma once

// Adds a typed user to the user list once the server has confirmed that the name
// exists. Modeless; several can be open; deletes itself when closed.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

class AddUserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddUserDialog(QWidget* ip_parent = nullptr);
    ~AddUserDialog() override;

    QString PendingUser() const { return m_pendingUser; }

    QLineEdit* userNameEdit;
    QLineEdit* statusEdit;
    QPushButton* addFriendButton;

public slots:
    void OnAddUserClicked();
    void OnAddUserResponse(QString i_user, bool i_exists);

private:
    QString m_pendingUser;
};
