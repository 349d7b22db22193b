#include "transfers/DownloadThread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QTcpSocket>

#include <algorithm>

namespace
{
QString const c_exitRequested = QStringLiteral("Exit requested.");
} // namespace

DownloadThread::DownloadThread(QTcpSocket* ip_socket, QFile* ip_file, long long i_expectedSize,
                               long long i_startPosition)
    : mp_socket(ip_socket), mp_file(ip_file), m_expectedSize(i_expectedSize),
      m_position(i_startPosition), mp_homeThread(QThread::currentThread())
{
}

void DownloadThread::SignalExit()
{
    QMutexLocker l_lock(&m_exitMutex);
    m_exit = true;
}

bool DownloadThread::IsExitRequested()
{
    QMutexLocker l_lock(&m_exitMutex);
    return m_exit;
}

bool DownloadThread::Fail(QString const& i_reason)
{
    m_errorText = i_reason;
    return false;
}

bool DownloadThread::WaitForData()
{
    QElapsedTimer l_silence;
    l_silence.start();
    while (mp_socket->bytesAvailable() == 0)
    {
        if (IsExitRequested())
            return Fail(c_exitRequested);
        // A block held back by the pacing is reported while the peer is silent, so the
        // rows never lag by more than the interval.
        if (m_progress.IsPendingDue())
            ReportProgress();
        qint64 const l_left = c_silenceLimitMs - l_silence.elapsed();
        qint64 const l_slice =
            std::min({l_left, qint64(c_waitSliceMs), std::max<qint64>(1, m_progress.MsUntilDue())});
        if (l_left > 0 && mp_socket->waitForReadyRead(static_cast<int>(l_slice)))
            continue;
        // A slice that ends without data is no failure until the whole silence limit
        // has passed; a closed or broken connection is one at once.
        if (l_left <= 0 || mp_socket->error() != QAbstractSocket::SocketTimeoutError)
            return Fail(QStringLiteral("Waiting for data to read failed. Error string: ") +
                        mp_socket->errorString());
    }
    return true;
}

bool DownloadThread::WriteBlock(qint64 i_length)
{
    // A short write is retried for the rest, so that a refusal shows with its own error
    // text instead of passing as a partial success.
    qint64 l_written = 0;
    while (l_written < i_length)
    {
        qint64 const l_now = mp_file->write(m_buffer.data() + l_written, i_length - l_written);
        if (l_now <= 0)
            return Fail(QStringLiteral("Writing to file failed. Error string: ") +
                        mp_file->errorString());
        l_written += l_now;
    }
    return true;
}

void DownloadThread::ReportProgress()
{
    emit DownloadProgress(m_position, m_progress.Rate());
}

bool DownloadThread::PerformDownload()
{
    m_progress.RestartMeasurement();
    do
    {
        if (IsExitRequested())
            return Fail(c_exitRequested);
        qint64 const l_block = std::min(m_expectedSize - m_position, c_blockSize);
        // A partial file longer than the file leaves nothing sensible to ask for.
        if (l_block < 0)
            return Fail(QStringLiteral("Socket read failed. Error string: ") +
                        mp_socket->errorString());
        qint64 l_got = 0;
        while (l_got < l_block)
        {
            qint64 const l_read = mp_socket->read(m_buffer.data() + l_got, l_block - l_got);
            if (l_read < 0)
                return Fail(QStringLiteral("Socket read failed. Error string: ") +
                            mp_socket->errorString());
            l_got += l_read;
            if (l_got < l_block && !WaitForData())
                return false;
        }
        if (!WriteBlock(l_block))
            return false;
        m_position += l_block;
        if (m_progress.Moved(l_block, m_position == m_expectedSize))
            ReportProgress();
    } while (m_position != m_expectedSize);
    mp_socket->close();
    return true;
}

void DownloadThread::run()
{
    bool l_done = PerformDownload();
    mp_socket->moveToThread(mp_homeThread);
    // Closing flushes and closes; a failure of either leaves the file short, which must
    // never pass as a complete download.
    mp_file->close();
    if (l_done && mp_file->error() != QFileDevice::NoError)
        l_done =
            Fail(QStringLiteral("Writing to file failed. Error string: ") + mp_file->errorString());
    if (l_done)
        emit DownloadComplete();
    else
    {
        // What reached the file before the failure is reported first.
        if (m_progress.IsPending())
        {
            m_progress.MarkReported();
            ReportProgress();
        }
        emit DownloadError(m_errorText);
    }
}
