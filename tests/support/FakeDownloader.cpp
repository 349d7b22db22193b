#include "support/FakeDownloader.h"

#include "support/FakePeer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QtEndian>

namespace
{
// Pause between the pieces of the offset, long enough for each to be read alone.
constexpr int c_piecePauseMs = 30;

quint32 U32At(QByteArray const& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}
} // namespace

struct FakeDownloader::Connection
{
    enum class Kind
    {
        Unknown,
        Messages,
        File
    };
    QPointer<QTcpSocket> socket;
    Kind kind = Kind::Unknown;
    QByteArray pending;
    QByteArray token;
    QByteArray file;
    // Bytes the file connection carries after the offset; -1 when no offer named it.
    qint64 expected = -1;
    bool closed = false;
};

FakeDownloader::FakeDownloader(QByteArray user, QObject* parent)
    : QObject(parent), m_user(std::move(user))
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeDownloader::OnNewConnection);
}

FakeDownloader::~FakeDownloader()
{
    for (auto const& l_connection : m_connections)
        if (l_connection->socket)
        {
            l_connection->socket->disconnect(this);
            l_connection->socket->abort();
        }
}

quint16 FakeDownloader::Listen()
{
    return m_server.listen(QHostAddress(QHostAddress::LocalHost), 0) ? m_server.serverPort() : 0;
}

void FakeDownloader::SetAnswer(Answer answer, QByteArray reason)
{
    m_answer = answer;
    m_reason = std::move(reason);
}

void FakeDownloader::SetOffset(qint64 offset, QList<int> pieces)
{
    m_offset = offset;
    m_pieces = std::move(pieces);
}

QByteArray FakeDownloader::ResponsePayload(quint32 token, bool accepted, QByteArray const& reason)
{
    QByteArray l_payload = FakePeer::U32(41) + FakePeer::U32(token) + FakePeer::U8(accepted ? 1 : 0);
    if (!accepted)
        l_payload += FakePeer::Text(reason);
    return l_payload;
}

void FakeDownloader::OnNewConnection()
{
    while (QTcpSocket* lp_socket = m_server.nextPendingConnection())
    {
        m_connections.push_back(std::make_unique<Connection>());
        Connection* const lp_connection = m_connections.back().get();
        lp_connection->socket = lp_socket;
        connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_connection] { OnReadyRead(*lp_connection); });
        connect(lp_socket, &QTcpSocket::disconnected, this, [lp_connection] { lp_connection->closed = true; });
        if (lp_socket->bytesAvailable() > 0)
            OnReadyRead(*lp_connection);
    }
}

void FakeDownloader::OnReadyRead(Connection& io_connection)
{
    io_connection.pending += io_connection.socket->readAll();
    if (io_connection.kind == Connection::Kind::Unknown && !ReadIntroduction(io_connection))
        return;
    if (io_connection.kind == Connection::Kind::Messages)
        ReadMessages(io_connection);
    else
        ReadFile(io_connection);
}

bool FakeDownloader::ReadIntroduction(Connection& io_connection)
{
    QByteArray const& l_bytes = io_connection.pending;
    if (l_bytes.size() < 4 || l_bytes.size() < 4 + qsizetype(U32At(l_bytes, 0)))
        return false;
    QByteArray const l_payload = l_bytes.mid(4, U32At(l_bytes, 0));
    io_connection.pending.remove(0, 4 + l_payload.size());
    // u8 1, u32 name length, name, u32 type length, type, u32 0.
    qsizetype const l_typeAt = 1 + 4 + U32At(l_payload, 1);
    QByteArray const l_type = l_payload.mid(l_typeAt + 4, U32At(l_payload, l_typeAt));
    if (l_type == "F")
    {
        io_connection.kind = Connection::Kind::File;
        m_files.push_back(&io_connection);
    }
    else
    {
        io_connection.kind = Connection::Kind::Messages;
        mp_messages = &io_connection;
    }
    return true;
}

