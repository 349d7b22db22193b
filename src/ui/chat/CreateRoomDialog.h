#pragma once

// The dialog that creates or enters a chat room: a room name and whether the room is
// private. At most one exists, reached through createRoomDialog. Closing it only hides
// it, keeping what was typed; a successful request ends it.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

class QHBoxLayout;
class QSpacerItem;
class QVBoxLayout;

class CreateRoomDialog : public QDialog
{
    Q_OBJECT

public:
    // Sets createRoomDialog; the destructor clears it.
    explicit CreateRoomDialog(QWidget* ip_parent = nullptr);
    ~CreateRoomDialog() override;

    QLineEdit* NameEdit() const { return roomNameEdit; }
    QCheckBox* PrivateCheckBox() const { return createPrivateCheckBox; }

    QLineEdit* roomNameEdit;
    QCheckBox* createPrivateCheckBox;
    QPushButton* createRoomButton;

public slots:
    // Asks the server to enter the trimmed name (a blank name does nothing), then goes.
    void OnButtonClicked();
    // Accepting the dialog is pressing its button.
    void accept() override;

private:
    void SetupUi();

    QHBoxLayout* horizontalLayout_2;
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QSpacerItem* horizontalSpacer;
    QSpacerItem* horizontalSpacer_2;
};

extern CreateRoomDialog* createRoomDialog;
