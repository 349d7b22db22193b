#include "app/MainWindow.h"

#include "net/server/Server.h"
#include "store/DataSaver.h"
#include "ui_MainWindow.h"
#include "widgets/ActionSetToolBar.h"

#include <QApplication>

namespace
{
using SetAction = ActionSetToolBar::SetActionSpec;

// The window's commands, in the order the toolbar shows them.
SetAction const c_earlyActions[] = {
    {"room_list", "create_room", "Create Room", ":/icons/room_icon", false},
    {"room_list", "refresh_room_list", "Refresh Room List", ":/icons/room_icon", false},
    {"room_list", "enable_private_room_add", "Accept Private Room Invitations", ":/icons/room_icon",
     false},
    {"room", "toggle_room_autojoin", "Toggle Room Autojoin", ":/icons/room_icon", false},
    {"room", "room_chat_log", "Chat Log", ":/icons/note_icon", false},
    {"room", "give_up_membership", "Give Up Membership", ":/icons/room_icon", false},
    {"room", "give_up_ownership", "Give Up Room", ":/icons/room_icon", false},
    {"shared_folders", "set_download_folder", "Set Download Folder", ":/icons/browse_icon", false},
    {"shared_folders", "share_folder", "Share Folder", ":/icons/browse_icon", false},
    {"shared_folders", "rescan_shares", "Rescan Shares", ":/icons/browse_icon", false},
    {"login_options", "set_user_pass", "Change Username/Password", ":icons/online_icon", false},
    {"login_options", "set_listening_port", "Change Listening Port", ":icons/online_icon", false},
    {"user", "message_user", "Message User", ":/icons/chat_icon", true},
    {"user", "browse_user", "Browse User's Files", ":/icons/browse_icon", true},
    {"user", "add_user", "Add User", ":/icons/add_user_icon", true},
};
// Added after the start-up rescan.
SetAction const c_lateActions[] = {
    {"chat_log", "clear_chat_log", "Clear Log", ":/icons/empty_note_icon", false},
    {"chat_log", "open_log_folder", "Open Log Folder", ":/icons/browse_icon", false},
    {"user_chat", "user_chat_log", "Chat Log", ":/icons/note_icon", false},
};

// A handler on every item of the root type whenever its step to the child type matches.
void AddPathHandler(char const* i_root, char const* i_child, PathNodeRelation i_relation,
                    EventHandlerBase<ItemPtr>* ip_handler)
{
    PathNode* const lp_root = new PathNode(&d, i_root);
    new PathNode(lp_root, i_child, i_relation);
    d.AddPathEventHandler(lp_root, ip_handler);
}

// A node type: one item per row or tab, keyed by its address, tied one to one to an item.
void DeclareNodeType(char const* i_name, std::initializer_list<char const*> i_relatedTo)
{
    Type* const lp_type = d.NewType(i_name, Primary, false, true);
    for (char const* l_other : i_relatedTo)
        d[l_other]->RelateToType(lp_type, One, One);
}
} // namespace

void MainWindow::DeclareRoomTypes()
{
    DeclareNodeType("room_node", {"room"});
    Type* const lp_room = d["room"];
    lp_room->m_itemAddedEvent.AddHandler(CreateHandler(this, &MainWindow::OnRoomAdded));
    AddPathHandler("room", "user_count", PathConnected,
                   CreateHandler(this, &MainWindow::OnRoomUserCountChanged));
    AddPathHandler("room", "is_owner", PathConnected,
                   CreateHandler(this, &MainWindow::OnBecomingRoomOwner));
    AddPathHandler("room", "is_operator", PathConnected,
                   CreateHandler(this, &MainWindow::OnBecomingRoomOperator));
    AddPathHandler("room", "is_member", PathConnected,
                   CreateHandler(this, &MainWindow::OnBecomingRoomMember));
    for (char const* l_role : {"is_member", "is_operator", "is_owner"})
        AddPathHandler("room", l_role, PathNotConnected,
                       CreateHandler(this, &MainWindow::OnLosingRoomRole));
    d.AddConnectionEventHandler(lp_room, d["in_room"], CreateHandler(this, &MainWindow::OnEnteredRoom));
    ui->roomList->sortItems(0, Qt::AscendingOrder);
}

void MainWindow::AddActionSets()
{
    ActionSetToolBar* const lp_bar = ui->mainToolBar;
    lp_bar->AddSetActions(c_earlyActions);
    lp_bar->RegisterWidget(ui->roomList, QStringLiteral("room_list"));
    lp_bar->AddWidgetColumnKey(ui->roomList, QStringLiteral("room"), 0);
    lp_bar->RegisterWidget(ui->fileSharingOptionsTab, QStringLiteral("shared_folders"));
    lp_bar->RegisterWidget(ui->loginOptionsTab, QStringLiteral("login_options"));
    connect(lp_bar, &ActionSetToolBar::ActionTriggered, this, &MainWindow::OnToolBarActionTriggered);
    connect(qApp, &QApplication::focusChanged, this, &MainWindow::OnFocusChanged);
}

void MainWindow::DeclareRecordTypes()
{
    Type* const lp_wish = d.NewType("wish_list_item", Primary, false, true);
    Type* const lp_enabled = d.NewType("wish_list_item_enabled", Tertiary, true, true);
    lp_wish->RelateToType(lp_enabled, Many, One);
    dataSaver->AddSavedType("wish_list_item");
    dataSaver->AddSavedType("wish_list_item_enabled");

    Type* const lp_note = d.NewType("user_note", Secondary, false, true);
    d["user"]->RelateToType(lp_note, Many, One);
    dataSaver->AddSavedType("user_note");
    dataSaver->AddSavedByConnectionType("user", "user_note");
}

void MainWindow::DeclareTabTypes()
{
    DeclareNodeType("user_chat_widget", {"user"});
    DeclareNodeType("room_form", {"room"});
    connect(mp_server, &Server::PrivateChat, this, &MainWindow::OnPrivateChat);

    Type* const lp_folder = d["shared_folder"];
    lp_folder->m_itemAddedEvent.AddHandler(CreateHandler(this, &MainWindow::OnSharedFolderAdded));
    lp_folder->m_itemRemovedEvent.AddHandler(CreateHandler(this, &MainWindow::OnSharedFolderRemoved));
    lp_folder->m_connectedEvent.AddHandler(CreateHandler(this, &MainWindow::OnSharedFolderChange));
    lp_folder->m_disconnectedEvent.AddHandler(CreateHandler(this, &MainWindow::OnSharedFolderChange));
}

void MainWindow::DeclareLateTypes()
{
    AddPathHandler("user", "is_online", PathConnecting, CreateHandler(this, &MainWindow::OnUserOnline));
    AddPathHandler("user", "is_online", PathNotConnected,
                   CreateHandler(this, &MainWindow::OnUserOffline));
    DeclareNodeType("chat_log_form", {"room", "user"});
    ui->mainToolBar->AddSetActions(c_lateActions);
}
