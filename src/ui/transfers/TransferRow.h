#pragma once

// A row of the transfer trees. Besides its cells it keeps what the form needs to show
// sums without walking the rows below: a folder or user row the tally of the transfers
// under it, a file row the figures its transfer last added to its parents' tallies.
// What a row stands for is never read from here; the node items say that.

#include "ui/transfers/TransferTally.h"

#include <QTreeWidgetItem>

class TransferRow : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    TransferTally m_tally;
    TransferFigures m_figures;
};
