#include "app/ProxyStyle.h"
#include "app/RoomTabWidget.h"
#include "app/TabWidget.h"
#include "app/TreeWidget.h"
#include "app/UIFunctions.h"

#include <QApplication>
#include <QLineEdit>
#include <QStyleFactory>
#include <QTabBar>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace
{
// A shown, active window holding an anchor line edit and one TabWidget.
struct TabWindow
{
    QWidget m_window;
    QLineEdit* mp_anchor = new QLineEdit;
    TabWidget* mp_tabs = new TabWidget;

    TabWindow()
    {
        QVBoxLayout* const lp_layout = new QVBoxLayout(&m_window);
        lp_layout->addWidget(mp_anchor);
        lp_layout->addWidget(mp_tabs);
    }
    bool Show()
    {
        m_window.show();
        m_window.activateWindow();
        return QTest::qWaitForWindowActive(&m_window);
    }
    // A page of line edits, one per rank (-1: unmarked, a rank above 100: marked with
    // rank - 100 but hidden).
    QWidget* AddPage(QList<int> const& ranks, QList<QWidget*>& o_widgets)
    {
        QWidget* const lp_page = new QWidget;
        QVBoxLayout* const lp_layout = new QVBoxLayout(lp_page);
        for (int l_rank : ranks)
        {
            QLineEdit* const lp_edit = new QLineEdit;
            lp_layout->addWidget(lp_edit);
            if (l_rank > 100)
            {
                lp_edit->setProperty("get_focus", l_rank - 100);
                lp_edit->setVisible(false);
            }
            else if (l_rank >= 0)
                lp_edit->setProperty("get_focus", l_rank);
            o_widgets.append(lp_edit);
        }
        mp_tabs->addTab(lp_page, QStringLiteral("page"));
        return lp_page;
    }
};
} // namespace

class TestTabFocus : public QObject
{
    Q_OBJECT

private slots:
    void tabSwitchFocusesBestRankedWidget();
    void nestedMarkedWidgetsSearchedDepthFirst();
    void registerFocusesOnlyVisibleWidgets();
    void bringingForwardSelectsEveryEnclosingTab();
    void nearestTabWidget();
    void tabColours();
    void treeAnnouncesKeysBeforeMoving();
    void proxyStyleWrapsNamedStyle();
};

void TestTabFocus::tabSwitchFocusesBestRankedWidget()
{
    struct Case
    {
        char const* name;
        QList<int> ranks;
        int winner; // index into the page's widgets; -1: the anchor keeps the focus
    };
    Case const l_cases[] = {
        {"higher rank wins", {1, 2, 1}, 1},
        {"first of equals", {1, 1}, 0},
        {"later higher rank", {1, 1, 3}, 2},
        {"rank 0 never chosen", {0, -1}, -1},
        {"unmarked page", {-1, -1}, -1},
        {"hidden widget skipped", {105, 1}, 1},
        {"only hidden", {105}, -1},
        {"negative rank", {-1, -1}, -1},
    };
    TabWindow l_window;
    l_window.mp_tabs->addTab(new QWidget, QStringLiteral("start"));
    QList<QList<QWidget*>> l_pages;
    for (Case const& l_case : l_cases)
    {
        l_pages.append(QList<QWidget*>());
        l_window.AddPage(l_case.ranks, l_pages.last());
    }
    QVERIFY(l_window.Show());

    for (int l_index = 0; l_index < int(std::size(l_cases)); ++l_index)
    {
        Case const& l_case = l_cases[l_index];
        l_window.mp_tabs->setCurrentIndex(0);
        l_window.mp_anchor->setFocus();
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), static_cast<QWidget*>(l_window.mp_anchor), 1000);

        l_window.mp_tabs->setCurrentIndex(l_index + 1);

        QWidget* const lp_expected =
            l_case.winner < 0 ? l_window.mp_anchor : l_pages[l_index][l_case.winner];
        if (QApplication::focusWidget() != lp_expected)
            QFAIL(qPrintable(QStringLiteral("%1: wrong widget has the focus").arg(l_case.name)));
    }

    // The last tab going away reports -1, which moves nothing.
    l_window.mp_anchor->setFocus();
    while (l_window.mp_tabs->count() > 0)
        delete l_window.mp_tabs->widget(0);
    QCOMPARE(l_window.mp_tabs->currentIndex(), -1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_window.mp_anchor));
}

