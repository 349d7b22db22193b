#pragma once

// The application object of a client that runs once per home folder. At construction it
// takes a lock file beside the store file, held for the whole run.
//
// A lock that is taken already belongs to another instance unless its owner, as the lock
// file records it, is a process of this host that is gone: a dead process id, the starting
// process's own id, or a process of an earlier boot. Only then is it taken over.
// The owner is never judged by anything that depends on the environment of the start
// (a local socket lives in the temporary folder, which two starts need not share).

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

    // True when another instance holds the lock, on this host or on another one.
    bool isRunning() const { return m_lockOwner != LockOwner::Self; }
    // True when the lock is held from another host (a home folder shared by machines):
    // the process cannot tell whether that client still runs, and says so.
    bool isRunningElsewhere() const { return m_lockOwner == LockOwner::OtherHost; }

    // The lock file: the store file's path followed by ".lock".
    static QString LockFilePath();

private:
    enum class LockOwner
    {
        Self,
        ThisHost,
        OtherHost
    };

    LockOwner TakeLock();
    static QByteArray ReadLockFile();
    static bool IsFromEarlierBoot(QByteArray const& i_contents);
    // Removes the lock judged stale from these contents and takes it; false when another
    // start took it first.
    bool TakeOverStaleLock(QByteArray const& i_judged);

    std::unique_ptr<QLockFile> mp_lock;
    LockOwner m_lockOwner;
};
