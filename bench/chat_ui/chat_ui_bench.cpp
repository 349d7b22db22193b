// Chat UI benchmark, GUI-thread time, each figure beside a baseline of the same run.
// (1) 100,000 room lines through RoomForm::OnRoomChat, logged to a temporary home, the
//     view's cap engaged; baseline: QTextBrowser::append of the same HTML lines into a
//     plain browser. Both views are shown, and posted events run every 100 lines.
// (2) One code 14 frame of 10,000 members handed to Server::ReceiveFrom with the room's
//     tab open; baseline: the same frame with no tab.
// (3) Opening a 20 MB log of 200,000 lines in ChatLogForm; baseline: setPlainText of the
//     same text into a QTextEdit.
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include "common/BenchSupport.h"
#include "common/StoreServices.h"
#include "ui/chat/ChatLines.h"
#include "ui/chat/ChatLogFiles.h"
#include "ui/chat/ChatLogForm.h"
#include "ui/chat/RoomForm.h"

#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextEdit>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>

namespace
{
constexpr int kLines = 100000;
constexpr int kMembers = 10000;
constexpr int kLogLines = 200000;

// Thread CPU time: the machines this runs on are shared.
double Now()
{
    timespec l_time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_time);
    return double(l_time.tv_sec) + double(l_time.tv_nsec) * 1e-9;
}
std::map<std::string, double> g_figures;

void ProcessPostedEvents()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// Wire bytes written by hand, little-endian.
class Bytes
{
public:
    Bytes& U32(std::uint32_t i_value)
    {
        for (int l_shift = 0; l_shift < 32; l_shift += 8)
            m_bytes.append(static_cast<char>((i_value >> l_shift) & 0xff));
        return *this;
    }
    Bytes& U64(std::uint64_t i_value)
    {
        U32(static_cast<std::uint32_t>(i_value));
        return U32(static_cast<std::uint32_t>(i_value >> 32));
    }
    Bytes& U8(char i_value)
    {
        m_bytes.append(i_value);
        return *this;
    }
    Bytes& Str(QString const& i_text)
    {
        QByteArray const l_utf8 = i_text.toUtf8();
        U32(static_cast<std::uint32_t>(l_utf8.size()));
        m_bytes.append(l_utf8);
        return *this;
    }
    QByteArray Framed() const { return Bytes().U32(static_cast<std::uint32_t>(m_bytes.size())).m_bytes + m_bytes; }
    QByteArray m_bytes;
};

// The store schema the chat forms need, a home of its own for the logs, and a server
// connection that believes it is logged in (a loopback listener that never answers).
struct Environment
{
    QTemporaryDir m_home;
    QTcpServer m_listener;
    std::unique_ptr<Server> mp_server;

    Environment()
    {
        qputenv("HOME", m_home.path().toUtf8());
        new DataSaver();
        DeclareSettingsTypes();
        m_listener.listen(QHostAddress::LocalHost, 0);
        bench::AimAtLoopbackServer(m_listener.serverPort());
        mp_server = std::make_unique<Server>();
        mp_server->CreateData();
        for (char const* l_node : {"room_form", "chat_log_form"})
            d.NewType(l_node, Primary, false, true)->RelateToType(d["room"], One, One);
        d.NewType("user_note", Secondary, false, true);
        d["user"]->RelateToType(d["user_note"], Many, One);
        SetSetting("chat_timestamps", QStringLiteral("per_message_short"));
        SetSetting("log_room_chat", QStringLiteral("yes"));
        SetSetting("color_chat_timestamp", QStringLiteral("#808080"));
        SetSetting("color_chat_username", QStringLiteral("#0000c0"));
        SetSetting("color_chat_status", QStringLiteral("#008000"));

        mp_server->Connect();
        Bytes l_login;
        l_login.U32(1).U8('\x01').Str(QStringLiteral("welcome")).U32(0).Str(QStringLiteral("hash"));
        Feed(l_login.Framed());
    }

    void Feed(QByteArray const& i_bytes)
    {
        QBuffer l_device;
        l_device.setData(i_bytes);
        l_device.open(QIODevice::ReadOnly);
        mp_server->ReceiveFrom(l_device);
    }
};

Environment& Env()
{
    static Environment* s_environment = new Environment;
    return *s_environment;
}

