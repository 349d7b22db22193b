#include "net/peer/PeerMessenger.h"

#include "net/peer/PeerLog.h"
#include "net/server/Server.h"
#include "store/Settings.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace
{
QString Label(bool i_obfuscated)
{
    return i_obfuscated ? QStringLiteral("obfuscated ") : QString();
}

bool IsKnownType(QString const& i_type)
{
    return i_type == QLatin1String("P") || i_type == QLatin1String("F") ||
           i_type == QLatin1String("D");
}

ItemPtr UserItem(QString const& i_user)
{
    return d["user"]->GetItem(Value(i_user));
}

// The socket whose signal is being delivered, when it still is a live connection:
// a socket that was closed or aborted meanwhile is left to whoever did that.
QTcpSocket* OpenSender(QObject* ip_sender)
{
    auto* lp_socket = qobject_cast<QTcpSocket*>(ip_sender);
    if (!lp_socket || lp_socket->state() != QAbstractSocket::ConnectedState)
        return nullptr;
    return lp_socket;
}
} // namespace

QString PeerTimeStamp(QDateTime const& i_time)
{
    return i_time.toString(Qt::TextDate);
}

QDateTime PeerTimeFromStamp(QString const& i_stamp)
{
    return QDateTime::fromString(i_stamp, Qt::TextDate);
}

// --- Listening side ------------------------------------------------------------------

void PeerMessenger::OnNewConnection()
{
    AcceptConnection(m_listeningSocket, false);
}

void PeerMessenger::OnNewObfuscatedConnection()
{
    AcceptConnection(m_obfuscatedListeningSocket, true);
}

