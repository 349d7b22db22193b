#pragma once

// Every user-list group with, for the selected one, its download priority, whether
// uploads from its members are accepted, and its deletion. One at a time, reached
// through userGroupConfigDialog while it is open; deletes itself when closed.

#include "store/Data.h"

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

class UserGroupConfigDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit UserGroupConfigDialog(QWidget* ip_parent = nullptr);
    ~UserGroupConfigDialog() override;

    QListWidget* groupList;
    QGroupBox* groupBox;
    QSpinBox* prioritySpinBox;
    QCheckBox* acceptUploadsCheckBox;
    QPushButton* deleteButton;
    QLabel* label_2;

public slots:
    void OnCurrentGroupItemChanged(QListWidgetItem* ip_current, QListWidgetItem* ip_previous);
    void OnPrioritySpinValueChanged(int i_value);
    void OnAcceptUploadsCheckboxToggled(bool i_checked);
    void OnDeleteClicked();

private:
    void OnUserGroupAdded(ItemPtr i_group);
    void OnUserGroupRemoved(ItemPtr i_group);
    // The group of the current row when both still exist; never creates one.
    ItemPtr CurrentGroup() const;
    void EnableControls(bool i_enabled);
};

extern UserGroupConfigDialog* userGroupConfigDialog;
