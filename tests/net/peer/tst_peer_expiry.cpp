#include "PeerTestEnv.h"
#include "net/peer/InFunction.h"
#include "support/LogCapture.h"

#include <QPointer>
#include <QTcpSocket>

using namespace PeerTestEnv;

namespace
{
quint32 TokenFor(FakeServerPeerScript const& script, QString const& user)
{
    for (FakeServerPeerScript::IndirectRequest const& l_request : script.IndirectRequests())
        if (l_request.user == user)
            return l_request.token;
    return 0xFFFFFFFFu;
}
} // namespace

class TestPeerExpiry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void dropsQueuedMessagesAfterFiveMinutes();
    void retiresExpiredIndirectRequest();
    void onlyLogsExpiryOfIndirectRequestThatWasAnswered();
    void abortsTimedOutDirectAttempt();
    void tellsServerAboutTimedOutConnectBack();
    void closesIdleMessagingConnection();
    void closesAcceptedConnectionWithoutFirstFrame();
    void endsIdleConnectionToPeerThatStoppedReading();
    void closesFileConnectionsThatNeverSendTheirToken();
    void freesActivityCellWithItsSocket();
    void marksFunctionsInProgress();

private:
    Fixture m_env;
};

void TestPeerExpiry::initTestCase()
{
    QVERIFY(m_env.SetUp());
}

void TestPeerExpiry::cleanupTestCase()
{
    ClearConnections();
    m_env.TearDown();
}

void TestPeerExpiry::cleanup()
{
    ClearConnections();
    m_env.fake().ClearFrames();
}

void TestPeerExpiry::dropsQueuedMessagesAfterFiveMinutes()
{
    QString const l_user = QStringLiteral("abel");
    LogCapture l_log;
    MemStream l_old = MessageOf(FakePeer::U32(81));
    MemStream l_recent = MessageOf(FakePeer::U32(82));
    peerMessenger->SendMessage(l_user, l_old);
    peerMessenger->SendMessage(l_user, l_recent);
    ItemList const l_queued = User(l_user).GetItems("unsent_message").SortNumericBy("send_order");
    QCOMPARE(l_queued.size(), std::size_t(2));
    // Time stamps have one-second resolution: 300 s back is always over the limit,
    // 299 s back never is.
    BackDate(l_queued[0], "send_time", 300);
    BackDate(l_queued[1], "send_time", 299);
    l_log.Clear();

    peerMessenger->EveryHalfMinute();
    ItemSet const l_left = User(l_user).GetItems("unsent_message");
    QCOMPARE(l_left.size(), std::size_t(1));
    QCOMPARE(*l_left.begin(), l_queued[1]);
    QCOMPARE(l_left.begin()->AsPtr<MemStream>()->GetBufferLength(), std::uint64_t(4));
    // Dropping is silent and leaves the connection request running.
    QVERIFY(l_log.Texts(c_area).isEmpty());
    QCOMPARE(Requests(l_user, "P").size(), std::size_t(1));
}

void TestPeerExpiry::retiresExpiredIndirectRequest()
{
    QString const l_user = QStringLiteral("beth");
    LogCapture l_log;
    QSignalSpy l_failed(peerMessenger, &PeerMessenger::ConnectionToUserFailed);
    peerMessenger->ConnectToUser(l_user, "F");
    ItemPtr const l_indirect = User(l_user)["indirect_connect_to_peer_request"];
    QVERIFY(l_indirect);

    BackDate(l_indirect, "send_time", 59);
    peerMessenger->EveryHalfMinute();
    QCOMPARE(l_failed.count(), 0);

    BackDate(l_indirect, "send_time", 61);
    peerMessenger->EveryHalfMinute();
    QVERIFY(l_log.Contains(c_area, 1, QString("Indirect connection request of type F to %1 expired, removing.").arg(l_user)));
    // No direct attempt ever started (no address): the request ends with the failure.
    QCOMPARE(l_failed.count(), 1);
    QCOMPARE(l_failed[0][1].toString(), QStringLiteral("F"));
    QVERIFY(Requests(l_user, "F").empty());
}

