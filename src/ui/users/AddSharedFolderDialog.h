#pragma once

// Shares a folder, or changes who may see a shared folder: everyone or the users of the
// user list. Choosing user-list groups is not available yet. Deletes itself when closed.
//
// With a null item the dialog asks for a folder and shares it; with a `shared_folder`
// item it rewrites that folder's access connections.

#include "store/Data.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

class AddSharedFolderDialog : public QDialog
{
    Q_OBJECT

public:
    AddSharedFolderDialog(ItemPtr i_sharedFolder, QWidget* ip_parent = nullptr);

    QLineEdit* FolderEdit() const { return mp_folderEdit; }
    QRadioButton* EveryoneButton() const { return mp_everyone; }
    QRadioButton* UserListButton() const { return mp_userList; }

public slots:
    void accept() override;
    void OnBrowseClicked();

private:
    ItemPtr m_sharedFolder;
    QLineEdit* mp_folderEdit;
    QPushButton* mp_browseButton;
    QRadioButton* mp_everyone;
    QRadioButton* mp_userList;
};
