// bench/upload: uploads on loopback through TransferQueueManager::OnFileConnectionAccepted
// and its UploadThread workers, to receiver threads that read the token, send offset 0
// and take the bytes with plain blocking sockets.
//
// 1. Unlimited throughput with 1, 4 and 16 parallel uploads (512 MiB in all per run,
//    split evenly), against a plain file-to-socket copy measured in the same run: the
//    same receivers, the same files, a QThread per upload that writes the token, reads
//    the offset and sends the file in 8 KiB writes, each drained before the next (the
//    worker's I/O pattern without its budget, reports and bookkeeping).
// 2. The achieved total rate and its sharing among 3 uploads at limits of 10, 100, 1000
//    and 10000 KB/s: the rate of each upload is taken from the arrival times of its
//    8 KiB chunks inside a measuring window that starts after 2 s of warm-up (10 s at
//    100 KB/s and above, 20 s at 10 KB/s, where a chunk per upload arrives only every
//    2.4 s).
// 3. StartNewUploads with 10000 queued uploads of 1000 online users: its costliest
//    steady call (one free slot, every user already uploading, so the whole queue is
//    walked and nothing is offered), and a call that must renumber every upload; the
//    baseline is what any such call has to do at least: gather the queued uploads and
//    sort them by their number.

#include "common/BenchSupport.h"
#include "common/LoopbackSocket.h"
#include "common/TransferServices.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr qint64 c_totalBytes = 512LL * 1024 * 1024;
constexpr qint64 c_chunk = 8192;
using Clock = std::chrono::steady_clock;

QTemporaryDir& Folder()
{
    static QTemporaryDir s_folder;
    return s_folder;
}

// A file of that size without written blocks; reading it costs the same for the
// upload and for the baseline.
QString SparseFile(qint64 i_size)
{
    QString const l_path = Folder().path() + QString("/file_%1.bin").arg(i_size);
    QFile l_file(l_path);
    if (!l_file.exists() && l_file.open(QIODevice::WriteOnly))
        l_file.resize(i_size);
    return l_path;
}

// The downloading peer of one upload: connects, reads the 4-byte token, sends offset 0
// and receives until the expected bytes are in or the connection ends; notes when each
// 8 KiB chunk has arrived in full.
struct Receiver
{
    explicit Receiver(quint16 i_port, qint64 i_expected)
        : m_thread([this, i_port, i_expected] { Run(i_port, i_expected); })
    {
    }
    ~Receiver() { Join(); }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    void Run(quint16 i_port, qint64 i_expected)
    {
        int const l_socket = bench::ConnectToLoopback(i_port);
        if (l_socket < 0)
            return;
        std::array<char, 4> l_token{};
        std::size_t l_got = 0;
        while (l_got < l_token.size())
        {
            ssize_t const l_read = ::recv(l_socket, l_token.data() + l_got, l_token.size() - l_got, 0);
            if (l_read <= 0)
            {
                ::close(l_socket);
                return;
            }
            l_got += std::size_t(l_read);
        }
        std::array<char, 8> const l_offset{};
        ::send(l_socket, l_offset.data(), l_offset.size(), MSG_NOSIGNAL);
        std::vector<char> l_buffer(256 * 1024);
        m_marks.reserve(1 << 16);
        while (m_received < i_expected)
        {
            ssize_t const l_read = ::recv(l_socket, l_buffer.data(), l_buffer.size(), 0);
            if (l_read <= 0)
                break;
            qint64 const l_chunksBefore = m_received / c_chunk;
            m_received += l_read;
            if (m_received / c_chunk != l_chunksBefore && m_marks.size() < m_marks.capacity())
                m_marks.emplace_back(Clock::now(), m_received / c_chunk * c_chunk);
        }
        ::close(l_socket);
    }

    // Bytes per second over the chunks completed inside the window.
    double Rate(Clock::time_point i_from, Clock::time_point i_to) const
    {
        auto const l_first = std::find_if(m_marks.begin(), m_marks.end(),
                                          [&](auto const& i_mark) { return i_mark.first >= i_from; });
        auto l_last = l_first;
        for (auto l_it = l_first; l_it != m_marks.end() && l_it->first <= i_to; ++l_it)
            l_last = l_it;
        if (l_first == m_marks.end() || l_last == l_first)
            return 0;
        double const l_seconds = std::chrono::duration<double>(l_last->first - l_first->first).count();
        return double(l_last->second - l_first->second) / l_seconds;
    }

    qint64 m_received = 0;
    std::vector<std::pair<Clock::time_point, qint64>> m_marks;
    std::thread m_thread;
};

