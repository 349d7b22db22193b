#include "net/server/Server.h"

#include "store/Data.h"
#include "store/Schema.h"
#include "store/DataSaver.h"
#include "store/Settings.h"

namespace
{
// Every type here is create-on-get: a lookup by name makes the item on first mention.
TypeSpec const c_types[] = {
    {"user", Primary, false},
    {"is_online", Tertiary, true},
    {"is_tracked", Tertiary, true},
    {"is_privileged", Tertiary, true},
    {"is_away", Tertiary, true},
    {"room", Primary, false},
    {"room_autojoin", Tertiary, true},
    {"user_count", Tertiary, false},
    {"is_private", Tertiary, true},
    {"is_member", Tertiary, true},
    {"in_room", Tertiary, true},
    {"room_owner", Secondary, true},
    {"room_operators", Secondary, true},
    {"room_members", Secondary, true},
    {"is_owner", Tertiary, true},
    {"is_operator", Tertiary, true},
    {"average_download_speed", Tertiary, false},
    {"shared_files_count", Tertiary, false},
    {"country_code", Tertiary, false},
    {"in_user_list", Tertiary, true},
    {"user_list_group", Primary, false},
    {"group_download_priority", Tertiary, false},
    {"is_ignored", Tertiary, true},
    {"accept_uploads", Tertiary, true},
    {"user_address_request", Tertiary, true},
};

RelationSpec const c_relations[] = {
    {"user", "is_online", Many, One},
    {"user", "is_tracked", Many, One},
    {"user", "is_privileged", Many, One},
    {"user", "average_download_speed", Many, One},
    {"user", "shared_files_count", Many, One},
    {"user", "country_code", Many, One},
    {"user", "in_user_list", One, One},
    {"user", "is_ignored", Many, One},
    {"user", "is_away", Many, One},
    {"in_user_list", "user_list_group", Many, Many},
    {"user_list_group", "group_download_priority", Many, One},
    {"user_list_group", "accept_uploads", Many, One},
    {"room", "user", Many, Many},
    {"room", "user_count", Many, One},
    {"room", "in_room", Many, One},
    {"room", "room_autojoin", Many, One},
    {"room", "room_owner", One, One},
    {"room", "room_operators", One, One},
    {"room", "room_members", One, One},
    {"room_owner", "user", Many, One},
    {"room_operators", "user", Many, Many},
    {"room_members", "user", Many, Many},
    {"room", "is_private", Many, One},
    {"room", "is_owner", Many, One},
    {"room", "is_operator", Many, One},
    {"room", "is_member", Many, One},
    {"user_address_request", "user", One, Many},
};
} // namespace

void Server::CreateData()
{
    DeclareTypes(c_types);
    RelateTypes(c_relations);

    // Autojoin rooms, listed users with their groups and ignored users survive a
    // restart; everything else here is rebuilt from the server after each login.
    if (dataSaver) {
        dataSaver->AddSavedType("room_autojoin");
        dataSaver->AddSavedByConnectionType("room", "room_autojoin");
        dataSaver->AddSavedType("in_user_list");
        dataSaver->AddSavedByConnectionType("user", "in_user_list");
        dataSaver->AddSavedType("user_list_group");
        dataSaver->AddSavedType("is_ignored");
        dataSaver->AddSavedByConnectionType("user", "is_ignored");
        dataSaver->AddSavedType("group_download_priority");
        dataSaver->AddSavedType("accept_uploads");
    }

    SetSetting("availability_status", QStringLiteral("available"));
}

void Server::DataLoaded()
{
    // The default goes only where the setting item is missing altogether.
    if (!d["global"]->HasItem("use_upnp"))
        SetSetting("use_upnp", QStringLiteral("yes"));
}

void Server::TrackUser(QString i_user)
{
    ItemPtr l_user = (*d["user"])[i_user];
    if (l_user.IsConnected("is_tracked"))
        return;
    l_user.NewItem("is_tracked");
    // Dropped while offline; the flag makes the next login send it.
    AddUser(i_user);
}

void Server::UntrackUser(QString i_user)
{
    // Looked up without creating: an unknown user is not watched.
    ItemPtr const l_user = d["user"]->HasItem(i_user);
    if (!l_user || !l_user.IsConnected("is_tracked"))
        return;
    l_user.Disconnect("is_tracked");
    Send(6, i_user);
}

void Server::SetAvailabilityStatus(bool i_available)
{
    SetSetting("availability_status",
               i_available ? QStringLiteral("available") : QStringLiteral("away"));
    Send(28, i_available ? 2u : 1u);
}
