#include "net/server/IncomingItems.h"
#include "net/server/Server.h"

#include "store/Data.h"
#include "store/Settings.h"

#include <QString>

#include <list>
#include <set>
#include <string>
#include <vector>

// Handlers of the central server's room messages. Rooms live on the server; the client
// mirrors them as items that the room tabs, the room list and the private-room menus
// watch through store events. Room and user items named here are created on first
// mention, also by messages that only remove a link or a flag (the user of a chat line
// excepted).

using namespace IncomingItems;

namespace
{
// Replaces the users held by one of a room's nodes (members, operators) by `i_users`,
// in set order.
void ReplaceNodeUsers(ItemPtr i_node, std::set<QString> const& i_users)
{
    i_node.Disconnect("user");
    Type* const lp_user = d["user"];
    for (QString const& l_name : i_users)
        i_node.Connect(Named(lp_user, l_name));
}

// Codes 134, 135, 143 and 144 carry a private room's name and a user's: the room's
// node `i_node` (members or operators) and the user's item, both created when new.
struct RoomNodeAndUser
{
    ItemPtr m_node;
    ItemPtr m_user;
};

RoomNodeAndUser ReadRoomNodeAndUser(MemStream& io_message, char const* i_node)
{
    QString l_roomName;
    QString l_name;
    io_message.Read(l_roomName);
    io_message.Read(l_name);
    return {Named(d["room"], l_roomName).NewItem(i_node), Named(d["user"], l_name)};
}

// Every room carrying the flag whose name is not in `i_keep` loses the flag.
void ClearFlagExcept(char const* i_flag, std::set<std::string> const& i_keep)
{
    ItemSet l_rooms;
    for (Item* lp_flag : d[i_flag]->NullItems())
        l_rooms.Add(ItemPtr(lp_flag).GetItems("room"));
    for (ItemPtr const& l_room : l_rooms)
        if (!i_keep.count(l_room.GetValue().GetBytes()))
            ClearFlag(l_room, i_flag);
}

// A list of room names with the parallel list of their user counts. A name whose count
// the server left out gets none: nothing is read past a list's end, and no count is
// invented.
struct RoomsWithCounts
{
    std::list<QString> m_names;
    std::list<qint32> m_counts;

    void Read(MemStream& io_message)
    {
        io_message.Read(m_names);
        io_message.Read(m_counts);
    }

    // Calls i_apply(name, count or null) for every name, in wire order.
    template <class Apply>
    void ForEach(Apply i_apply) const
    {
        auto l_count = m_counts.begin();
        for (QString const& l_name : m_names) {
            qint32 const* lp_count = nullptr;
            if (l_count != m_counts.end())
                lp_count = &*l_count++;
            i_apply(l_name, lp_count);
        }
    }
};
} // namespace

// Code 13: a line said in a room.
void Server::HandleRoomChat(MemStream& i_message)
{
    QString l_room;
    QString l_name;
    QString l_text;
    i_message.Read(l_room);
    i_message.Read(l_name);
    i_message.Read(l_text);
    if (!IsIgnored(l_name))
        emit RoomChat(l_room, l_name, l_text);
}

