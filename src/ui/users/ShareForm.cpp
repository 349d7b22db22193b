#include "ui/users/ShareForm.h"

#include "net/peer/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "ui/search/FilterHelpDialog.h"
#include "ui/search/FilterParser.h"
#include "ui/users/BrowserLayout.h"
#include "ui/users/ShareBrowserTree.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/EventToolBar.h"
#include "widgets/UIFunctions.h"
#include "widgets/WebPages.h"

#include <QIcon>
#include <QMenu>
#include <QVBoxLayout>

namespace
{
QString const c_browseIcon = QStringLiteral(":/icons/browse_icon");
QString const c_downloadIcon = QStringLiteral(":/icons/download_icon");
QString const c_transferIcon = QStringLiteral(":/icons/transfer_icon");
} // namespace

ShareForm::ShareForm(QString i_user, QWidget* ip_parent)
    : QWidget(ip_parent), m_user(i_user), m_noticeShown(false), m_hasShare(false)
{
    setObjectName(QStringLiteral("ShareForm"));
    resize(563, 371);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    messageBrowser = new QTextBrowser(this);
    messageBrowser->setObjectName(QStringLiteral("messageBrowser"));
    messageBrowser->setMaximumHeight(60);
    messageBrowser->setOpenExternalLinks(true);
    BrowserWidgets const l_w = MakeBrowserWidgets(this);
    splitter = l_w.splitter;
    folderTree = l_w.folderTree;
    fileList = l_w.fileList;
    SearchFilterSpacer = l_w.SearchFilterSpacer;
    filterHelpButton = l_w.filterHelpButton;
    filterEdit = l_w.filterEdit;
    lp_layout->addWidget(messageBrowser);
    lp_layout->addWidget(splitter, 1);
    lp_layout->addLayout(l_w.filterRow);
    mp_browser = std::make_unique<ShareBrowserTree>(folderTree, fileList, filterEdit);

    if (actionBar)
    {
        actionBar->RegisterWidget(folderTree, QStringLiteral("share_folders"));
        actionBar->RegisterWidget(fileList, QStringLiteral("share_files"));
    }
    d["user"]->GetItem(Value(m_user)) += d["user_share_tab"]->GetItem(Value(this));
    messageBrowser->append(tr("Requesting file list..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this,
                &ShareForm::OnConnectionToUserFailed);
    folderTree->setContextMenuPolicy(Qt::CustomContextMenu);
    fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(folderTree, &QTreeWidget::customContextMenuRequested, this,
            &ShareForm::OnFolderContextMenuRequested);
    connect(fileList, &QTreeWidget::customContextMenuRequested, this,
            &ShareForm::OnFileContextMenuRequested);
    connect(folderTree, &QTreeWidget::currentItemChanged, this, &ShareForm::OnCurrentItemChanged);
    connect(filterEdit, &QLineEdit::textChanged, this, &ShareForm::OnFilterTextChanged);
    connect(filterHelpButton, &QPushButton::clicked, this, &ShareForm::OnFilterHelpClicked);
}

ShareForm::~ShareForm()
{
    RemoveDataHandlers();
}

ItemPtr ShareForm::Share() const
{
    return mp_browser->Share();
}

void ShareForm::SetShare(ItemPtr i_share)
{
    // A second list for the same user arrives as the very share already shown.
    if (m_hasShare || !i_share)
        return;
    m_hasShare = true;
    m_noticeShown = true;
    if (i_share.GetItems("user_share_folder").empty())
    {
        mp_browser->Build(i_share);
        messageBrowser->append(tr("No files returned. The user is either not sharing any files, "
                                  "or is sharing all of their files privately."));
        if (eventToolBar)
            eventToolBar->AddEvent(m_user, c_browseIcon, messageBrowser, QString());
        return;
    }
    mp_browser->Build(i_share);
    d["user_share"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &ShareForm::OnUserShareItemRemoved));
    messageBrowser->hide();
    folderTree->show();
    fileList->show();
    filterEdit->show();
    filterHelpButton->show();
    if (eventToolBar)
        eventToolBar->AddEvent(m_user, c_browseIcon, folderTree, QString());
    connect(folderTree, &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFolderDoubleClicked);
    connect(fileList, &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFileDoubleClicked);
    if (!m_pendingFolder.empty())
        BrowseToFolder(m_pendingFolder);
}

void ShareForm::BrowseToFolder(std::string const& i_folder)
{
    if (!mp_browser->Share())
    {
        m_pendingFolder = i_folder;
        return;
    }
    ItemPtr const l_folder = ShareBrowserTree::FindFolder(mp_browser->Share(), i_folder);
    if (QTreeWidgetItem* const lp_row = l_folder ? mp_browser->RowOfFolder(l_folder) : nullptr)
    {
        folderTree->scrollToItem(lp_row, QAbstractItemView::PositionAtTop);
        folderTree->setCurrentItem(lp_row);
    }
}