void TestTabFocus::nestedMarkedWidgetsSearchedDepthFirst()
{
    // Page: [box: [edit rank 1]], edit rank 1, and the page itself marked rank 1.
    // Depth first, the page comes before its children and the box's child before the
    // page's second edit.
    TabWindow l_window;
    l_window.mp_tabs->addTab(new QWidget, QStringLiteral("start"));
    QWidget* const lp_page = new QWidget;
    lp_page->setFocusPolicy(Qt::StrongFocus);
    QVBoxLayout* const lp_layout = new QVBoxLayout(lp_page);
    QWidget* const lp_box = new QWidget;
    QVBoxLayout* const lp_boxLayout = new QVBoxLayout(lp_box);
    QLineEdit* const lp_inner = new QLineEdit;
    lp_boxLayout->addWidget(lp_inner);
    QLineEdit* const lp_second = new QLineEdit;
    lp_layout->addWidget(lp_box);
    lp_layout->addWidget(lp_second);
    l_window.mp_tabs->addTab(lp_page, QStringLiteral("page"));
    lp_inner->setProperty("get_focus", 1);
    lp_second->setProperty("get_focus", 1);
    QVERIFY(l_window.Show());

    l_window.mp_tabs->setCurrentIndex(1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(lp_inner));

    lp_page->setProperty("get_focus", 1);
    l_window.mp_tabs->setCurrentIndex(0);
    l_window.mp_tabs->setCurrentIndex(1);
    QCOMPARE(QApplication::focusWidget(), lp_page);
    QCOMPARE(FindWidgetFocusProperty(lp_page, 0), 1);
    QCOMPARE(FindWidgetFocusProperty(lp_page, 7), 7);
}

void TestTabFocus::registerFocusesOnlyVisibleWidgets()
{
    TabWindow l_window;
    QList<QWidget*> l_first;
    QList<QWidget*> l_second;
    l_window.AddPage({-1}, l_first);
    l_window.AddPage({-1}, l_second);
    QVERIFY(l_window.Show());
    l_window.mp_anchor->setFocus();
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), static_cast<QWidget*>(l_window.mp_anchor), 1000);

    // The second page is hidden behind the first: marked, not focused.
    RegisterWidgetForTabFocus(l_second[0], 1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_window.mp_anchor));
    QCOMPARE(l_second[0]->property("get_focus").toInt(), 1);

    RegisterWidgetForTabFocus(l_first[0], 1);
    QCOMPARE(QApplication::focusWidget(), l_first[0]);

    // The mark takes effect when the hidden page is shown.
    l_window.mp_tabs->setCurrentIndex(1);
    QCOMPARE(QApplication::focusWidget(), l_second[0]);
}

void TestTabFocus::bringingForwardSelectsEveryEnclosingTab()
{
    // Window > TabWidget outer [o0, o1 > RoomTabWidget inner [i0, i1 > edit]], plus a
    // marked edit on o1 that wins the outer tab's focus search.
    QWidget l_window;
    QVBoxLayout* const lp_layout = new QVBoxLayout(&l_window);
    TabWidget* const lp_outer = new TabWidget;
    lp_layout->addWidget(lp_outer);
    lp_outer->addTab(new QLineEdit, QStringLiteral("o0"));
    QWidget* const lp_outerPage = new QWidget;
    QVBoxLayout* const lp_outerLayout = new QVBoxLayout(lp_outerPage);
    QLineEdit* const lp_marked = new QLineEdit;
    lp_marked->setProperty("get_focus", 1);
    lp_outerLayout->addWidget(lp_marked);
    RoomTabWidget* const lp_inner = new RoomTabWidget;
    lp_outerLayout->addWidget(lp_inner);
    lp_outer->addTab(lp_outerPage, QStringLiteral("o1"));
    QLineEdit* const lp_innerFirst = new QLineEdit;
    lp_inner->addTab(lp_innerFirst, QStringLiteral("i0"));
    QWidget* const lp_innerPage = new QWidget;
    QVBoxLayout* const lp_innerLayout = new QVBoxLayout(lp_innerPage);
    QLineEdit* const lp_target = new QLineEdit;
    lp_innerLayout->addWidget(lp_target);
    lp_inner->addTab(lp_innerPage, QStringLiteral("i1"));
    l_window.show();
    l_window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&l_window));

    // Switching the outer TabWidget runs its focus search, which wins over the target.
    FocusWidgetAndParents(lp_target);
    QCOMPARE(lp_outer->currentIndex(), 1);
    QCOMPARE(lp_inner->currentIndex(), 1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(lp_marked));

    // With every tab already current the target keeps the focus.
    FocusWidgetAndParents(lp_target);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(lp_target));

    // A RoomTabWidget runs no focus search when its tab changes.
    lp_innerFirst->setProperty("get_focus", 5);
    lp_marked->setFocus();
    lp_inner->setCurrentIndex(0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(lp_marked));
    FocusWidgetAndParents(lp_innerFirst);
    QCOMPARE(lp_inner->currentIndex(), 0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(lp_innerFirst));
}

