#include "app/ApplicationAlerts.h"
#include "app/EventToolBar.h"
#include "app/UIFunctions.h"
#include "store/Data.h"
#include "support/StoreServices.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace
{
QString const c_online = QStringLiteral(":/icons/online_icon");
QString const c_away = QStringLiteral(":/icons/away_icon");
QString const c_offline = QStringLiteral(":/icons/offline_icon");

// Stands in for the main window: records what the toolbar asks of it.
class RecordingAlerts : public ApplicationAlerts
{
public:
    void SetApplicationIcon(QString i_icon) override { m_log.append("icon " + i_icon); }
    void ResetApplicationIcon() override { m_log.append(QStringLiteral("normal")); }
    void PopupAlert(QString i_text) override { m_log.append("popup " + i_text); }
    bool IsApplicationActive() const override { return m_active; }

    bool m_active = true;
    QStringList m_log;
};

QImage IconImage(QIcon const& i_icon)
{
    return i_icon.pixmap(16, 16).toImage();
}
} // namespace

class TestEventToolBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void blinkCycle();
    void buttonsPerHiddenWidget();
    void clickBringsNestedTabForward();
    void shownOrDestroyedWidgetsLoseTheirButton();
    void shutDownSilencesClicksAndDestruction();

private:
    // The event buttons (the placeholder left out).
    QList<QAction*> Buttons() const;
    std::size_t Records() const
    {
        return d["event_toolbar_widget"]->GetItemCount() + d["event_toolbar_action"]->GetItemCount();
    }

    RecordingAlerts m_alerts;
    std::unique_ptr<EventToolBar> mp_bar;
    // Window: outer tabs [o0 > visible, o1 > inner tabs [i0, i1 > deep]].
    QWidget m_window;
    QTabWidget* mp_outer = nullptr;
    QTabWidget* mp_inner = nullptr;
    QLineEdit* mp_visible = nullptr;
    QLineEdit* mp_deep = nullptr;
};

void TestEventToolBar::initTestCase()
{
    StartStoreServices();
    mp_bar = std::make_unique<EventToolBar>(&m_alerts);
    QCOMPARE(eventToolBar, mp_bar.get());

    QVBoxLayout* const lp_layout = new QVBoxLayout(&m_window);
    mp_outer = new QTabWidget;
    lp_layout->addWidget(mp_outer);
    mp_visible = new QLineEdit;
    mp_outer->addTab(mp_visible, "o0");
    mp_inner = new QTabWidget;
    mp_outer->addTab(mp_inner, "o1");
    mp_inner->addTab(new QLineEdit, "i0");
    mp_deep = new QLineEdit;
    mp_inner->addTab(mp_deep, "i1");
    m_window.show();
    m_window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_window));

    // Hidden, holding only its placeholder.
    QVERIFY(mp_bar->isHidden());
    QCOMPARE(mp_bar->actions().size(), 1);
    QCOMPARE(mp_bar->actions().first()->text(), QString());
}

QList<QAction*> TestEventToolBar::Buttons() const
{
    QList<QAction*> l_buttons;
    for (QAction* lp_action : mp_bar->actions())
        if (!lp_action->text().isEmpty())
            l_buttons.append(lp_action);
    return l_buttons;
}

void TestEventToolBar::blinkCycle()
{
    // Events while the window is inactive blink in name order, each path once per
    // cycle, whether or not their widget is visible.
    m_alerts.m_active = false;
    m_alerts.m_log.clear();
    QWidget l_hidden;
    mp_bar->AddEvent("chat", c_online, mp_visible, "");
    mp_bar->AddEvent("chat", c_away, &l_hidden, "");
    mp_bar->AddEvent("browse", c_away, &l_hidden, "");
    mp_bar->AddEvent("wish", c_away, &l_hidden, "");
    for (int l_tick = 0; l_tick < 6; ++l_tick)
        mp_bar->OnIconAlertTimeout();
    QCOMPARE(m_alerts.m_log, (QStringList{"icon " + c_away, "icon " + c_online, "normal",
                                          "icon " + c_away, "icon " + c_online, "normal"}));

    // A focus change ends the blinking; the cycle position is kept, so a new blink with a
    // shorter list first shows the normal icon.
    mp_bar->OnIconAlertTimeout();
    m_alerts.m_log.clear();
    mp_bar->OnApplicationFocusChanged(nullptr, nullptr);
    mp_bar->OnIconAlertTimeout();
    QCOMPARE(m_alerts.m_log, QStringList{"normal"});
    m_alerts.m_log.clear();
    mp_bar->AddEvent("done", c_offline, &l_hidden, "");
    for (int l_tick = 0; l_tick < 3; ++l_tick)
        mp_bar->OnIconAlertTimeout();
    QCOMPARE(m_alerts.m_log, (QStringList{"normal", "icon " + c_offline, "normal"}));

    // Focus moving in the application stops it for real.
    m_alerts.m_log.clear();
    mp_visible->setFocus();
    mp_outer->setFocus();
    QVERIFY(m_alerts.m_log.contains("normal"));
    m_alerts.m_log.clear();
    mp_bar->OnIconAlertTimeout();
    QCOMPARE(m_alerts.m_log, QStringList());

    m_alerts.m_active = true;
    mp_bar->RemoveEvent(&l_hidden);
}

