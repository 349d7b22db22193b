// ActionSetToolBar: following the focus, rebuilding the buttons, triggered actions, and
// the availability and privileges buttons.

#include "widgets/ActionSetToolBar.h"

#include "net/server/Server.h"
#include "store/Settings.h"
#include "widgets/UIFunctions.h"
#include "widgets/WebPages.h"

#include <QAction>
#include <QDesktopServices>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>

namespace
{
QString const c_supportText = QStringLiteral("Support Kestrune!");

bool IsAvailable()
{
    return d.HasType("global") && GetSetting("availability_status") == QLatin1String("available");
}

void ShowAvailability(QPushButton* ip_button, bool i_available)
{
    ip_button->setIcon(QIcon(i_available ? QStringLiteral(":/icons/online_icon")
                                         : QStringLiteral(":/icons/away_icon")));
    ip_button->setText(i_available ? QStringLiteral("Available") : QStringLiteral("Away"));
}

QString PrivilegesText(qint64 i_seconds)
{
    if (i_seconds < 1)
        return c_supportText;
    return QStringLiteral("%1 Days Left").arg(ActionSetToolBar::PrivilegeDays(i_seconds));
}

// A focused tab widget or tab bar stands for the page it shows.
QWidget* ShownPage(QWidget* ip_widget)
{
    QWidget* lp_widget = ip_widget;
    for (;;)
    {
        if (QTabWidget* const lp_tabs = qobject_cast<QTabWidget*>(lp_widget))
        {
            if (!lp_tabs->currentWidget())
                return lp_widget;
            lp_widget = lp_tabs->currentWidget();
            continue;
        }
        if (QTabBar* const lp_bar = qobject_cast<QTabBar*>(lp_widget))
        {
            QTabWidget* const lp_tabs = qobject_cast<QTabWidget*>(lp_bar->parentWidget());
            if (lp_tabs && lp_tabs->currentWidget())
            {
                lp_widget = lp_tabs->currentWidget();
                continue;
            }
        }
        return lp_widget;
    }
}
} // namespace

qint64 ActionSetToolBar::PrivilegeDays(qint64 i_seconds)
{
    return (i_seconds + 43200) / 86400;
}

void ActionSetToolBar::Init()
{
    if (gp_server)
        connect(gp_server, &Server::ReceivedOwnPrivilegesStatus, this,
                &ActionSetToolBar::OnReceivedOwnPrivilegesStatus, Qt::UniqueConnection);
    m_initialised = true;
}

void ActionSetToolBar::OnApplicationFocusChanged(QWidget* /*ip_oldWidget*/, QWidget* ip_widget)
{
    if (!m_initialised || g_showIsOver || m_inFocusChange || !ip_widget)
        return;
    m_inFocusChange = true;

    mp_currentTree = nullptr;
    ItemPtr l_record;
    QWidget* lp_found = nullptr;
    for (QWidget* lp_widget = ShownPage(ip_widget); lp_widget; lp_widget = lp_widget->parentWidget())
    {
        if (!mp_currentTree)
            mp_currentTree = qobject_cast<QTreeWidget*>(lp_widget);
        l_record = WidgetRecord(lp_widget);
        if (l_record)
        {
            lp_found = lp_widget;
            break;
        }
    }
    if (!l_record)
    {
        Clear();
        AddSupportKestruneButton();
        m_inFocusChange = false;
        return;
    }

    m_currentWidgetRecord = l_record;
    ChangeSet(lp_found, l_record["toolbar_action_set"].AsString());
    // The fixed keys are copied on every focus change, also without a rebuild, since
    // another widget may have changed the same keys meanwhile.
    for (ItemPtr const& l_pair : l_record.GetItems("action_key_value_pair"))
    {
        ItemPtr const l_key = d["active_action_key"]->GetItem(Value(l_pair["action_key"].AsStdString()));
        SetActiveKey(l_key, l_pair["action_value"].AsString());
    }
    m_inFocusChange = false;
}

