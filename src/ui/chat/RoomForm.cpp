#include "ui/chat/RoomForm.h"

#include "app/ActionSetToolBar.h"
#include "app/UIFunctions.h"
#include "net/server/Server.h"

#include <QVBoxLayout>

RoomForm::RoomForm(QString i_room, QWidget* ip_parent)
    : QWidget(ip_parent), m_room(i_room), mp_chatView(new QPlainTextEdit(this))
{
    mp_chatView->setReadOnly(true);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(mp_chatView);

    m_roomItem = d["room"]->GetItem(Value(m_room));
    m_roomItem += d["room_form"]->GetItem(Value(this));
    d.AddDisconnectionEventHandler(d["room"], d["in_room"],
                                   CreateHandler(this, &RoomForm::OnInRoomDisconnected));

    if (actionBar)
    {
        actionBar->RegisterWidget(this, QStringLiteral("room"));
        actionBar->AddWidgetKey(this, QStringLiteral("room"), m_room);
    }
    if (gp_server)
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);
}

RoomForm::~RoomForm()
{
    RemoveDataHandlers();
    if (ItemPtr const l_node = d["room_form"]->HasItem(Value(this)))
        l_node.Remove();
    // Tabs die with the window after the server connection is gone.
    if (!g_showIsOver && gp_server)
        gp_server->LeaveRoom(m_room);
}

void RoomForm::Init()
{
}

void RoomForm::OnRoomChat(QString i_room, QString i_user, QString i_chat)
{
    if (i_room == m_room)
        mp_chatView->appendPlainText(QStringLiteral("[%1] %2").arg(i_user, i_chat));
}

void RoomForm::OnInRoomDisconnected(ConnectionInfo& i_info)
{
    if (i_info.first == m_roomItem || i_info.second == m_roomItem)
        deleteLater();
}
