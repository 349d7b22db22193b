#pragma once

#include <QTabWidget>

// The private-chat tab control: a plain tab widget of its own class. Unlike TabWidget it
// does not move the focus when its current tab changes.
class RoomTabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* ip_parent = nullptr);
};
