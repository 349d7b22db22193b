#include "widgets/TabWidget.h"

#include "widgets/UIFunctions.h"

#include <QTabBar>

TabWidget::TabWidget(QWidget* ip_parent) : QTabWidget(ip_parent)
{
    connect(this, &QTabWidget::currentChanged, this, &TabWidget::OnTabChanged);
}

void TabWidget::OnTabChanged(int i_tab)
{
    // -1 arrives when the last tab goes.
    if (i_tab == -1)
        return;
    FindWidgetFocusProperty(widget(i_tab), 0);
    tabBar()->setTabTextColor(i_tab, Qt::black);
}

void TabWidget::MarkTabActivity(QWidget* ip_widget)
{
    for (QWidget* lp_parent = ip_widget ? ip_widget->parentWidget() : nullptr; lp_parent;
         lp_parent = lp_parent->parentWidget())
    {
        if (TabWidget* const lp_tabs = qobject_cast<TabWidget*>(lp_parent))
        {
            for (int l_tab = 0; l_tab < lp_tabs->count(); ++l_tab)
            {
                QWidget* const lp_page = lp_tabs->widget(l_tab);
                if (lp_page == ip_widget || (lp_page && lp_page->isAncestorOf(ip_widget)))
                {
                    if (l_tab != lp_tabs->currentIndex())
                        lp_tabs->tabBar()->setTabTextColor(l_tab, Qt::blue);
                    break;
                }
            }
        }
    }
}
