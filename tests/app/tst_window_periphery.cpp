// The main window's options, room list, shared-folder list, private chat tabs and toolbar
// commands, in one client logged in to a fake server on loopback. Boxes, the folder
// chooser and menus are answered from the event loop.

#include "ShellTestKit.h"

#include "app/MainWindow.h"
#include "net/server/MemStream.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "ui/chat/ChatForm.h"
#include "ui/chat/ChatLogFiles.h"
#include "ui/chat/ChatLogForm.h"
#include "ui/chat/CreateRoomDialog.h"
#include "ui/chat/RoomForm.h"
#include "ui/dialogs/NewVersionDialog.h"
#include "ui/users/AddSharedFolderDialog.h"
#include "ui/transfers/UploadForm.h"
#include "ui/users/ShareForm.h"
#include "ui/users/SharesForm.h"
#include "ui/users/UserMenuOptions.h"
#include "ui_MainWindow.h"
#include "ui_NewVersionDialog.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/EventToolBar.h"
#include "widgets/RoomTabWidget.h"
#include "widgets/TabWidget.h"
#include "widgets/UIFunctions.h"

#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QTemporaryDir>

#include <atomic>
#include <functional>

using namespace ShellTestKit;
using Rooms = QList<QPair<QString, int>>;

namespace
{
// Menus get the scripted entry (or close), question boxes the next scripted button (No
// when none is left), other boxes their first button, the folder chooser the scripted
// folder (or cancel). Records {title, text} of boxes and {"menu", entries} of menus.
class ModalScript : public QObject
{
public:
    ModalScript()
    {
        m_timer.callOnTimeout(this, &ModalScript::Poll);
        m_timer.start(10);
    }
    QList<QStringList> m_seen;
    QList<QMessageBox::StandardButton> m_answers;
    QString m_folder;
    QString m_menuChoice;

private:
    void Poll()
    {
        QWidget* const lp_modal = QApplication::activeModalWidget();
        if (QMenu* const lp_menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
        {
            QStringList l_entries;
            for (QAction* lp_action : lp_menu->actions())
                l_entries << lp_action->text();
            m_seen.append({"menu", l_entries.join('|')});
            lp_menu->close();
            if (QAction* lp_chosen = lp_menu->actions().value(l_entries.indexOf(m_menuChoice)))
                lp_chosen->trigger();
        }
        else if (QMessageBox* const lp_box = qobject_cast<QMessageBox*>(lp_modal))
        {
            m_seen.append({lp_box->windowTitle(), ShownText(lp_box->text(), lp_box->textFormat())});
            QAbstractButton* lp_button = lp_box->button(m_answers.isEmpty() ? QMessageBox::No : m_answers.takeFirst());
            (lp_button ? lp_button : lp_box->buttons().value(0))->click();
        }
        else if (QFileDialog* const lp_files = qobject_cast<QFileDialog*>(lp_modal))
        {
            m_seen.append({lp_files->windowTitle(), QString()});
            lp_files->setDirectory(m_folder);
            m_folder.isEmpty() ? lp_files->reject() : static_cast<QDialog*>(lp_files)->accept();
        }
    }
    QTimer m_timer;
};

// Stands in for the gateway search, which would go out on the network.
struct FakeDiscovery
{
    static inline std::atomic<int> s_calls = 0;
    static UPNPDev* Discover(int, char const*, char const*, int, int, unsigned char, int* op_error)
    {
        ++s_calls;
        *op_error = -1;
        return nullptr;
    }
};

QByteArray RoomList(Rooms const& i_public, Rooms const& i_owned, Rooms const& i_member, QStringList i_operated)
{
    FrameBuilder l_frame(64);
    for (Rooms const& l_list : {i_public, i_owned, i_member})
    {
        QStringList l_names;
        for (auto const& l_room : l_list)
            l_names << l_room.first;
        l_frame.StrList(l_names).U32(quint32(l_list.size()));
        for (auto const& l_room : l_list)
            l_frame.I32(l_room.second);
    }
    return l_frame.StrList(i_operated).Frame();
}

QByteArray RoomJoined(QString const& i_room)
{
    return FrameBuilder(14).Str(i_room).U32(0).U32(0).U32(0).U32(0).U32(0).Frame();
}

QByteArray Payload(quint32 i_code, QString const& i_text)
{
    return FrameBuilder(i_code).Str(i_text).Payload();
}
} // namespace

class TestWindowPeriphery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void optionsWriteTheirSettings();
    void sharedFolderRowsFollowAccess();
    void roomListRowsFontsAndOrder();
    void roomCommands_data();
    void roomCommands();
    void roomLogAndNamelessKeys();
    void privateChatTabs();
    void userLoginAndFolderCommands();
    void outsideTextsShownAsTyped();
    void roomTabClosedOffline();
    void roomActionsOfflineSaySo();

private:
    // Focuses the widget (or its first child that takes the focus), waits until the
    // toolbar shows its set and triggers the button of the action id.
    bool Press(QWidget* ip_widget, QString const& i_id);
    RoomForm* RoomTab(QString const& i_room) const;

