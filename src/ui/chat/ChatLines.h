#pragma once

// The conversation of one chat tab, as both kinds of tab show and log it: a room tab
// (RoomForm) and a private chat tab (ChatForm) each own one and call it under the same
// operation names. It holds no widget of its own; it writes into the tab's view.
//
// A chat line becomes one paragraph of rich text: an optional time stamp, the speaker in
// brackets, the text, with markup shown as typed and http(s) addresses as links. "/me "
// lines are shown as status lines. In the "activity_based" time-stamp mode a quiet chat
// is marked by "Chat ended" and the next line by "Chat started". Lines are logged to the
// room's or user's file (ChatLogFiles.h) and handed to an open log viewer.
//
// The kinds differ where the users see a difference: room text is trimmed, private text
// is not; room logs and private logs have their own folder and their own setting; and the
// room view is capped at 250000 characters of HTML (every line it shows counts), dropping
// the oldest lines, while a private view grows without limit.

#include "ui/chat/ChatLogFiles.h"

#include <QDateTime>
#include <QString>

class QTextBrowser;

class ChatLines
{
public:
    // The view's HTML length above which the oldest lines go, and how much goes at once.
    static constexpr qsizetype c_htmlCap = 250000;
    static constexpr qsizetype c_htmlCut = 50000;
    // Quiet time after which an active chat counts as ended.
    static constexpr qint64 c_inactivityMs = 300000;

    // The name is the room's or the other user's.
    ChatLines(ChatLogKind i_kind, QString i_name);
    // The tab's view, once the tab has built it; every line goes there.
    void SetView(QTextBrowser* ip_view);

    QString const& Name() const { return m_name; }

    // Shows and logs one line of the speaker. Returns true for a chat line and false for
    // an action ("/me ") line, which only the private tab's notice needs to know.
    bool AddChat(QString const& i_speaker, QString const& i_text);
    // An unlogged line in the status colour.
    void AddStatusMessage(QString const& i_message);
    // Appends the line to the log file (when the kind's setting says "yes") and to an
    // open viewer of that log.
    void LogChat(QString const& i_line);
    // Ends an active chat after the quiet time.
    void CheckChatInactivity();

    bool IsChatActive() const { return m_chatActive; }
    QDateTime LastChatTime() const { return m_lastChatTime; }
    // For the inactivity check of a test without waiting.
    void SetLastChatTime(QDateTime const& i_time) { m_lastChatTime = i_time; }
    // An upper bound of the room view's HTML length, kept without serialising the view.
    qsizetype HtmlBound() const { return m_htmlBound; }

    // --- Formats ---------------------------------------------------------------------
    // "MMM d h:mm:ss ap": the system locale's short month, unpadded day and 12-hour hour,
    // "am" or "pm" as written here.
    static QString LongTime(QDateTime const& i_time);
    // "h:mm:ss", 24-hour clock with an unpadded hour.
    static QString ShortTime(QDateTime const& i_time);
    // The HTML of a chat line in the given time-stamp mode, links made clickable.
    static QString ChatLineHtml(QString const& i_mode, QDateTime const& i_now,
                                QString const& i_speaker, QString const& i_text,
                                QString const& i_timestampColor, QString const& i_usernameColor);
    static QString StatusHtml(QString const& i_message, QString const& i_color);
    // A private line's tray text: "[speaker] " and the first 100 characters, then " ..."
    // when more followed.
    static QString PopupText(QString const& i_speaker, QString const& i_text);
    // How much the view's HTML can grow at most when this line is appended.
    static qsizetype HtmlGrowthBound(QString const& i_html);

private:
    // Appends a line of either kind; the room view's cap applies to every line.
    void Show(QString const& i_html);
    void Append(QString const& i_html);
    // The room view's cap: drops the oldest lines when the view's HTML has grown past the
    // cap, then appends the line.
    void AppendCapped(QString const& i_html);
    // Drops everything up to the first line end after c_htmlCut characters of the view's
    // HTML; returns the new HTML length.
    qsizetype Cut(QString const& i_html);

    ChatLogKind m_kind;
    QString m_name;
    QTextBrowser* mp_view;
    bool m_chatActive;
    QDateTime m_lastChatTime;
    qsizetype m_htmlBound;
};
