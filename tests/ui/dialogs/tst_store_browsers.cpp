// The developer windows onto the store: the item-store browser (texts, lazy expansion,
// live additions and removals), the type navigator on a small schema, and a user's item
// log.

#include "net/server/ServerTestEnv.h"

#include "ui/dialogs/DataDialog.h"
#include "ui/dialogs/DataDialogUi.h"
#include "ui/dialogs/DiagnosticsForm.h"
#include "ui/dialogs/ItemLogDialog.h"
#include "ui/dialogs/ItemLogDialogUi.h"
#include "ui/dialogs/TypeNavigatorDialog.h"
#include "ui/dialogs/TypeNavigatorDialogUi.h"

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

// The tree as lines, two spaces of indentation per level.
QStringList TreeLines(QTreeWidget* ip_tree)
{
    QStringList l_lines;
    std::function<void(QTreeWidgetItem*, int)> l_add = [&](QTreeWidgetItem* ip_row, int i_depth) {
        l_lines << QString(i_depth * 2, ' ') + ip_row->text(0);
        for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
            l_add(ip_row->child(l_child), i_depth + 1);
    };
    for (int l_row = 0; l_row < ip_tree->topLevelItemCount(); ++l_row)
        l_add(ip_tree->topLevelItem(l_row), 0);
    return l_lines;
}

QTreeWidgetItem* ChildWithText(QTreeWidgetItem* ip_row, QString const& i_text)
{
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        if (ip_row->child(l_child)->text(0) == i_text)
            return ip_row->child(l_child);
    return nullptr;
}

QStringList BoxTexts(QComboBox* ip_box)
{
    QStringList l_texts;
    for (int l_entry = 0; l_entry < ip_box->count(); ++l_entry)
        l_texts << ip_box->itemText(l_entry);
    return l_texts;
}

void Relate(char const* i_a, char const* i_b, OneOrMany i_first, OneOrMany i_second)
{
    d[i_a]->RelateToType(d[i_b], i_first, i_second);
}

// One item-log entry, attached to the item last, as a writer would.
ItemPtr AddEntry(ItemPtr i_item, char const* i_area, QString const& i_text, int i_level,
                 QString const& i_time, int i_order)
{
    ItemPtr const l_entry = d["item_log"]->NewItem();
    l_entry += d["log_area"]->GetItem(Value(i_area));
    l_entry += d["log_text"]->GetItem(Value(i_text));
    l_entry += d["log_level"]->GetItem(Value(i_level));
    l_entry += d["log_time"]->GetItem(Value(i_time));
    l_entry += d["log_order"]->GetItem(Value(i_order));
    i_item += l_entry;
    return l_entry;
}
} // namespace

class TestStoreBrowsers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void browserFollowsTheStore();
    void navigatorPaths();
    void itemLog();

private:
    DiagnosticsForm* mp_diagnostics = nullptr;
};

void TestStoreBrowsers::initTestCase()
{
    ServerTestEnv::InitOnce();
    mp_diagnostics = new DiagnosticsForm;
    mp_diagnostics->Init();

    // The browser's schema: owners with parts and a flag, a type linked to itself.
    d.NewType("b_owner", Primary, false, true);
    d.NewType("b_part", Secondary, false, true);
    d.NewType("b_flag", Tertiary, true, false);
    d.NewType("b_empty", Primary, false, false);
    d.NewType("b_self", Primary, false, true);
    Relate("b_owner", "b_part", Many, Many);
    Relate("b_owner", "b_flag", Many, One);
    Relate("b_self", "b_self", Many, Many);

    // The navigator's schema: a linked to b, c and a chain g1..g7; b to c; c to the null d.
    for (char const* lp_name : {"n_a", "n_b", "n_c", "n_e", "n_g1", "n_g2", "n_g3", "n_g4",
                                "n_g5", "n_g6", "n_g7"})
        d.NewType(lp_name, Primary);
    d.NewType("n_d", Tertiary, true);
    Relate("n_a", "n_b", Many, One);
    Relate("n_b", "n_c", One, One);
    Relate("n_a", "n_c", Many, Many);
    Relate("n_c", "n_d", Many, One);
    Relate("n_a", "n_g1", One, One);
    char const* const l_chain[] = {"n_g1", "n_g2", "n_g3", "n_g4", "n_g5", "n_g6", "n_g7"};
    for (int l_link = 0; l_link + 1 < 7; ++l_link)
        Relate(l_chain[l_link], l_chain[l_link + 1], One, One);
}

