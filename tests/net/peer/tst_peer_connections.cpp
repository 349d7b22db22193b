#include "PeerTestEnv.h"
#include "support/LogCapture.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>

using namespace PeerTestEnv;

namespace
{
QString ReceivedFrom(int code, QString const& user)
{
    return QStringLiteral("Received %1 (unknown) message from user %2").arg(code).arg(user);
}

// A frame in the peer's framing.
QByteArray FrameOf(QByteArray const& payload, bool obfuscated, std::uint32_t key = 0x5A17C3E1u)
{
    return obfuscated ? FakePeer::ObfuscatedFrame(payload, key) : FakePeer::PlainFrame(payload);
}

ItemPtr PeerSocketOf(QString const& user)
{
    return User(user)["peer_socket"];
}

quint32 TokenFor(FakeServerPeerScript const& script, QString const& user, QString const& type)
{
    for (FakeServerPeerScript::IndirectRequest const& l_request : script.IndirectRequests())
        if (l_request.user == user && l_request.type == type)
            return l_request.token;
    return 0xFFFFFFFFu;
}
} // namespace

class TestPeerConnections : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void opensDirectMessagingConnection_data();
    void opensDirectMessagingConnection();
    void waitsForAddressAndDeliversQueuedMessages();
    void sendsOneIndirectRequestPerWant();
    void answersRelayedRequest_data();
    void answersRelayedRequest();
    void acceptsMessagingConnection_data();
    void acceptsMessagingConnection();
    void readsFirstByteTwoAsInit();
    void unmasksFirstFramesOfEveryLength();
    void acceptsPiercingFrameForOwnRequest();
    void handsOverIncomingFileAndDNetConnections();
    void handsOverPiercedFileAndDNetConnections();
    void forgetsSocketDeletedByItsReceiver();
    void handsOverDirectFileAndDNetConnections();
    void handsOverConnectBackFileAndDNetConnections();
    void failsOnlyAfterBothAttempts();
    void retryFromFailureSignalStartsNewRequest();
    void tellsServerWhenConnectBackFails();
    void refusesBadFirstFrames_data();
    void refusesBadFirstFrames();
    void disposesOfConnectBackOfUnknownType();

private:
    Fixture m_env;
    QList<QPointer<QTcpSocket>> m_handedOver;
};

void TestPeerConnections::initTestCase()
{
    QVERIFY(m_env.SetUp());
}

void TestPeerConnections::cleanupTestCase()
{
    ClearConnections();
    m_env.TearDown();
}

void TestPeerConnections::cleanup()
{
    for (QPointer<QTcpSocket> const& l_socket : m_handedOver)
        delete l_socket.data();
    m_handedOver.clear();
    ClearConnections();
    m_env.fake().ClearFrames();
    m_env.fake().ClearReply(3);
}

void TestPeerConnections::opensDirectMessagingConnection_data()
{
    QTest::addColumn<bool>("obfuscated");
    QTest::newRow("plain") << false;
    QTest::newRow("obfuscated") << true;
}

