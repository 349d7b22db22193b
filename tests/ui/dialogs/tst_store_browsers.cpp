// The developer windows onto the store: the item-store browser (texts, lazy expansion,
// live additions and removals), the type navigator on a small schema, and a user's item
// log opened from the user menu.

#include "net/server/ServerTestEnv.h"

#include "ui/dialogs/DataDialog.h"
#include "ui/dialogs/DiagnosticsForm.h"
#include "ui/dialogs/ItemLogDialog.h"
#include "ui/dialogs/TypeNavigatorDialog.h"
#include "ui/users/UserMenuOptions.h"
#include "ui_DataDialog.h"
#include "ui_ItemLogDialog.h"
#include "ui_TypeNavigatorDialog.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QTextBrowser>
#include <QtTest>

#include <functional>

namespace
{
void FreeDeleted()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QStringList ListTexts(QListWidget* ip_list)
{
    QStringList l_texts;
    for (int l_row = 0; l_row < ip_list->count(); ++l_row)
        l_texts << ip_list->item(l_row)->text();
    return l_texts;
}

// Rows that show items below a row, at any depth (placeholders left out).
int RowsBelow(QTreeWidgetItem* ip_row)
{
    int l_count = 0;
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        l_count += (ip_row->child(l_child)->text(0) != DataDialog::PlaceholderText()) + RowsBelow(ip_row->child(l_child));
    return l_count;
}

QTreeWidgetItem* Child(QTreeWidgetItem* ip_row, QString const& i_text)
{
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        if (ip_row->child(l_child)->text(0) == i_text)
            return ip_row->child(l_child);
    return nullptr;
}

QStringList ChildTexts(QTreeWidgetItem* ip_row)
{
    QStringList l_texts;
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        l_texts << ip_row->child(l_child)->text(0);
    l_texts.sort();
    return l_texts;
}

void Relate(char const* i_a, char const* i_b, OneOrMany i_first, OneOrMany i_second)
{
    d[i_a]->RelateToType(d[i_b], i_first, i_second);
}

// One item-log entry, attached to the item last, as a writer would.
void AddEntry(ItemPtr i_item, char const* i_area, QString const& i_text, int i_level, int i_second, int i_order)
{
    ItemPtr const l_entry = d["item_log"]->NewItem();
    l_entry += d["log_area"]->GetItem(Value(i_area));
    l_entry += d["log_text"]->GetItem(Value(i_text));
    l_entry += d["log_level"]->GetItem(Value(i_level));
    l_entry += d["log_time"]->GetItem(Value(QStringLiteral("Tue Jul 24 10:00:%1 2012").arg(i_second, 2, 10, QChar('0'))));
    l_entry += d["log_order"]->GetItem(Value(i_order));
    i_item += l_entry;
}
} // namespace

class TestStoreBrowsers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void browserFollowsTheStore();
    void browserListsInTextOrder();
    void navigatorPaths();
    void itemLog();
};

void TestStoreBrowsers::initTestCase()
{
    ServerTestEnv::InitOnce();
    (new DiagnosticsForm)->Init();
    // The user menu reads the share index's flag; the index is not part of this program.
    d.NewType("unshared", Tertiary, true, false)->RelateToType(d["user"], Many, One);

    // The browser's schema: owners with parts and a flag, a type linked to itself.
    d.NewType("b_owner", Primary, false, true);
    d.NewType("b_part", Secondary, false, true);
    d.NewType("b_flag", Tertiary, true, false);
    d.NewType("b_self", Primary, false, true);
    Relate("b_owner", "b_part", Many, Many);
    Relate("b_owner", "b_flag", Many, One);
    Relate("b_self", "b_self", Many, Many);

    // The navigator's: a to b (one), to c (many) and to a chain g1..g7; b to c; c to null d.
    for (char const* lp_name : {"n_a", "n_b", "n_c", "n_e", "n_g1", "n_g2", "n_g3", "n_g4", "n_g5", "n_g6", "n_g7"})
        d.NewType(lp_name, Primary);
    d.NewType("n_d", Tertiary, true);
    Relate("n_a", "n_b", Many, One);
    Relate("n_b", "n_c", One, One);
    Relate("n_a", "n_c", Many, Many);
    Relate("n_c", "n_d", Many, One);
    Relate("n_a", "n_g1", One, One);
    for (int l_link = 1; l_link < 7; ++l_link)
        Relate(qPrintable(QString("n_g%1").arg(l_link)), qPrintable(QString("n_g%1").arg(l_link + 1)), One, One);
}

