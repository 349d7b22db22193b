#pragma once

// The layout of the user name dialog: two labelled fields and OK/Cancel at the bottom
// right, at fixed places.

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>

class Ui_ChangeUsernamePasswordDialog
{
public:
    QLabel* label;
    QLineEdit* usernameEdit;
    QLabel* label_2;
    QLineEdit* passwordEdit;
    QDialogButtonBox* buttonBox;

    void setupUi(QDialog* ip_dialog)
    {
        if (ip_dialog->objectName().isEmpty())
            ip_dialog->setObjectName("ChangeUsernamePasswordDialog");
        ip_dialog->resize(312, 120);
        label = new QLabel(ip_dialog);
        label->setObjectName("label");
        label->setGeometry(QRect(10, 12, 80, 22));
        usernameEdit = new QLineEdit(ip_dialog);
        usernameEdit->setObjectName("usernameEdit");
        usernameEdit->setGeometry(QRect(95, 10, 207, 26));
        label_2 = new QLabel(ip_dialog);
        label_2->setObjectName("label_2");
        label_2->setGeometry(QRect(10, 46, 80, 22));
        passwordEdit = new QLineEdit(ip_dialog);
        passwordEdit->setObjectName("passwordEdit");
        passwordEdit->setGeometry(QRect(95, 44, 207, 26));
        buttonBox = new QDialogButtonBox(ip_dialog);
        buttonBox->setObjectName("buttonBox");
        buttonBox->setGeometry(QRect(92, 80, 210, 32));
        buttonBox->setOrientation(Qt::Horizontal);
        buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
        retranslateUi(ip_dialog);
    }

    void retranslateUi(QDialog* ip_dialog)
    {
        ip_dialog->setWindowTitle(
            QApplication::translate("ChangeUsernamePasswordDialog", "Change Username/Password"));
        label->setText(QApplication::translate("ChangeUsernamePasswordDialog", "Username"));
        label_2->setText(QApplication::translate("ChangeUsernamePasswordDialog", "Password"));
    }
};
