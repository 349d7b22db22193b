#pragma once

// Scaffolding shared by the widget tests: an active window, columns of widgets, focus
// that has arrived, and a window of nested tabs.

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

namespace WidgetTestKit
{
inline bool ShowActive(QWidget& io_window)
{
    io_window.show();
    io_window.activateWindow();
    return QTest::qWaitForWindowActive(&io_window);
}

// Lays the children out in a column of the parent; returns the parent.
inline QWidget* Column(QWidget* ip_parent, QList<QWidget*> const& i_children)
{
    QVBoxLayout* const lp_layout = new QVBoxLayout(ip_parent);
    for (QWidget* lp_child : i_children)
        lp_layout->addWidget(lp_child);
    return ip_parent;
}

inline bool Focus(QWidget* ip_widget)
{
    ip_widget->setFocus(Qt::OtherFocusReason);
    return QTest::qWaitFor([&] { return QApplication::focusWidget() == ip_widget; }, 1000);
}

// window [anchor, outer [o0: first, o1: outerPage [marked, inner [i0: innerFirst, i1: deep]]]]
template <class Outer, class Inner> struct NestedTabs
{
    QWidget m_window;
    QLineEdit* mp_anchor = new QLineEdit;
    Outer* mp_outer = new Outer;
    QLineEdit* mp_first = new QLineEdit;
    QLineEdit* mp_marked = new QLineEdit;
    Inner* mp_inner = new Inner;
    QWidget* mp_outerPage = Column(new QWidget, {mp_marked, mp_inner});
    QLineEdit* mp_innerFirst = new QLineEdit;
    QLineEdit* mp_deep = new QLineEdit;

    NestedTabs()
    {
        Column(&m_window, {mp_anchor, mp_outer});
        mp_outer->addTab(mp_first, QStringLiteral("o0"));
        mp_outer->addTab(mp_outerPage, QStringLiteral("o1"));
        mp_inner->addTab(mp_innerFirst, QStringLiteral("i0"));
        mp_inner->addTab(mp_deep, QStringLiteral("i1"));
    }
};
} // namespace WidgetTestKit