void TestStoreBrowsers::browserFollowsTheStore()
{
    ItemPtr const l_b = d["b_owner"]->GetItem("b");
    ItemPtr const l_a = d["b_owner"]->GetItem("a");
    ItemPtr const l_part = d["b_part"]->GetItem("p1");
    l_b += l_part;
    l_a += l_part;
    l_b.NewItem("b_flag");
    d["b_self"]->GetItem("s") += d["b_self"]->GetItem("t");

    QPointer<DataDialog> lp_dialog = new DataDialog(&d);
    Ui_DataDialog* const ui = lp_dialog->Form();
    QCOMPARE(lp_dialog->TypeRow("b_owner")->text(1) + lp_dialog->TypeRow("b_owner")->text(2), "value   2");
    QCOMPARE(lp_dialog->TypeRow("b_flag")->text(1) + lp_dialog->TypeRow("b_flag")->text(2), "null   1");
    // A null type lists nothing.
    lp_dialog->TypeRow("b_flag")->setSelected(true);
    QCOMPARE(ui->itemList->count(), 0);
    ui->typeList->clearSelection();
    lp_dialog->TypeRow("b_owner")->setSelected(true);
    QCOMPARE(ListTexts(ui->itemList), QStringList({"a", "b"}));

    // The clicked item opens one level; a row opens on expansion, once.
    emit ui->itemList->itemClicked(ui->itemList->item(1));
    QTreeWidgetItem* const lp_top = ui->itemDataTree->topLevelItem(0);
    QCOMPARE(lp_top->text(0), QStringLiteral("b"));
    QCOMPARE(ChildTexts(lp_top), QStringList({"[b_flag, null]", "[b_part] p1"}));
    QTreeWidgetItem* const lp_p1 = Child(lp_top, "[b_part] p1");
    QCOMPARE(ChildTexts(lp_p1), QStringList({"~~unloaded~~"}));
    lp_p1->setExpanded(true);
    QCOMPARE(ChildTexts(lp_p1), QStringList({"[b_owner] a", "[b_owner] b"}));
    QCOMPARE(ui->itemDataTree->currentItem(), lp_p1);
    l_b += d["b_part"]->GetItem("p2");
    lp_p1->setExpanded(false);
    lp_p1->setExpanded(true);
    QCOMPARE(lp_p1->childCount(), 2);
    // b inside p1 inside b, then p1 again inside that: a row of p1 inside another.
    QTreeWidgetItem* const lp_innerB = Child(lp_p1, "[b_owner] b");
    lp_innerB->setExpanded(true);
    Child(lp_innerB, "[b_part] p1")->setExpanded(true);
    std::size_t const l_recorded = lp_dialog->RecordedRowCount();

    // Added items of the listed type come in their place by the next pass of the event
    // loop (not at all when removed before it); removed ones go at once.
    d["b_owner"]->GetItem("ab");
    d["b_owner"]->GetItem("aa").Remove();
    d["b_owner"]->GetItem("c");
    QCOMPARE(ListTexts(ui->itemList), QStringList({"a", "b"}));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(ListTexts(ui->itemList), QStringList({"a", "ab", "b", "c"}));
    QCOMPARE(lp_dialog->TypeRow("b_owner")->text(2), QStringLiteral("4"));
    QCOMPARE(lp_dialog->EntryItem(ui->itemList->item(1)), d["b_owner"]->HasItem("ab"));
    l_a.Remove();
    d["b_owner"]->HasItem("c").Remove();
    QCOMPARE(ListTexts(ui->itemList), QStringList({"ab", "b"}));
    QCOMPARE(lp_dialog->RecordedRowCount(), l_recorded - 2); // a under both rows of p1

    // Removing p1 deletes its outer row with everything below, the inner row of p1 too.
    int const l_rowsOfP1 = 1 + RowsBelow(lp_p1);
    l_part.Remove();
    QCOMPARE(lp_dialog->RecordedRowCount(), l_recorded - 2 - std::size_t(l_rowsOfP1));
    QCOMPARE(ChildTexts(lp_top), QStringList({"[b_flag, null]"}));
    // Removing the shown item empties the tree.
    l_b.Remove();
    QCOMPARE(ui->itemDataTree->topLevelItemCount(), 0);
    QCOMPARE(lp_dialog->RecordedRowCount(), std::size_t(0));
    QVERIFY(!lp_dialog->CurrentItem());
    QCoreApplication::sendPostedEvents();
    QCOMPARE(lp_dialog->TypeRow("b_owner")->text(2) + lp_dialog->TypeRow("b_part")->text(2), "11");

    // An item linked only to its own type shows the top row alone.
    ui->typeList->clearSelection();
    lp_dialog->TypeRow("b_self")->setSelected(true);
    emit ui->itemList->itemClicked(ui->itemList->item(0));
    QCOMPARE(RowsBelow(ui->itemDataTree->invisibleRootItem()), 1);

    // Closed, it is gone and hears no more of the store.
    lp_dialog->close();
    FreeDeleted();
    QVERIFY(!lp_dialog);
    d["b_owner"]->RemoveAllItems();
}

