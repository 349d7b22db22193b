#pragma once

// One of the two transfer trees with the names of its row node types and of the entry
// items it shows, so that the download and upload twins of the form share their code.

class QTreeWidget;

struct TransferTreeKind
{
    QTreeWidget* mp_tree;
    char const* mp_userNode;    // download_list_user_node / upload_list_user_node
    char const* mp_folderNode;  // download_list_folder_node / upload_list_folder_node
    char const* mp_fileNode;    // download_list_node / upload_list_node
    char const* mp_entry;       // download_entry / upload_entry
    char const* mp_status;      // download_entry_status / upload_entry_status
    char const* mp_position;    // write_position / read_position
    char const* mp_runningText; // "downloading" / "uploading"
    bool m_isDownloads;
};
