#include "ui/chat/ChatForm.h"

#include "ui/chat/ChatLogForm.h"
#include "ui/users/UserMenuOptions.h"

#include "net/server/Server.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/EventToolBar.h"
#include "widgets/UIFunctions.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QShowEvent>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

ChatForm::ChatForm(QString i_user, QTabWidget* ip_tabWidget, QWidget* ip_parent)
    : QWidget(ip_parent), chatView(nullptr), chatEdit(nullptr), m_user(i_user),
      mp_tabWidget(ip_tabWidget), m_lines(ChatLogKind::User, i_user)
{
    SetupUi();
    m_lines.SetView(chatView);
    ItemPtr const l_user = (*d["user"])[Value(m_user)];
    l_user += (*d["user_chat_widget"])[Value(this)];
    RegisterWidgetForTabFocus(chatEdit, 1);

    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &ChatForm::CheckChatInactivity);
    if (actionBar) {
        actionBar->RegisterWidget(this, QStringLiteral("user_chat"));
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatForm::OnActionTriggered);
    }

    // The transfer queues remember the empty-share warning they sent the user; it opens
    // every new chat with that user as the own line.
    if (d.HasType("sent_empty_share_warning_message"))
        if (ItemPtr const l_warning = l_user["sent_empty_share_warning_message"])
            AddChat(GetSetting("username"), l_warning.AsString());

    PathNode* const lp_away = new PathNode(l_user);
    new PathNode(lp_away, "is_away", PathConnecting);
    d.AddPathEventHandler(lp_away, CreateHandler(this, &ChatForm::OnUserAway));
    PathNode* const lp_available = new PathNode(l_user);
    new PathNode(lp_available, "is_away", PathDisconnecting);
    d.AddPathEventHandler(lp_available, CreateHandler(this, &ChatForm::OnUserAvailable));

    if (l_user.IsConnected("is_away"))
        OnUserAway(l_user);
}

ChatForm::~ChatForm()
{
    RemoveDataHandlers();
    if (ItemPtr const l_node = d["user_chat_widget"]->HasItem(Value(this)))
        l_node.Remove();
}

void ChatForm::SetupUi()
{
    setObjectName(QStringLiteral("ChatForm"));
    resize(567, 364);
    setWindowTitle(QStringLiteral("Form"));
    horizontalLayout = new QHBoxLayout(this);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    chatView = new QTextBrowser(this);
    chatView->setObjectName(QStringLiteral("chatView"));
    chatView->setContextMenuPolicy(Qt::CustomContextMenu);
    chatView->setOpenLinks(false);
    chatView->setOpenExternalLinks(false);
    verticalLayout->addWidget(chatView);
    chatEdit = new QLineEdit(this);
    chatEdit->setObjectName(QStringLiteral("chatEdit"));
    verticalLayout->addWidget(chatEdit);
    horizontalLayout->addLayout(verticalLayout);

    connect(chatEdit, &QLineEdit::returnPressed, this, &ChatForm::OnEnter);
    connect(chatView, &QWidget::customContextMenuRequested, this, &ChatForm::OnContextMenuRequested);
    connect(chatView, &QTextBrowser::anchorClicked, this, &ChatForm::OnURLClicked);
}

void ChatForm::AddChat(QString i_user, QString i_chat)
{
    if (!m_lines.AddChat(i_user, i_chat))
        return;
    if (eventToolBar)
        eventToolBar->AddEvent(m_user, QStringLiteral(":/icons/chat_icon"), chatEdit,
                               ChatLines::PopupText(i_user, i_chat));
}

void ChatForm::AddStatusMessage(QString i_message)
{
    m_lines.AddStatusMessage(i_message);
}

void ChatForm::LogChat(QString i_line)
{
    m_lines.LogChat(i_line);
}

void ChatForm::CheckChatInactivity()
{
    m_lines.CheckChatInactivity();
}

void ChatForm::Focus()
{
    FocusWidget(chatEdit);
}

void ChatForm::OnEnter()
{
    QString const l_text = chatEdit->text();
    if (l_text.isEmpty())
        return;
    AddChat(GetSetting("username"), l_text);
    // Offline the server would drop the line without a word; say so instead of letting
    // the line look delivered.
    if (gp_server && gp_server->IsConnected())
        gp_server->SendPrivateChat(m_user, l_text);
    else
        AddStatusMessage(QStringLiteral("Not connected: message not sent."));
    chatEdit->clear();
}

void ChatForm::OnUserAway(ItemPtr)
{
    AddStatusMessage(m_user + QStringLiteral(" is away."));
}

void ChatForm::OnUserAvailable(ItemPtr)
{
    AddStatusMessage(m_user + QStringLiteral(" is available."));
}

void ChatForm::OnContextMenuRequested(QPoint i_point)
{
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, m_user, nullptr);
    l_menu.exec(chatView->viewport()->mapToGlobal(i_point));
}

void ChatForm::OnURLClicked(QUrl i_url)
{
    QDesktopServices::openUrl(i_url);
}

void ChatForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this || i_action != QLatin1String("user_chat_log"))
        return;
    ChatLogForm::Open(ChatLogKind::User, m_user, mp_tabWidget);
}

void ChatForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(chatEdit);
}
