#pragma once

// Queues one file of a search result as a download: with the user and folder of that
// very result (rows of several users and folders may be queued at once), linked to the
// text of the search that found it, and marks its row with the download icon.

#include "store/Data.h"

namespace SearchResultDownload
{
// The entry queued (or already queued) for the `search_result`; null without a
// transfer manager. i_searchText: the `search_request_text` item to link, or null.
ItemPtr Queue(ItemPtr i_result, ItemPtr i_searchText);

// The text item of the search that brought the result, or null.
ItemPtr SearchTextOf(ItemPtr i_result);
} // namespace SearchResultDownload