void TestTabFocus::nearestTabWidget()
{
    QWidget l_window;
    QVBoxLayout* const lp_layout = new QVBoxLayout(&l_window);
    QLineEdit* const lp_outside = new QLineEdit;
    lp_layout->addWidget(lp_outside);
    QTabWidget* const lp_outer = new QTabWidget;
    lp_layout->addWidget(lp_outer);
    lp_outer->addTab(new QWidget, QStringLiteral("o0"));
    QWidget* const lp_outerPage = new QWidget;
    QVBoxLayout* const lp_outerLayout = new QVBoxLayout(lp_outerPage);
    QTabWidget* const lp_inner = new QTabWidget;
    lp_outerLayout->addWidget(lp_inner);
    lp_outer->addTab(lp_outerPage, QStringLiteral("o1"));
    lp_inner->addTab(new QWidget, QStringLiteral("i0"));
    lp_inner->addTab(new QWidget, QStringLiteral("i1"));
    QWidget* const lp_innerPage = new QWidget;
    QLineEdit* const lp_deep = new QLineEdit(lp_innerPage);
    lp_inner->addTab(lp_innerPage, QStringLiteral("i2"));

    struct Case
    {
        QWidget* widget;
        QTabWidget* tabs;
        int index;
    };
    Case const l_cases[] = {
        {lp_deep, lp_inner, 2},
        {lp_innerPage, lp_inner, 2},
        {lp_inner, lp_outer, 1},
        {lp_outerPage, lp_outer, 1},
        {lp_outside, nullptr, 99},
        {lp_outer->tabBar(), nullptr, 99},
    };
    for (Case const& l_case : l_cases)
    {
        int l_index = 99;
        QCOMPARE(GetWidgetTabWidget(l_case.widget, l_index), l_case.tabs);
        QCOMPARE(l_index, l_case.index);
    }
}

void TestTabFocus::tabColours()
{
    // Outer TabWidget [o0, o1 > inner QTabWidget [i0, i1 > TabWidget deepest [d0, d1 > edit]]].
    TabWidget l_outer;
    l_outer.addTab(new QWidget, QStringLiteral("o0"));
    QTabWidget* const lp_inner = new QTabWidget;
    l_outer.addTab(lp_inner, QStringLiteral("o1"));
    lp_inner->addTab(new QWidget, QStringLiteral("i0"));
    TabWidget* const lp_deepest = new TabWidget;
    lp_inner->addTab(lp_deepest, QStringLiteral("i1"));
    lp_deepest->addTab(new QWidget, QStringLiteral("d0"));
    QLineEdit* const lp_edit = new QLineEdit;
    lp_deepest->addTab(lp_edit, QStringLiteral("d1"));
    l_outer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_outer));
    lp_inner->setCurrentIndex(1);

    // d1 and o1 are not current: blue; the plain inner tab widget is passed over.
    QColor const l_before = lp_inner->tabBar()->tabTextColor(1);
    TabWidget::MarkTabActivity(lp_edit);
    QCOMPARE(lp_deepest->tabBar()->tabTextColor(1), QColor(Qt::blue));
    QCOMPARE(l_outer.tabBar()->tabTextColor(1), QColor(Qt::blue));
    QCOMPARE(lp_inner->tabBar()->tabTextColor(1), l_before);

    // Visiting a tab paints it black; activity in the current tab changes nothing.
    lp_deepest->setCurrentIndex(1);
    QCOMPARE(lp_deepest->tabBar()->tabTextColor(1), QColor(Qt::black));
    TabWidget::MarkTabActivity(lp_edit);
    QCOMPARE(lp_deepest->tabBar()->tabTextColor(1), QColor(Qt::black));
    QCOMPARE(l_outer.tabBar()->tabTextColor(1), QColor(Qt::blue));
}

void TestTabFocus::treeAnnouncesKeysBeforeMoving()
{
    TreeWidget l_tree;
    for (QString const& l_text : {QStringLiteral("a"), QStringLiteral("b")})
        l_tree.addTopLevelItem(new QTreeWidgetItem(QStringList{l_text}));
    l_tree.setCurrentItem(l_tree.topLevelItem(0));
    l_tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_tree));

    QList<QPair<int, QString>> l_seen;
    connect(&l_tree, &TreeWidget::KeyPressed, this, [&](QKeyEvent* ip_event) {
        l_seen.append({ip_event->key(), l_tree.currentItem()->text(0)});
    });
    QTest::keyClick(&l_tree, Qt::Key_Down);

    QCOMPARE(l_seen, (QList<QPair<int, QString>>{{Qt::Key_Down, QStringLiteral("a")}}));
    QCOMPARE(l_tree.currentItem()->text(0), QStringLiteral("b"));
}

void TestTabFocus::proxyStyleWrapsNamedStyle()
{
    ProxyStyle const l_fusion(QStringLiteral("Fusion"));
    QVERIFY(l_fusion.baseStyle());
    QCOMPARE(l_fusion.baseStyle()->name().toLower(), QStringLiteral("fusion"));
    std::unique_ptr<QStyle> const lp_plain(QStyleFactory::create(QStringLiteral("Fusion")));
    QCOMPARE(l_fusion.pixelMetric(QStyle::PM_ScrollBarExtent),
             lp_plain->pixelMetric(QStyle::PM_ScrollBarExtent));

    // An unknown name falls back to the application's style rather than to nothing.
    ProxyStyle const l_unknown(QStringLiteral("no such style"));
    QVERIFY(l_unknown.baseStyle());
}

QTEST_MAIN(TestTabFocus)
#include "tst_tab_focus.moc"
