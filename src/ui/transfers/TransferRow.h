#pragma once

// A row of the transfer trees. Besides its cells it keeps what the form needs to show
// sums without walking the rows below: a folder or user row the tally of the transfers
// under it, a file row the figures its transfer last added to its parents' tallies.
// What a row stands for is never read from here; the node items say that.

#include "ui/transfers/TransferTally.h"

#include <QTreeWidgetItem>

#include <optional>

class TransferRow : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    TransferTally m_tally;
    TransferFigures m_figures;
    // A file row: the position its bar shows, that of its transfer's last report; none
    // before the first. The position cell goes when a transfer stops while the bar stays,
    // so the sums above add this, not the cell, for the parents to show what the rows do.
    std::optional<long long> m_shownPosition;
};