void TestStoreBrowsers::browserFollowsTheStore()
{
    ItemPtr const l_b = d["b_owner"]->GetItem("b");
    ItemPtr const l_a = d["b_owner"]->GetItem("a");
    ItemPtr const l_part = d["b_part"]->GetItem("p1");
    l_b += l_part;
    l_a += l_part;
    l_b.NewItem("b_flag");
    ItemPtr const l_self = d["b_self"]->GetItem("s");
    l_self += d["b_self"]->GetItem("t");

    QPointer<DataDialog> lp_dialog = new DataDialog(&d);
    Ui_DataDialog* const ui = lp_dialog->Form();
    struct TypeRow
    {
        char const* name;
        char const* kind;
        char const* count;
    } const l_rows[] = {{"b_owner", "value   ", "2"}, {"b_flag", "null   ", "1"},
                        {"b_empty", "value   ", "0"}, {"b_part", "value   ", "1"}};
    for (TypeRow const& l_row : l_rows)
    {
        QTreeWidgetItem* const lp_row = lp_dialog->TypeRow(l_row.name);
        QVERIFY(lp_row);
        QCOMPARE(lp_row->text(1), QString(l_row.kind));
        QCOMPARE(lp_row->text(2), QString(l_row.count));
    }
    QCOMPARE(ui->typeList->topLevelItem(0)->text(0) < ui->typeList->topLevelItem(1)->text(0), true);

    // A null type lists nothing; an empty type too.
    lp_dialog->TypeRow("b_flag")->setSelected(true);
    QVERIFY(ListTexts(ui->itemList).isEmpty());
    ui->typeList->clearSelection();
    lp_dialog->TypeRow("b_owner")->setSelected(true);
    QCOMPARE(ListTexts(ui->itemList), QStringList({"a", "b"}));

    // The clicked item opens one level; its rows open on expansion, once.
    emit ui->itemList->itemClicked(ui->itemList->item(1));
    QStringList const l_opened = {"b", "  [b_flag, null]", "    ~~unloaded~~", "  [b_part] p1",
                                  "    ~~unloaded~~"};
    QStringList l_lines = TreeLines(ui->itemDataTree);
    l_lines.sort();
    QStringList l_sortedOpened = l_opened;
    l_sortedOpened.sort();
    QCOMPARE(l_lines, l_sortedOpened);
    QTreeWidgetItem* const lp_top = ui->itemDataTree->topLevelItem(0);
    QTreeWidgetItem* const lp_p1 = ChildWithText(lp_top, "[b_part] p1");
    lp_p1->setExpanded(true);
    QCOMPARE(lp_p1->childCount(), 2);
    QTreeWidgetItem* const lp_innerB = ChildWithText(lp_p1, "[b_owner] b");
    QVERIFY(ChildWithText(lp_p1, "[b_owner] a"));
    QCOMPARE(ChildWithText(lp_innerB, "~~unloaded~~") != nullptr, true);
    QCOMPARE(ui->itemDataTree->currentItem(), lp_p1);
    l_b += d["b_part"]->GetItem("p2");
    lp_p1->setExpanded(false);
    lp_p1->setExpanded(true);
    QCOMPARE(lp_p1->childCount(), 2);

    // b inside p1 inside b, then p1 again inside that: two rows of p1, one in the other.
    lp_innerB->setExpanded(true);
    QTreeWidgetItem* const lp_innerP1 = ChildWithText(lp_innerB, "[b_part] p1");
    QVERIFY(lp_innerP1);
    lp_innerP1->setExpanded(true);
    std::size_t const l_recorded = lp_dialog->RecordedRowCount();

    // Items of the listed type: added ones in their place by the next pass of the event
    // loop (not at all when removed before it), removed ones at once.
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
    QCoreApplication::sendPostedEvents();
    QCOMPARE(lp_dialog->TypeRow("b_owner")->text(2), QStringLiteral("2"));
    // Rows of a: under p1 and under the inner p1.
    QCOMPARE(lp_dialog->RecordedRowCount(), l_recorded - 2);

    // Removing p1 deletes the outer p1 row with everything below it, the inner one too.
    std::size_t const l_beforePart = lp_dialog->RecordedRowCount();
    int l_below = 0;
    std::function<void(QTreeWidgetItem*)> l_count = [&](QTreeWidgetItem* ip_row) {
        for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        {
            if (ip_row->child(l_child)->text(0) != "~~unloaded~~")
                ++l_below;
            l_count(ip_row->child(l_child));
        }
    };
    l_count(lp_p1);
    l_part.Remove();
    QCOMPARE(lp_dialog->RecordedRowCount(), l_beforePart - std::size_t(1 + l_below));
    QVERIFY(!ChildWithText(lp_top, "[b_part] p1"));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(lp_dialog->TypeRow("b_part")->text(2), QStringLiteral("1"));

    // Removing the shown item empties the tree.
    l_b.Remove();
    QCOMPARE(ui->itemDataTree->topLevelItemCount(), 0);
    QCOMPARE(lp_dialog->RecordedRowCount(), std::size_t(0));
    QVERIFY(!lp_dialog->CurrentItem());
    QCOMPARE(ListTexts(ui->itemList), QStringList({"ab"}));

    // An item linked only to its own type shows the top row alone.
    ui->typeList->clearSelection();
    lp_dialog->TypeRow("b_self")->setSelected(true);
    emit ui->itemList->itemClicked(ui->itemList->item(0));
    QCOMPARE(TreeLines(ui->itemDataTree), QStringList({"s"}));

    // Closed, it is gone and hears no more of the store.
    lp_dialog->close();
    FreeDeleted();
    QVERIFY(!lp_dialog);
    d["b_owner"]->GetItem("after");
    d["b_owner"]->RemoveAllItems();
}

