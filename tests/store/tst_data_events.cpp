// Events, handler order, handlers added during a pass, retirement with the
// owner, deferred deletion, per-type-pair handlers, EventHandler bound to members.

#include "StoreTestUtil.h"

#include <QtTest>

#include <algorithm>

using namespace storetest;

namespace
{
struct Member : DataHandler
{
    std::vector<std::string> m_seen;
    ~Member() override { RemoveDataHandlers(); }
    void OnAdded(ItemPtr item) { m_seen.push_back("added " + item.AsStdString()); }
    void OnPair(ConnectionInfo& info) { m_seen.push_back("pair " + Pair(info)); }
    void OnConnected(ConnectionInfo info) { m_seen.push_back("conn " + Pair(info)); }
};
} // namespace

class TestDataEvents : public QObject
{
    Q_OBJECT

private slots:
    void handlersRunInAddressOrder()
    {
        Type* t = d.NewType(Unique("t"), Primary);
        Owner l_owner;
        std::vector<EventHandlerRoot*> l_calls;
        std::vector<EventHandlerRoot*> l_handlers;
        for (int l_index = 0; l_index < 16; ++l_index)
        {
            auto* lp_handler = l_owner.Make<ItemPtr>({});
            lp_handler->m_function = [&l_calls, lp_handler](ItemPtr)
            { l_calls.push_back(lp_handler); };
            l_handlers.push_back(lp_handler);
            t->m_itemAddedEvent.AddHandler(lp_handler);
        }
        t->NewItem("x");
        std::vector<EventHandlerRoot*> l_sorted = l_handlers;
        std::sort(l_sorted.begin(), l_sorted.end(), std::less<EventHandlerRoot*>());
        QCOMPARE(l_calls, l_sorted);
    }

