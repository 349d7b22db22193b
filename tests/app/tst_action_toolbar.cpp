#include "app/ActionSetToolBar.h"
#include "app/UIFunctions.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "support/StoreServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <QtTest>

#include <climits>
#include <memory>

namespace
{
char const* const c_toolbarTypes[] = {
    "toolbar_action_set",    "toolbar_action",       "toolbar_action_id",  "toolbar_action_order",
    "toolbar_action_widget", "action_key_value_pair", "action_key",        "action_value",
    "action_key_column_pair", "action_column",       "active_action_key", "active_action_value",
    "widget_action_text",    "widget_action_hidden", "toolbar_action_object", "toolbar_action_icon",
    "toolbar_action_text",   "needs_list_selection",
};

// Item counts of every toolbar type, to see that something made or left no records.
QList<std::size_t> RecordCounts()
{
    QList<std::size_t> l_counts;
    for (char const* lp_type : c_toolbarTypes)
        l_counts.append(d[lp_type]->GetItemCount());
    return l_counts;
}

// A registered widget: a line edit and a tree of two-column rows.
struct Panel
{
    QWidget* mp_widget = new QWidget;
    QLineEdit* mp_edit = new QLineEdit;
    QTreeWidget* mp_tree = new QTreeWidget;

    Panel()
    {
        QVBoxLayout* const lp_layout = new QVBoxLayout(mp_widget);
        lp_layout->addWidget(mp_edit);
        lp_layout->addWidget(mp_tree);
        mp_tree->setColumnCount(2);
        mp_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
        for (QString const& l_row : {QStringLiteral("r1"), QStringLiteral("r2"), QStringLiteral("r3")})
            mp_tree->addTopLevelItem(new QTreeWidgetItem(QStringList{l_row, l_row + QStringLiteral("-user")}));
    }
};

class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> m_urls;

public slots:
    void open(QUrl const& i_url) { m_urls.append(i_url); }
};
} // namespace

class TestActionToolBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void rebuildsFollowFocus();
    void keysFromPairsAndSelectedRows();
    void overridesTakeEffectAtOnce();
    void recordsDieWithTheirWidget();
    void triggerAfterTreeDestroyed();
    void lookupsCreateNothing();
    void privilegeDays();
    void serverButtons();
    void shutDownSilencesTheToolbar();

private:
    // The toolbar left to right: push buttons and labels by text, the spacer as
    // "<spacer>", actions by text with "[hidden]" when not visible.
    QStringList Layout() const;
    QAction* Button(QString const& i_text) const;
    bool Focus(QWidget* ip_widget);

    FakeServer m_fake;
    std::unique_ptr<Server> mp_server;
    ActionSetToolBar* mp_bar = nullptr;
    QWidget m_window;
    QLineEdit* mp_outside = nullptr;
    QTabWidget* mp_tabs = nullptr;
    Panel m_first;
    Panel m_second;
};

void TestActionToolBar::initTestCase()
{
    StartStoreServices();
    QVERIFY(m_fake.Listen());
    SetSetting("server_host", QStringLiteral("127.0.0.1"));
    SetSetting("server_port", QString::number(m_fake.Port()));
    SetSetting("username", QStringLiteral("alice"));
    SetSetting("password", QStringLiteral("pw"));
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();

    mp_bar = new ActionSetToolBar(&m_window);
    QCOMPARE(actionBar, mp_bar);
    // Before Init focus changes are not followed and there is no status button yet.
    QCOMPARE(Layout(), (QStringList{"", "<spacer>", "Support Kestrune!"}));
    mp_bar->Init();

    // Sets are filled interleaved: the order counter runs across sets.
    mp_bar->AddSetAction("alpha", "a1", "One", ":/icons/online_icon", false);
    mp_bar->AddSetAction("beta", "b1", "Bee", ":/icons/away_icon", false);
    mp_bar->AddSetAction("alpha", "a2", "Two", ":/icons/online_icon", true);
    mp_bar->AddSetAction("alpha", "a3", "Three", ":/icons/away_icon", false);

    // Window: toolbar, an unregistered line edit, tabs [first panel, second panel].
    QVBoxLayout* const lp_layout = new QVBoxLayout(&m_window);
    lp_layout->addWidget(mp_bar);
    mp_outside = new QLineEdit;
    lp_layout->addWidget(mp_outside);
    mp_tabs = new QTabWidget;
    lp_layout->addWidget(mp_tabs);
    mp_tabs->addTab(m_first.mp_widget, "first");
    mp_tabs->addTab(m_second.mp_widget, "second");
    mp_bar->RegisterWidget(m_first.mp_widget, "beta");
    mp_bar->RegisterWidget(m_first.mp_widget, "alpha"); // the last registration wins
    mp_bar->RegisterWidget(m_second.mp_widget, "alpha");
    mp_bar->SetWidgetActionText(m_second.mp_widget, "a1", "Uno");
    mp_bar->SetWidgetActionHidden(m_second.mp_widget, "a3", true);
    m_window.resize(520, 300);
    m_window.show();
    m_window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_window));
}

