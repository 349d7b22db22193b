#include "ui/transfers/TransfersForm.h"

#include "store/ExtendedAsciiTranslator.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "ui/transfers/CompleteDownloadsForm.h"
#include "ui/transfers/DownloadMenuOptions.h"
#include "ui/transfers/DownloadOpener.h"
#include "ui/transfers/TransferRow.h"
#include "ui/transfers/TransferTreeKind.h"
#include "ui/users/UserMenuOptions.h"
#include "ui_TransfersForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/EventToolBar.h"

#include <QIcon>
#include <QKeyEvent>
#include <QMenu>

namespace
{
QString const c_downloadIcon = QStringLiteral(":/icons/download_icon");
// Finished uploads go once their last news is older than this.
qint64 const c_keepFinishedUploadMs = 299999;

bool AllComplete(ItemSet const& i_entries)
{
    for (ItemPtr const& l_entry : i_entries)
        if (l_entry["download_entry_status"].AsStdString() != "complete")
            return false;
    return true;
}

QTreeWidgetItem* RowOf(ItemPtr i_node)
{
    return i_node.AsPtr<QTreeWidgetItem>();
}
} // namespace

void TransfersForm::OnActionBarTriggered(QWidget* /*ip_widget*/, QString i_action)
{
    if (i_action == QLatin1String("remove_download"))
        DeleteSelectedDownloads();
    else if (i_action == QLatin1String("dl_add_user"))
    {
        for (QTreeWidgetItem* const lp_row : mp_ui->downloadsList->selectedItems())
        {
            QTreeWidgetItem* const lp_userRow = GetDownloadNodeUserNode(lp_row);
            ItemPtr const l_user =
                lp_userRow ? d["download_list_user_node"]->HasItem(Value(lp_userRow))["user"] : ItemPtr();
            if (l_user)
                l_user.NewItem("in_user_list");
        }
    }
    else if (i_action == QLatin1String("expand_download_folders"))
        ToggleExpansion(mp_ui->downloadsList, m_expandDownloadFolders, i_action,
                        QStringLiteral("Expand Folders"), false);
    else if (i_action == QLatin1String("expand_download_users"))
        ToggleExpansion(mp_ui->downloadsList, m_expandDownloadUsers, i_action,
                        QStringLiteral("Expand Users"), true);
    else if (i_action == QLatin1String("expand_upload_folders"))
        ToggleExpansion(mp_ui->uploadsList, m_expandUploadFolders, i_action,
                        QStringLiteral("Expand Folders"), false);
    else if (i_action == QLatin1String("expand_upload_users"))
        ToggleExpansion(mp_ui->uploadsList, m_expandUploadUsers, i_action,
                        QStringLiteral("Expand Users"), true);
    else if (i_action == QLatin1String("complete_downloads"))
    {
        if (!completeDownloadsForm)
        {
            auto* const lp_list = new CompleteDownloadsForm(this);
            mp_ui->transfersTabControl->addTab(lp_list, QStringLiteral("Complete"));
            lp_list->Init();
        }
        mp_ui->transfersTabControl->setCurrentWidget(completeDownloadsForm);
    }
    else if (i_action == QLatin1String("clear_complete_downloads"))
    {
        ItemPtr const l_complete = d["download_entry_status"]->HasItem(Value("complete"));
        for (ItemPtr const& l_entry : l_complete.GetItems("download_entry"))
            if (!l_entry->IsRemoved())
                transferQueueManager->RemoveDownload(l_entry);
    }
    else if (i_action == QLatin1String("clear_complete_and_aborted_uploads"))
    {
        for (ItemPtr const& l_entry : d["upload_entry"]->GetItems())
        {
            if (l_entry->IsRemoved())
                continue;
            ItemPtr const l_status = l_entry["upload_entry_status"];
            if (l_status && !l_status.IsConnected("is_active") && l_status.AsStdString() != "queued")
                transferQueueManager->RemoveUpload(l_entry);
        }
    }
}

void TransfersForm::ToggleExpansion(QTreeWidget* ip_tree, bool& io_flag, QString const& i_action,
                                    QString const& i_text, bool i_users)
{
    io_flag = !io_flag;
    if (actionBar)
        actionBar->SetWidgetActionText(ip_tree, i_action,
                                       i_text + (io_flag ? QStringLiteral(" [on]") : QStringLiteral(" [off]")));
    for (int l_user = 0; l_user < ip_tree->topLevelItemCount(); ++l_user)
    {
        QTreeWidgetItem* const lp_userRow = ip_tree->topLevelItem(l_user);
        if (i_users)
            lp_userRow->setExpanded(io_flag);
        else
            for (int l_folder = 0; l_folder < lp_userRow->childCount(); ++l_folder)
                lp_userRow->child(l_folder)->setExpanded(io_flag);
    }
}

