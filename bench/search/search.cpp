// Answering searches and building share lists on an index of 100,000 files.
//
// Searches: a word that no path holds, a rare pair of words (a few files; the reply is
// built and compressed), a word of 150 files (reply built and compressed) and a word of
// every file (100,000 candidates, too many to answer). Baseline, in the same run: a
// linear scan of the 100,000 lower-case paths testing the same words with
// QString::contains, which is what answering would cost without the token index.
//
// Share list: building and compressing the list of all 100,000 files, against zlib's
// compress2 alone on the same serialized list.
//
// The index is built in the store as a walk would build it, without a disk. No peer
// network exists, so replies are built and compressed but not sent; the "replies"
// counter shows how many were.

#include "common/StoreServices.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"

#include <QCoreApplication>
#include <QStringList>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr int c_artists = 10;
constexpr int c_albumsPerArtist = 100;
constexpr int c_filesPerAlbum = 100;
constexpr int c_files = c_artists * c_albumsPerArtist * c_filesPerAlbum;
// Words spread over the files: w<n> on every 1009th file, v<n> on 150 files in a row.
constexpr int c_wordCycle = 1009;
constexpr int c_runLength = 150;

QStringList g_lowerPaths;
QString g_rarePair;
int g_searchReplies = 0;

QString Folder(int i_file)
{
    int const l_album = i_file / c_filesPerAlbum;
    return QStringLiteral("/data/Shared/Artist %1/Album %2")
        .arg(l_album / c_albumsPerArtist, 2, 10, QLatin1Char('0'))
        .arg(l_album % c_albumsPerArtist, 3, 10, QLatin1Char('0'));
}

QString Name(int i_file)
{
    return QStringLiteral("%1 - W%2 V%3 Song.mp3")
        .arg(i_file % c_filesPerAlbum + 1, 2, 10, QLatin1Char('0'))
        .arg(i_file % c_wordCycle, 4, 10, QLatin1Char('0'))
        .arg(i_file / c_runLength, 4, 10, QLatin1Char('0'));
}

// The files and their tokens, as a walk of the tree would leave them; every tenth file
// has MP3 details.
void BuildIndex()
{
    ItemPtr const l_shared = d["shared_folder"]->GetItem(Value("/data/Shared"));
    l_shared.NewItem("shared_public");
    ItemPtr l_folder;
    for (int l_file = 0; l_file < c_files; ++l_file)
    {
        if (l_file % c_filesPerAlbum == 0)
        {
            l_folder = d["shared_file_folder"]->GetItem(Value(Folder(l_file)));
            l_folder += l_shared;
        }
        ItemPtr const l_item = l_folder.NewItem("shared_file");
        l_item += d["shared_file_name"]->GetItem(Value(Name(l_file)));
        l_item += d["shared_file_size"]->GetItem(Value(4000000 + l_file));
        if (l_file % 10 == 0)
        {
            l_item += d["bitrate"]->GetItem(Value(192));
            l_item += d["bitrate_mode"]->GetItem(Value("cbr"));
        }
        sharedFoldersManager->TokenizeSharedFile(l_item);
        g_lowerPaths << (Folder(l_file) + QLatin1Char('\\') + Name(l_file)).toLower();
    }
}

// A word of the 1009-cycle and an album number that share between 2 and 9 files.
QString FindRarePair()
{
    for (int l_word = 0; l_word < c_wordCycle; ++l_word)
    {
        QString const l_pair = QStringLiteral("w%1 042").arg(l_word, 4, 10, QLatin1Char('0'));
        int l_hits = 0;
        for (int l_file = 0; l_file < c_files; ++l_file)
            l_hits += l_file % c_wordCycle == l_word &&
                      (l_file / c_filesPerAlbum) % c_albumsPerArtist == 42;
        if (l_hits >= 2 && l_hits < 10)
            return l_pair;
    }
    return QString();
}

QString Query(int i_kind)
{
    switch (i_kind)
    {
    case 0:
        return QStringLiteral("nowhere");
    case 1:
        return g_rarePair;
    case 2:
        return QStringLiteral("v0123");
    default:
        return QStringLiteral("song");
    }
}

char const* const c_kindNames[] = {"missing word", "rare pair", "150 files", "common word"};

void BM_ProcessSearch(benchmark::State& io_state)
{
    QString const l_query = Query(int(io_state.range(0)));
    g_searchReplies = 0;
    for (auto l_ignored : io_state)
        sharedFoldersManager->ProcessSearch(QStringLiteral("seeker"), 7, l_query);
    io_state.counters["replies"] = double(g_searchReplies) / double(io_state.iterations());
    io_state.SetLabel(c_kindNames[io_state.range(0)]);
}

void BM_LinearScanBaseline(benchmark::State& io_state)
{
    QStringList const l_words = Query(int(io_state.range(0))).split(QLatin1Char(' '));
    int l_hits = 0;
    for (auto l_ignored : io_state)
    {
        l_hits = 0;
        for (QString const& l_path : g_lowerPaths)
        {
            bool l_all = true;
            for (QString const& l_word : l_words)
                if (!l_path.contains(l_word))
                {
                    l_all = false;
                    break;
                }
            l_hits += l_all;
        }
        benchmark::DoNotOptimize(l_hits);
    }
    io_state.counters["hits"] = l_hits;
    io_state.SetLabel(c_kindNames[io_state.range(0)]);
}

