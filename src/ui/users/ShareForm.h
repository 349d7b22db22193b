#pragma once

// The browser of one user's shared files, a tab of the "Browse" page: a message area
// that reports the request, then the folder tree, the selected folder's files and a
// filter box. Files and whole folders are queued as downloads from here.
//
// The shares form makes the form, sends the request and hands over the share when it
// arrives; the form lives until its tab is closed (Delete).

#include "store/Data.h"
#include "store/ExtendedAsciiTranslator.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QString>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QWidget>

#include <memory>
#include <string>

class FilterParser;
class ShareBrowserTree;

class ShareForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    ShareForm(QString i_user, QWidget* ip_parent = nullptr);
    ~ShareForm() override;

    // Builds the tree from the share, or reports an empty share. A form that already
    // holds a share keeps it.
    void SetShare(ItemPtr i_share);
    // Selects the folder at once, or when the share arrives (the last call wins). The path
    // is the one the share keeps: the bytes the peer sent, whatever their encoding, since
    // a name that is not UTF-8 does not survive the way through text.
    void BrowseToFolder(std::string const& i_folder);
    // Removes the share and the tab link and destroys the form.
    void Delete();
    void ExpandLevel();
    void CollapseAll();
    void ExpandAll();
    bool FilterFolderNode(QTreeWidgetItem* ip_row, FilterParser& io_filter);
    // Queues the folder's files (save level 1 when i_below) and everything beneath it.
    void DownloadFolder(ItemPtr i_folder, bool i_below);

    QString User() const { return m_user; }
    QString PendingFolder() const { return ToQString(m_pendingFolder); }
    ItemPtr Share() const;
    ShareBrowserTree* Browser() const { return mp_browser.get(); }

    QTextBrowser* messageBrowser;
    QSplitter* splitter;
    QTreeWidget* folderTree;
    QTreeWidget* fileList;
    QLabel* SearchFilterSpacer;
    QPushButton* filterHelpButton;
    QLineEdit* filterEdit;

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem* ip_previous);
    void OnFilterTextChanged(QString i_text);
    void OnFilterHelpClicked();
    void OnFolderContextMenuRequested(QPoint i_point);
    void OnFileContextMenuRequested(QPoint i_point);
    void OnFolderDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnFileDoubleClicked(QTreeWidgetItem* ip_row, int i_column);
    void OnDownloadFolder();
    void OnDownloadFile();
    void OnConnectionToUserFailed(QString i_user, QString i_type);

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    void OnUserShareItemRemoved(ItemPtr i_share);
    void DownloadFileRow(QTreeWidgetItem* ip_row);

    QString m_user;
    bool m_noticeShown;
    bool m_hasShare;
    std::string m_pendingFolder;
    std::unique_ptr<ShareBrowserTree> mp_browser;
};
