#include "app/MainWindow.h"

#include "net/peer/DNetManager.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/DataSaver.h"
#include "store/DelayedInvoker.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/chat/UserNoteDialog.h"
#include "ui/dialogs/ChangeUsernamePasswordDialog.h"
#include "ui/dialogs/DiagnosticsForm.h"
#include "ui/search/SearchForm.h"
#include "ui/search/WishListSearcher.h"
#include "ui/transfers/TransfersForm.h"
#include "ui/users/SharesForm.h"
#include "ui/users/UserListForm.h"
#include "ui_MainWindow.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/EventToolBar.h"
#include "widgets/SizeManager.h"
#include "widgets/UIFunctions.h"

#include <QApplication>
#include <QMessageBox>
#include <QTextCodec>

namespace
{
struct PaletteSetting
{
    char const* m_key;
    QPalette::ColorRole m_role;
};

// The six colours of the window's own palette, in the order they are applied.
PaletteSetting const c_paletteSettings[] = {
    {"color_window_background", QPalette::Window},
    {"color_window_text", QPalette::WindowText},
    {"color_input_background", QPalette::Base},
    {"color_input_text", QPalette::Text},
    {"color_button_background", QPalette::Button},
    {"color_button_text", QPalette::ButtonText},
};

struct Default
{
    char const* m_key;
    char const* m_value;
};

// The window's defaults after the palette colours.
Default const c_defaultsBeforePalette[] = {
    {"minimize_to_tray", "yes"},
    {"expand_new_shares", "yes"},
    {"chat_timestamps", "activity_based"},
};
Default const c_defaultsAfterPalette[] = {
    {"color_transfer_queued", "#3366ff"},
    {"color_transfer_complete", "#006400"},
    {"color_transfer_in_progress", "#0000ff"},
    {"color_transfer_failed", "#ff0a47"},
    {"color_transfer_other", "#000000"},
    {"color_chat_username", "#0033ff"},
    {"color_chat_timestamp", "#0066ff"},
    {"color_chat_status", "#339933"},
    {"log_room_chat", "yes"},
    {"log_private_chat", "yes"},
};

// The chat timestamp choices by index of the box; any other index means the last.
char const* const c_chatTimestamps[] = {"activity_based", "per_message_short",
                                        "per_message_long", "no_timestamps"};
} // namespace

void MainWindow::Init()
{
    setWindowTitle(BuildTitle(g_currentVersion));
    mp_dataDialog = nullptr;
    mp_typeNavigator = nullptr;

    new TimerManager();
    new DataSaver();
    mp_server = new Server();

    DeclareSettingsTypes();

    mp_server->CreateData();
    qRegisterMetaType<ItemPtr>("ItemPtr");
    connect(mp_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(mp_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(mp_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);
    connect(ui->connectButton, &QPushButton::clicked, this, &MainWindow::OnConnectClicked);
    connect(ui->roomList, &QTreeWidget::itemDoubleClicked, this,
            &MainWindow::OnRoomListItemDoubleClicked);

    DeclareRoomTypes();
    ui->mainToolBar->Init();
    AddActionSets();

    new PeerMessenger();
    DeclareRecordTypes();

    new DelayedInvoker();
    new DNetManager();
    new SharedFoldersManager(this);

    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon.setIcon(QIcon(QStringLiteral(":/icons/offline_icon")));

    DeclareTabTypes();

    new SizeManager();
    ui->diagnosticsForm->Init();
    new TransferQueueManager();
    ui->transfersForm->Init();
    ui->sharesForm->Init();
    ui->searchForm->Init();
    new WishListSearcher(this);

    setContextMenuPolicy(Qt::NoContextMenu);
    EventToolBar* const lp_eventToolBar = new EventToolBar(this);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, lp_eventToolBar);

    WatchSetting("username", CreateHandler(this, &MainWindow::OnUsernameChanged));
    connect(mp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);

    WriteDefaults();

    connect(ui->logRoomChatCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnLogRoomChatCheckBoxClicked);
    connect(ui->logPrivateChatCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnLogPrivateChatCheckBoxClicked);
    connect(ui->emptyShareWarningCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnEmptyShareWarningMessageCheckBoxClicked);
    WatchSetting("obfuscated_listening_port", CreateHandler(this, &MainWindow::OnObfuscatedPortSet));
    connect(ui->maxUploadsPerUserSpinBox, &QSpinBox::valueChanged, this,
            &MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged);

    new ExtendedAsciiTranslator();
    FillCodePageBox();

    LoadStore();

    QString const l_codePage = GetSetting(ExtendedAsciiTranslator::c_settingKey);
    if (!l_codePage.isEmpty())
        for (int l_entry = 0; l_entry < ui->codePageBox->count(); ++l_entry)
            if (ui->codePageBox->itemText(l_entry) == l_codePage)
            {
                ui->codePageBox->setCurrentIndex(l_entry);
                break;
            }
    ApplyColours();
    SetSetting("data_version", QStringLiteral("1"));
    AskForUsername();
    if (HasSetting("username"))
        mp_server->Connect();
    SetOptionsControls();

    RestoreSizes();
    ui->userListForm->Init();

    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &MainWindow::EveryHalfMinute);
    connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this,
            &MainWindow::EveryFiveMinutes);
    connect(&m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayIconActivated);

    UserNoteDialog::Init();
    activateWindow();

    // The start-up rescan reports nothing: the report is connected only afterwards.
    sharedFoldersManager->Init();
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &MainWindow::OnSharedFilesRescanned);

    RegisterWidgetForTabFocus(ui->usernameEdit, 1);
    RegisterWidgetForTabFocus(ui->sharedFoldersList, 1);
    connect(mp_server, &Server::PrivateRoomAddEnabled, this, &MainWindow::OnPrivateRoomAddEnabled);
    DeclareLateTypes();

    SetChatOptionsControls();

    m_updateChecker.Init();
    connect(&m_updateChecker, &UpdateChecker::NewVersion, this, &MainWindow::OnNewVersion);

    ui->maxUploadsPerUserSpinBox->setValue(GetSettingInt("max_queued_uploads_per_user"));
    ui->sharedFoldersList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->sharedFoldersList, &QWidget::customContextMenuRequested, this,
            &MainWindow::OnSharedFoldersListContextMenuRequested);
}

