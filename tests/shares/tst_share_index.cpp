// The share index on temporary folder trees: walks and rescans (hidden entries, case
// duplicates, links, folder ids, counts, MP3 answers from the scanner thread), search
// tokens, access rules, lookups, a store-file round trip and what the server hears.

#include "Mp3Frames.h"
#include "SharesTestEnv.h"

#include "store/DataSaver.h"
#include "support/LogCapture.h"

#include <QScopeGuard>
#include <QtTest>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using SharesTestEnv::AllValues;
using SharesTestEnv::IndexedFiles;
using SharesTestEnv::ValuesOf;

class TestShareIndex : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void init() { m_env.Reset(); }

    void walkAndRescan();
    void searchTokens();
    void accessAndLookups();
    void storeFileAndLogin();
    void linkTreesAndDeepChains();
    void linksIntoAndOutOfTheShare();
    void linksBelowFoldersTheWalkCannotList_data();
    void linksBelowFoldersTheWalkCannotList();

private:
    SharesTestEnv::Services m_env;
};

namespace
{
ItemPtr User(QString const& name)
{
    return d["user"]->GetItem(Value(name));
}

bool Make(SharesTestEnv::Tree& tree, QList<QPair<QString, QByteArray>> const& files)
{
    for (auto const& [l_path, l_bytes] : files)
        if (!tree.File(l_path, l_bytes))
            return false;
    return true;
}
} // namespace

