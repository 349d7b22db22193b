#include "PeerTestEnv.h"
#include "net/peer/DNetManager.h"
#include "support/FakeDNetPeers.h"
#include "support/IncomingFrames.h"
#include "support/LogCapture.h"

#include <QPointer>
#include <QTcpSocket>

#include <memory>

using namespace PeerTestEnv;
namespace P = DNetPayloads;

namespace
{
QString const c_dnet = QStringLiteral("Distributed Network");

// The value the tree state holds under the key ("" when none).
QString State(char const* key)
{
    return d["dnet_global"]->HasItem(Value(key))["dnet_value"].AsString();
}

void PutState(char const* key, QString const& value)
{
    d["dnet_global"]->GetItem(Value(key)) += d["dnet_value"]->GetItem(Value(value));
}

void ClearState(char const* key)
{
    if (ItemPtr const l_key = d["dnet_global"]->HasItem(Value(key)))
        l_key.Disconnect("dnet_value");
}

QByteArray I32(qint32 value)
{
    return FakePeer::U32(quint32(value));
}

QByteArray Framed(QList<QByteArray> const& payloads)
{
    QByteArray l_bytes;
    for (QByteArray const& l_payload : payloads)
        l_bytes += FakePeer::PlainFrame(l_payload);
    return l_bytes;
}
} // namespace

class TestDNet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void decidesWhetherToParent_data();
    void decidesWhetherToParent();
    void adoptsFirstSearchingCandidateEndToEnd();
    void tellsNewChildWhereItStands_data();
    void tellsNewChildWhereItStands();
    void computesChildDepthFromReports();
    void closesOnBadFrames_data();
    void closesOnBadFrames();
    void takesLongestFrameOnlyOnceArrived();

private:
    // Code 100 must not have gone out: a later message (92) has arrived in order.
    void VerifyNoCanParentSent();
    void Reconnect();
    // A candidate connection from this client to `candidate`, proposed by the server.
    bool Propose(FakeDNetCandidate& candidate, QString const& user);
    // `child` connected to this client as `user`, and the client has taken it on.
    bool Join(FakeDNetChild& child, QString const& user, QByteArray const& after = {});
    // The fields of the fake server's index-th frame with the code.
    QByteArray FieldsOf(quint32 code, int index = 0)
    {
        return m_env.fake().FramesWithCode(code).value(index).Fields();
    }

    Fixture m_env;
    std::unique_ptr<DNetManager> mp_dnet;
};

void TestDNet::initTestCase()
{
    QVERIFY(m_env.SetUp());
    mp_dnet = std::make_unique<DNetManager>();
    QCOMPARE(dnetManager, mp_dnet.get());
}

void TestDNet::cleanupTestCase()
{
    mp_dnet.reset();
    QCOMPARE(dnetManager, nullptr);
    ClearConnections();
    m_env.TearDown();
}

void TestDNet::cleanup()
{
    // Stand-in children have no socket behind them.
    for (ItemPtr const& l_child : d["dnet_child"]->GetItems())
        if (l_child.AsUInt64() == 0)
            l_child.Remove();
    // The fakes of a test are gone; wait until the client has noticed.
    QTRY_VERIFY_WITH_TIMEOUT(d["dnet_child"]->GetItemCount() == 0 &&
                                 d["dnet_parent_candidate"]->GetItemCount() == 0 &&
                                 State("dnet_parent_user").isEmpty(),
                             3000);
    for (char const* lp_key : {"dnet_level", "dnet_group_leader", "dnet_child_depth"})
        ClearState(lp_key);
    ClearConnections();
    m_env.fake().ClearFrames();
}

void TestDNet::VerifyNoCanParentSent()
{
    gp_server->GetOwnPrivilegesStatus();
    QVERIFY(m_env.fake().WaitForCode(92));
    QVERIFY(!m_env.fake().HasCode(100));
}

void TestDNet::Reconnect()
{
    m_env.fake().DropClient();
    QTRY_VERIFY_WITH_TIMEOUT(!gp_server->IsConnected(), 3000);
    QSignalSpy l_connected(gp_server, &Server::Connected);
    gp_server->AttemptReconnect();
    QVERIFY(l_connected.wait(3000));
}