void TestPeerExpiry::onlyLogsExpiryOfIndirectRequestThatWasAnswered()
{
    QString const l_user = QStringLiteral("carl");
    LogCapture l_log;
    QSignalSpy l_failed(peerMessenger, &PeerMessenger::ConnectionToUserFailed);
    FakePeer l_peer;
    SetAddress(l_user, l_peer.Listen());
    peerMessenger->ConnectToUser(l_user, "P");
    QTRY_VERIFY_WITH_TIMEOUT(User(l_user)["peer_socket"].IsNotNull(), 3000);
    QVERIFY(Requests(l_user, "P").empty());

    BackDate(User(l_user)["indirect_connect_to_peer_request"], "send_time", 61);
    peerMessenger->EveryHalfMinute();
    QVERIFY(l_log.Contains(c_area, 1, QString("Indirect connection request of type P to %1 expired, removing.").arg(l_user)));
    QCOMPARE(d["indirect_connect_to_peer_request"]->GetItemCount(), std::size_t(0));
    QCOMPARE(l_failed.count(), 0);
    QVERIFY(User(l_user)["peer_socket"].IsNotNull());
}

void TestPeerExpiry::abortsTimedOutDirectAttempt()
{
    QString const l_user = QStringLiteral("dora");
    LogCapture l_log;
    QSignalSpy l_failed(peerMessenger, &PeerMessenger::ConnectionToUserFailed);
    FakePeer l_peer;
    SetAddress(l_user, l_peer.Listen());
    peerMessenger->ConnectToUser(l_user, "P");

    // Swept before the event loop has seen the attempt through.
    ItemPtr const l_attempt = User(l_user)["connect_to_peer_request_socket"];
    QVERIFY(l_attempt);
    QPointer<QTcpSocket> const l_socket = l_attempt.AsPtr<QTcpSocket>();
    QCOMPARE(l_socket->state(), QAbstractSocket::ConnectingState);
    BackDate(l_attempt, "socket_creation_time", 61);
    peerMessenger->EveryHalfMinute();
    QVERIFY(l_log.Contains(c_area, 1, QString("Direct connection attempt of type P to %1 timed out, closing.").arg(l_user)));
    QVERIFY(l_socket.isNull() || l_socket->state() == QAbstractSocket::UnconnectedState);
    QCOMPARE(d["connect_to_peer_request_socket"]->GetItemCount(), std::size_t(0));
    QVERIFY(l_log.Contains(c_area, 2, "Indirect request found. Not removing request."));

    // The aborted attempt never reports a connection and never sends its init frame.
    QTest::qWait(100);
    QVERIFY(l_socket.isNull());
    QVERIFY(l_peer.Received().isEmpty());
    QVERIFY(User(l_user)["peer_socket"].IsNull());
    QCOMPARE(l_failed.count(), 0);

    // The indirect attempt's failure is the later ending.
    QVERIFY(m_env.fake().WaitForCode(18));
    m_env.script().ReportCantConnect(TokenFor(m_env.script(), l_user));
    QTRY_COMPARE_WITH_TIMEOUT(l_failed.count(), 1, 3000);
}

