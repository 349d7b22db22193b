#include "ui/users/ShareForm.h"

#include "ui/PlaceholderLabel.h"

#include <QVBoxLayout>

ShareForm::ShareForm(QString i_user, QWidget* ip_parent) : QWidget(ip_parent), m_user(i_user)
{
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(PlaceholderLabel(
        tr("The share list of %1 has been asked for; browsing it is not available yet.")
            .arg(m_user),
        this));
}

void ShareForm::BrowseToFolder(QString i_folder)
{
    m_pendingFolder = i_folder;
}
