// Saving and loading a store shaped like a large share index: one million items and
// one million connections. The baselines write and read the same number of bytes in
// one call each, on the same file system, so the ratios show what the format, the id
// bookkeeping and the store's item creation cost on top of plain I/O.

#include "common/BenchSupport.h"
#include "store/Data.h"
#include "store/DataSaver.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int c_files = 250000; // + 250000 names + 50000 sizes + 450000 tokens
constexpr int c_sizes = 50000;  // = 1000000 items
constexpr int c_secondTokens = 200000;

QTemporaryDir* gp_dir = nullptr;
DataSaver* gp_saver = nullptr;

QString StorePath()
{
    return gp_dir->filePath(QStringLiteral("store"));
}

void DeclareTypes()
{
    Type* const lp_file = d.NewType("b_file", Primary, false, false);
    Type* const lp_name = d.NewType("b_name", Secondary, false, true);
    Type* const lp_size = d.NewType("b_size", Tertiary, false, true);
    Type* const lp_token = d.NewType("b_token", Secondary, false, true);
    lp_file->RelateToType(lp_name, Many, One, false);
    lp_file->RelateToType(lp_size, Many, One, false);
    lp_file->RelateToType(lp_token, Many, Many, false);
    gp_saver->AddSavedType("b_file");
    for (char const* lp_name : {"b_name", "b_size", "b_token"})
        gp_saver->AddSavedByConnectionType(lp_name, "b_file");
}

// Each file: a path, a name, a size shared with other files and two search tokens.
void FillStore()
{
    Type* const lp_file = d.GetType("b_file");
    Type* const lp_name = d.GetType("b_name");
    Type* const lp_size = d.GetType("b_size");
    Type* const lp_token = d.GetType("b_token");
    char l_text[128];
    for (int l_index = 0; l_index < c_files; ++l_index)
    {
        std::snprintf(l_text, sizeof l_text, "C:\\Music\\Artist %d\\Album %d\\%07d track.mp3",
                      l_index % 997, l_index % 89, l_index);
        ItemPtr const l_file = lp_file->NewItem(Value(std::string(l_text)));
        std::snprintf(l_text, sizeof l_text, "%07d track.mp3", l_index);
        l_file += lp_name->GetItem(Value(std::string(l_text)));
        l_file += lp_size->GetItem(Value(1000000 + (l_index % c_sizes) * 37));
        std::snprintf(l_text, sizeof l_text, "word%d", l_index);
        l_file += lp_token->GetItem(Value(std::string(l_text)));
        std::snprintf(l_text, sizeof l_text, "word%d", c_files + l_index % c_secondTokens);
        l_file += lp_token->GetItem(Value(std::string(l_text)));
    }
}

void BM_SaveStore(benchmark::State& state)
{
    for (auto l_ignored : state)
    {
        if (!gp_saver->Save(StorePath()))
            state.SkipWithError("save failed");
    }
    state.counters["file_bytes"] = double(QFile(StorePath()).size());
}

void BM_WriteSameBytesBaseline(benchmark::State& state)
{
    QByteArray const l_bytes(QFile(StorePath()).size(), 'x');
    QString const l_path = gp_dir->filePath(QStringLiteral("raw"));
    for (auto l_ignored : state)
    {
        // Same durability as the save: one write, then fsync before close.
        QFile l_file(l_path);
        if (!l_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
            l_file.write(l_bytes) != l_bytes.size() || ::fsync(l_file.handle()) != 0)
            state.SkipWithError("raw write failed");
        l_file.close();
    }
}

void BM_LoadStore(benchmark::State& state)
{
    for (auto l_ignored : state)
    {
        state.PauseTiming();
        d.RemoveAllItems();
        // No event loop runs here to free what was removed; free it outside the timing.
        StoreOperation::FreeRemovedItems();
        state.ResumeTiming();
        gp_saver->Load(StorePath());
    }
    state.counters["items"] =
        double(d.GetType("b_file")->GetItemCount() + d.GetType("b_name")->GetItemCount() +
               d.GetType("b_size")->GetItemCount() + d.GetType("b_token")->GetItemCount());
}

void BM_ReadSameBytesBaseline(benchmark::State& state)
{
    for (auto l_ignored : state)
    {
        QFile l_file(StorePath());
        if (!l_file.open(QIODevice::ReadOnly))
            state.SkipWithError("raw read failed");
        QByteArray const l_bytes = l_file.readAll();
        benchmark::DoNotOptimize(l_bytes.constData());
    }
}

// Each baseline runs before its counterpart, and every figure is the fastest of several
// single-pass repetitions: a large allocation made right after the load's clean-up pays
// for the allocator tidying the freed items, which would otherwise be charged to
// whichever measurement happens to come next.
constexpr int c_repetitions = 5;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir l_dir;
    if (!l_dir.isValid())
        return 1;
    gp_dir = &l_dir;
    DataSaver l_saver;
    gp_saver = &l_saver;
    DeclareTypes();
    FillStore();
    // Every benchmark works on a file written from the filled store.
    if (!l_saver.Save(StorePath()))
        return 1;

    bench::RegisterFastestOf(c_repetitions, "BM_WriteSameBytesBaseline", BM_WriteSameBytesBaseline);
    bench::RegisterFastestOf(c_repetitions, "BM_SaveStore", BM_SaveStore);
    bench::RegisterFastestOf(c_repetitions, "BM_ReadSameBytesBaseline", BM_ReadSameBytesBaseline);
    bench::RegisterFastestOf(c_repetitions, "BM_LoadStore", BM_LoadStore);
    bench::FastestReporter l_reporter;
    benchmark::RunSpecifiedBenchmarks(&l_reporter);

    double const l_save = l_reporter.Seconds("BM_SaveStore");
    double const l_write = l_reporter.Seconds("BM_WriteSameBytesBaseline");
    double const l_load = l_reporter.Seconds("BM_LoadStore");
    double const l_read = l_reporter.Seconds("BM_ReadSameBytesBaseline");
    std::printf("store file: %lld bytes, 1000000 items, 1000000 connections\n",
                static_cast<long long>(QFile(StorePath()).size()));
    if (l_write > 0)
        std::printf("save %.1f ms vs one write %.1f ms: ratio %.1f (target <= 10)\n", l_save * 1000,
                    l_write * 1000, l_save / l_write);
    if (l_read > 0)
        std::printf("load %.1f ms vs one read %.1f ms: ratio %.1f (target <= 20)\n", l_load * 1000,
                    l_read * 1000, l_load / l_read);
    std::printf("each figure: the fastest of %d repetitions, baseline measured first\n",
                c_repetitions);
    benchmark::Shutdown();
    return 0;
}
