// ItemSet algebra, filters, sorted views, bulk changes and the store's
// subset queries, i and g.

#include "StoreTestUtil.h"

#include <QtTest>

#include <algorithm>

using namespace storetest;

namespace
{
struct Fixture
{
    Type* user = d.NewType(Unique("user"), Primary);
    Type* file = d.NewType(Unique("file"), Primary);
    Type* token = d.NewType(Unique("token"), Secondary);
    Type* size = d.NewType(Unique("size"), Tertiary);
    Type* flag = d.NewType(Unique("flag"), Tertiary, true);
    std::string un = user->Name(), fn = file->Name(), tn = token->Name(), sn = size->Name(),
                gn = flag->Name();

    Fixture()
    {
        user->RelateToType(file, Many, Many);
        file->RelateToType(token, Many, Many);
        file->RelateToType(size, Many, One);
        file->RelateToType(flag, Many, One);
        user->RelateToType(token, Many, Many);
    }
};
} // namespace

class TestItemSet : public QObject
{
    Q_OBJECT

private slots:
    void algebra()
    {
        Fixture f;
        ItemPtr a = f.user->NewItem("a"), b = f.user->NewItem("b"), c = f.user->NewItem("c");
        ItemSet ab{a, b}, bc{b, c};
        QCOMPARE(ab + bc, (ItemSet{a, b, c}));
        QCOMPARE(ab.Common(bc), ItemSet{b});
        ItemSet l_copy(ab);
        l_copy.Add(bc);
        QCOMPARE(l_copy.size(), std::size_t(3));
        QCOMPARE(ab.size(), std::size_t(2));
        QCOMPARE(ItemPtr(ItemSet{c, a, b}), std::min({a, b, c}));
        QVERIFY(ItemPtr(ItemSet()).IsNull());
        // Members are ordered by address.
        ItemSet l_all{a, b, c};
        QVERIFY(std::is_sorted(l_all.begin(), l_all.end()));
    }

    void connectionFilters()
    {
        Fixture f;
        ItemPtr u1 = f.user->NewItem("u1"), u2 = f.user->NewItem("u2"), u3 = f.user->NewItem("u3");
        ItemPtr f1 = f.file->NewItem("f1"), f2 = f.file->NewItem("f2");
        u1 += f1;
        u2 += f2;
        ItemSet users{u1, u2, u3};
        QCOMPARE(users.Connected(ItemSet{f1}), ItemSet{u1});               // walks the other set
        QCOMPARE(users.Connected(ItemSet{f1, f2, u3}), (ItemSet{u1, u2})); // equal counts
        QCOMPARE(ItemSet{u1}.Connected(ItemSet{f1, f2}), ItemSet{u1});     // walks this set
        QCOMPARE(users.NotConnected(ItemSet{f1}), (ItemSet{u2, u3}));
        QCOMPARE(users.Connected(f2), ItemSet{u2});
        QCOMPARE(users.NotConnected(f2), (ItemSet{u1, u3}));
        QVERIFY(users.Connected(ItemPtr()).empty());
        QCOMPARE(users.NotConnected(ItemPtr()), users);
        QCOMPARE(users.Connected(f.fn.c_str()), (ItemSet{u1, u2}));
        QCOMPARE(users.NotConnected(f.fn.c_str()), ItemSet{u3});
        QCOMPARE(users.Connected(f.fn.c_str(), "f1"), ItemSet{u1});
        QCOMPARE(users.NotConnected(f.fn.c_str(), "f1"), (ItemSet{u2, u3}));
        QVERIFY(users.Connected(f.fn.c_str(), "nope").empty());
        QCOMPARE(users.NotConnected(f.fn.c_str(), "nope"), users);
        QVERIFY(f.file->HasItem("nope").IsNull()); // never created
        QVERIFY(Throws<TypeNotFoundException>([&] { users.Connected(Unique("none").c_str()); }));
        QVERIFY(Throws<NullTypeException>([&] { users.Connected(f.gn.c_str(), "x"); }));
    }

