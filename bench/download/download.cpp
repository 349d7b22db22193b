// bench/download: a 1 GiB file received on loopback from an uploader thread that
// writes raw bytes to a plain socket: the receiving socket goes through
// TransferQueueManager::OnFileConnection to a DownloadThread, and the GUI thread runs
// the event loop that handles every progress report until the download is complete.
// The baselines, measured in the same run, receive the same bytes from the same
// uploader with a plain blocking socket-to-file copy on the GUI thread: one reading
// blocks of the worker's size (8 KiB), which isolates what the worker, its reports and
// their handling cost, and one reading 64 KiB at a time. Like the worker, both write
// every block through to the file (unbuffered). A summary after the Google
// Benchmark table prints MB/s, the ratios and the GUI thread's CPU time per progress
// report (event dispatch included).

#include "common/BenchSupport.h"
#include "common/LoopbackSocket.h"
#include "common/TransferServices.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/PartialFile.h"
#include "transfers/RealPath.h"
#include "transfers/TransferQueueManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

namespace
{
constexpr qint64 c_fileSize = 1024LL * 1024 * 1024;
constexpr unsigned int c_token = 4242;

struct Figures
{
    double megabytesPerSecond = 0;
    double guiMicrosecondsPerReport = 0;
    double reportsPerGiB = 0;
    double guiMillisecondsPerGiB = 0;
};
Figures g_baseline;
Figures g_largeBaseline;
Figures g_download;

QTemporaryDir& Folder()
{
    static QTemporaryDir s_folder;
    return s_folder;
}

double ThreadCpuSeconds()
{
    timespec l_now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_now);
    return double(l_now.tv_sec) + double(l_now.tv_nsec) / 1e9;
}

// The uploading peer: connects, reads the 8-byte offset and sends the file's bytes
// from there, in large writes, then closes.
void Upload(quint16 i_port)
{
    int const l_socket = bench::ConnectToLoopback(i_port);
    if (l_socket < 0)
        return;
    unsigned char l_offset[8];
    std::size_t l_got = 0;
    while (l_got < sizeof l_offset)
    {
        ssize_t const l_read = ::recv(l_socket, l_offset + l_got, sizeof l_offset - l_got, 0);
        if (l_read <= 0)
            break;
        l_got += std::size_t(l_read);
    }
    qint64 l_position = 0;
    for (int l_byte = 7; l_byte >= 0; --l_byte)
        l_position = (l_position << 8) | l_offset[l_byte];
    std::vector<char> l_chunk(256 * 1024);
    for (std::size_t l_at = 0; l_at < l_chunk.size(); ++l_at)
        l_chunk[l_at] = char(l_at * 31 + l_at / 4096);
    while (l_got == sizeof l_offset && l_position < c_fileSize)
    {
        std::size_t const l_length =
            std::size_t(std::min<qint64>(qint64(l_chunk.size()), c_fileSize - l_position));
        ssize_t const l_sent = ::send(l_socket, l_chunk.data(), l_length, MSG_NOSIGNAL);
        if (l_sent <= 0)
            break;
        l_position += l_sent;
    }
    // Wait for the receiver to close first, so that no byte is lost to a reset.
    char l_rest;
    while (::recv(l_socket, &l_rest, 1, 0) > 0)
    {
    }
    ::close(l_socket);
}

// A started uploader and the accepted receiving socket (child of the listener).
QTcpSocket* Accept(QTcpServer& io_listener, std::thread& o_uploader)
{
    o_uploader = std::thread(Upload, io_listener.serverPort());
    if (!io_listener.waitForNewConnection(10000))
        return nullptr;
    return io_listener.nextPendingConnection();
}