    FakeServer m_fake;
    MainWindow* mp_window = nullptr;
    Ui_MainWindow* ui = nullptr;
    ModalScript* mp_modal = nullptr;
    QTemporaryDir m_folder;
};

void TestWindowPeriphery::initTestCase()
{
    QVERIFY(m_fake.Listen());
    m_fake.SetReply(1, FrameBuilder::LoginAccepted());
    // Nothing leaves this machine: no gateway search, no version file from the web.
    QVERIFY(WriteFile(DataSaver::StoreFilePath(),
                      SettingsStoreFile({{"server_host", "127.0.0.1"}, {"server_port", QByteArray::number(m_fake.Port())},
                                         {"use_upnp", "no"}, {"web_host", "127.0.0.1"}, {"web_port", "1"},
                                         {"username", "frank"}, {"password", "pw"}, {"minimize_to_tray", "no"},
                                         {"max_queued_uploads_per_user", "123456"},
                                         {"extended_ascii_codepage", "NoSuchPage"}})));
    mp_modal = new ModalScript;
    mp_window = new MainWindow;
    mp_window->show();
    mp_window->Init();
    ui = mp_window->Form();
    QVERIFY(QTest::qWaitForWindowActive(mp_window));
    QTRY_VERIFY(gp_server->IsConnected());
}

void TestWindowPeriphery::cleanupTestCase()
{
    // The peer network keeps the share-list request to the browsed user queued until it
    // is sent or expires, and frees neither at exit.
    for (ItemPtr const& l_unsent : d["unsent_message"]->GetItems())
    {
        delete l_unsent.AsPtr<MemStream>();
        l_unsent.Remove();
    }
    mp_window->OnShowData(); // an open store browser goes with the window
    delete mp_window;
    delete mp_modal;
}

void TestWindowPeriphery::init()
{
    m_fake.Idle(50);
    m_fake.ClearFrames();
    mp_modal->m_seen.clear();
}

bool TestWindowPeriphery::Press(QWidget* ip_widget, QString const& i_id)
{
    QWidget* lp_focus = ip_widget;
    for (QWidget* lp_child : ip_widget->findChildren<QWidget*>())
        if (lp_focus->focusPolicy() == Qt::NoFocus)
            lp_focus = lp_child;
    FocusWidgetAndParents(lp_focus);
    // Found by id through the toolbar's records: forms relabel and hide some buttons.
    QAction* lp_button = nullptr;
    bool const l_shown = QTest::qWaitFor(
        [&] {
            QWidget* const lp_current = ui->mainToolBar->CurrentWidget();
            if (QApplication::focusWidget() != lp_focus)
                lp_focus->setFocus(Qt::OtherFocusReason);
            else if (lp_current && (lp_current == lp_focus || lp_current->isAncestorOf(lp_focus)))
                for (QAction* lp_action : ui->mainToolBar->actions())
                    if (d["toolbar_action_object"]->HasItem(Value(static_cast<QObject*>(lp_action)))
                            ["toolbar_action"]["toolbar_action_id"].AsString() == i_id)
                        lp_button = lp_action;
            return lp_button != nullptr;
        },
        2000);
    if (l_shown)
        lp_button->trigger();
    return l_shown;
}

RoomForm* TestWindowPeriphery::RoomTab(QString const& i_room) const
{
    for (RoomForm* lp_form : ui->roomsTabControl->findChildren<RoomForm*>())
        if (lp_form->Room() == i_room)
            return lp_form;
    return nullptr;
}

