#include "app/ResizableWindow.h"
#include "app/SizeManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "support/StoreServices.h"

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
    FakeWindow(int i_x, int i_y, int i_width, int i_height)
        : m_x(i_x), m_y(i_y), m_width(i_width), m_height(i_height)
    {
    }
    int GetX() override { return m_x; }
    int GetY() override { return m_y; }
    int GetWidth() override { return m_width; }
    int GetHeight() override { return m_height; }
    void SetPosition(int i_x, int i_y) override
    {
        m_x = i_x;
        m_y = i_y;
        m_calls.append(QStringLiteral("position %1 %2").arg(i_x).arg(i_y));
    }
    void SetSize(int i_width, int i_height) override
    {
        m_width = i_width;
        m_height = i_height;
        m_calls.append(QStringLiteral("size %1 %2").arg(i_width).arg(i_height));
    }

    int m_x, m_y, m_width, m_height;
    QStringList m_calls;
};

class DragSplitter : public QSplitter
{
public:
    DragSplitter()
    {
        for (int l_pane = 0; l_pane < 3; ++l_pane)
            addWidget(new QWidget);
        resize(600, 100);
    }
    using QSplitter::moveSplitter;
};

std::unique_ptr<QTreeWidget> MakeTree(int i_columns, bool i_stretchLast)
{
    auto lp_tree = std::make_unique<QTreeWidget>();
    lp_tree->setColumnCount(i_columns);
    lp_tree->header()->setStretchLastSection(i_stretchLast);
    for (int l_section = 0; l_section < i_columns; ++l_section)
        lp_tree->header()->resizeSection(l_section, 50 + 10 * l_section);
    return lp_tree;
}

// The stored sizes under a name, in index order.
QList<int> Stored(char const* i_nameType, QString const& i_name, char const* i_recordType,
                  char const* i_numberType)
{
    QList<int> l_sizes;
    ItemPtr const l_name = d[i_nameType]->HasItem(Value(i_name));
    for (ItemPtr const& l_record : l_name.GetItems(i_recordType).SortNumericBy(i_numberType, true))
        l_sizes.append(l_record["sizer_size"].AsInt());
    return l_sizes;
}

QList<int> StoredColumns(QString const& i_name)
{
    return Stored("sizer_tree", i_name, "sizer_tree_column", "sizer_tree_column_number");
}

QList<int> StoredPanes(QString const& i_name)
{
    return Stored("sizer_splitter", i_name, "sizer_splitter_index", "sizer_splitter_index_number");
}

QList<int> Widths(QTreeWidget const& i_tree, int i_count)
{
    QList<int> l_widths;
    for (int l_section = 0; l_section < i_count; ++l_section)
        l_widths.append(i_tree.header()->sectionSize(l_section));
    return l_widths;
}
} // namespace

class TestSizeManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordsSurviveSaveAndLoad();
    void unusableWindowRecordIsReplaced();
    void splittersShareOneRecord();
    void treesShareColumnWidths();
    void valueItemsAreShared();

private:
    std::unique_ptr<SizeManager> mp_manager;
};

void TestSizeManager::initTestCase()
{
    StartStoreServices();
    mp_manager = std::make_unique<SizeManager>();
    QCOMPARE(sizeManager, mp_manager.get());
}

