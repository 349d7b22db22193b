#include "PeerTestEnv.h"
#include "support/LogCapture.h"

#include <QTcpSocket>

using namespace PeerTestEnv;

namespace
{
// A port that is free together with the one above it.
quint16 FreePortPair()
{
    for (int l_try = 0; l_try < 20; ++l_try)
    {
        quint16 const l_port = FreePort();
        QTcpServer l_next;
        if (l_port && l_port < 65535 && l_next.listen(QHostAddress::AnyIPv4, l_port + 1))
            return l_port;
    }
    return 0;
}

void RemoveSetting(char const* key)
{
    if (ItemPtr const l_key = d["global"]->HasItem(Value(key)))
        l_key.Remove();
}
} // namespace

class TestPeerSending : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void movesToNewListeningPortAndAnnouncesIt();
    void fillsInPortDefaults();
    void listensOnlyOnUsablePorts();
    void sendsOverNewestConnection();
    void keepsQueueWhenWriteFails();
    void queuesACopyOfTheMessage();
    void queuedMessagesReachNameWithByteOrderMark();

private:
    // Two accepted "P" connections of one user; returns their sockets in the order of
    // the fake peers.
    QList<QTcpSocket*> OpenTwo(FakePeer& first, FakePeer& second, QByteArray const& user);

    Fixture m_env;
    quint16 m_newPort = 0;
};

void TestPeerSending::initTestCase()
{
    m_newPort = FreePortPair();
    QVERIFY(m_newPort);
    QVERIFY(m_env.SetUp(m_newPort));
}

void TestPeerSending::cleanupTestCase()
{
    ClearConnections();
    // A message still waiting when the messenger goes is freed with it (LeakSanitizer
    // reports it otherwise) and leaves no item holding its address.
    MemStream l_message = MessageOf(FakePeer::U32(15));
    peerMessenger->SendMessage("never_connects", l_message);
    QCOMPARE(d["unsent_message"]->GetItemCount(), std::size_t(1));
    m_env.TearDown();
    QCOMPARE(d["unsent_message"]->GetItemCount(), std::size_t(0));
}

void TestPeerSending::cleanup()
{
    ClearConnections();
}

void TestPeerSending::movesToNewListeningPortAndAnnouncesIt()
{
    QCOMPARE(m_env.PlainPort(), m_newPort);
    QCOMPARE(m_env.ObfuscatedPort(), quint16(m_newPort + 1));
    QCOMPARE(peerMessenger->ListeningSocket().serverAddress(), QHostAddress(QHostAddress::AnyIPv4));
    QCOMPARE(GetSettingInt("listening_port"), int(m_newPort));
    QCOMPARE(GetSettingInt("obfuscated_listening_port"), int(m_newPort + 1));
    QVERIFY(!HasSetting("new_listening_port"));
    QVERIFY(d["global"]->HasItem(Value("new_listening_port")).IsNull());

    // After the login: code 2 with the plain port, 1, the obfuscated port.
    QVERIFY(m_env.fake().WaitForCode(2));
    QCOMPARE(m_env.fake().FramesWithCode(2).size(), 1);
    QCOMPARE(m_env.fake().FramesWithCode(2)[0].Fields(),
             FakePeer::U32(m_newPort) + FakePeer::U32(1) + FakePeer::U32(m_newPort + 1));

    // Announced again, from the settings, at every login.
    peerMessenger->OnConnectedToServer();
    QVERIFY(m_env.fake().WaitForFrames(m_env.fake().Frames().size() + 1));
    QCOMPARE(m_env.fake().FramesWithCode(2).size(), 2);
}