void TestWindowPeriphery::optionsWriteTheirSettings()
{
    // Stored above the box's range: written back as 99999. An unknown code page leaves
    // "[None]" and the stored name; choosing "[None]" stores an empty name.
    QCOMPARE(GetSetting("max_queued_uploads_per_user"), QStringLiteral("99999"));
    QCOMPARE(GetSetting("extended_ascii_codepage"), QStringLiteral("NoSuchPage"));
    ui->codePageBox->setCurrentIndex(1);
    ui->codePageBox->setCurrentIndex(0);
    QCOMPARE(GetSetting("extended_ascii_codepage"), QString());
    for (auto const& [l_index, l_value] : QList<QPair<int, QString>>{
             {0, "activity_based"}, {1, "per_message_short"}, {2, "per_message_long"}, {3, "no_timestamps"}, {7, "no_timestamps"}})
    {
        mp_window->OnChatTimestampsBoxIndexChanged(l_index);
        QCOMPARE(GetSetting("chat_timestamps"), l_value);
    }
    portForwarder->SetDiscoverFunction(&FakeDiscovery::Discover);
    QList<QPair<QCheckBox*, char const*>> const l_boxes = {
        {ui->autoExpandSharesCheckBox, "expand_new_shares"}, {ui->logRoomChatCheckBox, "log_room_chat"},
        {ui->logPrivateChatCheckBox, "log_private_chat"}, {ui->emptyShareWarningCheckBox, "check_for_empty_shares"},
        {ui->acceptUserListUploadsCheckBox, "accept_userlist_uploads"}, {ui->minimizeToTrayCheckBox, "minimize_to_tray"},
        {ui->uPnPCheckBox, "use_upnp"}};
    for (int l_pass = 0; l_pass < 2; ++l_pass)
        for (auto const& [lp_box, l_key] : l_boxes)
        {
            lp_box->click();
            QCOMPARE(GetSetting(l_key), lp_box->isChecked() ? QStringLiteral("yes") : QStringLiteral("no"));
            QCOMPARE(mp_window->TrayIcon().isVisible(), IsSettingYes("minimize_to_tray"));
        }
    // Checking UPnP searched for the gateway; unchecking did nothing more.
    QTRY_COMPARE(FakeDiscovery::s_calls.load(), 1);
    m_fake.Idle(100);
    QCOMPARE(FakeDiscovery::s_calls.load(), 1);

    SetSetting("new_listening_port", QStringLiteral("5000"));
    QCOMPARE(ui->listeningPortEdit->text(), QStringLiteral("5000"));
    QVERIFY(ui->obfuscatedPortLabel->text().startsWith("Obfuscated port is 5001, if you're manually"));
    FocusWidgetAndParents(ui->optionsTabControl);
    ui->optionsTabControl->setCurrentIndex(1);
    QTRY_COMPARE(QApplication::focusWidget(), ui->sharedFoldersList);

    ui->emptyShareWarningEdit->clear();
    QTest::keyClicks(ui->emptyShareWarningEdit, QStringLiteral("   "));
    QVERIFY(!ui->saveEmptyShareWarningMessageButton->isEnabled());
    QTest::keyClicks(ui->emptyShareWarningEdit, QStringLiteral("hi "));
    ui->saveEmptyShareWarningMessageButton->click();
    QCOMPARE(GetSetting("empty_share_message"), QStringLiteral("   hi "));
    QVERIFY(ui->emptyShareWarningEdit->cursorPosition() == 0 && !ui->saveEmptyShareWarningMessageButton->isEnabled());
}

void TestWindowPeriphery::sharedFolderRowsFollowAccess()
{
    ItemPtr const l_folder = sharedFoldersManager->AddSharedFolder(m_folder.path());
    QTreeWidgetItem* const lp_row = ui->sharedFoldersList->findItems(m_folder.path(), Qt::MatchExactly).value(0);
    QVERIFY(lp_row);
    ItemPtr const l_zeta = d["user_list_group"]->NewItem(Value("Zeta"));
    ItemPtr const l_alpha = d["user_list_group"]->NewItem(Value("alpha"));
    QList<QPair<std::function<void()>, QString>> const l_steps = {
        {[&] { l_folder.Disconnect("shared_public"); }, ""}, {[&] { l_folder.Connect(l_alpha); }, "alpha"},
        {[&] { l_folder.Connect(l_zeta); }, "Zeta, alpha"}, {[&] { l_folder.NewItem("shared_userlist"); }, "User List"},
        {[&] { l_folder.NewItem("shared_public"); }, "Everyone"}, {[&] { l_folder.Disconnect("shared_public"); }, "User List"},
        {[&] { l_folder.Disconnect("shared_userlist"); }, "Zeta, alpha"}, {[&] { l_folder.Disconnect("user_list_group"); }, ""}};
    for (auto const& [l_change, l_text] : l_steps)
    {
        l_change();
        QCOMPARE(lp_row->text(1), l_text);
    }
    // Menus over rows only. A row whose folder is gone does nothing: no dialog for a new
    // folder, no folder made. Unsharing takes the row at once.
    QTreeWidgetItem* const lp_stale = new QTreeWidgetItem(ui->sharedFoldersList, {"/no/such/folder"});
    mp_window->OnSharedFoldersListContextMenuRequested(QPoint(5, ui->sharedFoldersList->viewport()->height() - 5));
    mp_modal->m_menuChoice = QStringLiteral("Set Folder Permissions");
    for (QTreeWidgetItem* lp_target : {lp_stale, lp_row})
    {
        ui->sharedFoldersList->setCurrentItem(lp_target);
        mp_window->OnSharedFoldersListContextMenuRequested(ui->sharedFoldersList->visualItemRect(lp_target).center());
        mp_window->OnUnshareFolder();
    }
    QCOMPARE(mp_modal->m_seen, QList<QStringList>(2, QStringList{"menu", "Set Folder Permissions|Unshare Folder"}));
    QCOMPARE(mp_window->findChildren<AddSharedFolderDialog*>().size(), 1);
    QVERIFY(!d["shared_folder"]->HasItem(Value("/no/such/folder")) && !d["shared_folder"]->HasItem(Value(m_folder.path())));
    QCOMPARE(ui->sharedFoldersList->topLevelItemCount(), 1);
    delete lp_stale;
}

