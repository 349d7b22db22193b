// Browsing other users' shares and pushing own files: one browse tab per user with one
// request, the share list from a fake peer shown as a tree, the filter, folder
// downloads, the depth cut of share lists, and the upload browser.

#include "UsersTestEnv.h"

#include "shares/SharedFoldersManager.h"
#include "support/LogCapture.h"
#include "ui/transfers/UploadForm.h"
#include "ui/users/ShareBrowserTree.h"
#include "ui/users/ShareForm.h"
#include "ui/users/UserMenuOptions.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace UsersTestEnv;

namespace
{
FileInfo Info(std::string const& i_name, long long i_size, std::vector<AttributeMap::Pair> i_pairs = {})
{
    FileInfo l_info;
    l_info.m_name = i_name;
    l_info.m_size = i_size;
    l_info.m_attributes.m_pairs = std::move(i_pairs);
    return l_info;
}

// The text the folder tree's "expand_level" command shows for the one open browser.
QString ExpandText()
{
    ItemPtr const l_id = d["toolbar_action_id"]->HasItem(Value("expand_level"));
    ItemSet const l_texts = l_id.GetItems("widget_action_text_pair").GetItems("widget_action_text");
    return l_texts.size() == 1 ? ItemPtr(l_texts).AsString() : QString("%1 texts").arg(l_texts.size());
}

QTreeWidgetItem* FindRow(QTreeWidget* ip_tree, QString const& i_text)
{
    QList<QTreeWidgetItem*> const l_rows = ip_tree->findItems(i_text, Qt::MatchExactly | Qt::MatchRecursive);
    return l_rows.isEmpty() ? nullptr : l_rows.first();
}

// The rows a user can reach: hidden rows marked "-" and not descended into.
QStringList VisibleLines(QTreeWidget* ip_tree)
{
    QStringList l_lines;
    std::function<void(QTreeWidgetItem*, int)> l_add = [&](QTreeWidgetItem* ip_row, int i_depth) {
        l_lines << QString(i_depth * 2, ' ') + (ip_row->isHidden() ? "-" : "") + ip_row->text(0);
        if (!ip_row->isHidden())
            for (int l_index = 0; l_index < ip_row->childCount(); ++l_index)
                l_add(ip_row->child(l_index), i_depth + 1);
    };
    for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
        l_add(ip_tree->topLevelItem(l_index), 0);
    return l_lines;
}

std::map<std::string, std::size_t> ShareCounts()
{
    std::map<std::string, std::size_t> l_counts;
    for (char const* lp_type : {"user_share", "user_share_folder", "user_share_file", "user_share_folder_parent",
                                "user_share_tab", "upload_share_tab", "user_share_folder_node",
                                "user_share_file_node", "user_share_folder_name", "user_share_file_name"})
        l_counts[lp_type] = Count(lp_type);
    return l_counts;
}
} // namespace

class TestShareForms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void oneBrowseTabPerUserAndOneRequest();
    void browseEndToEnd();
    void connectionNotice();
    void filterTable();
    void folderDownloadLevels();
    void deepShareIsCut();
    void uploadBrowser();

private:
    // A browse tab for the user showing the share built from the list.
    ShareForm* Browse(QString const& i_user, FileInfoMap i_list);

    UsersFixture m_env;
};

void TestShareForms::initTestCase()
{
    QVERIFY(m_env.SetUp());
}

void TestShareForms::cleanupTestCase()
{
    m_env.TearDown();
}

ShareForm* TestShareForms::Browse(QString const& i_user, FileInfoMap i_list)
{
    ShareForm* const lp_form = sharesForm->OpenShareBrowse(i_user);
    AttributeTranslationTable l_table;
    sharesForm->OnUserShare(i_user, i_list, l_table);
    return lp_form;
}

