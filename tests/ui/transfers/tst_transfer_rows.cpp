#include "TransfersTestEnv.h"

#include "store/GeneralFunctions.h"
#include "store/Settings.h"

#include <QIcon>

#include <climits>
#include <tuple>

using namespace TransfersTestEnv;

class TestTransferRows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void cleanup() { m_env.Reset(); }

    // Runs first: the transfer queues have not reported their saved downloads yet.
    void savedDownloadsAppearAfterTheLoadInQueueOrder();
    void rowsFollowEntriesAndTheirRemoval();
    void uploadRowsAndOnlineDots();
    void statusTextsAggregatesAndColours();
    void progressFigures();
    void sumsOfHugeSizesStayInRange();
    void removalShowsWhatRemains();
    void stoppedDownloadsKeepTheirBytesInTheSums();

private:
    QStringList Tree() { return Lines(m_env.Downloads()); }
    TransfersFixture m_env;
};

namespace
{
QImage IconImage(QIcon const& i_icon)
{
    return i_icon.pixmap(16).toImage();
}

int NodeCount(char const* ip_type)
{
    return int(d[ip_type]->GetItemCount());
}
} // namespace

void TestTransferRows::savedDownloadsAppearAfterTheLoadInQueueOrder()
{
    ItemPtr const l_a = m_env.Download("bob", "music\\rock", "a.mp3", 1000);
    m_env.Download("carol", "docs", "b.txt", 2000);
    m_env.Download("bob", "music\\rock", "c.mp3", 3000);
    // The oldest download of bob is moved to the end of the queue.
    l_a.Disconnect("download_order");
    l_a += d["download_order"]->GetItem(Value(9999));
    QCOMPARE(m_env.Downloads()->topLevelItemCount(), 0);

    m_env.Load();
    QCOMPARE(Tree(), (QStringList{"carol", "  |docs", "    ||b.txt|queued||||2,000",
                                  "bob", "  |rock/music", "    ||c.mp3|queued||||3,000",
                                  "    ||a.mp3|queued||||1,000"}));
    QCOMPARE(m_env.tabs().tabText(0), QString("Transfers [0/0]"));
}

