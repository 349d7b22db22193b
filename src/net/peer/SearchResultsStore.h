#pragma once

// Puts one user's reply to one of this client's searches into the store: a
// `search_results` item under the search, with one `search_result` per kept file.
//
// A file is kept when its path matches the search text and the same user has not
// already reported the same file name in the same folder, in any earlier reply to any
// search. Name, folder, size and attribute items are shared by value between results.
// One reply adds at most a bounded number of files, and one search holds at most a
// bounded number in all; files past either bound are dropped (logged once per reply).
//
// GUI thread only.

#include "net/peer/SearchReply.h"
#include "store/Data.h"

#include <QString>

#include <cstddef>

class SearchResultsStore
{
public:
    // Far above what any client sends in one reply (this one sends at most 200), far
    // below what a reply can carry.
    static constexpr std::size_t c_maxFilesPerReply = 5000;
    static constexpr std::size_t c_maxFilesPerSearch = 100000;

    // Needs the peer network's item types.
    explicit SearchResultsStore(std::size_t i_maxFilesPerReply = c_maxFilesPerReply,
                                std::size_t i_maxFilesPerSearch = c_maxFilesPerSearch);

    // Stores what it keeps of the reply of the user to the search request. Returns the
    // new `search_results` item, fully linked, or null when no file was kept (nothing
    // is then left behind).
    ItemPtr Store(ItemPtr i_request, QString const& i_userName, SearchReply const& i_reply);

private:
    // Whether the user already has a result with this name item and folder item.
    bool IsReportedBy(Item* ip_name, Item* ip_folder, Item* ip_user) const;
    // Links the result to the store items of the attribute pairs it knows.
    void LinkAttributes(ItemPtr i_result, AttributeMap const& i_attributes) const;
    // The files the search's replies hold so far.
    std::size_t CountFiles(ItemPtr i_request) const;

    std::size_t m_maxFilesPerReply;
    std::size_t m_maxFilesPerSearch;

    Type* mp_userType;
    Type* mp_resultsType;
    Type* mp_resultType;
    Type* mp_nameType;
    Type* mp_folderType;
    Type* mp_sizeType;
    Type* mp_bitrateType;
    Type* mp_lengthType;
    Type* mp_bitrateModeType;
};