QTcpSocket* Accept(QTcpServer& io_listener)
{
    if (!io_listener.hasPendingConnections() && !io_listener.waitForNewConnection(10000))
        return nullptr;
    return io_listener.nextPendingConnection();
}

// An upload waiting for its file connection, as the negotiation leaves it.
ItemPtr ConnectingUpload(QString const& i_user, QString const& i_path, qint64 i_size, unsigned i_token)
{
    ItemPtr const l_shared = d["shared_file"]->NewItem();
    l_shared += d["shared_file_size"]->GetItem(Value(i_size));
    ItemPtr const l_entry = d["upload_entry"]->NewItem();
    l_entry += d["user"]->GetItem(Value(i_user));
    l_entry += l_shared;
    l_entry += d["filename_as_requested"]->GetItem(Value(i_path));
    l_entry += d["transfer_req"]->GetItem(Value(i_token));
    auto* lp_file = new QFile(i_path);
    lp_file->open(QIODevice::ReadOnly);
    l_entry += d["upload_file"]->GetItem(Value(lp_file));
    l_entry += d["upload_entry_status"]->GetItem(Value("connecting"));
    return l_entry;
}

bool AnyActive(std::vector<ItemPtr> const& i_entries)
{
    for (ItemPtr const& l_entry : i_entries)
        if (l_entry["upload_entry_status"].IsConnected("is_active"))
            return true;
    return false;
}

