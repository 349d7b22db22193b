// bench/wire, incoming half: the central server's two largest messages taken in by a
// logged-in server connection through its receive loop and applied to the item store.
//   - code 14 (room joined) for a room of 10,000 users, joined again and again;
//   - code 64 (room list) of 5,000 rooms: 4,000 public, 500 owned, 500 member rooms.
// Figures are messages per second ("msgs/s"); the baseline, measured in the same run,
// reads the same message's fields with the stream readers and touches no store
// ("parse only"), so the difference is the store work.
// A third run joins the same private 10,000-user room 100 times after a first join and
// reports the resident memory and the store's item count before and after: neither may
// grow, since each join replaces the room's users and values rather than adding to them.

#include "WireBench.h"

#include "common/StoreServices.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "net/server/UserStats.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QTcpServer>

#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>

namespace {

constexpr int kJoinUsers = 10000;
constexpr int kPublicRooms = 4000;
constexpr int kOwnedRooms = 500;
constexpr int kMemberRooms = 500;
constexpr int kRepeatedJoins = 100;

// The settings and the user and room types, once per process.
void EnsureStore()
{
  static bool done = false;
  if (done) return;
  done = true;
  new DataSaver();  // the settings types are declared with their saver
  DeclareSettingsTypes();
  Server schema;
  schema.CreateData();
  delete portForwarder;
  portForwarder = nullptr;
}

// Wire bytes written by hand, little-endian, so the bench does not measure the
// writers it shares with the reader.
class Bytes
{
public:
  Bytes& U32(std::uint32_t value)
  {
    for (int i = 0; i < 4; ++i) m_bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    return *this;
  }
  Bytes& U64(std::uint64_t value)
  {
    for (int i = 0; i < 8; ++i) m_bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    return *this;
  }
  Bytes& Str(QByteArray const& text)
  {
    U32(static_cast<std::uint32_t>(text.size()));
    m_bytes.append(text);
    return *this;
  }
  QByteArray Frame() const { return Bytes().U32(static_cast<std::uint32_t>(m_bytes.size())).m_bytes + m_bytes; }
  QByteArray const& Payload() const { return m_bytes; }

private:
  QByteArray m_bytes;
};

QByteArray UserName(int i) { return "user" + QByteArray::number(i); }
QByteArray RoomName(char const* prefix, int i) { return prefix + QByteArray::number(i); }

// Code 14 for `room` with `users` users (statistics and country codes for each); with
// an owner and 50 operators when `withOwner`.
Bytes RoomJoined(QByteArray const& room, int users, bool withOwner)
{
  static char const* const countries[] = {"DE", "FR", "US", "BR", "JP", "NL", "SE", "IT"};
  Bytes b;
  b.U32(14).Str(room).U32(static_cast<std::uint32_t>(users));
  for (int i = 0; i < users; ++i) b.Str(UserName(i));
  b.U32(static_cast<std::uint32_t>(users));
  for (int i = 0; i < users; ++i) b.U32(0);
  b.U32(static_cast<std::uint32_t>(users));
  for (int i = 0; i < users; ++i) b.U32(1000u + static_cast<std::uint32_t>(i % 977)).U64(7).U32(static_cast<std::uint32_t>(i % 5000)).U32(3);
  b.U32(static_cast<std::uint32_t>(users));
  for (int i = 0; i < users; ++i) b.U32(0);
  b.U32(static_cast<std::uint32_t>(users));
  for (int i = 0; i < users; ++i) b.Str(countries[i % 8]);
  if (withOwner) {
    b.Str(UserName(0)).U32(50);
    for (int i = 1; i <= 50; ++i) b.Str(UserName(i));
  }
  return b;
}

Bytes RoomList()
{
  Bytes b;
  b.U32(64);
  auto rooms = [&](char const* prefix, int count) {
    b.U32(static_cast<std::uint32_t>(count));
    for (int i = 0; i < count; ++i) b.Str(RoomName(prefix, i));
    b.U32(static_cast<std::uint32_t>(count));
    for (int i = 0; i < count; ++i) b.U32(static_cast<std::uint32_t>(i % 300));
  };
  rooms("public", kPublicRooms);
  rooms("owned", kOwnedRooms);
  rooms("member", kMemberRooms);
  b.U32(kMemberRooms / 2);
  for (int i = 0; i < kMemberRooms / 2; ++i) b.Str(RoomName("member", i));
  return b;
}

// A server connection that believes it is logged in: it connects to a loopback
// listener (never served: no event loop runs) and takes an accepted login reply
// through its receive loop.
class LoggedInServer
{
public:
  LoggedInServer()
  {
    EnsureApplication();
    EnsureStore();
    m_listener.listen(QHostAddress::LocalHost, 0);
    bench::AimAtLoopbackServer(m_listener.serverPort());
    mp_server = std::make_unique<Server>();
    mp_server->Connect();
    // Code 1, accepted: u8 1, a greeting, a u32 and a hash text.
    QByteArray payload = Bytes().U32(1).Payload();
    payload.append('\x01');
    payload.append(Bytes().Str("welcome").U32(0).Str("hash").Payload());
    Feed(Bytes().U32(static_cast<std::uint32_t>(payload.size())).Payload() + payload);
  }

