// The diagnostics page: log lines by area (format, tabs, literal markup, lines from other
// threads) and the tracked users through the real Server at the fake central server.

#include "net/server/ServerTestEnv.h"

#include "store/Log.h"
#include "ui/dialogs/DiagnosticsForm.h"
#include "ui_DiagnosticsForm.h"

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

QByteArray Status(QString const& i_user, qint32 i_status)
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
    void lineFromAnotherThread();
    void trackedUsersFollowTheServer();
};

void TestDiagnostics::linesAndTabs()
{
    auto lp_form = std::make_unique<DiagnosticsForm>();
    QCOMPARE(diagnosticsForm, lp_form.get());
    Ui_DiagnosticsForm* const ui = lp_form->Form();
    QCOMPARE(TabTexts(ui->tabWidget), QStringList({"Tracked Users", "Logs"}));
    QCOMPARE(ui->tabWidget->currentIndex(), 1);

    // "[date] " then three spaces per level above 1; markup is shown as it is.
    int const l_spaces[] = {0, 0, 3, -1, 9};
    for (int l_level : {0, 1, 2, 4})
        Log("server", l_level, QStringLiteral("<b>%1</b> <img src=\"file:///etc/hostname\">").arg(l_level));
    QStringList const l_lines = lp_form->LogText("server").split('\n');
    QCOMPARE(l_lines.size(), 4);
    QRegularExpression const l_format("^\\[(.+)\\] ( *)<b>(\\d)</b> <img src=\"file:///etc/hostname\">$");
    for (QString const& l_line : l_lines)
    {
        QRegularExpressionMatch const l_match = l_format.match(l_line);
        QVERIFY2(l_match.hasMatch(), qPrintable(l_line));
        QVERIFY(qAbs(QDateTime::fromString(l_match.captured(1), Qt::TextDate).secsTo(QDateTime::currentDateTime())) < 60);
        QCOMPARE(l_match.captured(2).size(), l_spaces[l_match.captured(3).toInt()]);
    }
    QTextDocument* const lp_document = qobject_cast<QTextBrowser*>(ui->logTabWidget->widget(0))->document();
    for (QTextBlock l_block = lp_document->begin(); l_block.isValid(); l_block = l_block.next())
        for (auto l_part = l_block.begin(); !l_part.atEnd(); ++l_part)
            QVERIFY(!l_part.fragment().charFormat().isImageFormat());

    // One tab per area in the order of first use, letter case apart; a new tab leaves the
    // current pages alone.
    ui->tabWidget->setCurrentIndex(0);
    for (char const* lp_area : {"Shared", "server", "Server", ""})
        Log(lp_area, 1, "x");
    QCOMPARE(TabTexts(ui->logTabWidget), QStringList({"server", "Shared", "Server", ""}));
    QCOMPARE(ui->tabWidget->currentIndex(), 0);
    QCOMPARE(ui->logTabWidget->currentIndex(), 0);
    QCOMPARE(lp_form->LogText("server").split('\n').size(), 5);

    // Going, the form stops receiving and takes its area items with it.
    lp_form.reset();
    QVERIFY(!HasLogReceiver());
    QCOMPARE(diagnosticsForm, nullptr);
    QCOMPARE(d["log_widget"]->GetItemCount(), std::size_t(0));
    DiagnosticsForm l_next;
    Log("server", 1, "new form");
    QCOMPARE(l_next.LogText("server").split('\n').size(), 1);

    // A tab keeps its last 10,000 lines: the first one drops off at the 10,001st.
    for (int l_line = 1; l_line <= 10000; ++l_line)
        Log("server", 1, QString::number(l_line));
    QStringList const l_kept = l_next.LogText("server").split('\n');
    QVERIFY(l_kept.size() == 10000 && l_kept.first().endsWith("] 1") &&
            l_kept.last().endsWith("] 10000"));
}

void TestDiagnostics::lineFromAnotherThread()
{
    DiagnosticsForm l_form;
    std::thread l_worker([] { Log("Port Forwarding", 1, QStringLiteral("from the worker")); });
    l_worker.join();
    // Nothing was touched on the worker: the line waits for the GUI thread.
    QCOMPARE(l_form.Form()->logTabWidget->count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(l_form.LogText("Port Forwarding").endsWith("] from the worker"), 2000);
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
    l_fixture.fake().Send(Status("bob", 2));
    QTRY_COMPARE_WITH_TIMEOUT(Rows(lp_tree), QStringList({"bob|Online"}), 2000);
    gp_server->TrackUser("carol");
    l_fixture.fake().Send(Status("bob", 0));
    QTRY_COMPARE_WITH_TIMEOUT(Rows(lp_tree), QStringList({"bob|Offline", "carol|Offline"}), 2000);

    // Untracked: the row goes and later changes find none; tracked again: a new last row.
    gp_server->UntrackUser("bob");
    QCOMPARE(Rows(lp_tree), QStringList({"carol|Offline"}));
    l_fixture.fake().Send(Status("bob", 2) + Status("carol", 2));
    QTRY_COMPARE_WITH_TIMEOUT(Rows(lp_tree), QStringList({"carol|Online"}), 2000);
    gp_server->TrackUser("bob");
    QCOMPARE(Rows(lp_tree), QStringList({"carol|Online", "bob|Online"}));
}

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
