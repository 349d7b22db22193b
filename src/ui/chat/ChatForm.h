#pragma once

// The private chat with one user, a tab of the main window's chat tab control: the
// conversation above an input line. Own lines are shown and logged at once and sent to
// the server; the other user's lines arrive through AddChat. A line that arrives while
// the tab is hidden leaves an entry on the event toolbar, which showing the tab removes.
// The user's going away and coming back are shown as status lines.
//
// While it lives the user is connected to a `user_chat_widget` item keyed by the form's
// address; the destructor removes that item.

#include "ui/chat/ChatLines.h"

#include "store/Data.h"

#include <QLineEdit>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

class QHBoxLayout;
class QShowEvent;
class QTabWidget;
class QVBoxLayout;

class ChatForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    ChatForm(QString i_user, QTabWidget* ip_tabWidget, QWidget* ip_parent = nullptr);
    ~ChatForm() override;

    // One line of the speaker (the other user, or the own name for an own line).
    void AddChat(QString i_user, QString i_chat);
    void AddStatusMessage(QString i_message);
    void LogChat(QString i_line);
    // Gives the input line the focus, bringing the tab forward.
    void Focus();

    // Store path handlers on the user's `is_away` flag.
    void OnUserAway(ItemPtr i_user);
    void OnUserAvailable(ItemPtr i_user);

    QString User() const { return m_user; }
    QTextBrowser* ChatView() const { return chatView; }
    ChatLines& Lines() { return m_lines; }

    QTextBrowser* chatView;
    QLineEdit* chatEdit;

public slots:
    void OnEnter();
    void CheckChatInactivity();
    void OnContextMenuRequested(QPoint i_point);
    void OnURLClicked(QUrl i_url);
    void OnActionTriggered(QWidget* ip_widget, QString i_action);

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    void SetupUi();

    QHBoxLayout* horizontalLayout;
    QVBoxLayout* verticalLayout;
    QString m_user;
    QTabWidget* mp_tabWidget;
    ChatLines m_lines;
};
