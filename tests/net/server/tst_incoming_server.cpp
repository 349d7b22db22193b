// Messages of the central server about users, peers, searches, privileges and the
// distributed network: each code's wire layout and its effect on the store and on the
// connection's signals, sent as raw frames by the fake server; short messages, list
// bounds and the dispatch rules (unknown codes, the disconnected state).

#include "IncomingTestEnv.h"

#include <QtTest>

#include <cstdint>
#include <list>
#include <utility>
#include <vector>

using namespace IncomingTestEnv;
using IncomingFrames::Cut;
using IncomingFrames::IPv4;

namespace
{
// Watches connection requests the way the peer network does: a request joined to its
// id, its type and a user whose address, port and obfuscated port are all present.
// Records the user's address each time the pattern completes. A copy of the peer
// network's watch, since the server tests do not link the peer library.
class RequestWatcher : public DataHandler
{
public:
    RequestWatcher()
    {
        auto* lp_root = new PathNode(&d, "peer_connection_request");
        new PathNode(lp_root, "peer_connection_request_id", PathConnected);
        new PathNode(lp_root, "peer_connection_type", PathConnected);
        auto* lp_user = new PathNode(lp_root, "user", PathConnected);
        new PathNode(lp_user, "user_address", PathConnected);
        new PathNode(lp_user, "user_port", PathConnected);
        new PathNode(lp_user, "user_obfuscated_port", PathConnected);
        d.AddPathEventHandler(lp_root, CreateHandler(this, &RequestWatcher::OnRequest));
    }
    ~RequestWatcher() override { RemoveDataHandlers(); }

    void OnRequest(ItemPtr i_request)
    {
        ItemPtr const l_user = i_request["user"];
        m_addresses.append(ValueOf(l_user, "user_address") + ":" + ValueOf(l_user, "user_port") +
                           ":" + ValueOf(l_user, "user_obfuscated_port"));
    }

    QStringList m_addresses;
};

ItemPtr OnlyRequestOf(ItemPtr i_user)
{
    ItemSet const l_requests = i_user.GetItems("peer_connection_request");
    return l_requests.size() == 1 ? ItemPtr(l_requests) : ItemPtr();
}
} // namespace

class TestIncomingServer : public QObject
{
    Q_OBJECT

private slots:
    void userAddress();
    void addUserReply();
    void userStatus();
    void peerConnectionRequest();
    void peerConnectionRequestUsesFreshAddress();
    void privateChat();
    void statisticsPrivilegesAndNumbers();
    void relayedDistributedMessage();
    void possibleParents();
    void searchCorrelations();
    void unknownCodesAreDroppedUnread();
    void dispatchWhileConnectingAndLoginReplyOnlyOnce();
    void nothingIsReadWhileDisconnected();
};

void TestIncomingServer::userAddress()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    (*d["user"])["ann"].NewItem("user_address_request");

    // 127.0.0.1 travels as 01 00 00 7F; the u16 is read unsigned.
    QVERIFY(l_env.Deliver(FrameBuilder(3)
                              .Str("ann")
                              .Raw(QByteArray::fromHex("0100007f"))
                              .I32(2234)
                              .I32(1)
                              .Raw(QByteArray::fromHex("ffff"))));
    ItemPtr const l_ann = UserItem("ann");
    QCOMPARE(ValueOf(l_ann, "user_address"), QStringLiteral("2130706433"));
    QCOMPARE(ValueOf(l_ann, "user_port"), QStringLiteral("2234"));
    QCOMPARE(ValueOf(l_ann, "user_obfuscated_port"), QStringLiteral("65535"));
    QVERIFY(!HasFlag(l_ann, "user_address_request"));

    // Not obfuscated: the port on the wire is read and not used.
    QVERIFY(l_env.Deliver(IncomingFrames::UserAddress("ann", IPv4(10, 1, 2, 3), 2235, 0, 40000)));
    QCOMPARE(ValueOf(l_ann, "user_address"), QString::number(0x0A010203u));
    QCOMPARE(ValueOf(l_ann, "user_obfuscated_port"), QStringLiteral("0"));
    QCOMPARE(l_ann.GetItems("user_address").size(), std::size_t(1));

    // A message that ends after the name sets zeros and still counts as the answer.
    (*d["user"])["bo"].NewItem("user_address_request");
    QVERIFY(l_env.Deliver(Cut(IncomingFrames::UserAddress("bo", IPv4(1, 2, 3, 4), 99, 1, 98), 4 + 4 + 2)));
    ItemPtr const l_bo = UserItem("bo");
    QCOMPARE(ValueOf(l_bo, "user_address"), QStringLiteral("0"));
    QCOMPARE(ValueOf(l_bo, "user_port"), QStringLiteral("0"));
    QCOMPARE(ValueOf(l_bo, "user_obfuscated_port"), QStringLiteral("0"));
    QVERIFY(!HasFlag(l_bo, "user_address_request"));

    QVERIFY(l_env.Deliver(IncomingFrames::UserAddress("new", IPv4(1, 2, 3, 4), 5, 1, 6)));
    QCOMPARE(ValueOf(UserItem("new"), "user_obfuscated_port"), QStringLiteral("6"));
}

