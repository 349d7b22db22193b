#include "ui/chat/CreateRoomDialog.h"

#include "app/UIFunctions.h"
#include "net/server/Server.h"

#include <QDialogButtonBox>
#include <QFormLayout>

CreateRoomDialog* createRoomDialog = nullptr;

CreateRoomDialog::CreateRoomDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_nameEdit(new QLineEdit(this)),
      mp_privateCheckBox(new QCheckBox(tr("Private room"), this))
{
    createRoomDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Create Room"));
    QDialogButtonBox* const lp_buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(lp_buttons, &QDialogButtonBox::accepted, this, &CreateRoomDialog::accept);
    connect(lp_buttons, &QDialogButtonBox::rejected, this, &CreateRoomDialog::reject);
    QFormLayout* const lp_layout = new QFormLayout(this);
    lp_layout->addRow(tr("Room name"), mp_nameEdit);
    lp_layout->addRow(mp_privateCheckBox);
    lp_layout->addRow(lp_buttons);
}

CreateRoomDialog::~CreateRoomDialog()
{
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
}

void CreateRoomDialog::accept()
{
    QString const l_room = mp_nameEdit->text().trimmed();
    if (!l_room.isEmpty() && gp_server && !g_showIsOver)
        gp_server->EnterRoom(l_room, mp_privateCheckBox->isChecked());
    QDialog::accept();
}
