#include "store/Data.h"
#include "ui/search/FilterHelpDialog.h"
#include "ui/search/SearchResultListItem.h"
#include "ui/search/SearchResultsForm.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>

namespace
{
// The box's entries, then the save button's label.
QStringList Filters(SearchResultsForm& i_tab)
{
    auto* const lp_box = i_tab.findChild<QComboBox*>("savedFiltersBox");
    QStringList l_entries;
    for (int l_index = 0; l_index < lp_box->count(); ++l_index)
        l_entries << lp_box->itemText(l_index);
    return l_entries << i_tab.findChild<QPushButton*>("saveFilterButton")->text();
}

void Click(SearchResultsForm& i_tab, char const* ip_button)
{
    QTest::mouseClick(i_tab.findChild<QPushButton*>(ip_button), Qt::LeftButton);
}

QStringList Column0(QTreeWidget* ip_tree)
{
    QStringList l_texts;
    for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
        l_texts << ip_tree->topLevelItem(l_index)->text(0);
    return l_texts;
}

void AddCorrelation(ItemPtr i_text, char const* ip_term, int i_rank)
{
    ItemPtr const l_correlation = i_text.NewItem("search_correlation");
    l_correlation += d["correlation_text"]->GetItem(Value(ip_term));
    if (i_rank >= 0)
        l_correlation += d["correlation_rank"]->GetItem(Value(i_rank));
}
} // namespace

class TestResultsTab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void savedFiltersFollowEveryTab();
    void relatedSearchesByRank();
    void rowsOrderByFreeSlotOrSpeed();
    void oneFilterHelpAtATime();
};

void TestResultsTab::initTestCase()
{
    d.NewType("saved_filter", Primary, false, true);
    Type* const lp_text = d.NewType("search_request_text", Primary, false, true);
    Type* const lp_correlation = d.NewType("search_correlation", Secondary, true, true);
    lp_text->RelateToType(lp_correlation, One, Many);
    lp_correlation->RelateToType(d.NewType("correlation_text", Tertiary, false, true), Many, One);
    lp_correlation->RelateToType(d.NewType("correlation_rank", Tertiary, false, true), Many, One);
}

void TestResultsTab::savedFiltersFollowEveryTab()
{
    d["saved_filter"]->NewItem(Value("old one"));
    SearchResultsForm l_first("a", false), l_second("b", true);
    l_first.Init();
    l_second.Init();
    QStringList const l_box = {"-- saved filters", "old one"};
    QString const l_save = "Save Filter", l_remove = "Remove Filter";

    // Saved simplified and in lower case, at the end of every tab's box.
    l_first.filterEdit()->setText("  Foo \t  BAR ");
    Click(l_first, "saveFilterButton");
    QCOMPARE(Filters(l_first), l_box + QStringList({"foo bar", l_remove}));
    QCOMPARE(Filters(l_second), l_box + QStringList({"foo bar", l_save}));
    // The same words in another case are that filter; removing it empties every box.
    l_second.filterEdit()->setText("FOO BAR");
    QCOMPARE(Filters(l_second).last(), l_remove);
    Click(l_second, "saveFilterButton");
    QCOMPARE(Filters(l_first), l_box + QStringList{l_save});
    QCOMPARE(Filters(l_second), l_box + QStringList{l_save});
    // Blanks are not saved; a filter spelt like the box's title goes, not the title.
    for (char const* lp_text : {"   ", "-- saved filters"})
    {
        l_first.filterEdit()->setText(lp_text);
        Click(l_first, "saveFilterButton");
        Click(l_first, "saveFilterButton");
        QCOMPARE(Filters(l_second), l_box + QStringList{l_save});
    }
    // Choosing an entry fills the edit and shows the title again; "Clear" empties it.
    l_second.findChild<QComboBox*>("savedFiltersBox")->setCurrentIndex(1);
    QCOMPARE(l_second.filterEdit()->text(), QStringLiteral("old one"));
    QCOMPARE(l_second.findChild<QComboBox*>("savedFiltersBox")->currentIndex(), 0);
    QCOMPARE(Filters(l_second).last(), l_remove);
    Click(l_second, "pushButton_2");
    QVERIFY(l_second.filterEdit()->text().isEmpty());
    d["saved_filter"]->HasItem(Value("old one")).Remove();
}

