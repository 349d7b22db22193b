// Users and rooms in the store: the relations other components rely on, what
// survives a restart, watched users, the availability status and the UPnP default.

#include "ServerTestEnv.h"

#include "store/DataSaver.h"

#include <QDir>
#include <QtTest>

using ServerTestEnv::CodesOf;
using ServerTestEnv::Fixture;

class TestServerData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void attributesAndNodesHoldOneValue();
    void savedItemsSurviveARestart();
    void trackingUsers();
    void availabilityStatus();
    void upnpDefaultAfterLoad();
};

void TestServerData::initTestCase()
{
    ServerTestEnv::InitOnce();
    // Written by the declaration of the types, before any store file is read.
    QCOMPARE(GetSetting("availability_status"), QStringLiteral("available"));
}

void TestServerData::attributesAndNodesHoldOneValue()
{
    d.RemoveAllItems();
    ItemPtr l_ann = (*d["user"])["ann"];
    ItemPtr l_bo = (*d["user"])["bo"];
    l_ann += (*d["country_code"])["DE"];
    l_bo += (*d["country_code"])["DE"];
    l_ann += (*d["country_code"])["FR"];
    QCOMPARE(l_ann.GetItems("country_code").size(), size_t(1));
    QCOMPARE(l_ann["country_code"].AsString(), QStringLiteral("FR"));
    QCOMPARE(l_bo["country_code"].AsString(), QStringLiteral("DE"));

    // Flags are one shared item; nodes are one per room, and the owner node has one user.
    QCOMPARE(l_ann.NewItem("is_online"), l_bo.NewItem("is_online"));
    ItemPtr l_room = (*d["room"])["den"];
    ItemPtr l_other = (*d["room"])["hall"];
    ItemPtr l_owner = l_room.NewItem("room_owner");
    QCOMPARE(l_room.NewItem("room_owner"), l_owner);
    QVERIFY(l_other.NewItem("room_owner") != l_owner);
    l_owner += l_ann;
    l_owner += l_bo;
    QCOMPARE(l_owner.GetItems("user").size(), size_t(1));
    QCOMPARE(l_owner["user"], l_bo);
    // A room's users are many to many.
    l_room += l_ann;
    l_room += l_bo;
    l_other += l_ann;
    QCOMPARE(l_room.GetItems("user").size(), size_t(2));
    QCOMPARE(l_ann.GetItems("room").size(), size_t(2));
}

void TestServerData::savedItemsSurviveARestart()
{
    d.RemoveAllItems();
    (*d["room"])["lobby"].NewItem("room_autojoin");
    ItemPtr l_cellar = (*d["room"])["cellar"];
    l_cellar.NewItem("in_room");
    ItemPtr l_friends = (*d["user_list_group"])["friends"];
    l_friends += (*d["group_download_priority"])["3"];
    l_friends.NewItem("accept_uploads");
    ItemPtr l_listed = (*d["user"])["ann"].NewItem("in_user_list");
    l_listed += l_friends;
    (*d["user"])["troll"].NewItem("is_ignored");
    (*d["user"])["zed"].NewItem("is_tracked");
    (*d["user"])["zed"].NewItem("is_online");

    QVERIFY(QDir().mkpath(QDir::homePath()));
    QString const l_path = QDir::homePath() + QStringLiteral("/server_data_store");
    QVERIFY(dataSaver->Save(l_path));
    d.RemoveAllItems();

    DataSaver* lp_saver = dataSaver;
    {
        DataSaver l_loader;  // without handlers from earlier fixtures
        // A load applies registered types only: those the server's types registered.
        for (char const* lp_type : {"room", "room_autojoin", "user", "in_user_list",
                                    "user_list_group", "is_ignored", "group_download_priority",
                                    "accept_uploads"})
            l_loader.AddSavedType(lp_type);
        l_loader.Load(l_path);
    }
    dataSaver = lp_saver;

    ItemPtr l_lobby = d["room"]->HasItem("lobby");
    QVERIFY(l_lobby);
    QVERIFY(l_lobby.IsConnected("room_autojoin"));
    QVERIFY(!d["room"]->HasItem("cellar"));
    ItemPtr l_ann = d["user"]->HasItem("ann");
    QVERIFY(l_ann);
    ItemPtr l_group = l_ann["in_user_list"]["user_list_group"];
    QCOMPARE(l_group.AsString(), QStringLiteral("friends"));
    QCOMPARE(l_group["group_download_priority"].AsString(), QStringLiteral("3"));
    QVERIFY(l_group.IsConnected("accept_uploads"));
    QVERIFY(d["user"]->HasItem("troll").IsConnected("is_ignored"));
    QVERIFY(!d["user"]->HasItem("zed"));
}

