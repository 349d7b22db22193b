// bench/peer_frames: throughput of peer frames between two sockets on loopback, one
// written by the messenger's frame writer and one read by its frame reader, with
// 10 MiB and 1 KiB frames, plain and obfuscated. The baseline, measured in the same
// run, moves the same number of bytes in the same pieces through a plain QTcpSocket
// pair without any framing. After the Google Benchmark table a summary prints MB/s
// and the ratio to the baseline, then the resident memory of the process before and
// after 1,000 idle connections have been accepted (the 1,000 client ends live in this
// process too and are included).

#include "common/BenchSupport.h"
#include "common/StoreServices.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr std::int64_t c_bytesPerIteration = 40 * 1024 * 1024;

struct Result
{
    double megabytesPerSecond = 0;
};
std::map<std::string, Result> g_results;

struct SocketPair
{
    std::unique_ptr<QTcpSocket> mp_client;
    QTcpSocket* mp_server = nullptr; // owned by the listener
};

QTcpServer& Listener()
{
    static QTcpServer s_listener;
    if (!s_listener.isListening())
        s_listener.listen(QHostAddress(QHostAddress::LocalHost), 0);
    return s_listener;
}

SocketPair Connect()
{
    SocketPair l_pair;
    l_pair.mp_client = std::make_unique<QTcpSocket>();
    l_pair.mp_client->connectToHost(QHostAddress(QHostAddress::LocalHost), Listener().serverPort());
    l_pair.mp_client->waitForConnected(3000);
    if (!Listener().hasPendingConnections())
        Listener().waitForNewConnection(3000);
    l_pair.mp_server = Listener().nextPendingConnection();
    return l_pair;
}

void RecordThroughput(std::string const& i_name, std::int64_t i_bytes, double i_seconds)
{
    Result& l_result = g_results[i_name];
    double const l_rate = i_seconds > 0 ? double(i_bytes) / i_seconds / 1e6 : 0;
    // Best of the repetitions: the machine is shared.
    if (l_rate > l_result.megabytesPerSecond)
        l_result.megabytesPerSecond = l_rate;
}

void BM_Framed(benchmark::State& state)
{
    std::int64_t const l_frameSize = state.range(0);
    bool const l_obfuscated = state.range(1) != 0;
    std::int64_t const l_frames = c_bytesPerIteration / l_frameSize;

    // One message: a code and the rest of the frame's payload.
    MemStream l_message;
    l_message.Write(61u);
    std::vector<char> const l_fill(static_cast<std::size_t>(l_frameSize - 4), 'x');
    l_message.WriteBuffer(l_fill.data(), static_cast<unsigned long>(l_fill.size()));
    // The end of a run: a frame too short to hold a message code, which the reader
    // refuses by disposing of the connection. Frames are dispatched in order, so once
    // the connection's record is gone every frame before it has been handled. No log
    // receiver is installed: the dispatcher runs as it does when nobody watches.
    MemStream l_end;
    l_end.WriteBuffer("\0\0", 2);

    std::int64_t l_total = 0;
    double l_seconds = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        SocketPair l_pair = Connect();
        Value const l_key(l_pair.mp_server);
        ItemPtr const l_item = d["peer_socket"]->NewItem(l_key);
        l_item += d["user"]->GetItem(Value("bench"));
        if (l_obfuscated)
            l_item.NewItem("is_obfuscated");
        QObject::connect(l_pair.mp_server, &QTcpSocket::readyRead, peerMessenger,
                         &PeerMessenger::OnSocketReadyToRead);
        state.ResumeTiming();

        auto const l_start = std::chrono::steady_clock::now();
        QDeadlineTimer const l_deadline(60000);
        QTcpSocket* const lp_client = l_pair.mp_client.get();
        // As a real sender does, a frame is queued only while the connection's unsent
        // bytes leave room for it; otherwise the reader drains first. Past the bound the
        // messenger ends the connection.
        auto const l_send = [&](MemStream& i_frame) {
            std::uint64_t const l_size = PeerMessenger::FrameSize(i_frame, l_obfuscated);
            return bench::WaitUntil(
                       [&] { return !PeerMessenger::ExceedsUnsentLimit(lp_client, l_size); },
                       l_deadline) &&
                   peerMessenger->SendMessage(lp_client, i_frame, l_obfuscated);
        };
        bool l_sent = true;
        for (std::int64_t l_index = 0; l_sent && l_index < l_frames; ++l_index)
        {
            l_sent = l_send(l_message);
            // Let the reader keep up instead of queueing everything in memory first.
            if ((l_index & 63) == 63)
                QCoreApplication::processEvents();
        }
        bool const l_dispatched =
            l_sent && l_send(l_end) &&
            bench::WaitUntil([&] { return !d["peer_socket"]->HasItem(l_key); }, l_deadline);
        l_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - l_start).count();
        if (!l_dispatched)
        {
            state.SkipWithError(l_sent ? "frames not all dispatched" : "frames not all sent");
            break;
        }
        l_total += l_frames * (l_frameSize + 4 + (l_obfuscated ? 4 : 0));

        state.PauseTiming();
        l_pair.mp_client.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(l_total);
    RecordThroughput(std::string(l_obfuscated ? "obfuscated " : "plain ") + std::to_string(l_frameSize),
                     l_total, l_seconds);
}