void ActionSetToolBar::ChangeSet(QWidget* ip_widget, QString i_set)
{
    if (i_set == m_currentSetName && ip_widget == mp_currentWidget)
        return;
    m_currentSetName = i_set;
    mp_currentWidget = ip_widget;
    ClearAndDeleteActions();

    ItemPtr const l_set = d["toolbar_action_set"]->HasItem(Value(i_set));
    ItemPtr const l_record = m_currentWidgetRecord;
    for (ItemPtr const& l_action : l_set.GetItems("toolbar_action").SortNumericBy("toolbar_action_order", true))
    {
        ItemPtr const l_id = l_action["toolbar_action_id"];
        QString l_text = l_action["toolbar_action_text"].AsString();
        bool l_hidden = false;
        if (l_record && l_id)
        {
            if (ItemPtr const l_override =
                    d.GetItem(l_record, l_id, "widget_action_text_pair")["widget_action_text"])
                l_text = l_override.AsString();
            l_hidden = d.GetItem(l_record, l_id, "widget_action_hidden").IsNotNull();
        }
        QAction* const lp_button = addAction(QIcon(l_action["toolbar_action_icon"].AsString()), l_text);
        if (l_hidden)
            lp_button->setVisible(false);
        connect(lp_button, &QAction::triggered, this, &ActionSetToolBar::OnActionTriggered);
        l_action += d["toolbar_action_object"]->GetItem(Value(static_cast<QObject const*>(lp_button)));
    }
    AddSupportKestruneButton();
}

void ActionSetToolBar::Clear()
{
    m_currentSetName.clear();
    ClearAndDeleteActions();
}

void ActionSetToolBar::ClearAndDeleteActions()
{
    for (QAction* lp_action : actions())
    {
        removeAction(lp_action);
        // Deleting a widget's action deletes the widget with it.
        lp_action->deleteLater();
    }
    // No button stands for an action any more: a record left behind would lead a later
    // text or hidden change to an action that is already deleted.
    d["toolbar_action_object"]->GetItems().Remove();

    QPushButton* const lp_status = new QPushButton;
    ShowAvailability(lp_status, IsAvailable());
    lp_status->setFocusPolicy(Qt::NoFocus);
    addWidget(lp_status);
    addWidget(new QLabel(QStringLiteral(" ")));
    connect(lp_status, &QPushButton::clicked, this, &ActionSetToolBar::OnStatusButtonClicked);
    mp_statusButton = lp_status;
}

void ActionSetToolBar::AddSupportKestruneButton()
{
    addAction(QString());
    QWidget* const lp_spacer = new QWidget;
    lp_spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    QPushButton* const lp_button = new QPushButton(c_supportText);
    if (d.HasType("global"))
        lp_button->setText(PrivilegesText(GetSettingInt("privileges_time_left")));
    lp_button->setFocusPolicy(Qt::NoFocus);
    addWidget(lp_spacer);
    addWidget(lp_button);
    connect(lp_button, &QPushButton::clicked, this, &ActionSetToolBar::OnSupportKestruneButtonClicked);
    mp_privilegesButton = lp_button;
}

void ActionSetToolBar::OnActionTriggered(bool /*i_checked*/)
{
    ItemPtr const l_object =
        d["toolbar_action_object"]->HasItem(Value(static_cast<QObject const*>(sender())));
    ItemPtr const l_action = l_object["toolbar_action"];
    if (!l_action)
        return;

    if (QTreeWidget* const lp_tree = mp_currentTree.data())
    {
        QList<QTreeWidgetItem*> const l_selected = lp_tree->selectedItems();
        if (l_selected.isEmpty())
        {
            if (l_action.IsConnected("needs_list_selection"))
                return;
        }
        else
        {
            QTreeWidgetItem* const lp_row = l_selected.first();
            for (ItemPtr const& l_pair : m_currentWidgetRecord.GetItems("action_key_column_pair"))
            {
                ItemPtr const l_key =
                    d["active_action_key"]->GetItem(Value(l_pair["action_key"].AsStdString()));
                SetActiveKey(l_key, lp_row->text(l_pair["action_column"].AsInt()));
            }
        }
    }
    emit ActionTriggered(mp_currentWidget.data(), l_action["toolbar_action_id"].AsString());
}

void ActionSetToolBar::OnStatusButtonClicked()
{
    if (!gp_server)
        return;
    bool const l_makeAvailable = !IsAvailable();
    gp_server->SetAvailabilityStatus(l_makeAvailable);
    if (mp_statusButton)
        ShowAvailability(mp_statusButton, l_makeAvailable);
}

void ActionSetToolBar::OnReceivedOwnPrivilegesStatus(int i_seconds)
{
    if (mp_privilegesButton)
        mp_privilegesButton->setText(PrivilegesText(i_seconds));
}

void ActionSetToolBar::OnSupportKestruneButtonClicked()
{
    QString const l_user = d.HasType("global") ? GetSetting("username") : QString();
    QDesktopServices::openUrl(WebPageUrl(QStringLiteral("/qtlogin.php"), QStringLiteral("username"), l_user));
}
