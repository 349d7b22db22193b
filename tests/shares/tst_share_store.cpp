// The share index across a save and load of the store file (lower-case twins and
// search tokens made again), and what the server hears after a login.

#include "SharesTestEnv.h"

#include "store/DataSaver.h"

#include <QtTest>

using SharesTestEnv::AllValues;
using SharesTestEnv::IndexedFiles;
using SharesTestEnv::Tree;
using SharesTestEnv::ValuesOf;

class TestShareStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void init() { m_env.Reset(); }

    void saveAndLoad();
    void countsAndOwnStatsAfterLogin();

private:
    SharesTestEnv::Services m_env;
};

void TestShareStore::saveAndLoad()
{
    SharedFoldersManager& l_shares = m_env.shares();
    Tree l_tree;
    QVERIFY(l_tree.File("Music/Song.mp3", "xyz") && l_tree.File("Music/Sub/Other.TXT") &&
            l_tree.File("Grp/g.txt"));
    QString const l_song = l_tree.Path("Music/Song.mp3");
    l_shares.AddSharedFolder(l_tree.Path("Music")).NewItem("shared_public");
    l_shares.AddSharedFolder(l_tree.Path("Grp")) += d["user_list_group"]->GetItem(Value("friends"));
    l_shares.OnMP3Scanned(l_song, 1, "joint stereo", 0, false, 128);
    d["user"]->GetItem(Value("troll")).NewItem("unshared");
    QVERIFY(!g("search_token").empty());

    QStringList const l_files = IndexedFiles();
    QStringList const l_folders = AllValues("shared_file_folder");
    QString const l_storeFile = l_tree.Path("store");
    QVERIFY(dataSaver->Save(l_storeFile));
    d.RemoveAllItems();
    dataSaver->Load(l_storeFile);

    QCOMPARE(IndexedFiles(), l_files);
    QCOMPARE(AllValues("shared_file_folder"), l_folders);
    QCOMPARE(GetSetting("shared_folder_counter"), QStringLiteral("3"));
    QCOMPARE(AllValues("shared_folder_id"), (QStringList{"[1]Music", "[2]Grp"}));
    // Every loaded name and folder has its lower-case twin again, so lookups ignore case.
    for (char const* lp_type : {"shared_file_name", "shared_file_folder"})
        for (ItemPtr const& l_item : g(lp_type))
            QCOMPARE(ValuesOf(l_item, QByteArray(lp_type) == "shared_file_name"
                                          ? "shared_file_lowercase_name"
                                          : "shared_file_folder_lowercase_name"),
                     QStringList{SharedFoldersManager::LowerCaseKey(l_item.AsString())});
    ItemPtr const l_file = l_shares.GetSharedFileItem(l_song.toUpper());
    QVERIFY(l_file);
    QCOMPARE(ValuesOf(l_file, "shared_file_size"), QStringList{"3"});
    for (auto const& [lp_type, l_value] : QList<QPair<char const*, QString>>{
             {"mpeg_version", "1"}, {"channel_mode", "joint stereo"}, {"audio_frequency", "0"},
             {"bitrate_mode", "cbr"}, {"bitrate", "128"}})
        QCOMPARE(ValuesOf(l_file, lp_type), QStringList{l_value});
    QVERIFY(l_file.IsConnected("is_scanned"));
    QVERIFY(d["user"]->HasItem(Value("troll")).IsConnected("unshared"));
    QCOMPARE(m_env.shares().GetUserSharedFolders("troll").size(), std::size_t(0));
    QCOMPARE(m_env.shares().GetUserSharedFolders("someone").size(), std::size_t(1));
    ItemPtr const l_grp = d["shared_folder"]->HasItem(Value(l_tree.Path("Grp")));
    QCOMPARE(ValuesOf(l_grp, "user_list_group"), QStringList{"friends"});

    // Tokens are not kept; the start-up rescan makes them again and finds nothing new.
    QVERIFY(g("search_token").empty());
    QSignalSpy l_requests(&l_shares, &SharedFoldersManager::MP3ScanRequired);
    QSignalSpy l_rescanned(&l_shares, &SharedFoldersManager::SharedFilesRescanned);
    l_shares.Init();
    QCOMPARE(l_rescanned.at(0), (QList<QVariant>{0, 0}));
    QCOMPARE(l_requests.count(), 0);
    QVERIFY(ValuesOf(l_file, "search_token").contains("song.mp3"));
}

void TestShareStore::countsAndOwnStatsAfterLogin()
{
    Tree l_tree;
    QVERIFY(l_tree.File("S/a") && l_tree.File("S/b") && l_tree.File("S/T/c") && l_tree.File("S/T/d") &&
            l_tree.Folder("S/Empty"));
    m_env.shares().AddSharedFolder(l_tree.Path("S"));

    FakeServer& l_fake = m_env.fake();
    l_fake.ClearFrames();
    QVERIFY(m_env.LogIn());
    QVERIFY(l_fake.WaitForCode(36));
    QList<quint32> const l_codes = l_fake.Codes();
    QVERIFY(l_codes.indexOf(35) >= 0 && l_codes.indexOf(35) < l_codes.indexOf(36));
    // Three folder items (the empty one too), then four files.
    QCOMPARE(l_fake.FramesWithCode(35).value(0).payload, FrameBuilder(35).I32(3).I32(4).Payload());
    QCOMPARE(l_fake.FramesWithCode(36).value(0).payload, FrameBuilder(36).Str("alice").Payload());

    // Only the own statistics set the upload speed, read as a signed number.
    l_fake.Send(FrameBuilder(36).Str("alice").Stats(51234, 7, 4, 3).Frame());
    QTRY_COMPARE_WITH_TIMEOUT(GetSetting("upload_speed"), QStringLiteral("51234"), 3000);
    QSignalSpy l_stats(&m_env.server(), &Server::ReceivedUserStats);
    l_fake.Send(FrameBuilder(36).Str("bob").Stats(999, 0, 1, 1).Frame());
    QTRY_COMPARE_WITH_TIMEOUT(l_stats.count(), 1, 3000);
    QCOMPARE(GetSetting("upload_speed"), QStringLiteral("51234"));
    l_fake.Send(FrameBuilder(36).Str("alice").Stats(0x80000000u, 7, 4, 3).Frame());
    QTRY_COMPARE_WITH_TIMEOUT(GetSetting("upload_speed"), QStringLiteral("-2147483648"), 3000);
    m_env.server().Disconnect();
}

QTEST_GUILESS_MAIN(TestShareStore)
#include "tst_share_store.moc"
