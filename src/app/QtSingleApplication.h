#pragma once

// The application object of a client that runs once per home folder. At construction it
// takes a lock file beside the store file, held for the whole run.
//
// A lock that is taken already belongs to another instance unless its owner, as the lock
// file records it, is a process of this host that is gone: a dead process id, the starting
// process's own id, or a process of an earlier boot. Only then is it taken over.
// The owner is never judged by anything that depends on the environment of the start
// (a local socket lives in the temporary folder, which two starts need not share).
// Whatever else lies at the lock path is no client's lock: a link that leads nowhere, or a
// file larger than a lock, is removed; anything else (a folder, a link to something, a
// special file) is left to the user, and the start fails.

#include <QApplication>
#include <QLockFile>
#include <QString>

#include <memory>

class QtSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QtSingleApplication(QString const& i_id, int& io_argc, char** io_argv);
    ~QtSingleApplication() override;

    // True when the client must not run: another instance holds the lock, on this host or
    // on another one, or the lock path is blocked.
    bool isRunning() const { return m_lockOwner != LockOwner::Self; }
    // True when the start fails, and has said why: the lock is held from another host (a
    // home folder shared by machines), so the process cannot tell whether that client still
    // runs; or the lock path holds something the user must remove.
    bool isRefused() const
    {
        return m_lockOwner == LockOwner::OtherHost || m_lockOwner == LockOwner::Blocked;
    }

    // The lock file: the store file's path followed by ".lock".
    static QString LockFilePath();

private:
    enum class LockOwner
    {
        Self,
        ThisHost,
        OtherHost,
        Blocked
    };

    LockOwner TakeLock();
    // Removes what lies at the lock path and is no lock; false, said why, when something
    // there is left to the user.
    static bool ClearLockPath();
    static QByteArray ReadLockFile();
    static bool IsFromEarlierBoot(QByteArray const& i_contents);
    // Removes the lock judged stale from these contents and takes it; false when another
    // start took it first.
    bool TakeOverStaleLock(QByteArray const& i_judged);

    std::unique_ptr<QLockFile> mp_lock;
    LockOwner m_lockOwner;
};
