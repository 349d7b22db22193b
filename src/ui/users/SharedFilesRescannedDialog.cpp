#include "ui/users/SharedFilesRescannedDialog.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* ip_parent)
    : QDialog(ip_parent), mp_text(new QPlainTextEdit(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    mp_text->setReadOnly(true);
    QDialogButtonBox* const lp_buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(lp_buttons, &QDialogButtonBox::accepted, this, &SharedFilesRescannedDialog::accept);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(mp_text);
    lp_layout->addWidget(lp_buttons);
}

void SharedFilesRescannedDialog::Append(QString i_line)
{
    mp_text->appendPlainText(i_line);
}
