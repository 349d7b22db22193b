#include "WidgetTestKit.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "store/Settings.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "support/StoreServices.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/UIFunctions.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTreeWidget>
#include <QWidgetAction>

#include <climits>
#include <memory>

using namespace WidgetTestKit;

namespace
{
// Item counts of every type: what a call made or left behind.
QList<std::size_t> Records()
{
    QList<std::size_t> l_counts;
    for (auto const& [l_name, lp_type] : d.Types())
        l_counts.append(lp_type->GetItemCount());
    return l_counts;
}

// A registered widget: a line edit over a tree of rows "rN" / "rN-user".
struct Panel
{
    QLineEdit* mp_edit = new QLineEdit;
    QTreeWidget* mp_tree = new QTreeWidget;
    QWidget* mp_widget = Column(new QWidget, {mp_edit, mp_tree});

    Panel()
    {
        mp_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
        for (QString const l_row : {"r1", "r2", "r3"})
            mp_tree->addTopLevelItem(new QTreeWidgetItem({l_row, l_row + "-user"}));
    }
};

class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QStringList m_urls;

public slots:
    void open(QUrl const& i_url) { m_urls << i_url.toString(QUrl::FullyEncoded); }
};

QStringList const c_bare{"Available", " ", "", "<spacer>", "Support Kestrune!"};

QStringList Shown(QStringList const& i_actions)
{
    return QStringList{"Available", " "} + i_actions + QStringList{"", "<spacer>", "Support Kestrune!"};
}
} // namespace

class TestActionToolBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void rebuildsFollowFocus();
    void keysFromPairsAndSelectedRows();
    void recordsDieWithTheirWidget();
    void overrideTextsStayPerAction();
    void serverButtons();
    void shutDownSilencesTheToolbar();

private:
    // Left to right: buttons and labels by text, "<spacer>", actions by text + "[hidden]".
    QStringList Layout() const;
    QAction* Button(QString const& i_text) const;

    FakeServer m_fake;
    std::unique_ptr<Server> mp_server;
    QWidget m_window;
    ActionSetToolBar* mp_bar = nullptr;
    QLineEdit* mp_outside = new QLineEdit;
    QTabWidget* mp_tabs = new QTabWidget;
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
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();

    mp_bar = new ActionSetToolBar;
    QCOMPARE(actionBar, mp_bar);
    QCOMPARE(Layout(), (QStringList{"", "<spacer>", "Support Kestrune!"}));
    mp_bar->Init();
    // One order counter across sets; the last registration of a widget wins.
    mp_bar->AddSetAction("alpha", "a1", "One", ":/icons/online_icon", false);
    mp_bar->AddSetAction("beta", "b1", "Bee", ":/icons/away_icon", false);
    mp_bar->AddSetAction("alpha", "a2", "Two", ":/icons/online_icon", true);
    mp_bar->AddSetAction("alpha", "a3", "Three", ":/icons/away_icon", false);
    Column(&m_window, {mp_bar, mp_outside, mp_tabs});
    mp_tabs->addTab(m_first.mp_widget, "first");
    mp_tabs->addTab(m_second.mp_widget, "second");
    mp_bar->RegisterWidget(m_first.mp_widget, "beta");
    mp_bar->RegisterWidget(m_first.mp_widget, "alpha");
    mp_bar->RegisterWidget(m_second.mp_widget, "alpha");
    mp_bar->SetWidgetActionText(m_second.mp_widget, "a1", "Uno");
    mp_bar->SetWidgetActionHidden(m_second.mp_widget, "a3", true);
    QVERIFY(ShowActive(m_window));
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
        QWidgetAction* const lp_holder = qobject_cast<QWidgetAction*>(lp_action);
        QWidget* const lp_widget = lp_holder ? lp_holder->defaultWidget() : nullptr;
        if (QPushButton* const lp_button = qobject_cast<QPushButton*>(lp_widget))
            l_layout << lp_button->text();
        else if (QLabel* const lp_label = qobject_cast<QLabel*>(lp_widget))
            l_layout << lp_label->text();
        else if (lp_widget)
            l_layout << (lp_widget->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding ? "<spacer>" : "?");
        else
            l_layout << lp_action->text() + (lp_action->isVisible() ? "" : "[hidden]");
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