void TestActionToolBar::cleanupTestCase()
{
    mp_server.reset();
    delete portForwarder;
}

QStringList TestActionToolBar::Layout() const
{
    QStringList l_layout;
    for (QAction* lp_action : mp_bar->actions())
    {
        QWidgetAction* const lp_widgetAction = qobject_cast<QWidgetAction*>(lp_action);
        QWidget* const lp_widget = lp_widgetAction ? lp_widgetAction->defaultWidget() : nullptr;
        if (QPushButton* const lp_button = qobject_cast<QPushButton*>(lp_widget))
            l_layout.append(lp_button->text());
        else if (QLabel* const lp_label = qobject_cast<QLabel*>(lp_widget))
            l_layout.append(lp_label->text());
        else if (lp_widget)
            l_layout.append(lp_widget->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding
                                ? QStringLiteral("<spacer>")
                                : QStringLiteral("<widget>"));
        else
            l_layout.append(lp_action->text() + (lp_action->isVisible() ? "" : "[hidden]"));
    }
    return l_layout;
}

QAction* TestActionToolBar::Button(QString const& i_text) const
{
    for (QAction* lp_action : mp_bar->actions())
        if (lp_action->text() == i_text && !qobject_cast<QWidgetAction*>(lp_action))
            return lp_action;
    return nullptr;
}

bool TestActionToolBar::Focus(QWidget* ip_widget)
{
    ip_widget->setFocus(Qt::OtherFocusReason);
    return QTest::qWaitFor([&] { return QApplication::focusWidget() == ip_widget; }, 1000);
}

void TestActionToolBar::rebuildsFollowFocus()
{
    QStringList const l_bare{"Available", " ", "", "<spacer>", "Support Kestrune!"};
    QStringList const l_first{"Available", " ", "One", "Two", "Three", "", "<spacer>", "Support Kestrune!"};
    QStringList const l_second{"Available", " ", "Uno", "Two", "Three[hidden]", "", "<spacer>",
                               "Support Kestrune!"};

    mp_tabs->setCurrentIndex(0);
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(Layout(), l_first);
    QCOMPARE(mp_bar->CurrentWidget(), m_first.mp_widget);
    QCOMPARE(mp_bar->CurrentTree(), static_cast<QTreeWidget*>(nullptr));
    QAction* const lp_one = Button("One");

    // Inside the same widget: no rebuild, but the tree on the path is found.
    QVERIFY(Focus(m_first.mp_tree));
    QCOMPARE(Button("One"), lp_one);
    QCOMPARE(mp_bar->CurrentTree(), m_first.mp_tree);

    QVERIFY(Focus(mp_outside));
    QCOMPARE(Layout(), l_bare);
    QCOMPARE(mp_bar->CurrentSetName(), QString());

    // The tab bar and the tab widget stand for the current page.
    mp_tabs->setCurrentIndex(1);
    QVERIFY(Focus(mp_tabs->tabBar()));
    QCOMPARE(Layout(), l_second);
    QCOMPARE(mp_bar->CurrentWidget(), m_second.mp_widget);
    mp_tabs->setCurrentIndex(0);
    mp_bar->OnApplicationFocusChanged(nullptr, mp_tabs);
    QCOMPARE(Layout(), l_first);
    QCOMPARE(mp_bar->CurrentWidget(), m_first.mp_widget);
}

