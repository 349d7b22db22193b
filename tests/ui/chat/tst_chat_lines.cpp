// Chat lines as both kinds of tab show and log them: the HTML of each time-stamp mode,
// escaping and links, "/me " lines, the activity markers, pop-up texts, log files and
// their names, and the room view's cap.

#include "ChatTestEnv.h"

#include "ui/chat/ChatLines.h"
#include "ui/chat/ChatLogFiles.h"

#include "store/GeneralFunctions.h"

#include <QDir>
#include <QFileInfo>

using namespace ChatTestEnv;

namespace
{
QDateTime const c_afternoon(QDate(2012, 3, 7), QTime(15, 4, 5));

QString Month(int i_month)
{
    return QLocale::system().monthName(i_month, QLocale::ShortFormat);
}

QString LastLogLine(ChatLogKind i_kind, QString const& i_name)
{
    QList<QByteArray> const l_lines = FileBytes(ChatLogPath(i_kind, i_name)).split('\n');
    return l_lines.size() < 2 ? QString() : QString::fromUtf8(l_lines.at(l_lines.size() - 2));
}
} // namespace

class TestChatLines : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitOnce();
        DefaultSettings();
    }
    void init() { DefaultSettings(); }

    void html_data();
    void html();
    void lineRules_data();
    void lineRules();
    void activityMarkers();
    void popupText();
    void logFileNames();
    void logFormat();
    void growthBoundHolds();
    void capKeepsTheNewestLines();
};

void TestChatLines::html_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("speaker");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");

    QString const l_bob = QStringLiteral("[<font color=\"#222222\">bob</font>] ");
    QTest::newRow("short") << "per_message_short" << c_afternoon << "bob" << "hi"
                           << "[<font color=\"#111111\">15:04:05</font>]" + l_bob + "hi";
    QTest::newRow("long pm") << "per_message_long" << c_afternoon << "bob" << "hi"
                             << "[<font color=\"#111111\">" + Month(3) + " 7 3:04:05 pm</font>]" + l_bob + "hi";
    QTest::newRow("long midnight") << "per_message_long" << QDateTime(QDate(2012, 12, 31), QTime(0, 9, 8)) << "bob" << "hi"
                                   << "[<font color=\"#111111\">" + Month(12) + " 31 12:09:08 am</font>]" + l_bob + "hi";
    QTest::newRow("short midnight") << "per_message_short" << QDateTime(QDate(2012, 1, 1), QTime(0, 0, 9)) << "bob" << "hi"
                                    << "[<font color=\"#111111\">0:00:09</font>]" + l_bob + "hi";
    QTest::newRow("activity") << "activity_based" << c_afternoon << "bob" << "hi" << l_bob + "hi";
    QTest::newRow("none") << "no_timestamps" << c_afternoon << "bob" << "hi" << l_bob + "hi";
    QTest::newRow("unknown mode") << "sometimes" << c_afternoon << "bob" << "hi" << l_bob + "hi";
    QTest::newRow("escaped") << "no_timestamps" << c_afternoon << "<i>b&b" << "<b>x</b> & \"q\""
                             << "[<font color=\"#222222\">&lt;i&gt;b&amp;b</font>] &lt;b&gt;x&lt;/b&gt; &amp; \"q\"";
    QTest::newRow("link") << "no_timestamps" << c_afternoon << "bob" << "see https://a.example/x?y=1 now"
                          << l_bob + "see <a href=\"https://a.example/x?y=1\">https://a.example/x?y=1</a> now";
}

void TestChatLines::html()
{
    QFETCH(QString, mode);
    QFETCH(QDateTime, now);
    QFETCH(QString, speaker);
    QFETCH(QString, text);
    QFETCH(QString, html);
    QCOMPARE(ChatLines::ChatLineHtml(mode, now, speaker, text, "#111111", "#222222"), html);
}

