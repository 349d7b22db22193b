#include "net/server/Server.h"

#include "store/Data.h"
#include "store/Settings.h"

// Every operation writes the code and the fields and hands the message over; nothing
// leaves unless logged in, but the bookkeeping (tickets, tokens, flags, signals) is
// done either way, so callers see the same effects online and offline.

namespace
{
MemStream NewMessage(unsigned int i_code)
{
    MemStream l_message;
    l_message.Write(i_code);
    return l_message;
}

// A boolean that travels as a u32 (0 or 1) rather than as one byte.
unsigned int AsU32(bool i_value)
{
    return i_value ? 1u : 0u;
}
} // namespace

void Server::SetWaitPort(int i_port, int i_obfuscatedPort)
{
    MemStream l_message = NewMessage(2);
    l_message.Write(i_port);
    l_message.Write(1u);
    l_message.Write(i_obfuscatedPort);
    SendMessage(l_message, false);
}

void Server::GetUserAddress(QString i_user)
{
    ItemPtr l_user = (*d["user"])[i_user];
    // One outstanding request per user; the answer clears the flag.
    if (l_user.IsConnected("user_address_request"))
        return;
    MemStream l_message = NewMessage(3);
    l_message.Write(i_user);
    SendMessage(l_message, false);
    l_user.NewItem("user_address_request");
}

void Server::AddUser(QString i_user)
{
    MemStream l_message = NewMessage(5);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}

void Server::GetUserStatus(QString i_user)
{
    MemStream l_message = NewMessage(7);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}

void Server::SendRoomChat(QString i_room, QString i_chat)
{
    MemStream l_message = NewMessage(13);
    l_message.Write(i_room);
    l_message.Write(i_chat);
    SendMessage(l_message, false);
}

void Server::EnterRoom(QString i_room, bool i_private)
{
    MemStream l_message = NewMessage(14);
    l_message.Write(i_room);
    l_message.Write(AsU32(i_private));
    SendMessage(l_message, false);
}

void Server::LeaveRoom(QString i_room)
{
    // Looked up without creating: a room that is not known is not one we are in.
    ItemPtr const l_room = d["room"]->HasItem(i_room);
    if (!l_room || !l_room.IsConnected("in_room"))
        return;
    MemStream l_message = NewMessage(15);
    l_message.Write(i_room);
    SendMessage(l_message, false);
}

unsigned int Server::SendIndirectConnectionRequest(QString i_user, QString i_type)
{
    unsigned int const l_token = m_nextConnectionToken++;
    MemStream l_message = NewMessage(18);
    l_message.Write(l_token);
    l_message.Write(i_user);
    l_message.Write(i_type);
    SendMessage(l_message, false);
    return l_token;
}

void Server::SendPrivateChat(QString i_user, QString i_chat)
{
    // The server takes one line per message.
    i_chat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    i_chat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    MemStream l_message = NewMessage(22);
    l_message.Write(i_user);
    l_message.Write(i_chat);
    SendMessage(l_message, false);
    emit PrivateChatSent(i_user, i_chat);
}

unsigned int Server::FileSearch(QString i_search, bool i_wishListSearch)
{
    unsigned int const l_ticket = m_nextSearchToken++;
    MemStream l_message = NewMessage(i_wishListSearch ? 103 : 26);
    l_message.Write(l_ticket);
    l_message.Write(i_search);
    SendMessage(l_message, false);

    ItemPtr l_request = d["search_request"]->NewItem(Value(l_ticket));
    l_request += (*d["search_request_text"])[i_search];
    if (i_wishListSearch)
        l_request.NewItem("wishlist_search");

    emit SearchRequested(l_ticket, i_search, i_wishListSearch);
    return l_ticket;
}

void Server::SendFilesFolders(int i_folders, int i_files)
{
    MemStream l_message = NewMessage(35);
    l_message.Write(i_folders);
    l_message.Write(i_files);
    SendMessage(l_message, false);
}

void Server::GetUserStats(QString i_user)
{
    MemStream l_message = NewMessage(36);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}

void Server::GetRoomList()
{
    MemStream l_message = NewMessage(64);
    SendMessage(l_message, false);
    // The answer may create public rooms (a room list the server sends unasked only
    // refreshes known ones).
    SetSetting("accept_room_list", QStringLiteral("yes"));
}

void Server::SendDNetHasParent(bool i_hasParent)
{
    // The server asks whether a parent is wanted: the byte is the inverse.
    MemStream l_message = NewMessage(71);
    l_message.Write(!i_hasParent);
    SendMessage(l_message, false);
}

void Server::GetOwnPrivilegesStatus()
{
    MemStream l_message = NewMessage(92);
    SendMessage(l_message, false);
}

void Server::SendDNetCanParent(bool i_canParent)
{
    MemStream l_message = NewMessage(100);
    l_message.Write(i_canParent);
    SendMessage(l_message, false);
}

void Server::SendUploadSpeed(int i_speed)
{
    MemStream l_message = NewMessage(121);
    l_message.Write(i_speed);
    SendMessage(l_message, false);
}

void Server::SendDNetLevel(int i_level)
{
    MemStream l_message = NewMessage(126);
    l_message.Write(i_level);
    SendMessage(l_message, false);
}

void Server::SendDNetGroupLeader(QString i_user)
{
    MemStream l_message = NewMessage(127);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}

void Server::SendChildDepth(bool i_childDepth)
{
    MemStream l_message = NewMessage(129);
    l_message.Write(i_childDepth);
    SendMessage(l_message, false);
}

void Server::AddPrivateRoomMember(QString i_room, QString i_user)
{
    MemStream l_message = NewMessage(134);
    l_message.Write(i_room);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}

void Server::RemovePrivateRoomMember(QString i_room, QString i_user)
{
    MemStream l_message = NewMessage(135);
    l_message.Write(i_room);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}

void Server::GiveUpPrivateRoomMembership(QString i_room)
{
    MemStream l_message = NewMessage(136);
    l_message.Write(i_room);
    SendMessage(l_message, false);
}

void Server::GiveUpPrivateRoom(QString i_room)
{
    MemStream l_message = NewMessage(137);
    l_message.Write(i_room);
    SendMessage(l_message, false);
}

void Server::EnablePrivateRoomAdd(bool i_enable)
{
    MemStream l_message = NewMessage(141);
    l_message.Write(i_enable);
    SendMessage(l_message, false);
}

void Server::AddPrivateRoomOperator(QString i_room, QString i_user)
{
    MemStream l_message = NewMessage(143);
    l_message.Write(i_room);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}

void Server::RemovePrivateRoomOperator(QString i_room, QString i_user)
{
    MemStream l_message = NewMessage(144);
    l_message.Write(i_room);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}

void Server::GetSearchCorrelations(QString i_search)
{
    MemStream l_message = NewMessage(153);
    l_message.Write(i_search);
    SendMessage(l_message, false);
}

void Server::SendCantConnectToPeer(unsigned int i_token, QString i_user)
{
    MemStream l_message = NewMessage(1001);
    l_message.Write(i_token);
    l_message.Write(i_user);
    SendMessage(l_message, false);
}
