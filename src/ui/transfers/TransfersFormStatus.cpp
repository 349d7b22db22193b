#include "ui/transfers/TransfersForm.h"

#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "ui/transfers/TransferRow.h"
#include "ui/transfers/TransferTexts.h"
#include "ui/transfers/TransferTreeKind.h"
#include "ui_TransfersForm.h"
#include "widgets/UIFunctions.h"

#include <QBrush>
#include <QColor>
#include <QProgressBar>
#include <QTabWidget>

namespace
{
int const c_statusColumn = 3;
int const c_progressColumn = 4;
int const c_timeLeftColumn = 5;
int const c_speedColumn = 6;
int const c_placeColumn = 8;

char const* ColorSettingOf(QString const& i_status)
{
    struct Choice
    {
        char const* mp_status;
        char const* mp_setting;
    };
    static Choice const c_choices[] = {{"complete", "color_transfer_complete"},
                                       {"downloading", "color_transfer_in_progress"},
                                       {"uploading", "color_transfer_in_progress"},
                                       {"connecting", "color_transfer_in_progress"},
                                       {"queued", "color_transfer_queued"},
                                       {"denied", "color_transfer_failed"},
                                       {"aborted", "color_transfer_failed"},
                                       {"local error", "color_transfer_failed"}};
    for (Choice const& l_choice : c_choices)
        if (i_status == QLatin1String(l_choice.mp_status))
            return l_choice.mp_setting;
    return "color_transfer_other";
}

// The row's progress bar, made on first use.
QProgressBar* BarOf(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row)
{
    auto* lp_bar = qobject_cast<QProgressBar*>(ip_tree->itemWidget(ip_row, c_progressColumn));
    if (!lp_bar)
    {
        lp_bar = new QProgressBar();
        lp_bar->setMaximumHeight(14);
        ip_tree->setItemWidget(ip_row, c_progressColumn, lp_bar);
    }
    return lp_bar;
}

void ShowBar(QTreeWidget* ip_tree, QTreeWidgetItem* ip_row, long long i_done, double i_percent)
{
    QProgressBar* const lp_bar = BarOf(ip_tree, ip_row);
    lp_bar->setFormat(TransferTexts::ProgressText(i_done, i_percent));
    lp_bar->setValue(TransferTexts::BarValue(i_percent));
}

// The value of a live 64-bit or 32-bit cell of the entry, 0 without one.
template <class T> T CellValue(ItemPtr i_entry, char const* ip_type)
{
    T const* const lp_value = i_entry[ip_type].AsPtr<T>();
    return lp_value ? *lp_value : T(0);
}

// A brush for each column of the row.
void Paint(QTreeWidgetItem* ip_row, QColor const& i_color)
{
    int const l_columns = ip_row->treeWidget() ? ip_row->treeWidget()->columnCount() : ip_row->columnCount();
    QBrush const l_brush(i_color, Qt::SolidPattern);
    for (int l_column = 0; l_column < l_columns; ++l_column)
        ip_row->setForeground(l_column, l_brush);
}

TransferRow* AsRow(QTreeWidgetItem* ip_row)
{
    return static_cast<TransferRow*>(ip_row);
}
} // namespace

TransferRow* TransfersForm::FileRowOf(TransferTreeKind const& i_kind, ItemPtr i_entry) const
{
    return AsRow(i_entry[i_kind.mp_fileNode].AsPtr<QTreeWidgetItem>());
}

TransferFigures TransfersForm::FiguresOf(TransferTreeKind const& i_kind, ItemPtr i_entry) const
{
    return FiguresOf(i_kind, i_entry, FileRowOf(i_kind, i_entry));
}

TransferFigures TransfersForm::FiguresOf(TransferTreeKind const& i_kind, ItemPtr i_entry,
                                         TransferRow const* ip_row) const
{
    long long const l_size = i_kind.m_isDownloads ? i_entry["file_size"].AsInt64()
                                                  : i_entry["shared_file"]["shared_file_size"].AsInt64();
    // Once the row shows a position, the parents add that one: the cell goes when the
    // transfer stops, and a new transfer's cell may start anywhere (resumed, or at 0 with
    // the old partial set aside) while the row shows the last report until the next.
    bool const l_shown = ip_row && ip_row->m_shownPosition;
    long long const l_position =
        l_shown ? *ip_row->m_shownPosition : CellValue<qint64>(i_entry, i_kind.mp_position);
    return TransferFigures::Of(i_entry[i_kind.mp_status].AsString(),
                               QString::fromLatin1(i_kind.mp_runningText), l_position, l_size,
                               l_shown);
}

