// Start-up and shut-down of the whole client. Every start runs in a child process of its
// own (this program run again with one function of ShellChild), against a fake server in
// that child, in a home folder that the parent prepares and inspects.

#include "ShellTestKit.h"

#include "app/MainWindow.h"
#include "net/server/Server.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "support/LogCapture.h"
#include "ui/chat/ChatForm.h"
#include "ui/chat/RoomForm.h"
#include "ui/dialogs/DiagnosticsForm.h"
#include "ui/search/SearchForm.h"
#include "ui/transfers/TransfersForm.h"
#include "ui/users/SharesForm.h"
#include "ui/users/UserListForm.h"
#include "ui_MainWindow.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/RoomTabWidget.h"
#include "widgets/TabWidget.h"

#include <QDir>
#include <QTemporaryDir>
#include <QToolBar>

using namespace ShellTestKit;

namespace
{
QString const c_area = QStringLiteral("Configuration Data");
QString const c_failureLine = QStringLiteral("Failure to load configuration data.");
QString const c_successLine = QStringLiteral("Data loaded successfully.");

// Counts DataLoaded() calls; registers itself as soon as the settings types appear, which
// is after the saver exists and before the store file is read.
class DataLoadedCounter : public DataHandler, public DataLoadedEventHandler
{
public:
    DataLoadedCounter()
    {
        d.m_typeAddedEvent.AddHandler(CreateHandler(this, &DataLoadedCounter::OnTypeAdded));
    }
    ~DataLoadedCounter() override { RemoveDataHandlers(); }
    void DataLoaded() override { ++m_calls; }
    void OnTypeAdded(Type* ip_type)
    {
        if (ip_type->Name() == "global" && dataSaver)
            dataSaver->AddDataLoadedEventHandler(this);
    }
    int m_calls = 0;
};

Settings ServerSettings(FakeServer const& i_fake)
{
    return {{"server_host", "127.0.0.1"}, {"server_port", QByteArray::number(i_fake.Port())}};
}

// The user name of a login frame (code 1: string user name first).
QByteArray LoginUser(FakeServer::Frame const& i_frame)
{
    QByteArray const l_fields = i_frame.Fields();
    quint32 const l_length = qFromLittleEndian<quint32>(l_fields.constData());
    return l_fields.mid(4, int(l_length));
}

MainWindow* StartWindow()
{
    MainWindow* const lp_window = new MainWindow;
    lp_window->show();
    lp_window->Init();
    return lp_window;
}
} // namespace

// The scenarios, one per child process.
class ShellChild : public QObject
{
    Q_OBJECT

private slots:
    void firstRun();
    void seededValuesWin();
    void loadFailure();
    void exitWithTabsOpen();
    void valueSurvivesRestart();
};

