#include "ui/users/AddSharedFolderDialog.h"

#include "app/UIFunctions.h"
#include "shares/SharedFoldersManager.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

AddSharedFolderDialog::AddSharedFolderDialog(ItemPtr i_sharedFolder, QWidget* ip_parent)
    : QDialog(ip_parent), m_sharedFolder(i_sharedFolder), mp_folderEdit(new QLineEdit(this)),
      mp_browseButton(new QPushButton(tr("Browse..."), this)),
      mp_everyone(new QRadioButton(tr("Everyone"), this)),
      mp_userList(new QRadioButton(tr("User List"), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(m_sharedFolder ? tr("Set Folder Permissions") : tr("Share Folder"));

    QHBoxLayout* const lp_folderRow = new QHBoxLayout;
    lp_folderRow->addWidget(mp_folderEdit);
    lp_folderRow->addWidget(mp_browseButton);
    QDialogButtonBox* const lp_buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(new QLabel(tr("Folder"), this));
    lp_layout->addLayout(lp_folderRow);
    lp_layout->addWidget(new QLabel(tr("Accessible to"), this));
    lp_layout->addWidget(mp_everyone);
    lp_layout->addWidget(mp_userList);
    lp_layout->addWidget(lp_buttons);

    if (m_sharedFolder)
    {
        mp_folderEdit->setText(m_sharedFolder.AsString());
        mp_folderEdit->setReadOnly(true);
        mp_browseButton->setEnabled(false);
        (m_sharedFolder.IsConnected("shared_userlist") ? mp_userList : mp_everyone)->setChecked(true);
    }
    else
        mp_everyone->setChecked(true);

    connect(mp_browseButton, &QPushButton::clicked, this, &AddSharedFolderDialog::OnBrowseClicked);
    connect(lp_buttons, &QDialogButtonBox::accepted, this, &AddSharedFolderDialog::accept);
    connect(lp_buttons, &QDialogButtonBox::rejected, this, &AddSharedFolderDialog::reject);
}

void AddSharedFolderDialog::OnBrowseClicked()
{
    QString const l_folder =
        QFileDialog::getExistingDirectory(this, tr("Share Folder"), mp_folderEdit->text());
    if (!l_folder.isEmpty())
        mp_folderEdit->setText(l_folder);
}

void AddSharedFolderDialog::accept()
{
    if (g_showIsOver || !sharedFoldersManager)
    {
        QDialog::reject();
        return;
    }
    ItemPtr l_folder = m_sharedFolder;
    if (!l_folder)
    {
        // Shared paths use "/" and no trailing separator, whatever the user typed.
        QString const l_path = QDir::cleanPath(mp_folderEdit->text().trimmed());
        if (l_path.isEmpty() || l_path == QStringLiteral(".") || !QDir(l_path).exists())
            return;
        l_folder = sharedFoldersManager->AddSharedFolder(l_path);
        if (!l_folder)
            return;
    }
    l_folder.Disconnect("shared_public");
    l_folder.Disconnect("shared_userlist");
    l_folder.Disconnect("user_list_group");
    l_folder.NewItem(mp_userList->isChecked() ? "shared_userlist" : "shared_public");
    QDialog::accept();
}