void TestPeerSending::fillsInPortDefaults()
{
    // The messenger listens already, so these runs change settings only.
    RemoveSetting("listening_port");
    RemoveSetting("obfuscated_listening_port");
    peerMessenger->DataLoaded();
    QCOMPARE(GetSetting("listening_port"), QStringLiteral("2235"));
    QCOMPARE(GetSetting("obfuscated_listening_port"), QStringLiteral("2236"));

    SetSetting("listening_port", "3000");
    SetSetting("obfuscated_listening_port", "0");
    peerMessenger->DataLoaded();
    QCOMPARE(GetSetting("obfuscated_listening_port"), QStringLiteral("3001"));

    SetSetting("listening_port", "not a port");
    SetSetting("obfuscated_listening_port", "4000");
    peerMessenger->DataLoaded();
    QCOMPARE(GetSetting("listening_port"), QStringLiteral("2235"));
    QCOMPARE(GetSetting("obfuscated_listening_port"), QStringLiteral("2236"));

    SetSetting("new_listening_port", "5000");
    peerMessenger->DataLoaded();
    QCOMPARE(GetSetting("listening_port"), QStringLiteral("5000"));
    QCOMPARE(GetSetting("obfuscated_listening_port"), QStringLiteral("5001"));
    QVERIFY(!HasSetting("new_listening_port"));
    // The next start keeps them.
    peerMessenger->DataLoaded();
    QCOMPARE(GetSetting("listening_port"), QStringLiteral("5000"));
    QCOMPARE(GetSetting("obfuscated_listening_port"), QStringLiteral("5001"));
    QCOMPARE(m_env.PlainPort(), m_newPort);

    SetSetting("listening_port", QString::number(m_newPort));
    SetSetting("obfuscated_listening_port", QString::number(m_newPort + 1));
}

void TestPeerSending::listensOnlyOnUsablePorts()
{
    QTcpServer l_listener;
    // 65535 + 1, as a plain port of 65535 makes the obfuscated one, would wrap to 0.
    QVERIFY(!PeerMessenger::Listen(l_listener, 65536));
    QVERIFY(!l_listener.isListening());
    QVERIFY(!PeerMessenger::Listen(l_listener, 0));
    QVERIFY(!PeerMessenger::Listen(l_listener, -1));
    QVERIFY(!l_listener.isListening());
    quint16 const l_port = FreePort();
    QVERIFY(PeerMessenger::Listen(l_listener, l_port));
    QCOMPARE(l_listener.serverPort(), l_port);
    // A port in use fails quietly.
    QTcpServer l_second;
    QVERIFY(!PeerMessenger::Listen(l_second, l_port));
}

QList<QTcpSocket*> TestPeerSending::OpenTwo(FakePeer& first, FakePeer& second, QByteArray const& user)
{
    QList<QTcpSocket*> l_sockets;
    for (FakePeer* lp_peer : {&first, &second})
    {
        if (!lp_peer->ConnectTo(m_env.PlainPort()) || !lp_peer->Send(InitFrameOf(user, "P")))
            return {};
        quint16 const l_localPort = lp_peer->Socket()->localPort();
        QTcpSocket* lp_found = nullptr;
        bool const l_found = QTest::qWaitFor(
            [&] {
                for (ItemPtr const& l_item : User(user).GetItems("peer_socket"))
                    if (l_item.AsPtr<QTcpSocket>()->peerPort() == l_localPort)
                        lp_found = l_item.AsPtr<QTcpSocket>();
                return lp_found != nullptr;
            },
            3000);
        if (!l_found)
            return {};
        l_sockets.append(lp_found);
    }
    return l_sockets;
}

void TestPeerSending::sendsOverNewestConnection()
{
    LogCapture l_log;
    FakePeer l_older;
    FakePeer l_newer;
    QList<QTcpSocket*> const l_sockets = OpenTwo(l_older, l_newer, "ivy");
    QCOMPARE(l_sockets.size(), 2);
    ItemPtr const l_olderItem = d["peer_socket"]->HasItem(Value(l_sockets[0]));
    ItemPtr const l_newerItem = d["peer_socket"]->HasItem(Value(l_sockets[1]));
    BackDate(l_olderItem, "connection_open_time", 20);
    BackDate(l_newerItem, "connection_open_time", 10);

    MemStream l_message = MessageOf(FakePeer::U32(1) + FakePeer::Text("hi"));
    peerMessenger->SendMessage("ivy", l_message);
    QVERIFY(l_newer.WaitForFrames(1));
    QCOMPARE(l_newer.Frames()[0], FakePeer::U32(1) + FakePeer::Text("hi"));
    QVERIFY(l_log.Contains(c_area, 1, "Send PM_SAY message to user ivy"));
    QVERIFY(l_log.Contains(c_area, 2, "Found 2 existing messaging connections to user, picking latest"));

    // Equal opening times keep the first connection in the set's order.
    BackDate(l_newerItem, "connection_open_time", 20);
    ItemPtr const l_first = *User("ivy").GetItems("peer_socket").begin();
    FakePeer& l_expected = l_first == l_olderItem ? l_older : l_newer;
    FakePeer& l_other = l_first == l_olderItem ? l_newer : l_older;
    qsizetype const l_before = l_expected.Frames().size();
    qsizetype const l_otherBefore = l_other.Frames().size();
    peerMessenger->SendMessage("ivy", l_message);
    QVERIFY(l_expected.WaitForFrames(l_before + 1));
    QTest::qWait(30);
    QCOMPARE(l_other.Frames().size(), l_otherBefore);
}

