#pragma once

// The plain listening port for the next start, preset from `listening_port`. OK with a
// port from 1 to 65535 other than the one in use stores it in `new_listening_port`, says
// that it takes effect after a restart and deletes the dialog; other ports are refused
// with a message and the dialog stays. Cancel deletes it too.

#include <QDialog>

class Ui_ChangeListeningPortDialog;

class ChangeListeningPortDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangeListeningPortDialog(QWidget* ip_parent = nullptr);
    ~ChangeListeningPortDialog() override;

    Ui_ChangeListeningPortDialog* Form() const { return ui; }

public slots:
    void accept() override;
    void reject() override;

private:
    Ui_ChangeListeningPortDialog* ui;
};
