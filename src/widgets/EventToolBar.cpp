#include "widgets/EventToolBar.h"

#include "store/GeneralFunctions.h"
#include "widgets/ApplicationAlerts.h"
#include "widgets/UIFunctions.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QTextDocument>

EventToolBar* eventToolBar = nullptr;

namespace
{
int const c_blinkMilliseconds = 1000;

Value AddressOf(QObject const* ip_object)
{
    return Value(ip_object);
}
} // namespace

EventToolBar::EventToolBar(ApplicationAlerts* ip_alerts, QWidget* ip_parent)
    : QToolBar(ip_parent),
      mp_alerts(ip_alerts),
      m_holdsPlaceholder(false),
      m_alertStep(0)
{
    eventToolBar = this;
    setMovable(false);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    d.NewType("event_toolbar_action", Primary, false, true);
    d.NewType("event_toolbar_widget", Primary, false, true);
    d["event_toolbar_action"]->RelateToType(d["event_toolbar_widget"], One, One);

    AddPlaceholder();
    connect(&m_alertTimer, &QTimer::timeout, this, &EventToolBar::OnIconAlertTimeout);
    connect(qApp, &QApplication::focusChanged, this, &EventToolBar::OnApplicationFocusChanged);
    hide();
}

EventToolBar::~EventToolBar()
{
    if (eventToolBar == this)
        eventToolBar = nullptr;
}

void EventToolBar::AddPlaceholder()
{
    addAction(QString());
    m_holdsPlaceholder = true;
}

void EventToolBar::AddEvent(QString i_text, QString i_icon, QWidget* ip_widget, QString i_popupText)
{
    if (mp_alerts && !mp_alerts->IsApplicationActive())
    {
        if (m_alertIcons.empty())
        {
            m_alertTimer.setInterval(c_blinkMilliseconds);
            m_alertTimer.start();
        }
        m_alertIcons.insert(i_icon);
    }
    if (!ip_widget || ip_widget->isVisible())
        return;
    if (!i_popupText.isEmpty() && mp_alerts)
        mp_alerts->PopupAlert(i_popupText);
    if (d["event_toolbar_widget"]->HasItem(AddressOf(ip_widget)))
        return;

    if (m_holdsPlaceholder)
    {
        for (QAction* lp_action : actions())
        {
            removeAction(lp_action);
            lp_action->deleteLater();
        }
        m_holdsPlaceholder = false;
    }
    // The text is a user's or room's name: shown as it stands, never as a shortcut key or
    // as markup in the tooltip.
    QAction* const lp_action = addAction(QIcon(i_icon), EscapeMnemonics(i_text));
    lp_action->setToolTip(Qt::convertFromPlainText(i_text));
    connect(lp_action, &QAction::triggered, this, &EventToolBar::OnActionTriggered);
    ItemPtr const l_widget = d["event_toolbar_widget"]->GetItem(AddressOf(ip_widget));
    ItemPtr const l_action = d["event_toolbar_action"]->GetItem(AddressOf(lp_action));
    l_action += l_widget;
    connect(ip_widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed,
            Qt::UniqueConnection);
    show();
}

void EventToolBar::RemoveButton(QAction* ip_action)
{
    removeAction(ip_action);
    ip_action->deleteLater();
    if (actions().isEmpty())
    {
        AddPlaceholder();
        hide();
    }
}

bool EventToolBar::RemoveEventOf(QObject const* ip_widget)
{
    ItemPtr const l_widget = d["event_toolbar_widget"]->HasItem(AddressOf(ip_widget));
    if (!l_widget)
        return false;
    ItemPtr const l_action = l_widget["event_toolbar_action"];
    if (l_action)
        RemoveButton(static_cast<QAction*>(l_action.AsPtr<QObject>()));
    l_widget.Remove();
    if (l_action)
        l_action.Remove();
    return true;
}

void EventToolBar::RemoveEvent(QWidget* ip_widget)
{
    if (ip_widget)
        RemoveEventOf(ip_widget);
}

void EventToolBar::OnActionTriggered()
{
    if (g_showIsOver)
        return;
    ItemPtr const l_action = d["event_toolbar_action"]->HasItem(AddressOf(sender()));
    ItemPtr const l_widget = l_action["event_toolbar_widget"];
    if (!l_widget)
        return;
    QWidget* const lp_widget = static_cast<QWidget*>(l_widget.AsPtr<QObject>());
    RemoveEventOf(lp_widget);
    FocusWidgetAndParents(lp_widget);
}

void EventToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver)
        return;
    // Looked up by address: by now the object may no longer be a widget.
    if (ip_widget)
        RemoveEventOf(ip_widget);
}

void EventToolBar::OnIconAlertTimeout()
{
    if (m_alertIcons.empty())
        return;
    auto l_icon = m_alertIcons.begin();
    for (unsigned int l_step = 0; l_step < m_alertStep && l_icon != m_alertIcons.end(); ++l_step)
        ++l_icon;
    if (l_icon == m_alertIcons.end())
    {
        m_alertStep = 0;
        if (mp_alerts)
            mp_alerts->ResetApplicationIcon();
        return;
    }
    if (mp_alerts)
        mp_alerts->SetApplicationIcon(*l_icon);
    ++m_alertStep;
}

void EventToolBar::OnApplicationFocusChanged(QWidget* /*ip_oldWidget*/, QWidget* /*ip_widget*/)
{
    m_alertIcons.clear();
    m_alertTimer.stop();
    if (mp_alerts)
        mp_alerts->ResetApplicationIcon();
}
