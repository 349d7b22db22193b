// Handles that store operations return while handlers remove the very item: the item
// must stay readable, as a removed item, for the rest of the event-loop pass, and be
// freed once control is back in the loop. Meant to run under ASan.

#include "StoreTestUtil.h"

#include <QEventLoop>
#include <QTimer>
#include <QtTest>

using namespace storetest;

class TestRemovedItems : public QObject
{
    Q_OBJECT

private slots:
    void handlesSurviveTheirPass();
};

void TestRemovedItems::handlesSurviveTheirPass()
{
    Type* const lp_owner = d.NewType(Unique("owner"), Primary);
    Type* const lp_keyed = d.NewType(Unique("keyed"), Secondary, false, true);
    Type* const lp_node = d.NewType(Unique("node"), Secondary, true);
    Type* const lp_flag = d.NewType(Unique("flag"), Secondary, true);
    lp_owner->RelateToType(lp_keyed, Many, Many);
    lp_owner->RelateToType(lp_node, One, Many);
    lp_keyed->RelateToType(lp_flag, Many, One);
    lp_node->RelateToType(lp_flag, Many, One);
    std::string const l_nodeName = lp_node->Name();
    ItemPtr const l_owner = lp_owner->NewItem("o");
    ItemPtr const l_existing = lp_keyed->NewItem("existing");

    // While armed, keyed and node items are removed as soon as they are added, and a
    // keyed item as soon as an owner is connected to it.
    bool l_armed = false;
    Owner l_handlers;
    auto const l_remove = [&](ItemPtr item)
    {
        if (l_armed)
            item.Remove();
    };
    lp_keyed->m_itemAddedEvent.AddHandler(l_handlers.Make<ItemPtr>(l_remove));
    lp_node->m_itemAddedEvent.AddHandler(l_handlers.Make<ItemPtr>(l_remove));
    lp_owner->m_connectedEvent.AddHandler(
        l_handlers.Make<ConnectionInfo>([&](ConnectionInfo info) { l_remove(info.second); }));

    std::pair<char const*, std::function<ItemPtr()>> const l_cases[] = {
        {"NewItem(value)", [&] { return lp_keyed->NewItem("made"); }},
        {"GetItem, create on get", [&] { return lp_keyed->GetItem("got"); }},
        {"NewItem() of a null type", [&] { return lp_node->NewItem(); }},
        {"ItemPtr::NewItem", [&] { return l_owner.NewItem(l_nodeName.c_str()); }},
        {"Connect", [&] { return l_owner += l_existing; }},
    };
    for (auto const& [lp_name, l_operation] : l_cases)
    {
        QStringList l_failed;
        QEventLoop l_loop;
        QTimer::singleShot(
            0, &l_loop,
            [&]
            {
                l_armed = true;
                ItemPtr const l_gone = l_operation();
                l_armed = false;
                std::string const l_value = l_gone.AsStdString();
                // More store work and a nested loop in the same pass.
                lp_owner->NewItem("more").Remove();
                QEventLoop l_nested;
                QTimer::singleShot(0, &l_nested, &QEventLoop::quit);
                l_nested.exec();
                Type* const lp_type = l_gone.GetType();
                for (auto const& [l_holds, lp_what] :
                     {std::pair(l_gone->IsRemoved(), "removed"),
                      std::pair(l_gone.IsDisconnectedFromAll(), "disconnected"),
                      std::pair((l_gone += l_owner) == l_owner && l_gone.IsDisconnectedFromAll(),
                                "connect does nothing"),
                      std::pair(l_gone.NewItem(lp_flag->Name().c_str()).IsNull() &&
                                    lp_flag->GetItemCount() == 0,
                                "no flag"),
                      std::pair(lp_type->IsNull() || lp_type->HasItem(l_value).IsNull(),
                                "not found by value")})
                    if (!l_holds)
                        l_failed << QString::fromLatin1(lp_what);
                l_loop.quit();
            });
        l_loop.exec();
        QVERIFY2(l_failed.isEmpty(), qPrintable(lp_name + (": " + l_failed.join(", "))));
        // Back in the loop, the pass is over: everything removed in it is freed.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(StoreOperation::RemovedItemsWaiting(), std::size_t(0));
    }
}

QTEST_GUILESS_MAIN(TestRemovedItems)
#include "tst_removed_items.moc"
