// The diagnostics page: log lines by area as they are logged (format, tabs, literal
// markup, lines from other threads) and the tracked users through the real Server at the
// fake central server.

#include "net/server/ServerTestEnv.h"

#include "store/Log.h"
#include "ui/dialogs/DiagnosticsForm.h"
#include "ui/dialogs/DiagnosticsFormUi.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

#include <memory>
#include <thread>

namespace
{
QStringList TabTexts(QTabWidget* ip_tabs)
{
    QStringList l_texts;
    for (int l_tab = 0; l_tab < ip_tabs->count(); ++l_tab)
        l_texts << ip_tabs->tabText(l_tab);
    return l_texts;
}

// The tracked-users rows as "name|status".
QStringList Rows(QTreeWidget* ip_tree)
{
    QStringList l_rows;
    for (int l_row = 0; l_row < ip_tree->topLevelItemCount(); ++l_row)
        l_rows << ip_tree->topLevelItem(l_row)->text(0) + "|" + ip_tree->topLevelItem(l_row)->text(1);
    return l_rows;
}

QByteArray StatusFrame(QString const& i_user, qint32 i_status)
{
    return FrameBuilder(7).Str(i_user).I32(i_status).Bool(false).Frame();
}
} // namespace

class TestDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ServerTestEnv::InitOnce(); }
    void linesAndTabs();
    void markupStaysText();
    void lineFromAnotherThread();
    void trackedUsersFollowTheServer();
};

void TestDiagnostics::linesAndTabs()
{
    auto lp_form = std::make_unique<DiagnosticsForm>();
    QCOMPARE(diagnosticsForm, lp_form.get());
    Ui_DiagnosticsForm* const ui = lp_form->Form();
    QCOMPARE(ui->tabWidget->currentIndex(), 1);
    QCOMPARE(TabTexts(ui->tabWidget), QStringList({"Tracked Users", "Logs"}));
    QCOMPARE(ui->trackedUsersTree->headerItem()->text(0), QStringLiteral("User"));

    // Indentation stands after "] ": three spaces per level above 1.
    struct Case
    {
        int level;
        int spaces;
    } const l_cases[] = {{0, 0}, {1, 0}, {2, 3}, {4, 9}};
    for (Case const& l_case : l_cases)
        Log("server", l_case.level, QStringLiteral("level %1").arg(l_case.level));
    QStringList const l_lines = lp_form->LogText("server").split('\n');
    QCOMPARE(l_lines.size(), 4);
    QRegularExpression const l_format(QStringLiteral("^\\[(.+)\\] ( *)level (\\d)$"));
    for (int l_index = 0; l_index < 4; ++l_index)
    {
        QRegularExpressionMatch const l_match = l_format.match(l_lines[l_index]);
        QVERIFY2(l_match.hasMatch(), qPrintable(l_lines[l_index]));
        QDateTime const l_time = QDateTime::fromString(l_match.captured(1), Qt::TextDate);
        QVERIFY(qAbs(l_time.secsTo(QDateTime::currentDateTime())) < 60);
        QCOMPARE(l_match.captured(2).size(), l_cases[l_index].spaces);
        QCOMPARE(l_match.captured(3).toInt(), l_cases[l_index].level);
    }

    // One tab per area in the order of first use; letter case matters; a new tab leaves
    // the current page and the current log tab alone.
    ui->tabWidget->setCurrentIndex(0);
    Log("Shared", 1, "a");
    Log("server", 1, "b");
    Log("Server", 1, "c");
    Log("", 1, "d");
    QCOMPARE(TabTexts(ui->logTabWidget), QStringList({"server", "Shared", "Server", ""}));
    QCOMPARE(ui->tabWidget->currentIndex(), 0);
    QCOMPARE(ui->logTabWidget->currentIndex(), 0);
    QVERIFY(lp_form->LogText("Server").endsWith("] c"));
    QCOMPARE(lp_form->LogText("server").split('\n').size(), 5);
    QCOMPARE(d["log"]->GetItemCount(), std::size_t(4));

    // Going, the form stops receiving and takes its area items with it.
    lp_form.reset();
    QVERIFY(!HasLogReceiver());
    QCOMPARE(diagnosticsForm, nullptr);
    QCOMPARE(d["log_widget"]->GetItemCount(), std::size_t(0));
    Log("server", 1, "after the form");
    auto lp_next = std::make_unique<DiagnosticsForm>();
    Log("server", 1, "new form");
    QCOMPARE(lp_next->LogText("server").split('\n').size(), 1);
}

