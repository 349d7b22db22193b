#pragma once

// The application object of a client that runs once per home folder. At construction it
// takes a lock file beside the store file, held for the whole run, and listens on a local
// socket named from the application id and the home path; the socket accepts and closes
// connections and reads nothing: it only answers "someone is here".
//
// When the lock is taken already, the socket is probed for up to a second: an answer
// means another instance runs (isRunning() is true); silence means the lock was left by
// a process that is gone or that is no client (its id reused), and the lock is taken
// over.

#include <QApplication>
#include <QLocalServer>
#include <QLockFile>
#include <QString>

#include <memory>

class QtSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QtSingleApplication(QString const& i_id, int& io_argc, char** io_argv);
    ~QtSingleApplication() override;

    bool isRunning() const { return m_isRunning; }

    // The lock file: the store file's path followed by ".lock".
    static QString LockFilePath();
    // The local socket's name for the id and the present home path.
    static QString ServerName(QString const& i_id);

private:
    // Whether an instance answers on the socket within the time-out.
    static bool IsAnswering(QString const& i_name, int i_timeoutMs);
    // False when another instance holds the lock and answers.
    bool TakeLock();
    void Listen();
    void OnNewConnection();

    QString m_serverName;
    std::unique_ptr<QLockFile> mp_lock;
    QLocalServer m_server;
    bool m_isRunning;
};