void BM_PlainCopy(benchmark::State& io_state)
{
    QTcpServer l_listener;
    l_listener.listen(QHostAddress(QHostAddress::LocalHost), 0);
    for (auto _ : io_state)
    {
        std::thread l_uploader;
        QTcpSocket* lp_socket = Accept(l_listener, l_uploader);
        QFile l_file(Folder().path() + "/plain.bin");
        l_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
        qint64 const l_zero = 0;
        lp_socket->write(reinterpret_cast<char const*>(&l_zero), 8);
        lp_socket->flush();
        std::vector<char> l_buffer(std::size_t(io_state.range(0)));
        qint64 l_received = 0;
        while (l_received < c_fileSize)
        {
            if (lp_socket->bytesAvailable() == 0 && !lp_socket->waitForReadyRead(30000))
                break;
            qint64 const l_read = lp_socket->read(l_buffer.data(), qint64(l_buffer.size()));
            if (l_read < 0 || l_file.write(l_buffer.data(), l_read) != l_read)
                break;
            l_received += l_read;
        }
        l_file.close();
        lp_socket->close();
        l_uploader.join();
        delete lp_socket;
        if (l_received != c_fileSize)
            io_state.SkipWithError("short copy");
        QFile::remove(l_file.fileName());
    }
    io_state.SetBytesProcessed(io_state.iterations() * c_fileSize);
}

void BM_DownloadThread(benchmark::State& io_state)
{
    QTcpServer l_listener;
    l_listener.listen(QHostAddress(QHostAddress::LocalHost), 0);
    SetSetting("download_folder", Folder().path());
    long long l_reports = 0;
    QObject l_counter;
    QObject::connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, &l_counter,
                     [&](ItemPtr) { ++l_reports; });
    double l_guiSeconds = 0;
    for (auto _ : io_state)
    {
        ItemPtr const l_entry = transferQueueManager->AddDownload("uploader", "big.bin", "bench",
                                                                  c_fileSize, 0);
        l_entry += d["remote_transfer_req"]->GetItem(Value(c_token));
        std::thread l_uploader;
        QTcpSocket* lp_socket = Accept(l_listener, l_uploader);
        double const l_cpuStart = ThreadCpuSeconds();
        transferQueueManager->OnFileConnection("uploader", lp_socket, c_token);
        bench::WaitUntil(
            [&] { return l_entry["download_entry_status"].AsStdString() != "downloading"; },
            120000);
        l_guiSeconds += ThreadCpuSeconds() - l_cpuStart;
        l_uploader.join();
        if (l_entry["download_entry_status"].AsStdString() != "complete")
            io_state.SkipWithError("download did not complete");
        QFile::remove(Folder().path() + "/complete/bench/big.bin");
        transferQueueManager->RemoveDownload(l_entry);
        d["complete_download"]->GetItems().Remove();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    io_state.SetBytesProcessed(io_state.iterations() * c_fileSize);
    io_state.counters["reports"] = double(l_reports);
    io_state.counters["gui_us_per_report"] = l_reports ? l_guiSeconds * 1e6 / double(l_reports) : 0;
    g_download.guiMicrosecondsPerReport = l_reports ? l_guiSeconds * 1e6 / double(l_reports) : 0;
    g_download.reportsPerGiB = double(l_reports) / double(io_state.iterations());
    g_download.guiMillisecondsPerGiB = l_guiSeconds * 1e3 / double(io_state.iterations());
}

// The start of a file connection while 100,000 other downloads wait, 100,000 more of the
// same file name among them when range(1) is set. With the partial file's writer on
// record (the baseline) the file is resumed; with it unknown, the file is set aside and
// the download starts from zero. Neither looks at the other downloads. With range(2)
// set, 10,000 other downloads' folders lie beside the file's in the downloading folder,
// which the file's record is found through; they stay for the runs after.
constexpr int c_queued = 100000;
constexpr int c_crowd = 10000;
double g_startMs[2][2][2] = {};