void ShareForm::Delete()
{
    mp_browser->ClearFileList();
    mp_browser->ForgetShare();
    if (sharedFoldersManager)
        sharedFoldersManager->RemoveUserShare(m_user);
    if (ItemPtr const l_tab = d["user_share_tab"]->HasItem(Value(this)))
        l_tab.Remove();
    delete this;
}

void ShareForm::ExpandLevel()
{
    mp_browser->ExpandLevel();
}

void ShareForm::CollapseAll()
{
    mp_browser->CollapseAll();
}

void ShareForm::ExpandAll()
{
    mp_browser->ExpandAll();
}

bool ShareForm::FilterFolderNode(QTreeWidgetItem* ip_row, FilterParser& io_filter)
{
    return mp_browser->FilterFolderNode(ip_row, io_filter);
}

void ShareForm::OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem*)
{
    mp_browser->ListFiles(ip_current);
}

void ShareForm::OnFilterTextChanged(QString i_text)
{
    mp_browser->ApplyFilter(i_text);
}

void ShareForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void ShareForm::OnFolderContextMenuRequested(QPoint i_point)
{
    if (!folderTree->itemAt(i_point))
        return;
    QMenu l_menu;
    l_menu.addAction(QIcon(c_transferIcon), tr("Download Folder"), this, &ShareForm::OnDownloadFolder);
    l_menu.exec(QCursor::pos());
}

void ShareForm::OnFileContextMenuRequested(QPoint)
{
    QMenu l_menu;
    l_menu.addAction(QIcon(c_transferIcon), tr("Download File(s)"), this, &ShareForm::OnDownloadFile);
    l_menu.exec(QCursor::pos());
}

void ShareForm::OnFolderDoubleClicked(QTreeWidgetItem* ip_row, int)
{
    if (ItemPtr const l_folder = mp_browser->FolderOfRow(ip_row))
        DownloadFolder(l_folder, false);
}

void ShareForm::OnFileDoubleClicked(QTreeWidgetItem* ip_row, int)
{
    DownloadFileRow(ip_row);
}

void ShareForm::OnDownloadFolder()
{
    for (QTreeWidgetItem* const lp_row : folderTree->selectedItems())
        if (ItemPtr const l_folder = mp_browser->FolderOfRow(lp_row))
            DownloadFolder(l_folder, false);
}

void ShareForm::OnDownloadFile()
{
    for (QTreeWidgetItem* const lp_row : fileList->selectedItems())
        DownloadFileRow(lp_row);
}

void ShareForm::DownloadFileRow(QTreeWidgetItem* ip_row)
{
    ItemPtr const l_file = mp_browser->FileOfRow(ip_row);
    ItemPtr const l_folder = l_file["user_share_folder"];
    if (!l_file || !l_folder || !transferQueueManager)
        return;
    transferQueueManager->AddDownload(l_folder["user_share"]["user"].AsString(),
                                      l_file["user_share_file_name"].AsStdString(),
                                      l_folder["user_share_folder_name"].AsStdString(),
                                      l_file["file_size"].AsInt64(), 0);
    ip_row->setIcon(0, QIcon(c_downloadIcon));
}

void ShareForm::DownloadFolder(ItemPtr i_folder, bool i_below)
{
    if (!transferQueueManager)
        return;
    QString const l_user = i_folder["user_share"]["user"].AsString();
    std::string const l_path = i_folder["user_share_folder_name"].AsStdString();
    for (ItemPtr const& l_file : i_folder.GetItems("user_share_file"))
    {
        transferQueueManager->AddDownload(l_user, l_file["user_share_file_name"].AsStdString(), l_path,
                                          l_file["file_size"].AsInt64(), i_below ? 1 : 0);
        if (QTreeWidgetItem* const lp_row = mp_browser->RowOfFile(l_file))
            lp_row->setIcon(0, QIcon(c_downloadIcon));
    }
    for (ItemPtr const& l_sub : ShareBrowserTree::SubFolders(i_folder))
        DownloadFolder(l_sub, true);
}

void ShareForm::OnConnectionToUserFailed(QString i_user, QString i_type)
{
    if (m_noticeShown || i_user != m_user || i_type != QLatin1String("P"))
        return;
    m_noticeShown = true;
    QString const l_href =
        WebPageUrl(QStringLiteral("/porttest.php"), QStringLiteral("port"),
                   QString::number(GetSettingInt("listening_port")))
            .toString(QUrl::FullyEncoded);
    messageBrowser->append(
        tr("A connection could not be successfully formed to the user. If this is happening to you "
           "a lot, ") +
        QStringLiteral("<a href=\"%1\">%2</a>").arg(l_href.toHtmlEscaped(), tr("Check here")) +
        tr(" to make sure that your port is open."));
    if (eventToolBar)
        eventToolBar->AddEvent(m_user, c_browseIcon, messageBrowser, QString());
}

void ShareForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(folderTree);
}

void ShareForm::OnUserShareItemRemoved(ItemPtr i_share)
{
    if (i_share == mp_browser->Share())
        mp_browser->ForgetShare();
}
