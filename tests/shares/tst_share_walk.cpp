// The folder walk and rescans on temporary trees (hidden entries, case duplicates,
// links, folder ids, added and removed counts, MP3 answers stored from the scanner
// thread) and the search tokens of file paths.

#include "Mp3Frames.h"
#include "SharesTestEnv.h"

#include "support/LogCapture.h"

#include <QtTest>

using SharesTestEnv::AllValues;
using SharesTestEnv::IndexedFiles;
using SharesTestEnv::Tree;
using SharesTestEnv::ValuesOf;

class TestShareWalk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void init() { m_env.Reset(); }

    void addingFoldersAndIds();
    void walkAndRescan();
    void searchTokens();

private:
    SharesTestEnv::Services m_env;
};

void TestShareWalk::addingFoldersAndIds()
{
    Tree l_tree;
    QVERIFY(l_tree.File("A/one.txt") && l_tree.File("B/two.txt"));
    SharedFoldersManager& l_shares = m_env.shares();
    LogCapture l_log;

    ItemPtr const l_a = l_shares.AddSharedFolder(l_tree.Path("A"));
    QCOMPARE(l_a["shared_folder_id"].AsString(), QStringLiteral("[1]A"));
    QCOMPARE(GetSetting("shared_folder_counter"), QStringLiteral("2"));
    QCOMPARE(l_log.Texts(QStringLiteral("Shared")).size(), 1);

    // The same path again: the same item, no walk, no number used.
    QCOMPARE(l_shares.AddSharedFolder(l_tree.Path("A")), l_a);
    QCOMPARE(l_log.Texts(QStringLiteral("Shared")).size(), 1);

    QCOMPARE(l_shares.AddSharedFolder(l_tree.Path("B"))["shared_folder_id"].AsString(), QStringLiteral("[2]B"));
    // A trailing separator makes another shared folder.
    ItemPtr const l_slashed = l_shares.AddSharedFolder(l_tree.Path("A/"));
    QVERIFY(l_slashed != l_a);
    QCOMPARE(l_slashed["shared_folder_id"].AsString(), QStringLiteral("[3]A"));
    QCOMPARE(GetSetting("shared_folder_counter"), QStringLiteral("4"));
    QVERIFY(l_log.Contains(QStringLiteral("Shared"), 1,
                           QStringLiteral("Adding folder %1 as part of sharing %1").arg(l_tree.Path("B"))));
}

