// Types, items and relations; event order of connect, disconnect, create
// and remove; value readers; unique-item navigation.

#include "StoreTestUtil.h"

#include <QtTest>

#include <algorithm>
#include <climits>
#include <map>
#include <random>

using namespace storetest;

namespace
{
// Records every event of two related types (type events, store events filtered to
// these types, and the per-type-pair handlers in both orders).
struct Recorder : Owner
{
    std::vector<std::string> m_log;
    Type* mp_a;
    Type* mp_b;

    Recorder(Type* a, Type* b) : mp_a(a), mp_b(b)
    {
        auto const l_ours = [this](ConnectionInfo const& info)
        {
            Type* t = info.first.GetType();
            return t == mp_a || t == mp_b;
        };
        for (Type* lp_type : {a, b})
        {
            std::string const l_tag = lp_type == a ? "A" : "B";
            lp_type->m_connectedEvent.AddHandler(
                Make<ConnectionInfo>([this, l_tag](ConnectionInfo info)
                                     { m_log.push_back(l_tag + "+ " + Pair(info)); }));
            lp_type->m_disconnectedEvent.AddHandler(
                Make<ConnectionInfo>([this, l_tag](ConnectionInfo info)
                                     { m_log.push_back(l_tag + "- " + Pair(info)); }));
            lp_type->m_itemAddedEvent.AddHandler(Make<ItemPtr>(
                [this, l_tag](ItemPtr item) { m_log.push_back(l_tag + " added " + Name(item)); }));
            lp_type->m_itemRemovedEvent.AddHandler(
                Make<ItemPtr>([this, l_tag](ItemPtr item)
                              { m_log.push_back(l_tag + " removed " + Name(item)); }));
        }
        d.m_connectedEvent.AddHandler(Make<ConnectionInfo>(
            [this, l_ours](ConnectionInfo info)
            {
                if (l_ours(info))
                    m_log.push_back("d+ " + Pair(info));
            }));
        d.m_disconnectedEvent.AddHandler(Make<ConnectionInfo>(
            [this, l_ours](ConnectionInfo info)
            {
                if (l_ours(info))
                    m_log.push_back("d- " + Pair(info));
            }));
        d.m_itemAddedEvent.AddHandler(Make<ItemPtr>(
            [this](ItemPtr item)
            {
                if (item.GetType() == mp_a || item.GetType() == mp_b)
                    m_log.push_back("d added " + Name(item));
            }));
        d.m_itemRemovedEvent.AddHandler(Make<ItemPtr>(
            [this](ItemPtr item)
            {
                if (item.GetType() == mp_a || item.GetType() == mp_b)
                    m_log.push_back("d removed " + Name(item));
            }));
        d.AddConnectionEventHandler(
            a, b,
            Make<ConnectionInfo&>([this](ConnectionInfo& info)
                                  { m_log.push_back("AB+ " + Pair(info)); }));
        d.AddConnectionEventHandler(
            b, a,
            Make<ConnectionInfo&>([this](ConnectionInfo& info)
                                  { m_log.push_back("BA+ " + Pair(info)); }));
        d.AddDisconnectionEventHandler(
            a, b,
            Make<ConnectionInfo&>([this](ConnectionInfo& info)
                                  { m_log.push_back("AB- " + Pair(info)); }));
        d.AddDisconnectionEventHandler(
            b, a,
            Make<ConnectionInfo&>([this](ConnectionInfo& info)
                                  { m_log.push_back("BA- " + Pair(info)); }));
    }

    std::vector<std::string> Take()
    {
        std::vector<std::string> l_log;
        l_log.swap(m_log);
        return l_log;
    }
};

using Lines = std::vector<std::string>;

Lines Connected(std::string const& a, std::string const& b)
{
    // a's type event, store event, b's type event, pair (A,B) and (B,A) handlers;
    // here the first item is always of type A.
    return {"A+ " + a + "-" + b, "d+ " + a + "-" + b, "B+ " + b + "-" + a, "AB+ " + a + "-" + b,
            "BA+ " + b + "-" + a};
}

Lines ConnectedFromB(std::string const& b, std::string const& a)
{
    // Made from the B item: the pair (B,A) comes first.
    return {"B+ " + b + "-" + a, "d+ " + b + "-" + a, "A+ " + a + "-" + b, "BA+ " + b + "-" + a,
            "AB+ " + a + "-" + b};
}

Lines Disconnected(std::string const& a, std::string const& b)
{
    return {"A- " + a + "-" + b, "d- " + a + "-" + b, "B- " + b + "-" + a, "AB- " + a + "-" + b,
            "BA- " + b + "-" + a};
}

Lines DisconnectedFromB(std::string const& b, std::string const& a)
{
    return {"B- " + b + "-" + a, "d- " + b + "-" + a, "A- " + a + "-" + b, "BA- " + b + "-" + a,
            "AB- " + a + "-" + b};
}

Lines operator+(Lines a, Lines const& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QString Show(Lines const& lines)
{
    QStringList l_list;
    for (auto const& l : lines)
        l_list << QString::fromStdString(l);
    return l_list.join(" | ");
}
} // namespace

#define COMPARE_LINES(actual, expected) QCOMPARE(Show(actual), Show(expected))

class TestDataRelations : public QObject
{
    Q_OBJECT

private slots:
    void typesAreDeclaredOnceAndLookedUpByName()
    {
        std::string const l_name = Unique("type");
        Owner l_owner;
        std::vector<Type*> l_added;
        d.m_typeAddedEvent.AddHandler(l_owner.Make<Type*>([&](Type* t) { l_added.push_back(t); }));
        Type* lp_type = d.NewType(l_name, Secondary, false, true);
        QCOMPARE(l_added.size(), std::size_t(1));
        QCOMPARE(l_added[0], lp_type);
        QCOMPARE(lp_type->Name(), l_name);
        QCOMPARE(lp_type->GetPrimacy(), Secondary);
        QVERIFY(!lp_type->IsNull());
        QVERIFY(lp_type->IsCreateOnGet());
        QCOMPARE(d.GetType(l_name), lp_type);
        QCOMPARE(d[l_name], lp_type);
        QCOMPARE(d.HasType(l_name), lp_type);
        QVERIFY(d.HasType(Unique("missing")) == nullptr);
        QVERIFY(Throws<TypeNotFoundException>([&] { d.GetType(Unique("missing")); }));
        QVERIFY(Throws<TypeAlreadyExistsException>([&] { d.NewType(l_name, Primary); }));
        std::map<std::string, Type*> l_types;
        d.GetTypes(l_types);
        QCOMPARE(l_types.at(l_name), lp_type);
    }