void TestIncomingServer::addUserReply()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    Server& l_server = l_env.server();
    QList<QPair<QString, bool>> l_responses;
    QList<bool> l_onlineAtEmission;
    QObject::connect(&l_server, &Server::AddUserResponse, &l_server, [&](QString i_user, bool i_added) {
        l_responses.append({i_user, i_added});
        l_onlineAtEmission.append(HasFlag(UserItem(i_user), "is_online"));
    });

    QVERIFY(l_env.Deliver(IncomingFrames::AddUserReply("ghost", false)));
    QCOMPARE(l_responses, (QList<QPair<QString, bool>>{{"ghost", false}}));
    QVERIFY(UserItem("ghost").IsNull());

    QVERIFY(l_env.Deliver(IncomingFrames::AddUserReply("ann", true, 2, {10, 20, 30, 40}, "DE")));
    QCOMPARE(l_responses.last(), (QPair<QString, bool>{"ann", true}));
    // The response goes out before the rest of the message takes effect.
    QCOMPARE(l_onlineAtEmission.last(), false);
    ItemPtr const l_ann = UserItem("ann");
    QVERIFY(HasFlag(l_ann, "is_online"));
    QCOMPARE(ValueOf(l_ann, "country_code"), QStringLiteral("DE"));

    // Offline: no country code on the wire; the old one stays.
    QVERIFY(l_env.Deliver(IncomingFrames::AddUserReply("ann", true, 0)));
    QVERIFY(!HasFlag(l_ann, "is_online"));
    QCOMPARE(ValueOf(l_ann, "country_code"), QStringLiteral("DE"));

    // Online but cut before the country code: the code is set empty.
    QVERIFY(l_env.Deliver(Cut(IncomingFrames::AddUserReply("ann", true, 1, {}, "FR"), 4 + 7 + 1 + 4 + 20)));
    QVERIFY(HasFlag(l_ann, "is_online"));
    QCOMPARE(ValueOf(l_ann, "country_code"), QString());
    QCOMPARE(l_responses.size(), 4);
}

void TestIncomingServer::userStatus()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());

    QVERIFY(l_env.Deliver(IncomingFrames::UserStatus("ann", 2, true)));
    ItemPtr const l_ann = UserItem("ann");
    QVERIFY(HasFlag(l_ann, "is_online"));
    QVERIFY(!HasFlag(l_ann, "is_away"));
    QVERIFY(HasFlag(l_ann, "is_privileged"));

    QVERIFY(l_env.Deliver(IncomingFrames::UserStatus("ann", 1, false)));
    QVERIFY(HasFlag(l_ann, "is_online"));
    QVERIFY(HasFlag(l_ann, "is_away"));
    // Only ever set by the server's messages, never cleared.
    QVERIFY(HasFlag(l_ann, "is_privileged"));

    QVERIFY(l_env.Deliver(IncomingFrames::UserStatus("ann", 0, false)));
    QVERIFY(!HasFlag(l_ann, "is_online"));
    QVERIFY(!HasFlag(l_ann, "is_away"));

    QVERIFY(l_env.Deliver(IncomingFrames::UserStatus("ann", -1, false)));
    QVERIFY(!HasFlag(l_ann, "is_online"));

    // Cut after the name: status 0, not privileged; the user is made.
    QVERIFY(l_env.Deliver(Cut(IncomingFrames::UserStatus("cut", 1, true), 4 + 7)));
    ItemPtr const l_cut = UserItem("cut");
    QVERIFY(l_cut.IsNotNull());
    QVERIFY(!HasFlag(l_cut, "is_online"));
    QVERIFY(!HasFlag(l_cut, "is_privileged"));
}

