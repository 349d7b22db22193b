#include "MessageTestEnv.h"
#include "support/LogCapture.h"

using namespace MessageTestEnv;
using ShareBytes::FileRecord;

namespace
{
// Message 9: user, ticket, the records and what follows them, compressed.
QByteArray Reply(QByteArray const& user, quint32 ticket, QList<QByteArray> const& records, QByteArray const& tail = {})
{
    QByteArray l_body = Text(user) + U32(ticket) + U32(quint32(records.size()));
    for (QByteArray const& l_record : records)
        l_body += l_record;
    return Code(9, ShareBytes::Compressed(l_body + tail));
}

// Free slot, upload speed, queue length and an attribute table.
QByteArray Tail(quint8 freeSlot, quint32 speed, quint32 queue)
{
    return U8(freeSlot) + U32(speed) + U32(queue) + U32(1) + U32(0) + Text("bitrate");
}

QString Join(ItemPtr item, QList<char const*> const& types)
{
    QStringList l_values;
    for (char const* lp_type : types)
        l_values << item[lp_type].AsString();
    return l_values.join("|");
}

// The stored files, sorted, as folder|name|size|bitrate|length|mode.
QStringList Files(ItemPtr results)
{
    QStringList l_files;
    for (ItemPtr const& l_result : results.GetItems("search_result"))
        l_files << Join(l_result, {"search_result_file_folder", "search_result_file_name", "file_size", "bitrate",
                                   "length_seconds", "bitrate_mode"});
    l_files.sort();
    return l_files;
}

QString Owner(ItemPtr results)
{
    return Join(results, {"user", "search_results_user_available", "search_results_user_speed",
                          "search_results_uploads_in_queue"});
}
} // namespace

class TestPeerSearchResults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { ClearConnections(); m_env.TearDown(); }
    void cleanup() { ClearConnections(); }

    void storesWhatMatchesOncePerUser();
    void refusesOrIgnoresReplies();

private:
    Fixture m_env;
};

void TestPeerSearchResults::storesWhatMatchesOncePerUser()
{
    LogCapture l_log;
    Recorder l_recorder;
    unsigned int const l_first = gp_server->FileSearch("beat -live", false);
    unsigned int const l_second = gp_server->FileSearch("BEAT", false);
    ItemPtr const l_request = d["search_request"]->HasItem(Value(l_first));
    FakePeer l_fred;
    QVERIFY(Open(m_env.PlainPort(), l_fred, "fred"));

    QByteArray const l_one = FileRecord("Music\\Beat One.mp3", 4000000, "mp3", {{0, 320}, {1, 245}, {2, 0}, {7, 7}});
    QByteArray const l_two = FileRecord("Music\\beat two.ogg", 9, "", {{2, 1}, {0, 0xFFFFFFFFu}});
    QByteArray const l_live = FileRecord("Music\\Beat (Live).mp3", 1);
    QVERIFY(SendAndSettle(l_recorder, l_fred,
                          Reply("fred", l_first, {l_one, l_live, FileRecord("Music\\Other.mp3", 2), l_two, l_two}, Tail(1, 5000, 3)),
                          false));
    QCOMPARE(l_recorder.m_results.size(), 1);
    QVERIFY(l_recorder.m_results[0].IsConnected(l_request));
    QCOMPARE(Owner(l_recorder.m_results[0]), QStringLiteral("fred|yes|5000|3"));
    // A path repeated inside one reply is stored twice.
    QCOMPARE(Files(l_recorder.m_results[0]), QStringList({"Music|Beat One.mp3|4000000|320|245|cbr",
                                                           "Music|beat two.ogg|9|-1||vbr", "Music|beat two.ogg|9|-1||vbr"}));
    QVERIFY(l_log.Contains("Search", 1, "Filtered out search result Music\\Beat (Live).mp3 from user fred"));
    QVERIFY(l_log.Contains("Search", 1, "Filtered out search result Music\\Other.mp3 from user fred"));

    // For the second search, what fred reported for the first is left out; a reply that
    // ends after its files shows fred busy, speed and queue 0.
    QVERIFY(SendAndSettle(l_recorder, l_fred, Reply("fred", l_second, {l_one, FileRecord("Music\\Beat 3.mp3", 3)}), false));
    QCOMPARE(l_recorder.m_results.size(), 2);
    QVERIFY(l_recorder.m_results[1].IsConnected(d["search_request"]->HasItem(Value(l_second))));
    QCOMPARE(Owner(l_recorder.m_results[1]), QStringLiteral("fred|no|0|0"));
    QCOMPARE(Files(l_recorder.m_results[1]), QStringList{"Music|Beat 3.mp3|3|||"});

    // Another user's report of the same file is stored for that user, on the same items.
    FakePeer l_gina;
    QVERIFY(Open(m_env.PlainPort(), l_gina, "gina"));
    QVERIFY(SendAndSettle(l_recorder, l_gina, Reply("gina", l_first, {l_one}, Tail(0, 7, 8)), false));
    QCOMPARE(l_recorder.m_results.size(), 3);
    QCOMPARE(Owner(l_recorder.m_results[2]), QStringLiteral("gina|no|7|8"));
    QCOMPARE(d["search_result_file_name"]->HasItem(Value("Beat One.mp3")).GetItems("search_result").size(), std::size_t(2));
    QCOMPARE(l_request.GetItems("search_results").size(), std::size_t(2));

    // Nothing left after the filter and the duplicate rule: no item, no signal.
    std::size_t const l_before = d["search_results"]->GetItemCount();
    QVERIFY(SendAndSettle(l_recorder, l_gina, Reply("gina", l_first, {l_one, l_live}, Tail(1, 1, 1)), false));
    QCOMPARE(l_recorder.m_results.size(), 3);
    QCOMPARE(d["search_results"]->GetItemCount(), l_before);
}

