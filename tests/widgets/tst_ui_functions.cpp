#include "widgets/UIFunctions.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

class TestUIFunctions : public QObject
{
    Q_OBJECT

private slots:
    void focusWidgetSelectsEnclosingTabs();
    void nullWidgetChangesNothing();
};

void TestUIFunctions::focusWidgetSelectsEnclosingTabs()
{
    // Window > outer tabs > page 1 > inner tabs > page 1 > line edit.
    QWidget l_window;
    QVBoxLayout* const l_layout = new QVBoxLayout(&l_window);
    QTabWidget* const l_outer = new QTabWidget;
    l_layout->addWidget(l_outer);
    l_outer->addTab(new QWidget, "o0");
    QWidget* const l_outerPage = new QWidget;
    QVBoxLayout* const l_outerLayout = new QVBoxLayout(l_outerPage);
    QTabWidget* const l_inner = new QTabWidget;
    l_outerLayout->addWidget(l_inner);
    l_outer->addTab(l_outerPage, "o1");
    l_inner->addTab(new QWidget, "i0");
    QWidget* const l_innerPage = new QWidget;
    QVBoxLayout* const l_innerLayout = new QVBoxLayout(l_innerPage);
    QLineEdit* const l_edit = new QLineEdit;
    l_innerLayout->addWidget(l_edit);
    l_inner->addTab(l_innerPage, "i1");
    l_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_window));
    QCOMPARE(l_outer->currentIndex(), 0);
    QCOMPARE(l_inner->currentIndex(), 0);

    FocusWidget(l_edit);

    QCOMPARE(l_outer->currentIndex(), 1);
    QCOMPARE(l_inner->currentIndex(), 1);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_edit));

    // A tab page that is itself the widget.
    FocusWidget(l_outer->widget(0));
    QCOMPARE(l_outer->currentIndex(), 0);
    QCOMPARE(l_inner->currentIndex(), 1);
}

void TestUIFunctions::nullWidgetChangesNothing()
{
    QWidget l_window;
    QVBoxLayout* const l_layout = new QVBoxLayout(&l_window);
    QTabWidget* const l_tabs = new QTabWidget;
    l_layout->addWidget(l_tabs);
    QLineEdit* const l_edit = new QLineEdit;
    l_tabs->addTab(new QWidget, "t0");
    l_tabs->addTab(l_edit, "t1");
    l_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l_window));
    FocusWidget(l_edit);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_edit));

    FocusWidget(nullptr);

    QCOMPARE(l_tabs->currentIndex(), 1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(l_edit));
}

QTEST_MAIN(TestUIFunctions)
#include "tst_ui_functions.moc"