bool TestDNet::Propose(FakeDNetCandidate& candidate, QString const& user)
{
    quint16 const l_port = candidate.Listen();
    m_env.fake().Send(IncomingFrames::PossibleParents({{user, c_loopback, l_port}}).Frame());
    return candidate.WaitForClientInit("alice") &&
           QTest::qWaitFor([&] { return User(user)["dnet_parent_candidate"].IsNotNull(); }, 3000);
}

bool TestDNet::Join(FakeDNetChild& child, QString const& user, QByteArray const& after)
{
    return child.Join(m_env.PlainPort(), user.toUtf8(), after) &&
           QTest::qWaitFor([&] { return User(user)["dnet_child"].IsNotNull(); }, 3000);
}

void TestDNet::decidesWhetherToParent_data()
{
    QTest::addColumn<int>("minSpeed");
    QTest::addColumn<int>("ratio");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("children");
    QTest::addColumn<qint64>("capacity"); // -1: below the minimum speed, -2: no decision
    QTest::addColumn<bool>("canParent");

    // -1 is what the client holds until the server has sent the figure.
    QTest::newRow("ratio not known") << 100 << -1 << "102400" << 0 << qint64(-2) << false;
    QTest::newRow("99 of 100 children") << 100 << 10 << "102400" << 99 << qint64(100) << true;
    QTest::newRow("100 of 100 children") << 100 << 10 << "102400" << 100 << qint64(100) << false;
    QTest::newRow("speed at the minimum") << 100 << 1000 << "102400" << 0 << qint64(1) << true;
    QTest::newRow("one below the minimum") << 100 << 1000 << "102399" << 0 << qint64(-1) << false;
    QTest::newRow("ratio 0") << 100 << 0 << "102400" << 0 << qint64(0) << false;
    QTest::newRow("negative ratio") << 100 << -5 << "102400" << 0 << qint64(0) << false;
    QTest::newRow("speed times 10 past 32 bits")
        << 0 << 1 << "214748365" << 0 << qint64(2097152) << true;
    QTest::newRow("speed past 32 bits")
        << 100 << 10 << "3000000000" << 0 << qint64(2929687) << true;
    QTest::newRow("minimum times 1024 past 32 bits")
        << 2147483647 << 1 << "2147483647" << 0 << qint64(-1) << false;
}

void TestDNet::decidesWhetherToParent()
{
    QFETCH(int, minSpeed);
    QFETCH(int, ratio);
    QFETCH(QString, speed);
    QFETCH(int, children);
    QFETCH(qint64, capacity);
    QFETCH(bool, canParent);

    // From an unknown speed and, after a login, a status of false.
    d["global"]->GetItem(Value("upload_speed")).Disconnect("global_value");
    Reconnect();
    QVERIFY(!dnetManager->LastCanParentStatus());
    LogCapture l_log;
    m_env.fake().Send(IncomingFrames::I32Message(83, minSpeed).Frame());
    m_env.fake().Send(IncomingFrames::I32Message(84, ratio).Frame());
    QString const l_ratioLine =
        QString("Received parent speed connection ratio %1, currently not processing");
    QTRY_VERIFY_WITH_TIMEOUT(l_log.Contains(c_dnet, 1, l_ratioLine.arg(ratio)), 3000);
    for (int l_child = 0; l_child < children; ++l_child)
        d["dnet_child"]->GetItem(Value(QString("stand-in %1").arg(l_child)));
    m_env.fake().ClearFrames();

    SetSetting("upload_speed", speed);
    if (capacity == -2)
        QVERIFY(!l_log.Contains(c_dnet, 1, "Determining whether we can accept child connections."));
    else
        QVERIFY(l_log.Contains(c_dnet, 2,
                               capacity < 0
                                   ? QString("Below minimum parent speed, so no.")
                                   : QString("Currently have %1 child connections, max capacity %2")
                                         .arg(children)
                                         .arg(capacity)));
    QCOMPARE(dnetManager->LastCanParentStatus(), canParent);
    if (!canParent)
        return VerifyNoCanParentSent();
    QVERIFY(m_env.fake().WaitForCode(100));
    QCOMPARE(FieldsOf(100), QByteArray(1, '\1'));
}

