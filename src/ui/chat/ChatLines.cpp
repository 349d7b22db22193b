#include "ui/chat/ChatLines.h"

#include "ui/chat/ChatLogForm.h"

#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringView>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

namespace
{
QString const c_activityBased = QStringLiteral("activity_based");

QString FontPiece(QString const& i_color, QString const& i_content)
{
    return QStringLiteral("<font color=\"") + i_color + QStringLiteral("\">") + i_content +
           QStringLiteral("</font>");
}

// Characters the document may turn into a paragraph, a frame or an object of its own,
// each with its own markup in the exported HTML.
bool MayStructure(char16_t i_char)
{
    return i_char < 0x20 || i_char == 0x85 || i_char == 0x2028 || i_char == 0x2029 ||
           (i_char >= 0xfdd0 && i_char <= 0xfdef) || i_char == 0xfffc;
}
} // namespace

ChatLines::ChatLines(ChatLogKind i_kind, QString i_name)
    : m_kind(i_kind), m_name(std::move(i_name)), mp_view(nullptr), m_chatActive(false),
      m_lastChatTime(QDateTime::currentDateTime()), m_htmlBound(0)
{
}

void ChatLines::SetView(QTextBrowser* ip_view)
{
    mp_view = ip_view;
    m_htmlBound = ip_view->document()->toHtml().size();
}

QString ChatLines::LongTime(QDateTime const& i_time)
{
    QTime const l_time = i_time.time();
    int l_hour = l_time.hour() % 12;
    if (l_hour == 0)
        l_hour = 12;
    return QLocale::system().monthName(i_time.date().month(), QLocale::ShortFormat) + u' ' +
           QString::number(i_time.date().day()) + u' ' + QString::number(l_hour) + u':' +
           QStringLiteral("%1:%2").arg(l_time.minute(), 2, 10, QLatin1Char('0')).arg(l_time.second(), 2, 10, QLatin1Char('0')) +
           (l_time.hour() < 12 ? QStringLiteral(" am") : QStringLiteral(" pm"));
}

QString ChatLines::ShortTime(QDateTime const& i_time)
{
    QTime const l_time = i_time.time();
    return QString::number(l_time.hour()) +
           QStringLiteral(":%1:%2").arg(l_time.minute(), 2, 10, QLatin1Char('0')).arg(l_time.second(), 2, 10, QLatin1Char('0'));
}

QString ChatLines::ChatLineHtml(QString const& i_mode, QDateTime const& i_now,
                                QString const& i_speaker, QString const& i_text,
                                QString const& i_timestampColor, QString const& i_usernameColor)
{
    QString l_html;
    if (i_mode == QLatin1String("per_message_short"))
        l_html = u'[' + FontPiece(i_timestampColor, ShortTime(i_now)) + u']';
    else if (i_mode == QLatin1String("per_message_long"))
        l_html = u'[' + FontPiece(i_timestampColor, LongTime(i_now)) + u']';
    l_html += u'[' + FontPiece(i_usernameColor, EscapeHTML(i_speaker)) + QStringLiteral("] ") +
              EscapeHTML(i_text);
    return ConvertLinks(l_html);
}

QString ChatLines::StatusHtml(QString const& i_message, QString const& i_color)
{
    return ConvertLinks(QStringLiteral("* ") + FontPiece(i_color, EscapeHTML(i_message)));
}

QString ChatLines::PopupText(QString const& i_speaker, QString const& i_text)
{
    QString l_popup = u'[' + i_speaker + QStringLiteral("] ") + i_text.left(100);
    if (i_text.size() > 100)
        l_popup += QStringLiteral(" ...");
    return l_popup;
}

qsizetype ChatLines::HtmlGrowthBound(QString const& i_html)
{
    // A paragraph's own markup: <p style="..."> with its margins, </p> and the line end.
    constexpr qsizetype c_paragraph = 136;
    // A <font color> becomes a <span style=" color:#rrggbb;">, a named colour included.
    constexpr qsizetype c_font = 16;
    // A link gains a span with its underline and colour, and splits the span around it.
    constexpr qsizetype c_anchor = 96;

    qsizetype l_bound = c_paragraph + i_html.size();
    qsizetype l_longestTag = 0;
    qsizetype l_tagStart = -1;
    for (qsizetype l_index = 0; l_index < i_html.size(); ++l_index) {
        char16_t const l_char = i_html.at(l_index).unicode();
        if (l_tagStart >= 0) {
            if (l_char == u'>') {
                l_longestTag = std::max(l_longestTag, l_index + 1 - l_tagStart);
                l_tagStart = -1;
            }
            continue;
        }
        if (l_char == u'<')
            l_tagStart = l_index;
        else if (l_char == u'"' || l_char == 0xa0)
            l_bound += 5; // &quot; and &nbsp;
        else if (MayStructure(l_char))
            l_bound += 2 * c_paragraph + 32;
    }
    QStringView const l_view(i_html);
    l_bound += c_font * l_view.count(QLatin1String("<font"));
    l_bound += (c_anchor + 2 * (l_longestTag + c_font)) * l_view.count(QLatin1String("<a "));
    return l_bound;
}

void ChatLines::Append(QString const& i_html)
{
    mp_view->append(i_html);
    m_htmlBound += HtmlGrowthBound(i_html);
}

