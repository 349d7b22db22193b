#include "net/peer/DNetManager.h"

#include "net/peer/DNetLog.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"

#include <QMetaObject>
#include <QPointer>
#include <QtEndian>

namespace
{
ItemPtr UserItem(QString const& i_user)
{
    return d["user"]->GetItem(Value(i_user));
}
} // namespace

// --- Taking sockets over -----------------------------------------------------------------

void DNetManager::OnDNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    ItemPtr const l_user = UserItem(i_user);
    DNetLog(1, QString("Parent connection to user %1 accepted").arg(i_user), l_user);
    if (HasParent())
    {
        DNetLog(2, QStringLiteral("Rejecting, already have parent"), l_user);
        ip_socket->deleteLater();
        return;
    }
    DNetLog(2, QStringLiteral("Adding as possible parent candidate"), l_user);
    d["dnet_parent_candidate"]->GetItem(Value(ip_socket)) += l_user;
    WireParentSocket(ip_socket);
    ReadPendingLater(ip_socket, false);
}

void DNetManager::OnDNetConnectionRequested(QString i_user, QTcpSocket* ip_socket)
{
    ItemPtr const l_user = UserItem(i_user);
    DNetLog(1, QString("Child connection accepted from %1").arg(i_user), l_user);
    if (ItemPtr const l_old = l_user["dnet_child"])
    {
        DNetLog(2, QStringLiteral("Child connection already found, closing old connection."),
                l_user);
        QTcpSocket* const lp_oldSocket = l_old.AsPtr<QTcpSocket>();
        l_old.Remove();
        DropSocket(lp_oldSocket);
    }
    d["dnet_child"]->GetItem(Value(ip_socket)) += l_user;
    WireChildSocket(ip_socket);

    // A new child learns at once where it stands.
    if (ItemPtr const l_level = StateValue("dnet_level"))
        ip_socket->write(FrameOf(LevelMessage(l_level.AsInt())));
    if (ItemPtr const l_leader = StateValue("dnet_group_leader"))
        ip_socket->write(FrameOf(GroupLeaderMessage(l_leader.AsString())));
    ReadPendingLater(ip_socket, true);
}

void DNetManager::WireParentSocket(QTcpSocket* ip_socket)
{
    connect(ip_socket, &QTcpSocket::readyRead, this, &DNetManager::OnSocketReadyToRead);
    connect(ip_socket, &QAbstractSocket::errorOccurred, this, &DNetManager::OnSocketError);
    connect(ip_socket, &QAbstractSocket::disconnected, this, &DNetManager::OnSocketClosed);
}

void DNetManager::WireChildSocket(QTcpSocket* ip_socket)
{
    connect(ip_socket, &QTcpSocket::readyRead, this, &DNetManager::OnChildSocketReadyToRead);
    connect(ip_socket, &QAbstractSocket::errorOccurred, this, &DNetManager::OnChildSocketError);
    connect(ip_socket, &QAbstractSocket::disconnected, this, &DNetManager::OnChildSocketClosed);
}

void DNetManager::ReadPendingLater(QTcpSocket* ip_socket, bool i_isChild)
{
    // Bytes that came in with the first frame raise no readyRead of their own; they are
    // read once the hand-over has finished.
    if (ip_socket->bytesAvailable() == 0)
        return;
    QPointer<QTcpSocket> const l_socket(ip_socket);
    QMetaObject::invokeMethod(
        this,
        [this, l_socket, i_isChild]
        {
            if (l_socket.isNull())
                return;
            Value const l_key(l_socket.data());
            bool const l_isHeld = i_isChild ? d["dnet_child"]->HasItem(l_key).IsNotNull()
                                            : d["dnet_parent_candidate"]->HasItem(l_key) ||
                                                  IsParentSocket(l_socket.data());
            if (l_isHeld)
                ReadFrames(l_socket.data(), i_isChild);
        },
        Qt::QueuedConnection);
}

// --- Reading -------------------------------------------------------------------------------

void DNetManager::OnSocketReadyToRead()
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(lp_socket, false);
}

void DNetManager::OnChildSocketReadyToRead()
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(lp_socket, true);
}

