#include "ui/transfers/TransfersForm.h"

#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/transfers/TransferTreeKind.h"
#include "ui_TransfersForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/SizeManager.h"
#include "widgets/UIFunctions.h"

#include <QHeaderView>
#include <QKeyEvent>

TransfersForm* transfersForm = nullptr;

namespace
{
struct Column
{
    char const* mp_header;
    int m_width;
};

// "   ETA" begins with three blanks, as the time-left texts do.
Column const c_columns[] = {{"User", 100},    {"Folder", 125},  {"File", 125},
                            {"Status", 100},  {"Progress", 140}, {"   ETA", 80},
                            {"Kbs", 40},      {"Size", 90},     {"Place", 40}};
int const c_speedColumn = 6;
int const c_downloadColumns = 9;
int const c_uploadColumns = 8;

void SetUpTree(QTreeWidget* ip_tree, int i_columns, bool i_stretchLast)
{
    ip_tree->setColumnCount(i_columns);
    QStringList l_headers;
    for (int l_column = 0; l_column < i_columns; ++l_column)
        l_headers << QString::fromLatin1(c_columns[l_column].mp_header);
    ip_tree->setHeaderLabels(l_headers);
    for (int l_column = 0; l_column < i_columns; ++l_column)
        ip_tree->setColumnWidth(l_column, c_columns[l_column].m_width);
    // A speed of a few hundred KB/s must not be cut short where the font is wider than
    // the column was made for.
    int const l_speedWidth = ip_tree->fontMetrics().horizontalAdvance(QStringLiteral("9999.9")) + 12;
    if (ip_tree->columnWidth(c_speedColumn) < l_speedWidth)
        ip_tree->setColumnWidth(c_speedColumn, l_speedWidth);
    ip_tree->setSortingEnabled(false);
    // Every row is one line high (the bars are held to 14 pixels); saying so spares the
    // view measuring rows one by one each time it places the bars, which with thousands
    // of transfers would dominate every refresh.
    ip_tree->setUniformRowHeights(true);
    ip_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    ip_tree->header()->setSectionsMovable(false);
    ip_tree->header()->setStretchLastSection(i_stretchLast);
}

// The six row node types: Primary, keyed by the row's address, made on lookup, never
// saved.
Type* NodeType(char const* ip_name)
{
    return d.NewType(ip_name, Primary, false, true);
}
} // namespace

TransfersForm::TransfersForm(QWidget* ip_parent)
    : QWidget(ip_parent),
      mp_ui(new Ui_TransfersForm),
      m_transfersLoaded(false),
      m_expandDownloadFolders(true),
      m_expandDownloadUsers(true),
      m_expandUploadFolders(true),
      m_expandUploadUsers(true)
{
    mp_ui->setupUi(this);
    transfersForm = this;
    SetUpTree(mp_ui->downloadsList, c_downloadColumns, true);
    SetUpTree(mp_ui->uploadsList, c_uploadColumns, false);
    mp_downloads.reset(new TransferTreeKind{mp_ui->downloadsList, "download_list_user_node",
                                            "download_list_folder_node", "download_list_node",
                                            "download_entry", "download_entry_status",
                                            "write_position", "downloading", true});
    mp_uploads.reset(new TransferTreeKind{mp_ui->uploadsList, "upload_list_user_node",
                                          "upload_list_folder_node", "upload_list_node",
                                          "upload_entry", "upload_entry_status", "read_position",
                                          "uploading", false});

    connect(mp_ui->downloadsList, &QTreeWidget::itemDoubleClicked, this,
            &TransfersForm::OnDownloadListItemDoubleClicked);
    connect(mp_ui->downloadsList, &TreeWidget::KeyPressed, this,
            &TransfersForm::OnKeyPressedInDownloadList);
    connect(mp_ui->downloadsList, &QWidget::customContextMenuRequested, this,
            &TransfersForm::OnDownloadsContextMenuRequested);
    connect(mp_ui->uploadsList, &QWidget::customContextMenuRequested, this,
            &TransfersForm::OnUploadsContextMenuRequested);
    connect(mp_ui->transfersTabControl, &QTabWidget::currentChanged, this,
            &TransfersForm::OnCurrentTabChanged);
}

TransfersForm::~TransfersForm()
{
    RemoveDataHandlers();
    if (transfersForm == this)
        transfersForm = nullptr;
    delete mp_ui;
}

