#include "store/DataSaver.h"
#include "support/StoreServices.h"
#include "widgets/ResizableWindow.h"
#include "widgets/SizeManager.h"

#include <QFile>
#include <QHeaderView>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace
{
// A window stand-in that logs how it is placed.
class FakeWindow : public ResizableWindow
{
public:
    FakeWindow(int i_x, int i_y, int i_width, int i_height) : m_geometry{i_x, i_y, i_width, i_height} {}
    int GetX() override { return m_geometry[0]; }
    int GetY() override { return m_geometry[1]; }
    int GetWidth() override { return m_geometry[2]; }
    int GetHeight() override { return m_geometry[3]; }
    void SetPosition(int i_x, int i_y) override { m_calls << QStringLiteral("at %1 %2").arg(i_x).arg(i_y); }
    void SetSize(int i_w, int i_h) override { m_calls << QStringLiteral("size %1 %2").arg(i_w).arg(i_h); }

    int m_geometry[4];
    QStringList m_calls;
};

struct Splitter : QSplitter
{
    Splitter()
    {
        for (int l_pane = 0; l_pane < 3; ++l_pane)
            addWidget(new QWidget);
        resize(600, 100);
        setSizes({200, 200, 200});
    }
    using QSplitter::moveSplitter;
};

// Columns 50, 60, 70, ...
std::unique_ptr<QTreeWidget> Tree(int i_columns, bool i_stretchLast)
{
    auto lp_tree = std::make_unique<QTreeWidget>();
    lp_tree->setColumnCount(i_columns);
    lp_tree->header()->setStretchLastSection(i_stretchLast);
    for (int l_section = 0; l_section < i_columns; ++l_section)
        lp_tree->header()->resizeSection(l_section, 50 + 10 * l_section);
    return lp_tree;
}

QList<int> Stored(char const* i_nameType, QString const& i_name)
{
    bool const l_tree = QByteArray(i_nameType) == "sizer_tree";
    QList<int> l_sizes;
    for (ItemPtr const& l_record :
         d[i_nameType]->HasItem(Value(i_name))
             .GetItems(l_tree ? "sizer_tree_column" : "sizer_splitter_index")
             .SortNumericBy(l_tree ? "sizer_tree_column_number" : "sizer_splitter_index_number", true))
        l_sizes << l_record["sizer_size"].AsInt();
    return l_sizes;
}
} // namespace

class TestSizeManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        StartStoreServices();
        new SizeManager;
    }
    void recordsSurviveSaveAndLoad();
    void splittersShareOneRecord();
    void treesShareColumnWidths();
};

void TestSizeManager::recordsSurviveSaveAndLoad()
{
    QTemporaryDir l_dir;
    QString const l_path = l_dir.filePath("store");
    FakeWindow l_window(10, 20, 640, 480);
    sizeManager->RegisterResizableWindow("main_window", &l_window);
    QCOMPARE(l_window.m_calls, QStringList());
    l_window.EmitWindowMoved(30, 40);
    l_window.EmitWindowResized(800, 600);
    Splitter l_splitter;
    sizeManager->RegisterSplitter("room_splitter", &l_splitter, {});
    l_splitter.moveSplitter(150, 1);
    std::unique_ptr<QTreeWidget> const lp_tree = Tree(3, false);
    sizeManager->RegisterTreeWidget("user_list", lp_tree.get());
    lp_tree->header()->resizeSection(1, 123);

    QVERIFY(dataSaver->Save(l_path));
    d.RemoveAllItems();
    dataSaver->Load(l_path);

    FakeWindow l_next(0, 0, 100, 100);
    sizeManager->RegisterResizableWindow("main_window", &l_next);
    QCOMPARE(l_next.m_calls, (QStringList{"at 30 40", "size 800 600"}));
    Splitter l_nextSplitter;
    sizeManager->RegisterSplitter("room_splitter", &l_nextSplitter, {});
    QCOMPARE(l_nextSplitter.sizes(), l_splitter.sizes());
    std::unique_ptr<QTreeWidget> const lp_nextTree = Tree(3, false);
    sizeManager->RegisterTreeWidget("user_list", lp_nextTree.get());
    QCOMPARE(lp_nextTree->header()->sectionSize(1), 123);

    // A record without a positive size is replaced by the window's present geometry.
    l_next.EmitWindowResized(0, 600);
    FakeWindow l_third(5, 6, 400, 300);
    sizeManager->RegisterResizableWindow("main_window", &l_third);
    QCOMPARE(l_third.m_calls, QStringList());
    QCOMPARE(d["sizer_window"]->HasItem(Value("main_window"))["sizer_width"].AsInt(), 400);

    QFile l_file(l_path);
    QVERIFY(l_file.open(QIODevice::ReadOnly));
    QByteArray const l_bytes = l_file.readAll();
    QVERIFY(l_bytes.contains("sizer_window") && l_bytes.contains("sizer_tree_column_number"));
    QVERIFY(!l_bytes.contains("_widget"));
}