void TestShareIndex::walkAndRescan()
{
    SharedFoldersManager& l_shares = m_env.shares();
    SharesTestEnv::Tree l_tree;
    QByteArray const l_frames = Mp3Frames::Frames({{.count = 100}});
    QVERIFY(Make(l_tree, {{"M/Song.mp3", l_frames}, {"M/song.mp3", l_frames},
                          {"M/a.mp3", {}}, {"M/b.MP3", {}}, {"M/c.Mp3", {}}, {"M/readme.txt", "12345"},
                          {"M/common.txt", {}}, {"M/.hidden.mp3", {}}, {"M/.secret/inside.txt", {}},
                          {"M/Sub/Deep/common.txt", {}}, {"M/Sub/Deep/x.txt", {}}}) &&
            l_tree.Folder("M/Empty") && l_tree.Folder("Other"));
    QString const m = l_tree.Path("M");
    // Two links back up the tree, and one sideways, which adds nothing: listed before
    // Sub, it still leaves the folder to its own path.
    QVERIFY(QFile::link(m, m + "/Sub/back") && QFile::link(m + "/Sub", m + "/Sub/self") &&
            QFile::link(m + "/Sub/Deep", m + "/Link"));
    // Of two names that differ only in case, the one listed first (ignoring case) is kept.
    QString const l_kept = QDir(m).entryList({"?ong.mp3"}, QDir::Files).value(0);
    QString const l_other = l_kept == "song.mp3" ? "Song.mp3" : "song.mp3";
    QSignalSpy l_requests(&l_shares, &SharedFoldersManager::MP3ScanRequired);
    QSignalSpy l_rescanned(&l_shares, &SharedFoldersManager::SharedFilesRescanned);

    ItemPtr const l_shared = l_shares.AddSharedFolder(m);
    QCOMPARE(l_shared["shared_folder_id"].AsString(), QStringLiteral("[1]M"));
    QCOMPARE(l_shares.AddSharedFolder(m), l_shared);
    QCOMPARE(l_shares.AddSharedFolder(l_tree.Path("Other/"))["shared_folder_id"].AsString(), QStringLiteral("[2]Other"));
    QCOMPARE(GetSetting("shared_folder_counter"), QStringLiteral("3"));
    QStringList l_files = {m + "/Sub/Deep/common.txt", m + "/Sub/Deep/x.txt", m + "/a.mp3",
                           m + "/b.MP3",           m + "/c.Mp3",      m + "/common.txt",
                           m + "/readme.txt",      m + "/" + l_kept};
    l_files.sort();
    QCOMPARE(IndexedFiles(), l_files);
    QCOMPARE(AllValues("shared_file_folder"),
             (QStringList{m, m + "/Empty", m + "/Sub", m + "/Sub/Deep", l_tree.Path("Other/")}));
    QVERIFY(!d["shared_file_name"]->HasItem(Value(l_other)));
    QCOMPARE(ValuesOf(l_shares.GetSharedFileItem(m + "/readme.txt"), "shared_file_size"), QStringList{"5"});
    QCOMPARE(l_requests.count(), 3);
    QCOMPARE(l_requests.at(0).at(0).toString(), m + "/a.mp3");

    // The scanner thread answers for the frame file only; a later answer replaces it,
    // one for a file no longer indexed changes nothing.
    ItemPtr const l_song = l_shares.GetSharedFileItem(m + "/SONG.mp3");
    QTRY_VERIFY_WITH_TIMEOUT(l_song.IsConnected("is_scanned"), 5000);
    QCOMPARE(QStringList() << ValuesOf(l_song, "mpeg_version") << ValuesOf(l_song, "channel_mode")
                           << ValuesOf(l_song, "audio_frequency") << ValuesOf(l_song, "bitrate_mode")
                           << ValuesOf(l_song, "bitrate"),
             (QStringList{"1", "joint stereo", "0", "cbr", "128"}));
    LogCapture l_log;
    l_shares.OnMP3Scanned(m + "/" + l_other, 2, "mono", 1, true, 99);
    l_shares.OnMP3Scanned(m + "/gone.mp3", 2, "mono", 1, true, 98);
    QCOMPARE(ValuesOf(l_song, "bitrate"), QStringList{"99"});
    QCOMPARE(d["bitrate"]->GetItemCount(), std::size_t(2)); // 128 (left for the sweep) and 99
    QVERIFY(l_log.Contains("MP3 Scanning", 1, "Scanned " + m + "/gone.mp3"));

    // One file and a whole folder gone (the sideways link dangles now), two files new.
    QVERIFY(QFile::remove(m + "/readme.txt") && QDir(m + "/Sub/Deep").removeRecursively());
    QVERIFY(Make(l_tree, {{"M/new1.txt", {}}, {"M/Empty/new2.txt", {}}, {"M/.new3", {}}}));
    l_requests.clear();
    l_shares.RescanShares();
    QCOMPARE(l_rescanned.at(0), (QList<QVariant>{2, 3}));
    l_files = QStringList{m + "/Empty/new2.txt", m + "/a.mp3", m + "/b.MP3", m + "/c.Mp3",
                          m + "/common.txt", m + "/new1.txt", m + "/" + l_kept};
    l_files.sort();
    QCOMPARE(IndexedFiles(), l_files);
    QCOMPARE(AllValues("shared_file_folder"), (QStringList{m, m + "/Empty", m + "/Sub", l_tree.Path("Other/")}));
    // What only the gone files held went with them; unscanned MP3 files are asked again.
    for (char const* lp_gone : {"readme.txt", "x.txt", "deep"})
        QVERIFY(!d["shared_file_name"]->HasItem(Value(lp_gone)) && !d["search_token"]->HasItem(Value(lp_gone)));
    QCOMPARE(l_requests.count(), 2);
    l_shares.RescanShares();
    QCOMPARE(l_rescanned.at(1), (QList<QVariant>{0, 0}));
}