void TestChatLines::lineRules_data()
{
    QTest::addColumn<bool>("room");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("logged"); // after "[time]"
    QTest::addColumn<bool>("chatLine");

    QTest::newRow("room action") << true << "/me waves" << "* bob waves" << " * bob waves" << false;
    QTest::newRow("action of spaces") << true << "  /me   waves hello  " << "* bob waves hello" << " * bob waves hello" << false;
    QTest::newRow("me alone") << true << "/me" << "[bob] /me" << "[bob] /me" << true;
    QTest::newRow("me glued") << true << "/mewaves" << "[bob] /mewaves" << "[bob] /mewaves" << true;
    QTest::newRow("me capitals") << true << "/ME waves" << "[bob] /ME waves" << "[bob] /ME waves" << true;
    QTest::newRow("room blanks") << true << "   " << "[bob] " << "[bob] " << true;
    QTest::newRow("room trimmed") << true << "  hi  " << "[bob] hi" << "[bob] hi" << true;
    QTest::newRow("private untrimmed") << false << "  hi  " << "[bob] hi " << "[bob]   hi  " << true;
    QTest::newRow("private action") << false << "   /me  waves " << "* bob waves" << " * bob waves" << false;
    QTest::newRow("markup as typed") << false << "<img src=x>" << "[bob] <img src=x>" << "[bob] <img src=x>" << true;
}

void TestChatLines::lineRules()
{
    QFETCH(bool, room);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QString, logged);
    QFETCH(bool, chatLine);
    SetSetting("chat_timestamps", "no_timestamps");
    ChatLogKind const l_kind = room ? ChatLogKind::Room : ChatLogKind::User;
    QString const l_name = QString::fromLatin1(QTest::currentDataTag());

    QTextBrowser l_view;
    ChatLines l_lines(l_kind, l_name);
    l_lines.SetView(&l_view);
    QDateTime const l_before = l_lines.LastChatTime();
    QCOMPARE(l_lines.AddChat("bob", text), chatLine);
    QCOMPARE(l_view.toPlainText(), shown);
    QString const l_line = LastLogLine(l_kind, l_name);
    QVERIFY2(l_line.startsWith('[') && l_line.endsWith(logged), qPrintable(l_line));
    // Action lines leave the chat's activity alone.
    QCOMPARE(l_lines.IsChatActive(), chatLine);
    if (!chatLine)
        QCOMPARE(l_lines.LastChatTime(), l_before);
}

void TestChatLines::activityMarkers()
{
    QTextBrowser l_view;
    ChatLines l_lines(ChatLogKind::Room, "markers");
    l_lines.SetView(&l_view);
    QDateTime const l_past = QDateTime::currentDateTime().addSecs(-400);

    l_lines.AddChat("bob", "one");
    QStringList l_shown = Paragraphs(&l_view);
    QCOMPARE(l_shown.size(), 2);
    QVERIFY(l_shown[0].startsWith("* Chat started " + Month(QDate::currentDate().month())));
    QCOMPARE(l_shown[1], "[bob] one");

    // A line long after the last one but before the check: still active, no marker.
    l_lines.SetLastChatTime(l_past);
    l_lines.AddChat("bob", "two");
    QCOMPARE(Paragraphs(&l_view).size(), 3);

    l_lines.SetLastChatTime(QDateTime::currentDateTime().addMSecs(-299000));
    l_lines.CheckChatInactivity();
    QVERIFY(l_lines.IsChatActive());
    l_lines.SetLastChatTime(l_past);
    l_lines.CheckChatInactivity();
    QVERIFY(!l_lines.IsChatActive());
    QCOMPARE(Paragraphs(&l_view).last(), "* Chat ended " + ChatLines::LongTime(l_past));
    l_lines.CheckChatInactivity();
    QCOMPARE(Paragraphs(&l_view).size(), 4);

    // Active in another mode, then switched: "Chat ended" without "Chat started".
    SetSetting("chat_timestamps", "per_message_short");
    l_lines.AddChat("bob", "three");
    QVERIFY(!Paragraphs(&l_view).last().contains("Chat started"));
    SetSetting("chat_timestamps", "activity_based");
    l_lines.SetLastChatTime(l_past);
    l_lines.CheckChatInactivity();
    QStringList const l_final = Paragraphs(&l_view);
    QCOMPARE(l_final.size(), 6);
    QVERIFY(l_final.last().startsWith("* Chat ended"));
    // Markers are status lines: never logged.
    QVERIFY(!FileBytes(ChatLogPath(ChatLogKind::Room, "markers")).contains("Chat"));
}

void TestChatLines::popupText()
{
    QString const l_hundred(100, u'a');
    QCOMPARE(ChatLines::PopupText("bob", l_hundred), "[bob] " + l_hundred);
    QCOMPARE(ChatLines::PopupText("bob", l_hundred + "b"), "[bob] " + l_hundred + " ...");
    QCOMPARE(ChatLines::PopupText("bob", QString(150, u'c')), "[bob] " + QString(100, u'c') + " ...");
}