  ~LoggedInServer()
  {
    mp_server.reset();
    delete portForwarder;
    portForwarder = nullptr;
  }

  bool IsConnected() const { return mp_server->IsConnected(); }

  // Hands the bytes to the receive loop as one read of the socket would.
  void Feed(QByteArray const& bytes)
  {
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    mp_server->ReceiveFrom(device);
  }

  void Feed(QBuffer& device)
  {
    device.seek(0);
    mp_server->ReceiveFrom(device);
  }

private:
  QTcpServer m_listener;
  std::unique_ptr<Server> mp_server;
};

// The same fields as the dispatcher reads for code 14, into locals only.
void ParseRoomJoined(MemStream& message)
{
  QString room;
  std::list<QString> names;
  std::list<int> unused;
  std::list<UserStats> stats;
  std::list<QString> countries;
  message.Read(room);
  message.Read(names);
  message.Read(unused);
  message.Read(stats);
  message.Read(unused);
  message.Read(countries);
  benchmark::DoNotOptimize(names.size() + stats.size() + countries.size());
}

void ParseRoomList(MemStream& message)
{
  std::list<QString> names[3];
  std::list<int> counts[3];
  std::set<QString> operated;
  for (int i = 0; i < 3; ++i) {
    message.Read(names[i]);
    message.Read(counts[i]);
  }
  message.Read(operated);
  benchmark::DoNotOptimize(names[0].size() + counts[2].size() + operated.size());
}

template <void (*Parse)(MemStream&)>
void RunParseOnly(benchmark::State& state, QByteArray const& payload)
{
  for (auto _ : state) {
    MemStream message;
    message.WriteBuffer(payload.constData(), static_cast<unsigned long>(payload.size()));
    unsigned int code = 0;
    message.Read(code);
    Parse(message);
  }
  state.counters["msgs/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void RunDispatch(benchmark::State& state, QByteArray const& frame)
{
  LoggedInServer server;
  if (!server.IsConnected()) {
    state.SkipWithError("the server connection did not take the login reply");
    return;
  }
  QBuffer device;
  device.setData(frame);
  device.open(QIODevice::ReadOnly);
  server.Feed(device);  // first message creates the items; the timed ones reuse them
  for (auto _ : state) server.Feed(device);
  state.counters["msgs/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Code14ParseOnly(benchmark::State& state)
{
  EnsureApplication();
  EnsureStore();
  RunParseOnly<ParseRoomJoined>(state, RoomJoined("hall", kJoinUsers, false).Payload());
  state.counters["users"] = kJoinUsers;
}

void BM_Code14Dispatch(benchmark::State& state)
{
  d.RemoveAllItems();
  RunDispatch(state, RoomJoined("hall", kJoinUsers, false).Frame());
  state.counters["users"] = kJoinUsers;
}

void BM_Code64ParseOnly(benchmark::State& state)
{
  EnsureApplication();
  EnsureStore();
  RunParseOnly<ParseRoomList>(state, RoomList().Payload());
  state.counters["rooms"] = kPublicRooms + kOwnedRooms + kMemberRooms;
}

void BM_Code64Dispatch(benchmark::State& state)
{
  d.RemoveAllItems();
  RunDispatch(state, RoomList().Frame());
  state.counters["rooms"] = kPublicRooms + kOwnedRooms + kMemberRooms;
}

double ResidentKiB()
{
  long pages = 0;
  long resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

std::size_t StoreItemCount()
{
  std::size_t count = 0;
  for (auto const& [name, type] : d.Types()) count += type->GetItemCount();
  return count;
}

void BM_Code14RepeatedJoinMemory(benchmark::State& state)
{
  d.RemoveAllItems();
  LoggedInServer server;
  if (!server.IsConnected()) {
    state.SkipWithError("the server connection did not take the login reply");
    return;
  }
  QBuffer device;
  device.setData(RoomJoined("vault", kJoinUsers, true).Frame());
  device.open(QIODevice::ReadOnly);
  // Two joins first: the receive buffer and the allocator's pools reach their size.
  server.Feed(device);
  server.Feed(device);
  double const residentBefore = ResidentKiB();
  std::size_t const itemsBefore = StoreItemCount();
  for (auto _ : state)
    for (int i = 0; i < kRepeatedJoins; ++i) server.Feed(device);
  double const residentAfter = ResidentKiB();
  std::size_t const itemsAfter = StoreItemCount();
  state.counters["joins"] = kRepeatedJoins;
  state.counters["rss_before_KiB"] = residentBefore;
  state.counters["rss_after_KiB"] = residentAfter;
  state.counters["rss_growth_KiB"] = residentAfter - residentBefore;
  state.counters["items_before"] = static_cast<double>(itemsBefore);
  state.counters["items_growth"] = static_cast<double>(itemsAfter) - static_cast<double>(itemsBefore);
  std::printf("code 14, %d users, %d joins of the same room: resident %.0f -> %.0f KiB (%+.0f), "
              "store items %zu -> %zu\n",
              kJoinUsers, kRepeatedJoins, residentBefore, residentAfter, residentAfter - residentBefore,
              itemsBefore, itemsAfter);
}

}  // namespace

BENCHMARK(BM_Code14ParseOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Code14Dispatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Code64ParseOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Code64Dispatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Code14RepeatedJoinMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
