#include "SearchTestEnv.h"

#include "support/LogCapture.h"
#include "ui/search/WishListSearcher.h"

#include <QCheckBox>
#include <QProcess>
#include <QTextStream>

using namespace SearchTestEnv;

namespace
{
char const c_childVariable[] = "WISH_LIST_TEST_STORE";

QCheckBox* BoxOf(QTreeWidget* ip_list, int i_row)
{
    return qobject_cast<QCheckBox*>(ip_list->itemWidget(ip_list->topLevelItem(i_row), 0));
}

// Each row as "<column 0>|<column 1>|<box checked>", in the list's order.
QStringList Rows(QTreeWidget* ip_list)
{
    QStringList l_rows;
    for (int l_index = 0; l_index < ip_list->topLevelItemCount(); ++l_index)
    {
        QTreeWidgetItem* const lp_row = ip_list->topLevelItem(l_index);
        QCheckBox* const lp_box = BoxOf(ip_list, l_index);
        l_rows << lp_row->text(0) + "|" + lp_row->text(1) + "|" + (lp_box && lp_box->isChecked() ? "on" : "off");
    }
    return l_rows;
}

ItemPtr Wish(char const* ip_text)
{
    return d["wish_list_item"]->HasItem(Value(ip_text));
}

// The child's side of the restart test: loads the store the parent saved and prints the
// wish list it shows.
int RunChild(QString const& i_store)
{
    StartStoreServices();
    Server l_server;
    l_server.CreateData();
    PeerMessenger l_messenger;
    SharedFoldersManager l_shares(nullptr);
    TransferQueueManager l_transfers;
    new DelayedInvoker();
    new SizeManager();
    QWidget l_window;
    (new ActionSetToolBar(&l_window))->Init();
    DeclareWishTypes();
    SearchForm* const lp_form = new SearchForm(&l_window);
    lp_form->Init();
    dataSaver->Load(i_store);
    QTextStream l_out(stdout);
    for (QString const& l_row : Rows(lp_form->findChild<QTreeWidget*>("wishList")))
        l_out << l_row << "|" << Wish(l_row.section('|', 1, 1).toUtf8().constData())["wish_list_item_filter_text"].AsString()
              << "\n";
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        l_out << "download " << l_entry["search_request_text"].AsString() << "\n";
    return 0;
}
} // namespace

class TestWishList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp());
        mp_searcher = std::make_unique<WishListSearcher>();
    }
    void cleanupTestCase()
    {
        mp_searcher.reset();
        m_env.TearDown();
    }

    void wishesAddCheckAndRemove();
    void wishResultsOpenOneTab();
    void searcherSendsEnabledWishesInTurn();
    void titlesShowTheSearchAsTyped();
    void repetitionsLeaveNothingBehind();

private:
    // A search of the wish and a reply of one file to it from the peer.
    bool Found(FakePeer& io_peer, char const* ip_wish, QByteArray const& i_path)
    {
        return m_env.Send(io_peer, Reply("fred", gp_server->FileSearch(ip_wish, true), {FileRecord(i_path, 1)}, 1, 0, 0));
    }

    SearchFixture m_env;
    std::unique_ptr<WishListSearcher> mp_searcher;
};

