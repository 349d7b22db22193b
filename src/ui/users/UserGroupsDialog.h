#pragma once

// The groups of one listed user as a check list, with a line to create a new group.
// Lists the groups that existed when it opened and those made later. Deletes itself
// when closed.

#include "store/Data.h"

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QString>

class UserGroupsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    UserGroupsDialog(QString i_user, QWidget* ip_parent = nullptr);
    ~UserGroupsDialog() override;

    QListWidget* groupListWidget;
    QLineEdit* newGroupEdit;
    QPushButton* newGroupButton;

public slots:
    void OnNewGroupButtonClicked();
    void OnGroupItemChanged(QListWidgetItem* ip_row);

private:
    void OnUserGroupAdded(ItemPtr i_group);
    void AddRow(QString const& i_name, bool i_checked);

    QString m_user;
};
