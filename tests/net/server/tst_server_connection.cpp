// The connection to the central server: login bytes, what follows a login, framing
// of incoming bytes and its guards, drops, reconnection and keep-alive, all against
// a fake server on 127.0.0.1.

#include "ServerTestEnv.h"

#include "support/LogCapture.h"

#include <QtTest>

using ServerTestEnv::CodesOf;
using ServerTestEnv::Fixture;

namespace
{
QByteArray Md5Login(char const* user, char const* password, char const* hexDigest)
{
    return FrameBuilder(1).Str(user).Str(password).U32(157).Str(hexDigest).U32(100).Frame();
}
} // namespace

class TestServerConnection : public QObject
{
    Q_OBJECT

private slots:
    void connectNeedsUserName();
    void loginFrameByteForByte();
    void loginFallsBackToDefaultCredentials();
    void afterLoginOrderAndFirstLoginOnlySteps();
    void sendsAreDroppedUntilLoggedIn();
    void keepAlive();
    void splitAndMergedFrames();
    void codeOnlyFramesAreDispatched();
    void largeFrameInSmallPieces();
    void shortLengthsAreSkipped();
    void absurdLengthsCloseTheConnection();
    void dropInMidFrameLeavesNoStaleState();
    void messagesThatEndTheSessionStopTheLoop();
    void connectRightAfterDisconnect();
    void reconnectAfterDropOfLoggedInConnection();
    void noReconnectAfterDisconnectRefusalOrEarlyLoss();
    void connectFromInsideADrop();
    void renewPortMapping();
};

void TestServerConnection::connectNeedsUserName()
{
    Fixture l_env;
    d["global"]->HasItem("username").Disconnect("global_value");
    l_env.server().Connect();
    l_env.fake().Idle(200);
    QCOMPARE(l_env.connecting().count(), 0);
    QCOMPARE(l_env.server().GetState(), Server::StateDisconnected);
    QCOMPARE(l_env.fake().AcceptedCount(), 0);
}

void TestServerConnection::loginFrameByteForByte()
{
    Fixture l_env;
    LogCapture l_log;
    QVERIFY(l_env.ConnectWithoutReply());
    QCOMPARE(l_env.connecting().count(), 1);
    QCOMPARE(l_env.server().GetState(), Server::StateConnecting);
    QVERIFY(l_log.Contains("server", 1,
                           QStringLiteral("Attempting connection on port %1").arg(l_env.fake().Port())));

    QByteArray const l_expected = Md5Login("alice", "pw", "15da1f78ad7d474862865bab1aab4d51");
    QCOMPARE(l_expected.size(), 67);
    QCOMPARE(l_env.fake().RawReceived(), l_expected);
    QVERIFY(!l_env.server().IsAbruptlyDisconnected());
}

void TestServerConnection::loginFallsBackToDefaultCredentials()
{
    {
        // A user name without any password item: both settings become the defaults.
        Fixture l_env;
        d["global"]->HasItem("password").Remove();
        QVERIFY(l_env.ConnectWithoutReply());
        QCOMPARE(l_env.fake().RawReceived(),
                 Md5Login("KestruneQT", "HarborLanternGlide", "15300451371a71c83522692baf77665a"));
        QCOMPARE(GetSetting("username"), QStringLiteral("KestruneQT"));
        QCOMPARE(GetSetting("password"), QStringLiteral("HarborLanternGlide"));
    }
    {
        // An empty password is still a password: the digest covers the user name alone.
        Fixture l_env;
        SetSetting("username", QStringLiteral("bob"));
        SetSetting("password", QString());
        QVERIFY(l_env.ConnectWithoutReply());
        QCOMPARE(l_env.fake().RawReceived(), Md5Login("bob", "", "9f9d51bc70ef21ca5c14f307980a29d8"));
    }
}

