// The main window's life with a large store: 100,000 shared files in 1,000 folders on
// disk, saved by the client itself in a first process. This process then times the
// window's construction, Init() and destruction, and beside them, in the same run, the
// parts that Init and the destructor hand to other components:
// - DataSaver::Load inside Init, timed between the two log lines that enclose it;
// - SharedFoldersManager::Init inside Init (the start-up rescan), timed from its first
//   store change (the shared folder's links to its folders are dropped for the walk) to
//   its report signal;
// - DataSaver::Save, called once more just before the destructor on the same store, and
//   the sweep, likewise, both of which the destructor repeats.
// "rest" is what the shell itself adds: the total minus those parts.
//
// The store's types exist once per process, so every figure comes from one window: the
// benchmark runs a single iteration.

#include "app/MainWindow.h"
#include "common/BenchSupport.h"
#include "common/SettingsStore.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Log.h"
#include "store/Settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <utility>

namespace
{
constexpr int c_folders = 1000;
constexpr int c_filesPerFolder = 100;

QString ShareRoot(QString const& i_home)
{
    return i_home + QStringLiteral("/shared");
}

bool MakeTree(QString const& i_root)
{
    for (int l_folder = 0; l_folder < c_folders; ++l_folder)
    {
        QString const l_path = QStringLiteral("%1/Artist %2/Album %3")
                                   .arg(i_root)
                                   .arg(l_folder / 100, 2, 10, QLatin1Char('0'))
                                   .arg(l_folder % 100, 3, 10, QLatin1Char('0'));
        if (!QDir().mkpath(l_path))
            return false;
        for (int l_file = 0; l_file < c_filesPerFolder; ++l_file)
        {
            QFile l_out(QStringLiteral("%1/%2 - Song %3.ogg")
                            .arg(l_path)
                            .arg(l_file + 1, 2, 10, QLatin1Char('0'))
                            .arg(l_folder * c_filesPerFolder + l_file, 6, 10, QLatin1Char('0')));
            if (!l_out.open(QIODevice::WriteOnly))
                return false;
        }
    }
    return true;
}

// The first process: a client that shares the tree and saves the store when it closes.
// The stored port is closed, and no event loop runs to hear of it; the store keeps
// the client off the network (no UPnP, the web host on loopback) in both processes.
int PrepareStore()
{
    if (!bench::WriteSettingsStore(DataSaver::StoreFilePath(), {{"username", "bench"},
                                                                {"password", "pw"},
                                                                {"server_host", "127.0.0.1"},
                                                                {"server_port", "1"}}))
        return 1;
    MainWindow* const lp_window = new MainWindow;
    lp_window->Init();
    ItemPtr const l_folder = sharedFoldersManager->AddSharedFolder(ShareRoot(QDir::homePath()));
    l_folder.NewItem("shared_public");
    delete lp_window;
    return d["shared_file"]->GetItemCount() == std::size_t(c_folders * c_filesPerFolder) ? 0 : 1;
}

// Times the start-up rescan from inside Init: the share index declares its types in its
// constructor, and the rescan's first store change and its report are watched from then.
class RescanClock : public DataHandler
{
public:
    RescanClock(QElapsedTimer const& i_clock, qint64 const& i_loadEnd)
        : m_clock(i_clock), m_loadEnd(i_loadEnd)
    {
        d.m_typeAddedEvent.AddHandler(CreateHandler(this, &RescanClock::OnTypeAdded));
    }
    ~RescanClock() override { RemoveDataHandlers(); }

    void OnTypeAdded(Type* ip_type)
    {
        if (ip_type->Name() != "shared_folder")
            return;
        ip_type->m_disconnectedEvent.AddHandler(CreateHandler(this, &RescanClock::OnDisconnected));
        QObject::connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned,
                         [this] { if (!m_end) m_end = m_clock.nsecsElapsed(); });
    }
    void OnDisconnected(ConnectionInfo)
    {
        if (m_loadEnd && !m_start)
            m_start = m_clock.nsecsElapsed();
    }

    qint64 m_start = 0;
    qint64 m_end = 0;

private:
    QElapsedTimer const& m_clock;
    qint64 const& m_loadEnd;
};

double Ms(qint64 i_nanoseconds)
{
    return double(i_nanoseconds) / 1e6;
}

