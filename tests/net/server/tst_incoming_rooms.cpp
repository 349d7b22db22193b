// The central server's room messages, sent as raw frames by the fake server: chat
// lines, joining and leaving, users coming and going, the room list with its owned and
// member rooms, and private-room members and operators; short messages, list bounds
// and parallel lists of unequal length.

#include "IncomingTestEnv.h"

#include <QtTest>

using namespace IncomingTestEnv;
using IncomingFrames::Stats;

namespace
{
ItemPtr Node(QString const& room, char const* node)
{
    ItemPtr const l_room = RoomItem(room);
    return l_room.IsNull() ? ItemPtr() : l_room[node];
}

QStringList Members(QString const& room)
{
    return UserNames(Node(room, "room_members"));
}

QStringList Operators(QString const& room)
{
    return UserNames(Node(room, "room_operators"));
}

QString Owner(QString const& room)
{
    QStringList const l_owner = UserNames(Node(room, "room_owner"));
    return l_owner.isEmpty() ? QStringLiteral("<none>") : l_owner.join(',');
}

QString Count(QString const& room)
{
    return ValueOf(RoomItem(room), "user_count");
}

// Watches a room gaining and losing in_room the way a room tab does, and notes what
// the store held at that moment: the tab opens on the flag and learns its members only
// from the links made after it, and it closes on the flag's loss.
class EntryWatcher : public DataHandler
{
public:
    EntryWatcher()
    {
        d.AddConnectionEventHandler(d["room"], d["in_room"], CreateHandler(this, &EntryWatcher::OnEntered));
        d.AddDisconnectionEventHandler(d["room"], d["in_room"], CreateHandler(this, &EntryWatcher::OnLeft));
    }
    ~EntryWatcher() override { RemoveDataHandlers(); }

    static ItemPtr RoomOf(ConnectionInfo& i_info)
    {
        return i_info.first.GetType() == d["room"] ? i_info.first : i_info.second;
    }

    void OnEntered(ConnectionInfo& i_info)
    {
        ItemPtr const l_room = RoomOf(i_info);
        m_events.append("entered users=" + UserNames(l_room).join(',') + " owner=" + Owner(l_room.AsString()) +
                        " operators=" + Operators(l_room.AsString()).join(','));
    }

    void OnLeft(ConnectionInfo& i_info)
    {
        m_events.append("left users=" + UserNames(RoomOf(i_info)).join(','));
    }

    QStringList m_events;
};
} // namespace

class TestIncomingRooms : public QObject
{
    Q_OBJECT

private slots:
    void roomChat();
    void roomJoined();
    void roomJoinedOwnerAndOperators();
    void roomJoinedListBoundsAndUnequalLists();
    void roomEntryAndExitOrder();
    void roomLeftAndUsersComingAndGoing();
    void roomListAcceptsPublicRoomsOnce();
    void roomListReconcilesPrivateRooms();
    void roomListUnequalLists();
    void privateRoomMembersAndOperators();
    void privateRoomStanding();
};

void TestIncomingRooms::roomChat()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    QSignalSpy l_chat(&l_env.server(), &Server::RoomChat);
    (*d["user"])["troll"].NewItem("is_ignored");

    QVERIFY(l_env.Deliver(IncomingFrames::RoomChat("den", "troll", "spam").Frame() +
                          IncomingFrames::RoomChat("den", "ann", QString::fromUtf8("h\xC3\xA9")).Frame()));
    QCOMPARE(l_chat.count(), 1);
    QCOMPARE(l_chat.at(0).at(0).toString(), QStringLiteral("den"));
    QCOMPARE(l_chat.at(0).at(1).toString(), QStringLiteral("ann"));
    QCOMPARE(l_chat.at(0).at(2).toString(), QString::fromUtf8("h\xC3\xA9"));
    // No item changes: neither the speaker nor the room is made.
    QVERIFY(UserItem("ann").IsNull());
    QVERIFY(RoomItem("den").IsNull());

    // Cut after the room: an empty speaker and text.
    QVERIFY(l_env.Deliver(IncomingFrames::Cut(IncomingFrames::RoomChat("den", "bo", "x"), 4 + 7)));
    QCOMPARE(l_chat.count(), 2);
    QCOMPARE(l_chat.at(1).at(1).toString(), QString());
}

