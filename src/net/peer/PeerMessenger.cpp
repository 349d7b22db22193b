#include "net/peer/PeerMessenger.h"

#include "net/server/Server.h"
#include "store/TimerManager.h"

#include <cstdlib>
#include <ctime>

PeerMessenger* peerMessenger = nullptr;
bool g_peerMessengerDeleted = false;

namespace
{
// RelateToType takes the counts seen from the other side first; the schema below is
// written the way it reads: how many B one A may have, then how many A one B may have.
void Relate(char const* ip_a, char const* ip_b, OneOrMany i_perA, OneOrMany i_perB,
            bool i_owns = false)
{
    d[ip_a]->RelateToType(d[ip_b], i_perB, i_perA, i_owns);
}
} // namespace

PeerMessenger::PeerMessenger() : QObject(nullptr)
{
    peerMessenger = this;

    connect(gp_server, &Server::Connected, this, &PeerMessenger::OnConnectedToServer);

    CreateData();
    ConnectToServices();
    dataSaver->AddDataLoadedEventHandler(this);

    // Keys of obfuscated frames come from rand().
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
}

void PeerMessenger::CreateData()
{
    // Sockets of open and just-accepted connections.
    d.NewType("uninitialized_socket", Primary, false, false);
    d.NewType("peer_socket", Primary, false, false);
    d.NewType("connection_open_time", Tertiary, false, true);
    d.NewType("last_activity_time", Primary, false, true);
    d.NewType("is_obfuscated", Tertiary, true, true);

    mp_uninitializedSocketType = d["uninitialized_socket"];
    mp_peerSocketType = d["peer_socket"];

    Relate("peer_socket", "user", One, Many);
    Relate("peer_socket", "connection_open_time", One, Many);
    Relate("peer_socket", "last_activity_time", One, Many);
    Relate("peer_socket", "is_obfuscated", One, Many);
    Relate("uninitialized_socket", "is_obfuscated", One, Many);

    d["peer_socket"]->m_itemAddedEvent.AddHandler(
        CreateHandler(this, &PeerMessenger::OnPeerSocketItemAdded));
    d["peer_socket"]->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &PeerMessenger::OnPeerSocketItemRemoved));

    // Connect-back requests relayed by the server, and users' addresses.
    d.NewType("peer_connection_request", Primary, true, false);
    d.NewType("peer_connection_request_id", Tertiary, false, true);
    d.NewType("peer_connection_type", Tertiary, false, true);
    d.NewType("peer_connection_request_socket", Primary, false, false);
    d.NewType("user_address", Tertiary, false, true);
    d.NewType("user_port", Tertiary, false, true);
    d.NewType("user_obfuscated_port", Tertiary, false, true);
    d.NewType("socket_creation_time", Tertiary, false, true);

    Relate("peer_connection_request", "peer_connection_request_id", One, Many);
    Relate("peer_connection_request", "peer_connection_request_socket", One, One);
    Relate("peer_connection_request", "user", One, Many);
    Relate("peer_connection_request", "peer_connection_type", One, Many);
    Relate("peer_connection_request", "is_obfuscated", One, Many);
    Relate("peer_connection_request_socket", "socket_creation_time", One, Many);
    Relate("user", "user_address", One, Many);
    Relate("user", "user_port", One, Many);
    Relate("user", "user_obfuscated_port", One, Many);

    {
        // A relayed request is answered once its token, type and user's full address
        // are all in place, whichever of them arrives last.
        auto* lp_root = new PathNode(&d, "peer_connection_request");
        new PathNode(lp_root, "peer_connection_request_id", PathConnected);
        new PathNode(lp_root, "peer_connection_type", PathConnected);
        auto* lp_user = new PathNode(lp_root, "user", PathConnected);
        new PathNode(lp_user, "user_address", PathConnected);
        new PathNode(lp_user, "user_port", PathConnected);
        new PathNode(lp_user, "user_obfuscated_port", PathConnected);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &PeerMessenger::OnPeerConnectionRequest));
    }

    // Searches this client sent and the replies to them.
    d.NewType("search_request", Primary, false, false);
    d.NewType("search_request_text", Primary, false, true);
    d.NewType("wishlist_search", Tertiary, true, true);
    d.NewType("search_results", Primary, true, true);
    d.NewType("search_result", Secondary, true, true);
    d.NewType("search_results_user_available", Tertiary, false, true);
    d.NewType("search_results_user_speed", Tertiary, false, true);
    d.NewType("search_results_uploads_in_queue", Tertiary, false, true);
    d.NewType("search_result_file_name", Tertiary, false, true);
    d.NewType("search_result_file_folder", Tertiary, false, true);
    d.NewType("file_size", Tertiary, false, true);

    Relate("search_request", "search_request_text", One, Many);
    Relate("search_request", "wishlist_search", One, Many);
    Relate("search_request", "search_results", Many, One, true);
    Relate("search_results", "search_result", Many, One, true);
    Relate("search_results", "user", One, Many);
    Relate("search_results", "search_results_user_available", One, Many);
    Relate("search_results", "search_results_user_speed", One, Many);
    Relate("search_results", "search_results_uploads_in_queue", One, Many);
    Relate("search_result", "search_result_file_name", One, Many);
    Relate("search_result", "search_result_file_folder", One, Many);
    Relate("search_result", "file_size", One, Many);

    // Related searches.
    d.NewType("search_correlation", Secondary, true, true);
    d.NewType("correlation_text", Tertiary, false, true);
    d.NewType("correlation_rank", Tertiary, false, true);

    Relate("search_request_text", "search_correlation", Many, One);
    Relate("search_correlation", "correlation_text", One, Many);
    Relate("search_correlation", "correlation_rank", One, Many);

    // MP3 attributes; the share index relates the first three to its own items.
    d.NewType("mpeg_version", Tertiary, false, true);
    d.NewType("channel_mode", Tertiary, false, true);
    d.NewType("audio_frequency", Tertiary, false, true);
    d.NewType("bitrate_mode", Tertiary, false, true);
    d.NewType("bitrate", Tertiary, false, true);
    d.NewType("length_seconds", Tertiary, false, true);

    Relate("search_result", "bitrate_mode", One, Many);
    Relate("search_result", "bitrate", One, Many);
    Relate("search_result", "length_seconds", One, Many);

    // Messages waiting for a connection.
    d.NewType("unsent_message", Primary, false, true);
    d.NewType("send_order", Tertiary, false, true);
    d.NewType("send_time", Tertiary, false, true);

    Relate("unsent_message", "user", One, Many);
    Relate("unsent_message", "send_order", One, One);
    Relate("unsent_message", "send_time", One, Many);

    // Connections this client wants, with their direct and indirect attempts.
    d.NewType("connect_to_peer_request", Primary, true, true);
    d.NewType("connect_to_peer_request_status", Tertiary, false, true);
    d.NewType("connect_to_peer_request_socket", Primary, false, true);
    d.NewType("indirect_connect_to_peer_request", Primary, false, true);

    Relate("connect_to_peer_request", "connect_to_peer_request_status", One, Many);
    Relate("connect_to_peer_request", "connect_to_peer_request_socket", One, One);
    Relate("connect_to_peer_request", "user", One, Many);
    Relate("connect_to_peer_request", "peer_connection_type", One, Many);
    Relate("connect_to_peer_request", "indirect_connect_to_peer_request", One, One);
    Relate("connect_to_peer_request_socket", "socket_creation_time", One, Many);
    Relate("indirect_connect_to_peer_request", "send_time", One, Many);
    Relate("connect_to_peer_request_socket", "user", One, Many);
    Relate("connect_to_peer_request_socket", "peer_connection_type", One, Many);
    Relate("connect_to_peer_request_socket", "is_obfuscated", One, Many);
    Relate("indirect_connect_to_peer_request", "user", One, Many);
    Relate("indirect_connect_to_peer_request", "peer_connection_type", One, Many);

    {
        // A user whose address is complete may unblock connections waiting for it.
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "user_address", PathConnected);
        new PathNode(lp_root, "user_port", PathConnected);
        new PathNode(lp_root, "user_obfuscated_port", PathConnected);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &PeerMessenger::OnUserAddress));
    }
}

void PeerMessenger::ConnectToServices()
{
    connect(gp_server, &Server::IndirectPeerConnectionFailure, this,
            &PeerMessenger::OnIndirectPeerConnectionFailure);
    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this,
            &PeerMessenger::EveryHalfMinute);
}

PeerMessenger::~PeerMessenger()
{
    // Listening sockets still hold accepted children that may signal while they go.
    g_peerMessengerDeleted = true;
    RemoveDataHandlers();
    // Queued messages die with the messenger: nothing else could ever free them, and
    // their items would keep the freed addresses.
    for (ItemPtr const& l_unsent : d["unsent_message"]->GetItems())
    {
        delete l_unsent.AsPtr<MemStream>();
        l_unsent.Remove();
    }
    if (peerMessenger == this)
        peerMessenger = nullptr;
}
