// The share index on a generated tree of 100,000 empty files in 1,000 folders: the
// first walk of a new shared folder, a rescan with nothing changed and a rescan after
// a tenth of the files were deleted. The baseline is a plain recursive listing of the
// same tree with QDirIterator in the same run, so the ratios show what indexing costs on
// top of reading the folders. Memory is the resident growth per shared file.
//
// Two odd layouts are walked beside it: a chain of 2,000 nested folders holding 4 files,
// and 15 folders of one file each where every folder has two links to the next (2^15
// paths to the last). Their time per folder walked is set against the flat tree's: it
// must not grow with depth. A third is a link farm into a folder the walk cannot list by
// its name (bytes that are no text): two links to each of the 500 folders there, each of
// which links to the next as well.

#include "common/BenchSupport.h"
#include "common/StoreServices.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/PartialFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace
{
constexpr int c_artists = 10;
constexpr int c_albumsPerArtist = 100;
constexpr int c_filesPerAlbum = 100;
constexpr int c_files = c_artists * c_albumsPerArtist * c_filesPerAlbum;

QString g_root;
std::vector<QString> g_deleted; // every tenth file
QString g_chainRoot;
QString g_linkRoot;
QString g_farmRoot;
constexpr int c_chainDepth = 2000;
constexpr int c_linkLevels = 14;
constexpr int c_farmLinks = 1000;
constexpr int c_farmFolders = 500;

// Each file has a name of its own, so every name, its lower-case twin and two of its
// tokens are items of their own: the heavier case for memory.
QString FilePath(int i_artist, int i_album, int i_track)
{
    int const l_number = (i_artist * c_albumsPerArtist + i_album) * c_filesPerAlbum + i_track;
    return QStringLiteral("%1/Artist %2/Album %3/%4 - Song %5.ogg")
        .arg(g_root)
        .arg(i_artist, 2, 10, QLatin1Char('0'))
        .arg(i_album, 3, 10, QLatin1Char('0'))
        .arg(i_track + 1, 2, 10, QLatin1Char('0'))
        .arg(l_number, 6, 10, QLatin1Char('0'));
}

bool MakeTree()
{
    for (int l_artist = 0; l_artist < c_artists; ++l_artist)
        for (int l_album = 0; l_album < c_albumsPerArtist; ++l_album)
            for (int l_track = 0; l_track < c_filesPerAlbum; ++l_track)
            {
                QString const l_path = FilePath(l_artist, l_album, l_track);
                if (l_track == 0 && !QDir().mkpath(QFileInfo(l_path).absolutePath()))
                    return false;
                QFile l_file(l_path);
                if (!l_file.open(QIODevice::WriteOnly))
                    return false;
                if (l_track % 10 == 5)
                    g_deleted.push_back(l_path);
            }
    return true;
}

bool MakeChain()
{
    QString l_folder = g_chainRoot;
    for (int l_level = 1; l_level <= c_chainDepth; ++l_level)
    {
        l_folder += QStringLiteral("/d");
        if (l_level % 500 == 0 &&
            (!QDir().mkpath(l_folder) ||
             !QFile(l_folder + QStringLiteral("/f.txt")).open(QIODevice::WriteOnly)))
            return false;
    }
    return true;
}

bool MakeLinkTree()
{
    auto const l_level = [](int i_level)
    { return g_linkRoot + QStringLiteral("/L%1").arg(i_level); };
    for (int l_index = 0; l_index <= c_linkLevels; ++l_index)
        if (!QDir().mkpath(l_level(l_index)) ||
            !QFile(l_level(l_index) + QStringLiteral("/f%1.txt").arg(l_index))
                 .open(QIODevice::WriteOnly))
            return false;
    for (int l_index = 0; l_index < c_linkLevels; ++l_index)
        if (!QFile::link(l_level(l_index + 1), l_level(l_index) + QStringLiteral("/a")) ||
            !QFile::link(l_level(l_index + 1), l_level(l_index) + QStringLiteral("/b")))
            return false;
    return true;
}

// Made and removed on raw bytes: Qt reads the name as another one.
QByteArray UnlistedFolder()
{
    return QFile::encodeName(g_farmRoot) + "/\xff";
}

bool MakeLinkFarm()
{
    auto const l_folder = [](int i_index)
    { return UnlistedFolder() + "/F" + QByteArray::number(i_index); };
    if (!QDir().mkpath(g_farmRoot + QStringLiteral("/links")) ||
        ::mkdir(UnlistedFolder(), 0755) != 0)
        return false;
    for (int l_index = 0; l_index < c_farmFolders; ++l_index)
        if (::mkdir(l_folder(l_index), 0755) != 0 ||
            ::close(::open(l_folder(l_index) + "/f.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) !=
                0 ||
            (l_index + 1 < c_farmFolders &&
             ::symlink(l_folder(l_index + 1), l_folder(l_index) + "/next") != 0))
            return false;
    for (int l_index = 0; l_index < c_farmLinks; ++l_index)
        if (::symlink(l_folder(l_index % c_farmFolders),
                      QFile::encodeName(g_farmRoot + QStringLiteral("/links/l%1").arg(l_index))) !=
            0)
            return false;
    return true;
}

long StatusKiB(char const* ip_field)
{
    QFile l_status(QStringLiteral("/proc/self/status"));
    if (!l_status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    for (QByteArray l_line = l_status.readLine(); !l_line.isEmpty(); l_line = l_status.readLine())
        if (l_line.startsWith(ip_field))
            return l_line.mid(int(std::strlen(ip_field))).trimmed().split(' ').value(0).toLong();
    return 0;
}

void StoreCounters(benchmark::State& io_state)
{
    std::size_t l_items = 0;
    for (auto const& [l_name, lp_type] : d.Types())
        l_items += lp_type->GetItemCount();
    io_state.counters["files"] = double(d["shared_file"]->GetItemCount());
    io_state.counters["folders"] = double(d["shared_file_folder"]->GetItemCount());
    io_state.counters["names"] = double(d["shared_file_name"]->GetItemCount());
    io_state.counters["tokens"] = double(d["search_token"]->GetItemCount());
    io_state.counters["items"] = double(l_items);
}

void ClearIndex()
{
    d.RemoveAllItems();
    SetSetting("shared_folder_counter", QStringLiteral("1"));
}

void BM_ListingBaseline(benchmark::State& io_state)
{
    for (auto l_ignored : io_state)
    {
        qint64 l_entries = 0;
        QDirIterator l_it(g_root, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
        while (l_it.hasNext())
        {
            l_it.next();
            ++l_entries;
        }
        io_state.counters["entries"] = double(l_entries);
    }
}

long g_rssBefore = 0;
long g_rssAfter = 0;
long g_peakBefore = 0;
long g_peakAfter = 0;

void BM_FirstAddSharedFolder(benchmark::State& io_state)
{
    for (auto l_ignored : io_state)
    {
        io_state.PauseTiming();
        ClearIndex();
        bool const l_first = g_rssBefore == 0;
        if (l_first)
        {
            g_rssBefore = StatusKiB("VmRSS:");
            g_peakBefore = StatusKiB("VmHWM:");
        }
        io_state.ResumeTiming();
        sharedFoldersManager->AddSharedFolder(g_root);
        io_state.PauseTiming();
        if (l_first)
        {
            g_rssAfter = StatusKiB("VmRSS:");
            g_peakAfter = StatusKiB("VmHWM:");
        }
        io_state.ResumeTiming();
    }
    StoreCounters(io_state);
}

void BM_RescanUnchanged(benchmark::State& io_state)
{
    int l_added = -1;
    int l_removed = -1;
    QObject l_context;
    QObject::connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, &l_context,
                     [&](int i_added, int i_removed) { l_added = i_added, l_removed = i_removed; });
    for (auto l_ignored : io_state)
        sharedFoldersManager->RescanShares();
    io_state.counters["added"] = l_added;
    io_state.counters["removed"] = l_removed;
    StoreCounters(io_state);
}

void BM_RescanAfterDeletingTenth(benchmark::State& io_state)
{
    int l_added = -1;
    int l_removed = -1;
    QObject l_context;
    QObject::connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, &l_context,
                     [&](int i_added, int i_removed) { l_added = i_added, l_removed = i_removed; });
    for (auto l_ignored : io_state)
    {
        io_state.PauseTiming();
        // Back to the whole tree, indexed, then a tenth of the files go.
        for (QString const& l_path : g_deleted)
            QFile(l_path).open(QIODevice::WriteOnly);
        sharedFoldersManager->RescanShares();
        for (QString const& l_path : g_deleted)
            QFile::remove(l_path);
        io_state.ResumeTiming();
        sharedFoldersManager->RescanShares();
    }
    io_state.counters["added"] = l_added;
    io_state.counters["removed"] = l_removed;
    StoreCounters(io_state);
}

// Folders walked by the last first walk of each layout.
std::map<std::string, double> g_foldersWalked;

void FirstWalk(benchmark::State& io_state, char const* ip_name, QString const& i_root)
{
    for (auto l_ignored : io_state)
    {
        io_state.PauseTiming();
        ClearIndex();
        io_state.ResumeTiming();
        sharedFoldersManager->AddSharedFolder(i_root);
    }
    StoreCounters(io_state);
    g_foldersWalked[ip_name] = double(d["shared_file_folder"]->GetItemCount());
}

void BM_FirstAddDeepChain(benchmark::State& io_state)
{
    FirstWalk(io_state, "BM_FirstAddDeepChain", g_chainRoot);
}

void BM_FirstAddLinkTree(benchmark::State& io_state)
{
    FirstWalk(io_state, "BM_FirstAddLinkTree", g_linkRoot + QStringLiteral("/L0"));
}

void BM_FirstAddLinkFarm(benchmark::State& io_state)
{
    FirstWalk(io_state, "BM_FirstAddLinkFarm", g_farmRoot);
}

constexpr int c_repetitions = 3;
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir l_dir;
    if (!l_dir.isValid())
        return 1;
    g_root = l_dir.filePath(QStringLiteral("Shared"));
    g_chainRoot = l_dir.filePath(QStringLiteral("Chain"));
    g_linkRoot = l_dir.filePath(QStringLiteral("Links"));
    g_farmRoot = l_dir.filePath(QStringLiteral("Farm"));
    bool const l_made = MakeTree() && MakeChain() && MakeLinkTree() && MakeLinkFarm();
    // Under a name it can read, the temporary folder can remove it.
    auto const l_rename = qScopeGuard(
        [] { ::rename(UnlistedFolder(), QFile::encodeName(g_farmRoot + "/unlisted")); });
    if (!l_made)
        return 1;

    bench::StartStoreServices();
    auto* lp_server = new Server();
    lp_server->CreateData();
    auto* lp_messenger = new PeerMessenger();
    auto* lp_shares = new SharedFoldersManager();
    // As in the client, where the transfer queues keep their records out of the index.
    lp_shares->SetPrivateFileTest(&PartialFile::IsRecord);

    bench::RegisterFastestOf(c_repetitions, "BM_ListingBaseline", BM_ListingBaseline);
    bench::RegisterFastestOf(c_repetitions, "BM_FirstAddSharedFolder", BM_FirstAddSharedFolder);
    bench::RegisterFastestOf(c_repetitions, "BM_RescanUnchanged", BM_RescanUnchanged);
    bench::RegisterFastestOf(c_repetitions, "BM_RescanAfterDeletingTenth",
                             BM_RescanAfterDeletingTenth);
    bench::RegisterFastestOf(c_repetitions, "BM_FirstAddDeepChain", BM_FirstAddDeepChain);
    bench::RegisterFastestOf(c_repetitions, "BM_FirstAddLinkTree", BM_FirstAddLinkTree);
    bench::RegisterFastestOf(c_repetitions, "BM_FirstAddLinkFarm", BM_FirstAddLinkFarm);
    bench::FastestReporter l_reporter;
    benchmark::RunSpecifiedBenchmarks(&l_reporter);

    double const l_listing = l_reporter.Seconds("BM_ListingBaseline");
    auto const l_ratio = [&](char const* ip_name) {
        double const l_seconds = l_reporter.Seconds(ip_name);
        return l_listing > 0 ? l_seconds / l_listing : 0.0;
    };
    std::printf("tree: %d files in %d folders\n", c_files, c_artists * c_albumsPerArtist);
    std::printf("first AddSharedFolder: %.1fx the listing (target 15x)\n", l_ratio("BM_FirstAddSharedFolder"));
    std::printf("rescan, nothing changed: %.1fx the listing (target 5x)\n", l_ratio("BM_RescanUnchanged"));
    std::printf("rescan after deleting 10%%: %.1fx the listing\n", l_ratio("BM_RescanAfterDeletingTenth"));
    // Root, artists and albums of the flat tree.
    double const l_flatFolders = 1 + c_artists + c_artists * c_albumsPerArtist;
    double const l_flatPerFolder = l_reporter.Seconds("BM_FirstAddSharedFolder") / l_flatFolders;
    for (char const* lp_name :
         {"BM_FirstAddDeepChain", "BM_FirstAddLinkTree", "BM_FirstAddLinkFarm"})
    {
        double const l_folders = g_foldersWalked[lp_name];
        double const l_perFolder = l_folders > 0 ? l_reporter.Seconds(lp_name) / l_folders : 0.0;
        std::printf("%s: %.0f folders walked, %.1f us per folder, %.2fx the flat tree's %.1f us "
                    "(target at most 2x)\n",
                    lp_name, l_folders, 1e6 * l_perFolder,
                    l_flatPerFolder > 0 ? l_perFolder / l_flatPerFolder : 0.0,
                    1e6 * l_flatPerFolder);
    }
    if (g_rssBefore > 0)
        std::printf("first build: resident +%ld KiB (%.0f bytes per file), peak +%ld KiB "
                    "(%.0f bytes per file; target 1536)\n",
                    g_rssAfter - g_rssBefore, 1024.0 * double(g_rssAfter - g_rssBefore) / c_files,
                    g_peakAfter - g_peakBefore, 1024.0 * double(g_peakAfter - g_peakBefore) / c_files);

    delete lp_shares;
    delete lp_messenger;
    delete lp_server;
    delete portForwarder;
    return 0;
}
