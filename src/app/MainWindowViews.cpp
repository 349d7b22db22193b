#include "app/MainWindow.h"

// The room list, the shared-folder list, the private chat tabs and the window's toolbar
// commands are wired but do nothing yet: rooms, shared folders and chats are kept in the
// store without being shown here.

void MainWindow::OnRoomAdded(ItemPtr /*i_room*/)
{
}

void MainWindow::OnRoomUserCountChanged(ItemPtr /*i_room*/)
{
}

void MainWindow::OnBecomingRoomOwner(ItemPtr /*i_room*/)
{
}

void MainWindow::OnBecomingRoomOperator(ItemPtr /*i_room*/)
{
}

void MainWindow::OnBecomingRoomMember(ItemPtr /*i_room*/)
{
}

void MainWindow::OnLosingRoomRole(ItemPtr /*i_room*/)
{
}

void MainWindow::OnEnteredRoom(ConnectionInfo& /*i_info*/)
{
}

void MainWindow::OnRoomListItemDoubleClicked(QTreeWidgetItem* /*ip_item*/, int /*i_column*/)
{
}

void MainWindow::OnRoomListContextMenuRequested(QPoint /*i_point*/)
{
}

void MainWindow::OnEnterRoom()
{
}

void MainWindow::OnRoomTabClosed(int /*i_index*/)
{
}

void MainWindow::OnPrivateRoomAddEnabled(bool /*i_enabled*/)
{
}

void MainWindow::OnSharedFolderAdded(ItemPtr /*i_folder*/)
{
}

void MainWindow::OnSharedFolderRemoved(ItemPtr /*i_folder*/)
{
}

void MainWindow::OnSharedFolderChange(ConnectionInfo /*i_info*/)
{
}

void MainWindow::OnSharedFoldersListContextMenuRequested(QPoint /*i_point*/)
{
}

void MainWindow::OnSetFolderPermissions()
{
}

void MainWindow::OnUnshareFolder()
{
}

void MainWindow::OnPrivateChat(QString /*i_user*/, QString /*i_chat*/, time_t /*i_time*/,
                               bool /*i_spontaneous*/)
{
}

void MainWindow::OnUserOnline(ItemPtr /*i_user*/)
{
}

void MainWindow::OnUserOffline(ItemPtr /*i_user*/)
{
}

void MainWindow::OnChatTabClosed(int /*i_index*/)
{
}

void MainWindow::OnShowData()
{
}

void MainWindow::OnTypeNavigator()
{
}

void MainWindow::OnToolBarActionTriggered(QWidget* /*ip_widget*/, QString /*i_action*/)
{
}
