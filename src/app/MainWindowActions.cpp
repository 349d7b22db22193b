#include "app/MainWindow.h"

#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "ui/chat/ChatForm.h"
#include "ui/chat/ChatLogFiles.h"
#include "ui/chat/ChatLogForm.h"
#include "ui/chat/CreateRoomDialog.h"
#include "ui/chat/RoomForm.h"
#include "ui/dialogs/ChangeListeningPortDialog.h"
#include "ui/dialogs/ChangeUsernamePasswordDialog.h"
#include "ui/users/AddSharedFolderDialog.h"
#include "ui/users/SharesForm.h"
#include "ui_MainWindow.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/TabWidget.h"
#include "widgets/PlainMessageBox.h"
#include "widgets/UIFunctions.h"

#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>

// The commands of the action sets the window registers. The window decides by the id
// alone; the room or user a command is about is the toolbar's key of that name.

void MainWindow::OnToolBarActionTriggered(QWidget* /*ip_widget*/, QString i_action)
{
    struct Command
    {
        char const* m_id;
        // The key the command needs, or null.
        char const* m_key;
        void (MainWindow::*m_run)(QString const&);
    };
    static Command const c_commands[] = {
        {"refresh_room_list", nullptr, &MainWindow::RefreshRoomList},
        {"create_room", nullptr, &MainWindow::CreateRoom},
        {"enable_private_room_add", nullptr, &MainWindow::TogglePrivateRoomAdd},
        {"toggle_room_autojoin", "room", &MainWindow::ToggleRoomAutojoin},
        {"room_chat_log", "room", &MainWindow::OpenRoomChatLog},
        {"give_up_membership", "room", &MainWindow::GiveUpMembership},
        {"give_up_ownership", "room", &MainWindow::GiveUpOwnership},
        {"set_download_folder", nullptr, &MainWindow::SetDownloadFolder},
        {"share_folder", nullptr, &MainWindow::ShareFolder},
        {"rescan_shares", nullptr, &MainWindow::RescanShares},
        {"set_user_pass", nullptr, &MainWindow::ChangeUsernamePassword},
        {"set_listening_port", nullptr, &MainWindow::ChangeListeningPort},
        {"message_user", "user", &MainWindow::MessageUser},
        {"browse_user", "user", &MainWindow::BrowseUser},
        {"add_user", "user", &MainWindow::AddUser},
    };
    for (Command const& l_command : c_commands)
    {
        if (i_action != QLatin1String(l_command.m_id))
            continue;
        QString l_key;
        if (l_command.m_key)
        {
            l_key = ui->mainToolBar->GetKey(QString::fromLatin1(l_command.m_key));
            // No room or user is named: there is nothing to act on, and no item "" to
            // make.
            if (l_key.isEmpty())
                return;
        }
        (this->*l_command.m_run)(l_key);
        return;
    }
}

void MainWindow::RefreshRoomList(QString const& /*i_key*/)
{
    mp_server->GetRoomList();
}

void MainWindow::CreateRoom(QString const& /*i_key*/)
{
    CreateRoomDialog* const lp_dialog = createRoomDialog ? createRoomDialog : new CreateRoomDialog(this);
    lp_dialog->show();
    lp_dialog->raise();
    lp_dialog->activateWindow();
}

void MainWindow::TogglePrivateRoomAdd(QString const& /*i_key*/)
{
    // The setting changes only with the server's answer.
    mp_server->EnablePrivateRoomAdd(!IsSettingYes("enable_private_room_add"));
}

void MainWindow::ToggleRoomAutojoin(QString const& i_room)
{
    ItemPtr const l_room = d["room"]->GetItem(Value(i_room));
    if (l_room.IsConnected("room_autojoin"))
        l_room.Disconnect("room_autojoin");
    else
        l_room.NewItem("room_autojoin");
}

void MainWindow::OpenRoomChatLog(QString const& i_room)
{
    ItemPtr const l_room = d["room"]->GetItem(Value(i_room));
    ChatLogForm* lp_viewer = l_room["chat_log_form"].AsPtr<ChatLogForm>();
    if (!lp_viewer)
    {
        lp_viewer = new ChatLogForm(ChatLogPath(ChatLogKind::Room, i_room), this);
        ui->roomsTabControl->addTab(lp_viewer, QIcon(QStringLiteral(":/icons/note_icon")),
                                    EscapeMnemonics(i_room));
        l_room += d["chat_log_form"]->GetItem(Value(lp_viewer));
    }
    FocusWidgetAndParents(lp_viewer);
}

void MainWindow::GiveUpMembership(QString const& i_room)
{
    ItemPtr const l_room = d["room"]->GetItem(Value(i_room));
    if (!l_room.IsConnected("is_member") || l_room.IsConnected("is_owner"))
        return;
    if (AskPlainQuestion(
            tr("Give up membership?"),
            tr("Are you sure you want to give up your membership to the %1 private room?")
                .arg(i_room)) == QMessageBox::Yes &&
        RoomForm::RequireConnection(i_room, QStringLiteral("membership not given up.")))
        mp_server->GiveUpPrivateRoomMembership(i_room);
}

void MainWindow::GiveUpOwnership(QString const& i_room)
{
    ItemPtr const l_room = d["room"]->GetItem(Value(i_room));
    if (!l_room.IsConnected("is_owner"))
        return;
    if (AskPlainQuestion(
            tr("Give up membership?"),
            tr("Are you SURE you want to give up your ownership of the %1 private room?")
                .arg(i_room)) != QMessageBox::Yes)
        return;
    if (QMessageBox::question(nullptr, tr("REALLY?"), tr("REALLY?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    if (!RoomForm::RequireConnection(i_room, QStringLiteral("ownership not given up.")))
        return;
    mp_server->GiveUpPrivateRoom(i_room);
    mp_server->LeaveRoom(i_room);
}

void MainWindow::SetDownloadFolder(QString const& /*i_key*/)
{
    QFileDialog l_dialog(this, tr("Set Download Folder"));
    l_dialog.setFileMode(QFileDialog::Directory);
    l_dialog.setOption(QFileDialog::ShowDirsOnly);
    if (l_dialog.exec() != QDialog::Accepted)
        return;
    QStringList const l_folders = l_dialog.selectedFiles();
    if (l_folders.isEmpty())
        return;
    SetSetting("download_folder", l_folders.first());
    ui->downloadFolderEdit->setText(l_folders.first());
}

void MainWindow::ShareFolder(QString const& /*i_key*/)
{
    (new AddSharedFolderDialog(ItemPtr(), this))->show();
}

void MainWindow::RescanShares(QString const& /*i_key*/)
{
    sharedFoldersManager->RescanShares();
}

void MainWindow::ChangeUsernamePassword(QString const& /*i_key*/)
{
    if (mp_server->IsConnected())
    {
        QMessageBox::information(
            this, tr("Cannot change username while online"),
            tr("You must be disconnected from the Kestrune server to change your username."));
        return;
    }
    (new ChangeUsernamePasswordDialog(false, this))->show();
}

void MainWindow::ChangeListeningPort(QString const& /*i_key*/)
{
    (new ChangeListeningPortDialog(this))->show();
}

void MainWindow::MessageUser(QString const& i_user)
{
    GetChatForm(i_user)->Focus();
}

void MainWindow::BrowseUser(QString const& i_user)
{
    sharesForm->OpenShareBrowse(i_user);
}

void MainWindow::AddUser(QString const& i_user)
{
    // The user's existing list entry, groups and all, is kept.
    d["user"]->GetItem(Value(i_user)).NewItem("in_user_list");
}
