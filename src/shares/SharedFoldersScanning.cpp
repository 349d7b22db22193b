// Adding a shared folder, walking folders into the index, rescans and search tokens.
// Walks run synchronously on the GUI thread.

#include "shares/SharedFoldersManager.h"

#include "shares/FolderFileSizes.h"
#include "shares/FolderTokenItems.h"

#include "store/Log.h"
#include "store/Settings.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace
{
// Only these two spellings are sent for scanning.
bool IsMp3Name(QString const& i_name)
{
    return i_name.size() >= 5 &&
           (i_name.endsWith(QLatin1String(".mp3")) || i_name.endsWith(QLatin1String(".MP3")));
}

// The pairs that join the file to the folder's and the name's token items (a token in
// both once).
//
// A file's path is its folder, "\" and its name; "\" ends a run in both passes, so the
// tokens of the path are those of the folder and those of the name together, and the
// folder's share can be worked out once for all files of a folder.
void AppendNameTokenPairs(Item* ip_file, std::vector<Item*> const& i_folderTokens,
                          std::vector<Item*> const& i_nameTokens,
                          std::vector<std::pair<Item*, Item*>>& io_pairs)
{
    for (Item* lp_token : i_nameTokens)
        if (std::find(i_folderTokens.begin(), i_folderTokens.end(), lp_token) ==
            i_folderTokens.end())
            io_pairs.emplace_back(ip_file, lp_token);
}

void AppendTokenPairs(Item* ip_file, std::vector<Item*> const& i_folderTokens,
                      std::vector<Item*> const& i_nameTokens,
                      std::vector<std::pair<Item*, Item*>>& io_pairs)
{
    for (Item* lp_token : i_folderTokens)
        io_pairs.emplace_back(ip_file, lp_token);
    AppendNameTokenPairs(ip_file, i_folderTokens, i_nameTokens, io_pairs);
}

// The pairs of a folder's tokenized files ordered token by token, files in address
// order, as sorting all of them would give: consecutive links then land in the same
// (often large) set of a token's files, whose touched part stays in the cache. Each of
// the folder's own tokens goes with every file, so only the names' pairs need a sort.
std::vector<std::pair<Item*, Item*>> PairsByToken(std::vector<Item*> i_folderTokens,
                                                  std::vector<Item*> i_files,
                                                  std::vector<std::pair<Item*, Item*>> i_namePairs)
{
    std::sort(i_folderTokens.begin(), i_folderTokens.end());
    std::sort(i_files.begin(), i_files.end());
    std::sort(i_namePairs.begin(), i_namePairs.end(),
              [](auto const& a, auto const& b)
              { return std::pair(a.second, a.first) < std::pair(b.second, b.first); });
    std::vector<std::pair<Item*, Item*>> l_pairs;
    l_pairs.reserve(i_folderTokens.size() * i_files.size() + i_namePairs.size());
    auto l_name = i_namePairs.cbegin();
    for (Item* lp_token : i_folderTokens)
    {
        for (; l_name != i_namePairs.cend() && l_name->second < lp_token; ++l_name)
            l_pairs.push_back(*l_name);
        for (Item* lp_file : i_files)
            l_pairs.emplace_back(lp_file, lp_token);
    }
    l_pairs.insert(l_pairs.end(), l_name, i_namePairs.cend());
    return l_pairs;
}

// Whether a file of this name could be in the index under some letter case: a name
// without separators is its own last path component, so without a lower-case name
// item of its form no path ending in it is indexed. A quick test for the common case
// of a new name; names holding a backslash are always looked up in full.
bool MayBeIndexed(Type* ip_lowercaseNames, QString const& i_name, QByteArray const& i_bytes)
{
    if (i_bytes.contains('\\'))
        return true;
    // Plain ASCII (UTF-8 bytes as long as the name) lowers byte by byte.
    if (i_bytes.size() != i_name.size())
        return bool(ip_lowercaseNames->HasItem(Value(i_name.toLower())));
    std::string l_lower(i_bytes.constData(), std::size_t(i_bytes.size()));
    for (char& l_byte : l_lower)
        if (l_byte >= 'A' && l_byte <= 'Z')
            l_byte = char(l_byte + ('a' - 'A'));
    return bool(ip_lowercaseNames->HasItem(Value(std::move(l_lower))));
}

Item* FirstOf(Item* ip_item, Type* ip_type)
{
    ItemRange const l_items = ip_item->ConnectedItemsOf(ip_type);
    return l_items ? l_items.First() : nullptr;
}
} // namespace

