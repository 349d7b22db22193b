#include "SearchTestEnv.h"

#include "ui/search/SearchResultMenuOptions.h"
#include "ui/users/ShareForm.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>

using namespace SearchTestEnv;

namespace
{
// The paths of the 43 messages the peer received from frame i_from on.
QStringList QueuedAt(FakePeer& io_peer, int i_from = 0)
{
    QStringList l_paths;
    for (QByteArray const& l_frame : io_peer.Frames().mid(i_from))
        if (l_frame.left(4) == U32(43))
            l_paths << QString::fromUtf8(l_frame.mid(8));
    return l_paths;
}

// Fires the pending delayed sorts now instead of waiting for them.
bool RunPendingSort()
{
    for (QTimer* lp_timer : delayedInvoker->findChildren<QTimer*>())
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

unsigned int TicketOf(SearchResultsForm* ip_tab)
{
    return d["search_results_widget"]->HasItem(Value(ip_tab))["search_request"].AsUInt();
}
} // namespace

class TestSearchForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void cleanup()
    {
        for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
            transferQueueManager->RemoveDownload(l_entry);
        while (m_env.ManualTabs()->count())
            emit m_env.ManualTabs()->tabCloseRequested(0);
        ClearConnections();
    }

    void searchOpensTabRowsOrderAndClose();
    void filterHidesRowsAndRelatedSearchesShow();
    void downloadsFromRowsAndMenu();

private:
    SearchFixture m_env;
};

void TestSearchForm::searchOpensTabRowsOrderAndClose()
{
    m_env.server().ClearFrames();
    SearchResultsForm* const lp_tab = m_env.Search("foo");
    QVERIFY(lp_tab && m_env.ManualTabs()->count() == 1 && m_env.ManualTabs()->currentWidget() == lp_tab);
    QCOMPARE(m_env.ManualTabs()->tabText(0), QStringLiteral("foo"));
    QVERIFY(m_env.Child<QLineEdit>("searchEdit")->text().isEmpty());
    QVERIFY(m_env.server().WaitForCode(153));
    QList<FakeServer::Frame> l_frames = m_env.server().Frames();
    l_frames.removeIf([](FakeServer::Frame const& i_frame) { return i_frame.code != 26 && i_frame.code != 153; });
    QCOMPARE(l_frames.size(), 2);
    QCOMPARE(l_frames[0].payload, U32(26) + U32(1) + Text("foo"));
    QCOMPARE(l_frames[1].payload, U32(153) + Text("foo"));

    FakePeer l_fred, l_gina, l_hank;
    QVERIFY(Open(m_env.PeerPort(), l_fred, "fred") && Open(m_env.PeerPort(), l_gina, "gina") &&
            Open(m_env.PeerPort(), l_hank, "hank"));
    QVERIFY(m_env.Send(l_hank, Reply("hank", 1, {FileRecord("\\foo z.mp3", 1)}, 0, 0, 10)));
    QList<QTimer*> const l_timers = delayedInvoker->findChildren<QTimer*>();
    QVERIFY(l_timers.size() == 1 && l_timers[0]->isActive() && l_timers[0]->interval() == 1000);
    QVERIFY(m_env.Send(l_fred, Reply("fred", 1,
                                     {FileRecord("Music\\Foo\\b foo.ogg", 5),
                                      FileRecord("Music\\Foo\\a foo.mp3", 3000000000ULL, "mp3", {{0, 320}, {1, 245}, {2, 0}})},
                                     1, 102400, 3)));
    QVERIFY(m_env.Send(l_gina, Reply("gina", 1, {FileRecord("Docs\\foo.pdf", 1)}, 0, 1536, 9)));
    // The same user again: "Free" and "K/s" stay those of the first reply.
    QVERIFY(m_env.Send(l_fred, Reply("fred", 1, {FileRecord("Music\\Foo\\c foo.flac", 2)}, 0, 0, 5)));
    // One sort for the whole burst, still on the timer the first reply started.
    QCOMPARE(delayedInvoker->findChildren<QTimer*>(), l_timers);
    QVERIFY(RunPendingSort());
    QTreeWidget* const lp_tree = lp_tab->searchResults();
    QCOMPARE(Lines(lp_tree), QStringList({"fred|Y|100.0", "  |||Foo/Music", "    ||||a foo.mp3|3,000,000,000|320 CBR, 4m5s",
                                          "    ||||b foo.ogg|5", "    ||||c foo.flac|2", "gina|9|1.5", "  |||Docs",
                                          "    ||||foo.pdf|1", "hank|10", "  ", "    ||||foo z.mp3|1"}));
    QVERIFY(lp_tree->topLevelItem(0)->isExpanded() && lp_tree->topLevelItem(0)->child(0)->isExpanded());

    // "Order by Fastest" sorts at once; "Expand Folders" collapses them.
    m_env.form().OnActionBarTriggered(lp_tab, "order_by_fastest");
    QCOMPARE(lp_tree->topLevelItem(1)->text(0), QStringLiteral("gina"));
    QCOMPARE(lp_tab->SortColumn(), 2);
    m_env.form().OnActionBarTriggered(lp_tab, "expand_folders");
    QVERIFY(!lp_tree->topLevelItem(0)->child(0)->isExpanded());
    QCOMPARE(d["search_results_widget"]->HasItem(Value(lp_tab))["expand_folders"].AsString(), QStringLiteral("no"));

    // Closing forgets the search: a late reply is dropped, the connection stays.
    emit m_env.ManualTabs()->tabCloseRequested(0);
    QVERIFY(m_env.ManualTabs()->count() == 0 && !d["search_request"]->HasItem(Value(1)));
    for (char const* lp_type : {"search_results_widget", "search_results", "search_result", "search_results_user_node",
                                "search_results_folder_node", "search_result_node"})
        QVERIFY2(d[lp_type]->GetItemCount() == 0, lp_type);
    QVERIFY(m_env.Send(l_fred, Reply("fred", 1, {FileRecord("Music\\late foo.mp3", 1)}, 1, 1, 1)));
    QVERIFY(m_env.ManualTabs()->count() == 0 && d["search_results"]->GetItemCount() == 0);
}

