#include "net/server/Server.h"

#include "net/server/PortForwarder.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "store/TimerManager.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>

Server* gp_server = nullptr;

char const* const Server::c_defaultHost = "central.kestrune.net";

namespace
{
// Read size when the receive buffer has no room left: the buffer then grows by
// doubling as the bytes are appended, never to the length a frame merely announces.
constexpr qint64 c_receiveChunk = 64 * 1024;

char const* const c_defaultUsername = "KestruneQT";
char const* const c_defaultPassword = "HarborLanternGlide";
} // namespace

Server::Server()
    : m_state(StateDisconnected),
      m_haveMessageLength(false),
      m_messageLength(0),
      m_nextSearchToken(1),
      m_nextConnectionToken(1),
      m_isFirstConnection(true),
      m_disconnectRequested(false),
      m_isAbruptlyDisconnected(false),
      m_receiveSession(0),
      m_inSocketSignal(0)
{
    gp_server = this;

    connect(&m_socket, &QTcpSocket::connected, this, &Server::OnConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &Server::OnSocketReadyToRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &Server::OnSocketError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &Server::OnSocketClosed);

    if (timerManager) {
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &Server::AttemptReconnect);
        connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this, &Server::EveryFiveMinutes);
        connect(timerManager->everyHour(), &QTimer::timeout, this, &Server::RenewPortMapping);
    }

    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);

    // Lives to the end of the process, like its thread.
    new PortForwarder();
}

Server::~Server()
{
    // The socket's last signals must not reach a half-destroyed object.
    m_socket.disconnect(this);
    if (gp_server == this)
        gp_server = nullptr;
}

QString Server::ServerHost()
{
    if (HasSetting("server_host"))
        return GetSetting("server_host");
    return QString::fromLatin1(c_defaultHost);
}

quint16 Server::ServerPort()
{
    if (HasSetting("server_port")) {
        bool l_ok = false;
        uint const l_port = GetSetting("server_port").trimmed().toUInt(&l_ok);
        if (l_ok && l_port > 0 && l_port <= 65535)
            return static_cast<quint16>(l_port);
    }
    return c_defaultPort;
}

void Server::Connect()
{
    if (m_state != StateDisconnected)
        return;
    if (!HasSetting("username"))
        return;

    // A socket still closing from the last session (Disconnect() just before) would
    // keep connectToHost from starting; its close event belongs to that session.
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_disconnectRequested = false;
    ResetReceiveState();

    m_state = StateConnecting;
    emit Connecting();

    // Reached from a receiver of Disconnected() while the socket reports the drop, a
    // connection started at once would be torn down by the socket's own clean-up after
    // the report and never be heard of again: the state would stay "connecting".
    if (m_inSocketSignal > 0) {
        quint64 const l_session = m_receiveSession;
        QMetaObject::invokeMethod(
            this, [this, l_session] { StartConnecting(l_session); }, Qt::QueuedConnection);
    } else {
        StartConnecting(m_receiveSession);
    }
    Log(LogArea::Server, 1, QStringLiteral("Attempting connection on port %1").arg(ServerPort()));

    if (IsSettingYes("use_upnp") && portForwarder)
        portForwarder->Init();
}

void Server::StartConnecting(quint64 i_session)
{
    if (m_state != StateConnecting || m_receiveSession != i_session)
        return;
    m_socket.connectToHost(ServerHost(), ServerPort(), QIODevice::ReadWrite);
}

void Server::Disconnect()
{
    if (m_state != StateConnected)
        return;
    // The socket is closed before Disconnected() goes out, so that a receiver that
    // connects again at once is not cut off by this close.
    m_disconnectRequested = true;
    m_isAbruptlyDisconnected = false;
    m_socket.close();
    EndLoggedInConnection();
}

namespace
{
// Counts the nesting of the socket's signal handlers for the lifetime of one handler.
class SocketSignalScope
{
public:
    explicit SocketSignalScope(int& io_depth) : m_depth(io_depth) { ++m_depth; }
    ~SocketSignalScope() { --m_depth; }
    SocketSignalScope(SocketSignalScope const&) = delete;
    SocketSignalScope& operator=(SocketSignalScope const&) = delete;

private:
    int& m_depth;
};
} // namespace

