// The transfers page under load, GUI-thread (thread CPU) time:
//
// Start-up replay: 10,000 restored downloads of one user in 10 folders, from the
// transfer queues' TransfersLoaded to an idle event loop. Baseline: the same tree (texts,
// status colours, expansion) built directly on a plain QTreeWidget.
//
// Refreshing 10,000 transfers each second: one DownloadProgressed per download per
// round, for 100 users x 100 files and for 1 user x 10 folders x 1,000 files, first with
// every row expanded, then with the user rows collapsed (the same rows and bars; the
// first round, which makes the bars, is not counted); time per round, event loop drained
// at its end so that painting counts. Both trees keep uniform row heights. Baseline: the same texts and bar values
// (file, folder and user figures, the speed cell by expansion) set on a plain QTreeWidget
// of the same shape, its sums kept in plain arrays.
//
// Each figure is the lowest of its rounds; the replay runs once per process, first.

#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/transfers/TransferTexts.h"
#include "ui/transfers/TransfersForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/EventToolBar.h"
#include "widgets/SizeManager.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QProgressBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace
{
constexpr int kDownloads = 10000;
constexpr int kRounds = 4;
constexpr long long kSize = 50'000'000;
constexpr int kRate = 150'000;

double Now()
{
    timespec l_time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_time);
    return double(l_time.tv_sec) * 1e6 + double(l_time.tv_nsec) * 1e-3;
}

std::map<std::string, double> g_microseconds;

void Record(std::string const& i_name, double i_microseconds)
{
    auto const l_it = g_microseconds.find(i_name);
    if (l_it == g_microseconds.end() || i_microseconds < l_it->second)
        g_microseconds[i_name] = i_microseconds;
}

void Drain()
{
    for (int l_pass = 0; l_pass < 3; ++l_pass)
        QCoreApplication::processEvents();
}

struct Shape
{
    char const* mp_name;
    int m_users;
    int m_folders; // per user
    int m_files;   // per folder
};
Shape const kShapes[] = {{"100 users x 100 files", 100, 1, 100}, {"1 user x 10 folders x 1000 files", 1, 10, 1000}};

QString UserName(int i_user) { return QString("user%1").arg(i_user); }
std::string FolderName(int i_folder) { return "music\\album " + std::to_string(i_folder); }
std::string FileName(int i_file) { return "track " + std::to_string(i_file) + ".mp3"; }

// The client's services that the transfers form needs, never connected.
struct Client
{
    QWidget m_window;
    QTabWidget* mp_tabs = nullptr;
    TransfersForm* mp_form = nullptr;
    QTreeWidget* mp_tree = nullptr;

    Client()
    {
        new TimerManager();
        new DataSaver();
        DeclareSettingsTypes();
        (new Server())->CreateData();
        new PeerMessenger();
        new SharedFoldersManager(nullptr);
        new TransferQueueManager();
        new SizeManager();
        auto* const lp_bar = new ActionSetToolBar(&m_window);
        lp_bar->Init();
        new EventToolBar(nullptr, &m_window);
        for (auto const& [lp_key, lp_value] : {std::pair{"color_transfer_queued", "#3366ff"},
                                               {"color_transfer_in_progress", "#0000ff"},
                                               {"color_transfer_complete", "#006400"},
                                               {"color_transfer_failed", "#ff0a47"},
                                               {"color_transfer_other", "#000000"}})
            SetSetting(lp_key, lp_value);
        mp_tabs = new QTabWidget(&m_window);
        auto* const lp_page = new QWidget;
        mp_form = new TransfersForm(lp_page);
        (new QVBoxLayout(lp_page))->addWidget(mp_form);
        mp_tabs->addTab(lp_page, "Transfers");
        (new QVBoxLayout(&m_window))->addWidget(mp_tabs);
        mp_form->Init();
        mp_form->DataLoaded();
        mp_tree = mp_form->findChild<QTreeWidget*>("downloadsList");
        m_window.resize(1200, 800);
        m_window.show();
        Drain();
    }

    void RemoveAll()
    {
        for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
            transferQueueManager->RemoveDownload(l_entry);
        StoreOperation::FreeRemovedItems();
        Drain();
    }
};

Client& TheClient()
{
    static Client* const s_client = new Client;
    return *s_client;
}

// --- Start-up replay -------------------------------------------------------------------

void BM_ReplayForm(benchmark::State& state)
{
    Client& l_client = TheClient();
    for (auto _ : state)
    {
        // Restored downloads: made while the form still waits for the queues' report.
        for (int l_index = 0; l_index < kDownloads; ++l_index)
            transferQueueManager->AddDownload("replayer", FileName(l_index), FolderName(l_index / 1000),
                                              kSize, 0);
        Drain();
        double const l_start = Now();
        emit transferQueueManager->TransfersLoaded();
        Drain();
        Record("replay", Now() - l_start);
        state.counters["rows"] = l_client.mp_tree->topLevelItem(0)->childCount();
        state.SetIterationTime(1);
        l_client.RemoveAll();
    }
}

