#pragma once

#include <QObject>

// A window whose geometry SizeManager keeps across runs. The implementer reports the
// user's moves and resizes through the two signals (and leaves out those of a maximized
// window, so that the remembered normal geometry survives maximizing).
class ResizableWindow : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual int GetX() = 0;
    virtual int GetY() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual void SetPosition(int i_x, int i_y) = 0;
    virtual void SetSize(int i_width, int i_height) = 0;

    void EmitWindowMoved(int i_x, int i_y) { emit WindowMoved(i_x, i_y); }
    void EmitWindowResized(int i_width, int i_height) { emit WindowResized(i_width, i_height); }

signals:
    void WindowMoved(int i_x, int i_y);
    void WindowResized(int i_width, int i_height);
};