void ShellChild::firstRun()
{
    FakeServer l_fake;
    QVERIFY(l_fake.Listen());
    QByteArray const l_seed = SettingsStoreFile(ServerSettings(l_fake));
    QVERIFY(WriteFile(DataSaver::StoreFilePath(), l_seed));
    ModalAnswerer l_answerer(QStringLiteral("alice"), QStringLiteral("secret"));
    LogCapture l_log;
    MainWindow* const lp_window = StartWindow();
    Ui_MainWindow* const ui = lp_window->Form();

    QCOMPARE(lp_window->windowTitle(), QStringLiteral("KestruneQt build 7/20/2012"));
    QCOMPARE(l_answerer.DialogTitles(), QStringList({"Set Username/Password"}));
    QVERIFY(l_fake.WaitForCode(1));
    QCOMPARE(LoginUser(l_fake.FramesWithCode(1).first()), QByteArray("alice"));
    QCOMPARE(ui->usernameEdit->text(), QStringLiteral("alice"));
    QVERIFY(l_log.Contains(c_area, 1, "Loading configuration data from " + DataSaver::StoreFilePath()));
    QVERIFY(l_log.Contains(c_area, 1, c_successLine));
    QVERIFY(!l_log.Contains(c_area, 1, c_failureLine));
    // Start-up never saves.
    QCOMPARE(ReadFile(DataSaver::StoreFilePath()), l_seed);

    QList<QPair<char const*, QString>> const l_defaults = {
        {"minimize_to_tray", "yes"},
        {"expand_new_shares", "yes"},
        {"chat_timestamps", "activity_based"},
        {"color_window_background", defaultPalette.color(QPalette::Window).name()},
        {"color_window_text", defaultPalette.color(QPalette::WindowText).name()},
        {"color_input_background", defaultPalette.color(QPalette::Base).name()},
        {"color_input_text", defaultPalette.color(QPalette::Text).name()},
        {"color_button_background", defaultPalette.color(QPalette::Button).name()},
        {"color_button_text", defaultPalette.color(QPalette::ButtonText).name()},
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
        {"data_version", "1"},
        {"username", "alice"},
        {"password", "secret"},
    };
    for (auto const& l_default : l_defaults)
        QVERIFY2(GetSetting(l_default.first) == l_default.second, l_default.first);

    // The layout: page titles (the transfers page counts its running transfers) and order,
    // the pages shown first, controls that start disabled or read-only, the toolbars' rows.
    QStringList l_pages;
    for (int l_page = 0; l_page < ui->tabControl->count(); ++l_page)
        l_pages << ui->tabControl->tabText(l_page);
    QCOMPARE(l_pages, QStringList({"Transfers [0/0]", "Rooms", "Chat", "Search", "Users", "Browse",
                                   "Options", "Diagnostics"}));
    QList<QPair<QWidget*, QWidget*>> const l_contents = {
        {ui->tabControl->widget(0), ui->transfersForm}, {ui->tabControl->widget(1), ui->roomSplitter},
        {ui->tabControl->widget(2), ui->chatTabControl}, {ui->tabControl->widget(3), ui->searchForm},
        {ui->tabControl->widget(4), ui->userListForm}, {ui->tabControl->widget(5), ui->sharesForm},
        {ui->tabControl->widget(6), ui->optionsTabControl}, {ui->tabControl->widget(7), ui->diagnosticsForm},
        {ui->optionsTabControl->widget(0), ui->connectButton},
        {ui->optionsTabControl->widget(1), ui->sharedFoldersList},
        {ui->optionsTabControl->widget(2), ui->codePageBox},
    };
    for (auto const& l_content : l_contents)
        QVERIFY2(l_content.first->isAncestorOf(l_content.second), qPrintable(l_content.second->objectName()));
    QStringList l_options;
    for (int l_page = 0; l_page < ui->optionsTabControl->count(); ++l_page)
        l_options << ui->optionsTabControl->tabText(l_page);
    QCOMPARE(l_options, QStringList({"Login", "File Sharing", "General"}));
    QCOMPARE(ui->tabControl->currentIndex(), 1);
    QCOMPARE(ui->optionsTabControl->currentIndex(), 0);
    QCOMPARE(ui->roomsTabControl->currentIndex(), -1);
    QVERIFY(!ui->action_Disconnect->isEnabled());
    QVERIFY(!ui->saveEmptyShareWarningMessageButton->isEnabled());
    QVERIFY(ui->usernameEdit->isReadOnly() && ui->listeningPortEdit->isReadOnly());
    QCOMPARE(ui->maxUploadsPerUserSpinBox->maximum(), 99999);
    QCOMPARE(ui->codePageBox->itemText(0), QStringLiteral("[None]"));
    QCOMPARE(ui->roomList->headerItem()->text(0), QStringLiteral("Room Name"));
    QCOMPARE(ui->sharedFoldersList->headerItem()->text(1), QStringLiteral("Accessible to"));
    QList<QToolBar*> const l_bars = lp_window->findChildren<QToolBar*>();
    QCOMPARE(l_bars.size(), 2);
    QToolBar* const lp_events = l_bars[0] == ui->mainToolBar ? l_bars[1] : l_bars[0];
    QVERIFY(lp_window->toolBarBreak(lp_events));
    QCOMPARE(lp_window->toolBarArea(lp_events), Qt::TopToolBarArea);
    QCOMPARE(lp_window->toolBarArea(ui->mainToolBar), Qt::TopToolBarArea);
    delete lp_window;
}