void TestSearchForm::filterHidesRowsAndRelatedSearchesShow()
{
    SearchResultsForm* const lp_tab = m_env.Search("beat");
    unsigned int const l_ticket = TicketOf(lp_tab);
    QTreeWidget* const lp_tree = lp_tab->searchResults();

    // Related searches from the server, highest rank first.
    m_env.server().Send(FrameBuilder(153).Str("beat").U32(2).Str("beat live").I32(3).Str("beat it").I32(7).Frame());
    QTreeWidget* const lp_related = lp_tab->CorrelationsWidget();
    QTRY_COMPARE_WITH_TIMEOUT(lp_related->topLevelItemCount(), 2, 2000);
    QVERIFY(lp_related->topLevelItem(0)->text(0) == "beat it" && lp_related->isVisible());

    // A reply is filtered as it arrives: each file with its folder text.
    lp_tab->filterEdit()->setText("beat -demo");
    FakePeer l_fred, l_gina, l_hank;
    QVERIFY(Open(m_env.PeerPort(), l_fred, "fred") && Open(m_env.PeerPort(), l_gina, "gina") &&
            Open(m_env.PeerPort(), l_hank, "hank"));
    QVERIFY(m_env.Send(l_fred, Reply("fred", l_ticket, {FileRecord("Beat\\one.mp3", 1), FileRecord("Beat\\two.mp3", 2)}, 1, 0, 0)));
    QVERIFY(m_env.Send(l_gina, Reply("gina", l_ticket,
                                     {FileRecord("Other\\beat demo.mp3", 3), FileRecord("Other\\beat three.mp3", 4)}, 1, 0, 0)));
    QVERIFY(m_env.Send(l_hank, Reply("hank", l_ticket, {FileRecord("Demo\\beat.mp3", 1)}, 1, 0, 0)));
    QVERIFY(RunPendingSort());
    QStringList const l_head = {"fred|Y", "  |||Beat", "    ||||one.mp3|1", "    ||||two.mp3|2", "gina|Y", "  |||Other"};
    QCOMPARE(Lines(lp_tree), l_head + QStringList({"    -||||beat demo.mp3|3", "    ||||beat three.mp3|4", "-hank|Y",
                                                   "  -|||Demo", "    -||||beat.mp3|1"}));
    // A filter change: folders first, then the files against what the folder left; two
    // matching files per folder needed.
    lp_tab->filterEdit()->setText("mfif:2 mp3");
    QCOMPARE(Lines(lp_tree), l_head + QStringList({"    ||||beat demo.mp3|3", "    ||||beat three.mp3|4", "-hank|Y",
                                                   "  -|||Demo", "    ||||beat.mp3|1"}));
    lp_tab->filterEdit()->setText("mfif:3");
    QVERIFY(lp_tree->topLevelItem(0)->isHidden() && lp_tree->topLevelItem(1)->isHidden());
    lp_tab->filterEdit()->setText("");
    QVERIFY(!lp_tree->topLevelItem(2)->isHidden() && !lp_tree->topLevelItem(2)->child(0)->isHidden());
}

