// Every message the client sends to the central server, byte for byte, with the
// bookkeeping some of them do, online and offline.

#include "ServerTestEnv.h"

#include <QtTest>

#include <functional>

using ServerTestEnv::CodesOf;
using ServerTestEnv::Fixture;

class TestServerSend : public QObject
{
    Q_OBJECT

private slots:
    void everyCodeByteForByte();
    void countersAndSideEffectsOffline();
    void searchesRecordRequests();
    void privateChatIsOneLine();
    void requestsThatAreSentOnlyOnce();
};

void TestServerSend::everyCodeByteForByte()
{
    Fixture l_env;
    QVERIFY(l_env.LogIn());
    Server& l_server = l_env.server();
    (*d["room"])["den"].NewItem("in_room");
    // The watch flag must not be set already, or the code is not sent.
    (*d["user"])["old"].NewItem("is_tracked");

    struct Case
    {
        std::function<void()> send;
        QByteArray expected;
    };
    QList<Case> const l_cases = {
        {[&] { l_server.SetWaitPort(2235, 2236); }, FrameBuilder(2).I32(2235).U32(1).I32(2236).Payload()},
        {[&] { l_server.GetUserAddress("ann"); }, FrameBuilder(3).Str("ann").Payload()},
        {[&] { l_server.AddUser("ann"); }, FrameBuilder(5).Str("ann").Payload()},
        {[&] { l_server.UntrackUser("old"); }, FrameBuilder(6).Str("old").Payload()},
        {[&] { l_server.GetUserStatus("ann"); }, FrameBuilder(7).Str("ann").Payload()},
        {[&] { l_server.SendRoomChat("den", QString::fromUtf8("h\xC3\xA9llo")); },
         FrameBuilder(13).Str("den").Str(QByteArray("h\xC3\xA9llo")).Payload()},
        {[&] { l_server.EnterRoom("secret", true); }, FrameBuilder(14).Str("secret").Raw(QByteArray::fromHex("01000000")).Payload()},
        {[&] { l_server.EnterRoom("hall", false); }, FrameBuilder(14).Str("hall").U32(0).Payload()},
        {[&] { l_server.LeaveRoom("den"); }, FrameBuilder(15).Str("den").Payload()},
        {[&] { QCOMPARE(l_server.SendIndirectConnectionRequest("ann", "P"), 1u); },
         FrameBuilder(18).U32(1).Str("ann").Str("P").Payload()},
        {[&] { l_server.SendPrivateChat("ann", "hi"); }, FrameBuilder(22).Str("ann").Str("hi").Payload()},
        {[&] { QCOMPARE(l_server.FileSearch("blue train", false), 1u); },
         FrameBuilder(26).U32(1).Str("blue train").Payload()},
        {[&] { l_server.SetAvailabilityStatus(true); }, FrameBuilder(28).U32(2).Payload()},
        {[&] { l_server.SetAvailabilityStatus(false); }, FrameBuilder(28).U32(1).Payload()},
        {[&] { l_server.EveryFiveMinutes(); }, FrameBuilder(32).Payload()},
        {[&] { l_server.SendFilesFolders(12, 3456); }, FrameBuilder(35).I32(12).I32(3456).Payload()},
        {[&] { l_server.GetUserStats("alice"); }, FrameBuilder(36).Str("alice").Payload()},
        {[&] { l_server.GetRoomList(); }, FrameBuilder(64).Payload()},
        {[&] { l_server.SendDNetHasParent(true); }, FrameBuilder(71).U8(0).Payload()},
        {[&] { l_server.SendDNetHasParent(false); }, FrameBuilder(71).U8(1).Payload()},
        {[&] { l_server.GetOwnPrivilegesStatus(); }, FrameBuilder(92).Payload()},
        {[&] { l_server.SendDNetCanParent(true); }, FrameBuilder(100).U8(1).Payload()},
        {[&] { QCOMPARE(l_server.FileSearch("wish", true), 2u); }, FrameBuilder(103).U32(2).Str("wish").Payload()},
        {[&] { l_server.SendUploadSpeed(51234); }, FrameBuilder(121).I32(51234).Payload()},
        {[&] { l_server.SendDNetLevel(-1); }, FrameBuilder(126).Raw(QByteArray::fromHex("ffffffff")).Payload()},
        {[&] { l_server.SendDNetGroupLeader("lead"); }, FrameBuilder(127).Str("lead").Payload()},
        {[&] { l_server.SendChildDepth(false); }, FrameBuilder(129).U8(0).Payload()},
        {[&] { l_server.AddPrivateRoomMember("secret", "ann"); }, FrameBuilder(134).Str("secret").Str("ann").Payload()},
        {[&] { l_server.RemovePrivateRoomMember("secret", "ann"); }, FrameBuilder(135).Str("secret").Str("ann").Payload()},
        {[&] { l_server.GiveUpPrivateRoomMembership("secret"); }, FrameBuilder(136).Str("secret").Payload()},
        {[&] { l_server.GiveUpPrivateRoom("secret"); }, FrameBuilder(137).Str("secret").Payload()},
        {[&] { l_server.EnablePrivateRoomAdd(true); }, FrameBuilder(141).U8(1).Payload()},
        {[&] { l_server.AddPrivateRoomOperator("secret", "bo"); }, FrameBuilder(143).Str("secret").Str("bo").Payload()},
        {[&] { l_server.RemovePrivateRoomOperator("secret", "bo"); }, FrameBuilder(144).Str("secret").Str("bo").Payload()},
        {[&] { l_server.GetSearchCorrelations("blue"); }, FrameBuilder(153).Str("blue").Payload()},
        {[&] { l_server.SendCantConnectToPeer(4000000000u, "ann"); },
         FrameBuilder(1001).U32(4000000000u).Str("ann").Payload()},
    };

    QByteArray l_expectedWire = l_env.fake().RawReceived();
    for (int l_index = 0; l_index < l_cases.size(); ++l_index) {
        int const l_before = static_cast<int>(l_env.fake().Frames().size());
        l_cases[l_index].send();
        QVERIFY2(l_env.fake().WaitForFrames(l_before + 1), qPrintable(QString::number(l_index)));
        QCOMPARE(l_env.fake().Frames().last().payload, l_cases[l_index].expected);
        l_expectedWire += FrameBuilder::Framed(l_cases[l_index].expected);
    }
    // Nothing else went out, and each message was one frame with its own length.
    l_env.fake().Idle(100);
    QCOMPARE(l_env.fake().RawReceived(), l_expectedWire);
}