void BM_ConnectionStart(benchmark::State& io_state)
{
    bool const l_writerKnown = io_state.range(0) != 0;
    bool const l_sameName = io_state.range(1) != 0;
    bool const l_crowded = io_state.range(2) != 0;
    SetSetting("download_folder", Folder().path() + "/starts");
    for (int l_other = 0; l_crowded && l_other < c_crowd; ++l_other)
        QDir().mkpath(Folder().path() + "/starts/downloading/crowd" + QString::number(l_other));
    static bool s_queued = false;
    for (int l_other = 0; !s_queued && l_other < c_queued; ++l_other)
    {
        std::string const l_number = std::to_string(l_other);
        transferQueueManager->AddDownload("queuer", "other" + l_number + ".bin",
                                          "music\\folder" + l_number, 1000, 0);
        transferQueueManager->AddDownload("queuer", "start.bin", "music\\same" + l_number,
                                          1000, 0);
    }
    s_queued = true;
    // The same-name downloads are queued only for the runs that look at them.
    for (ItemPtr const& l_entry : d["user"]->GetItem(Value("queuer")).GetItems("download_entry"))
        if (l_entry["file_name"].AsStdString() == "start.bin")
            transferQueueManager->SetDownloadEntryStatus(
                l_entry, l_sameName ? QStringLiteral("queued") : QStringLiteral("complete"));

    QTcpServer l_listener;
    l_listener.listen(QHostAddress(QHostAddress::LocalHost), 0);
    ItemPtr const l_entry =
        transferQueueManager->AddDownload("starter", "start.bin", "bench\\album", 1000, 0);
    QString l_path;
    transferQueueManager->GetLocalDownloadPath(l_entry, false, l_path);
    PartialFile const l_partial(l_path, QStringLiteral("album/start.bin"));
    QString l_error;
    double l_total = 0;
    for (auto _ : io_state)
    {
        QDir().mkpath(QFileInfo(l_path).path());
        QFile l_file(l_path);
        l_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        l_file.write("half");
        l_file.close();
        if (l_writerKnown)
            l_partial.WriteWriter({QStringLiteral("starter"), "bench\\album\\start.bin"}, l_error);
        else
            l_partial.RemoveWriter();
        // Each set-aside takes the first free name: the names before it would add up.
        QDir(Folder().path() + "/starts/set aside").removeRecursively();
        l_entry += d["remote_transfer_req"]->GetItem(Value(c_token));
        QTcpSocket l_client;
        l_client.connectToHost(QHostAddress(QHostAddress::LocalHost), l_listener.serverPort());
        if (!l_listener.waitForNewConnection(10000))
        {
            io_state.SkipWithError("no connection");
            break;
        }
        QTcpSocket* const lp_socket = l_listener.nextPendingConnection();
        QElapsedTimer l_clock;
        l_clock.start();
        transferQueueManager->OnFileConnection("starter", lp_socket, c_token);
        double const l_seconds = double(l_clock.nsecsElapsed()) / 1e9;
        io_state.SetIterationTime(l_seconds);
        l_total += l_seconds;
        if (l_entry["download_entry_status"].AsStdString() != "downloading")
            io_state.SkipWithError("the download did not start");
        transferQueueManager->SetDownloadEntryStatus(l_entry, QStringLiteral("queued"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    transferQueueManager->RemoveDownload(l_entry);
    g_startMs[l_writerKnown][l_sameName][l_crowded] = l_total * 1e3 / double(io_state.iterations());
}

// The real path of a partial file, which its record is found by, against the one stat()
// that told whether the file is there; with range(0) set, 10,000 other downloads'
// folders lie beside the file's.
double g_lookupUs[2][2] = {};

void BM_RealPathOfFile(benchmark::State& io_state)
{
    bool const l_real = io_state.range(0) != 0;
    bool const l_crowded = io_state.range(1) != 0;
    QString const l_downloading = Folder().path() + "/lookups/downloading";
    for (int l_other = 0; l_crowded && l_other < c_crowd; ++l_other)
        QDir().mkpath(l_downloading + "/crowd" + QString::number(l_other));
    QString const l_path = l_downloading + "/album/track.mp3";
    QDir().mkpath(l_downloading + "/album");
    QFile(l_path).open(QIODevice::WriteOnly);
    QByteArray const l_native = QFile::encodeName(l_path);
    QElapsedTimer l_clock;
    l_clock.start();
    for (auto _ : io_state)
    {
        struct stat l_status;
        if (l_real)
            benchmark::DoNotOptimize(RealPath().OfFile(l_path));
        else
            benchmark::DoNotOptimize(::stat(l_native.constData(), &l_status));
    }
    g_lookupUs[l_real][l_crowded] = double(l_clock.nsecsElapsed()) / 1e3 / double(io_state.iterations());
}

BENCHMARK(BM_PlainCopy)
    ->Arg(8192)
    ->Arg(65536)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DownloadThread)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_RealPathOfFile)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConnectionStart)
    ->Args({1, 0, 0})
    ->Args({0, 0, 0})
    ->Args({0, 1, 0})
    ->Args({1, 0, 1})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// Keeps the best repetition of each benchmark for the summary.
