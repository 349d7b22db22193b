#pragma once

// Pending events of tabs the user is not looking at: a private message, a wish-list hit,
// a finished download. Each tab with an event gets one button (the first event's text
// and icon); clicking it brings the tab forward, showing the tab takes the button away,
// and so does destroying it. The toolbar is hidden while it has no button. Events that
// arrive while the main window is inactive make the window icon blink through their
// icons until the next focus change in the application.
//
// One instance, reached through eventToolBar. GUI thread only.

#include "store/Data.h"

#include <QString>
#include <QTimer>
#include <QToolBar>

#include <set>

class ApplicationAlerts;

class EventToolBar : public QToolBar
{
    Q_OBJECT

public:
    // Declares the item types (once per run) and sets eventToolBar. The alerts (the main
    // window) must outlive the toolbar.
    explicit EventToolBar(ApplicationAlerts* ip_alerts, QWidget* ip_parent = nullptr);
    ~EventToolBar() override;

    // i_icon is a resource path such as ":/icons/chat_icon"; i_popupText is a tray balloon
    // text, empty for none. Events of a visible widget only blink.
    void AddEvent(QString i_text, QString i_icon, QWidget* ip_widget, QString i_popupText);
    // Takes the widget's button away, if it has one. Forms call it when their tab shows.
    void RemoveEvent(QWidget* ip_widget);

public slots:
    void OnActionTriggered();
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnIconAlertTimeout();
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);

private:
    void AddPlaceholder();
    // Removes the button of the widget's record (and both records); false without one.
    bool RemoveEventOf(QObject const* ip_widget);
    // Removes and deletes one button; the placeholder returns with the last one.
    void RemoveButton(QAction* ip_action);

    ApplicationAlerts* mp_alerts;
    bool m_holdsPlaceholder;
    std::set<QString> m_alertIcons;
    unsigned int m_alertStep;
    QTimer m_alertTimer;
};

extern EventToolBar* eventToolBar;
