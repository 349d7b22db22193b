#include "ui/transfers/CompleteDownloadItem.h"

#include "store/Data.h"

#include <QDateTime>

namespace
{
QDateTime CompletionTime(QTreeWidgetItem const* ip_row)
{
    ItemPtr const l_node = d["complete_download_node"]->HasItem(Value(ip_row));
    return QDateTime::fromString(l_node["complete_download"]["complete_download_completion_time"].AsString(),
                                 Qt::TextDate);
}
} // namespace

bool CompleteDownloadItem::operator<(QTreeWidgetItem const& i_other) const
{
    QDateTime const l_mine = CompletionTime(this);
    QDateTime const l_theirs = CompletionTime(&i_other);
    if (!l_mine.isValid() || !l_theirs.isValid())
        return !l_mine.isValid() && l_theirs.isValid();
    return l_mine < l_theirs;
}
