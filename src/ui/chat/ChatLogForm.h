#pragma once

// A viewer of one chat log file, a tab of the rooms' or the private chats' tab control.
// It reads the whole file when it opens, adds every line the chat logs while it is open,
// searches the text (without regard to case, overlapping matches included) with the
// match highlighted in the input colours swapped, and offers "Clear Log" and "Open Log
// Folder" on the action toolbar.
//
// Every line is shown as plain text: a log holds what other users typed, and markup in
// it must neither fake lines nor load files.
//
// At most one viewer is open per room or user: the room or user is connected to a
// `chat_log_form` item keyed by the viewer's address, which the destructor removes.

#include "ui/chat/ChatLogFiles.h"

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTextEdit>
#include <QWidget>

class QHBoxLayout;
class QSpacerItem;
class QTabWidget;
class QVBoxLayout;

class ChatLogForm : public QWidget
{
    Q_OBJECT

public:
    // Reads the file; a file that cannot be read leaves the viewer empty, without a path
    // and without actions.
    ChatLogForm(QString i_path, QWidget* ip_parent = nullptr);
    ~ChatLogForm() override;

    // The viewer of a room's or user's log, brought forward: the open one, or a new tab
    // of the tab control connected to the room or user.
    static ChatLogForm* Open(ChatLogKind i_kind, QString const& i_name, QTabWidget* ip_tabs,
                             QWidget* ip_parent = nullptr);

    // A new paragraph at the end, trimmed.
    void AddLine(QString i_line);

    QString const& LogPath() const { return m_logPath; }
    QTextEdit* LogView() const { return logEdit; }

    QLineEdit* searchEdit;
    QPushButton* searchBackButton;
    QPushButton* searchForwardButton;
    QTextEdit* logEdit;

public slots:
    void OnSearchTextChanged(QString i_text);
    void OnSearchBack();
    void OnSearchForward();
    void OnActionTriggered(QWidget* ip_widget, QString i_action);

public:
    // Highlights the match the view's cursor selects, updates the buttons and scrolls
    // the match to the top; the cursor ends at the match start.
    void MarkFind();
    // Enables each button exactly when a search from the current match in its direction
    // finds another one.
    void MarkSearchButtons();

private:
    void SetupUi();
    void Load(QString const& i_path);
    // The start of the current match: the selection's start, or the cursor itself.
    int MatchStart() const;

    QHBoxLayout* horizontalLayout_2;
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QSpacerItem* horizontalSpacer;
    QString m_logPath;
};