void TestIncomingRooms::roomJoined()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    // Someone linked before the join is not in the server's list.
    (*d["room"])["den"].Connect((*d["user"])["gone"]);

    QVERIFY(l_env.Deliver(IncomingFrames::RoomJoined("den", {"A", "B"}, {{100, 1, 5, 2}, {200, 2, 7, 3}}, {"DE", "FR"})));
    ItemPtr const l_den = RoomItem("den");
    QVERIFY(HasFlag(l_den, "in_room"));
    QCOMPARE(UserNames(l_den), (QStringList{"A", "B"}));
    QCOMPARE(ValueOf(UserItem("A"), "average_download_speed"), QStringLiteral("100"));
    QCOMPARE(ValueOf(UserItem("B"), "average_download_speed"), QStringLiteral("200"));
    QCOMPARE(ValueOf(UserItem("A"), "shared_files_count"), QStringLiteral("5"));
    QCOMPARE(ValueOf(UserItem("B"), "shared_files_count"), QStringLiteral("7"));
    QCOMPARE(ValueOf(UserItem("A"), "country_code"), QStringLiteral("DE"));
    QCOMPARE(ValueOf(UserItem("B"), "country_code"), QStringLiteral("FR"));
    // A public room's message has no owner or operators; none are made.
    QCOMPARE(Owner("den"), QStringLiteral("<none>"));
    QVERIFY(Node("den", "room_operators").IsNull());

    // The numbers are the signed text of their 32 bits; a later join replaces values.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomJoined("den", {"A"}, {{0xFFFFFFFFu, 0, 0x80000000u, 0}}, {"IT"})));
    QCOMPARE(UserNames(l_den), QStringList{"A"});
    QCOMPARE(ValueOf(UserItem("A"), "average_download_speed"), QStringLiteral("-1"));
    QCOMPARE(ValueOf(UserItem("A"), "shared_files_count"), QStringLiteral("-2147483648"));
    QCOMPARE(ValueOf(UserItem("A"), "country_code"), QStringLiteral("IT"));
}

void TestIncomingRooms::roomJoinedOwnerAndOperators()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());

    FrameBuilder l_private = IncomingFrames::RoomJoined("vault", {"own", "op1", "x"}, {}, {});
    IncomingFrames::AddOwnerAndOperators(l_private, "own", {"op2", "op1", "op2"});
    QVERIFY(l_env.Deliver(l_private));
    QCOMPARE(Owner("vault"), QStringLiteral("own"));
    QCOMPARE(Operators("vault"), (QStringList{"op1", "op2"}));
    QCOMPARE(UserNames(RoomItem("vault")), (QStringList{"op1", "own", "x"}));

    // Without owner: users replaced, owner and operators kept.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomJoined("vault", {"y"}, {}, {})));
    QCOMPARE(UserNames(RoomItem("vault")), QStringList{"y"});
    QCOMPARE(Owner("vault"), QStringLiteral("own"));
    QCOMPARE(Operators("vault"), (QStringList{"op1", "op2"}));

    // A new owner replaces the old one; an empty operator set empties the node.
    FrameBuilder l_emptied = IncomingFrames::RoomJoined("vault", {"y"}, {}, {});
    IncomingFrames::AddOwnerAndOperators(l_emptied, "heir", {});
    QVERIFY(l_env.Deliver(l_emptied));
    QCOMPARE(Owner("vault"), QStringLiteral("heir"));
    QVERIFY(Operators("vault").isEmpty());

    // An owner but a message cut before the operator set: the owner counts, the
    // operators are emptied.
    FrameBuilder l_cut = IncomingFrames::RoomJoined("vault", {"y"}, {}, {});
    IncomingFrames::AddOwnerAndOperators(l_cut, "third", {"z"});
    QVERIFY(l_env.Deliver(IncomingFrames::Cut(l_cut, l_cut.Payload().size() - 5)));
    QCOMPARE(Owner("vault"), QStringLiteral("third"));
    QVERIFY(Operators("vault").isEmpty());
}