void TestShareIndex::searchTokens()
{
    struct Case
    {
        QString folder, name;
        QStringList tokens;
    };
    QList<Case> const l_cases = {
        {"/data/Music/Best Of", "01 - Hello_World.mp3",
         {"-", "01", "best", "data", "hello", "hello_world.mp3", "mp3", "music", "of", "world"}},
        {"/m", u"Caf\u00E9 \u00C9t\u00E9.mp3"_qs, {u"caf\u00E9"_qs, "m", "mp3", u"\u00E9t\u00E9"_qs, u"\u00E9t\u00E9.mp3"_qs}},
        {"/m", u"Don\u2019t Stop.mp3"_qs, {"don", u"don\u2019t"_qs, "m", "mp3", "stop", "stop.mp3", "t"}},
        {"/m", u"\u041F\u0440\u0438 \u041C\u0438\u0440.txt"_qs, {"m", "txt", u"\u043C\u0438\u0440.txt"_qs, u"\u043F\u0440\u0438"_qs}},
        {"/a+b", "x\ty(1).OGG", {"1", "a", "a+b", "b", "ogg", "x", "x\ty(1).ogg", "y"}},
    };
    for (Case l_case : l_cases)
    {
        ItemPtr const l_file = d["shared_file_folder"]->GetItem(Value(l_case.folder)).NewItem("shared_file");
        l_file += d["shared_file_name"]->GetItem(Value(l_case.name));
        m_env.shares().TokenizeSharedFile(l_file);
        l_case.tokens.sort();
        QCOMPARE(ValuesOf(l_file, "search_token"), l_case.tokens);
    }

    // A walk tokenizes a folder's files together: each file gets the tokens it gets on its
    // own, and each name (plain, already lower, accented, holding a backslash) its twin.
    SharesTestEnv::Tree l_tree;
    QStringList const l_names = {"01 - Song.MP3", "02 - song.mp3",
                                 u"Caf\u00E9 \u00C9T\u00C9.txt"_qs, "x\\Y.txt", "lower"};
    for (QString const& l_name : l_names)
        QVERIFY(l_tree.File("Best Of/" + l_name));
    m_env.shares().AddSharedFolder(l_tree.Path("Best Of"));
    ItemSet const l_walked =
        d["shared_file_folder"]->GetItem(Value(l_tree.Path("Best Of"))).GetItems("shared_file");
    QCOMPARE(l_walked.size(), std::size_t(l_names.size()));
    for (ItemPtr const& l_file : l_walked)
    {
        ItemPtr const l_name = l_file["shared_file_name"];
        QCOMPARE(ValuesOf(l_name, "shared_file_lowercase_name"),
                 QStringList{SharedFoldersManager::LowerCaseKey(l_name.AsString())});
        ItemPtr const l_alone = l_file["shared_file_folder"].NewItem("shared_file");
        l_alone += l_name;
        m_env.shares().TokenizeSharedFile(l_alone);
        QCOMPARE(ValuesOf(l_file, "search_token"), ValuesOf(l_alone, "search_token"));
        QVERIFY(ValuesOf(l_file, "search_token").contains("best"));
    }
}

