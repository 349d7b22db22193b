// What other users get from the share index over their "P" connections: share lists
// (message 4 answered with 5), folder contents (36 answered with 37) and search replies
// (9), from a search of the distributed parent and one relayed by the server. Bodies
// are compared after inflating, with bytes spelled out here.

#include "SharesTestEnv.h"
#include "net/peer/DNetManager.h"
#include "net/peer/PeerTestEnv.h"
#include "shares/SharedFileRecords.h"
#include "support/FakeDNetPeers.h"
#include "support/IncomingFrames.h"
#include "support/LogCapture.h"
#include "support/ShareBytes.h"

#include <map>
#include <memory>

using namespace PeerTestEnv;

namespace
{
struct Known
{
    quint64 size = 0;
    QByteArray extension;
    ShareBytes::Pairs pairs;
};

QString Bulk(int number)
{
    return QStringLiteral("Bulk/f%1.dat").arg(number, 3, 10, QLatin1Char('0'));
}

int FailingCompressor(Bytef*, uLongf*, Bytef const*, uLong, int)
{
    return Z_MEM_ERROR;
}
} // namespace

class TestShareAnswers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { ClearConnections(); }

    void sendsEachUserTheFoldersItMaySee_data();
    void sendsEachUserTheFoldersItMaySee();
    void answersOnlyExactVisibleFolders_data();
    void answersOnlyExactVisibleFolders();
    void answersMatchingVisibleFiles_data();
    void answersMatchingVisibleFiles();
    void searchesFromParentAndServerReachTheSearcher();
    void sendsNothingWhenCompressionFails();

private:
    bool Open(FakePeer& peer, QString const& user);
    // A path below the share root in wire form ("\" separators).
    QByteArray Key(QString const& relative) const
    {
        return m_tree.Path(relative).replace('/', '\\').toUtf8();
    }
    // The files' records: whole paths or bare names, with or without MP3 attributes.
    QByteArray Records(QStringList const& files, bool wholePath, bool attributes) const;
    // A share-list folder: its name, file count and records.
    QByteArray ListFolder(QString const& folder, QStringList const& files) const
    {
        return FakePeer::Text(Key(folder)) + U32(quint32(files.size())) +
               Records(files, false, true);
    }
    QByteArray Reply(quint32 ticket, QStringList const& files, bool freeSlot, quint32 speed,
                     quint32 queued) const
    {
        return FakePeer::Text("alice") + U32(ticket) + U32(quint32(files.size())) +
               Records(files, true, true) + FakePeer::U8(freeSlot) + U32(speed) + U32(queued) +
               U32(0);
    }

    Fixture m_env;
    SharesTestEnv::Tree m_tree;
    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::map<QString, Known> m_files;
    bool m_freeSlot = true;
};

void TestShareAnswers::initTestCase()
{
    QVERIFY(m_env.SetUp());
    mp_dnet = std::make_unique<DNetManager>();
    mp_shares = std::make_unique<SharedFoldersManager>();
    mp_shares->SetUploadQueueState([this] { return m_freeSlot; }, [] { return 3u; });
    QVERIFY(m_tree.IsValid() && m_tree.Folder("Pub/Empty"));
    m_files = {{"Pub/Raw.mp3", {0, "mp3", {}}},
               {"Pub/Song.mp3", {0, "mp3", {{0, 128}, {2, 0}}}},
               {"Pub/Vbr.MP3", {0, "mp3", {{0, 320}, {2, 1}}}},
               {"Pub/a.txt", {3, {}, {}}},
               {"Pub/Deep/x.bin", {5, {}, {}}},
               {"Grp/blue secret.txt", {0, {}, {}}}};
    for (int l_number = 0; l_number <= 200; ++l_number)
        m_files[Bulk(l_number)] = Known();
    for (auto const& [l_path, l_file] : m_files)
        QVERIFY(m_tree.File(l_path, QByteArray(int(l_file.size), 'x')));

    auto const l_group = [](QString const& name)
    { return d["user_list_group"]->GetItem(Value(name)); };
    mp_shares->AddSharedFolder(m_tree.Path("Pub")).NewItem("shared_public");
    mp_shares->AddSharedFolder(m_tree.Path("Grp")) += l_group("friends");
    mp_shares->AddSharedFolder(m_tree.Path("Bulk")) += l_group("bulkers");
    // Deep is also shared on its own with a group: still one folder in every list.
    mp_shares->AddSharedFolder(m_tree.Path("Pub/Deep")) += l_group("kin");
    mp_shares->OnMP3Scanned(m_tree.Path("Pub/Song.mp3"), 1, "stereo", 0, false, 128);
    mp_shares->OnMP3Scanned(m_tree.Path("Pub/Vbr.MP3"), 1, "stereo", 0, true, 320);
    for (QString const l_user : {"friend", "shunned", "bulker"})
        User(l_user).NewItem("in_user_list") += l_group(l_user == "bulker" ? "bulkers" : "friends");
    User("shunned").NewItem("unshared");
}

