#include "app/MainWindow.h"

#include "ui/users/AddSharedFolderDialog.h"
#include "ui_MainWindow.h"

#include <QIcon>
#include <QMenu>

#include <algorithm>

// The shared-folder list follows the share index's folders: one row per folder, found
// again by its path, with who may see it. The access text is computed from the store at
// every change of the folder's access, never edited in place.

namespace
{
QString const c_browseIcon = QStringLiteral(":/icons/browse_icon");

bool IsAccessType(Type* ip_type)
{
    std::string const& l_name = ip_type->Name();
    return l_name == "shared_public" || l_name == "shared_userlist" || l_name == "user_list_group";
}

// "Everyone", else "User List", else the folder's groups by character code.
QString AccessText(ItemPtr i_folder)
{
    if (i_folder.IsConnected("shared_public"))
        return QStringLiteral("Everyone");
    if (i_folder.IsConnected("shared_userlist"))
        return QStringLiteral("User List");
    QStringList l_groups;
    for (ItemPtr const& l_group : i_folder.GetItems("user_list_group"))
        l_groups.append(l_group.AsString());
    std::sort(l_groups.begin(), l_groups.end());
    return l_groups.join(QStringLiteral(", "));
}
} // namespace

QTreeWidgetItem* MainWindow::SharedFolderRow(QString const& i_path) const
{
    for (int l_row = 0; l_row < ui->sharedFoldersList->topLevelItemCount(); ++l_row)
    {
        QTreeWidgetItem* const lp_row = ui->sharedFoldersList->topLevelItem(l_row);
        if (lp_row->text(0) == i_path)
            return lp_row;
    }
    return nullptr;
}

ItemPtr MainWindow::SelectedSharedFolder() const
{
    QList<QTreeWidgetItem*> const l_selected = ui->sharedFoldersList->selectedItems();
    if (l_selected.isEmpty())
        return ItemPtr();
    // Only looked up: a row whose folder has gone must neither bring it back nor open
    // the dialog for a new folder.
    return d["shared_folder"]->HasItem(Value(l_selected.first()->text(0)));
}

void MainWindow::OnSharedFolderAdded(ItemPtr i_folder)
{
    new QTreeWidgetItem(ui->sharedFoldersList, QStringList{i_folder.AsString()});
}

void MainWindow::OnSharedFolderRemoved(ItemPtr i_folder)
{
    delete SharedFolderRow(i_folder.AsString());
}

void MainWindow::OnSharedFolderChange(ConnectionInfo i_info)
{
    if (!i_info.second || !IsAccessType(i_info.second.GetType()))
        return;
    if (QTreeWidgetItem* const lp_row = SharedFolderRow(i_info.first.AsString()))
        lp_row->setText(1, AccessText(i_info.first));
}

void MainWindow::OnSharedFoldersListContextMenuRequested(QPoint i_point)
{
    if (!ui->sharedFoldersList->itemAt(i_point))
        return;
    QMenu l_menu;
    l_menu.addAction(QIcon(c_browseIcon), tr("Set Folder Permissions"), this,
                     &MainWindow::OnSetFolderPermissions);
    l_menu.addAction(QIcon(c_browseIcon), tr("Unshare Folder"), this, &MainWindow::OnUnshareFolder);
    l_menu.exec(ui->sharedFoldersList->viewport()->mapToGlobal(i_point));
}

void MainWindow::OnSetFolderPermissions()
{
    if (ItemPtr const l_folder = SelectedSharedFolder())
        (new AddSharedFolderDialog(l_folder, this))->show();
}

void MainWindow::OnUnshareFolder()
{
    // No question asked: sharing again is one command away.
    if (ItemPtr const l_folder = SelectedSharedFolder())
    {
        l_folder.Remove();
        d.RemoveDisconnectedItems();
    }
}
