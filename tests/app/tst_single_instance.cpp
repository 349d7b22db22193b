// The real client program, started twice in one home folder: the second start leaves at
// once without a window, a login or a touch of the store file, and a lock left behind by
// a killed client or naming some other live process does not keep a new start out.

#include "ShellTestKit.h"

#include "support/FakeServer.h"
#include "support/FrameBuilder.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>

using namespace ShellTestKit;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void secondStartLeavesAtOnce();
    void killedClientsLockDoesNotBlock();
    void lockOfAnotherLiveProgramDoesNotBlock();

private:
    // Starts the client in the home folder; true once it has logged in at the fake.
    bool StartClient(QProcess& io_client, int i_loginsBefore);
    // Whether a new start keeps running (and logs in) instead of leaving.
    void ExpectNewStartRuns();

    QTemporaryDir m_home;
    FakeServer m_fake;
    QProcess m_first;
};

void TestSingleInstance::init()
{
    QVERIFY(m_home.isValid());
    QVERIFY(m_fake.Listen());
    m_fake.SetReply(1, FrameBuilder::LoginAccepted());
    QVERIFY(WriteFile(StorePath(m_home.path()),
                      SettingsStoreFile({{"server_host", "127.0.0.1"},
                                         {"server_port", QByteArray::number(m_fake.Port())},
                                         {"username", "gina"},
                                         {"password", "pw"}})));
}

void TestSingleInstance::cleanup()
{
    m_first.kill();
    m_first.waitForFinished();
}

bool TestSingleInstance::StartClient(QProcess& io_client, int i_loginsBefore)
{
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert(QStringLiteral("HOME"), m_home.path());
    // A killed client never gets to report its leaks.
    l_environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    io_client.setProcessEnvironment(l_environment);
    io_client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    io_client.start(QStringLiteral(KESTRUNE_EXECUTABLE), {});
    return io_client.waitForStarted() &&
           QTest::qWaitFor([&] { return m_fake.FramesWithCode(1).size() > i_loginsBefore; }, 20000);
}

void TestSingleInstance::ExpectNewStartRuns()
{
    int const l_logins = m_fake.FramesWithCode(1).size();
    QVERIFY(StartClient(m_first, l_logins));
    QCOMPARE(m_first.state(), QProcess::Running);
}

void TestSingleInstance::secondStartLeavesAtOnce()
{
    QVERIFY(StartClient(m_first, m_fake.FramesWithCode(1).size()));
    QString const l_store = StorePath(m_home.path());
    QByteArray const l_bytes = ReadFile(l_store);
    QDateTime const l_modified = QFileInfo(l_store).lastModified();
    int const l_accepted = m_fake.AcceptedCount();

    QProcess l_second;
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert(QStringLiteral("HOME"), m_home.path());
    l_second.setProcessEnvironment(l_environment);
    QElapsedTimer l_clock;
    l_clock.start();
    l_second.start(QStringLiteral(KESTRUNE_EXECUTABLE), {});
    QVERIFY(l_second.waitForFinished(5000));
    // Loading the program takes its share; the check itself must not wait for anything.
    QVERIFY2(l_clock.elapsed() < 2000, qPrintable(QString::number(l_clock.elapsed())));
    QCOMPARE(l_second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(l_second.exitCode(), 0);
    m_fake.Idle(200);
    QCOMPARE(m_fake.AcceptedCount(), l_accepted);
    QCOMPARE(ReadFile(l_store), l_bytes);
    QCOMPARE(QFileInfo(l_store).lastModified(), l_modified);
    QCOMPARE(m_first.state(), QProcess::Running);
}

void TestSingleInstance::killedClientsLockDoesNotBlock()
{
    QVERIFY(StartClient(m_first, m_fake.FramesWithCode(1).size()));
    m_first.kill();
    QVERIFY(m_first.waitForFinished());
    ExpectNewStartRuns();
}

void TestSingleInstance::lockOfAnotherLiveProgramDoesNotBlock()
{
    // A lock held, by all the lock file itself tells, by a live process: this test, as
    // when a killed client's process id has been given to another program.
    QString const l_lockPath = StorePath(m_home.path()) + QStringLiteral(".lock");
    QByteArray l_lock;
    {
        QLockFile l_own(l_lockPath);
        QVERIFY(l_own.tryLock(0));
        l_lock = ReadFile(l_lockPath);
    }
    QVERIFY(l_lock.startsWith(QByteArray::number(QCoreApplication::applicationPid()) + '\n'));
    QVERIFY(WriteFile(l_lockPath, l_lock));
    ExpectNewStartRuns();
}

QTEST_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