void TestShareAnswers::cleanupTestCase()
{
    mp_shares.reset();
    mp_dnet.reset();
    ClearConnections();
    m_env.TearDown();
}

bool TestShareAnswers::Open(FakePeer& peer, QString const& user)
{
    std::size_t const l_before = User(user).GetItems("peer_socket").size();
    return peer.ConnectTo(m_env.PlainPort()) && peer.Send(InitFrameOf(user.toUtf8(), "P")) &&
           QTest::qWaitFor([&] { return User(user).GetItems("peer_socket").size() > l_before; },
                           3000);
}

QByteArray TestShareAnswers::Records(QStringList const& files, bool wholePath,
                                     bool attributes) const
{
    QByteArray l_bytes;
    for (QString const& l_path : files)
    {
        Known const& l_file = m_files.at(l_path);
        QByteArray const l_name = wholePath ? Key(l_path) : l_path.section('/', -1).toUtf8();
        l_bytes += attributes
                       ? ShareBytes::FileRecord(l_name, l_file.size, l_file.extension, l_file.pairs)
                       : ShareBytes::FileRecord(l_name, l_file.size);
    }
    return l_bytes;
}

void TestShareAnswers::sendsEachUserTheFoldersItMaySee_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("body");
    // Folders and bare names in byte order (capitals first), empty folders too, then the
    // empty attribute-name table.
    QByteArray const l_pub =
        ListFolder("Pub", {"Pub/Raw.mp3", "Pub/Song.mp3", "Pub/Vbr.MP3", "Pub/a.txt"}) +
        ListFolder("Pub/Deep", {"Pub/Deep/x.bin"}) + ListFolder("Pub/Empty", {});
    QTest::newRow("not in the user list") << "stranger" << U32(3) + l_pub + U32(0);
    QTest::newRow("in a group") << "friend"
                                << U32(4) + ListFolder("Grp", {"Grp/blue secret.txt"}) + l_pub +
                                       U32(0);
    QTest::newRow("unshared") << "shunned" << U32(0) + U32(0);
}

void TestShareAnswers::sendsEachUserTheFoldersItMaySee()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, body);
    LogCapture l_log;
    FakePeer l_peer;
    QVERIFY(Open(l_peer, user));
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(4))));
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0].left(4), U32(5));
    QCOMPARE(ShareBytes::Inflated(l_peer.Frames()[0].mid(4)), body);
    QVERIFY(l_log.Contains("Shared", 1, "Shared file list requested by user " + user));
}

void TestShareAnswers::answersOnlyExactVisibleFolders_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QStringList>("files");
    auto const l_row =
        [](char const* name, QString user, QByteArray folder, bool answered, QStringList files = {})
    { QTest::newRow(name) << user << folder << answered << files; };
    // Only the files directly in the folder, without attributes.
    l_row("visible", "stranger", Key("Pub"), true,
          {"Pub/Raw.mp3", "Pub/Song.mp3", "Pub/Vbr.MP3", "Pub/a.txt"});
    l_row("visible and empty", "stranger", Key("Pub/Empty"), true);
    l_row("group folder to a member", "friend", Key("Grp"), true, {"Grp/blue secret.txt"});
    l_row("group folder to another", "stranger", Key("Grp"), false);
    l_row("trailing separator", "stranger", Key("Pub") + "\\", false);
    l_row("other letter case", "stranger", Key("PUB"), false);
    l_row("never indexed", "friend", Key("Nowhere"), false);
    l_row("unshared user", "shunned", Key("Pub"), false);
}