void TestServerConnection::afterLoginOrderAndFirstLoginOnlySteps()
{
    Fixture l_env;
    LogCapture l_log;
    // A gateway that is not there, on loopback: no discovery on the real network.
    portForwarder->InitFromDescription(QStringLiteral("http://127.0.0.1:1/rootDesc.xml"));
    SetSetting("use_upnp", QStringLiteral("yes"));
    SetSetting("listening_port", QStringLiteral("2235"));
    SetSetting("obfuscated_listening_port", QStringLiteral("2236"));
    (*d["room"])["lobby"].NewItem("room_autojoin");
    (*d["room"])["attic"].NewItem("room_autojoin");
    (*d["room"])["cellar"];  // no autojoin
    l_env.server().SetAvailabilityStatus(false);
    l_env.server().TrackUser("zed");
    l_env.server().GetUserAddress("yan");
    SetSetting("accept_room_list", QStringLiteral("no"));

    // Receivers of Connected() speak first (here: announcing the ports).
    connect(&l_env.server(), &Server::Connected, &l_env.server(),
            [&] { l_env.server().SetWaitPort(2235, 2236); });

    QVERIFY(l_env.LogIn());
    QTRY_COMPARE_WITH_TIMEOUT(l_env.FramesAfterLogin().size(), 6, 3000);
    l_env.fake().Idle(100);
    QList<FakeServer::Frame> l_frames = l_env.FramesAfterLogin();
    QCOMPARE(CodesOf(l_frames), (QList<quint32>{2, 14, 14, 28, 5, 3}));
    QCOMPARE(l_frames[1].payload, FrameBuilder(14).Str("attic").U32(0).Payload());
    QCOMPARE(l_frames[2].payload, FrameBuilder(14).Str("lobby").U32(0).Payload());
    QCOMPARE(l_frames[3].payload, FrameBuilder(28).U32(1).Payload());
    QCOMPARE(l_frames[4].payload, FrameBuilder(5).Str("zed").Payload());
    QCOMPARE(l_frames[5].payload, FrameBuilder(3).Str("yan").Payload());
    QCOMPARE(GetSetting("accept_room_list"), QStringLiteral("yes"));
    // Both listening ports go to the gateway once, after this first login.
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts("Port Forwarding").filter("Found own address to be").size(), 2, 3000);

    // A drop and a second login: away status, watches and pending address requests
    // again, but no autojoin and no new mapping.
    l_env.fake().DropClient();
    QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
    SetSetting("accept_room_list", QStringLiteral("no"));
    l_env.server().AttemptReconnect();
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 2, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(l_env.FramesAfterLogin().size(), 4, 3000);
    l_env.fake().Idle(300);
    QCOMPARE(CodesOf(l_env.FramesAfterLogin()), (QList<quint32>{2, 28, 5, 3}));
    QCOMPARE(GetSetting("accept_room_list"), QStringLiteral("yes"));
    QCOMPARE(l_log.Texts("Port Forwarding").filter("Found own address to be").size(), 2);
}

void TestServerConnection::sendsAreDroppedUntilLoggedIn()
{
    Fixture l_env;
    l_env.server().SendRoomChat("lobby", "before connecting");
    QVERIFY(l_env.ConnectWithoutReply());
    l_env.server().SendRoomChat("lobby", "while connecting");
    l_env.server().EveryFiveMinutes();
    l_env.fake().Idle(200);
    QCOMPARE(l_env.fake().Codes(), (QList<quint32>{1}));

    l_env.fake().Send(FrameBuilder::LoginAccepted());
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 1, 3000);
    l_env.server().SendRoomChat("lobby", "online");
    QVERIFY(l_env.fake().WaitForCode(13));
    QCOMPARE(l_env.fake().FramesWithCode(13).size(), 1);
    QCOMPARE(l_env.fake().FramesWithCode(13)[0].payload,
             FrameBuilder(13).Str("lobby").Str("online").Payload());
}

void TestServerConnection::keepAlive()
{
    Fixture l_env;
    QVERIFY(l_env.LogIn());
    QByteArray const l_before = l_env.fake().RawReceived();
    l_env.server().EveryFiveMinutes();
    QVERIFY(l_env.fake().WaitForCode(32));
    QCOMPARE(l_env.fake().RawReceived().mid(l_before.size()),
             QByteArray::fromHex("0400000020000000"));
}