void TestShareForms::oneBrowseTabPerUserAndOneRequest()
{
    m_env.fake().ClearFrames();
    ShareForm* const lp_ned = sharesForm->OpenShareBrowse(QStringLiteral("ned"));
    ShareForm* const lp_ola = sharesForm->OpenShareBrowse(QStringLiteral("ola"));
    QCOMPARE(sharesForm->OpenShareBrowse(QStringLiteral("ned")), lp_ned);
    QVERIFY(lp_ned && lp_ola && lp_ned != lp_ola);
    QCOMPARE(sharesForm->findChildren<ShareForm*>().size(), 2);
    // The list is asked for once per user, not once per opening: without a connection
    // to the user the request waits, and the server is asked where the user is.
    m_env.fake().Idle(100);
    QCOMPARE(m_env.fake().FramesWithCode(3).size(), 2);
    for (char const* l_user : {"ned", "ola"})
        QCOMPARE(d["user"]->GetItem(Value(l_user)).GetItems("unsent_message").size(), std::size_t(1));
    while (sharesForm->tabControl->count() > 0)
        sharesForm->OnTabCloseRequested(0);
    ClearConnections();
}

void TestShareForms::browseEndToEnd()
{
    std::map<std::string, std::size_t> const l_before = ShareCounts();
    FakePeer l_peer;
    QVERIFY(Open(m_env.PlainPort(), l_peer, "pia"));
    ShareForm* const lp_form = sharesForm->OpenShareBrowse(QStringLiteral("pia"));
    QCOMPARE(sharesForm->OpenShareBrowse(QStringLiteral("pia")), lp_form);
    QVERIFY(l_peer.WaitForFrames(1));
    l_peer.WaitForFrames(2, 200);
    QCOMPARE(l_peer.Frames(), QList<QByteArray>{Code(4)});
    QVERIFY(lp_form->messageBrowser->toPlainText().contains("Requesting file list..."));
    QVERIFY(lp_form->folderTree->isHidden());

    QByteArray const l_list = ShareList({
        {"A", {FileRecord("song.mp3", 1234567, "mp3", {{0, 192}, {1, 205}, {2, 1}}), FileRecord("b.txt", 0),
               FileRecord("c.ogg", 9, "ogg", {{0, 128}, {2, 0}, {7, 3}})}},
        {"A B", {FileRecord("y.txt", 5)}},
        {"A\\B", {FileRecord("x.mp3", 1000)}},
        {"A\\B\\C", {FileRecord("deep.mp3", 2000)}},
        {"Z\\Y", {FileRecord("orphan.txt", 3)}},
        {"Z\\caf\xe9", {FileRecord("menu.txt", 4)}},
    });
    // Asked for before the list arrives, by the bytes the peer uses: Latin-1 here.
    lp_form->BrowseToFolder("Z\\caf\xe9");
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(l_list)));
    QTRY_VERIFY_WITH_TIMEOUT(!lp_form->folderTree->isHidden(), 3000);
    QVERIFY(lp_form->messageBrowser->isHidden());
    QCOMPARE(Lines(lp_form->fileList), QStringList{"menu.txt|4"});
    // "A B" sorts between "A" and "A\B" but is no child of "A"; "Y" lost its parent.
    QCOMPARE(Lines(lp_form->folderTree),
             (QStringList{"A", "  B", "    C", "A B", "Y", lp_form->folderTree->currentItem()->text(0)}));

    lp_form->folderTree->setCurrentItem(FindRow(lp_form->folderTree, "A"));
    QCOMPARE(Lines(lp_form->fileList),
             (QStringList{"b.txt", "c.ogg|9|128 CBR", "song.mp3|1,234,567|192 VBR, 3m25s"}));
    QCOMPARE(Count("user_share_file_node"), l_before.at("user_share_file_node") + 3);

    // Two levels below the top: two steps, then nothing; collapsing starts over.
    QStringList l_texts;
    for (int l_step = 0; l_step < 3; ++l_step)
    {
        sharesForm->OnToolBarActionTriggered(nullptr, "expand_level");
        l_texts << ExpandText();
    }
    QCOMPARE(l_texts, (QStringList{"Expand Level [1]", "Expand Level [2]", "Expand Level [2]"}));
    sharesForm->OnToolBarActionTriggered(nullptr, "collapse_all");
    QCOMPARE(ExpandText(), QStringLiteral("Expand Level"));
    QVERIFY(!FindRow(lp_form->folderTree, "A")->isExpanded());

    // A second list for the same user keeps the share already shown.
    ItemPtr const l_share = lp_form->Share();
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(l_list)));
    m_env.fake().Idle(100);
    QCOMPARE(lp_form->Share(), l_share);
    QCOMPARE(Count("user_share"), l_before.at("user_share") + 1);

    // A folder download asks the peer for every file at every level below it.
    d["user"]->GetItem(Value("pia")).NewItem("is_online");
    qsizetype const l_frames = l_peer.Frames().size();
    lp_form->OnFolderDoubleClicked(FindRow(lp_form->folderTree, "A"), 0);
    QVERIFY(l_peer.WaitForFrames(l_frames + 5));
    QStringList l_asked;
    for (QByteArray const& l_frame : l_peer.Frames().mid(l_frames))
    {
        QCOMPARE(l_frame.left(4), U32(43));
        l_asked << QString::fromUtf8(l_frame.mid(8));
    }
    l_asked.sort();
    QCOMPARE(l_asked, (QStringList{"A\\B\\C\\deep.mp3", "A\\B\\x.mp3", "A\\b.txt", "A\\c.ogg",
                                   "A\\song.mp3"}));
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        transferQueueManager->RemoveDownload(l_entry);

    sharesForm->OnTabCloseRequested(sharesForm->tabControl->indexOf(lp_form));
    QCOMPARE(ShareCounts(), l_before);
    // A list that nobody browses leaves nothing behind.
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(l_list)));
    m_env.fake().Idle(100);
    QCOMPARE(ShareCounts(), l_before);
    ClearConnections();
}