void TestShareAnswers::answersOnlyExactVisibleFolders()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, folder);
    QFETCH(bool, answered);
    QFETCH(QStringList, files);
    FakePeer l_peer;
    QVERIFY(Open(l_peer, user));
    // The share-list request behind it shows whether anything came before its answer.
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(36, U32(41) + FakePeer::Text(folder))) +
                        FakePeer::PlainFrame(Code(4))));
    QVERIFY(l_peer.WaitForFrames(answered ? 2 : 1));
    QCOMPARE(l_peer.Frames().last().left(4), U32(5));
    QCOMPARE(l_peer.Frames().size(), answered ? 2 : 1);
    if (!answered)
        return;
    QCOMPARE(l_peer.Frames()[0].left(4), U32(37));
    // Request id, the folder, one entry of that folder with its files, the closing zero.
    QCOMPARE(ShareBytes::Inflated(l_peer.Frames()[0].mid(4)),
             U32(41) + FakePeer::Text(folder) + U32(1) + FakePeer::Text(folder) +
                 U32(quint32(files.size())) + Records(files, false, false) + U32(0));
}

void TestShareAnswers::answersMatchingVisibleFiles_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("files"); // empty: no reply
    QStringList l_bulk;
    for (int l_number = 0; l_number < 200; ++l_number)
        l_bulk << Bulk(l_number);
    QStringList const l_x{"Pub/Deep/x.bin"};
    QStringList const l_none;
    auto const l_row = [](char const* name, QString user, QString search, QStringList files)
    { QTest::newRow(name) << user << search << files; };
    l_row("folder word and name word", "stranger", "DEEP x", l_x);
    l_row("paths in byte order", "stranger", "pub mp3",
          {"Pub/Raw.mp3", "Pub/Song.mp3", "Pub/Vbr.MP3"});
    l_row("one word in no path", "stranger", "pub nowhere", l_none);
    l_row("part words only", "stranger", "*song", l_none);
    l_row("excluded word in the folder only", "stranger", "x -deep", l_x);
    l_row("excluded word in the name", "stranger", "mp3 -SONG", {"Pub/Raw.mp3", "Pub/Vbr.MP3"});
    l_row("part word in the name", "stranger", "pub *ra", {"Pub/Raw.mp3"});
    l_row("part word in the folder only", "stranger", "x *dee", l_none);
    l_row("group folder to a member", "friend", "secret", {"Grp/blue secret.txt"});
    l_row("group folder to another user", "stranger", "secret", l_none);
    l_row("unshared user", "shunned", "pub", l_none);
    l_row("own user", "alice", "pub", l_none);
    l_row("200 files", "bulker", "bulk -f200", l_bulk);
    l_row("201 files", "bulker", "bulk", l_none);
}

void TestShareAnswers::answersMatchingVisibleFiles()
{
    QFETCH(QString, user);
    QFETCH(QString, search);
    QFETCH(QStringList, files);
    // Until the server has told the own speed it is 0.
    d["global"]->GetItem(Value("upload_speed")).Disconnect("global_value");
    FakePeer l_peer;
    QVERIFY(Open(l_peer, user));
    LogCapture l_log;
    emit mp_dnet->DNetSearchRequest(user, 12, search);
    // Whatever the search sent comes before this.
    MemStream l_marker = MessageOf(Code(99));
    peerMessenger->SendMessage(user, l_marker);
    QVERIFY(l_peer.WaitForFrames(files.isEmpty() ? 1 : 2));
    QCOMPARE(l_peer.Frames().size(), files.isEmpty() ? 1 : 2);
    QCOMPARE(l_peer.Frames().last(), Code(99));
    QCOMPARE(l_log.Texts("Search").size(), files.isEmpty() ? 0 : 1);
    if (files.isEmpty())
        return;
    QCOMPARE(l_peer.Frames()[0].left(4), U32(9));
    QCOMPARE(ShareBytes::Inflated(l_peer.Frames()[0].mid(4)), Reply(12, files, true, 0, 3));
    QVERIFY(l_log.Contains(
        "Search", 1,
        QString("Sending search results to user %1 for search string %2").arg(user, search)));
}

