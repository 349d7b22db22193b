#pragma once

// The layout of the item-store browser: the type list on the left; on the right the
// items of the chosen type above the connection tree of the clicked item.

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QListWidget>
#include <QSplitter>
#include <QTreeWidget>

class Ui_DataDialog
{
public:
    QHBoxLayout* horizontalLayout;
    QSplitter* typeSplitter;
    QTreeWidget* typeList;
    QSplitter* itemSplitter;
    QListWidget* itemList;
    QTreeWidget* itemDataTree;

    void setupUi(QDialog* ip_dialog)
    {
        if (ip_dialog->objectName().isEmpty())
            ip_dialog->setObjectName("DataDialog");
        ip_dialog->resize(784, 417);
        horizontalLayout = new QHBoxLayout(ip_dialog);
        horizontalLayout->setObjectName("horizontalLayout");
        typeSplitter = new QSplitter(ip_dialog);
        typeSplitter->setObjectName("typeSplitter");
        typeSplitter->setOrientation(Qt::Horizontal);
        typeList = new QTreeWidget(typeSplitter);
        typeList->setObjectName("typeList");
        typeList->setRootIsDecorated(false);
        typeList->setSortingEnabled(false);
        typeSplitter->addWidget(typeList);
        itemSplitter = new QSplitter(typeSplitter);
        itemSplitter->setObjectName("itemSplitter");
        itemSplitter->setOrientation(Qt::Vertical);
        itemList = new QListWidget(itemSplitter);
        itemList->setObjectName("itemList");
        itemSplitter->addWidget(itemList);
        itemDataTree = new QTreeWidget(itemSplitter);
        itemDataTree->setObjectName("itemDataTree");
        itemDataTree->setHeaderLabels({QStringLiteral("1")});
        itemSplitter->addWidget(itemDataTree);
        typeSplitter->addWidget(itemSplitter);
        horizontalLayout->addWidget(typeSplitter);
        ip_dialog->setWindowTitle(QApplication::translate("DataDialog", "Dialog"));
    }
};