void TestServerConnection::splitAndMergedFrames()
{
    {
        // Every byte on its own, the length prefix included.
        Fixture l_env;
        QVERIFY(l_env.ConnectWithoutReply());
        l_env.fake().SendInPieces(FrameBuilder::LoginAccepted(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 1, 3000);
    }
    {
        // A prefix cut 2 + 2 with a pause between the halves.
        Fixture l_env;
        QVERIFY(l_env.ConnectWithoutReply());
        QByteArray const l_frame = FrameBuilder::LoginAccepted();
        l_env.fake().Send(l_frame.left(2));
        l_env.fake().Idle(100);
        QCOMPARE(l_env.connected().count(), 0);
        l_env.fake().Send(l_frame.mid(2));
        QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 1, 3000);
    }
    {
        // Several frames in one segment: an unknown code with fields, a code-only
        // frame, the login reply and a second login reply, which a logged-in
        // connection ignores.
        Fixture l_env;
        QVERIFY(l_env.ConnectWithoutReply());
        QByteArray const l_bytes = FrameBuilder(2).U32(7).Str("ignored").Frame() +
                                   FrameBuilder(147).Frame() + FrameBuilder::LoginAccepted() +
                                   FrameBuilder::LoginRefused("INVALIDPASS");
        l_env.fake().Send(l_bytes);
        QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 1, 3000);
        l_env.fake().Idle(100);
        QCOMPARE(l_env.connected().count(), 1);
        QCOMPARE(l_env.failed().count(), 0);
        QCOMPARE(l_env.server().GetState(), Server::StateConnected);
    }
}

void TestServerConnection::codeOnlyFramesAreDispatched()
{
    // A frame of length 4 carries the code alone; two of them and a third cut
    // inside its code all reach the dispatcher, each once.
    Fixture l_env;
    QVERIFY(l_env.LogIn());
    QSignalSpy l_resets(&l_env.server(), &Server::DNetReset);
    QByteArray const l_reset = FrameBuilder(130).Frame();
    QCOMPARE(l_reset, QByteArray::fromHex("0400000082000000"));
    l_env.fake().Send(l_reset + l_reset + l_reset.left(6));
    QTRY_COMPARE_WITH_TIMEOUT(l_resets.count(), 2, 3000);
    l_env.fake().Idle(100);
    QCOMPARE(l_resets.count(), 2);
    l_env.fake().Send(l_reset.mid(6));
    QTRY_COMPARE_WITH_TIMEOUT(l_resets.count(), 3, 3000);
    QVERIFY(l_env.server().IsConnected());
}

void TestServerConnection::largeFrameInSmallPieces()
{
    Fixture l_env;
    QVERIFY(l_env.ConnectWithoutReply());
    // A login reply whose unused tail makes it 3 MB, in TCP-sized pieces.
    QByteArray const l_frame =
        FrameBuilder(1).U8(1).Str("Welcome").U32(0).Str("x").Raw(QByteArray(3 * 1024 * 1024, 'z')).Frame();
    l_env.fake().SendInPieces(l_frame, 1460);
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 1, 5000);
    // The connection still frames correctly afterwards.
    l_env.server().EveryFiveMinutes();
    QVERIFY(l_env.fake().WaitForCode(32));
}

void TestServerConnection::shortLengthsAreSkipped()
{
    Fixture l_env;
    QVERIFY(l_env.ConnectWithoutReply());
    // Lengths 0 to 3 carry no code: their bytes are consumed and nothing is
    // dispatched. The bytes 01 00 00 would read as a login code if they were not.
    QByteArray const l_bytes = QByteArray::fromHex("00000000") + QByteArray::fromHex("03000000010000") +
                               QByteArray::fromHex("0100000001") + FrameBuilder::LoginAccepted();
    l_env.fake().Send(l_bytes);
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 1, 3000);
    QCOMPARE(l_env.failed().count(), 0);
    QVERIFY(l_env.fake().HasClient());
}

