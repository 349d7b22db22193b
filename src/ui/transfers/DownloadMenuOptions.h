#pragma once

// The entries of a downloads-tree context menu that concern the downloads under the
// clicked row: open the file or its folder, retry, remove, be told when the file, the
// folder or all of the user's downloads complete, and search again for what the first
// download was found by.
//
// Lives only while its menu runs. The slots run inside the menu's own event loop, where
// the downloads the menu was built over may go away (a completion clearing itself, a
// peer's answer); each slot therefore acts only on the downloads, the user and the
// folder that are still in the store, and never reads one that is gone.

#include "store/Data.h"

#include <QObject>
#include <QString>

class QMenu;

class DownloadMenuOptions : public QObject
{
    Q_OBJECT

public:
    // Appends the entries that apply to the downloads (after a separator when the menu
    // already holds actions).
    DownloadMenuOptions(QMenu* ip_menu, ItemSet i_entries, QObject* ip_parent = nullptr);
    ~DownloadMenuOptions() override;

public slots:
    void OnRemoveDownloads();
    void OnRerunSearch();
    void OnOpenFile();
    void OnOpenFolder();
    void OnSetFileDownloadAlert();
    void OnSetFolderDownloadAlert();
    void OnSetUserDownloadAlert();
    void OnRetryDownloads();

private:
    // The downloads of the set still in the store, in set order; looked up by address
    // alone, so an item freed meanwhile is never read.
    ItemList PresentEntries() const;
    // The first of the set, when still present.
    ItemPtr FirstEntry() const;
    // The single user and folder, fetched again by their keys; null when gone.
    ItemPtr SingleUser() const;
    ItemPtr SingleFolder() const;

    ItemSet m_entries;
    QString m_searchText;
    // The keys of the single user and remote folder; empty when the downloads have none
    // or several.
    bool m_hasSingleUser;
    Value m_singleUser;
    bool m_hasSingleFolder;
    Value m_singleFolder;
};
