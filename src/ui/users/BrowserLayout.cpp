#include "ui/users/BrowserLayout.h"

#include <QHeaderView>

BrowserWidgets MakeBrowserWidgets(QWidget* ip_parent)
{
    BrowserWidgets l_w;
    l_w.splitter = new QSplitter(Qt::Horizontal, ip_parent);
    l_w.splitter->setObjectName(QStringLiteral("splitter"));
    l_w.folderTree = new QTreeWidget(l_w.splitter);
    l_w.folderTree->setObjectName(QStringLiteral("folderTree"));
    l_w.folderTree->setHeaderLabels({QObject::tr("Folder")});
    l_w.folderTree->setSortingEnabled(false);
    l_w.fileList = new QTreeWidget(l_w.splitter);
    l_w.fileList->setObjectName(QStringLiteral("fileList"));
    l_w.fileList->setRootIsDecorated(false);
    l_w.fileList->setHeaderLabels({QObject::tr("File"), QObject::tr("Size"), QObject::tr("Attributes")});
    l_w.fileList->setColumnWidth(0, 200);
    l_w.fileList->setColumnWidth(1, 70);
    l_w.fileList->header()->setStretchLastSection(true);
    l_w.fileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    l_w.fileList->setSortingEnabled(true);
    l_w.fileList->sortByColumn(0, Qt::AscendingOrder);
    l_w.splitter->setStretchFactor(0, 1);
    l_w.splitter->setStretchFactor(1, 2);
    l_w.filterRow = new QHBoxLayout;
    l_w.filterRow->setObjectName(QStringLiteral("horizontalLayout"));
    l_w.filterRow->setSizeConstraint(QLayout::SetMinimumSize);
    l_w.SearchFilterSpacer = new QLabel(ip_parent);
    l_w.SearchFilterSpacer->setObjectName(QStringLiteral("SearchFilterSpacer"));
    l_w.SearchFilterSpacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    l_w.filterHelpButton = new QPushButton(QObject::tr("Filter Help"), ip_parent);
    l_w.filterHelpButton->setObjectName(QStringLiteral("filterHelpButton"));
    l_w.filterEdit = new QLineEdit(ip_parent);
    l_w.filterEdit->setObjectName(QStringLiteral("filterEdit"));
    l_w.filterEdit->setMinimumWidth(200);
    l_w.filterRow->addWidget(l_w.SearchFilterSpacer);
    l_w.filterRow->addWidget(l_w.filterHelpButton);
    l_w.filterRow->addWidget(l_w.filterEdit);
    ShowBrowserWidgets(l_w, false);
    return l_w;
}

void ShowBrowserWidgets(BrowserWidgets const& i_widgets, bool i_shown)
{
    i_widgets.folderTree->setVisible(i_shown);
    i_widgets.fileList->setVisible(i_shown);
    i_widgets.filterEdit->setVisible(i_shown);
    i_widgets.filterHelpButton->setVisible(i_shown);
}
