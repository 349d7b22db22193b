#pragma once

// The user name and password used to log in. The user name is preset from the settings;
// the password field is masked and starts empty, and left empty it keeps the stored
// password. OK with both non-blank after trimming stores them in `username` and
// `password` (taken at the next login); otherwise OK does nothing. The first-start
// variant (true) is titled "Set Username/Password" and belongs to its caller, which runs
// it modally and destroys it; the normal variant deletes itself after OK or Cancel.

#include <QDialog>

class Ui_ChangeUsernamePasswordDialog;

class ChangeUsernamePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    ChangeUsernamePasswordDialog(bool i_firstStart, QWidget* ip_parent = nullptr);
    ~ChangeUsernamePasswordDialog() override;

    Ui_ChangeUsernamePasswordDialog* Form() const { return ui; }

public slots:
    void accept() override;
    void reject() override;

private:
    Ui_ChangeUsernamePasswordDialog* ui;
    bool m_isFirstStart;
};
