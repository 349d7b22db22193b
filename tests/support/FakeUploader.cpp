#include "support/FakeUploader.h"

#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

FakeUploader::FakeUploader(QByteArray user, QObject* parent)
    : QObject(parent), m_user(std::move(user))
{
    connect(&m_trickle, &QTimer::timeout, this, [this] {
        if (m_trickleBytes.isEmpty() || m_files.empty() || !File().Send(m_trickleBytes.left(1)))
        {
            m_trickle.stop();
            return;
        }
        m_trickleBytes.remove(0, 1);
    });
}

QByteArray FakeUploader::OfferPayload(quint32 token, QByteArray const& path, qint64 size,
                                      quint32 direction)
{
    return FakePeer::U32(40) + FakePeer::U32(direction) + FakePeer::U32(token) +
           FakePeer::Text(path) + FakePeer::I64(size);
}

bool FakeUploader::Offer(quint32 token, QByteArray const& path, qint64 size, quint32 direction)
{
    return m_messages.WaitForAccepted() &&
           m_messages.Send(FakePeer::PlainFrame(OfferPayload(token, path, size, direction)));
}

QList<QByteArray> FakeUploader::MessagesWithCode(quint32 code) const
{
    QList<QByteArray> l_found;
    for (QByteArray const& l_frame : m_messages.Frames())
        if (l_frame.size() >= 4 && qFromLittleEndian<quint32>(l_frame.constData()) == code)
            l_found.append(l_frame);
    return l_found;
}

bool FakeUploader::WaitForMessages(quint32 code, qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return MessagesWithCode(code).size() >= count; }, timeoutMs);
}

bool FakeUploader::OpenFileConnection(quint16 clientPort, quint32 token)
{
    m_trickle.stop();
    m_files.push_back(std::make_unique<FakePeer>());
    return File().ConnectTo(clientPort) &&
           File().Send(FakePeer::PlainFrame(FakePeer::InitPayload(m_user, "F")) +
                         FakePeer::U32(token));
}

qint64 FakeUploader::ReadOffset(int timeoutMs)
{
    if (m_files.empty() || !File().WaitForBytes(8, timeoutMs))
        return -1;
    return qFromLittleEndian<qint64>(File().Received().constData());
}

bool FakeUploader::SendFrom(QByteArray const& content, qint64 offset, qint64 count)
{
    return !m_files.empty() && File().Send(content.mid(offset, count));
}

void FakeUploader::Trickle(QByteArray const& content, qint64 offset, int intervalMs)
{
    m_trickleBytes = content.mid(offset);
    m_trickle.start(intervalMs);
}

void FakeUploader::CloseFileConnection()
{
    m_trickle.stop();
    if (!m_files.empty())
        File().Close();
}