void RemoveAll(std::vector<ItemPtr> const& i_entries)
{
    for (ItemPtr const& l_entry : i_entries)
    {
        l_entry["shared_file"].Remove();
        transferQueueManager->RemoveUpload(l_entry);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// --- 1. throughput ----------------------------------------------------------------

void BM_Uploads(benchmark::State& io_state)
{
    int const l_count = int(io_state.range(0));
    qint64 const l_size = c_totalBytes / l_count;
    QString const l_path = SparseFile(l_size);
    QTcpServer l_listener;
    l_listener.listen(QHostAddress(QHostAddress::LocalHost), 0);
    for (auto _ : io_state)
    {
        std::vector<ItemPtr> l_entries;
        for (int l_index = 0; l_index < l_count; ++l_index)
            l_entries.push_back(ConnectingUpload(QString("bench%1").arg(l_index), l_path, l_size, 1000u + l_index));
        std::vector<std::unique_ptr<Receiver>> l_receivers;
        for (int l_index = 0; l_index < l_count; ++l_index)
        {
            l_receivers.push_back(std::make_unique<Receiver>(l_listener.serverPort(), l_size));
            transferQueueManager->OnFileConnectionAccepted(QString("bench%1").arg(l_index), Accept(l_listener));
        }
        bench::WaitUntil([&] { return !AnyActive(l_entries); }, 120000);
        l_receivers.clear();
        for (ItemPtr const& l_entry : l_entries)
            if (l_entry["upload_entry_status"].AsStdString() != "complete")
                io_state.SkipWithError("an upload did not complete");
        RemoveAll(l_entries);
    }
    io_state.SetBytesProcessed(io_state.iterations() * c_totalBytes);
}

void PlainCopy(QTcpSocket* ip_socket, QString const& i_path, QThread* ip_home)
{
    QFile l_file(i_path);
    l_file.open(QIODevice::ReadOnly);
    std::array<char, 4> const l_token{};
    ip_socket->write(l_token.data(), l_token.size());
    ip_socket->flush();
    std::array<char, 8> l_offset{};
    qint64 l_got = 0;
    while (l_got < 8 && (ip_socket->bytesAvailable() > 0 || ip_socket->waitForReadyRead(30000)))
        l_got += std::max<qint64>(0, ip_socket->read(l_offset.data() + l_got, 8 - l_got));
    std::array<char, c_chunk> l_chunk;
    for (qint64 l_left = l_file.size(); l_left > 0;)
    {
        qint64 const l_length = l_file.read(l_chunk.data(), std::min(c_chunk, l_left));
        if (l_length <= 0 || ip_socket->write(l_chunk.data(), l_length) != l_length)
            break;
        while (ip_socket->bytesToWrite() > 0)
            if (!ip_socket->waitForBytesWritten(30000))
                break;
        l_left -= l_length;
    }
    if (ip_socket->state() != QAbstractSocket::UnconnectedState)
        ip_socket->waitForDisconnected(30000);
    ip_socket->moveToThread(ip_home);
}

void BM_PlainCopy(benchmark::State& io_state)
{
    int const l_count = int(io_state.range(0));
    qint64 const l_size = c_totalBytes / l_count;
    QString const l_path = SparseFile(l_size);
    QTcpServer l_listener;
    l_listener.listen(QHostAddress(QHostAddress::LocalHost), 0);
    for (auto _ : io_state)
    {
        std::vector<std::unique_ptr<Receiver>> l_receivers;
        std::vector<std::pair<QThread*, QTcpSocket*>> l_copies;
        for (int l_index = 0; l_index < l_count; ++l_index)
        {
            l_receivers.push_back(std::make_unique<Receiver>(l_listener.serverPort(), l_size));
            QTcpSocket* lp_socket = Accept(l_listener);
            lp_socket->setParent(nullptr);
            QThread* lp_thread = QThread::create(PlainCopy, lp_socket, l_path, QThread::currentThread());
            lp_socket->moveToThread(lp_thread);
            lp_thread->start();
            l_copies.emplace_back(lp_thread, lp_socket);
        }
        for (auto& [lp_thread, lp_socket] : l_copies)
        {
            lp_thread->wait();
            delete lp_thread;
            delete lp_socket;
        }
        l_receivers.clear();
    }
    io_state.SetBytesProcessed(io_state.iterations() * c_totalBytes);
}

// --- 2. speed limit ------------------------------------------------------------------

struct LimitFigure
{
    int seconds = 0;
    double totalKBps = 0;
    double minKBps = 0;
    double maxKBps = 0;
};
std::map<int, LimitFigure> g_limits;

void BM_SpeedLimit(benchmark::State& io_state)
{
    int const l_limit = int(io_state.range(0));
    int const l_window = l_limit < 100 ? 20 : 10;
    qint64 const l_size = 64LL * 1024 * 1024;
    QString const l_path = SparseFile(l_size);
    QTcpServer l_listener;
    l_listener.listen(QHostAddress(QHostAddress::LocalHost), 0);
    for (auto _ : io_state)
    {
        std::vector<ItemPtr> l_entries;
        for (int l_index = 0; l_index < 3; ++l_index)
            l_entries.push_back(
                ConnectingUpload(QString("limited%1").arg(l_index), l_path, l_size, 2000u + l_index));
        transferQueueManager->SetUploadSpeedLimit(l_limit);
        transferQueueManager->EnableUploadSpeedLimit(true);
        std::vector<std::unique_ptr<Receiver>> l_receivers;
        for (int l_index = 0; l_index < 3; ++l_index)
        {
            l_receivers.push_back(std::make_unique<Receiver>(l_listener.serverPort(), l_size));
            transferQueueManager->OnFileConnectionAccepted(QString("limited%1").arg(l_index),
                                                           Accept(l_listener));
        }
        Clock::time_point const l_from = Clock::now() + std::chrono::seconds(2);
        Clock::time_point const l_to = l_from + std::chrono::seconds(l_window);
        while (Clock::now() < l_to)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        RemoveAll(l_entries);

        LimitFigure l_figure{l_window, 0, 1e18, 0};
        for (auto const& lp_receiver : l_receivers)
        {
            lp_receiver->Join();
            double const l_kBps = lp_receiver->Rate(l_from, l_to) / 1024;
            l_figure.totalKBps += l_kBps;
            l_figure.minKBps = std::min(l_figure.minKBps, l_kBps);
            l_figure.maxKBps = std::max(l_figure.maxKBps, l_kBps);
        }
        g_limits[l_limit] = l_figure;
        io_state.counters["KBps"] = l_figure.totalKBps;
        io_state.counters["vs_limit"] = l_figure.totalKBps / l_limit;
        io_state.counters["min_over_max"] = l_figure.maxKBps > 0 ? l_figure.minKBps / l_figure.maxKBps : 0;
    }
    transferQueueManager->EnableUploadSpeedLimit(false);
}

// --- 3. StartNewUploads ----------------------------------------------------------------

constexpr int c_users = 1000;
constexpr int c_perUser = 10;

// 1000 online users, each with one running upload and 10 queued ones; the queue takes
// the users in turn. One slot is free.
void BuildQueue()
{
    static bool s_built = false;
    if (s_built)
        return;
    s_built = true;
    SetSetting("upload_slots", "0");
    ItemPtr const l_queued = d["upload_entry_status"]->GetItem(Value("queued"));
    ItemPtr const l_uploading = d["upload_entry_status"]->GetItem(Value("uploading"));
    Type* const lp_place = d["effective_upload_order"];
    for (int l_user = 0; l_user < c_users; ++l_user)
    {
        ItemPtr const l_userItem = d["user"]->GetItem(Value(QString("q%1").arg(l_user)));
        l_userItem.NewItem("is_online");
        ItemPtr const l_running = d["upload_entry"]->NewItem();
        l_running += l_userItem;
        l_running += l_uploading;
        for (int l_file = 0; l_file < c_perUser; ++l_file)
        {
            ItemPtr const l_entry = d["upload_entry"]->NewItem();
            l_entry += l_userItem;
            l_entry += l_queued;
            l_entry += lp_place->GetItem(Value(l_file * c_users + l_user));
        }
    }
    SetSetting("upload_slots", QString::number(c_users + 1));
    transferQueueManager->StartNewUploads();
}

ItemSet QueuedUploads()
{
    return d["upload_entry_status"]->GetItem(Value("queued")).GetItems("upload_entry");
}

void BM_StartNewUploadsWalk(benchmark::State& io_state)
{
    BuildQueue();
    for (auto _ : io_state)
        transferQueueManager->StartNewUploads();
}

void BM_StartNewUploadsRenumber(benchmark::State& io_state)
{
    BuildQueue();
    Type* const lp_place = d["effective_upload_order"];
    ItemSet const l_queued = QueuedUploads();
    int const l_last = int(l_queued.size()) - 1;
    for (auto _ : io_state)
    {
        // Reversed, so that the walk gives every upload a new number.
        io_state.PauseTiming();
        for (ItemPtr const& l_entry : l_queued)
            l_entry += lp_place->GetItem(Value(l_last - l_entry["effective_upload_order"].AsInt()));
        io_state.ResumeTiming();
        transferQueueManager->StartNewUploads();
    }
}

void BM_GatherAndSortBaseline(benchmark::State& io_state)
{
    BuildQueue();
    for (auto _ : io_state)
        benchmark::DoNotOptimize(QueuedUploads().SortNumericBy("effective_upload_order", true));
}

BENCHMARK(BM_PlainCopy)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Uploads)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SpeedLimit)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_GatherAndSortBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartNewUploadsWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartNewUploadsRenumber)->Unit(benchmark::kMillisecond);

