// The store file against power cuts, unreadable files and memory running out. This
// executable replaces fsync (to see what is synced, and when) and the global
// allocation functions (to make large allocations fail on demand), so it runs apart.

#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/LogCapture.h"
#include "support/StoreFileBytes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// What an fsync call saw: the synced path, whether it is a folder, and the files in
// the store's folder at that moment.
struct SyncCall
{
    QString m_path;
    bool m_isFolder;
    QStringList m_filesThen;
};

QString g_watchedFolder;
std::vector<SyncCall> g_syncs;
bool g_failFolderSync = false;

// Allocations of at least this many bytes fail while it is not 0.
std::size_t g_failAllocationsFrom = 0;
} // namespace

extern "C" int fsync(int descriptor)
{
    using Sync = int (*)(int);
    static Sync const s_sync = reinterpret_cast<Sync>(dlsym(RTLD_NEXT, "fsync"));
    if (!g_watchedFolder.isEmpty())
    {
        char l_target[4096];
        ssize_t const l_length =
            readlink(QByteArray("/proc/self/fd/" + QByteArray::number(descriptor)).constData(),
                     l_target, sizeof l_target);
        struct stat l_status
        {
        };
        bool const l_isFolder = fstat(descriptor, &l_status) == 0 && S_ISDIR(l_status.st_mode);
        g_syncs.push_back({QFile::decodeName(QByteArray(l_target, l_length > 0 ? l_length : 0)),
                           l_isFolder, QDir(g_watchedFolder).entryList(QDir::Files)});
        if (l_isFolder && g_failFolderSync)
        {
            errno = EIO;
            return -1;
        }
    }
    return s_sync(descriptor);
}

// Replacements of every non-aligned form, so that what one allocates the other frees.
void* operator new(std::size_t size)
{
    void* const lp_memory = g_failAllocationsFrom != 0 && size >= g_failAllocationsFrom
                                ? nullptr
                                : std::malloc(size ? size : 1);
    if (!lp_memory)
        throw std::bad_alloc();
    return lp_memory;
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, std::nothrow_t const&) noexcept
{
    return g_failAllocationsFrom != 0 && size >= g_failAllocationsFrom
               ? nullptr
               : std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, std::nothrow_t const& tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

class TestStoreFileSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void folderIsSyncedAfterTheRename();
    void unreadableFileIsKeptAside();

private:
    QString Path() const { return m_dir->filePath(QStringLiteral("store")); }
    QString Damaged() const { return Path() + QStringLiteral(".damaged"); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataSaver> m_saver;
};

void TestStoreFileSafety::initTestCase()
{
    QVERIFY(QDir().mkpath(QDir::homePath()));
    DataSaver l_saver;
    DeclareSettingsTypes();
    d.NewType("s_entry", Primary, true, false);
}

void TestStoreFileSafety::init()
{
    d.RemoveAllItems();
    m_dir = std::make_unique<QTemporaryDir>(QDir::homePath() + QStringLiteral("/safety-XXXXXX"));
    QVERIFY(m_dir->isValid());
    m_saver = std::make_unique<DataSaver>();
    DeclareSettingsTypes();
    m_saver->AddSavedType("s_entry");
}

void TestStoreFileSafety::cleanup()
{
    g_watchedFolder.clear();
    g_failFolderSync = false;
    g_failAllocationsFrom = 0;
    m_saver.reset();
    m_dir.reset();
}

void TestStoreFileSafety::folderIsSyncedAfterTheRename()
{
    SetSetting("username", QStringLiteral("zoe"));
    QString const l_folder = QDir(m_dir->path()).canonicalPath();
    // The last sync is the folder's, made once the new file has its name; a folder
    // that cannot be synced fails the save, though the new file is in place.
    for (bool const l_fail : {false, true})
    {
        g_syncs.clear();
        g_watchedFolder = l_folder;
        g_failFolderSync = l_fail;
        LogCapture l_log;
        bool const l_saved = m_saver->Save(Path());
        g_watchedFolder.clear();
        QCOMPARE(l_saved, !l_fail);
        QVERIFY(g_syncs.size() >= 2);
        QCOMPARE(g_syncs.front().m_path, l_folder + QStringLiteral("/store.1"));
        QVERIFY(!g_syncs.front().m_isFolder);
        QCOMPARE(g_syncs.back().m_path, l_folder);
        QVERIFY(g_syncs.back().m_isFolder);
        QCOMPARE(g_syncs.back().m_filesThen, QStringList({"store"}));
        QCOMPARE(l_log.Count("Configuration Data", 1, "Failure to save configuration data."),
                 l_fail ? 1 : 0);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList({"store"}));
    }
}

void TestStoreFileSafety::unreadableFileIsKeptAside()
{
    // Enough entries that the load's working tables need more than a megabyte.
    for (int l_index = 0; l_index < 60000; ++l_index)
        d.GetType("s_entry")->NewItem();
    QVERIFY(m_saver->Save(Path()));
    QByteArray const l_large = ReadFile(Path());
    d.RemoveAllItems();
    SetSetting("username", QStringLiteral("default"));

    // A handler that saves at once, as a shell might: the bad file must be aside by then.
    struct SavingHandler final : DataLoadedEventHandler
    {
        void DataLoaded() override
        {
            g_failAllocationsFrom = 0;
            m_saved = dataSaver->Save(m_path);
        }
        QString m_path;
        bool m_saved = false;
    } l_handler;
    l_handler.m_path = Path();
    m_saver->AddDataLoadedEventHandler(&l_handler);

    // Broken files, and a sound one while memory runs short; each failure replaces the
    // copy the one before left.
    struct Case
    {
        QByteArray m_bytes;
        std::size_t m_failAllocationsFrom;
    };
    QList<Case> const l_cases{{l_large.left(l_large.size() - 3), 0},
                              {FileBytes().Int(-1).Int(0).Bytes(), 0},
                              {l_large, std::size_t(1) << 20}};
    for (Case const& l_case : l_cases)
    {
        QVERIFY(WriteFile(Path(), l_case.m_bytes));
        LogCapture l_log;
        l_handler.m_saved = false;
        g_failAllocationsFrom = l_case.m_failAllocationsFrom;
        QVERIFY_THROWS_EXCEPTION(DataLoadFailure, m_saver->Load(Path()));
        QCOMPARE(ReadFile(Damaged()), l_case.m_bytes);
        QCOMPARE(
            l_log.Count("Configuration Data", 1,
                        QStringLiteral("Unreadable configuration data kept as %1.").arg(Damaged())),
            1);
        QVERIFY(l_handler.m_saved);
        QCOMPARE(d.GetType("s_entry")->GetItemCount(), std::size_t(0));
        QCOMPARE(GetSetting("username"), QStringLiteral("default"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
                 QStringList({"store", "store.damaged"}));
    }
}

QTEST_GUILESS_MAIN(TestStoreFileSafety)
#include "tst_store_file_safety.moc"
