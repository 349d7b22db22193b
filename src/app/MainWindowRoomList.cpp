#include "app/MainWindow.h"

#include "net/server/Server.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "ui/chat/QRoomListItemWidget.h"
#include "ui/chat/RoomForm.h"
#include "ui_MainWindow.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/TabWidget.h"
#include "widgets/UIFunctions.h"

#include <QHeaderView>
#include <QIcon>
#include <QMenu>

#include <utility>

// The room list follows the store's rooms: one row per room, never removed, with its user
// count and a font that tells the user's role in a private room. Entering a room is a
// request to the server; its tab opens when the server confirms.

namespace
{
QString const c_roomIcon = QStringLiteral(":/icons/room_icon");
} // namespace

QTreeWidgetItem* MainWindow::RoomRow(ItemPtr i_room)
{
    return i_room["room_node"].AsPtr<QTreeWidgetItem>();
}

void MainWindow::OnRoomAdded(ItemPtr i_room)
{
    if (i_room.IsConnected("room_node"))
        return;
    QRoomListItemWidget* const lp_row = new QRoomListItemWidget(ui->roomList);
    lp_row->setText(0, i_room.AsString());
    i_room += d["room_node"]->GetItem(Value(lp_row));
}

void MainWindow::OnRoomUserCountChanged(ItemPtr i_room)
{
    QTreeWidgetItem* const lp_row = RoomRow(i_room);
    if (!lp_row)
        return;
    ItemPtr const l_count = i_room["user_count"];
    lp_row->setText(1, l_count.AsInt64() != 0 ? l_count.AsString() : QString());
}

void MainWindow::ChangeRoomFont(ItemPtr i_room, std::optional<bool> i_italic,
                                std::optional<bool> i_underline, std::optional<bool> i_bold)
{
    QTreeWidgetItem* const lp_row = RoomRow(i_room);
    if (!lp_row)
        return;
    // The row keeps the room's group for sorting; the font change below places the row,
    // so the group must be current first.
    if (auto* const lp_roomRow = dynamic_cast<QRoomListItemWidget*>(lp_row))
        lp_roomRow->RefreshRoleRank();
    QFont l_font = lp_row->font(0);
    if (i_italic)
        l_font.setItalic(*i_italic);
    if (i_underline)
        l_font.setUnderline(*i_underline);
    if (i_bold)
        l_font.setWeight(*i_bold ? QFont::Bold : QFont::Normal);
    lp_row->setFont(0, l_font);
    ScheduleRoomListSort(lp_row);
}

void MainWindow::OnBecomingRoomMember(ItemPtr i_room)
{
    // An owner's or operator's row already shows more than membership.
    if (i_room.IsConnected("is_owner") || i_room.IsConnected("is_operator"))
        return;
    ChangeRoomFont(i_room, true, std::nullopt, std::nullopt);
}

void MainWindow::OnBecomingRoomOperator(ItemPtr i_room)
{
    ChangeRoomFont(i_room, true, std::nullopt, true);
}

void MainWindow::OnBecomingRoomOwner(ItemPtr i_room)
{
    ChangeRoomFont(i_room, true, true, true);
}

void MainWindow::OnLosingRoomRole(ItemPtr i_room)
{
    ChangeRoomFont(i_room, i_room.IsConnected("is_member"), i_room.IsConnected("is_owner"),
                   i_room.IsConnected("is_operator"));
}

void MainWindow::ScheduleRoomListSort(QTreeWidgetItem* ip_row)
{
    // A room list of thousands of rooms brings as many role changes at once; sorting
    // after each would cost a full sort per row. The queued check runs before the
    // low-priority paint request, so the list is never shown out of order.
    if (m_roomRowsToPlace.isEmpty())
        QMetaObject::invokeMethod(this, &MainWindow::SortRoomList, Qt::QueuedConnection);
    m_roomRowsToPlace.append(ip_row);
}

void MainWindow::SortRoomList()
{
    QList<QTreeWidgetItem*> const l_changed = std::exchange(m_roomRowsToPlace, {});
    if (g_showIsOver || !ui)
        return;
    // Each font change has already moved its row where the tree's order puts it, unless
    // a sort of new rows is pending. The other rows kept their keys, so the list is in
    // order when every changed row is in order with its neighbours.
    QTreeWidget* const lp_list = ui->roomList;
    Qt::SortOrder const l_order = lp_list->header()->sortIndicatorOrder();
    auto const l_inOrder = [&](int i_row) {
        QTreeWidgetItem const& l_first = *lp_list->topLevelItem(i_row);
        QTreeWidgetItem const& l_second = *lp_list->topLevelItem(i_row + 1);
        return l_order == Qt::AscendingOrder ? !(l_second < l_first) : !(l_first < l_second);
    };
    int const l_last = lp_list->topLevelItemCount() - 1;
    for (QTreeWidgetItem* lp_row : l_changed)
    {
        int const l_row = lp_list->indexOfTopLevelItem(lp_row);
        if ((l_row > 0 && !l_inOrder(l_row - 1)) || (l_row >= 0 && l_row < l_last && !l_inOrder(l_row)))
        {
            lp_list->sortItems(lp_list->sortColumn(), l_order);
            return;
        }
    }
}

void MainWindow::OnEnteredRoom(ConnectionInfo& i_info)
{
    ItemPtr const l_room = i_info.first.GetType() == d["room"] ? i_info.first : i_info.second;
    if (l_room.IsConnected("room_form"))
        return;
    QString const l_name = l_room.AsString();
    RoomForm* const lp_form = new RoomForm(l_name);
    ui->roomsTabControl->addTab(lp_form, QIcon(c_roomIcon), EscapeMnemonics(l_name));
    lp_form->Init();
    FocusWidget(lp_form);
}

void MainWindow::OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (ip_item && i_column == 0)
        mp_server->EnterRoom(ip_item->text(0), false);
}

void MainWindow::OnRoomListContextMenuRequested(QPoint i_point)
{
    if (!ui->roomList->itemAt(i_point))
        return;
    QMenu l_menu;
    l_menu.addAction(QIcon(c_roomIcon), tr("Enter Room"), this, &MainWindow::OnEnterRoom);
    l_menu.exec(ui->roomList->viewport()->mapToGlobal(i_point));
}

void MainWindow::OnEnterRoom()
{
    QList<QTreeWidgetItem*> const l_selected = ui->roomList->selectedItems();
    if (!l_selected.isEmpty())
        mp_server->EnterRoom(l_selected.first()->text(0), false);
}

void MainWindow::OnRoomTabClosed(int i_index)
{
    // Room chats and room log viewers share the tab control; either goes with its tab.
    delete ui->roomsTabControl->widget(i_index);
}

void MainWindow::OnPrivateRoomAddEnabled(bool i_enabled)
{
    SetSettingYesNo("enable_private_room_add", i_enabled);
    ui->mainToolBar->SetWidgetActionText(ui->roomList, QStringLiteral("enable_private_room_add"),
                                         i_enabled ? tr("Reject Private Room Invitations")
                                                   : tr("Accept Private Room Invitations"));
}