    void relationsAreRecordedOnBothSides()
    {
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Secondary);
        Type* c = d.NewType(Unique("c"), Secondary);
        a->RelateToType(b, One, Many, true);
        RelationInfo const ra = a->GetRelation(b);
        RelationInfo const rb = b->GetRelation(a);
        QCOMPARE(ra.m_thisOneOrMany, One);
        QCOMPARE(ra.m_otherOneOrMany, Many);
        QVERIFY(ra.m_owns && !ra.m_ownedBy);
        QCOMPARE(rb.m_thisOneOrMany, Many);
        QCOMPARE(rb.m_otherOneOrMany, One);
        QVERIFY(!rb.m_owns && rb.m_ownedBy);
        QVERIFY(a->IsRelated(b) && b->IsRelated(a) && !a->IsRelated(c));
        QVERIFY(Throws<AlreadyRelatedException>([&] { a->RelateToType(b, Many, Many); }));
        QVERIFY(Throws<AlreadyRelatedException>([&] { b->RelateToType(a, Many, Many); }));
        QVERIFY(Throws<NotRelatedException>([&] { a->GetRelation(c); }));
        c->RelateToType(a->Name(), Many, One); // by name: owns false
        QVERIFY(!c->GetRelation(a).m_owns && !a->GetRelation(c).m_ownedBy);
        std::map<Type*, RelationInfo> l_related;
        a->GetRelatedTypes(l_related);
        QCOMPARE(l_related.size(), std::size_t(2));
    }

    void connectAndDisconnectFireInOrder()
    {
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        a->RelateToType(b, Many, Many);
        Recorder l_rec(a, b);
        ItemPtr x = a->NewItem("x");
        ItemPtr y = b->NewItem("y");
        COMPARE_LINES(l_rec.Take(), (Lines{"A added x", "d added x", "B added y", "d added y"}));

        QCOMPARE(x.Connect(y), y);
        COMPARE_LINES(l_rec.Take(), Connected("x", "y"));
        QVERIFY(x.IsConnected(y) && y.IsConnected(x));
        x += y; // already connected: nothing
        y.Connect(x);
        QVERIFY(l_rec.Take().empty());

        QCOMPARE(x -= y, y);
        COMPARE_LINES(l_rec.Take(), Disconnected("x", "y"));
        QVERIFY(!x.IsConnected(y) && x.IsDisconnectedFromAll());
        x.Disconnect(y); // not connected: nothing changes, nothing fires
        QVERIFY(l_rec.Take().empty());

        // From the other side: B's events come first; pair handlers still (A,B) then (B,A).
        y += x;
        COMPARE_LINES(l_rec.Take(), ConnectedFromB("y", "x"));
        y.Disconnect(x);
        COMPARE_LINES(l_rec.Take(), DisconnectedFromB("y", "x"));
    }

    void oneReplacementDisconnectsFirst()
    {
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        a->RelateToType(b, Many, One); // an A item holds at most one B item
        Recorder l_rec(a, b);
        ItemPtr x = a->NewItem("x");
        ItemPtr y1 = b->NewItem("y1");
        ItemPtr y2 = b->NewItem("y2");
        l_rec.Take();
        x += y1;
        l_rec.Take();
        x += y2;
        COMPARE_LINES(l_rec.Take(), Disconnected("x", "y1") + Connected("x", "y2"));
        QVERIFY(!x.IsConnected(y1) && x.IsConnected(y2));
        // Connecting from the Many side onto the One end replaces as well.
        y1 += x;
        COMPARE_LINES(l_rec.Take(), Disconnected("x", "y2") + ConnectedFromB("y1", "x"));
        QCOMPARE(x[b->Name().c_str()], y1);

        // The other end: a B item holds at most one A item.
        Type* p = d.NewType(Unique("p"), Primary);
        Type* q = d.NewType(Unique("q"), Primary);
        p->RelateToType(q, One, Many);
        Recorder l_rec2(p, q);
        ItemPtr p1 = p->NewItem("p1");
        ItemPtr p2 = p->NewItem("p2");
        ItemPtr q1 = q->NewItem("q1");
        p1 += q1;
        l_rec2.Take();
        p2 += q1;
        COMPARE_LINES(l_rec2.Take(), DisconnectedFromB("q1", "p1") + Connected("p2", "q1"));
    }

