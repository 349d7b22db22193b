#include "ui/transfers/TransfersForm.h"

#include "store/ExtendedAsciiTranslator.h"
#include "store/GeneralFunctions.h"
#include "ui/transfers/TransferRow.h"
#include "ui/transfers/TransferTreeKind.h"
#include "ui_TransfersForm.h"

#include <QIcon>

namespace
{
QString const c_onlineDot = QStringLiteral(":/icons/online_dot_icon");
QString const c_offlineDot = QStringLiteral(":/icons/offline_dot_icon");

// Rows are keyed by the address of their QTreeWidgetItem part, which is what the tree's
// own signals hand over.
Value RowKey(QTreeWidgetItem* ip_row)
{
    return Value(ip_row);
}

TransferRow* RowOf(ItemPtr i_node)
{
    return static_cast<TransferRow*>(i_node.AsPtr<QTreeWidgetItem>());
}
} // namespace

void TransfersForm::OnDownloadEntryAdded(ItemPtr i_entry)
{
    if (!m_transfersLoaded)
        return;
    // The path fires again when one of its links is made anew: one set of rows per entry.
    if (i_entry["download_list_node"])
        return;
    ItemPtr const l_user = i_entry["user"];
    ItemPtr const l_folder = i_entry["remote_folder"];
    if (!l_user || !l_folder || !i_entry["file_name"] || !i_entry["file_size"])
        return;
    TransferRow* const lp_userRow = UserRow(*mp_downloads, l_user, m_expandDownloadUsers);
    TransferRow* const lp_folderRow =
        FolderRow(*mp_downloads, lp_userRow, l_folder, m_expandDownloadFolders);
    TransferRow* const lp_fileRow = AddFileRow(*mp_downloads, lp_folderRow, i_entry);
    lp_fileRow->setText(2, i_entry["file_name"].AsString());
    lp_fileRow->setText(7, CommafyNumber(i_entry["file_size"].AsInt64()));
    if (ItemPtr const l_status = i_entry["download_entry_status"])
    {
        ConnectionInfo l_info(i_entry, l_status);
        OnDownloadEntryStatusChange(l_info);
    }
}

void TransfersForm::OnUploadEntryAdded(ItemPtr i_entry)
{
    if (i_entry["upload_list_node"])
        return;
    ItemPtr const l_user = i_entry["user"];
    ItemPtr const l_shared = i_entry["shared_file"];
    ItemPtr const l_folder = l_shared["shared_file_folder"];
    if (!l_user || !l_folder)
        return;
    TransferRow* const lp_userRow = UserRow(*mp_uploads, l_user, m_expandUploadUsers);
    TransferRow* const lp_folderRow =
        FolderRow(*mp_uploads, lp_userRow, l_folder, m_expandUploadFolders);
    TransferRow* const lp_fileRow = AddFileRow(*mp_uploads, lp_folderRow, i_entry);
    lp_fileRow->setText(2, ToQString(GetFileName(l_shared["shared_file_name"].AsStdString())));
    lp_fileRow->setText(7, CommafyNumber(l_shared["shared_file_size"].AsInt64()));
}

TransferRow* TransfersForm::UserRow(TransferTreeKind const& i_kind, ItemPtr i_user, bool i_expand)
{
    if (ItemPtr const l_node = i_user[i_kind.mp_userNode])
        return RowOf(l_node);
    auto* const lp_row = new TransferRow(i_kind.mp_tree);
    d[i_kind.mp_userNode]->GetItem(RowKey(lp_row)) += i_user;
    lp_row->setText(0, i_user.AsString());
    lp_row->setIcon(0, QIcon(i_user.IsConnected("is_online") ? c_onlineDot : c_offlineDot));
    lp_row->setExpanded(i_expand);
    return lp_row;
}

TransferRow* TransfersForm::FolderRow(TransferTreeKind const& i_kind, TransferRow* ip_userRow,
                                      ItemPtr i_folder, bool i_expand)
{
    ItemPtr const l_userNode = d[i_kind.mp_userNode]->HasItem(RowKey(ip_userRow));
    if (ItemPtr const l_node = d.GetItem(l_userNode, i_folder, i_kind.mp_folderNode))
        return RowOf(l_node);
    auto* const lp_row = new TransferRow(ip_userRow);
    ItemPtr const l_node = d[i_kind.mp_folderNode]->GetItem(RowKey(lp_row));
    l_node += l_userNode;
    l_node += i_folder;
    lp_row->setText(1, ReversePathname(i_folder.AsString()));
    lp_row->setExpanded(i_expand);
    return lp_row;
}

TransferRow* TransfersForm::AddFileRow(TransferTreeKind const& i_kind, TransferRow* ip_folderRow,
                                       ItemPtr i_entry)
{
    // A file row has no children, so it is not marked expanded: the view would keep a
    // persistent index for each, and every later row insertion or removal walks them all.
    auto* const lp_row = new TransferRow(ip_folderRow);
    ItemPtr const l_node = d[i_kind.mp_fileNode]->GetItem(RowKey(lp_row));
    l_node += i_entry;
    l_node += d[i_kind.mp_folderNode]->HasItem(RowKey(ip_folderRow));
    lp_row->m_figures = FiguresOf(i_kind, i_entry);
    ip_folderRow->m_tally.Add(lp_row->m_figures);
    static_cast<TransferRow*>(ip_folderRow->parent())->m_tally.Add(lp_row->m_figures);
    return lp_row;
}