void TestShareWalk::walkAndRescan()
{
    SharedFoldersManager& l_shares = m_env.shares();
    Tree l_tree;
    QByteArray const l_at128 = Mp3Frames::Frames({{.bitrateIndex = 9, .count = 100}});
    QByteArray const l_at320 = Mp3Frames::Frames({{.bitrateIndex = 14, .count = 100}});
    for (auto const& [l_path, l_bytes] : QList<QPair<QString, QByteArray>>{
             {"Music/Song.mp3", l_at128}, {"Music/song.mp3", l_at320}, {"Music/a.mp3", {}},
             {"Music/b.MP3", {}}, {"Music/c.Mp3", {}}, {"Music/readme.txt", "12345"},
             {"Music/common.txt", {}}, {"Music/.hidden.mp3", {}}, {"Music/.secret/inside.txt", {}},
             {"Music/Sub/Deeper/common.txt", {}}, {"Music/Sub/Deeper/x.txt", {}}})
        QVERIFY(l_tree.File(l_path, l_bytes));
    QVERIFY(l_tree.Folder("Music/Empty"));
    // Two ways back up the tree and one link sideways, which is followed.
    QVERIFY(l_tree.Link(l_tree.Path("Music"), "Music/Sub/back"));
    QVERIFY(l_tree.Link(l_tree.Path("Music/Sub"), "Music/Sub/self"));
    QVERIFY(l_tree.Link(l_tree.Path("Music/Sub/Deeper"), "Music/LinkToDeeper"));

    // Of the two names that differ only in case, the one the listing gives first wins.
    QString const l_songFirst =
        QDir(l_tree.Path("Music")).entryList({"?ong.mp3"}, QDir::Files).value(0);
    QVERIFY(l_songFirst == "Song.mp3" || l_songFirst == "song.mp3");

    QSignalSpy l_requests(&l_shares, &SharedFoldersManager::MP3ScanRequired);
    QSignalSpy l_rescanned(&l_shares, &SharedFoldersManager::SharedFilesRescanned);
    QString const l_music = l_tree.Path("Music");
    ItemPtr const l_shared = l_shares.AddSharedFolder(l_music);
    QVERIFY(l_shared);
    QCOMPARE(l_rescanned.count(), 0);

    QStringList l_expectedFirst = {
        l_music + "/LinkToDeeper/common.txt", l_music + "/LinkToDeeper/x.txt",
        l_music + "/Sub/Deeper/common.txt", l_music + "/Sub/Deeper/x.txt",
        l_music + "/a.mp3", l_music + "/b.MP3", l_music + "/c.Mp3", l_music + "/common.txt",
        l_music + "/" + l_songFirst, l_music + "/readme.txt"};
    l_expectedFirst.sort();
    QCOMPARE(IndexedFiles(), l_expectedFirst);
    QCOMPARE(AllValues("shared_file_folder"),
             (QStringList{l_music, l_music + "/Empty", l_music + "/LinkToDeeper", l_music + "/Sub",
                          l_music + "/Sub/Deeper"}));
    QCOMPARE(ValuesOf(l_shares.GetSharedFileItem(l_music + "/readme.txt"), "shared_file_size"),
             QStringList{"5"});
    // The other spelling left nothing behind; paths are split into tokens as they walk.
    QString const l_songOther = l_songFirst == "Song.mp3" ? "song.mp3" : "Song.mp3";
    QVERIFY(!d["shared_file_name"]->HasItem(Value(l_songOther)));
    QStringList const l_tokens = ValuesOf(l_shares.GetSharedFileItem(l_music + "/a.mp3"), "search_token");
    for (char const* lp_token : {"a", "a.mp3", "mp3", "music"})
        QVERIFY2(l_tokens.contains(lp_token), lp_token);
    QStringList l_asked;
    for (QList<QVariant> const& l_args : l_requests)
        l_asked << l_args.at(0).toString();
    QCOMPARE(l_asked, (QStringList{l_music + "/a.mp3", l_music + "/b.MP3", l_music + "/" + l_songFirst}));

    // The scanner thread answers for the frame file only; the answer is stored on it.
    ItemPtr const l_song = l_shares.GetSharedFileItem(l_music + "/" + l_songFirst);
    QTRY_VERIFY_WITH_TIMEOUT(l_song.IsConnected("is_scanned"), 5000);
    QCOMPARE(l_song["mpeg_version"].AsString(), QStringLiteral("1"));
    QCOMPARE(l_song["channel_mode"].AsString(), QStringLiteral("joint stereo"));
    QCOMPARE(l_song["audio_frequency"].AsString(), QStringLiteral("0"));
    QCOMPARE(l_song["bitrate_mode"].AsString(), QStringLiteral("cbr"));
    QCOMPARE(l_song["bitrate"].AsString(), l_songFirst == "Song.mp3" ? QStringLiteral("128") : QStringLiteral("320"));

    // Changes on disk: one file and one whole folder gone (which also leaves the link
    // sideways dangling), two files new, one of them hidden.
    QVERIFY(l_tree.Remove("Music/readme.txt"));
    QVERIFY(l_tree.Remove("Music/Sub/Deeper"));
    QVERIFY(l_tree.File("Music/new1.txt") && l_tree.File("Music/Empty/new2.txt") &&
            l_tree.File("Music/.new3.txt"));
    l_requests.clear();
    l_shares.RescanShares();
    QCOMPARE(l_rescanned.count(), 1);
    QCOMPARE(l_rescanned.at(0), (QList<QVariant>{2, 5}));
    QStringList l_expectedAfter = {l_music + "/Empty/new2.txt", l_music + "/a.mp3", l_music + "/b.MP3",
                                   l_music + "/c.Mp3", l_music + "/common.txt", l_music + "/new1.txt",
                                   l_music + "/" + l_songFirst};
    l_expectedAfter.sort();
    QCOMPARE(IndexedFiles(), l_expectedAfter);
    QCOMPARE(AllValues("shared_file_folder"), (QStringList{l_music, l_music + "/Empty", l_music + "/Sub"}));
    QVERIFY(!l_shares.GetSharedFileItem(l_music + "/Sub/Deeper/x.txt"));
    // What only the gone files held went with them.
    for (char const* lp_type : {"shared_file_name", "search_token"})
        for (char const* lp_value : {"readme.txt", "x.txt", "deeper", "linktodeeper"})
            QVERIFY2(!d[lp_type]->HasItem(Value(lp_value)), lp_value);
    QVERIFY(d["search_token"]->HasItem(Value("common.txt")));
    // Unscanned MP3 files are asked for again; the scanned one is not.
    QCOMPARE(l_requests.count(), 2);

    // Nothing changed: nothing counted twice.
    l_shares.RescanShares();
    QCOMPARE(l_rescanned.at(1), (QList<QVariant>{0, 0}));
    QCOMPARE(IndexedFiles().size(), 7);
    QVERIFY(l_shared.IsConnected(d["shared_file_folder"]->HasItem(Value(l_music + "/Sub"))));
}

void TestShareWalk::searchTokens()
{
    struct Case
    {
        QString folder;
        QString name;
        QStringList tokens;
    };
    QList<Case> const l_cases = {
        {"/data/Music/Best Of", "01 - Hello_World.mp3",
         {"-", "01", "best", "data", "hello", "hello_world.mp3", "mp3", "music", "of", "world"}},
        {"/m", QString::fromUtf8("Caf\xC3\xA9 \xC3\x89t\xC3\xA9.mp3"),
         {QString::fromUtf8("caf\xC3\xA9"), "m", "mp3", QString::fromUtf8("\xC3\xA9t\xC3\xA9"),
          QString::fromUtf8("\xC3\xA9t\xC3\xA9.mp3")}},
        {"/m", QString::fromUtf8("Don\xE2\x80\x99t Stop.mp3"),
         {"don", QString::fromUtf8("don\xE2\x80\x99t"), "m", "mp3", "stop", "stop.mp3", "t"}},
        {"/m", QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8 \xD0\x9C\xD0\xB8\xD1\x80.txt"),
         {"m", "txt", QString::fromUtf8("\xD0\xBC\xD0\xB8\xD1\x80.txt"),
          QString::fromUtf8("\xD0\xBF\xD1\x80\xD0\xB8")}},
        {"/a+b", "x\ty(1).OGG", {"1", "a", "a+b", "b", "ogg", "x", "x\ty(1).ogg", "y"}},
    };
    for (Case const& l_case : l_cases)
    {
        ItemPtr const l_folder = d["shared_file_folder"]->GetItem(Value(l_case.folder));
        ItemPtr const l_file = l_folder.NewItem("shared_file");
        l_file += d["shared_file_name"]->GetItem(Value(l_case.name));
        m_env.shares().TokenizeSharedFile(l_file);
        QStringList l_expected = l_case.tokens;
        l_expected.sort();
        QCOMPARE(ValuesOf(l_file, "search_token"), l_expected);
    }
}

QTEST_GUILESS_MAIN(TestShareWalk)
#include "tst_share_walk.moc"
