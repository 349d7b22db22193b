#pragma once

// The layout of a log form: one text browser filling the form.

#include <QApplication>
#include <QHBoxLayout>
#include <QTextBrowser>
#include <QWidget>

class Ui_LogForm
{
public:
    QHBoxLayout* horizontalLayout;
    QTextBrowser* textBrowser;

    void setupUi(QWidget* ip_form)
    {
        if (ip_form->objectName().isEmpty())
            ip_form->setObjectName("LogForm");
        ip_form->resize(400, 300);
        horizontalLayout = new QHBoxLayout(ip_form);
        horizontalLayout->setObjectName("horizontalLayout");
        textBrowser = new QTextBrowser(ip_form);
        textBrowser->setObjectName("textBrowser");
        horizontalLayout->addWidget(textBrowser);
        ip_form->setWindowTitle(QApplication::translate("LogForm", "Form"));
    }
};
