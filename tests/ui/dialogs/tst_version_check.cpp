// The version check from end to end: one request after the first login at the fake
// central server, the version file served by a fake web host and its reading, and the
// offer dialog's texts, buttons and resource loading.

#include "net/server/ServerTestEnv.h"
#include "support/FakeHttpServer.h"
#include "support/LogCapture.h"

#include "ui/dialogs/NewVersionDialog.h"
#include "ui/dialogs/UpdateChecker.h"
#include "ui_NewVersionDialog.h"

#include <QDesktopServices>
#include <QImage>
#include <QNetworkProxy>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

// Records the addresses the desktop is asked to open.
class UrlRecorder : public QObject
{
    Q_OBJECT

public slots:
    void Open(QUrl const& i_url) { m_opened << i_url.toString(); }

public:
    QStringList m_opened;
};

class TestVersionCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oneRequestPerRun();
    void versionFiles();
    void stalledHostAbandoned();
    void offerDialog();

private:
    void PointAtFakeWebHost()
    {
        SetSetting("web_host", "127.0.0.1");
        SetSetting("web_port", QString::number(m_web.Port()));
    }
    FakeHttpServer m_web;
};

void TestVersionCheck::initTestCase()
{
    ServerTestEnv::InitOnce();
    // Loopback only, whatever the machine's proxy settings.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QVERIFY(m_web.Listen());
}