void TestIncomingRooms::roomJoinedListBoundsAndUnequalLists()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());

    // Names A, B, C; statistics only for A; country codes for A and B. Whatever follows
    // the lists is read where it really is: the owner and operators come out right.
    FrameBuilder l_unequal = IncomingFrames::RoomJoined("den", {"A", "B", "C"}, {{10, 0, 1, 0}}, {"DE", "FR"});
    IncomingFrames::AddOwnerAndOperators(l_unequal, "boss", {"A"});
    QVERIFY(l_env.Deliver(l_unequal));
    QCOMPARE(UserNames(RoomItem("den")), (QStringList{"A", "B", "C"}));
    QCOMPARE(ValueOf(UserItem("A"), "average_download_speed"), QStringLiteral("10"));
    QCOMPARE(ValueOf(UserItem("A"), "country_code"), QStringLiteral("DE"));
    QCOMPARE(ValueOf(UserItem("B"), "average_download_speed"), QStringLiteral("<none>"));
    QCOMPARE(ValueOf(UserItem("B"), "shared_files_count"), QStringLiteral("<none>"));
    QCOMPARE(ValueOf(UserItem("B"), "country_code"), QStringLiteral("FR"));
    QCOMPARE(ValueOf(UserItem("C"), "average_download_speed"), QStringLiteral("<none>"));
    QCOMPARE(ValueOf(UserItem("C"), "country_code"), QStringLiteral("<none>"));
    QCOMPARE(Owner("den"), QStringLiteral("boss"));
    QCOMPARE(Operators("den"), QStringList{"A"});

    // More statistics than names: the extra entries go to nobody.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomJoined("more", {"M"}, {{1, 0, 1, 0}, {2, 0, 2, 0}}, {"NL", "BE"})));
    QCOMPARE(UserNames(RoomItem("more")), QStringList{"M"});
    QCOMPARE(ValueOf(UserItem("M"), "average_download_speed"), QStringLiteral("1"));
    QCOMPARE(ValueOf(UserItem("M"), "country_code"), QStringLiteral("NL"));

    // An empty list empties the room.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomJoined("den", {}, {}, {})));
    QVERIFY(HasFlag(RoomItem("den"), "in_room"));
    QVERIFY(UserNames(RoomItem("den")).isEmpty());

    // A name count over the bound, or with its top bit set: no names, the room is
    // still joined.
    for (quint32 const l_count : {131073u, 0x80000000u, 0xFFFFFFFFu}) {
        QString const l_room = QStringLiteral("big%1").arg(l_count, 0, 16);
        QVERIFY(l_env.Deliver(FrameBuilder(14).Str(l_room).U32(l_count).Str("A").Str("B")));
        QVERIFY(HasFlag(RoomItem(l_room), "in_room"));
        QVERIFY2(UserNames(RoomItem(l_room)).isEmpty(), qPrintable(l_room));
    }

    // Cut inside the third statistics entry: two entries, no country codes, no owner.
    QByteArray const l_names = FrameBuilder(14).Str("cut").StrList({"P", "Q", "R"}).U32(0).Payload();
    FrameBuilder l_stats;
    l_stats.U32(3).Stats(31, 0, 1, 0).Stats(32, 0, 2, 0).Stats(33, 0, 3, 0);
    QByteArray const l_cut = l_names + l_stats.Payload().left(4 + 20 + 20 + 10);
    QVERIFY(l_env.Deliver(FrameBuilder::Framed(l_cut)));
    QCOMPARE(UserNames(RoomItem("cut")), (QStringList{"P", "Q", "R"}));
    QCOMPARE(ValueOf(UserItem("P"), "average_download_speed"), QStringLiteral("31"));
    QCOMPARE(ValueOf(UserItem("Q"), "shared_files_count"), QStringLiteral("2"));
    QCOMPARE(ValueOf(UserItem("R"), "average_download_speed"), QStringLiteral("<none>"));
    QCOMPARE(ValueOf(UserItem("P"), "country_code"), QStringLiteral("<none>"));
    QCOMPARE(Owner("cut"), QStringLiteral("<none>"));
}

void TestIncomingRooms::roomEntryAndExitOrder()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    (*d["room"])["hall"].Connect((*d["user"])["old"]);
    EntryWatcher l_watcher;

    // The owner and operators are in place when the room is entered; the users of the
    // message are linked only after it, the stale ones still there at that moment.
    FrameBuilder l_join = IncomingFrames::RoomJoined("hall", {"A", "B"}, {}, {});
    IncomingFrames::AddOwnerAndOperators(l_join, "boss", {"op"});
    QVERIFY(l_env.Deliver(l_join));
    QCOMPARE(l_watcher.m_events, QStringList{"entered users=old owner=boss operators=op"});
    QCOMPARE(UserNames(RoomItem("hall")), (QStringList{"A", "B"}));

    // Leaving: the flag goes first, the links after it.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomMessage(15, "hall")));
    QCOMPARE(l_watcher.m_events.size(), 2);
    QCOMPARE(l_watcher.m_events.last(), QStringLiteral("left users=A,B"));
    QVERIFY(UserNames(RoomItem("hall")).isEmpty());
}

