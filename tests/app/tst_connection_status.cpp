// The connection state as the window shows it, through the real server connection
// against a fake server: the Connect button, the icons, the boxes that explain a failed
// login, and the five-minute save. One window for the whole program.

#include "ShellTestKit.h"

#include "app/MainWindow.h"
#include "net/server/Server.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "support/LogCapture.h"
#include "ui_MainWindow.h"

#include <QDir>

using namespace ShellTestKit;

namespace
{
QImage IconImage(QIcon const& i_icon)
{
    return i_icon.pixmap(16, 16).toImage();
}
} // namespace

class TestConnectionStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void loginShowsOnTheButtonAndIcon();
    void refusedLoginGivesOneBox_data();
    void refusedLoginGivesOneBox();
    void nothingListeningGivesOneSocketErrorBox();
    void dropsAndFailedReconnectsGiveNoBox();
    void buttonWhileConnectedDisconnectsForGood();
    void everyFiveMinutesSweepsLogsAndSaves();

private:
    bool LogIn();
    void ExpectIcon(QString const& i_icon);

    FakeServer m_fake;
    MainWindow* mp_window = nullptr;
    Ui_MainWindow* ui = nullptr;
    ModalAnswerer* mp_answerer = nullptr;
};

void TestConnectionStatus::initTestCase()
{
    QVERIFY(m_fake.Listen());
    // Refused until a case asks for a login: start-up itself connects.
    m_fake.SetReply(1, FrameBuilder::LoginRefused(QStringLiteral("INVALIDPASS")));
    QVERIFY(WriteFile(DataSaver::StoreFilePath(),
                      SettingsStoreFile({{"server_host", "127.0.0.1"},
                                         {"server_port", QByteArray::number(m_fake.Port())},
                                         {"username", "frank"},
                                         {"password", "pw"}})));
    mp_answerer = new ModalAnswerer;
    mp_window = new MainWindow;
    mp_window->show();
    mp_window->Init();
    ui = mp_window->Form();
    QTRY_COMPARE_WITH_TIMEOUT(mp_answerer->Boxes().size(), 1, 5000);
}

void TestConnectionStatus::cleanupTestCase()
{
    delete mp_window;
    delete mp_answerer;
}

void TestConnectionStatus::init()
{
    if (gp_server->IsConnected())
        gp_server->Disconnect();
    QTRY_COMPARE(gp_server->GetState(), Server::StateDisconnected);
    QVERIFY(m_fake.WaitForClientGone());
    QVERIFY(m_fake.Listen());
    m_fake.ClearFrames();
    mp_answerer->Clear();
}

bool TestConnectionStatus::LogIn()
{
    m_fake.SetReply(1, FrameBuilder::LoginAccepted());
    ui->connectButton->click();
    return QTest::qWaitFor([] { return gp_server->IsConnected(); }, 5000);
}

void TestConnectionStatus::ExpectIcon(QString const& i_icon)
{
    QCOMPARE(IconImage(mp_window->windowIcon()), IconImage(QIcon(i_icon)));
    QCOMPARE(IconImage(QApplication::windowIcon()), IconImage(QIcon(i_icon)));
}

void TestConnectionStatus::loginShowsOnTheButtonAndIcon()
{
    SetSetting("enable_private_room_add", QStringLiteral("yes"));
    ExpectIcon(QStringLiteral(":/icons/offline_icon"));
    QCOMPARE(ui->connectButton->text(), QStringLiteral("Connect"));
    m_fake.SetReply(1, FrameBuilder::LoginAccepted());
    ui->connectButton->click();
    QCOMPARE(ui->connectButton->text(), QStringLiteral("Connecting..."));
    QVERIFY(!ui->connectButton->isEnabled());
    QTRY_VERIFY(gp_server->IsConnected());
    QCOMPARE(ui->connectButton->text(), QStringLiteral("Disconnect"));
    QVERIFY(ui->connectButton->isEnabled());
    ExpectIcon(QStringLiteral(":/icons/online_icon"));
    QVERIFY(m_fake.WaitForCode(92));
    QCOMPARE(GetSetting("enable_private_room_add"), QStringLiteral("no"));
    QVERIFY(mp_answerer->Boxes().isEmpty());
}

void TestConnectionStatus::refusedLoginGivesOneBox_data()
{
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("closeAtOnce");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QString const l_settings = QStringLiteral(
        " Please change your login settings in the Options tab and try reconnecting.");
    QString const l_wrongPassword =
        "Login failed. The password you supplied does not match your username." + l_settings;
    QString const l_badName = "Login failed. The username you supplied is invalid." + l_settings;
    QString const l_other = "Login failed. Reported failure reason: BANNED." + l_settings;
    for (bool l_close : {false, true})
    {
        QByteArray const l_suffix = l_close ? " then closed" : "";
        QTest::newRow("INVALIDPASS" + l_suffix) << "INVALIDPASS" << l_close
                                                << "Login Failure: Wrong Password" << l_wrongPassword;
        QTest::newRow("INVALIDUSERNAME" + l_suffix)
            << "INVALIDUSERNAME" << l_close << "Login Failure: Username is Invalid" << l_badName;
        QTest::newRow("other reason" + l_suffix)
            << "BANNED" << l_close << "Login Failure" << l_other;
        // The server's words as they came, not as markup.
        QTest::newRow("reason with markup" + l_suffix)
            << "<a href=\"http://e.test/\">BANNED</a>" << l_close << "Login Failure"
            << QString(l_other).replace("BANNED", "<a href=\"http://e.test/\">BANNED</a>");
    }
}