ItemPtr SharedFoldersManager::AddSharedFolder(QString i_path)
{
    Type* const lp_folders = d["shared_folder"];
    if (ItemPtr const l_existing = lp_folders->HasItem(Value(i_path)))
        return l_existing;
    ItemPtr const l_folder = lp_folders->NewItem(Value(i_path));
    int const l_number = GetSettingInt("shared_folder_counter");
    SetSetting("shared_folder_counter", QString::number(l_number + 1));
    l_folder += d["shared_folder_id"]->GetItem(
        Value(QStringLiteral("[%1]%2").arg(l_number).arg(QDir(i_path).dirName())));
    AddSharedFiles(l_folder.AsString(), l_folder.AsString());
    return l_folder;
}

void SharedFoldersManager::AddSharedFiles(QString i_sharedFolder, QString i_folder)
{
    AddSharedFiles(i_sharedFolder, i_folder, false);
}

void SharedFoldersManager::AddSharedFiles(QString i_sharedFolder, QString i_folder, bool i_isLink)
{
    if (!m_foldersBeingAdded.insert(i_folder).second)
        return;
    // A call from outside a walk starts one: each shared folder is walked on its own, so
    // shared folders that overlap each reach their folders.
    bool const l_startsWalk = !m_walk.IsUnderWay();
    if (l_startsWalk)
        m_walk.Start(i_folder);
    else if (m_walk.Enter(i_folder, i_isLink) != FolderWalk::Arrival::First)
    {
        m_foldersBeingAdded.erase(i_folder);
        return;
    }
    Log(LogArea::Shared, 1,
        QStringLiteral("Adding folder %1 as part of sharing %2").arg(i_folder, i_sharedFolder));

    Type* const lp_nameType = d["shared_file_name"];
    Type* const lp_sizeType = d["shared_file_size"];
    Type* const lp_tokenType = d["search_token"];
    Type* const lp_scannedType = d["is_scanned"];
    ItemPtr const l_folder = d["shared_file_folder"]->GetItem(Value(i_folder));
    l_folder += d["shared_folder"]->GetItem(Value(i_sharedFolder));

    // The files indexed here before, by the bytes of their name; whatever is still in
    // `l_old` after the listing has gone. A folder holds one file per name, so a file
    // listed under a name found here is that file.
    ItemSet l_old = l_folder.GetItems("shared_file");
    std::unordered_map<std::string_view, Item*> l_oldByName;
    l_oldByName.reserve(l_old.size());
    for (ItemPtr const& l_file : l_old)
        if (Item* const lp_name = FirstOf(l_file.GetPtr(), lp_nameType))
            l_oldByName.emplace(lp_name->GetValue().GetBytes(), l_file.GetPtr());
    // Worked out when the first file of the folder needs its tokens. The files of a
    // folder are joined to their tokens together once the listing is through: the
    // store connects a long list faster, fetching items ahead.
    FolderTokenItems l_tokens(lp_tokenType);
    std::vector<Item*> l_folderTokens;
    bool l_haveFolderTokens = false;
    std::vector<Item*> l_tokenizedFiles;
    std::vector<std::pair<Item*, Item*>> l_nameTokenPairs;

    FolderFileSizes l_sizes(i_folder);
    QFileInfoList const l_entries =
        QDir(i_folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    for (QFileInfo const& l_entry : l_entries)
    {
        if (!l_entry.isFile())
        {
            if (l_entry.isDir())
                AddSharedFiles(i_sharedFolder, l_entry.absoluteFilePath(), l_entry.isSymLink());
            continue;
        }
        // Left in `l_old`, one indexed before goes too.
        if (m_isPrivateFile && m_isPrivateFile(l_entry))
            continue;
        QString const l_name = l_entry.fileName();
        QByteArray const l_nameBytes = l_name.toUtf8();
        ItemPtr l_file;
        auto const l_known =
            l_oldByName.find(std::string_view(l_nameBytes.constData(), l_nameBytes.size()));
        if (l_known != l_oldByName.end() && l_old.erase(ItemPtr(l_known->second)))
            l_file = l_known->second;
        if (!l_file)
        {
            // A file indexed under the same path but for letter case or doubled
            // separators keeps its place; this one stays out of the index. (Asked
            // before the name item is made, so a skipped file leaves nothing behind.)
            if (MayBeIndexed(mp_lowercaseNames, l_name, l_nameBytes) &&
                GetSharedFileItem(l_entry.absoluteFilePath()))
                continue;
            l_file = l_folder.NewItem("shared_file");
            l_file += lp_nameType->GetItem(Value(l_nameBytes));
            l_file += lp_sizeType->GetItem(Value(l_sizes.Of(l_entry)));
            ++m_filesAdded;
        }
        if (IsMp3Name(l_name) && !l_file->IsConnected(lp_scannedType))
            emit MP3ScanRequired(l_entry.absoluteFilePath());
        // As TokenizeSharedFile, with the folder's tokens worked out once.
        if (!l_file->IsConnected(lp_tokenType))
        {
            if (!l_haveFolderTokens)
            {
                l_folderTokens = l_tokens.Of(i_folder);
                l_haveFolderTokens = true;
            }
            l_tokenizedFiles.push_back(l_file.GetPtr());
            AppendNameTokenPairs(l_file.GetPtr(), l_folderTokens, l_tokens.Of(l_name),
                                 l_nameTokenPairs);
        }
    }
    Item::ConnectAll(PairsByToken(std::move(l_folderTokens), std::move(l_tokenizedFiles),
                                  std::move(l_nameTokenPairs)));

    for (ItemPtr const& l_gone : l_old)
    {
        l_gone.Remove();
        ++m_filesRemoved;
    }
    // Folders below the shared folder that links led to and the walk never got to by their
    // own path go by the first link's path. Taken from here, one at a time, a run of them
    // (each behind a link in the one before) adds nothing to the depth of the calls.
    if (l_startsWalk)
        for (QString l_link = m_walk.TakePutOff(); !l_link.isNull(); l_link = m_walk.TakePutOff())
            AddSharedFiles(i_sharedFolder, l_link, true);
    m_foldersBeingAdded.erase(i_folder);
    m_walk.Leave();
    if (l_startsWalk && m_walk.ReachedAgain() > 0)
        Log(LogArea::Shared, 1,
            QStringLiteral("Skipped %1 folders of sharing %2 reached again through another link, "
                           "the first at %3")
                .arg(m_walk.ReachedAgain())
                .arg(i_sharedFolder, m_walk.FirstReachedAgain()));
}

void SharedFoldersManager::RescanShares()
{
    m_filesAdded = 0;
    m_filesRemoved = 0;
    for (ItemPtr const& l_shared : g("shared_folder"))
    {
        l_shared.Disconnect("shared_file_folder");
        AddSharedFiles(l_shared.AsString(), l_shared.AsString());
    }
    // Folders no walk reached again have gone from the disk, with all their files. They
    // are removed here rather than left to the sweep: a file shares its name item with
    // every equally named file, so a gone file named like one still shared (cover.jpg,
    // 01.mp3) stays reachable through that name, and with it its folder and every other
    // file in that folder.
    ItemSet const l_gone = g("shared_file_folder").NotConnected("shared_folder");
    for (ItemPtr const& l_folder : l_gone)
    {
        ItemSet const l_files = l_folder.GetItems("shared_file");
        m_filesRemoved += static_cast<qint32>(l_files.size());
        l_files.Remove();
    }
    l_gone.Remove();
    // What a removed file or folder leaves behind (names, sizes, tokens, attributes no
    // other file holds) goes with the sweep. A rescan that removed nothing left nothing
    // unreachable, and sweeping the whole store then would cost several times the walk.
    if (m_filesRemoved > 0 || !l_gone.empty())
        d.RemoveDisconnectedItems();
    emit SharedFilesRescanned(m_filesAdded, m_filesRemoved);
}

void SharedFoldersManager::SetPrivateFileTest(std::function<bool(QFileInfo const&)> i_isPrivate)
{
    m_isPrivateFile = std::move(i_isPrivate);
}

void SharedFoldersManager::Init()
{
    RescanShares();
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr i_file)
{
    // A file's folder and name never change and its tokens come all in one call, so a
    // file that has any token has them all; rescans then cost no token work. Files
    // loaded from the store file have none yet and get them at the start-up rescan.
    Type* const lp_tokenType = d["search_token"];
    if (i_file->IsConnected(lp_tokenType))
        return;
    FolderTokenItems l_tokens(lp_tokenType);
    std::vector<Item*> const l_folderTokens = l_tokens.Of(i_file["shared_file_folder"].AsString());
    std::vector<std::pair<Item*, Item*>> l_pairs;
    AppendTokenPairs(i_file.GetPtr(), l_folderTokens,
                     l_tokens.Of(i_file["shared_file_name"].AsString()), l_pairs);
    Item::ConnectAll(l_pairs);
}

bool SharedFoldersManager::IsSearchTokenSeparator(QChar i_char)
{
    char16_t const l_code = i_char.unicode();
    if ((l_code >= u'0' && l_code <= u'9') || (l_code >= u'a' && l_code <= u'z') ||
        (l_code >= u'A' && l_code <= u'Z'))
        return false;
    return l_code < 0x80 || l_code > 0xFF;
}