void TestResultsTab::relatedSearchesByRank()
{
    ItemPtr const l_text = d["search_request_text"]->GetItem(Value("beat"));
    for (auto [lp_term, l_rank] : {std::pair{"beat live", 5}, {"beat it", 9}, {"no rank", -1}, {"beats", 5}})
        AddCorrelation(l_text, lp_term, l_rank);
    SearchResultsForm l_tab("beat", false);
    l_tab.resize(800, 400);
    l_tab.show();
    QTreeWidget* const lp_list = l_tab.CorrelationsWidget();
    QVERIFY(lp_list->isVisible());
    // Highest rank first; equal ranks in the reverse of the order the store lists them in,
    // which follows item addresses and so differs from run to run.
    QStringList l_equalRanks;
    for (ItemPtr const& l_correlation : l_text.GetItems("search_correlation"))
        if (ItemPtr const l_rank = l_correlation["correlation_rank"]; l_rank && l_rank.AsInt64() == 5)
            l_equalRanks.prepend(l_correlation["correlation_text"].AsString());
    QCOMPARE(Column0(lp_list), QStringList{"beat it"} + l_equalRanks);
    l_tab.OnSearchCorrelations("beat");
    QCOMPARE(l_tab.findChild<QSplitter*>("splitter")->sizes().value(1), 150);

    // Another text's answer changes nothing; an answer without terms hides the list.
    l_text.GetItems("search_correlation").Remove();
    l_tab.OnSearchCorrelations("Beat");
    QCOMPARE(lp_list->topLevelItemCount(), 3);
    l_tab.OnSearchCorrelations("beat");
    QVERIFY(lp_list->isHidden() && lp_list->topLevelItemCount() == 0);
    // A wish tab never shows them.
    AddCorrelation(l_text, "beat it", 9);
    SearchResultsForm l_wishTab("beat", true);
    l_wishTab.show();
    QVERIFY(l_wishTab.CorrelationsWidget()->isHidden());
}

void TestResultsTab::rowsOrderByFreeSlotOrSpeed()
{
    // name, "Free", "K/s", file column
    QList<QStringList> const l_rows = {{"q10", "10", "900.0", ""}, {"q9", "9", "1.0", ""},     {"y-slow", "Y", "1.5", ""},
                                       {"q0", "0", "", ""},         {"y-fast", "Y", "100.0", ""}, {"q9-fast", "9", "50.0", "a"},
                                       {"q9-b", "9", "1.0", "b"},   {"y-none", "Y", "", "z"}};
    QTreeWidget l_tree;
    l_tree.setColumnCount(7);
    for (QStringList const& l_row : l_rows)
    {
        auto* const lp_item = new SearchResultListItem(&l_tree);
        for (int l_column : {0, 1, 2, 4})
            lp_item->setText(l_column, l_row[l_column == 4 ? 3 : l_column]);
    }
    // Rows equal in every column read keep the order the last sort left.
    QList<QPair<int, QStringList>> const l_orders = {
        {1, {"y-fast", "y-slow", "y-none", "q0", "q9-fast", "q9", "q9-b", "q10"}},
        {2, {"q10", "y-fast", "q9-fast", "y-slow", "q9", "q9-b", "q0", "y-none"}},
        {3, {"q10", "y-fast", "y-slow", "q9", "q0", "q9-fast", "q9-b", "y-none"}},
    };
    for (auto const& [l_column, l_names] : l_orders)
    {
        l_tree.sortByColumn(l_column, Qt::DescendingOrder);
        QCOMPARE(Column0(&l_tree), l_names);
    }
}

void TestResultsTab::oneFilterHelpAtATime()
{
    SearchResultsForm l_tab("x", true);
    l_tab.show();
    Click(l_tab, "pushButton");
    QPointer<FilterHelpDialog> const lp_dialog = filterHelpDialog;
    QVERIFY(lp_dialog && lp_dialog->isVisible() && !lp_dialog->isModal());
    Click(l_tab, "pushButton");
    QCOMPARE(l_tab.findChildren<FilterHelpDialog*>().size(), 1);
    QCOMPARE(lp_dialog->windowTitle(), QStringLiteral("Filter Help"));
    QVERIFY(lp_dialog->textEdit->toPlainText().contains(
        "minfilesize:number - shows files with a minimum file size of number MB\nminfilesinfolder:number"));
    // "Ok" closes and deletes it; the next click makes a new one.
    QTest::mouseClick(lp_dialog->pushButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!lp_dialog && !filterHelpDialog, 1000);
    Click(l_tab, "pushButton");
    QVERIFY(filterHelpDialog && filterHelpDialog->isVisible());
    delete filterHelpDialog;
}

QTEST_MAIN(TestResultsTab)
#include "tst_results_tab.moc"
