#include "ui/chat/UserNoteDialog.h"

UserNoteDialog::UserNoteDialog(QWidget* ip_parent) : QDialog(ip_parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
}

void UserNoteDialog::Init()
{
}
