#include "ui/users/SharedFilesRescannedDialog.h"

#include <QVBoxLayout>

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* ip_parent)
    : QDialog(ip_parent), plainTextEdit(new QPlainTextEdit(this)),
      buttonBox(new QDialogButtonBox(QDialogButtonBox::Ok, this))
{
    setObjectName(QStringLiteral("SharedFilesRescannedDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(337, 88);
    plainTextEdit->setObjectName(QStringLiteral("plainTextEdit"));
    plainTextEdit->setReadOnly(true);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    connect(buttonBox, &QDialogButtonBox::accepted, this, &SharedFilesRescannedDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &SharedFilesRescannedDialog::reject);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(plainTextEdit);
    lp_layout->addWidget(buttonBox);
}

void SharedFilesRescannedDialog::Append(QString i_line)
{
    plainTextEdit->appendPlainText(i_line);
}