void TestShareIndex::accessAndLookups()
{
    SharedFoldersManager& l_shares = m_env.shares();
    SharesTestEnv::Tree l_tree;
    QVERIFY(Make(l_tree, {{"Pub/p.txt", {}}, {"Pub/In/in.txt", {}}, {"List/l.txt", {}}, {"Grp/g.txt", {}},
                          {"None/n.txt", {}}}));
    QString const r = l_tree.Root();
    l_shares.AddSharedFolder(r + "/Pub").NewItem("shared_public");
    l_shares.AddSharedFolder(r + "/List").NewItem("shared_userlist");
    l_shares.AddSharedFolder(r + "/Grp") += d["user_list_group"]->GetItem(Value("friends"));
    l_shares.AddSharedFolder(r + "/None");
    // In lies under the public folder as well as in its own share for one group.
    l_shares.AddSharedFolder(r + "/Pub/In") += d["user_list_group"]->GetItem(Value("family"));
    User("listed").NewItem("in_user_list");
    User("friend").NewItem("in_user_list") += d["user_list_group"]->GetItem(Value("friends"));
    User("relative").NewItem("in_user_list") += d["user_list_group"]->GetItem(Value("family"));
    User("blocked").NewItem("in_user_list") += d["user_list_group"]->GetItem(Value("friends"));
    User("blocked").NewItem("unshared");
    User("outsider");

    struct Case
    {
        char const* user;
        char const* folders;
        char const* files;
    };
    for (Case const& l_case : QList<Case>{{"stranger", "Pub", "in.txt p.txt"},
                                          {"outsider", "Pub", "in.txt p.txt"},
                                          {"listed", "List Pub", "in.txt l.txt p.txt"},
                                          {"friend", "Grp List Pub", "g.txt in.txt l.txt p.txt"},
                                          {"relative", "In List Pub", "in.txt l.txt p.txt"},
                                          {"blocked", "", ""}})
    {
        QStringList l_folders, l_files;
        for (ItemPtr const& l_folder : l_shares.GetUserSharedFolders(l_case.user))
            l_folders << QDir(l_folder.AsString()).dirName();
        // Looking folders up never creates the user; asking about a file does.
        QCOMPARE(bool(d["user"]->HasItem(Value(l_case.user))), QByteArray(l_case.user) != "stranger");
        for (ItemPtr const& l_file : g("shared_file"))
            if (l_shares.IsFileSharedWithUser(l_file, l_case.user))
                l_files << l_file["shared_file_name"].AsString();
        l_folders.sort();
        l_files.sort();
        QCOMPARE(l_folders.join(' ') + " | " + l_files.join(' ') + " " + l_case.user,
                 QString("%1 | %2 %3").arg(l_case.folders, l_case.files, l_case.user));
    }

    // Lookups ignore letter case, doubled and trailing separators, nothing more.
    ItemPtr const l_in = l_shares.GetSharedFileItem(r + "/Pub/In/in.txt");
    QVERIFY(l_in);
    QCOMPARE(l_shares.GetSharedFileItem((r + "//pub/IN///IN.TXT/").toLower()), l_in);
    for (QString const& l_missing : {r + "/Pub/in.txt", r + "/Other/p.txt", r + "/Pub/q.txt", QString("p.txt")})
        QVERIFY2(!l_shares.GetSharedFileItem(l_missing), qPrintable(l_missing));

    // Attribute text: bitrate, mode and play length where present.
    QStringList l_texts;
    for (QList<QPair<char const*, char const*>> const& l_attributes : QList<QList<QPair<char const*, char const*>>>{
             {{"bitrate", "192"}, {"bitrate_mode", "cbr"}, {"length_seconds", "225"}},
             {{"bitrate", "320"}, {"bitrate_mode", "vbr"}}, {{"bitrate_mode", "vbr"}},
             {{"length_seconds", "3725"}}, {{"bitrate", "128"}, {"bitrate_mode", "other"}}, {}})
    {
        ItemPtr const l_item = d["user_share_file"]->NewItem();
        for (auto const& [lp_type, lp_value] : l_attributes)
            l_item += d[lp_type]->GetItem(Value(lp_value));
        l_texts << l_shares.GetFileItemDisplayString(l_item);
    }
    QCOMPARE(l_texts, (QStringList{"192 CBR, 3m45s", "320 VBR", " VBR", ", 1h2m5s", "128", ""}));

    // A browsed share goes with its folders, link nodes, files and their names.
    ItemPtr const l_share = User("bob").NewItem("user_share");
    ItemPtr const l_top = l_share.NewItem("user_share_folder");
    ItemPtr const l_sub = l_share.NewItem("user_share_folder");
    l_top.NewItem("user_share_folder_child") += l_sub.NewItem("user_share_folder_parent");
    l_sub += d["user_share_folder_name"]->GetItem(Value("sub"));
    l_sub.NewItem("user_share_file") += d["user_share_file_name"]->GetItem(Value("bob.mp3"));
    l_shares.RemoveUserShare("nobody");
    QVERIFY(!d["user"]->HasItem(Value("nobody")));
    l_shares.RemoveUserShare("bob");
    for (char const* lp_type : {"user_share", "user_share_folder", "user_share_folder_parent", "user_share_folder_child",
                                "user_share_folder_name", "user_share_file_name"})
        QVERIFY2(d[lp_type]->GetItemCount() == 0, lp_type);
    QVERIFY(d["user"]->HasItem(Value("bob")));
}

