#pragma once

// The tab of one chat room: the conversation and an input line beside the member list.
// It sends what the user types, keeps the member list and the room's `user_count` in
// step with the store, marks lost and regained server connections and enters the room
// again after each new login, and keeps the room's entries of the action toolbar.
//
// The main window opens it when the room gains `in_room`. While it lives the room is
// connected to a `room_form` item keyed by the tab's address, which the destructor
// removes, so that a room entered again gets a tab again. The tab deletes itself when
// the room loses `in_room` (nothing is sent then); closing it otherwise leaves the room.

#include "ui/chat/ChatLines.h"

#include "store/Data.h"

#include <QHash>
#include <QIcon>
#include <QLineEdit>
#include <QSplitter>
#include <QString>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QWidget>

class QVBoxLayout;
class QRoomUserListItemWidget;

class RoomForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    RoomForm(QString i_room, QWidget* ip_parent = nullptr);
    ~RoomForm() override;

    // Called once after the tab is added: saved sizes and the tab's focus.
    void Init();

    void AddStatusMessage(QString i_message);
    void LogChat(QString i_line);

    // Offline the server drops a room request without a word. Whether the server is
    // connected; when not, "Not connected: " + the notice is said in the room's tab, or
    // in a box when the room has none, so the action does not look done.
    static bool RequireConnection(QString const& i_room, QString const& i_notice);

    // Store path handlers.
    void OnUserAdded(ItemPtr i_user);
    void OnUserRemoved(ItemPtr i_user);
    void OnOperatorAdded(ItemPtr i_user);
    void OnOperatorRemoved(ItemPtr i_user);
    void OnUserNoteChanged(ItemPtr i_user);
    void OnUserNoteRemoved(ItemPtr i_user);
    void OnRoomAutojoinOn(ItemPtr i_room);
    void OnRoomAutojoinOff(ItemPtr i_room);
    void OnLeftRoom(ItemPtr i_room);

    QString Room() const { return m_room; }
    QTextBrowser* ChatView() const { return chatView; }
    ChatLines& Lines() { return m_lines; }
    // The member row of a user, or null.
    QRoomUserListItemWidget* UserRow(QString const& i_user) const;

    QSplitter* splitter;
    QWidget* layoutWidget;
    QTextBrowser* chatView;
    QLineEdit* chatEdit;
    QTreeWidget* userList;

public slots:
    void OnRoomChat(QString i_room, QString i_user, QString i_chat);
    void OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnEnterPressed();
    void OnConnected();
    void OnDisconnected();
    void OnUserListContextMenuRequested(QPoint i_point);
    void CheckChatInactivity();
    void OnURLClicked(QUrl i_url);

private:
    void SetupUi();
    void RegisterPathHandlers();
    // The room's `user_count`: the users connected to it now.
    void UpdateUserCount();
    void SetNameWeight(ItemPtr i_user, bool i_bold);
    void SetNoteIcon(ItemPtr i_user, bool i_hasNote);
    // Rows made during a store operation join the list when the operation ends.
    void QueueRow(QRoomUserListItemWidget* ip_row);
    void InsertQueuedRows();

    // The types a member row reads, looked up once rather than by name for every member.
    struct Types
    {
        Type* user;
        Type* userCount;
        Type* roomOwner;
        Type* roomOperators;
        Type* countryCode;
        Type* sharedFiles;
        Type* speed;
        Type* userNote;
    };

    QVBoxLayout* verticalLayout_2;
    QVBoxLayout* verticalLayout;
    QString m_room;
    Types m_types;
    ItemPtr m_roomItem;
    ChatLines m_lines;
    bool m_leftRoom;
    // The `user_count` item this form connected last, and the count it holds.
    ItemPtr m_lastCountItem;
    qint64 m_lastCount = -1;
    // Rows by user item: joins of thousands of users must not search the list, nor hash
    // each name. A user's item outlives its row: the row goes when the user leaves the
    // room, and a removed item is disconnected (and the row goes) before it is freed.
    QHash<Item const*, QRoomUserListItemWidget*> m_rows;
    // Made but not yet in the list (they are in m_rows).
    QList<QTreeWidgetItem*> m_queuedRows;
};
