#pragma once

// Pushes own shared files to one user: the own shares as that user may see them, as a
// folder tree beside a file list with a filter box. Chosen files, or whole folders with
// everything below them, are queued as uploads to the user. A tab of the "Browse" page
// ("Upload to <user>"); the shares form makes it, fills it once and closes it.

#include "store/Data.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QString>
#include <QTreeWidget>
#include <QWidget>

#include <memory>

class ShareBrowserTree;

class UploadForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    UploadForm(QString i_user, QWidget* ip_parent = nullptr);
    ~UploadForm() override;

    // Fills the folder tree from the share; once.
    void SetShare(ItemPtr i_share);
    void ExpandAll();
    void CollapseAll();
    void ExpandLevel();
    // Queues every file of the folder and of the folders below it.
    void UploadFolder(ItemPtr i_folder);
    // Removes the tab item and the share's items, then destroys the form.
    void Delete();

    QString User() const { return m_user; }
    ItemPtr Share() const;
    ShareBrowserTree* Browser() const { return mp_browser.get(); }

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
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);

private:
    // Queues one file; the row gets the upload icon only when an upload entry for the
    // user and that file exists afterwards.
    void UploadFile(ItemPtr i_file, QTreeWidgetItem* ip_row);

    QString m_user;
    std::unique_ptr<ShareBrowserTree> mp_browser;
};