void TestIncomingRooms::roomLeftAndUsersComingAndGoing()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());

    // Code 16 links even without in_room, and stores the statistics and country.
    QVERIFY(l_env.Deliver(IncomingFrames::UserJoinedRoom("den", "ann", {300, 9, 40, 2}, "SE")));
    QCOMPARE(UserNames(RoomItem("den")), QStringList{"ann"});
    QCOMPARE(ValueOf(UserItem("ann"), "average_download_speed"), QStringLiteral("300"));
    QCOMPARE(ValueOf(UserItem("ann"), "shared_files_count"), QStringLiteral("40"));
    QCOMPARE(ValueOf(UserItem("ann"), "country_code"), QStringLiteral("SE"));

    // Code 15 for a room the client is not in keeps the links.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomMessage(15, "den")));
    QCOMPARE(UserNames(RoomItem("den")), QStringList{"ann"});

    QVERIFY(l_env.Deliver(IncomingFrames::RoomJoined("den", {"ann", "bo"}, {}, {})));
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUserMessage(17, "den", "bo")));
    QCOMPARE(UserNames(RoomItem("den")), QStringList{"ann"});
    QVERIFY(l_env.Deliver(IncomingFrames::RoomMessage(15, "den")));
    QVERIFY(!HasFlag(RoomItem("den"), "in_room"));
    QVERIFY(UserNames(RoomItem("den")).isEmpty());
    // Users stay in the store.
    QVERIFY(UserItem("bo").IsNotNull());

    // Code 17 for names without items creates both and links nothing.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUserMessage(17, "nowhere", "nobody")));
    QVERIFY(RoomItem("nowhere").IsNotNull());
    QVERIFY(UserItem("nobody").IsNotNull());
    QVERIFY(UserNames(RoomItem("nowhere")).isEmpty());

    // Code 16 cut after the user: zero statistics, empty country code.
    QVERIFY(l_env.Deliver(IncomingFrames::Cut(IncomingFrames::UserJoinedRoom("den", "cy", {5, 5, 5, 5}, "US"), 4 + 7 + 6)));
    QCOMPARE(UserNames(RoomItem("den")), QStringList{"cy"});
    QCOMPARE(ValueOf(UserItem("cy"), "average_download_speed"), QStringLiteral("0"));
    QCOMPARE(ValueOf(UserItem("cy"), "country_code"), QString());
}

void TestIncomingRooms::roomListAcceptsPublicRoomsOnce()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    // Every accepted login allows one list to add public rooms.
    QCOMPARE(GetSetting("accept_room_list"), QStringLiteral("yes"));

    QVERIFY(l_env.Deliver(IncomingFrames::RoomList({"hall", "den"}, {12, 3}, {}, {}, {}, {}, {})));
    QCOMPARE(Count("hall"), QStringLiteral("12"));
    QCOMPARE(Count("den"), QStringLiteral("3"));
    QCOMPARE(GetSetting("accept_room_list"), QStringLiteral("no"));

    // Unasked: known rooms are refreshed, new public rooms are not made.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomList({"hall", "newcomer"}, {20, 5}, {}, {}, {}, {}, {})));
    QCOMPARE(Count("hall"), QStringLiteral("20"));
    QCOMPARE(Count("den"), QStringLiteral("3"));
    QVERIFY(RoomItem("newcomer").IsNull());

    // Asked for again: accepted once more.
    l_env.server().GetRoomList();
    QVERIFY(l_env.Deliver(IncomingFrames::RoomList({"newcomer"}, {-1}, {}, {}, {}, {}, {})));
    QCOMPARE(Count("newcomer"), QStringLiteral("-1"));
    QVERIFY(l_env.fake().WaitForCode(64));
}

