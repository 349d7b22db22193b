#include "ui/chat/CreateRoomDialog.h"

#include "net/server/Server.h"
#include "widgets/UIFunctions.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

CreateRoomDialog* createRoomDialog = nullptr;

CreateRoomDialog::CreateRoomDialog(QWidget* ip_parent) : QDialog(ip_parent)
{
    SetupUi();
    createRoomDialog = this;
}

CreateRoomDialog::~CreateRoomDialog()
{
    // A newer dialog may already stand in the global while this one waits for deletion.
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
}

void CreateRoomDialog::SetupUi()
{
    setObjectName(QStringLiteral("CreateRoomDialog"));
    resize(296, 126);
    setWindowTitle(QStringLiteral("Create Room"));
    horizontalLayout_2 = new QHBoxLayout(this);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    roomNameEdit = new QLineEdit(this);
    roomNameEdit->setObjectName(QStringLiteral("roomNameEdit"));
    verticalLayout->addWidget(roomNameEdit);
    createPrivateCheckBox = new QCheckBox(QStringLiteral("Create private room"), this);
    createPrivateCheckBox->setObjectName(QStringLiteral("createPrivateCheckBox"));
    verticalLayout->addWidget(createPrivateCheckBox);
    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    createRoomButton = new QPushButton(QStringLiteral("Create/Enter Room"), this);
    createRoomButton->setObjectName(QStringLiteral("createRoomButton"));
    horizontalLayout->addWidget(createRoomButton);
    horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer_2);
    verticalLayout->addLayout(horizontalLayout);
    horizontalLayout_2->addLayout(verticalLayout);

    connect(createRoomButton, &QPushButton::clicked, this, &CreateRoomDialog::OnButtonClicked);
}

void CreateRoomDialog::OnButtonClicked()
{
    QString const l_room = roomNameEdit->text().trimmed();
    if (l_room.isEmpty())
        return;
    if (gp_server && !g_showIsOver)
        gp_server->EnterRoom(l_room, createPrivateCheckBox->isChecked());
    // Deleted only once the click has been handled: the button that sent it is ours.
    hide();
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
    deleteLater();
}

void CreateRoomDialog::accept()
{
    OnButtonClicked();
}
