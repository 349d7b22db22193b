#include "PeerTestEnv.h"
#include "support/LogCapture.h"
#include "support/ShareBytes.h"

#include <QTcpSocket>

using namespace PeerTestEnv;
using ShareBytes::FileRecord;

namespace
{
QString const c_searchArea = QStringLiteral("Search");

QByteArray Text(QByteArray const& bytes)
{
    return FakePeer::Text(bytes);
}

// Message 9: the reply body compressed, as the other client sends it.
QByteArray Reply(QByteArray const& user, quint32 ticket, QList<QByteArray> const& records,
                 QByteArray const& tail = {})
{
    QByteArray l_body = Text(user) + U32(ticket) + U32(quint32(records.size()));
    for (QByteArray const& l_record : records)
        l_body += l_record;
    return Code(9, ShareBytes::Compressed(l_body + tail));
}

// Free slot, upload speed, queue length and an attribute table.
QByteArray Tail(quint8 freeSlot, quint32 speed, quint32 queue)
{
    return FakePeer::U8(freeSlot) + U32(speed) + U32(queue) + U32(1) + U32(0) + Text("bitrate");
}

// One stored result as "folder|name|size|bitrate|length|mode".
QString Describe(ItemPtr result)
{
    return QStringList{result["search_result_file_folder"].AsString(), result["search_result_file_name"].AsString(),
                       result["file_size"].AsString(), result["bitrate"].AsString(),
                       result["length_seconds"].AsString(), result["bitrate_mode"].AsString()}
        .join("|");
}

QStringList Describe(ItemSet const& results)
{
    QStringList l_lines;
    for (ItemPtr const& l_result : results)
        l_lines << Describe(l_result);
    l_lines.sort();
    return l_lines;
}

// The replying user's state as "user|available|speed|queue".
QString Owner(ItemPtr results)
{
    return QStringList{results["user"].AsString(), results["search_results_user_available"].AsString(),
                       results["search_results_user_speed"].AsString(),
                       results["search_results_uploads_in_queue"].AsString()}
        .join("|");
}
} // namespace

class TestPeerSearchResults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void storesWhatMatchesOncePerUser();
    void refusesOrIgnoresReplies();

private:
    bool Open(FakePeer& peer, QByteArray const& user);
    // Sends the message and then a known message behind it; true once that one arrived
    // (the connection went on) or the connection closed, as expected.
    bool SendAndSettle(FakePeer& peer, QByteArray const& payload, bool closes);

    Fixture m_env;
    QObject m_context;
    QList<ItemPtr> m_emitted;
    int m_sentinels = 0;
};

void TestPeerSearchResults::initTestCase()
{
    QVERIFY(m_env.SetUp());
    connect(peerMessenger, &PeerMessenger::SearchResults, &m_context, [this](ItemPtr results) { m_emitted << results; });
    connect(peerMessenger, &PeerMessenger::UploadFailed, &m_context, [this] { ++m_sentinels; });
}

void TestPeerSearchResults::cleanupTestCase()
{
    ClearConnections();
    m_env.TearDown();
}

void TestPeerSearchResults::init()
{
    m_emitted.clear();
}

void TestPeerSearchResults::cleanup()
{
    ClearConnections();
}

bool TestPeerSearchResults::Open(FakePeer& peer, QByteArray const& user)
{
    std::size_t const l_before = User(user).GetItems("peer_socket").size();
    return peer.ConnectTo(m_env.PlainPort()) && peer.Send(InitFrameOf(user, "P")) &&
           QTest::qWaitFor([&] { return User(user).GetItems("peer_socket").size() > l_before; }, 3000);
}

bool TestPeerSearchResults::SendAndSettle(FakePeer& peer, QByteArray const& payload, bool closes)
{
    int const l_before = m_sentinels;
    if (!peer.Send(FakePeer::PlainFrame(payload) + FakePeer::PlainFrame(Code(46, Text("sentinel")))))
        return false;
    if (closes)
        return peer.WaitForDisconnected() && m_sentinels == l_before;
    return QTest::qWaitFor([&] { return m_sentinels > l_before; }, 5000) && !peer.IsDisconnected();
}

