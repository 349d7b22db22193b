#pragma once

// Shares a local folder, or changes who may see a shared folder: everyone, every user of
// the user list, or the members of chosen user-list groups. With a null item it asks for
// a folder; with a `shared_folder` item it edits that folder's access. The store changes
// only when OK is pressed. Deletes itself when closed.

#include "store/Data.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

class AddSharedFolderDialog : public QDialog
{
    Q_OBJECT

public:
    AddSharedFolderDialog(ItemPtr i_sharedFolder, QWidget* ip_parent = nullptr);
    ~AddSharedFolderDialog() override;

    QPushButton* selectFolderButton;
    QLineEdit* selectedFolderEdit;
    QCheckBox* everyoneCheckBox;
    QCheckBox* userListCheckBox;
    QListWidget* groupsListWidget;
    QDialogButtonBox* buttonBox;

public slots:
    void accept() override;
    void OnSelectFolderClicked();
    void OnAccessibleToEveryoneCheckStateChanged(int i_state);
    void OnAccessibleToUserListCheckStateChanged(int i_state);

private:
    bool m_editing;
    // The edited folder is looked up again by its path when OK is pressed: it may have
    // been unshared while the dialog was open.
    QString m_editedPath;
};
