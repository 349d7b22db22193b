// Path events: firing steps, conditions, fixed roots, deeper patterns,
// retirement of registrations with their owner.

#include "StoreTestUtil.h"

#include <QtTest>

using namespace storetest;

namespace
{
struct Watcher : DataHandler
{
    std::vector<std::string> m_roots;
    ~Watcher() override { RemoveDataHandlers(); }
    void OnRoot(ItemPtr root) { m_roots.push_back(root.AsStdString()); }
    void Register(PathNode* root)
    {
        d.AddPathEventHandler(root, CreateHandler(this, &Watcher::OnRoot));
    }
    std::vector<std::string> Take()
    {
        std::vector<std::string> l_roots;
        l_roots.swap(m_roots);
        return l_roots;
    }
};

using Roots = std::vector<std::string>;

struct Schema
{
    Type* user = d.NewType(Unique("user"), Primary);
    Type* online = d.NewType(Unique("online"), Tertiary, true);
    Type* room = d.NewType(Unique("room"), Primary);
    Type* member = d.NewType(Unique("member"), Tertiary, true);
    Type* form = d.NewType(Unique("form"), Secondary);
    Type* widget = d.NewType(Unique("widget"), Secondary);
    Type* note = d.NewType(Unique("note"), Secondary);
    std::string un = user->Name(), on = online->Name(), rn = room->Name(), mn = member->Name(),
                fn = form->Name(), wn = widget->Name(), nn = note->Name();
    Schema()
    {
        user->RelateToType(online, Many, One);
        room->RelateToType(member, Many, One);
        user->RelateToType(form, One, One);
        form->RelateToType(widget, Many, Many);
        user->RelateToType(note, Many, Many);
        user->RelateToType(room, Many, Many);
    }
};
} // namespace

