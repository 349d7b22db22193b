#include "net/server/Server.h"

#include "net/server/IncomingItems.h"
#include "store/Data.h"
#include "store/Settings.h"

// Every operation sends its code and fields, written in wire order; nothing leaves
// unless logged in, but the bookkeeping (tickets, tokens, flags, signals) is done
// either way, so callers see the same effects online and offline.

namespace
{
// A boolean that travels as a u32 (0 or 1) rather than as one byte.
unsigned int AsU32(bool i_value)
{
    return i_value ? 1u : 0u;
}
} // namespace

void Server::SetWaitPort(int i_port, int i_obfuscatedPort)
{
    Send(2, i_port, 1u, i_obfuscatedPort);
}

void Server::GetUserAddress(QString i_user)
{
    ItemPtr l_user = (*d["user"])[i_user];
    // One outstanding request per user; the answer clears the flag.
    if (l_user.IsConnected("user_address_request"))
        return;
    Send(3, i_user);
    l_user.NewItem("user_address_request");
}

void Server::AddUser(QString i_user)
{
    Send(5, i_user);
}

void Server::GetUserStatus(QString i_user)
{
    Send(7, i_user);
}

void Server::SendRoomChat(QString i_room, QString i_chat)
{
    Send(13, i_room, i_chat);
}

void Server::EnterRoom(QString i_room, bool i_private)
{
    Send(14, i_room, AsU32(i_private));
}

void Server::LeaveRoom(QString i_room)
{
    // Looked up without creating: a room that is not known is not one we are in.
    ItemPtr const l_room = d["room"]->HasItem(i_room);
    if (!l_room || !l_room.IsConnected("in_room"))
        return;
    if (!IsConnected())
    {
        // No answer will come to clear the flag: the room is left here, as the answer
        // would leave it, so that entering it after the next login opens a tab again.
        // The server dropped this client from its rooms with the connection.
        IncomingItems::ClearFlag(l_room, "in_room");
        l_room.Disconnect("user");
        return;
    }
    Send(15, i_room);
}

unsigned int Server::SendIndirectConnectionRequest(QString i_user, QString i_type)
{
    unsigned int const l_token = m_nextConnectionToken++;
    Send(18, l_token, i_user, i_type);
    return l_token;
}

void Server::SendPrivateChat(QString i_user, QString i_chat)
{
    // The server takes one line per message.
    i_chat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    i_chat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    Send(22, i_user, i_chat);
    emit PrivateChatSent(i_user, i_chat);
}

unsigned int Server::FileSearch(QString i_search, bool i_wishListSearch)
{
    unsigned int const l_ticket = m_nextSearchToken++;
    Send(i_wishListSearch ? 103 : 26, l_ticket, i_search);

    ItemPtr l_request = d["search_request"]->NewItem(Value(l_ticket));
    l_request += (*d["search_request_text"])[i_search];
    if (i_wishListSearch)
        l_request.NewItem("wishlist_search");

    emit SearchRequested(l_ticket, i_search, i_wishListSearch);
    return l_ticket;
}

void Server::SendFilesFolders(int i_folders, int i_files)
{
    Send(35, i_folders, i_files);
}

void Server::GetUserStats(QString i_user)
{
    Send(36, i_user);
}

void Server::GetRoomList()
{
    Send(64);
    // The answer may create public rooms (a room list the server sends unasked only
    // refreshes known ones).
    SetSetting("accept_room_list", QStringLiteral("yes"));
}

void Server::SendDNetHasParent(bool i_hasParent)
{
    // The server asks whether a parent is wanted: the byte is the inverse.
    Send(71, !i_hasParent);
}

void Server::GetOwnPrivilegesStatus()
{
    Send(92);
}

void Server::SendDNetCanParent(bool i_canParent)
{
    Send(100, i_canParent);
}

void Server::SendUploadSpeed(int i_speed)
{
    Send(121, i_speed);
}

void Server::SendDNetLevel(int i_level)
{
    Send(126, i_level);
}

void Server::SendDNetGroupLeader(QString i_user)
{
    Send(127, i_user);
}

void Server::SendChildDepth(bool i_childDepth)
{
    Send(129, i_childDepth);
}

void Server::AddPrivateRoomMember(QString i_room, QString i_user)
{
    Send(134, i_room, i_user);
}

void Server::RemovePrivateRoomMember(QString i_room, QString i_user)
{
    Send(135, i_room, i_user);
}

void Server::GiveUpPrivateRoomMembership(QString i_room)
{
    Send(136, i_room);
}

void Server::GiveUpPrivateRoom(QString i_room)
{
    Send(137, i_room);
}

void Server::EnablePrivateRoomAdd(bool i_enable)
{
    Send(141, i_enable);
}

void Server::AddPrivateRoomOperator(QString i_room, QString i_user)
{
    Send(143, i_room, i_user);
}

void Server::RemovePrivateRoomOperator(QString i_room, QString i_user)
{
    Send(144, i_room, i_user);
}

void Server::GetSearchCorrelations(QString i_search)
{
    Send(153, i_search);
}

void Server::SendCantConnectToPeer(unsigned int i_token, QString i_user)
{
    Send(1001, i_token, i_user);
}
