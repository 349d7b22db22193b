#pragma once

// The layout of the item log: one tab widget filling the dialog.

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QTabWidget>

class Ui_ItemLogDialog
{
public:
    QHBoxLayout* horizontalLayout;
    QTabWidget* logTabWidget;

    void setupUi(QDialog* ip_dialog)
    {
        if (ip_dialog->objectName().isEmpty())
            ip_dialog->setObjectName("ItemLogDialog");
        ip_dialog->resize(721, 425);
        horizontalLayout = new QHBoxLayout(ip_dialog);
        horizontalLayout->setObjectName("horizontalLayout");
        logTabWidget = new QTabWidget(ip_dialog);
        logTabWidget->setObjectName("logTabWidget");
        horizontalLayout->addWidget(logTabWidget);
        ip_dialog->setWindowTitle(QApplication::translate("ItemLogDialog", "Item Log"));
    }
};