void ShellChild::seededValuesWin()
{
    FakeServer l_fake;
    QVERIFY(l_fake.Listen());
    QVERIFY(WriteFile(DataSaver::StoreFilePath(),
                      SettingsStoreFile(ServerSettings(l_fake) +
                                        Settings{{"username", "bob"},
                                                 {"password", "pw"},
                                                 {"minimize_to_tray", "no"},
                                                 {"chat_timestamps", "per_message_long"},
                                                 {"log_room_chat", "no"},
                                                 {"color_window_background", "#102030"},
                                                 {"color_window_text", "notacolour"},
                                                 {"data_version", "7"},
                                                 {"listening_port", "3000"},
                                                 {"new_listening_port", "4000"}})));
    ModalAnswerer l_answerer;
    MainWindow* const lp_window = StartWindow();
    Ui_MainWindow* const ui = lp_window->Form();

    QVERIFY(l_answerer.DialogTitles().isEmpty());
    QVERIFY(l_fake.WaitForCode(1));
    QCOMPARE(LoginUser(l_fake.FramesWithCode(1).first()), QByteArray("bob"));
    QCOMPARE(GetSetting("minimize_to_tray"), QStringLiteral("no"));
    QVERIFY(!ui->minimizeToTrayCheckBox->isChecked());
    QVERIFY(!lp_window->TrayIcon().isVisible());
    QCOMPARE(ui->chatTimestampsBox->currentIndex(), 2);
    QVERIFY(!ui->logRoomChatCheckBox->isChecked());
    QVERIFY(ui->logPrivateChatCheckBox->isChecked());
    QCOMPARE(GetSetting("data_version"), QStringLiteral("1"));
    // A valid stored colour is applied; a text that names none leaves the role alone.
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor("#102030"));
    QCOMPARE(QApplication::palette().color(QPalette::WindowText),
             defaultPalette.color(QPalette::WindowText));

    // The loaded name is shown; the port field shows the port in use, and a port chosen
    // later is shown at once with its obfuscated neighbour.
    QCOMPARE(ui->usernameEdit->text(), QStringLiteral("bob"));
    QCOMPARE(ui->listeningPortEdit->text(), GetSetting("listening_port"));
    SetSetting("new_listening_port", QStringLiteral("5000"));
    QCOMPARE(ui->listeningPortEdit->text(), QStringLiteral("5000"));
    QVERIFY(ui->obfuscatedPortLabel->text().startsWith(QStringLiteral("Obfuscated port is 5001, ")));
    delete lp_window;
}

void ShellChild::loadFailure()
{
    QString const l_path = DataSaver::StoreFilePath();
    if (qEnvironmentVariable("STORE_KIND") == QLatin1String("directory"))
        QVERIFY(QDir().mkpath(l_path));
    else
    {
        QByteArray const l_whole = SettingsStoreFile({{"username", "carol"}, {"minimize_to_tray", "no"}});
        QVERIFY(WriteFile(l_path, l_whole.left(l_whole.size() - 5)));
    }
    DataLoadedCounter l_counter;
    ModalAnswerer l_answerer;
    LogCapture l_log;
    MainWindow* const lp_window = StartWindow();

    QCOMPARE(l_answerer.Boxes(),
             QList<ModalAnswerer::Window>(
                 {{"Error loading configuration data",
                   "Your client configuration data could not be loaded. Starting from scratch..."}}));
    QCOMPARE(l_log.Count(c_area, 1, c_failureLine), 1);
    QVERIFY(!l_log.Contains(c_area, 1, c_successLine));
    QCOMPARE(l_counter.m_calls, 1);
    // As on a first start: the defaults, no user name (the dialog was cancelled), no
    // connection attempt.
    QCOMPARE(GetSetting("minimize_to_tray"), QStringLiteral("yes"));
    QVERIFY(!HasSetting("username"));
    QCOMPARE(l_answerer.DialogTitles().size(), 1);
    QCOMPARE(gp_server->GetState(), Server::StateDisconnected);
    QVERIFY(QFileInfo::exists(DataSaver::DamagedPath(l_path)));
    // "Connect" asks for the name as the first start does, then logs in (to a closed port).
    SetSetting("server_host", "127.0.0.1");
    SetSetting("server_port", "1");
    l_answerer.SetLogin(QStringLiteral("erin"), QStringLiteral("pw"));
    lp_window->Form()->connectButton->click();
    QVERIFY(l_answerer.DialogTitles() == QStringList(2, "Set Username/Password") && GetSetting("username") == "erin");
    QCOMPARE(gp_server->GetState(), Server::StateConnecting);
    delete lp_window;
}

