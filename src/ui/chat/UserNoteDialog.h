#pragma once

// The note about one user. Interim: notes cannot be edited yet; start-up calls Init().

#include <QDialog>

class UserNoteDialog : public QDialog
{
    Q_OBJECT

public:
    explicit UserNoteDialog(QWidget* ip_parent = nullptr);

    // Called once by start-up after the user list is set up; nothing to set up yet.
    static void Init();
};