void TestServerData::trackingUsers()
{
    Fixture l_env;
    Server& l_server = l_env.server();
    // Offline: the flag is set and the watch goes out with the next login.
    l_server.TrackUser("ann");
    QVERIFY((*d["user"])["ann"].IsConnected("is_tracked"));
    QVERIFY(l_env.LogIn());
    QTRY_COMPARE_WITH_TIMEOUT(CodesOf(l_env.FramesAfterLogin()), (QList<quint32>{5}), 3000);

    l_server.TrackUser("ann");  // already watched
    l_server.TrackUser("bo");
    l_server.TrackUser("bo");
    l_server.UntrackUser("cy");  // never watched
    l_server.UntrackUser("ann");
    l_server.UntrackUser("ann");
    l_server.EveryFiveMinutes();
    QVERIFY(l_env.fake().WaitForCode(32));
    QList<FakeServer::Frame> const l_frames = l_env.FramesAfterLogin();
    QCOMPARE(CodesOf(l_frames), (QList<quint32>{5, 5, 6, 32}));
    QCOMPARE(l_frames[1].payload, FrameBuilder(5).Str("bo").Payload());
    QCOMPARE(l_frames[2].payload, FrameBuilder(6).Str("ann").Payload());
    QVERIFY(!(*d["user"])["ann"].IsConnected("is_tracked"));
    QVERIFY((*d["user"])["bo"].IsConnected("is_tracked"));
}

void TestServerData::availabilityStatus()
{
    Fixture l_env;
    Server& l_server = l_env.server();
    QVERIFY(l_env.LogIn());
    l_server.SetAvailabilityStatus(false);
    QCOMPARE(GetSetting("availability_status"), QStringLiteral("away"));
    l_server.SetAvailabilityStatus(true);
    QCOMPARE(GetSetting("availability_status"), QStringLiteral("available"));
    QTRY_COMPARE_WITH_TIMEOUT(CodesOf(l_env.FramesAfterLogin()), (QList<quint32>{28, 28}), 3000);
    QCOMPARE(l_env.FramesAfterLogin()[0].Fields(), FrameBuilder::LittleEndian(1, 4));
    QCOMPARE(l_env.FramesAfterLogin()[1].Fields(), FrameBuilder::LittleEndian(2, 4));

    // "available" is not announced at login.
    l_env.fake().DropClient();
    QTRY_COMPARE_WITH_TIMEOUT(l_env.disconnected().count(), 1, 3000);
    l_server.AttemptReconnect();
    QTRY_COMPARE_WITH_TIMEOUT(l_env.connected().count(), 2, 3000);
    l_server.EveryFiveMinutes();
    QVERIFY(QTest::qWaitFor([&] { return CodesOf(l_env.FramesAfterLogin()).contains(32); }, 3000));
    QCOMPARE(CodesOf(l_env.FramesAfterLogin()), (QList<quint32>{32}));
}

void TestServerData::upnpDefaultAfterLoad()
{
    Fixture l_env;
    QVERIFY(!HasSetting("use_upnp"));
    l_env.server().DataLoaded();
    QCOMPARE(GetSetting("use_upnp"), QStringLiteral("yes"));
    SetSetting("use_upnp", QStringLiteral("no"));
    l_env.server().DataLoaded();
    QCOMPARE(GetSetting("use_upnp"), QStringLiteral("no"));

    // The default is for a missing setting item only, not for one without a value.
    d["global"]->HasItem("use_upnp").Disconnect("global_value");
    QVERIFY(d["global"]->HasItem("use_upnp"));
    l_env.server().DataLoaded();
    QVERIFY(!HasSetting("use_upnp"));
}

QTEST_GUILESS_MAIN(TestServerData)
#include "tst_server_data.moc"