void BM_ReplayPlain(benchmark::State& state)
{
    Client& l_client = TheClient();
    QString const l_queued = GetSetting("color_transfer_queued");
    for (auto _ : state)
    {
        auto* const lp_tree = new QTreeWidget;
        lp_tree->setColumnCount(9);
        lp_tree->setUniformRowHeights(true); // as the form's trees
        l_client.mp_tabs->addTab(lp_tree, "plain");
        l_client.mp_tabs->setCurrentWidget(lp_tree);
        Drain();
        double const l_start = Now();
        QBrush const l_brush(QColor::fromString(l_queued));
        auto const l_paint = [&](QTreeWidgetItem* ip_row) {
            for (int l_column = 0; l_column < 9; ++l_column)
                ip_row->setForeground(l_column, l_brush);
        };
        auto* const lp_user = new QTreeWidgetItem(lp_tree);
        lp_user->setText(0, "replayer");
        lp_user->setExpanded(true);
        l_paint(lp_user);
        QTreeWidgetItem* lp_folder = nullptr;
        for (int l_index = 0; l_index < kDownloads; ++l_index)
        {
            if (l_index % 1000 == 0)
            {
                lp_folder = new QTreeWidgetItem(lp_user);
                lp_folder->setText(1, ReversePathname(QString::fromStdString(FolderName(l_index / 1000))));
                lp_folder->setExpanded(true);
                l_paint(lp_folder);
            }
            auto* const lp_row = new QTreeWidgetItem(lp_folder);
            lp_row->setText(2, QString::fromStdString(FileName(l_index)));
            lp_row->setText(7, CommafyNumber(kSize));
            lp_row->setText(3, "queued");
            l_paint(lp_row);
        }
        Drain();
        Record("base replay", Now() - l_start);
        state.SetIterationTime(1);
        delete lp_tree;
        l_client.mp_tabs->setCurrentIndex(0);
        Drain();
    }
}

// --- Refreshing ------------------------------------------------------------------------

// Downloads of the shape, running, each with its live position and rate cells.
std::vector<ItemPtr> MakeShape(Shape const& i_shape)
{
    std::vector<ItemPtr> l_entries;
    for (int l_user = 0; l_user < i_shape.m_users; ++l_user)
        for (int l_folder = 0; l_folder < i_shape.m_folders; ++l_folder)
            for (int l_file = 0; l_file < i_shape.m_files; ++l_file)
            {
                ItemPtr const l_entry = transferQueueManager->AddDownload(
                    UserName(l_user), FileName(l_file), FolderName(l_folder), kSize, 0);
                l_entry += d["download_entry_status"]->GetItem(Value("downloading"));
                l_entry += d["write_position"]->GetItem(Value(new qint64(0)));
                l_entry += d["bytes_per_second"]->GetItem(Value(new int(kRate)));
                l_entries.push_back(l_entry);
            }
    return l_entries;
}

void SetUsersExpanded(QTreeWidget* ip_tree, bool i_expanded)
{
    for (int l_user = 0; l_user < ip_tree->topLevelItemCount(); ++l_user)
        ip_tree->topLevelItem(l_user)->setExpanded(i_expanded);
}

void BM_RefreshForm(benchmark::State& state)
{
    Client& l_client = TheClient();
    Shape const& l_shape = kShapes[state.range(0)];
    // Rows are made only once the queues have reported (the replay does that first).
    emit transferQueueManager->TransfersLoaded();
    for (auto _ : state)
    {
        std::vector<ItemPtr> const l_entries = MakeShape(l_shape);
        Drain();
        // The first round makes the bars and is not counted; then expanded, then collapsed.
        for (int l_round = 0; l_round <= 2 * kRounds; ++l_round)
        {
            bool const l_collapsed = l_round > kRounds;
            SetUsersExpanded(l_client.mp_tree, !l_collapsed);
            Drain();
            double const l_start = Now();
            for (ItemPtr const& l_entry : l_entries)
            {
                *l_entry["write_position"].AsPtr<qint64>() += 8192;
                emit transferQueueManager->DownloadProgressed(l_entry);
            }
            Drain();
            if (l_round > 0)
                Record(std::string(l_shape.mp_name) + (l_collapsed ? ", collapsed" : ", expanded"), Now() - l_start);
        }
        state.SetIterationTime(1);
        l_client.RemoveAll();
    }
}

