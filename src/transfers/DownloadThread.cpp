#include "transfers/DownloadThread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QTcpSocket>

#include <algorithm>
#include <limits>

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
        qint64 const l_left = c_silenceLimitMs - l_silence.elapsed();
        if (l_left > 0 &&
            mp_socket->waitForReadyRead(static_cast<int>(std::min<qint64>(c_waitSliceMs, l_left))))
            continue;
        // A slice that ends without data is no failure until the whole silence limit
        // has passed; a closed or broken connection is one at once.
        if (l_left <= 0 || mp_socket->error() != QAbstractSocket::SocketTimeoutError)
            return Fail(QStringLiteral("Waiting for data to read failed. Error string: ") +
                        mp_socket->errorString());
    }
    return true;
}

bool DownloadThread::PerformDownload()
{
    QElapsedTimer l_clock;
    l_clock.start();
    qint64 l_received = 0;
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
        m_position += l_block;
        l_received += l_block;
        if (mp_file->write(m_buffer.data(), l_block) != l_block)
            return Fail(QStringLiteral("Writing to file failed. Error string: ") +
                        mp_file->errorString());

        qint64 const l_elapsed = l_clock.elapsed();
        qint64 const l_speed = l_elapsed > 0 ? l_received * 1000 / l_elapsed : 0;
        emit DownloadProgress(m_position, static_cast<int>(std::min<qint64>(
                                              l_speed, std::numeric_limits<int>::max())));
    } while (m_position != m_expectedSize);
    mp_socket->close();
    return true;
}

void DownloadThread::run()
{
    bool const l_done = PerformDownload();
    mp_socket->moveToThread(mp_homeThread);
    mp_file->close();
    if (l_done)
        emit DownloadComplete();
    else
        emit DownloadError(m_errorText);
}
