#include "support/FakeServer.h"

#include <QHostAddress>
#include <QTest>
#include <QtEndian>

FakeServer::FakeServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeServer::OnNewConnection);
}

FakeServer::~FakeServer()
{
    if (mp_client)
        mp_client->abort();
}

bool FakeServer::Listen()
{
    if (m_server.isListening())
        return true;
    if (!m_server.listen(QHostAddress(QHostAddress::LocalHost), m_port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

void FakeServer::StopListening()
{
    m_server.close();
}

bool FakeServer::HasClient() const
{
    return mp_client && mp_client->state() == QAbstractSocket::ConnectedState;
}

bool FakeServer::WaitForAccepted(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_acceptedCount >= count; }, timeoutMs);
}

bool FakeServer::WaitForClientGone(int timeoutMs)
{
    return QTest::qWaitFor([&] { return !HasClient(); }, timeoutMs);
}

QList<quint32> FakeServer::Codes() const
{
    QList<quint32> l_codes;
    for (Frame const& l_frame : m_frames)
        l_codes.append(l_frame.code);
    return l_codes;
}

QList<FakeServer::Frame> FakeServer::FramesWithCode(quint32 code) const
{
    QList<Frame> l_frames;
    for (Frame const& l_frame : m_frames)
        if (l_frame.code == code)
            l_frames.append(l_frame);
    return l_frames;
}

bool FakeServer::WaitForFrames(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_frames.size() >= count; }, timeoutMs);
}

bool FakeServer::WaitForCode(quint32 code, int timeoutMs)
{
    return QTest::qWaitFor([&] { return HasCode(code); }, timeoutMs);
}

void FakeServer::Idle(int milliseconds)
{
    QTest::qWait(milliseconds);
}

void FakeServer::SetReply(quint32 code, QByteArray const& bytes)
{
    m_replies.insert(code, bytes);
}

void FakeServer::ClearReply(quint32 code)
{
    m_replies.remove(code);
}

void FakeServer::Send(QByteArray const& bytes)
{
    if (!mp_client)
        return;
    mp_client->write(bytes);
    mp_client->flush();
}

void FakeServer::SendInPieces(QByteArray const& bytes, int pieceSize)
{
    if (!mp_client || pieceSize <= 0)
        return;
    for (qsizetype l_offset = 0; l_offset < bytes.size(); l_offset += pieceSize) {
        mp_client->write(bytes.mid(l_offset, pieceSize));
        mp_client->flush();
    }
}

void FakeServer::DropClient()
{
    if (mp_client)
        mp_client->abort();
}

void FakeServer::CloseClient()
{
    if (mp_client)
        mp_client->disconnectFromHost();
}

void FakeServer::OnNewConnection()
{
    while (QTcpSocket* lp_socket = m_server.nextPendingConnection()) {
        int const l_connection = ++m_acceptedCount;
        lp_socket->setParent(this);
        mp_client = lp_socket;
        m_raw.clear();
        connect(lp_socket, &QTcpSocket::readyRead, this,
                [this, lp_socket, l_connection] { OnReadyRead(lp_socket, l_connection); });
        connect(lp_socket, &QTcpSocket::disconnected, lp_socket, &QObject::deleteLater);
        // Bytes may have arrived with the connection itself.
        if (lp_socket->bytesAvailable() > 0)
            OnReadyRead(lp_socket, l_connection);
    }
}

void FakeServer::OnReadyRead(QTcpSocket* socket, int connection)
{
    QByteArray const l_bytes = socket->readAll();
    if (socket == mp_client)
        m_raw += l_bytes;
    m_pending[connection] += l_bytes;
    ParseFrames(connection);
}

void FakeServer::ParseFrames(int connection)
{
    QByteArray& l_pending = m_pending[connection];
    while (l_pending.size() >= 4) {
        quint32 const l_length = qFromLittleEndian<quint32>(l_pending.constData());
        if (static_cast<quint64>(l_pending.size()) < 4ull + l_length)
            return;
        Frame l_frame;
        l_frame.connection = connection;
        l_frame.payload = l_pending.mid(4, l_length);
        l_frame.code = l_length >= 4 ? qFromLittleEndian<quint32>(l_frame.payload.constData()) : 0;
        l_pending.remove(0, 4 + l_length);
        m_frames.append(l_frame);
        emit FrameReceived(l_frame.code);
        if (m_replies.contains(l_frame.code))
            Send(m_replies.value(l_frame.code));
    }
}
