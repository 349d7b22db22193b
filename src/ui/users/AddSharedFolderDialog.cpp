#include "ui/users/AddSharedFolderDialog.h"

#include "shares/SharedFoldersManager.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

AddSharedFolderDialog::AddSharedFolderDialog(ItemPtr i_sharedFolder, QWidget* ip_parent)
    : QDialog(ip_parent), m_editing(i_sharedFolder.IsNotNull())
{
    setObjectName(QStringLiteral("AddSharedFolderDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Add Shared Folder"));
    resize(359, 414);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    QHBoxLayout* const lp_folderRow = new QHBoxLayout;
    selectFolderButton = new QPushButton(tr("Select &Folder"), this);
    selectFolderButton->setObjectName(QStringLiteral("selectFolderButton"));
    selectedFolderEdit = new QLineEdit(this);
    selectedFolderEdit->setObjectName(QStringLiteral("selectedFolderEdit"));
    selectedFolderEdit->setReadOnly(true);
    lp_folderRow->addWidget(selectFolderButton);
    lp_folderRow->addWidget(selectedFolderEdit);
    lp_layout->addLayout(lp_folderRow);
    everyoneCheckBox = new QCheckBox(tr("Folder accessible to everyone"), this);
    everyoneCheckBox->setObjectName(QStringLiteral("everyoneCheckBox"));
    everyoneCheckBox->setChecked(true);
    lp_layout->addWidget(everyoneCheckBox);
    userListCheckBox = new QCheckBox(tr("Folder accessible to all user list users"), this);
    userListCheckBox->setObjectName(QStringLiteral("userListCheckBox"));
    userListCheckBox->setChecked(true);
    userListCheckBox->setEnabled(false);
    lp_layout->addWidget(userListCheckBox);
    lp_layout->addWidget(new QLabel(tr("Folder accessible to specific user list groups:"), this));
    groupsListWidget = new QListWidget(this);
    groupsListWidget->setObjectName(QStringLiteral("groupsListWidget"));
    groupsListWidget->setEnabled(false);
    groupsListWidget->setSortingEnabled(true);
    lp_layout->addWidget(groupsListWidget);
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    lp_layout->addWidget(buttonBox);

    connect(selectFolderButton, &QPushButton::clicked, this, &AddSharedFolderDialog::OnSelectFolderClicked);
    connect(everyoneCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged);
    connect(userListCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &AddSharedFolderDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &AddSharedFolderDialog::reject);

    if (m_editing)
    {
        m_editedPath = i_sharedFolder.AsString();
        selectFolderButton->setEnabled(false);
        selectedFolderEdit->setEnabled(false);
        selectedFolderEdit->setText(m_editedPath);
        bool const l_public = i_sharedFolder.IsConnected("shared_public");
        everyoneCheckBox->setChecked(l_public);
        userListCheckBox->setChecked(l_public || i_sharedFolder.IsConnected("shared_userlist"));
    }
    for (ItemPtr const& l_group : d["user_list_group"]->GetItems())
    {
        QListWidgetItem* const lp_row = new QListWidgetItem(l_group.AsString(), groupsListWidget);
        lp_row->setFlags(lp_row->flags() | Qt::ItemIsUserCheckable);
        lp_row->setCheckState(m_editing && i_sharedFolder.IsConnected(l_group) ? Qt::Checked : Qt::Unchecked);
    }
}

AddSharedFolderDialog::~AddSharedFolderDialog() = default;

void AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged(int i_state)
{
    if (i_state == Qt::Checked)
    {
        userListCheckBox->setEnabled(false);
        userListCheckBox->setChecked(true);
        groupsListWidget->setEnabled(false);
    }
    else
    {
        userListCheckBox->setEnabled(true);
        groupsListWidget->setEnabled(!userListCheckBox->isChecked());
    }
}

void AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged(int i_state)
{
    groupsListWidget->setEnabled(i_state != Qt::Checked);
}

void AddSharedFolderDialog::OnSelectFolderClicked()
{
    QFileDialog l_chooser(this, tr("Select Folder to Share"));
    l_chooser.setFileMode(QFileDialog::Directory);
    l_chooser.setOption(QFileDialog::ShowDirsOnly);
    if (l_chooser.exec() == QDialog::Accepted && !l_chooser.selectedFiles().isEmpty())
        selectedFolderEdit->setText(l_chooser.selectedFiles().first());
}

void AddSharedFolderDialog::accept()
{
    if (selectedFolderEdit->text().isEmpty())
        return;
    ItemPtr l_folder;
    if (m_editing)
    {
        l_folder = d["shared_folder"]->HasItem(Value(m_editedPath));
        if (!l_folder)
        {
            QDialog::accept();
            return;
        }
    }
    else if (sharedFoldersManager)
        l_folder = sharedFoldersManager->AddSharedFolder(selectedFolderEdit->text());
    if (!l_folder)
    {
        QDialog::accept();
        return;
    }
    if (everyoneCheckBox->isChecked())
        l_folder.NewItem("shared_public");
    else
    {
        l_folder.Disconnect("shared_public");
        if (userListCheckBox->isChecked())
            l_folder.NewItem("shared_userlist");
        else
        {
            l_folder.Disconnect("shared_userlist");
            Type* const lp_groups = d["user_list_group"];
            for (int l_row = 0; l_row < groupsListWidget->count(); ++l_row)
            {
                QListWidgetItem* const lp_row = groupsListWidget->item(l_row);
                // A group deleted while the dialog was open stays deleted.
                ItemPtr const l_group = lp_groups->HasItem(Value(lp_row->text()));
                if (!l_group)
                    continue;
                if (lp_row->checkState() == Qt::Checked)
                    l_folder += l_group;
                else
                    l_folder -= l_group;
            }
        }
    }
    QDialog::accept();
}