void TransfersForm::Init()
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    {
        auto* lp_root = new PathNode(&d, "download_entry");
        for (char const* lp_type : {"user", "file_name", "file_size", "remote_folder"})
            new PathNode(lp_root, lp_type, PathConnected);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &TransfersForm::OnDownloadEntryAdded));
    }
    DeclareDownloadTypes();
    d.AddConnectionEventHandler(d["download_entry"], d["download_entry_status"],
                                CreateHandler(this, &TransfersForm::OnDownloadEntryStatusChange));
    d.AddConnectionEventHandler(d["upload_entry"], d["upload_entry_status"],
                                CreateHandler(this, &TransfersForm::OnUploadEntryStatusChange));
    connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this,
            &TransfersForm::OnDownloadProgress);
    connect(transferQueueManager, &TransferQueueManager::UploadProgressed, this,
            &TransfersForm::OnUploadProgress);
    {
        auto* lp_root = new PathNode(&d, "upload_entry");
        new PathNode(lp_root, "user", PathConnected);
        new PathNode(lp_root, "shared_file", PathConnected);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &TransfersForm::OnUploadEntryAdded));
    }
    DeclareUploadTypes();
    m_transfersLoaded = false;
    connect(transferQueueManager, &TransferQueueManager::TransfersLoaded, this,
            &TransfersForm::OnTransfersLoaded);
    d["download_entry"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransfersForm::OnDownloadEntryRemoved));
    d["upload_entry"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &TransfersForm::OnUploadEntryRemoved));
    RegisterActions();
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &TransfersForm::OnActionBarTriggered);
    {
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "is_online", PathConnecting);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &TransfersForm::OnUserOnline));
    }
    {
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "is_online", PathDisconnecting);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &TransfersForm::OnUserOffline));
    }
    {
        auto* lp_root = new PathNode(&d, "download_entry");
        new PathNode(lp_root, "place_in_line", PathConnected);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &TransfersForm::OnDownloadPlaceInLine));
    }
    dataSaver->AddDataLoadedEventHandler(this);
    for (QTreeWidget* lp_tree : {static_cast<QTreeWidget*>(mp_ui->downloadsList), mp_ui->uploadsList})
    {
        connect(lp_tree, &QTreeWidget::itemExpanded, this, &TransfersForm::OnItemExpanded);
        connect(lp_tree, &QTreeWidget::itemCollapsed, this, &TransfersForm::OnItemCollapsed);
    }
    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this,
                &TransfersForm::EveryHalfMinute);
    connect(this, &TransfersForm::DownloadComplete, this, &TransfersForm::OnDownloadComplete,
            Qt::QueuedConnection);
    mp_ui->downloadsList->setFocus();
    RegisterWidgetForTabFocus(mp_ui->downloadsList, 1);
    RegisterWidgetForTabFocus(mp_ui->uploadsList, 1);

    Type* const lp_alert = d.NewType("complete_download_alert", Primary, true, true);
    lp_alert->RelateToType(d["download_entry"], One, One);
    lp_alert->RelateToType(d["user"], Many, One);
    lp_alert->RelateToType(d["remote_folder"], Many, One);

    // The rows' tallies follow what their figures are made of; nothing is shown here.
    d.AddConnectionEventHandler(d["download_entry"], d["write_position"],
                                CreateHandler(this, &TransfersForm::OnDownloadPositionLinked));
    d.AddDisconnectionEventHandler(d["download_entry"], d["write_position"],
                                   CreateHandler(this, &TransfersForm::OnDownloadPositionLinked));
    d.AddConnectionEventHandler(d["upload_entry"], d["read_position"],
                                CreateHandler(this, &TransfersForm::OnUploadPositionLinked));
    d.AddDisconnectionEventHandler(d["upload_entry"], d["read_position"],
                                   CreateHandler(this, &TransfersForm::OnUploadPositionLinked));
    d.AddConnectionEventHandler(d["download_entry"], d["file_size"],
                                CreateHandler(this, &TransfersForm::OnDownloadSizeLinked));
    d.AddConnectionEventHandler(d["shared_file"], d["shared_file_size"],
                                CreateHandler(this, &TransfersForm::OnSharedFileSizeLinked));

    UpdateActiveTransferCounts();
}