void TestIncomingServer::peerConnectionRequest()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());

    QVERIFY(l_env.Deliver(IncomingFrames::PeerConnectionRequest("ann", "F", IPv4(192, 168, 0, 9), 2234,
                                                                4294967295u, true, 0, 555)));
    ItemPtr const l_ann = UserItem("ann");
    ItemPtr const l_request = OnlyRequestOf(l_ann);
    QVERIFY(l_request.IsNotNull());
    QCOMPARE(ValueOf(l_request, "peer_connection_request_id"), QStringLiteral("4294967295"));
    QCOMPARE(ValueOf(l_request, "peer_connection_type"), QStringLiteral("F"));
    QCOMPARE(ValueOf(l_ann, "user_address"), QString::number(IPv4(192, 168, 0, 9)));
    QCOMPARE(ValueOf(l_ann, "user_port"), QStringLiteral("2234"));
    // Obfuscation type 0: no obfuscated port on the wire (the builder wrote none).
    QCOMPARE(ValueOf(l_ann, "user_obfuscated_port"), QStringLiteral("0"));
    QVERIFY(HasFlag(l_ann, "is_privileged"));

    // Type 1 carries an i32 obfuscated port; a type the peer network does not know is
    // stored as received.
    QVERIFY(l_env.Deliver(IncomingFrames::PeerConnectionRequest("bo", "X", IPv4(10, 0, 0, 1), 2234, 7, false, 1, 2236)));
    ItemPtr const l_bo = UserItem("bo");
    ItemPtr const l_boRequest = OnlyRequestOf(l_bo);
    QVERIFY(l_boRequest.IsNotNull());
    QCOMPARE(ValueOf(l_boRequest, "peer_connection_type"), QStringLiteral("X"));
    QCOMPARE(ValueOf(l_boRequest, "peer_connection_request_id"), QStringLiteral("7"));
    QCOMPARE(ValueOf(l_bo, "user_obfuscated_port"), QStringLiteral("2236"));
    QVERIFY(!HasFlag(l_bo, "is_privileged"));

    // Every message is a new request, even for the same user and token.
    QVERIFY(l_env.Deliver(IncomingFrames::PeerConnectionRequest("bo", "P", IPv4(10, 0, 0, 1), 2234, 7, false, 0)));
    QCOMPARE(l_bo.GetItems("peer_connection_request").size(), std::size_t(2));

    // Cut after the type: address, port, token and obfuscated port are zeros.
    QVERIFY(l_env.Deliver(Cut(IncomingFrames::PeerConnectionRequest("cy", "D", 77, 88, 99, true, 1, 66), 4 + 6 + 5)));
    ItemPtr const l_cy = UserItem("cy");
    ItemPtr const l_cyRequest = OnlyRequestOf(l_cy);
    QVERIFY(l_cyRequest.IsNotNull());
    QCOMPARE(ValueOf(l_cyRequest, "peer_connection_type"), QStringLiteral("D"));
    QCOMPARE(ValueOf(l_cyRequest, "peer_connection_request_id"), QStringLiteral("0"));
    QCOMPARE(ValueOf(l_cy, "user_address"), QStringLiteral("0"));
    QCOMPARE(ValueOf(l_cy, "user_port"), QStringLiteral("0"));
    QCOMPARE(ValueOf(l_cy, "user_obfuscated_port"), QStringLiteral("0"));
    QVERIFY(!HasFlag(l_cy, "is_privileged"));
}