void TestServerConnection::absurdLengthsCloseTheConnection()
{
    {
        // Negative while connecting: a failed attempt.
        Fixture l_env;
        QVERIFY(l_env.ConnectWithoutReply());
        l_env.fake().Send(QByteArray::fromHex("ffffffff01000000"));
        QTRY_COMPARE_WITH_TIMEOUT(l_env.failed().count(), 1, 3000);
        QCOMPARE(l_env.failed().at(0).at(0).toString(), QStringLiteral("socket error"));
        QCOMPARE(l_env.server().GetState(), Server::StateDisconnected);
        QVERIFY(l_env.fake().WaitForClientGone());
        QCOMPARE(l_env.disconnected().count(), 0);
    }
    {
        // One byte above 64 MiB while logged in: a drop, and reconnection is due.
        Fixture l_env;
        QVERIFY(l_env.LogIn());
        l_env.fake().Send(FrameBuilder::LittleEndian(64 * 1024 * 1024 + 1, 4));
        QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
        QVERIFY(l_env.fake().WaitForClientGone());
        QVERIFY(l_env.server().IsAbruptlyDisconnected());
        l_env.fake().Idle(100);
        QCOMPARE(l_env.disconnected().count(), 1);
    }
    {
        // A receiver of Disconnected() that connects again at once: the refused
        // frame's close must not take the new attempt with it.
        Fixture l_env;
        QVERIFY(l_env.LogIn());
        QMetaObject::Connection const l_again = connect(
            &l_env.server(), &Server::Disconnected, &l_env.server(), [&] { l_env.server().Connect(); });
        l_env.fake().Send(QByteArray::fromHex("ffffffff"));
        QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
        disconnect(l_again);
        QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 2, 3000);
        QCOMPARE(l_env.connecting().count(), 2);
        QCOMPARE(l_env.failed().count(), 0);
        QCOMPARE(l_env.disconnected().count(), 1);
        QVERIFY(l_env.server().IsConnected());
    }
    {
        // Exactly 64 MiB is accepted: the connection waits for the body.
        Fixture l_env;
        QVERIFY(l_env.LogIn());
        l_env.fake().Send(FrameBuilder::LittleEndian(64 * 1024 * 1024, 4) + QByteArray(1000, 'q'));
        l_env.fake().Idle(300);
        QCOMPARE(l_env.disconnected().count(), 0);
        QVERIFY(l_env.server().IsConnected());
        QVERIFY(l_env.fake().HasClient());
    }
}

void TestServerConnection::dropInMidFrameLeavesNoStaleState()
{
    {
        // Logged in: half a frame, then a drop. The next session's login reply must
        // be read as a frame of its own.
        Fixture l_env;
        QVERIFY(l_env.LogIn());
        l_env.fake().Send(FrameBuilder::LittleEndian(100, 4) + QByteArray(10, 'h'));
        l_env.fake().Idle(100);
        l_env.fake().DropClient();
        QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
        l_env.server().AttemptReconnect();
        QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 2, 3000);
    }
    {
        // Connecting: half a length prefix, then a drop; a new attempt logs in.
        Fixture l_env;
        QVERIFY(l_env.ConnectWithoutReply());
        l_env.fake().Send(QByteArray::fromHex("5000"));
        l_env.fake().Idle(100);
        l_env.fake().DropClient();
        QTRY_COMPARE_WITH_TIMEOUT(l_env.failed().count(), 1, 3000);
        QVERIFY(l_env.LogIn());
        QCOMPARE(l_env.connected().count(), 1);
    }
}

