// bench/wire, streams half: encode and decode a message of records
// (std::string, u64, u32; 100 bytes each on the wire, 100k records = 10 MB) through
// MemStream, against a memcpy of the same number of bytes in the same run, at 1, 2,
// 5 and 10 MB. A summary after the Google Benchmark table prints MB/s, the ratio to
// memcpy and how time grows from the smallest to the largest size (linear: x10 from
// 1 MB to 10 MB; quadratic copying would give about x100).
//
// This file holds main(). Other .cpp files of this folder just register benchmarks;
// a benchmark that sets the counter "bytes" (bytes handled per iteration) is listed
// in the summary and compared with the memcpy run of the nearest size.

#include "net/server/MemStream.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kRecordBytes = 100;   // 4 + 84 + 8 + 4
constexpr std::size_t kNameLength = 84;

struct Record
{
  std::string name;
  std::uint64_t size;
  std::uint32_t bitrate;
};

std::vector<Record> const& Records()
{
  static std::vector<Record> const records = [] {
    std::vector<Record> r;
    r.reserve(100000);
    for (std::uint32_t i = 0; i < 100000; ++i) {
      std::string name = "Music\\Artist " + std::to_string(i % 977) + "\\Album " +
                         std::to_string(i % 131) + "\\track " + std::to_string(i) + ".mp3";
      name.resize(kNameLength, '_');
      r.push_back({std::move(name), 1000003ull * i + 17, i * 7u});
    }
    return r;
  }();
  return records;
}

std::int64_t RecordsFor(std::int64_t bytes) { return bytes / kRecordBytes; }

void Encode(MemStream& m, std::int64_t count)
{
  auto const& records = Records();
  for (std::int64_t i = 0; i < count; ++i) {
    Record const& r = records[static_cast<std::size_t>(i)];
    m.Write(r.name);
    m.Write(r.size);
    m.Write(r.bitrate);
  }
}

double GrowthCopyRatio(std::int64_t bytes);

