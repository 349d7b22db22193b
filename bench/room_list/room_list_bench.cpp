// The main window's room list under a large room list from the server.
// (1) A room list message (code 64) of 10,000 rooms, 1,000 of them owned, member or
//     operator rooms, written by a stand-in server on loopback: time from the write
//     until every row has its count and font and the list is in order.
// (2) Role changes at 10,000 rows: a room becomes a member room or stops being one,
//     one change per event-loop pass, each until the list is in order again.
// Baseline, in the same run: 10,000 plain QTreeWidget rows with the same texts and
// fonts, added to an unsorted tree and sorted once. The load is given in wall time and,
// as the machines are shared, in the GUI thread's CPU time beside the baseline's.
// One window per process (the store's types exist once), so each figure is one run.
// Offscreen unless QT_QPA_PLATFORM says otherwise; the store lives in a temporary home.

#include "app/MainWindow.h"
#include "common/BenchSupport.h"
#include "common/SettingsStore.h"
#include "net/server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "ui_MainWindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>

namespace
{
constexpr int c_rooms = 10000;
constexpr int c_owned = 300;
constexpr int c_member = 700;  // the first half of them operated
constexpr int c_roleChanges = 200;

// Wire bytes written by hand: u32 little-endian numbers, strings as u32 length + UTF-8.
class Bytes
{
public:
    Bytes& U32(quint32 i_value)
    {
        char l_bytes[4];
        qToLittleEndian(i_value, l_bytes);
        m_bytes.append(l_bytes, 4);
        return *this;
    }
    Bytes& Str(QByteArray const& i_text)
    {
        U32(quint32(i_text.size()));
        m_bytes.append(i_text);
        return *this;
    }
    QByteArray Framed() const { return Bytes().U32(quint32(m_bytes.size())).m_bytes + m_bytes; }
    QByteArray m_bytes;
};

// Names in no order, of mixed case, so that the list has to sort.
QByteArray RoomName(int i_index)
{
    int const l_scrambled = int((qint64(i_index) * 7919) % c_rooms);
    return QByteArray(l_scrambled % 2 ? "Room " : "room ") + QByteArray::number(l_scrambled);
}

QByteArray RoomListFrame()
{
    Bytes l_body;
    l_body.U32(64);
    auto const l_list = [&](int i_first, int i_end) {
        l_body.U32(quint32(i_end - i_first));
        for (int l_room = i_first; l_room < i_end; ++l_room)
            l_body.Str(RoomName(l_room));
        l_body.U32(quint32(i_end - i_first));
        for (int l_room = i_first; l_room < i_end; ++l_room)
            l_body.U32(quint32(l_room % 50 + 1));
    };
    int const l_public = c_rooms - c_owned - c_member;
    l_list(0, l_public);
    l_list(l_public, l_public + c_owned);
    l_list(l_public + c_owned, c_rooms);
    l_body.U32(quint32(c_member / 2));
    for (int l_room = l_public + c_owned; l_room < l_public + c_owned + c_member / 2; ++l_room)
        l_body.Str(RoomName(l_room));
    return l_body.Framed();
}

// Accepts the one login and keeps the connection for the room list.
class StandInServer : public QObject
{
public:
    bool Listen()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            mp_client = m_server.nextPendingConnection();
            connect(mp_client, &QTcpSocket::readyRead, this, [this] {
                mp_client->readAll();
                if (m_loggedIn)
                    return;
                m_loggedIn = true;
                Bytes l_login;
                l_login.U32(1).m_bytes.append('\1');
                l_login.Str("Welcome").U32(0x7F000001).Str("0123456789abcdef0123456789abcdef");
                mp_client->write(l_login.Framed());
            });
        });
        return m_server.listen(QHostAddress::LocalHost);
    }
    quint16 Port() const { return m_server.serverPort(); }
    QTcpSocket* Client() const { return mp_client; }

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> mp_client;
    bool m_loggedIn = false;
};

bool IsInOrder(QTreeWidget* ip_list)
{
    for (int l_row = 1; l_row < ip_list->topLevelItemCount(); ++l_row)
        if (*ip_list->topLevelItem(l_row) < *ip_list->topLevelItem(l_row - 1))
            return false;
    return true;
}

double Ms(qint64 i_nanoseconds)
{
    return double(i_nanoseconds) / 1e6;
}

StandInServer* gp_standIn = nullptr;

qint64 PlainRowsBaseline(QTreeWidget* ip_source, double& o_cpuMicroseconds)
{
    QTreeWidget l_plain;
    l_plain.setColumnCount(2);
    QList<QStringList> l_texts;
    QList<QFont> l_fonts;
    for (int l_row = 0; l_row < ip_source->topLevelItemCount(); ++l_row)
    {
        QTreeWidgetItem* const lp_row = ip_source->topLevelItem(l_row);
        l_texts.append({lp_row->text(0), lp_row->text(1)});
        l_fonts.append(lp_row->font(0));
    }
    QElapsedTimer l_clock;
    l_clock.start();
    double const l_cpuStart = bench::ThreadCpuMicroseconds();
    for (int l_row = 0; l_row < l_texts.size(); ++l_row)
        (new QTreeWidgetItem(&l_plain, l_texts[l_row]))->setFont(0, l_fonts[l_row]);
    l_plain.sortItems(0, Qt::AscendingOrder);
    QCoreApplication::processEvents();
    o_cpuMicroseconds = bench::ThreadCpuMicroseconds() - l_cpuStart;
    return l_clock.nsecsElapsed();
}

