// UI services benchmark.
// (1) The action toolbar rebuilding on focus changes between two registered widgets of
//     two 8-action sets, on a fresh toolbar and after 10,000 widgets were registered with
//     keys, texts and hidden markers and destroyed; baseline: removing and deleting a
//     plain QToolBar's actions and adding the same 8 actions.
// (2) A column drag over 20 open 7-column trees registered under one name, per
//     sectionResized; baseline: resizing that section in the 20 headers directly.
// Posted events (deferred deletes, layout requests) are processed inside every timed
// step on both sides. Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include "common/BenchSupport.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/SizeManager.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <ctime>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr int kActions = 8;
constexpr int kCycles = 10000;
constexpr int kTrees = 20;
constexpr int kColumns = 7;

// Thread CPU time: the machines this runs on are shared, and wall time would count the
// other processes' turns.
struct Clock
{
    using time_point = double;
    static double now()
    {
        timespec l_time{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_time);
        return double(l_time.tv_sec) + double(l_time.tv_nsec) * 1e-9;
    }
};
std::map<std::string, double> g_microseconds;

double Elapsed(Clock::time_point i_since)
{
    return Clock::now() - i_since;
}

// What the event loop would do between two user actions: deferred deletes (which
// sendPostedEvents leaves alone outside an event loop unless asked), then the rest.
void ProcessPostedEvents()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
}

QString IconOf(int i_action)
{
    return i_action % 2 ? QStringLiteral(":/icons/online_icon") : QStringLiteral(":/icons/away_icon");
}

// One window holding the action toolbar, a plain toolbar and two registered widgets.
struct ToolbarScene
{
    QWidget m_window;
    ActionSetToolBar* mp_bar = new ActionSetToolBar;
    QToolBar* mp_plain = new QToolBar;
    QWidget* mp_widgets[2] = {new QWidget, new QWidget};

    ToolbarScene()
    {
        new DataSaver;
        DeclareSettingsTypes();
        SetSetting("availability_status", QStringLiteral("available"));
        QVBoxLayout* const lp_layout = new QVBoxLayout(&m_window);
        lp_layout->addWidget(mp_bar);
        lp_layout->addWidget(mp_plain);
        for (int l_set = 0; l_set < 2; ++l_set)
        {
            QString const l_name = QStringLiteral("set%1").arg(l_set);
            for (int l_action = 0; l_action < kActions; ++l_action)
                mp_bar->AddSetAction(l_name, QStringLiteral("%1_%2").arg(l_name).arg(l_action),
                                     QStringLiteral("Action %1").arg(l_action), IconOf(l_action),
                                     l_action % 3 == 0);
            lp_layout->addWidget(mp_widgets[l_set]);
            mp_bar->RegisterWidget(mp_widgets[l_set], l_name);
            mp_bar->AddWidgetKey(mp_widgets[l_set], "room", l_name);
            mp_bar->AddWidgetKey(mp_widgets[l_set], "user", l_name);
        }
        mp_bar->Init();
        m_window.resize(1200, 200);
        m_window.show();
        ProcessPostedEvents();
    }
};

// Left to the end of the process: the scenes' widgets must not outlive the application.
ToolbarScene& Scene()
{
    static ToolbarScene* const s_scene = new ToolbarScene;
    return *s_scene;
}

void Rebuilds(benchmark::State& state, char const* i_name)
{
    ToolbarScene& l_scene = Scene();
    int l_step = 0;
    double l_total = 0;
    for (auto _ : state)
    {
        Clock::time_point const l_start = Clock::now();
        l_scene.mp_bar->OnApplicationFocusChanged(nullptr, l_scene.mp_widgets[l_step++ % 2]);
        ProcessPostedEvents();
        double const l_seconds = Elapsed(l_start);
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
    }
    if (l_scene.mp_bar->CurrentSetName().isEmpty())
        state.SkipWithError("no set shown");
    g_microseconds[i_name] = l_total * 1e6 / double(state.iterations());
}

void BM_Rebuild_Fresh(benchmark::State& state)
{
    Rebuilds(state, "rebuild fresh");
}

void BM_Rebuild_AfterCycles(benchmark::State& state)
{
    ToolbarScene& l_scene = Scene();
    static bool s_cycled = false;
    if (!s_cycled)
    {
        s_cycled = true;
        for (int l_cycle = 0; l_cycle < kCycles; ++l_cycle)
        {
            auto lp_widget = std::make_unique<QWidget>();
            l_scene.mp_bar->RegisterWidget(lp_widget.get(), "set0");
            l_scene.mp_bar->AddWidgetKey(lp_widget.get(), "room", QStringLiteral("room %1").arg(l_cycle));
            l_scene.mp_bar->AddWidgetKey(lp_widget.get(), "user", QStringLiteral("user %1").arg(l_cycle));
            l_scene.mp_bar->AddWidgetColumnKey(lp_widget.get(), "file", 1);
            l_scene.mp_bar->SetWidgetActionText(lp_widget.get(), "set0_1", QStringLiteral("Text %1").arg(l_cycle));
            l_scene.mp_bar->SetWidgetActionHidden(lp_widget.get(), "set0_2", true);
            if (l_cycle % 10 == 0)
                l_scene.mp_bar->OnApplicationFocusChanged(nullptr, lp_widget.get());
        }
        ProcessPostedEvents();
    }
    if (d["toolbar_action_widget"]->GetItemCount() != 2 || d["action_value"]->GetItemCount() != 2)
        state.SkipWithError("destroyed widgets left records behind");
    Rebuilds(state, "rebuild after cycles");
}

