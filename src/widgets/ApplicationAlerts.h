#pragma once

#include <QString>

// What the event toolbar needs of the main window: its icon, its tray balloons and
// whether the user is looking at it. The main window implements it; the toolbar never
// reaches the window otherwise.
class ApplicationAlerts
{
public:
    // The icon at the resource path becomes the window's (and the tray's) icon.
    virtual void SetApplicationIcon(QString i_icon) = 0;
    // Back to the icon of the connection state.
    virtual void ResetApplicationIcon() = 0;
    // A tray balloon with the text, where the desktop has a tray.
    virtual void PopupAlert(QString i_text) = 0;
    // Whether the main window is the active window.
    virtual bool IsApplicationActive() const = 0;

protected:
    ~ApplicationAlerts() = default;
};
