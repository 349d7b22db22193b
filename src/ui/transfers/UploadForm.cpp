#include "ui/transfers/UploadForm.h"

#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/search/FilterHelpDialog.h"
#include "ui/users/BrowserLayout.h"
#include "ui/users/ShareBrowserTree.h"
#include "widgets/ActionSetToolBar.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QVBoxLayout>

UploadForm::UploadForm(QString i_user, QWidget* ip_parent) : QWidget(ip_parent), m_user(i_user)
{
    setObjectName(QStringLiteral("UploadForm"));
    resize(559, 316);
    QHBoxLayout* const lp_outer = new QHBoxLayout(this);
    lp_outer->setObjectName(QStringLiteral("horizontalLayout_2"));
    QVBoxLayout* const lp_layout = new QVBoxLayout;
    lp_layout->setObjectName(QStringLiteral("verticalLayout"));
    lp_outer->addLayout(lp_layout);
    BrowserWidgets const l_w = MakeBrowserWidgets(this);
    splitter = l_w.splitter;
    folderTree = l_w.folderTree;
    fileList = l_w.fileList;
    SearchFilterSpacer = l_w.SearchFilterSpacer;
    filterHelpButton = l_w.filterHelpButton;
    filterEdit = l_w.filterEdit;
    lp_layout->addWidget(splitter, 1);
    lp_layout->addLayout(l_w.filterRow);
    mp_browser = std::make_unique<ShareBrowserTree>(folderTree, fileList, filterEdit);
    if (actionBar)
    {
        actionBar->RegisterWidget(folderTree, QStringLiteral("upload_folders"));
        actionBar->RegisterWidget(fileList, QStringLiteral("upload_files"));
    }
    connect(folderTree, &QTreeWidget::currentItemChanged, this, &UploadForm::OnCurrentItemChanged);
    connect(filterEdit, &QLineEdit::textChanged, this, &UploadForm::OnFilterTextChanged);
    connect(filterHelpButton, &QPushButton::clicked, this, &UploadForm::OnFilterHelpClicked);
    d["user"]->GetItem(Value(m_user)) += d["upload_share_tab"]->GetItem(Value(this));
}

UploadForm::~UploadForm()
{
    RemoveDataHandlers();
}

ItemPtr UploadForm::Share() const
{
    return mp_browser->Share();
}

void UploadForm::SetShare(ItemPtr i_share)
{
    if (mp_browser->Share() || !i_share)
        return;
    mp_browser->Build(i_share);
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &UploadForm::OnActionBarTriggered, Qt::UniqueConnection);
    folderTree->show();
    fileList->show();
    filterEdit->show();
    filterHelpButton->show();
}

void UploadForm::ExpandAll()
{
    mp_browser->ExpandAll();
}

void UploadForm::CollapseAll()
{
    mp_browser->CollapseAll();
}

void UploadForm::ExpandLevel()
{
    mp_browser->ExpandLevel();
}

void UploadForm::OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem*)
{
    mp_browser->ListFiles(ip_current);
}

void UploadForm::OnFilterTextChanged(QString i_text)
{
    mp_browser->ApplyFilter(i_text);
}

void UploadForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void UploadForm::OnActionBarTriggered(QWidget* ip_widget, QString i_action)
{
    if (i_action == QLatin1String("upload_share_folder") && ip_widget == folderTree)
    {
        for (QTreeWidgetItem* const lp_row : folderTree->selectedItems())
            if (ItemPtr const l_folder = mp_browser->FolderOfRow(lp_row))
                UploadFolder(l_folder);
    }
    else if (i_action == QLatin1String("upload_share_file") && ip_widget == fileList)
    {
        for (QTreeWidgetItem* const lp_row : fileList->selectedItems())
            if (ItemPtr const l_file = mp_browser->FileOfRow(lp_row))
                UploadFile(l_file, lp_row);
    }
}

void UploadForm::UploadFile(ItemPtr i_file, QTreeWidgetItem* ip_row)
{
    if (!transferQueueManager)
        return;
    QString const l_path = ShareBrowserTree::FilePath(i_file);
    transferQueueManager->AddUpload(m_user, l_path);
    if (!ip_row || !sharedFoldersManager)
        return;
    ItemPtr const l_shared =
        sharedFoldersManager->GetSharedFileItem(QString(l_path).replace(QLatin1Char('\\'), QLatin1Char('/')));
    ItemPtr const l_user = d["user"]->HasItem(Value(m_user));
    if (l_shared && l_user && d.GetItem(l_user, l_shared, "upload_entry"))
        ip_row->setIcon(0, QIcon(QStringLiteral(":/icons/upload_icon")));
}

void UploadForm::UploadFolder(ItemPtr i_folder)
{
    for (ItemPtr const& l_file : i_folder.GetItems("user_share_file"))
        UploadFile(l_file, mp_browser->RowOfFile(l_file));
    for (ItemPtr const& l_sub : ShareBrowserTree::SubFolders(i_folder))
        UploadFolder(l_sub);
}

void UploadForm::Delete()
{
    mp_browser->ClearFileList();
    if (ItemPtr const l_tab = d["upload_share_tab"]->HasItem(Value(this)))
        l_tab.Remove();
    if (ItemPtr const l_share = mp_browser->Share())
    {
        ItemSet const l_folders = l_share.GetItems("user_share_folder");
        for (ItemPtr const& l_folder : l_folders)
            l_folder.GetItems("user_share_file").Remove();
        l_folders.Remove();
        l_share.Remove();
    }
    mp_browser->ForgetShare();
    d.RemoveDisconnectedItems();
    delete this;
}