void TransfersForm::DeleteSelectedDownloads()
{
    for (QTreeWidgetItem* const lp_row : mp_ui->downloadsList->selectedItems())
    {
        Value const l_key(lp_row);
        if (ItemPtr const l_node = d["download_list_node"]->HasItem(l_key))
        {
            if (ItemPtr const l_entry = l_node["download_entry"])
                transferQueueManager->RemoveDownload(l_entry);
            return;
        }
        if (d["download_list_folder_node"]->HasItem(l_key))
        {
            EmptyRow(lp_row, false);
            return;
        }
        if (d["download_list_user_node"]->HasItem(l_key))
        {
            EmptyRow(lp_row, true);
            return;
        }
    }
}

void TransfersForm::EmptyRow(QTreeWidgetItem* ip_row, bool i_userRow)
{
    char const* const lp_nodeType = i_userRow ? "download_list_user_node" : "download_list_folder_node";
    Value const l_key(ip_row);
    // Each pass removes one download; the last one deletes the row, which ends the loop
    // before the row is read again. A pass that removes nothing ends it too.
    while (d[lp_nodeType]->HasItem(l_key))
    {
        QTreeWidgetItem* const lp_folderRow = i_userRow ? ip_row->child(0) : ip_row;
        QTreeWidgetItem* const lp_fileRow = lp_folderRow ? lp_folderRow->child(0) : nullptr;
        if (ItemPtr const l_entry = d["download_list_node"]->HasItem(Value(lp_fileRow))["download_entry"])
        {
            transferQueueManager->RemoveDownload(l_entry);
            continue;
        }
        // A row that stands for no download any more goes by itself, with the parents
        // it leaves empty.
        QTreeWidgetItem* const lp_orphan = lp_fileRow ? lp_fileRow : lp_folderRow;
        if (!lp_orphan)
            return;
        QTreeWidgetItem* const lp_parent = lp_orphan->parent();
        if (lp_fileRow)
            for (QTreeWidgetItem* lp_above = lp_parent; lp_above; lp_above = lp_above->parent())
                static_cast<TransferRow*>(lp_above)->m_tally.Remove(static_cast<TransferRow*>(lp_fileRow)->m_figures);
        if (!DeleteRow(lp_fileRow ? "download_list_node" : "download_list_folder_node", lp_orphan))
            delete lp_orphan;
        if (lp_fileRow && lp_parent && lp_parent->childCount() == 0)
        {
            QTreeWidgetItem* const lp_userRow = lp_parent->parent();
            DeleteRow("download_list_folder_node", lp_parent);
            if (lp_userRow && lp_userRow->childCount() == 0)
                DeleteRow("download_list_user_node", lp_userRow);
        }
        else if (!lp_fileRow && lp_parent && lp_parent->childCount() == 0)
            DeleteRow("download_list_user_node", lp_parent);
    }
}

void TransfersForm::OnKeyPressedInDownloadList(QKeyEvent* ip_event)
{
    if (ip_event && ip_event->key() == Qt::Key_Delete)
        DeleteSelectedDownloads();
}

void TransfersForm::OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_row, int /*i_column*/)
{
    ItemPtr const l_entry = d["download_list_node"]->HasItem(Value(ip_row))["download_entry"];
    if (!l_entry)
        return;
    DownloadOpener::Open(l_entry, false);
}

void TransfersForm::OnDownloadsContextMenuRequested(QPoint i_position)
{
    QTreeWidget* const lp_tree = mp_ui->downloadsList;
    QTreeWidgetItem* const lp_row = lp_tree->itemAt(i_position);
    QTreeWidgetItem* const lp_userRow = GetDownloadNodeUserNode(lp_row);
    if (!lp_userRow)
        return;
    QString const l_user = d["download_list_user_node"]->HasItem(Value(lp_userRow))["user"].AsString();
    ItemSet const l_entries = GetNodeDownloadEntryItems(lp_row);
    QMenu l_menu;
    std::unique_ptr<DownloadMenuOptions> lp_downloadOptions;
    if (!l_entries.empty())
        lp_downloadOptions = std::make_unique<DownloadMenuOptions>(&l_menu, l_entries, nullptr);
    UserMenuOptions l_userOptions(&l_menu, l_user, nullptr);
    l_menu.exec(lp_tree->viewport()->mapToGlobal(i_position));
}

void TransfersForm::OnUploadsContextMenuRequested(QPoint i_position)
{
    QTreeWidget* const lp_tree = mp_ui->uploadsList;
    QTreeWidgetItem* const lp_userRow = GetUploadNodeUserNode(lp_tree->itemAt(i_position));
    if (!lp_userRow)
        return;
    QString const l_user = d["upload_list_user_node"]->HasItem(Value(lp_userRow))["user"].AsString();
    QMenu l_menu;
    UserMenuOptions l_userOptions(&l_menu, l_user, nullptr);
    l_menu.exec(lp_tree->viewport()->mapToGlobal(i_position));
}

void TransfersForm::ClearSetting(char const* ip_key)
{
    if (ItemPtr const l_key = d["global"]->HasItem(Value(ip_key)))
        l_key.Disconnect("global_value");
}