// Keeps the best repetition of each throughput run and the time per call of the rest.
class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(std::vector<Run> const& i_runs) override
    {
        ConsoleReporter::ReportRuns(i_runs);
        for (Run const& l_run : i_runs)
        {
            if (l_run.run_type != Run::RT_Iteration || l_run.error_occurred)
                continue;
            std::string const l_name = l_run.benchmark_name();
            double const l_seconds = l_run.GetAdjustedRealTime() / (l_run.time_unit == benchmark::kMillisecond ? 1e3 : 1);
            if (l_name.find("Uploads/") != std::string::npos || l_name.find("PlainCopy/") != std::string::npos)
            {
                double& l_best = m_rates[l_name.substr(0, l_name.find("/iterations"))];
                l_best = std::max(l_best, double(c_totalBytes) / 1e6 / l_seconds);
            }
            else
                m_milliseconds[l_name] = l_seconds * 1e3;
        }
    }
    std::map<std::string, double> m_rates;
    std::map<std::string, double> m_milliseconds;
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

    std::printf("\nUnlimited uploads on loopback, 512 MiB per run split evenly, best of 3:\n");
    for (int l_count : {1, 4, 16})
    {
        double const l_plain = l_reporter.m_rates["BM_PlainCopy/" + std::to_string(l_count)];
        double const l_upload = l_reporter.m_rates["BM_Uploads/" + std::to_string(l_count)];
        std::printf("  %2d at once: plain file-to-socket copy %6.0f MB/s, UploadThread %6.0f MB/s, "
                    "ratio %.2f (target >= 0.80)\n",
                    l_count, l_plain, l_upload, l_plain > 0 ? l_upload / l_plain : 0.0);
    }
    std::printf("\nSpeed limit, 3 uploads, after 2 s of warm-up (target within 5%% of the limit):\n");
    for (auto const& [l_limit, l_figure] : g_limits)
        std::printf("  limit %5d KB/s over %2d s: %8.1f KB/s (%.3f of the limit), per upload "
                    "%.1f to %.1f KB/s (min/max %.2f)\n",
                    l_limit, l_figure.seconds, l_figure.totalKBps, l_figure.totalKBps / l_limit,
                    l_figure.minKBps, l_figure.maxKBps,
                    l_figure.maxKBps > 0 ? l_figure.minKBps / l_figure.maxKBps : 0.0);
    std::printf("\nStartNewUploads, 10000 queued uploads of 1000 online users (target < 50 ms a call):\n");
    for (auto const& [l_name, l_ms] : l_reporter.m_milliseconds)
        if (l_name.find("SpeedLimit") == std::string::npos)
            std::printf("  %-30s %8.2f ms\n", l_name.c_str(), l_ms);
    std::fflush(stdout);
    std::_Exit(0);
}
