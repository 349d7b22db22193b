// The connection storage against a plain model: random connects, disconnects and removals
// with a fixed seed, groups growing past the size where they leave an item's array and
// shrinking back, self-pairs, a type related to itself and a `One` end, every query
// compared after each round.

#include "StoreTestUtil.h"

#include <QtTest>

#include <map>
#include <random>
#include <set>

using namespace storetest;

namespace
{
using Model = std::map<Item*, std::map<Type*, std::set<Item*>>>;

struct World
{
    Type* node = d.NewType(Unique("node"), Primary);
    Type* tag = d.NewType(Unique("tag"), Secondary);
    Type* owner = d.NewType(Unique("owner"), Secondary);
    std::vector<ItemPtr> items;
    Model model;
    int made = 0;

    World()
    {
        node->RelateToType(node, Many, Many); // both ways within one type, self-pairs too
        node->RelateToType(tag, Many, Many);
        node->RelateToType(owner, Many, One); // a node holds one owner
    }
    void Make(Type* type)
    {
        items.push_back(type->NewItem(Value(++made)));
        model[items.back().GetPtr()];
    }
    void Link(Item* a, Item* b)
    {
        model[a][b->GetType()].insert(b);
        model[b][a->GetType()].insert(a);
    }
    void Unlink(Item* a, Item* b)
    {
        for (auto [x, y] : {std::pair(a, b), std::pair(b, a)})
        {
            auto const l_group = model[x].find(y->GetType());
            if (l_group != model[x].end() && l_group->second.erase(y) && l_group->second.empty())
                model[x].erase(l_group);
        }
    }
    // A copy of one group (the model never holds empty groups).
    std::set<Item*> Group(Item* item, Type* type)
    {
        auto const l_it = model[item].find(type);
        return l_it == model[item].end() ? std::set<Item*>() : l_it->second;
    }
    void Connect(ItemPtr a, ItemPtr b)
    {
        if (b.GetType() == owner && model[a.GetPtr()].count(owner))
            Unlink(a.GetPtr(), *model[a.GetPtr()][owner].begin());
        Link(a.GetPtr(), b.GetPtr());
        a.Connect(b);
    }
    // The disconnections a removal must fire, in order: by type address, then item address.
    std::vector<Item*> Remove(std::size_t index)
    {
        Item* const lp_item = items[index].GetPtr();
        std::vector<Item*> l_expected;
        for (auto const& [lp_type, l_set] : model[lp_item])
            l_expected.insert(l_expected.end(), l_set.begin(), l_set.end());
        for (Item* lp_other : l_expected)
            Unlink(lp_item, lp_other);
        model.erase(lp_item);
        items.erase(items.begin() + std::ptrdiff_t(index));
        return l_expected;
    }
};

bool Matches(ItemPtr item, std::map<Type*, std::set<Item*>> const& expected, World const& w)
{
    std::vector<std::pair<Type*, std::vector<Item*>>> l_groups;
    for (auto const& [lp_type, l_items] : item.Connections())
    {
        l_groups.emplace_back(lp_type, std::vector<Item*>());
        for (ItemPtr const& l_member : l_items)
            l_groups.back().second.push_back(l_member.GetPtr());
        if (l_items.size() != l_groups.back().second.size())
            return false;
    }
    std::vector<std::pair<Type*, std::vector<Item*>>> l_wanted;
    for (auto const& [lp_type, l_items] : expected)
        l_wanted.emplace_back(lp_type, std::vector<Item*>(l_items.begin(), l_items.end()));
    if (l_groups != l_wanted || item.IsDisconnectedFromAll() != expected.empty())
        return false;
    for (Type* lp_type : {w.node, w.tag, w.owner})
    {
        if (!item.GetType()->IsRelated(lp_type))
            continue;
        auto const l_it = expected.find(lp_type);
        std::set<Item*> const l_none;
        std::set<Item*> const& l_set = l_it == expected.end() ? l_none : l_it->second;
        ItemSet const l_got = item.GetItems(lp_type->Name().c_str());
        if (l_got.size() != l_set.size() || item.IsConnected(lp_type) != !l_set.empty() ||
            item[lp_type->Name().c_str()].GetPtr() != (l_set.empty() ? nullptr : *l_set.begin()))
            return false;
        for (ItemPtr const& l_member : l_got)
            if (!l_set.count(l_member.GetPtr()) || !item.IsConnected(l_member))
                return false;
    }
    for (ItemPtr const& l_other : w.items)
        if (item.IsConnected(l_other) != (expected.count(l_other.GetType()) &&
                                          expected.at(l_other.GetType()).count(l_other.GetPtr())))
            return false;
    return true;
}
} // namespace