void TestChatLines::logFileNames()
{
    QStringList const l_names = {"Room 1", "../../x", "a/b", "..", ".", "", QString(QChar(0)) + "nul",
                                 "100%", "%2E.", ".hidden", "%2Ehidden", QString(300, u'n'),
                                 QString(299, u'n') + "m", QString(150, QChar(0x00e9)) + "/"};
    QDir l_folder(ChatLogFolder(ChatLogKind::Room));
    QVERIFY(l_folder.removeRecursively() || !l_folder.exists());
    QSet<QString> l_files;
    for (QString const& l_name : l_names) {
        QString const l_file = ChatLogFileName(l_name);
        QVERIFY2(!l_file.contains('/') && !l_file.contains(QChar(0)) && !l_file.startsWith("..") &&
                     l_file.toUtf8().size() <= 255,
                 qPrintable(l_file));
        l_files.insert(l_file);
        ChatLines l_lines(ChatLogKind::Room, l_name);
        l_lines.LogChat("line of " + l_name);
    }
    QCOMPARE(ChatLogFileName("Room 1"), "Room 1.log");
    QCOMPARE(ChatLogFileName(QString::fromUtf8("K\xc3\xa4se \\ :*?")), QString::fromUtf8("K\xc3\xa4se \\ :*?.log"));
    // One file each, all inside the folder and nowhere else.
    QCOMPARE(l_files.size(), l_names.size());
    QCOMPARE(l_folder.entryList(QDir::Files | QDir::Hidden | QDir::System).size(), l_names.size());
    QVERIFY(!QFileInfo::exists(QDir::homePath() + "/x.log") && !QFileInfo::exists(QDir::homePath() + "/Kestrune Chat Logs/x.log"));
    for (QString const& l_name : l_names)
        QCOMPARE(FileBytes(ChatLogPath(ChatLogKind::Room, l_name)), ("line of " + l_name + "\n").toUtf8());
}

void TestChatLines::logFormat()
{
    QString const l_user = QString::fromUtf8("J\xc3\xbcrgen");
    QString const l_path = ChatLogPath(ChatLogKind::User, l_user);
    QFile::remove(l_path);
    QTextBrowser l_view;
    ChatLines l_lines(ChatLogKind::User, l_user);
    l_lines.SetView(&l_view);
    QDateTime const l_start = QDateTime::currentDateTime();
    l_lines.AddChat(l_user, QString::fromUtf8("gr\xc3\xbc\xc3\x9f <b>"));
    l_lines.AddStatusMessage("not logged");
    l_lines.AddChat(l_user, "/me nods");

    QByteArray const l_bytes = FileBytes(l_path);
    QList<QByteArray> const l_lines2 = l_bytes.split('\n');
    QCOMPARE(l_lines2.size(), 3);
    QVERIFY(l_lines2.last().isEmpty() && !l_bytes.contains('\r') && !l_bytes.startsWith("\xef\xbb\xbf"));
    QString const l_stamp = "[" + ChatLines::LongTime(l_start);
    QVERIFY(QString::fromUtf8(l_lines2[0]).startsWith(l_stamp.left(8)));
    QVERIFY(l_lines2[0].endsWith(QString::fromUtf8("][J\xc3\xbcrgen] gr\xc3\xbc\xc3\x9f <b>").toUtf8()));
    QVERIFY(l_lines2[1].endsWith(QString::fromUtf8("] * J\xc3\xbcrgen nods").toUtf8()));

    // Logging off writes nothing, and the folder is made again on demand.
    SetSetting("log_private_chat", "no");
    QDir(ChatLogFolder(ChatLogKind::User)).removeRecursively();
    l_lines.AddChat(l_user, "quiet");
    QVERIFY(!QFileInfo::exists(ChatLogFolder(ChatLogKind::User)));
    SetSetting("log_private_chat", "yes");
    l_lines.AddChat(l_user, "loud");
    QVERIFY(FileBytes(l_path).endsWith("] loud\n"));
}

