// Log's line format, forwarding to the diagnostics form's
// receiver, the test sink (LogCapture) and no crash when nothing is installed.

#include "store/Log.h"
#include "support/LogCapture.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QtTest>

#include <vector>

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void nothingInstalled();
    void indentation_data();
    void indentation();
    void lineFormat();
    void receiverGetsArgumentsUnchanged();
    void receiverRemoved();
    void captureCollectsAndNests();
    void captureWithReceiver();
};

void TestLog::cleanup()
{
    SetLogReceiver(LogReceiver());
    SetLogTestSink(LogTestSink());
}

void TestLog::nothingInstalled()
{
    QVERIFY(!HasLogReceiver());
    QVERIFY(!IsLogHeard());
    Log("server", 1, "dropped");
    Log("server", 0, "dropped", ItemPtr());
    Log(QString(), -5, QString());

    // Either listener makes lines worth building.
    {
        LogCapture l_capture;
        QVERIFY(IsLogHeard());
    }
    QVERIFY(!IsLogHeard());
    SetLogReceiver([](QString const&, int, QString const&, ItemPtr const&) {});
    QVERIFY(IsLogHeard());
}

void TestLog::indentation_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("expected");
    QTest::newRow("level 1") << 1 << "text";
    QTest::newRow("level 2") << 2 << "   text";
    QTest::newRow("level 3") << 3 << "      text";
    QTest::newRow("level 0") << 0 << "text";
    QTest::newRow("negative") << -2 << "text";
}

void TestLog::indentation()
{
    QFETCH(int, level);
    QFETCH(QString, expected);
    QCOMPARE(IndentLogText(level, "text"), expected);
    LogCapture l_log;
    Log("Shared", level, "text");
    QCOMPARE(l_log.Entries().size(), std::size_t(1));
    QCOMPARE(l_log.Entries()[0].Text(), expected);
    // The indentation stands after "] ".
    QVERIFY(l_log.Entries()[0].line.startsWith('['));
    QVERIFY(l_log.Entries()[0].line.endsWith("] " + expected));
}

void TestLog::lineFormat()
{
    QString const l_before = QDateTime::currentDateTime().toString(Qt::TextDate);
    QString const l_line = FormatLogLine(2, "Detail");
    QString const l_after = QDateTime::currentDateTime().toString(Qt::TextDate);
    QVERIFY2(l_line == "[" + l_before + "]    Detail" || l_line == "[" + l_after + "]    Detail",
             qPrintable(l_line));
    // Qt's text date, e.g. "Mon Dec 7 05:10:05 2026".
    QRegularExpression const l_shape(
        "^\\[\\w{3} \\w{3} \\d{1,2} \\d{2}:\\d{2}:\\d{2} \\d{4}\\] Event$");
    QString const l_event = FormatLogLine(1, "Event");
    QVERIFY2(l_shape.match(l_event).hasMatch(), qPrintable(l_event));
}

void TestLog::receiverGetsArgumentsUnchanged()
{
    struct Call
    {
        QString area;
        int level;
        QString text;
        ItemPtr item;
    };
    std::vector<Call> l_calls;
    SetLogReceiver(
        [&](QString const& area, int level, QString const& text, ItemPtr const& item) {
            l_calls.push_back(Call{area, level, text, item});
        });
    QVERIFY(HasLogReceiver());
    Log("Peer Messenger", 2, "text");
    Log(LogArea::ConfigurationData, 1, "Data loaded successfully.", ItemPtr());
    QCOMPARE(l_calls.size(), std::size_t(2));
    QCOMPARE(l_calls[0].area, QString("Peer Messenger"));
    QCOMPARE(l_calls[0].level, 2);
    QCOMPARE(l_calls[0].text, QString("text")); // unformatted: the form formats it
    QVERIFY(l_calls[0].item.IsNull());
    QCOMPARE(l_calls[1].area, QString("Configuration Data"));
}

void TestLog::receiverRemoved()
{
    int l_calls = 0;
    SetLogReceiver([&](QString const&, int, QString const&, ItemPtr const&) { ++l_calls; });
    Log("server", 1, "one");
    LogReceiver const l_previous = SetLogReceiver(LogReceiver());
    QVERIFY(l_previous);
    QVERIFY(!HasLogReceiver());
    Log("server", 1, "two");
    QCOMPARE(l_calls, 1);
}

void TestLog::captureCollectsAndNests()
{
    LogCapture l_outer;
    Log("server", 1, "first");
    {
        LogCapture l_inner;
        Log("Search", 2, "second");
        QCOMPARE(l_inner.Texts(), QStringList{"   second"});
        QVERIFY(l_inner.Contains("Search", 2, "second"));
        QVERIFY(l_inner.Contains("Search", 2, "   second"));
        QVERIFY(!l_inner.Contains("Search", 1, "second"));
        QVERIFY(!l_inner.Contains("server", 1, "first"));
    }
    Log("server", 1, "third");
    QCOMPARE(l_outer.Texts(), (QStringList{"first", "   second", "third"}));
    QCOMPARE(l_outer.Texts("server"), (QStringList{"first", "third"}));
    QCOMPARE(l_outer.Count("server", 1, "first"), 1);
    l_outer.Clear();
    QVERIFY(l_outer.Entries().empty());
}

void TestLog::captureWithReceiver()
{
    int l_forwarded = 0;
    SetLogReceiver([&](QString const&, int, QString const&, ItemPtr const&) { ++l_forwarded; });
    LogCapture l_log;
    Log("Transfer Queue", 1, "both");
    QCOMPARE(l_forwarded, 1);
    QVERIFY(l_log.Contains("Transfer Queue", 1, "both"));
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