void TestIncomingRooms::roomListReconcilesPrivateRooms()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    ItemPtr const l_wasOwned = (*d["room"])["was_owned"];
    l_wasOwned.NewItem("is_owner");
    l_wasOwned.NewItem("is_member");
    l_wasOwned.NewItem("is_private");
    ItemPtr const l_dropped = (*d["room"])["dropped"];
    l_dropped.NewItem("is_member");
    l_dropped.NewItem("is_private");
    l_dropped.NewItem("is_operator");
    (*d["room"])["kept_count"].Connect((*d["user_count"])["9"]);

    // Private rooms are made even when public ones are not accepted.
    SetSetting("accept_room_list", QStringLiteral("no"));
    QVERIFY(l_env.Deliver(IncomingFrames::RoomList({}, {}, {"mine", "Mine2"}, {4, 6}, {"was_owned", "club"}, {8, 10},
                                                   {"club", "mine", "elsewhere"})));
    QVERIFY(HasFlag(RoomItem("mine"), "is_owner"));
    QVERIFY(HasFlag(RoomItem("mine"), "is_private"));
    QVERIFY(HasFlag(RoomItem("mine"), "is_member"));
    QCOMPARE(Count("Mine2"), QStringLiteral("6"));
    // The operator set counts for member rooms only.
    QVERIFY(!HasFlag(RoomItem("mine"), "is_operator"));
    QVERIFY(HasFlag(RoomItem("club"), "is_operator"));
    QVERIFY(HasFlag(RoomItem("club"), "is_member"));
    QCOMPARE(Count("club"), QStringLiteral("10"));
    QVERIFY(RoomItem("elsewhere").IsNull());
    // Owned before, now only a member: loses is_owner, keeps is_member.
    QVERIFY(!HasFlag(l_wasOwned, "is_owner"));
    QVERIFY(HasFlag(l_wasOwned, "is_member"));
    // In no list: loses is_member, keeps is_private and is_operator.
    QVERIFY(!HasFlag(l_dropped, "is_member"));
    QVERIFY(HasFlag(l_dropped, "is_private"));
    QVERIFY(HasFlag(l_dropped, "is_operator"));
    // Rooms the lists do not name keep their count.
    QCOMPARE(Count("kept_count"), QStringLiteral("9"));

    // Names compare case-sensitively; an empty list ends every standing.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomList({}, {}, {"mine2"}, {1}, {}, {}, {})));
    QVERIFY(!HasFlag(RoomItem("Mine2"), "is_owner"));
    QVERIFY(!HasFlag(RoomItem("Mine2"), "is_member"));
    QVERIFY(HasFlag(RoomItem("mine2"), "is_owner"));
    QVERIFY(!HasFlag(RoomItem("club"), "is_member"));
    QVERIFY(HasFlag(RoomItem("club"), "is_operator"));
}

void TestIncomingRooms::roomListUnequalLists()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());

    // Two public names, one count; one owned name, no count; the lists behind them are
    // still read where they are.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomList({"p1", "p2"}, {7}, {"o1"}, {}, {"m1"}, {3, 99}, {"m1"})));
    QCOMPARE(Count("p1"), QStringLiteral("7"));
    QVERIFY(RoomItem("p2").IsNotNull());
    QCOMPARE(Count("p2"), QStringLiteral("<none>"));
    QCOMPARE(Count("o1"), QStringLiteral("<none>"));
    QVERIFY(HasFlag(RoomItem("o1"), "is_owner"));
    QCOMPARE(Count("m1"), QStringLiteral("3"));
    QVERIFY(HasFlag(RoomItem("m1"), "is_operator"));

    // A public count list over the bound reads as empty; a list cut inside its third
    // name keeps two names.
    SetSetting("accept_room_list", QStringLiteral("yes"));
    QVERIFY(l_env.Deliver(FrameBuilder(64).StrList({"q1"}).U32(131073).I32(5)));
    QVERIFY(RoomItem("q1").IsNotNull());
    QCOMPARE(Count("q1"), QStringLiteral("<none>"));
    // A name list or a count list whose count has its top bit set reads as empty too.
    SetSetting("accept_room_list", QStringLiteral("yes"));
    QVERIFY(l_env.Deliver(FrameBuilder(64).U32(0x80000000u).Str("n1").Str("n2")));
    QVERIFY(RoomItem("n1").IsNull());
    QVERIFY(RoomItem("n2").IsNull());
    SetSetting("accept_room_list", QStringLiteral("yes"));
    QVERIFY(l_env.Deliver(FrameBuilder(64).StrList({"q2"}).U32(0xFFFFFFFFu).I32(5).I32(6)));
    QVERIFY(RoomItem("q2").IsNotNull());
    QCOMPARE(Count("q2"), QStringLiteral("<none>"));
    SetSetting("accept_room_list", QStringLiteral("yes"));
    QByteArray const l_full = FrameBuilder(64).StrList({"r1", "r2", "r3"}).Payload();
    QVERIFY(l_env.Deliver(FrameBuilder::Framed(l_full.left(l_full.size() - 1))));
    QVERIFY(RoomItem("r2").IsNotNull());
    QVERIFY(RoomItem("r3").IsNull());
    QVERIFY(RoomItem("r").IsNull());
}

