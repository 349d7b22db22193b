#include "net/server/IncomingItems.h"
#include "net/server/Server.h"

#include "store/Data.h"
#include "store/Settings.h"

#include <QString>

#include <list>
#include <set>
#include <utility>

// Handlers of the central server's messages about users, peers, searches, privileges
// and the distributed network. A short message is not an error here: every field read
// after its end keeps its starting value (zero or empty) and the handler applies its
// effects with it. Only the lists of codes 102 and 153 test their reads, and a failed
// entry ends the list.

using namespace IncomingItems;

namespace
{
// An address arrives as a u32 whose most significant byte is the first number of the
// dotted form; the store and the peer network keep it as that number.
Value AddressValue(quint32 i_address)
{
    return Value(static_cast<unsigned int>(i_address));
}
} // namespace

// Code 3: a user's address, as asked for by GetUserAddress.
void Server::HandleUserAddress(MemStream& i_message)
{
    QString l_name;
    quint32 l_address = 0;
    qint32 l_port = 0;
    qint32 l_obfuscationType = 0;
    quint16 l_obfuscatedPort = 0;
    i_message.Read(l_name);
    i_message.Read(l_address);
    i_message.Read(l_port);
    i_message.Read(l_obfuscationType);
    // Always on the wire, but only meaningful when the user listens obfuscated.
    i_message.Read(l_obfuscatedPort);

    ItemPtr const l_user = Named(d["user"], l_name);
    SetAttribute(l_user, d["user_address"], AddressValue(l_address));
    SetAttribute(l_user, d["user_port"], Value(l_port));
    SetAttribute(l_user, d["user_obfuscated_port"],
                 Value(l_obfuscationType == 1 ? static_cast<int>(l_obfuscatedPort) : 0));
    // The answer came, even when it carries no usable address.
    ClearFlag(l_user, "user_address_request");
}

// Code 5: the answer to a watch request (AddUser).
void Server::HandleAddUserReply(MemStream& i_message)
{
    QString l_name;
    bool l_exists = false;
    i_message.Read(l_name);
    i_message.Read(l_exists);
    // The add-user dialog only needs to know whether the name exists.
    emit AddUserResponse(l_name, l_exists);
    if (!l_exists)
        return;

    qint32 l_status = 0;
    UserStats l_stats;
    i_message.Read(l_status);
    i_message.Read(l_stats);
    ItemPtr const l_user = Named(d["user"], l_name);
    if (l_status > 0) {
        QString l_country;
        i_message.Read(l_country);
        SetFlag(l_user, "is_online");
        SetAttribute(l_user, d["country_code"], Value(l_country));
    } else {
        ClearFlag(l_user, "is_online");
    }
}

// Code 7: a watched user's status changed.
void Server::HandleUserStatus(MemStream& i_message)
{
    QString l_name;
    qint32 l_status = 0;
    bool l_privileged = false;
    i_message.Read(l_name);
    i_message.Read(l_status);
    i_message.Read(l_privileged);

    ItemPtr const l_user = Named(d["user"], l_name);
    if (l_status > 0)
        SetFlag(l_user, "is_online");
    else
        ClearFlag(l_user, "is_online");
    if (l_status == 1)
        SetFlag(l_user, "is_away");
    else
        ClearFlag(l_user, "is_away");
    // Privileges run out on the server's clock; nothing here ever clears the flag.
    if (l_privileged)
        SetFlag(l_user, "is_privileged");
}

// Code 18: a peer that cannot reach us asks, through the server, to be connected to.
// The peer network waits for a request joined to its id, type and user, with the
// user's address, port and obfuscated port present. The address is written before the
// request is joined to the user, so that the pattern completes once, with the address
// this very message carries: joining first would let a stale address from an earlier
// answer complete it, and the connect-back would go there.
void Server::HandlePeerConnectionRequest(MemStream& i_message)
{
    QString l_name;
    QString l_type;
    quint32 l_address = 0;
    qint32 l_port = 0;
    quint32 l_token = 0;
    bool l_privileged = false;
    qint32 l_obfuscationType = 0;
    qint32 l_obfuscatedPort = 0;
    i_message.Read(l_name);
    i_message.Read(l_type);
    i_message.Read(l_address);
    i_message.Read(l_port);
    i_message.Read(l_token);
    i_message.Read(l_privileged);
    i_message.Read(l_obfuscationType);
    // Unlike code 3, the obfuscated port is on the wire only for obfuscated peers.
    if (l_obfuscationType == 1)
        i_message.Read(l_obfuscatedPort);

    ItemPtr const l_user = Named(d["user"], l_name);
    SetAttribute(l_user, d["user_address"], AddressValue(l_address));
    SetAttribute(l_user, d["user_port"], Value(l_port));
    SetAttribute(l_user, d["user_obfuscated_port"], Value(l_obfuscatedPort));

    ItemPtr const l_request = d["peer_connection_request"]->NewItem();
    l_request.Connect(d["peer_connection_request_id"]->NewItem(Value(static_cast<unsigned int>(l_token))));
    // Stored as received: the peer network decides what a type it does not know means.
    l_request.Connect(d["peer_connection_type"]->NewItem(Value(l_type)));
    l_request.Connect(l_user);

    if (l_privileged)
        SetFlag(l_user, "is_privileged");
}