void TransfersForm::Retally(TransferTreeKind const& i_kind, ItemPtr i_entry)
{
    if (TransferRow* const lp_row = FileRowOf(i_kind, i_entry))
        Retally(i_kind, i_entry, lp_row);
}

void TransfersForm::Retally(TransferTreeKind const& i_kind, ItemPtr i_entry, TransferRow* ip_row)
{
    TransferFigures const l_figures = FiguresOf(i_kind, i_entry, ip_row);
    if (l_figures == ip_row->m_figures)
        return;
    for (QTreeWidgetItem* lp_parent = ip_row->parent(); lp_parent; lp_parent = lp_parent->parent())
    {
        AsRow(lp_parent)->m_tally.Remove(ip_row->m_figures);
        AsRow(lp_parent)->m_tally.Add(l_figures);
    }
    ip_row->m_figures = l_figures;
}

void TransfersForm::OnDownloadPositionLinked(ConnectionInfo& i_info)
{
    Retally(*mp_downloads, i_info.first);
}

void TransfersForm::OnUploadPositionLinked(ConnectionInfo& i_info)
{
    Retally(*mp_uploads, i_info.first);
}

void TransfersForm::OnDownloadSizeLinked(ConnectionInfo& i_info)
{
    Retally(*mp_downloads, i_info.first);
}

void TransfersForm::OnSharedFileSizeLinked(ConnectionInfo& i_info)
{
    for (ItemPtr const& l_entry : i_info.first.GetItems("upload_entry"))
        Retally(*mp_uploads, l_entry);
}

void TransfersForm::OnDownloadEntryStatusChange(ConnectionInfo& i_info)
{
    OnEntryStatusChange(*mp_downloads, i_info.first, i_info.second);
}

void TransfersForm::OnUploadEntryStatusChange(ConnectionInfo& i_info)
{
    OnEntryStatusChange(*mp_uploads, i_info.first, i_info.second);
}

void TransfersForm::OnEntryStatusChange(TransferTreeKind const& i_kind, ItemPtr i_entry, ItemPtr i_status)
{
    TransferRow* const lp_row = FileRowOf(i_kind, i_entry);
    if (!lp_row)
        return;
    Retally(i_kind, i_entry, lp_row);
    QString const l_status = i_status.AsString();
    SetItemColorByStatus(lp_row, l_status);
    if (l_status == QLatin1String("complete"))
    {
        if (i_kind.m_isDownloads)
        {
            m_pendingCompletions.insert(i_entry.GetPtr());
            emit DownloadComplete(i_entry);
        }
        lp_row->setText(c_progressColumn, QString());
    }
    if (i_kind.m_isDownloads)
        lp_row->setText(c_placeColumn, QString());
    QString const l_shown =
        l_status == QLatin1String("denied") ? i_entry["denial_reason"].AsString() : l_status;
    lp_row->setText(c_statusColumn, l_shown.toLower());
    // A stopped transfer keeps the bytes its bar shows, but nothing moves any more; a
    // starting one gets its figures with its first report.
    lp_row->setText(c_timeLeftColumn, QString());
    lp_row->setText(c_speedColumn, QString());
    for (QTreeWidgetItem* lp_parent = lp_row->parent(); lp_parent; lp_parent = lp_parent->parent())
        ShowSums(i_kind, AsRow(lp_parent));
    UpdateActiveTransferCounts();
}

void TransfersForm::ShowAggregate(TransferTreeKind const& i_kind, TransferRow* ip_row)
{
    QString const l_aggregate = ip_row->m_tally.Aggregate(QString::fromLatin1(i_kind.mp_runningText));
    if (!ip_row->isExpanded())
        ip_row->setText(c_statusColumn, l_aggregate);
    SetItemColorByStatus(ip_row, l_aggregate);
}

void TransfersForm::OnDownloadProgress(ItemPtr i_entry)
{
    OnEntryProgress(*mp_downloads, i_entry);
}

void TransfersForm::OnUploadProgress(ItemPtr i_entry)
{
    OnEntryProgress(*mp_uploads, i_entry);
}

