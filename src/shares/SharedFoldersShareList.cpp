// The own share as others browse it: the whole list a user may see (answered to peer
// message 4 with message 5) and the files of one folder (message 36, answered with
// 37). Both are read from the index alone; no file on disk is touched.

#include "shares/SharedFoldersManager.h"

#include "net/peer/PeerMessenger.h"
#include "net/records/SharedFolderInfo.h"
#include "shares/SharedFileRecords.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"

#include <map>
#include <vector>

namespace
{
constexpr std::uint32_t c_sharedFileList = 5;
constexpr std::uint32_t c_sharedFilesInFolder = 37;

// The folder items under the user's visible shared folders, each once.
ItemSet VisibleFolderItems(ItemSet const& i_sharedFolders)
{
    Type* const lp_folderType = d["shared_file_folder"];
    ItemSet l_folders;
    for (ItemPtr const& l_shared : i_sharedFolders)
    {
        ItemRange const l_below = l_shared->ConnectedItemsOf(lp_folderType);
        l_folders.insert(l_below.begin(), l_below.end());
    }
    return l_folders;
}
} // namespace

void SharedFoldersManager::GetSharedFilesAsUserShare(QString i_user, FileInfoMap& io_share,
                                                     AttributeTranslationTable& /*io_table*/)
{
    SharedFileRecords::FileTypes const l_types;
    Type* const lp_fileType = d["shared_file"];
    std::vector<FileInfo> l_records;
    for (ItemPtr const& l_folder : VisibleFolderItems(GetUserSharedFolders(i_user)))
    {
        // Folders without files are listed too.
        std::set<FileInfo>& l_files =
            io_share[StringReplace(l_folder->GetValue().GetBytes(), "/", "\\")];
        ItemRange const l_folderFiles = l_folder->ConnectedItemsOf(lp_fileType);
        if (!l_folderFiles)
            continue;
        // Sorted first, the set is filled from the end in one pass of hinted inserts.
        l_records.clear();
        l_records.reserve(l_folderFiles.size());
        for (ItemPtr const& l_file : l_folderFiles)
            l_records.push_back(SharedFileRecords::Record(
                l_file, SharedFileRecords::NameOf(l_file, l_types), l_types, true));
        std::stable_sort(l_records.begin(), l_records.end());
        for (FileInfo& l_record : l_records)
            l_files.emplace_hint(l_files.end(), std::move(l_record));
    }
}

MemStream SharedFoldersManager::GetSharedFilesMessage(QString i_user)
{
    Log(LogArea::Shared, 1, QStringLiteral("Shared file list requested by user %1").arg(i_user));
    FileInfoMap l_share;
    AttributeTranslationTable l_table;
    GetSharedFilesAsUserShare(i_user, l_share, l_table);

    MemStream l_body;
    l_body.Write(l_share);
    l_body.Write(l_table);
    MemStream l_message;
    if (!SharedFileRecords::AppendCompressed(c_sharedFileList, l_body, l_message))
        Log(LogArea::Shared, 1,
            QStringLiteral("Could not compress the shared file list for user %1, not sending it")
                .arg(i_user));
    return l_message;
}

void SharedFoldersManager::OnFilesInFoldersRequested(QString i_user, unsigned int i_req,
                                                     QString i_folder)
{
    // Only the exact path of a folder the user may see is answered: no case folding, no
    // trailing separator, and never a word back about folders that are not.
    QString const l_localPath = QString(i_folder).replace(QLatin1Char('\\'), QLatin1Char('/'));
    ItemSet const l_visible =
        GetUserSharedFolders(i_user).Connected("shared_file_folder", Value(l_localPath));
    if (l_visible.empty())
        return;
    ItemPtr const l_folder = d["shared_file_folder"]->HasItem(Value(l_localPath));

    // Bare names and sizes of the files directly in the folder, no attributes.
    SharedFileRecords::FileTypes const l_types;
    std::map<QString, SharedFolderInfo> l_contents;
    SharedFolderInfo& l_entry = l_contents[i_folder];
    for (ItemPtr const& l_file : l_folder.GetItems("shared_file"))
        l_entry.m_files.insert(SharedFileRecords::Record(
            l_file, SharedFileRecords::NameOf(l_file, l_types), l_types, false));

    MemStream l_body;
    l_body.Write(i_req);
    l_body.Write(i_folder);
    l_body.Write(l_contents);
    MemStream l_message;
    if (!SharedFileRecords::AppendCompressed(c_sharedFilesInFolder, l_body, l_message))
    {
        Log(LogArea::Shared, 1,
            QStringLiteral(
                "Could not compress the contents of folder %1 for user %2, not sending them")
                .arg(i_folder, i_user));
        return;
    }
    if (peerMessenger)
        peerMessenger->SendMessage(i_user, l_message);
}

void SharedFoldersManager::ConnectAnswers()
{
    // A share index built without the peer network (its own tests) answers nothing.
    if (peerMessenger)
    {
        connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, this,
                &SharedFoldersManager::OnFilesInFoldersRequested);
        peerMessenger->SetShareListProvider([this](QString const& i_user)
                                            { return GetSharedFilesMessage(i_user); });
    }
    ConnectSearches();
}

void SharedFoldersManager::DisconnectAnswers()
{
    if (peerMessenger)
        peerMessenger->SetShareListProvider(nullptr);
}