void PeerMessenger::AcceptConnection(QTcpServer& i_listener, bool i_obfuscated)
{
    // Qt signals once per connection, but taking all that wait costs nothing and
    // leaves none behind when signals were merged.
    while (QTcpSocket* lp_socket = i_listener.nextPendingConnection())
    {
        lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        connect(lp_socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        connect(lp_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
        connect(lp_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
        ItemPtr const l_item = d["uninitialized_socket"]->NewItem(Value(lp_socket));
        if (i_obfuscated)
            l_item.NewItem("is_obfuscated");
        m_acceptTimes[lp_socket] = QDateTime::currentDateTime();
    }
}

void PeerMessenger::OnSocketClosed()
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        DisposeOfSocket(lp_socket);
}

void PeerMessenger::OnSocketError(QAbstractSocket::SocketError)
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        DisposeOfSocket(lp_socket);
}

// --- Outgoing requests -----------------------------------------------------------------

void PeerMessenger::RequestFileConnectionToUser(QString i_user)
{
    ConnectToUser(i_user, "F");
}

void PeerMessenger::RequestDNetConnection(QString i_user)
{
    ConnectToUser(i_user, "D");
}

int PeerMessenger::GetUserPort(ItemPtr i_user, bool& o_obfuscated)
{
    int const l_obfuscatedPort = i_user["user_obfuscated_port"].AsInt();
    if (l_obfuscatedPort != 0)
    {
        o_obfuscated = true;
        return l_obfuscatedPort;
    }
    o_obfuscated = false;
    return i_user["user_port"].AsInt();
}

void PeerMessenger::ConnectToUser(QString i_user, char const* ip_type)
{
    QString const l_type = QString::fromLatin1(ip_type);
    ItemPtr const l_user = UserItem(i_user);
    PeerLog(1, QString("Attempting peer connection of type %1 to user %2").arg(l_type, i_user),
            l_user);

    ItemPtr const l_typeItem = d["peer_connection_type"]->GetItem(Value(l_type));
    if (d.GetItemSubset(ItemSet{l_user, l_typeItem}, "connect_to_peer_request").size() > 0)
    {
        PeerLog(2, "Connection attempt to same user of same type already in progress, not "
                   "re-attempting.",
                l_user);
        return;
    }

    ItemPtr const l_request = d["connect_to_peer_request"]->NewItem();
    l_request += l_user;
    l_request += l_typeItem;

    PeerLog(2, "Also sending indirect connection request.", l_user);
    unsigned int const l_token = gp_server->SendIndirectConnectionRequest(i_user, l_type);
    ItemPtr const l_indirect = d["indirect_connect_to_peer_request"]->GetItem(Value(l_token));
    l_request += l_indirect;
    l_indirect += d["send_time"]->GetItem(Value(PeerTimeStamp()));
    l_indirect += l_user;
    l_indirect += l_typeItem;

    if (l_user.IsConnected("user_address"))
        StartDirectAttempt(l_request);
    else
    {
        PeerLog(2, "User address not found, requesting address", l_user);
        gp_server->GetUserAddress(i_user);
        l_request += d["connect_to_peer_request_status"]->GetItem(Value("getting_address"));
    }
}

void PeerMessenger::StartDirectAttempt(ItemPtr i_request)
{
    ItemPtr const l_user = i_request["user"];
    ItemPtr const l_typeItem = i_request["peer_connection_type"];
    bool l_obfuscated = false;
    int const l_port = GetUserPort(l_user, l_obfuscated);

    auto* lp_socket = new QTcpSocket();
    connect(lp_socket, &QAbstractSocket::connected, this,
            &PeerMessenger::OnConnectToPeerSocketConnected);
    connect(lp_socket, &QAbstractSocket::errorOccurred, this,
            &PeerMessenger::OnConnectToPeerSocketError);

    ItemPtr const l_socketItem = d["connect_to_peer_request_socket"]->GetItem(Value(lp_socket));
    l_socketItem += d["socket_creation_time"]->GetItem(Value(PeerTimeStamp()));
    l_socketItem += l_user;
    l_socketItem += l_typeItem;
    if (l_obfuscated)
        l_socketItem.NewItem("is_obfuscated");

    i_request += d["connect_to_peer_request_status"]->GetItem(Value("connecting"));
    i_request += l_socketItem;

    // Last: should the attempt fail at once, its error finds the records complete.
    lp_socket->connectToHost(QHostAddress(l_user["user_address"].AsUInt()),
                             static_cast<quint16>(l_port), QIODevice::ReadWrite);
}

void PeerMessenger::OnUserAddress(ItemPtr i_user)
{
    if (!i_user.IsConnected("connect_to_peer_request"))
        return;
    ItemSet l_waiting;
    if (ItemPtr const l_status =
            d["connect_to_peer_request_status"]->HasItem(Value("getting_address")))
        l_waiting = d.GetItemSubset(ItemSet{i_user, l_status}, "connect_to_peer_request");

    PeerLog(1, QString("User %1 address arrived").arg(i_user.AsString()), i_user);
    for (ItemPtr const& l_request : l_waiting)
    {
        StartDirectAttempt(l_request);
        PeerLog(2,
                QString("Attempting direct connection of type %1")
                    .arg(l_request["peer_connection_type"].AsString()),
                i_user);
    }
}

void PeerMessenger::OnConnectToPeerSocketConnected()
{
    QTcpSocket* lp_socket = OpenSender(sender());
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);

    ItemPtr const l_socketItem = d["connect_to_peer_request_socket"]->HasItem(Value(lp_socket));
    if (!l_socketItem)
    {
        // Retired by the sweep while it was still connecting.
        lp_socket->disconnect(this);
        EndConnection(lp_socket);
        lp_socket->deleteLater();
        return;
    }

    bool const l_obfuscated = l_socketItem.IsConnected("is_obfuscated");
    ItemPtr const l_user = l_socketItem["user"];
    QString const l_userName = l_user.AsString();
    QString const l_type = l_socketItem["peer_connection_type"].AsString();
    PeerLog(1,
            QString("Direct %1connection of type %2 to user %3 successful")
                .arg(Label(l_obfuscated), l_type, l_userName),
            l_user);

    MemStream l_init;
    l_init.Write(static_cast<unsigned char>(1));
    l_init.Write(GetSetting("username"));
    l_init.Write(l_type);
    l_init.Write(0u);
    SendMessage(lp_socket, l_init, l_obfuscated);

    disconnect(lp_socket, &QAbstractSocket::errorOccurred, nullptr, nullptr);

    ItemPtr const l_request = l_socketItem["connect_to_peer_request"];
    l_socketItem.Remove();
    if (l_request)
        DisposeOfPeerConnectionRequest(l_request);

    if (l_type == QLatin1String("P"))
    {
        connect(lp_socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        connect(lp_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
        connect(lp_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
        OpenPeerSocket(lp_socket, l_user, l_obfuscated);
        return;
    }

    // Handed on: the receiver owns the socket from here and nothing of this object
    // may still react to it.
    lp_socket->disconnect(this);
    if (l_type == QLatin1String("F"))
        emit FileConnectionAccepted(l_userName, lp_socket);
    else if (l_type == QLatin1String("D"))
        emit DNetConnectionAccepted(l_userName, lp_socket);
    else
    {
        // Nobody asks for other types; nobody would take the socket either.
        EndConnection(lp_socket);
        lp_socket->deleteLater();
    }
}

void PeerMessenger::OnConnectToPeerSocketError(QAbstractSocket::SocketError)
{
    auto* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    ItemPtr const l_socketItem = d["connect_to_peer_request_socket"]->HasItem(Value(lp_socket));

    lp_socket->disconnect();
    EndConnection(lp_socket);
    lp_socket->deleteLater();

    if (!l_socketItem)
        return;
    EndConnectionAttempt(l_socketItem,
                         QStringLiteral("Direct connection of type %1 to user %2 failed"));
}

void PeerMessenger::EndConnectionAttempt(ItemPtr i_attempt, QString const& i_logFormat)
{
    ItemPtr const l_user = i_attempt["user"];
    PeerLog(1, i_logFormat.arg(i_attempt["peer_connection_type"].AsString(), l_user.AsString()),
            l_user);
    ItemPtr const l_request = i_attempt["connect_to_peer_request"];
    i_attempt.Remove();
    if (l_request)
        InspectPeerConnectionRequest(l_request);
}

void PeerMessenger::InspectPeerConnectionRequest(ItemPtr i_request)
{
    ItemPtr const l_user = i_request["user"];
    QString const l_userName = l_user.AsString();
    QString const l_type = i_request["peer_connection_type"].AsString();
    PeerLog(1,
            QString("Inspecting peer connection request of type %1 to user %2 for possible removal.")
                .arg(l_type, l_userName),
            l_user);
    if (i_request.IsConnected("connect_to_peer_request_socket"))
    {
        PeerLog(2, "Socket found. Not removing request.", l_user);
        return;
    }
    if (i_request.IsConnected("indirect_connect_to_peer_request"))
    {
        PeerLog(2, "Indirect request found. Not removing request.", l_user);
        return;
    }
    PeerLog(2, "Neither socket nor indirect request found. Removing.", l_user);
    // Removed before the signal: a receiver that tries again at once starts a new
    // request instead of being taken for a repeat of this one.
    i_request.Remove();
    emit ConnectionToUserFailed(l_userName, l_type);
}

void PeerMessenger::DisposeOfPeerConnectionRequest(ItemPtr i_request)
{
    ItemPtr const l_user = i_request["user"];
    PeerLog(1,
            QString("Disposing of peer connection request of type %1 to user %2")
                .arg(i_request["peer_connection_type"].AsString(), l_user.AsString()),
            l_user);
    i_request.Remove();
}

void PeerMessenger::OnIndirectPeerConnectionFailure(unsigned int i_req)
{
    ItemPtr const l_indirect = d["indirect_connect_to_peer_request"]->HasItem(Value(i_req));
    if (!l_indirect)
        return;
    EndConnectionAttempt(l_indirect,
                         QStringLiteral("Indirect connection of type %1 to user %2 failed"));
}

// --- Requests relayed by the server ---------------------------------------------------

void PeerMessenger::OnPeerConnectionRequest(ItemPtr i_request)
{
    if (i_request.IsConnected("peer_connection_request_socket"))
        return;
    ItemPtr const l_user = i_request["user"];
    bool l_obfuscated = false;
    int const l_port = GetUserPort(l_user, l_obfuscated);
    if (l_obfuscated)
        i_request.NewItem("is_obfuscated");

    auto* lp_socket = new QTcpSocket();
    connect(lp_socket, &QAbstractSocket::connected, this,
            &PeerMessenger::OnIndirectResponseSocketConnected);
    connect(lp_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(lp_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);

    ItemPtr const l_socketItem = d["peer_connection_request_socket"]->NewItem(Value(lp_socket));
    i_request += l_socketItem;
    l_socketItem += d["socket_creation_time"]->GetItem(Value(PeerTimeStamp()));
    PeerLog(1,
            QString("Indirect %1peer connection requested from user %2")
                .arg(Label(l_obfuscated), l_user.AsString()),
            l_user);

    lp_socket->connectToHost(QHostAddress(l_user["user_address"].AsUInt()),
                             static_cast<quint16>(l_port), QIODevice::ReadWrite);
}

void PeerMessenger::OnIndirectResponseSocketConnected()
{
    QTcpSocket* lp_socket = OpenSender(sender());
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);

    ItemPtr const l_socketItem = d["peer_connection_request_socket"]->HasItem(Value(lp_socket));
    ItemPtr const l_request = l_socketItem["peer_connection_request"];
    if (!l_request)
    {
        // Its records went meanwhile; nothing says what the peer expects.
        DisposeOfSocket(lp_socket);
        return;
    }

    bool const l_obfuscated = l_request.IsConnected("is_obfuscated");
    ItemPtr const l_user = l_request["user"];
    QString const l_userName = l_user.AsString();
    QString const l_type = l_request["peer_connection_type"].AsString();

    MemStream l_piercing;
    l_piercing.Write(static_cast<unsigned char>(0));
    l_piercing.Write(l_request["peer_connection_request_id"].AsUInt());
    SendMessage(lp_socket, l_piercing, l_obfuscated);

    l_socketItem.Remove();
    PeerLog(1,
            QString("Response %1connection to indirect request from %2, type %3 opened")
                .arg(Label(l_obfuscated), l_userName, l_type),
            l_user);
    l_request.Remove();

    if (l_type == QLatin1String("P"))
    {
        connect(lp_socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        OpenPeerSocket(lp_socket, l_user, l_obfuscated);
    }
    else if (l_type == QLatin1String("F"))
    {
        connect(lp_socket, &QTcpSocket::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        AwaitFileToken(lp_socket, l_userName);
        // The token may have come with the connection already.
        if (lp_socket->bytesAvailable() > 0)
            ReadFrames(lp_socket);
    }
    else if (l_type == QLatin1String("D"))
    {
        // The distributed network owns it now; a close must not make this object
        // delete a socket that is no longer its own.
        lp_socket->disconnect(this);
        emit DNetConnectionRequested(l_userName, lp_socket);
    }
    else
    {
        // Nobody here would ever read it.
        DisposeOfSocket(lp_socket);
    }
}

void PeerMessenger::OpenPeerSocket(QTcpSocket* ip_socket, ItemPtr i_user, bool i_obfuscated)
{
    ItemPtr const l_item = d["peer_socket"]->NewItem(Value(ip_socket));
    l_item += i_user;
    l_item += d["connection_open_time"]->GetItem(Value(PeerTimeStamp()));
    if (i_obfuscated)
        l_item.NewItem("is_obfuscated");
    SendUnsentMessages(i_user.AsString());
}

// --- First frames -------------------------------------------------------------------

bool PeerMessenger::HandleMessage(QTcpSocket* ip_socket, MemStream i_message)
{
    auto const l_found = m_socketBufferInfos.find(ip_socket);
    SocketBufferInfo* const lp_info =
        l_found == m_socketBufferInfos.end() ? nullptr : &l_found->second;
    // A socket known as an open "P" connection is not an accepted one that still owes
    // its first frame: a socket has one record at a time.
    if (!lp_info || !lp_info->m_isPeerSocketKnown)
    {
        if (ItemPtr const l_uninitialized = mp_uninitializedSocketType->HasItem(Value(ip_socket)))
            return HandleFirstFrame(ip_socket, l_uninitialized, i_message);
    }
    return HandlePeerMessage(ip_socket, i_message, lp_info);
}

bool PeerMessenger::HandleFirstFrame(QTcpSocket* ip_socket, ItemPtr i_uninitialized,
                                     MemStream& i_message)
{
    bool const l_obfuscated = i_uninitialized.IsConnected("is_obfuscated");
    i_uninitialized.Remove();
    m_acceptTimes.erase(ip_socket);
    QString const l_label = Label(l_obfuscated);

    auto const l_refuse = [&]() {
        PeerLog(1, QString("Failure initializing %1peer connection, disposing of socket").arg(l_label));
        return false;
    };

    unsigned char l_direction = 0;
    if (!i_message.Read(l_direction))
    {
        PeerLog(1, QString("Failed to read direction from new %1peer connection").arg(l_label));
        return l_refuse();
    }

    if (l_direction == 0)
    {
        unsigned int l_token = 0;
        if (!i_message.Read(l_token))
        {
            PeerLog(1, QString("Failed to read req from %1indirect peer connection").arg(l_label));
            return l_refuse();
        }
        ItemPtr const l_indirect = d["indirect_connect_to_peer_request"]->HasItem(Value(l_token));
        if (!l_indirect)
        {
            PeerLog(1, QString("Req sent on %1indirect peer connection not found").arg(l_label));
            return l_refuse();
        }
        ItemPtr const l_user = l_indirect["user"];
        QString const l_userName = l_user.AsString();
        QString const l_type = l_indirect["peer_connection_type"].AsString();
        ItemPtr const l_request = l_indirect["connect_to_peer_request"];
        l_indirect.Remove();
        if (l_request)
            DisposeOfPeerConnectionRequest(l_request);
        PeerLog(1,
                QString("Found req, accepted %1indirect connection to user %2, connection type %3")
                    .arg(l_label, l_userName, l_type),
                l_user);

        if (l_type == QLatin1String("P"))
        {
            OpenPeerSocket(ip_socket, l_user, l_obfuscated);
            return true;
        }
        if (l_type == QLatin1String("F") || l_type == QLatin1String("D"))
        {
            GetSocketBufferInfo(ip_socket).m_isHandedOver = true;
            ip_socket->disconnect();
            if (l_type == QLatin1String("F"))
                emit FileConnectionAccepted(l_userName, ip_socket);
            else
                emit DNetConnectionAccepted(l_userName, ip_socket);
            return true;
        }
        return l_refuse();
    }

    // Any other first byte is an init frame. The name is taken as given.
    QString l_userName;
    QString l_type;
    unsigned int l_unused = 0;
    if (!i_message.Read(l_userName) || !i_message.Read(l_type) || !i_message.Read(l_unused))
        return l_refuse();
    ItemPtr const l_user = UserItem(l_userName);

    if (l_type == QLatin1String("P"))
    {
        PeerLog(1,
                QString("Accepted %1messaging connection to user %2").arg(l_label, l_userName),
                l_user);
        OpenPeerSocket(ip_socket, l_user, l_obfuscated);
    }
    else if (l_type == QLatin1String("F"))
    {
        PeerLog(1, QString("Accepted %1file connection to user %2").arg(l_label, l_userName),
                l_user);
        AwaitFileToken(ip_socket, l_userName);
    }
    else if (l_type == QLatin1String("D"))
    {
        PeerLog(1, QString("Accepted %1DNet connection to user %2").arg(l_label, l_userName),
                l_user);
        GetSocketBufferInfo(ip_socket).m_isHandedOver = true;
        ip_socket->disconnect();
        emit DNetConnectionRequested(l_userName, ip_socket);
    }
    PeerLog(1,
            QString("Peer %1connection of type %2 opened from user %3")
                .arg(l_label, l_type, l_userName),
            l_user);
    if (!IsKnownType(l_type))
        return l_refuse();
    return true;
}

void PeerMessenger::AwaitFileToken(QTcpSocket* ip_socket, QString const& i_user)
{
    SocketBufferInfo& l_info = GetSocketBufferInfo(ip_socket);
    l_info.m_isAwaitingFileToken = true;
    l_info.m_user = i_user;
    // A peer that never sends the token would otherwise hold the socket for good.
    l_info.m_tokenWaitStart = QDateTime::currentDateTime();
}

// --- Disposal -----------------------------------------------------------------------

void PeerMessenger::EndConnection(QTcpSocket* ip_socket)
{
    // flush() hands the kernel what it takes now; close() then waits for the rest only
    // while the event loop runs, and a peer that stopped reading leaves the socket in
    // ClosingState for good, its record kept and its writes failing. A connecting socket
    // stays connecting after close() as well.
    if (ip_socket->state() == QAbstractSocket::ConnectedState)
        ip_socket->flush();
    ip_socket->close();
    if (ip_socket->state() != QAbstractSocket::UnconnectedState)
        ip_socket->abort();
}

void PeerMessenger::DisposeOfSocket(QTcpSocket* ip_socket)
{
    // While the messenger is being destroyed its members, not the store, own what is
    // left; late close signals of accepted sockets end here.
    if (g_peerMessengerDeleted)
        return;

    ip_socket->disconnect(this);
    EndConnection(ip_socket);
    ip_socket->deleteLater();
    Log(LogArea::PeerMessenger, 1, "Disposing of socket");

    Value const l_key(ip_socket);
    if (ItemPtr const l_requestSocket = d["peer_connection_request_socket"]->HasItem(l_key))
    {
        Log(LogArea::PeerMessenger, 2, "Identified as peer connection request socket");
        if (ItemPtr const l_request = l_requestSocket["peer_connection_request"])
        {
            Log(LogArea::PeerMessenger, 2, "Request found, removing");
            if (gp_server)
                gp_server->SendCantConnectToPeer(l_request["peer_connection_request_id"].AsUInt(),
                                                 l_request["user"].AsString());
            l_request.Remove();
            l_requestSocket.Remove();
        }
        else
            Log(LogArea::PeerMessenger, 2, "Request not found");
    }
    else if (ItemPtr const l_uninitialized = d["uninitialized_socket"]->HasItem(l_key))
    {
        Log(LogArea::PeerMessenger, 2, "Identified as uninitialized socket");
        l_uninitialized.Remove();
    }
    else if (ItemPtr const l_peerSocket = d["peer_socket"]->HasItem(l_key))
    {
        Log(LogArea::PeerMessenger, 2, "Identified as peer socket");
        l_peerSocket.Remove();
    }
    else
        Log(LogArea::PeerMessenger, 2, "Socket not identified");

    m_socketBufferInfos.erase(ip_socket);
    m_acceptTimes.erase(ip_socket);

    for (char const* lp_type : {"peer_connection_request_socket", "uninitialized_socket",
                                "peer_socket", "connect_to_peer_request_socket"})
    {
        if (ItemPtr const l_item = d[lp_type]->HasItem(l_key))
            l_item.Remove();
    }
}