class TestConnectionStorage : public QObject
{
    Q_OBJECT

private slots:
    void matchesPlainModel()
    {
        World w;
        for (int l_index = 0; l_index < 60; ++l_index)
            w.Make(w.node);
        for (int l_index = 0; l_index < 6; ++l_index)
            w.Make(w.tag);
        for (int l_index = 0; l_index < 4; ++l_index)
            w.Make(w.owner);
        Owner l_owner;
        std::vector<Item*> l_fired;
        Item* lp_removing = nullptr;
        d.m_disconnectedEvent.AddHandler(l_owner.Make<ConnectionInfo>(
            [&](ConnectionInfo info)
            {
                if (info.first.GetPtr() == lp_removing)
                    l_fired.push_back(info.second.GetPtr());
            }));

        std::mt19937 l_random(28);
        bool l_wentLarge = false, l_cameBack = false;
        // Values of removed items: their types must no longer find them.
        std::vector<std::pair<Type*, Value>> l_gone;
        auto const l_pick = [&] { return w.items[l_random() % w.items.size()]; };
        // Rounds alternate between growing (mostly connects, hubs filling past the
        // array's limit) and shrinking (mostly disconnects, back below it).
        for (int l_round = 0; l_round < 24; ++l_round)
        {
            bool const l_growing = l_round % 4 < 2;
            for (int l_step = 0; l_step < 400; ++l_step)
            {
                ItemPtr a = l_pick(), b = l_pick();
                unsigned const l_kind = l_random() % 100;
                if (a.GetType() != w.node)
                    std::swap(a, b);
                if (a.GetType() != w.node)
                    continue;
                if (l_kind % 2 == 0)
                    b = w.items[l_random() % 3]; // three hubs take half the connections
                if (l_kind < (l_growing ? 70u : 25u))
                {
                    // A room hint, sometimes past what the array holds, changes no query.
                    if (l_kind % 7 == 0)
                        a.GetPtr()->ReserveConnections(l_kind);
                    w.Connect(a, l_kind % 17 == 0 ? a : b);
                }
                else if (l_kind < 97)
                {
                    auto const& l_held = w.model[a.GetPtr()];
                    if (!l_held.empty() && l_kind % 5)
                    {
                        auto const& l_group =
                            std::next(l_held.begin(), long(l_random() % l_held.size()))->second;
                        b = *std::next(l_group.begin(), long(l_random() % l_group.size()));
                    }
                    w.Unlink(a.GetPtr(), b.GetPtr());
                    a.Disconnect(b);
                }
                else if (l_kind < 99)
                {
                    for (Item* lp_tag : w.Group(a.GetPtr(), w.tag))
                        w.Unlink(a.GetPtr(), lp_tag);
                    a.Disconnect(w.tag->Name().c_str());
                }
                else if (w.items.size() > 20)
                {
                    std::size_t const l_index = 3 + l_random() % (w.items.size() - 3); // hubs stay
                    lp_removing = w.items[l_index].GetPtr();
                    l_gone.emplace_back(w.items[l_index].GetType(), w.items[l_index].GetValue());
                    l_fired.clear();
                    std::vector<Item*> const l_expected = w.Remove(l_index);
                    lp_removing->Remove();
                    QCOMPARE(l_fired, l_expected);
                    lp_removing = nullptr;
                    w.Make(l_random() % 4 ? w.node : w.tag);
                }
            }
            for (int l_hub = 0; l_hub < 3; ++l_hub)
            {
                std::size_t const l_size = w.Group(w.items[l_hub].GetPtr(), w.node).size();
                l_wentLarge = l_wentLarge || l_size > ConnectionTable::c_largeFrom;
                l_cameBack = l_cameBack || (l_wentLarge && l_size < ConnectionTable::c_smallAgain);
            }
            for (auto const& [lp_type, l_value] : l_gone)
                QVERIFY(!lp_type->HasItem(l_value));
            for (ItemPtr const& l_item : w.items)
                QCOMPARE(l_item.GetType()->HasItem(l_item.GetValue()), l_item);
            for (ItemPtr const& l_item : w.items)
                QVERIFY2(
                    Matches(l_item, w.model[l_item.GetPtr()], w),
                    qPrintable(QString("round %1 item %2").arg(l_round).arg(l_item.AsString())));
        }
        QVERIFY(l_wentLarge && l_cameBack);
        ItemSet(w.items.begin(), w.items.end()).Remove();
    }
};

QTEST_GUILESS_MAIN(TestConnectionStorage)
#include "tst_connection_storage.moc"