void TestActionToolBar::rebuildsFollowFocus()
{
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(Layout(), Shown({"One", "Two", "Three"}));
    QCOMPARE(mp_bar->CurrentTree(), static_cast<QTreeWidget*>(nullptr));
    // Inside the same widget: no rebuild, but the tree on the path becomes current.
    QAction* const lp_one = Button("One");
    QVERIFY(Focus(m_first.mp_tree));
    QCOMPARE(Button("One"), lp_one);
    QCOMPARE(mp_bar->CurrentTree(), m_first.mp_tree);
    // Overrides of the current widget show at once; unhiding waits for a rebuild.
    mp_bar->SetWidgetActionText(m_first.mp_widget, "a1", "One [on]");
    mp_bar->SetWidgetActionHidden(m_first.mp_widget, "a2", true);
    mp_bar->SetWidgetActionText(m_second.mp_widget, "a3", "Drei");
    mp_bar->SetWidgetActionHidden(m_first.mp_widget, "a2", false);
    QCOMPARE(Layout(), Shown({"One [on]", "Two[hidden]", "Three"}));
    // A focused tab bar or tab widget stands for its current page.
    mp_tabs->setCurrentIndex(1);
    QVERIFY(Focus(mp_tabs->tabBar()));
    QCOMPARE(Layout(), Shown({"Uno", "Two", "Drei[hidden]"}));
    mp_tabs->setCurrentIndex(0);
    mp_bar->OnApplicationFocusChanged(nullptr, mp_tabs);
    QCOMPARE(Layout(), Shown({"One [on]", "Two", "Three"}));

    // Once the focus has left, changes reach no deleted button and wait for a rebuild.
    QVERIFY(Focus(mp_outside));
    QCOMPARE(Layout(), c_bare);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    mp_bar->SetWidgetActionText(m_first.mp_widget, "a1", "One");
    mp_bar->SetWidgetActionHidden(m_first.mp_widget, "a3", true);
    QCOMPARE(Layout(), c_bare);
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(Layout(), Shown({"One", "Two", "Three[hidden]"}));
}

void TestActionToolBar::keysFromPairsAndSelectedRows()
{
    mp_bar->AddWidgetKey(m_first.mp_widget, "room", "lobby");
    mp_bar->AddWidgetKey(m_second.mp_widget, "room", "attic");
    mp_bar->AddWidgetColumnKey(m_first.mp_widget, "user", 1);
    mp_bar->AddWidgetColumnKey(m_first.mp_widget, "room", 0);
    QSignalSpy l_triggered(mp_bar, &ActionSetToolBar::ActionTriggered);

    mp_tabs->setCurrentIndex(0);
    QVERIFY(Focus(m_first.mp_tree));
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("lobby"));
    QCOMPARE(mp_bar->GetKey("never set"), QString());
    // A list action needs a selected row of the tree on the focus path; others do not.
    Button("Two")->trigger();
    Button("One")->trigger();
    QCOMPARE(l_triggered, (QList<QVariantList>{{QVariant::fromValue<QWidget*>(m_first.mp_widget), "a1"}}));
    // With two rows selected the column keys come from the first of the selection.
    m_first.mp_tree->topLevelItem(2)->setSelected(true);
    m_first.mp_tree->topLevelItem(1)->setSelected(true);
    QTreeWidgetItem* const lp_row = m_first.mp_tree->selectedItems().first();
    Button("Two")->trigger();
    QCOMPARE(l_triggered.size(), 2);
    QCOMPARE(mp_bar->GetKey("user"), lp_row->text(1));
    QCOMPARE(mp_bar->GetKey("room"), lp_row->text(0));
    // Moving inside the widget copies the fixed keys again; no tree on the path now.
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("lobby"));
    m_first.mp_tree->clearSelection();
    Button("Two")->trigger();
    QCOMPARE(l_triggered.size(), 3);
    // Keys stay after the focus leaves the widgets that set them.
    mp_tabs->setCurrentIndex(1);
    QVERIFY(Focus(m_second.mp_edit));
    QVERIFY(Focus(mp_outside));
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("attic"));
    QCOMPARE(mp_bar->GetKey("user"), lp_row->text(1));
}