class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(std::vector<Run> const& i_runs) override
    {
        ConsoleReporter::ReportRuns(i_runs);
        for (Run const& l_run : i_runs)
        {
            // Only the runs that move the 1 GiB file.
            if (l_run.run_type != Run::RT_Iteration || l_run.error_occurred ||
                (l_run.benchmark_name().find("PlainCopy") == std::string::npos &&
                 l_run.benchmark_name().find("DownloadThread") == std::string::npos))
                continue;
            double const l_rate = double(c_fileSize) / 1e6 / l_run.GetAdjustedRealTime() * 1e3;
            std::string const l_name = l_run.benchmark_name();
            Figures& l_figures = l_name.find("PlainCopy/65536") != std::string::npos ? g_largeBaseline
                                 : l_name.find("PlainCopy") != std::string::npos     ? g_baseline
                                                                                     : g_download;
            l_figures.megabytesPerSecond = std::max(l_figures.megabytesPerSecond, l_rate);
        }
    }
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_app(argc, argv);
    bench::StartTransferServices();

    benchmark::Initialize(&argc, argv);
    SummaryReporter l_reporter;
    benchmark::RunSpecifiedBenchmarks(&l_reporter);
    benchmark::Shutdown();
    auto l_ratio = [](Figures const& i_baseline) {
        return i_baseline.megabytesPerSecond > 0
                   ? g_download.megabytesPerSecond / i_baseline.megabytesPerSecond
                   : 0.0;
    };
    std::printf("\n1 GiB over loopback, best of 3:\n");
    std::printf("  baseline, plain copy in 8 KiB reads:  %8.0f MB/s\n", g_baseline.megabytesPerSecond);
    std::printf("  baseline, plain copy in 64 KiB reads: %8.0f MB/s\n",
                g_largeBaseline.megabytesPerSecond);
    std::printf("  OnFileConnection + DownloadThread:    %8.0f MB/s  ratio %.2f to 8 KiB reads "
                "(target >= 1.00), %.2f to 64 KiB reads\n",
                g_download.megabytesPerSecond, l_ratio(g_baseline), l_ratio(g_largeBaseline));
    // Reports are paced (at most ten a second), so the GUI thread's whole share of a
    // download says more than its time per report.
    std::printf("  GUI-thread time per progress report: %.2f us (target < 20 us); %.0f reports "
                "and %.1f ms of GUI-thread time per GiB\n",
                g_download.guiMicrosecondsPerReport, g_download.reportsPerGiB,
                g_download.guiMillisecondsPerGiB);
    std::printf("\nStart of a file connection, %d other downloads queued, mean of 20:\n"
                "  baseline, writer on record:                      %8.3f ms\n"
                "  writer unknown, set aside:                       %8.3f ms\n"
                "  writer unknown, set aside, %d more of the name:  %8.3f ms\n"
                "  writer on record, %d folders beside its own:    %8.3f ms\n",
                c_queued, g_startMs[1][0][0], g_startMs[0][0][0], c_queued, g_startMs[0][1][0],
                c_crowd, g_startMs[1][0][1]);
    std::printf("\nLooking a partial file up, mean per look-up:\n"
                "  baseline, stat():                 %8.2f us; %d folders beside its own: %8.2f us\n"
                "  real path (links, listed names):  %8.2f us; %d folders beside its own: %8.2f us\n",
                g_lookupUs[0][0], c_crowd, g_lookupUs[0][1], g_lookupUs[1][0], c_crowd,
                g_lookupUs[1][1]);
    std::fflush(stdout);
    std::_Exit(0);
}