void FakeDownloader::ReadMessages(Connection& io_connection)
{
    QByteArray& l_bytes = io_connection.pending;
    while (l_bytes.size() >= 4 && l_bytes.size() >= 4 + qsizetype(U32At(l_bytes, 0)))
    {
        QByteArray const l_payload = l_bytes.mid(4, U32At(l_bytes, 0));
        l_bytes.remove(0, 4 + l_payload.size());
        m_frames.append(l_payload);
        if (l_payload.size() < 12 || U32At(l_payload, 0) != 40)
            continue;
        // u32 40, u32 direction, u32 token, u32 path length, path, i64 size.
        Offer l_offer;
        l_offer.direction = U32At(l_payload, 4);
        l_offer.token = U32At(l_payload, 8);
        l_offer.path = l_payload.mid(16, U32At(l_payload, 12));
        qsizetype const l_sizeAt = 16 + l_offer.path.size();
        if (l_payload.size() >= l_sizeAt + 8)
            l_offer.size = qFromLittleEndian<qint64>(l_payload.constData() + l_sizeAt);
        m_offers.append(l_offer);
        if (m_answer != Answer::Silent)
            io_connection.socket->write(FakePeer::PlainFrame(
                ResponsePayload(l_offer.token, m_answer == Answer::Accept, m_reason)));
    }
}

void FakeDownloader::ReadFile(Connection& io_connection)
{
    if (io_connection.token.size() < 4)
    {
        qsizetype const l_missing = 4 - io_connection.token.size();
        io_connection.token += io_connection.pending.left(l_missing);
        io_connection.pending.remove(0, l_missing);
        if (io_connection.token.size() < 4)
            return;
        quint32 const l_token = U32At(io_connection.token, 0);
        for (Offer const& l_offer : m_offers)
            if (l_offer.token == l_token && l_offer.size >= 0)
                io_connection.expected = l_offer.size - m_offset;
        if (m_sendOffset)
            SendOffsetPieces(io_connection.socket, FakePeer::I64(m_offset), m_pieces);
    }
    io_connection.file += io_connection.pending;
    io_connection.pending.clear();
    if (m_closeWhenComplete && io_connection.expected >= 0 &&
        io_connection.file.size() >= io_connection.expected)
        io_connection.socket->close();
}

void FakeDownloader::SendOffsetPieces(QTcpSocket* socket, QByteArray rest, QList<int> pieces)
{
    if (!socket || rest.isEmpty())
        return;
    int const l_length = pieces.isEmpty() ? int(rest.size()) : pieces.takeFirst();
    socket->write(rest.left(l_length));
    socket->flush();
    rest.remove(0, l_length);
    if (!rest.isEmpty())
        QTimer::singleShot(c_piecePauseMs, socket, [this, socket, rest, pieces] {
            SendOffsetPieces(socket, rest, pieces);
        });
}

bool FakeDownloader::Send(QByteArray const& payload, int timeoutMs)
{
    if (!QTest::qWaitFor([this] { return mp_messages != nullptr; }, timeoutMs) || !mp_messages->socket)
        return false;
    QByteArray const l_frame = FakePeer::PlainFrame(payload);
    bool const l_written = mp_messages->socket->write(l_frame) == l_frame.size();
    mp_messages->socket->flush();
    return l_written;
}

QList<QByteArray> FakeDownloader::MessagesWithCode(quint32 code) const
{
    QList<QByteArray> l_found;
    for (QByteArray const& l_frame : m_frames)
        if (l_frame.size() >= 4 && U32At(l_frame, 0) == code)
            l_found.append(l_frame);
    return l_found;
}

bool FakeDownloader::WaitForMessages(quint32 code, qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return MessagesWithCode(code).size() >= count; }, timeoutMs);
}

bool FakeDownloader::WaitForFileConnections(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return FileConnectionCount() >= count; }, timeoutMs);
}

FakeDownloader::Connection* FakeDownloader::Newest(int index) const
{
    if (m_files.empty())
        return nullptr;
    return index < 0 ? m_files.back() : m_files.at(index);
}

QByteArray FakeDownloader::Token(int index) const
{
    Connection const* lp_connection = Newest(index);
    return lp_connection ? lp_connection->token : QByteArray();
}

QByteArray FakeDownloader::FileBytes(int index) const
{
    Connection const* lp_connection = Newest(index);
    return lp_connection ? lp_connection->file : QByteArray();
}

bool FakeDownloader::WaitForFileBytes(qint64 count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return FileBytes().size() >= count; }, timeoutMs);
}

bool FakeDownloader::WaitForFileClosed(int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            Connection const* lp_connection = Newest(-1);
            return lp_connection && (lp_connection->closed || !lp_connection->socket ||
                                     lp_connection->socket->state() == QAbstractSocket::UnconnectedState);
        },
        timeoutMs);
}

void FakeDownloader::AbortFileConnection()
{
    if (Connection* lp_connection = Newest(-1); lp_connection && lp_connection->socket)
        lp_connection->socket->abort();
}
