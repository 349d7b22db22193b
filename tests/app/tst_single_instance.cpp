// The real client program, started twice in one home folder: the second start leaves at
// once without a window, a login or a touch of the store file, also when it cannot reach
// the first one's temporary folder; a lock left behind by a killed client, or naming a
// process id that another program now has, does not keep a new start out; nor does a
// crashed client's lock naming the id that a restart in a sandbox gets again, or a live
// client's lock of an earlier boot; a lock held from another host keeps it out with a
// failure. What no client leaves at the lock path is judged at once: a link leading nowhere
// and a file too large for a lock go unread, a folder stops the start with a failure.

#include "ShellTestKit.h"

#include "support/FakeServer.h"
#include "support/FrameBuilder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>
#include <QUuid>

#include <csignal>

using namespace ShellTestKit;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void secondStartLeavesAtOnce_data();
    void secondStartLeavesAtOnce();
    void lockOfAnotherHostRefusesStart();
    void killedClientsLockDoesNotBlock();
    void lockOfAnotherLiveProgramDoesNotBlock();
    void staleOwnerIsTakenOver_data();
    void staleOwnerIsTakenOver();
    void foreignEntryAtLockPath_data();
    void foreignEntryAtLockPath();

private:
    // Starts the client in the home folder, in a process-id space of its own when
    // sandboxed; true once it has logged in at the fake.
    bool StartClient(QProcess& io_client, int i_loginsBefore, bool i_sandboxed = false,
                     QString const& i_home = {});
    void StartProcess(QProcess& io_client, bool i_sandboxed, QString const& i_home = {},
                      QProcess::ProcessChannelMode i_channels = QProcess::ForwardedErrorChannel);
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

// The client becomes the first process of a new process-id space; it dies with the
// starter.
static QStringList const c_sandbox = {QStringLiteral("--pid"), QStringLiteral("--fork"),
                                      QStringLiteral("--kill-child"),
                                      QStringLiteral("--mount-proc")};

bool TestSingleInstance::StartClient(QProcess& io_client, int i_loginsBefore, bool i_sandboxed,
                                     QString const& i_home)
{
    StartProcess(io_client, i_sandboxed, i_home);
    return io_client.waitForStarted() &&
           QTest::qWaitFor([&] { return m_fake.FramesWithCode(1).size() > i_loginsBefore; }, 20000);
}

void TestSingleInstance::StartProcess(QProcess& io_client, bool i_sandboxed, QString const& i_home,
                                      QProcess::ProcessChannelMode i_channels)
{
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert(QStringLiteral("HOME"), i_home.isEmpty() ? m_home.path() : i_home);
    // A killed client never gets to report its leaks.
    l_environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    io_client.setProcessEnvironment(l_environment);
    io_client.setProcessChannelMode(i_channels);
    if (i_sandboxed)
        io_client.start(QStringLiteral("unshare"),
                        c_sandbox + QStringList{QStringLiteral(KESTRUNE_EXECUTABLE)});
    else
        io_client.start(QStringLiteral(KESTRUNE_EXECUTABLE), {});
}

void TestSingleInstance::ExpectNewStartRuns()
{
    int const l_logins = m_fake.FramesWithCode(1).size();
    QVERIFY(StartClient(m_first, l_logins));
    QCOMPARE(m_first.state(), QProcess::Running);
}

void TestSingleInstance::secondStartLeavesAtOnce_data()
{
    QTest::addColumn<bool>("ownTemporaryFolder");
    QTest::newRow("same temporary folder") << false;
    QTest::newRow("another temporary folder") << true;
}

void TestSingleInstance::secondStartLeavesAtOnce()
{
    QFETCH(bool, ownTemporaryFolder);
    QTemporaryDir l_temporary;
    QVERIFY(l_temporary.isValid());
    QVERIFY(StartClient(m_first, m_fake.FramesWithCode(1).size()));
    QString const l_store = StorePath(m_home.path());
    QByteArray const l_bytes = ReadFile(l_store);
    QDateTime const l_modified = QFileInfo(l_store).lastModified();
    int const l_accepted = m_fake.AcceptedCount();

    QProcess l_second;
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert(QStringLiteral("HOME"), m_home.path());
    if (ownTemporaryFolder)
        l_environment.insert(QStringLiteral("TMPDIR"), l_temporary.path());
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
    QVERIFY(QFileInfo::exists(StorePath(m_home.path()) + QStringLiteral(".lock")));
}

