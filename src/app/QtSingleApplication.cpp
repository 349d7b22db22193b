#include "app/QtSingleApplication.h"

#include "store/DataSaver.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace
{
// A starting instance creates its lock file first and writes its owner right after.
constexpr int c_ownerWriteTimeoutMs = 1000;
// A lock file holds five short lines; more is not one.
constexpr qint64 c_maxLockFileBytes = 4096;
// Another start that judged the same entry removes it within moments.
constexpr int c_removalWaitMs = 500;

// The entry judged, unchanged: a lock made since, even in its place, is another one.
bool IsSameEntry(struct stat const& i_one, struct stat const& i_other)
{
    return i_one.st_dev == i_other.st_dev && i_one.st_ino == i_other.st_ino &&
           i_one.st_mode == i_other.st_mode && i_one.st_size == i_other.st_size &&
           i_one.st_ctim.tv_sec == i_other.st_ctim.tv_sec &&
           i_one.st_ctim.tv_nsec == i_other.st_ctim.tv_nsec;
}

bool IsDanglingLink(QByteArray const& i_path, struct stat const& i_status)
{
    struct stat l_target;
    return S_ISLNK(i_status.st_mode) && ::stat(i_path.constData(), &l_target) != 0 &&
           (errno == ENOENT || errno == ENOTDIR || errno == ELOOP);
}

// Under the guard of QLockFile's own stale-lock removal, so that two starts never remove a
// fresh lock made after one of them judged the entry. Its bytes are not compared, since a
// file too large for a lock is never read whole.
void RemoveJudgedEntry(QString const& i_lockPath, struct stat const& i_judged)
{
    QLockFile l_removal(i_lockPath + QStringLiteral(".rmlock"));
    QByteArray const l_path = QFile::encodeName(i_lockPath);
    struct stat l_now;
    if (!l_removal.tryLock(c_removalWaitMs) || ::lstat(l_path.constData(), &l_now) != 0 ||
        !IsSameEntry(l_now, i_judged))
        return;
    if (!S_ISREG(l_now.st_mode))
    {
        ::unlink(l_path.constData());
        return;
    }
    // Whatever its size, a file that a live process holds locked as QLockFile does is
    // kept.
    int const l_file = ::open(l_path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (l_file < 0)
        return;
    if (::fstat(l_file, &l_now) == 0 && IsSameEntry(l_now, i_judged) &&
        ::flock(l_file, LOCK_EX | LOCK_NB) == 0)
        ::unlink(l_path.constData());
    ::close(l_file);
}
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
    if (!ClearLockPath())
        return LockOwner::Blocked;
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

bool QtSingleApplication::ClearLockPath()
{
    // QLockFile reads a lock whole and through a link, and an open of a fifo waits for a
    // writer: what lies at the lock path is judged first, without following a link.
    QString const l_lockPath = LockFilePath();
    QByteArray const l_path = QFile::encodeName(l_lockPath);
    struct stat l_judged;
    for (int l_attempt = 0;; ++l_attempt)
    {
        // No entry, or none this process can see: QLockFile decides, as for any lock.
        if (::lstat(l_path.constData(), &l_judged) != 0)
            return true;
        bool const l_regular = S_ISREG(l_judged.st_mode);
        if (l_regular && l_judged.st_size <= c_maxLockFileBytes)
            return true;
        // A link to an existing file is not removed: the client never makes one, so the
        // user did, and it may lead to a lock kept elsewhere on purpose.
        if (l_attempt == 1 || !(l_regular || IsDanglingLink(l_path, l_judged)))
            break;
        RemoveJudgedEntry(l_lockPath, l_judged);
    }
    QString const l_kind = S_ISDIR(l_judged.st_mode)   ? QStringLiteral("a folder")
                           : S_ISLNK(l_judged.st_mode) ? QStringLiteral("a link")
                           : S_ISREG(l_judged.st_mode)
                               ? QStringLiteral("a file too large for a lock")
                               : QStringLiteral("a special file");
    qCritical().noquote() << QStringLiteral("%1 is %2, not a lock file of this client, which "
                                            "cannot tell whether another one runs; remove it, "
                                            "then start again.")
                                 .arg(l_lockPath, l_kind);
    return false;
}

QByteArray QtSingleApplication::ReadLockFile()
{
    // Through no link, and never an open that waits: something else may be put there since.
    int const l_file = ::open(QFile::encodeName(LockFilePath()).constData(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (l_file < 0)
        return {};
    QByteArray l_contents;
    struct stat l_status;
    if (::fstat(l_file, &l_status) == 0 && S_ISREG(l_status.st_mode))
    {
        l_contents.resize(c_maxLockFileBytes);
        ssize_t const l_read = ::read(l_file, l_contents.data(), l_contents.size());
        l_contents.resize(l_read > 0 ? l_read : 0);
    }
    ::close(l_file);
    return l_contents;
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