void TestShareForms::connectionNotice()
{
    ShareForm* const lp_form = sharesForm->OpenShareBrowse(QStringLiteral("quinn"));
    emit peerMessenger->ConnectionToUserFailed("quinn", "F");
    emit peerMessenger->ConnectionToUserFailed("other", "P");
    QCOMPARE(lp_form->messageBrowser->toPlainText(), QStringLiteral("Requesting file list..."));
    emit peerMessenger->ConnectionToUserFailed("quinn", "P");
    emit peerMessenger->ConnectionToUserFailed("quinn", "P");
    QString const l_href = "http://www.kestrune.net/porttest.php?port=" + GetSetting("listening_port");
    QString const l_html = lp_form->messageBrowser->toHtml();
    QCOMPARE(l_html.count("porttest.php"), 1);
    QVERIFY2(l_html.contains("href=\"" + l_href + "\""), qPrintable(l_html));
    QVERIFY(lp_form->messageBrowser->toPlainText().endsWith(
        "A connection could not be successfully formed to the user. If this is happening to you a lot, "
        "Check here to make sure that your port is open."));
    // After a share arrives no notice comes any more.
    ShareForm* const lp_empty = Browse("ruth", {});
    QVERIFY(lp_empty->messageBrowser->toPlainText().endsWith("sharing all of their files privately."));
    emit peerMessenger->ConnectionToUserFailed("ruth", "P");
    QVERIFY(!lp_empty->messageBrowser->toHtml().contains("porttest"));
    QVERIFY(lp_empty->folderTree->isHidden());
    while (sharesForm->tabControl->count() > 0)
        sharesForm->OnTabCloseRequested(0);
    ClearConnections();
}