void TestSizeManager::recordsSurviveSaveAndLoad()
{
    QTemporaryDir l_dir;
    QString const l_path = l_dir.filePath(QStringLiteral("store"));
    {
        // First run: the present geometry is recorded and nothing is moved.
        FakeWindow l_window(10, 20, 640, 480);
        mp_manager->RegisterResizableWindow("main_window", &l_window);
        QCOMPARE(l_window.m_calls, QStringList());
        l_window.EmitWindowMoved(30, 40);
        l_window.EmitWindowResized(800, 600);

        DragSplitter l_splitter;
        mp_manager->RegisterSplitter("room_splitter", &l_splitter, {});
        l_splitter.setSizes({100, 200, 300});
        l_splitter.moveSplitter(150, 1);
        QList<int> const l_panes = l_splitter.sizes();

        std::unique_ptr<QTreeWidget> const lp_tree = MakeTree(3, false);
        mp_manager->RegisterTreeWidget("user_list", lp_tree.get());
        lp_tree->header()->resizeSection(1, 123);

        QVERIFY(dataSaver->Save(l_path));
        d.RemoveAllItems();
        dataSaver->Load(l_path);

        // Next run: position before size, panes and columns as they were left.
        FakeWindow l_next(0, 0, 100, 100);
        mp_manager->RegisterResizableWindow("main_window", &l_next);
        QCOMPARE(l_next.m_calls, (QStringList{"position 30 40", "size 800 600"}));

        DragSplitter l_nextSplitter;
        mp_manager->RegisterSplitter("room_splitter", &l_nextSplitter, {});
        QCOMPARE(l_nextSplitter.sizes(), l_panes);

        std::unique_ptr<QTreeWidget> const lp_nextTree = MakeTree(3, false);
        mp_manager->RegisterTreeWidget("user_list", lp_nextTree.get());
        QCOMPARE(Widths(*lp_nextTree, 3), (QList<int>{50, 123, 70}));
    }

    QFile l_file(l_path);
    QVERIFY(l_file.open(QIODevice::ReadOnly));
    QByteArray const l_bytes = l_file.readAll();
    for (char const* lp_type : {"sizer_window", "sizer_x", "sizer_size", "sizer_tree_column",
                                "sizer_splitter_index_number"})
        QVERIFY2(l_bytes.contains(lp_type), lp_type);
    QVERIFY(!l_bytes.contains("_widget"));
}

void TestSizeManager::unusableWindowRecordIsReplaced()
{
    struct Case
    {
        int width;
        int height;
    };
    Case const l_cases[] = {{0, 300}, {300, 0}, {-5, 300}};
    for (Case const& l_case : l_cases)
    {
        QString const l_name = QStringLiteral("window %1x%2").arg(l_case.width).arg(l_case.height);
        FakeWindow l_broken(1, 2, 300, 300);
        mp_manager->RegisterResizableWindow(l_name, &l_broken);
        l_broken.EmitWindowResized(l_case.width, l_case.height);

        FakeWindow l_window(5, 6, 400, 300);
        mp_manager->RegisterResizableWindow(l_name, &l_window);
        QCOMPARE(l_window.m_calls, QStringList());
        ItemPtr const l_record = d["sizer_window"]->HasItem(Value(l_name));
        QCOMPARE(l_record["sizer_width"].AsInt(), 400);
        QCOMPARE(l_record["sizer_x"].AsInt(), 5);
    }
}

void TestSizeManager::splittersShareOneRecord()
{
    // A default list is recorded, not applied.
    DragSplitter l_first;
    l_first.setSizes({200, 200, 200});
    QList<int> const l_present = l_first.sizes();
    mp_manager->RegisterSplitter("wish_list_splitter", &l_first, {10, 20, 30});
    QCOMPARE(l_first.sizes(), l_present);
    QCOMPARE(StoredPanes("wish_list_splitter"), (QList<int>{10, 20, 30}));

    // A second splitter under the name gets the stored sizes; a drag in either reaches
    // the other once, and a third one opened later starts with the dragged sizes.
    auto lp_second = std::make_unique<DragSplitter>();
    mp_manager->RegisterSplitter("wish_list_splitter", lp_second.get(), {});
    QSignalSpy l_secondMoved(lp_second.get(), &QSplitter::splitterMoved);
    l_first.moveSplitter(100, 1);
    QList<int> const l_dragged = l_first.sizes();
    QVERIFY(l_dragged != l_present);
    QCOMPARE(StoredPanes("wish_list_splitter"), l_dragged);
    QCOMPARE(lp_second->sizes(), l_dragged);
    QCOMPARE(l_secondMoved.count(), 0);

    DragSplitter l_third;
    mp_manager->RegisterSplitter("wish_list_splitter", &l_third, {});
    QCOMPARE(l_third.sizes(), l_dragged);

    // A destroyed splitter drops its live link and is never written to again.
    QObject const* const lp_gone = lp_second.get();
    lp_second.reset();
    QVERIFY(!d["sizer_splitter_widget"]->HasItem(Value(lp_gone)));
    l_third.moveSplitter(300, 0);
    QCOMPARE(l_first.sizes(), l_third.sizes());
    QCOMPARE(d["sizer_splitter"]->HasItem(Value(QStringLiteral("wish_list_splitter")))
                 .GetItems("sizer_splitter_widget")
                 .size(),
             std::size_t(2));
}