    void createOnGetAndHasItem()
    {
        Type* plain = d.NewType(Unique("plain"), Primary);
        Type* cog = d.NewType(Unique("cog"), Primary, false, true);
        plain->RelateToType(cog, Many, Many);
        Recorder l_rec(plain, cog);
        QVERIFY(plain->GetItem("x").IsNull());
        QVERIFY((*plain)["x"].IsNull());
        QVERIFY(plain->HasItem("x").IsNull());
        QVERIFY(cog->HasItem("x").IsNull());
        QVERIFY(l_rec.Take().empty());
        ItemPtr x = cog->GetItem("x");
        QVERIFY(x.IsNotNull());
        COMPARE_LINES(l_rec.Take(), (Lines{"B added x", "d added x"}));
        QCOMPARE((*cog)["x"], x);
        QCOMPARE(cog->HasItem("x"), x);
        QCOMPARE(cog->NewItem("x"), x);
        QVERIFY(l_rec.Take().empty());
        // Long values, given as temporaries (with and without spare room) and as a
        // named value: each made once, with its bytes, and found again.
        std::string l_roomy(40, 'r');
        l_roomy.reserve(200);
        Value const l_named(std::string(40, 'n'));
        for (ItemPtr const& l_made : {cog->GetItem(Value(std::move(l_roomy))),
                                      cog->GetItem(std::string(40, 'e')), cog->GetItem(l_named)})
        {
            QCOMPARE(l_made.AsStdString().size(), std::size_t(40));
            QCOMPARE(cog->GetItem(l_made.GetValue()), l_made);
        }
        QCOMPARE(l_rec.Take().size(), std::size_t(6));
        ItemPtr y = plain->NewItem("y");
        QCOMPARE(plain->NewItem("y"), y);
        QCOMPARE(plain->GetItem("y"), y);
        QCOMPARE(l_rec.Take().size(), std::size_t(2));
        QCOMPARE(plain->GetItems().size(), std::size_t(1));

        Type* flag = d.NewType(Unique("flag"), Tertiary, true);
        QVERIFY(Throws<NullTypeException>([&] { flag->NewItem("v"); }));
        QVERIFY(Throws<NullTypeException>([&] { flag->GetItem("v"); }));
        QVERIFY(Throws<NullTypeException>([&] { flag->HasItem("v"); }));
        QVERIFY(Throws<NullTypeException>([&] { plain->NewItem(); }));
        QVERIFY(Throws<NullTypeException>([&] { plain->GetGlobalNullItem(); }));
        ItemPtr n1 = flag->NewItem();
        ItemPtr n2 = flag->NewItem();
        QVERIFY(n1 != n2);
        QCOMPARE(flag->GetGlobalNullItem(), std::min(n1, n2));
        QCOMPARE(flag->GetGlobalItem(), std::min(n1, n2));
        QVERIFY(n1.AsStdString().empty());
        // GetItems(ItemSet&): adds keyed items, replaces the set for a null type.
        ItemSet l_set;
        l_set.insert(x);
        plain->GetItems(l_set);
        QCOMPARE(l_set.size(), std::size_t(2));
        flag->GetItems(l_set);
        QCOMPARE(l_set, (ItemSet{n1, n2}));
        // Indexing a create-on-get type creates too, with its events; a plain one does not.
        ItemPtr z = (*cog)["z"];
        QVERIFY(z.IsNotNull() && cog->HasItem("z") == z);
        COMPARE_LINES(l_rec.Take(), (Lines{"B added z", "d added z"}));
        QVERIFY((*plain)["z"].IsNull() && plain->HasItem("z").IsNull());
    }

    void oneReplacementOnBothEnds()
    {
        // Each side holds at most one of the other, and both new partners are taken.
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        a->RelateToType(b, One, One);
        Recorder l_rec(a, b);
        ItemPtr x = a->NewItem("x"), x2 = a->NewItem("x2");
        ItemPtr y = b->NewItem("y"), y2 = b->NewItem("y2");
        x += y2;
        x2 += y;
        l_rec.Take();
        x += y;
        // x's old end first, then y's old end (reported from y's side), then the new one.
        COMPARE_LINES(l_rec.Take(), Disconnected("x", "y2") + DisconnectedFromB("y", "x2") +
                                        Connected("x", "y"));
        QVERIFY(x2.IsDisconnectedFromAll() && y2.IsDisconnectedFromAll());
        QVERIFY(x.IsConnected(y));
    }