void TransfersForm::OnEntryProgress(TransferTreeKind const& i_kind, ItemPtr i_entry)
{
    TransferRow* const lp_row = FileRowOf(i_kind, i_entry);
    qint64 const* const lp_position = i_entry[i_kind.mp_position].AsPtr<qint64>();
    // A report delivered after its transfer stopped finds the cell gone: the row and the
    // sums keep what the last report before the stop left.
    if (!lp_row || !lp_position)
        return;
    long long const l_position = *lp_position;
    lp_row->m_shownPosition = l_position;
    Retally(i_kind, i_entry, lp_row);
    long long const l_size = i_kind.m_isDownloads ? i_entry["file_size"].AsInt64()
                                                  : i_entry["shared_file"]["shared_file_size"].AsInt64();
    int const l_rate = CellValue<int>(i_entry, "bytes_per_second");
    long long const l_seconds =
        TransferTexts::SecondsLeft(TransferTexts::BytesLeft(l_position, l_size), l_rate);
    double const l_percent = TransferTexts::Percent(l_position, l_size);
    lp_row->setText(c_timeLeftColumn, TransferTexts::TimeLeftText(l_seconds));
    ShowBar(i_kind.mp_tree, lp_row, l_position, l_percent);

    auto* const lp_folderRow = AsRow(lp_row->parent());
    auto* const lp_userRow = AsRow(lp_folderRow->parent());
    // The speed goes to the nearest row the user can see.
    QTreeWidgetItem* lp_speedRow = lp_userRow;
    if (lp_userRow->isExpanded())
        lp_speedRow = lp_folderRow->isExpanded() ? static_cast<QTreeWidgetItem*>(lp_row) : lp_folderRow;
    lp_speedRow->setText(c_speedColumn, TransferTexts::SpeedText(l_rate));

    if (!(lp_userRow->isExpanded() && lp_userRow->childCount() <= 1))
        ShowRowFigures(i_kind.mp_tree, lp_userRow, l_rate);
    ShowRowFigures(i_kind.mp_tree, lp_folderRow, l_rate);
}

void TransfersForm::ShowRowFigures(QTreeWidget* ip_tree, TransferRow* ip_row, int i_bytesPerSecond)
{
    TransferTally const& l_tally = ip_row->m_tally;
    if (!l_tally.HasTotal())
        return;
    ip_row->setText(c_timeLeftColumn, TransferTexts::TimeLeftText(
                                          TransferTexts::SecondsLeft(l_tally.Left(), i_bytesPerSecond)));
    ShowBar(ip_tree, ip_row, l_tally.Done(), l_tally.Percent());
}

void TransfersForm::GetDownloadsProgressStats(ItemSet& i_entries, long long& o_done, long long& o_left,
                                              long long& o_total)
{
    TransferTally l_tally;
    for (ItemPtr const& l_entry : i_entries)
        l_tally.Add(FiguresOf(*mp_downloads, l_entry));
    o_done = l_tally.Done();
    o_left = l_tally.Left();
    o_total = l_tally.Total();
}

void TransfersForm::GetUploadsProgressStats(ItemSet& i_entries, long long& o_done, long long& o_left,
                                            long long& o_total)
{
    TransferTally l_tally;
    for (ItemPtr const& l_entry : i_entries)
        l_tally.Add(FiguresOf(*mp_uploads, l_entry));
    o_done = l_tally.Done();
    o_left = l_tally.Left();
    o_total = l_tally.Total();
}

QString TransfersForm::GetDownloadEntriesAggregateStatus(ItemSet& i_entries)
{
    TransferTally l_tally;
    for (ItemPtr const& l_entry : i_entries)
        l_tally.Add(FiguresOf(*mp_downloads, l_entry));
    return l_tally.Aggregate(QString::fromLatin1(mp_downloads->mp_runningText));
}

QString TransfersForm::GetUploadEntriesAggregateStatus(ItemSet& i_entries)
{
    TransferTally l_tally;
    for (ItemPtr const& l_entry : i_entries)
        l_tally.Add(FiguresOf(*mp_uploads, l_entry));
    return l_tally.Aggregate(QString::fromLatin1(mp_uploads->mp_runningText));
}

void TransfersForm::SetItemColorByStatus(QTreeWidgetItem* ip_row, QString i_status)
{
    // Read each time: a colour saved in the settings applies from the next call on.
    Paint(ip_row, QColor::fromString(GetSetting(ColorSettingOf(i_status))));
}