void TestActionToolBar::keysFromPairsAndSelectedRows()
{
    mp_bar->AddWidgetKey(m_first.mp_widget, "room", "lobby");
    mp_bar->AddWidgetKey(m_second.mp_widget, "room", "attic");
    mp_bar->AddWidgetColumnKey(m_first.mp_widget, "user", 1);
    mp_bar->AddWidgetColumnKey(m_first.mp_widget, "room", 0);
    QSignalSpy l_triggered(mp_bar, &ActionSetToolBar::ActionTriggered);

    mp_tabs->setCurrentIndex(0);
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("lobby"));
    QCOMPARE(mp_bar->GetKey("never set"), QString());

    // Needs a selection: refused while the tree on the focus path has none...
    QVERIFY(Focus(m_first.mp_tree));
    m_first.mp_tree->clearSelection();
    Button("Two")->trigger();
    QCOMPARE(l_triggered.count(), 0);
    Button("One")->trigger();
    QCOMPARE(l_triggered.count(), 1);
    QCOMPARE(l_triggered.takeFirst(), (QVariantList{QVariant::fromValue<QWidget*>(m_first.mp_widget), "a1"}));

    // ...and the first selected row gives the column keys.
    m_first.mp_tree->topLevelItem(2)->setSelected(true);
    m_first.mp_tree->topLevelItem(1)->setSelected(true);
    QTreeWidgetItem* const lp_first = m_first.mp_tree->selectedItems().first();
    Button("Two")->trigger();
    QCOMPARE(l_triggered.count(), 1);
    QCOMPARE(l_triggered.takeFirst().at(1).toString(), QStringLiteral("a2"));
    QCOMPARE(mp_bar->GetKey("user"), lp_first->text(1));
    QCOMPARE(mp_bar->GetKey("room"), lp_first->text(0));

    // Moving inside the widget copies the fixed key again, without a rebuild.
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("lobby"));
    // No tree on the path: the same action goes out whatever the selection.
    m_first.mp_tree->clearSelection();
    Button("Two")->trigger();
    QCOMPARE(l_triggered.count(), 1);
    l_triggered.clear();

    mp_tabs->setCurrentIndex(1);
    QVERIFY(Focus(m_second.mp_edit));
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("attic"));
    // Keys stay when the focus leaves every registered widget.
    QVERIFY(Focus(mp_outside));
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("attic"));
    QCOMPARE(mp_bar->GetKey("user"), lp_first->text(1));
}

void TestActionToolBar::overridesTakeEffectAtOnce()
{
    mp_tabs->setCurrentIndex(0);
    QVERIFY(Focus(m_first.mp_edit));
    mp_bar->SetWidgetActionText(m_first.mp_widget, "a1", "One [on]");
    mp_bar->SetWidgetActionHidden(m_first.mp_widget, "a2", true);
    // The other widget's settings do not show here, and a change to a widget that is not
    // current waits for its next rebuild.
    mp_bar->SetWidgetActionText(m_second.mp_widget, "a3", "Drei");
    QCOMPARE(Layout(), (QStringList{"Available", " ", "One [on]", "Two[hidden]", "Three", "",
                                    "<spacer>", "Support Kestrune!"}));

    // Unhiding waits for the next rebuild.
    mp_bar->SetWidgetActionHidden(m_first.mp_widget, "a2", false);
    QVERIFY(!Button("Two")->isVisible());
    mp_tabs->setCurrentIndex(1);
    QVERIFY(Focus(m_second.mp_edit));
    QCOMPARE(Layout(), (QStringList{"Available", " ", "Uno", "Two", "Drei[hidden]", "", "<spacer>",
                                    "Support Kestrune!"}));
    mp_tabs->setCurrentIndex(0);
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(Layout(), (QStringList{"Available", " ", "One [on]", "Two", "Three", "", "<spacer>",
                                    "Support Kestrune!"}));
}

