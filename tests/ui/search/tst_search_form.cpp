#include "SearchTestEnv.h"

#include "ui/search/SearchResultMenuOptions.h"
#include "ui/users/ShareForm.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>

using namespace SearchTestEnv;

namespace
{
// The paths of the 43 messages the peer received, in order, from frame i_from on.
QStringList QueuedAt(FakePeer& io_peer, int i_from = 0)
{
    QStringList l_paths;
    QList<QByteArray> const& l_frames = io_peer.Frames();
    for (int l_index = i_from; l_index < l_frames.size(); ++l_index)
        if (l_frames[l_index].left(4) == U32(43))
            l_paths << QString::fromUtf8(l_frames[l_index].mid(8));
    return l_paths;
}

QTimer* SortTimer()
{
    QList<QTimer*> const l_timers = delayedInvoker->findChildren<QTimer*>();
    return l_timers.size() == 1 ? l_timers.first() : nullptr;
}

// Fires the pending delayed sorts now instead of waiting for them.
bool RunPendingSort()
{
    QList<QTimer*> const l_timers = delayedInvoker->findChildren<QTimer*>();
    if (l_timers.isEmpty())
        return false;
    for (QTimer* lp_timer : l_timers)
        lp_timer->setInterval(0);
    return QTest::qWaitFor([] { return delayedInvoker->PendingCount() == 0; }, 1000);
}

QStringList Actions(QMenu& i_menu)
{
    QStringList l_texts;
    for (QAction* lp_action : i_menu.actions())
        l_texts << lp_action->text();
    return l_texts;
}

QTreeWidgetItem* FolderRow(QTreeWidgetItem* ip_user, QString const& i_text)
{
    for (int l_index = 0; l_index < ip_user->childCount(); ++l_index)
        if (ip_user->child(l_index)->text(3) == i_text)
            return ip_user->child(l_index);
    return nullptr;
}

void Select(QTreeWidget* ip_tree, QList<QTreeWidgetItem*> const& i_rows)
{
    ip_tree->clearSelection();
    for (QTreeWidgetItem* lp_row : i_rows)
        lp_row->setSelected(true);
}
} // namespace

class TestSearchForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp());
        mp_recorder = std::make_unique<Recorder>();
    }
    void cleanupTestCase()
    {
        mp_recorder.reset();
        m_env.TearDown();
    }
    void cleanup();

    void searchOpensTabRowsOrderAndClose();
    void filterHidesRowsAndRelatedSearchesShow();
    void downloadsFromRowsAndMenu();

private:
    // Opens a tab for the text through the search line; returns it.
    SearchResultsForm* Search(QString const& i_text);
    bool Send(FakePeer& io_peer, QByteArray const& i_reply)
    {
        return SendAndSettle(*mp_recorder, io_peer, i_reply, false);
    }

    SearchFixture m_env;
    std::unique_ptr<Recorder> mp_recorder;
};

void TestSearchForm::cleanup()
{
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        transferQueueManager->RemoveDownload(l_entry);
    for (QTabWidget* lp_tabs : {m_env.ManualTabs(), m_env.WishTabs()})
        while (lp_tabs->count())
            emit lp_tabs->tabCloseRequested(0);
    ClearConnections();
}

SearchResultsForm* TestSearchForm::Search(QString const& i_text)
{
    auto* const lp_edit = m_env.Child<QLineEdit>("searchEdit");
    lp_edit->setText(i_text);
    QTest::keyClick(lp_edit, Qt::Key_Return);
    QTabWidget* const lp_tabs = m_env.ManualTabs();
    return m_env.Tab(lp_tabs, lp_tabs->count() - 1);
}