void TransfersForm::RecolorEntries()
{
    for (TransferTreeKind const* lp_kind : {mp_downloads.get(), mp_uploads.get()})
        for (ItemPtr const& l_node : d[lp_kind->mp_fileNode]->GetItems())
            SetItemColorByStatus(l_node.AsPtr<QTreeWidgetItem>(), l_node[lp_kind->mp_entry][lp_kind->mp_status].AsString());
    for (TransferTreeKind const* lp_kind : {mp_downloads.get(), mp_uploads.get()})
        for (char const* lp_nodeType : {lp_kind->mp_folderNode, lp_kind->mp_userNode})
            for (ItemPtr const& l_node : d[lp_nodeType]->GetItems())
                ShowAggregate(*lp_kind, AsRow(l_node.AsPtr<QTreeWidgetItem>()));
}

void TransfersForm::OnItemExpanded(QTreeWidgetItem* ip_row)
{
    Value const l_key(ip_row);
    for (TransferTreeKind const* lp_kind : {mp_downloads.get(), mp_uploads.get()})
    {
        if (!d[lp_kind->mp_userNode]->HasItem(l_key) && !d[lp_kind->mp_folderNode]->HasItem(l_key))
            continue;
        for (int l_column : {c_statusColumn, c_timeLeftColumn, c_speedColumn})
            ip_row->setText(l_column, QString());
        // Removing the item widget already deletes the bar, later.
        if (lp_kind->mp_tree->itemWidget(ip_row, c_progressColumn))
            lp_kind->mp_tree->removeItemWidget(ip_row, c_progressColumn);
        return;
    }
}

void TransfersForm::OnItemCollapsed(QTreeWidgetItem* ip_row)
{
    Value const l_key(ip_row);
    for (TransferTreeKind const* lp_kind : {mp_downloads.get(), mp_uploads.get()})
        if (d[lp_kind->mp_userNode]->HasItem(l_key) || d[lp_kind->mp_folderNode]->HasItem(l_key))
        {
            ip_row->setText(c_statusColumn,
                            AsRow(ip_row)->m_tally.Aggregate(QString::fromLatin1(lp_kind->mp_runningText)));
            return;
        }
}

void TransfersForm::ShowSums(TransferTreeKind const& i_kind, TransferRow* ip_row)
{
    ShowAggregate(i_kind, ip_row);
    TransferTally const& l_tally = ip_row->m_tally;
    // Time left and speed come with the next report of a transfer still running; with
    // none left, nothing moves. Walking the rows for their rates would make a bulk
    // removal quadratic. A collapsed row may hold the speed without a bar (nothing under
    // it has a size).
    if (l_tally.Running() == 0)
    {
        ip_row->setText(c_timeLeftColumn, QString());
        ip_row->setText(c_speedColumn, QString());
    }
    QTreeWidget* const lp_tree = i_kind.mp_tree;
    // A row without a bar shows no figures (expanded, or never reported on).
    if (!lp_tree->itemWidget(ip_row, c_progressColumn))
        return;
    if (l_tally.HasTotal())
        ShowBar(lp_tree, ip_row, l_tally.Done(), l_tally.Percent());
    else
        lp_tree->removeItemWidget(ip_row, c_progressColumn);
}

void TransfersForm::UpdateActiveTransferCounts()
{
    UpdateActiveTransferCounts(ItemPtr());
}

void TransfersForm::UpdateActiveTransferCounts(ItemPtr i_leaving)
{
    int l_index = -1;
    QTabWidget* const lp_tabs = GetWidgetTabWidget(this, l_index);
    if (!lp_tabs || !transferQueueManager)
        return;
    int l_downloads = transferQueueManager->ActiveDownloadCount();
    int l_uploads = transferQueueManager->ActiveUploadCount();
    if (i_leaving && i_leaving[mp_downloads->mp_status].IsConnected("is_active"))
        --l_downloads;
    if (i_leaving && i_leaving[mp_uploads->mp_status].IsConnected("is_active"))
        --l_uploads;
    QString const l_title = QStringLiteral("Transfers [%1/%2]")
                                .arg(QString::number(l_downloads), QString::number(l_uploads));
    if (lp_tabs->tabText(l_index) != l_title)
        lp_tabs->setTabText(l_index, l_title);
}
