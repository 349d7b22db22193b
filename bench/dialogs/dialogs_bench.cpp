// Auxiliary dialogs benchmark, each figure beside a baseline measured in the same run.
// (1) Item-store browser: selecting a type of 1,000,000 items, against filling a plain
//     QListWidget with the same sorted texts; creating 100,000 more items of the listed
//     type (values after the existing ones, as counters make them) with the browser open,
//     against creating them with no browser.
// (2) Log tab: 100,000 lines logged into one area, against QTextBrowser::append of the
//     same lines, escaped.
// (3) Type navigator: choosing the start type `user` on the whole program's schema (the
//     main window started in a home folder of its own), which lists the reachable types
//     and charts the paths to the first of them, against a plain breadth-first search
//     filling a combo box.
// Times are thread CPU time. Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include "app/MainWindow.h"
#include "common/BenchSupport.h"
#include "common/SettingsStore.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Log.h"
#include "ui/dialogs/ChangeUsernamePasswordDialog.h"
#include "ui/dialogs/DataDialog.h"
#include "ui/dialogs/DiagnosticsForm.h"
#include "ui/dialogs/TypeNavigatorDialog.h"
#include "ui_DataDialog.h"
#include "ui_TypeNavigatorDialog.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace
{
constexpr int kListed = 1000000;
constexpr int kCreated = 100000;
constexpr int kLines = 100000;

struct Clock
{
    static double now()
    {
        timespec l_time{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_time);
        return double(l_time.tv_sec) + double(l_time.tv_nsec) * 1e-9;
    }
};
std::map<std::string, double> g_milliseconds;

void ProcessPostedEvents()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
}

MainWindow* g_window = nullptr;

// The whole program's schema: the main window started as the program starts it, from a
// store that keeps it off the network, the first-start user name dialog cancelled.
void StartMainWindow()
{
    if (g_window)
        return;
    QTimer l_answerer;
    QObject::connect(&l_answerer, &QTimer::timeout, [] {
        for (QWidget* lp_window : QApplication::topLevelWidgets())
            if (auto* lp_dialog = qobject_cast<ChangeUsernamePasswordDialog*>(lp_window))
                lp_dialog->reject();
    });
    l_answerer.start(10);
    g_window = new MainWindow;
    g_window->show();
    g_window->Init();
}

Type* ListedType()
{
    if (Type* const lp_type = d.HasType("bench_listed"))
        return lp_type;
    Type* const lp_type = d.NewType("bench_listed", Primary, false, true);
    d.NewType("bench_other", Primary, false, true);
    for (int l_item = 0; l_item < kListed; ++l_item)
        lp_type->NewItem(Value(QStringLiteral("item%1").arg(l_item, 7, 10, QLatin1Char('0'))));
    return lp_type;
}

QStringList ListedTexts()
{
    QStringList l_texts;
    for (Item* lp_item : ListedType()->KeyedItems())
        l_texts << ItemPtr(lp_item).AsString();
    return l_texts;
}

void Record(benchmark::State& io_state, char const* i_name, double i_total)
{
    g_milliseconds[i_name] = i_total * 1e3 / double(io_state.iterations());
}

void BM_SelectType_Baseline(benchmark::State& state)
{
    QStringList const l_texts = ListedTexts();
    QListWidget l_list;
    l_list.setSortingEnabled(true);
    double l_total = 0;
    for (auto _ : state)
    {
        double const l_start = Clock::now();
        l_list.setSortingEnabled(false);
        l_list.addItems(l_texts);
        l_list.setSortingEnabled(true);
        ProcessPostedEvents();
        double const l_seconds = Clock::now() - l_start;
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
        l_list.clear();
    }
    Record(state, "select baseline", l_total);
}