    void gatheringAndBulkChanges()
    {
        Fixture f;
        ItemPtr u1 = f.user->NewItem("u1"), u2 = f.user->NewItem("u2");
        ItemPtr f1 = f.file->NewItem("f1"), f2 = f.file->NewItem("f2"), f3 = f.file->NewItem("f3");
        u1 += f1;
        u1 += f2;
        u2 += f2;
        u2 += f3;
        ItemSet users{u1, u2};
        QCOMPARE(users.GetItems(f.fn.c_str()), (ItemSet{f1, f2, f3}));
        QCOMPARE(d.GetItems(users, f.fn.c_str()), (ItemSet{f1, f2, f3}));
        QVERIFY(Throws<NotRelatedException>([&] { ItemSet{u1}.GetItems(f.sn.c_str()); }));
        users.Disconnect(f.fn.c_str());
        QVERIFY(u1.IsDisconnectedFromAll() && u2.IsDisconnectedFromAll());
        ItemSet{f1, f2}.Remove();
        QVERIFY(f.file->HasItem("f1").IsNull() && f.file->HasItem("f2").IsNull());
        QCOMPARE(g(f.fn.c_str()), ItemSet{f3});
        QCOMPARE(i(f.fn.c_str(), "f3"), ItemSet{f3});
        QVERIFY(i(f.fn.c_str(), "f1").empty());
        QVERIFY(Throws<TypeNotFoundException>([&] { g(Unique("none").c_str()); }));
    }

    void sortedViews()
    {
        Fixture f;
        ItemSet l_set;
        for (char const* v : {"b", "a", "c", "a2", "B", "\xC3\xA9"})
            l_set.insert(f.user->NewItem(v));
        auto const l_texts = [](ItemList const& list)
        {
            QStringList l_out;
            for (ItemPtr const& i : list)
                l_out << i.AsString();
            return l_out.join(",");
        };
        QCOMPARE(l_texts(l_set.SortAlphabetic(true)), QString::fromUtf8("B,a,a2,b,c,\xC3\xA9"));
        ItemList l_desc = l_set.SortAlphabetic(false);
        ItemList l_asc = l_set.SortAlphabetic(true);
        std::reverse(l_asc.begin(), l_asc.end());
        QCOMPARE(l_desc, l_asc);

        // Equal keys: ascending in address order, descending the exact reverse.
        ItemSet l_nums;
        for (char const* v : {"10", "9", "x", " 5", "-3", "0", "y"})
            l_nums.insert(f.file->NewItem(v));
        ItemList const l_numAsc = l_nums.SortNumeric(true);
        QCOMPARE(l_numAsc.front().AsStdString(), std::string("-3"));
        QCOMPARE(l_numAsc.back().AsStdString(), std::string("10"));
        // "x", "y", "0" all count as 0 and keep address order among themselves.
        std::vector<ItemPtr> l_zeros;
        for (ItemPtr const& i : l_numAsc)
            if (i.AsInt64() == 0)
                l_zeros.push_back(i);
        QCOMPARE(l_zeros.size(), std::size_t(3));
        QVERIFY(std::is_sorted(l_zeros.begin(), l_zeros.end()));
        ItemList l_numDesc = l_nums.SortNumeric(false);
        std::reverse(l_numDesc.begin(), l_numDesc.end());
        QCOMPARE(l_numDesc, l_numAsc);

        // By a connected item: members without it are left out.
        ItemPtr a = f.file->NewItem("fa"), b = f.file->NewItem("fb"), c = f.file->NewItem("fc");
        ItemPtr none = f.file->NewItem("fnone");
        a += f.size->NewItem("300");
        b += f.size->NewItem("abc"); // not a number: 0
        c += f.size->NewItem("20");
        ItemSet l_files{a, b, c, none};
        QCOMPARE(l_files.SortNumericBy(f.sn.c_str(), true), (ItemList{b, c, a}));
        QCOMPARE(l_files.SortNumericBy(f.sn.c_str(), false), (ItemList{a, c, b}));
        QCOMPARE(l_files.SortAlphabeticBy(f.sn.c_str(), true), (ItemList{c, a, b}));
        QCOMPARE(l_files.SortAlphabeticBy(f.sn.c_str(), false), (ItemList{b, a, c}));
        ItemList const l_custom =
            l_files.Sort([](ItemPtr x, ItemPtr y) { return x.AsStdString() > y.AsStdString(); });
        QCOMPARE(l_custom, (ItemList{none, c, b, a}));
    }