void TestServerSend::countersAndSideEffectsOffline()
{
    Fixture l_env;
    Server& l_server = l_env.server();
    QSignalSpy l_searches(&l_server, &Server::SearchRequested);
    QSignalSpy l_chats(&l_server, &Server::PrivateChatSent);

    // Connecting but not logged in: everything is dropped, bookkeeping is not.
    QVERIFY(l_env.ConnectWithoutReply());
    QCOMPARE(l_server.SendIndirectConnectionRequest("ann", "F"), 1u);
    QCOMPARE(l_server.FileSearch("early", false), 1u);
    l_server.SendPrivateChat("ann", "offline");
    l_server.GetRoomList();
    l_server.SetAvailabilityStatus(false);
    l_server.GetUserAddress("ann");
    QCOMPARE(l_searches.count(), 1);
    QCOMPARE(l_chats.count(), 1);
    QCOMPARE(GetSetting("accept_room_list"), QStringLiteral("yes"));
    QCOMPARE(GetSetting("availability_status"), QStringLiteral("away"));
    QVERIFY(d["search_request"]->HasItem(1u));
    QVERIFY((*d["user"])["ann"].IsConnected("user_address_request"));
    l_env.fake().Idle(100);
    QCOMPARE(l_env.fake().Codes(), (QList<quint32>{1}));

    // Online the counters go on where they were.
    l_env.fake().Send(FrameBuilder::LoginAccepted());
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 1, 3000);
    QCOMPARE(l_server.SendIndirectConnectionRequest("ann", "D"), 2u);
    QCOMPARE(l_server.FileSearch("later", false), 2u);
    QVERIFY(l_env.fake().WaitForCode(26));
    QCOMPARE(l_env.fake().FramesWithCode(18).last().payload,
             FrameBuilder(18).U32(2).Str("ann").Str("D").Payload());
    QCOMPARE(l_env.fake().FramesWithCode(26).last().payload,
             FrameBuilder(26).U32(2).Str("later").Payload());
}

