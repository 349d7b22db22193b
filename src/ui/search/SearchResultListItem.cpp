#include "ui/search/SearchResultListItem.h"

#include <QTreeWidget>

namespace
{
int const c_freeColumn = 1;
int const c_speedColumn = 2;
int const c_fileColumn = 4;

double Speed(QTreeWidgetItem const& i_row)
{
    return i_row.text(c_speedColumn).toDouble();
}
} // namespace

SearchResultListItem::SearchResultListItem(QTreeWidget* ip_tree) : QTreeWidgetItem(ip_tree)
{
}

SearchResultListItem::SearchResultListItem(QTreeWidgetItem* ip_parent) : QTreeWidgetItem(ip_parent)
{
}

SearchResultListItem::~SearchResultListItem() = default;

bool SearchResultListItem::operator<(QTreeWidgetItem const& i_other) const
{
    QTreeWidget const* const lp_tree = treeWidget();
    int const l_column = lp_tree ? lp_tree->sortColumn() : 0;

    if (l_column == c_freeColumn)
    {
        QString const l_free = text(c_freeColumn);
        QString const l_otherFree = i_other.text(c_freeColumn);
        if (l_free == l_otherFree)
        {
            double const l_speed = Speed(*this);
            double const l_otherSpeed = Speed(i_other);
            if (l_speed != l_otherSpeed)
                return l_speed < l_otherSpeed;
            return FallbackLess(i_other);
        }
        if (l_free == QLatin1String("Y"))
            return false;
        if (l_otherFree == QLatin1String("Y"))
            return true;
        // A longer queue is the lesser row, so shorter queues come first descending.
        return l_free.toInt() > l_otherFree.toInt();
    }
    if (l_column == c_speedColumn)
    {
        double const l_speed = Speed(*this);
        double const l_otherSpeed = Speed(i_other);
        if (l_speed != l_otherSpeed)
            return l_speed < l_otherSpeed;
    }
    return FallbackLess(i_other);
}

bool SearchResultListItem::FallbackLess(QTreeWidgetItem const& i_other) const
{
    return i_other.text(c_fileColumn) < text(c_fileColumn);
}