void TestConnectionStatus::refusedLoginGivesOneBox()
{
    QFETCH(QString, reason);
    QFETCH(bool, closeAtOnce);
    QFETCH(QString, title);
    QFETCH(QString, text);
    m_fake.SetReply(1, FrameBuilder::LoginRefused(reason));
    // The fake answers as the login arrives; the queued close follows right behind.
    QMetaObject::Connection const l_closer =
        closeAtOnce ? connect(&m_fake, &FakeServer::FrameReceived, &m_fake,
                              [this] { m_fake.CloseClient(); }, Qt::QueuedConnection)
                    : QMetaObject::Connection();
    ui->connectButton->click();
    QTRY_VERIFY(!mp_answerer->Boxes().isEmpty());
    m_fake.Idle(200);
    disconnect(l_closer);
    QCOMPARE(mp_answerer->Boxes(), QList<ModalAnswerer::Window>({{title, text}}));
    QCOMPARE(ui->connectButton->text(), QStringLiteral("Connect"));
    QVERIFY(ui->connectButton->isEnabled());
    ExpectIcon(QStringLiteral(":/icons/offline_icon"));
    QCOMPARE(gp_server->GetState(), Server::StateDisconnected);
}

void TestConnectionStatus::nothingListeningGivesOneSocketErrorBox()
{
    m_fake.StopListening();
    ui->connectButton->click();
    QTRY_VERIFY(!mp_answerer->Boxes().isEmpty());
    m_fake.Idle(200);
    QCOMPARE(mp_answerer->Boxes().size(), 1);
    QCOMPARE(mp_answerer->Boxes().first().m_text,
             QStringLiteral("Login failed. Reported failure reason: socket error. Please change "
                            "your login settings in the Options tab and try reconnecting."));
    QCOMPARE(ui->connectButton->text(), QStringLiteral("Connect"));
}

void TestConnectionStatus::dropsAndFailedReconnectsGiveNoBox()
{
    QVERIFY(LogIn());
    m_fake.StopListening();
    m_fake.DropClient();
    QTRY_COMPARE(gp_server->GetState(), Server::StateDisconnected);
    QVERIFY(gp_server->IsAbruptlyDisconnected());
    QCOMPARE(ui->connectButton->text(), QStringLiteral("Connect"));
    ExpectIcon(QStringLiteral(":/icons/offline_icon"));
    // The half-minute retry finds nobody listening: still no box.
    gp_server->AttemptReconnect();
    QTRY_COMPARE(gp_server->GetState(), Server::StateDisconnected);
    m_fake.Idle(200);
    QVERIFY(mp_answerer->Boxes().isEmpty());
    QVERIFY(gp_server->IsAbruptlyDisconnected());
}

void TestConnectionStatus::buttonWhileConnectedDisconnectsForGood()
{
    QVERIFY(LogIn());
    int const l_accepted = m_fake.AcceptedCount();
    ui->connectButton->click();
    QCOMPARE(gp_server->GetState(), Server::StateDisconnected);
    QCOMPARE(ui->connectButton->text(), QStringLiteral("Connect"));
    QVERIFY(m_fake.WaitForClientGone());
    gp_server->AttemptReconnect();
    m_fake.Idle(200);
    QCOMPARE(m_fake.AcceptedCount(), l_accepted);
    QVERIFY(mp_answerer->Boxes().isEmpty());
}

void TestConnectionStatus::everyFiveMinutesSweepsLogsAndSaves()
{
    // A value no key holds any more goes with the sweep; the key's new value is saved.
    SetSetting("sweep_probe", QStringLiteral("value nobody else holds"));
    SetSetting("sweep_probe", QStringLiteral("kept"));
    QVERIFY(d["global_value"]->HasItem(Value("value nobody else holds")));
    LogCapture l_log;
    mp_window->EveryFiveMinutes();
    QVERIFY(!d["global_value"]->HasItem(Value("value nobody else holds")));
    QVERIFY(l_log.Contains(QStringLiteral("Configuration Data"), 1,
                           "Saving configuration data to " + DataSaver::StoreFilePath()));
    QByteArray const l_saved = ReadFile(DataSaver::StoreFilePath());
    QVERIFY(l_saved.contains("sweep_probe") && l_saved.contains("kept"));
    QVERIFY(!l_saved.contains("value nobody else holds"));
}

QTEST_MAIN(TestConnectionStatus)
#include "tst_connection_status.moc"
