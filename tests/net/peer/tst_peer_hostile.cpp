#include "MessageTestEnv.h"
#include "net/peer/DNetManager.h"
#include "net/peer/SearchResultsStore.h"
#include "support/FakeDNetPeers.h"
#include "support/LogCapture.h"

#include <QTcpSocket>

#include <functional>
#include <memory>

using namespace MessageTestEnv;

namespace
{
// A peer that introduces itself and then never reads: whatever the client writes to it
// stays with the client once the kernel's buffers are full.
std::unique_ptr<QTcpSocket> Stalled(quint16 port, QByteArray const& user, QByteArray const& type,
                                    QByteArray const& after = {})
{
    auto l_socket = std::make_unique<QTcpSocket>();
    l_socket->setReadBufferSize(16);
    l_socket->connectToHost(QHostAddress::LocalHost, port);
    if (!l_socket->waitForConnected(3000))
        return nullptr;
    l_socket->write(InitFrameOf(user, type) + after);
    l_socket->flush();
    return l_socket;
}

qint64 Held(ItemPtr socketItem)
{
    return socketItem ? socketItem.AsPtr<QTcpSocket>()->bytesToWrite() : 0;
}
} // namespace

class TestPeerHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); mp_dnet = std::make_unique<DNetManager>(); }
    void cleanupTestCase() { mp_dnet.reset(); ClearConnections(); m_env.TearDown(); }

    void boundsWhatOnePeerCosts();
    void boundsFilesPerSearch();

private:
    Fixture m_env;
    std::unique_ptr<DNetManager> mp_dnet;
};