// Code 22: a private message. The server resends it until it is acknowledged, so the
// acknowledgement goes out whether or not the sender is ignored.
void Server::HandlePrivateChat(MemStream& i_message)
{
    qint32 l_id = 0;
    qint32 l_time = 0;
    QString l_name;
    QString l_text;
    bool l_spontaneous = false;
    i_message.Read(l_id);
    i_message.Read(l_time);
    i_message.Read(l_name);
    i_message.Read(l_text);
    i_message.Read(l_spontaneous);

    MemStream l_ack;
    l_ack.Write(23u);
    l_ack.Write(static_cast<quint32>(l_id));

    if (!IsIgnored(l_name))
        emit PrivateChat(l_name, l_text, static_cast<time_t>(l_time), l_spontaneous);

    SendMessage(l_ack, false);

    // The server announces granted privileges in a private message; ask for the new
    // balance then, whoever the message came from.
    if (l_text.contains(QStringLiteral("privileges")))
        GetOwnPrivilegesStatus();
}

// Code 36: a user's statistics (for the own user, the share index's answer).
void Server::HandleUserStats(MemStream& i_message)
{
    QString l_name;
    UserStats l_stats;
    i_message.Read(l_name);
    i_message.Read(l_stats);
    emit ReceivedUserStats(l_name, l_stats);
}

// Code 69: the users who hold privileges.
void Server::HandlePrivilegedUsers(MemStream& i_message)
{
    std::set<QString> l_names;
    i_message.Read(l_names);
    Type* const lp_user = d["user"];
    for (QString const& l_name : l_names)
        SetFlag(Named(lp_user, l_name), "is_privileged");
}

// Code 83.
void Server::HandleDNetParentMinSpeed(MemStream& i_message)
{
    qint32 l_speed = 0;
    i_message.Read(l_speed);
    emit DNetParentMinSpeed(l_speed);
}

// Code 84.
void Server::HandleDNetParentSpeedRatio(MemStream& i_message)
{
    qint32 l_ratio = 0;
    i_message.Read(l_ratio);
    emit DNetParentSpeedConnectionRatio(l_ratio);
}

// Code 92: the own privileges, in seconds left.
void Server::HandleOwnPrivileges(MemStream& i_message)
{
    qint32 l_seconds = 0;
    i_message.Read(l_seconds);
    SetSetting("privileges_time_left", QString::number(l_seconds));
    emit ReceivedOwnPrivilegesStatus(l_seconds);
}

// Code 93: a distributed-network message relayed by the server. The receiver reads the
// receive stream itself, which is emptied as soon as this returns.
void Server::HandleDNetMessage(MemStream& i_message)
{
    emit DNetMessage(i_message);
}

// Code 102: candidates for the distributed network's parent.
void Server::HandlePossibleParents(MemStream& i_message)
{
    std::list<std::pair<QString, TCPAddress>> l_parents;
    quint32 l_count = 0;
    if (i_message.ReadCount(l_count)) {
        for (quint32 l_index = 0; l_index != l_count; ++l_index) {
            QString l_name;
            TCPAddress l_address;
            quint32 l_ip = 0;
            qint32 l_port = 0;
            if (!i_message.Read(l_name) || !i_message.Read(l_ip) || !i_message.Read(l_port))
                break;
            l_address.m_address = l_ip;
            l_address.m_port = l_port;
            l_parents.emplace_back(l_name, l_address);
        }
    }
    emit DNetPossibleParents(l_parents);
}

// Code 104: how long the wish-list searcher waits between two searches.
void Server::HandleWishListWait(MemStream& i_message)
{
    quint32 l_period = 0;
    i_message.Read(l_period);
    emit WishListWait(l_period);
}

// Code 128.
void Server::HandleDNetDeliveryReport(MemStream& i_message)
{
    qint32 l_report = 0;
    i_message.Read(l_report);
    emit DNetDeliveryReport(l_report);
}

// Code 130.
void Server::HandleDNetReset(MemStream&)
{
    emit DNetReset();
}

// Code 153: searches related to a search text, replacing the ones held for it.
void Server::HandleSearchCorrelations(MemStream& i_message)
{
    QString l_search;
    i_message.Read(l_search);
    std::list<std::pair<QString, qint32>> l_terms;
    quint32 l_count = 0;
    if (i_message.ReadCount(l_count)) {
        for (quint32 l_index = 0; l_index != l_count; ++l_index) {
            QString l_term;
            qint32 l_rank = 0;
            if (!i_message.Read(l_term) || !i_message.Read(l_rank))
                break;
            l_terms.emplace_back(l_term, l_rank);
        }
    }

    ItemPtr const l_text = Named(d["search_request_text"], l_search);
    l_text.GetItems("search_correlation").Remove();
    Type* const lp_term = d["correlation_text"];
    Type* const lp_rank = d["correlation_rank"];
    for (auto const& [l_term, l_rank] : l_terms) {
        ItemPtr const l_correlation = l_text.NewItem("search_correlation");
        SetAttribute(l_correlation, lp_term, Value(l_term));
        SetAttribute(l_correlation, lp_rank, Value(l_rank));
    }
    emit SearchCorrelations(l_search);
}

// Code 1001: the peer could not connect back for the request with this token.
void Server::HandleIndirectConnectionFailure(MemStream& i_message)
{
    quint32 l_token = 0;
    i_message.Read(l_token);
    emit IndirectPeerConnectionFailure(l_token);
}