void TestDNet::adoptsFirstSearchingCandidateEndToEnd()
{
    QSignalSpy l_searches(dnetManager, &DNetManager::DNetSearchRequest);
    FakeServer& l_server = m_env.fake();
    FakeDNetChild l_carol;
    QVERIFY(Join(l_carol, "carol"));

    // Two candidates; the list names bob twice, yet he is tried once.
    FakeDNetCandidate l_bob, l_cal;
    quint16 const l_bobPort = l_bob.Listen();
    l_server.Send(IncomingFrames::PossibleParents({{"bob", c_loopback, l_bobPort},
                                                   {"cal", c_loopback, l_cal.Listen()},
                                                   {"bob", c_loopback, l_bobPort}})
                      .Frame());
    QVERIFY(l_bob.WaitForClientInit("alice") && l_cal.WaitForClientInit("alice"));
    QTRY_COMPARE_WITH_TIMEOUT(d["dnet_parent_candidate"]->GetItemCount(), std::size_t(2), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(m_env.script().IndirectRequests().size(), 2, 3000);

    // Announcements are kept per candidate, one above the candidate's own level.
    l_bob.SendLevel(3);
    l_bob.SendGroupLeader("lead");
    ItemPtr const l_bobItem = User("bob")["dnet_parent_candidate"];
    QTRY_COMPARE_WITH_TIMEOUT(l_bobItem["dnet_candidate_leader"].AsString(), QStringLiteral("lead"),
                              3000);
    QCOMPARE(l_bobItem["dnet_candidate_level"].AsString(), QStringLiteral("4"));

    // bob's first search makes him the parent: level, leader, then the search reach carol.
    l_server.ClearFrames();
    l_bob.SendSearch("seeker", 77, "blue song");
    QVERIFY(l_carol.WaitForFrames(3));
    QCOMPARE(l_carol.Frames(), (QList<QByteArray>{P::Level(4), P::GroupLeader("lead"),
                                                  P::Search("seeker", 77, "blue song")}));
    QCOMPARE(l_searches.size(), 1);
    QCOMPARE(l_searches.first(), (QList<QVariant>{"seeker", 77u, "blue song"}));
    QVERIFY(l_cal.WaitForDisconnected() && !l_bob.IsDisconnected());
    QCOMPARE(State("dnet_parent_user"), QStringLiteral("bob"));
    QCOMPARE(d["dnet_parent_candidate"]->GetItemCount(), std::size_t(0));
    QVERIFY(l_server.WaitForCode(71));
    QCOMPARE(l_server.Codes(), (QList<quint32>{126, 127, 71}));
    QCOMPARE(FieldsOf(126), I32(4));
    QCOMPARE(FieldsOf(127), FakePeer::Text("lead"));
    QCOMPARE(FieldsOf(71), QByteArray(1, '\0'));

    // A login tells the server again what the tree gave.
    l_server.ClearFrames();
    Reconnect();
    QTRY_VERIFY_WITH_TIMEOUT(l_server.HasCode(126), 3000);
    QCOMPARE(FieldsOf(71) + FieldsOf(127) + FieldsOf(126),
             QByteArray(1, '\0') + FakePeer::Text("lead") + I32(4));

    // From the parent: the same level or leader changes nothing; other searches pass
    // through unread; the top level does not wrap; -1 removes the level.
    l_server.ClearFrames();
    QByteArray const l_other = P::OtherSearch(48, "\x01\x02\x03");
    QVERIFY(l_bob.Send(Framed({P::Level(3), P::GroupLeader("lead"), l_other, P::Level(9),
                               P::Level(2147483647), P::GroupLeader("chief"), P::Level(-1)})));
    QVERIFY(l_carol.WaitForFrames(8));
    QCOMPARE(l_carol.Frames().mid(3),
             (QList<QByteArray>{l_other, P::Level(10), P::Level(2147483647),
                                P::GroupLeader("chief"), P::Level(-1)}));
    QTRY_COMPARE_WITH_TIMEOUT(l_server.FramesWithCode(126).size(), 3, 3000);
    QCOMPARE(FieldsOf(126, 0) + FieldsOf(126, 1) + FieldsOf(126, 2),
             I32(10) + I32(2147483647) + I32(-1));
    QCOMPARE(l_server.FramesWithCode(127).size(), 1);

    // Relayed by the server: a search is emitted and passed on without the server's
    // code; level and leader change nothing.
    l_server.Send(IncomingFrames::DNetRelay(P::Level(5)).Frame() +
                  IncomingFrames::DNetRelay(P::GroupLeader("other")).Frame() +
                  IncomingFrames::DNetRelay(P::Search("srv", 5, "x")).Frame());
    QVERIFY(l_carol.WaitForFrames(9));
    QCOMPARE(l_carol.Frames().last(), P::Search("srv", 5, "x"));
    QCOMPARE(l_searches.last(), (QList<QVariant>{"srv", 5u, "x"}));
    QCOMPARE(l_searches.size(), 2);
    QCOMPARE(State("dnet_level") + State("dnet_group_leader"), QStringLiteral("chief"));

    // The parent goes; the server hears it, carol does not.
    l_server.ClearFrames();
    l_bob.Close();
    QTRY_COMPARE_WITH_TIMEOUT(l_server.Codes(), (QList<quint32>{71, 127, 126}), 3000);
    QCOMPARE(FieldsOf(71) + FieldsOf(127) + FieldsOf(126),
             QByteArray(1, '\1') + FakePeer::Text("") + I32(-1));
    QVERIFY(State("dnet_parent_user").isEmpty() && State("dnet_group_leader").isEmpty());
    QCOMPARE(l_carol.Frames().size(), 9);
}

void TestDNet::tellsNewChildWhereItStands_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("leader");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::newRow("level and leader")
        << "4"
        << "lead" << QList<QByteArray>{P::Level(4), P::GroupLeader("lead")};
    QTest::newRow("level only") << "4"
                                << "" << QList<QByteArray>{P::Level(4)};
    QTest::newRow("leader only") << ""
                                 << "lead" << QList<QByteArray>{P::GroupLeader("lead")};
    QTest::newRow("neither") << ""
                             << "" << QList<QByteArray>{};
}