void TestSearchForm::searchOpensTabRowsOrderAndClose()
{
    m_env.server().ClearFrames();
    SearchResultsForm* const lp_tab = Search("foo");
    QVERIFY(lp_tab);
    QCOMPARE(m_env.ManualTabs()->count(), 1);
    QCOMPARE(m_env.ManualTabs()->tabText(0), QStringLiteral("foo"));
    QCOMPARE(m_env.ManualTabs()->currentWidget(), lp_tab);
    QVERIFY(m_env.Child<QLineEdit>("searchEdit")->text().isEmpty());
    QVERIFY(m_env.server().WaitForCode(153));
    QList<FakeServer::Frame> l_frames = m_env.server().Frames();
    l_frames.removeIf([](FakeServer::Frame const& i_frame) { return i_frame.code != 26 && i_frame.code != 153; });
    QCOMPARE(l_frames.size(), 2);
    QCOMPARE(l_frames[0].payload, U32(26) + U32(1) + Text("foo"));
    QCOMPARE(l_frames[1].payload, U32(153) + Text("foo"));
    QTreeWidget* const lp_tree = lp_tab->searchResults();
    QCOMPARE(lp_tree->headerItem()->text(6), QStringLiteral("Attributes"));

    FakePeer l_fred, l_gina, l_hank;
    QVERIFY(Open(m_env.PeerPort(), l_fred, "fred") && Open(m_env.PeerPort(), l_gina, "gina") &&
            Open(m_env.PeerPort(), l_hank, "hank"));
    QVERIFY(Send(l_hank, Reply("hank", 1, {FileRecord("\\foo z.mp3", 1)}, 0, 0, 10)));
    QTimer* const lp_timer = SortTimer();
    QVERIFY(lp_timer && lp_timer->isActive() && lp_timer->interval() == 1000);
    QVERIFY(Send(l_fred, Reply("fred", 1,
                               {FileRecord("Music\\Foo\\b foo.ogg", 5),
                                FileRecord("Music\\Foo\\a foo.mp3", 3000000000ULL, "mp3", {{0, 320}, {1, 245}, {2, 0}})},
                               1, 102400, 3)));
    QVERIFY(Send(l_gina, Reply("gina", 1, {FileRecord("Docs\\foo.pdf", 1)}, 0, 1536, 9)));
    // The same user again: "Free" and "K/s" stay those of the first reply.
    QVERIFY(Send(l_fred, Reply("fred", 1, {FileRecord("Music\\Foo\\c foo.flac", 2)}, 0, 0, 5)));
    // One sort for the whole burst, still on the timer the first reply started.
    QCOMPARE(SortTimer(), lp_timer);
    QVERIFY(RunPendingSort());
    QCOMPARE(Lines(lp_tree), QStringList({
        "fred|Y|100.0",
        "  |||Foo/Music",
        "    ||||a foo.mp3|3,000,000,000|320 CBR, 4m5s",
        "    ||||b foo.ogg|5",
        "    ||||c foo.flac|2",
        "gina|9|1.5",
        "  |||Docs",
        "    ||||foo.pdf|1",
        "hank|10",
        "  ",
        "    ||||foo z.mp3|1",
    }));
    QVERIFY(lp_tree->topLevelItem(0)->isExpanded() && lp_tree->topLevelItem(0)->child(0)->isExpanded());

    // "Order by Fastest" sorts at once and moves the mark.
    m_env.form().OnActionBarTriggered(lp_tab, "order_by_fastest");
    QCOMPARE(lp_tree->topLevelItem(0)->text(0), QStringLiteral("fred"));
    QCOMPARE(lp_tree->topLevelItem(1)->text(0), QStringLiteral("gina"));
    QCOMPARE(lp_tab->SortColumn(), 2);
    m_env.form().OnActionBarTriggered(lp_tab, "expand_folders");
    QVERIFY(!lp_tree->topLevelItem(0)->child(0)->isExpanded());
    QCOMPARE(d["search_results_widget"]->HasItem(Value(lp_tab))["expand_folders"].AsString(), QStringLiteral("no"));

    // Closing forgets the search: a late reply is dropped, the connection stays.
    emit m_env.ManualTabs()->tabCloseRequested(0);
    QCOMPARE(m_env.ManualTabs()->count(), 0);
    QVERIFY(!d["search_request"]->HasItem(Value(1)));
    for (char const* lp_type : {"search_results_widget", "search_results", "search_result", "search_results_user_node",
                                "search_results_folder_node", "search_result_node"})
        QVERIFY2(d[lp_type]->GetItemCount() == 0, lp_type);
    QVERIFY(Send(l_fred, Reply("fred", 1, {FileRecord("Music\\late foo.mp3", 1)}, 1, 1, 1)));
    QCOMPARE(m_env.ManualTabs()->count(), 0);
    QCOMPARE(d["search_results"]->GetItemCount(), std::size_t(0));
}