void TestPeerSearchResults::refusesOrIgnoresReplies()
{
    Recorder l_recorder;
    unsigned int const l_ticket = gp_server->FileSearch("song", false);
    QByteArray const l_song = FileRecord("a\\song.mp3", 1);
    QByteArray const l_body = Text("ivan") + U32(l_ticket) + U32(1) + l_song;
    QByteArray const l_stranger = Text("ivan") + U32(l_ticket + 1000) + U32(1) + l_song;
    struct Case { char const* name; QByteArray payload; bool closes; };
    QList<Case> const l_cases = {
        {"a search that is not ours", Code(9, ShareBytes::Compressed(l_stranger)), false},
        {"not ours, file list cut", Reply("ivan", l_ticket + 1000, {l_song.chopped(1)}), false},
        {"not ours, stream cut", Code(9, ShareBytes::Compressed(l_stranger).chopped(5)), false},
        {"signed by another user", Reply("fred", l_ticket, {l_song}), true},
        {"signed in another case", Reply("IVAN", l_ticket, {l_song}), true},
        {"no ticket", Code(9, ShareBytes::Compressed(Text("ivan"))), true},
        {"131073 files", Code(9, ShareBytes::Compressed(Text("ivan") + U32(l_ticket) + U32(131073) + l_song)), true},
        {"file list cut", Reply("ivan", l_ticket, {l_song, l_song.chopped(1)}), true},
        {"stream cut", Code(9, ShareBytes::Compressed(l_body).chopped(5)), true},
        {"not compressed", Code(9, l_body), true},
    };
    std::size_t const l_before = d["search_results"]->GetItemCount();
    for (Case const& l_case : l_cases)
    {
        FakePeer l_peer;
        QVERIFY2(Open(m_env.PlainPort(), l_peer, "ivan"), l_case.name);
        QVERIFY2(SendAndSettle(l_recorder, l_peer, l_case.payload, l_case.closes), l_case.name);
        QVERIFY2(l_recorder.m_results.isEmpty() && d["search_results"]->GetItemCount() == l_before, l_case.name);
        ClearConnections();
    }
    // The same reply, sound, is stored.
    FakePeer l_peer;
    QVERIFY(Open(m_env.PlainPort(), l_peer, "ivan") && SendAndSettle(l_recorder, l_peer, Reply("ivan", l_ticket, {l_song}), false));
    QCOMPARE(l_recorder.m_results.size(), 1);
}

QTEST_GUILESS_MAIN(TestPeerSearchResults)
#include "tst_peer_search_results.moc"