    void newItemFlagCases()
    {
        Type* owner = d.NewType(Unique("owner"), Primary);
        Type* shared = d.NewType(Unique("shared"), Tertiary, true); // One/Many
        Type* single = d.NewType(Unique("single"), Tertiary, true); // One/One
        Type* nodes = d.NewType(Unique("nodes"), Secondary, true);  // Many
        Type* keyed = d.NewType(Unique("keyed"), Secondary);
        owner->RelateToType(shared, Many, One);
        owner->RelateToType(single, One, One);
        owner->RelateToType(nodes, One, Many);
        owner->RelateToType(keyed, Many, Many);
        ItemPtr o1 = owner->NewItem("o1");
        ItemPtr o2 = owner->NewItem("o2");

        // One on the owner's side, shareable flag: all owners share the global null item.
        ItemPtr f1 = o1.NewItem(shared->Name().c_str());
        QCOMPARE(f1, shared->GetGlobalNullItem());
        QCOMPARE(o1.NewItem(shared->Name().c_str()), f1); // already holds one: same, no change
        QCOMPARE(o2.NewItem(shared->Name().c_str()), f1);
        QCOMPARE(shared->GetItems().size(), std::size_t(1));
        QVERIFY(o1.IsConnected(shared->Name().c_str()) && o2.IsConnected(shared));

        // One on both sides: a new null item per owner.
        ItemPtr s1 = o1.NewItem(single->Name().c_str());
        ItemPtr s2 = o2.NewItem(single->Name().c_str());
        QVERIFY(s1 != s2);
        QCOMPARE(o1.NewItem(single->Name().c_str()), s1);
        QCOMPARE(single->GetItems().size(), std::size_t(2));

        // Many on the owner's side: a new node every time.
        ItemPtr n1 = o1.NewItem(nodes->Name().c_str());
        ItemPtr n2 = o1.NewItem(nodes->Name().c_str());
        QVERIFY(n1 != n2);
        QCOMPARE(o1.GetItems(nodes->Name().c_str()).size(), std::size_t(2));

        QVERIFY(Throws<NullTypeException>([&] { o1.NewItem(keyed->Name().c_str()); }));
        QVERIFY(Throws<TypeNotFoundException>([&] { o1.NewItem(Unique("none").c_str()); }));
        Type* unrelated = d.NewType(Unique("unrel"), Tertiary, true);
        QVERIFY(Throws<NotRelatedException>([&] { o1.NewItem(unrelated->Name().c_str()); }));
    }

    void removeFiresWhileConnectedThenDisconnects()
    {
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        a->RelateToType(b, Many, Many);
        ItemPtr x = a->NewItem("x");
        ItemPtr y1 = b->NewItem("y1");
        ItemPtr y2 = b->NewItem("y2");
        x += y1;
        x += y2;
        Recorder l_rec(a, b);
        std::string l_seen;
        Owner l_owner;
        a->m_itemRemovedEvent.AddHandler(l_owner.Make<ItemPtr>(
            [&](ItemPtr item)
            {
                // Still connected, but no longer found by lookups.
                l_seen = std::to_string(item.GetItems(b->Name().c_str()).size()) +
                         (a->HasItem("x").IsNull() ? " gone" : " found");
            }));
        x.Remove();
        QCOMPARE(l_seen, std::string("2 gone"));
        Lines const l_log = l_rec.Take();
        QCOMPARE(l_log.size(), std::size_t(2 + 5 + 5));
        QCOMPARE(l_log[0], std::string("A removed x"));
        QCOMPARE(l_log[1], std::string("d removed x"));
        ItemPtr const l_first = std::min(y1, y2);
        ItemPtr const l_second = std::max(y1, y2);
        COMPARE_LINES(Lines(l_log.begin() + 2, l_log.end()),
                      Disconnected("x", Name(l_first)) + Disconnected("x", Name(l_second)));
        QVERIFY(y1.IsDisconnectedFromAll() && y2.IsDisconnectedFromAll());
        QVERIFY(a->HasItem("x").IsNull());
        // A removed value can be created again.
        QVERIFY(a->NewItem("x").IsNotNull());
    }

    void misuseThrows()
    {
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        ItemPtr x = a->NewItem("x");
        ItemPtr y = b->NewItem("y");
        QVERIFY(Throws<NotRelatedException>([&] { x += y; }));
        QVERIFY(x.IsDisconnectedFromAll() && y.IsDisconnectedFromAll());
        QVERIFY(Throws<TypeNotFoundException>([&] { x[Unique("none").c_str()]; }));
        QVERIFY(Throws<TypeNotFoundException>([&] { x.Disconnect(Unique("none").c_str()); }));
        QVERIFY(Throws<TypeNotFoundException>([&] { x.IsConnected(Unique("none").c_str()); }));
        QVERIFY(Throws<NotRelatedException>([&] { x.GetItems(b->Name().c_str()); }));
        QVERIFY(Throws<NotRelatedException>([&] { d.AddConnectionEventHandler(a, b, nullptr); }));
        QVERIFY(Throws<NotRelatedException>([&] { d.AddDisconnectionEventHandler(b, a, nullptr); }));
        QVERIFY(Throws<TypeNotFoundException>([&] { x.GetItem(Unique("none").c_str()); }));
        QVERIFY(Throws<TypeNotFoundException>([&] { x.HasItem(Unique("none").c_str()); }));
        QVERIFY(Throws<TypeNotFoundException>([&] { x.GetItems(Unique("none").c_str()); }));
        QVERIFY(Throws<TypeNotFoundException>([&] { a->RelateToType(Unique("none"), Many, Many); }));
        QVERIFY(a->Relations().empty());
        QVERIFY(Throws<TypeNotFoundException>([&] { ItemSet{x}.Disconnect(Unique("none").c_str()); }));
        QVERIFY(Throws<TypeNotFoundException>([&] { i(Unique("none").c_str(), "x"); }));
        Type* flag = d.NewType(Unique("flag"), Tertiary, true);
        QVERIFY(Throws<NullTypeException>([&] { i(flag->Name().c_str(), "x"); }));
        QCOMPARE(g(flag->Name().c_str()).size(), std::size_t(0));
        // A null handle: operator[] gives null, GetItems gives an empty set.
        ItemPtr l_null;
        QVERIFY(l_null[Unique("none").c_str()].IsNull());
        QVERIFY(l_null.GetItems(b->Name().c_str()).empty());
        ItemSet l_set{y};
        l_null.GetItems(b->Name().c_str(), l_set);
        QVERIFY(l_set.empty());
        QVERIFY(!l_null);
        QVERIFY(l_null.IsNull() && !l_null.IsNotNull());
    }