void TestPeerExpiry::tellsServerAboutTimedOutConnectBack()
{
    QString const l_user = QStringLiteral("egon");
    LogCapture l_log;
    FakePeer l_peer;
    SetAddress(l_user, l_peer.Listen());
    // A relayed request as the server connection records it, answered at once.
    ItemPtr const l_request = d["peer_connection_request"]->NewItem();
    l_request += d["peer_connection_request_id"]->GetItem(Value(4242u));
    l_request += d["peer_connection_type"]->GetItem(Value("P"));
    l_request += User(l_user);
    ItemPtr const l_attempt = l_request["peer_connection_request_socket"];
    QVERIFY(l_attempt);
    QPointer<QTcpSocket> const l_socket = l_attempt.AsPtr<QTcpSocket>();
    QCOMPARE(l_socket->state(), QAbstractSocket::ConnectingState);

    BackDate(l_attempt, "socket_creation_time", 59);
    peerMessenger->EveryHalfMinute();
    QVERIFY(d["peer_connection_request_socket"]->HasItem(Value(l_socket.data())));

    BackDate(l_attempt, "socket_creation_time", 61);
    peerMessenger->EveryHalfMinute();
    QVERIFY(l_log.Contains(c_area, 1, QString("Indirect connection attempt of type P to %1 timed out, closing.").arg(l_user)));
    QCOMPARE(d["peer_connection_request"]->GetItemCount(), std::size_t(0));
    QCOMPARE(d["peer_connection_request_socket"]->GetItemCount(), std::size_t(0));
    QVERIFY(m_env.fake().WaitForCode(1001));
    QCOMPARE(m_env.script().CantConnectReports(), (QList<QPair<quint32, QString>>{{4242u, l_user}}));

    QTest::qWait(100);
    QVERIFY(l_socket.isNull());
    QVERIFY(l_peer.Received().isEmpty());
}

void TestPeerExpiry::closesIdleMessagingConnection()
{
    LogCapture l_log;
    FakePeer l_idle;
    FakePeer l_busy;
    for (auto [lp_peer, lp_name] : {std::pair{&l_idle, "fay"}, std::pair{&l_busy, "gus"}})
    {
        QVERIFY(lp_peer->ConnectTo(m_env.PlainPort()));
        QVERIFY(lp_peer->Send(InitFrameOf(lp_name, "P")));
        QTRY_VERIFY_WITH_TIMEOUT(User(lp_name)["peer_socket"].IsNotNull(), 3000);
    }
    *User("fay")["peer_socket"]["last_activity_time"].AsPtr<QDateTime>() =
        QDateTime::currentDateTime().addMSecs(-120000);
    *User("gus")["peer_socket"]["last_activity_time"].AsPtr<QDateTime>() =
        QDateTime::currentDateTime().addMSecs(-119000);

    peerMessenger->EveryHalfMinute();
    QVERIFY(l_log.Contains(c_area, 1, "Peer connection to user fay expired, closing."));
    QVERIFY(!l_log.Contains(c_area, 1, "Peer connection to user gus expired, closing."));
    QVERIFY(l_idle.WaitForDisconnected());
    QVERIFY(User("fay")["peer_socket"].IsNull());
    QVERIFY(User("gus")["peer_socket"].IsNotNull());
    QVERIFY(!l_busy.IsDisconnected());

    // A frame from the peer keeps the connection alive.
    *User("gus")["peer_socket"]["last_activity_time"].AsPtr<QDateTime>() =
        QDateTime::currentDateTime().addMSecs(-200000);
    QVERIFY(l_busy.Send(FakePeer::PlainFrame(FakePeer::U32(52))));
    QTRY_VERIFY_WITH_TIMEOUT(
        User("gus")["peer_socket"]["last_activity_time"].AsPtr<QDateTime>()->msecsTo(QDateTime::currentDateTime()) < 5000,
        3000);
    peerMessenger->EveryHalfMinute();
    QVERIFY(User("gus")["peer_socket"].IsNotNull());
}