void BM_SelectType(benchmark::State& state)
{
    ListedType();
    DataDialog* const lp_dialog = new DataDialog(&d);
    double l_total = 0;
    for (auto _ : state)
    {
        double const l_start = Clock::now();
        lp_dialog->TypeRow("bench_listed")->setSelected(true);
        ProcessPostedEvents();
        double const l_seconds = Clock::now() - l_start;
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
        lp_dialog->Form()->typeList->clearSelection();
        lp_dialog->TypeRow("bench_other")->setSelected(true);
        lp_dialog->Form()->typeList->clearSelection();
    }
    Record(state, "select", l_total);
    delete lp_dialog;
}

// Creates the 100,000 items (timed), then removes them newest first (not timed).
double CreateAndRemove(benchmark::State& io_state, int i_round)
{
    Type* const lp_type = ListedType();
    std::vector<ItemPtr> l_created;
    l_created.reserve(kCreated);
    QString const l_prefix = QStringLiteral("new%1_").arg(i_round, 4, 10, QLatin1Char('0'));
    std::vector<Value> l_values;
    l_values.reserve(kCreated);
    for (int l_item = 0; l_item < kCreated; ++l_item)
        l_values.emplace_back(QStringLiteral("item%1%2").arg(l_prefix).arg(l_item, 6, 10, QLatin1Char('0')));
    double const l_start = Clock::now();
    for (Value const& l_value : l_values)
        l_created.push_back(lp_type->NewItem(l_value));
    ProcessPostedEvents();
    double const l_seconds = Clock::now() - l_start;
    io_state.SetIterationTime(l_seconds);
    for (auto l_item = l_created.rbegin(); l_item != l_created.rend(); ++l_item)
        l_item->Remove();
    StoreOperation::FreeRemovedItems();
    return l_seconds;
}

void BM_CreateItems_Closed(benchmark::State& state)
{
    double l_total = 0;
    int l_round = 0;
    for (auto _ : state)
        l_total += CreateAndRemove(state, l_round++);
    Record(state, "create closed", l_total);
}

void BM_CreateItems_Open(benchmark::State& state)
{
    ListedType();
    DataDialog* const lp_dialog = new DataDialog(&d);
    lp_dialog->TypeRow("bench_listed")->setSelected(true);
    double l_total = 0;
    int l_round = 0;
    for (auto _ : state)
        l_total += CreateAndRemove(state, l_round++);
    Record(state, "create open", l_total);
    delete lp_dialog;
}

QString const c_text = QStringLiteral("Received peer message <7> from user \"bob\" & co.");

void BM_LogTab_Baseline(benchmark::State& state)
{
    double l_total = 0;
    for (auto _ : state)
    {
        QTextBrowser* const lp_view = new QTextBrowser;
        double const l_start = Clock::now();
        for (int l_line = 0; l_line < kLines; ++l_line)
            lp_view->append(FormatLogLine(2, c_text).toHtmlEscaped());
        ProcessPostedEvents();
        double const l_seconds = Clock::now() - l_start;
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
        delete lp_view;
    }
    Record(state, "log baseline", l_total);
}

void BM_LogTab(benchmark::State& state)
{
    double l_total = 0;
    for (auto _ : state)
    {
        // The main window's form is not in this process's way: a form of its own.
        LogReceiver const l_previous = SetLogReceiver(LogReceiver());
        DiagnosticsForm* const lp_form = new DiagnosticsForm;
        double const l_start = Clock::now();
        for (int l_line = 0; l_line < kLines; ++l_line)
            Log(QStringLiteral("Peer Messenger"), 2, c_text);
        ProcessPostedEvents();
        double const l_seconds = Clock::now() - l_start;
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
        delete lp_form;
        SetLogReceiver(l_previous);
    }
    Record(state, "log", l_total);
}