void TestStoreBrowsers::navigatorPaths()
{
    QPointer<TypeNavigatorDialog> lp_dialog = new TypeNavigatorDialog;
    Ui_TypeNavigatorDialog* const ui = lp_dialog->Form();
    lp_dialog->Init();
    QStringList l_all;
    for (auto const& l_type : d.Types())
        l_all << QString::fromStdString(l_type.first);
    QCOMPARE(BoxTexts(ui->fromTypeBox), l_all);

    // One to six steps away, never the start itself, in byte order.
    ui->fromTypeBox->setCurrentText("n_a");
    QCOMPARE(BoxTexts(ui->toTypeBox),
             QStringList({"n_b", "n_c", "n_d", "n_g1", "n_g2", "n_g3", "n_g4", "n_g5", "n_g6"}));
    // Filling the targets chose the first, and its paths are shown.
    QCOMPARE(ui->toTypeBox->currentText(), QStringLiteral("n_b"));

    QString const l_green = QStringLiteral("<font color=green><b>[%1]</b></font> ");
    struct Case
    {
        char const* target;
        QStringList lines;
    } const l_cases[] = {
        {"n_b", {l_green.arg(2) + "<b>n_a</b> -> <b>n_b</b>",
                 "[3] <b>n_a</b> => <b>n_c</b> -> <b>n_b</b>"}},
        {"n_c", {"[2] <b>n_a</b> => <b>n_c</b>",
                 l_green.arg(3) + "<b>n_a</b> -> <b>n_b</b> -> <b>n_c</b>"}},
        {"n_d", {"[3] <b>n_a</b> => <b>n_c</b> -> <b>n_d</b> [null]",
                 l_green.arg(4) + "<b>n_a</b> -> <b>n_b</b> -> <b>n_c</b> -> <b>n_d</b> [null]"}},
        {"n_g6", {l_green.arg(7) + "<b>n_a</b> -> <b>n_g1</b> -> <b>n_g2</b> -> <b>n_g3</b> -> "
                                   "<b>n_g4</b> -> <b>n_g5</b> -> <b>n_g6</b>"}},
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
    QVERIFY(ui->chartEdit->toHtml().contains("#008000"));

    // Seven steps is too far; an empty or unknown target gives nothing at once.
    QVERIFY(TypeNavigatorDialog::FindPaths("n_a", "n_g7").empty());
    QVERIFY(TypeNavigatorDialog::FindPaths("n_a", "").empty());
    QVERIFY(TypeNavigatorDialog::FindPaths("n_a", "no such type").empty());
    QCOMPARE(TypeNavigatorDialog::FindPaths("n_g7", "n_a").size(), std::size_t(0));
    QCOMPARE(TypeNavigatorDialog::FindPaths("n_g6", "n_a").size(), std::size_t(1));

    // A type without relations: no targets, no chart.
    ui->fromTypeBox->setCurrentText("n_e");
    QCOMPARE(ui->toTypeBox->count(), 0);
    QVERIFY(ui->chartEdit->toPlainText().isEmpty());
    QVERIFY(lp_dialog->Paths().empty());

    lp_dialog->close();
    FreeDeleted();
    QVERIFY(!lp_dialog);
}

void TestStoreBrowsers::itemLog()
{
    ItemPtr const l_bob = d["user"]->GetItem("bob");
    AddEntry(l_bob, "server", "second", 1, "Tue Jul 24 10:00:02 2012", 9);
    AddEntry(l_bob, "Search", "first <b>x</b>", 3, "Tue Jul 24 10:00:01 2012", 2);
    AddEntry(l_bob, "server", "third", 2, "Tue Jul 24 10:00:03 2012", 10);
    ItemPtr const l_other = d["user"]->GetItem("ann");
    AddEntry(l_other, "server", "not bob's", 1, "Tue Jul 24 10:00:00 2012", 1);

    QPointer<ItemLogDialog> lp_dialog = new ItemLogDialog(l_bob);
    QTabWidget* const lp_tabs = lp_dialog->Form()->logTabWidget;
    auto const l_text = [&](int i_tab) {
        return qobject_cast<QTextBrowser*>(lp_tabs->widget(i_tab))->toPlainText().split('\n');
    };
    QCOMPARE(lp_dialog->windowTitle(), QStringLiteral("Item Log"));
    QCOMPARE(lp_tabs->count(), 3);
    QCOMPARE(lp_tabs->tabText(0), QStringLiteral("All"));
    QCOMPARE(lp_tabs->tabText(1), QStringLiteral("Search"));
    QCOMPARE(lp_tabs->tabText(2), QStringLiteral("server"));
    QStringList const l_all = {"[Tue Jul 24 10:00:01 2012]       first <b>x</b>",
                               "[Tue Jul 24 10:00:02 2012] second",
                               "[Tue Jul 24 10:00:03 2012]    third"};
    QCOMPARE(l_text(0), l_all);
    QCOMPARE(l_text(1), QStringList({l_all[0]}));
    QCOMPARE(l_text(2), QStringList({l_all[1], l_all[2]}));

    // Later entries follow; an "All" entry lands twice in the "All" tab.
    AddEntry(l_bob, "server", "fourth", 1, "Tue Jul 24 10:00:04 2012", 11);
    AddEntry(l_bob, "All", "everywhere", 1, "Tue Jul 24 10:00:05 2012", 12);
    QCOMPARE(l_text(2).last(), QStringLiteral("[Tue Jul 24 10:00:04 2012] fourth"));
    QCOMPARE(lp_tabs->count(), 3);
    QCOMPARE(l_text(0).mid(3), QStringList({"[Tue Jul 24 10:00:04 2012] fourth",
                                            "[Tue Jul 24 10:00:05 2012] everywhere",
                                            "[Tue Jul 24 10:00:05 2012] everywhere"}));

    ItemSet const l_entries = l_bob.GetItems("item_log");
    ItemList const l_byOrder = l_entries.SortNumericBy("log_order");
    QVERIFY(ItemLogDialog::CompareLogItemDates(l_byOrder[0], l_byOrder[1]));
    QVERIFY(!ItemLogDialog::CompareLogItemDates(l_byOrder[1], l_byOrder[0]));

    // The user goes: so does the dialog.
    l_bob.Remove();
    FreeDeleted();
    QVERIFY(!lp_dialog);
    AddEntry(l_other, "server", "later", 1, "Tue Jul 24 10:00:06 2012", 13);
}

QTEST_MAIN(TestStoreBrowsers)
#include "tst_store_browsers.moc"
