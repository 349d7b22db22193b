// Path lookup, the access rules, the attribute text of a file and the removal of a
// browsed share. Nothing here touches the disk.

#include "shares/SharedFoldersManager.h"

#include "store/GeneralFunctions.h"

namespace
{
bool IsSeparator(QChar i_char)
{
    return i_char == QLatin1Char('/') || i_char == QLatin1Char('\\');
}

// Whether any of the items carries the flag type.
bool AnyCarries(ItemSet const& i_items, char const* ip_flagType)
{
    for (ItemPtr const& l_item : i_items)
        if (l_item.IsConnected(ip_flagType))
            return true;
    return false;
}

// Number of `shared_file` items of all the given items.
std::size_t FileCount(ItemSet const& i_items, Type* ip_fileType)
{
    std::size_t l_count = 0;
    for (ItemPtr const& l_item : i_items)
        l_count += l_item->ConnectedItemsOf(ip_fileType).size();
    return l_count;
}
} // namespace

QString SharedFoldersManager::LowerCaseKey(QString const& i_path)
{
    QString l_collapsed;
    l_collapsed.reserve(i_path.size());
    for (QChar const l_char : i_path)
        if (!IsSeparator(l_char) || l_collapsed.isEmpty() || !IsSeparator(l_collapsed.back()))
            l_collapsed.append(l_char);
    return GetAbsoluteFileName(l_collapsed);
}

ItemPtr SharedFoldersManager::GetSharedFileItem(QString i_path)
{
    // The key has no trailing and no doubled separator: its folder part is what lies
    // before the last separator and its name what follows (both the whole key when it
    // has none), as GetFolder and GetFileName would split it.
    QString const l_key = LowerCaseKey(i_path);
    qsizetype l_last = l_key.size() - 1;
    while (l_last >= 0 && !IsSeparator(l_key[l_last]))
        --l_last;
    ItemPtr const l_nameKey = d["shared_file_lowercase_name"]->HasItem(
        Value(l_last < 0 ? l_key : l_key.mid(l_last + 1)));
    if (!l_nameKey)
        return ItemPtr();
    ItemPtr const l_folderKey = d["shared_file_folder_lowercase_name"]->HasItem(
        Value(l_last < 0 ? l_key : l_key.left(l_last)));
    if (!l_folderKey)
        return ItemPtr();

    // The files connected to one of the folders and to one of the names; of several
    // (paths equal but for letter case) the first in item order. Walk whichever side
    // holds fewer files: a common name such as "cover.jpg" may sit in every folder.
    Type* const lp_fileType = d["shared_file"];
    ItemSet const l_folders = l_folderKey.GetItems("shared_file_folder");
    ItemSet const l_names = l_nameKey.GetItems("shared_file_name");
    bool const l_byName = FileCount(l_names, lp_fileType) <= FileCount(l_folders, lp_fileType);
    ItemSet const& l_walked = l_byName ? l_names : l_folders;
    ItemSet const& l_other = l_byName ? l_folders : l_names;
    char const* const lp_otherType = l_byName ? "shared_file_folder" : "shared_file_name";

    ItemPtr l_found;
    for (ItemPtr const& l_item : l_walked)
        for (ItemPtr const& l_file : l_item->ConnectedItemsOf(lp_fileType))
            if ((!l_found || l_file < l_found) && l_other.count(l_file[lp_otherType]))
                l_found = l_file;
    return l_found;
}

ItemSet SharedFoldersManager::GetUserSharedFolders(QString i_user)
{
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    if (l_user && l_user.IsConnected("unshared"))
        return ItemSet();
    ItemSet const l_folders = g("shared_folder");
    ItemSet l_result = l_folders.Connected("shared_public");
    ItemPtr const l_listed = l_user["in_user_list"];
    if (!l_listed)
        return l_result;
    l_result.Add(l_folders.Connected("shared_userlist"));
    l_result.Add(d.GetItems(l_listed.GetItems("user_list_group"), "shared_folder"));
    return l_result;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr i_file, QString i_user)
{
    ItemPtr const l_user = d["user"]->GetItem(Value(i_user));
    if (l_user.IsConnected("unshared"))
        return false;
    ItemSet const l_folders = i_file["shared_file_folder"].GetItems("shared_folder");
    if (AnyCarries(l_folders, "shared_public"))
        return true;
    ItemPtr const l_listed = l_user["in_user_list"];
    if (!l_listed)
        return false;
    if (AnyCarries(l_folders, "shared_userlist"))
        return true;
    ItemSet const l_userGroups = l_listed.GetItems("user_list_group");
    return !l_userGroups.Common(d.GetItems(l_folders, "user_list_group")).empty();
}

QString SharedFoldersManager::GetFileItemDisplayString(ItemPtr i_item)
{
    QString l_text;
    if (ItemPtr const l_bitrate = i_item["bitrate"])
        l_text += QString::number(l_bitrate.AsInt64());
    Type* const lp_modes = d["bitrate_mode"];
    if (i_item.IsConnected(lp_modes->HasItem(Value("vbr"))))
        l_text += QStringLiteral(" VBR");
    else if (i_item.IsConnected(lp_modes->HasItem(Value("cbr"))))
        l_text += QStringLiteral(" CBR");
    if (ItemPtr const l_length = i_item["length_seconds"])
        l_text += QStringLiteral(", ") + FormatSeconds(static_cast<long>(l_length.AsInt64()));
    return l_text;
}

void SharedFoldersManager::RemoveUserShare(QString i_user)
{
    ItemPtr const l_share = d["user"]->HasItem(Value(i_user))["user_share"];
    if (!l_share)
        return;
    ItemSet const l_folders = l_share.GetItems("user_share_folder");
    for (ItemPtr const& l_folder : l_folders)
        l_folder.GetItems("user_share_file").Remove();
    l_folders.Remove();
    l_share.Remove();
    // Names, link nodes and attributes go with the sweep, now that nothing holds them.
    d.RemoveDisconnectedItems();
}