void TestSingleInstance::killedClientsLockDoesNotBlock()
{
    QVERIFY(StartClient(m_first, m_fake.FramesWithCode(1).size()));
    m_first.kill();
    QVERIFY(m_first.waitForFinished());
    ExpectNewStartRuns();
}

// A client's lock as this process would leave it, or, with a host, another machine.
static QByteArray ClientLock(QString const& i_path, QByteArray const& i_host = {})
{
    QLockFile l_own(i_path);
    QList<QByteArray> l_lines = l_own.tryLock(0) ? ReadFile(i_path).split('\n') : QList<QByteArray>();
    if (l_lines.size() < 4)
        return {};
    l_lines[1] = "kestrune";
    if (!i_host.isEmpty())
    {
        l_lines[2] = i_host; // another name and another machine id
        l_lines[3].fill('f');
    }
    return l_lines.join('\n');
}

void TestSingleInstance::lockOfAnotherLiveProgramDoesNotBlock()
{
    // A client's lock whose process id a live program of another name has now: this test.
    QString const l_lockPath = StorePath(m_home.path()) + QStringLiteral(".lock");
    QByteArray const l_lock = ClientLock(l_lockPath);
    QVERIFY(!l_lock.isEmpty() && WriteFile(l_lockPath, l_lock));
    ExpectNewStartRuns();
}

void TestSingleInstance::lockOfAnotherHostRefusesStart()
{
    // On that host the client may well run: the lock stays, the start fails and says why.
    QString const l_lockPath = StorePath(m_home.path()) + QStringLiteral(".lock");
    QByteArray const l_lock = ClientLock(l_lockPath, "another-machine");
    QVERIFY(!l_lock.isEmpty() && WriteFile(l_lockPath, l_lock));
    int const l_logins = m_fake.FramesWithCode(1).size();
    QProcess l_second;
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert(QStringLiteral("HOME"), m_home.path());
    l_second.setProcessEnvironment(l_environment);
    l_second.start(QStringLiteral(KESTRUNE_EXECUTABLE), {});
    QVERIFY(l_second.waitForFinished(5000));
    QVERIFY(l_second.exitStatus() == QProcess::NormalExit && l_second.exitCode() == 1);
    QVERIFY(l_second.readAllStandardError().contains("another-machine"));
    QVERIFY(ReadFile(l_lockPath) == l_lock && m_fake.FramesWithCode(1).size() == l_logins);
    QVERIFY(QFile::remove(l_lockPath));
}

void TestSingleInstance::staleOwnerIsTakenOver_data()
{
    QTest::addColumn<bool>("sandboxed");
    QTest::addColumn<bool>("earlierBoot");
    QTest::addColumn<bool>("runs");
    QTest::newRow("crashed client, restarted in a sandbox") << true << false << true;
    QTest::newRow("live client of an earlier boot") << false << true << true;
    QTest::newRow("live client of this boot") << false << false << false;
}

