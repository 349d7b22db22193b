#include "app/QtSingleApplication.h"

#include "store/DataSaver.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QThread>

namespace
{
// A starting instance creates its lock file first and writes its owner right after.
constexpr int c_ownerWriteTimeoutMs = 1000;
// A lock file holds five short lines; more is not one.
constexpr qint64 c_maxLockFileBytes = 4096;
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
        // A lock that names no owner, long after it was made, is held by nobody.
        if (l_clock.elapsed() >= c_ownerWriteTimeoutMs)
            return TakeOverStaleLock(ReadLockFile()) ? LockOwner::Self : LockOwner::ThisHost;
        QThread::msleep(20);
    }
    QByteArray const l_contents = ReadLockFile();
    if (!l_host.isEmpty() && l_host != QSysInfo::machineHostName())
    {
        qCritical().noquote() << QStringLiteral(
                                     "%1 is in use by a client on host %2 (process %3); "
                                     "close that client first, or remove the lock file when "
                                     "it no longer runs.")
                                     .arg(LockFilePath(), l_host, QString::number(l_pid));
        return LockOwner::OtherHost;
    }
    // The lock's process id can look alive although its owner is gone: in a sandbox with
    // its own process ids every start gets the same low id, so a crashed client's lock
    // names the process that reads it; and ids start again with every boot.
    if (l_pid == QCoreApplication::applicationPid() || IsFromEarlierBoot(l_contents))
        return TakeOverStaleLock(l_contents) ? LockOwner::Self : LockOwner::ThisHost;
    return LockOwner::ThisHost;
}

QByteArray QtSingleApplication::ReadLockFile()
{
    QFile l_file(LockFilePath());
    return l_file.open(QIODevice::ReadOnly) ? l_file.read(c_maxLockFileBytes) : QByteArray();
}

bool QtSingleApplication::IsFromEarlierBoot(QByteArray const& i_contents)
{
    // Lines: process id, program, host, machine id, boot id. Another machine's boot
    // (one that shares the host name) says nothing about this one's.
    QList<QByteArray> const l_lines = i_contents.split('\n');
    if (l_lines.size() < 5 || l_lines[4].isEmpty())
        return false;
    QByteArray const l_machine = QSysInfo::machineUniqueId();
    QByteArray const l_boot = QSysInfo::bootUniqueId();
    return l_lines[3] == l_machine && !l_boot.isEmpty() && l_lines[4] != l_boot;
}

bool QtSingleApplication::TakeOverStaleLock(QByteArray const& i_judged)
{
    // Two starts that both judge the lock stale must not remove each other's fresh lock:
    // it goes only while it still holds what was judged, and under a lock of its own.
    QLockFile l_removal(LockFilePath() + QStringLiteral(".rmlock"));
    if (l_removal.tryLock(0) && ReadLockFile() == i_judged)
        mp_lock->removeStaleLockFile();
    return mp_lock->tryLock(0);
}