void TestShareForms::filterTable()
{
    ShareForm* const lp_form =
        Browse("fil", {{"Music", {Info("intro.txt", 10)}},
                       {"Music\\Rock", {Info("live.mp3", 5000000, {{0, 320}, {2, 0}}), Info("demo.mp3", 10, {{0, 96}})}},
                       {"Music\\Rock\\Bad", {Info("rock bad.mp3", 7, {{0, 320}})}},
                       {"Video", {Info("a.avi", 1), Info("b.avi", 2), Info("c.avi", 3)}},
                       {"Video\\Rock", {}}});
    struct Case
    {
        char const* m_filter;
        char const* m_current;
        QStringList m_tree;
        QStringList m_files;
    };
    QList<Case> const l_cases = {
        {"", "Rock", {"Music", "  Rock", "    Bad", "Video", "  Rock"}, {"demo.mp3", "live.mp3"}},
        // A word in a folder name lets the folder, all below it and all its files through.
        {"rock", "Rock", {"Music", "  Rock", "    Bad", "Video", "  Rock"}, {"demo.mp3", "live.mp3"}},
        {"ROCK -bad", "Rock", {"Music", "  Rock", "    -Bad", "Video", "  Rock"}, {"demo.mp3", "live.mp3"}},
        {"live", "Rock", {"Music", "  Rock", "    -Bad", "-Video"}, {"live.mp3"}},
        {"live", "Music", {"Music", "  Rock", "    -Bad", "-Video"}, {}},
        {"mbr:256", "Rock", {"Music", "  Rock", "    Bad", "-Video"}, {"live.mp3"}},
        {"mfs:1", "Rock", {"Music", "  Rock", "    -Bad", "-Video"}, {"live.mp3"}},
        {"mfif:3", "Video", {"-Music", "Video", "  -Rock"}, {"a.avi", "b.avi", "c.avi"}},
        // An excluded word in a folder name hides it with everything below it.
        {"-music", "Rock", {"-Music", "Video", "  Rock"}, {}},
        {"isvbr", "Rock", {"-Music", "-Video"}, {}},
    };
    for (Case const& l_case : l_cases)
    {
        lp_form->filterEdit->clear();
        lp_form->folderTree->setCurrentItem(FindRow(lp_form->folderTree, l_case.m_current));
        lp_form->filterEdit->setText(l_case.m_filter);
        QStringList l_files;
        for (QString const& l_line : Lines(lp_form->fileList))
            l_files << l_line.section('|', 0, 0);
        QCOMPARE(VisibleLines(lp_form->folderTree), l_case.m_tree);
        QCOMPARE(l_files, l_case.m_files);
    }
    lp_form->filterEdit->clear();
    sharesForm->OnTabCloseRequested(sharesForm->tabControl->indexOf(lp_form));
}

