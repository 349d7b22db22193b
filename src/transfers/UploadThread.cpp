#include "transfers/UploadThread.h"

#include "transfers/TransferQueueManager.h"
#include "transfers/UploadPacer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QTcpSocket>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <optional>

UploadThread::UploadThread(QTcpSocket* ip_socket, QFile* ip_file, int i_transferReq)
    : mp_socket(ip_socket), mp_file(ip_file), m_transferReq(i_transferReq),
      mp_homeThread(QThread::currentThread())
{
}

void UploadThread::SignalExit()
{
    QMutexLocker l_lock(&m_exitMutex);
    m_exitRequested = true;
}

bool UploadThread::IsExitRequested()
{
    QMutexLocker l_lock(&m_exitMutex);
    return m_exitRequested;
}

bool UploadThread::WaitForReadable()
{
    QElapsedTimer l_silence;
    l_silence.start();
    // Bytes may already wait in the socket's buffer: only wait while there are none.
    while (mp_socket->bytesAvailable() == 0)
    {
        if (IsExitRequested())
            return false;
        qint64 const l_left = c_waitLimitMs - l_silence.elapsed();
        if (l_left <= 0)
            return false;
        if (mp_socket->waitForReadyRead(static_cast<int>(std::min<qint64>(c_waitSliceMs, l_left))))
            continue;
        // A slice that ends without data is no failure; a broken connection is.
        if (mp_socket->error() != QAbstractSocket::SocketTimeoutError ||
            mp_socket->state() != QAbstractSocket::ConnectedState)
            return false;
    }
    return true;
}

bool UploadThread::WaitForWritten()
{
    QElapsedTimer l_silence;
    l_silence.start();
    while (mp_socket->bytesToWrite() > 0)
    {
        if (IsExitRequested())
            return false;
        if (l_silence.elapsed() >= c_waitLimitMs)
            return false;
        ReportIfDue();
        if (mp_socket->waitForBytesWritten(WaitSlice()))
        {
            l_silence.restart();
            continue;
        }
        if (mp_socket->error() != QAbstractSocket::SocketTimeoutError ||
            mp_socket->state() != QAbstractSocket::ConnectedState)
            return false;
    }
    return true;
}

bool UploadThread::WaitForClosed()
{
    QElapsedTimer l_wait;
    l_wait.start();
    while (mp_socket->state() != QAbstractSocket::UnconnectedState &&
           l_wait.elapsed() < c_waitLimitMs)
    {
        if (IsExitRequested())
            return false;
        mp_socket->waitForDisconnected(c_waitSliceMs);
    }
    return true;
}

void UploadThread::ReportIfDue()
{
    if (m_progress.IsPendingDue())
        ReportProgress();
}

int UploadThread::WaitSlice() const
{
    return static_cast<int>(std::clamp<qint64>(m_progress.MsUntilDue(), 1, c_waitSliceMs));
}

void UploadThread::ReportProgress()
{
    emit UploadProgress(m_position, m_progress.Rate());
}

bool UploadThread::WriteAll(char const* ip_bytes, qint64 i_length)
{
    qint64 l_written = 0;
    while (l_written < i_length)
    {
        qint64 const l_taken = mp_socket->write(ip_bytes + l_written, i_length - l_written);
        if (l_taken < 0)
            return false;
        l_written += l_taken;
        if (!WaitForWritten())
            return false;
    }
    return true;
}

bool UploadThread::ReadOffset(qint64& o_offset)
{
    std::array<char, 8> l_bytes{};
    qint64 l_got = 0;
    while (l_got < qint64(l_bytes.size()))
    {
        if (!WaitForReadable())
            return false;
        qint64 const l_read = mp_socket->read(l_bytes.data() + l_got, qint64(l_bytes.size()) - l_got);
        if (l_read < 0)
            return false;
        l_got += l_read;
    }
    o_offset = qFromLittleEndian<qint64>(l_bytes.data());
    return true;
}

bool UploadThread::PerformUpload()
{
    std::array<char, 4> l_token{};
    qToLittleEndian<quint32>(static_cast<quint32>(m_transferReq), l_token.data());
    if (mp_socket->write(l_token.data(), qint64(l_token.size())) < 0)
        return false;
    mp_socket->flush();

    qint64 l_offset = 0;
    if (!ReadOffset(l_offset))
        return false;
    qint64 const l_size = mp_file->size();
    // Nothing is sent from outside the file, so a zero-byte file is never sent.
    if (l_offset < 0 || l_offset >= l_size || !mp_file->seek(l_offset))
        return false;

    m_progress.RestartMeasurement();
    // Without a manager (a worker on its own) nothing limits the speed.
    QElapsedTimer l_budgetClock;
    l_budgetClock.start();
    std::optional<UploadPacer> l_pacer;
    if (TransferQueueManager* const lp_account = transferQueueManager)
    {
        l_pacer.emplace(
            *lp_account, lp_account->GetUploadSpeed(),
            [&l_budgetClock] { return l_budgetClock.elapsed(); },
            [this](qint64 i_ms)
            {
                ReportIfDue();
                QThread::msleep(static_cast<unsigned long>(std::min<qint64>(i_ms, WaitSlice())));
                return !IsExitRequested();
            });
    }

    std::array<char, c_chunkSize> l_chunk;
    m_position = l_offset;
    while (m_position != l_size)
    {
        if (IsExitRequested())
            return false;
        if (l_pacer)
        {
            if (l_pacer->TakeShare())
                m_progress.RestartMeasurement();
            if (!l_pacer->Pay())
                return false;
        }
        qint64 const l_length = std::min(c_chunkSize, l_size - m_position);
        if (mp_file->read(l_chunk.data(), l_length) != l_length)
            return false;
        if (!WriteAll(l_chunk.data(), l_length))
            return false;
        m_position += l_length;
        if (l_pacer)
            l_pacer->AfterChunk(l_length);
        if (m_progress.Moved(l_length, m_position == l_size))
            ReportProgress();
    }
    // The peer closes once it has everything; a peer that does not is given up on
    // after the wait and the upload still counts as complete.
    WaitForClosed();
    return true;
}

void UploadThread::run()
{
    bool const l_done = PerformUpload();
    mp_socket->moveToThread(mp_homeThread);
    if (l_done)
        emit UploadComplete();
    else
    {
        // What was sent before the failure is reported first.
        if (m_progress.IsPending())
        {
            m_progress.MarkReported();
            ReportProgress();
        }
        emit UploadError();
    }
}