QString LineText(int i_index)
{
    switch (i_index % 4) {
    case 0: return QStringLiteral("hello everyone, anyone got the live recordings from %1?").arg(i_index);
    case 1: return QStringLiteral("see https://example.com/albums/%1?page=2 for the list").arg(i_index);
    case 2: return QStringLiteral("ok");
    default: return QStringLiteral("a somewhat longer line of chat that goes on about bitrates and <tags> & such, number %1").arg(i_index);
    }
}

QString Speaker(int i_index)
{
    return QStringLiteral("user%1").arg(i_index % 37);
}

void BM_RoomLines(benchmark::State& state)
{
    Env();
    for (auto _ : state) {
        QDir(ChatLogFolder(ChatLogKind::Room)).removeRecursively();
        QWidget l_window;
        QHBoxLayout* const lp_layout = new QHBoxLayout(&l_window);
        RoomForm* const lp_room = new RoomForm(QStringLiteral("bench room"));
        lp_layout->addWidget(lp_room);
        l_window.resize(900, 600);
        l_window.show();
        ProcessPostedEvents();
        double const l_start = Now();
        for (int l_index = 0; l_index < kLines; ++l_index) {
            lp_room->OnRoomChat(QStringLiteral("bench room"), Speaker(l_index), LineText(l_index));
            if (l_index % 100 == 99)
                ProcessPostedEvents();
        }
        ProcessPostedEvents();
        double const l_seconds = Now() - l_start;
        state.SetIterationTime(l_seconds);
        g_figures["lines"] = l_seconds * 1e6 / kLines;
        benchmark::DoNotOptimize(lp_room->ChatView()->document()->blockCount());
        d["room"]->GetItem(Value("bench room")).Disconnect("in_room");
    }
}

void BM_RoomLines_Baseline(benchmark::State& state)
{
    Env();
    QStringList l_html;
    for (int l_index = 0; l_index < kLines; ++l_index)
        l_html << ChatLines::ChatLineHtml(QStringLiteral("per_message_short"), QDateTime::currentDateTime(),
                                          Speaker(l_index), LineText(l_index), QStringLiteral("#808080"),
                                          QStringLiteral("#0000c0"));
    for (auto _ : state) {
        QWidget l_window;
        QHBoxLayout* const lp_layout = new QHBoxLayout(&l_window);
        QTextBrowser* const lp_view = new QTextBrowser;
        lp_layout->addWidget(lp_view);
        l_window.resize(900, 600);
        l_window.show();
        ProcessPostedEvents();
        double const l_start = Now();
        for (int l_index = 0; l_index < kLines; ++l_index) {
            lp_view->append(l_html[l_index]);
            if (l_index % 100 == 99)
                ProcessPostedEvents();
        }
        ProcessPostedEvents();
        double const l_seconds = Now() - l_start;
        state.SetIterationTime(l_seconds);
        g_figures["lines baseline"] = l_seconds * 1e6 / kLines;
    }
}

QByteArray JoinFrame()
{
    Bytes l_message;
    l_message.U32(14).Str(QStringLiteral("big room")).U32(kMembers);
    for (int l_index = 0; l_index < kMembers; ++l_index)
        l_message.Str(QStringLiteral("member%1").arg(l_index));
    l_message.U32(kMembers);
    for (int l_index = 0; l_index < kMembers; ++l_index)
        l_message.U32(0);
    l_message.U32(kMembers);
    for (int l_index = 0; l_index < kMembers; ++l_index)
        l_message.U32(1024 * (l_index % 500)).U64(0).U32(l_index * 7).U32(l_index % 50);
    l_message.U32(kMembers);
    for (int l_index = 0; l_index < kMembers; ++l_index)
        l_message.U32(0);
    l_message.U32(kMembers);
    for (int l_index = 0; l_index < kMembers; ++l_index)
        l_message.Str(l_index % 3 ? QStringLiteral("DE") : QStringLiteral("FR"));
    return l_message.Framed();
}

// Every member and attribute item gone again, so that each round meets new users.
void ForgetMembers()
{
    ItemPtr const l_room = d["room"]->GetItem(Value("big room"));
    l_room.Disconnect("in_room");
    l_room.Disconnect("user");
    for (char const* l_type : {"user", "average_download_speed", "shared_files_count", "country_code", "user_count"})
        d[l_type]->RemoveAllItems();
    StoreOperation::FreeRemovedItems();
}