void TestIncomingServer::peerConnectionRequestUsesFreshAddress()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    RequestWatcher l_watcher;

    // The user already has a full (stale) address from an earlier answer.
    QVERIFY(l_env.Deliver(IncomingFrames::UserAddress("ann", IPv4(1, 1, 1, 1), 1000, 1, 1001)));
    QVERIFY(l_watcher.m_addresses.isEmpty());

    QVERIFY(l_env.Deliver(IncomingFrames::PeerConnectionRequest("ann", "P", IPv4(2, 2, 2, 2), 2000, 5, false, 1, 2001)));
    QString const l_fresh = QString::number(IPv4(2, 2, 2, 2)) + ":2000:2001";
    QCOMPARE(l_watcher.m_addresses, QStringList{l_fresh});

    // A user seen for the first time completes the pattern once as well.
    QVERIFY(l_env.Deliver(IncomingFrames::PeerConnectionRequest("bo", "F", IPv4(3, 3, 3, 3), 3000, 6, false, 0)));
    QCOMPARE(l_watcher.m_addresses.size(), 2);
    QCOMPARE(l_watcher.m_addresses.last(), QString::number(IPv4(3, 3, 3, 3)) + ":3000:0");
}

void TestIncomingServer::privateChat()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    Server& l_server = l_env.server();
    struct Chat
    {
        QString user;
        QString text;
        time_t time;
        bool spontaneous;
    };
    QList<Chat> l_chats;
    QObject::connect(&l_server, &Server::PrivateChat, &l_server,
                     [&](QString i_user, QString i_chat, time_t i_time, bool i_spontaneous) {
                         l_chats.append({i_user, i_chat, i_time, i_spontaneous});
                     });
    l_env.fake().ClearFrames();

    // The time is sign-extended; the id's bits go back as they came.
    QVERIFY(l_env.Deliver(IncomingFrames::PrivateChat(-1, -2, "ann", QString::fromUtf8("h\xC3\xA9"), true)));
    QCOMPARE(l_chats.size(), 1);
    QCOMPARE(l_chats[0].user, QStringLiteral("ann"));
    QCOMPARE(l_chats[0].text, QString::fromUtf8("h\xC3\xA9"));
    QCOMPARE(l_chats[0].time, time_t(-2));
    QCOMPARE(l_chats[0].spontaneous, true);
    // Private messages from strangers create no user item.
    QVERIFY(UserItem("ann").IsNull());
    QVERIFY(l_env.fake().WaitForCode(23));
    QCOMPARE(l_env.fake().FramesWithCode(23).last().Fields(), QByteArray::fromHex("ffffffff"));

    // Ignored: not shown, still acknowledged, and "privileges" still asks for ours.
    (*d["user"])["troll"].NewItem("is_ignored");
    QVERIFY(l_env.Deliver(IncomingFrames::PrivateChat(77, 1000, "troll", "your privileges grew", false)));
    QCOMPARE(l_chats.size(), 1);
    QVERIFY(l_env.fake().WaitForCode(92));
    QTRY_COMPARE_WITH_TIMEOUT(l_env.fake().FramesWithCode(23).size(), 2, 3000);
    QCOMPARE(l_env.fake().FramesWithCode(23).last().Fields(), FrameBuilder().U32(77).Payload());

    // The word is matched case-sensitively.
    QVERIFY(l_env.Deliver(IncomingFrames::PrivateChat(78, 1000, "ann", "Privileges", false)));
    QCOMPARE(l_chats.size(), 2);
    QCOMPARE(l_chats[1].spontaneous, false);
    QTRY_COMPARE_WITH_TIMEOUT(l_env.fake().FramesWithCode(23).size(), 3, 3000);
    l_env.fake().Idle(50);
    QCOMPARE(l_env.fake().FramesWithCode(92).size(), 1);

    // Cut after the id: empty user and text, time 0, and the ack still goes out.
    QVERIFY(l_env.Deliver(Cut(IncomingFrames::PrivateChat(5, 9, "x", "y", true), 8)));
    QCOMPARE(l_chats.size(), 3);
    QCOMPARE(l_chats[2].user, QString());
    QCOMPARE(l_chats[2].time, time_t(0));
    QTRY_COMPARE_WITH_TIMEOUT(l_env.fake().FramesWithCode(23).size(), 4, 3000);
    QCOMPARE(l_env.fake().FramesWithCode(23).last().Fields(), FrameBuilder().U32(5).Payload());

    // Valid UTF-8 that starts with a byte-order mark is read as UTF-8, the mark kept.
    QByteArray const l_bom("\xEF\xBB\xBF");
    QVERIFY(l_env.Deliver(
        FrameBuilder(22).I32(6).I32(7).Str(l_bom + "bob").Str(l_bom + "hello").U8(1)));
    QCOMPARE(l_chats.size(), 4);
    QCOMPARE(l_chats[3].user, QChar(0xFEFF) + QStringLiteral("bob"));
    QCOMPARE(l_chats[3].text, QChar(0xFEFF) + QStringLiteral("hello"));
}