void ChatLines::AppendCapped(QString const& i_html)
{
    // Serialising a full view costs milliseconds, so the exact length is only taken once
    // the running bound says the cap may have been passed.
    if (m_htmlBound > c_htmlCap) {
        QString const l_html = mp_view->document()->toHtml();
        m_htmlBound = l_html.size();
        if (l_html.size() > c_htmlCap) {
            mp_view->setUpdatesEnabled(false);
            m_htmlBound = Cut(l_html);
            Append(i_html);
            mp_view->setUpdatesEnabled(true);
            return;
        }
    }
    Append(i_html);
}

qsizetype ChatLines::Cut(QString const& i_html)
{
    QTextDocument* const lp_document = mp_view->document();
    qsizetype const l_lineEnd = i_html.indexOf(u'\n', c_htmlCut);

    // The exported HTML is a header that ends with the <body> line, then one line per
    // paragraph. When that holds, dropping the HTML up to a line end is dropping whole
    // paragraphs, which the document does without parsing the rest again.
    qsizetype const l_body = i_html.indexOf(QLatin1String("<body"));
    qsizetype const l_firstParagraph = l_body < 0 ? -1 : i_html.indexOf(u'\n', l_body) + 1;
    if (l_lineEnd >= 0 && l_firstParagraph > 0 && l_lineEnd >= l_firstParagraph) {
        QStringView const l_paragraphs = QStringView(i_html).mid(l_firstParagraph);
        qsizetype const l_dropped =
            QStringView(i_html).mid(l_firstParagraph, l_lineEnd + 1 - l_firstParagraph).count(u'\n');
        if (l_paragraphs.count(u'\n') + 1 == lp_document->blockCount() &&
            l_dropped < lp_document->blockCount()) {
            QTextCursor l_cursor(lp_document);
            l_cursor.movePosition(QTextCursor::Start);
            l_cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(l_dropped));
            l_cursor.removeSelectedText();
            return i_html.size() - (l_lineEnd + 1 - l_firstParagraph);
        }
    }

    // Anything else: rebuild the view from what is left of the HTML.
    QString l_rest = i_html.mid(c_htmlCut);
    qsizetype const l_restLineEnd = l_rest.indexOf(u'\n');
    if (l_restLineEnd >= 0)
        l_rest.remove(0, l_restLineEnd + 1);
    mp_view->clear();
    mp_view->append(l_rest);
    return lp_document->toHtml().size();
}

bool ChatLines::AddChat(QString const& i_speaker, QString const& i_text)
{
    bool const l_room = m_kind == ChatLogKind::Room;
    QString const l_text = l_room ? i_text.trimmed() : i_text;
    QString const l_trimmed = l_room ? l_text : l_text.trimmed();
    QDateTime const l_now = QDateTime::currentDateTime();

    if (l_trimmed.startsWith(QLatin1String("/me "))) {
        QString const l_status = i_speaker + u' ' + l_trimmed.mid(4).trimmed();
        AddStatusMessage(l_status);
        LogChat(u'[' + LongTime(l_now) + QStringLiteral("] * ") + l_status);
        return false;
    }

    QString const l_mode = GetSetting("chat_timestamps");
    m_lastChatTime = l_now;
    bool const l_wasActive = m_chatActive;
    m_chatActive = true;
    if (!l_wasActive && l_mode == c_activityBased)
        AddStatusMessage(QStringLiteral("Chat started ") + LongTime(l_now));

    QString const l_html = ChatLineHtml(l_mode, l_now, i_speaker, l_text, GetSetting("color_chat_timestamp"),
                                        GetSetting("color_chat_username"));
    Show(l_html);
    LogChat(u'[' + LongTime(l_now) + QStringLiteral("][") + i_speaker + QStringLiteral("] ") + l_text);
    return true;
}

void ChatLines::AddStatusMessage(QString const& i_message)
{
    Show(StatusHtml(i_message, GetSetting("color_chat_status")));
}

void ChatLines::Show(QString const& i_html)
{
    // Status and action lines count too: "/me" lines and joins come as fast as chat.
    if (m_kind == ChatLogKind::Room)
        AppendCapped(i_html);
    else
        Append(i_html);
}

void ChatLines::LogChat(QString const& i_line)
{
    bool const l_room = m_kind == ChatLogKind::Room;
    if (!IsSettingYes(l_room ? "log_room_chat" : "log_private_chat"))
        return;

    // One message is one line: a break inside another user's text would let the rest pass
    // for a line of its own, dated and signed as the sender pleases.
    static QRegularExpression const c_breaks(
        QStringLiteral("\\r\\n|[\\n\\r\\v\\f\\x{85}\\x{2028}\\x{2029}]"));
    QString const l_line = QString(i_line).replace(c_breaks, QStringLiteral(" "));

    QDir().mkpath(ChatLogFolder(m_kind));
    QFile l_file(ChatLogPath(m_kind, m_name));
    if (l_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        l_file.write(l_line.toUtf8() + '\n');
        l_file.close();
    }

    ItemPtr const l_owner = d[l_room ? "room" : "user"]->HasItem(Value(m_name));
    ItemPtr const l_viewer = l_owner["chat_log_form"];
    if (l_viewer)
        l_viewer.AsPtr<ChatLogForm>()->AddLine(l_line);
}

void ChatLines::CheckChatInactivity()
{
    if (!m_chatActive)
        return;
    if (m_lastChatTime.msecsTo(QDateTime::currentDateTime()) < c_inactivityMs)
        return;
    m_chatActive = false;
    if (GetSetting("chat_timestamps") == c_activityBased)
        AddStatusMessage(QStringLiteral("Chat ended ") + LongTime(m_lastChatTime));
}
