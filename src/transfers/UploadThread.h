#pragma once

// The worker of one running upload: on the file-transfer connection it writes the
// transfer token, reads the peer's 8-byte resume offset and sends the shared file from
// there, one chunk at a time under the shared upload speed budget, reporting progress
// at most once per ProgressGate interval (the last chunk always) and completion or
// failure at the end.
//
// The socket is moved to this thread for the transfer and moved back to the thread that
// created the worker before the final report; the file is used only here while the
// worker runs. Neither is owned, neither is closed here, and the store is never
// touched. The exit flag is the only state both threads touch; it is tested before
// every chunk and after every wait, and waits are cut into short slices so that an
// exit request is seen soon even while the peer is silent.

#include "transfers/ProgressGate.h"

#include <QMutex>
#include <QThread>

class QFile;
class QTcpSocket;

class UploadThread : public QThread
{
    Q_OBJECT

public:
    // Bytes read and sent per chunk.
    static constexpr qint64 c_chunkSize = 8192;
    // Longest wait for the peer (offset, bytes taken, closing) before giving up.
    static constexpr int c_waitLimitMs = 30000;
    static constexpr int c_waitSliceMs = 50;

    UploadThread(QTcpSocket* ip_socket, QFile* ip_file, int i_transferReq);

    // Asks the worker to stop before its next chunk or after its current wait slice.
    void SignalExit();
    // The transfer itself; false on any failure or an exit request.
    bool PerformUpload();

signals:
    void UploadComplete();
    void UploadError();
    // The read position after the chunk, and the bytes per second measured.
    void UploadProgress(qint64 i_position, int i_bytesPerSecond);

protected:
    void run() override;

private:
    bool IsExitRequested();
    // Reads exactly the 8 offset bytes, however they are cut up on the way.
    bool ReadOffset(qint64& o_offset);
    // Writes the bytes and waits until the socket has taken them all.
    bool WriteAll(char const* ip_bytes, qint64 i_length);
    // Waits in slices; false on an exit request, a broken connection or the limit.
    bool WaitForReadable();
    bool WaitForWritten();
    // Waits for the peer to close; false only on an exit request.
    bool WaitForClosed();
    // Reports a chunk that the pacing held back once its report is due; called while
    // the worker waits, so the rows never lag by more than the interval.
    void ReportIfDue();
    // The wait slice, shortened so that a held-back report is made in time.
    int WaitSlice() const;
    void ReportProgress();

    QTcpSocket* mp_socket;
    QFile* mp_file;
    int m_transferReq;
    QMutex m_exitMutex;
    bool m_exitRequested = false;
    // Where the socket goes back to before the final report.
    QThread* mp_homeThread;
    qint64 m_position = 0;
    ProgressGate m_progress;
};