void BM_RoomList(benchmark::State& io_state)
{
    QTreeWidget* const lp_list = mainWindow->Form()->roomList;
    QByteArray const l_frame = RoomListFrame();
    for (auto _ : io_state)
    {
        // Public rooms are made only from a list the user asked for.
        gp_server->GetRoomList();
        QCoreApplication::processEvents();
        QByteArray const l_last = RoomName(c_rooms - 1);
        QElapsedTimer l_clock;
        l_clock.start();
        double const l_cpuStart = bench::ThreadCpuMicroseconds();
        gp_standIn->Client()->write(l_frame);
        bool const l_arrived = bench::WaitUntil(
            [&] {
                ItemPtr const l_room = d["room"]->HasItem(Value(l_last));
                return lp_list->topLevelItemCount() == c_rooms && l_room.IsConnected("user_count");
            },
            60000);
        // The pass that brought the rooms has ended; the list is sorted before the next paint.
        QCoreApplication::processEvents();
        qint64 const l_load = l_clock.nsecsElapsed();
        double const l_loadCpu = bench::ThreadCpuMicroseconds() - l_cpuStart;
        if (!l_arrived || !IsInOrder(lp_list) || lp_list->topLevelItem(0)->font(0).underline() != true)
        {
            io_state.SkipWithError("the room list did not arrive complete and in order");
            return;
        }

        QList<ItemPtr> l_rooms;
        for (int l_room = 0; l_room < c_roleChanges / 2; ++l_room)
            l_rooms.append(d["room"]->HasItem(Value(RoomName(l_room * 89))));
        l_clock.restart();
        for (bool l_becoming : {true, false})
            for (ItemPtr const& l_room : l_rooms)
            {
                if (l_becoming)
                    l_room.NewItem("is_member");
                else
                    l_room.Disconnect("is_member");
                QCoreApplication::processEvents();
            }
        qint64 const l_changes = l_clock.nsecsElapsed();
        if (!IsInOrder(lp_list))
        {
            io_state.SkipWithError("the list was out of order after the role changes");
            return;
        }

        double l_baselineCpu = 0;
        qint64 const l_baseline = PlainRowsBaseline(lp_list, l_baselineCpu);
        double const l_perChange = Ms(l_changes) / c_roleChanges;
        io_state.SetIterationTime(double(l_load) / 1e9);
        io_state.counters["load_ms"] = Ms(l_load);
        io_state.counters["baseline_ms"] = Ms(l_baseline);
        io_state.counters["load_x_baseline"] = double(l_load) / double(l_baseline);
        io_state.counters["load_cpu_x_baseline_cpu"] = l_loadCpu / l_baselineCpu;
        io_state.counters["role_change_ms"] = l_perChange;
        io_state.counters["change_x_baseline"] = l_perChange / Ms(l_baseline);
        std::printf("room list of %d rooms: %.1f ms; baseline (plain rows, sorted once) %.1f ms; "
                    "ratio %.2f; role change at %d rows: %.2f ms (%.2f of the baseline)\n",
                    c_rooms, Ms(l_load), Ms(l_baseline), double(l_load) / double(l_baseline),
                    c_rooms, l_perChange, l_perChange / Ms(l_baseline));
        std::printf(
            "GUI thread CPU: room list %.1f ms; baseline %.1f ms; ratio %.2f (target <= 3)\n",
            l_loadCpu / 1000, l_baselineCpu / 1000, l_loadCpu / l_baselineCpu);
    }
}
BENCHMARK(BM_RoomList)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    bench::UseOffscreenPlatform();
    QTemporaryDir l_home;
    if (!l_home.isValid())
        return 1;
    qputenv("HOME", l_home.path().toUtf8());
    QApplication l_application(argc, argv);

    StandInServer l_standIn;
    gp_standIn = &l_standIn;
    // Loopback only: no gateway search, no version file from the web.
    if (!l_standIn.Listen() ||
        !bench::WriteSettingsStore(DataSaver::StoreFilePath(),
                                   {{"username", "bench"},
                                    {"password", "pw"},
                                    {"server_host", "127.0.0.1"},
                                    {"server_port", QByteArray::number(l_standIn.Port())}}))
        return 1;
    MainWindow* const lp_window = new MainWindow;
    lp_window->show();
    lp_window->Init();
    if (!bench::WaitUntil([] { return gp_server->IsConnected() && gp_standIn->Client(); }, 10000))
    {
        std::fprintf(stderr, "no login at the stand-in server\n");
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete lp_window;
    return 0;
}
