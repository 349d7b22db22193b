// A private chat end to end against the fake server through the real Server, and the
// chat-log viewer: reading, searching, clearing and the folder link.

#include "ChatTestEnv.h"

#include "ui/chat/ChatLogFiles.h"

#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTextEdit>

using namespace ChatTestEnv;

namespace
{
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> m_urls;

public slots:
    void Open(QUrl const& i_url) { m_urls << i_url; }
};

QStringList EventEntries()
{
    QStringList l_texts;
    for (QAction* lp_action : eventToolBar->actions())
        if (!lp_action->text().isEmpty())
            l_texts << lp_action->text();
    return l_texts;
}

// "highlighted text@position back forward" of a viewer's search state.
QString SearchState(ChatLogForm& i_viewer)
{
    QList<QTextEdit::ExtraSelection> const l_marks = i_viewer.logEdit->extraSelections();
    QString l_mark = QStringLiteral("none");
    if (l_marks.size() == 1)
        l_mark = l_marks[0].cursor.selectedText() + "@" + QString::number(l_marks[0].cursor.selectionStart());
    return l_mark + (i_viewer.searchBackButton->isEnabled() ? " back" : " -") +
           (i_viewer.searchForwardButton->isEnabled() ? " forward" : " -");
}

QString WriteLog(QString const& i_name, QByteArray const& i_bytes)
{
    QDir().mkpath(ChatLogFolder(ChatLogKind::User));
    QString const l_path = ChatLogPath(ChatLogKind::User, i_name);
    QFile l_file(l_path);
    l_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    l_file.write(i_bytes);
    return l_path;
}
} // namespace

class TestPrivateChat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitOnce();
        DefaultSettings();
    }
    void privateEndToEnd();
    void viewerReadsAndSearches();
    void viewerClearsAndOpensFolder();
};