    void equalSortKeysReverseExactly()
    {
        // Equal texts arise from items of different types with the same value and from
        // bytes that decode to the same text ("\xE9" as Latin-1, "\xC3\xA9" as UTF-8).
        Fixture f;
        ItemSet l_set{f.user->NewItem("same"), f.file->NewItem("same"),  f.token->NewItem("same"),
                      f.user->NewItem("\xE9"),  f.file->NewItem("\xC3\xA9"), f.user->NewItem("a")};
        ItemList const l_asc = l_set.SortAlphabetic(true);
        QStringList l_texts;
        for (ItemPtr const& l_item : l_asc)
            l_texts << l_item.AsString();
        QCOMPARE(l_texts.join(","), QString::fromUtf8("a,same,same,same,\xC3\xA9,\xC3\xA9"));
        QVERIFY(std::is_sorted(l_asc.begin() + 1, l_asc.begin() + 4)); // address order
        QVERIFY(std::is_sorted(l_asc.begin() + 4, l_asc.end()));
        ItemList l_desc = l_set.SortAlphabetic(false);
        std::reverse(l_desc.begin(), l_desc.end());
        QCOMPARE(l_desc, l_asc);

        // By a connected item: several members share one keyed item.
        ItemPtr l_five = f.size->NewItem("5"), l_seven = f.size->NewItem("7");
        ItemSet l_files;
        for (int n = 0; n < 6; ++n)
        {
            ItemPtr l_file = f.file->NewItem("eq" + std::to_string(n));
            l_file += n % 2 ? l_five : l_seven;
            l_files.insert(l_file);
        }
        for (bool l_numeric : {true, false})
        {
            char const* sn = f.sn.c_str();
            ItemList const l_up =
                l_numeric ? l_files.SortNumericBy(sn, true) : l_files.SortAlphabeticBy(sn, true);
            ItemList l_down =
                l_numeric ? l_files.SortNumericBy(sn, false) : l_files.SortAlphabeticBy(sn, false);
            QCOMPARE(l_up.size(), std::size_t(6));
            QVERIFY(std::is_sorted(l_up.begin(), l_up.begin() + 3));
            QVERIFY(std::is_sorted(l_up.begin() + 3, l_up.end()));
            QCOMPARE(l_up[0][sn], l_five);
            QCOMPARE(l_up[5][sn], l_seven);
            std::reverse(l_down.begin(), l_down.end());
            QCOMPARE(l_down, l_up);
        }
    }

    void subsetQueries()
    {
        Fixture f;
        ItemPtr t1 = f.token->NewItem("t1"), t2 = f.token->NewItem("t2"),
                t3 = f.token->NewItem("t3");
        std::vector<ItemPtr> l_files;
        for (int n = 0; n < 20; ++n)
        {
            ItemPtr x = f.file->NewItem(n);
            l_files.push_back(x);
            x += t1;
            if (n % 2 == 0)
                x += t2;
            if (n % 5 == 0)
                x += t3;
        }
        char const* fn = f.fn.c_str();
        ItemSet const l_both = d.GetItemSubset(ItemSet{t1, t2, t3}, fn);
        QCOMPARE(l_both, (ItemSet{l_files[0], l_files[10]}));
        QCOMPARE(d.GetItemSubset(ItemSet{t1}, fn).size(), std::size_t(20));
        QVERIFY(d.GetItemSubset(ItemSet(), fn).empty());
        ItemPtr t4 = f.token->NewItem("t4");
        QVERIFY(d.GetItemSubset(ItemSet{t4}, fn).empty());
        QVERIFY(d.GetItemSubset(ItemSet{t1, t4}, fn).empty());
        QCOMPARE(d.GetItems(t2, t3, fn), (ItemSet{l_files[0], l_files[10]}));
        QCOMPARE(d.GetItem(ItemSet{t2, t3}, fn), std::min(l_files[0], l_files[10]));
        QCOMPARE(d.GetItem(t2, t3, fn), std::min(l_files[0], l_files[10]));
        QVERIFY(d.GetItem(t1, t4, fn).IsNull());
        // The same item twice: the lowest-addressed item connected to it.
        ItemSet const l_t3files = t3.GetItems(fn);
        QCOMPARE(d.GetItem(t3, t3, fn), *l_t3files.begin());
        QVERIFY(Throws<TypeNotFoundException>(
            [&] { d.GetItemSubset(ItemSet{t1}, Unique("none").c_str()); }));
    }
};

QTEST_APPLESS_MAIN(TestItemSet)
#include "tst_itemset.moc"
