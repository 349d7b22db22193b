// bench/wire, dispatch half: one server frame of 1, 2, 5 and 10 MB arriving in
// 1460-byte pieces (one TCP segment each), taken in by the server connection's receive
// loop piece by piece and handed to the dispatcher when its last byte is in. The
// baseline is a memcpy of the same bytes in the same pieces (and the plain memcpy run
// of streams.cpp, which the summary there compares against through the "bytes"
// counter). The frame's code is dropped unread by the dispatcher (the connection is not
// logged in), so the figure is the cost of taking the bytes in. Reassembly that copied the partial frame per piece would show as
// super-linear growth from 1 MB to 10 MB.

#include "WireBench.h"

#include "net/server/PortForwarder.h"
#include "net/server/Server.h"

#include <benchmark/benchmark.h>

#include <QIODevice>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::int64_t kPiece = 1460;

// A device that shows one more piece of a prepared byte string each time the test
// releases it, as a socket shows what one segment brought.
class PieceDevice : public QIODevice
{
public:
  explicit PieceDevice(std::vector<char> const& bytes) : m_bytes(bytes)
  {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }

  void Restart()
  {
    m_position = 0;
    m_limit = 0;
  }
  void Release(std::int64_t count)
  {
    m_limit = std::min<std::int64_t>(m_limit + count, static_cast<std::int64_t>(m_bytes.size()));
  }
  bool AllConsumed() const { return m_position == static_cast<std::int64_t>(m_bytes.size()); }

  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return m_limit - m_position + QIODevice::bytesAvailable(); }

protected:
  qint64 readData(char* data, qint64 maxSize) override
  {
    qint64 const count = std::min<qint64>(maxSize, m_limit - m_position);
    if (count <= 0) return 0;
    std::memcpy(data, m_bytes.data() + m_position, static_cast<std::size_t>(count));
    m_position += count;
    return count;
  }
  qint64 writeData(char const*, qint64) override { return -1; }

private:
  std::vector<char> const& m_bytes;
  std::int64_t m_position = 0;
  std::int64_t m_limit = 0;
};

// A frame of `bytes` in all: u32 length, u32 code, fields.
std::vector<char> MakeFrame(std::int64_t bytes)
{
  std::vector<char> frame(static_cast<std::size_t>(bytes), 'f');
  std::uint32_t const length = static_cast<std::uint32_t>(bytes - 4);
  std::uint32_t const code = 93;
  for (int i = 0; i < 4; ++i) {
    frame[static_cast<std::size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xFF);
    frame[static_cast<std::size_t>(4 + i)] = static_cast<char>((code >> (8 * i)) & 0xFF);
  }
  return frame;
}

void BM_MemcpyPieces(benchmark::State& state)
{
  std::int64_t const bytes = state.range(0);
  std::vector<char> const source = MakeFrame(bytes);
  std::vector<char> target(static_cast<std::size_t>(bytes));
  for (auto _ : state) {
    for (std::int64_t offset = 0; offset < bytes; offset += kPiece) {
      std::int64_t const count = std::min(kPiece, bytes - offset);
      std::memcpy(target.data() + offset, source.data() + offset, static_cast<std::size_t>(count));
    }
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_ServerDispatchPieces(benchmark::State& state)
{
  EnsureApplication();
  std::int64_t const bytes = state.range(0);
  std::vector<char> const frame = MakeFrame(bytes);
  PieceDevice device(frame);
  auto server = std::make_unique<Server>();

  for (auto _ : state) {
    device.Restart();
    for (std::int64_t offset = 0; offset < bytes; offset += kPiece) {
      device.Release(kPiece);
      server->ReceiveFrom(device);
    }
    if (!device.AllConsumed()) {
      state.SkipWithError("the receive loop left bytes of the frame unread");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["bytes"] = static_cast<double>(bytes);

  server.reset();
  delete portForwarder;
}

// The same with a fresh connection object per frame: the receive buffer starts at its
// initial size and grows by doubling while the pieces come in.
void BM_ServerDispatchPiecesColdBuffer(benchmark::State& state)
{
  EnsureApplication();
  std::int64_t const bytes = state.range(0);
  std::vector<char> const frame = MakeFrame(bytes);
  PieceDevice device(frame);

  for (auto _ : state) {
    state.PauseTiming();
    auto server = std::make_unique<Server>();
    device.Restart();
    state.ResumeTiming();
    for (std::int64_t offset = 0; offset < bytes; offset += kPiece) {
      device.Release(kPiece);
      server->ReceiveFrom(device);
    }
    state.PauseTiming();
    bool const complete = device.AllConsumed();
    server.reset();
    delete portForwarder;
    state.ResumeTiming();
    if (!complete) {
      state.SkipWithError("the receive loop left bytes of the frame unread");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["bytes"] = static_cast<double>(bytes);
}

void DispatchSizes(benchmark::internal::Benchmark* b)
{
  for (std::int64_t mb : {1, 2, 5, 10}) b->Arg(mb * 1000000);
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_MemcpyPieces)->Apply(DispatchSizes);
BENCHMARK(BM_ServerDispatchPieces)->Apply(DispatchSizes);
BENCHMARK(BM_ServerDispatchPiecesColdBuffer)->Apply(DispatchSizes);