void TestActionToolBar::recordsDieWithTheirWidget()
{
    QVERIFY(Focus(mp_outside));
    QList<std::size_t> const l_before = Records();
    // Calls for unknown widgets or ids, and focus outside, make nothing.
    QLineEdit l_stranger;
    mp_bar->AddWidgetKey(&l_stranger, "room", "x");
    mp_bar->AddWidgetColumnKey(&l_stranger, "room", 0);
    mp_bar->SetWidgetActionText(&l_stranger, "a1", "new");
    mp_bar->SetWidgetActionHidden(&l_stranger, "a1", true);
    mp_bar->SetWidgetActionText(m_first.mp_widget, "no such id", "new");
    mp_bar->SetWidgetActionHidden(m_first.mp_widget, "no such id", true);
    mp_bar->OnApplicationFocusChanged(nullptr, &l_stranger);
    QCOMPARE(Records(), l_before);

    // Widgets with every kind of record leave none behind, current or not.
    for (int l_cycle = 0; l_cycle < 300; ++l_cycle)
    {
        QLineEdit l_widget;
        mp_bar->RegisterWidget(&l_widget, "alpha");
        mp_bar->AddWidgetKey(&l_widget, "room", QStringLiteral("stale-%1").arg(l_cycle));
        mp_bar->AddWidgetColumnKey(&l_widget, "user", 1);
        mp_bar->SetWidgetActionText(&l_widget, "a1", QStringLiteral("text-%1").arg(l_cycle));
        mp_bar->SetWidgetActionHidden(&l_widget, "a3", true);
        if (l_cycle % 3 == 0)
            mp_bar->OnApplicationFocusChanged(nullptr, &l_widget);
    }
    QCOMPARE(Layout(), c_bare);
    QCOMPARE(Records(), l_before);
    mp_bar->OnApplicationFocusChanged(nullptr, m_second.mp_edit);
    QLineEdit l_fresh;
    mp_bar->RegisterWidget(&l_fresh, "alpha");
    mp_bar->OnApplicationFocusChanged(nullptr, &l_fresh);
    QCOMPARE(mp_bar->GetKey("room"), QStringLiteral("attic"));
    QCOMPARE(Layout(), Shown({"One", "Two", "Three"}));

    // A trigger after the current tree died reads no tree.
    auto lp_tree = std::make_unique<QTreeWidget>(&l_fresh);
    mp_bar->OnApplicationFocusChanged(nullptr, lp_tree.get());
    QCOMPARE(mp_bar->CurrentTree(), lp_tree.get());
    lp_tree.reset();
    QSignalSpy l_triggered(mp_bar, &ActionSetToolBar::ActionTriggered);
    Button("Two")->trigger();
    QCOMPARE(l_triggered.size(), 1);
}