void TestIncomingServer::statisticsPrivilegesAndNumbers()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    Server& l_server = l_env.server();

    QList<QPair<QString, UserStats>> l_stats;
    QObject::connect(&l_server, &Server::ReceivedUserStats, &l_server,
                     [&](QString i_user, UserStats i_stats) { l_stats.append({i_user, i_stats}); });
    QVERIFY(l_env.Deliver(IncomingFrames::UserStatsReply("ann", {51234, 0x1122334455ull, 700, 12})));
    QCOMPARE(l_stats.size(), 1);
    QCOMPARE(l_stats[0].first, QStringLiteral("ann"));
    QVERIFY(l_stats[0].second == UserStats(51234, 0x1122334455ull, 700, 12));
    QVERIFY(UserItem("ann").IsNull());
    // Cut inside the statistics: what is missing stays zero.
    QVERIFY(l_env.Deliver(Cut(IncomingFrames::UserStatsReply("ann", {1, 2, 3, 4}), 4 + 7 + 2)));
    QVERIFY(l_env.Deliver(Cut(IncomingFrames::UserStatsReply("ann", {1, 2, 3, 4}), 4 + 7 + 6)));
    QCOMPARE(l_stats.size(), 3);
    QVERIFY(l_stats[1].second == UserStats());
    QVERIFY(l_stats[2].second == UserStats(1, 0, 0, 0));

    // Code 69: a set; duplicates merge.
    QVERIFY(l_env.Deliver(IncomingFrames::PrivilegedUsers({"zed", "amy", "zed"})));
    QVERIFY(HasFlag(UserItem("zed"), "is_privileged"));
    QVERIFY(HasFlag(UserItem("amy"), "is_privileged"));

    // The setting is written before the signal, so its receivers may read it.
    QStringList l_privileges;
    QObject::connect(&l_server, &Server::ReceivedOwnPrivilegesStatus, &l_server, [&](int i_seconds) {
        l_privileges.append(QString::number(i_seconds) + "/" + GetSetting("privileges_time_left"));
    });
    QVERIFY(l_env.Deliver(IncomingFrames::I32Message(92, -30)));
    QVERIFY(l_env.Deliver(IncomingFrames::I32Message(92, 86400)));
    QCOMPARE(l_privileges, (QStringList{"-30/-30", "86400/86400"}));

    QSignalSpy l_minSpeed(&l_server, &Server::DNetParentMinSpeed);
    QSignalSpy l_ratio(&l_server, &Server::DNetParentSpeedConnectionRatio);
    QSignalSpy l_report(&l_server, &Server::DNetDeliveryReport);
    QSignalSpy l_wait(&l_server, &Server::WishListWait);
    QSignalSpy l_failure(&l_server, &Server::IndirectPeerConnectionFailure);
    QVERIFY(l_env.Deliver(IncomingFrames::I32Message(83, 1).Frame() + IncomingFrames::I32Message(84, -50).Frame() +
                          IncomingFrames::I32Message(128, 9).Frame() +
                          IncomingFrames::U32Message(104, 4000000000u).Frame() +
                          IncomingFrames::U32Message(1001, 4294967295u).Frame() +
                          Cut(IncomingFrames::U32Message(1001, 12), 6)));
    QCOMPARE(l_minSpeed.count(), 1);
    QCOMPARE(l_minSpeed.at(0).at(0).toInt(), 1);
    QCOMPARE(l_ratio.at(0).at(0).toInt(), -50);
    QCOMPARE(l_report.at(0).at(0).toInt(), 9);
    QCOMPARE(l_wait.at(0).at(0).toUInt(), 4000000000u);
    QCOMPARE(l_failure.count(), 2);
    QCOMPARE(l_failure.at(0).at(0).toUInt(), 4294967295u);
    // Cut inside the token: the failure is reported for token 0.
    QCOMPARE(l_failure.at(1).at(0).toUInt(), 0u);
}

