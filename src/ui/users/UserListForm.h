#pragma once

// The "Users" page of the main window: the user list with its unshared and ignored
// lists. Interim: the page says that the lists are not shown yet.

#include <QWidget>

class UserListForm : public QWidget
{
    Q_OBJECT

public:
    explicit UserListForm(QWidget* ip_parent = nullptr);

    // Called once by start-up after the sizes are restored; nothing to set up yet.
    void Init();
};