void Join(benchmark::State& state, bool i_withTab, char const* i_figure)
{
    Environment& l_env = Env();
    QByteArray const l_frame = JoinFrame();
    for (auto _ : state) {
        ForgetMembers();
        QWidget l_window;
        QHBoxLayout* const lp_layout = new QHBoxLayout(&l_window);
        if (i_withTab)
            lp_layout->addWidget(new RoomForm(QStringLiteral("big room")));
        l_window.resize(900, 600);
        l_window.show();
        ProcessPostedEvents();
        double const l_start = Now();
        l_env.Feed(l_frame);
        ProcessPostedEvents();
        double const l_seconds = Now() - l_start;
        state.SetIterationTime(l_seconds);
        g_figures[i_figure] += l_seconds * 1e3;
        g_figures[std::string(i_figure) + " rounds"] += 1;
    }
}

void BM_Join_WithTab(benchmark::State& state)
{
    Join(state, true, "join");
}

void BM_Join_Baseline(benchmark::State& state)
{
    Join(state, false, "join baseline");
}

QString LogPath()
{
    return ChatLogPath(ChatLogKind::User, QStringLiteral("big log"));
}

void WriteBigLog()
{
    QDir().mkpath(ChatLogFolder(ChatLogKind::User));
    QFile l_file(LogPath());
    l_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QByteArray l_bytes;
    for (int l_index = 0; l_index < kLogLines; ++l_index)
        l_bytes += "[Dec 7 9:26:19 am][" + Speaker(l_index).toUtf8() + "] " + LineText(l_index).toUtf8() +
                   QByteArray(40, 'x') + "\n";
    l_file.write(l_bytes);
}

void BM_OpenLog(benchmark::State& state)
{
    Env();
    WriteBigLog();
    for (auto _ : state) {
        double const l_start = Now();
        ChatLogForm l_viewer(LogPath());
        ProcessPostedEvents();
        double const l_seconds = Now() - l_start;
        state.SetIterationTime(l_seconds);
        benchmark::DoNotOptimize(l_viewer.logEdit->document()->blockCount());
        g_figures["open log"] += l_seconds * 1e3;
        g_figures["open log rounds"] += 1;
    }
}

void BM_OpenLog_Baseline(benchmark::State& state)
{
    Env();
    WriteBigLog();
    QFile l_file(LogPath());
    l_file.open(QIODevice::ReadOnly);
    QString const l_text = QString::fromUtf8(l_file.readAll());
    for (auto _ : state) {
        double const l_start = Now();
        QTextEdit l_edit;
        l_edit.setReadOnly(true);
        l_edit.setPlainText(l_text);
        ProcessPostedEvents();
        double const l_seconds = Now() - l_start;
        state.SetIterationTime(l_seconds);
        benchmark::DoNotOptimize(l_edit.document()->blockCount());
        g_figures["open log baseline"] += l_seconds * 1e3;
        g_figures["open log baseline rounds"] += 1;
    }
}

double Mean(char const* i_name)
{
    double const l_rounds = g_figures[std::string(i_name) + " rounds"];
    return l_rounds > 0 ? g_figures[i_name] / l_rounds : g_figures[i_name];
}

void PrintSummary()
{
    auto const l_ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    struct Row
    {
        char const* label;
        char const* figure;
        char const* baseline;
        char const* unit;
        char const* target;
    };
    Row const l_rows[] = {
        {"room line (cap engaged, logged)", "lines", "lines baseline", "us", "<= 5"},
        {"join of 10,000 members", "join", "join baseline", "ms", "<= 2.5"},
        {"opening a 20 MB log", "open log", "open log baseline", "ms", "<= 2"},
    };
    std::printf("\nChat UI against plain Qt doing the same visible work (same run):\n");
    std::printf("%-34s %12s %12s %7s %s\n", "operation", "figure", "baseline", "ratio", "target");
    for (Row const& l_row : l_rows) {
        double const l_figure = Mean(l_row.figure);
        double const l_base = Mean(l_row.baseline);
        std::printf("%-34s %9.2f %s %9.2f %s %7.2f %s\n", l_row.label, l_figure, l_row.unit, l_base,
                    l_row.unit, l_ratio(l_figure, l_base), l_row.target);
    }
    std::fflush(stdout);
}
} // namespace

BENCHMARK(BM_RoomLines_Baseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RoomLines)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Join_Baseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Join_WithTab)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenLog_Baseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenLog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv)
{
    bench::UseOffscreenPlatform();
    QApplication l_application(argc, argv);
    return bench::RunBenchmarks(argc, argv, PrintSummary);
}