void Server::OnConnected()
{
    if (m_state != StateConnecting)
        return;
    SocketSignalScope const l_scope(m_inSocketSignal);

    Type* lp_global = d["global"];
    if (!lp_global->HasItem("username") || !lp_global->HasItem("password")) {
        SetSetting("username", QString::fromLatin1(c_defaultUsername));
        SetSetting("password", QString::fromLatin1(c_defaultPassword));
    }
    QString const l_username = GetSetting("username");
    QString const l_password = GetSetting("password");
    QByteArray const l_digest =
        QCryptographicHash::hash(l_username.toUtf8() + l_password.toUtf8(), QCryptographicHash::Md5)
            .toHex();

    MemStream l_message;
    l_message.Write(1u);
    l_message.Write(l_username);
    l_message.Write(l_password);
    l_message.Write(157u);
    l_message.Write(std::string(l_digest.constData(), static_cast<std::size_t>(l_digest.size())));
    l_message.Write(100u);
    SendMessage(l_message, true);

    m_isAbruptlyDisconnected = false;
}

void Server::SendMessage(MemStream& i_message, bool i_allowWhileConnecting)
{
    if (i_allowWhileConnecting ? m_state == StateDisconnected : m_state != StateConnected)
        return;

    std::uint64_t const l_length = i_message.GetBufferLength();
    QByteArray l_frame(static_cast<qsizetype>(4 + l_length), Qt::Uninitialized);
    qToLittleEndian<quint32>(static_cast<quint32>(l_length), l_frame.data());
    if (l_length)
        std::memcpy(l_frame.data() + 4, i_message.GetBuffer(), l_length);
    m_socket.write(l_frame);
}

void Server::OnSocketReadyToRead()
{
    SocketSignalScope const l_scope(m_inSocketSignal);
    ReceiveFrom(m_socket);
}

void Server::ReceiveFrom(QIODevice& io_device)
{
    quint64 const l_session = m_receiveSession;
    while (io_device.bytesAvailable() > 0) {
        if (!m_haveMessageLength) {
            if (io_device.bytesAvailable() < 4)
                return;  // the prefix is read when its last byte is in
            char l_prefix[4];
            if (io_device.read(l_prefix, 4) != 4)
                return;
            quint32 const l_length = qFromLittleEndian<quint32>(l_prefix);
            m_messageLength = static_cast<qint32>(l_length);
            if (m_messageLength < 0 || m_messageLength > c_maxMessageLength) {
                Log(LogArea::Server, 1,
                    QStringLiteral("Invalid message length %1 from server, closing connection.")
                        .arg(l_length));
                // The abort reports the loss itself (disconnected()) when the socket
                // was open; only otherwise is it reported here. Reporting first and
                // aborting after would kill an attempt that a receiver of
                // Disconnected() had just started, leaving it "connecting" for ever.
                quint64 const l_before = m_receiveSession;
                m_socket.abort();
                if (l_before == m_receiveSession)
                    HandleConnectionLoss();
                return;
            }
            m_haveMessageLength = true;
        }

        std::uint64_t const l_have = m_receiveBuffer.GetWriteIndex();
        qint64 const l_missing = m_messageLength - static_cast<qint64>(l_have);
        if (l_missing > 0) {
            qint64 const l_available = io_device.bytesAvailable();
            qint64 const l_room =
                static_cast<qint64>(m_receiveBuffer.GetBufferCapacity() - l_have);
            qint64 l_read = 0;
            if (l_room > 0) {
                // Straight into the buffer while it has room.
                qint64 const l_wanted = std::min({l_missing, l_available, l_room});
                l_read = io_device.read(m_receiveBuffer.GetWriteBuffer(), l_wanted);
                if (l_read <= 0)
                    return;
                m_receiveBuffer.AdvanceWriteIndex(static_cast<int>(l_read));
            } else {
                char l_chunk[c_receiveChunk];
                qint64 const l_wanted = std::min({l_missing, l_available, c_receiveChunk});
                l_read = io_device.read(l_chunk, l_wanted);
                if (l_read <= 0)
                    return;
                m_receiveBuffer.WriteBuffer(l_chunk, static_cast<unsigned long>(l_read));
            }
            if (l_read < l_missing)
                continue;
        }

        // The frame is complete. A length below 4 leaves no room for a code: its
        // bytes are consumed and nothing is dispatched.
        if (m_messageLength >= 4) {
            quint32 l_code = 0;
            m_receiveBuffer.Read(l_code);
            HandleMessage(static_cast<int>(l_code), m_receiveBuffer);
            // The message (or a slot it reached) may have closed the connection or
            // started another one; what is left on the device is no longer ours.
            if (l_session != m_receiveSession)
                return;
        }
        m_haveMessageLength = false;
        m_receiveBuffer.Reset();
        if (&io_device == &m_socket && m_socket.state() != QAbstractSocket::ConnectedState)
            return;
    }
}

