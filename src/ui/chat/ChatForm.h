#pragma once

// The private chat with one user, a tab of the main window's "Chat" page. Interim: it
// shows the lines it is given as plain text; sending, the chat notice and chat logs are
// not built yet.
//
// While it lives the user is connected to a `user_chat_widget` item keyed by the form's
// address; the destructor removes that item.

#include <QPlainTextEdit>
#include <QString>
#include <QTabWidget>
#include <QWidget>

class ChatForm : public QWidget
{
    Q_OBJECT

public:
    ChatForm(QString i_user, QTabWidget* ip_tabWidget, QWidget* ip_parent = nullptr);
    ~ChatForm() override;

    // One incoming line (user, text).
    void AddChat(QString i_user, QString i_chat);
    // Brings the chat tab forward.
    void Focus();

    QString User() const { return m_user; }
    QPlainTextEdit* ChatView() const { return mp_chatView; }

private:
    QString m_user;
    QTabWidget* mp_tabWidget;
    QPlainTextEdit* mp_chatView;
};