void TestDiagnostics::markupStaysText()
{
    DiagnosticsForm l_form;
    QString const l_text = QStringLiteral(
        "<b>user</b> says <img src=\"file:///etc/hostname\"> &amp; <a href=\"http://x\">x</a>");
    Log("Peer Messenger", 2, l_text);
    QTextBrowser* const lp_view =
        qobject_cast<QTextBrowser*>(l_form.Form()->logTabWidget->widget(0));
    QVERIFY(lp_view);
    QVERIFY(lp_view->toPlainText().endsWith("]    " + l_text));
    // No image, link or bold text was made of it.
    for (QTextBlock l_block = lp_view->document()->begin(); l_block.isValid(); l_block = l_block.next())
        for (auto l_fragment = l_block.begin(); !l_fragment.atEnd(); ++l_fragment)
        {
            QTextCharFormat const l_format = l_fragment.fragment().charFormat();
            QVERIFY(!l_format.isImageFormat());
            QVERIFY(!l_format.isAnchor());
            QVERIFY(l_format.fontWeight() != QFont::Bold);
        }
}

void TestDiagnostics::lineFromAnotherThread()
{
    DiagnosticsForm l_form;
    std::thread l_worker([] { Log("Port Forwarding", 1, QStringLiteral("from the worker")); });
    l_worker.join();
    // Nothing was touched on the worker: the line waits for the GUI thread.
    QCOMPARE(l_form.Form()->logTabWidget->count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(l_form.LogText("Port Forwarding").endsWith("] from the worker"), 2000);
    QCOMPARE(l_form.Form()->logTabWidget->count(), 1);
}

void TestDiagnostics::trackedUsersFollowTheServer()
{
    ServerTestEnv::Fixture l_fixture;
    DiagnosticsForm l_form;
    l_form.Init();
    QTreeWidget* const lp_tree = l_form.Form()->trackedUsersTree;
    QVERIFY(l_fixture.LogIn());

    gp_server->TrackUser("bob");
    QCOMPARE(Rows(lp_tree), QStringList({"bob|Offline"}));
    QVERIFY(l_fixture.fake().WaitForCode(5));
    l_fixture.fake().Send(StatusFrame("bob", 2));
    QTRY_COMPARE_WITH_TIMEOUT(Rows(lp_tree), QStringList({"bob|Online"}), 2000);

    gp_server->TrackUser("carol");
    l_fixture.fake().Send(StatusFrame("bob", 0));
    QTRY_COMPARE_WITH_TIMEOUT(Rows(lp_tree), QStringList({"bob|Offline", "carol|Offline"}), 2000);

    // Untracked: the row goes and later status changes find none.
    gp_server->UntrackUser("bob");
    QCOMPARE(Rows(lp_tree), QStringList({"carol|Offline"}));
    l_fixture.fake().Send(StatusFrame("bob", 2));
    l_fixture.fake().Send(StatusFrame("carol", 2));
    QTRY_COMPARE_WITH_TIMEOUT(Rows(lp_tree), QStringList({"carol|Online"}), 2000);
    QVERIFY(d["user"]->HasItem(Value("bob")).IsConnected("is_online"));

    // Tracked again, the user comes back at the end, with the state of the moment.
    gp_server->TrackUser("bob");
    QCOMPARE(Rows(lp_tree), QStringList({"carol|Online", "bob|Online"}));
    QCOMPARE(d["track_user_node"]->GetItemCount(), std::size_t(2));
}

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