// Code 14: this client joined a room; the server sends who is there.
void Server::HandleRoomJoined(MemStream& i_message)
{
    QString l_roomName;
    std::list<QString> l_names;
    std::list<qint32> l_unused;
    std::list<UserStats> l_stats;
    std::list<QString> l_countries;
    i_message.Read(l_roomName);
    i_message.Read(l_names);
    i_message.Read(l_unused);
    i_message.Read(l_stats);
    i_message.Read(l_unused);
    i_message.Read(l_countries);

    // One store operation for the whole room: what the room's tab does per member at
    // its end is done once for all of them.
    StoreOperation const l_operation;
    Type* const lp_user = d["user"];
    ItemPtr const l_room = Named(d["room"], l_roomName);

    // Only private rooms carry an owner and operators; a public room's message ends here.
    QString l_owner;
    if (i_message.Read(l_owner)) {
        std::set<QString> l_operators;
        i_message.Read(l_operators);
        l_room.NewItem("room_owner").Connect(Named(lp_user, l_owner));
        ReplaceNodeUsers(l_room.NewItem("room_operators"), l_operators);
    }

    SetFlag(l_room, "in_room");
    l_room.Disconnect("user");
    std::vector<ItemPtr> l_users;
    l_users.reserve(l_names.size());
    for (QString const& l_name : l_names) {
        l_users.push_back(Named(lp_user, l_name));
        l_room.Connect(l_users.back());
    }

    // The three lists run in step; a name past the end of the statistics or of the
    // country codes gets no value from that list.
    Type* const lp_speed = d["average_download_speed"];
    Type* const lp_files = d["shared_files_count"];
    Type* const lp_country = d["country_code"];
    auto l_stat = l_stats.begin();
    auto l_country = l_countries.begin();
    for (ItemPtr const& l_user : l_users) {
        if (l_stat == l_stats.end() && l_country == l_countries.end())
            break;
        if (l_stat != l_stats.end()) {
            SetAttribute(l_user, lp_speed, Value(static_cast<qint32>(l_stat->m_speed)));
            SetAttribute(l_user, lp_files, Value(static_cast<qint32>(l_stat->m_fileCount)));
            ++l_stat;
        }
        if (l_country != l_countries.end()) {
            SetAttribute(l_user, lp_country, Value(*l_country));
            ++l_country;
        }
    }
}

// Code 15: this client left a room.
void Server::HandleRoomLeft(MemStream& i_message)
{
    QString l_roomName;
    i_message.Read(l_roomName);
    ItemPtr const l_room = Named(d["room"], l_roomName);
    if (!l_room.IsConnected("in_room"))
        return;
    ClearFlag(l_room, "in_room");
    l_room.Disconnect("user");
}

// Code 16: someone entered a room.
void Server::HandleUserJoinedRoom(MemStream& i_message)
{
    QString l_roomName;
    QString l_name;
    qint32 l_unused = 0;
    UserStats l_stats;
    QString l_country;
    i_message.Read(l_roomName);
    i_message.Read(l_name);
    i_message.Read(l_unused);
    i_message.Read(l_stats);
    i_message.Read(l_unused);
    i_message.Read(l_country);

    ItemPtr const l_room = Named(d["room"], l_roomName);
    ItemPtr const l_user = Named(d["user"], l_name);
    l_room.Connect(l_user);
    SetAttribute(l_user, d["average_download_speed"], Value(static_cast<qint32>(l_stats.m_speed)));
    SetAttribute(l_user, d["shared_files_count"], Value(static_cast<qint32>(l_stats.m_fileCount)));
    SetAttribute(l_user, d["country_code"], Value(l_country));
}

// Code 17: someone left a room.
void Server::HandleUserLeftRoom(MemStream& i_message)
{
    QString l_roomName;
    QString l_name;
    i_message.Read(l_roomName);
    i_message.Read(l_name);
    ItemPtr const l_room = Named(d["room"], l_roomName);
    l_room.Disconnect(Named(d["user"], l_name));
}

// Code 64: the room list with this client's own private rooms.
void Server::HandleRoomList(MemStream& i_message)
{
    // Only a list the user asked for (or the first after a login) may add public rooms;
    // the lists the server sends on its own only refresh the rooms already known.
    bool const l_accepting = IsSettingYes("accept_room_list");
    SetSetting("accept_room_list", QStringLiteral("no"));

    RoomsWithCounts l_public;
    RoomsWithCounts l_owned;
    RoomsWithCounts l_member;
    std::set<QString> l_operated;
    l_public.Read(i_message);
    l_owned.Read(i_message);
    l_member.Read(i_message);
    i_message.Read(l_operated);

    Type* const lp_room = d["room"];
    Type* const lp_userCount = d["user_count"];

    l_public.ForEach([&](QString const& i_name, qint32 const* ip_count) {
        ItemPtr const l_room = l_accepting ? Named(lp_room, i_name) : Existing(lp_room, i_name);
        if (l_room.IsNotNull() && ip_count)
            SetAttribute(l_room, lp_userCount, Value(*ip_count));
    });

    std::set<std::string> l_ownedNames;
    l_owned.ForEach([&](QString const& i_name, qint32 const* ip_count) {
        ItemPtr const l_room = Named(lp_room, i_name);
        if (ip_count)
            SetAttribute(l_room, lp_userCount, Value(*ip_count));
        SetFlag(l_room, "is_owner");
        SetFlag(l_room, "is_private");
        SetFlag(l_room, "is_member");
        l_ownedNames.insert(l_room.GetValue().GetBytes());
    });
    ClearFlagExcept("is_owner", l_ownedNames);

    std::set<std::string> l_privateNames = l_ownedNames;
    l_member.ForEach([&](QString const& i_name, qint32 const* ip_count) {
        ItemPtr const l_room = Named(lp_room, i_name);
        if (ip_count)
            SetAttribute(l_room, lp_userCount, Value(*ip_count));
        if (l_operated.count(i_name))
            SetFlag(l_room, "is_operator");
        SetFlag(l_room, "is_private");
        SetFlag(l_room, "is_member");
        l_privateNames.insert(l_room.GetValue().GetBytes());
    });
    ClearFlagExcept("is_member", l_privateNames);
}

