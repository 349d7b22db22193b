#pragma once

// The layout of the diagnostics page: a "Tracked Users" tab and a "Logs" tab that holds
// one tab per log area.

#include <QApplication>
#include <QHBoxLayout>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWidget>

class Ui_DiagnosticsForm
{
public:
    QHBoxLayout* horizontalLayout;
    QTabWidget* tabWidget;
    QWidget* tab_2;
    QHBoxLayout* horizontalLayout_8;
    QTreeWidget* trackedUsersTree;
    QWidget* tab;
    QHBoxLayout* horizontalLayout_2;
    QTabWidget* logTabWidget;

    void setupUi(QWidget* ip_form)
    {
        if (ip_form->objectName().isEmpty())
            ip_form->setObjectName("DiagnosticsForm");
        ip_form->resize(437, 331);
        horizontalLayout = new QHBoxLayout(ip_form);
        horizontalLayout->setObjectName("horizontalLayout");
        tabWidget = new QTabWidget(ip_form);
        tabWidget->setObjectName("tabWidget");

        tab_2 = new QWidget();
        tab_2->setObjectName("tab_2");
        horizontalLayout_8 = new QHBoxLayout(tab_2);
        horizontalLayout_8->setObjectName("horizontalLayout_8");
        trackedUsersTree = new QTreeWidget(tab_2);
        trackedUsersTree->setObjectName("trackedUsersTree");
        horizontalLayout_8->addWidget(trackedUsersTree);
        tabWidget->addTab(tab_2, QString());

        tab = new QWidget();
        tab->setObjectName("tab");
        horizontalLayout_2 = new QHBoxLayout(tab);
        horizontalLayout_2->setObjectName("horizontalLayout_2");
        logTabWidget = new QTabWidget(tab);
        logTabWidget->setObjectName("logTabWidget");
        horizontalLayout_2->addWidget(logTabWidget);
        tabWidget->addTab(tab, QString());

        horizontalLayout->addWidget(tabWidget);
        retranslateUi(ip_form);
        tabWidget->setCurrentIndex(1);
    }

    void retranslateUi(QWidget* ip_form)
    {
        ip_form->setWindowTitle(QApplication::translate("DiagnosticsForm", "Form"));
        tabWidget->setTabText(tabWidget->indexOf(tab_2),
                              QApplication::translate("DiagnosticsForm", "Tracked Users"));
        tabWidget->setTabText(tabWidget->indexOf(tab),
                              QApplication::translate("DiagnosticsForm", "Logs"));
    }
};
