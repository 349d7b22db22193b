// The reachability sweep, every rule, and a million-item Secondary chain
// marked without recursion.

#include "StoreTestUtil.h"

#include <QtTest>

#include <algorithm>

using namespace storetest;

namespace
{
struct Schema
{
    Type* root = d.NewType(Unique("root"), Primary);
    Type* sec = d.NewType(Unique("sec"), Secondary);
    Type* ter = d.NewType(Unique("ter"), Tertiary);
    Type* owner = d.NewType(Unique("owner"), Secondary);
    Type* owned = d.NewType(Unique("owned"), Secondary);
    Type* flag = d.NewType(Unique("flag"), Tertiary, true);
    Schema()
    {
        root->RelateToType(sec, Many, Many);
        root->RelateToType(ter, Many, Many);
        root->RelateToType(owner, Many, Many);
        root->RelateToType(owned, Many, Many);
        root->RelateToType(flag, Many, One);
        sec->RelateToType(sec, Many, Many);
        sec->RelateToType(ter, Many, Many);
        ter->RelateToType(ter, Many, Many);
        owner->RelateToType(owned, One, Many, true);
        sec->RelateToType(owned, Many, Many);
    }
};
} // namespace

class TestSweep : public QObject
{
    Q_OBJECT

private slots:
    void emptyStoreGivesZero()
    {
        QCOMPARE(d.RemoveDisconnectedItems(), 0);
        Schema s; // types without items
        QCOMPARE(d.RemoveDisconnectedItems(), 0);
    }

    void reachabilityRules()
    {
        Schema s;
        ItemPtr p = s.root->NewItem("p");
        ItemPtr lonelyRoot = s.root->NewItem("lonely");
        ItemPtr t = s.ter->NewItem("t");          // Tertiary directly on a Primary: stays
        ItemPtr behindTer = s.sec->NewItem("bt"); // Secondary only behind a Tertiary: removed
        ItemPtr s1 = s.sec->NewItem("s1");        // reachable through Secondary items
        ItemPtr s2 = s.sec->NewItem("s2");
        ItemPtr t2 = s.ter->NewItem("t2");      // Tertiary reached through a Secondary: stays
        ItemPtr t3 = s.ter->NewItem("t3");      // Tertiary behind a Tertiary: removed
        ItemPtr island1 = s.sec->NewItem("i1"); // unreachable, connected among themselves
        ItemPtr island2 = s.ter->NewItem("i2");
        ItemPtr f = p.NewItem(s.flag->Name().c_str()); // shared flag: Tertiary, reached
        p += t;
        t += behindTer;
        p += s1;
        s1 += s2;
        s2 += t2;
        t2 += t3;
        island1 += island2;
        QCOMPARE(d.RemoveDisconnectedItems(), 4); // bt, t3, i1, i2
        QVERIFY(s.root->HasItem("p") && s.root->HasItem("lonely") && s.ter->HasItem("t"));
        QVERIFY(s.sec->HasItem("s1") && s.sec->HasItem("s2") && s.ter->HasItem("t2"));
        QVERIFY(s.sec->HasItem("bt").IsNull());
        QVERIFY(s.ter->HasItem("t3").IsNull());
        QVERIFY(s.sec->HasItem("i1").IsNull() && s.ter->HasItem("i2").IsNull());
        QVERIFY(f.IsConnected(p));
        QCOMPARE(d.RemoveDisconnectedItems(), 0); // nothing added in between
        Q_UNUSED(lonelyRoot);
    }

    void ownedItemsNeedTheirOwner()
    {
        Schema s;
        ItemPtr p = s.root->NewItem("p");
        ItemPtr o = s.owner->NewItem("o");
        ItemPtr kept = s.owned->NewItem("kept");
        ItemPtr orphan = s.owned->NewItem("orphan");
        p += o;
        o += kept;
        p += orphan; // reachable, but without an owner: removed all the same
        p += kept;
        QCOMPARE(d.RemoveDisconnectedItems(), 1);
        QVERIFY(s.owned->HasItem("kept").IsNotNull());
        QVERIFY(s.owned->HasItem("orphan").IsNull());
        // Removing the owner takes the owned item with it at the next sweep.
        o.Remove();
        QCOMPARE(d.RemoveDisconnectedItems(), 1);
        QVERIFY(s.owned->HasItem("kept").IsNull());
    }

    void ownedItemNeedsEveryOwningType()
    {
        // Owned by two types: a connection to an item of each is needed, whatever else
        // makes the item reachable.
        Type* folder = d.NewType(Unique("folder"), Primary);
        Type* user = d.NewType(Unique("user"), Primary);
        Type* grant = d.NewType(Unique("grant"), Secondary);
        folder->RelateToType(grant, Many, Many, true);
        user->RelateToType(grant, Many, Many, true);
        std::vector<Type*> l_owners;
        d.GetTypeOwningTypes(grant, l_owners);
        std::sort(l_owners.begin(), l_owners.end());
        std::vector<Type*> l_expected{folder, user};
        std::sort(l_expected.begin(), l_expected.end());
        QCOMPARE(l_owners, l_expected);
        ItemPtr fo = folder->NewItem("f");
        ItemPtr us = user->NewItem("u");
        ItemPtr both = grant->NewItem("both");
        ItemPtr onlyFolder = grant->NewItem("onlyFolder");
        ItemPtr onlyUser = grant->NewItem("onlyUser");
        fo += both;
        us += both;
        fo += onlyFolder;
        us += onlyUser;
        QCOMPARE(d.RemoveDisconnectedItems(), 2);
        QVERIFY(grant->HasItem("both").IsNotNull());
        QVERIFY(grant->HasItem("onlyFolder").IsNull() && grant->HasItem("onlyUser").IsNull());
        QVERIFY(fo.IsConnected(both) && us.IsConnected(both));
    }

