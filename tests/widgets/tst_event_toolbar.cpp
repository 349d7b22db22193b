#include "WidgetTestKit.h"
#include "store/Data.h"
#include "widgets/ApplicationAlerts.h"
#include "widgets/EventToolBar.h"
#include "widgets/UIFunctions.h"

#include <memory>

using namespace WidgetTestKit;

namespace
{
QString const c_online = QStringLiteral(":/icons/online_icon");
QString const c_away = QStringLiteral(":/icons/away_icon");
QString const c_offline = QStringLiteral(":/icons/offline_icon");

// Stands in for the main window and records what the toolbar asks of it.
class RecordingAlerts : public ApplicationAlerts
{
public:
    void SetApplicationIcon(QString i_icon) override { m_log << "icon " + i_icon; }
    void ResetApplicationIcon() override { m_log << "normal"; }
    void PopupAlert(QString i_text) override { m_log << "popup " + i_text; }
    bool IsApplicationActive() const override { return m_active; }

    bool m_active = true;
    QStringList m_log;
};
} // namespace

class TestEventToolBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void blinkCycle();
    void buttonsLeadBackToTheirTab();
    void shutDownSilencesClicksAndDestruction();

private:
    // The button texts, the placeholder as "".
    QStringList Texts() const
    {
        QStringList l_texts;
        for (QAction* lp_action : mp_bar->actions())
            l_texts << lp_action->text();
        return l_texts;
    }
    std::size_t Records() const
    {
        return d["event_toolbar_widget"]->GetItemCount() + d["event_toolbar_action"]->GetItemCount();
    }

    RecordingAlerts m_alerts;
    EventToolBar* mp_bar = nullptr; // owned by the window
    NestedTabs<QTabWidget, QTabWidget> m_tabs;
};

void TestEventToolBar::initTestCase()
{
    mp_bar = new EventToolBar(&m_alerts);
    QCOMPARE(eventToolBar, mp_bar);
    m_tabs.m_window.layout()->addWidget(mp_bar);
    QVERIFY(ShowActive(m_tabs.m_window));
    QVERIFY(mp_bar->isHidden());
    QCOMPARE(Texts(), QStringList{""});
}

void TestEventToolBar::blinkCycle()
{
    // While the window is inactive every event blinks, visible widget or not, each icon
    // once per cycle in name order.
    m_alerts.m_active = false;
    m_alerts.m_log.clear();
    QWidget l_hidden;
    mp_bar->AddEvent("chat", c_online, m_tabs.mp_first, "");
    for (QString const l_kind : {"chat", "browse", "wish"})
        mp_bar->AddEvent(l_kind, c_away, &l_hidden, "");
    for (int l_tick = 0; l_tick < 7; ++l_tick)
        mp_bar->OnIconAlertTimeout();
    QCOMPARE(m_alerts.m_log, (QStringList{"icon " + c_away, "icon " + c_online, "normal", "icon " + c_away,
                                          "icon " + c_online, "normal", "icon " + c_away}));
    QCOMPARE(Texts(), QStringList{"chat"});

    // A focus change ends it; the kept position first shows the normal icon of a new cycle.
    m_alerts.m_log.clear();
    QVERIFY(Focus(QApplication::focusWidget() == m_tabs.mp_anchor ? m_tabs.mp_first : m_tabs.mp_anchor));
    mp_bar->OnIconAlertTimeout();
    QCOMPARE(m_alerts.m_log, QStringList{"normal"});
    mp_bar->AddEvent("done", c_offline, &l_hidden, "");
    for (int l_tick = 0; l_tick < 3; ++l_tick)
        mp_bar->OnIconAlertTimeout();
    QCOMPARE(m_alerts.m_log, (QStringList{"normal", "normal", "icon " + c_offline, "normal"}));
    m_alerts.m_active = true;
    m_alerts.m_log.clear();
}

void TestEventToolBar::buttonsLeadBackToTheirTab()
{
    // One button per hidden widget with the first event's text and icon; every balloon
    // shows; a visible widget gets neither.
    auto lp_other = std::make_unique<QWidget>();
    mp_bar->AddEvent("From alice", c_online, m_tabs.mp_deep, "alice says hi");
    mp_bar->AddEvent("From bob", c_away, m_tabs.mp_deep, "bob says hi");
    mp_bar->AddEvent("Found", c_away, lp_other.get(), "");
    mp_bar->AddEvent("Seen", c_away, m_tabs.mp_first, "not shown");
    QCOMPARE(m_alerts.m_log, (QStringList{"popup alice says hi", "popup bob says hi"}));
    QCOMPARE(Texts(), (QStringList{"From alice", "Found"}));
    QCOMPARE(mp_bar->actions()[0]->icon().pixmap(16).toImage(), QIcon(c_online).pixmap(16).toImage());
    QVERIFY(!mp_bar->isHidden());

    // The click makes every enclosing tab current and focuses the widget, even from a
    // page that hides on the way.
    QVERIFY(Focus(m_tabs.mp_first));
    QPointer<QAction> const lp_button = mp_bar->actions()[0];
    lp_button->trigger();
    QCOMPARE(m_tabs.mp_outer->currentIndex(), 1);
    QCOMPARE(m_tabs.mp_inner->currentIndex(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), static_cast<QWidget*>(m_tabs.mp_deep), 1000);
    QCOMPARE(Texts(), QStringList{"Found"});
    QTRY_VERIFY_WITH_TIMEOUT(lp_button.isNull(), 1000);

    // Shown or destroyed widgets lose their button; the last one hides the toolbar.
    mp_bar->AddEvent("Again", c_away, m_tabs.mp_first, "");
    mp_bar->RemoveEvent(m_tabs.mp_deep);
    QCOMPARE(Texts(), (QStringList{"Found", "Again"}));
    mp_bar->RemoveEvent(m_tabs.mp_first);
    QCOMPARE(Texts(), QStringList{"Found"});
    lp_other.reset();
    QCOMPARE(Texts(), QStringList{""});
    QVERIFY(mp_bar->isHidden());
    QCOMPARE(Records(), std::size_t(0));
}

void TestEventToolBar::shutDownSilencesClicksAndDestruction()
{
    m_tabs.mp_outer->setCurrentIndex(0);
    auto lp_widget = std::make_unique<QLineEdit>();
    mp_bar->AddEvent("late", c_online, lp_widget.get(), "");
    mp_bar->AddEvent("deep", c_online, m_tabs.mp_deep, "");
    g_showIsOver = true;
    mp_bar->actions()[1]->trigger();
    lp_widget.reset();
    QCOMPARE(m_tabs.mp_outer->currentIndex(), 0);
    QCOMPARE(Texts(), (QStringList{"late", "deep"}));
    QCOMPARE(Records(), std::size_t(4));
}

QTEST_MAIN(TestEventToolBar)
#include "tst_event_toolbar.moc"