void BM_MainWindowLife(benchmark::State& io_state)
{
    for (auto _ : io_state)
    {
        // Load runs between these two lines of Init.
        QElapsedTimer l_clock;
        qint64 l_loadStart = 0;
        qint64 l_loadEnd = 0;
        LogTestSink const l_previous = SetLogTestSink(
            [&](QString const&, int, QString const& i_line)
            {
                if (i_line.contains(QLatin1String("Loading configuration data from")))
                    l_loadStart = l_clock.nsecsElapsed();
                else if (i_line.endsWith(QLatin1String("Data loaded successfully.")))
                    l_loadEnd = l_clock.nsecsElapsed();
            });

        RescanClock l_rescanClock(l_clock, l_loadEnd);

        l_clock.start();
        MainWindow* const lp_window = new MainWindow;
        qint64 const l_constructed = l_clock.nsecsElapsed();
        lp_window->Init();
        qint64 const l_initialised = l_clock.nsecsElapsed();
        SetLogTestSink(l_previous);
        if (d["shared_file"]->GetItemCount() != std::size_t(c_folders * c_filesPerFolder) ||
            !l_loadEnd || !l_rescanClock.m_end)
        {
            io_state.SkipWithError("the prepared store did not load");
            delete lp_window;
            return;
        }

        l_clock.restart();
        d.RemoveDisconnectedItems();
        qint64 const l_sweep = l_clock.nsecsElapsed();
        l_clock.restart();
        dataSaver->Save(DataSaver::StoreFilePath());
        qint64 const l_save = l_clock.nsecsElapsed();
        l_clock.restart();
        delete lp_window;
        qint64 const l_destroyed = l_clock.nsecsElapsed();

        qint64 const l_init = l_initialised - l_constructed;
        qint64 const l_load = l_loadEnd - l_loadStart;
        qint64 const l_rescan = l_rescanClock.m_end - l_rescanClock.m_start;
        qint64 const l_initRest = l_init - l_load - l_rescan;
        qint64 const l_destructorRest = l_destroyed - l_save - l_sweep;
        io_state.SetIterationTime(double(l_initialised + l_destroyed) / 1e9);
        io_state.counters["ctor_ms"] = Ms(l_constructed);
        io_state.counters["init_ms"] = Ms(l_init);
        io_state.counters["load_ms"] = Ms(l_load);
        io_state.counters["rescan_ms"] = Ms(l_rescan);
        io_state.counters["init_rest_ms"] = Ms(l_initRest);
        io_state.counters["init_rest_pct"] = 100.0 * double(l_initRest) / double(l_init);
        io_state.counters["dtor_ms"] = Ms(l_destroyed);
        io_state.counters["save_ms"] = Ms(l_save);
        io_state.counters["sweep_ms"] = Ms(l_sweep);
        io_state.counters["dtor_rest_ms"] = Ms(l_destructorRest);
        io_state.counters["dtor_rest_pct"] = 100.0 * double(l_destructorRest) / double(l_destroyed);
        std::printf("Init %.1f ms = load %.1f + rescan %.1f + shell %.1f (%.1f%%); "
                    "destructor %.1f ms = sweep %.1f + save %.1f + shell %.1f (%.1f%%); "
                    "constructor %.1f ms\n",
                    Ms(l_init), Ms(l_load), Ms(l_rescan), Ms(l_initRest),
                    100.0 * double(l_initRest) / double(l_init), Ms(l_destroyed), Ms(l_sweep),
                    Ms(l_save), Ms(l_destructorRest), 100.0 * double(l_destructorRest) / double(l_destroyed),
                    Ms(l_constructed));
    }
}
BENCHMARK(BM_MainWindowLife)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    bench::UseOffscreenPlatform();
    bool const l_isFirstClient = argc > 1 && QByteArray(argv[1]) == "--prepare-store";
    QApplication l_application(argc, argv);
    if (l_isFirstClient)
        return PrepareStore();

    QTemporaryDir l_home;
    if (!l_home.isValid() || !MakeTree(ShareRoot(l_home.path())))
    {
        std::fprintf(stderr, "cannot make the shared tree\n");
        return 1;
    }
    // Both processes keep their store in the temporary home.
    qputenv("HOME", l_home.path().toUtf8());
    QProcess l_prepare;
    l_prepare.setProcessChannelMode(QProcess::ForwardedChannels);
    l_prepare.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--prepare-store")});
    if (!l_prepare.waitForFinished(600000) || l_prepare.exitCode() != 0)
    {
        std::fprintf(stderr, "the first client did not save the store\n");
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
