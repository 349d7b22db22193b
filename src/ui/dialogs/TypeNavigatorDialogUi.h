#pragma once

// The layout of the type navigator: the start and target type boxes side by side above
// the chart of paths.

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QTextBrowser>
#include <QVBoxLayout>

class Ui_TypeNavigatorDialog
{
public:
    QHBoxLayout* horizontalLayout_2;
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QComboBox* fromTypeBox;
    QComboBox* toTypeBox;
    QTextBrowser* chartEdit;

    void setupUi(QDialog* ip_dialog)
    {
        if (ip_dialog->objectName().isEmpty())
            ip_dialog->setObjectName("TypeNavigatorDialog");
        ip_dialog->resize(969, 262);
        horizontalLayout_2 = new QHBoxLayout(ip_dialog);
        horizontalLayout_2->setObjectName("horizontalLayout_2");
        verticalLayout = new QVBoxLayout();
        verticalLayout->setObjectName("verticalLayout");
        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setObjectName("horizontalLayout");
        fromTypeBox = new QComboBox(ip_dialog);
        fromTypeBox->setObjectName("fromTypeBox");
        fromTypeBox->setInsertPolicy(QComboBox::InsertAlphabetically);
        horizontalLayout->addWidget(fromTypeBox);
        toTypeBox = new QComboBox(ip_dialog);
        toTypeBox->setObjectName("toTypeBox");
        toTypeBox->setInsertPolicy(QComboBox::InsertAlphabetically);
        horizontalLayout->addWidget(toTypeBox);
        verticalLayout->addLayout(horizontalLayout);
        chartEdit = new QTextBrowser(ip_dialog);
        chartEdit->setObjectName("chartEdit");
        verticalLayout->addWidget(chartEdit);
        horizontalLayout_2->addLayout(verticalLayout);
        ip_dialog->setWindowTitle(QApplication::translate("TypeNavigatorDialog", "Type Navigator"));
    }
};