void TestSearchForm::filterHidesRowsAndRelatedSearchesShow()
{
    SearchResultsForm* const lp_tab = Search("beat");
    unsigned int const l_ticket = d["search_results_widget"]->HasItem(Value(lp_tab))["search_request"].AsUInt();
    QTreeWidget* const lp_tree = lp_tab->searchResults();

    // Related searches from the server, highest rank first, 150 wide.
    m_env.server().Send(FrameBuilder(153).Str("beat").U32(2).Str("beat live").I32(3).Str("beat it").I32(7).Frame());
    QTreeWidget* const lp_related = lp_tab->CorrelationsWidget();
    QTRY_COMPARE_WITH_TIMEOUT(lp_related->topLevelItemCount(), 2, 2000);
    QCOMPARE(lp_related->topLevelItem(0)->text(0), QStringLiteral("beat it"));
    QVERIFY(lp_related->isVisible());

    // A reply is filtered as it arrives: each file with its folder text.
    lp_tab->filterEdit()->setText("beat -demo");
    FakePeer l_fred, l_gina, l_hank;
    QVERIFY(Open(m_env.PeerPort(), l_fred, "fred") && Open(m_env.PeerPort(), l_gina, "gina") &&
            Open(m_env.PeerPort(), l_hank, "hank"));
    QVERIFY(Send(l_fred, Reply("fred", l_ticket, {FileRecord("Beat\\one.mp3", 1), FileRecord("Beat\\two.mp3", 2)}, 1, 0, 0)));
    QVERIFY(Send(l_gina, Reply("gina", l_ticket,
                               {FileRecord("Other\\beat demo.mp3", 3), FileRecord("Other\\beat three.mp3", 4)}, 1, 0, 0)));
    QVERIFY(Send(l_hank, Reply("hank", l_ticket, {FileRecord("Demo\\beat.mp3", 1)}, 1, 0, 0)));
    QVERIFY(RunPendingSort());
    QCOMPARE(Lines(lp_tree), QStringList({
        "fred|Y", "  |||Beat", "    ||||one.mp3|1", "    ||||two.mp3|2",
        "gina|Y", "  |||Other", "    -||||beat demo.mp3|3", "    ||||beat three.mp3|4",
        "-hank|Y", "  -|||Demo", "    -||||beat.mp3|1",
    }));

    // A filter change: folders first, then the files against what the folder left; two
    // matching files per folder needed.
    lp_tab->filterEdit()->setText("mfif:2 mp3");
    QCOMPARE(Lines(lp_tree), QStringList({
        "fred|Y", "  |||Beat", "    ||||one.mp3|1", "    ||||two.mp3|2",
        "gina|Y", "  |||Other", "    ||||beat demo.mp3|3", "    ||||beat three.mp3|4",
        "-hank|Y", "  -|||Demo", "    ||||beat.mp3|1",
    }));
    lp_tab->filterEdit()->setText("mfif:3");
    QVERIFY(lp_tree->topLevelItem(0)->isHidden() && lp_tree->topLevelItem(1)->isHidden());
    lp_tab->filterEdit()->setText("");
    QVERIFY(!lp_tree->topLevelItem(2)->isHidden() && !lp_tree->topLevelItem(2)->child(0)->isHidden());
}