void MainWindow::WriteDefaults()
{
    for (Default const& l_default : c_defaultsBeforePalette)
        SetSetting(l_default.m_key, QString::fromLatin1(l_default.m_value));
    defaultPalette = QApplication::palette();
    for (PaletteSetting const& l_colour : c_paletteSettings)
        SetSetting(l_colour.m_key, defaultPalette.color(l_colour.m_role).name());
    for (Default const& l_default : c_defaultsAfterPalette)
        SetSetting(l_default.m_key, QString::fromLatin1(l_default.m_value));
}

void MainWindow::FillCodePageBox()
{
    ui->codePageBox->addItem(QStringLiteral("[None]"));
    for (QByteArray const& l_codec : QTextCodec::availableCodecs())
        ui->codePageBox->addItem(QString::fromLatin1(l_codec));
    connect(ui->codePageBox, &QComboBox::currentIndexChanged, this, &MainWindow::OnCodePageSelected);
}

void MainWindow::LoadStore()
{
    QString const l_path = DataSaver::StoreFilePath();
    Log(LogArea::ConfigurationData, 1, QStringLiteral("Loading configuration data from %1").arg(l_path));
    try
    {
        dataSaver->Load(l_path);
        Log(LogArea::ConfigurationData, 1, QStringLiteral("Data loaded successfully."));
    }
    catch (DataLoadFailure const&)
    {
        // The load applied nothing and has run every DataLoaded handler once: the store
        // is as on a start without a file.
        Log(LogArea::ConfigurationData, 1, QStringLiteral("Failure to load configuration data."));
        QMessageBox::information(
            this, tr("Error loading configuration data"),
            tr("Your client configuration data could not be loaded. Starting from scratch..."));
    }
}

void MainWindow::ApplyColours()
{
    QPalette l_palette = defaultPalette;
    for (PaletteSetting const& l_colour : c_paletteSettings)
    {
        QColor const l_stored(GetSetting(l_colour.m_key));
        // A stored text that names no colour leaves the desktop's colour in place.
        if (l_stored.isValid())
            l_palette.setBrush(l_colour.m_role, QBrush(l_stored));
    }
    QApplication::setPalette(l_palette);
}

void MainWindow::AskForUsername()
{
    if (HasSetting("username"))
        return;
    ChangeUsernamePasswordDialog l_dialog(true, nullptr);
    l_dialog.exec();
}

void MainWindow::SetOptionsControls()
{
    ui->downloadFolderEdit->setText(GetSetting("download_folder"));
    ui->uPnPCheckBox->setChecked(IsSettingYes("use_upnp"));
    ui->autoExpandSharesCheckBox->setChecked(IsSettingYes("expand_new_shares"));
    if (IsSettingYes("minimize_to_tray"))
    {
        ui->minimizeToTrayCheckBox->setChecked(true);
        m_trayIcon.setVisible(true);
    }
    ui->listeningPortEdit->setText(GetSetting("listening_port"));
    WatchSetting("new_listening_port", CreateHandler(this, &MainWindow::OnNewListeningPortChanged));

    QString const l_timestamps = GetSetting("chat_timestamps");
    int l_index = 3;
    for (int l_choice = 0; l_choice < 3; ++l_choice)
        if (l_timestamps == QLatin1String(c_chatTimestamps[l_choice]))
            l_index = l_choice;
    ui->chatTimestampsBox->setCurrentIndex(l_index);
}

void MainWindow::SetChatOptionsControls()
{
    ui->logRoomChatCheckBox->setChecked(IsSettingYes("log_room_chat"));
    ui->logPrivateChatCheckBox->setChecked(IsSettingYes("log_private_chat"));
    ui->emptyShareWarningCheckBox->setChecked(IsSettingYes("check_for_empty_shares"));
    ui->emptyShareWarningEdit->setText(GetSetting("empty_share_message"));
    ui->emptyShareWarningEdit->setCursorPosition(0);
    ui->acceptUserListUploadsCheckBox->setChecked(IsSettingYes("accept_userlist_uploads"));
    connect(ui->emptyShareWarningEdit, &QLineEdit::textEdited, this,
            &MainWindow::OnEmptyShareWarningEditEdited);
    connect(ui->saveEmptyShareWarningMessageButton, &QPushButton::clicked, this,
            &MainWindow::OnSaveEmptyShareWarningMessageButtonClicked);
}

void MainWindow::RestoreSizes()
{
    sizeManager->RegisterResizableWindow(QStringLiteral("main_window"), &m_sizeProxy);
    // The room list keeps 220 pixels; saved sizes, when there are any, win.
    ui->roomSplitter->setSizes({width() - 220, 220});
    sizeManager->RegisterSplitter(QStringLiteral("room_list_splitter"), ui->roomSplitter, {});
    sizeManager->RegisterTreeWidget(QStringLiteral("room_list"), ui->roomList);
}
