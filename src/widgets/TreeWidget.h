#pragma once

#include <QTreeWidget>

class QKeyEvent;

// A tree that announces every key press before it handles the key itself, so that a
// form can act on keys (Delete, for instance) before the selection moves.
class TreeWidget : public QTreeWidget
{
    Q_OBJECT

public:
    explicit TreeWidget(QWidget* ip_parent = nullptr);

signals:
    void KeyPressed(QKeyEvent* ip_event);

protected:
    void keyPressEvent(QKeyEvent* ip_event) override;
};