void Server::OnSocketError(QAbstractSocket::SocketError)
{
    SocketSignalScope const l_scope(m_inSocketSignal);
    HandleConnectionLoss();
}

void Server::OnSocketClosed()
{
    SocketSignalScope const l_scope(m_inSocketSignal);
    HandleConnectionLoss();
}

void Server::HandleConnectionLoss()
{
    if (m_disconnectRequested) {
        m_disconnectRequested = false;
        return;
    }
    switch (m_state) {
    case StateDisconnected:
        break;
    case StateConnecting:
        ResetReceiveState();
        emit ConnectionFailed(QStringLiteral("socket error"));
        m_state = StateDisconnected;
        break;
    case StateConnected:
        m_isAbruptlyDisconnected = true;
        EndLoggedInConnection();
        break;
    }
}

void Server::EndLoggedInConnection()
{
    ResetReceiveState();
    m_state = StateDisconnected;
    emit Disconnected();

    Type* lp_online = d["is_online"];
    for (ItemPtr l_flag : lp_online->GetItems())
        l_flag.Disconnect("user");
}

void Server::ResetReceiveState()
{
    m_haveMessageLength = false;
    m_messageLength = 0;
    m_receiveBuffer.Reset();
    ++m_receiveSession;
}

void Server::AttemptReconnect()
{
    if (m_isAbruptlyDisconnected)
        Connect();
}

void Server::EveryFiveMinutes()
{
    Send(32);
}

void Server::RequestPortMappings()
{
    if (!portForwarder)
        return;
    portForwarder->AddPortMapping(&m_socket, GetSettingInt("listening_port"));
    int const l_obfuscatedPort = GetSettingInt("obfuscated_listening_port");
    if (l_obfuscatedPort != 0)
        portForwarder->AddPortMapping(&m_socket, l_obfuscatedPort);
}

void Server::RenewPortMapping()
{
    if (m_state != StateConnected || !IsSettingYes("use_upnp"))
        return;
    Log(LogArea::Server, 1, QStringLiteral("Renewing UPnP port mapping."));
    // A gateway that stopped answering is looked for again first; queued calls run in
    // order, so the mappings below go to whatever it finds.
    if (portForwarder)
        portForwarder->Rediscover();
    RequestPortMappings();
}

void Server::OnConnectedToServer()
{
    if (m_isFirstConnection) {
        m_isFirstConnection = false;
        for (ItemPtr l_room : d["room"]->KeyedItems())
            if (l_room.IsConnected("room_autojoin"))
                EnterRoom(l_room.AsString(), false);
        if (IsSettingYes("use_upnp"))
            RequestPortMappings();
    }

    if (GetSetting("availability_status") == QLatin1String("away")) {
        Send(28, 1u);
    }

    // In name order, so the server sees a stable sequence.
    Type* lp_users = d["user"];
    for (ItemPtr l_user : lp_users->KeyedItems()) {
        if (l_user.IsConnected("is_tracked"))
            AddUser(l_user.AsString());
    }
    for (ItemPtr l_user : lp_users->KeyedItems()) {
        if (l_user.IsConnected("user_address_request")) {
            Send(3, l_user.AsString());
        }
    }

    SetSetting("accept_room_list", QStringLiteral("yes"));
}

void Server::HandleLoginReply(MemStream& i_message)
{
    unsigned char l_accepted = 0;
    i_message.Read(l_accepted);
    if (l_accepted != 0) {
        QString l_greeting;
        quint32 l_address = 0;
        QString l_hash;
        i_message.Read(l_greeting);
        i_message.Read(l_address);
        i_message.Read(l_hash);
        m_state = StateConnected;
        emit Connected();
        // A receiver of Connected() may already have ended the session.
        if (m_state == StateConnected)
            OnConnectedToServer();
        return;
    }

    QString l_reason;
    i_message.Read(l_reason);
    emit ConnectionFailed(l_reason);
    ResetReceiveState();
    m_state = StateDisconnected;
    m_socket.close();
}