// Code 133: the members of a private room.
void Server::HandlePrivateRoomMembers(MemStream& i_message)
{
    QString l_roomName;
    std::set<QString> l_members;
    i_message.Read(l_roomName);
    i_message.Read(l_members);
    ReplaceNodeUsers(Named(d["room"], l_roomName).NewItem("room_members"), l_members);
}

// Code 134.
void Server::HandlePrivateRoomMemberAdded(MemStream& i_message)
{
    auto const [l_members, l_user] = ReadRoomNodeAndUser(i_message, "room_members");
    l_members.Connect(l_user);
}

// Code 135.
void Server::HandlePrivateRoomMemberRemoved(MemStream& i_message)
{
    auto const [l_members, l_user] = ReadRoomNodeAndUser(i_message, "room_members");
    l_members.Disconnect(l_user);
}

// Code 139: someone made this client a member of a private room; join it at once.
void Server::HandleAddedToPrivateRoom(MemStream& i_message)
{
    QString l_roomName;
    i_message.Read(l_roomName);
    ItemPtr const l_room = Named(d["room"], l_roomName);
    SetFlag(l_room, "is_private");
    SetFlag(l_room, "is_member");
    EnterRoom(l_roomName, false);
}

// Code 140: this client is no longer part of a private room.
void Server::HandleRemovedFromPrivateRoom(MemStream& i_message)
{
    QString l_roomName;
    i_message.Read(l_roomName);
    ItemPtr const l_room = Named(d["room"], l_roomName);
    ClearFlag(l_room, "is_member");
    ClearFlag(l_room, "is_operator");
    ClearFlag(l_room, "is_owner");
}

// Code 141: whether others may add this client to their private rooms.
void Server::HandlePrivateRoomAddEnabled(MemStream& i_message)
{
    bool l_enabled = false;
    i_message.Read(l_enabled);
    SetSettingYesNo("accept_private_room_add", l_enabled);
    emit PrivateRoomAddEnabled(l_enabled);
}

// Code 143.
void Server::HandlePrivateRoomOperatorAdded(MemStream& i_message)
{
    auto const [l_operators, l_user] = ReadRoomNodeAndUser(i_message, "room_operators");
    l_operators.Connect(l_user);
}

// Code 144.
void Server::HandlePrivateRoomOperatorRemoved(MemStream& i_message)
{
    auto const [l_operators, l_user] = ReadRoomNodeAndUser(i_message, "room_operators");
    l_operators.Disconnect(l_user);
}

// Code 145: this client became an operator of a private room.
void Server::HandleOperatorshipGranted(MemStream& i_message)
{
    QString l_roomName;
    i_message.Read(l_roomName);
    SetFlag(Named(d["room"], l_roomName), "is_operator");
}

// Code 146.
void Server::HandleOperatorshipRevoked(MemStream& i_message)
{
    QString l_roomName;
    i_message.Read(l_roomName);
    ClearFlag(Named(d["room"], l_roomName), "is_operator");
}

// Code 148: the operators of a private room.
void Server::HandlePrivateRoomOperators(MemStream& i_message)
{
    QString l_roomName;
    std::set<QString> l_operators;
    i_message.Read(l_roomName);
    i_message.Read(l_operators);
    ReplaceNodeUsers(Named(d["room"], l_roomName).NewItem("room_operators"), l_operators);
}