void TestPeerExpiry::closesAcceptedConnectionWithoutFirstFrame()
{
    LogCapture l_log;
    FakePeer l_silent;
    QVERIFY(l_silent.ConnectTo(m_env.ObfuscatedPort()));
    QTRY_COMPARE_WITH_TIMEOUT(d["uninitialized_socket"]->GetItemCount(), std::size_t(1), 3000);
    auto* lp_socket = d["uninitialized_socket"]->GetItems().begin()->AsPtr<QTcpSocket>();
    QDateTime* lp_acceptTime = peerMessenger->FindAcceptTime(lp_socket);
    QVERIFY(lp_acceptTime);

    *lp_acceptTime = QDateTime::currentDateTime().addSecs(-59);
    peerMessenger->EveryHalfMinute();
    QCOMPARE(d["uninitialized_socket"]->GetItemCount(), std::size_t(1));

    *lp_acceptTime = QDateTime::currentDateTime().addSecs(-61);
    peerMessenger->EveryHalfMinute();
    QCOMPARE(d["uninitialized_socket"]->GetItemCount(), std::size_t(0));
    QVERIFY(l_log.Contains(c_area, 2, "Identified as uninitialized socket"));
    QVERIFY(l_silent.WaitForDisconnected());
    QVERIFY(peerMessenger->FindAcceptTime(lp_socket) == nullptr);

    // A connection that did send its first frame is no longer timed this way.
    FakePeer l_talker;
    QVERIFY(l_talker.ConnectTo(m_env.PlainPort()));
    QTRY_COMPARE_WITH_TIMEOUT(d["uninitialized_socket"]->GetItemCount(), std::size_t(1), 3000);
    auto* lp_talker = d["uninitialized_socket"]->GetItems().begin()->AsPtr<QTcpSocket>();
    QVERIFY(l_talker.Send(InitFrameOf("hugo", "P")));
    QTRY_VERIFY_WITH_TIMEOUT(User("hugo")["peer_socket"].IsNotNull(), 3000);
    QVERIFY(peerMessenger->FindAcceptTime(lp_talker) == nullptr);
}

void TestPeerExpiry::endsIdleConnectionToPeerThatStoppedReading()
{
    QString const l_user = QStringLiteral("ida");
    LogCapture l_log;
    // A peer that says who it is and then reads nothing more: its receive window and
    // the client's send buffer are small, so most of a large message stays in the
    // client's socket.
    QTcpSocket l_stalled;
    l_stalled.setReadBufferSize(1);
    l_stalled.connectToHost(QHostAddress(QHostAddress::LocalHost), m_env.PlainPort());
    QVERIFY(l_stalled.waitForConnected(3000));
    l_stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    l_stalled.write(InitFrameOf("ida", "P"));
    QVERIFY(l_stalled.flush());
    QTRY_VERIFY_WITH_TIMEOUT(User(l_user)["peer_socket"].IsNotNull(), 3000);
    ItemPtr const l_record = User(l_user)["peer_socket"];
    QPointer<QTcpSocket> const l_socket = l_record.AsPtr<QTcpSocket>();
    l_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);
    MemStream l_bulk = MessageOf(FakePeer::U32(5) + QByteArray(4 * 1024 * 1024, 'x'));
    peerMessenger->SendMessage(l_user, l_bulk);
    l_socket->flush();
    QVERIFY(l_socket->bytesToWrite() > 0);

    *l_record["last_activity_time"].AsPtr<QDateTime>() =
        QDateTime::currentDateTime().addMSecs(-121000);
    peerMessenger->EveryHalfMinute();
    peerMessenger->EveryHalfMinute();
    // Ended at the first sweep, record and all; the second finds nothing to close.
    QCOMPARE(l_log.Count(c_area, 1, "Peer connection to user ida expired, closing."), 1);
    QVERIFY(User(l_user)["peer_socket"].IsNull());
    QVERIFY(l_socket.isNull() || l_socket->state() == QAbstractSocket::UnconnectedState);

    // The next message asks for a fresh connection and goes out over it.
    FakePeer l_fresh;
    SetAddress(l_user, l_fresh.Listen());
    MemStream l_later = MessageOf(FakePeer::U32(22) + FakePeer::Text("still there?"));
    peerMessenger->SendMessage(l_user, l_later);
    QVERIFY(l_fresh.WaitForFrames(2));
    QCOMPARE(l_fresh.Frames()[0], FakePeer::InitPayload("alice", "P"));
    QCOMPARE(l_fresh.Frames()[1], FakePeer::U32(22) + FakePeer::Text("still there?"));
    QVERIFY(l_log.Texts(c_area).filter("Error writing message to socket").isEmpty());
}

