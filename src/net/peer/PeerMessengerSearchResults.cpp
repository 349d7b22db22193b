#include "net/peer/PeerMessenger.h"

#include "net/peer/InflateStream.h"
#include "net/peer/PeerLog.h"
#include "net/peer/SearchReply.h"
#include "net/peer/SearchResultsStore.h"

#include <cstdint>

// Share lists and search replies: their bodies are one zlib stream each. Nothing of such
// a message is emitted or stored before the whole stream has inflated soundly within
// the cap; a body that does not is refused like any malformed message.

namespace
{
// Records (folders and files together) one share list may hold. A list that claims more
// is refused before they are decoded, so one frame costs a bounded amount.
constexpr std::uint64_t c_maxShareListRecords = 2000000;

enum class ShareListResult
{
    Read,
    Malformed,
    TooLarge
};

// The share map as the generic map and set readers would take it, counting the records
// announced before reading them.
ShareListResult ReadShareMap(InputStream& io_body, FileInfoMap& o_share)
{
    std::uint32_t l_folders = 0;
    if (!io_body.ReadCount(l_folders))
        return ShareListResult::Malformed;
    std::uint64_t l_records = l_folders;
    for (std::uint32_t l_index = 0; l_index < l_folders; ++l_index)
    {
        std::string l_folder;
        std::uint32_t l_count = 0;
        if (!io_body.Read(l_folder) || !io_body.ReadCount(l_count))
            return ShareListResult::Malformed;
        l_records += l_count;
        if (l_records > c_maxShareListRecords)
            return ShareListResult::TooLarge;
        std::set<FileInfo> l_files;
        for (std::uint32_t l_file = 0; l_file < l_count; ++l_file)
        {
            FileInfo l_record;
            if (!l_record.Read(io_body))
                return ShareListResult::Malformed;
            l_files.insert(std::move(l_record));
        }
        o_share.insert_or_assign(std::move(l_folder), std::move(l_files));
    }
    return ShareListResult::Read;
}
} // namespace

bool PeerMessenger::HandleShareList(QString const& i_user, MemStream& i_message)
{
    // Only a list this client asked for is worth decoding, and one per request.
    if (m_pendingShareLists.erase(i_user) == 0)
    {
        PeerLog(1, QString("Share list from user %1 was not asked for, dropped unread").arg(i_user),
                d["user"]->HasItem(Value(i_user)));
        return true;
    }
    InflateStream l_body(i_message.GetReadBuffer(), i_message.GetPendingReadLength(),
                         c_maxInflatedBody);
    FileInfoMap l_share;
    ShareListResult const l_result = ReadShareMap(l_body, l_share);
    if (l_result == ShareListResult::TooLarge)
        PeerLog(1,
                QString("Share list from user %1 holds more than %2 records, refused")
                    .arg(i_user, QString::number(c_maxShareListRecords)),
                d["user"]->HasItem(Value(i_user)));
    if (l_result != ShareListResult::Read)
        return false;
    // The table is optional: a list without a complete one stands, with none.
    AttributeTranslationTable l_attributeNames;
    if (!l_body.Read(l_attributeNames))
        l_attributeNames.clear();
    if (!l_body.Finish())
        return false;
    emit UserShare(i_user, l_share, l_attributeNames);
    return true;
}

bool PeerMessenger::HandleSearchResults(QString const& i_user, MemStream& i_message)
{
    InflateStream l_body(i_message.GetReadBuffer(), i_message.GetPendingReadLength(),
                         c_maxInflatedBody);
    QString l_replyUser;
    unsigned int l_ticket = 0;
    // A reply signed with another name is not this connection's to give.
    if (!l_body.Read(l_replyUser) || !l_body.Read(l_ticket) || l_replyUser != i_user)
        return false;

    // A search that is gone (or never was ours) leaves nothing to store: the rest of
    // the body is not worth inflating.
    ItemPtr const l_request = d["search_request"]->HasItem(Value(l_ticket));
    if (!l_request)
        return true;

    SearchReply l_reply;
    if (!l_reply.ReadFiles(l_body))
        return false;
    l_reply.ReadTail(l_body);
    if (!l_body.Finish())
        return false;

    ItemPtr const l_results = SearchResultsStore().Store(l_request, i_user, l_reply);
    if (l_results)
        emit SearchResults(l_results);
    return true;
}