void TestShareIndex::storeFileAndLogin()
{
    SharedFoldersManager& l_shares = m_env.shares();
    SharesTestEnv::Tree l_tree;
    QVERIFY(Make(l_tree, {{"M/Song.mp3", "xyz"}, {"M/Sub/Other.TXT", {}}, {"M/Empty/.h", {}}}));
    QString const r = l_tree.Root();
    l_shares.AddSharedFolder(r + "/M").NewItem("shared_public");
    l_shares.OnMP3Scanned(r + "/M/Song.mp3", 1, "joint stereo", 0, false, 128);
    User("troll").NewItem("unshared");
    QStringList const l_files = IndexedFiles();
    QVERIFY(dataSaver->Save(l_tree.Path("store")));
    d.RemoveAllItems();
    dataSaver->Load(l_tree.Path("store"));

    QCOMPARE(IndexedFiles(), l_files);
    QCOMPARE(GetSetting("shared_folder_counter"), QStringLiteral("2"));
    QCOMPARE(AllValues("shared_folder_id"), QStringList{"[1]M"});
    // Loaded names and folders have their lower-case twins again; tokens come back
    // with the start-up rescan, which finds nothing new and asks for no scan.
    for (auto const& [lp_type, lp_twin] : {std::pair{"shared_file_name", "shared_file_lowercase_name"},
                                           std::pair{"shared_file_folder", "shared_file_folder_lowercase_name"}})
        for (ItemPtr const& l_item : g(lp_type))
            QCOMPARE(ValuesOf(l_item, lp_twin), QStringList{l_item.AsString().toLower()});
    ItemPtr const l_song = l_shares.GetSharedFileItem(r + "/m/SONG.MP3");
    QCOMPARE(ValuesOf(l_song, "shared_file_size") << ValuesOf(l_song, "bitrate") << ValuesOf(l_song, "bitrate_mode"),
             (QStringList{"3", "128", "cbr"}));
    QVERIFY(l_song.IsConnected("is_scanned") && User("troll").IsConnected("unshared"));
    QCOMPARE(l_shares.GetUserSharedFolders("someone").size(), std::size_t(1));
    QVERIFY(g("search_token").empty());
    QSignalSpy l_requests(&l_shares, &SharedFoldersManager::MP3ScanRequired);
    QSignalSpy l_rescanned(&l_shares, &SharedFoldersManager::SharedFilesRescanned);
    l_shares.Init();
    QCOMPARE(l_rescanned.at(0), (QList<QVariant>{0, 0}));
    QCOMPARE(l_requests.count(), 0);
    QVERIFY(ValuesOf(l_song, "search_token").contains("song.mp3"));

    // After the login: folder items (the empty one too), then files; then the own
    // statistics, whose speed (read signed) becomes the upload speed.
    // (Loading turned port mapping on; the gateway is no part of this test.)
    SetSettingYesNo("use_upnp", false);
    FakeServer& l_fake = m_env.fake();
    l_fake.ClearFrames();
    QVERIFY(m_env.LogIn() && l_fake.WaitForCode(36));
    QList<quint32> const l_codes = l_fake.Codes();
    QVERIFY(l_codes.indexOf(35) >= 0 && l_codes.indexOf(35) < l_codes.indexOf(36));
    QCOMPARE(l_fake.FramesWithCode(35).value(0).payload, FrameBuilder(35).I32(3).I32(2).Payload());
    QCOMPARE(l_fake.FramesWithCode(36).value(0).payload, FrameBuilder(36).Str("alice").Payload());
    QSignalSpy l_stats(&m_env.server(), &Server::ReceivedUserStats);
    l_fake.Send(FrameBuilder(36).Str("alice").Stats(0x80000000u, 7, 2, 3).Frame());
    l_fake.Send(FrameBuilder(36).Str("bob").Stats(999, 0, 1, 1).Frame());
    QTRY_COMPARE_WITH_TIMEOUT(l_stats.count(), 2, 3000);
    QCOMPARE(GetSetting("upload_speed"), QStringLiteral("-2147483648"));
    m_env.server().Disconnect();
}

