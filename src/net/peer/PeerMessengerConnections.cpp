#include "net/peer/PeerMessenger.h"

#include "net/server/Server.h"
#include "store/Log.h"

#include <QTcpSocket>

void PeerMessenger::DisposeOfSocket(QTcpSocket* ip_socket)
{
    // While the messenger is being destroyed its members, not the store, own what is
    // left; late close signals of accepted sockets end here.
    if (g_peerMessengerDeleted)
        return;

    ip_socket->disconnect(this);
    ip_socket->close();
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

    for (char const* lp_type : {"peer_connection_request_socket", "uninitialized_socket",
                                "peer_socket", "connect_to_peer_request_socket"})
    {
        if (ItemPtr const l_item = d[lp_type]->HasItem(l_key))
            l_item.Remove();
    }
}

void PeerMessenger::OnNewConnection()
{
}

void PeerMessenger::OnNewObfuscatedConnection()
{
}

void PeerMessenger::OnSocketClosed()
{
}

void PeerMessenger::OnSocketError(QAbstractSocket::SocketError)
{
}

void PeerMessenger::OnIndirectResponseSocketConnected()
{
}

void PeerMessenger::OnConnectToPeerSocketConnected()
{
}

void PeerMessenger::OnConnectToPeerSocketError(QAbstractSocket::SocketError)
{
}

void PeerMessenger::OnIndirectPeerConnectionFailure(unsigned int)
{
}

void PeerMessenger::OnPeerConnectionRequest(ItemPtr)
{
}

void PeerMessenger::OnUserAddress(ItemPtr)
{
}