void TestPeerConnections::opensDirectMessagingConnection()
{
    QFETCH(bool, obfuscated);
    QString const l_user = obfuscated ? "bob-o" : "bob-p";
    LogCapture l_log;
    FakePeer l_peer;
    l_peer.SetObfuscated(obfuscated);
    quint16 const l_port = l_peer.Listen();
    QVERIFY(l_port);
    // A non-zero obfuscated port always wins over the plain one.
    if (obfuscated)
        SetAddress(l_user, FreePort(), l_port);
    else
        SetAddress(l_user, l_port, 0);

    peerMessenger->ConnectToUser(l_user, "P");
    QVERIFY(m_env.fake().WaitForCode(18));
    QCOMPARE(m_env.script().IndirectRequests().size(), 1);
    QCOMPARE(m_env.script().IndirectRequests()[0].user, l_user);
    QCOMPARE(m_env.script().IndirectRequests()[0].type, QStringLiteral("P"));
    QVERIFY(m_env.script().AddressRequests().isEmpty());

    QVERIFY(l_peer.WaitForAccepted());
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0], FakePeer::InitPayload("alice", "P"));
    if (obfuscated)
        QCOMPARE(l_peer.Keys().size(), 1);
    else
        QCOMPARE(l_peer.Received(), QByteArray::fromHex("13000000"
                                                        "01"
                                                        "05000000616c696365"
                                                        "0100000050"
                                                        "00000000"));

    QTRY_VERIFY_WITH_TIMEOUT(PeerSocketOf(l_user).IsNotNull(), 3000);
    ItemPtr const l_socketItem = PeerSocketOf(l_user);
    QCOMPARE(l_socketItem.IsConnected("is_obfuscated"), obfuscated);
    QVERIFY(l_socketItem["connection_open_time"].IsNotNull());
    QVERIFY(Requests(l_user, "P").empty());
    QCOMPARE(d["connect_to_peer_request_socket"]->GetItemCount(), std::size_t(0));
    // The indirect attempt is not stopped; it runs to its own end.
    QVERIFY(User(l_user)["indirect_connect_to_peer_request"].IsNotNull());
    QString const l_label = obfuscated ? "obfuscated " : "";
    QVERIFY(l_log.Contains(c_area, 1,
                           QString("Direct %1connection of type P to user %2 successful").arg(l_label, l_user)));
    QVERIFY(l_log.Contains(c_area, 1, QString("Disposing of peer connection request of type P to user %1").arg(l_user)));

    // Both directions now carry frames in the connection's framing.
    QVERIFY(l_peer.Send(FrameOf(Code(61), obfuscated)));
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Count(c_area, 1, ReceivedFrom(61, l_user)), 1, 3000);
    MemStream l_message = MessageOf(Code(62, "xyz"));
    peerMessenger->SendMessage(l_user, l_message);
    QVERIFY(l_peer.WaitForFrames(2));
    QCOMPARE(l_peer.Frames()[1], Code(62, "xyz"));
    QVERIFY(l_log.Contains(c_area, 2, "Found one existing messaging connection to user"));
}

void TestPeerConnections::waitsForAddressAndDeliversQueuedMessages()
{
    QString const l_user = QStringLiteral("erin");
    LogCapture l_log;
    FakePeer l_peer;
    quint16 const l_port = l_peer.Listen();
    QVERIFY(l_port);
    // The address request is answered only once both messages are queued.
    MemStream l_first = MessageOf(Code(71, "one"));
    MemStream l_second = MessageOf(Code(72, "two"));
    peerMessenger->SendMessage(l_user, l_first);
    peerMessenger->SendMessage(l_user, l_second);

    ItemSet const l_requests = Requests(l_user, "P");
    QCOMPARE(l_requests.size(), std::size_t(1));
    QCOMPARE(ItemPtr(l_requests)["connect_to_peer_request_status"].AsString(),
             QStringLiteral("getting_address"));
    QVERIFY(l_log.Contains(c_area, 2, "User address not found, requesting address"));
    QCOMPARE(l_log.Count(c_area, 2,
                         "Connection attempt to same user of same type already in progress, not re-attempting."),
             1);
    QCOMPARE(l_log.Count(c_area, 2, "Did not find messaging connection to user, queueing unsent message"), 2);
    QVERIFY(m_env.fake().WaitForCode(3));
    QCOMPARE(m_env.script().AddressRequests(), QStringList{l_user});
    QCOMPARE(m_env.script().IndirectRequests().size(), 1);
    QCOMPARE(d["unsent_message"]->GetItemCount(), std::size_t(2));

    m_env.fake().Send(FakeServerPeerScript::UserAddress(l_user, l_port));
    QVERIFY(l_peer.WaitForAccepted());
    QVERIFY(l_peer.WaitForFrames(3));
    QCOMPARE(l_peer.Frames(), (QList<QByteArray>{FakePeer::InitPayload("alice", "P"),
                                                 Code(71, "one"), Code(72, "two")}));
    QCOMPARE(l_log.Count(c_area, 1, QString("User %1 address arrived").arg(l_user)), 1);
    QVERIFY(l_log.Contains(c_area, 2, "Attempting direct connection of type P"));
    QVERIFY(l_log.Contains(c_area, 1, QString("Sending 2 pending peer messages to user %1").arg(l_user)));
    QCOMPARE(d["unsent_message"]->GetItemCount(), std::size_t(0));
}

