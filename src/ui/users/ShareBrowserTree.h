#pragma once

// What the share browser and the upload browser have in common: a `user_share` item
// shown as a folder tree beside the selected folder's files, filtered by a filter box,
// with one-level-at-a-time expansion. Rows are tied to the share's items through
// `user_share_folder_node` and `user_share_file_node` items keyed by the row addresses.
//
// A browser only ever removes the file nodes of its own rows, so two open browsers never
// take each other's rows away, and no node outlives its row.

#include "store/Data.h"

#include <QString>
#include <QTreeWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class FilterParser;
class QLineEdit;

class ShareBrowserTree
{
public:
    // The trees and the box belong to the form; i_filesActionIcon is put on listed rows
    // whose files the caller marks.
    ShareBrowserTree(QTreeWidget* ip_folderTree, QTreeWidget* ip_fileList, QLineEdit* ip_filterEdit);
    ~ShareBrowserTree();

    ShareBrowserTree(ShareBrowserTree const&) = delete;
    ShareBrowserTree& operator=(ShareBrowserTree const&) = delete;

    // Builds the folder tree once (folders in byte order of their paths; a folder whose
    // parent is not in the share is a top-level row). Returns the number of folders.
    int Build(ItemPtr i_share);
    ItemPtr Share() const { return m_share; }
    void ForgetShare();
    int DeepestLevel() const { return m_deepestLevel; }
    int ExpandLevelValue() const { return m_expandLevel; }

    // Fills the file list with the files of the row's folder that pass the filter.
    void ListFiles(QTreeWidgetItem* ip_row);
    // Removes the file rows and their nodes (this browser's only).
    void ClearFileList();
    // Applies the filter text to the folder tree and refreshes the file list.
    void ApplyFilter(QString const& i_text);
    bool FilterFolderNode(QTreeWidgetItem* ip_row, FilterParser& io_filter);

    void ExpandAll();
    void CollapseAll();
    void ExpandLevel();

    ItemPtr FolderOfRow(QTreeWidgetItem* ip_row) const;
    ItemPtr FileOfRow(QTreeWidgetItem* ip_row) const;
    QTreeWidgetItem* RowOfFolder(ItemPtr i_folder) const;
    QTreeWidgetItem* RowOfFile(ItemPtr i_file) const;

    // The folders directly below a folder of a share.
    static ItemSet SubFolders(ItemPtr i_folder);
    // The share's folder with that full path, or null.
    static ItemPtr FindFolder(ItemPtr i_share, std::string const& i_path);
    // The folder path, "\", the file name: the path the file has in its share.
    static QString FilePath(ItemPtr i_file);

private:
    // A folder row's text and its files' names as the store keeps them, end to end:
    // what a filter keystroke reads of every folder. A share is a snapshot that does not
    // change while shown, so they are read once, when the tree is built.
    struct FolderNames
    {
        QString m_text;
        std::string m_names;
        std::vector<std::uint32_t> m_ends;
    };

    void SetExpandText(QString const& i_text);
    void KeepFolderNames(QTreeWidgetItem const* ip_row, ItemPtr i_folder, ::Type* ip_files,
                         ::Type* ip_names);
    // Files of the row's folder matching the filter; stops counting at i_enough.
    int CountMatchingFiles(QTreeWidgetItem const* ip_row, ItemPtr i_folder, FilterParser& io_filter,
                           int i_enough) const;

    QTreeWidget* mp_folderTree;
    QTreeWidget* mp_fileList;
    QLineEdit* mp_filterEdit;
    ItemPtr m_share;
    int m_deepestLevel;
    int m_expandLevel;
    std::unordered_map<QTreeWidgetItem const*, FolderNames> m_folderNames;
};