void TestShareIndex::linkTreesAndDeepChains()
{
    SharedFoldersManager& l_shares = m_env.shares();
    SharesTestEnv::Tree l_tree;
    // Fifteen folders of one file, each with two links to the next (2^15 - 1 paths to the
    // last), which links back to the first.
    constexpr int c_levels = 14;
    for (int l_level = 0; l_level <= c_levels; ++l_level)
    {
        QString const l_folder = l_tree.Path(QStringLiteral("L%1/").arg(l_level));
        QString const l_next =
            l_tree.Path(QStringLiteral("L%1").arg(l_level < c_levels ? l_level + 1 : 0));
        QVERIFY(l_tree.File(QStringLiteral("L%1/f").arg(l_level)) &&
                QFile::link(l_next, l_folder + "a") &&
                (l_level == c_levels || QFile::link(l_next, l_folder + "b")));
    }
    // 2,000 nested folders; below a folder moved into the last, one past the path limit.
    QString l_deepest = l_tree.Path("C");
    for (int l_level = 0; l_level < 2000; ++l_level)
        l_deepest += "/d";
    QVERIFY(QDir().mkpath(l_deepest) && l_tree.File("C/d/one") &&
            l_tree.File("E/" + QString(250, 'x') + "/two"));
    QVERIFY(QDir().rename(l_tree.Path("E"), l_deepest + "/e"));
    auto const l_moveBack = qScopeGuard([&] { QDir().rename(l_deepest + "/e", l_tree.Path("E")); });

    // Folders walked and notes of skipped ones, after the first walk and after a rescan.
    QString const l_note = "Skipped 14 folders of sharing " + l_tree.Path("L0") + " reached again";
    for (auto const& [lp_folder, l_walked, l_files, l_skipped] :
         {std::tuple{"L0", c_levels + 1, c_levels + 1, 1}, std::tuple{"C", 2002, 1, 0}})
    {
        d.RemoveAllItems();
        LogCapture l_log;
        auto const l_counts = [&]
        {
            QStringList const l_lines = l_log.Texts("Shared");
            return QList<qsizetype>{l_lines.filter("Adding folder").size(),
                                    l_lines.filter(l_note).size()};
        };
        l_shares.AddSharedFolder(l_tree.Path(lp_folder));
        QCOMPARE(l_counts(), (QList<qsizetype>{l_walked, l_skipped}));
        QCOMPARE(int(IndexedFiles().size()), l_files);
        l_log.Clear();
        l_shares.RescanShares();
        QCOMPARE(l_counts(), (QList<qsizetype>{l_walked, l_skipped}));
    }
}

void TestShareIndex::linksIntoAndOutOfTheShare()
{
    SharedFoldersManager& l_shares = m_env.shares();
    SharesTestEnv::Tree l_tree;
    QVERIFY(Make(l_tree, {{"S/Docs/readme.txt", {}},
                          {"S/Music/a.txt", {}},
                          {"S/Music/.hidden/h.txt", {}},
                          {"Out/o.txt", {}},
                          {"Out/Sub/s.txt", {}}}));
    // Links listed before their folders (to a sibling, and from outside back in), one up
    // the tree, two to a folder outside, one below a hidden folder; the share is walked
    // by its own path and through a link to it.
    auto const l_link = [&](char const* target, char const* link)
    { return QFile::link(l_tree.Path(target), l_tree.Path(link)); };
    QVERIFY(l_link("S/Music", "S/Docs/music-again") && l_link("S/Music/.hidden", "S/Docs/peek") &&
            l_link("S", "S/Music/up") && l_link("Out", "S/A-out") &&
            l_link("Out", "S/Music/out-again") && l_link("S/Docs", "Out/back") &&
            l_link("S", "ShareLink"));
    QSignalSpy l_rescanned(&l_shares, &SharedFoldersManager::SharedFilesRescanned);
    for (char const* lp_share : {"S", "ShareLink"})
    {
        m_env.Reset();
        QString const p = l_tree.Path(lp_share);
        LogCapture l_log;
        l_shares.AddSharedFolder(p);
        for (int l_walk = 0; l_walk < 2; ++l_walk)
        {
            QCOMPARE(IndexedFiles(), (QStringList{p + "/A-out/Sub/s.txt", p + "/A-out/o.txt",
                                                  p + "/Docs/peek/h.txt", p + "/Docs/readme.txt",
                                                  p + "/Music/a.txt"}));
            QCOMPARE(AllValues("shared_file_folder"),
                     (QStringList{p, p + "/A-out", p + "/A-out/Sub", p + "/Docs", p + "/Docs/peek",
                                  p + "/Music"}));
            QVERIFY(!d["search_token"]->HasItem(Value("again")));
            QCOMPARE(l_log.Texts("Shared")
                         .filter("Skipped 3 folders of sharing " + p +
                                 " reached again through another link, the first at " + p +
                                 "/A-out/back")
                         .size(),
                     l_walk + 1);
            l_shares.RescanShares();
            QCOMPARE(l_rescanned.takeLast(), (QList<QVariant>{0, 0}));
        }
    }
}