// The plain tree of the shape with the same cells, sums in arrays.
void BM_RefreshPlain(benchmark::State& state)
{
    Client& l_client = TheClient();
    Shape const& l_shape = kShapes[state.range(0)];
    for (auto _ : state)
    {
        auto* const lp_tree = new QTreeWidget;
        lp_tree->setColumnCount(9);
        lp_tree->setUniformRowHeights(true); // as the form's trees
        l_client.mp_tabs->addTab(lp_tree, "plain");
        l_client.mp_tabs->setCurrentWidget(lp_tree);
        struct Row
        {
            QTreeWidgetItem* mp_row;
            QTreeWidgetItem* mp_folder;
            QTreeWidgetItem* mp_user;
            int m_folder;
            int m_user;
            long long m_position;
        };
        std::vector<Row> l_rows;
        std::vector<long long> l_folderDone(l_shape.m_users * l_shape.m_folders, 0);
        std::vector<long long> l_userDone(l_shape.m_users, 0);
        long long const l_folderTotal = kSize * l_shape.m_files;
        long long const l_userTotal = l_folderTotal * l_shape.m_folders;
        for (int l_user = 0; l_user < l_shape.m_users; ++l_user)
        {
            auto* const lp_user = new QTreeWidgetItem(lp_tree);
            lp_user->setText(0, UserName(l_user));
            for (int l_folder = 0; l_folder < l_shape.m_folders; ++l_folder)
            {
                auto* const lp_folder = new QTreeWidgetItem(lp_user);
                lp_folder->setText(1, QString::fromStdString(FolderName(l_folder)));
                lp_folder->setExpanded(true);
                for (int l_file = 0; l_file < l_shape.m_files; ++l_file)
                {
                    auto* const lp_row = new QTreeWidgetItem(lp_folder);
                    lp_row->setText(2, QString::fromStdString(FileName(l_file)));
                    l_rows.push_back({lp_row, lp_folder, lp_user, l_user * l_shape.m_folders + l_folder, l_user, 0});
                }
            }
            lp_user->setExpanded(true);
        }
        std::map<QTreeWidgetItem*, QProgressBar*> l_bars;
        auto const l_bar = [&](QTreeWidgetItem* ip_row, long long i_done, double i_percent) {
            QProgressBar*& lp_bar = l_bars[ip_row];
            if (!lp_bar)
            {
                lp_bar = new QProgressBar;
                lp_bar->setMaximumHeight(14);
                lp_tree->setItemWidget(ip_row, 4, lp_bar);
            }
            lp_bar->setFormat(TransferTexts::ProgressText(i_done, i_percent));
            lp_bar->setValue(TransferTexts::BarValue(i_percent));
        };
        Drain();
        for (int l_round = 0; l_round <= 2 * kRounds; ++l_round)
        {
            bool const l_collapsed = l_round > kRounds;
            SetUsersExpanded(lp_tree, !l_collapsed);
            Drain();
            double const l_start = Now();
            for (Row& l_row : l_rows)
            {
                l_row.m_position += 8192;
                l_folderDone[l_row.m_folder] += 8192;
                l_userDone[l_row.m_user] += 8192;
                double const l_percent = TransferTexts::Percent(l_row.m_position, kSize);
                l_row.mp_row->setText(5, TransferTexts::TimeLeftText((kSize - l_row.m_position) / kRate));
                l_bar(l_row.mp_row, l_row.m_position, l_percent);
                QTreeWidgetItem* lp_speed = l_row.mp_user;
                if (l_row.mp_user->isExpanded())
                    lp_speed = l_row.mp_folder->isExpanded() ? l_row.mp_row : l_row.mp_folder;
                lp_speed->setText(6, TransferTexts::SpeedText(kRate));
                if (!(l_row.mp_user->isExpanded() && l_row.mp_user->childCount() <= 1))
                {
                    long long const l_done = l_userDone[l_row.m_user];
                    l_row.mp_user->setText(5, TransferTexts::TimeLeftText((l_userTotal - l_done) / kRate));
                    l_bar(l_row.mp_user, l_done, double(l_done * 100) / double(l_userTotal));
                }
                long long const l_done = l_folderDone[l_row.m_folder];
                l_row.mp_folder->setText(5, TransferTexts::TimeLeftText((l_folderTotal - l_done) / kRate));
                l_bar(l_row.mp_folder, l_done, double(l_done * 100) / double(l_folderTotal));
            }
            Drain();
            if (l_round > 0)
                Record("base " + std::string(l_shape.mp_name) + (l_collapsed ? ", collapsed" : ", expanded"),
                       Now() - l_start);
        }
        state.SetIterationTime(1);
        delete lp_tree;
        l_client.mp_tabs->setCurrentIndex(0);
        Drain();
    }
}

void PrintSummary()
{
    auto const l_row = [](std::string const& i_label, char const* i_target) {
        double const l_value = g_microseconds[i_label];
        double const l_base = g_microseconds["base " + i_label];
        std::printf("%-48s %12.0f %12.0f %7.2f  %s\n", i_label.c_str(), l_value, l_base,
                    l_base > 0 ? l_value / l_base : 0.0, i_target);
    };
    std::printf("\nThe transfers page with %d downloads against a plain QTreeWidget (same run, thread CPU time):\n",
                kDownloads);
    std::printf("%-48s %12s %12s %7s  %s\n", "operation", "[us]", "base [us]", "ratio", "target");
    l_row("replay", "<= 5");
    for (Shape const& l_shape : kShapes)
        for (char const* lp_state : {", expanded", ", collapsed"})
            l_row(std::string(l_shape.mp_name) + lp_state, "<= 3 (per round)");
    std::fflush(stdout);
}
} // namespace

BENCHMARK(BM_ReplayForm)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplayPlain)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshForm)->DenseRange(0, 1)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshPlain)->DenseRange(0, 1)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication l_application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    return 0;
}
