#pragma once

// The "Browse" page of the main window: one tab per user whose shared files are browsed
// (ShareForm) and one per user to whom own files are pushed (UploadForm). It turns share
// lists into `user_share` items, hands arriving lists to the browse tabs, routes the
// expansion commands to the current tab and frees a tab's share when it closes. One
// instance, reached through sharesForm.

#include "net/records/AttributeTranslationTable.h"
#include "net/records/FileInfoMap.h"
#include "store/Data.h"

#include <QString>
#include <QTabWidget>
#include <QWidget>

class ShareForm;
class UploadForm;

class SharesForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* ip_parent = nullptr);
    ~SharesForm() override;

    // Declares the tab and row node types and the toolbar sets; connects the toolbar and
    // the peer network. Called once.
    void Init();
    // The user's browse tab, brought forward; made, with a request for the user's share
    // list, when the user has none yet.
    ShareForm* OpenShareBrowse(QString i_user);
    // The user's upload tab, brought forward; made and filled with what the user may see
    // of the own shares when missing.
    UploadForm* OpenUploadBrowse(QString i_user);
    // A new `user_share` item built from a share list. Folders nested deeper than
    // c_maxFolderDepth components are left out.
    ItemPtr CreateUserShareData(FileInfoMap& i_share, AttributeTranslationTable& i_table);

    static int const c_maxFolderDepth = 512;

    QTabWidget* Tabs() const { return tabControl; }
    QTabWidget* tabControl;

public slots:
    void OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_table);
    void OnTabCloseRequested(int i_index);
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);
};

extern SharesForm* sharesForm;