    void handlerAddedDuringPassRunsNextTime()
    {
        Type* t = d.NewType(Unique("t"), Primary);
        Owner l_owner;
        int l_late = 0;
        bool l_added = false;
        t->m_itemAddedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr)
            {
                if (l_added)
                    return;
                l_added = true;
                t->m_itemAddedEvent.AddHandler(l_owner.Make<ItemPtr>([&](ItemPtr) { ++l_late; }));
            }));
        t->NewItem("a");
        QCOMPARE(l_late, 0);
        t->NewItem("b");
        QCOMPARE(l_late, 1);
    }

    void handlersRetireWithOwner()
    {
        Type* t = d.NewType(Unique("t"), Primary);
        int l_calls = 0;
        auto* lp_owner = new Owner;
        t->m_itemAddedEvent.AddHandler(lp_owner->Make<ItemPtr>([&](ItemPtr) { ++l_calls; }));
        t->m_itemRemovedEvent.AddHandler(lp_owner->Make<ItemPtr>([&](ItemPtr) { ++l_calls; }));
        ItemPtr x = t->NewItem("x");
        QCOMPARE(l_calls, 1);
        int const l_before = HandlerDestructions();
        delete lp_owner;
        QCOMPARE(HandlerDestructions(), l_before); // only flagged
        QCOMPARE(t->m_itemAddedEvent.Count(), std::size_t(1));
        t->NewItem("y"); // the next notification of the set deletes the retired handler
        QCOMPARE(l_calls, 1);
        QCOMPARE(HandlerDestructions(), l_before + 1);
        QVERIFY(t->m_itemAddedEvent.IsEmpty());
        x.Remove();
        QCOMPARE(l_calls, 1);
        QCOMPARE(HandlerDestructions(), l_before + 2);
    }

    void ownerDestroyedInsideNotification()
    {
        Type* t = d.NewType(Unique("t"), Primary);
        auto* lp_first = new Owner;
        auto* lp_second = new Owner;
        std::vector<std::string> l_log;
        // Whichever handler runs first destroys the other owner; the other is skipped.
        Owner* lp_owners[2] = {lp_first, lp_second};
        FnHandler<ItemPtr>* lp_handlers[2];
        for (int l_index = 0; l_index < 2; ++l_index)
        {
            lp_handlers[l_index] = lp_owners[l_index]->Make<ItemPtr>({});
            t->m_itemAddedEvent.AddHandler(lp_handlers[l_index]);
        }
        for (int l_index = 0; l_index < 2; ++l_index)
        {
            lp_handlers[l_index]->m_function = [&, l_index](ItemPtr)
            {
                l_log.push_back("ran " + std::to_string(l_index));
                delete lp_owners[1 - l_index];
                lp_owners[1 - l_index] = nullptr;
            };
        }
        t->NewItem("x");
        QCOMPARE(l_log.size(), std::size_t(1));
        delete lp_owners[0];
        delete lp_owners[1];
        t->NewItem("y");
        QVERIFY(t->m_itemAddedEvent.IsEmpty());
    }

    void retiredHandlerHeldByOuterPassIsFreedAfterIt()
    {
        // A nested notification of the same set meets a retired handler that the outer
        // pass still holds; it must not be freed before the outer pass has gone by it.
        Type* t = d.NewType(Unique("t"), Primary);
        Owner l_keeper;
        auto* lp_victimOwner = new Owner;
        FnHandler<ItemPtr>* lp_victim = lp_victimOwner->Make<ItemPtr>([](ItemPtr) {});
        FnHandler<ItemPtr>* lp_outer = l_keeper.Make<ItemPtr>({});
        int l_depth = 0;
        int l_victimCalls = 0;
        lp_victim->m_function = [&](ItemPtr) { ++l_victimCalls; };
        lp_outer->m_function = [&](ItemPtr)
        {
            if (l_depth++ > 0)
                return;
            delete lp_victimOwner; // retire the victim
            lp_victimOwner = nullptr;
            t->NewItem("nested"); // nested pass drops the victim from the set
        };
        t->m_itemAddedEvent.AddHandler(lp_victim);
        t->m_itemAddedEvent.AddHandler(lp_outer);
        int const l_before = HandlerDestructions();
        t->NewItem("outer"); // under ASan: any touch of a freed victim would be reported
        QCOMPARE(l_victimCalls, lp_victim < lp_outer ? 1 : 0);
        QCOMPARE(HandlerDestructions(), l_before + 1);
        QCOMPARE(t->m_itemAddedEvent.Count(), std::size_t(1));
    }

    void pairHandlersSeeBothOrders()
    {
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        Type* c = d.NewType(Unique("c"), Primary);
        a->RelateToType(b, Many, Many);
        c->RelateToType(c, Many, Many);
        Member l_member;
        d.AddConnectionEventHandler(a, b, l_member.CreateHandler(&l_member, &Member::OnPair));
        d.AddDisconnectionEventHandler(b, a, l_member.CreateHandler(&l_member, &Member::OnPair));
        ItemPtr x = a->NewItem("x");
        ItemPtr y = b->NewItem("y");
        x += y;
        y -= x;
        y += x;
        x -= y;
        QCOMPARE(l_member.m_seen,
                 (std::vector<std::string>{"pair x-y", "pair y-x", "pair x-y", "pair y-x"}));
        QVERIFY(Throws<NotRelatedException>(
            [&] {
                d.AddConnectionEventHandler(a, c,
                                            l_member.CreateHandler(&l_member, &Member::OnPair));
            }));

        // Same type on both sides: the one set is notified twice, once per order.
        Member l_same;
        d.AddConnectionEventHandler(c, c, l_same.CreateHandler(&l_same, &Member::OnPair));
        ItemPtr c1 = c->NewItem("c1");
        ItemPtr c2 = c->NewItem("c2");
        c1 += c2;
        QCOMPARE(l_same.m_seen, (std::vector<std::string>{"pair c1-c2", "pair c2-c1"}));
    }

    void memberHandlersAndStoreEvents()
    {
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        a->RelateToType(b, Many, Many);
        {
            Member l_member;
            a->m_itemAddedEvent.AddHandler(l_member.CreateHandler(&l_member, &Member::OnAdded));
            a->m_connectedEvent.AddHandler(l_member.CreateHandler(&l_member, &Member::OnConnected));
            QCOMPARE(l_member.m_dataHandlers.size(), std::size_t(2));
            ItemPtr x = a->NewItem("x");
            x += b->NewItem("y");
            QCOMPARE(l_member.m_seen, (std::vector<std::string>{"added x", "conn x-y"}));
        }
        a->NewItem("z"); // the member is gone: nothing runs, the handler is freed
        QVERIFY(a->m_itemAddedEvent.IsEmpty());
        // Type events: removed handlers of a destroyed owner are deleted with the event set.
        Owner l_owner;
        std::vector<Type*> l_removed;
        d.m_typeRemovedEvent.AddHandler(
            l_owner.Make<Type*>([&](Type* t) { l_removed.push_back(t); }));
        Type* lp_temp = d.NewType(Unique("temp"), Primary);
        lp_temp->NewItem("i");
        lp_temp->Remove();
        QCOMPARE(l_removed, std::vector<Type*>{lp_temp});
        QVERIFY(a->IsRelated(b));
    }

    void handlerDeletedWithItsEventSetUpdatesOwner()
    {
        // When a handler is freed with its event (a removed type), its owner forgets it,
        // so the owner's later destruction does not touch freed memory.
        Owner l_owner;
        Type* lp_temp = d.NewType(Unique("temp"), Primary);
        lp_temp->m_itemAddedEvent.AddHandler(l_owner.Make<ItemPtr>([](ItemPtr) {}));
        QCOMPARE(l_owner.m_dataHandlers.size(), std::size_t(1));
        lp_temp->Remove();
        QCOMPARE(l_owner.m_dataHandlers.size(), std::size_t(0));
    }
};

QTEST_APPLESS_MAIN(TestDataEvents)
#include "tst_data_events.moc"