void TestWindowPeriphery::roomListRowsFontsAndOrder()
{
    // Each row as name and the styles shown: italic, underline, bold.
    auto const l_rows = [this] {
        QStringList l_shown;
        for (int l_row = 0; l_row < ui->roomList->topLevelItemCount(); ++l_row)
        {
            QTreeWidgetItem* const lp_row = ui->roomList->topLevelItem(l_row);
            QFont const l_font = lp_row->font(0);
            l_shown << lp_row->text(0) + ":" + (l_font.italic() ? "i" : "") + (l_font.underline() ? "u" : "") +
                           (l_font.weight() == QFont::Bold ? "b" : "");
        }
        return l_shown;
    };
    gp_server->GetRoomList();
    m_fake.Send(RoomList({{"beta", 5}, {"Alpha", 0}, {"gamma", 12}}, {{"Owned", 7}}, {{"mem", 2}, {"Op", 4}}, {"Op"}));
    QTRY_COMPARE(l_rows(), QStringList({"Owned:iub", "Op:ib", "mem:i", "Alpha:", "beta:", "gamma:"}));
    // The owner becomes an operator and stays a member: only the underline goes.
    m_fake.Send(RoomList({}, {}, {{"mem", 2}, {"Op", 4}, {"Owned", 7}}, {"Op", "Owned"}));
    QTRY_COMPARE(l_rows(), QStringList({"Op:ib", "Owned:ib", "mem:i", "Alpha:", "beta:", "gamma:"}));
    QCOMPARE(ui->roomList->topLevelItem(3)->text(1) + "," + ui->roomList->topLevelItem(4)->text(1), QStringLiteral(",5"));

    // Double clicks enter from the name column only; one focused tab however often the
    // server confirms; closing it leaves the room and keeps the row.
    QTreeWidgetItem* const lp_beta = ui->roomList->topLevelItem(4);
    emit ui->roomList->itemDoubleClicked(lp_beta, 1);
    emit ui->roomList->itemDoubleClicked(lp_beta, 0);
    QVERIFY(m_fake.WaitForFrames(2));
    QCOMPARE(m_fake.Frames()[1].payload, FrameBuilder(14).Str("beta").U32(0).Payload());
    m_fake.Send(RoomJoined("beta") + RoomJoined("beta"));
    QTRY_VERIFY(RoomTab("beta"));
    m_fake.Idle(100);
    QVERIFY(ui->roomsTabControl->count() == 1 && m_fake.FramesWithCode(14).size() == 1);
    QVERIFY(ui->tabControl->currentWidget() == ui->roomsTab && ui->roomsTabControl->currentWidget() == RoomTab("beta"));
    emit ui->roomsTabControl->tabCloseRequested(0);
    QVERIFY(m_fake.WaitForCode(15));
    QCOMPARE(m_fake.FramesWithCode(15).first().payload, Payload(15, "beta"));
    QVERIFY(ui->roomsTabControl->count() == 0 && ui->roomList->topLevelItemCount() == 6);
}