class TestPathEvents : public QObject
{
    Q_OBJECT

private slots:
    void connectingStepFiresOnlyForItsOwnConnection()
    {
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root, s.on.c_str(), PathConnecting);
        w.Register(lp_root);
        ItemPtr bob = s.user->NewItem("bob");
        bob.NewItem(s.on.c_str());
        QCOMPARE(w.Take(), Roots{"bob"});
        bob += s.note->NewItem("n"); // anything else: nothing
        bob += s.form->NewItem("f");
        QVERIFY(w.Take().empty());
        bob.Disconnect(s.on.c_str()); // disconnecting the flag: nothing
        QVERIFY(w.Take().empty());
        // Made from the flag's side: still handed the user.
        s.online->GetGlobalItem() += bob;
        QCOMPARE(w.Take(), Roots{"bob"});
    }

    void notConnectedStepFiresOnDisconnection()
    {
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.rn.c_str());
        new PathNode(lp_root, s.mn.c_str(), PathNotConnected);
        w.Register(lp_root);
        ItemPtr r = s.room->NewItem("lobby");
        r.NewItem(s.mn.c_str());
        QVERIFY(w.Take().empty());
        r.Disconnect(s.mn.c_str());
        QCOMPARE(w.Take(), Roots{"lobby"});
        r.NewItem(s.mn.c_str());
        r.Remove(); // removal disconnects: the handler sees the room one last time
        QCOMPARE(w.Take(), Roots{"lobby"});
    }

    void disconnectingStep()
    {
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root, s.nn.c_str(), PathDisconnecting);
        w.Register(lp_root);
        ItemPtr u = s.user->NewItem("u");
        ItemPtr n = s.note->NewItem("n");
        u += n;
        QVERIFY(w.Take().empty());
        n -= u;
        QCOMPARE(w.Take(), Roots{"u"});
    }

    void fixedRootFiresOnlyForItsItem()
    {
        Schema s;
        Watcher w;
        ItemPtr alice = s.user->NewItem("alice");
        ItemPtr bob = s.user->NewItem("bob");
        auto* lp_root = new PathNode(alice);
        new PathNode(lp_root, s.on.c_str(), PathConnecting);
        w.Register(lp_root);
        bob.NewItem(s.on.c_str());
        QVERIFY(w.Take().empty());
        alice.NewItem(s.on.c_str());
        QCOMPARE(w.Take(), Roots{"alice"});
        // A child fixed to one item.
        Watcher w2;
        ItemPtr n1 = s.note->NewItem("n1");
        ItemPtr n2 = s.note->NewItem("n2");
        auto* lp_root2 = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root2, n2, PathConnecting);
        w2.Register(lp_root2);
        bob += n1;
        QVERIFY(w2.Take().empty());
        bob += n2;
        QCOMPARE(w2.Take(), Roots{"bob"});
    }

    void siblingConditionsMustHold()
    {
        // user: online (PathConnected) and form (PathConnected) whose widget (PathConnected).
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root, s.on.c_str(), PathConnected);
        auto* lp_form = new PathNode(lp_root, s.fn.c_str(), PathConnected);
        new PathNode(lp_form, s.wn.c_str(), PathConnected);
        w.Register(lp_root);
        ItemPtr u = s.user->NewItem("u");
        ItemPtr f = s.form->NewItem("f");
        u.NewItem(s.on.c_str()); // no form yet
        QVERIFY(w.Take().empty());
        u += f; // the form has no widget: its sub-pattern fails
        QVERIFY(w.Take().empty());
        f += s.widget->NewItem("w1"); // deepest step: chain goes up to the root
        QCOMPARE(w.Take(), Roots{"u"});
        u.Disconnect(s.on.c_str());
        QVERIFY(w.Take().empty());
        u.NewItem(s.on.c_str()); // mirrored: the form side holds now
        QCOMPARE(w.Take(), Roots{"u"});
        u -= f;
        u += f;
        QCOMPARE(w.Take(), Roots{"u"});
    }

    void connectingSiblingBlocksOtherSteps()
    {
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root, s.on.c_str(), PathConnected);
        new PathNode(lp_root, s.nn.c_str(), PathConnecting);
        w.Register(lp_root);
        ItemPtr u = s.user->NewItem("u");
        u += s.note->NewItem("n0");
        QVERIFY(w.Take().empty()); // not online
        u.NewItem(s.on.c_str());   // change at the other step: never fires
        QVERIFY(w.Take().empty());
        u += s.note->NewItem("n1");
        QCOMPARE(w.Take(), Roots{"u"});
    }

    void notConnectedCondition()
    {
        // room: fires when a user joins (PathConnecting from room) and the room is not a
        // member room (PathNotConnected as condition).
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.rn.c_str());
        new PathNode(lp_root, s.un.c_str(), PathConnecting);
        new PathNode(lp_root, s.mn.c_str(), PathNotConnectedSilent);
        w.Register(lp_root);
        ItemPtr r = s.room->NewItem("r");
        r += s.user->NewItem("a");
        QCOMPARE(w.Take(), Roots{"r"});
        r.NewItem(s.mn.c_str());
        r += s.user->NewItem("b");
        QVERIFY(w.Take().empty());
    }

    void silentStepIsOnlyACondition()
    {
        // user: online (PathConnectedSilent) and form (PathConnected).
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root, s.on.c_str(), PathConnectedSilent);
        new PathNode(lp_root, s.fn.c_str(), PathConnected);
        w.Register(lp_root);
        QVERIFY(!d.m_pathConnectionInternal.count(TypePair(s.user, s.online)));
        ItemPtr u = s.user->NewItem("u");
        ItemPtr f = s.form->NewItem("f");
        u += f; // not online
        QVERIFY(w.Take().empty());
        u.NewItem(s.on.c_str()); // the silent step never fires by itself
        QVERIFY(w.Take().empty());
        u -= f;
        u += f;
        QCOMPARE(w.Take(), Roots{"u"});
        u.Disconnect(s.on.c_str());
        u -= f;
        u += f;
        QVERIFY(w.Take().empty());
    }

    void notConnectedStepAsCondition()
    {
        // user: note (PathConnecting) while it has no form, or only forms without a
        // widget (form PathNotConnected, widget PathConnected below it).
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root, s.nn.c_str(), PathConnecting);
        auto* lp_form = new PathNode(lp_root, s.fn.c_str(), PathNotConnected);
        new PathNode(lp_form, s.wn.c_str(), PathConnected);
        w.Register(lp_root);
        ItemPtr u = s.user->NewItem("u");
        ItemPtr f = s.form->NewItem("f");
        u += s.note->NewItem("n1"); // no form at all
        QCOMPARE(w.Take(), Roots{"u"});
        u += f;
        u += s.note->NewItem("n2"); // a form that fails its sub-pattern
        QCOMPARE(w.Take(), Roots{"u"});
        // A widget reaches the form: the chain up holds only through the not-connected
        // step, so there is no root item and no call (never a null root).
        ItemPtr l_widget = s.widget->NewItem("w");
        f += l_widget;
        QVERIFY(w.Take().empty());
        u += s.note->NewItem("n3"); // the form now satisfies its sub-pattern
        QVERIFY(w.Take().empty());
        u -= f; // the not-connected step changes, but the connecting sibling never holds
        QVERIFY(w.Take().empty());
        u += s.note->NewItem("n4");
        QCOMPARE(w.Take(), Roots{"u"});
    }

    void upwardChainHandsTheFirstSatisfiedRoot()
    {
        // room (member flag, PathConnected) -> user (PathConnected) -> online
        // (PathConnecting): a user in several rooms reports the lowest-addressed room
        // that satisfies the pattern, once.
        Schema s;
        Watcher w;
        auto* lp_root = new PathNode(&d, s.rn.c_str());
        new PathNode(lp_root, s.mn.c_str(), PathConnected);
        auto* lp_user = new PathNode(lp_root, s.un.c_str(), PathConnected);
        new PathNode(lp_user, s.on.c_str(), PathConnecting);
        w.Register(lp_root);
        ItemPtr u = s.user->NewItem("u");
        std::vector<ItemPtr> l_rooms;
        for (int n = 0; n < 6; ++n)
        {
            ItemPtr l_room = s.room->NewItem("r" + std::to_string(n));
            u += l_room;
            l_rooms.push_back(l_room);
        }
        u.NewItem(s.on.c_str()); // no room is a member room
        QVERIFY(w.Take().empty());
        u.Disconnect(s.on.c_str());
        ItemSet l_members;
        for (int n : {1, 3, 4})
        {
            l_rooms[std::size_t(n)].NewItem(s.mn.c_str()); // never fires: the user step
            l_members.insert(l_rooms[std::size_t(n)]);     // below it has a connecting step
        }
        QVERIFY(w.Take().empty());
        u.NewItem(s.on.c_str());
        QCOMPARE(w.Take(), Roots{ItemPtr(l_members).AsStdString()});
    }

    void rootAloneAndSchemaErrors()
    {
        Schema s;
        Watcher w;
        std::size_t const l_before = d.m_pathRegistrations.size();
        w.Register(new PathNode(&d, s.un.c_str()));
        QCOMPARE(d.m_pathRegistrations.size(), l_before);
        QVERIFY(w.m_dataHandlers.empty()); // the handler was freed at once
        QVERIFY(Throws<TypeNotFoundException>([&] { PathNode(&d, Unique("none").c_str()); }));
        auto* lp_root = new PathNode(&d, s.un.c_str());
        QVERIFY(Throws<TypeNotFoundException>(
            [&] { new PathNode(lp_root, Unique("none").c_str(), PathConnected); }));
        QVERIFY(lp_root->m_children.empty());
        new PathNode(lp_root, s.wn.c_str(), PathConnecting); // user and widget: unrelated
        QVERIFY(Throws<NotRelatedException>([&] { w.Register(lp_root); }));
        QCOMPARE(d.m_pathRegistrations.size(), l_before);
    }

    void ownerDestroyedEndsTheRegistration()
    {
        Schema s;
        auto* lp_watcher = new Watcher;
        auto* lp_root = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root, s.on.c_str(), PathConnecting);
        lp_watcher->Register(lp_root);
        TypePair const l_pair(s.user, s.online);
        QVERIFY(d.m_pathConnectionInternal.count(l_pair));
        std::size_t const l_registrations = d.m_pathRegistrations.size();
        delete lp_watcher;
        ItemPtr u = s.user->NewItem("u");
        u.NewItem(s.on.c_str()); // finds the flagged handler: drops the registration
        QCOMPARE(d.m_pathRegistrations.size(), l_registrations - 1);
        QVERIFY(!d.m_pathConnectionInternal.count(l_pair));
        QVERIFY(!d.m_pathConnectionHandlers.count(l_pair));
        u.Disconnect(s.on.c_str());
        u.NewItem(s.on.c_str());
        // A new registration on the same pair installs a fresh internal handler.
        Watcher w;
        auto* lp_root2 = new PathNode(&d, s.un.c_str());
        new PathNode(lp_root2, s.on.c_str(), PathConnecting);
        w.Register(lp_root2);
        s.user->NewItem("v").NewItem(s.on.c_str());
        QCOMPARE(w.Take(), Roots{"v"});
    }

    void ownerDestroyedInsideAPathNotification()
    {
        Schema s;
        auto* lp_first = new Watcher;
        auto* lp_second = new Watcher;
        Watcher* lp_watchers[2] = {lp_first, lp_second};
        int l_calls = 0;
        struct Killer : DataHandler
        {
            std::function<void()> m_action;
            ~Killer() override { RemoveDataHandlers(); }
            void On(ItemPtr) { m_action(); }
        };
        Killer l_killers[2];
        for (int n = 0; n < 2; ++n)
        {
            auto* lp_root = new PathNode(&d, s.un.c_str());
            new PathNode(lp_root, s.on.c_str(), PathConnecting);
            l_killers[n].m_action = [&, n]
            {
                ++l_calls;
                delete lp_watchers[1 - n];
                lp_watchers[1 - n] = nullptr;
                // The other killer must not run in this pass.
                l_killers[1 - n].m_action = [&] { QFAIL("retired handler ran"); };
            };
            d.AddPathEventHandler(lp_root, l_killers[n].CreateHandler(&l_killers[n], &Killer::On));
            // Own the killer's handler as the watcher would: retire it with the watcher.
            lp_watchers[n]->AddDataHandler(*l_killers[n].m_dataHandlers.begin());
        }
        s.user->NewItem("u").NewItem(s.on.c_str());
        QCOMPARE(l_calls, 1);
        delete lp_watchers[0];
        delete lp_watchers[1];
        s.user->NewItem("v").NewItem(s.on.c_str());
        QCOMPARE(l_calls, 1);
        QVERIFY(!d.m_pathConnectionInternal.count(TypePair(s.user, s.online)));
    }
};

QTEST_APPLESS_MAIN(TestPathEvents)
#include "tst_path_events.moc"