void TestChatLines::growthBoundHolds()
{
    QString const l_speaker = QStringLiteral("[<font color=\"#222222\">bob</font>] ");
    QStringList const l_lines = {
        l_speaker + "plain words",
        l_speaker + "\"quoted\" " + QString(20, QChar(0xa0)),
        ChatLines::ChatLineHtml("per_message_long", c_afternoon, "http://a.example/b", "x http://c.example/&amp;d y",
                                "#111111", "#222222"),
        ChatLines::ChatLineHtml("no_timestamps", c_afternoon, "bob", "named colour", "red", "blue"),
        l_speaker + QString(5, QChar(0x2028)) + QString(5, QChar(0x2029)) + "a\nb\rc\td" + QChar(0xfdd0) + QChar(0xfffc),
        ChatLines::StatusHtml("Chat started", "#333333"),
        l_speaker + EscapeHTML(QString(2000, u'<')),
    };
    QTextBrowser l_view;
    qsizetype l_length = l_view.document()->toHtml().size();
    for (int l_round = 0; l_round < 2; ++l_round)
        for (QString const& l_line : l_lines) {
            l_view.append(l_line);
            qsizetype const l_next = l_view.document()->toHtml().size();
            QVERIFY2(l_next - l_length <= ChatLines::HtmlGrowthBound(l_line), qPrintable(l_line.left(80)));
            // Loose bounds serialise the capped view needlessly often. (The very first
            // line takes the place of the empty paragraph a new view holds.)
            if (l_round == 1 && l_line == l_lines.first())
                QVERIFY2(ChatLines::HtmlGrowthBound(l_line) - (l_next - l_length) <= 48,
                         qPrintable(QString::number(ChatLines::HtmlGrowthBound(l_line)) + " " + QString::number(l_next - l_length)));
            l_length = l_next;
        }
}

void TestChatLines::capKeepsTheNewestLines()
{
    SetSetting("chat_timestamps", "no_timestamps");
    SetSetting("log_room_chat", "no");
    auto l_check = [](QStringList const& i_lines, int i_cuts) {
        QTextBrowser l_view;
        ChatLines l_lines(ChatLogKind::Room, "capped");
        l_lines.SetView(&l_view);
        int l_cuts = 0;
        for (int l_index = 0; l_cuts < i_cuts && l_index < 5000; ++l_index) {
            QString const l_text = i_lines[l_index % i_lines.size()] + QString::number(l_index);
            if (l_lines.HtmlBound() <= ChatLines::c_htmlCap) {
                l_lines.AddChat("bob", l_text);
                continue;
            }
            // The cap as written: the HTML past the first 50000 characters and the next
            // line end, rebuilt, then the new line.
            QString const l_html = l_view.document()->toHtml();
            l_lines.AddChat("bob", l_text);
            QString const l_after = l_view.document()->toHtml();
            QVERIFY(l_after.size() <= l_lines.HtmlBound());
            if (l_html.size() <= ChatLines::c_htmlCap)
                continue;
            ++l_cuts;
            QString l_rest = l_html.mid(ChatLines::c_htmlCut);
            l_rest.remove(0, l_rest.indexOf('\n') + 1);
            QTextBrowser l_expected;
            l_expected.append(l_rest);
            l_expected.append(ChatLines::ChatLineHtml("no_timestamps", {}, "bob", l_text, "", "#222222"));
            QCOMPARE(l_view.toPlainText(), l_expected.toPlainText());
            // At most the cap and the one new line.
            QVERIFY(l_after.size() - ChatLines::HtmlGrowthBound(l_text) <= ChatLines::c_htmlCap);
        }
        QCOMPARE(l_cuts, i_cuts);
    };
    l_check({QString(300, u'a'), "short ", QString(900, u'b') + " https://x.example/" + QString(40, u'c')}, 2);
    // One line longer than the cut: no line end after it, so the rebuild keeps its tail.
    l_check({QString(260000, u'z')}, 1);

    // Action and status lines count as well: 2,000 long "/me" lines stay within the cap.
    QTextBrowser l_view;
    ChatLines l_lines(ChatLogKind::Room, "capped");
    l_lines.SetView(&l_view);
    for (int l_index = 0; l_index < 2000; ++l_index)
        l_lines.AddChat("bob", "/me " + QString(1000, u'w') + QString::number(l_index));
    QString const l_last = ChatLines::StatusHtml("bob " + QString(1000, u'w') + "1999", "");
    QVERIFY(l_view.document()->toHtml().size() <=
            ChatLines::c_htmlCap + ChatLines::HtmlGrowthBound(l_last));
    QVERIFY(l_view.toPlainText().endsWith("w1999") && l_view.document()->blockCount() > 100);
}

QTEST_MAIN(TestChatLines)
#include "tst_chat_lines.moc"
