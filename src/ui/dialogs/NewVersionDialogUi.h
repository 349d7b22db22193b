#pragma once

// The layout of the new-version offer: the running and the offered build, the
// description, and the two buttons centred below.

#include "ui/dialogs/ResourceSafeTextEdit.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

class Ui_NewVersionDialog
{
public:
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QLabel* label;
    QLineEdit* currentVersionEdit;
    QHBoxLayout* horizontalLayout_2;
    QLabel* label_2;
    QLineEdit* newVersionEdit;
    ResourceSafeTextEdit* descriptionEdit;
    QHBoxLayout* horizontalLayout_3;
    QPushButton* skipButton;
    QPushButton* downloadButton;

    void setupUi(QDialog* ip_dialog)
    {
        if (ip_dialog->objectName().isEmpty())
            ip_dialog->setObjectName("NewVersionDialog");
        ip_dialog->resize(429, 305);
        verticalLayout = new QVBoxLayout(ip_dialog);
        verticalLayout->setObjectName("verticalLayout");

        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setObjectName("horizontalLayout");
        label = new QLabel(ip_dialog);
        label->setObjectName("label");
        horizontalLayout->addWidget(label);
        horizontalLayout->addStretch();
        currentVersionEdit = VersionEdit(ip_dialog, "currentVersionEdit");
        currentVersionEdit->setReadOnly(true);
        horizontalLayout->addWidget(currentVersionEdit);
        verticalLayout->addLayout(horizontalLayout);

        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setObjectName("horizontalLayout_2");
        label_2 = new QLabel(ip_dialog);
        label_2->setObjectName("label_2");
        horizontalLayout_2->addWidget(label_2);
        horizontalLayout_2->addStretch();
        newVersionEdit = VersionEdit(ip_dialog, "newVersionEdit");
        horizontalLayout_2->addWidget(newVersionEdit);
        verticalLayout->addLayout(horizontalLayout_2);

        descriptionEdit = new ResourceSafeTextEdit(ip_dialog);
        descriptionEdit->setObjectName("descriptionEdit");
        descriptionEdit->setReadOnly(true);
        verticalLayout->addWidget(descriptionEdit);

        horizontalLayout_3 = new QHBoxLayout();
        horizontalLayout_3->setObjectName("horizontalLayout_3");
        horizontalLayout_3->addStretch();
        skipButton = new QPushButton(ip_dialog);
        skipButton->setObjectName("skipButton");
        horizontalLayout_3->addWidget(skipButton);
        downloadButton = new QPushButton(ip_dialog);
        downloadButton->setObjectName("downloadButton");
        horizontalLayout_3->addWidget(downloadButton);
        horizontalLayout_3->addStretch();
        verticalLayout->addLayout(horizontalLayout_3);

        retranslateUi(ip_dialog);
    }

    void retranslateUi(QDialog* ip_dialog)
    {
        ip_dialog->setWindowTitle(QApplication::translate("NewVersionDialog", "Dialog"));
        label->setText(QApplication::translate("NewVersionDialog", "Currently Using"));
        label_2->setText(QApplication::translate("NewVersionDialog", "Newest Available"));
        skipButton->setText(QApplication::translate("NewVersionDialog", "Skip this version"));
        downloadButton->setText(QApplication::translate("NewVersionDialog", "Download"));
    }

private:
    static QLineEdit* VersionEdit(QDialog* ip_dialog, char const* ip_name)
    {
        QLineEdit* const lp_edit = new QLineEdit(ip_dialog);
        lp_edit->setObjectName(ip_name);
        lp_edit->setMaximumWidth(100);
        lp_edit->setAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
        return lp_edit;
    }
};
