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

#include <memory>

namespace
{
QStringList Entries(SearchResultsForm& i_tab)
{
    auto* const lp_box = i_tab.findChild<QComboBox*>("savedFiltersBox");
    QStringList l_entries;
    for (int l_index = 0; l_index < lp_box->count(); ++l_index)
        l_entries << lp_box->itemText(l_index);
    return l_entries;
}

QString SaveLabel(SearchResultsForm& i_tab)
{
    return i_tab.findChild<QPushButton*>("saveFilterButton")->text();
}

void ClickSave(SearchResultsForm& i_tab)
{
    QTest::mouseClick(i_tab.findChild<QPushButton*>("saveFilterButton"), Qt::LeftButton);
}

QStringList Column0(QTreeWidget* ip_tree)
{
    QStringList l_texts;
    for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
        l_texts << ip_tree->topLevelItem(l_index)->text(0);
    return l_texts;
}

void AddCorrelation(ItemPtr i_text, char const* ip_term, std::optional<int> i_rank)
{
    ItemPtr const l_correlation = i_text.NewItem("search_correlation");
    l_correlation += d["correlation_text"]->GetItem(Value(ip_term));
    if (i_rank)
        l_correlation += d["correlation_rank"]->GetItem(Value(*i_rank));
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
    SearchResultsForm l_first("a", false);
    SearchResultsForm l_second("b", true);
    l_first.Init();
    l_second.Init();
    QStringList const l_start = {"-- saved filters", "old one"};
    QCOMPARE(Entries(l_first), l_start);

    // Saved simplified and in lower case, at the end of every tab's box.
    l_first.filterEdit()->setText("  Foo \t  BAR ");
    ClickSave(l_first);
    QVERIFY(d["saved_filter"]->HasItem(Value("foo bar")));
    QCOMPARE(Entries(l_first), l_start + QStringList{"foo bar"});
    QCOMPARE(Entries(l_second), Entries(l_first));
    QCOMPARE(SaveLabel(l_first), QStringLiteral("Remove Filter"));
    QCOMPARE(SaveLabel(l_second), QStringLiteral("Save Filter"));

    // The same words in another case are the saved filter; removing it from one tab
    // takes it out of every box.
    l_second.filterEdit()->setText("FOO BAR");
    QCOMPARE(SaveLabel(l_second), QStringLiteral("Remove Filter"));
    ClickSave(l_second);
    QVERIFY(!d["saved_filter"]->HasItem(Value("foo bar")));
    QCOMPARE(Entries(l_first), l_start);
    QCOMPARE(Entries(l_second), l_start);
    QCOMPARE(SaveLabel(l_first), QStringLiteral("Save Filter"));
    QCOMPARE(SaveLabel(l_second), QStringLiteral("Save Filter"));

    // Nothing to save in blanks.
    l_first.filterEdit()->setText("   ");
    ClickSave(l_first);
    QCOMPARE(d["saved_filter"]->GetItemCount(), std::size_t(1));

    // A saved filter spelt like the box's title is removed, not the title.
    l_first.filterEdit()->setText("-- saved filters");
    ClickSave(l_first);
    ClickSave(l_first);
    QCOMPARE(Entries(l_second), l_start);

    // Choosing an entry fills the edit and shows the title again; "Clear" empties it.
    auto* const lp_box = l_second.findChild<QComboBox*>("savedFiltersBox");
    lp_box->setCurrentIndex(1);
    QCOMPARE(l_second.filterEdit()->text(), QStringLiteral("old one"));
    QCOMPARE(lp_box->currentIndex(), 0);
    QCOMPARE(SaveLabel(l_second), QStringLiteral("Remove Filter"));
    QTest::mouseClick(l_second.findChild<QPushButton*>("pushButton_2"), Qt::LeftButton);
    QVERIFY(l_second.filterEdit()->text().isEmpty());
    d["saved_filter"]->HasItem(Value("old one")).Remove();
}

void TestResultsTab::relatedSearchesByRank()
{
    ItemPtr const l_text = d["search_request_text"]->GetItem(Value("beat"));
    AddCorrelation(l_text, "beat live", 5);
    AddCorrelation(l_text, "beat it", 9);
    AddCorrelation(l_text, "no rank", std::nullopt);
    AddCorrelation(l_text, "beats", 5);

    SearchResultsForm l_tab("beat", false);
    l_tab.resize(800, 400);
    l_tab.show();
    QTreeWidget* const lp_list = l_tab.CorrelationsWidget();
    QCOMPARE(lp_list->headerItem()->text(0), QStringLiteral("related searches"));
    QVERIFY(lp_list->isVisible());
    QCOMPARE(Column0(lp_list), QStringList({"beat it", "beats", "beat live"}));
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
    // name, "Free", "K/s", file column.
    struct Row
    {
        char const* name;
        char const* free;
        char const* speed;
        char const* file;
    };
    QList<Row> const l_rows = {
        {"q10", "10", "900.0", ""}, {"q9", "9", "1.0", ""},    {"y-slow", "Y", "1.5", ""},
        {"q0", "0", "", ""},        {"y-fast", "Y", "100.0", ""}, {"q9-fast", "9", "50.0", "a"},
        {"q9-tie-b", "9", "1.0", "b"}, {"y-none", "Y", "", "z"},
    };
    QTreeWidget l_tree;
    l_tree.setColumnCount(7);
    for (Row const& l_row : l_rows)
    {
        auto* const lp_item = new SearchResultListItem(&l_tree);
        for (auto [l_column, lp_text] : {std::pair{0, l_row.name}, {1, l_row.free}, {2, l_row.speed}, {4, l_row.file}})
            lp_item->setText(l_column, lp_text);
    }
    struct Order
    {
        int column;
        QStringList names;
    };
    QList<Order> const l_orders = {
        {1, {"y-fast", "y-slow", "y-none", "q0", "q9-fast", "q9", "q9-tie-b", "q10"}},
        {2, {"q10", "y-fast", "q9-fast", "y-slow", "q9", "q9-tie-b", "q0", "y-none"}},
        // Rows equal in column 4 keep the order the last sort gave them.
        {3, {"q10", "y-fast", "y-slow", "q9", "q0", "q9-fast", "q9-tie-b", "y-none"}},
    };
    for (Order const& l_order : l_orders)
    {
        l_tree.sortByColumn(l_order.column, Qt::DescendingOrder);
        QCOMPARE(l_tree.sortColumn(), l_order.column);
        QCOMPARE(Column0(&l_tree), l_order.names);
    }
}

void TestResultsTab::oneFilterHelpAtATime()
{
    SearchResultsForm l_tab("x", true);
    l_tab.show();
    auto* const lp_help = l_tab.findChild<QPushButton*>("pushButton");
    QCOMPARE(lp_help->text(), QStringLiteral("Filter Help"));
    QTest::mouseClick(lp_help, Qt::LeftButton);
    QPointer<FilterHelpDialog> const lp_dialog = filterHelpDialog;
    QVERIFY(lp_dialog && lp_dialog->isVisible() && !lp_dialog->isModal());
    QTest::mouseClick(lp_help, Qt::LeftButton);
    QCOMPARE(filterHelpDialog, lp_dialog.data());
    QCOMPARE(l_tab.findChildren<FilterHelpDialog*>().size(), 1);
    QCOMPARE(lp_dialog->windowTitle(), QStringLiteral("Filter Help"));
    QString const l_text = lp_dialog->textEdit->toPlainText();
    QVERIFY(l_text.contains("lackluster container iscbr minbitrate:320 minfilesize:10 minfilesinfolder:8"));
    QVERIFY(l_text.contains("minfilesize:number - shows files with a minimum file size of number MB\n"
                            "minfilesinfolder:number"));

    // "Ok" closes and deletes it; the next click makes a new one.
    QTest::mouseClick(lp_dialog->pushButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!lp_dialog, 1000);
    QVERIFY(!filterHelpDialog);
    QTest::mouseClick(lp_help, Qt::LeftButton);
    QVERIFY(filterHelpDialog && filterHelpDialog->isVisible());
    delete filterHelpDialog;
    QVERIFY(!filterHelpDialog);
}

QTEST_MAIN(TestResultsTab)
#include "tst_results_tab.moc"