void TestIncomingServer::relayedDistributedMessage()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    Server& l_server = l_env.server();
    QList<QByteArray> l_bodies;
    QList<quint64> l_positions;
    QObject::connect(&l_server, &Server::DNetMessage, &l_server, [&](MemStream& i_message) {
        l_positions.append(i_message.GetReadIndex());
        l_bodies.append(QByteArray(i_message.GetReadBuffer(),
                                   static_cast<int>(i_message.GetPendingReadLength())));
    });
    QByteArray const l_body = QByteArray::fromHex("03") + FrameBuilder().U32(1).Str("ann").U32(42).Str("q").Payload();
    QVERIFY(l_env.Deliver(IncomingFrames::DNetRelay(l_body)));
    QCOMPARE(l_bodies, QList<QByteArray>{l_body});
    QCOMPARE(l_positions, QList<quint64>{4});
}

void TestIncomingServer::possibleParents()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    Server& l_server = l_env.server();
    QList<std::vector<std::pair<QString, TCPAddress>>> l_lists;
    QObject::connect(&l_server, &Server::DNetPossibleParents, &l_server,
                     [&](std::list<std::pair<QString, TCPAddress>>& i_list) {
                         l_lists.append(std::vector<std::pair<QString, TCPAddress>>(i_list.begin(), i_list.end()));
                     });

    QList<IncomingFrames::Parent> const l_three = {
        {"p1", IPv4(127, 0, 0, 1), 2234}, {"p2", IPv4(10, 20, 30, 40), -1}, {"p3", 5, 6}};
    QVERIFY(l_env.Deliver(IncomingFrames::PossibleParents(l_three)));
    QCOMPARE(l_lists.size(), 1);
    QCOMPARE(l_lists[0].size(), std::size_t(3));
    QCOMPARE(l_lists[0][0].first, QStringLiteral("p1"));
    QCOMPARE(l_lists[0][0].second.m_address, 0x7F000001u);
    QCOMPARE(l_lists[0][0].second.m_port, 2234);
    QCOMPARE(l_lists[0][1].second.m_address, 0x0A141E28u);
    QCOMPARE(l_lists[0][1].second.m_port, -1);

    // The address's first wire byte is the last number of the dotted form.
    QVERIFY(l_env.Deliver(FrameBuilder(102).U32(1).Str("raw").Raw(QByteArray::fromHex("0100007f")).I32(1)));
    QCOMPARE(l_lists[1].size(), std::size_t(1));
    QCOMPARE(l_lists[1][0].second.m_address, IPv4(127, 0, 0, 1));

    // Empty, over the bound, and cut inside the third entry's port.
    QVERIFY(l_env.Deliver(IncomingFrames::PossibleParents({})));
    QVERIFY(l_env.Deliver(FrameBuilder(102).U32(131073).Str("p1").U32(1).I32(2)));
    QByteArray const l_full = IncomingFrames::PossibleParents(l_three).Payload();
    QVERIFY(l_env.Deliver(FrameBuilder::Framed(l_full.left(l_full.size() - 2))));
    QCOMPARE(l_lists.size(), 5);
    QVERIFY(l_lists[2].empty());
    QVERIFY(l_lists[3].empty());
    QCOMPARE(l_lists[4].size(), std::size_t(2));
    QCOMPARE(l_lists[4][1].first, QStringLiteral("p2"));

    // A negative count fails like one over the bound: no entry is read.
    QVERIFY(l_env.Deliver(FrameBuilder(102).U32(0xFFFFFFFFu).Str("n1").U32(1).I32(2).Str("n2").U32(3).I32(4)));
    QCOMPARE(l_lists.size(), 6);
    QVERIFY(l_lists[5].empty());
    // Cut inside the count itself: still emitted, empty.
    QVERIFY(l_env.Deliver(FrameBuilder::Framed(FrameBuilder(102).U16(1).Payload())));
    QCOMPARE(l_lists.size(), 7);
    QVERIFY(l_lists[6].empty());
}