void TransfersForm::OnDownloadEntryRemoved(ItemPtr i_entry)
{
    m_pendingCompletions.erase(i_entry.GetPtr());
    RemoveEntryRows(*mp_downloads, i_entry);
}

void TransfersForm::OnUploadEntryRemoved(ItemPtr i_entry)
{
    RemoveEntryRows(*mp_uploads, i_entry);
}

void TransfersForm::RemoveEntryRows(TransferTreeKind const& i_kind, ItemPtr i_entry)
{
    ItemPtr const l_node = i_entry[i_kind.mp_fileNode];
    if (!l_node)
        return;
    TransferRow* const lp_fileRow = RowOf(l_node);
    auto* const lp_folderRow = static_cast<TransferRow*>(lp_fileRow->parent());
    auto* const lp_userRow = static_cast<TransferRow*>(lp_folderRow->parent());
    lp_folderRow->m_tally.Remove(lp_fileRow->m_figures);
    lp_userRow->m_tally.Remove(lp_fileRow->m_figures);
    DeleteRow(i_kind.mp_fileNode, lp_fileRow);
    // The rows that stay show what remains at once, not the figures of what went.
    if (lp_folderRow->childCount() != 0)
        ShowSums(i_kind, lp_folderRow);
    else
        DeleteRow(i_kind.mp_folderNode, lp_folderRow);
    if (lp_userRow->childCount() != 0)
        ShowSums(i_kind, lp_userRow);
    else
        DeleteRow(i_kind.mp_userNode, lp_userRow);
    UpdateActiveTransferCounts(i_entry);
}

bool TransfersForm::DeleteRow(char const* ip_nodeType, QTreeWidgetItem* ip_row)
{
    ItemPtr const l_node = d[ip_nodeType]->HasItem(RowKey(ip_row));
    if (!l_node)
        return false;
    l_node.Remove();
    delete ip_row;
    return true;
}

void TransfersForm::OnDownloadPlaceInLine(ItemPtr i_entry)
{
    if (TransferRow* const lp_row = FileRowOf(*mp_downloads, i_entry))
        lp_row->setText(8, i_entry["place_in_line"].AsString());
}

void TransfersForm::OnUserOnline(ItemPtr i_user)
{
    SetUserDot(i_user, c_onlineDot);
}

void TransfersForm::OnUserOffline(ItemPtr i_user)
{
    SetUserDot(i_user, c_offlineDot);
}

void TransfersForm::SetUserDot(ItemPtr i_user, QString const& i_icon)
{
    for (char const* lp_nodeType : {"download_list_user_node", "upload_list_user_node"})
        if (ItemPtr const l_node = i_user[lp_nodeType])
            RowOf(l_node)->setIcon(0, QIcon(i_icon));
}

QTreeWidgetItem* TransfersForm::GetDownloadNodeUserNode(QTreeWidgetItem* ip_row)
{
    return GetNodeUserNode(*mp_downloads, ip_row);
}

QTreeWidgetItem* TransfersForm::GetUploadNodeUserNode(QTreeWidgetItem* ip_row)
{
    return GetNodeUserNode(*mp_uploads, ip_row);
}

QTreeWidgetItem* TransfersForm::GetNodeUserNode(TransferTreeKind const& i_kind, QTreeWidgetItem* ip_row)
{
    if (!ip_row)
        return nullptr;
    Value const l_key = RowKey(ip_row);
    if (d[i_kind.mp_userNode]->HasItem(l_key))
        return ip_row;
    if (d[i_kind.mp_folderNode]->HasItem(l_key))
        return ip_row->parent();
    if (d[i_kind.mp_fileNode]->HasItem(l_key))
        return ip_row->parent() ? ip_row->parent()->parent() : nullptr;
    return nullptr;
}

ItemSet TransfersForm::GetNodeDownloadEntryItems(QTreeWidgetItem* ip_row)
{
    return GetNodeEntryItems(*mp_downloads, ip_row);
}

ItemSet TransfersForm::GetNodeUploadEntryItems(QTreeWidgetItem* ip_row)
{
    return GetNodeEntryItems(*mp_uploads, ip_row);
}

ItemSet TransfersForm::GetNodeEntryItems(TransferTreeKind const& i_kind, QTreeWidgetItem* ip_row)
{
    Value const l_key = RowKey(ip_row);
    if (ItemPtr const l_node = d[i_kind.mp_userNode]->HasItem(l_key))
        return l_node.GetItems(i_kind.mp_folderNode).GetItems(i_kind.mp_fileNode).GetItems(i_kind.mp_entry);
    if (ItemPtr const l_node = d[i_kind.mp_folderNode]->HasItem(l_key))
        return l_node.GetItems(i_kind.mp_fileNode).GetItems(i_kind.mp_entry);
    if (ItemPtr const l_node = d[i_kind.mp_fileNode]->HasItem(l_key))
        return l_node.GetItems(i_kind.mp_entry);
    return ItemSet();
}