void TestActionToolBar::recordsDieWithTheirWidget()
{
    mp_tabs->setCurrentIndex(0);
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("lobby"));
    QList<std::size_t> const l_before = RecordCounts();

    // Many widgets with every kind of record, each destroyed while current or not.
    for (int l_cycle = 0; l_cycle < 300; ++l_cycle)
    {
        std::unique_ptr<QLineEdit> lp_widget = std::make_unique<QLineEdit>();
        mp_bar->RegisterWidget(lp_widget.get(), "alpha");
        mp_bar->AddWidgetKey(lp_widget.get(), "room", QStringLiteral("stale-%1").arg(l_cycle));
        mp_bar->AddWidgetColumnKey(lp_widget.get(), "user", 1);
        mp_bar->SetWidgetActionText(lp_widget.get(), "a1", QStringLiteral("text-%1").arg(l_cycle));
        mp_bar->SetWidgetActionHidden(lp_widget.get(), "a3", true);
        if (l_cycle % 3 == 0)
            mp_bar->OnApplicationFocusChanged(nullptr, lp_widget.get());
    }
    mp_bar->OnApplicationFocusChanged(nullptr, m_first.mp_edit);
    QCOMPARE(RecordCounts(), l_before);

    // The last widget was current: its destruction leaves the bare toolbar.
    std::unique_ptr<QLineEdit> lp_current = std::make_unique<QLineEdit>();
    mp_bar->RegisterWidget(lp_current.get(), "alpha");
    mp_bar->OnApplicationFocusChanged(nullptr, lp_current.get());
    QCOMPARE(mp_bar->CurrentWidget(), lp_current.get());
    lp_current.reset();
    QCOMPARE(Layout(), (QStringList{"Available", " ", "", "<spacer>", "Support Kestrune!"}));

    // A new widget, likely at a recycled address, has only its own records.
    QLineEdit l_fresh;
    mp_bar->RegisterWidget(&l_fresh, "alpha");
    mp_bar->AddWidgetKey(&l_fresh, "own", "mine");
    mp_bar->OnApplicationFocusChanged(nullptr, &l_fresh);
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("lobby"));
    QCOMPARE(mp_bar->GetKey("own"), QStringLiteral("mine"));
    QCOMPARE(Layout(), (QStringList{"Available", " ", "One", "Two", "Three", "", "<spacer>",
                                    "Support Kestrune!"}));
}

void TestActionToolBar::triggerAfterTreeDestroyed()
{
    QWidget* const lp_panel = new QWidget;
    QVBoxLayout* const lp_layout = new QVBoxLayout(lp_panel);
    QTreeWidget* const lp_tree = new QTreeWidget;
    lp_layout->addWidget(lp_tree);
    mp_tabs->addTab(lp_panel, "third");
    mp_tabs->setCurrentWidget(lp_panel);
    mp_bar->RegisterWidget(lp_panel, "alpha");
    // The application's focus stays outside, so that deleting the tree moves it nowhere.
    QVERIFY(Focus(mp_outside));
    mp_bar->OnApplicationFocusChanged(nullptr, lp_tree);
    QCOMPARE(mp_bar->CurrentTree(), lp_tree);

    delete lp_tree;
    QSignalSpy l_triggered(mp_bar, &ActionSetToolBar::ActionTriggered);
    Button("Two")->trigger();
    QCOMPARE(l_triggered.count(), 1);
    QCOMPARE(l_triggered.first().first().value<QWidget*>(), lp_panel);
    delete lp_panel;
}

void TestActionToolBar::lookupsCreateNothing()
{
    QLineEdit l_stranger;
    QWidget* const lp_known = m_first.mp_widget;
    QList<std::size_t> const l_before = RecordCounts();
    std::function<void()> const l_calls[] = {
        [&] { mp_bar->AddWidgetKey(&l_stranger, "room", "x"); },
        [&] { mp_bar->AddWidgetColumnKey(&l_stranger, "room", 0); },
        [&] { mp_bar->SetWidgetActionText(&l_stranger, "a1", "new text"); },
        [&] { mp_bar->SetWidgetActionHidden(&l_stranger, "a1", true); },
        [&] { mp_bar->SetWidgetActionText(lp_known, "no such id", "other text"); },
        [&] { mp_bar->SetWidgetActionHidden(lp_known, "no such id", true); },
        [&] { mp_bar->GetKey("no such key"); },
        [&] { mp_bar->OnApplicationFocusChanged(nullptr, &l_stranger); },
        [&] { mp_bar->OnWidgetDestroyed(&l_stranger); },
        [&] { QVERIFY(Focus(mp_outside)); },
    };
    for (std::function<void()> const& l_call : l_calls)
    {
        l_call();
        QCOMPARE(RecordCounts(), l_before);
    }
}