void BM_Baseline(benchmark::State& state)
{
    std::int64_t const l_frameSize = state.range(0);
    std::int64_t const l_frames = c_bytesPerIteration / l_frameSize;
    SocketPair l_pair = Connect();
    std::vector<char> const l_piece(static_cast<std::size_t>(l_frameSize), 'x');
    std::vector<char> l_sink(static_cast<std::size_t>(l_frameSize));
    std::int64_t l_received = 0;
    QObject::connect(l_pair.mp_server, &QTcpSocket::readyRead, l_pair.mp_server, [&] {
        for (;;)
        {
            qint64 const l_read = l_pair.mp_server->read(l_sink.data(), qint64(l_sink.size()));
            if (l_read <= 0)
                break;
            l_received += l_read;
        }
    });

    std::int64_t l_total = 0;
    double l_seconds = 0;
    for (auto _ : state)
    {
        auto const l_start = std::chrono::steady_clock::now();
        l_received = 0;
        for (std::int64_t l_index = 0; l_index < l_frames; ++l_index)
        {
            l_pair.mp_client->write(l_piece.data(), qint64(l_piece.size()));
            if ((l_index & 63) == 63)
                QCoreApplication::processEvents();
        }
        std::int64_t const l_expected = l_frames * l_frameSize;
        bool const l_arrived = bench::WaitUntil([&] { return l_received >= l_expected; }, 60000);
        l_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - l_start).count();
        if (!l_arrived)
        {
            state.SkipWithError("bytes not all received");
            break;
        }
        l_total += l_expected;
    }
    state.SetBytesProcessed(l_total);
    RecordThroughput("baseline " + std::to_string(l_frameSize), l_total, l_seconds);
    l_pair.mp_server->disconnect();
    l_pair.mp_server->deleteLater();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

BENCHMARK(BM_Baseline)->Arg(10 * 1024 * 1024)->Arg(1024)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Framed)
    ->Args({10 * 1024 * 1024, 0})
    ->Args({10 * 1024 * 1024, 1})
    ->Args({1024, 0})
    ->Args({1024, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3);

long ResidentKilobytes()
{
    QFile l_status("/proc/self/status");
    if (!l_status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray const& l_line : l_status.readAll().split('\n'))
        if (l_line.startsWith("VmRSS:"))
            return l_line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void MeasureIdleConnections()
{
    int const l_count = 1000;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Heap the frame benchmarks freed is handed back first, so that it cannot hide
    // what the connections take.
    malloc_trim(0);
    long const l_before = ResidentKilobytes();
    std::vector<std::unique_ptr<QTcpSocket>> l_clients;
    quint16 const l_port = peerMessenger->ListeningSocket().serverPort();
    for (int l_index = 0; l_index < l_count; ++l_index)
    {
        l_clients.push_back(std::make_unique<QTcpSocket>());
        l_clients.back()->connectToHost(QHostAddress(QHostAddress::LocalHost), l_port);
        if ((l_index & 31) == 31)
            QCoreApplication::processEvents();
    }
    bench::WaitUntil(
        [&] { return d["uninitialized_socket"]->GetItemCount() >= std::size_t(l_count); }, 20000);
    long const l_after = ResidentKilobytes();
    std::printf("\nIdle accepted connections: %zu of %d\n", d["uninitialized_socket"]->GetItemCount(), l_count);
    std::printf("Resident memory: %.1f MB before, %.1f MB with them (+%.1f MB, client ends included; target < 100 MB)\n",
                l_before / 1024.0, l_after / 1024.0, (l_after - l_before) / 1024.0);
}

void PrintSummary()
{
    std::printf("\nThroughput (best of 3, MB/s; ratio to the unframed baseline of the same piece size)\n");
    for (std::int64_t l_size : {std::int64_t(10 * 1024 * 1024), std::int64_t(1024)})
    {
        double const l_baseline = g_results["baseline " + std::to_string(l_size)].megabytesPerSecond;
        std::printf("  %s frames: baseline %.0f MB/s\n", l_size == 1024 ? "1 KiB" : "10 MiB", l_baseline);
        for (char const* lp_kind : {"plain", "obfuscated"})
        {
            double const l_rate = g_results[std::string(lp_kind) + " " + std::to_string(l_size)].megabytesPerSecond;
            std::printf("    %-10s %8.0f MB/s  ratio %.2f (target %s)\n", lp_kind, l_rate,
                        l_baseline > 0 ? l_rate / l_baseline : 0.0,
                        std::string(lp_kind) == "plain" ? ">= 0.7" : ">= 0.4");
        }
    }
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_app(argc, argv);
    bench::StartStoreServices();
    auto* lp_server = new Server();
    lp_server->CreateData();
    auto* lp_messenger = new PeerMessenger();
    {
        // Free ports for the two listening sockets.
        QTcpServer l_probe1;
        QTcpServer l_probe2;
        l_probe1.listen(QHostAddress::AnyIPv4, 0);
        l_probe2.listen(QHostAddress::AnyIPv4, 0);
        SetSetting("listening_port", QString::number(l_probe1.serverPort()));
        SetSetting("obfuscated_listening_port", QString::number(l_probe2.serverPort()));
    }
    lp_messenger->DataLoaded();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    MeasureIdleConnections();
    std::fflush(stdout);
    // Process exit releases the rest; the messenger's sockets are the listener's children.
    std::_Exit(0);
}