void TestPrivateChat::privateEndToEnd()
{
    IncomingTestEnv::Fixture l_fixture;
    QVERIFY(l_fixture.LoggedIn());
    DefaultSettings();
    Shell l_shell;
    QWidget* const lp_front = new QWidget;
    l_shell.mp_chats->addTab(lp_front, "front");
    QVERIFY(l_shell.ShowActive());
    QSignalSpy l_sent(&l_fixture.server(), &Server::PrivateChatSent);
    QFile::remove(ChatLogPath(ChatLogKind::User, "zed"));

    (*d["user"])[Value("zed")] += (*d["sent_empty_share_warning_message"])[Value("Share something!")];
    QVERIFY(l_fixture.Deliver(IncomingFrames::PrivateChat(77, 1700000000, "zed", "hello <b>there</b>", true)));
    ChatForm* const lp_chat = l_shell.GetChatForm("zed");
    QCOMPARE(l_shell.mp_chats->count(), 2);
    QStringList l_shown = Paragraphs(lp_chat->chatView);
    QCOMPARE(l_shown.size(), 3);
    QVERIFY(l_shown[0].startsWith("* Chat started "));
    QCOMPARE(l_shown.mid(1), (QStringList{"[alice] Share something!", "[zed] hello <b>there</b>"}));
    QTRY_COMPARE_WITH_TIMEOUT(Payloads(l_fixture.FramesAfterLogin(), 23), QStringList{Hex(FrameBuilder(23).U32(77).Payload())}, 2000);

    // The entry stands while the tab is hidden and goes when it shows.
    QCOMPARE(EventEntries(), QStringList{"zed"});
    QCOMPARE(Alerts().m_popups, (QStringList{"[alice] Share something!", "[zed] hello <b>there</b>"}));
    l_shell.mp_chats->setCurrentWidget(lp_chat);
    QCOMPARE(EventEntries(), QStringList{});

    QVERIFY(l_fixture.Deliver(IncomingFrames::UserStatus("zed", 1, false).Frame() +
                              IncomingFrames::UserStatus("zed", 2, false).Frame()));
    QCOMPARE(Paragraphs(lp_chat->chatView).mid(3), (QStringList{"* zed is away.", "* zed is available."}));

    // The own line: shown, logged and sent untrimmed.
    lp_chat->chatEdit->setText("  yo  ");
    QTest::keyClick(lp_chat->chatEdit, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(Payloads(l_fixture.FramesAfterLogin(), 22), QStringList{Hex(FrameBuilder(22).Str("zed").Str("  yo  ").Payload())}, 2000);
    QCOMPARE(Paragraphs(lp_chat->chatView).last(), "[alice] yo ");
    QVERIFY(lp_chat->chatEdit->text().isEmpty());

    // One viewer per log, fed with each new line.
    emit actionBar->ActionTriggered(lp_chat, "user_chat_log");
    emit actionBar->ActionTriggered(lp_chat, "user_chat_log");
    QCOMPARE(l_shell.mp_chats->count(), 3);
    ChatLogForm* const lp_viewer = d["user"]->HasItem(Value("zed"))["chat_log_form"].AsPtr<ChatLogForm>();
    QVERIFY(lp_viewer && l_shell.mp_chats->currentWidget() == lp_viewer);
    QCOMPARE(Shell::SetOnFocus(lp_viewer->logEdit), "chat_log");
    l_shell.mp_chats->setCurrentWidget(lp_chat);
    QCOMPARE(Shell::SetOnFocus(lp_chat->chatView), "user_chat");
    QStringList const l_logged = Paragraphs(lp_viewer->logEdit);
    QCOMPARE(l_logged.size(), 3);
    QVERIFY(l_logged[0].endsWith("][alice] Share something!") && l_logged[2].endsWith("][alice]   yo"));

    // Logged out: shown and logged, then the unlogged notice; nothing goes out.
    l_fixture.fake().DropClient();
    QTRY_COMPARE_WITH_TIMEOUT(l_fixture.disconnected().count(), 1, 3000);
    int const l_sentBefore = static_cast<int>(l_sent.count());
    lp_chat->chatEdit->setText("offline");
    lp_chat->OnEnter();
    QCOMPARE(Paragraphs(lp_chat->chatView).mid(Paragraphs(lp_chat->chatView).size() - 2),
             (QStringList{"[alice] offline", "* Not connected: message not sent."}));
    QCOMPARE(l_sent.count(), l_sentBefore);
    QVERIFY(Paragraphs(lp_viewer->logEdit).last().endsWith("][alice] offline"));
    QByteArray const l_file = FileBytes(ChatLogPath(ChatLogKind::User, "zed"));
    QCOMPARE(l_file.count('\n'), 4);
    QVERIFY(l_file.endsWith("][alice] offline\n") && !l_file.contains("Not connected") && !l_file.contains("away"));

    // The tab goes, its marker with it; the viewer stays.
    delete lp_chat;
    QVERIFY(!d["user"]->HasItem(Value("zed")).IsConnected("user_chat_widget"));
    QCOMPARE(l_shell.mp_chats->count(), 2);
}

void TestPrivateChat::viewerReadsAndSearches()
{
    QByteArray const l_long(70000, 'x');
    QString const l_path = WriteLog("reader", "first line\n  padded  \n" + l_long + "\n<img src=\"/etc/hostname\"> fake\n"
                                              "<b>bold</b>\nApple apple APPLE\naaa");
    ChatLogForm l_viewer(l_path);
    QCOMPARE(l_viewer.LogPath(), l_path);
    QStringList const l_shown = Paragraphs(l_viewer.logEdit);
    QCOMPARE(l_shown.size(), 8);
    QCOMPARE(l_shown[1], "padded");
    QCOMPARE(l_shown[2].size() + l_shown[3].size(), 70000);
    QCOMPARE(l_shown[2].size(), 65535);
    QCOMPARE(l_shown[4], "<img src=\"/etc/hostname\"> fake");
    QCOMPARE(l_shown[5], "<b>bold</b>");
    l_viewer.AddLine("  <i>late</i>  ");
    QCOMPARE(Paragraphs(l_viewer.logEdit).last(), "<i>late</i>");
    QVERIFY(!l_viewer.logEdit->toHtml().contains("<img"));

    int const l_apple = static_cast<int>(l_viewer.logEdit->toPlainText().indexOf("Apple"));
    int const l_aaa = static_cast<int>(l_viewer.logEdit->toPlainText().indexOf("aaa"));
    struct Step
    {
        char const* action; // "type:<text>", "forward", "back"
        QString state;
    };
    QList<Step> const l_steps = {
        {"type:apple", QString("Apple@%1 - forward").arg(l_apple)},
        {"forward", QString("apple@%1 back forward").arg(l_apple + 6)},
        {"forward", QString("APPLE@%1 back -").arg(l_apple + 12)},
        {"back", QString("apple@%1 back forward").arg(l_apple + 6)},
        {"type:aa", QString("aa@%1 - forward").arg(l_aaa)},
        {"forward", QString("aa@%1 back -").arg(l_aaa + 1)},
        {"type:nowhere", "none - -"},
        {"type:", "none - -"},
    };
    for (Step const& l_step : l_steps) {
        QString const l_action = QString::fromLatin1(l_step.action);
        if (l_action.startsWith("type:"))
            l_viewer.searchEdit->setText(l_action.mid(5));
        else
            (l_action == "forward" ? l_viewer.searchForwardButton : l_viewer.searchBackButton)->click();
        QCOMPARE(SearchState(l_viewer), l_step.state);
    }
    l_viewer.searchEdit->setText("bold");
    QTextCharFormat const l_format = l_viewer.logEdit->extraSelections().value(0).format;
    QCOMPARE(l_format.foreground().color(), QColor("#444444"));
    QCOMPARE(l_format.background().color(), QColor("#555555"));
    QCOMPARE(l_viewer.logEdit->textCursor().position(), static_cast<int>(l_viewer.logEdit->toPlainText().indexOf("bold")));

    // A log never written: an empty viewer without a path.
    ChatLogForm l_missing(ChatLogPath(ChatLogKind::User, "never"));
    QVERIFY(l_missing.LogPath().isEmpty() && l_missing.logEdit->toPlainText().isEmpty());
}

void TestPrivateChat::viewerClearsAndOpensFolder()
{
    QString const l_path = WriteLog("clear", "one\ntwo\n");
    ChatLogForm l_viewer(l_path);
    QString l_box;
    AnswerNextBox(QMessageBox::No, &l_box);
    emit actionBar->ActionTriggered(&l_viewer, "clear_chat_log");
    QCOMPARE(l_box, "Clear log?|Are you sure you want to erase the contents of this log?");
    QVERIFY(QFileInfo::exists(l_path) && Paragraphs(l_viewer.logEdit).size() == 2);
    AnswerNextBox(QMessageBox::Yes);
    emit actionBar->ActionTriggered(&l_viewer, "clear_chat_log");
    QVERIFY(!QFileInfo::exists(l_path) && l_viewer.logEdit->toPlainText().isEmpty());

    // A file that will not go keeps its view.
    WriteLog("stuck", "kept\n");
    ChatLogForm l_stuck(ChatLogPath(ChatLogKind::User, "stuck"));
    QFile::remove(l_stuck.LogPath());
    QVERIFY(QDir().mkpath(l_stuck.LogPath() + "/inside"));
    AnswerNextBox(QMessageBox::Yes);
    emit actionBar->ActionTriggered(&l_stuck, "clear_chat_log");
    QCOMPARE(l_stuck.logEdit->toPlainText(), "kept");
    QDir(l_stuck.LogPath()).removeRecursively();

    UrlCatcher l_catcher;
    QDesktopServices::setUrlHandler("file", &l_catcher, "Open");
    emit actionBar->ActionTriggered(&l_viewer, "open_log_folder");
    emit actionBar->ActionTriggered(&l_stuck, "user_chat_log");
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(l_catcher.m_urls, QList<QUrl>{QUrl::fromLocalFile(QDir::homePath() + "/Kestrune Chat Logs/Users")});
}

QTEST_MAIN(TestPrivateChat)
#include "tst_private_chat.moc"