void TestTransferRows::rowsFollowEntriesAndTheirRemoval()
{
    ItemPtr const l_first = m_env.Download("bob", "music\\rock", "a.mp3", 1000);
    ItemPtr const l_second = m_env.Download("bob", "music\\rock", "b.mp3", 1234567);
    ItemPtr const l_other = m_env.Download("bob", "music\\jazz", "c.mp3", 5);
    ItemPtr const l_dave = m_env.Download("dave", "x", "d.bin", 0);
    l_second += d["place_in_line"]->GetItem(Value(7));
    QCOMPARE(Tree(), (QStringList{"bob", "  |rock/music", "    ||a.mp3|queued||||1,000",
                                  "    ||b.mp3|queued||||1,234,567|7", "  |jazz/music",
                                  "    ||c.mp3|queued||||5", "dave", "  |x", "    ||d.bin|queued"}));

    // Any status change empties the place, the change to "queued" too.
    m_env.SetStatus(l_second, "aborted");
    m_env.SetStatus(l_second, "queued");
    QCOMPARE(Texts(RowOf(l_second, "download_list_node")), QString("||b.mp3|queued||||1,234,567"));

    // The path fires again when a link is made anew: still one row per download.
    l_first.Disconnect("file_size");
    l_first += d["file_size"]->GetItem(Value(2000));
    QCOMPARE(Tree().size(), 9);

    // Removing one of several leaves the parents as they were; the last of a folder takes
    // the folder row, the last of a user the user row, each with its node.
    m_env.manager().RemoveDownload(l_first);
    QCOMPARE(Tree(), (QStringList{"bob", "  |rock/music", "    ||b.mp3|queued||||1,234,567",
                                  "  |jazz/music", "    ||c.mp3|queued||||5", "dave", "  |x",
                                  "    ||d.bin|queued"}));
    m_env.manager().RemoveDownload(l_dave);
    m_env.manager().RemoveDownload(l_other);
    QCOMPARE(Tree(), (QStringList{"bob", "  |rock/music", "    ||b.mp3|queued||||1,234,567"}));
    QCOMPARE(QList<int>({NodeCount("download_list_user_node"), NodeCount("download_list_folder_node"),
                         NodeCount("download_list_node")}),
             QList<int>({1, 1, 1}));

    // Delete on a user row empties it folder by folder, whatever the rows hold.
    m_env.Download("bob", "music\\jazz", "e.mp3", 5);
    l_second.Disconnect("file_size");
    l_second += d["file_size"]->GetItem(Value(10));
    QTreeWidgetItem* const lp_user = m_env.Downloads()->topLevelItem(0);
    m_env.Downloads()->setCurrentItem(lp_user);
    QKeyEvent l_delete(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(m_env.Downloads(), &l_delete);
    QCOMPARE(Tree(), QStringList());
    QCOMPARE(d["download_entry"]->GetItemCount(), std::size_t(0));
    QCOMPARE(QList<int>({NodeCount("download_list_user_node"), NodeCount("download_list_folder_node"),
                         NodeCount("download_list_node")}),
             QList<int>({0, 0, 0}));
}

void TestTransferRows::uploadRowsAndOnlineDots()
{
    ItemPtr const l_upload = m_env.Upload("erin", "albums/live/track.mp3", 4096);
    QVERIFY(l_upload);
    QString const l_folder = ReversePathname(QString(m_env.ShareFolder() + "/albums/live").replace('/', '\\'));
    QCOMPARE(Lines(m_env.Uploads()), (QStringList{"erin", "  |" + l_folder, "    ||track.mp3|queued||||4,096"}));
    l_upload += d["denial_reason"]->GetItem(Value("File Not Shared."));
    m_env.manager().SetUploadEntryStatus(l_upload, "denied");
    QCOMPARE(Texts(RowOf(l_upload, "upload_list_node")), QString("||track.mp3|file not shared.||||4,096"));

    // A user with only an upload row gets the dot on that row alone.
    QTreeWidgetItem* const lp_user = m_env.Uploads()->topLevelItem(0);
    QCOMPARE(IconImage(lp_user->icon(0)), IconImage(QIcon(":/icons/offline_dot_icon")));
    SetOnline("erin", true);
    QCOMPARE(IconImage(lp_user->icon(0)), IconImage(QIcon(":/icons/online_dot_icon")));
    QCOMPARE(m_env.Downloads()->topLevelItemCount(), 0);
    SetOnline("erin", false);
    QCOMPARE(IconImage(lp_user->icon(0)), IconImage(QIcon(":/icons/offline_dot_icon")));

    // A shared file without a folder gives an upload no rows.
    ItemPtr const l_loose = d["upload_entry"]->NewItem();
    l_loose += d["shared_file"]->NewItem();
    l_loose += User("erin");
    QCOMPARE(Lines(m_env.Uploads()).size(), 3);
    m_env.manager().RemoveUpload(l_loose);
}

void TestTransferRows::statusTextsAggregatesAndColours()
{
    SetSetting("color_transfer_queued", "#3366ff");
    SetSetting("color_transfer_in_progress", "#0000ff");
    SetSetting("color_transfer_complete", "#006400");
    SetSetting("color_transfer_failed", "#ff0a47");
    SetSetting("color_transfer_other", "#000000");
    ItemPtr const l_one = m_env.Download("bob", "f", "one", 10);
    ItemPtr const l_two = m_env.Download("bob", "f", "two", 10);
    l_one += d["denial_reason"]->GetItem(Value("Too Many Files"));
    QTreeWidgetItem* const lp_user = m_env.Downloads()->topLevelItem(0);
    QTreeWidgetItem* const lp_folder = lp_user->child(0);
    lp_folder->setExpanded(false);

    struct Case
    {
        char const* mp_one;
        char const* mp_two;
        char const* mp_shownOne;
        char const* mp_aggregate;
        char const* mp_folderColour;
    };
    Case const c_cases[] = {
        {"downloading", "queued", "downloading", "downloading", "#0000ff"},
        {"complete", "queued", "complete", "queued", "#3366ff"},
        {"complete", "complete", "complete", "complete", "#006400"},
        {"denied", "complete", "too many files", "denied", "#ff0a47"},
        {"aborted", "complete", "aborted", "aborted", "#ff0a47"},
        {"local error", "complete", "local error", "", "#000000"},
        {"denied", "aborted", "too many files", "denied", "#ff0a47"},
        {"denied", "complete", "too many files", "denied", "#ff0a47"},
    };
    for (Case const& l_case : c_cases)
    {
        m_env.SetStatus(l_one, l_case.mp_one);
        m_env.SetStatus(l_two, l_case.mp_two);
        QTreeWidgetItem* const lp_row = RowOf(l_one, "download_list_node");
        QCOMPARE(lp_row->text(3), QString(l_case.mp_shownOne));
        QCOMPARE(lp_folder->text(3), QString(l_case.mp_aggregate));
        QCOMPARE(lp_folder->foreground(0).color().name(), QString(l_case.mp_folderColour));
        QCOMPARE(lp_folder->foreground(8).color().name(), QString(l_case.mp_folderColour));
        // The expanded user row keeps its status cell empty, but takes the colour.
        QCOMPARE(lp_user->text(3), QString());
        QCOMPARE(lp_user->foreground(0).color().name(), QString(l_case.mp_folderColour));
    }
    QCOMPARE(m_env.tabs().tabText(0), QString("Transfers [0/0]"));

    // New colours reach every row at once; a collapsed row's status comes back with them.
    SetSetting("color_transfer_failed", "#123456");
    SetSetting("color_transfer_complete", "#654321");
    lp_user->setExpanded(false);
    QCOMPARE(lp_user->text(3), QString("denied"));
    lp_folder->setText(3, "stale");
    lp_user->setText(3, "stale");
    m_env.form().RecolorEntries();
    QCOMPARE(RowOf(l_one, "download_list_node")->foreground(2).color().name(), QString("#123456"));
    QCOMPARE(RowOf(l_two, "download_list_node")->foreground(2).color().name(), QString("#654321"));
    QCOMPARE(lp_folder->text(3), QString("denied"));
    QCOMPARE(lp_folder->foreground(1).color().name(), QString("#123456"));
    QCOMPARE(lp_user->text(3), QString("denied"));
    lp_user->setExpanded(true);
    QCOMPARE(lp_user->text(3), QString());
    SetSetting("color_transfer_failed", "#ff0a47");
    SetSetting("color_transfer_complete", "#006400");
}

namespace
{
// Time left and the bar of a row: "<time left>|<bar format>|<bar value>", or the time left
// alone without a bar.
QString Figures(QTreeWidgetItem* ip_row)
{
    QString l_text = ip_row->text(5);
    if (auto* lp_bar = qobject_cast<QProgressBar*>(ip_row->treeWidget()->itemWidget(ip_row, 4)))
        l_text += QString("|%1|%2").arg(lp_bar->format()).arg(lp_bar->value());
    return l_text;
}
} // namespace

void TestTransferRows::progressFigures()
{
    // Two folders, so that the user row shows sums even while expanded. Only "one" runs;
    // the queued ones count their whole size as left.
    ItemPtr const l_entry = m_env.Download("bob", "a", "one", 2468);
    m_env.Download("bob", "a", "two", 1000);
    m_env.Download("bob", "b", "three", 500);
    QTreeWidgetItem* const lp_user = m_env.Downloads()->topLevelItem(0);
    QTreeWidgetItem* const lp_folder = lp_user->child(0);
    QTreeWidgetItem* const lp_file = RowOf(l_entry, "download_list_node");
    m_env.SetStatus(l_entry, "downloading");
    QCOMPARE(m_env.tabs().tabText(0), QString("Transfers [1/0]"));

    struct Case
    {
        qint64 m_position;
        int m_rate;
        bool m_userExpanded;
        bool m_folderExpanded;
        char const* mp_file;
        char const* mp_folder;
        char const* mp_user;
        int m_speedRow; // 0 user, 1 folder, 2 file
    };
    Case const c_cases[] = {
        // Position 0: the commafied 0 is empty, so the text opens with a blank.
        {0, 0, true, true, "   0s| (0.0%)|0", "   0s| (0.0%)|0", "   0s| (0.0%)|0", 2},
        {1234, 1536, true, true, "   0s|1,234 (50.0%)|50", "   1s|1,234 (35.6%)|35",
         "   1s|1,234 (31.1%)|31", 2},
        {1234, 1, true, false, "   20m:34s|1,234 (50.0%)|50", "   37m:14s|1,234 (35.6%)|35",
         "   45m:34s|1,234 (31.1%)|31", 1},
        {2467, 1, false, false, "   1s|2,467 (100.0%)|99", "   16m:41s|2,467 (71.1%)|71",
         "   25m:1s|2,467 (62.2%)|62", 0},
    };
    for (Case const& l_case : c_cases)
    {
        lp_user->setExpanded(l_case.m_userExpanded);
        lp_folder->setExpanded(l_case.m_folderExpanded);
        for (QTreeWidgetItem* lp_row : {lp_user, lp_folder, lp_file})
            lp_row->setText(6, QString());
        m_env.Progress(l_entry, l_case.m_position, l_case.m_rate);
        QCOMPARE(Figures(lp_file), QString(l_case.mp_file));
        QCOMPARE(Figures(lp_folder), QString(l_case.mp_folder));
        QCOMPARE(Figures(lp_user), QString(l_case.mp_user));
        QTreeWidgetItem* const lp_speedRows[] = {lp_user, lp_folder, lp_file};
        for (int l_row = 0; l_row < 3; ++l_row)
            QCOMPARE(lp_speedRows[l_row]->text(6),
                     l_row == l_case.m_speedRow ? QString::number(l_case.m_rate / 1024.0, 'f', 1) : QString());
    }
    // Expanding empties a parent's status, time, speed and bar; collapsing brings the status
    // back, the figures come with the next report.
    lp_folder->setExpanded(true);
    QCOMPARE(Texts(lp_folder), QString("|a"));
    lp_folder->setExpanded(false);
    QCOMPARE(Texts(lp_folder), QString("|a||downloading"));

    // A user with one folder shows no sums while expanded. Sizes of 0 and positions past the
    // end give finite figures.
    struct Single
    {
        long long m_size;
        qint64 m_position;
        int m_rate;
        char const* mp_figures;
    };
    Single const c_singles[] = {{3725, 0, 1, "   1h:2m:5s| (0.0%)|0"},
                                {0, 0, 0, "   0s| (0.0%)|0"},
                                {0, 500, 100, "   0s|500 (0.0%)|0"},
                                {1000, 1500, 100, "   0s|1,500 (150.0%)|100"},
                                {-5, 10, 1, "   0s|10 (0.0%)|0"}};
    for (Single const& l_single : c_singles)
    {
        m_env.Reset();
        ItemPtr const l_one = m_env.Download("zed", "z", "file", l_single.m_size);
        m_env.SetStatus(l_one, "downloading");
        m_env.Progress(l_one, l_single.m_position, l_single.m_rate);
        QCOMPARE(Figures(RowOf(l_one, "download_list_node")), QString(l_single.mp_figures));
        QCOMPARE(Figures(m_env.Downloads()->topLevelItem(0)), QString());
    }
}

void TestTransferRows::sumsOfHugeSizesStayInRange()
{
    // Sizes come from peers: three of the largest size in one folder overflow any 64-bit
    // sum, yet the figures stay exact and within range.
    ItemPtr const l_running = m_env.Download("bob", "big", "a", LLONG_MAX);
    ItemPtr const l_done = m_env.Download("bob", "big", "b", LLONG_MAX);
    m_env.Download("bob", "big", "c", LLONG_MAX);
    m_env.SetStatus(l_done, "complete");
    m_env.SetStatus(l_running, "downloading");
    m_env.Progress(l_running, LLONG_MAX / 2, INT_MAX);
    QTreeWidgetItem* const lp_folder = m_env.Downloads()->topLevelItem(0)->child(0);
    QCOMPARE(Figures(lp_folder), QString("   1193046h:28m:18s|9,223,372,036,854,775,807 (50.0%)|50"));
    m_env.Progress(l_running, LLONG_MAX, INT_MAX);
    QCOMPARE(Figures(lp_folder), QString("   1193046h:28m:18s|9,223,372,036,854,775,807 (66.7%)|66"));
    // Taking a download out of the sums gives the same figures as never having had it.
    m_env.manager().RemoveDownload(l_done);
    m_env.Progress(l_running, LLONG_MAX / 2, INT_MAX);
    QCOMPARE(Figures(lp_folder), QString("   1193046h:28m:18s|4,611,686,018,427,387,903 (25.0%)|25"));
}

void TestTransferRows::removalShowsWhatRemains()
{
    // A running download beside a queued one in a collapsed folder, whose row carries the
    // figures and the speed.
    ItemPtr const l_running = m_env.Download("bob", "a", "one", 4928000);
    m_env.Download("bob", "a", "two", 1000);
    QTreeWidgetItem* const lp_folder = m_env.Downloads()->topLevelItem(0)->child(0);
    lp_folder->setExpanded(false);
    m_env.SetStatus(l_running, "downloading");
    m_env.Progress(l_running, 1212416, 2048);
    QCOMPARE(Texts(lp_folder), QString("|a||downloading|[1,212,416 (24.6%)|24]|   30m:14s|2.0"));
    m_env.manager().RemoveDownload(l_running);
    QCOMPARE(Texts(lp_folder), QString("|a||queued|[ (0.0%)|0]"));
    QCOMPARE(lp_folder->foreground(1).color(),
             QColor::fromString(GetSetting("color_transfer_queued")));
    QCOMPARE(m_env.tabs().tabText(0), QString("Transfers [0/0]"));

    // An upload running when its user is unshared takes its rows and its count along.
    ItemPtr const l_upload = m_env.Upload("erin", "song.mp3", 4096);
    m_env.manager().SetUploadEntryStatus(l_upload, "uploading");
    QCOMPARE(m_env.tabs().tabText(0), QString("Transfers [0/1]"));
    m_env.manager().UnshareUser("erin");
    QCOMPARE(m_env.Uploads()->topLevelItemCount(), 0);
    QCOMPARE(m_env.tabs().tabText(0), QString("Transfers [0/0]"));
}

void TestTransferRows::stoppedDownloadsKeepTheirBytesInTheSums()
{
    // Downloads of a collapsed folder stop as the queues stop them (status, then position cell
    // gone), the second after one more report. Cases: stop, user expanded, user, folder rows.
    using Case = std::tuple<QString, bool, QString, QString>;
    Case const c_cases[] = {{"aborted", false, "bob|||aborted|[1,300,000 (32.5%)|32]",
                             "  |a||aborted|[1,300,000 (32.5%)|32]"},
                            {"local error", true, "bob", "  |a|||[1,300,000 (32.5%)|32]"}};
    for (auto const& [l_stop, l_userExpanded, l_user, l_folder] : c_cases)
    {
        m_env.Reset();
        ItemPtr const l_one = m_env.Download("bob", "a", "one", 1000000);
        ItemPtr const l_two = m_env.Download("bob", "a", "two", 3000000);
        m_env.Downloads()->topLevelItem(0)->child(0)->setExpanded(false);
        m_env.Downloads()->topLevelItem(0)->setExpanded(l_userExpanded);
        m_env.SetStatus(l_one, "downloading");
        m_env.SetStatus(l_two, "downloading");
        m_env.Progress(l_one, 400000, 20480);
        m_env.Progress(l_two, 600000, 40960);
        m_env.SetStatus(l_one, l_stop);
        m_env.Progress(l_two, 900000, 40960);
        m_env.SetStatus(l_two, l_stop);
        QCOMPARE(Tree(),
                 (QStringList{l_user, l_folder,
                              "    ||one|" + l_stop + "|[400,000 (40.0%)|40]|||1,000,000",
                              "    ||two|" + l_stop + "|[900,000 (30.0%)|30]|||3,000,000"}));
    }
}

QTEST_MAIN(TestTransferRows)
#include "tst_transfer_rows.moc"
