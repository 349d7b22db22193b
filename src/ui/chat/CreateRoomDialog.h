#pragma once

// The dialog that creates or enters a chat room: a room name and whether the room is
// private. At most one exists, reached through createRoomDialog; it deletes itself when
// closed.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>

class CreateRoomDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CreateRoomDialog(QWidget* ip_parent = nullptr);
    ~CreateRoomDialog() override;

    QLineEdit* NameEdit() const { return mp_nameEdit; }
    QCheckBox* PrivateCheckBox() const { return mp_privateCheckBox; }

public slots:
    // Asks the server to enter the room (a blank name enters nothing), then closes.
    void accept() override;

private:
    QLineEdit* mp_nameEdit;
    QCheckBox* mp_privateCheckBox;
};

extern CreateRoomDialog* createRoomDialog;
