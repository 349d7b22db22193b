#pragma once

#include <QPalette>
#include <QString>
#include <QWidget>

// What the forms need of the main window: a parent for the dialogs they leave open and the
// private chats. The main window implements it and registers itself in applicationWindow;
// the forms never reach the window otherwise.
class ApplicationWindow
{
public:
    // The window itself, as the parent of dialogs that outlive the form that opened them.
    virtual QWidget* WindowWidget() = 0;
    // Opens the private chat with the user, or brings it to the front.
    virtual void OpenChatForm(QString i_user) = 0;

protected:
    ~ApplicationWindow() = default;
};

// The main window while it lives, null before and after.
extern ApplicationWindow* applicationWindow;
// The application palette as found at start-up: the source of the palette colour
// defaults.
extern QPalette defaultPalette;
// The build number, YYYYMMDD.
extern qint64 const g_currentVersion;