void TestWindowPeriphery::roomCommands_data()
{
    QTest::addColumn<QString>("room"); // the room tab pressed on; none: the room list
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QList<QByteArray>>("sent");
    auto const Yes = QMessageBox::Yes;
    QStringList const l_owner = {"Give up membership?",
                                 "Are you SURE you want to give up your ownership of the Owned private room?",
                                 "REALLY?", "REALLY?"};
    QByteArray const l_enable = FrameBuilder(141).Bool(true).Payload();
    // Pressed twice before the server answers: "enable" twice.
    QTest::newRow("invitations") << "" << "enable_private_room_add enable_private_room_add" << QList{Yes}
                                 << QStringList{} << QList{l_enable, l_enable};
    QTest::newRow("membership") << "mem" << "give_up_membership" << QList{Yes}
                                << QStringList{"Give up membership?",
                                               "Are you sure you want to give up your membership to the mem private room?"}
                                << QList{Payload(136, "mem")};
    QTest::newRow("owner's membership") << "Owned" << "give_up_membership" << QList{Yes} << QStringList{}
                                        << QList<QByteArray>{};
    QTest::newRow("room, not owner") << "mem" << "give_up_ownership" << QList{Yes, Yes} << QStringList{}
                                     << QList<QByteArray>{};
    QTest::newRow("room, yes then no") << "Owned" << "give_up_ownership" << QList{Yes} << l_owner << QList<QByteArray>{};
    QTest::newRow("room, yes twice") << "Owned" << "give_up_ownership" << QList{Yes, Yes} << l_owner
                                     << QList{Payload(137, "Owned"), Payload(15, "Owned")};
}

void TestWindowPeriphery::roomCommands()
{
    QFETCH(QString, room);
    QFETCH(QString, commands);
    QFETCH(QList<QMessageBox::StandardButton>, answers);
    QFETCH(QStringList, boxes);
    QFETCH(QList<QByteArray>, sent);
    m_fake.Send(RoomList({}, {{"Owned", 7}}, {{"mem", 2}}, {}) + RoomJoined("mem") + RoomJoined("Owned"));
    QTRY_VERIFY(RoomTab("mem") && RoomTab("Owned") && d["room"]->HasItem(Value("Owned")).IsConnected("is_owner"));
    m_fake.ClearFrames();
    mp_modal->m_answers = answers;
    for (QString const& l_command : commands.split(' '))
        QVERIFY(Press(room.isEmpty() ? static_cast<QWidget*>(ui->roomList) : RoomTab(room), l_command));
    m_fake.Idle(150);
    QStringList l_boxes;
    for (QStringList const& l_box : mp_modal->m_seen)
        l_boxes << l_box;
    QCOMPARE(l_boxes, boxes);
    QList<QByteArray> l_sent;
    for (FakeServer::Frame const& l_frame : m_fake.Frames())
        l_sent << l_frame.payload;
    QCOMPARE(l_sent, sent);
}

void TestWindowPeriphery::roomLogAndNamelessKeys()
{
    QVERIFY(Press(ui->roomList, "create_room") && Press(ui->roomList, "create_room"));
    QCOMPARE(mp_window->findChildren<CreateRoomDialog*>().size(), 1);
    delete createRoomDialog;
    // The server's answer to the invitations toggle writes the setting and relabels it.
    m_fake.Send(FrameBuilder(141).Bool(true).Frame());
    QTRY_VERIFY(IsSettingYes("enable_private_room_add"));
    QVERIFY(Press(ui->roomList, "refresh_room_list"));
    QStringList l_texts;
    for (QAction* lp_action : ui->mainToolBar->actions())
        l_texts << lp_action->text();
    QVERIFY(l_texts.contains("Reject Private Room Invitations"));
    QVERIFY(Press(RoomTab("mem"), "toggle_room_autojoin"));
    QVERIFY(d["room"]->HasItem(Value("mem")).IsConnected("room_autojoin"));

    // A room named to climb out of the log folder reads the log inside it; one viewer.
    QVERIFY(WriteFile(QDir::homePath() + "/x.log", "outside the log folder"));
    m_fake.Send(RoomJoined("../../x"));
    QTRY_VERIFY(RoomTab("../../x"));
    int const l_tabs = ui->roomsTabControl->count();
    QVERIFY(Press(RoomTab("../../x"), "room_chat_log") && Press(RoomTab("../../x"), "room_chat_log"));
    ChatLogForm* const lp_viewer = qobject_cast<ChatLogForm*>(ui->roomsTabControl->currentWidget());
    QVERIFY(lp_viewer && ui->roomsTabControl->count() == l_tabs + 1);
    QVERIFY(!lp_viewer->LogView()->toPlainText().contains("outside"));
    emit ui->roomsTabControl->tabCloseRequested(l_tabs);
    QVERIFY(!d["room"]->HasItem(Value("../../x")).IsConnected("chat_log_form"));

    // A room tab whose key is empty makes no room "" and opens nothing.
    QWidget* const lp_nameless = new QLineEdit;
    ui->roomsTabControl->addTab(lp_nameless, "nameless");
    ui->mainToolBar->RegisterWidget(lp_nameless, "room");
    ui->mainToolBar->AddWidgetKey(lp_nameless, "room", "");
    for (char const* l_command : {"toggle_room_autojoin", "room_chat_log", "give_up_membership", "give_up_ownership"})
        QVERIFY(Press(lp_nameless, l_command));
    QVERIFY(!d["room"]->HasItem(Value("")) && mp_modal->m_seen.isEmpty() && ui->roomsTabControl->count() == l_tabs + 1);
    delete lp_nameless;
}

