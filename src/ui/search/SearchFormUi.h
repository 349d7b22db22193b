#pragma once

// The layout of the search page: "Manual Searches" (the search line above the results
// tabs) and "Wish List Searches" (the wish tabs beside the list of wishes).

#include "widgets/TabWidget.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

class Ui_SearchForm
{
public:
    QHBoxLayout* horizontalLayout_2;
    TabWidget* tabWidget;
    QWidget* manualSearchesTab;
    QHBoxLayout* horizontalLayout_4;
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout_3;
    QLineEdit* searchEdit;
    QPushButton* searchButton;
    QSplitter* searchSplitter_2;
    TabWidget* searchTabControl;
    QWidget* wishListSearchesTab;
    QHBoxLayout* horizontalLayout;
    QSplitter* searchSplitter;
    TabWidget* wishListTabControl;
    QTreeWidget* wishList;

    void setupUi(QWidget* ip_form)
    {
        if (ip_form->objectName().isEmpty())
            ip_form->setObjectName("SearchForm");
        ip_form->resize(757, 447);
        horizontalLayout_2 = new QHBoxLayout(ip_form);
        horizontalLayout_2->setObjectName("horizontalLayout_2");
        tabWidget = new TabWidget(ip_form);
        tabWidget->setObjectName("tabWidget");

        manualSearchesTab = new QWidget();
        manualSearchesTab->setObjectName("manualSearchesTab");
        horizontalLayout_4 = new QHBoxLayout(manualSearchesTab);
        horizontalLayout_4->setObjectName("horizontalLayout_4");
        verticalLayout = new QVBoxLayout();
        verticalLayout->setObjectName("verticalLayout");
        horizontalLayout_3 = new QHBoxLayout();
        horizontalLayout_3->setObjectName("horizontalLayout_3");
        searchEdit = new QLineEdit(manualSearchesTab);
        searchEdit->setObjectName("searchEdit");
        horizontalLayout_3->addWidget(searchEdit);
        searchButton = new QPushButton(manualSearchesTab);
        searchButton->setObjectName("searchButton");
        horizontalLayout_3->addWidget(searchButton);
        verticalLayout->addLayout(horizontalLayout_3);
        searchSplitter_2 = new QSplitter(manualSearchesTab);
        searchSplitter_2->setObjectName("searchSplitter_2");
        searchSplitter_2->setOrientation(Qt::Horizontal);
        searchTabControl = new TabWidget(searchSplitter_2);
        SetUpResultTabs(searchTabControl, "searchTabControl");
        searchSplitter_2->addWidget(searchTabControl);
        verticalLayout->addWidget(searchSplitter_2);
        horizontalLayout_4->addLayout(verticalLayout);
        tabWidget->addTab(manualSearchesTab, QString());

        wishListSearchesTab = new QWidget();
        wishListSearchesTab->setObjectName("wishListSearchesTab");
        horizontalLayout = new QHBoxLayout(wishListSearchesTab);
        horizontalLayout->setObjectName("horizontalLayout");
        searchSplitter = new QSplitter(wishListSearchesTab);
        searchSplitter->setObjectName("searchSplitter");
        searchSplitter->setOrientation(Qt::Horizontal);
        wishListTabControl = new TabWidget(searchSplitter);
        SetUpResultTabs(wishListTabControl, "wishListTabControl");
        searchSplitter->addWidget(wishListTabControl);
        wishList = new QTreeWidget(searchSplitter);
        wishList->setObjectName("wishList");
        wishList->setRootIsDecorated(false);
        wishList->setSortingEnabled(true);
        wishList->setMaximumSize(16777215, 16777215);
        searchSplitter->addWidget(wishList);
        horizontalLayout->addWidget(searchSplitter);
        tabWidget->addTab(wishListSearchesTab, QString());

        horizontalLayout_2->addWidget(tabWidget);
        retranslateUi(ip_form);
        tabWidget->setCurrentIndex(0);
    }

    void retranslateUi(QWidget* ip_form)
    {
        ip_form->setWindowTitle(QApplication::translate("SearchForm", "Form"));
        searchButton->setText(QApplication::translate("SearchForm", "Search"));
        tabWidget->setTabText(tabWidget->indexOf(manualSearchesTab),
                              QApplication::translate("SearchForm", "Manual Searches"));
        tabWidget->setTabText(tabWidget->indexOf(wishListSearchesTab),
                              QApplication::translate("SearchForm", "Wish List Searches"));
    }

private:
    static void SetUpResultTabs(TabWidget* ip_tabs, char const* ip_name)
    {
        ip_tabs->setObjectName(ip_name);
        QSizePolicy l_policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        l_policy.setVerticalStretch(1);
        ip_tabs->setSizePolicy(l_policy);
        ip_tabs->setContextMenuPolicy(Qt::CustomContextMenu);
        ip_tabs->setTabsClosable(true);
    }
};
