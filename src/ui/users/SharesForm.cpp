#include "ui/users/SharesForm.h"

#include "app/TabWidget.h"
#include "app/UIFunctions.h"
#include "net/peer/PeerMessenger.h"
#include "ui/users/ShareForm.h"

#include <QIcon>
#include <QVBoxLayout>

SharesForm* sharesForm = nullptr;

SharesForm::SharesForm(QWidget* ip_parent) : QWidget(ip_parent), mp_tabs(new TabWidget(this))
{
    sharesForm = this;
    mp_tabs->setTabsClosable(true);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->setContentsMargins(0, 0, 0, 0);
    lp_layout->addWidget(mp_tabs);
    connect(mp_tabs, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested);
}

SharesForm::~SharesForm()
{
    if (sharesForm == this)
        sharesForm = nullptr;
}

void SharesForm::Init()
{
}

ShareForm* SharesForm::OpenShareBrowse(QString i_user)
{
    for (int l_tab = 0; l_tab < mp_tabs->count(); ++l_tab)
    {
        ShareForm* const lp_form = qobject_cast<ShareForm*>(mp_tabs->widget(l_tab));
        if (lp_form && lp_form->User() == i_user)
        {
            FocusWidget(lp_form);
            return lp_form;
        }
    }
    ShareForm* const lp_form = new ShareForm(i_user);
    mp_tabs->addTab(lp_form, QIcon(QStringLiteral(":/icons/browse_icon")), i_user);
    FocusWidget(lp_form);
    if (peerMessenger && !g_showIsOver)
        peerMessenger->GetUserSharedFiles(i_user);
    return lp_form;
}

void SharesForm::OnTabCloseRequested(int i_index)
{
    delete mp_tabs->widget(i_index);
}
