// The store under re-entrant handlers: handlers that remove items while a bulk
// operation walks a copy, deferred freeing (no address reuse within one operation),
// owners destroyed inside notifications, path registrations dropped during a
// notification, and a store that outlives `main`. Meant to run under ASan/UBSan.

#include "StoreTestUtil.h"

#include <QtTest>

#include <cstdlib>

using namespace storetest;

namespace
{
struct Schema
{
    Type* hub = d.NewType(Unique("hub"), Primary);
    Type* leaf = d.NewType(Unique("leaf"), Secondary);
    std::string hn = hub->Name(), ln = leaf->Name();
    Schema() { hub->RelateToType(leaf, Many, Many); }
};

// Creates, finds and removes an item of `type`, with its events; false when the
// store did not behave.
bool UseStore(Type* type)
{
    int l_events = 0;
    Owner l_owner;
    type->m_itemAddedEvent.AddHandler(l_owner.Make<ItemPtr>([&](ItemPtr) { ++l_events; }));
    type->m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>([&](ItemPtr) { ++l_events; }));
    ItemPtr const l_item = type->NewItem("late");
    bool const l_found = l_item.IsNotNull() && d.GetType(type->Name()) == type &&
                         type->HasItem("late") == l_item;
    l_item.Remove();
    return l_found && type->HasItem("late").IsNull() && l_events == 2;
}

// Uses the store after `main` has returned: the store must still be there. A failure
// (or, under ASan, any touch of freed memory) makes the process fail after the tests.
struct AfterMain
{
    Type* mp_type = nullptr;
    ~AfterMain()
    {
        if (mp_type && !UseStore(mp_type))
            std::abort();
    }
};
AfterMain g_afterMain;
} // namespace

class TestStoreFaults : public QObject
{
    Q_OBJECT

private slots:
    void handlerRemovesSiblingDuringRemove()
    {
        Schema s;
        ItemPtr h = s.hub->NewItem("h");
        std::vector<ItemPtr> l_leaves;
        for (int n = 0; n < 5; ++n)
            l_leaves.push_back(h += s.leaf->NewItem(n));
        std::map<Item*, int> l_removed;
        Owner l_owner;
        s.leaf->m_itemRemovedEvent.AddHandler(
            l_owner.Make<ItemPtr>([&](ItemPtr item) { ++l_removed[item.GetPtr()]; }));
        bool l_done = false;
        s.hub->m_disconnectedEvent.AddHandler(l_owner.Make<ConnectionInfo>(
            [&](ConnectionInfo)
            {
                if (l_done)
                    return;
                l_done = true;
                for (ItemPtr const& l_leaf : l_leaves) // siblings still waiting in the copy
                    if (l_leaf.IsConnected(h))
                        l_leaf.Remove();
            }));
        h.Remove();
        QCOMPARE(l_removed.size(), std::size_t(4));
        for (auto const& [lp_item, l_count] : l_removed)
            QCOMPARE(l_count, 1);
        QCOMPARE(s.leaf->GetItemCount(), std::size_t(1));
        QVERIFY(s.leaf->GetItems().begin()->IsDisconnectedFromAll());
    }