void TestStoreBrowsers::browserListsInTextOrder()
{
    // Byte order is not text order beyond the basic plane (U+1F600 reads before U+E000),
    // and values cut by a zero byte read as one text: each entry still stands for its own
    // item, when listed, removed and added.
    Type* const lp_type = d.NewType("b_text", Primary, false, true);
    auto const l_item = [&](std::string const& i_bytes)
    { return lp_type->GetItem(Value(i_bytes)); };
    QString const l_smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    ItemPtr const l_private = l_item("\xEE\x80\x80");
    l_item("\xF0\x9F\x98\x80");
    std::set<ItemPtr> l_ems = {l_item("m"), l_item(std::string("m\0a", 3)),
                               l_item(std::string("m\0b", 3))};
    QPointer<DataDialog> lp_dialog = new DataDialog(&d);
    Ui_DataDialog* const ui = lp_dialog->Form();
    lp_dialog->TypeRow("b_text")->setSelected(true);
    QCOMPARE(ListTexts(ui->itemList),
             QStringList({"m", "m", "m", l_smile, QString::fromUtf8("\xEE\x80\x80")}));
    std::set<ItemPtr> l_listed;
    for (int l_row = 0; l_row < 3; ++l_row)
        l_listed.insert(lp_dialog->EntryItem(ui->itemList->item(l_row)));
    QCOMPARE(l_listed, l_ems);

    ItemPtr const l_cut = *l_ems.rbegin();
    l_ems.erase(l_cut);
    l_cut.Remove();
    l_private.Remove();
    l_item("\xF0\x9F\x98\x81");
    l_item("a");
    QCoreApplication::sendPostedEvents();
    QCOMPARE(ListTexts(ui->itemList),
             QStringList({"a", "m", "m", l_smile, QString::fromUtf8("\xF0\x9F\x98\x81")}));
    for (int l_row = 0; l_row < ui->itemList->count(); ++l_row)
        QCOMPARE(lp_dialog->EntryItem(ui->itemList->item(l_row)).AsString(),
                 ui->itemList->item(l_row)->text());
    QVERIFY(l_ems.count(lp_dialog->EntryItem(ui->itemList->item(1))) &&
            l_ems.count(lp_dialog->EntryItem(ui->itemList->item(2))));
    lp_dialog->close();
    FreeDeleted();
    lp_type->RemoveAllItems();
}

void TestStoreBrowsers::navigatorPaths()
{
    QPointer<TypeNavigatorDialog> lp_dialog = new TypeNavigatorDialog;
    Ui_TypeNavigatorDialog* const ui = lp_dialog->Form();
    lp_dialog->Init();
    QCOMPARE(ui->fromTypeBox->count(), int(d.Types().size()));
    QCOMPARE(ui->fromTypeBox->itemText(0), QString::fromStdString(d.Types().begin()->first));

    // One to six steps away, never the start itself, in byte order; the first is charted.
    ui->fromTypeBox->setCurrentText("n_a");
    QStringList l_targets;
    for (int l_entry = 0; l_entry < ui->toTypeBox->count(); ++l_entry)
        l_targets << ui->toTypeBox->itemText(l_entry);
    QCOMPARE(l_targets, QStringList({"n_b", "n_c", "n_d", "n_g1", "n_g2", "n_g3", "n_g4", "n_g5", "n_g6"}));
    QCOMPARE(lp_dialog->Paths().size(), std::size_t(2));

    QString const l_green = QStringLiteral("<font color=green><b>[%1]</b></font> ");
    struct Case
    {
        char const* target;
        QStringList lines;
    } const l_cases[] = {
        {"n_b", {l_green.arg(2) + "<b>n_a</b> -> <b>n_b</b>", "[3] <b>n_a</b> => <b>n_c</b> -> <b>n_b</b>"}},
        {"n_c", {"[2] <b>n_a</b> => <b>n_c</b>", l_green.arg(3) + "<b>n_a</b> -> <b>n_b</b> -> <b>n_c</b>"}},
        {"n_d", {"[3] <b>n_a</b> => <b>n_c</b> -> <b>n_d</b> [null]",
                 l_green.arg(4) + "<b>n_a</b> -> <b>n_b</b> -> <b>n_c</b> -> <b>n_d</b> [null]"}},
        {"n_g6", {l_green.arg(7) + "<b>n_a</b> -> <b>n_g1</b> -> <b>n_g2</b> -> <b>n_g3</b> -> <b>n_g4</b> -> "
                                   "<b>n_g5</b> -> <b>n_g6</b>"}},
    };
    for (Case const& l_case : l_cases)
    {
        ui->toTypeBox->setCurrentText(l_case.target);
        QStringList l_lines;
        for (TypeNavigatorDialog::TypePath const& l_path : lp_dialog->Paths())
            l_lines << TypeNavigatorDialog::ChartLine(l_path);
        QCOMPARE(l_lines, l_case.lines);
        QCOMPARE(ui->chartEdit->toPlainText().split('\n').size(), l_case.lines.size());
    }

    // Seven steps is too far; an empty or unknown target gives nothing.
    QVERIFY(TypeNavigatorDialog::FindPaths("n_a", "n_g7").empty());
    QVERIFY(TypeNavigatorDialog::FindPaths("n_a", "").empty());
    QVERIFY(TypeNavigatorDialog::FindPaths("n_a", "no such type").empty());
    QCOMPARE(TypeNavigatorDialog::FindPaths("n_g6", "n_a").size(), std::size_t(1));
    // A type without relations: no targets, no chart.
    ui->fromTypeBox->setCurrentText("n_e");
    QCOMPARE(ui->toTypeBox->count(), 0);
    QVERIFY(ui->chartEdit->toPlainText().isEmpty());

    lp_dialog->close();
    FreeDeleted();
    QVERIFY(!lp_dialog);
}