void TestVersionCheck::oneRequestPerRun()
{
    ServerTestEnv::Fixture l_fixture;
    PointAtFakeWebHost();
    m_web.SetAnswer(200, "20120721\nhttp://dl.example\nKestrune\nFirst\n\n<b>third</b>\n");
    UpdateChecker l_checker;
    l_checker.Init();
    QSignalSpy l_offers(&l_checker, &UpdateChecker::NewVersion);

    QVERIFY(l_fixture.LogIn());
    QVERIFY(m_web.WaitForRequests(1));
    QCOMPARE(m_web.Requests()[0].method + " " + m_web.Requests()[0].path, QByteArray("GET /qtversion.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(l_offers.count(), 1, 3000);
    QCOMPARE(l_offers[0][0].toLongLong(), 20120721);
    QCOMPARE(l_offers[0][1].toString(), QStringLiteral("http://dl.example/Linux/Kestrune-64bit.tgz"));
    QCOMPARE(l_offers[0][2].toStringList(), QStringList({"First", "", "<b>third</b>"}));

    // A new login in the same run fetches nothing.
    gp_server->Disconnect();
    QVERIFY(l_fixture.LogIn());
    QTest::qWait(100);
    QCOMPARE(m_web.Requests().size(), 1);
}

void TestVersionCheck::versionFiles()
{
    PointAtFakeWebHost();
    QByteArray const l_head = "20120801\nhttp://a\nn\n";
    QByteArray const l_full = l_head + QByteArray(UpdateChecker::c_maxBody - l_head.size() - 1, 'x') + "\n";
    struct Case
    {
        int status;
        QByteArray body;
        char const* skip; // "": none stored
        qint64 offered;   // 0: no offer
        QStringList description;
    } const l_cases[] = {
        {200, "20120721\nhttp://a\nn\nd\n", "", 20120721, {"d"}},
        {200, "20120720\nhttp://a\nn\nd\n", "", 0, {}},
        {200, "20120721\nhttp://a\nn\nd\n", "20120721", 0, {}},
        {200, "20120721\nhttp://a\nn\nd\n", "20120720", 20120721, {"d"}},
        {200, " 20120801\r\nhttp://a \r\n n\r\nd1\r\nd2", "", 20120801, {"d1"}},
        {200, "20120801\n\nn\nd\n", "", 0, {}},
        {200, "20120801\nhttp://a\n \nd\n", "", 0, {}},
        {200, "build 9\nhttp://a\nn\nd\n", "", 0, {}},
        {200, "20120801", "", 0, {}},
        {200, QByteArray("20120801\nhttp://a\0zz\nn", 22), "", 20120801, {}},
        {404, l_head, "", 0, {}},
        {500, l_head, "", 0, {}},
        {301, l_head, "", 0, {}},
        {200, l_full + "x", "", 0, {}},
        {200, l_full, "", 20120801, {QString(l_full.size() - l_head.size() - 1, 'x')}},
    };
    for (Case const& l_case : l_cases)
    {
        SetSetting("skip_version", l_case.skip);
        m_web.ClearRequests();
        m_web.SetAnswer(l_case.status, l_case.body,
                        {"Location: http://127.0.0.1:" + QByteArray::number(m_web.Port()) + "/elsewhere"});
        UpdateChecker l_checker;
        QSignalSpy l_offers(&l_checker, &UpdateChecker::NewVersion);
        l_checker.CheckForNewVersion();
        QTRY_VERIFY_WITH_TIMEOUT(l_checker.IsFinished(), 3000);
        QCOMPARE(m_web.Requests().size(), 1);
        QVERIFY2(l_offers.count() == (l_case.offered ? 1 : 0), l_case.body.left(20).constData());
        if (!l_case.offered)
            continue;
        QCOMPARE(l_offers[0][0].toLongLong(), l_case.offered);
        QCOMPARE(l_offers[0][1].toString(), QStringLiteral("http://a/Linux/n-64bit.tgz"));
        QCOMPARE(l_offers[0][2].toStringList(), l_case.description);
    }
}

void TestVersionCheck::stalledHostAbandoned()
{
    // The head and most of the body, then silence with the connection open.
    PointAtFakeWebHost();
    m_web.SetAnswer(200, "20120801\nhttp://a\nn\nd\n");
    m_web.SetStallAfter(110);
    LogCapture l_log;
    UpdateChecker l_checker;
    l_checker.SetTimeout(400);
    QSignalSpy l_offers(&l_checker, &UpdateChecker::NewVersion);
    l_checker.CheckForNewVersion();
    QTRY_VERIFY_WITH_TIMEOUT(l_checker.IsFinished(), 5000);
    QCOMPARE(l_offers.count(), 0);
    QCOMPARE(l_log.Count("server", 1, "Version check abandoned: no complete answer from 127.0.0.1 within 0.4 s."), 1);
    m_web.SetStallAfter(-1);
}

void TestVersionCheck::offerDialog()
{
    QTemporaryDir l_folder;
    QString const l_image = l_folder.filePath("local.png");
    QImage(4, 4, QImage::Format_RGB32).save(l_image);
    UrlRecorder l_desktop;
    for (char const* lp_scheme : {"http", "https", "file"})
        QDesktopServices::setUrlHandler(lp_scheme, &l_desktop, "Open");

    // Only web addresses are opened; the dialog stays open and stores nothing.
    struct Case
    {
        QString link;
        bool opened;
    } const l_cases[] = {{"http://dl.example/x.tgz", true},
                         {"HTTPS://dl.example/x.tgz", true},
                         {"file:///etc/passwd/Linux/x-64bit.tgz", false},
                         {"/Linux/x-64bit.tgz", false}};
    for (Case const& l_case : l_cases)
    {
        QPointer<NewVersionDialog> lp_dialog = new NewVersionDialog(
            20120801, l_case.link, {"Fixes", "<img src=\"" + QUrl::fromLocalFile(l_image).toString() + "\">"});
        Ui_NewVersionDialog* const ui = lp_dialog->Form();
        QCOMPARE(lp_dialog->windowTitle(), QStringLiteral("KestruneQt Update"));
        QCOMPARE(ui->currentVersionEdit->text(), QStringLiteral("Build 7/20/2012"));
        QCOMPARE(ui->newVersionEdit->text(), QStringLiteral("Build 8/1/2012"));
        // The picture on the disk is not read; the program's own resources are.
        QTextDocument* const lp_text = ui->descriptionEdit->document();
        QVERIFY(lp_text->resource(QTextDocument::ImageResource, QUrl::fromLocalFile(l_image)).toByteArray().isEmpty());
        QVERIFY(!lp_text->resource(QTextDocument::ImageResource, QUrl("qrc:/icons/online_icon")).isNull());

        l_desktop.m_opened.clear();
        ui->downloadButton->click();
        QCOMPARE(l_desktop.m_opened.size(), l_case.opened ? 1 : 0);
        QVERIFY(lp_dialog);
        lp_dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!lp_dialog);
        QCOMPARE(GetSetting("skip_version"), QString());
    }

    // The widest date is shown whole; Skip stores the build and closes.
    QPointer<NewVersionDialog> lp_dialog = new NewVersionDialog(20121231, "http://a", {});
    QLineEdit* const lp_edit = lp_dialog->Form()->newVersionEdit;
    lp_dialog->show();
    QCOMPARE(lp_edit->text(), QStringLiteral("Build 12/31/2012"));
    QVERIFY(lp_edit->width() > lp_edit->fontMetrics().horizontalAdvance(lp_edit->text()) + 4);
    lp_dialog->Form()->skipButton->click();
    QCOMPARE(GetSetting("skip_version"), QStringLiteral("20121231"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!lp_dialog);
    for (char const* lp_scheme : {"http", "https", "file"})
        QDesktopServices::unsetUrlHandler(lp_scheme);
}

QTEST_MAIN(TestVersionCheck)
#include "tst_version_check.moc"
