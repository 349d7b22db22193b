#include "app/MainWindow.h"

#include "net/server/Server.h"
#include "store/GeneralFunctions.h"
#include "ui/chat/ChatForm.h"
#include "ui_MainWindow.h"
#include "widgets/RoomTabWidget.h"
#include "widgets/UIFunctions.h"

#include <QIcon>

// One chat tab per user on the "Chat" page, made on demand. A user is connected to the
// `user_chat_widget` item keyed by the address of the user's form while the tab lives;
// the form removes that item when it goes.

namespace
{
QIcon DotIcon(ItemPtr i_user)
{
    return QIcon(i_user.IsConnected("is_online") ? QStringLiteral(":/icons/online_dot_icon")
                                                 : QStringLiteral(":/icons/offline_dot_icon"));
}

ChatForm* OpenForm(ItemPtr i_user)
{
    return i_user["user_chat_widget"].AsPtr<ChatForm>();
}

// The user's tab, if open, shows whether the user is online now.
void ShowDot(QTabWidget* ip_tabs, ItemPtr i_user)
{
    if (ChatForm* const lp_form = OpenForm(i_user))
        ip_tabs->setTabIcon(ip_tabs->indexOf(lp_form), DotIcon(i_user));
}
} // namespace

ChatForm* MainWindow::GetChatForm(QString i_user)
{
    ItemPtr const l_user = d["user"]->GetItem(Value(i_user));
    if (ChatForm* const lp_open = OpenForm(l_user))
        return lp_open;
    // Added in the background: the page and the tab the user is looking at stay.
    ChatForm* const lp_form = new ChatForm(i_user, ui->chatTabControl, this);
    ui->chatTabControl->addTab(lp_form, DotIcon(l_user), EscapeMnemonics(i_user));
    l_user += d["user_chat_widget"]->GetItem(Value(lp_form));
    mp_server->TrackUser(i_user);
    return lp_form;
}

void MainWindow::OpenChatForm(QString i_user)
{
    FocusWidgetAndParents(GetChatForm(i_user));
}

void MainWindow::OnPrivateChat(QString i_user, QString i_chat, time_t /*i_time*/,
                               bool /*i_spontaneous*/)
{
    GetChatForm(i_user)->AddChat(i_user, i_chat);
}

void MainWindow::OnUserOnline(ItemPtr i_user)
{
    ShowDot(ui->chatTabControl, i_user);
}

void MainWindow::OnUserOffline(ItemPtr i_user)
{
    ShowDot(ui->chatTabControl, i_user);
}

void MainWindow::OnChatTabClosed(int i_index)
{
    // Private chats and user log viewers share the tab control; either goes with its tab.
    delete ui->chatTabControl->widget(i_index);
}

void MainWindow::OnShowData()
{
    if (!mp_dataDialog)
        mp_dataDialog = new DataDialog(&d, this);
    mp_dataDialog->show();
}

void MainWindow::OnTypeNavigator()
{
    if (!mp_typeNavigator)
    {
        mp_typeNavigator = new TypeNavigatorDialog(this);
        mp_typeNavigator->Init();
    }
    mp_typeNavigator->show();
}