void TestActionToolBar::privilegeDays()
{
    struct Case
    {
        int seconds;
        char const* text;
    };
    Case const l_cases[] = {
        {INT_MIN, "Support Kestrune!"},
        {0, "Support Kestrune!"},
        {1, "0 Days Left"},
        {43199, "0 Days Left"},
        {43200, "1 Days Left"},
        {129600, "2 Days Left"},
        {INT_MAX, "24855 Days Left"},
    };
    for (Case const& l_case : l_cases)
    {
        mp_bar->OnReceivedOwnPrivilegesStatus(l_case.seconds);
        QCOMPARE(mp_bar->PrivilegesButton()->text(), QString::fromLatin1(l_case.text));
        // A rebuilt toolbar reads the stored time.
        SetSetting("privileges_time_left", QString::number(l_case.seconds));
        QVERIFY(Focus(mp_outside));
        mp_bar->OnApplicationFocusChanged(nullptr, m_second.mp_edit);
        mp_bar->OnApplicationFocusChanged(nullptr, mp_outside);
        QCOMPARE(mp_bar->PrivilegesButton()->text(), QString::fromLatin1(l_case.text));
    }
    SetSetting("privileges_time_left", QStringLiteral("0"));
}

void TestActionToolBar::serverButtons()
{
    m_fake.SetReply(1, FrameBuilder::LoginAccepted());
    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    mp_server->Connect();
    QTRY_COMPARE_WITH_TIMEOUT(l_connected.count(), 1, 3000);
    QVERIFY(Focus(mp_outside));

    // The status button flips the availability and says so.
    QPushButton* const lp_status = mp_bar->StatusButton();
    QCOMPARE(lp_status->text(), QStringLiteral("Available"));
    m_fake.ClearFrames();
    lp_status->click();
    QCOMPARE(lp_status->text(), QStringLiteral("Away"));
    lp_status->click();
    QCOMPARE(lp_status->text(), QStringLiteral("Available"));
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.FramesWithCode(28).size(), 2, 3000);
    QCOMPARE(m_fake.FramesWithCode(28)[0].payload, FrameBuilder(28).U32(1).Payload());
    QCOMPARE(m_fake.FramesWithCode(28)[1].payload, FrameBuilder(28).U32(2).Payload());

    // The server's privileges answer reaches the button.
    m_fake.Send(FrameBuilder(92).I32(3 * 86400).Frame());
    QTRY_COMPARE_WITH_TIMEOUT(mp_bar->PrivilegesButton()->text(), QStringLiteral("3 Days Left"), 3000);

    // The privileges page carries the user name as one query value.
    UrlCatcher l_catcher;
    QDesktopServices::setUrlHandler("http", &l_catcher, "open");
    struct Case
    {
        char const* user;
        char const* host;
        char const* url;
    };
    Case const l_cases[] = {
        {"alice", "", "http://www.kestrune.net/qtlogin.php?username=alice"},
        {"a b&c", "", "http://www.kestrune.net/qtlogin.php?username=a%20b%26c"},
        {"x+y#z=1%", "", "http://www.kestrune.net/qtlogin.php?username=x%2By%23z%3D1%25"},
        {"bob", "pages.example", "http://pages.example/qtlogin.php?username=bob"},
    };
    for (Case const& l_case : l_cases)
    {
        SetSetting("username", QString::fromUtf8(l_case.user));
        SetSetting("web_host", QString::fromUtf8(l_case.host));
        l_catcher.m_urls.clear();
        mp_bar->PrivilegesButton()->click();
        QCOMPARE(l_catcher.m_urls.size(), 1);
        QCOMPARE(l_catcher.m_urls[0].toString(QUrl::FullyEncoded), QString::fromLatin1(l_case.url));
        QCOMPARE(QUrlQuery(l_catcher.m_urls[0]).queryItemValue("username", QUrl::FullyDecoded),
                 QString::fromUtf8(l_case.user));
    }
    QDesktopServices::unsetUrlHandler("http");
    SetSetting("username", QStringLiteral("alice"));
}

void TestActionToolBar::shutDownSilencesTheToolbar()
{
    mp_tabs->setCurrentIndex(0);
    QVERIFY(Focus(m_first.mp_edit));
    QStringList const l_shown = Layout();
    QList<std::size_t> const l_records = RecordCounts();

    g_showIsOver = true;
    QVERIFY(Focus(mp_outside));
    QCOMPARE(Layout(), l_shown);
    delete m_first.mp_widget;
    QCOMPARE(Layout(), l_shown);
    QCOMPARE(RecordCounts(), l_records);
}

QTEST_MAIN(TestActionToolBar)
#include "tst_action_toolbar.moc"