void TestSizeManager::treesShareColumnWidths()
{
    // 20 open trees of one name; the last section stretches and is never recorded.
    std::vector<std::unique_ptr<QTreeWidget>> l_trees;
    std::vector<std::unique_ptr<QSignalSpy>> l_spies;
    for (int l_tree = 0; l_tree < 20; ++l_tree)
    {
        l_trees.push_back(MakeTree(4, true));
        mp_manager->RegisterTreeWidget("search_results", l_trees.back().get());
        l_spies.push_back(std::make_unique<QSignalSpy>(l_trees.back()->header(), &QHeaderView::sectionResized));
    }
    QCOMPARE(StoredColumns("search_results"), (QList<int>{50, 60, 70}));

    l_trees[7]->header()->resizeSection(2, 140);
    QCOMPARE(StoredColumns("search_results"), (QList<int>{50, 60, 140}));
    for (std::size_t l_tree = 0; l_tree < l_trees.size(); ++l_tree)
    {
        QCOMPARE(Widths(*l_trees[l_tree], 3), (QList<int>{50, 60, 140}));
        QCOMPARE(l_spies[l_tree]->count(), 1);
    }

    // Resizing the stretched section is neither recorded nor copied.
    int const l_lastWidth = l_trees[1]->header()->sectionSize(3);
    l_trees[0]->header()->resizeSection(3, l_lastWidth + 33);
    QCOMPARE(StoredColumns("search_results").size(), 3);
    QCOMPARE(l_trees[1]->header()->sectionSize(3), l_lastWidth);

    // Destroyed trees drop their links; the others still follow each other.
    QObject const* const lp_gone = l_trees[0].get();
    l_trees.erase(l_trees.begin(), l_trees.begin() + 10);
    l_spies.clear();
    QVERIFY(!d["sizer_tree_widget"]->HasItem(Value(lp_gone)));
    l_trees[0]->header()->resizeSection(0, 77);
    QCOMPARE(l_trees[9]->header()->sectionSize(0), 77);

    // Forgetting the name leaves its columns to the sweep; the next tree records anew.
    mp_manager->ForgetTreeWidget("search_results");
    d.RemoveDisconnectedItems();
    QVERIFY(!d["sizer_tree"]->HasItem(Value(QStringLiteral("search_results"))));
    std::unique_ptr<QTreeWidget> const lp_new = MakeTree(4, true);
    mp_manager->RegisterTreeWidget("search_results", lp_new.get());
    QCOMPARE(StoredColumns("search_results"), (QList<int>{50, 60, 70}));
}

void TestSizeManager::valueItemsAreShared()
{
    // Two columns of 120: one value item; it goes only when neither holds it.
    std::unique_ptr<QTreeWidget> const lp_tree = MakeTree(2, false);
    lp_tree->header()->resizeSection(0, 120);
    lp_tree->header()->resizeSection(1, 120);
    mp_manager->RegisterTreeWidget("download_list", lp_tree.get());
    ItemPtr const l_shared = d["sizer_size"]->HasItem(Value(120));
    QVERIFY(l_shared);
    QCOMPARE(l_shared.GetItems("sizer_tree_column").size(), std::size_t(2));

    lp_tree->header()->resizeSection(0, 130);
    QCOMPARE(d["sizer_size"]->HasItem(Value(120)), l_shared);
    lp_tree->header()->resizeSection(1, 130);
    QVERIFY(!d["sizer_size"]->HasItem(Value(120)));
    QCOMPARE(StoredColumns("download_list"), (QList<int>{130, 130}));
}

QTEST_MAIN(TestSizeManager)
#include "tst_size_manager.moc"