void TestPeerConnections::sendsOneIndirectRequestPerWant()
{
    QString const l_user = QStringLiteral("frank");
    peerMessenger->ConnectToUser(l_user, "P");
    peerMessenger->ConnectToUser(l_user, "P");
    peerMessenger->RequestFileConnectionToUser(l_user);
    peerMessenger->RequestDNetConnection(l_user);
    peerMessenger->RequestDNetConnection(l_user);
    QTRY_COMPARE_WITH_TIMEOUT(m_env.script().IndirectRequests().size(), 3, 3000);
    m_env.fake().Idle(50);

    QStringList l_types;
    QSet<quint32> l_tokens;
    for (FakeServerPeerScript::IndirectRequest const& l_request : m_env.script().IndirectRequests())
    {
        QCOMPARE(l_request.user, l_user);
        l_types.append(l_request.type);
        l_tokens.insert(l_request.token);
    }
    QCOMPARE(l_types, (QStringList{"P", "F", "D"}));
    QCOMPARE(l_tokens.size(), 3);
    for (char const* lp_type : {"P", "F", "D"})
    {
        QCOMPARE(Requests(l_user, lp_type).size(), std::size_t(1));
        ItemPtr const l_indirect = ItemPtr(Requests(l_user, lp_type))["indirect_connect_to_peer_request"];
        QVERIFY(l_indirect["send_time"].IsNotNull());
        QCOMPARE(l_indirect["peer_connection_type"].AsString(), QString(lp_type));
    }
    // The address is asked for once however many requests wait for it.
    QCOMPARE(m_env.script().AddressRequests(), QStringList{l_user});
}

void TestPeerConnections::answersRelayedRequest_data()
{
    opensDirectMessagingConnection_data();
}

void TestPeerConnections::answersRelayedRequest()
{
    QFETCH(bool, obfuscated);
    QString const l_user = obfuscated ? "gina-o" : "gina-p";
    LogCapture l_log;
    FakePeer l_peer;
    l_peer.SetObfuscated(obfuscated);
    quint16 const l_port = l_peer.Listen();
    QVERIFY(l_port);

    m_env.script().RelayConnectionRequest(l_user, "P", obfuscated ? FreePort() : l_port, 0xA1B2C3D4u,
                                          obfuscated ? l_port : 0);
    QVERIFY(l_peer.WaitForAccepted());
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0], QByteArray::fromHex("00d4c3b2a1"));
    if (obfuscated)
    {
        QCOMPARE(l_peer.Received().size(), 13);
        QCOMPARE(l_peer.Keys().size(), 1);
    }
    else
        QCOMPARE(l_peer.Received(), QByteArray::fromHex("0500000000d4c3b2a1"));

    QTRY_VERIFY_WITH_TIMEOUT(PeerSocketOf(l_user).IsNotNull(), 3000);
    QCOMPARE(PeerSocketOf(l_user).IsConnected("is_obfuscated"), obfuscated);
    QCOMPARE(d["peer_connection_request"]->GetItemCount(), std::size_t(0));
    QCOMPARE(d["peer_connection_request_socket"]->GetItemCount(), std::size_t(0));
    QString const l_label = obfuscated ? "obfuscated " : "";
    QVERIFY(l_log.Contains(c_area, 1, QString("Indirect %1peer connection requested from user %2").arg(l_label, l_user)));
    QVERIFY(l_log.Contains(c_area, 1,
                           QString("Response %1connection to indirect request from %2, type P opened")
                               .arg(l_label, l_user)));

    QVERIFY(l_peer.Send(FrameOf(Code(63), obfuscated)));
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Count(c_area, 1, ReceivedFrom(63, l_user)), 1, 3000);
    QVERIFY(!m_env.fake().HasCode(1001));
}

void TestPeerConnections::acceptsMessagingConnection_data()
{
    opensDirectMessagingConnection_data();
}

