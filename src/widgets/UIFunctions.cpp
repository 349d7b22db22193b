#include "widgets/UIFunctions.h"

#include <QApplication>
#include <QTabWidget>
#include <QVariant>
#include <QWidget>

#include <vector>

bool g_showIsOver = false;

namespace
{
char const* const c_focusProperty = "get_focus";
}

void FocusWidget(QWidget* widget)
{
    if (!widget)
        return;
    widget->activateWindow();
    widget->setFocus(Qt::OtherFocusReason);
    for (QWidget* l_parent = widget->parentWidget(); l_parent; l_parent = l_parent->parentWidget())
    {
        QTabWidget* const l_tabs = qobject_cast<QTabWidget*>(l_parent);
        if (!l_tabs)
            continue;
        for (int i = 0; i < l_tabs->count(); ++i)
        {
            QWidget* const l_page = l_tabs->widget(i);
            if (l_page == widget || (l_page && l_page->isAncestorOf(widget)))
            {
                l_tabs->setCurrentIndex(i);
                break;
            }
        }
    }
    // A hidden widget only gets the focus once it is shown, and Qt drops that wish when
    // the page that held the focus is hidden on the way. Give it again, unless a tab's
    // focus search has meanwhile handed the focus to a marked widget of the new page.
    QWidget* const l_focus = QApplication::focusWidget();
    if (widget->isVisible() && l_focus != widget &&
        !(l_focus && l_focus->property(c_focusProperty).isValid()))
        widget->setFocus(Qt::OtherFocusReason);
}

void RegisterWidgetForTabFocus(QWidget* ip_widget, int i_rank)
{
    if (!ip_widget)
        return;
    ip_widget->setProperty(c_focusProperty, i_rank);
    if (ip_widget->isVisible())
        ip_widget->setFocus(Qt::OtherFocusReason);
}

int FindWidgetFocusProperty(QWidget* ip_widget, int i_best)
{
    if (!ip_widget || !ip_widget->isVisible())
        return i_best;
    QVariant const l_rank = ip_widget->property(c_focusProperty);
    // Only a strictly higher rank takes the focus, so among equals the first one found
    // keeps it.
    if (l_rank.isValid() && l_rank.toInt() > i_best)
    {
        ip_widget->setFocus(Qt::OtherFocusReason);
        i_best = l_rank.toInt();
    }
    for (QObject* lp_child : ip_widget->children())
        if (QWidget* const lp_childWidget = qobject_cast<QWidget*>(lp_child))
            i_best = FindWidgetFocusProperty(lp_childWidget, i_best);
    return i_best;
}

void FocusWidgetAndParents(QWidget* ip_widget)
{
    FocusWidget(ip_widget);
}

QTabWidget* GetWidgetTabWidget(QWidget* ip_widget, int& io_index)
{
    std::vector<QWidget*> l_path;
    for (QWidget* lp_widget = ip_widget; lp_widget; lp_widget = lp_widget->parentWidget())
    {
        if (QTabWidget* const lp_tabs = qobject_cast<QTabWidget*>(lp_widget))
            for (QWidget* lp_below : l_path)
            {
                int const l_index = lp_tabs->indexOf(lp_below);
                if (l_index != -1)
                {
                    io_index = l_index;
                    return lp_tabs;
                }
            }
        l_path.push_back(lp_widget);
    }
    return nullptr;
}