void TestStoreBrowsers::itemLog()
{
    ItemPtr const l_bob = d["user"]->GetItem("bob");
    AddEntry(l_bob, "server", "second", 1, 2, 9);
    AddEntry(l_bob, "Search", "first <b>x</b>", 3, 1, 2);
    AddEntry(l_bob, "server", "third", 2, 3, 10);
    AddEntry(d["user"]->GetItem("ann"), "server", "not bob's", 1, 0, 1);

    // Opened from the user menu's slot, for the user its entry names.
    QPointer<ItemLogDialog> lp_dialog;
    {
        QMenu l_menu;
        UserMenuOptions l_options(&l_menu, "ann");
        QAction l_entry;
        l_entry.setData(QStringLiteral("bob"));
        connect(&l_entry, &QAction::triggered, &l_options, &UserMenuOptions::OnUserLog);
        l_entry.trigger();
        for (QWidget* lp_window : QApplication::topLevelWidgets())
            if (auto* lp_log = qobject_cast<ItemLogDialog*>(lp_window))
                lp_dialog = lp_log;
    }
    QVERIFY(lp_dialog && lp_dialog->isVisible());
    QTabWidget* const lp_tabs = lp_dialog->Form()->logTabWidget;
    auto const l_tab = [&](int i_tab) {
        return lp_tabs->tabText(i_tab) + ":" + qobject_cast<QTextBrowser*>(lp_tabs->widget(i_tab))->toPlainText();
    };
    QString const l_first = "[Tue Jul 24 10:00:01 2012]       first <b>x</b>";
    QString const l_second = "[Tue Jul 24 10:00:02 2012] second";
    QString const l_third = "[Tue Jul 24 10:00:03 2012]    third";
    QCOMPARE(lp_tabs->count(), 3);
    QCOMPARE(l_tab(0), "All:" + QStringList({l_first, l_second, l_third}).join('\n'));
    QCOMPARE(l_tab(1), "Search:" + l_first);
    QCOMPARE(l_tab(2), "server:" + l_second + "\n" + l_third);

    // Later entries follow; an "All" entry lands twice in the "All" tab.
    AddEntry(l_bob, "All", "everywhere", 1, 5, 12);
    QCOMPARE(lp_tabs->count(), 3);
    QVERIFY(l_tab(0).endsWith("everywhere\n[Tue Jul 24 10:00:05 2012] everywhere"));
    ItemList const l_byOrder = l_bob.GetItems("item_log").SortNumericBy("log_order");
    QVERIFY(ItemLogDialog::CompareLogItemDates(l_byOrder[0], l_byOrder[1]));
    QVERIFY(!ItemLogDialog::CompareLogItemDates(l_byOrder[1], l_byOrder[0]));

    // The user goes: so does the dialog.
    l_bob.Remove();
    FreeDeleted();
    QVERIFY(!lp_dialog);
}

QTEST_MAIN(TestStoreBrowsers)
#include "tst_store_browsers.moc"