void TestWindowPeriphery::privateChatTabs()
{
    auto const l_chat = [this](quint32 i_id, QString const& i_user) {
        m_fake.Send(FrameBuilder(22).U32(i_id).U32(0).Str(i_user).Str("line " + QString::number(i_id)).Bool(false).Frame());
    };
    auto const l_form = [this](QString const& i_user) {
        return d["user"]->HasItem(Value(i_user))["user_chat_widget"].AsPtr<ChatForm>();
    };
    auto const l_dot = [&](char const* i_icon) {
        QIcon const l_shown = ui->chatTabControl->tabIcon(ui->chatTabControl->indexOf(l_form("carol")));
        return l_shown.pixmap(16).toImage() == QIcon(i_icon).pixmap(16).toImage();
    };
    ui->tabControl->setCurrentWidget(ui->roomsTab);
    l_chat(7, "carol");
    QTRY_COMPARE(ui->chatTabControl->count(), 1);
    l_chat(8, "carol");
    l_chat(9, "dave");
    QTRY_COMPARE(ui->chatTabControl->count(), 2);
    QVERIFY(m_fake.WaitForFrames(5));
    QCOMPARE(m_fake.Codes(), QList<quint32>({5, 23, 23, 5, 23}));
    QVERIFY(m_fake.Frames()[0].payload == Payload(5, "carol") && m_fake.Frames()[2].payload == FrameBuilder(23).U32(8).Payload());
    // In the background: the page and the chat tab shown stay.
    QVERIFY(ui->tabControl->currentWidget() == ui->roomsTab && ui->chatTabControl->currentWidget() == l_form("carol"));
    QVERIFY(l_form("carol")->ChatView()->toPlainText().contains("line 8") && l_dot(":/icons/offline_dot_icon"));
    for (quint32 l_status : {2, 0})
    {
        m_fake.Send(FrameBuilder(7).Str("carol").U32(l_status).Bool(false).Frame());
        QTRY_VERIFY(l_dot(l_status ? ":/icons/online_dot_icon" : ":/icons/offline_dot_icon"));
    }
    emit ui->chatTabControl->tabCloseRequested(ui->chatTabControl->indexOf(l_form("carol")));
    QVERIFY(!l_form("carol"));
    l_chat(10, "carol");
    QTRY_VERIFY(l_form("carol"));
    QVERIFY(!l_form("carol")->ChatView()->toPlainText().contains("line 8"));
}

void TestWindowPeriphery::userLoginAndFolderCommands()
{
    // A user list as the users page registers one: the key is the row's first column.
    QTreeWidget* const lp_users = new QTreeWidget;
    ui->tabControl->addTab(lp_users, "users");
    ui->mainToolBar->RegisterWidget(lp_users, "user");
    ui->mainToolBar->AddWidgetColumnKey(lp_users, "user", 0);
    lp_users->setCurrentItem(new QTreeWidgetItem(lp_users, {""}));
    int const l_chats = ui->chatTabControl->count();
    for (char const* l_command : {"message_user", "browse_user", "add_user"})
        QVERIFY(Press(lp_users, l_command));
    QVERIFY(!d["user"]->HasItem(Value("")) && ui->chatTabControl->count() == l_chats);
    ItemPtr const l_erin = d["user"]->NewItem(Value("erin"));
    ItemPtr const l_entry = l_erin.NewItem("in_user_list");
    lp_users->setCurrentItem(new QTreeWidgetItem(lp_users, {"erin"}));
    QVERIFY(Press(lp_users, "add_user") && Press(lp_users, "browse_user") && Press(lp_users, "message_user"));
    QVERIFY(l_erin["in_user_list"] == l_entry && sharesForm->Tabs()->tabText(sharesForm->Tabs()->currentIndex()) == "erin");
    QVERIFY(ui->tabControl->currentWidget() == ui->chatTab && ui->chatTabControl->currentWidget() == l_erin["user_chat_widget"].AsPtr<ChatForm>());
    delete lp_users;

    QVERIFY(Press(ui->usernameEdit, "set_user_pass"));
    QCOMPARE(mp_modal->m_seen, QList<QStringList>({{"Cannot change username while online",
                                                    "You must be disconnected from the Kestrune server to change your username."}}));
    // The folder chooser: cancelled, then accepted.
    mp_modal->m_seen.clear();
    QString const l_before = GetSetting("download_folder");
    QVERIFY(Press(ui->sharedFoldersList, "set_download_folder"));
    QCOMPARE(GetSetting("download_folder"), l_before);
    mp_modal->m_folder = m_folder.path();
    QVERIFY(Press(ui->sharedFoldersList, "set_download_folder"));
    QVERIFY(GetSetting("download_folder") == m_folder.path() && ui->downloadFolderEdit->text() == m_folder.path());
    QCOMPARE(mp_modal->m_seen, QList<QStringList>(2, QStringList{"Set Download Folder", ""}));
}