void TestPeerConnections::acceptsMessagingConnection()
{
    QFETCH(bool, obfuscated);
    QString const l_user = obfuscated ? "hank-o" : "hank-p";
    LogCapture l_log;
    FakePeer l_peer;
    l_peer.SetObfuscated(obfuscated);
    QVERIFY(l_peer.ConnectTo(obfuscated ? m_env.ObfuscatedPort() : m_env.PlainPort()));
    QTRY_COMPARE_WITH_TIMEOUT(d["uninitialized_socket"]->GetItemCount(), std::size_t(1), 3000);
    ItemPtr const l_accepted = *d["uninitialized_socket"]->GetItems().begin();
    QCOMPARE(l_accepted.IsConnected("is_obfuscated"), obfuscated);

    QVERIFY(l_peer.Send(FrameOf(FakePeer::InitPayload(l_user.toUtf8(), "P"), obfuscated)));
    QTRY_VERIFY_WITH_TIMEOUT(PeerSocketOf(l_user).IsNotNull(), 3000);
    QCOMPARE(d["uninitialized_socket"]->GetItemCount(), std::size_t(0));
    QCOMPARE(PeerSocketOf(l_user).IsConnected("is_obfuscated"), obfuscated);
    QString const l_label = obfuscated ? "obfuscated " : "";
    QVERIFY(l_log.Contains(c_area, 1, QString("Accepted %1messaging connection to user %2").arg(l_label, l_user)));
    QVERIFY(l_log.Contains(c_area, 1, QString("Peer %1connection of type P opened from user %2").arg(l_label, l_user)));

    MemStream l_message = MessageOf(Code(64, "hello"));
    peerMessenger->SendMessage(l_user, l_message);
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0], Code(64, "hello"));
    QCOMPARE(l_peer.Keys().size(), obfuscated ? 1 : 0);

    // The peer's close disposes of the connection.
    l_peer.Close();
    QTRY_VERIFY_WITH_TIMEOUT(PeerSocketOf(l_user).IsNull(), 3000);
    QVERIFY(l_log.Contains(c_area, 2, "Identified as peer socket"));
}

void TestPeerConnections::readsFirstByteTwoAsInit()
{
    FakePeer l_peer;
    QVERIFY(l_peer.ConnectTo(m_env.PlainPort()));
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(FakePeer::U8(2) + FakePeer::Text("ivan") +
                                             FakePeer::Text("P") + FakePeer::U32(0))));
    QTRY_VERIFY_WITH_TIMEOUT(PeerSocketOf("ivan").IsNotNull(), 3000);
}

void TestPeerConnections::unmasksFirstFramesOfEveryLength()
{
    // Names of 1 to 8 bytes give payloads ending in every position of a 4-byte group;
    // each arrives intact only when every group was unmasked with its own key.
    QRandomGenerator l_random(71207);
    QList<FakePeer*> l_peers;
    for (int l_length = 1; l_length <= 8; ++l_length)
    {
        QByteArray l_name;
        for (int l_index = 0; l_index < l_length; ++l_index)
            l_name += char('a' + l_random.bounded(26));
        l_name = "m" + QByteArray::number(l_length) + l_name;
        auto* lp_peer = new FakePeer(this);
        l_peers.append(lp_peer);
        QVERIFY(lp_peer->ConnectTo(m_env.ObfuscatedPort()));
        QVERIFY(lp_peer->Send(FakePeer::ObfuscatedFrame(FakePeer::InitPayload(l_name, "P"),
                                                        l_random.generate())));
        QTRY_VERIFY_WITH_TIMEOUT(PeerSocketOf(QString::fromUtf8(l_name)).IsNotNull(), 3000);
        QVERIFY(PeerSocketOf(QString::fromUtf8(l_name)).IsConnected("is_obfuscated"));
    }
    qDeleteAll(l_peers);
}

void TestPeerConnections::acceptsPiercingFrameForOwnRequest()
{
    QString const l_user = QStringLiteral("judy");
    LogCapture l_log;
    MemStream l_message = MessageOf(Code(65, "queued"));
    peerMessenger->SendMessage(l_user, l_message);
    QVERIFY(m_env.fake().WaitForCode(18));
    quint32 const l_token = TokenFor(m_env.script(), l_user, "P");

    FakePeer l_peer;
    QVERIFY(l_peer.ConnectTo(m_env.PlainPort()));
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(FakePeer::PiercingPayload(l_token))));
    QTRY_VERIFY_WITH_TIMEOUT(PeerSocketOf(l_user).IsNotNull(), 3000);
    QVERIFY(l_log.Contains(c_area, 1,
                           QString("Found req, accepted indirect connection to user %1, connection type P").arg(l_user)));
    QVERIFY(Requests(l_user, "P").empty());
    QVERIFY(d["indirect_connect_to_peer_request"]->HasItem(Value(l_token)).IsNull());

    // What waited for the connection goes out over it.
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0], Code(65, "queued"));

    // The same token cannot open a second connection.
    FakePeer l_second;
    QVERIFY(l_second.ConnectTo(m_env.PlainPort()));
    QVERIFY(l_second.Send(FakePeer::PlainFrame(FakePeer::PiercingPayload(l_token))));
    QVERIFY(l_second.WaitForDisconnected());
    QVERIFY(l_log.Contains(c_area, 1, "Req sent on indirect peer connection not found"));
}