void TestSingleInstance::staleOwnerIsTakenOver()
{
    QFETCH(bool, sandboxed);
    QFETCH(bool, earlierBoot);
    QFETCH(bool, runs);
    if (sandboxed && QProcess::execute(QStringLiteral("unshare"),
                                       c_sandbox + QStringList{QStringLiteral("true")}) != 0)
        QSKIP("This kernel gives no process-id space of its own here.");
    // Outside the sandbox a live client runs in another home; the lock here names it, as a
    // lock left in an earlier boot by a client that had the id it has now would.
    QTemporaryDir l_elsewhere;
    QString const l_home = sandboxed ? m_home.path() : l_elsewhere.path();
    if (!sandboxed)
        QVERIFY(QFile::copy(StorePath(m_home.path()), StorePath(l_home)));
    QVERIFY(StartClient(m_first, m_fake.FramesWithCode(1).size(), sandboxed, l_home));
    QString const l_lockPath = StorePath(m_home.path()) + QStringLiteral(".lock");
    QList<QByteArray> l_lock = ReadFile(StorePath(l_home) + QStringLiteral(".lock")).split('\n');
    QVERIFY(l_lock.size() >= 5);
    if (sandboxed)
    {
        // The crash: the client, not its starter, dies, so its lock stays naming id 1.
        qint64 const l_client =
            ReadFile(QStringLiteral("/proc/%1/task/%1/children").arg(m_first.processId()))
                .trimmed()
                .toLongLong();
        QVERIFY(l_client > 0 && ::kill(pid_t(l_client), SIGKILL) == 0);
        QVERIFY(m_first.waitForFinished(5000));
        QCOMPARE(l_lock[0], QByteArray("1"));
    }
    if (earlierBoot)
        l_lock[4] = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    QVERIFY(WriteFile(l_lockPath, l_lock.join('\n')));

    int const l_logins = m_fake.FramesWithCode(1).size();
    QProcess l_second;
    if (runs)
    {
        QVERIFY(StartClient(l_second, l_logins, sandboxed));
        QCOMPARE(l_second.state(), QProcess::Running);
        QCOMPARE(ReadFile(l_lockPath).split('\n').value(0),
                 QByteArray::number(sandboxed ? 1 : l_second.processId()));
        l_second.kill();
        QVERIFY(l_second.waitForFinished(5000));
        return;
    }
    StartProcess(l_second, false);
    QVERIFY(l_second.waitForFinished(5000));
    QVERIFY(l_second.exitStatus() == QProcess::NormalExit && l_second.exitCode() == 0);
    QCOMPARE(m_fake.FramesWithCode(1).size(), l_logins);
}

void TestSingleInstance::foreignEntryAtLockPath_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("link leading nowhere") << QStringLiteral("link");
    QTest::newRow("folder") << QStringLiteral("folder");
    QTest::newRow("sparse 1 GiB file") << QStringLiteral("file");
}

void TestSingleInstance::foreignEntryAtLockPath()
{
    QFETCH(QString, entry);
    QString const l_lockPath = StorePath(m_home.path()) + QStringLiteral(".lock");
    QString const l_inside = l_lockPath + QStringLiteral("/kept");
    QString const l_target = m_home.filePath(QStringLiteral("target"));
    QFile::remove(l_lockPath); // a lock left by an earlier case
    if (entry == QStringLiteral("link"))
        QVERIFY(QFile::link(l_target, l_lockPath));
    else if (entry == QStringLiteral("folder"))
        QVERIFY(QDir().mkdir(l_lockPath) && WriteFile(l_inside, "kept"));
    else
        QVERIFY(WriteFile(l_lockPath, {}) && QFile::resize(l_lockPath, qint64(1) << 30));

    QElapsedTimer l_clock;
    l_clock.start();
    StartProcess(m_first, false, {}, QProcess::SeparateChannels);
    // Decided: the start has left, or the lock names it.
    QVERIFY(QTest::qWaitFor(
        [&]
        {
            QFile l_lock(l_lockPath);
            return m_first.state() == QProcess::NotRunning ||
                   (l_lock.open(QIODevice::ReadOnly) &&
                    l_lock.readLine(32).trimmed() == QByteArray::number(m_first.processId()));
        },
        5000));
    QVERIFY2(l_clock.elapsed() < 2000, qPrintable(QString::number(l_clock.elapsed())));
    if (entry != QStringLiteral("folder"))
    {
        QCOMPARE(m_first.state(), QProcess::Running);
        // A start reads under a megabyte in all; the file read whole would be 1 GiB.
        QByteArray const l_io = ReadFile(QStringLiteral("/proc/%1/io").arg(m_first.processId()));
        qint64 const l_read =
            l_io.startsWith("rchar: ") ? l_io.split('\n')[0].mid(7).toLongLong() : -1;
        QVERIFY2(l_read >= 0 && l_read < (16 << 20), l_io.constData());
        QVERIFY(!QFileInfo(l_lockPath).isSymLink() && !QFileInfo::exists(l_target));
        return;
    }
    QVERIFY(m_first.exitStatus() == QProcess::NormalExit && m_first.exitCode() == 1);
    QVERIFY(m_first.readAllStandardError().contains(QFile::encodeName(l_lockPath)));
    QCOMPARE(QDir(l_lockPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("kept")});
    QCOMPARE(ReadFile(l_inside), QByteArray("kept"));
    QVERIFY(QFile::remove(l_inside) && QDir().rmdir(l_lockPath));
}

QTEST_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