void TestIncomingServer::searchCorrelations()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    QSignalSpy l_signals(&l_env.server(), &Server::SearchCorrelations);

    QVERIFY(d["search_request_text"]->HasItem("blue").IsNull());
    QVERIFY(l_env.Deliver(IncomingFrames::SearchCorrelations("blue", {{"blue train", 5}, {"navy", -3}})));
    ItemPtr const l_text = d["search_request_text"]->HasItem("blue");
    QVERIFY(l_text.IsNotNull());
    QMap<QString, QString> l_ranks;
    for (ItemPtr const& l_correlation : l_text.GetItems("search_correlation"))
        l_ranks.insert(ValueOf(l_correlation, "correlation_text"), ValueOf(l_correlation, "correlation_rank"));
    QCOMPARE(l_ranks, (QMap<QString, QString>{{"blue train", "5"}, {"navy", "-3"}}));
    QCOMPARE(l_signals.count(), 1);
    QCOMPARE(l_signals.at(0).at(0).toString(), QStringLiteral("blue"));

    // A new list replaces the old one; an empty one just removes it.
    QVERIFY(l_env.Deliver(IncomingFrames::SearchCorrelations("blue", {{"sky", 1}})));
    QCOMPARE(l_text.GetItems("search_correlation").size(), std::size_t(1));
    QVERIFY(l_env.Deliver(IncomingFrames::SearchCorrelations("blue", {})));
    QVERIFY(l_text.GetItems("search_correlation").empty());
    QCOMPARE(l_signals.count(), 3);

    // Over the bound: nothing; cut inside the third entry: the first two.
    QVERIFY(l_env.Deliver(FrameBuilder(153).Str("red").U32(131073).Str("a").I32(1)));
    QVERIFY(d["search_request_text"]->HasItem("red").GetItems("search_correlation").empty());
    QByteArray const l_three = IncomingFrames::SearchCorrelations("red", {{"a", 1}, {"b", 2}, {"c", 3}}).Payload();
    QVERIFY(l_env.Deliver(FrameBuilder::Framed(l_three.left(l_three.size() - 3))));
    QCOMPARE(d["search_request_text"]->HasItem("red").GetItems("search_correlation").size(), std::size_t(2));
    QCOMPARE(l_signals.count(), 5);
}

void TestIncomingServer::unknownCodesAreDroppedUnread()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    std::size_t const l_users = d["user"]->GetItemCount();
    l_env.fake().ClearFrames();

    // Codes the client sends but never handles, and codes it does not know at all;
    // their bodies look like messages that would change the store.
    QVERIFY(l_env.Deliver(FrameBuilder(2).Str("ann").I32(1).U8(1).Frame() +
                          FrameBuilder(147).Str("ann").I32(1).U8(1).Frame() +
                          FrameBuilder(0x7FFFFFFF).Str("ann").Frame() + FrameBuilder(0xFFFFFFF9u).Frame()));
    QCOMPARE(d["user"]->GetItemCount(), l_users);
    l_env.fake().Idle(50);
    QVERIFY(l_env.fake().Frames().isEmpty());

    // Directly: an unknown code leaves the stream where it was.
    MemStream l_message;
    l_message.WriteBuffer("\x93\x00\x00\x00\x03\x00\x00\x00" "ann", 11);
    quint32 l_code = 0;
    QVERIFY(l_message.Read(l_code));
    l_env.server().HandleMessage(static_cast<int>(l_code), l_message);
    QCOMPARE(l_message.GetReadIndex(), std::uint64_t(4));
    QVERIFY(l_env.server().IsConnected());
}

