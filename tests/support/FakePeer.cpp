#include "FakePeer.h"

#include "support/FrameBuilder.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

namespace
{
// The key for group g: K rotated left by (g + 1) mod 32 bits, computed directly
// rather than by repeated single-bit rotation.
std::uint32_t GroupKey(std::uint32_t key, qsizetype group)
{
    unsigned const l_shift = unsigned((group + 1) % 32);
    if (l_shift == 0)
        return key;
    return (key << l_shift) | (key >> (32 - l_shift));
}
} // namespace

FakePeer::FakePeer(QObject* parent) : QObject(parent) {}

FakePeer::~FakePeer()
{
    if (mp_socket) {
        mp_socket->disconnect(this);
        mp_socket->abort();
        delete mp_socket;
    }
}

QByteArray FakePeer::U8(std::uint8_t value)
{
    return QByteArray(1, char(value));
}

QByteArray FakePeer::U32(std::uint32_t value)
{
    return FrameBuilder::LittleEndian(value, 4);
}

QByteArray FakePeer::I64(std::int64_t value)
{
    return FrameBuilder::LittleEndian(std::uint64_t(value), 8);
}

QByteArray FakePeer::Text(QByteArray const& bytes)
{
    return U32(std::uint32_t(bytes.size())) + bytes;
}

QByteArray FakePeer::PlainFrame(QByteArray const& payload)
{
    return U32(std::uint32_t(payload.size())) + payload;
}

QByteArray FakePeer::Mask(QByteArray const& plain, std::uint32_t key)
{
    QByteArray l_masked(plain.size(), '\0');
    for (qsizetype j = 0; j < plain.size(); ++j) {
        std::uint32_t const l_groupKey = GroupKey(key, j / 4);
        unsigned char const l_keyByte = (l_groupKey >> (8 * (j % 4))) & 0xFF;
        l_masked[j] = char(static_cast<unsigned char>(plain[j]) ^ l_keyByte);
    }
    return l_masked;
}

QByteArray FakePeer::ObfuscatedFrame(QByteArray const& payload, std::uint32_t key)
{
    return U32(key) + Mask(PlainFrame(payload), key);
}

QByteArray FakePeer::InitPayload(QByteArray const& user, QByteArray const& type)
{
    return U8(1) + Text(user) + Text(type) + U32(0);
}

QByteArray FakePeer::PiercingPayload(std::uint32_t token)
{
    return U8(0) + U32(token);
}

bool FakePeer::ConnectTo(quint16 port, int timeoutMs)
{
    auto* lp_socket = new QTcpSocket(this);
    Adopt(lp_socket);
    lp_socket->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    return QTest::qWaitFor(
        [lp_socket] { return lp_socket->state() == QAbstractSocket::ConnectedState; }, timeoutMs);
}

quint16 FakePeer::Listen()
{
    if (!mp_server) {
        mp_server = new QTcpServer(this);
        connect(mp_server, &QTcpServer::newConnection, this, &FakePeer::OnNewConnection);
    }
    if (!mp_server->isListening() && !mp_server->listen(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    return mp_server->serverPort();
}

bool FakePeer::WaitForAccepted(int timeoutMs)
{
    return QTest::qWaitFor([this] { return !mp_socket.isNull(); }, timeoutMs);
}

void FakePeer::OnNewConnection()
{
    while (QTcpSocket* lp_socket = mp_server->nextPendingConnection()) {
        if (mp_socket) {
            // One connection per fake peer: later ones are turned away.
            lp_socket->abort();
            lp_socket->deleteLater();
            continue;
        }
        lp_socket->setParent(this);
        Adopt(lp_socket);
    }
}

void FakePeer::Adopt(QTcpSocket* socket)
{
    mp_socket = socket;
    m_isDisconnected = false;
    connect(socket, &QTcpSocket::readyRead, this, &FakePeer::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &FakePeer::OnDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError) { OnDisconnected(); });
    if (socket->bytesAvailable() > 0)
        OnReadyRead();
}

bool FakePeer::Send(QByteArray const& bytes)
{
    if (!mp_socket || mp_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    if (mp_socket->write(bytes) != bytes.size())
        return false;
    mp_socket->flush();
    return true;
}

bool FakePeer::SendByteByByte(QByteArray const& bytes, int pauseMs)
{
    for (char const l_byte : bytes) {
        if (!Send(QByteArray(1, l_byte)))
            return false;
        QTest::qWait(pauseMs);
    }
    return true;
}

void FakePeer::Close()
{
    if (mp_socket)
        mp_socket->close();
}

void FakePeer::OnReadyRead()
{
    if (!mp_socket)
        return;
    m_received += mp_socket->readAll();
    CutFrames();
}

void FakePeer::CutFrames()
{
    for (;;) {
        qsizetype const l_available = m_received.size() - m_cutOffset;
        char const* lp_start = m_received.constData() + m_cutOffset;
        if (!m_isObfuscated) {
            if (l_available < 4)
                return;
            std::uint32_t const l_length = qFromLittleEndian<std::uint32_t>(lp_start);
            if (qsizetype(l_length) > l_available - 4)
                return;
            m_frames.append(QByteArray(lp_start + 4, l_length));
            m_cutOffset += 4 + qsizetype(l_length);
        } else {
            if (l_available < 8)
                return;
            std::uint32_t const l_key = qFromLittleEndian<std::uint32_t>(lp_start);
            QByteArray const l_header = Mask(QByteArray(lp_start + 4, 4), l_key);
            std::uint32_t const l_length = qFromLittleEndian<std::uint32_t>(l_header.constData());
            if (qsizetype(l_length) > l_available - 8)
                return;
            QByteArray const l_plain = Mask(QByteArray(lp_start + 4, 4 + qsizetype(l_length)), l_key);
            m_frames.append(l_plain.mid(4));
            m_keys.append(l_key);
            m_cutOffset += 8 + qsizetype(l_length);
        }
    }
}

void FakePeer::OnDisconnected()
{
    m_isDisconnected = true;
}

bool FakePeer::IsDisconnected() const
{
    return m_isDisconnected || !mp_socket || mp_socket->state() == QAbstractSocket::UnconnectedState;
}

bool FakePeer::WaitForBytes(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([this, count] { return m_received.size() >= count; }, timeoutMs);
}

bool FakePeer::WaitForFrames(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([this, count] { return m_frames.size() >= count; }, timeoutMs);
}

bool FakePeer::WaitForDisconnected(int timeoutMs)
{
    return QTest::qWaitFor([this] { return IsDisconnected(); }, timeoutMs);
}