void TestActionToolBar::overrideTextsStayPerAction()
{
    // One text for two actions of a widget and for an action of another: changing one
    // leaves the others, and no widget shows what another set for itself.
    QVERIFY(Focus(mp_outside));
    mp_bar->SetWidgetActionHidden(m_first.mp_widget, "a3", false);
    mp_bar->SetWidgetActionText(m_first.mp_widget, "a1", "Same");
    mp_bar->SetWidgetActionText(m_first.mp_widget, "a3", "Same");
    mp_bar->SetWidgetActionText(m_second.mp_widget, "a2", "Same");
    mp_bar->SetWidgetActionText(m_first.mp_widget, "a1", "Other");
    mp_tabs->setCurrentIndex(0);
    QVERIFY(Focus(m_first.mp_edit));
    QCOMPARE(Layout(), Shown({"Other", "Two", "Same"}));
    mp_tabs->setCurrentIndex(1);
    QVERIFY(Focus(m_second.mp_edit));
    QCOMPARE(Layout(), Shown({"Uno", "Same", "Drei[hidden]"}));
}

void TestActionToolBar::serverButtons()
{
    m_fake.SetReply(1, FrameBuilder::LoginAccepted());
    QSignalSpy l_connected(mp_server.get(), &Server::Connected);
    mp_server->Connect();
    QTRY_COMPARE_WITH_TIMEOUT(l_connected.size(), 1, 3000);
    QVERIFY(Focus(mp_outside));

    QPushButton* const lp_status = mp_bar->StatusButton();
    lp_status->click();
    QCOMPARE(lp_status->text(), QStringLiteral("Away"));
    lp_status->click();
    QCOMPARE(lp_status->text(), QStringLiteral("Available"));
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.FramesWithCode(28).size(), 2, 3000);
    QCOMPARE(m_fake.FramesWithCode(28)[0].payload, FrameBuilder(28).U32(1).Payload());
    QCOMPARE(m_fake.FramesWithCode(28)[1].payload, FrameBuilder(28).U32(2).Payload());
    m_fake.Send(FrameBuilder(92).I32(3 * 86400).Frame());
    QTRY_COMPARE_WITH_TIMEOUT(mp_bar->PrivilegesButton()->text(), QStringLiteral("3 Days Left"), 3000);

    // Days rounded to the nearest day, in 64 bits; a rebuild reads the stored time.
    QList<QPair<int, QString>> const l_days = {
        {INT_MIN, "Support Kestrune!"}, {0, "Support Kestrune!"}, {1, "0 Days Left"},
        {43199, "0 Days Left"},         {43200, "1 Days Left"},   {129600, "2 Days Left"},
        {INT_MAX, "24855 Days Left"}};
    for (auto const& [l_seconds, l_text] : l_days)
    {
        SetSetting("privileges_time_left", QString::number(l_seconds));
        mp_bar->OnApplicationFocusChanged(nullptr, mp_outside);
        QCOMPARE(mp_bar->PrivilegesButton()->text(), l_text);
    }

    // The user name is one query value; the host follows `web_host`.
    UrlCatcher l_catcher;
    QDesktopServices::setUrlHandler("http", &l_catcher, "open");
    QList<QStringList> const l_urls = {
        {"a b&c", "", "http://www.kestrune.net/qtlogin.php?username=a%20b%26c"},
        {"x+y#z=1%", "", "http://www.kestrune.net/qtlogin.php?username=x%2By%23z%3D1%25"},
        {"bob", "pages.example", "http://pages.example/qtlogin.php?username=bob"}};
    for (QStringList const& l_case : l_urls)
    {
        SetSetting("username", l_case[0]);
        SetSetting("web_host", l_case[1]);
        mp_bar->PrivilegesButton()->click();
        QCOMPARE(l_catcher.m_urls.takeFirst(), l_case[2]);
    }
    QDesktopServices::unsetUrlHandler("http");
}

void TestActionToolBar::shutDownSilencesTheToolbar()
{
    QVERIFY(Focus(m_second.mp_edit));
    QStringList const l_shown = Layout();
    QList<std::size_t> const l_records = Records();
    g_showIsOver = true;
    QVERIFY(Focus(mp_outside));
    delete m_second.mp_widget;
    QCOMPARE(Layout(), l_shown);
    QCOMPARE(Records(), l_records);
}

QTEST_MAIN(TestActionToolBar)
#include "tst_action_toolbar.moc"