void TestEventToolBar::buttonsPerHiddenWidget()
{
    m_alerts.m_log.clear();
    mp_outer->setCurrentIndex(0);
    QWidget l_other;

    // One button per widget: the first event's text and icon; every balloon shows.
    mp_bar->AddEvent("From alice", c_online, mp_deep, "alice says hi");
    mp_bar->AddEvent("From bob", c_away, mp_deep, "bob says hi");
    mp_bar->AddEvent("Found", c_away, &l_other, "");
    // A visible widget gets neither a button nor a balloon.
    mp_bar->AddEvent("Seen", c_away, mp_visible, "not shown");

    QCOMPARE(m_alerts.m_log, (QStringList{"popup alice says hi", "popup bob says hi"}));
    QList<QAction*> const l_buttons = Buttons();
    QCOMPARE(l_buttons.size(), 2);
    QCOMPARE(mp_bar->actions(), l_buttons);
    QCOMPARE(l_buttons[0]->text(), QStringLiteral("From alice"));
    QCOMPARE(IconImage(l_buttons[0]->icon()), IconImage(QIcon(c_online)));
    QCOMPARE(l_buttons[1]->text(), QStringLiteral("Found"));
    QVERIFY(!mp_bar->isHidden());

    mp_bar->RemoveEvent(mp_deep);
    mp_bar->RemoveEvent(&l_other);
    QVERIFY(mp_bar->isHidden());
    QCOMPARE(Records(), std::size_t(0));
}

void TestEventToolBar::clickBringsNestedTabForward()
{
    mp_outer->setCurrentIndex(0);
    mp_inner->setCurrentIndex(0);
    mp_visible->setFocus();
    mp_bar->AddEvent("From alice", c_online, mp_deep, "");
    QPointer<QAction> const lp_button = Buttons().first();

    lp_button->trigger();

    QCOMPARE(mp_outer->currentIndex(), 1);
    QCOMPARE(mp_inner->currentIndex(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), static_cast<QWidget*>(mp_deep), 1000);
    QCOMPARE(Buttons().size(), 0);
    QCOMPARE(mp_bar->actions().size(), 1);
    QVERIFY(mp_bar->isHidden());
    QCOMPARE(Records(), std::size_t(0));
    QTRY_VERIFY_WITH_TIMEOUT(lp_button.isNull(), 1000);
}

void TestEventToolBar::shownOrDestroyedWidgetsLoseTheirButton()
{
    mp_outer->setCurrentIndex(0);
    auto lp_first = std::make_unique<QWidget>();
    auto lp_second = std::make_unique<QWidget>();
    mp_bar->AddEvent("first", c_online, lp_first.get(), "");
    mp_bar->AddEvent("second", c_away, lp_second.get(), "");

    // Shown: the form calls RemoveEvent; the toolbar stays while a button is left.
    mp_bar->RemoveEvent(lp_first.get());
    QCOMPARE(Buttons().size(), 1);
    QVERIFY(!mp_bar->isHidden());
    mp_bar->RemoveEvent(lp_first.get());
    QCOMPARE(Buttons().size(), 1);

    lp_second.reset();
    QCOMPARE(Buttons().size(), 0);
    QVERIFY(mp_bar->isHidden());
    QCOMPARE(Records(), std::size_t(0));

    // The next event shows the toolbar again with only its own button.
    mp_bar->AddEvent("again", c_online, lp_first.get(), "");
    QCOMPARE(mp_bar->actions().size(), 1);
    QCOMPARE(mp_bar->actions().first()->text(), QStringLiteral("again"));
    QVERIFY(!mp_bar->isHidden());
    lp_first.reset();
    QVERIFY(mp_bar->isHidden());
}

void TestEventToolBar::shutDownSilencesClicksAndDestruction()
{
    mp_outer->setCurrentIndex(0);
    auto lp_widget = std::make_unique<QLineEdit>();
    mp_bar->AddEvent("late", c_online, lp_widget.get(), "");
    mp_bar->AddEvent("late", c_online, mp_deep, "");
    mp_inner->setCurrentIndex(0);

    g_showIsOver = true;
    Buttons().last()->trigger();
    QCOMPARE(mp_outer->currentIndex(), 0);
    lp_widget.reset();
    QCOMPARE(Buttons().size(), 2);
    QCOMPARE(Records(), std::size_t(4));
}

QTEST_MAIN(TestEventToolBar)
#include "tst_event_toolbar.moc"