void TestWishList::wishesAddCheckAndRemove()
{
    QTreeWidget* const lp_list = m_env.WishList();
    QCOMPARE(lp_list->headerItem()->text(1), QStringLiteral("Wish List Search"));

    // "Add to Wishlist" on a manual tab: a new wish is enabled; the same text again
    // changes nothing.
    SearchResultsForm* const lp_alpha = m_env.Search("alpha");
    m_env.form().OnActionBarTriggered(lp_alpha, "add_remove_wishlist");
    m_env.form().OnActionBarTriggered(lp_alpha, "add_remove_wishlist");
    m_env.form().OnActionBarTriggered(m_env.Search("Beta"), "add_remove_wishlist");
    QCOMPARE(Rows(lp_list), QStringList({"Y|Beta|on", "Y|alpha|on"}));
    QVERIFY(Wish("alpha").IsConnected("wish_list_item_enabled"));

    // A wish without a row is left alone by "enable all".
    d["wish_list_item"]->NewItem(Value("rowless"));
    BoxOf(lp_list, 1)->setChecked(false);
    QCOMPARE(Rows(lp_list), QStringList({"Y|Beta|on", "|alpha|off"}));
    QVERIFY(!Wish("alpha").IsConnected("wish_list_item_enabled") && Wish("Beta").IsConnected("wish_list_item_enabled"));
    m_env.form().OnActionBarTriggered(lp_list, "disable_all_wish_list_items");
    QCOMPARE(Rows(lp_list), QStringList({"|Beta|off", "|alpha|off"}));
    m_env.form().OnActionBarTriggered(lp_list, "enable_all_wish_list_items");
    QCOMPARE(Rows(lp_list), QStringList({"Y|Beta|on", "Y|alpha|on"}));
    QVERIFY(!Wish("rowless").IsConnected("wish_list_item_enabled"));

    // The list as saved comes back after a restart, and so does a download's search.
    transferQueueManager->AddDownload("fred", "x.mp3", "F", 1, 0) += d["search_request_text"]->GetItem(Value("kept"));
    BoxOf(lp_list, 0)->setChecked(false);
    Wish("alpha") += d["wish_list_item_filter_text"]->GetItem(Value("mp3 -live"));
    QString const l_store = QDir::home().filePath("wishes.store");
    QVERIFY(dataSaver->Save(l_store));
    QProcess l_child;
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert(c_childVariable, l_store);
    l_child.setProcessEnvironment(l_environment);
    l_child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(l_child.waitForFinished(20000));
    QCOMPARE(l_child.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(l_child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
             QStringList({"|Beta|off|", "Y|alpha|on|mp3 -live", "|rowless|off|", "download kept"}));
    transferQueueManager->RemoveDownload(transferQueueManager->GetDownloadEntry("fred", "x.mp3", "F"));

    // Removing the selected wishes takes their rows and nodes.
    lp_list->topLevelItem(0)->setSelected(true);
    lp_list->topLevelItem(1)->setSelected(true);
    m_env.form().OnActionBarTriggered(lp_list, "remove_wish_list_item");
    QCOMPARE(lp_list->topLevelItemCount(), 0);
    QVERIFY(!Wish("alpha") && !Wish("Beta"));
    QCOMPARE(d["wish_list_node"]->GetItemCount() + d["wish_list_node_checkbox"]->GetItemCount(), std::size_t(0));
    Wish("rowless").Remove();
}

void TestWishList::wishResultsOpenOneTab()
{
    m_env.form().OnActionBarTriggered(m_env.Search("gamma"), "add_remove_wishlist");
    FakePeer l_fred;
    QVERIFY(Open(m_env.PeerPort(), l_fred, "fred"));
    QTabWidget* const lp_wishTabs = m_env.WishTabs();
    auto* const lp_pages = m_env.Child<QTabWidget>("tabWidget");

    // The first result opens the tab without taking the user there, and raises an event;
    // a second search of the wish lands in the same tab.
    QVERIFY(Found(l_fred, "gamma", "G\\gamma one.mp3"));
    QVERIFY(lp_wishTabs->count() == 1 && lp_pages->currentIndex() == 0);
    SearchResultsForm* const lp_tab = m_env.Tab(lp_wishTabs, 0);
    ItemPtr const l_widget = d["search_results_widget"]->HasItem(Value(lp_tab));
    QVERIFY(l_widget.IsConnected("search_results_widget_alerted") && lp_tab->CorrelationsWidget()->isHidden());
    QVERIFY(d["event_toolbar_widget"]->HasItem(Value(static_cast<QObject*>(lp_tab))));
    QVERIFY(Found(l_fred, "gamma", "G\\gamma two.mp3"));
    QVERIFY(lp_wishTabs->count() == 1 && l_widget.GetItems("search_request").size() == 2);
    lp_tab->filterEdit()->setText("two");
    QCOMPARE(Wish("gamma")["wish_list_item_filter_text"].AsString(), QStringLiteral("two"));

    // Closed, the wish stays; its next result opens a new tab with the kept filter, and
    // a reply that the filter hides raises no event until one shows something.
    emit lp_wishTabs->tabCloseRequested(0);
    QVERIFY(Wish("gamma") && Found(l_fred, "gamma", "G\\gamma three.mp3") && lp_wishTabs->count() == 1);
    SearchResultsForm* const lp_reopened = m_env.Tab(lp_wishTabs, 0);
    QCOMPARE(lp_reopened->filterEdit()->text(), QStringLiteral("two"));
    ItemPtr const l_reopened = d["search_results_widget"]->HasItem(Value(lp_reopened));
    QVERIFY(!l_reopened.IsConnected("search_results_widget_alerted"));
    QVERIFY(Found(l_fred, "gamma", "G\\gamma two b.mp3") && l_reopened.IsConnected("search_results_widget_alerted"));

    // "Remove from Wish List" in the wish tab removes the wish and keeps the tab; a late
    // result neither opens a tab nor brings the wish back.
    lp_pages->setCurrentIndex(1);
    m_env.form().OnActionBarTriggered(lp_reopened, "add_remove_wishlist");
    QVERIFY(!Wish("gamma") && lp_wishTabs->count() == 1);
    emit lp_wishTabs->tabCloseRequested(0);
    QVERIFY(Found(l_fred, "gamma", "G\\gamma four.mp3") && lp_wishTabs->count() == 0 && !Wish("gamma"));

    // A disabled wish opens nothing either.
    lp_pages->setCurrentIndex(0);
    m_env.form().OnActionBarTriggered(m_env.Search("delta"), "add_remove_wishlist");
    BoxOf(m_env.WishList(), 0)->setChecked(false);
    QVERIFY(Found(l_fred, "delta", "D\\delta.mp3") && lp_wishTabs->count() == 0);
    Wish("delta").Remove();
}

void TestWishList::searcherSendsEnabledWishesInTurn()
{
    LogCapture l_log;
    for (char const* lp_text : {"alpha wish", "Beta wish", "Alpha wish", "off wish"})
        d["wish_list_item"]->NewItem(Value(lp_text));
    for (char const* lp_text : {"alpha wish", "Beta wish", "Alpha wish"})
        Wish(lp_text) += d["wish_list_item_enabled"]->GetGlobalNullItem();

    // The server's period: seconds to milliseconds, 0 stops, a huge one is clamped.
    struct Period { quint32 seconds; int interval; bool active; };
    for (Period const& l_period : {Period{1, 1000, true}, Period{4294967295u, 2147483647, true}, Period{0, 0, false}})
    {
        m_env.server().Send(FrameBuilder(104).U32(l_period.seconds).Frame());
        QString const l_line = QStringLiteral("Wish list wait period set to %1 milliseconds").arg(l_period.interval);
        QTRY_VERIFY_WITH_TIMEOUT(l_log.Contains("Wish List", 1, l_line), 2000);
        QCOMPARE(mp_searcher->Timer().isActive(), l_period.active);
        if (l_period.active)
            QCOMPARE(mp_searcher->Timer().interval(), l_period.interval);
        l_log.Clear();
    }

    m_env.server().ClearFrames();
    QStringList const l_expected = {"Alpha wish", "Beta wish", "alpha wish", "Alpha wish"};
    for (QString const& l_text : l_expected)
    {
        mp_searcher->OnSearchTimerTimeout();
        QVERIFY(l_log.Contains("Wish List", 1, "Sent wish list search: " + l_text));
    }
    QVERIFY(m_env.server().WaitForFrames(4));
    QStringList l_sent;
    for (FakeServer::Frame const& l_frame : m_env.server().FramesWithCode(103))
        l_sent << QString::fromUtf8(l_frame.Fields().mid(8));
    QCOMPARE(l_sent, l_expected);

    // Without an enabled wish nothing is sent or logged.
    for (char const* lp_text : {"alpha wish", "Beta wish", "Alpha wish", "off wish"})
        Wish(lp_text).Remove();
    l_log.Clear();
    mp_searcher->OnSearchTimerTimeout();
    QVERIFY(l_log.Texts("Wish List").isEmpty());
}

void TestWishList::repetitionsLeaveNothingBehind()
{
    for (char const* lp_text : {"omega", "psi"})
        d["wish_list_item"]->NewItem(Value(lp_text)) +=
            d["wish_list_item_enabled"]->GetGlobalNullItem();
    std::size_t const l_before = d["search_request"]->GetItemCount();
    auto const l_searches = [&] { return d["search_request"]->GetItemCount() - l_before; };
    FakePeer l_fred;
    QVERIFY(Open(m_env.PeerPort(), l_fred, "fred"));
    QSignalSpy l_sent(gp_server, &Server::SearchRequested);
    auto const l_reply = [&](QList<QVariant> const& i_search)
    {
        QByteArray const l_file =
            "W\\" + i_search.at(1).toByteArray() + " " + i_search.at(0).toByteArray();
        return m_env.Send(l_fred,
                          Reply("fred", i_search.at(0).toUInt(), {FileRecord(l_file, 1)}, 1, 0, 0));
    };

    // A thousand ticks, the wishes in turn; three searches find something: one tab per
    // wish, holding those. Of the rest only each wish's latest is kept, for late replies.
    for (int l_tick = 1; l_tick <= 1000; ++l_tick)
    {
        mp_searcher->OnSearchTimerTimeout();
        if (l_tick == 499 || l_tick == 500 || l_tick == 997)
            QVERIFY(l_reply(l_sent.last()));
    }
    QVERIFY(l_sent.size() == 1000 && m_env.WishTabs()->count() == 2 && l_searches() == 3 + 2);
    while (m_env.WishTabs()->count() > 0)
        emit m_env.WishTabs()->tabCloseRequested(0);
    QVERIFY(l_searches() == 2 && d["search_results"]->GetItemCount() == 0);

    // A late reply for a disabled wish is shown and kept nowhere; wishes that go take
    // their pending searches with them.
    Wish(l_sent.last().at(1).toByteArray().constData()) -=
        d["wish_list_item_enabled"]->GetGlobalNullItem();
    QVERIFY(l_reply(l_sent.last()) && m_env.WishTabs()->count() == 0 &&
            d["search_results"]->GetItemCount() == 0);
    Wish("omega").Remove();
    Wish("psi").Remove();
    QCOMPARE(l_searches(), std::size_t(0));
}

void TestWishList::titlesShowTheSearchAsTyped()
{
    // A tab title shows "&&" as "&"; a lone "&" would underline the next letter instead.
    auto const l_shown = [](QString i_title)
    { return QKeySequence::mnemonic(i_title).isEmpty() ? i_title.replace("&&", "&") : QString(); };
    char const c_text[] = "R&D && x";
    m_env.Child<QTabWidget>("tabWidget")->setCurrentIndex(0);
    SearchResultsForm* const lp_search = m_env.Search(c_text);
    QTabWidget* const lp_tabs = m_env.ManualTabs();
    QCOMPARE(l_shown(lp_tabs->tabText(lp_tabs->indexOf(lp_search))), QString(c_text));
    m_env.form().OnActionBarTriggered(lp_search, "add_remove_wishlist");
    FakePeer l_gus;
    QVERIFY(Open(m_env.PeerPort(), l_gus, "gus") &&
            m_env.Send(l_gus, Reply("gus", gp_server->FileSearch(c_text, true), {FileRecord("R\\R&D && x.mp3", 1)}, 1, 0, 0)));
    QVERIFY(m_env.WishTabs()->count() == 1);
    QCOMPARE(l_shown(m_env.WishTabs()->tabText(0)), QString(c_text));
    emit m_env.WishTabs()->tabCloseRequested(0);
    emit lp_tabs->tabCloseRequested(lp_tabs->indexOf(lp_search));
    Wish(c_text).Remove();
}

int main(int argc, char** argv)
{
    QApplication l_application(argc, argv);
    if (qEnvironmentVariableIsSet(c_childVariable))
        return RunChild(qEnvironmentVariable(c_childVariable));
    TestWishList l_test;
    return QTest::qExec(&l_test, argc, argv);
}

#include "tst_wish_list.moc"
