#pragma once

#include <QTabWidget>

// A tab widget that hands the keyboard focus to the best-ranked widget of the page it
// shows (see RegisterWidgetForTabFocus), so that the action toolbar, which follows the
// focus, shows that page's commands. A tab the user has looked at is painted black; one
// with unseen activity blue.
class TabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit TabWidget(QWidget* ip_parent = nullptr);

    // Paints blue the tab that holds the widget in every enclosing TabWidget where that
    // tab is not the current one, innermost first. Tab widgets of other classes are
    // passed over.
    static void MarkTabActivity(QWidget* ip_widget);

public slots:
    void OnTabChanged(int i_tab);
};