void TestServerConnection::messagesThatEndTheSessionStopTheLoop()
{
    {
        // A refused login followed in the same segment by an accepted one: the
        // second belongs to a connection that no longer exists.
        Fixture l_env;
        QVERIFY(l_env.ConnectWithoutReply());
        l_env.fake().Send(FrameBuilder::LoginRefused("INVALIDPASS") + FrameBuilder::LoginAccepted());
        QTRY_COMPARE_WITH_TIMEOUT(l_env.failed().count(), 1, 3000);
        l_env.fake().Idle(100);
        QCOMPARE(l_env.connected().count(), 0);
        QCOMPARE(l_env.server().GetState(), Server::StateDisconnected);
    }
    {
        // A receiver of Connected() logs out at once: the after-login messages and
        // whatever followed the login reply are not acted on.
        Fixture l_env;
        (*d["room"])["lobby"].NewItem("room_autojoin");
        connect(&l_env.server(), &Server::Connected, &l_env.server(),
                [&] { l_env.server().Disconnect(); });
        QVERIFY(l_env.ConnectWithoutReply());
        l_env.fake().Send(FrameBuilder::LoginAccepted() + FrameBuilder::LoginAccepted());
        QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
        QVERIFY(l_env.fake().WaitForClientGone());
        QCOMPARE(l_env.connected().count(), 1);
        QCOMPARE(l_env.server().GetState(), Server::StateDisconnected);
        QVERIFY(l_env.FramesAfterLogin().isEmpty());
        QVERIFY(!l_env.server().IsAbruptlyDisconnected());
    }
}

void TestServerConnection::connectRightAfterDisconnect()
{
    Fixture l_env;
    QVERIFY(l_env.LogIn());
    // A message still in the socket's write buffer keeps the closing socket busy.
    l_env.server().EveryFiveMinutes();
    l_env.server().Disconnect();
    QCOMPARE(l_env.disconnected().count(), 1);
    QCOMPARE(l_env.server().GetState(), Server::StateDisconnected);
    l_env.server().Connect();
    QCOMPARE(l_env.connecting().count(), 2);
    QCOMPARE(l_env.server().GetState(), Server::StateConnecting);
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 2, 3000);
    QCOMPARE(l_env.fake().AcceptedCount(), 2);
    QCOMPARE(l_env.failed().count(), 0);
    QCOMPARE(l_env.disconnected().count(), 1);

    // A receiver of Disconnected() that connects again at once (a "reconnect"
    // button): the new attempt survives the logout that announced it.
    QMetaObject::Connection const l_again = connect(
        &l_env.server(), &Server::Disconnected, &l_env.server(), [&] { l_env.server().Connect(); });
    l_env.server().EveryFiveMinutes();
    l_env.server().Disconnect();
    disconnect(l_again);
    QCOMPARE(l_env.connecting().count(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 3, 3000);
    QCOMPARE(l_env.failed().count(), 0);
    QCOMPARE(l_env.disconnected().count(), 2);
}

void TestServerConnection::reconnectAfterDropOfLoggedInConnection()
{
    Fixture l_env;
    QVERIFY(l_env.LogIn());
    ItemPtr l_user = (*d["user"])["carol"];
    l_user.NewItem("is_online");

    l_env.fake().DropClient();
    QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
    l_env.fake().Idle(100);
    QCOMPARE(l_env.disconnected().count(), 1);  // error and close both came
    QVERIFY(l_env.server().IsAbruptlyDisconnected());
    QVERIFY(!l_user.IsConnected("is_online"));

    // The server stays away: every tick tries again.
    l_env.fake().StopListening();
    l_env.server().AttemptReconnect();
    QTRY_COMPARE_WITH_TIMEOUT(l_env.failed().count(), 1, 3000);
    QCOMPARE(l_env.failed().at(0).at(0).toString(), QStringLiteral("socket error"));
    QVERIFY(l_env.server().IsAbruptlyDisconnected());
    l_env.server().AttemptReconnect();
    QTRY_COMPARE_WITH_TIMEOUT(l_env.failed().count(), 2, 3000);
    QCOMPARE(l_env.connecting().count(), 3);
    QCOMPARE(l_env.disconnected().count(), 1);

    // Back again: the next tick logs in.
    QVERIFY(l_env.fake().Listen());
    l_env.server().AttemptReconnect();
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 2, 3000);
    QVERIFY(!l_env.server().IsAbruptlyDisconnected());
}