void TestServerSend::searchesRecordRequests()
{
    Fixture l_env;
    Server& l_server = l_env.server();
    QSignalSpy l_searches(&l_server, &Server::SearchRequested);
    QCOMPARE(l_server.FileSearch("one", false), 1u);
    QCOMPARE(l_server.FileSearch("two", true), 2u);
    QCOMPARE(l_server.FileSearch("one", false), 3u);

    ItemPtr l_first = d["search_request"]->HasItem(1u);
    ItemPtr l_second = d["search_request"]->HasItem(2u);
    ItemPtr l_third = d["search_request"]->HasItem(3u);
    QVERIFY(l_first && l_second && l_third);
    QCOMPARE(l_first["search_request_text"].AsString(), QStringLiteral("one"));
    QCOMPARE(l_second["search_request_text"].AsString(), QStringLiteral("two"));
    // One text item shared by both searches for it.
    QCOMPARE(l_first["search_request_text"], l_third["search_request_text"]);
    QVERIFY(!l_first.IsConnected("wishlist_search"));
    QVERIFY(l_second.IsConnected("wishlist_search"));

    QCOMPARE(l_searches.count(), 3);
    QCOMPARE(l_searches.at(1).at(0).toUInt(), 2u);
    QCOMPARE(l_searches.at(1).at(1).toString(), QStringLiteral("two"));
    QCOMPARE(l_searches.at(1).at(2).toBool(), true);
    QCOMPARE(l_searches.at(2).at(2).toBool(), false);
}

void TestServerSend::privateChatIsOneLine()
{
    Fixture l_env;
    QVERIFY(l_env.LogIn());
    QSignalSpy l_chats(&l_env.server(), &Server::PrivateChatSent);
    l_env.server().SendPrivateChat("ann", "a\r\nb\nc\rd");
    QVERIFY(l_env.fake().WaitForCode(22));
    QCOMPARE(l_env.fake().FramesWithCode(22)[0].payload,
             FrameBuilder(22).Str("ann").Str("a  b c d").Payload());
    QCOMPARE(l_chats.count(), 1);
    QCOMPARE(l_chats.at(0).at(0).toString(), QStringLiteral("ann"));
    QCOMPARE(l_chats.at(0).at(1).toString(), QStringLiteral("a  b c d"));
}

void TestServerSend::requestsThatAreSentOnlyOnce()
{
    Fixture l_env;
    QVERIFY(l_env.LogIn());
    Server& l_server = l_env.server();
    l_server.GetUserAddress("ann");
    l_server.GetUserAddress("ann");
    l_server.LeaveRoom("hall");  // not in it
    l_server.UntrackUser("nobody");  // not watched
    l_server.EveryFiveMinutes();     // marks the end
    QVERIFY(l_env.fake().WaitForCode(32));
    QCOMPARE(CodesOf(l_env.FramesAfterLogin()), (QList<quint32>{3, 32}));
    // Asking about an unknown room or user leaves no item behind.
    QVERIFY(!d["room"]->HasItem("hall"));
    QVERIFY(!d["user"]->HasItem("nobody"));
    QVERIFY((*d["user"])["ann"].IsConnected("user_address_request"));

    // One request flag serves any number of users, each user holding at most one.
    l_server.GetUserAddress("bo");
    QVERIFY((*d["user"])["ann"].IsConnected("user_address_request"));
    QVERIFY((*d["user"])["bo"].IsConnected("user_address_request"));
    QCOMPARE((*d["user"])["ann"]["user_address_request"], (*d["user"])["bo"]["user_address_request"]);
    QTRY_COMPARE_WITH_TIMEOUT(l_env.fake().FramesWithCode(3).size(), 2, 3000);

    // The answer clears the flag (the dispatcher does it); a new request goes out.
    (*d["user"])["ann"].Disconnect("user_address_request");
    l_server.GetUserAddress("ann");
    QTRY_COMPARE_WITH_TIMEOUT(l_env.fake().FramesWithCode(3).size(), 3, 3000);
}

QTEST_GUILESS_MAIN(TestServerSend)
#include "tst_server_send.moc"