void TestIncomingRooms::privateRoomMembersAndOperators()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());

    QVERIFY(l_env.Deliver(IncomingFrames::RoomUsersMessage(133, "vault", {"b", "a", "b"})));
    QCOMPARE(Members("vault"), (QStringList{"a", "b"}));
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUserMessage(134, "vault", "c")));
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUserMessage(135, "vault", "a")));
    QCOMPARE(Members("vault"), (QStringList{"b", "c"}));
    // A new member list replaces the old one.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUsersMessage(133, "vault", {"d"})));
    QCOMPARE(Members("vault"), QStringList{"d"});

    QVERIFY(l_env.Deliver(IncomingFrames::RoomUsersMessage(148, "vault", {"o1", "o2"})));
    QCOMPARE(Operators("vault"), (QStringList{"o1", "o2"}));
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUserMessage(143, "vault", "o3")));
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUserMessage(144, "vault", "o1")));
    QCOMPARE(Operators("vault"), (QStringList{"o2", "o3"}));
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUsersMessage(148, "vault", {})));
    QVERIFY(Operators("vault").isEmpty());
    // The member and operator nodes are the room's own, one of each.
    QCOMPARE(RoomItem("vault").GetItems("room_members").size(), std::size_t(1));
    QCOMPARE(RoomItem("vault").GetItems("room_operators").size(), std::size_t(1));

    // Removals name rooms and users that had no items: both are made.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomUserMessage(135, "other", "stranger")));
    QVERIFY(RoomItem("other").IsNotNull());
    QVERIFY(UserItem("stranger").IsNotNull());
    // A member set over the bound empties the node.
    QVERIFY(l_env.Deliver(FrameBuilder(133).Str("vault").U32(131073).Str("x")));
    QVERIFY(Members("vault").isEmpty());
}

void TestIncomingRooms::privateRoomStanding()
{
    Fixture l_env;
    QVERIFY(l_env.LoggedIn());
    Server& l_server = l_env.server();
    l_env.fake().ClearFrames();

    // Added to a private room: flagged, and joined as a public join would be.
    QVERIFY(l_env.Deliver(IncomingFrames::RoomMessage(139, "vault")));
    QVERIFY(HasFlag(RoomItem("vault"), "is_private"));
    QVERIFY(HasFlag(RoomItem("vault"), "is_member"));
    QVERIFY(l_env.fake().WaitForCode(14));
    QCOMPARE(l_env.fake().FramesWithCode(14).last().payload, FrameBuilder(14).Str("vault").U32(0).Payload());

    QVERIFY(l_env.Deliver(IncomingFrames::RoomMessage(145, "vault")));
    QVERIFY(HasFlag(RoomItem("vault"), "is_operator"));
    QVERIFY(l_env.Deliver(IncomingFrames::RoomMessage(146, "vault")));
    QVERIFY(!HasFlag(RoomItem("vault"), "is_operator"));

    RoomItem("vault").NewItem("is_owner");
    RoomItem("vault").NewItem("is_operator");
    QVERIFY(l_env.Deliver(IncomingFrames::RoomMessage(140, "vault")));
    QVERIFY(!HasFlag(RoomItem("vault"), "is_member"));
    QVERIFY(!HasFlag(RoomItem("vault"), "is_operator"));
    QVERIFY(!HasFlag(RoomItem("vault"), "is_owner"));
    QVERIFY(HasFlag(RoomItem("vault"), "is_private"));

    // The setting is written before the signal, so its receivers may read it.
    QStringList l_enabled;
    QObject::connect(&l_server, &Server::PrivateRoomAddEnabled, &l_server, [&](bool i_enabled) {
        l_enabled.append(QString(i_enabled ? "true/" : "false/") + GetSetting("accept_private_room_add"));
    });
    QVERIFY(l_env.Deliver(IncomingFrames::PrivateRoomAddEnabled(2)));
    QVERIFY(l_env.Deliver(IncomingFrames::PrivateRoomAddEnabled(0)));
    QVERIFY(l_env.Deliver(IncomingFrames::PrivateRoomAddEnabled(0x80)));
    QCOMPARE(l_enabled, (QStringList{"true/yes", "false/no", "true/yes"}));
}

QTEST_GUILESS_MAIN(TestIncomingRooms)
#include "tst_incoming_rooms.moc"