void TestWindowPeriphery::outsideTextsShownAsTyped()
{
    // Names and texts from the server and other users reach boxes, tabs, menus, the event
    // toolbar, a dialog and the chat log as they came. A title shows "&&" as "&"; a lone
    // "&" would be a shortcut key.
    QString const l_markup = QStringLiteral("<a href=\"http://e.test/\">lobby</a>");
    QString const l_amp = QStringLiteral("Tom&Jerry");
    auto const l_shown = [](QString i_title) { return QKeySequence::mnemonic(i_title).isEmpty() ? i_title.replace("&&", "&") : "key"; };
    auto const l_tab = [&](QTabWidget* ip_tabs, QWidget* ip_page) { return l_shown(ip_tabs->tabText(ip_tabs->indexOf(ip_page))); };
    m_fake.Send(RoomList({}, {{l_amp, 3}}, {{l_markup, 2}}, {}) + RoomJoined(l_markup) + RoomJoined(l_amp));
    QTRY_VERIFY(RoomTab(l_markup) && RoomTab(l_amp) && d["room"]->HasItem(Value(l_amp)).IsConnected("is_owner"));
    QVERIFY(Press(RoomTab(l_markup), "give_up_membership") && Press(RoomTab(l_amp), "give_up_ownership"));
    QTRY_COMPARE(mp_modal->m_seen.size(), 2);
    QVERIFY(mp_modal->m_seen[0][1].contains(" " + l_markup + " ") && mp_modal->m_seen[1][1].contains(" " + l_amp + " "));
    QVERIFY(Press(RoomTab(l_amp), "room_chat_log"));
    QStringList l_titles = {l_tab(ui->roomsTabControl, RoomTab(l_markup)), l_tab(ui->roomsTabControl, RoomTab(l_amp)),
                            l_tab(ui->roomsTabControl, ui->roomsTabControl->currentWidget())};
    emit ui->roomsTabControl->tabCloseRequested(ui->roomsTabControl->currentIndex());
    QMenu l_menu;
    UserMenuOptions const l_options(&l_menu, "zed", nullptr);
    for (QAction* lp_room : l_menu.actions().last()->menu()->actions())
        l_titles << l_shown(lp_room->text());
    QVERIFY2(l_titles.mid(0, 3) == QStringList({l_markup, l_amp, l_amp}) && l_titles.contains(l_amp), qPrintable(l_titles.join('|')));
    // Private chats in the background: a tab and an event button (and its tooltip) each.
    ui->tabControl->setCurrentWidget(ui->roomsTab);
    for (QString const& l_user : {l_markup, l_amp})
    {
        m_fake.Send(FrameBuilder(22).U32(40).U32(0).Str(l_user).Str("hi").Bool(false).Frame());
        QTRY_VERIFY(d["user"]->HasItem(Value(l_user)).IsConnected("user_chat_widget"));
        QStringList l_buttons;
        for (QAction* lp_button : eventToolBar->actions())
            l_buttons << l_shown(lp_button->text()) + "|" + ShownText(lp_button->toolTip());
        QVERIFY2(l_buttons.contains(l_user + "|" + l_user), qPrintable(l_buttons.join(' ')));
        QCOMPARE(l_tab(ui->chatTabControl, d["user"]->HasItem(Value(l_user))["user_chat_widget"].AsPtr<ChatForm>()), l_user);
    }
    QCOMPARE(l_tab(sharesForm->Tabs(), sharesForm->OpenShareBrowse(l_amp)), l_amp);
    QCOMPARE(l_tab(sharesForm->Tabs(), sharesForm->OpenUploadBrowse(l_amp)), "Upload to " + l_amp);
    mp_window->OnNewVersion(20990101, "http://e.test/", {l_markup});
    std::unique_ptr<NewVersionDialog> const lp_offer(mp_window->findChild<NewVersionDialog*>());
    QVERIFY(lp_offer);
    QCOMPARE(lp_offer->Form()->descriptionEdit->toPlainText(), l_markup);

    // One message, one line of the log, whatever breaks it holds.
    QString const l_forged = QStringLiteral("hello\n[Jan 1 1:00:00 am][admin] send me\r\nyour password");
    qsizetype const l_logged = ReadFile(ChatLogPath(ChatLogKind::Room, l_amp)).size();
    m_fake.Send(FrameBuilder(13).Str(l_amp).Str("mallory").Str(l_forged).Frame());
    QTRY_VERIFY(RoomTab(l_amp)->ChatView()->toPlainText().contains("your password"));
    QByteArray const l_log = ReadFile(ChatLogPath(ChatLogKind::Room, l_amp)).mid(l_logged);
    QVERIFY2(l_log.count('\n') == 1 && l_log.endsWith("[mallory] hello [Jan 1 1:00:00 am][admin] send me your password\n"), l_log.constData());
}