void TestDNet::tellsNewChildWhereItStands()
{
    QFETCH(QString, level);
    QFETCH(QString, leader);
    QFETCH(QList<QByteArray>, frames);
    if (!level.isEmpty())
        PutState("dnet_level", level);
    if (!leader.isEmpty())
        PutState("dnet_group_leader", leader);

    FakeDNetChild l_child;
    QVERIFY(Join(l_child, "fred"));
    // Anything forwarded later comes after what the child was told on arrival.
    QByteArray const l_marker = P::OtherSearch(50, "m");
    m_env.fake().Send(IncomingFrames::DNetRelay(l_marker).Frame());
    QVERIFY(l_child.WaitForFrames(frames.size() + 1));
    QCOMPARE(l_child.Frames(), frames + QList<QByteArray>{l_marker});
}

void TestDNet::computesChildDepthFromReports()
{
    FakeDNetChild l_hal, l_ida;
    // hal's report comes in the same write as its first frame.
    QVERIFY(Join(l_hal, "hal", FakePeer::PlainFrame(P::ChildDepth(0))));
    QTRY_COMPARE_WITH_TIMEOUT(State("dnet_child_depth"), QStringLiteral("1"), 3000);
    QVERIFY(Join(l_ida, "ida"));
    QVERIFY(l_ida.SendDepth(2));
    QTRY_COMPARE_WITH_TIMEOUT(State("dnet_child_depth"), QStringLiteral("3"), 3000);
    // All bits set is -1: it adds nothing to the own depth and nothing is sent.
    QVERIFY(l_hal.SendDepth(4294967295u));
    QTRY_COMPARE_WITH_TIMEOUT(User("hal")["dnet_child"]["dnet_child_depth"].AsString(), QStringLiteral("-1"), 3000);
    QCOMPARE(State("dnet_child_depth"), QStringLiteral("3"));
    // A later message that has arrived shows that nothing went out before it.
    auto const l_privileges = m_env.fake().FramesWithCode(92).size();
    gp_server->GetOwnPrivilegesStatus();
    QTRY_COMPARE_WITH_TIMEOUT(m_env.fake().FramesWithCode(92).size(), l_privileges + 1, 3000);
    QCOMPARE(m_env.fake().FramesWithCode(129).size(), 2);
    for (FakeServer::Frame const& l_frame : m_env.fake().FramesWithCode(129))
        QCOMPARE(l_frame.Fields(), QByteArray(1, '\1'));

    // A second connection from the same child replaces the first.
    ItemPtr const l_old = User("hal")["dnet_child"];
    FakeDNetChild l_hal2;
    QVERIFY(l_hal2.Join(m_env.PlainPort(), "hal"));
    QVERIFY(l_hal.WaitForDisconnected() && !l_hal2.IsDisconnected());
    QTRY_VERIFY_WITH_TIMEOUT(
        User("hal")["dnet_child"].IsNotNull() && User("hal")["dnet_child"] != l_old, 3000);
    QCOMPARE(d["dnet_child"]->GetItemCount(), std::size_t(2));
}