void BM_Navigator_Baseline(benchmark::State& state)
{
    StartMainWindow();
    double l_total = 0;
    for (auto _ : state)
    {
        QComboBox l_box;
        double const l_start = Clock::now();
        Type* const lp_start = d.GetType("user");
        std::map<Type*, int> l_steps{{lp_start, 0}};
        std::deque<Type*> l_queue{lp_start};
        while (!l_queue.empty())
        {
            Type* const lp_type = l_queue.front();
            l_queue.pop_front();
            if (l_steps[lp_type] == TypeNavigatorDialog::c_maxSteps)
                continue;
            for (auto const& l_relation : lp_type->Relations())
                if (l_steps.emplace(l_relation.first, l_steps[lp_type] + 1).second)
                    l_queue.push_back(l_relation.first);
        }
        std::set<std::string> l_names;
        for (auto const& l_reached : l_steps)
            if (l_reached.first != lp_start)
                l_names.insert(l_reached.first->Name());
        QStringList l_texts;
        for (std::string const& l_name : l_names)
            l_texts << QString::fromStdString(l_name);
        l_box.addItems(l_texts);
        ProcessPostedEvents();
        double const l_seconds = Clock::now() - l_start;
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
        g_milliseconds["navigator targets"] = double(l_box.count());
    }
    Record(state, "navigator baseline", l_total);
}

void BM_Navigator(benchmark::State& state)
{
    StartMainWindow();
    TypeNavigatorDialog* const lp_dialog = new TypeNavigatorDialog;
    lp_dialog->Init();
    QComboBox* const lp_from = lp_dialog->Form()->fromTypeBox;
    int const l_user = lp_from->findText("user");
    double l_total = 0;
    for (auto _ : state)
    {
        lp_from->setCurrentIndex(0);
        double const l_start = Clock::now();
        lp_from->setCurrentIndex(l_user);
        ProcessPostedEvents();
        double const l_seconds = Clock::now() - l_start;
        state.SetIterationTime(l_seconds);
        l_total += l_seconds;
    }
    g_milliseconds["navigator paths"] = double(lp_dialog->Paths().size());
    Record(state, "navigator", l_total);
    delete lp_dialog;
}

void PrintSummary()
{
    auto const l_ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    auto const l_row = [&](char const* i_what, char const* i_mine, char const* i_base, char const* i_target) {
        double const l_mine = g_milliseconds[i_mine];
        double const l_base = g_milliseconds[i_base];
        std::printf("%-52s %10.3f %10.3f %7.2f %s\n", i_what, l_mine, l_base, l_ratio(l_mine, l_base), i_target);
    };
    std::printf("\nAuxiliary dialogs against their baselines (same run):\n");
    std::printf("%-52s %10s %10s %7s %s\n", "operation", "[ms]", "base [ms]", "ratio", "target");
    l_row("browser: select a type of 1,000,000 items", "select", "select baseline", "<= 2");
    l_row("browser: create 100,000 items of the listed type", "create open", "create closed", "<= 3");
    l_row("log tab: 100,000 lines into one area", "log", "log baseline", "<= 1.5");
    l_row("navigator: start type user, whole schema", "navigator", "navigator baseline", "<= 3");
    std::printf("(navigator: %.0f target types, %.0f paths charted to the first; %zu types)\n",
                g_milliseconds["navigator targets"], g_milliseconds["navigator paths"], d.Types().size());
    std::fflush(stdout);
}
} // namespace

BENCHMARK(BM_SelectType_Baseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SelectType)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CreateItems_Closed)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CreateItems_Open)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LogTab_Baseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LogTab)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Navigator_Baseline)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_Navigator)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);

int main(int argc, char** argv)
{
    bench::UseOffscreenPlatform();
    // The main window reads and writes its store file in the home folder.
    QTemporaryDir l_home;
    qputenv("HOME", QFile::encodeName(l_home.path()));
    QApplication l_application(argc, argv);
    // No user name: the first-start dialog is cancelled and no login is tried.
    if (!bench::WriteSettingsStore(DataSaver::StoreFilePath(), {}))
        return 1;
    // The window is left to the end of the process: its shut-down is not measured.
    return bench::RunBenchmarks(argc, argv, PrintSummary);
}
