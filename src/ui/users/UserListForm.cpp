#include "ui/users/UserListForm.h"

#include "ui/PlaceholderLabel.h"

#include <QVBoxLayout>

UserListForm::UserListForm(QWidget* ip_parent) : QWidget(ip_parent)
{
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(PlaceholderLabel(tr("The user list is not shown here yet."), this));
}

void UserListForm::Init()
{
}