void TestShareForms::folderDownloadLevels()
{
    ShareForm* const lp_form = Browse("dan", {{"Top", {Info("t1.mp3", 11), Info("t2.mp3", 12)}},
                                              {"Top\\Mid", {Info("m.mp3", 13)}},
                                              {"Top\\Mid\\Low", {Info("l.mp3", 14)}},
                                              {"Other", {Info("o.mp3", 15)}}});
    QTreeWidgetItem* const lp_top = FindRow(lp_form->folderTree, "Top");
    lp_form->folderTree->setCurrentItem(lp_top);
    lp_form->filterEdit->setText("t1");
    lp_form->OnFolderDoubleClicked(lp_top, 0);
    struct Expected
    {
        char const* m_file;
        char const* m_folder;
        int m_level;
    };
    for (Expected const& l_expected : {Expected{"t1.mp3", "Top", 0}, Expected{"t2.mp3", "Top", 0},
                                       Expected{"m.mp3", "Top\\Mid", 1}, Expected{"l.mp3", "Top\\Mid\\Low", 1}})
    {
        ItemPtr const l_entry =
            transferQueueManager->GetDownloadEntry("dan", l_expected.m_file, l_expected.m_folder);
        QVERIFY2(l_entry, l_expected.m_file);
        QCOMPARE(TransferQueueManager::SubfolderSaveLevel(l_entry), l_expected.m_level);
    }
    QVERIFY(!transferQueueManager->GetDownloadEntry("dan", "o.mp3", "Other"));
    // Only the listed row carries the icon; the filtered-out file has no row.
    QCOMPARE(lp_form->fileList->topLevelItemCount(), 1);
    QVERIFY(!lp_form->fileList->topLevelItem(0)->icon(0).isNull());

    lp_form->filterEdit->clear();
    lp_form->fileList->topLevelItem(0)->setSelected(true);
    lp_form->OnFileDoubleClicked(FindRow(lp_form->fileList, "t2.mp3"), 0);
    QVERIFY(!FindRow(lp_form->fileList, "t2.mp3")->icon(0).isNull());
    QVERIFY(FindRow(lp_form->fileList, "t1.mp3")->icon(0).isNull());
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        transferQueueManager->RemoveDownload(l_entry);
    sharesForm->OnTabCloseRequested(sharesForm->tabControl->indexOf(lp_form));

    // Folder and file names that climb out: every local path stays inside the download
    // folder, or there is none.
    ShareForm* const lp_climb = Browse("eve", {{"..", {Info("..", 1), Info("a.mp3", 2)}},
                                               {"..\\..", {Info("b.mp3", 3)}}});
    lp_climb->DownloadFolder(lp_climb->Browser()->FolderOfRow(lp_climb->folderTree->topLevelItem(0)), false);
    QString const l_root = QDir::cleanPath(GetSetting("download_folder")) + "/";
    QCOMPARE(d["download_entry"]->GetItemCount(), std::size_t(3));
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        for (bool const l_complete : {false, true})
        {
            QString l_path;
            if (transferQueueManager->GetLocalDownloadPath(l_entry, l_complete, l_path))
                QVERIFY2(QDir::cleanPath(l_path).startsWith(l_root), qPrintable(l_path));
        }
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        transferQueueManager->RemoveDownload(l_entry);
    sharesForm->OnTabCloseRequested(sharesForm->tabControl->indexOf(lp_climb));
}

void TestShareForms::deepShareIsCut()
{
    int const l_depth = 2000;
    FileInfoMap l_list;
    std::string l_path = "d";
    for (int l_level = 1; l_level <= l_depth; ++l_level, l_path += "\\d")
        l_list[l_path].insert(Info("f" + std::to_string(l_level), l_level));
    std::size_t const l_folders = Count("user_share_folder");
    LogCapture l_log;
    ShareForm* const lp_form = Browse("deep", l_list);
    QCOMPARE(Count("user_share_folder"), l_folders + SharesForm::c_maxFolderDepth);
    QCOMPARE(l_log.Texts("Shared").size(), 1);
    QCOMPARE(lp_form->Browser()->DeepestLevel(), SharesForm::c_maxFolderDepth - 1);
    lp_form->filterEdit->setText("f512");
    QTreeWidgetItem* lp_row = lp_form->folderTree->topLevelItem(0);
    while (lp_row->childCount() > 0)
        lp_row = lp_row->child(0);
    lp_form->folderTree->setCurrentItem(lp_row);
    QCOMPARE(Lines(lp_form->fileList), QStringList{"f512|512"});
    lp_form->ExpandAll();
    sharesForm->OnTabCloseRequested(sharesForm->tabControl->indexOf(lp_form));
    QCOMPARE(Count("user_share_folder"), l_folders);
}

