#include "ui/search/SearchResultDownload.h"

#include "transfers/TransferQueueManager.h"

#include <QIcon>
#include <QTreeWidgetItem>

namespace
{
int const c_fileColumn = 4;
} // namespace

ItemPtr SearchResultDownload::Queue(ItemPtr i_result, ItemPtr i_searchText)
{
    if (!transferQueueManager || !i_result)
        return ItemPtr();
    ItemPtr const l_entry = transferQueueManager->AddDownload(
        i_result["search_results"]["user"].AsString(), i_result["search_result_file_name"].AsStdString(),
        i_result["search_result_file_folder"].AsStdString(), i_result["file_size"].AsInt64(), 0);
    if (l_entry && i_searchText)
        l_entry += i_searchText;
    if (auto* const lp_row = i_result["search_result_node"].AsPtr<QTreeWidgetItem>())
        lp_row->setIcon(c_fileColumn, QIcon(QStringLiteral(":/icons/download_icon")));
    return l_entry;
}

ItemPtr SearchResultDownload::SearchTextOf(ItemPtr i_result)
{
    return i_result["search_results"]["search_request"]["search_request_text"];
}
