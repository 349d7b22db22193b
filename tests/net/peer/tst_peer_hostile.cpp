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
// A peer that introduces itself, sends `after` and never reads: what the client writes to
// it stays with the client once the kernel's buffers are full.
std::unique_ptr<QTcpSocket> Stalled(quint16 port, QByteArray const& user, QByteArray const& type, QByteArray const& after = {})
{
    auto l_socket = std::make_unique<QTcpSocket>();
    l_socket->setReadBufferSize(16);
    l_socket->connectToHost(QHostAddress::LocalHost, port);
    bool const l_sent = l_socket->waitForConnected(3000) && l_socket->write(InitFrameOf(user, type) + after) > 0 && l_socket->flush();
    return l_sent ? std::move(l_socket) : nullptr;
}
} // namespace

class TestPeerHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); mp_dnet = std::make_unique<DNetManager>(); }
    void cleanupTestCase() { mp_dnet.reset(); ClearConnections(); m_env.TearDown(); }
    void boundsWhatOnePeerCosts();

private:
    Fixture m_env;
    std::unique_ptr<DNetManager> mp_dnet;
};

void TestPeerHostile::boundsWhatOnePeerCosts()
{
    Recorder l_recorder;
    unsigned int const l_ticket = gp_server->FileSearch("song", false);
    QByteArray l_files, l_requests, l_huge = U32(16);
    for (int l_index = 0; l_index < 131072; ++l_index)
        l_files += ShareBytes::FileRecord("a\\song " + QByteArray::number(l_index) + ".mp3", 1);
    auto const l_reply = [&](quint32 ticket) { return Code(9, ShareBytes::Compressed(Text("ivan") + U32(ticket) + U32(131072) + l_files)); };
    // A sound list of 16 folders of 131072 empty entries: past 2,000,000 at the last count.
    for (int l_folder = 0; l_folder < 16; ++l_folder)
        l_huge += Text("f") + U32(131072) + QByteArray(131072, '\0') + (l_folder == 15 ? U32(0) : QByteArray());
    for (quint32 l_index = 0; l_index < 306; ++l_index)
        l_requests += FakePeer::PlainFrame(l_index < 300 ? Code(4) : Code(36, U32(l_index) + Text(QByteArray::number(l_index))));
    QByteArray const l_list = Code(5, ShareBytes::Compressed(U32(0) + U32(0)));
    // What a connection holds unsent, most of all so far.
    qint64 l_mostHeld = 0;
    auto const l_hold = [&](ItemPtr socket) { l_mostHeld = std::max(l_mostHeld, socket ? socket.AsPtr<QTcpSocket>()->bytesToWrite() : 0); };
    auto const l_bounded = [&] { return l_mostHeld > 0 && l_mostHeld <= qint64(PeerMessenger::c_maxUnsentBytes); };
    // A share index that answers every share-list and folder request with 9 MiB.
    int l_listsBuilt = 0;
    peerMessenger->SetShareListProvider([&](QString const&) { ++l_listsBuilt; return MessageOf(Code(5, QByteArray(9 << 20, 'x'))); });
    QObject l_index;
    QObject::connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, &l_index, [&](QString user) {
        MemStream l_answer = MessageOf(Code(37, QByteArray(9 << 20, 'y')));
        if (User(user)["peer_socket"])
            peerMessenger->SendMessage(user, l_answer);
        l_hold(User(user)["peer_socket"]);
    });
    FakePeer l_carl, l_ivan;

    // Each case: what the peer does and whether what the client holds then is bounded;
    // the lines that say why, each as often as listed.
    struct Case { char const* name; std::function<bool()> run; QStringList logged; };
    QList<Case> const l_cases = {
        {"300 share-list and 6 folder requests, never read", [&] {
             auto const l_sam = Stalled(m_env.PlainPort(), "sam", "P", l_requests);
             return l_sam && QTest::qWaitFor([&] { return l_mostHeld > 0 && !User("sam")["peer_socket"]; }, 10000) &&
                    l_listsBuilt == 1 && l_bounded();
         }, {"Connection to user sam holds ", "Repeated PM_GET_SHARED_FILE_LIST request from user sam dropped"}},
        {"40 searches of 1 MiB for a child that never reads", [&] {
             auto const l_tom = Stalled(m_env.PlainPort(), "tom", "D");
             bool const l_joined = l_tom && QTest::qWaitFor([] { return User("tom")["dnet_child"].IsNotNull(); }, 3000);
             l_mostHeld = 0;
             for (int l_search = 0; l_joined && l_search < 40; ++l_search)
             {
                 MemStream l_message = MessageOf(DNetPayloads::OtherSearch(48, QByteArray(1 << 20, 's')));
                 dnetManager->OnDNetMessage(l_message);
                 l_hold(User("tom")["dnet_child"]);
             }
             return l_joined && !User("tom")["dnet_child"] && l_bounded();
         }, {"Child tom holds "}},
        {"share lists nobody asked for around one that was, then one of more than 2,000,000 records", [&] {
             bool const l_first = Open(m_env.PlainPort(), l_carl, "carl") && SendAndSettle(l_recorder, l_carl, l_list, false);
             peerMessenger->GetUserSharedFiles("carl");
             bool const l_second = l_first && SendAndSettle(l_recorder, l_carl, l_list, false) && SendAndSettle(l_recorder, l_carl, l_list, false);
             peerMessenger->GetUserSharedFiles("carl");
             return l_second && SendAndSettle(l_recorder, l_carl, Code(5, ShareBytes::Compressed(l_huge)), true, 30000) &&
                    l_recorder.m_lines == QStringList{"UserShare carl {} {}"};
         }, {"Share list from user carl was not asked for", "Share list from user carl was not asked for",
             "Share list from user carl holds more than 2000000 records, refused"}},
        {"a reply of 131072 files, then one to a search that is not ours, cut at its end (so not inflated that far)", [&] {
             return Open(m_env.PlainPort(), l_ivan, "ivan") && SendAndSettle(l_recorder, l_ivan, l_reply(l_ticket), false, 30000) &&
                    SendAndSettle(l_recorder, l_ivan, l_reply(l_ticket + 1000).chopped(5), false) &&
                    l_recorder.m_results.size() == 1 && l_recorder.m_results[0].GetItems("search_result").size() == 5000;
         }, {"Reply from user ivan to search " + QString::number(l_ticket) + " passes the limits"}},
        {"three replies to one search, with 2 files kept per reply and 3 per search", [&] {
             ItemPtr const l_request = d["search_request"]->HasItem(Value(gp_server->FileSearch("tune", false)));
             SearchReply l_three;
             for (char const* lp_name : {"a\\tune 1", "a\\tune 2", "a\\tune 3"})
                 l_three.m_files.emplace_back().m_name = lp_name;
             QList<std::size_t> l_kept;
             for (char const* lp_user : {"ulf", "vic", "wil"})
                 l_kept << SearchResultsStore(2, 3).Store(l_request, lp_user, l_three).GetItems("search_result").size();
             return l_kept == QList<std::size_t>{2, 1, 0};
         }, {"Reply from user ulf to search", "Reply from user vic to search", "Reply from user wil to search"}},
    };
    for (Case const& l_case : l_cases)
    {
        LogCapture l_log;
        l_recorder.m_lines.clear();
        l_recorder.m_results.clear();
        QVERIFY2(l_case.run(), l_case.name);
        for (QString const& l_line : l_case.logged)
            QVERIFY2(l_log.Texts().filter(l_line).size() == l_case.logged.count(l_line), qPrintable(l_line));
    }
    ClearConnections();
}

QTEST_GUILESS_MAIN(TestPeerHostile)
#include "tst_peer_hostile.moc"