void TestPeerConnections::handsOverIncomingFileAndDNetConnections()
{
    QSignalSpy l_fileRequested(peerMessenger, &PeerMessenger::FileConnectionRequested);
    QSignalSpy l_dnetRequested(peerMessenger, &PeerMessenger::DNetConnectionRequested);

    // "F": the first frame and the raw token in one write.
    FakePeer l_file;
    l_file.SetObfuscated(true);
    QVERIFY(l_file.ConnectTo(m_env.ObfuscatedPort()));
    QVERIFY(l_file.Send(FakePeer::ObfuscatedFrame(FakePeer::InitPayload("kim", "F"), 77) +
                        QByteArray::fromHex("efbeadde") + "rest"));
    QTRY_COMPARE_WITH_TIMEOUT(l_fileRequested.count(), 1, 3000);
    auto* lp_fileSocket = l_fileRequested[0][1].value<QTcpSocket*>();
    m_handedOver.append(lp_fileSocket);
    QCOMPARE(l_fileRequested[0][0].toString(), QStringLiteral("kim"));
    QCOMPARE(l_fileRequested[0][2].toUInt(), 0xDEADBEEFu);
    QVERIFY(peerMessenger->FindSocketBufferInfo(lp_fileSocket) == nullptr);
    QVERIFY(d["uninitialized_socket"]->HasItem(Value(lp_fileSocket)).IsNull());

    // "D": handed over at once.
    FakePeer l_dnet;
    QVERIFY(l_dnet.ConnectTo(m_env.PlainPort()));
    QVERIFY(l_dnet.Send(InitFrameOf("lee", "D") + FakePeer::PlainFrame(Code(3))));
    QTRY_COMPARE_WITH_TIMEOUT(l_dnetRequested.count(), 1, 3000);
    auto* lp_dnetSocket = l_dnetRequested[0][1].value<QTcpSocket*>();
    m_handedOver.append(lp_dnetSocket);
    QCOMPARE(l_dnetRequested[0][0].toString(), QStringLiteral("lee"));
    QVERIFY(peerMessenger->FindSocketBufferInfo(lp_dnetSocket) == nullptr);

    // Neither socket is read by the messenger any more, nor disposed of when it closes.
    QTRY_COMPARE_WITH_TIMEOUT(lp_dnetSocket->bytesAvailable(), qint64(8), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(lp_fileSocket->bytesAvailable(), qint64(4), 3000);
    QVERIFY(l_file.Send("more"));
    QTRY_COMPARE_WITH_TIMEOUT(lp_fileSocket->bytesAvailable(), qint64(8), 3000);
    l_dnet.Close();
    QTest::qWait(50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(m_handedOver.count(nullptr), 0);
    QCOMPARE(d["peer_socket"]->GetItemCount(), std::size_t(0));
}

void TestPeerConnections::forgetsSocketDeletedByItsReceiver()
{
    // A receiver may dispose of a handed-over socket from inside the signal (Qt lets it
    // do so only by deleteLater: the socket is still emitting); nothing of it may stay
    // behind with the reader, and the frames after it are not read.
    QPointer<QTcpSocket> l_deleted;
    QTcpSocket* lp_raw = nullptr;
    QMetaObject::Connection const l_connection = connect(
        peerMessenger, &PeerMessenger::DNetConnectionRequested, this,
        [&](QString const&, QTcpSocket* ip_socket)
        {
            l_deleted = ip_socket;
            lp_raw = ip_socket;
            ip_socket->deleteLater();
        });
    FakePeer l_dnet;
    QVERIFY(l_dnet.ConnectTo(m_env.PlainPort()));
    QVERIFY(l_dnet.Send(InitFrameOf("lee", "D") + FakePeer::PlainFrame(Code(3))));
    bool const l_handedOver = l_dnet.WaitForDisconnected(3000);
    disconnect(l_connection);
    QVERIFY(l_handedOver);
    QVERIFY(lp_raw);
    QVERIFY(l_deleted.isNull());
    QVERIFY(peerMessenger->FindSocketBufferInfo(lp_raw) == nullptr);
    QVERIFY(peerMessenger->FindAcceptTime(lp_raw) == nullptr);
    QCOMPARE(d["uninitialized_socket"]->GetItemCount(), std::size_t(0));
    QCOMPARE(d["peer_socket"]->GetItemCount(), std::size_t(0));
}

void TestPeerConnections::handsOverPiercedFileAndDNetConnections()
{
    QSignalSpy l_fileAccepted(peerMessenger, &PeerMessenger::FileConnectionAccepted);
    QSignalSpy l_dnetAccepted(peerMessenger, &PeerMessenger::DNetConnectionAccepted);
    peerMessenger->RequestFileConnectionToUser("mia");
    peerMessenger->RequestDNetConnection("mia");
    QTRY_COMPARE_WITH_TIMEOUT(m_env.script().IndirectRequests().size(), 2, 3000);

    FakePeer l_file;
    QVERIFY(l_file.ConnectTo(m_env.PlainPort()));
    QVERIFY(l_file.Send(FakePeer::PlainFrame(FakePeer::PiercingPayload(TokenFor(m_env.script(), "mia", "F"))) +
                        "raw"));
    QTRY_COMPARE_WITH_TIMEOUT(l_fileAccepted.count(), 1, 3000);
    auto* lp_fileSocket = l_fileAccepted[0][1].value<QTcpSocket*>();
    m_handedOver.append(lp_fileSocket);
    QCOMPARE(l_fileAccepted[0][0].toString(), QStringLiteral("mia"));
    QVERIFY(peerMessenger->FindSocketBufferInfo(lp_fileSocket) == nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(lp_fileSocket->bytesAvailable(), qint64(3), 3000);

    FakePeer l_dnet;
    l_dnet.SetObfuscated(true);
    QVERIFY(l_dnet.ConnectTo(m_env.ObfuscatedPort()));
    QVERIFY(l_dnet.Send(FakePeer::ObfuscatedFrame(FakePeer::PiercingPayload(TokenFor(m_env.script(), "mia", "D")),
                                                  0x80000001u)));
    QTRY_COMPARE_WITH_TIMEOUT(l_dnetAccepted.count(), 1, 3000);
    m_handedOver.append(l_dnetAccepted[0][1].value<QTcpSocket*>());
    QVERIFY(Requests("mia", "F").empty());
    QVERIFY(Requests("mia", "D").empty());
    QCOMPARE(d["peer_socket"]->GetItemCount(), std::size_t(0));
}

void TestPeerConnections::handsOverDirectFileAndDNetConnections()
{
    QSignalSpy l_fileAccepted(peerMessenger, &PeerMessenger::FileConnectionAccepted);
    QSignalSpy l_dnetAccepted(peerMessenger, &PeerMessenger::DNetConnectionAccepted);
    FakePeer l_file;
    FakePeer l_dnet;
    SetAddress("nina", l_file.Listen());
    SetAddress("otto", l_dnet.Listen());
    peerMessenger->RequestFileConnectionToUser("nina");
    peerMessenger->RequestDNetConnection("otto");

    QTRY_COMPARE_WITH_TIMEOUT(l_fileAccepted.count(), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(l_dnetAccepted.count(), 1, 3000);
    auto* lp_fileSocket = l_fileAccepted[0][1].value<QTcpSocket*>();
    auto* lp_dnetSocket = l_dnetAccepted[0][1].value<QTcpSocket*>();
    m_handedOver.append(lp_fileSocket);
    m_handedOver.append(lp_dnetSocket);
    QCOMPARE(l_fileAccepted[0][0].toString(), QStringLiteral("nina"));
    QCOMPARE(l_dnetAccepted[0][0].toString(), QStringLiteral("otto"));
    QVERIFY(l_file.WaitForFrames(1));
    QVERIFY(l_dnet.WaitForFrames(1));
    QCOMPARE(l_file.Frames()[0], FakePeer::InitPayload("alice", "F"));
    QCOMPARE(l_dnet.Frames()[0], FakePeer::InitPayload("alice", "D"));

    // The messenger reads neither, and an error on them is the new owner's business.
    QVERIFY(l_file.Send("token"));
    QTRY_COMPARE_WITH_TIMEOUT(lp_fileSocket->bytesAvailable(), qint64(5), 3000);
    l_dnet.Close();
    QTest::qWait(50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(m_handedOver.count(nullptr), 0);
    QVERIFY(Requests("nina", "F").empty());
}

void TestPeerConnections::handsOverConnectBackFileAndDNetConnections()
{
    QSignalSpy l_fileRequested(peerMessenger, &PeerMessenger::FileConnectionRequested);
    QSignalSpy l_dnetRequested(peerMessenger, &PeerMessenger::DNetConnectionRequested);
    FakePeer l_file;
    FakePeer l_dnet;
    m_env.script().RelayConnectionRequest("pia", "F", l_file.Listen(), 501);
    m_env.script().RelayConnectionRequest("quin", "D", l_dnet.Listen(), 502);

    QVERIFY(l_file.WaitForFrames(1));
    QCOMPARE(l_file.Frames()[0], FakePeer::PiercingPayload(501));
    // The uploader's raw token follows the piercing frame.
    QVERIFY(l_file.Send(QByteArray::fromHex("2a000000")));
    QTRY_COMPARE_WITH_TIMEOUT(l_fileRequested.count(), 1, 3000);
    m_handedOver.append(l_fileRequested[0][1].value<QTcpSocket*>());
    QCOMPARE(l_fileRequested[0][0].toString(), QStringLiteral("pia"));
    QCOMPARE(l_fileRequested[0][2].toUInt(), 42u);

    QTRY_COMPARE_WITH_TIMEOUT(l_dnetRequested.count(), 1, 3000);
    auto* lp_dnetSocket = l_dnetRequested[0][1].value<QTcpSocket*>();
    m_handedOver.append(lp_dnetSocket);
    QCOMPARE(l_dnetRequested[0][0].toString(), QStringLiteral("quin"));
    QVERIFY(l_dnet.WaitForFrames(1));
    QCOMPARE(l_dnet.Frames()[0], FakePeer::PiercingPayload(502));

    // A handed-over socket that closes stays its receiver's: no disposal, no report.
    l_dnet.Close();
    QTest::qWait(100);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(m_handedOver.count(nullptr), 0);
    QVERIFY(!m_env.fake().HasCode(1001));
    QCOMPARE(d["peer_connection_request"]->GetItemCount(), std::size_t(0));
}

void TestPeerConnections::failsOnlyAfterBothAttempts()
{
    QString const l_user = QStringLiteral("rita");
    LogCapture l_log;
    QSignalSpy l_failed(peerMessenger, &PeerMessenger::ConnectionToUserFailed);
    SetAddress(l_user, FreePort());
    peerMessenger->ConnectToUser(l_user, "P");
    QVERIFY(m_env.fake().WaitForCode(18));

    QTRY_VERIFY_WITH_TIMEOUT(
        l_log.Contains(c_area, 1, QString("Direct connection of type P to user %1 failed").arg(l_user)), 3000);
    QVERIFY(l_log.Contains(c_area, 2, "Indirect request found. Not removing request."));
    QCOMPARE(l_failed.count(), 0);
    QCOMPARE(Requests(l_user, "P").size(), std::size_t(1));

    m_env.script().ReportCantConnect(TokenFor(m_env.script(), l_user, "P"));
    QTRY_COMPARE_WITH_TIMEOUT(l_failed.count(), 1, 3000);
    QCOMPARE(l_failed[0][0].toString(), l_user);
    QCOMPARE(l_failed[0][1].toString(), QStringLiteral("P"));
    QVERIFY(l_log.Contains(c_area, 1, QString("Indirect connection of type P to user %1 failed").arg(l_user)));
    QVERIFY(l_log.Contains(c_area, 2, "Neither socket nor indirect request found. Removing."));
    QVERIFY(Requests(l_user, "P").empty());

    // A report for a token nobody waits for changes nothing.
    m_env.script().ReportCantConnect(987654);
    m_env.fake().Idle(50);
    QCOMPARE(l_failed.count(), 1);
}

void TestPeerConnections::retryFromFailureSignalStartsNewRequest()
{
    QString const l_user = QStringLiteral("sam");
    int l_retries = 0;
    QMetaObject::Connection const l_retry =
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this,
                [&](QString user, QString type) {
                    if (l_retries++ == 0)
                        peerMessenger->ConnectToUser(user, type.toLatin1().constData());
                });
    peerMessenger->ConnectToUser(l_user, "P");
    QVERIFY(m_env.fake().WaitForCode(18));
    // Without an address there is no direct socket: the indirect failure ends it.
    m_env.script().ReportCantConnect(TokenFor(m_env.script(), l_user, "P"));
    QTRY_COMPARE_WITH_TIMEOUT(l_retries, 1, 3000);
    disconnect(l_retry);
    QCOMPARE(Requests(l_user, "P").size(), std::size_t(1));
    QTRY_COMPARE_WITH_TIMEOUT(m_env.script().IndirectRequests().size(), 2, 3000);
}

void TestPeerConnections::tellsServerWhenConnectBackFails()
{
    LogCapture l_log;
    m_env.script().RelayConnectionRequest("tom", "P", FreePort(), 0x01020304u);
    QVERIFY(m_env.fake().WaitForCode(1001));
    QCOMPARE(m_env.script().CantConnectReports(),
             (QList<QPair<quint32, QString>>{{0x01020304u, QStringLiteral("tom")}}));
    QVERIFY(l_log.Contains(c_area, 2, "Identified as peer connection request socket"));
    QVERIFY(l_log.Contains(c_area, 2, "Request found, removing"));
    QCOMPARE(d["peer_connection_request"]->GetItemCount(), std::size_t(0));
    QCOMPARE(d["peer_connection_request_socket"]->GetItemCount(), std::size_t(0));
}

void TestPeerConnections::refusesBadFirstFrames_data()
{
    QTest::addColumn<bool>("obfuscated");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("reason");

    QTest::newRow("unknown token") << false << FakePeer::PiercingPayload(0x7777) << "Req sent on indirect peer connection not found";
    QTest::newRow("unknown token, obfuscated")
        << true << FakePeer::PiercingPayload(0x7777) << "Req sent on obfuscated indirect peer connection not found";
    QTest::newRow("short token") << false << QByteArray::fromHex("000102")
                                 << "Failed to read req from indirect peer connection";
    QTest::newRow("unknown type") << false << FakePeer::InitPayload("uma", "X")
                                  << "Peer connection of type X opened from user uma";
    QTest::newRow("no trailing number") << false
                                        << FakePeer::U8(1) + FakePeer::Text("uma") + FakePeer::Text("P")
                                        << "Failure initializing peer connection, disposing of socket";
    QTest::newRow("name longer than the bound")
        << false << FakePeer::U8(1) + FakePeer::U32(131073) + QByteArray(16, 'n')
        << "Failure initializing peer connection, disposing of socket";
}

void TestPeerConnections::refusesBadFirstFrames()
{
    QFETCH(bool, obfuscated);
    QFETCH(QByteArray, payload);
    QFETCH(QString, reason);
    LogCapture l_log;
    FakePeer l_peer;
    QVERIFY(l_peer.ConnectTo(obfuscated ? m_env.ObfuscatedPort() : m_env.PlainPort()));
    QVERIFY(l_peer.Send(FrameOf(payload, obfuscated)));
    QVERIFY(l_peer.WaitForDisconnected());
    QVERIFY(l_log.Contains(c_area, 1, reason));
    QVERIFY(l_log.Contains(c_area, 1,
                           QString("Failure initializing %1peer connection, disposing of socket")
                               .arg(obfuscated ? "obfuscated " : "")));
    QTRY_COMPARE_WITH_TIMEOUT(d["uninitialized_socket"]->GetItemCount(), std::size_t(0), 3000);
    QCOMPARE(d["peer_socket"]->GetItemCount(), std::size_t(0));
}

void TestPeerConnections::disposesOfConnectBackOfUnknownType()
{
    FakePeer l_peer;
    m_env.script().RelayConnectionRequest("vic", "X", l_peer.Listen(), 9);
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0], FakePeer::PiercingPayload(9));
    QVERIFY(l_peer.WaitForDisconnected());
    QCOMPARE(d["peer_connection_request"]->GetItemCount(), std::size_t(0));
    QCOMPARE(d["peer_socket"]->GetItemCount(), std::size_t(0));
}

QTEST_GUILESS_MAIN(TestPeerConnections)
#include "tst_peer_connections.moc"