void ShellChild::exitWithTabsOpen()
{
    FakeServer l_fake;
    QVERIFY(l_fake.Listen());
    l_fake.SetReply(1, FrameBuilder::LoginAccepted());
    QVERIFY(WriteFile(DataSaver::StoreFilePath(),
                      SettingsStoreFile(ServerSettings(l_fake) +
                                        Settings{{"username", "dave"}, {"password", "pw"}})));
    ModalAnswerer l_answerer;
    MainWindow* const lp_window = StartWindow();
    Ui_MainWindow* const ui = lp_window->Form();
    QTRY_VERIFY_WITH_TIMEOUT(gp_server->IsConnected(), 5000);

    d["room"]->GetItem(Value("lobby")).NewItem("in_room");
    ui->roomsTabControl->addTab(new RoomForm(QStringLiteral("lobby")), QStringLiteral("lobby"));
    ui->chatTabControl->addTab(new ChatForm(QStringLiteral("erin"), ui->chatTabControl),
                               QStringLiteral("erin"));
    int l_writes = 0;
    bool l_connectedWhileWriting = false;
    dataSaver->SetWriteHook(
        [&](qint64)
        {
            ++l_writes;
            l_connectedWhileWriting |= gp_server->GetState() != Server::StateDisconnected;
        });
    SetSetting("late_marker", QStringLiteral("written just before exit"));
    l_fake.ClearFrames();

    delete lp_window;
    QVERIFY(l_writes > 0);
    QVERIFY(!l_connectedWhileWriting);
    QVERIFY(l_fake.WaitForClientGone());
    l_fake.Idle(100);
    QCOMPARE(l_fake.Codes(), QList<quint32>());
}

void ShellChild::valueSurvivesRestart()
{
    ModalAnswerer l_answerer;
    MainWindow* const lp_window = StartWindow();
    QCOMPARE(GetSetting("late_marker"), QStringLiteral("written just before exit"));
    QCOMPARE(GetSetting("username"), QStringLiteral("dave"));
    delete lp_window;
}

class TestShellStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstRunAsksForANameThenConnects();
    void seededValuesWinOverDefaults();
    void damagedStoreStartsFromScratch_data();
    void damagedStoreStartsFromScratch();
    void exitSavesAfterDisconnectingAndValueSurvives();
};

void TestShellStartup::firstRunAsksForANameThenConnects()
{
    QTemporaryDir l_home;
    QVERIFY_CHILD(RunChild(QStringLiteral("firstRun"), l_home.path()));
}

void TestShellStartup::seededValuesWinOverDefaults()
{
    QTemporaryDir l_home;
    QVERIFY_CHILD(RunChild(QStringLiteral("seededValuesWin"), l_home.path()));
}

void TestShellStartup::damagedStoreStartsFromScratch_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("truncated file") << QStringLiteral("truncated");
    // Root reads any file, so a folder stands for a path that cannot be opened.
    QTest::newRow("folder at the store path") << QStringLiteral("directory");
}

void TestShellStartup::damagedStoreStartsFromScratch()
{
    QFETCH(QString, kind);
    QTemporaryDir l_home;
    QProcessEnvironment l_extra;
    l_extra.insert(QStringLiteral("STORE_KIND"), kind);
    QVERIFY_CHILD(RunChild(QStringLiteral("loadFailure"), l_home.path(), l_extra));
}

void TestShellStartup::exitSavesAfterDisconnectingAndValueSurvives()
{
    QTemporaryDir l_home;
    QVERIFY_CHILD(RunChild(QStringLiteral("exitWithTabsOpen"), l_home.path()));
    QVERIFY_CHILD(RunChild(QStringLiteral("valueSurvivesRestart"), l_home.path()));
}

int main(int argc, char** argv)
{
    QApplication l_application(argc, argv);
    if (IsChild())
    {
        ShellChild l_child;
        return QTest::qExec(&l_child, argc, argv);
    }
    TestShellStartup l_test;
    return QTest::qExec(&l_test, argc, argv);
}

#include "tst_shell_startup.moc"