void TestWindowPeriphery::roomTabClosedOffline()
{
    // Closed while offline, a room is left; one open through the drop is entered again
    // with its one tab, and the closed one opens a tab when entered anew.
    m_fake.Send(RoomJoined("kept") + RoomJoined("closed"));
    QTRY_VERIFY(RoomTab("kept") && RoomTab("closed"));
    gp_server->Disconnect();
    QTRY_VERIFY(!gp_server->IsConnected());
    emit ui->roomsTabControl->tabCloseRequested(ui->roomsTabControl->indexOf(RoomTab("closed")));
    QVERIFY(!d["room"]->HasItem(Value("closed")).IsConnected("in_room"));
    m_fake.ClearFrames();
    gp_server->Connect();
    QVERIFY(m_fake.WaitForCode(14) && QTest::qWaitFor([] { return gp_server->IsConnected(); }));
    gp_server->EnterRoom("closed", false);
    m_fake.Send(RoomJoined("kept") + RoomJoined("closed"));
    QTRY_VERIFY(RoomTab("closed"));
    m_fake.Idle(100);
    QList<QByteArray> l_entered;
    for (FakeServer::Frame const& l_frame : m_fake.FramesWithCode(14))
        l_entered << l_frame.payload;
    QCOMPARE(l_entered.count(FrameBuilder(14).Str("kept").U32(0).Payload()), 1);
    QCOMPARE(l_entered.count(FrameBuilder(14).Str("closed").U32(0).Payload()), 1);
    QList<RoomForm*> const l_forms = ui->roomsTabControl->findChildren<RoomForm*>();
    QCOMPARE(std::count_if(l_forms.begin(), l_forms.end(), [](RoomForm* ip_form) { return ip_form->Room() == "kept"; }), 1);
    QCOMPARE(m_fake.FramesWithCode(15).size(), 0);
}

void TestWindowPeriphery::roomActionsOfflineSaySo()
{
    m_fake.Send(RoomList({}, {{"Owned", 7}, {"quiet", 1}}, {}, {}) + RoomJoined("Owned"));
    QTRY_VERIFY(RoomTab("Owned") && d["room"]->HasItem(Value("quiet")).IsConnected("is_owner"));
    gp_server->Disconnect();
    QTRY_VERIFY(!gp_server->IsConnected());
    // Confirmed offline: the room's tab says nothing was done; a room without a tab, a box.
    mp_modal->m_answers = {QMessageBox::Yes, QMessageBox::Yes};
    QVERIFY(Press(RoomTab("Owned"), "give_up_ownership"));
    QMenu l_menu;
    UserMenuOptions const l_options(&l_menu, "a<b>n", nullptr);
    for (QAction* const lp_entry : l_menu.findChildren<QAction*>())
        if (lp_entry->text() == "Give User Membership" && QStringList({"Owned", "quiet"}).contains(lp_entry->data().toString()))
            lp_entry->trigger();
    QCOMPARE(mp_modal->m_seen.size(), 3);
    QCOMPARE(mp_modal->m_seen.last(), QStringList({"Not connected", "Not connected: a<b>n not given membership."}));
    QVERIFY(RoomTab("Owned")->ChatView()->toPlainText().endsWith(
        "\n* Not connected: ownership not given up.\n* Not connected: a<b>n not given membership."));
}

QTEST_MAIN(TestWindowPeriphery)
#include "tst_window_periphery.moc"
