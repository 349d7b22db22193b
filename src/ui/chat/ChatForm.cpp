#include "ui/chat/ChatForm.h"

#include "app/ActionSetToolBar.h"
#include "app/UIFunctions.h"
#include "store/Data.h"

#include <QVBoxLayout>

ChatForm::ChatForm(QString i_user, QTabWidget* ip_tabWidget, QWidget* ip_parent)
    : QWidget(ip_parent), m_user(i_user), mp_tabWidget(ip_tabWidget),
      mp_chatView(new QPlainTextEdit(this))
{
    mp_chatView->setReadOnly(true);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(mp_chatView);

    d["user"]->GetItem(Value(m_user)) += d["user_chat_widget"]->GetItem(Value(this));
    if (actionBar)
    {
        actionBar->RegisterWidget(this, QStringLiteral("user_chat"));
        actionBar->AddWidgetKey(this, QStringLiteral("user"), m_user);
    }
}

ChatForm::~ChatForm()
{
    if (ItemPtr const l_node = d["user_chat_widget"]->HasItem(Value(this)))
        l_node.Remove();
}

void ChatForm::AddChat(QString i_user, QString i_chat)
{
    mp_chatView->appendPlainText(QStringLiteral("[%1] %2").arg(i_user, i_chat));
}

void ChatForm::Focus()
{
    FocusWidget(mp_chatView);
}