void TestSizeManager::splittersShareOneRecord()
{
    // A default list is recorded, not applied.
    Splitter l_first;
    QList<int> const l_present = l_first.sizes();
    sizeManager->RegisterSplitter("wish_list_splitter", &l_first, {10, 20, 30});
    QCOMPARE(l_first.sizes(), l_present);
    QCOMPARE(Stored("sizer_splitter", "wish_list_splitter"), (QList<int>{10, 20, 30}));

    // A drag reaches every sibling without echoing, and the next one opened.
    auto lp_second = std::make_unique<Splitter>();
    sizeManager->RegisterSplitter("wish_list_splitter", lp_second.get(), {});
    QSignalSpy l_echo(lp_second.get(), &QSplitter::splitterMoved);
    l_first.moveSplitter(100, 1);
    QVERIFY(l_first.sizes() != l_present);
    QCOMPARE(Stored("sizer_splitter", "wish_list_splitter"), l_first.sizes());
    QCOMPARE(lp_second->sizes(), l_first.sizes());
    QCOMPARE(l_echo.size(), 0);
    Splitter l_third;
    sizeManager->RegisterSplitter("wish_list_splitter", &l_third, {});
    QCOMPARE(l_third.sizes(), l_first.sizes());

    // A destroyed splitter loses its live link.
    QObject const* const lp_gone = lp_second.get();
    lp_second.reset();
    QVERIFY(!d["sizer_splitter_widget"]->HasItem(Value(lp_gone)));
    l_third.moveSplitter(300, 0);
    QCOMPARE(l_first.sizes(), l_third.sizes());
}

void TestSizeManager::treesShareColumnWidths()
{
    // 20 open trees of one name; the stretched last section is never recorded or copied.
    std::vector<std::unique_ptr<QTreeWidget>> l_trees;
    for (int l_tree = 0; l_tree < 20; ++l_tree)
    {
        l_trees.push_back(Tree(4, true));
        sizeManager->RegisterTreeWidget("search_results", l_trees.back().get());
    }
    QCOMPARE(Stored("sizer_tree", "search_results"), (QList<int>{50, 60, 70}));
    QSignalSpy l_copies(l_trees[19]->header(), &QHeaderView::sectionResized);
    l_trees[7]->header()->resizeSection(2, 140);
    l_trees[7]->header()->resizeSection(3, 333);
    QCOMPARE(Stored("sizer_tree", "search_results"), (QList<int>{50, 60, 140}));
    QCOMPARE(l_copies.size(), 1);
    for (auto const& lp_tree : l_trees)
        QCOMPARE(lp_tree->header()->sectionSize(2), 140);

    // A destroyed tree loses its live link.
    QObject const* const lp_gone = l_trees[0].get();
    l_trees.erase(l_trees.begin());
    QVERIFY(!d["sizer_tree_widget"]->HasItem(Value(lp_gone)));
    l_trees[0]->header()->resizeSection(0, 77);
    QCOMPARE(l_trees[18]->header()->sectionSize(0), 77);

    // Equal sizes share one value item, which goes only when nothing holds it.
    l_trees[0]->header()->resizeSection(1, 120);
    l_trees[0]->header()->resizeSection(2, 120);
    ItemPtr const l_shared = d["sizer_size"]->HasItem(Value(120));
    QCOMPARE(l_shared.GetItems("sizer_tree_column").size(), std::size_t(2));
    l_trees[0]->header()->resizeSection(1, 130);
    QCOMPARE(d["sizer_size"]->HasItem(Value(120)), l_shared);
    l_trees[0]->header()->resizeSection(2, 130);
    QVERIFY(!d["sizer_size"]->HasItem(Value(120)));
}

QTEST_MAIN(TestSizeManager)
#include "tst_size_manager.moc"