void TestShareIndex::linksBelowFoldersTheWalkCannotList_data()
{
    QTest::addColumn<QByteArray>("way");
    QTest::addColumn<int>("mode");
    QTest::newRow("passed through, not listed") << QByteArray("Passage") << 0311;
    QTest::newRow("name of no text") << QByteArray("\xff\xfe") << 0755;
}

void TestShareIndex::linksBelowFoldersTheWalkCannotList()
{
    QFETCH(QByteArray, way);
    QFETCH(int, mode);
    SharedFoldersManager& l_shares = m_env.shares();
    SharesTestEnv::Tree l_tree;
    QString const s = l_tree.Path("S");
    // Named on raw bytes: Qt would write a name of no text as the UTF-8 it reads it as.
    QByteArray const w = QFile::encodeName(s) + '/' + way, i = w + "/Inner", o = w + "/Other";
    QByteArray const l_plain = QFile::encodeName(l_tree.Path("W"));
    QVERIFY(Make(l_tree, {{"S/a.txt", {}}, {"S/Z/z.txt", {}}, {"W/Inner/f.txt", {}}, {"W/Other/o.txt", {}}}) &&
            ::rename(l_plain, w) == 0);
    auto const l_remove = qScopeGuard([&] { ::chmod(w, 0755), ::rename(w, l_plain); });
    // Two links to a folder on the far side, which links on to another one there.
    QVERIFY(::symlink(i, QFile::encodeName(s + "/A-link")) == 0 &&
            ::symlink(i, QFile::encodeName(s + "/Z/link")) == 0 && ::symlink(o, i + "/more") == 0);
    for (QString const& l_folder : {l_tree.Root(), s, s + "/Z"})
        QVERIFY(::chmod(QFile::encodeName(l_folder), 0755) == 0);
    QVERIFY(::chmod(i, 0755) == 0 && ::chmod(o, 0755) == 0 && ::chmod(w, mode_t(mode)) == 0);
    // Root lists any folder: the walk and its checks run as nobody then, on this thread only.
    // setfsuid() answers the id in force, still root where the change is refused.
    bool const l_asNobody = mode == 0311 && ::geteuid() == 0;
    auto const l_asRoot = qScopeGuard([&] { if (l_asNobody) ::setfsuid(0), ::setfsgid(0); });
    if (l_asNobody && (::setfsgid(65534), ::setfsuid(65534), ::setfsuid(65534) != 65534))
        QSKIP("The walk cannot drop root here, and as root it proves nothing");

    QSignalSpy l_rescanned(&l_shares, &SharedFoldersManager::SharedFilesRescanned);
    LogCapture l_log;
    l_shares.AddSharedFolder(s);
    for (int l_walk = 0; l_walk < 2; ++l_walk)
    {
        QCOMPARE(IndexedFiles(), (QStringList{s + "/A-link/f.txt", s + "/A-link/more/o.txt",
                                              s + "/Z/z.txt", s + "/a.txt"}));
        // A link whose folder ends up listed under it is no skipped one.
        QCOMPARE(l_log.Texts("Shared")
                     .filter("Skipped 1 folders of sharing " + s +
                             " reached again through another link, the first at " + s + "/Z/link")
                     .size(),
                 l_walk + 1);
        l_shares.RescanShares();
        QCOMPARE(l_rescanned.takeLast(), (QList<QVariant>{0, 0}));
    }
}

QTEST_GUILESS_MAIN(TestShareIndex)
#include "tst_share_index.moc"
