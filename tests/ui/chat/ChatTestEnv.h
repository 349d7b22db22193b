#pragma once

// Set-up of the chat UI tests: a logged-in Server against the fake server (from the
// incoming-message tests), the item types the main window declares for the chat forms,
// the action, event and size services, the chat settings, and a small stand-in for the
// main window's part in the chats: a room tab on entering a room, a private chat tab per
// user with the incoming lines, and closing a tab.

#include "net/server/IncomingTestEnv.h"

#include "ui/chat/ChatForm.h"
#include "ui/chat/ChatLogForm.h"
#include "ui/chat/RoomForm.h"
#include "ui/chat/UserNoteDialog.h"

#include "store/Settings.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/ApplicationAlerts.h"
#include "widgets/EventToolBar.h"
#include "widgets/SizeManager.h"
#include "widgets/TabWidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

namespace ChatTestEnv
{
class QuietAlerts : public ApplicationAlerts
{
public:
    void SetApplicationIcon(QString) override {}
    void ResetApplicationIcon() override {}
    void PopupAlert(QString i_text) override { m_popups << i_text; }
    bool IsApplicationActive() const override { return true; }
    QStringList m_popups;
};

inline QuietAlerts& Alerts()
{
    static QuietAlerts s_alerts;
    return s_alerts;
}

inline void Relate(char const* i_a, char const* i_b, OneOrMany i_aPerB, OneOrMany i_bPerA)
{
    d[i_a]->RelateToType(d[i_b], i_aPerB, i_bPerA, false);
}

inline void InitOnce()
{
    IncomingTestEnv::InitOnce();
    static bool s_done = false;
    if (s_done)
        return;
    s_done = true;

    d.NewType("room_form", Primary, false, true);
    d.NewType("user_chat_widget", Primary, false, true);
    d.NewType("chat_log_form", Primary, false, true);
    d.NewType("user_note", Secondary, false, true);
    d.NewType("sent_empty_share_warning_message", Tertiary, false, true);
    Relate("room_form", "room", One, One);
    Relate("user_chat_widget", "user", One, One);
    Relate("chat_log_form", "room", One, One);
    Relate("chat_log_form", "user", One, One);
    Relate("user", "user_note", Many, One);
    Relate("user", "sent_empty_share_warning_message", Many, One);
    UserNoteDialog::Init();

    new ActionSetToolBar;
    actionBar->Init();
    for (QStringList const& l_action : QList<QStringList>{
             {"room", "toggle_room_autojoin", "Toggle Room Autojoin"},
             {"room", "room_chat_log", "Chat Log"},
             {"room", "give_up_membership", "Give Up Membership"},
             {"room", "give_up_ownership", "Give Up Room"},
             {"chat_log", "clear_chat_log", "Clear Log"},
             {"chat_log", "open_log_folder", "Open Log Folder"},
             {"user_chat", "user_chat_log", "Chat Log"}})
        actionBar->AddSetAction(l_action[0], l_action[1], l_action[2], ":/icons/note_icon", false);
    new EventToolBar(&Alerts());
    new SizeManager;
}

// The chat settings at their defaults, colours as the tests expect them.
inline void DefaultSettings()
{
    SetSetting("chat_timestamps", "activity_based");
    SetSetting("log_room_chat", "yes");
    SetSetting("log_private_chat", "yes");
    SetSetting("color_chat_timestamp", "#111111");
    SetSetting("color_chat_username", "#222222");
    SetSetting("color_chat_status", "#333333");
    SetSetting("color_input_background", "#444444");
    SetSetting("color_input_text", "#555555");
}

// The paragraphs of a view as plain text.
inline QStringList Paragraphs(QTextEdit* ip_view)
{
    return ip_view->toPlainText().split(u'\n');
}

inline QByteArray FileBytes(QString const& i_path)
{
    QFile l_file(i_path);
    return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray("<no file>");
}

// The payloads of the frames with the code, as hexadecimal text.
inline QStringList Payloads(QList<FakeServer::Frame> const& i_frames, quint32 i_code)
{
    QStringList l_payloads;
    for (FakeServer::Frame const& l_frame : i_frames)
        if (l_frame.code == i_code)
            l_payloads << QString::fromLatin1(l_frame.payload.toHex());
    return l_payloads;
}

inline QString Hex(QByteArray const& i_bytes)
{
    return QString::fromLatin1(i_bytes.toHex());
}

// Answers the next message box with the button, once it is up.
inline void AnswerNextBox(QMessageBox::StandardButton i_button, QString* op_text = nullptr)
{
    QTimer::singleShot(0, [i_button, op_text] {
        QMessageBox* lp_box = nullptr;
        if (!QTest::qWaitFor([&] { return (lp_box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())); }, 2000))
            return;
        if (op_text)
            *op_text = lp_box->windowTitle() + "|" + lp_box->text();
        lp_box->button(i_button)->click();
    });
}

// The main window's share of the chats: tabs for rooms entered and users who write.
class Shell : public QObject, public DataHandler
{
public:
    Shell()
    {
        QVBoxLayout* const lp_layout = new QVBoxLayout(&m_window);
        lp_layout->addWidget(mp_rooms);
        lp_layout->addWidget(mp_chats);
        lp_layout->addWidget(eventToolBar);
        m_window.resize(800, 600);
        d.AddConnectionEventHandler(d["room"], d["in_room"], CreateHandler(this, &Shell::OnEnteredRoom));
        QObject::connect(gp_server, &Server::PrivateChat, this,
                         [this](QString i_user, QString i_chat, time_t, bool) { GetChatForm(i_user)->AddChat(i_user, i_chat); });
    }
    // Shown and active, so that the toolbar follows the focus.
    bool ShowActive()
    {
        m_window.show();
        m_window.activateWindow();
        return QTest::qWaitForWindowActive(&m_window);
    }

    // The action set the toolbar shows once the widget has the focus.
    static QString SetOnFocus(QWidget* ip_widget)
    {
        ip_widget->setFocus(Qt::OtherFocusReason);
        if (!QTest::qWaitFor([&] { return QApplication::focusWidget() == ip_widget; }, 1000))
            return QStringLiteral("(focus never arrived)");
        return actionBar->CurrentSetName();
    }

    ~Shell() override
    {
        RemoveDataHandlers();
        eventToolBar->setParent(nullptr);
    }

    void OnEnteredRoom(ConnectionInfo& i_info)
    {
        ItemPtr const l_room = i_info.first.GetType() == d["room"] ? i_info.first : i_info.second;
        if (l_room.IsConnected("room_form"))
            return;
        RoomForm* const lp_form = new RoomForm(l_room.AsString());
        mp_rooms->addTab(lp_form, l_room.AsString());
        lp_form->Init();
    }

    ChatForm* GetChatForm(QString const& i_user)
    {
        if (ItemPtr const l_open = (*d["user"])[Value(i_user)]["user_chat_widget"])
            return l_open.AsPtr<ChatForm>();
        ChatForm* const lp_form = new ChatForm(i_user, mp_chats, &m_window);
        mp_chats->addTab(lp_form, i_user);
        return lp_form;
    }

    RoomForm* Room(QString const& i_room) const
    {
        ItemPtr const l_node = d["room"]->HasItem(Value(i_room))["room_form"];
        return l_node ? l_node.AsPtr<RoomForm>() : nullptr;
    }

    QWidget m_window;
    TabWidget* mp_rooms = new TabWidget;
    TabWidget* mp_chats = new TabWidget;
};
} // namespace ChatTestEnv
