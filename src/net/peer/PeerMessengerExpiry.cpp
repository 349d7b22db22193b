#include "net/peer/PeerMessenger.h"

#include "net/peer/PeerLog.h"

#include <QTcpSocket>

namespace
{
// An item goes once it is older than its limit; the sweep runs every 30 s, so it goes
// between the limit and the limit plus 30 s after its time stamp.
constexpr qint64 c_unsentMessageLimitMs = 299999;
constexpr qint64 c_attemptLimitMs = 59999;
constexpr qint64 c_idleConnectionLimitMs = 119999;

qint64 AgeOf(ItemPtr i_timeItem, QDateTime const& i_now)
{
    return PeerTimeFromStamp(i_timeItem.AsString()).msecsTo(i_now);
}
} // namespace

void PeerMessenger::EveryHalfMinute()
{
    QDateTime const l_now = QDateTime::currentDateTime();

    for (ItemPtr const& l_unsent : d["unsent_message"]->GetItems())
    {
        if (AgeOf(l_unsent["send_time"], l_now) <= c_unsentMessageLimitMs)
            continue;
        delete l_unsent.AsPtr<MemStream>();
        l_unsent.Remove();
    }

    for (ItemPtr const& l_indirect : d["indirect_connect_to_peer_request"]->GetItems())
    {
        if (AgeOf(l_indirect["send_time"], l_now) <= c_attemptLimitMs)
            continue;
        EndConnectionAttempt(
            l_indirect,
            QStringLiteral("Indirect connection request of type %1 to %2 expired, removing."));
    }

    for (ItemPtr const& l_socketItem : d["connect_to_peer_request_socket"]->GetItems())
    {
        if (AgeOf(l_socketItem["socket_creation_time"], l_now) <= c_attemptLimitMs)
            continue;
        ItemPtr const l_request = l_socketItem["connect_to_peer_request"];
        ItemPtr const l_user = l_socketItem["user"];
        PeerLog(1,
                QString("Direct connection attempt of type %1 to %2 timed out, closing.")
                    .arg(l_socketItem["peer_connection_type"].AsString(), l_user.AsString()),
                l_user);
        auto* lp_socket = l_socketItem.AsPtr<QTcpSocket>();
        l_socketItem.Remove();
        lp_socket->disconnect(this);
        EndConnection(lp_socket);
        lp_socket->deleteLater();
        if (l_request)
            InspectPeerConnectionRequest(l_request);
    }

    for (ItemPtr const& l_socketItem : d["peer_connection_request_socket"]->GetItems())
    {
        if (AgeOf(l_socketItem["socket_creation_time"], l_now) <= c_attemptLimitMs)
            continue;
        ItemPtr const l_request = l_socketItem["peer_connection_request"];
        ItemPtr const l_user = l_request["user"];
        PeerLog(1,
                QString("Indirect connection attempt of type %1 to %2 timed out, closing.")
                    .arg(l_request["peer_connection_type"].AsString(), l_user.AsString()),
                l_user);
        // An aborted attempt reports nothing, so it is disposed of here: that tells the
        // server the request could not be answered.
        DisposeOfSocket(l_socketItem.AsPtr<QTcpSocket>());
    }

    for (ItemPtr const& l_socketItem : d["peer_socket"]->GetItems())
    {
        QDateTime const* lp_lastActivity = l_socketItem["last_activity_time"].AsPtr<QDateTime>();
        if (!lp_lastActivity || lp_lastActivity->msecsTo(l_now) <= c_idleConnectionLimitMs)
            continue;
        ItemPtr const l_user = l_socketItem["user"];
        PeerLog(1, QString("Peer connection to user %1 expired, closing.").arg(l_user.AsString()),
                l_user);
        auto* lp_socket = l_socketItem.AsPtr<QTcpSocket>();
        Value const l_key(lp_socket);
        // The disconnection that ending a connected socket signals disposes of it.
        EndConnection(lp_socket);
        // A socket that never was connected signals nothing.
        if (d["peer_socket"]->HasItem(l_key))
            DisposeOfSocket(lp_socket);
    }

    // File connections that said what they are but never sent their token.
    std::vector<QTcpSocket*> l_tokenless;
    for (auto const& [lp_socket, l_info] : m_socketBufferInfos)
        if (l_info.m_isAwaitingFileToken &&
            l_info.m_tokenWaitStart.msecsTo(l_now) > c_attemptLimitMs)
            l_tokenless.push_back(lp_socket);
    for (QTcpSocket* lp_socket : l_tokenless)
    {
        auto const l_found = m_socketBufferInfos.find(lp_socket);
        if (l_found == m_socketBufferInfos.end())
            continue;
        PeerLog(1, "File connection without its token expired, closing.",
                d["user"]->HasItem(Value(l_found->second.m_user)));
        DisposeOfSocket(lp_socket);
    }

    // Accepted connections that never said what they are.
    std::vector<QTcpSocket*> l_silent;
    for (auto const& [lp_socket, l_acceptTime] : m_acceptTimes)
        if (l_acceptTime.msecsTo(l_now) > c_attemptLimitMs)
            l_silent.push_back(lp_socket);
    for (QTcpSocket* lp_socket : l_silent)
    {
        if (!d["uninitialized_socket"]->HasItem(Value(lp_socket)))
        {
            m_acceptTimes.erase(lp_socket);
            continue;
        }
        Log(LogArea::PeerMessenger, 1, "Uninitialized peer connection expired, closing.");
        DisposeOfSocket(lp_socket);
    }
}

void PeerMessenger::OnPeerSocketItemRemoved(ItemPtr i_item)
{
    // The reader must not keep the cell that is freed below.
    ForgetCachedPeerSocket(i_item);
    ItemPtr const l_cell = i_item["last_activity_time"];
    if (!l_cell)
        return;
    auto* lp_time = l_cell.AsPtr<QDateTime>();
    l_cell.Remove();
    delete lp_time;
}

QDateTime* PeerMessenger::FindAcceptTime(QTcpSocket* ip_socket)
{
    auto const l_found = m_acceptTimes.find(ip_socket);
    return l_found == m_acceptTimes.end() ? nullptr : &l_found->second;
}