void TestShareAnswers::searchesFromParentAndServerReachTheSearcher()
{
    m_freeSlot = false;
    m_env.fake().Send(IncomingFrames::UserStatsReply("alice", {2048, 0, 0, 0}).Frame());
    QTRY_COMPARE_WITH_TIMEOUT(GetSetting("upload_speed"), QStringLiteral("2048"), 3000);
    // The searcher is reached at the address the server gives for it.
    FakePeer l_seeker;
    quint16 const l_seekerPort = l_seeker.Listen();
    QVERIFY(l_seekerPort);
    m_env.script().AnswerAddress("seeker", l_seekerPort);

    // A search from a candidate parent is answered (and makes it the parent).
    FakeDNetCandidate l_bob;
    m_env.fake().Send(
        IncomingFrames::PossibleParents({{"bob", c_loopback, l_bob.Listen()}}).Frame());
    QVERIFY(l_bob.WaitForClientInit("alice"));
    QTRY_VERIFY_WITH_TIMEOUT(User("bob")["dnet_parent_candidate"].IsNotNull(), 3000);
    QVERIFY(l_bob.SendSearch("seeker", 77, "deep x"));
    QVERIFY(l_seeker.WaitForFrames(2));
    QCOMPARE(l_seeker.Frames()[0], FakePeer::InitPayload("alice", "P"));
    QCOMPARE(l_seeker.Frames()[1].left(4), U32(9));
    QCOMPARE(ShareBytes::Inflated(l_seeker.Frames()[1].mid(4)),
             Reply(77, {"Pub/Deep/x.bin"}, false, 2048, 3));

    // So is one relayed by the server (code 93), over the connection now open.
    m_env.fake().Send(
        IncomingFrames::DNetRelay(DNetPayloads::Search("seeker", 78, "mp3 -song")).Frame());
    QVERIFY(l_seeker.WaitForFrames(3));
    QCOMPARE(l_seeker.Frames()[2].left(4), U32(9));
    QCOMPARE(ShareBytes::Inflated(l_seeker.Frames()[2].mid(4)),
             Reply(78, {"Pub/Raw.mp3", "Pub/Vbr.MP3"}, false, 2048, 3));
    l_bob.Close();
    m_freeSlot = true;
}

void TestShareAnswers::sendsNothingWhenCompressionFails()
{
    LogCapture l_log;
    FakePeer l_peer;
    QVERIFY(Open(l_peer, "stranger"));
    SharedFileRecords::Compressor const lp_zlib =
        SharedFileRecords::SetCompressor(&FailingCompressor);
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(36, U32(1) + FakePeer::Text(Key("Pub")))) +
                        FakePeer::PlainFrame(Code(4))));
    QTRY_VERIFY_WITH_TIMEOUT(
        l_log.Contains("Shared", 1,
                       "Could not compress the shared file list for user stranger, not sending it"),
        3000);
    QVERIFY(l_log.Contains("Shared", 1,
                           "Could not compress the contents of folder " + QString(Key("Pub")) +
                               " for user stranger, not sending them"));
    // A matching search is dropped without a word.
    mp_shares->ProcessSearch("stranger", 5, "song");
    QVERIFY(l_log.Texts("Search").isEmpty());

    // With compression back, the next answer is the first thing the peer gets.
    SharedFileRecords::SetCompressor(lp_zlib);
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(4))));
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames().size(), 1);
    QCOMPARE(l_peer.Frames()[0].left(4), U32(5));
}

QTEST_GUILESS_MAIN(TestShareAnswers)
#include "tst_share_answers.moc"
