// The version check from end to end: one request after the first login at the fake
// central server, the version file served by a fake web host and its parse, and the
// offer dialog's texts, buttons and resource loading.

#include "net/server/ServerTestEnv.h"
#include "support/FakeHttpServer.h"

#include "store/Settings.h"
#include "ui/dialogs/NewVersionDialog.h"
#include "ui/dialogs/NewVersionDialogUi.h"
#include "ui/dialogs/UpdateChecker.h"

#include <QDesktopServices>
#include <QImage>
#include <QNetworkProxy>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
QByteArray const c_goodFile = "20120721\nhttp://dl.example\nKestrune\nFirst line\n\n<b>third</b>\n";
QString const c_goodLink = QStringLiteral("http://dl.example/Linux/Kestrune-64bit.tgz");
} // namespace

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
    void offerDialog();

private:
    FakeHttpServer m_web;
};

void TestVersionCheck::initTestCase()
{
    ServerTestEnv::InitOnce();
    // Loopback only, whatever the machine's proxy settings.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QVERIFY(m_web.Listen());
    SetSetting("web_host", "127.0.0.1");
    SetSetting("web_port", QString::number(m_web.Port()));
}

void TestVersionCheck::oneRequestPerRun()
{
    ServerTestEnv::Fixture l_fixture;
    SetSetting("web_host", "127.0.0.1");
    SetSetting("web_port", QString::number(m_web.Port()));
    m_web.ClearRequests();
    m_web.SetAnswer(200, c_goodFile);
    UpdateChecker l_checker;
    l_checker.Init();
    QSignalSpy l_offers(&l_checker, &UpdateChecker::NewVersion);

    QVERIFY(l_fixture.LogIn());
    QVERIFY(m_web.WaitForRequests(1));
    QCOMPARE(m_web.Requests()[0].method, QByteArray("GET"));
    QCOMPARE(m_web.Requests()[0].path, QByteArray("/qtversion.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(l_offers.count(), 1, 3000);
    QCOMPARE(l_offers[0][0].toLongLong(), 20120721);
    QCOMPARE(l_offers[0][1].toString(), c_goodLink);
    QCOMPARE(l_offers[0][2].toStringList(), QStringList({"First line", "", "<b>third</b>"}));

    // A new login in the same run fetches nothing.
    gp_server->Disconnect();
    QVERIFY(l_fixture.LogIn());
    QCOMPARE(l_fixture.connected().count(), 2);
    QTest::qWait(100);
    QCOMPARE(m_web.Requests().size(), 1);
    QCOMPARE(l_offers.count(), 1);
}

void TestVersionCheck::versionFiles()
{
    QByteArray const l_large = "20120801\nhttp://a\nn\n" + QByteArray(70000, 'x') + "\n";
    QByteArray l_exact = "20120801\nhttp://a\nn\n";
    l_exact += QByteArray(UpdateChecker::c_maxBody - l_exact.size() - 1, 'x') + "\n";
    struct Case
    {
        char const* name;
        int status;
        QByteArray body;
        char const* skip; // nullptr: no `skip_version` stored
        qint64 offered;   // 0: no offer
        QStringList description;
    } const l_cases[] = {
        {"newer", 200, "20120721\nhttp://a\nn\nd\n", nullptr, 20120721, {"d"}},
        {"equal to running", 200, "20120720\nhttp://a\nn\nd\n", nullptr, 0, {}},
        {"older", 200, "20120719\nhttp://a\nn\nd\n", nullptr, 0, {}},
        {"equal to skipped", 200, "20120721\nhttp://a\nn\nd\n", "20120721", 0, {}},
        {"above skipped", 200, "20120721\nhttp://a\nn\nd\n", "20120720", 20120721, {"d"}},
        {"trimmed, last line cut", 200, " 20120801\r\nhttp://a \r\n n\r\nd1\r\nd2", nullptr, 20120801, {"d1"}},
        {"empty line 2", 200, "20120801\n\nn\nd\n", nullptr, 0, {}},
        {"empty line 3", 200, "20120801\nhttp://a\n \nd\n", nullptr, 0, {}},
        {"not a number", 200, "build 9\nhttp://a\nn\nd\n", nullptr, 0, {}},
        {"one line", 200, "20120801", nullptr, 0, {}},
        {"three lines, no description", 200, "20120801\nhttp://a\nn", nullptr, 20120801, {}},
        {"NUL ends a line", 200, QByteArray("20120801\nhttp://a\0zz\nn\n", 23), nullptr, 20120801, {}},
        {"not found", 404, "20120801\nhttp://a\nn\nd\n", nullptr, 0, {}},
        {"server error", 500, "20120801\nhttp://a\nn\nd\n", nullptr, 0, {}},
        {"redirect", 301, "20120801\nhttp://a\nn\nd\n", nullptr, 0, {}},
        {"over 64 KiB", 200, l_large, nullptr, 0, {}},
        {"exactly 64 KiB", 200, l_exact, nullptr, 20120801, {QString(l_exact.size() - 21, 'x')}},
    };
    for (Case const& l_case : l_cases)
    {
        if (l_case.skip)
            SetSetting("skip_version", l_case.skip);
        else if (ItemPtr const l_key = d["global"]->HasItem(Value("skip_version")))
            l_key.Remove();
        m_web.ClearRequests();
        QList<QByteArray> l_headers;
        if (l_case.status == 301)
            l_headers << "Location: http://127.0.0.1:" + QByteArray::number(m_web.Port()) + "/elsewhere";
        m_web.SetAnswer(l_case.status, l_case.body, l_headers);

        UpdateChecker l_checker;
        QSignalSpy l_offers(&l_checker, &UpdateChecker::NewVersion);
        l_checker.CheckForNewVersion();
        QTRY_VERIFY2_WITH_TIMEOUT(l_checker.IsFinished(), l_case.name, 3000);
        QCOMPARE(m_web.Requests().size(), 1);
        QVERIFY2(l_offers.count() == (l_case.offered ? 1 : 0), l_case.name);
        if (!l_case.offered)
            continue;
        QCOMPARE(l_offers[0][0].toLongLong(), l_case.offered);
        QCOMPARE(l_offers[0][1].toString(), QStringLiteral("http://a/Linux/n-64bit.tgz"));
        QVERIFY2(l_offers[0][2].toStringList() == l_case.description, l_case.name);
    }
}

void TestVersionCheck::offerDialog()
{
    QTemporaryDir l_folder;
    QString const l_image = l_folder.filePath("local.png");
    QImage(4, 4, QImage::Format_RGB32).save(l_image);
    UrlRecorder l_desktop;
    QDesktopServices::setUrlHandler("http", &l_desktop, "Open");
    QDesktopServices::setUrlHandler("https", &l_desktop, "Open");
    QDesktopServices::setUrlHandler("file", &l_desktop, "Open");

    struct Case
    {
        QString link;
        bool opened;
    } const l_cases[] = {{c_goodLink, true},
                         {"HTTPS://dl.example/x.tgz", true},
                         {"file:///etc/passwd/Linux/x-64bit.tgz", false},
                         {"/Linux/x-64bit.tgz", false}};
    for (Case const& l_case : l_cases)
    {
        QPointer<NewVersionDialog> lp_dialog = new NewVersionDialog(
            20120801, l_case.link,
            {"Fixes", "<img src=\"" + QUrl::fromLocalFile(l_image).toString() + "\">"});
        Ui_NewVersionDialog* const ui = lp_dialog->Form();
        QCOMPARE(lp_dialog->windowTitle(), QStringLiteral("KestruneQt Update"));
        QCOMPARE(ui->currentVersionEdit->text(), QStringLiteral("Build 7/20/2012"));
        QCOMPARE(ui->newVersionEdit->text(), QStringLiteral("Build 8/1/2012"));
        QCOMPARE(ui->descriptionEdit->toPlainText().split('\n').first(), QStringLiteral("Fixes"));
        // The picture on the disk is not read; the program's own resources are.
        QVERIFY(ui->descriptionEdit->document()
                    ->resource(QTextDocument::ImageResource, QUrl::fromLocalFile(l_image))
                    .toByteArray()
                    .isEmpty());
        QVERIFY(!ui->descriptionEdit->document()
                     ->resource(QTextDocument::ImageResource, QUrl("qrc:/icons/online_icon"))
                     .isNull());

        l_desktop.m_opened.clear();
        ui->downloadButton->click();
        QCOMPARE(l_desktop.m_opened, l_case.opened ? QStringList({QUrl(l_case.link).toString()})
                                                   : QStringList());
        QVERIFY(lp_dialog);
        lp_dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!lp_dialog);
        QVERIFY(!HasSetting("skip_version") || GetSetting("skip_version") != "20120801");
    }

    QPointer<NewVersionDialog> lp_dialog = new NewVersionDialog(20130105, c_goodLink, {});
    QCOMPARE(lp_dialog->Form()->newVersionEdit->text(), QStringLiteral("Build 1/5/2013"));
    lp_dialog->Form()->skipButton->click();
    QCOMPARE(GetSetting("skip_version"), QStringLiteral("20130105"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!lp_dialog);
    for (char const* lp_scheme : {"http", "https", "file"})
        QDesktopServices::unsetUrlHandler(lp_scheme);
}

QTEST_MAIN(TestVersionCheck)
#include "tst_version_check.moc"
