// Answering the searches of other users from the token index. Nothing here touches the
// disk: one store lookup per search word, one intersection that starts from the word
// with the fewest files, then one pass over the candidates.

#include "shares/SharedFoldersManager.h"

#include "net/peer/DNetManager.h"
#include "net/peer/PeerMessenger.h"
#include "net/records/SearchParser.h"
#include "shares/SharedFileRecords.h"
#include "store/Log.h"
#include "store/Settings.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <vector>

namespace
{
constexpr std::uint32_t c_fileSearchResult = 9;
// A search that more files answer than this gets no reply at all.
constexpr std::size_t c_maxReplyFiles = 200;

bool ContainsAny(QString const& i_text, SearchParser::TokenSet const& i_tokens)
{
    for (QString const& l_token : i_tokens)
        if (i_text.contains(l_token))
            return true;
    return false;
}

bool ContainsAll(QString const& i_text, SearchParser::TokenSet const& i_tokens)
{
    for (QString const& l_token : i_tokens)
        if (!i_text.contains(l_token))
            return false;
    return true;
}

// Whether a folder item lies under one of the shared folders the searcher may see;
// asked once per folder, however many of its files match.
class FolderVisibility
{
public:
    explicit FolderVisibility(ItemSet const& i_visible)
        : m_visible(i_visible), mp_sharedFolderType(d["shared_folder"])
    {
    }

    bool IsVisible(ItemPtr i_folder)
    {
        auto const [l_it, l_isNew] = m_known.try_emplace(i_folder.GetPtr(), false);
        if (l_isNew)
            for (ItemPtr const& l_shared : i_folder->ConnectedItemsOf(mp_sharedFolderType))
                if (m_visible.count(l_shared))
                {
                    l_it->second = true;
                    break;
                }
        return l_it->second;
    }

private:
    ItemSet const& m_visible;
    Type* mp_sharedFolderType;
    std::unordered_map<Item*, bool> m_known;
};
} // namespace

void SharedFoldersManager::SetUploadQueueState(std::function<bool()> i_isFreeToUpload,
                                               std::function<std::uint32_t()> i_queuedUploadCount)
{
    m_isFreeToUpload = std::move(i_isFreeToUpload);
    m_queuedUploadCount = std::move(i_queuedUploadCount);
}

void SharedFoldersManager::OnDNetSearchRequest(QString i_user, unsigned int i_req,
                                               QString i_searchText)
{
    // The own searches come back through the tree too.
    if (i_user == GetSetting("username"))
        return;
    ProcessSearch(i_user, i_req, i_searchText);
}

void SharedFoldersManager::ProcessSearch(QString i_user, unsigned int i_req, QString i_searchText)
{
    SearchParser l_parser;
    if (!l_parser.SetSearchText(i_searchText))
        return;

    // Every search word must be a token of some shared path. The candidates are the
    // files of all the words: the smallest set walked in place and each file looked up
    // in the others, which is the intersection the store would copy out, without the
    // copy (a common word has as many files as the share).
    Type* const lp_tokenType = d["search_token"];
    Type* const lp_fileType = d["shared_file"];
    std::vector<ItemRange> l_fileSets;
    for (QString const& l_token : l_parser.GetIncludedTokenSet())
    {
        ItemPtr const l_item = lp_tokenType->HasItem(Value(l_token));
        ItemRange const l_files = l_item ? l_item->ConnectedItemsOf(lp_fileType) : nullptr;
        if (!l_files)
            return;
        l_fileSets.push_back(l_files);
    }
    if (l_fileSets.empty())
        return;
    std::stable_sort(l_fileSets.begin(), l_fileSets.end(),
                     [](ItemRange const& a, ItemRange const& b) { return a.size() < b.size(); });
    ItemSet const l_visibleShares = GetUserSharedFolders(i_user);
    if (l_visibleShares.empty())
        return;

    // Exclusions and part words are tested on the file name only; the search words
    // above matched anywhere in the path. Past the limit the answer is none, so the
    // pass ends there.
    SharedFileRecords::FileTypes const l_types;
    SearchParser::TokenSet const& l_excluded = l_parser.GetExcludedTokenSet();
    SearchParser::TokenSet const& l_parts = l_parser.GetIncludedPartTokenSet();
    bool const l_testsName = !l_excluded.empty() || !l_parts.empty();
    FolderVisibility l_visibility(l_visibleShares);
    std::vector<ItemPtr> l_answered;
    for (ItemPtr const& l_file : l_fileSets.front())
    {
        if (!std::all_of(l_fileSets.begin() + 1, l_fileSets.end(),
                         [&](ItemRange const& i_files) { return i_files.count(l_file) > 0; }))
            continue;
        if (l_testsName)
        {
            QString const l_name = l_file["shared_file_name"].AsString().toLower();
            if (ContainsAny(l_name, l_excluded) || !ContainsAll(l_name, l_parts))
                continue;
        }
        if (!l_visibility.IsVisible(l_file["shared_file_folder"]))
            continue;
        l_answered.push_back(l_file);
        if (l_answered.size() > c_maxReplyFiles)
            return;
    }
    if (l_answered.empty())
        return;

    // Ordered by name bytes; of two files with one name the later one stands.
    std::map<std::string, FileInfo> l_records;
    for (ItemPtr const& l_file : l_answered)
    {
        std::string l_path = SharedFileRecords::ReplyPathOf(l_file, l_types);
        l_records.insert_or_assign(l_path,
                                   SharedFileRecords::Record(l_file, l_path, l_types, true));
    }

    MemStream l_body;
    l_body.Write(GetSetting("username"));
    l_body.Write(i_req);
    l_body.Write(static_cast<unsigned int>(l_records.size()));
    for (auto const& l_entry : l_records)
        l_body.Write(l_entry.second);
    l_body.Write(static_cast<unsigned char>(m_isFreeToUpload && m_isFreeToUpload() ? 1 : 0));
    l_body.Write(static_cast<unsigned int>(GetSettingInt("upload_speed")));
    l_body.Write(static_cast<unsigned int>(m_queuedUploadCount ? m_queuedUploadCount() : 0));
    // The attribute-name table, always empty.
    l_body.Write(0u);

    MemStream l_message;
    if (!SharedFileRecords::AppendCompressed(c_fileSearchResult, l_body, l_message))
        return;
    Log(LogArea::Search, 1,
        QStringLiteral("Sending search results to user %1 for search string %2")
            .arg(i_user, i_searchText));
    if (peerMessenger)
        peerMessenger->SendMessage(i_user, l_message);
}

void SharedFoldersManager::ConnectSearches()
{
    if (dnetManager)
        connect(dnetManager, &DNetManager::DNetSearchRequest, this,
                &SharedFoldersManager::OnDNetSearchRequest);
}