void TestShareForms::uploadBrowser()
{
    QTemporaryDir l_dir;
    QString const l_root = l_dir.path() + "/up";
    for (QString const l_file : {"/one.txt", "/two.txt", "/sub/three.txt", "/sub/deeper/four.txt"})
        QVERIFY(TransferTestEnv::WriteFile(l_root + l_file, "bytes"));
    ItemPtr const l_shared = sharedFoldersManager->AddSharedFolder(l_root);
    l_shared.NewItem("shared_public");
    QTRY_VERIFY_WITH_TIMEOUT(sharedFoldersManager->GetSharedFileItem(l_root + "/sub/deeper/four.txt"), 2000);

    FakePeer l_peer;
    QVERIFY(Open(m_env.PlainPort(), l_peer, "uma"));
    UploadForm* const lp_upload = sharesForm->OpenUploadBrowse("uma");
    QCOMPARE(sharesForm->OpenUploadBrowse("uma"), lp_upload);
    QCOMPARE(sharesForm->tabControl->tabText(sharesForm->tabControl->indexOf(lp_upload)), QStringLiteral("Upload to uma"));
    QTreeWidgetItem* const lp_top = lp_upload->folderTree->topLevelItem(0);
    QVERIFY(lp_top && lp_top->text(0) == "up");
    QCOMPARE(Lines(lp_upload->folderTree), (QStringList{"up", "  sub", "    deeper"}));
    lp_upload->folderTree->setCurrentItem(lp_top);
    QCOMPARE(lp_upload->fileList->topLevelItemCount(), 2);

    // A browse tab changing its folder leaves the upload tab's rows working.
    ShareForm* const lp_browse = Browse("vic", {{"V", {Info("v.mp3", 1)}}});
    lp_browse->folderTree->setCurrentItem(lp_browse->folderTree->topLevelItem(0));
    QTreeWidgetItem* const lp_one = FindRow(lp_upload->fileList, "one.txt");
    QVERIFY(lp_upload->Browser()->FileOfRow(lp_one));
    lp_one->setSelected(true);
    emit actionBar->ActionTriggered(lp_upload->fileList, "upload_share_file");
    ItemPtr const l_uma = d["user"]->GetItem(Value("uma"));
    QCOMPARE(l_uma.GetItems("upload_entry").size(), std::size_t(1));
    QVERIFY(!lp_one->icon(0).isNull());
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames().last().left(4), U32(60));

    // A file no longer shared with the user gets no icon.
    QTreeWidgetItem* const lp_two = FindRow(lp_upload->fileList, "two.txt");
    l_uma.NewItem("unshared");
    lp_one->setSelected(false);
    lp_two->setSelected(true);
    emit actionBar->ActionTriggered(lp_upload->fileList, "upload_share_file");
    QCOMPARE(l_uma.GetItems("upload_entry").size(), std::size_t(1));
    QVERIFY(lp_two->icon(0).isNull());
    l_uma.Disconnect("unshared");

    // A folder goes with everything below it.
    lp_top->setSelected(true);
    emit actionBar->ActionTriggered(lp_upload->folderTree, "upload_share_folder");
    QCOMPARE(l_uma.GetItems("upload_entry").size(), std::size_t(4));
    QVERIFY(!lp_two->icon(0).isNull());

    // Unsharing denies every queued upload of the user with "File not shared.".
    qsizetype const l_frames = l_peer.Frames().size();
    QMenu l_menu;
    UserMenuOptions const l_options(&l_menu, "uma", nullptr);
    for (QAction* const lp_action : l_menu.actions())
        if (lp_action->text() == "Unshare files from user")
            lp_action->trigger();
    QVERIFY(l_uma.GetItems("upload_entry").empty());
    auto const l_denials = [&] {
        QList<QByteArray> l_found;
        for (QByteArray const& l_frame : l_peer.Frames().mid(l_frames))
            if (l_frame.startsWith(U32(50)))
                l_found << l_frame;
        return l_found;
    };
    QTRY_COMPARE_WITH_TIMEOUT(l_denials().size(), 4, 2000);
    for (QByteArray const& l_frame : l_denials())
        QVERIFY(l_frame.endsWith(Text("File not shared.")));
    l_uma.Disconnect("unshared");

    std::size_t const l_shares = Count("user_share");
    sharesForm->OnTabCloseRequested(sharesForm->tabControl->indexOf(lp_upload));
    QCOMPARE(Count("user_share"), l_shares - 1);
    QCOMPARE(Count("upload_share_tab"), std::size_t(0));
    sharesForm->OnTabCloseRequested(sharesForm->tabControl->indexOf(lp_browse));
    ClearConnections();
}

QTEST_MAIN(TestShareForms)
#include "tst_share_forms.moc"