void TestIncomingServer::dispatchWhileConnectingAndLoginReplyOnlyOnce()
{
    ServerTestEnv::Fixture l_env;
    IncomingTestEnv::InitOnce();
    Server& l_server = l_env.server();
    QSignalSpy l_resets(&l_server, &Server::DNetReset);

    // A watched user makes every login send a code 5.
    (*d["user"])["watched"].NewItem("is_tracked");

    // Before the login reply, every code but the reply itself already takes effect.
    QVERIFY(l_env.ConnectWithoutReply());
    l_env.fake().Send(IncomingFrames::UserStatus("early", 2, false).Frame() + IncomingFrames::DNetReset().Frame());
    QTRY_COMPARE_WITH_TIMEOUT(l_resets.count(), 1, 3000);
    QCOMPARE(l_server.GetState(), Server::StateConnecting);
    QVERIFY(HasFlag(UserItem("early"), "is_online"));

    // A second accepted reply on the logged-in connection is dropped: no second
    // Connected(), no second round of after-login messages.
    l_env.fake().Send(FrameBuilder::LoginAccepted());
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 1, 3000);
    QVERIFY(l_env.fake().WaitForCode(5));
    l_env.fake().Idle(100);
    int const l_framesAfterFirst = static_cast<int>(l_env.fake().Frames().size());
    l_env.fake().Send(FrameBuilder::LoginAccepted() + IncomingFrames::DNetReset().Frame());
    QTRY_COMPARE_WITH_TIMEOUT(l_resets.count(), 2, 3000);
    l_env.fake().Idle(50);
    QCOMPARE(l_env.connected().count(), 1);
    QCOMPARE(static_cast<int>(l_env.fake().Frames().size()), l_framesAfterFirst);
    QCOMPARE(l_env.fake().FramesWithCode(5).size(), 1);
    QVERIFY(l_server.IsConnected());
}

void TestIncomingServer::nothingIsReadWhileDisconnected()
{
    ServerTestEnv::Fixture l_env;
    IncomingTestEnv::InitOnce();
    Server& l_server = l_env.server();
    QSignalSpy l_resets(&l_server, &Server::DNetReset);

    QList<QByteArray> const l_messages = {
        IncomingFrames::UserStatus("ann", 2, true).Payload(),
        IncomingFrames::UserAddress("ann", 1, 2, 1, 3).Payload(),
        IncomingFrames::PeerConnectionRequest("ann", "P", 1, 2, 3, true, 0).Payload(),
        IncomingFrames::RoomJoined("den", {"ann"}, {{1, 2, 3, 4}}, {"DE"}).Payload(),
        IncomingFrames::DNetReset().Payload(),
    };
    auto l_deliverAll = [&] {
        for (QByteArray const& l_payload : l_messages) {
            MemStream l_message;
            l_message.WriteBuffer(l_payload.constData(), static_cast<unsigned long>(l_payload.size()));
            quint32 l_code = 0;
            QVERIFY(l_message.Read(l_code));
            l_server.HandleMessage(static_cast<int>(l_code), l_message);
            QCOMPARE(l_message.GetReadIndex(), std::uint64_t(4));
        }
    };

    // Never connected.
    l_deliverAll();
    QVERIFY(UserItem("ann").IsNull());
    QVERIFY(RoomItem("den").IsNull());
    QCOMPARE(l_resets.count(), 0);

    // Logged in, then disconnected by request.
    QVERIFY(l_env.LogIn());
    l_server.Disconnect();
    l_deliverAll();
    QVERIFY(UserItem("ann").IsNull());
    QVERIFY(RoomItem("den").IsNull());
    QCOMPARE(l_resets.count(), 0);
}

QTEST_GUILESS_MAIN(TestIncomingServer)
#include "tst_incoming_server.moc"