    void handlerRemovesSiblingDuringRemoveAllItems()
    {
        Schema s;
        for (int n = 0; n < 6; ++n)
            s.leaf->NewItem(n);
        std::map<Item*, int> l_removed;
        std::set<Item*> l_gone;
        std::vector<Item*> l_made;
        Owner l_owner;
        s.leaf->m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr item)
            {
                ++l_removed[item.GetPtr()];
                l_gone.insert(item.GetPtr());
                // Remove a later sibling and make a new item: its address must not be one
                // of a removed item during this operation.
                ItemPtr l_next = s.leaf->HasItem(std::to_string(item.AsInt() + 1));
                if (l_next)
                    l_next.Remove();
                l_made.push_back(s.hub->NewItem("made" + item.AsStdString()).GetPtr());
            }));
        s.leaf->RemoveAllItems();
        QCOMPARE(s.leaf->GetItemCount(), std::size_t(0));
        QCOMPARE(l_removed.size(), std::size_t(6));
        for (auto const& [lp_item, l_count] : l_removed)
            QCOMPARE(l_count, 1);
        for (Item* lp_made : l_made)
            QVERIFY(!l_gone.count(lp_made));
    }

    void handlerRemovesSiblingDuringDisconnectByName()
    {
        Schema s;
        ItemPtr h = s.hub->NewItem("h");
        std::vector<ItemPtr> l_leaves;
        for (int n = 0; n < 5; ++n)
            l_leaves.push_back(h += s.leaf->NewItem(n));
        int l_disconnections = 0;
        Owner l_owner;
        s.hub->m_disconnectedEvent.AddHandler(l_owner.Make<ConnectionInfo>(
            [&](ConnectionInfo info)
            {
                ++l_disconnections;
                if (l_disconnections == 1)
                    for (ItemPtr const& l_leaf : l_leaves)
                        if (l_leaf != info.second && l_leaf.IsConnected(h))
                        {
                            l_leaf.Remove(); // fires its own disconnection from h
                            break;
                        }
            }));
        h.Disconnect(s.ln.c_str());
        QVERIFY(h.IsDisconnectedFromAll());
        QCOMPARE(l_disconnections, 5);
        QCOMPARE(s.leaf->GetItemCount(), std::size_t(4));
    }

    void handlerRemovesDuringItemSetOperations()
    {
        Schema s;
        ItemPtr h = s.hub->NewItem("h");
        ItemSet l_set;
        for (int n = 0; n < 6; ++n)
            l_set.insert(h += s.leaf->NewItem(n));
        std::map<Item*, int> l_removed;
        Owner l_owner;
        s.leaf->m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr item)
            {
                if (++l_removed[item.GetPtr()] > 1)
                    QFAIL("removed twice");
                for (ItemPtr const& l_other : l_set) // remove everything else still there
                    if (l_other != item && s.leaf->HasItem(l_other.GetValue()))
                        l_other.Remove();
            }));
        l_set.Remove();
        QCOMPARE(l_removed.size(), std::size_t(6));
        QCOMPARE(s.leaf->GetItemCount(), std::size_t(0));

        // ItemSet::Disconnect: a disconnection handler removes members not yet visited.
        Schema t;
        ItemPtr h2 = t.hub->NewItem("h2");
        ItemSet l_members;
        for (int n = 0; n < 4; ++n)
        {
            ItemPtr l_leaf = t.leaf->NewItem(n);
            l_leaf += h2;
            l_members.insert(l_leaf);
        }
        Owner l_owner2;
        t.leaf->m_disconnectedEvent.AddHandler(l_owner2.Make<ConnectionInfo>(
            [&](ConnectionInfo info)
            {
                for (ItemPtr const& l_other : l_members)
                    if (l_other != info.first && t.leaf->HasItem(l_other.GetValue()) &&
                        l_other.IsConnected(h2))
                    {
                        l_other.Remove();
                        return;
                    }
            }));
        l_members.Disconnect(t.hn.c_str());
        QVERIFY(h2.IsDisconnectedFromAll());
    }

    void removedItemCannotBeConnectedAgain()
    {
        Schema s;
        ItemPtr h = s.hub->NewItem("h");
        ItemPtr l = s.leaf->NewItem("l");
        h += l;
        Owner l_owner;
        s.leaf->m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr item)
            {
                item += s.hub->NewItem("other"); // ignored: the item is being removed
            }));
        s.hub->m_disconnectedEvent.AddHandler(
            l_owner.Make<ConnectionInfo>([&](ConnectionInfo info) { info.first += info.second; }));
        l.Remove();
        QVERIFY(h.IsDisconnectedFromAll());
        QVERIFY(s.hub->HasItem("other").IsDisconnectedFromAll());
    }

    void sweepWithHandlersRemovingListedItems()
    {
        Schema s;
        // Unreachable leaves connected among themselves through a hub-less chain.
        std::vector<ItemPtr> l_leaves;
        for (int n = 0; n < 10; ++n)
            l_leaves.push_back(s.leaf->NewItem(n));
        std::map<Item*, int> l_removed;
        Owner l_owner;
        s.leaf->m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr item)
            {
                ++l_removed[item.GetPtr()];
                int const l_value = item.AsInt();
                for (int k : {l_value + 3, l_value + 7})
                    if (ItemPtr l_other = s.leaf->HasItem(k))
                        l_other.Remove();
            }));
        int const l_count = d.RemoveDisconnectedItems();
        QVERIFY(l_count >= 1 && l_count <= 10);
        QCOMPARE(l_removed.size(), std::size_t(10));
        for (auto const& [lp_item, l_times] : l_removed)
            QCOMPARE(l_times, 1);
    }

    void pathRegistrationDroppedWhileItsHandlerRuns()
    {
        // The only registration of a pair retires itself and causes a nested event at the
        // same pair: the nested pass drops the registration and the internal handler that
        // is still running in the outer pass. Nothing may be freed before the outer pass ends.
        Schema s;
        struct SelfRetiring : DataHandler
        {
            Schema* mp_schema = nullptr;
            int m_calls = 0;
            ~SelfRetiring() override { RemoveDataHandlers(); }
            void On(ItemPtr root)
            {
                ++m_calls;
                RemoveDataHandlers();
                root += mp_schema->leaf->NewItem("nested");
            }
        };
        SelfRetiring l_self;
        l_self.mp_schema = &s;
        auto* lp_root = new PathNode(&d, s.hn.c_str());
        new PathNode(lp_root, s.ln.c_str(), PathConnecting);
        d.AddPathEventHandler(lp_root, l_self.CreateHandler(&l_self, &SelfRetiring::On));
        std::size_t const l_before = d.m_pathRegistrations.size();
        ItemPtr h = s.hub->NewItem("h");
        h += s.leaf->NewItem("first");
        QCOMPARE(l_self.m_calls, 1);
        QCOMPARE(d.m_pathRegistrations.size(), l_before - 1);
        QVERIFY(!d.m_pathConnectionInternal.count(TypePair(s.hub, s.leaf)));
        h += s.leaf->NewItem("later");
        QCOMPARE(l_self.m_calls, 1);
    }

    void ownerDestroyedInsideItsOwnHandler()
    {
        Schema s;
        struct Suicidal : DataHandler
        {
            int* mp_calls;
            ~Suicidal() override { RemoveDataHandlers(); }
            void On(ItemPtr)
            {
                ++*mp_calls;
                delete this;
            }
        };
        int l_calls = 0;
        auto* lp_owner = new Suicidal;
        lp_owner->mp_calls = &l_calls;
        s.leaf->m_itemAddedEvent.AddHandler(lp_owner->CreateHandler(lp_owner, &Suicidal::On));
        s.leaf->m_itemAddedEvent.AddHandler(lp_owner->CreateHandler(lp_owner, &Suicidal::On));
        s.leaf->NewItem("a");
        QCOMPARE(l_calls, 1); // the second handler of the dead owner is skipped
        s.leaf->NewItem("b");
        QCOMPARE(l_calls, 1);
        QVERIFY(s.leaf->m_itemAddedEvent.IsEmpty());
    }

    void refilledOneEndEndsWithTheWrite()
    {
        // k += fresh, where k's value end (b One) holds "old" and/or fresh's key end
        // (a One) holds k0. A handler of those disconnections fills the emptied ends
        // again, from either side.
        struct Case
        {
            char const* mp_name;
            OneOrMany m_a, m_b;
            bool m_refillKey, m_refillValue, m_fromValueSide;
        };
        Case const l_cases[] = {
            {"key end", Many, One, true, false, false},
            {"value end", One, Many, false, true, false},
            {"both ends, refilled from the other side", One, One, true, true, true},
        };
        for (Case const& l_case : l_cases)
        {
            Type* const lp_key = d.NewType(Unique("key"), Primary);
            Type* const lp_value = d.NewType(Unique("value"), Tertiary);
            lp_key->RelateToType(lp_value, l_case.m_a, l_case.m_b);
            ItemPtr const l_k = lp_key->NewItem("k");
            ItemPtr const l_fresh = lp_value->NewItem("fresh");
            if (l_case.m_b == One)
                l_k += lp_value->NewItem("old");
            if (l_case.m_a == One)
                lp_key->NewItem("k0") += l_fresh;
            auto const l_join = [&](ItemPtr key, ItemPtr value)
            { l_case.m_fromValueSide ? value.Connect(key) : key.Connect(value); };
            int l_calls = 0;
            Owner l_owner;
            lp_key->m_disconnectedEvent.AddHandler(l_owner.Make<ConnectionInfo>(
                [&](ConnectionInfo)
                {
                    if (++l_calls > 50) // a write that never ends shows up as a count
                        return;
                    if (l_case.m_refillKey && !l_k.IsConnected(lp_value))
                        l_join(l_k, lp_value->NewItem("default"));
                    if (l_case.m_refillValue && !l_fresh.IsConnected(lp_key))
                        l_join(lp_key->NewItem("intruder"), l_fresh);
                }));

            l_k += l_fresh;
            QVERIFY2(l_k.IsConnected(l_fresh), l_case.mp_name);
            QVERIFY2(l_calls <= 2, l_case.mp_name);
            if (l_case.m_b == One)
                QVERIFY2(l_k.GetItems(lp_value->Name().c_str()).size() == 1, l_case.mp_name);
            if (l_case.m_a == One)
                QVERIFY2(l_fresh.GetItems(lp_key->Name().c_str()).size() == 1, l_case.mp_name);
        }
    }

    void removedItemsWaitForTheNextOperationOutsideALoop()
    {
        // No event loop runs here: an item a handler removed before NewItem could return
        // it stays readable until the next outermost operation has ended.
        Schema s;
        Owner l_owner;
        s.leaf->m_itemAddedEvent.AddHandler(
            l_owner.Make<ItemPtr>([](ItemPtr item) { item.Remove(); }));
        ItemPtr const l_gone = s.leaf->NewItem("gone");
        QVERIFY(l_gone->IsRemoved());
        QCOMPARE(l_gone.AsStdString(), std::string("gone"));
        QVERIFY(l_gone.IsDisconnectedFromAll());
        QVERIFY(s.leaf->HasItem("gone").IsNull());
        QVERIFY(StoreOperation::RemovedItemsWaiting() >= 1);
        s.hub->NewItem("next");
        QCOMPARE(StoreOperation::RemovedItemsWaiting(), std::size_t(0));
    }

    void storeOutlivesMain()
    {
        Schema s;
        QVERIFY(UseStore(s.leaf));
        g_afterMain.mp_type = s.leaf; // used again by a static destructor after main returns
    }
};

QTEST_APPLESS_MAIN(TestStoreFaults)
#include "tst_store_faults.moc"