void TestPeerHostile::boundsWhatOnePeerCosts()
{
    Recorder l_recorder;
    unsigned int const l_ticket = gp_server->FileSearch("song", false);
    QByteArray l_files;
    for (int l_index = 0; l_index < 131072; ++l_index)
        l_files += ShareBytes::FileRecord("a\\song " + QByteArray::number(l_index) + ".mp3", 1);
    auto const l_reply = [&](quint32 ticket) {
        return Code(9, ShareBytes::Compressed(Text("ivan") + U32(ticket) + U32(131072) + l_files));
    };
    // A sound list of 16 folders of 131072 empty entries: past 2,000,000 at the last
    // folder's count.
    QByteArray l_huge = U32(16);
    for (int l_folder = 0; l_folder < 16; ++l_folder)
        l_huge += Text("f") + U32(131072) + QByteArray(131072, '\0');
    l_huge += U32(0);
    QByteArray const l_list = Code(5, ShareBytes::Compressed(U32(0) + U32(0)));
    qint64 l_mostHeld = 0;
    int l_listsBuilt = 0;
    // A share index that answers every share-list and folder request with 9 MiB.
    peerMessenger->SetShareListProvider([&](QString const&) { ++l_listsBuilt; return MessageOf(Code(5, QByteArray(9 << 20, 'x'))); });
    QObject l_index;
    QObject::connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, &l_index, [&](QString user) {
        ItemPtr const l_socket = User(user)["peer_socket"];
        l_mostHeld = std::max(l_mostHeld, Held(l_socket));
        MemStream l_answer = MessageOf(Code(37, QByteArray(9 << 20, 'y')));
        if (l_socket)
            peerMessenger->SendMessage(user, l_answer);
        l_mostHeld = std::max(l_mostHeld, Held(User(user)["peer_socket"]));
    });

    // Each case: what the hostile peer does, whether what the client holds afterwards is
    // bounded, and the lines that say why (each as often as listed).
    struct Case { char const* name; std::function<bool()> run; QStringList logged; };
    QList<Case> const l_cases = {
        {"300 share-list requests and 6 folder requests, never read", [&] {
             QByteArray l_requests;
             for (int l_index = 0; l_index < 300; ++l_index)
                 l_requests += FakePeer::PlainFrame(Code(4));
             for (quint32 l_folder = 0; l_folder < 6; ++l_folder)
                 l_requests += FakePeer::PlainFrame(Code(36, U32(l_folder) + Text("f" + QByteArray::number(l_folder))));
             auto const l_peer = Stalled(m_env.PlainPort(), "sam", "P", l_requests);
             return l_peer && QTest::qWaitFor([&] { return l_mostHeld > 0 && !User("sam")["peer_socket"]; }, 10000) &&
                    l_listsBuilt == 1 && l_mostHeld <= qint64(PeerMessenger::c_maxUnsentBytes);
         }, {"Connection to user sam holds ", "Repeated PM_GET_SHARED_FILE_LIST request from user sam dropped"}},
        {"40 searches of 1 MiB for a child that never reads", [&] {
             auto const l_child = Stalled(m_env.PlainPort(), "tom", "D");
             if (!l_child || !QTest::qWaitFor([] { return User("tom")["dnet_child"].IsNotNull(); }, 3000))
                 return false;
             l_mostHeld = 0;
             for (int l_search = 0; l_search < 40; ++l_search)
             {
                 l_mostHeld = std::max(l_mostHeld, Held(User("tom")["dnet_child"]));
                 MemStream l_message = MessageOf(DNetPayloads::OtherSearch(48, QByteArray(1 << 20, 's')));
                 dnetManager->OnDNetMessage(l_message);
             }
             return !User("tom")["dnet_child"] && l_mostHeld <= qint64(PeerMessenger::c_maxUnsentBytes);
         }, {"Child tom holds "}},
        {"share lists nobody asked for, around one that was", [&] {
             FakePeer l_peer;
             if (!Open(m_env.PlainPort(), l_peer, "carl") || !SendAndSettle(l_recorder, l_peer, l_list, false))
                 return false;
             peerMessenger->GetUserSharedFiles("carl");
             return SendAndSettle(l_recorder, l_peer, l_list, false) && SendAndSettle(l_recorder, l_peer, l_list, false) &&
                    l_recorder.m_lines == QStringList{"UserShare carl {} {}"};
         }, {"Share list from user carl was not asked for", "Share list from user carl was not asked for"}},
        {"a share list of more than 2,000,000 records", [&] {
             FakePeer l_peer;
             if (!Open(m_env.PlainPort(), l_peer, "dora"))
                 return false;
             peerMessenger->GetUserSharedFiles("dora");
             return SendAndSettle(l_recorder, l_peer, Code(5, ShareBytes::Compressed(l_huge)), true, 30000) &&
                    l_recorder.m_lines.isEmpty();
         }, {"Share list from user dora holds more than 2000000 records, refused"}},
        {"a reply of 131072 files", [&] {
             FakePeer l_peer;
             return Open(m_env.PlainPort(), l_peer, "ivan") && SendAndSettle(l_recorder, l_peer, l_reply(l_ticket), false, 30000) &&
                    l_recorder.m_results.size() == 1 && l_recorder.m_results[0].GetItems("search_result").size() == 5000;
         }, {"Reply from user ivan to search " + QString::number(l_ticket) + " passes the limits"}},
        {"a reply to a search that is not ours, cut at its end, is not inflated that far", [&] {
             FakePeer l_peer;
             return Open(m_env.PlainPort(), l_peer, "ivan") &&
                    SendAndSettle(l_recorder, l_peer, l_reply(l_ticket + 1000).chopped(5), false) && l_recorder.m_results.isEmpty();
         }, {}},
    };
    for (Case const& l_case : l_cases)
    {
        LogCapture l_log;
        l_recorder.m_lines.clear();
        l_recorder.m_results.clear();
        QVERIFY2(l_case.run(), l_case.name);
        for (QString const& l_line : l_case.logged)
            QVERIFY2(l_log.Texts().filter(l_line).size() == l_case.logged.count(l_line), qPrintable(l_line));
        ClearConnections();
    }
}

void TestPeerHostile::boundsFilesPerSearch()
{
    // Bounds of 2 per reply and 3 per search: 2 of the first user's files, 1 of the
    // second's, none of the third's.
    unsigned int const l_ticket = gp_server->FileSearch("tune", false);
    ItemPtr const l_request = d["search_request"]->HasItem(Value(l_ticket));
    SearchReply l_reply;
    for (char const* lp_name : {"a\\tune 1", "a\\tune 2", "a\\tune 3"})
        l_reply.m_files.emplace_back().m_name = lp_name;
    QList<std::size_t> l_kept;
    for (char const* lp_user : {"ulf", "vic", "wil"})
        l_kept << SearchResultsStore(2, 3).Store(l_request, lp_user, l_reply).GetItems("search_result").size();
    QCOMPARE(l_kept, (QList<std::size_t>{2, 1, 0}));
}

QTEST_GUILESS_MAIN(TestPeerHostile)
#include "tst_peer_hostile.moc"