void TestSearchForm::downloadsFromRowsAndMenu()
{
    SearchResultsForm* const lp_first = Search("song");
    SearchResultsForm* const lp_second = Search("tune");
    auto l_ticket = [](SearchResultsForm* ip_tab) {
        return d["search_results_widget"]->HasItem(Value(ip_tab))["search_request"].AsUInt();
    };
    FakePeer l_fred, l_gina;
    QVERIFY(Open(m_env.PeerPort(), l_fred, "fred") && Open(m_env.PeerPort(), l_gina, "gina"));
    TransferTestEnv::SetOnline("fred", true);
    TransferTestEnv::SetOnline("gina", true);
    // Both users share a folder path; gina answers in both tabs, fred in the first.
    QVERIFY(Send(l_fred, Reply("fred", l_ticket(lp_first),
                               {FileRecord("Shared\\b song.mp3", 2), FileRecord("Shared\\a song.mp3", 1),
                                FileRecord("\\song.txt", 3), FileRecord("Aaa\\z song.mp3", 4)},
                               1, 0, 0)));
    QVERIFY(Send(l_gina, Reply("gina", l_ticket(lp_second), {FileRecord("Shared\\tune.mp3", 5)}, 1, 0, 0)));
    QVERIFY(Send(l_gina, Reply("gina", l_ticket(lp_first), {FileRecord("Shared\\c song.mp3", 6)}, 1, 0, 0)));
    QVERIFY(RunPendingSort());
    QTreeWidget* const lp_tree = lp_first->searchResults();
    QTreeWidgetItem* const lp_fred = lp_tree->topLevelItem(0);
    QTreeWidgetItem* const lp_gina = lp_tree->topLevelItem(1);
    QTreeWidgetItem* const lp_shared = FolderRow(lp_fred, "Shared");
    QTreeWidgetItem* const lp_empty = FolderRow(lp_fred, "");
    QTreeWidgetItem* const lp_aaa = FolderRow(lp_fred, "Aaa");
    QVERIFY(lp_shared && lp_empty && lp_aaa && lp_gina->text(0) == "gina");

    // Double-click: a file, a folder whose text is empty, then the whole user in
    // folder-then-name order; queued files are not queued again.
    QTreeWidgetItem* const lp_bSong = lp_shared->child(1);
    emit lp_tree->itemDoubleClicked(lp_bSong, 4);
    QTRY_COMPARE_WITH_TIMEOUT(QueuedAt(l_fred), QStringList{"Shared\\b song.mp3"}, 2000);
    QVERIFY(!lp_bSong->icon(4).isNull() && lp_shared->child(0)->icon(4).isNull());
    emit lp_tree->itemDoubleClicked(lp_empty, 0);
    QTRY_COMPARE_WITH_TIMEOUT(QueuedAt(l_fred).size(), 2, 2000);
    emit lp_tree->itemDoubleClicked(lp_fred, 0);
    QTRY_COMPARE_WITH_TIMEOUT(QueuedAt(l_fred),
                              QStringList({"Shared\\b song.mp3", "\\song.txt", "Aaa\\z song.mp3", "Shared\\a song.mp3"}),
                              2000);
    ItemPtr const l_entry = transferQueueManager->GetDownloadEntry("fred", "a song.mp3", "Shared");
    QVERIFY(l_entry);
    QCOMPARE(l_entry["search_request_text"].AsString(), QStringLiteral("song"));

    // Menu entries by row kind; the folder row's user and text are its own, although
    // the folder item is shared with gina's rows in both tabs.
    struct MenuCase { QTreeWidgetItem* row; QStringList entries; QString user, text; };
    QTreeWidgetItem* const lp_ginaShared = lp_second->searchResults()->topLevelItem(0)->child(0);
    QList<MenuCase> const l_menus = {
        {lp_fred, {}, "", ""},
        {lp_bSong, {"Download File(s)", "Download Folder(s)", "Browse Folder"}, "fred", "song"},
        {lp_shared, {"Download Folder(s)", "Browse Folder"}, "fred", "song"},
        {lp_ginaShared, {"Download Folder(s)", "Browse Folder"}, "gina", "tune"},
    };
    for (MenuCase const& l_case : l_menus)
    {
        QMenu l_menu;
        SearchResultMenuOptions const l_options(&l_menu, l_case.row);
        QCOMPARE(Actions(l_menu), l_case.entries);
        QCOMPARE(l_options.User(), l_case.user);
        QCOMPARE(l_options.SearchText(), l_case.text);
    }

    // "Download File(s)" stops at the first row that is no file; every file goes with its
    // own user and folder.
    int const l_ginaFrom = l_gina.Frames().size();
    QTreeWidgetItem* const lp_cSong = lp_gina->child(0)->child(0);
    Select(lp_tree, {lp_cSong, lp_aaa->child(0), lp_shared, lp_shared->child(0)});
    {
        QMenu l_menu;
        SearchResultMenuOptions l_options(&l_menu, lp_bSong);
        l_options.OnDownloadFile();
    }
    QTRY_COMPARE_WITH_TIMEOUT(QueuedAt(l_gina, l_ginaFrom), QStringList{"Shared\\c song.mp3"}, 2000);
    QCOMPARE(transferQueueManager->GetDownloadEntry("gina", "c song.mp3", "Shared")["search_request_text"].AsString(),
             QStringLiteral("song"));
    QVERIFY(!lp_cSong->icon(4).isNull());

    // "Download Folder(s)": a folder and one of its own files count once, in file-name
    // order across folders; a user row in the selection queues nothing.
    for (ItemPtr const& l_queued : d["download_entry"]->GetItems())
        transferQueueManager->RemoveDownload(l_queued);
    int const l_fredFrom = l_fred.Frames().size();
    QMenu l_menu;
    SearchResultMenuOptions l_options(&l_menu, lp_shared);
    Select(lp_tree, {lp_shared, lp_fred, lp_aaa});
    l_options.OnDownloadFolder();
    QCOMPARE(d["download_entry"]->GetItemCount(), std::size_t(0));
    Select(lp_tree, {lp_aaa->child(0), lp_shared, lp_shared->child(1)});
    l_options.OnDownloadFolder();
    QTRY_COMPARE_WITH_TIMEOUT(QueuedAt(l_fred, l_fredFrom),
                              QStringList({"Shared\\a song.mp3", "Shared\\b song.mp3", "Aaa\\z song.mp3"}), 2000);

    // "Browse Folder" opens the user's share browser at the folder.
    l_options.OnBrowseFolder();
    auto* const lp_share = qobject_cast<ShareForm*>(sharesForm->Tabs()->currentWidget());
    QVERIFY(lp_share);
    QCOMPARE(lp_share->User() + "|" + lp_share->PendingFolder(), QStringLiteral("fred|Shared"));

    // The context menu: none on empty space; on a row, the result entries first.
    QStringList l_shown;
    int l_popups = 0;
    auto l_closeMenus = [&] {
        QTimer::singleShot(50, [&] {
            if (auto* lp_popup = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            {
                ++l_popups;
                l_shown = Actions(*lp_popup);
                lp_popup->close();
            }
        });
    };
    l_closeMenus();
    lp_tree->collapseAll();
    QPoint const l_below = lp_tree->visualItemRect(lp_gina).bottomLeft() + QPoint(5, 10);
    QVERIFY(lp_tree->viewport()->rect().contains(l_below));
    emit lp_tree->customContextMenuRequested(l_below);
    QTest::qWait(100);
    QCOMPARE(l_popups, 0);
    l_closeMenus();
    lp_tree->expandAll();
    emit lp_tree->customContextMenuRequested(lp_tree->visualItemRect(lp_bSong).center());
    QCOMPARE(l_popups, 1);
    QCOMPARE(l_shown.mid(0, 3), QStringList({"Download File(s)", "Download Folder(s)", "Browse Folder"}));

    // A search while offline still opens its tab, and sends nothing.
    gp_server->Disconnect();
    m_env.server().ClearFrames();
    int const l_tabs = m_env.ManualTabs()->count();
    Search("offline");
    QCOMPARE(m_env.ManualTabs()->count(), l_tabs + 1);
    m_env.server().Idle(50);
    QVERIFY(m_env.server().Frames().isEmpty());
}

QTEST_MAIN(TestSearchForm)
#include "tst_search_form.moc"