void TestPeerSearchResults::storesWhatMatchesOncePerUser()
{
    LogCapture l_log;
    unsigned int const l_first = gp_server->FileSearch("beat -live", false);
    unsigned int const l_second = gp_server->FileSearch("BEAT", false);
    FakePeer l_fred;
    QVERIFY(Open(l_fred, "fred"));

    QByteArray const l_one = FileRecord("Music\\Beat One.mp3", 4000000, "mp3", {{0, 320}, {1, 245}, {2, 0}, {7, 7}});
    QByteArray const l_two = FileRecord("Music\\beat two.ogg", 9, "", {{2, 1}, {0, 0xFFFFFFFFu}});
    QVERIFY(SendAndSettle(l_fred,
                          Reply("fred", l_first,
                                {l_one, FileRecord("Music\\Beat (Live).mp3", 1), FileRecord("Music\\Other.mp3", 2),
                                 l_two, l_two},
                                Tail(1, 5000, 3)),
                          false));
    QCOMPARE(m_emitted.size(), 1);
    ItemPtr const l_fredFirst = m_emitted[0];
    ItemPtr const l_request = d["search_request"]->HasItem(Value(l_first));
    QVERIFY(l_fredFirst.IsConnected(l_request));
    QCOMPARE(Owner(l_fredFirst), QStringLiteral("fred|yes|5000|3"));
    // A path repeated inside one reply is stored twice.
    QCOMPARE(Describe(l_fredFirst.GetItems("search_result")),
             QStringList({"Music|Beat One.mp3|4000000|320|245|cbr", "Music|beat two.ogg|9|-1||vbr",
                          "Music|beat two.ogg|9|-1||vbr"}));
    QVERIFY(l_log.Contains(c_searchArea, 1, "Filtered out search result Music\\Beat (Live).mp3 from user fred"));
    QVERIFY(l_log.Contains(c_searchArea, 1, "Filtered out search result Music\\Other.mp3 from user fred"));

    // The second search: what fred reported for the first one is left out, and a reply
    // that ends after its files shows fred busy, speed and queue 0.
    QVERIFY(SendAndSettle(l_fred, Reply("fred", l_second, {l_one, FileRecord("Music\\Beat Three.mp3", 3)}), false));
    QCOMPARE(m_emitted.size(), 2);
    QVERIFY(m_emitted[1].IsConnected(d["search_request"]->HasItem(Value(l_second))));
    QCOMPARE(Owner(m_emitted[1]), QStringLiteral("fred|no|0|0"));
    QCOMPARE(Describe(m_emitted[1].GetItems("search_result")), QStringList{"Music|Beat Three.mp3|3|||"});

    // Another user's report of the same file is stored for that user, on the same items.
    FakePeer l_gina;
    QVERIFY(Open(l_gina, "gina"));
    QVERIFY(SendAndSettle(l_gina, Reply("gina", l_first, {l_one}, Tail(0, 7, 8)), false));
    QCOMPARE(m_emitted.size(), 3);
    QCOMPARE(Owner(m_emitted[2]), QStringLiteral("gina|no|7|8"));
    ItemPtr const l_name = d["search_result_file_name"]->HasItem(Value("Beat One.mp3"));
    QCOMPARE(l_name.GetItems("search_result").size(), std::size_t(2));
    QCOMPARE(l_request.GetItems("search_results").size(), std::size_t(2));

    // Nothing left after the filter and the duplicate rule: no item, no signal.
    std::size_t const l_resultsBefore = d["search_results"]->GetItemCount();
    QVERIFY(SendAndSettle(l_gina, Reply("gina", l_second, {l_one, FileRecord("Live\\other.mp3", 1)}, Tail(1, 1, 1)),
                          false));
    QCOMPARE(m_emitted.size(), 3);
    QCOMPARE(d["search_results"]->GetItemCount(), l_resultsBefore);
}

void TestPeerSearchResults::refusesOrIgnoresReplies()
{
    unsigned int const l_ticket = gp_server->FileSearch("song", false);
    QByteArray const l_song = FileRecord("a\\song.mp3", 1);
    QByteArray const l_body = Text("ivan") + U32(l_ticket) + U32(1) + l_song;
    struct Case
    {
        char const* name;
        QByteArray payload;
        bool closes;
    };
    QList<Case> const l_cases = {
        {"a search that is not ours", Reply("ivan", l_ticket + 1000, {l_song}), false},
        {"not ours, with a cut file list", Reply("ivan", l_ticket + 1000, {l_song.chopped(1)}), false},
        {"signed by another user", Reply("fred", l_ticket, {l_song}), true},
        {"signed in another case", Reply("IVAN", l_ticket, {l_song}), true},
        {"no ticket", Code(9, ShareBytes::Compressed(Text("ivan"))), true},
        {"131073 files", Code(9, ShareBytes::Compressed(Text("ivan") + U32(l_ticket) + U32(131073) + l_song)), true},
        {"a cut file list", Reply("ivan", l_ticket, {l_song, l_song.chopped(1)}), true},
        {"a stream cut short", Code(9, ShareBytes::Compressed(l_body).chopped(5)), true},
        {"not ours, in a stream cut short",
         Code(9, ShareBytes::Compressed(Text("ivan") + U32(l_ticket + 1000) + U32(1) + l_song).chopped(5)), true},
        {"not compressed", Code(9, l_body), true},
    };
    std::size_t const l_before = d["search_results"]->GetItemCount();
    for (Case const& l_case : l_cases)
    {
        FakePeer l_peer;
        QVERIFY2(Open(l_peer, "ivan"), l_case.name);
        QVERIFY2(SendAndSettle(l_peer, l_case.payload, l_case.closes), l_case.name);
        QVERIFY2(m_emitted.isEmpty(), l_case.name);
        QVERIFY2(d["search_results"]->GetItemCount() == l_before, l_case.name);
        ClearConnections();
    }
    // The same reply, sound, is stored.
    FakePeer l_peer;
    QVERIFY(Open(l_peer, "ivan"));
    QVERIFY(SendAndSettle(l_peer, Reply("ivan", l_ticket, {l_song}), false));
    QCOMPARE(m_emitted.size(), 1);
}

QTEST_GUILESS_MAIN(TestPeerSearchResults)
#include "tst_peer_search_results.moc"