    void markingDoesNotPassThroughOrphans()
    {
        Schema s;
        ItemPtr p = s.root->NewItem("p");
        ItemPtr orphan = s.owned->NewItem("orphan"); // owned, but no owner item
        ItemPtr behind = s.sec->NewItem("behind");   // reachable only through the orphan
        p += orphan;
        orphan += behind;
        std::vector<std::string> l_order;
        Owner l_owner;
        d.m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr item)
            {
                if (item.GetType() == s.owned || item.GetType() == s.sec)
                    l_order.push_back(item.AsStdString());
            }));
        QCOMPARE(d.RemoveDisconnectedItems(), 2);
        QCOMPARE(l_order, (std::vector<std::string>{"orphan", "behind"}));
    }

    void primaryItemsGoOnlyWhenOrphaned()
    {
        Type* boss = d.NewType(Unique("boss"), Primary);
        Type* worker = d.NewType(Unique("worker"), Primary);
        boss->RelateToType(worker, One, Many, true);
        ItemPtr w1 = worker->NewItem("w1");
        ItemPtr w2 = worker->NewItem("w2");
        boss->NewItem("b") += w1;
        QCOMPARE(d.RemoveDisconnectedItems(), 1);
        QVERIFY(worker->HasItem("w1").IsNotNull() && worker->HasItem("w2").IsNull());
        Q_UNUSED(w2);
    }

    void orphansGoBeforeUnreachable()
    {
        Schema s;
        std::vector<std::string> l_order;
        Owner l_owner;
        auto const l_log = l_owner.Make<ItemPtr>(
            [&](ItemPtr item)
            {
                if (item.GetType() == s.owned || item.GetType() == s.sec)
                    l_order.push_back(item.AsStdString());
            });
        d.m_itemRemovedEvent.AddHandler(l_log);
        // Several of each kind, so that addresses interleave.
        for (int n = 0; n < 5; ++n)
        {
            s.sec->NewItem("u" + std::to_string(n));
            s.owned->NewItem("o" + std::to_string(n));
        }
        QCOMPARE(d.RemoveDisconnectedItems(), 10);
        QCOMPARE(l_order.size(), std::size_t(10));
        for (int n = 0; n < 5; ++n)
        {
            QCOMPARE(l_order[n][0], 'o');
            QCOMPARE(l_order[n + 5][0], 'u');
        }
    }

    void countLeavesOutHandlerRemovalsAndNeverRemovesTwice()
    {
        Schema s;
        std::vector<ItemPtr> l_items;
        for (int n = 0; n < 6; ++n)
            l_items.push_back(s.sec->NewItem("x" + std::to_string(n)));
        std::map<Item*, int> l_removals;
        bool l_active = true;
        Owner l_owner;
        s.sec->m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr item)
            {
                ++l_removals[item.GetPtr()];
                if (!l_active)
                    return;
                // The first removal takes every other listed item with it.
                l_active = false;
                for (ItemPtr const& other : l_items)
                    if (other != item && s.sec->HasItem(other.GetValue()))
                        other.Remove();
            }));
        QCOMPARE(d.RemoveDisconnectedItems(), 1);
        QCOMPARE(l_removals.size(), std::size_t(6));
        for (auto const& [lp_item, l_count] : l_removals)
            QCOMPARE(l_count, 1);
        QCOMPARE(s.sec->GetItemCount(), std::size_t(0));
    }

    void itemsMadeDuringTheSweepStay()
    {
        Schema s;
        s.sec->NewItem("gone");
        Owner l_owner;
        bool l_made = false;
        s.sec->m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr)
            {
                if (!l_made)
                    s.sec->NewItem("new");
                l_made = true;
            }));
        QCOMPARE(d.RemoveDisconnectedItems(), 1);
        QVERIFY(s.sec->HasItem("new").IsNotNull());
        QCOMPARE(d.RemoveDisconnectedItems(), 1); // unreachable at the next sweep
    }

    void millionItemChainNeedsNoRecursion()
    {
        Schema s;
        ItemPtr p = s.root->NewItem("chain");
        ItemPtr l_previous = p;
        int const l_length = 1000000;
        ItemPtr l_first;
        for (int n = 0; n < l_length; ++n)
        {
            ItemPtr l_next = s.sec->NewItem(n);
            if (n == 0)
                l_first = l_next;
            l_previous += l_next;
            l_previous = l_next;
        }
        QCOMPARE(d.RemoveDisconnectedItems(), 0);
        QCOMPARE(s.sec->GetItemCount(), std::size_t(l_length));
        p -= l_first;
        QCOMPARE(d.RemoveDisconnectedItems(), l_length);
        QCOMPARE(s.sec->GetItemCount(), std::size_t(0));
    }
};

QTEST_APPLESS_MAIN(TestSweep)
#include "tst_sweep.moc"
