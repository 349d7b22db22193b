#include "app/QtSingleApplication.h"

#include "store/DataSaver.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSysInfo>
#include <QThread>

namespace
{
// A starting instance creates its lock file first and writes its owner right after.
constexpr int c_ownerWriteTimeoutMs = 1000;
} // namespace

QtSingleApplication::QtSingleApplication(QString const& i_id, int& io_argc, char** io_argv)
    : QApplication(io_argc, io_argv), m_lockOwner(LockOwner::Self)
{
    Q_UNUSED(i_id);
    m_lockOwner = TakeLock();
}

QtSingleApplication::~QtSingleApplication()
{
    if (mp_lock && m_lockOwner == LockOwner::Self)
        mp_lock->unlock();
}

QString QtSingleApplication::LockFilePath()
{
    return DataSaver::StoreFilePath() + QStringLiteral(".lock");
}

QtSingleApplication::LockOwner QtSingleApplication::TakeLock()
{
    mp_lock = std::make_unique<QLockFile>(LockFilePath());
    // Held for the whole run, so its age says nothing about whether it is stale. With no
    // age limit, a failed attempt has already removed the lock of a process of this host
    // that is gone (or whose id now belongs to another program).
    mp_lock->setStaleLockTime(0);
    if (mp_lock->tryLock(0))
        return LockOwner::Self;
    // No lock can be made at all (a folder that cannot be written): the client runs
    // without the guard rather than never.
    if (mp_lock->error() != QLockFile::LockFailedError)
        return LockOwner::Self;

    qint64 l_pid = 0;
    QString l_host;
    QString l_application;
    QElapsedTimer l_clock;
    l_clock.start();
    while (!mp_lock->getLockInfo(&l_pid, &l_host, &l_application))
    {
        if (l_clock.elapsed() >= c_ownerWriteTimeoutMs)
        {
            // A lock that names no owner, long after it was made, is held by nobody. Two
            // starts that both find it must not remove each other's fresh lock.
            QLockFile l_removal(LockFilePath() + QStringLiteral(".rmlock"));
            if (l_removal.tryLock(0) && !mp_lock->getLockInfo(&l_pid, &l_host, &l_application))
                mp_lock->removeStaleLockFile();
            return mp_lock->tryLock(0) ? LockOwner::Self : LockOwner::ThisHost;
        }
        QThread::msleep(20);
    }
    if (!l_host.isEmpty() && l_host != QSysInfo::machineHostName())
    {
        qCritical().noquote() << QStringLiteral(
                                     "%1 is in use by a client on host %2 (process %3); "
                                     "close that client first, or remove the lock file when "
                                     "it no longer runs.")
                                     .arg(LockFilePath(), l_host, QString::number(l_pid));
        return LockOwner::OtherHost;
    }
    return LockOwner::ThisHost;
}
