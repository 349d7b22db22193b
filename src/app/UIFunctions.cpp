#include "app/UIFunctions.h"

#include <QTabWidget>
#include <QWidget>

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
}
