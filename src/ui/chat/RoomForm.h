#pragma once

// The tab of one chat room. Interim: it shows the room's chat lines as plain text; the
// user list, the input line and chat logs are not built yet.
//
// While it lives the room is connected to a `room_form` item keyed by the tab's address.
// The tab goes (deleteLater) when the room loses `in_room`, and leaves the room on the
// server when it is destroyed, unless the program is shutting down.

#include "store/Data.h"

#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

class RoomForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    RoomForm(QString i_room, QWidget* ip_parent = nullptr);
    ~RoomForm() override;

    // Called once after the tab is added; nothing to register yet.
    void Init();

    QString Room() const { return m_room; }
    QPlainTextEdit* ChatView() const { return mp_chatView; }

public slots:
    void OnRoomChat(QString i_room, QString i_user, QString i_chat);

private:
    void OnInRoomDisconnected(ConnectionInfo& i_info);

    QString m_room;
    ItemPtr m_roomItem;
    QPlainTextEdit* mp_chatView;
};
