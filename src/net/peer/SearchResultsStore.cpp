#include "net/peer/SearchResultsStore.h"

#include "net/records/SearchParser.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"

#include <algorithm>
#include <cstdint>

namespace
{
// Attribute codes of a file's pairs.
constexpr std::uint32_t c_bitrate = 0;
constexpr std::uint32_t c_lengthSeconds = 1;
constexpr std::uint32_t c_variableBitrate = 2;
} // namespace

SearchResultsStore::SearchResultsStore(std::size_t i_maxFilesPerReply,
                                       std::size_t i_maxFilesPerSearch)
    : m_maxFilesPerReply(i_maxFilesPerReply), m_maxFilesPerSearch(i_maxFilesPerSearch),
      mp_userType(d["user"]), mp_resultsType(d["search_results"]), mp_resultType(d["search_result"]),
      mp_nameType(d["search_result_file_name"]), mp_folderType(d["search_result_file_folder"]),
      mp_sizeType(d["file_size"]), mp_bitrateType(d["bitrate"]), mp_lengthType(d["length_seconds"]),
      mp_bitrateModeType(d["bitrate_mode"])
{
}

ItemPtr SearchResultsStore::Store(ItemPtr i_request, QString const& i_userName,
                                  SearchReply const& i_reply)
{
    // The search text decides what the user sees, whatever the replying client thought
    // matched. A text that fails to parse keeps the tokens it produced up to the fault.
    SearchParser l_parser;
    l_parser.SetSearchText(i_request["search_request_text"].AsString());

    ItemPtr const l_user = mp_userType->GetItem(Value(i_userName));
    ItemPtr const l_results = mp_resultsType->NewItem();
    std::size_t const l_held = CountFiles(i_request);
    std::size_t const l_room =
        std::min(m_maxFilesPerReply, m_maxFilesPerSearch - std::min(m_maxFilesPerSearch, l_held));
    std::size_t l_kept = 0;

    for (FileInfo const& l_file : i_reply.m_files)
    {
        if (l_kept == l_room)
        {
            Log(LogArea::Search, 1,
                QString("Reply from user %1 to search %2 passes the limits of %3 files per "
                        "reply and %4 per search, the files past them dropped")
                    .arg(i_userName, i_request.AsString(), QString::number(m_maxFilesPerReply),
                         QString::number(m_maxFilesPerSearch)),
                l_user);
            break;
        }
        if (!l_parser.IsMatch(ToQString(l_file.m_name)))
        {
            if (IsLogHeard())
                Log(LogArea::Search, 1,
                    QStringLiteral("Filtered out search result %1 from user %2")
                        .arg(ToQString(l_file.m_name), i_userName));
            continue;
        }
        ItemPtr const l_name = mp_nameType->GetItem(Value(GetFileName(l_file.m_name)));
        ItemPtr const l_folder = mp_folderType->GetItem(Value(GetFolder(l_file.m_name)));
        // The new results are linked to the user only below, so a path repeated inside
        // this reply is not caught here.
        if (IsReportedBy(l_name.GetPtr(), l_folder.GetPtr(), l_user.GetPtr()))
            continue;

        ItemPtr const l_result = mp_resultType->NewItem();
        LinkAttributes(l_result, l_file.m_attributes);
        l_result += l_results;
        l_result += l_name;
        l_result += l_folder;
        l_result += mp_sizeType->GetItem(Value(l_file.m_size));
        ++l_kept;
    }

    if (l_kept == 0)
    {
        l_results.Remove();
        return ItemPtr();
    }
    l_results += i_request;
    l_results += l_user;
    l_results += d["search_results_user_available"]->GetItem(
        Value(i_reply.m_hasFreeSlot ? "yes" : "no"));
    l_results += d["search_results_user_speed"]->GetItem(Value(i_reply.m_uploadSpeed));
    l_results += d["search_results_uploads_in_queue"]->GetItem(Value(i_reply.m_queueLength));
    return l_results;
}

std::size_t SearchResultsStore::CountFiles(ItemPtr i_request) const
{
    std::size_t l_count = 0;
    if (auto const lp_replies = i_request->ConnectedItemsOf(mp_resultsType))
        for (ItemPtr const& l_reply : *lp_replies)
            if (auto const lp_files = l_reply->ConnectedItemsOf(mp_resultType))
                l_count += lp_files->size();
    return l_count;
}

bool SearchResultsStore::IsReportedBy(Item* ip_name, Item* ip_folder, Item* ip_user) const
{
    ItemRange const l_byName = ip_name->ConnectedItemsOf(mp_resultType);
    ItemRange const l_byFolder = ip_folder->ConnectedItemsOf(mp_resultType);
    if (!l_byName || !l_byFolder)
        return false;
    // A popular name or a big folder has many results; walk the smaller side only.
    bool const l_nameSmaller = l_byName.size() <= l_byFolder.size();
    ItemRange const& l_walked = l_nameSmaller ? l_byName : l_byFolder;
    ItemRange const& l_other = l_nameSmaller ? l_byFolder : l_byName;
    for (ItemPtr const& l_result : l_walked)
    {
        if (!l_other.count(l_result))
            continue;
        ItemRange const l_owners = l_result->ConnectedItemsOf(mp_resultsType);
        for (ItemPtr const& l_owner : l_owners)
            if (l_owner->IsConnected(ip_user))
                return true;
    }
    return false;
}

void SearchResultsStore::LinkAttributes(ItemPtr i_result, AttributeMap const& i_attributes) const
{
    for (AttributeMap::Pair const& l_pair : i_attributes.m_pairs)
    {
        int const l_signed = static_cast<int>(static_cast<std::int32_t>(l_pair.second));
        switch (l_pair.first)
        {
        case c_bitrate:
            i_result += mp_bitrateType->GetItem(Value(l_signed));
            break;
        case c_lengthSeconds:
            i_result += mp_lengthType->GetItem(Value(l_signed));
            break;
        case c_variableBitrate:
            i_result += mp_bitrateModeType->GetItem(Value(l_pair.second == 0 ? "cbr" : "vbr"));
            break;
        default:
            break; // carried, and of no use here
        }
    }
}