void BM_Rebuild_Baseline(benchmark::State& state)
{
    ToolbarScene& l_scene = Scene();
    QToolBar* const lp_plain = l_scene.mp_plain;
    int l_step = 0;
    double l_total = 0;
    for (auto _ : state)
    {
        Clock::time_point const l_start = Clock::now();
        int const l_set = l_step++ % 2;
        for (QAction* lp_action : lp_plain->actions())
        {
            lp_plain->removeAction(lp_action);
            lp_action->deleteLater();
        }
        for (int l_action = 0; l_action < kActions; ++l_action)
        {
            QAction* const lp_action =
                lp_plain->addAction(QIcon(IconOf(l_action)), QStringLiteral("Action %1 %2").arg(l_action).arg(l_set));
            QObject::connect(lp_action, &QAction::triggered, lp_plain, [] {});
        }
        ProcessPostedEvents();
        double const l_seconds = Elapsed(l_start);
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
    }
    g_microseconds["rebuild baseline"] = l_total * 1e6 / double(state.iterations());
}

// Trees of 7 columns in one shown window; the registered ones share "search_results".
struct TreeScene
{
    QWidget m_window;
    std::vector<QTreeWidget*> m_trees;

    explicit TreeScene(bool i_register)
    {
        QVBoxLayout* const lp_layout = new QVBoxLayout(&m_window);
        for (int l_tree = 0; l_tree < kTrees; ++l_tree)
        {
            QTreeWidget* const lp_tree = new QTreeWidget;
            lp_tree->setColumnCount(kColumns);
            lp_tree->header()->setStretchLastSection(true);
            lp_layout->addWidget(lp_tree);
            m_trees.push_back(lp_tree);
            if (i_register)
                sizeManager->RegisterTreeWidget(QStringLiteral("search_results"), lp_tree);
        }
        m_window.resize(1200, 900);
        m_window.show();
        ProcessPostedEvents();
    }
};

void BM_ColumnDrag(benchmark::State& state)
{
    if (!sizeManager)
        new SizeManager;
    static TreeScene& s_scene = *new TreeScene(true);
    int l_step = 0;
    double l_total = 0;
    for (auto _ : state)
    {
        int const l_width = 100 + (l_step++ % 2) * 20;
        Clock::time_point const l_start = Clock::now();
        s_scene.m_trees[0]->header()->resizeSection(3, l_width);
        ProcessPostedEvents();
        double const l_seconds = Elapsed(l_start);
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
    }
    if (s_scene.m_trees[kTrees - 1]->header()->sectionSize(3) != s_scene.m_trees[0]->header()->sectionSize(3))
        state.SkipWithError("sizes not shared");
    g_microseconds["column drag"] = l_total * 1e6 / double(state.iterations());
}

void BM_ColumnDrag_Baseline(benchmark::State& state)
{
    static TreeScene& s_scene = *new TreeScene(false);
    int l_step = 0;
    double l_total = 0;
    for (auto _ : state)
    {
        int const l_width = 100 + (l_step++ % 2) * 20;
        Clock::time_point const l_start = Clock::now();
        for (QTreeWidget* lp_tree : s_scene.m_trees)
            lp_tree->header()->resizeSection(3, l_width);
        ProcessPostedEvents();
        double const l_seconds = Elapsed(l_start);
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
    }
    g_microseconds["column drag baseline"] = l_total * 1e6 / double(state.iterations());
}

void PrintSummary()
{
    double const l_fresh = g_microseconds["rebuild fresh"];
    double const l_cycled = g_microseconds["rebuild after cycles"];
    double const l_base = g_microseconds["rebuild baseline"];
    double const l_drag = g_microseconds["column drag"];
    double const l_dragBase = g_microseconds["column drag baseline"];
    auto const l_ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("\nUI services against plain Qt doing the same visible work (same run):\n");
    std::printf("%-40s %10s %10s %7s %s\n", "operation", "[us]", "base [us]", "ratio", "target");
    std::printf("%-40s %10.1f %10.1f %7.2f %s\n", "toolbar rebuild, fresh", l_fresh, l_base,
                l_ratio(l_fresh, l_base), "<= 3");
    std::printf("%-40s %10.1f %10.1f %7.2f %s\n", "toolbar rebuild, after 10,000 widgets", l_cycled,
                l_base, l_ratio(l_cycled, l_base), "<= 3");
    std::printf("%-40s %10.1f %10.1f %7.2f %s\n", "  after cycles against fresh", l_cycled, l_fresh,
                l_ratio(l_cycled, l_fresh), "<= 1.2");
    std::printf("%-40s %10.1f %10.1f %7.2f %s\n", "column drag over 20 trees", l_drag, l_dragBase,
                l_ratio(l_drag, l_dragBase), "<= 3");
    std::fflush(stdout);
}
} // namespace

BENCHMARK(BM_Rebuild_Baseline)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Rebuild_Fresh)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Rebuild_AfterCycles)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_ColumnDrag_Baseline)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_ColumnDrag)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);

int main(int argc, char** argv)
{
    bench::UseOffscreenPlatform();
    QApplication l_application(argc, argv);
    return bench::RunBenchmarks(argc, argv, PrintSummary);
}