void TransfersForm::DeclareDownloadTypes()
{
    NodeType("download_list_user_node")->RelateToType(d["user"], One, One);
    Type* const lp_folderNode = NodeType("download_list_folder_node");
    lp_folderNode->RelateToType(d["download_list_user_node"], Many, One);
    lp_folderNode->RelateToType(d["remote_folder"], Many, One);
    NodeType("download_list_node")->RelateToType(d["download_entry"], One, One);
    lp_folderNode->RelateToType(d["download_list_node"], One, Many);
}

void TransfersForm::DeclareUploadTypes()
{
    NodeType("upload_list_user_node")->RelateToType(d["user"], One, One);
    Type* const lp_folderNode = NodeType("upload_list_folder_node");
    lp_folderNode->RelateToType(d["upload_list_user_node"], Many, One);
    lp_folderNode->RelateToType(d["shared_file_folder"], Many, One);
    NodeType("upload_list_node")->RelateToType(d["upload_entry"], One, One);
    lp_folderNode->RelateToType(d["upload_list_node"], One, Many);
}

void TransfersForm::DataLoaded()
{
    mp_ui->uploadLimitSpinBox->setValue(GetSettingInt("upload_speed_limit"));
    mp_ui->uploadSlotsSpinBox->setValue(GetSettingInt("upload_slots"));
    mp_ui->uploadLimitCheckBox->setChecked(IsSettingYes("upload_speed_limit_enabled"));
    mp_ui->clearDownloadsCheckBox->setChecked(IsSettingYes("clear_complete_downloads"));
    mp_ui->clearUploadsCheckBox->setChecked(IsSettingYes("clear_complete_aborted_uploads"));
    // Only now, so that showing the stored values runs none of these.
    connect(mp_ui->uploadLimitSpinBox, &QSpinBox::valueChanged, this,
            &TransfersForm::OnUploadSpeedLimitSpinValueChanged, Qt::UniqueConnection);
    connect(mp_ui->uploadLimitCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnUploadSpeedLimitCheckStateChanged, Qt::UniqueConnection);
    connect(mp_ui->clearDownloadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearDownloadsCheckStateChanged, Qt::UniqueConnection);
    connect(mp_ui->clearUploadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearUploadsCheckStateChanged, Qt::UniqueConnection);
    connect(mp_ui->uploadSlotsSpinBox, &QSpinBox::valueChanged, this,
            &TransfersForm::OnUploadSlotsSpinValueChanged, Qt::UniqueConnection);
    if (sizeManager)
    {
        sizeManager->RegisterTreeWidget(QStringLiteral("download_list"), mp_ui->downloadsList);
        sizeManager->RegisterTreeWidget(QStringLiteral("upload_list"), mp_ui->uploadsList);
    }
}

void TransfersForm::OnTransfersLoaded()
{
    m_transfersLoaded = true;
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems().SortNumericBy("download_order", true))
        OnDownloadEntryAdded(l_entry);
}

void TransfersForm::OnCurrentTabChanged(int /*i_index*/)
{
}

void TransfersForm::RegisterActions()
{
    if (!actionBar)
        return;
    struct Action
    {
        char const* mp_set;
        char const* mp_id;
        char const* mp_text;
    };
    Action const c_actions[] = {
        {"downloads", "expand_download_folders", "Expand Folders"},
        {"downloads", "expand_download_users", "Expand Users"},
        {"downloads", "clear_complete_downloads", "Clear Complete"},
        {"uploads", "expand_upload_folders", "Expand Folders"},
        {"uploads", "expand_upload_users", "Expand Users"},
        {"uploads", "clear_complete_and_aborted_uploads", "Clear Complete and Aborted"}};
    for (Action const& l_action : c_actions)
        actionBar->AddSetAction(l_action.mp_set, l_action.mp_id, l_action.mp_text,
                                QStringLiteral(":/icons/transfer_icon"), false);
    actionBar->RegisterWidget(mp_ui->downloadsList, QStringLiteral("downloads"));
    actionBar->RegisterWidget(mp_ui->uploadsList, QStringLiteral("uploads"));
    actionBar->SetWidgetActionText(mp_ui->downloadsList, "expand_download_folders", "Expand Folders [on]");
    actionBar->SetWidgetActionText(mp_ui->downloadsList, "expand_download_users", "Expand Users [on]");
    actionBar->SetWidgetActionText(mp_ui->uploadsList, "expand_upload_folders", "Expand Folders [on]");
    actionBar->SetWidgetActionText(mp_ui->uploadsList, "expand_upload_users", "Expand Users [on]");
}
