#include "app/QtSingleApplication.h"

#include "store/DataSaver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QThread>

namespace
{
constexpr int c_probeTimeoutMs = 1000;
} // namespace

QtSingleApplication::QtSingleApplication(QString const& i_id, int& io_argc, char** io_argv)
    : QApplication(io_argc, io_argv), m_serverName(ServerName(i_id)), m_isRunning(false)
{
    m_isRunning = !TakeLock();
    if (!m_isRunning)
        Listen();
}

QtSingleApplication::~QtSingleApplication()
{
    m_server.close();
    if (mp_lock)
        mp_lock->unlock();
}

QString QtSingleApplication::LockFilePath()
{
    return DataSaver::StoreFilePath() + QStringLiteral(".lock");
}

QString QtSingleApplication::ServerName(QString const& i_id)
{
    QByteArray const l_hash =
        QCryptographicHash::hash(QDir::homePath().toUtf8(), QCryptographicHash::Sha256).toHex();
    return i_id + QLatin1Char('-') + QString::fromLatin1(l_hash.left(16));
}

bool QtSingleApplication::TakeLock()
{
    mp_lock = std::make_unique<QLockFile>(LockFilePath());
    // Held for the whole run, so its age says nothing about whether it is stale.
    mp_lock->setStaleLockTime(0);
    if (mp_lock->tryLock(0))
        return true;
    // No lock can be made at all (a folder that cannot be written): the client runs
    // without the guard rather than never.
    if (mp_lock->error() != QLockFile::LockFailedError)
        return true;
    if (IsAnswering(m_serverName, c_probeTimeoutMs))
        return false;
    // Nobody answers for the lock: its process is gone or is some other program now.
    QFile::remove(LockFilePath());
    return mp_lock->tryLock(0);
}

bool QtSingleApplication::IsAnswering(QString const& i_name, int i_timeoutMs)
{
    QElapsedTimer l_clock;
    l_clock.start();
    // A starting instance locks before it listens: ask again until the time is up.
    do
    {
        QLocalSocket l_socket;
        l_socket.connectToServer(i_name);
        if (l_socket.waitForConnected(qMax(1, int(i_timeoutMs - l_clock.elapsed()))))
            return true;
        QThread::msleep(20);
    } while (l_clock.elapsed() < i_timeoutMs);
    return false;
}

void QtSingleApplication::Listen()
{
    // A socket file left by a killed instance blocks the name; the lock makes it ours.
    QLocalServer::removeServer(m_serverName);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(m_serverName);
    connect(&m_server, &QLocalServer::newConnection, this, &QtSingleApplication::OnNewConnection);
}

void QtSingleApplication::OnNewConnection()
{
    while (QLocalSocket* const lp_socket = m_server.nextPendingConnection())
    {
        connect(lp_socket, &QLocalSocket::disconnected, lp_socket, &QObject::deleteLater);
        lp_socket->disconnectFromServer();
    }
}