void TestPeerExpiry::closesFileConnectionsThatNeverSendTheirToken()
{
    LogCapture l_log;
    // An accepted connection whose init frame says "F"...
    FakePeer l_accepted;
    QVERIFY(l_accepted.ConnectTo(m_env.PlainPort()));
    QTRY_COMPARE_WITH_TIMEOUT(d["uninitialized_socket"]->GetItemCount(), std::size_t(1), 3000);
    auto* lp_accepted = d["uninitialized_socket"]->GetItems().begin()->AsPtr<QTcpSocket>();
    QVERIFY(l_accepted.Send(InitFrameOf("jo", "F")));

    // ... and a connect-back of type "F" that sent its piercing frame.
    FakePeer l_called;
    SetAddress("kim", l_called.Listen());
    ItemPtr const l_request = d["peer_connection_request"]->NewItem();
    l_request += d["peer_connection_request_id"]->GetItem(Value(4343u));
    l_request += d["peer_connection_type"]->GetItem(Value("F"));
    l_request += User("kim");
    auto* lp_called = l_request["peer_connection_request_socket"].AsPtr<QTcpSocket>();
    QVERIFY(lp_called);
    QVERIFY(l_called.WaitForFrames(1));

    QList<std::pair<QTcpSocket*, FakePeer*>> const l_waiting{{lp_accepted, &l_accepted},
                                                             {lp_called, &l_called}};
    auto const l_awaitingToken = [](QTcpSocket* ip_socket) {
        PeerMessenger::SocketBufferInfo const* lp_info = peerMessenger->FindSocketBufferInfo(ip_socket);
        return lp_info && lp_info->m_isAwaitingFileToken;
    };
    for (auto const& [lp_socket, lp_peer] : l_waiting)
        QTRY_VERIFY_WITH_TIMEOUT(l_awaitingToken(lp_socket), 3000);

    for (int const l_age : {59, 61})
    {
        for (auto const& [lp_socket, lp_peer] : l_waiting)
            peerMessenger->GetSocketBufferInfo(lp_socket).m_tokenWaitStart =
                QDateTime::currentDateTime().addSecs(-l_age);
        peerMessenger->EveryHalfMinute();
        for (auto const& [lp_socket, lp_peer] : l_waiting)
        {
            bool const l_expired = l_age > 60;
            QCOMPARE(peerMessenger->FindSocketBufferInfo(lp_socket) == nullptr, l_expired);
            if (l_expired)
                QVERIFY(lp_peer->WaitForDisconnected());
            else
                QVERIFY(!lp_peer->IsDisconnected());
        }
    }
    QCOMPARE(l_log.Count(c_area, 1, "File connection without its token expired, closing."), 2);
}

void TestPeerExpiry::freesActivityCellWithItsSocket()
{
    int l_dummy = 0;
    ItemPtr const l_socket = d["peer_socket"]->NewItem(Value(&l_dummy));
    Value const l_cell = l_socket["last_activity_time"].GetValue();
    QVERIFY(d["last_activity_time"]->HasItem(l_cell));
    l_socket.Remove();
    // The cell's item goes with it (the sanitizer's leak check sees the QDateTime).
    QVERIFY(d["last_activity_time"]->HasItem(l_cell).IsNull());
}

void TestPeerExpiry::marksFunctionsInProgress()
{
    QVERIFY(!IsInFunction("Outer"));
    {
        InFunction l_outer("Outer");
        QVERIFY(IsInFunction("Outer"));
        {
            InFunction l_inner("Outer");
            QVERIFY(IsInFunction("Outer"));
        }
        // The inner marker took the shared name with it.
        QVERIFY(!IsInFunction("Outer"));
        l_outer.Dispose();
        l_outer.Dispose();
        QVERIFY(!IsInFunction("Outer"));
    }
    {
        InFunction l_marker("Other");
        QVERIFY(IsInFunction("Other"));
        QVERIFY(!IsInFunction("Outer"));
    }
    QVERIFY(!IsInFunction("Other"));
    QVERIFY(!IsInFunction("OnSocketReadyToRead"));
}

QTEST_GUILESS_MAIN(TestPeerExpiry)
#include "tst_peer_expiry.moc"