void TestPeerSending::keepsQueueWhenWriteFails()
{
    LogCapture l_log;
    for (std::uint32_t l_code : {91u, 92u, 93u})
    {
        MemStream l_message = MessageOf(FakePeer::U32(l_code));
        peerMessenger->SendMessage("jack", l_message);
    }
    QCOMPARE(User("jack").GetItems("unsent_message").size(), std::size_t(3));

    // A "P" record whose socket cannot be written to.
    auto* lp_broken = new QTcpSocket();
    d["peer_socket"]->NewItem(Value(lp_broken)) += User("jack");
    peerMessenger->SendUnsentMessages("jack");
    QVERIFY(l_log.Contains(c_area, 1, "Sending 3 pending peer messages to user jack"));
    QCOMPARE(l_log.Count(c_area, 1, QString("Error writing message to socket: %1").arg(lp_broken->errorString())), 1);
    ItemList const l_left = User("jack").GetItems("unsent_message").SortNumericBy("send_order");
    QCOMPARE(l_left.size(), std::size_t(3));
    QCOMPARE(QByteArray(l_left[0].AsPtr<MemStream>()->GetBuffer(), 4), FakePeer::U32(91));

    // Once a working connection opens they go out, in order.
    peerMessenger->DisposeOfSocket(lp_broken);
    FakePeer l_peer;
    QVERIFY(l_peer.ConnectTo(m_env.PlainPort()));
    QVERIFY(l_peer.Send(InitFrameOf("jack", "P")));
    QVERIFY(l_peer.WaitForFrames(3));
    QCOMPARE(l_peer.Frames(), (QList<QByteArray>{FakePeer::U32(91), FakePeer::U32(92), FakePeer::U32(93)}));
    QCOMPARE(User("jack").GetItems("unsent_message").size(), std::size_t(0));
}

void TestPeerSending::queuesACopyOfTheMessage()
{
    MemStream l_message = MessageOf(FakePeer::U32(15));
    peerMessenger->SendMessage("kate", l_message);
    // The caller reuses its stream while the message waits.
    l_message.Reset();
    l_message.Write(99u);
    l_message.Write(98u);

    FakePeer l_peer;
    l_peer.SetObfuscated(true);
    QVERIFY(l_peer.ConnectTo(m_env.ObfuscatedPort()));
    QVERIFY(l_peer.Send(FakePeer::ObfuscatedFrame(FakePeer::InitPayload("kate", "P"), 3)));
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0], FakePeer::U32(15));
    QCOMPARE(l_peer.Keys().size(), 1);
}

void TestPeerSending::queuedMessagesReachNameWithByteOrderMark()
{
    // The init frame names the user in UTF-8 that starts with a byte-order mark: that
    // is the user the message waits for, mark and all, not "bob".
    QString const l_user = QChar(0xFEFF) + QStringLiteral("bob");
    MemStream l_message = MessageOf(FakePeer::U32(22) + FakePeer::Text("hi"));
    peerMessenger->SendMessage(l_user, l_message);
    QCOMPARE(User(l_user).GetItems("unsent_message").size(), std::size_t(1));

    FakePeer l_peer;
    QVERIFY(l_peer.ConnectTo(m_env.PlainPort()));
    QVERIFY(l_peer.Send(InitFrameOf("\xEF\xBB\xBF" "bob", "P")));
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0], FakePeer::U32(22) + FakePeer::Text("hi"));
    QVERIFY(User(l_user)["peer_socket"].IsNotNull());
    QVERIFY(d["user"]->HasItem(Value("bob")).IsNull());
}

QTEST_GUILESS_MAIN(TestPeerSending)
#include "tst_peer_sending.moc"