void TestServerConnection::noReconnectAfterDisconnectRefusalOrEarlyLoss()
{
    {
        Fixture l_env;
        QVERIFY(l_env.LogIn());
        l_env.server().Disconnect();
        QVERIFY(l_env.fake().WaitForClientGone());
        l_env.server().AttemptReconnect();
        l_env.fake().Idle(100);
        QCOMPARE(l_env.connecting().count(), 1);
        QCOMPARE(l_env.disconnected().count(), 1);
    }
    {
        Fixture l_env;
        l_env.fake().SetReply(1, FrameBuilder::LoginRefused("INVALIDPASS"));
        l_env.server().Connect();
        QTRY_COMPARE_WITH_TIMEOUT(l_env.failed().count(), 1, 3000);
        QCOMPARE(l_env.failed().at(0).at(0).toString(), QStringLiteral("INVALIDPASS"));
        QCOMPARE(l_env.server().GetState(), Server::StateDisconnected);
        QVERIFY(l_env.fake().WaitForClientGone());
        QCOMPARE(l_env.disconnected().count(), 0);
        QCOMPARE(l_env.failed().count(), 1);
        l_env.server().AttemptReconnect();
        l_env.fake().Idle(100);
        QCOMPARE(l_env.connecting().count(), 1);
    }
    {
        // A logged-in connection drops, the retry reaches the server, and that
        // connection is lost before the login reply: no further retries.
        Fixture l_env;
        QVERIFY(l_env.LogIn());
        l_env.fake().DropClient();
        QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
        l_env.fake().ClearReply(1);
        l_env.server().AttemptReconnect();
        QVERIFY(l_env.fake().WaitForAccepted(2));
        QVERIFY(l_env.fake().WaitForCode(1));
        QTRY_VERIFY_WITH_TIMEOUT(!l_env.server().IsAbruptlyDisconnected(), 3000);
        l_env.fake().DropClient();
        QTRY_COMPARE_WITH_TIMEOUT(l_env.failed().count(), 1, 3000);
        l_env.server().AttemptReconnect();
        l_env.fake().Idle(100);
        QCOMPARE(l_env.connecting().count(), 2);
        QCOMPARE(l_env.fake().AcceptedCount(), 2);
    }
}

void TestServerConnection::connectFromInsideADrop()
{
    // A receiver of Disconnected() that connects again while the socket is still
    // reporting the drop (reset, then orderly close): the new attempt must not be
    // lost in the socket's clean-up and leave the state "connecting" for good.
    for (int l_round = 0; l_round < 2; ++l_round) {
        Fixture l_env;
        QVERIFY(l_env.LogIn());
        QMetaObject::Connection const l_again = connect(
            &l_env.server(), &Server::Disconnected, &l_env.server(), [&] { l_env.server().Connect(); });
        if (l_round == 0)
            l_env.fake().DropClient();
        else
            l_env.fake().CloseClient();
        QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
        disconnect(l_again);
        QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 2, 3000);
        QCOMPARE(l_env.connecting().count(), 2);
        QCOMPARE(l_env.failed().count(), 0);
        QCOMPARE(l_env.disconnected().count(), 1);
    }
}

void TestServerConnection::renewPortMapping()
{
    Fixture l_env;
    LogCapture l_log;
    SetSetting("use_upnp", QStringLiteral("yes"));
    SetSetting("listening_port", QStringLiteral("2235"));
    SetSetting("obfuscated_listening_port", QStringLiteral("0"));
    l_env.server().RenewPortMapping();  // not logged in
    QVERIFY(l_log.Texts("server").filter("Renewing").isEmpty());

    SetSetting("use_upnp", QStringLiteral("no"));
    QVERIFY(l_env.LogIn());
    l_env.server().RenewPortMapping();  // UPnP off
    QVERIFY(l_log.Texts("server").filter("Renewing").isEmpty());

    SetSetting("use_upnp", QStringLiteral("yes"));
    l_env.server().RenewPortMapping();
    QVERIFY(l_log.Contains("server", 1, "Renewing UPnP port mapping."));
    // Only the listening port: the obfuscated one is 0.
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts("Port Forwarding").filter("Found own address to be").size(), 1, 3000);
    l_env.fake().Idle(200);
    QCOMPARE(l_log.Texts("Port Forwarding").filter("Found own address to be").size(), 1);
}

QTEST_GUILESS_MAIN(TestServerConnection)
#include "tst_server_connection.moc"
