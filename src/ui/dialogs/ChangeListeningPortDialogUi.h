#pragma once

// The layout of the listening-port dialog: the port field with OK/Cancel beneath it, at
// fixed places.

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>

class Ui_ChangeListeningPortDialog
{
public:
    QLineEdit* portEdit;
    QDialogButtonBox* buttonBox;

    void setupUi(QDialog* ip_dialog)
    {
        if (ip_dialog->objectName().isEmpty())
            ip_dialog->setObjectName("ChangeListeningPortDialog");
        ip_dialog->resize(179, 76);
        portEdit = new QLineEdit(ip_dialog);
        portEdit->setObjectName("portEdit");
        portEdit->setGeometry(QRect(10, 8, 159, 26));
        buttonBox = new QDialogButtonBox(ip_dialog);
        buttonBox->setObjectName("buttonBox");
        buttonBox->setGeometry(QRect(4, 40, 171, 32));
        buttonBox->setOrientation(Qt::Horizontal);
        buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
        ip_dialog->setWindowTitle(
            QApplication::translate("ChangeListeningPortDialog", "Change Listening Port"));
    }
};