void BM_ShareListBuildAndCompress(benchmark::State& io_state)
{
    std::uint64_t l_bytes = 0;
    for (auto l_ignored : io_state)
    {
        MemStream const l_message =
            sharedFoldersManager->GetSharedFilesMessage(QStringLiteral("seeker"));
        l_bytes = l_message.GetWriteIndex();
    }
    io_state.counters["message_bytes"] = double(l_bytes);
}

void BM_CompressOnlyBaseline(benchmark::State& io_state)
{
    FileInfoMap l_share;
    AttributeTranslationTable l_table;
    sharedFoldersManager->GetSharedFilesAsUserShare(QStringLiteral("seeker"), l_share, l_table);
    MemStream l_body;
    l_body.Write(l_share);
    l_body.Write(l_table);
    uLong const l_length = uLong(l_body.GetWriteIndex());
    std::vector<Bytef> l_out(compressBound(l_length));
    uLongf l_outLength = 0;
    for (auto l_ignored : io_state)
    {
        l_outLength = uLongf(l_out.size());
        compress2(l_out.data(), &l_outLength, reinterpret_cast<Bytef const*>(l_body.GetBuffer()),
                  l_length, 9);
        benchmark::DoNotOptimize(l_out.data());
    }
    io_state.counters["body_bytes"] = double(l_length);
    io_state.counters["compressed_bytes"] = double(l_outLength);
}

// Keeps each benchmark's mean time per iteration so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(std::vector<Run> const& i_runs) override
    {
        for (Run const& l_run : i_runs)
            if (l_run.run_type == Run::RT_Iteration)
            {
                std::string l_name = l_run.run_name.function_name;
                if (!l_run.run_name.args.empty())
                    l_name += "/" + l_run.run_name.args;
                m_seconds[l_name] =
                    l_run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(l_run.time_unit);
            }
        ConsoleReporter::ReportRuns(i_runs);
    }
    double Seconds(std::string const& i_name) const
    {
        auto const l_it = m_seconds.find(i_name);
        return l_it == m_seconds.end() ? 0.0 : l_it->second;
    }

private:
    std::map<std::string, double> m_seconds;
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_app(argc, argv);
    benchmark::Initialize(&argc, argv);

    bench::StartStoreServices();
    auto* lp_server = new Server();
    lp_server->CreateData();
    // The MP3 attribute types the peer network would declare.
    for (char const* lp_type : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode",
                                "bitrate", "length_seconds", "file_size"})
        d.NewType(lp_type, Tertiary, false, true);
    auto* lp_shares = new SharedFoldersManager();
    SetSetting("username", QStringLiteral("alice"));
    SetLogTestSink([](QString const& i_area, int, QString const&)
                   { g_searchReplies += i_area == QLatin1String(LogArea::Search); });

    BuildIndex();
    g_rarePair = FindRarePair();
    if (g_rarePair.isEmpty())
        return 1;

    for (int l_kind = 0; l_kind < 4; ++l_kind)
    {
        benchmark::RegisterBenchmark("BM_ProcessSearch", BM_ProcessSearch)
            ->Arg(l_kind)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("BM_LinearScanBaseline", BM_LinearScanBaseline)
            ->Arg(l_kind)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("BM_ShareListBuildAndCompress", BM_ShareListBuildAndCompress)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
    benchmark::RegisterBenchmark("BM_CompressOnlyBaseline", BM_CompressOnlyBaseline)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
    RatioReporter l_reporter;
    benchmark::RunSpecifiedBenchmarks(&l_reporter);

    std::printf("index: %d files; rare pair \"%s\"\n", c_files, qPrintable(g_rarePair));
    for (int l_kind = 0; l_kind < 4; ++l_kind)
    {
        std::string const l_arg = "/" + std::to_string(l_kind);
        double const l_search = l_reporter.Seconds("BM_ProcessSearch" + l_arg);
        double const l_scan = l_reporter.Seconds("BM_LinearScanBaseline" + l_arg);
        std::printf("%-13s ProcessSearch %10.2f us, linear scan %10.2f us: %8.1fx faster\n",
                    c_kindNames[l_kind], l_search * 1e6, l_scan * 1e6,
                    l_search > 0 ? l_scan / l_search : 0.0);
    }
    std::printf("targets: rare pair >= 50x faster, common word >= 1.0x\n");
    double const l_list = l_reporter.Seconds("BM_ShareListBuildAndCompress");
    double const l_compress = l_reporter.Seconds("BM_CompressOnlyBaseline");
    std::printf("share list: build and compress %.1f ms, compress2 alone %.1f ms: %.2fx "
                "(target 1.5x)\n",
                l_list * 1e3, l_compress * 1e3, l_compress > 0 ? l_list / l_compress : 0.0);

    SetLogTestSink(nullptr);
    delete lp_shares;
    delete lp_server;
    delete portForwarder;
    return 0;
}