void TestSearchForm::downloadsFromRowsAndMenu()
{
    SearchResultsForm* const lp_first = m_env.Search("song");
    SearchResultsForm* const lp_second = m_env.Search("tune");
    FakePeer l_fred, l_gina;
    QVERIFY(Open(m_env.PeerPort(), l_fred, "fred") && Open(m_env.PeerPort(), l_gina, "gina"));
    TransferTestEnv::SetOnline("fred", true);
    TransferTestEnv::SetOnline("gina", true);
    // Both users share a folder path; gina answers in both tabs, fred in the first.
    QVERIFY(m_env.Send(l_fred, Reply("fred", TicketOf(lp_first),
                                     {FileRecord("Shared\\b song.mp3", 2), FileRecord("Shared\\a song.mp3", 1),
                                      FileRecord("\\song.txt", 3), FileRecord("Aaa\\z song.mp3", 4)},
                                     1, 0, 0)));
    QVERIFY(m_env.Send(l_gina, Reply("gina", TicketOf(lp_second), {FileRecord("Shared\\tune.mp3", 5)}, 1, 0, 0)));
    QVERIFY(m_env.Send(l_gina, Reply("gina", TicketOf(lp_first), {FileRecord("Shared\\c song.mp3", 6)}, 1, 0, 0)));
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
    emit lp_tree->itemDoubleClicked(lp_fred, 0);
    QTRY_COMPARE_WITH_TIMEOUT(QueuedAt(l_fred),
                              QStringList({"Shared\\b song.mp3", "\\song.txt", "Aaa\\z song.mp3", "Shared\\a song.mp3"}), 2000);
    QCOMPARE(transferQueueManager->GetDownloadEntry("fred", "a song.mp3", "Shared")["search_request_text"].AsString(),
             QStringLiteral("song"));

    // Menu entries by row kind; a folder row's user and text are its own, although the
    // folder item is shared with gina's rows in both tabs.
    struct MenuCase { QTreeWidgetItem* row; QStringList entries; QString userAndText; };
    QList<MenuCase> const l_menus = {
        {lp_fred, {}, "|"},
        {lp_bSong, {"Download File(s)", "Download Folder(s)", "Browse Folder"}, "fred|song"},
        {lp_shared, {"Download Folder(s)", "Browse Folder"}, "fred|song"},
        {lp_second->searchResults()->topLevelItem(0)->child(0), {"Download Folder(s)", "Browse Folder"}, "gina|tune"},
    };
    for (MenuCase const& l_case : l_menus)
    {
        QMenu l_menu;
        SearchResultMenuOptions const l_options(&l_menu, l_case.row);
        QCOMPARE(Actions(l_menu), l_case.entries);
        QCOMPARE(l_options.User() + "|" + l_options.SearchText(), l_case.userAndText);
    }

    // "Download File(s)" stops at the first row that is no file; each file goes with its
    // own user and folder, whatever row the menu was opened on.
    int const l_ginaFrom = l_gina.Frames().size();
    QTreeWidgetItem* const lp_cSong = lp_gina->child(0)->child(0);
    Select(lp_tree, {lp_cSong, lp_aaa->child(0), lp_shared, lp_shared->child(0)});
    QMenu l_menu;
    SearchResultMenuOptions(&l_menu, lp_bSong).OnDownloadFile();
    QTRY_COMPARE_WITH_TIMEOUT(QueuedAt(l_gina, l_ginaFrom), QStringList{"Shared\\c song.mp3"}, 2000);
    QVERIFY(!lp_cSong->icon(4).isNull());

    // "Download Folder(s)": a user row in the selection queues nothing; a folder and one
    // of its files count once, in file-name order across folders.
    for (ItemPtr const& l_queued : d["download_entry"]->GetItems())
        transferQueueManager->RemoveDownload(l_queued);
    int const l_fredFrom = l_fred.Frames().size();
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
    QVERIFY(lp_share && lp_share->User() == "fred" && lp_share->PendingFolder() == "Shared");

    // The context menu: none on empty space; on a row, the result entries first.
    QStringList l_shown;
    int l_popups = 0;
    auto const l_closeMenu = [&] {
        QTimer::singleShot(50, [&] {
            if (auto* lp_popup = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            {
                ++l_popups;
                l_shown = Actions(*lp_popup);
                lp_popup->close();
            }
        });
    };
    lp_tree->collapseAll();
    QPoint const l_below = lp_tree->visualItemRect(lp_gina).bottomLeft() + QPoint(5, 10);
    QVERIFY(lp_tree->viewport()->rect().contains(l_below));
    l_closeMenu();
    emit lp_tree->customContextMenuRequested(l_below);
    QTest::qWait(100);
    QCOMPARE(l_popups, 0);
    lp_tree->expandAll();
    l_closeMenu();
    emit lp_tree->customContextMenuRequested(lp_tree->visualItemRect(lp_bSong).center());
    QCOMPARE(l_popups, 1);
    QCOMPARE(l_shown.mid(0, 3), QStringList({"Download File(s)", "Download Folder(s)", "Browse Folder"}));

    // A search while offline still opens its tab, and sends nothing.
    gp_server->Disconnect();
    m_env.server().ClearFrames();
    int const l_tabs = m_env.ManualTabs()->count();
    m_env.Search("offline");
    QCOMPARE(m_env.ManualTabs()->count(), l_tabs + 1);
    m_env.server().Idle(50);
    QVERIFY(m_env.server().Frames().isEmpty());
}

QTEST_MAIN(TestSearchForm)
#include "tst_search_form.moc"
