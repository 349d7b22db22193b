#pragma once

// The worker of one running download: it receives the rest of the file from the
// file-transfer connection and appends it to the partial file, one block at a time,
// reporting progress at most once per ProgressGate interval (the last block always)
// and completion or failure at the end.
//
// The partial file is expected unbuffered: each block is written through as soon as it
// is full, so a client killed mid-transfer loses at most the block being received, and
// a file system that refuses bytes (a full disk) fails the write that carried them.
//
// The socket is moved to this thread for the transfer and moved back to the thread
// that created the worker before the final report; the file is used only here while
// the worker runs. Neither is owned. The exit flag is the only state both threads
// touch.

#include "transfers/ProgressGate.h"

#include <QMutex>
#include <QString>
#include <QThread>

#include <array>

class QFile;
class QTcpSocket;

class DownloadThread : public QThread
{
    Q_OBJECT

public:
    // Bytes read and written per block.
    static constexpr qint64 c_blockSize = 8192;
    // Silence on the connection after which the transfer fails.
    static constexpr int c_silenceLimitMs = 30000;
    // Socket waits are cut into slices of this length so that an exit request is seen
    // soon even while the peer sends nothing or trickles bytes.
    static constexpr int c_waitSliceMs = 50;

    DownloadThread(QTcpSocket* ip_socket, QFile* ip_file, long long i_expectedSize,
                   long long i_startPosition);

    // Asks the worker to stop before its next block or after its current wait slice.
    void SignalExit();
    // Receives until the file is whole; false with the error text set otherwise.
    bool PerformDownload();
    QString ErrorText() const { return m_errorText; }

signals:
    void DownloadProgress(qint64 i_position, int i_bytesPerSecond);
    void DownloadComplete();
    void DownloadError(QString i_reason);

protected:
    void run() override;

private:
    bool IsExitRequested();
    // Waits until the socket holds bytes, in slices; false (error text set) on an exit
    // request, on silence beyond the limit or when the connection fails.
    bool WaitForData();
    // Writes the block's bytes to the file; false (error text set) when any is refused.
    bool WriteBlock(qint64 i_length);
    void ReportProgress();
    bool Fail(QString const& i_reason);

    QTcpSocket* mp_socket;
    QFile* mp_file;
    qint64 m_expectedSize;
    qint64 m_position;
    QMutex m_exitMutex;
    bool m_exit = false;
    QString m_errorText;
    // Where the socket goes back to before the final report.
    QThread* mp_homeThread;
    ProgressGate m_progress;
    std::array<char, c_blockSize> m_buffer{};
};
