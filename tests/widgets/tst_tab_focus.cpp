#include "WidgetTestKit.h"
#include "widgets/RoomTabWidget.h"
#include "widgets/TabWidget.h"
#include "widgets/TreeWidget.h"
#include "widgets/UIFunctions.h"

#include <QTabBar>

using namespace WidgetTestKit;

class TestTabFocus : public QObject
{
    Q_OBJECT

private slots:
    void tabSwitchFocusesBestRankedWidget();
    void bringingForwardAndNearestTabWidget();
    void treeAnnouncesKeysBeforeMoving();
};

void TestTabFocus::tabSwitchFocusesBestRankedWidget()
{
    // Per page, one line edit per rank (-1 unmarked, above 100: rank - 100 but hidden);
    // the winner's index, or -1 when the anchor keeps the focus.
    struct Case
    {
        QList<int> ranks;
        int winner;
    } const l_cases[] = {
        {{1, 2, 1}, 1}, {{1, 1}, 0}, {{1, 1, 3}, 2}, {{0, -1}, -1}, {{105, 1}, 1}, {{105}, -1},
    };
    QWidget l_window;
    QLineEdit* const lp_anchor = new QLineEdit;
    TabWidget* const lp_tabs = new TabWidget;
    Column(&l_window, {lp_anchor, lp_tabs});
    lp_tabs->addTab(new QWidget, QStringLiteral("start"));
    QList<QList<QLineEdit*>> l_pages;
    for (Case const& l_case : l_cases)
    {
        QWidget* const lp_page = new QWidget;
        l_pages.append(QList<QLineEdit*>());
        for (qsizetype l_at = 0; l_at < l_case.ranks.size(); ++l_at)
            l_pages.last().append(new QLineEdit(lp_page));
        Column(lp_page, QList<QWidget*>(l_pages.last().begin(), l_pages.last().end()));
        lp_tabs->addTab(lp_page, QStringLiteral("page"));
    }
    QVERIFY(ShowActive(l_window));
    // Marked after showing: a visible widget takes the focus at once, a hidden one not.
    QVERIFY(Focus(lp_anchor));
    for (int l_page = 0; l_page < l_pages.size(); ++l_page)
        for (int l_at = 0; l_at < l_pages[l_page].size(); ++l_at)
        {
            int const l_rank = l_cases[l_page].ranks[l_at];
            l_pages[l_page][l_at]->setVisible(l_rank < 100);
            if (l_rank >= 0)
                RegisterWidgetForTabFocus(l_pages[l_page][l_at], l_rank % 100);
        }
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(lp_anchor));
    QVERIFY(Focus(lp_tabs->tabBar()));
    RegisterWidgetForTabFocus(lp_anchor, 0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(lp_anchor));

    for (int l_page = 0; l_page < l_pages.size(); ++l_page)
    {
        lp_tabs->setCurrentIndex(0);
        QVERIFY(Focus(lp_anchor));
        lp_tabs->setCurrentIndex(l_page + 1);
        int const l_winner = l_cases[l_page].winner;
        QWidget* const lp_expected = l_winner < 0 ? lp_anchor : l_pages[l_page][l_winner];
        QVERIFY2(QApplication::focusWidget() == lp_expected, qPrintable(QString::number(l_page)));
        QCOMPARE(lp_tabs->tabBar()->tabTextColor(l_page + 1), QColor(Qt::black));
    }
    // The last tab going reports -1, which moves nothing.
    QVERIFY(Focus(lp_anchor));
    while (lp_tabs->count() > 0)
        delete lp_tabs->widget(0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(lp_anchor));
}

void TestTabFocus::bringingForwardAndNearestTabWidget()
{
    // The outer TabWidget runs its focus search on the marked edit; the inner
    // RoomTabWidget runs none.
    NestedTabs<TabWidget, RoomTabWidget> l_tabs;
    l_tabs.mp_marked->setProperty("get_focus", 1);
    l_tabs.mp_innerFirst->setProperty("get_focus", 5);
    QVERIFY(ShowActive(l_tabs.m_window));
    QVERIFY(Focus(l_tabs.mp_first));

    FocusWidgetAndParents(l_tabs.mp_deep);
    QCOMPARE(l_tabs.mp_outer->currentIndex(), 1);
    QCOMPARE(l_tabs.mp_inner->currentIndex(), 1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_tabs.mp_marked));
    // Every tab already current: the widget keeps the focus.
    FocusWidgetAndParents(l_tabs.mp_deep);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_tabs.mp_deep));
    QVERIFY(Focus(l_tabs.mp_marked));
    l_tabs.mp_inner->setCurrentIndex(0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_tabs.mp_marked));

    struct Case
    {
        QWidget* widget;
        QTabWidget* tabs;
        int index;
    } const l_cases[] = {
        {l_tabs.mp_deep, l_tabs.mp_inner, 1},   {l_tabs.mp_inner, l_tabs.mp_outer, 1},
        {l_tabs.mp_first, l_tabs.mp_outer, 0},  {l_tabs.mp_anchor, nullptr, 99},
        {l_tabs.mp_outer->tabBar(), nullptr, 99},
    };
    for (Case const& l_case : l_cases)
    {
        int l_index = 99;
        QCOMPARE(GetWidgetTabWidget(l_case.widget, l_index), l_case.tabs);
        QCOMPARE(l_index, l_case.index);
    }
}

void TestTabFocus::treeAnnouncesKeysBeforeMoving()
{
    TreeWidget l_tree;
    l_tree.addTopLevelItems({new QTreeWidgetItem({"a"}), new QTreeWidgetItem({"b"})});
    l_tree.setCurrentItem(l_tree.topLevelItem(0));
    QStringList l_seen;
    connect(&l_tree, &TreeWidget::KeyPressed, this,
            [&](QKeyEvent* ip_event) { l_seen << QString::number(ip_event->key()) + l_tree.currentItem()->text(0); });
    QTest::keyClick(&l_tree, Qt::Key_Down);
    QCOMPARE(l_seen, QStringList{QString::number(Qt::Key_Down) + "a"});
    QCOMPARE(l_tree.currentItem()->text(0), QStringLiteral("b"));
}

QTEST_MAIN(TestTabFocus)
#include "tst_tab_focus.moc"