    void connectedItemAccess()
    {
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        a->RelateToType(b, Many, Many);
        char const* bn = b->Name().c_str();
        ItemPtr x = a->NewItem("x");
        QVERIFY(x[bn].IsNull() && x.GetItem(bn).IsNull() && x.HasItem(bn).IsNull());
        QVERIFY(!x.IsConnected(bn));
        ItemSet l_kept{x};
        x.GetItems(bn, l_kept); // none: unchanged
        QCOMPARE(l_kept, ItemSet{x});
        ItemPtr y1 = b->NewItem("y1");
        ItemPtr y2 = b->NewItem("y2");
        x += y1;
        x += y2;
        QCOMPARE(x[bn], std::min(y1, y2));
        QCOMPARE(x.GetItems(bn), (ItemSet{y1, y2}));
        x.GetItems(bn, l_kept);
        QCOMPARE(l_kept, (ItemSet{y1, y2}));
        TypeItemSets l_all;
        x.GetConnectedItems(l_all);
        QCOMPARE(l_all.size(), std::size_t(1));
        QCOMPARE(l_all[b], (ItemSet{y1, y2}));
        x.Disconnect(bn);
        QVERIFY(x.IsDisconnectedFromAll());
        x.Disconnect(bn); // none: nothing
    }

    void valueReaders()
    {
        Type* t = d.NewType(Unique("v"), Primary);
        auto const v = [t](Value const& value) { return t->NewItem(value); };
        QCOMPARE(v(" 42 ").AsInt(), 42);
        QCOMPARE(v("12ab").AsInt(), 0);
        QCOMPARE(v("-17").AsInt(), -17);
        QCOMPARE(v("+5").AsInt(), 5);
        QCOMPARE(v("99999999999").AsInt(), 0);
        QCOMPARE(v("4294967295").AsUInt(), 4294967295u);
        QCOMPARE(v("4294967296").AsUInt(), 0u);
        QCOMPARE(v("-1").AsUInt(), 0u);
        QCOMPARE(v("9223372036854775807").AsInt64(), LLONG_MAX);
        QCOMPARE(v("9223372036854775808").AsInt64(), 0LL);
        QCOMPARE(v("18446744073709551615").AsUInt64(), ULLONG_MAX);
        QCOMPARE(v("0x10").AsInt(), 0);
        QCOMPARE(v("").AsInt(), 0);
        ItemPtr l_null;
        QCOMPARE(l_null.AsInt(), 0);
        QCOMPARE(l_null.AsUInt64(), 0ULL);
        QCOMPARE(l_null.AsStdString(), std::string());
        QVERIFY(l_null.AsString().isEmpty());

        QCOMPARE(Value(-123).AsStdString(), std::string("-123"));
        QCOMPARE(Value(0).AsStdString(), std::string("0"));
        QCOMPARE(Value(4000000000u).AsStdString(), std::string("4000000000"));
        QCOMPARE(Value(-9000000000LL).AsStdString(), std::string("-9000000000"));
        QCOMPARE(Value(18446744073709551615ULL).AsStdString(), std::string("18446744073709551615"));
        QCOMPARE(Value(-5L).AsStdString(), std::string("-5"));
        QString l_withNul = QStringLiteral("ab");
        l_withNul.append(QChar(0));
        l_withNul.append(QStringLiteral("cd"));
        QCOMPARE(Value(l_withNul).AsStdString(), std::string("ab"));
        QCOMPARE(Value(QString::fromUtf8("\xC3\xA9")).AsStdString(), std::string("\xC3\xA9"));
        QCOMPARE(v("\xC3\xA9t\xC3\xA9").AsString(), QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
        QCOMPARE(v("\xE9").AsString(), QString(QChar(0xE9))); // Latin-1 fallback
        QCOMPARE(v("raw").AsStdString(), std::string("raw"));
        QCOMPARE(Value(std::string("a\0b", 3)).AsStdString().size(), std::size_t(3));
        QVERIFY(Value("a") < Value("b") && Value("a") < Value("ab") &&
                Value("\x7f") < Value("\x80"));
        QVERIFY(Value("a") != Value("b"));

        // Pointer round trip.
        int l_object = 7;
        ItemPtr p = v(&l_object);
        QCOMPARE(p.AsPtr<int>(), &l_object);
        QCOMPARE(Value(&l_object).AsPtr<int>(), &l_object);
        QCOMPARE(p.AsUInt64(),
                 static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&l_object)));
        QCOMPARE(t->HasItem(&l_object), p);
    }

    void everyReaderConvertsLikeQt()
    {
        // Each reader has its own width and signedness; all accept surrounding ASCII
        // white space and a sign, and give 0 for anything else and on overflow.
        Type* t = d.NewType(Unique("r"), Primary);
        struct Row
        {
            char const* text;
            int i;
            unsigned int u;
            long long ll;
            unsigned long long ull;
        };
        Row const l_rows[] = {
            {" 42 ", 42, 42u, 42LL, 42ULL},
            {"\t7\r\n", 7, 7u, 7LL, 7ULL},
            {"+9", 9, 9u, 9LL, 9ULL},
            {"007", 7, 7u, 7LL, 7ULL},
            {"12ab", 0, 0u, 0LL, 0ULL},
            {"1 2", 0, 0u, 0LL, 0ULL},
            {"1.5", 0, 0u, 0LL, 0ULL},
            {"0x1F", 0, 0u, 0LL, 0ULL},
            {"\xA0" "5", 0, 0u, 0LL, 0ULL}, // no-break space is not white space here
            {"", 0, 0u, 0LL, 0ULL},
            {" ", 0, 0u, 0LL, 0ULL},
            {"-", 0, 0u, 0LL, 0ULL},
            {"-1", -1, 0u, -1LL, 0ULL},
            {"-2147483648", INT_MIN, 0u, -2147483648LL, 0ULL},
            {"2147483648", 0, 2147483648u, 2147483648LL, 2147483648ULL},
            {"-2147483649", 0, 0u, -2147483649LL, 0ULL},
            {"4294967296", 0, 0u, 4294967296LL, 4294967296ULL},
            {"-9223372036854775808", 0, 0u, LLONG_MIN, 0ULL},
            {"9223372036854775808", 0, 0u, 0LL, 9223372036854775808ULL},
            {"18446744073709551616", 0, 0u, 0LL, 0ULL},
        };
        for (Row const& l_row : l_rows)
        {
            ItemPtr const l_item = t->NewItem(l_row.text);
            Value const l_value(l_row.text);
            QByteArray const l_what = QByteArray("value \"") + l_row.text + "\"";
            QVERIFY2(l_item.AsInt() == l_row.i && l_value.AsInt() == l_row.i, l_what);
            QVERIFY2(l_item.AsUInt() == l_row.u && l_value.AsUInt() == l_row.u, l_what);
            QVERIFY2(l_item.AsInt64() == l_row.ll && l_value.AsInt64() == l_row.ll, l_what);
            QVERIFY2(l_item.AsUInt64() == l_row.ull && l_value.AsUInt64() == l_row.ull, l_what);
        }
        ItemPtr const l_null;
        QVERIFY(l_null.AsInt() == 0 && l_null.AsUInt() == 0u && l_null.AsInt64() == 0LL &&
                l_null.AsUInt64() == 0ULL && l_null.AsPtr<int>() == nullptr);
    }

    void removeAllItemsAndRemoveType()
    {
        Type* a = d.NewType(Unique("ra"), Primary);
        Type* n = d.NewType(Unique("rn"), Secondary, true);
        a->RelateToType(n, Many, Many);
        ItemPtr x = a->NewItem("x");
        x.NewItem(n->Name().c_str());
        x.NewItem(n->Name().c_str());
        a->NewItem("y");
        QCOMPARE(a->GetItemCount(), std::size_t(2));
        QCOMPARE(n->GetItemCount(), std::size_t(2));
        std::vector<std::string> l_order;
        Owner l_owner;
        a->m_itemRemovedEvent.AddHandler(
            l_owner.Make<ItemPtr>([&](ItemPtr item) { l_order.push_back(item.AsStdString()); }));
        a->RemoveAllItems(); // value order
        QCOMPARE(l_order, (std::vector<std::string>{"x", "y"}));
        QCOMPARE(a->GetItemCount(), std::size_t(0));
        QCOMPARE(n->GetItemCount(), std::size_t(2)); // only disconnected
        std::string const l_name = n->Name();
        n->Remove();
        QVERIFY(d.HasType(l_name) == nullptr);
        QVERIFY(!a->IsRelated(n));
    }

    void keyedItemsStayInValueOrderWhateverTheCreationOrder()
    {
        Type* t = d.NewType(Unique("t"), Primary);
        Type* u = d.NewType(Unique("u"), Primary);
        t->RelateToType(u, Many, Many);
        Recorder l_rec(t, u);
        // Ascending runs (each new value the largest so far), smaller values, a value
        // extending the largest, the empty value and a byte above ASCII (bytes compare
        // unsigned), through both the copying and the moving overload.
        std::vector<std::string> const l_order{"m", "z", "a", "zz", "y", "", "\xff", "b", "zza"};
        std::map<std::string, ItemPtr> l_made;
        Lines l_expected;
        for (std::size_t l_index = 0; l_index < l_order.size(); ++l_index)
        {
            std::string const& l_text = l_order[l_index];
            ItemPtr l_item;
            if (l_index % 2 == 0)
            {
                Value const l_value(l_text);
                l_item = t->NewItem(l_value);
                QCOMPARE(l_value.AsStdString(), l_text); // copied, not taken
            }
            else
                l_item = t->NewItem(Value(l_text));
            QVERIFY(l_item.IsNotNull());
            QCOMPARE(l_item.AsStdString(), l_text);
            l_made[l_text] = l_item;
            l_expected = l_expected + Lines{"A added " + l_text, "d added " + l_text};
        }
        COMPARE_LINES(l_rec.Take(), l_expected);
        // Existing values, largest and smallest and in between, by either overload:
        // the same item and no event.
        for (std::string const& l_text : l_order)
        {
            Value const l_value(l_text);
            QCOMPARE(t->NewItem(l_value), l_made[l_text]);
            QCOMPARE(t->NewItem(Value(l_text)), l_made[l_text]);
            QCOMPARE(t->HasItem(l_value), l_made[l_text]);
        }
        QVERIFY(l_rec.Take().empty());
        std::vector<std::string> l_table;
        for (Item* lp_item : t->KeyedItems())
            l_table.push_back(lp_item->GetValue().AsStdString());
        QCOMPARE(l_table,
                 (std::vector<std::string>{"", "a", "b", "m", "y", "z", "zz", "zza", "\xff"}));
        QCOMPARE(t->GetItemCount(), l_order.size());
    }

    void valueLookUpsAgreeWhateverTheIndexMode()
    {
        // Address bits the index leaves to items: 48 keeps the tags, 64 drops them, 20 is
        // reached by every heap address. Mid-run, the change meets settled and waiting items.
        for (auto const& [l_bits, l_midRun] :
             {std::pair{48u, false}, std::pair{64u, false}, std::pair{20u, false},
              std::pair{64u, true}, std::pair{20u, true}})
        {
            Type* t = d.NewType(Unique("indexed"), Primary, false, true);
            if (!l_midRun)
                t->SetItemAddressBits(l_bits);
            std::mt19937 l_random(7);
            std::map<std::string, ItemPtr> l_model;
            int l_next = 0; // runs take values past the largest, which need no look-up
            for (int l_step = 0; l_step < 3000; ++l_step)
            {
                std::string const l_value =
                    l_random() % 2 ? "k" + std::to_string(l_random() % 1000)
                                   : "z" + std::to_string(1000000 + l_random() % (l_next + 1));
                auto const l_known = l_model.find(l_value);
                ItemPtr const l_expected = l_known == l_model.end() ? ItemPtr() : l_known->second;
                QCOMPARE(t->HasItem(l_value), l_expected);
                switch (l_step == 1500 ? 1 : l_random() % 3)
                {
                case 0:
                    if (l_expected)
                    {
                        l_expected.Remove();
                        l_model.erase(l_known);
                    }
                    break;
                case 1:
                    for (int l_left = l_random() % 40; l_left >= 0; --l_left)
                    {
                        std::string const l_past = "z" + std::to_string(1000000 + l_next++);
                        ItemPtr const l_made = t->NewItem(l_past);
                        QCOMPARE(l_model.emplace(l_past, l_made).first->second, l_made);
                    }
                    if (l_step == 1500 && l_midRun)
                        t->SetItemAddressBits(l_bits);
                    break;
                default: // created on get when missing, else the same item
                    ItemPtr const l_got = t->GetItem(l_value);
                    QCOMPARE(l_got.AsStdString(), l_value);
                    QCOMPARE(l_model.emplace(l_value, l_got).first->second, l_got);
                }
            }
            QCOMPARE(t->GetItemCount(), l_model.size());
            for (auto const& [l_value, l_item] : l_model)
                QCOMPARE(t->HasItem(l_value), l_item);
        }
    }

    void connectAllMatchesConnectingOneByOne()
    {
        // The same sequence of pairs, once through Connect and once through ConnectAll,
        // on the same types and handlers (so handler order is the same in both runs).
        Type* a = d.NewType(Unique("a"), Primary);
        Type* b = d.NewType(Unique("b"), Primary);
        a->RelateToType(b, One, One); // each side holds at most one of the other
        Type* m = d.NewType(Unique("m"), Primary);
        Type* n = d.NewType(Unique("n"), Primary);
        m->RelateToType(n, Many, Many);
        Recorder l_rec(a, b);
        Recorder l_many(m, n);
        // Connecting x2 removes y1 (by then connected to nothing); the first connection of
        // m7 (to n3) removes n3 while it is being connected and m12 before its first
        // connection. Later pairs name all three: those pairs must do nothing.
        Owner l_remover;
        d.m_connectedEvent.AddHandler(l_remover.Make<ConnectionInfo>(
            [&](ConnectionInfo info)
            {
                if (info.first.GetType() == a && info.first.AsStdString() == "x2")
                    if (ItemPtr l_gone = b->HasItem("y1"))
                        l_gone.Remove();
                if ((info.first.GetType() == m && info.first.AsStdString() == "m7") ||
                    (info.second.GetType() == m && info.second.AsStdString() == "m7"))
                {
                    if (ItemPtr l_gone = n->HasItem("n3"))
                        l_gone.Remove();
                    if (ItemPtr l_gone = m->HasItem("m12"))
                        l_gone.Remove();
                }
            }));

        auto const l_run = [&](bool bulk)
        {
            for (Type* lp_type : {a, b, m, n})
                lp_type->RemoveAllItems();
            ItemPtr x1 = a->NewItem("x1");
            ItemPtr x2 = a->NewItem("x2");
            ItemPtr y1 = b->NewItem("y1");
            ItemPtr y2 = b->NewItem("y2");
            x1 += y1;
            std::vector<ItemPtr> l_m;
            std::vector<ItemPtr> l_n;
            for (int l_index = 0; l_index < 20; ++l_index)
            {
                l_m.push_back(m->NewItem(Value("m" + std::to_string(l_index))));
                l_n.push_back(n->NewItem(Value("n" + std::to_string(l_index))));
            }
            l_m[0] += l_n[0];
            l_rec.Take();
            l_many.Take();

            std::vector<std::pair<Item*, Item*>> l_pairs{
                {x1.GetPtr(), y1.GetPtr()}, // connected already: nothing
                {x1.GetPtr(), y2.GetPtr()}, // x1 drops y1
                {x2.GetPtr(), y2.GetPtr()}, // y2 drops x1 (and y1 goes)
                {y1.GetPtr(), x1.GetPtr()}, // y1 removed: nothing
                {x2.GetPtr(), y2.GetPtr()}, // connected already
                {x1.GetPtr(), y2.GetPtr()}, // y2 drops x2
            };
            // Longer than the look-ahead, in both directions, with repeats.
            for (int l_index = 0; l_index < 60; ++l_index)
            {
                Item* const lp_m = l_m[std::size_t(l_index * 7 % 20)].GetPtr();
                Item* const lp_n = l_n[std::size_t(l_index * 3 % 20)].GetPtr();
                if (l_index % 4 == 1)
                    l_pairs.emplace_back(lp_n, lp_m);
                else
                    l_pairs.emplace_back(lp_m, lp_n);
            }
            if (bulk)
                Item::ConnectAll(l_pairs);
            else
            {
                // As one operation, like ConnectAll: removed items stay allocated.
                StoreOperation l_operation;
                for (auto const& l_pair : l_pairs)
                    l_pair.first->Connect(l_pair.second);
            }

            Lines l_result = l_rec.Take();
            Lines const l_manyLog = l_many.Take();
            l_result.insert(l_result.end(), l_manyLog.begin(), l_manyLog.end());
            Lines l_state;
            for (Type* lp_type : {a, b, m, n})
                for (ItemPtr const& l_item : lp_type->GetItems())
                {
                    std::vector<std::string> l_names;
                    for (auto const& l_group : l_item->Connections())
                        for (ItemPtr const& l_other : l_group.second)
                            l_names.push_back(Name(l_other));
                    std::sort(l_names.begin(), l_names.end());
                    std::string l_line = "state " + Name(l_item) + ":";
                    for (std::string const& l_name : l_names)
                        l_line += " " + l_name;
                    l_state.push_back(l_line);
                }
            std::sort(l_state.begin(), l_state.end());
            return l_result + l_state;
        };

        Lines const l_oneByOne = l_run(false);
        Lines const l_bulk = l_run(true);
        COMPARE_LINES(l_bulk, l_oneByOne);

        // What both must be for the One-One pairs (the removal's own lines aside, whose
        // place among the store handlers depends on handler addresses).
        Lines l_oneOne;
        for (std::string const& l_line : l_bulk)
            if (l_line.find("removed") == std::string::npos &&
                (l_line.find('x') != std::string::npos || l_line.find('y') != std::string::npos))
                l_oneOne.push_back(l_line);
        COMPARE_LINES(l_oneOne, Disconnected("x1", "y1") + Connected("x1", "y2") +
                                    DisconnectedFromB("y2", "x1") + Connected("x2", "y2") +
                                    DisconnectedFromB("y2", "x2") + Connected("x1", "y2") +
                                    (Lines{"state x1: y2", "state x2:", "state y2: x1"}));
        QVERIFY(b->HasItem("y1").IsNull());
        QVERIFY(n->HasItem("n3").IsNull() && m->HasItem("m12").IsNull());
        // The Many-Many pairs made their connections and left the removed items out.
        QVERIFY(m->HasItem("m14").IsConnected(n->HasItem("n6")));
        QVERIFY(m->HasItem("m7").IsDisconnectedFromAll());
        auto const l_made = std::count_if(l_bulk.begin(), l_bulk.end(),
                                          [](std::string const& line) {
                                              return line.rfind("d+ m", 0) == 0 ||
                                                     line.rfind("d+ n", 0) == 0;
                                          });
        QVERIFY2(l_made >= 10, std::to_string(l_made).c_str());
    }

    void uniqueItemNavigation()
    {
        // a -One-> b -One-> c ; a -Many-> m ; b <-One- z (each z holds one b)
        Type* a = d.NewType(Unique("ua"), Primary);
        Type* b = d.NewType(Unique("ub"), Primary);
        Type* c = d.NewType(Unique("uc"), Primary);
        Type* m = d.NewType(Unique("um"), Primary);
        Type* z = d.NewType(Unique("uz"), Primary);
        a->RelateToType(b, Many, One);
        b->RelateToType(c, Many, One);
        a->RelateToType(m, Many, Many);
        z->RelateToType(b, Many, One);
        ItemPtr ia = a->NewItem("a");
        ItemPtr ib = b->NewItem("b");
        ItemPtr ic = c->NewItem("c");
        ItemPtr im = m->NewItem("m");
        ItemPtr iz1 = z->NewItem("z1");
        ItemPtr iz2 = z->NewItem("z2");
        ia += ib;
        ib += ic;
        ia += im;
        iz1 += ib;
        iz2 += ib;
        ItemPaths l_forward;
        ia->GetUniqueItems(l_forward);
        QCOMPARE(l_forward.size(), std::size_t(2));
        QCOMPARE(l_forward[ib.GetPtr()], (Path{a, b}));
        QCOMPARE(l_forward[ic.GetPtr()], (Path{a, b, c}));
        ItemPaths l_backward;
        ic->GetUniqueToItems(l_backward);
        // c <- b (each b holds one c), b <- a and b <- z (each holds one b).
        QCOMPARE(l_backward.size(), std::size_t(4));
        QCOMPARE(l_backward[ib.GetPtr()], (Path{c, b}));
        QCOMPARE(l_backward[iz2.GetPtr()], (Path{c, b, z}));
        QVERIFY(!l_backward.count(ic.GetPtr()));
    }
};

QTEST_APPLESS_MAIN(TestDataRelations)
#include "tst_data_relations.moc"