void TransfersForm::OnClearDownloadsCheckStateChanged(int i_checkState)
{
    if (i_checkState == Qt::Checked)
        SetSetting("clear_complete_downloads", QStringLiteral("yes"));
    else if (i_checkState == Qt::Unchecked)
        ClearSetting("clear_complete_downloads");
}

void TransfersForm::OnClearUploadsCheckStateChanged(int i_checkState)
{
    if (i_checkState == Qt::Checked)
        SetSetting("clear_complete_aborted_uploads", QStringLiteral("yes"));
    else if (i_checkState == Qt::Unchecked)
        ClearSetting("clear_complete_aborted_uploads");
}

void TransfersForm::EveryHalfMinute()
{
    ClearFinishedUploads(QDateTime::currentDateTime());
}

void TransfersForm::ClearFinishedUploads(QDateTime const& i_now)
{
    if (!IsSettingYes("clear_complete_aborted_uploads"))
        return;
    for (ItemPtr const& l_entry : d["upload_entry"]->GetItems())
    {
        if (l_entry->IsRemoved() || l_entry["upload_entry_status"].AsStdString() == "queued")
            continue;
        QDateTime l_last;
        if (ItemPtr const l_changed = l_entry["last_status_change_time"])
            l_last = QDateTime::fromString(l_changed.AsString(), Qt::TextDate);
        if (QDateTime const* const lp_receipt = l_entry["last_receipt_time"].AsPtr<QDateTime>())
            if (!l_last.isValid() || *lp_receipt > l_last)
                l_last = *lp_receipt;
        if (l_last.isValid() && l_last.msecsTo(i_now) > c_keepFinishedUploadMs)
            transferQueueManager->RemoveUpload(l_entry);
    }
}

void TransfersForm::RaiseAlert(QString const& i_text, QString const& i_popup, QTreeWidgetItem* ip_row,
                               int i_column)
{
    if (eventToolBar)
        eventToolBar->AddEvent(i_text, c_downloadIcon, mp_ui->downloadsList, i_popup);
    if (ip_row)
        ip_row->setIcon(i_column, QIcon());
}

void TransfersForm::OnDownloadComplete(ItemPtr i_entry)
{
    // Only an entry still waiting for this call is read: one removed meanwhile has left
    // the set, and a second completion of the same entry finds it gone already.
    if (!m_pendingCompletions.erase(i_entry.GetPtr()))
        return;
    if (ItemPtr const l_alert = i_entry["complete_download_alert"])
    {
        QString const l_file = i_entry["file_name"].AsString();
        RaiseAlert(l_file, QStringLiteral("Download of file %1 complete").arg(l_file),
                   RowOf(i_entry["download_list_node"]), 2);
        l_alert.Remove();
    }
    ItemPtr const l_user = i_entry["user"];
    ItemPtr const l_folder = i_entry["remote_folder"];
    if (l_user && l_folder)
        if (ItemPtr const l_alert = d.GetItem(l_user, l_folder, "complete_download_alert"))
            if (AllComplete(d.GetItems(l_user, l_folder, "download_entry")))
            {
                QString const l_name = ToQString(GetFileName(l_folder.AsStdString()));
                ItemPtr const l_userNode = l_user["download_list_user_node"];
                ItemPtr const l_folderNode =
                    l_userNode ? d.GetItem(l_userNode, l_folder, "download_list_folder_node") : ItemPtr();
                RaiseAlert(l_name, QStringLiteral("Download of folder %1 complete").arg(l_name),
                           RowOf(l_folderNode), 1);
                l_alert.Remove();
            }
    if (l_user)
    {
        ItemSet const l_alerts = l_user.GetItems("complete_download_alert").NotConnected("remote_folder");
        if (!l_alerts.empty() && AllComplete(l_user.GetItems("download_entry")))
        {
            QString const l_name = l_user.AsString();
            RaiseAlert(l_name, QStringLiteral("All download from user %1 complete").arg(l_name),
                       RowOf(l_user["download_list_user_node"]), 0);
            l_alerts.Remove();
        }
    }
    if (IsSettingYes("clear_complete_downloads"))
        transferQueueManager->RemoveDownload(i_entry);
}

void TransfersForm::OnUploadSlotsSpinValueChanged(int i_value)
{
    transferQueueManager->SetUploadSlots(i_value);
}

void TransfersForm::OnUploadSpeedLimitSpinValueChanged(int i_value)
{
    // A change of the box's state runs its own slot first, so the limit is switched on
    // or off before the new value is stored.
    mp_ui->uploadLimitCheckBox->setChecked(i_value != 0);
    transferQueueManager->SetUploadSpeedLimit(i_value);
}

void TransfersForm::OnUploadSpeedLimitCheckStateChanged(int i_checkState)
{
    if (i_checkState == Qt::Checked)
        transferQueueManager->EnableUploadSpeedLimit(true);
    else if (i_checkState == Qt::Unchecked)
        transferQueueManager->EnableUploadSpeedLimit(false);
}