void DNetManager::ReadFrames(QTcpSocket* ip_socket, bool i_isChild)
{
    for (;;)
    {
        // A frame is taken only once all of it has arrived; until then its bytes wait
        // in the socket, so nothing is allocated for a length that was merely announced.
        qint64 const l_available = ip_socket->bytesAvailable();
        if (l_available < 4)
            return;
        char l_header[4];
        if (ip_socket->peek(l_header, 4) != 4)
            return;
        std::uint32_t const l_length = qFromLittleEndian<std::uint32_t>(l_header);
        if (l_length > c_maxFrameLength)
        {
            DNetLog(1, QString("Frame of %1 bytes announced, closing connection").arg(l_length));
            if (i_isChild)
                CloseChildSocket(ip_socket);
            else
                CloseParentSocket(ip_socket);
            return;
        }
        if (l_available - 4 < qint64(l_length))
            return;
        if (ip_socket->read(l_header, 4) != 4)
            return;

        m_receiveStream.Reset();
        m_receiveStream.EnsureBufferCapacity(l_length);
        if (l_length > 0)
        {
            if (ip_socket->read(m_receiveStream.GetWriteBuffer(), qint64(l_length)) !=
                qint64(l_length))
                return;
            m_receiveStream.AdvanceWriteIndex(int(l_length));
        }
        bool const l_keepReading = i_isChild ? HandleChildMessage(ip_socket, m_receiveStream)
                                             : HandleMessage(ip_socket, m_receiveStream);
        if (!l_keepReading)
            return;
    }
}

// --- Closing -------------------------------------------------------------------------------

void DNetManager::OnSocketError(QAbstractSocket::SocketError)
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ParentSocketClosed(lp_socket);
}

void DNetManager::OnSocketClosed()
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ParentSocketClosed(lp_socket);
}

void DNetManager::OnChildSocketError(QAbstractSocket::SocketError)
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ChildSocketClosed(lp_socket);
}

void DNetManager::OnChildSocketClosed()
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ChildSocketClosed(lp_socket);
}

void DNetManager::ParentSocketClosed(QTcpSocket* ip_socket)
{
    if (IsParentSocket(ip_socket))
    {
        DNetLog(1, QStringLiteral("Parent socket closed"));
        for (char const* lp_key :
             {"dnet_parent_user", "dnet_parent_socket", "dnet_group_leader", "dnet_level"})
            ClearState(lp_key);
        gp_server->SendDNetHasParent(false);
        gp_server->SendDNetGroupLeader(QString());
        gp_server->SendDNetLevel(-1);
    }
    else if (ItemPtr const l_candidate = d["dnet_parent_candidate"]->HasItem(Value(ip_socket)))
    {
        DNetLog(1, QStringLiteral("Parent candidate socket closed"));
        l_candidate.Remove();
    }
    // An error and the disconnection usually come as a pair; the second finds nothing.
    ip_socket->disconnect(this);
    ip_socket->deleteLater();
}

void DNetManager::ChildSocketClosed(QTcpSocket* ip_socket)
{
    DNetLog(1, QStringLiteral("Child socket closed"));
    ip_socket->disconnect(this);
    ip_socket->deleteLater();
    if (ItemPtr const l_child = d["dnet_child"]->HasItem(Value(ip_socket)))
        l_child.Remove();
    else
        DNetLog(2, QStringLiteral("Child socket item not found, aborting"));
}

void DNetManager::CloseParentSocket(QTcpSocket* ip_socket)
{
    ParentSocketClosed(ip_socket);
    ip_socket->close();
}

void DNetManager::CloseChildSocket(QTcpSocket* ip_socket)
{
    ChildSocketClosed(ip_socket);
    ip_socket->close();
}

void DNetManager::DropStalledChild(QTcpSocket* ip_socket, ItemPtr i_user)
{
    DNetLog(1,
            QString("Child %1 holds %2 unsent bytes and would pass the limit of %3, dropping it")
                .arg(i_user.AsString(), QString::number(ip_socket->bytesToWrite()),
                     QString::number(PeerMessenger::c_maxUnsentBytes)),
            i_user);
    ChildSocketClosed(ip_socket);
    // close() alone would wait for the peer to read what is held, which it does not.
    PeerMessenger::EndConnection(ip_socket);
}

void DNetManager::DropSocket(QTcpSocket* ip_socket)
{
    ip_socket->disconnect(this);
    ip_socket->close();
    ip_socket->deleteLater();
}