void TestDNet::closesOnBadFrames_data()
{
    QTest::addColumn<bool>("fromChild");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("child: length over the cap")
        << true << FakePeer::U32(10485761)
        << "Frame of 10485761 bytes announced, closing connection";
    QTest::newRow("child: empty frame")
        << true << FakePeer::U32(0) << "Error reading message code, closing child connection";
    QTest::newRow("child: short depth")
        << true << FakePeer::PlainFrame(QByteArray("\x07\x01\x02", 3)) << "Child socket closed";
    QTest::newRow("candidate: length with top bit set")
        << false << FakePeer::U32(0xFFFFFFFFu)
        << "Frame of 4294967295 bytes announced, closing connection";
    QTest::newRow("candidate: empty frame")
        << false << FakePeer::U32(0)
        << "Error reading message code, closing parent/candidate connection";
    QTest::newRow("candidate: short level")
        << false << FakePeer::PlainFrame(QByteArray("\x04\x01", 2))
        << "Parent candidate socket closed";
    QTest::newRow("candidate: search cut in the text")
        << false << FakePeer::PlainFrame(P::Search("u", 1, "abc").chopped(1))
        << "Parent candidate socket closed";
}

void TestDNet::closesOnBadFrames()
{
    QFETCH(bool, fromChild);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, logLine);
    LogCapture l_log;
    QSignalSpy l_searches(dnetManager, &DNetManager::DNetSearchRequest);
    QString const l_user = QStringLiteral("bad-%1").arg(QTest::currentDataTag());
    FakeDNetChild l_child;
    FakeDNetCandidate l_candidate;
    FakePeer& l_peer = fromChild ? static_cast<FakePeer&>(l_child) : l_candidate;
    QVERIFY(fromChild ? Join(l_child, l_user) : Propose(l_candidate, l_user));
    m_env.fake().ClearFrames();

    QVERIFY(l_peer.Send(bytes));
    QVERIFY(l_peer.WaitForDisconnected());
    QVERIFY(l_log.Contains(c_dnet, 1, logLine));
    QVERIFY(User(l_user)["dnet_child"].IsNull() && User(l_user)["dnet_parent_candidate"].IsNull());
    QCOMPARE(l_searches.count(), 0);
    // A candidate is not a parent: its loss is not reported to the server.
    QVERIFY(!m_env.fake().HasCode(71));
    QVERIFY(gp_server->IsConnected());
}

void TestDNet::takesLongestFrameOnlyOnceArrived()
{
    LogCapture l_log;
    FakeDNetChild l_jo;
    QVERIFY(Join(l_jo, "jo"));
    auto* lp_socket = User("jo")["dnet_child"].AsPtr<QTcpSocket>();

    QByteArray const l_payload = QByteArray(1, '\x09') + QByteArray(10485759, 'x');
    QByteArray const l_frame = FakePeer::PlainFrame(l_payload);
    QVERIFY(l_jo.Send(l_frame.left(4096)));
    QTRY_VERIFY_WITH_TIMEOUT(lp_socket->bytesAvailable() >= 4096, 3000);
    // Announced is not arrived: nothing is set aside for the rest yet.
    QVERIFY(dnetManager->ReceiveBufferCapacity() < 4096);

    QVERIFY(l_jo.Send(l_frame.mid(4096)));
    QTRY_VERIFY_WITH_TIMEOUT(l_log.Contains(c_dnet, 1, "Received message from child, code 9"),
                             5000);
    QVERIFY(dnetManager->ReceiveBufferCapacity() >= 10485760);
    QVERIFY(!l_jo.IsDisconnected());
}

QTEST_GUILESS_MAIN(TestDNet)
#include "tst_dnet.moc"