void BM_StreamEncode(benchmark::State& state)
{
  std::int64_t const bytes = state.range(0);
  std::int64_t const count = RecordsFor(bytes);
  Records();
  for (auto _ : state) {
    MemStream m;  // a fresh message each time, as a sender builds it: growth included
    Encode(m, count);
    benchmark::DoNotOptimize(m.GetBuffer());
    if (static_cast<std::int64_t>(m.GetBufferLength()) != bytes) state.SkipWithError("size");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetComplexityN(count);
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["growth_copy_ratio"] = GrowthCopyRatio(bytes);
}

// One MemStream reused and Reset for every message (the receivers' pattern).
void BM_StreamEncodeReused(benchmark::State& state)
{
  std::int64_t const bytes = state.range(0);
  std::int64_t const count = RecordsFor(bytes);
  Records();
  MemStream m;
  for (auto _ : state) {
    m.Reset();
    Encode(m, count);
    benchmark::DoNotOptimize(m.GetBuffer());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetComplexityN(count);
  state.counters["bytes"] = static_cast<double>(bytes);
}

// Not timed: the bytes the doubling growth of a fresh MemStream copies while the
// message is encoded, divided by the message size. Linear growth keeps this below 2
// whatever the size; copying the whole buffer per append would make it grow with it.
double GrowthCopyRatio(std::int64_t bytes)
{
  auto const& records = Records();
  MemStream m;
  double copied = 0;
  auto write = [&](auto const& value) {
    std::uint64_t const capacity = m.GetBufferCapacity();
    std::uint64_t const before = m.GetWriteIndex();
    m.Write(value);
    if (m.GetBufferCapacity() != capacity) copied += static_cast<double>(before);
  };
  for (std::int64_t i = 0; i < RecordsFor(bytes); ++i) {
    Record const& r = records[static_cast<std::size_t>(i)];
    write(r.name);
    write(r.size);
    write(r.bitrate);
  }
  return copied / static_cast<double>(bytes);
}

void BM_StreamDecode(benchmark::State& state)
{
  std::int64_t const bytes = state.range(0);
  std::int64_t const count = RecordsFor(bytes);
  MemStream m;
  Encode(m, count);
  std::string name;
  std::uint64_t size = 0;
  std::uint32_t bitrate = 0;
  bool ok = true;
  for (auto _ : state) {
    m.Reset();                                    // rewind without copying:
    m.AdvanceWriteIndex(static_cast<int>(bytes));  // the bytes stay in the array
    std::uint64_t sum = 0;
    for (std::int64_t i = 0; i < count; ++i) {
      ok &= m.Read(name) && m.Read(size) && m.Read(bitrate);
      sum += name.size() + size + bitrate;
    }
    benchmark::DoNotOptimize(sum);
  }
  if (!ok || m.GetPendingReadLength() != 0 ||
      name != Records()[static_cast<std::size_t>(count - 1)].name)
    state.SkipWithError("decode mismatch");
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetComplexityN(count);
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_Memcpy(benchmark::State& state)
{
  std::int64_t const bytes = state.range(0);
  std::vector<char> source(static_cast<std::size_t>(bytes), 'x');
  std::vector<char> target(static_cast<std::size_t>(bytes), 'y');
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), static_cast<std::size_t>(bytes));
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetComplexityN(RecordsFor(bytes));
  state.counters["bytes"] = static_cast<double>(bytes);
}

void Sizes(benchmark::internal::Benchmark* b)
{
  for (std::int64_t mb : {1, 2, 5, 10}) b->Arg(mb * 1000000);
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity(benchmark::oN);
}

BENCHMARK(BM_Memcpy)->Apply(Sizes);
BENCHMARK(BM_StreamEncode)->Apply(Sizes);
BENCHMARK(BM_StreamEncodeReused)->Apply(Sizes);
BENCHMARK(BM_StreamDecode)->Apply(Sizes);

// Console output as usual, plus the collected plain runs for the summary.
class SummaryReporter : public benchmark::ConsoleReporter
{
public:
  struct Point
  {
    double bytes;
    double seconds;  // real time per iteration
  };

  void ReportRuns(std::vector<Run> const& runs) override
  {
    ConsoleReporter::ReportRuns(runs);
    for (Run const& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.report_big_o ||
          run.report_rms)
        continue;
      auto const it = run.counters.find("bytes");
      if (it == run.counters.end()) continue;
      double const seconds =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      m_points[run.run_name.function_name].push_back({it->second.value, seconds});
    }
  }

  void PrintSummary() const
  {
    auto const base = m_points.find("BM_Memcpy");
    auto memcpyRate = [&](double bytes) {
      if (base == m_points.end()) return 0.0;
      Point const* best = nullptr;
      for (Point const& p : base->second)
        if (!best || std::fabs(p.bytes - bytes) < std::fabs(best->bytes - bytes)) best = &p;
      return best ? best->bytes / best->seconds / 1e6 : 0.0;
    };
    std::printf("\nSummary (MB = 10^6 bytes; ratio = memcpy MB/s / MB/s, i.e. times slower "
                "than memcpy of the same bytes)\n");
    std::printf("%-22s %10s %12s %12s %12s %8s\n", "benchmark", "MB", "time ms", "MB/s",
                "memcpy MB/s", "ratio");
    for (auto const& [name, points] : m_points) {
      for (Point const& p : points) {
        double const rate = p.bytes / p.seconds / 1e6;
        double const base_rate = memcpyRate(p.bytes);
        std::printf("%-22s %10.2f %12.3f %12.1f %12.1f %8.2f\n", name.c_str(), p.bytes / 1e6,
                    p.seconds * 1e3, rate, base_rate, base_rate > 0 ? base_rate / rate : 0.0);
      }
    }
    std::printf("\nGrowth of time with size (linear: time factor = size factor, exponent 1; "
                "quadratic copying: exponent 2).\nA 1 MB message may still sit in the CPU cache, "
                "so the growth from the second size is shown too.\n");
    for (auto const& [name, points] : m_points) {
      if (points.size() < 2) continue;
      std::vector<Point> sorted = points;
      std::sort(sorted.begin(), sorted.end(),
                [](Point const& a, Point const& b) { return a.bytes < b.bytes; });
      auto line = [&](Point const& lo, Point const& hi) {
        double const sizeFactor = hi.bytes / lo.bytes;
        double const timeFactor = hi.seconds / lo.seconds;
        double const exponent = std::log(timeFactor) / std::log(sizeFactor);
        std::printf("%-22s %5.1f -> %5.1f MB: size x%.1f, time x%.2f, exponent %.2f: %s\n",
                    name.c_str(), lo.bytes / 1e6, hi.bytes / 1e6, sizeFactor, timeFactor,
                    exponent, exponent < 1.3 ? "linear" : "super-linear");
      };
      line(sorted.front(), sorted.back());
      if (sorted.size() > 2) line(sorted[1], sorted.back());
    }
  }

private:
  std::map<std::string, std::vector<Point>> m_points;
};

}  // namespace

int main(int argc, char** argv)
{
  // Keep freed memory in the process (no mmap/munmap per message, no trimming), so
  // that a fresh 16 MB buffer per iteration measures the stream, not the kernel
  // zeroing new pages. Say so in the output.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
  std::printf("malloc: mmap threshold 256 MiB, trim threshold 512 MiB (freed buffers are "
              "reused, not returned to the kernel)\n");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
