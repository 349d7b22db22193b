#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/LogCapture.h"
#include "support/StoreFileBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <functional>
#include <linux/capability.h>
#include <memory>
#include <new>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

class CountingHandler final : public DataLoadedEventHandler
{
public:
    explicit CountingHandler(std::vector<void*>* order = nullptr) : mp_order(order) {}
    void DataLoaded() override
    {
        ++m_calls;
        if (mp_order)
            mp_order->push_back(this);
    }
    int m_calls = 0;
    std::vector<void*>* mp_order;
};

// Notes what the store looks like at the moment DataLoaded() arrives.
class SnapshotHandler final : public DataLoadedEventHandler
{
public:
    explicit SnapshotHandler(std::function<QString()> look) : m_look(std::move(look)) {}
    void DataLoaded() override { m_seen << m_look(); }
    std::function<QString()> m_look;
    QStringList m_seen;
};

// Registers another handler while the handlers run; that one must not be called.
class RegisteringHandler final : public DataLoadedEventHandler
{
public:
    explicit RegisteringHandler(DataLoadedEventHandler* late) : mp_late(late) {}
    void DataLoaded() override { dataSaver->AddDataLoadedEventHandler(mp_late); }
    DataLoadedEventHandler* mp_late;
};

// An independent reader of the format, for checking what the writer produced.
struct ParsedFile
{
    bool m_complete = false;
    QStringList m_sections; // "name/nullflag"
    QList<qint32> m_ids;
    QMap<qint32, QString> m_values;
    QList<QPair<qint32, qint32>> m_pairs;
};

ParsedFile ParseFile(QByteArray const& bytes)
{
    ParsedFile l_file;
    qsizetype l_position = 0;
    auto l_int = [&](qint32& value)
    {
        if (bytes.size() - l_position < 4)
            return false;
        value = qFromLittleEndian<qint32>(bytes.constData() + l_position);
        l_position += 4;
        return true;
    };
    auto l_text = [&](QString& value)
    {
        qint32 l_length = 0;
        if (!l_int(l_length) || l_length < 0 || bytes.size() - l_position < l_length)
            return false;
        value = QString::fromUtf8(bytes.mid(l_position, l_length));
        l_position += l_length;
        return true;
    };
    qint32 l_types = 0;
    if (!l_int(l_types))
        return l_file;
    for (qint32 l_type = 0; l_type < l_types; ++l_type)
    {
        QString l_name;
        if (!l_text(l_name) || l_position >= bytes.size())
            return l_file;
        bool const l_null = bytes.at(l_position++) != 0;
        l_file.m_sections << l_name + (l_null ? QStringLiteral("/1") : QStringLiteral("/0"));
        qint32 l_count = 0;
        if (!l_int(l_count))
            return l_file;
        for (qint32 l_item = 0; l_item < l_count; ++l_item)
        {
            qint32 l_id = 0;
            QString l_value;
            if (!l_int(l_id) || (!l_null && !l_text(l_value)))
                return l_file;
            l_file.m_ids << l_id;
            l_file.m_values[l_id] = l_value;
        }
    }
    qint32 l_pairs = 0;
    if (!l_int(l_pairs))
        return l_file;
    for (qint32 l_pair = 0; l_pair < l_pairs; ++l_pair)
    {
        qint32 l_low = 0;
        qint32 l_high = 0;
        if (!l_int(l_low) || !l_int(l_high))
            return l_file;
        l_file.m_pairs << qMakePair(l_low, l_high);
    }
    l_file.m_complete = l_position == bytes.size();
    return l_file;
}

QString Describe(ItemPtr item)
{
    return QString::fromStdString(item.GetType()->Name()) + QLatin1Char('=') +
           (item.GetType()->IsNull() ? QStringLiteral("()")
                                     : QString::fromStdString(item.AsStdString()));
}

// The store's content: every item of the given types with what it is connected to,
// sorted. By value it is equal before and after a round trip; by identity it also
// proves that the very same items are still there.
QStringList Content(QStringList const& typeNames, bool byIdentity = false)
{
    auto const l_name = [byIdentity](ItemPtr item) {
        return byIdentity ? QString::number(quintptr(item.GetPtr())) + Describe(item)
                          : Describe(item);
    };
    QStringList l_lines;
    for (QString const& l_typeName : typeNames)
    {
        ItemSet const l_items = d.GetType(l_typeName.toStdString())->GetItems();
        for (ItemPtr const& l_item : l_items)
        {
            QStringList l_connected;
            for (auto const& l_group : l_item->Connections())
                for (ItemPtr const& l_other : l_group.second)
                    l_connected << l_name(l_other);
            l_connected.sort();
            l_lines << l_name(l_item) + QStringLiteral(" -> ") + l_connected.join(QLatin1Char(','));
        }
    }
    l_lines.sort();
    return l_lines;
}

// Logs the item and connection events of files and names as handlers registered
// before a load see them.
class FileNameLog final : public DataHandler
{
public:
    FileNameLog()
    {
        for (char const* lp_name : {"t_file", "t_name"})
        {
            Type* const lp_type = d.GetType(lp_name);
            lp_type->m_itemAddedEvent.AddHandler(CreateHandler(this, &FileNameLog::OnAdded));
            lp_type->m_connectedEvent.AddHandler(CreateHandler(this, &FileNameLog::OnConnected));
            lp_type->m_disconnectedEvent.AddHandler(
                CreateHandler(this, &FileNameLog::OnDisconnected));
        }
        d.m_itemAddedEvent.AddHandler(CreateHandler(this, &FileNameLog::OnStoreAdded));
    }
    ~FileNameLog() override { RemoveDataHandlers(); }

    QStringList m_lines;

private:
    static QString Short(ItemPtr item)
    {
        return QString::fromStdString(item.GetType()->Name()).mid(2) + QLatin1Char(':') +
               QString::fromStdString(item.AsStdString());
    }
    void OnAdded(ItemPtr item) { m_lines << QStringLiteral("added ") + Short(item); }
    void OnStoreAdded(ItemPtr item)
    {
        if (item.GetType() == d.GetType("t_file") || item.GetType() == d.GetType("t_name"))
            m_lines << QStringLiteral("store added ") + Short(item);
    }
    void OnConnected(ConnectionInfo info)
    {
        m_lines << QStringLiteral("+ ") + Short(info.first) + QLatin1Char('/') + Short(info.second);
    }
    void OnDisconnected(ConnectionInfo info)
    {
        m_lines << QStringLiteral("- ") + Short(info.first) + QLatin1Char('/') + Short(info.second);
    }
};

// What happens to the names in one directory while it is watched: which files are
// created, moved away, moved in and deleted, in order.
class DirectoryEvents
{
public:
    explicit DirectoryEvents(QString const& path) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            m_watch = inotify_add_watch(m_fd, QFile::encodeName(path).constData(),
                                        IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE);
    }
    ~DirectoryEvents()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool IsValid() const { return m_fd >= 0 && m_watch >= 0; }

    // The events queued so far; the kernel queues them inside the calls that cause them.
    QStringList Take()
    {
        QStringList l_events;
        alignas(inotify_event) char l_buffer[8192];
        for (;;)
        {
            ssize_t const l_read = ::read(m_fd, l_buffer, sizeof l_buffer);
            if (l_read <= 0)
                return l_events;
            for (ssize_t l_offset = 0; l_offset < l_read;)
            {
                auto const* const lp_event =
                    reinterpret_cast<inotify_event const*>(l_buffer + l_offset);
                QString const l_name =
                    lp_event->len ? QFile::decodeName(lp_event->name) : QString();
                if (lp_event->mask & IN_CREATE)
                    l_events << QStringLiteral("create ") + l_name;
                if (lp_event->mask & IN_MOVED_FROM)
                    l_events << QStringLiteral("move from ") + l_name;
                if (lp_event->mask & IN_MOVED_TO)
                    l_events << QStringLiteral("move to ") + l_name;
                if (lp_event->mask & IN_DELETE)
                    l_events << QStringLiteral("delete ") + l_name;
                l_offset += ssize_t(sizeof(inotify_event) + lp_event->len);
            }
        }
    }

private:
    int m_fd;
    int m_watch = -1;
};

// Root ignores directory permissions; dropping the override from the effective set
// (it stays permitted) lets a test see what an ordinary user would.
class WithoutDacOverride
{
public:
    WithoutDacOverride()
    {
        if (geteuid() != 0)
            return;
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct l_reduced[2] = {m_saved[0], m_saved[1]};
        l_reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        m_active = syscall(SYS_capset, &m_header, l_reduced) == 0;
    }
    ~WithoutDacOverride()
    {
        if (m_active)
            syscall(SYS_capset, &m_header, m_saved);
    }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};

} // namespace

class TestDataSaver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writesTheDocumentedExample();
    void nothingRegisteredGivesEightBytes();
    void temporaryFileTakesFirstFreeNumber();
    void temporaryNameIsLiteralAndSkipsDeadLinks();
    void pairsAreSortedSmallerFirstAndUnique();
    void byConnectionTypesSaveOnlyQualifyingItems();
    void zeroByteValueIsWrittenWholeAndReadBackCut();
    void roundTripRestoresItemsFlagsAndConnections();
    void loadedSettingsReplaceDefaults();
    void unknownSectionsAndDanglingPairsAreSkipped();
    void schemaMismatchesAreSkipped();
    void idsMayComeInAnyOrderAndRepeat();
    void missingFileRunsHandlersOnly();
    void loadFiresTheEventsOfOrdinaryCreation();
    void everyTruncationLeavesTheStoreUntouched();
    void corruptCountsAndLengthsFailTheLoad();
    void failedWriteKeepsOldFileAndRemovesTemporary();
    void refusingDirectoryKeepsOldFile();
    void failedRenameKeepsOldFile();
    void runningOutOfMemoryKeepsOldFileAndRemovesTemporary();
    void itemsJoinedToThemselvesComeBack();
    void onlySavedTypesAreLoaded();

private:
    QString Path() const { return m_dir->filePath(QStringLiteral("store")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataSaver> m_saver;
};

void TestDataSaver::initTestCase()
{
    // The per-test home folder need not exist yet; the store file lives there.
    QVERIFY(QDir().mkpath(QDir::homePath()));
    {
        // Each test builds its own saver; this one only lets the types be declared.
        DataSaver l_saver;
        DeclareSettingsTypes();
    }
    // A small share-like schema: files with names and sizes, a flag, and users with notes.
    Type* const lp_file = d.NewType("t_file", Primary, false, false);
    Type* const lp_name = d.NewType("t_name", Secondary, false, true);
    Type* const lp_size = d.NewType("t_size", Tertiary, false, true);
    Type* const lp_flag = d.NewType("t_flag", Secondary, true, false);
    Type* const lp_user = d.NewType("t_user", Secondary, false, true);
    Type* const lp_note = d.NewType("t_note", Primary, false, true);
    Type* const lp_node = d.NewType("t_node", Primary, true, false);
    d.NewType("t_lonely", Primary, false, true);
    Type* const lp_link = d.NewType("t_link", Primary, false, true);
    lp_link->RelateToType(lp_link, Many, Many, false);
    lp_file->RelateToType(lp_name, Many, One, false);
    lp_file->RelateToType(lp_size, Many, One, false);
    lp_file->RelateToType(lp_flag, Many, One, false);
    lp_file->RelateToType(lp_user, Many, Many, false);
    lp_user->RelateToType(lp_note, One, One, false);
    lp_user->RelateToType(lp_flag, Many, One, false);
    lp_node->RelateToType(lp_file, Many, Many, false);
}

void TestDataSaver::init()
{
    d.RemoveAllItems();
    m_dir = std::make_unique<QTemporaryDir>(QDir::homePath() + QStringLiteral("/saver-XXXXXX"));
    QVERIFY(m_dir->isValid());
    m_saver = std::make_unique<DataSaver>();
    QCOMPARE(dataSaver, m_saver.get());
}

void TestDataSaver::cleanup()
{
    m_saver.reset();
    QVERIFY(dataSaver == nullptr);
    m_dir.reset();
}

void TestDataSaver::writesTheDocumentedExample()
{
    DeclareSettingsTypes();
    d.GetType("global")->GetItem(Value("a")) += d.GetType("global_value")->GetItem(Value("b"));
    // Neither a value nobody holds nor a run-only key reaches the file.
    d.GetType("global_value")->GetItem(Value("orphan"));
    d.GetType("vglobal")->GetItem(Value("v")) += d.GetType("global_value")->GetItem(Value("w"));

    QString const l_path = DataSaver::StoreFilePath();
    QCOMPARE(l_path, QDir::homePath() + QStringLiteral("/.Kestrune"));
    QFile::remove(l_path);
    QVERIFY(m_saver->Save(l_path));

    QByteArray const l_expected =
        StoreFile({{"global", false, {{1, "a"}}}, {"global_value", false, {{2, "b"}}}}, {{1, 2}});
    QCOMPARE(l_expected.size(), 70);
    QCOMPARE(ReadFile(l_path), l_expected);
    QVERIFY(!QFile::exists(l_path + QStringLiteral(".1")));

    // Loading it into an empty store gives the key back with its value.
    d.RemoveAllItems();
    m_saver->Load(l_path);
    QCOMPARE(GetSetting("a"), QStringLiteral("b"));
    QVERIFY(d.GetType("vglobal")->HasItem(Value("v")).IsNull());
    QFile::remove(l_path);
}

void TestDataSaver::nothingRegisteredGivesEightBytes()
{
    d.GetType("t_file")->NewItem(Value("x"));
    QVERIFY(m_saver->Save(Path()));
    QCOMPARE(ReadFile(Path()), QByteArray(8, '\0'));

    // A registered type without items still has its section.
    m_saver->AddSavedType("t_lonely");
    d.GetType("t_file")->GetItems().Remove();
    QVERIFY(m_saver->Save(Path()));
    QCOMPARE(ReadFile(Path()), StoreFile({{"t_lonely", false, {}}}, {}));
}

void TestDataSaver::temporaryFileTakesFirstFreeNumber()
{
    m_saver->AddSavedType("t_file");
    d.GetType("t_file")->NewItem(Value("x"));
    QVERIFY(WriteFile(Path(), "old"));
    QVERIFY(WriteFile(Path() + QStringLiteral(".1"), "someone else's"));
    QCOMPARE(DataSaver::TemporaryPath(Path()), Path() + QStringLiteral(".2"));

    // The new store is written under the numbered name and then moved over the old one,
    // which is never deleted first: at every moment the path holds a whole store.
    DirectoryEvents l_events(m_dir->path());
    QVERIFY(l_events.IsValid());
    QVERIFY(m_saver->Save(Path()));
    QCOMPARE(l_events.Take(),
             QStringList({"create store.2", "move from store.2", "move to store"}));
    QCOMPARE(ReadFile(Path()), StoreFile({{"t_file", false, {{1, "x"}}}}, {}));
    QCOMPARE(ReadFile(Path() + QStringLiteral(".1")), QByteArray("someone else's"));
    QVERIFY(!QFile::exists(Path() + QStringLiteral(".2")));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 2);
    // The store may hold the account password: nobody but its owner reads it.
    QCOMPARE(QFile::permissions(Path()) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
}

void TestDataSaver::temporaryNameIsLiteralAndSkipsDeadLinks()
{
    m_saver->AddSavedType("t_file");
    d.GetType("t_file")->NewItem(Value("x"));
    QByteArray const l_expected = StoreFile({{"t_file", false, {{1, "x"}}}}, {});

    // Home folders may hold any character, placeholders of formatted text included.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("a%1b%2")));
    QString const l_path = m_dir->filePath(QStringLiteral("a%1b%2/store"));
    QCOMPARE(DataSaver::TemporaryPath(l_path), l_path + QStringLiteral(".1"));
    QVERIFY(m_saver->Save(l_path));
    QCOMPARE(ReadFile(l_path), l_expected);

    // A link to nothing occupies its name: exclusive creation would fail through it.
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nowhere")), Path() + QStringLiteral(".1")));
    QCOMPARE(DataSaver::TemporaryPath(Path()), Path() + QStringLiteral(".2"));
    QVERIFY(m_saver->Save(Path()));
    QCOMPARE(ReadFile(Path()), l_expected);
    QVERIFY(QFileInfo(Path() + QStringLiteral(".1")).isSymLink());
    QVERIFY(!QFileInfo::exists(Path() + QStringLiteral(".2")));
}

void TestDataSaver::pairsAreSortedSmallerFirstAndUnique()
{
    m_saver->AddSavedType("t_file");
    m_saver->AddSavedType("t_user");
    Type* const lp_file = d.GetType("t_file");
    Type* const lp_user = d.GetType("t_user");
    ItemPtr l_a = lp_file->NewItem(Value("a"));
    ItemPtr l_b = lp_file->NewItem(Value("b"));
    ItemPtr l_x = lp_user->GetItem(Value("x"));
    ItemPtr l_y = lp_user->GetItem(Value("y"));
    lp_user->GetItem(Value("z"));
    // Made from both sides, in scrambled order; z is connected to nothing.
    l_y += l_b;
    l_a += l_y;
    l_x += l_a;
    l_b += l_x;

    QVERIFY(m_saver->Save(Path()));
    ParsedFile const l_file = ParseFile(ReadFile(Path()));
    QVERIFY(l_file.m_complete);
    QCOMPARE(l_file.m_sections, QStringList({"t_file/0", "t_user/0"}));
    // Ids count from 1 across the whole file in writing order.
    QCOMPARE(l_file.m_ids, QList<qint32>({1, 2, 3, 4, 5}));
    QCOMPARE(l_file.m_pairs.size(), 4);
    QSet<QString> l_joined;
    for (qsizetype l_index = 0; l_index < l_file.m_pairs.size(); ++l_index)
    {
        auto const& l_pair = l_file.m_pairs[l_index];
        QVERIFY(l_pair.first < l_pair.second);
        if (l_index > 0)
            QVERIFY(l_file.m_pairs[l_index - 1] < l_pair);
        l_joined << l_file.m_values[l_pair.first] + l_file.m_values[l_pair.second];
    }
    QCOMPARE(l_joined, QSet<QString>({"ax", "ay", "bx", "by"}));
}

void TestDataSaver::byConnectionTypesSaveOnlyQualifyingItems()
{
    m_saver->AddSavedType("t_note");
    m_saver->AddSavedByConnectionType("t_user", "t_note");
    m_saver->AddSavedByConnectionType("t_user", "t_flag");
    m_saver->AddSavedByConnectionType("t_flag", "t_user");
    Type* const lp_user = d.GetType("t_user");
    ItemPtr l_noted = lp_user->GetItem(Value("noted"));
    ItemPtr l_flagged = lp_user->GetItem(Value("flagged"));
    ItemPtr l_plain = lp_user->GetItem(Value("plain"));
    l_noted += d.GetType("t_note")->GetItem(Value("friend"));
    l_flagged.NewItem("t_flag");
    // A file is not saved: its connection to a saved user must not appear.
    ItemPtr l_file = d.GetType("t_file")->NewItem(Value("f"));
    l_file += l_plain;
    l_file += l_noted;

    QVERIFY(m_saver->Save(Path()));
    QByteArray const l_fileBytes = ReadFile(Path());
    ParsedFile const l_parsed = ParseFile(l_fileBytes);
    QVERIFY(l_parsed.m_complete);
    QCOMPARE(l_parsed.m_sections, QStringList({"t_flag/1", "t_note/0", "t_user/0"}));
    QCOMPARE(l_parsed.m_pairs.size(), 2);
    QVERIFY(!l_fileBytes.contains("plain"));
    QVERIFY(!l_fileBytes.contains("t_file"));
    d.RemoveAllItems();
    m_saver->Load(Path());
    QCOMPARE(Content({"t_user", "t_note", "t_flag", "t_file"}),
             QStringList({"t_flag=() -> t_user=flagged", "t_note=friend -> t_user=noted",
                          "t_user=flagged -> t_flag=()", "t_user=noted -> t_note=friend"}));

    // Registered both ways, every item is saved.
    d.RemoveAllItems();
    m_saver->AddSavedType("t_user");
    lp_user->GetItem(Value("plain"));
    QVERIFY(m_saver->Save(Path()));
    d.RemoveAllItems();
    m_saver->Load(Path());
    QVERIFY(lp_user->HasItem(Value("plain")).IsNotNull());
}

void TestDataSaver::zeroByteValueIsWrittenWholeAndReadBackCut()
{
    m_saver->AddSavedType("t_file");
    std::string const l_value("ab\0cd", 5);
    d.GetType("t_file")->NewItem(Value(l_value));
    QVERIFY(m_saver->Save(Path()));
    QCOMPARE(ReadFile(Path()), StoreFile({{"t_file", false, {{1, QByteArray("ab\0cd", 5)}}}}, {}));

    d.RemoveAllItems();
    m_saver->Load(Path());
    ItemSet const l_items = d.GetType("t_file")->GetItems();
    QCOMPARE(l_items.size(), std::size_t(1));
    QCOMPARE(ItemPtr(l_items).AsStdString(), std::string("ab"));
}

void TestDataSaver::roundTripRestoresItemsFlagsAndConnections()
{
    for (char const* lp_name : {"t_file", "t_node", "t_note"})
        m_saver->AddSavedType(lp_name);
    for (char const* lp_name : {"t_name", "t_size", "t_flag", "t_user"})
        m_saver->AddSavedByConnectionType(lp_name, "t_file");
    Type* const lp_file = d.GetType("t_file");
    for (int l_index = 0; l_index < 40; ++l_index)
    {
        ItemPtr l_file = lp_file->NewItem(Value(QStringLiteral("C:\\share\\f%1.mp3").arg(l_index)));
        l_file += d.GetType("t_name")->GetItem(Value(QStringLiteral("f%1.mp3").arg(l_index)));
        l_file += d.GetType("t_size")->GetItem(Value(1000 + l_index % 7));
        if (l_index % 3 == 0)
            l_file.NewItem("t_flag");
        if (l_index % 5 == 0)
        {
            ItemPtr l_node = d.GetType("t_node")->NewItem();
            l_node += l_file;
            l_node += lp_file->NewItem(Value(QStringLiteral("peer of %1").arg(l_index)));
        }
    }
    // Text beyond Latin-1 survives as bytes.
    lp_file->NewItem(Value(QStringLiteral("\u0436\u00e9\U0001F600")));
    QStringList const l_types{"t_file", "t_name", "t_size", "t_flag", "t_node"};
    QStringList const l_before = Content(l_types);

    QVERIFY(m_saver->Save(Path()));
    d.RemoveAllItems();
    CountingHandler l_handler;
    m_saver->AddDataLoadedEventHandler(&l_handler);
    m_saver->AddDataLoadedEventHandler(&l_handler);
    m_saver->Load(Path());
    QCOMPARE(l_handler.m_calls, 1);
    QCOMPARE(Content(l_types), l_before);
    // One shared flag item before the save, one after.
    QCOMPARE(d.GetType("t_flag")->GetItems().size(), std::size_t(1));
}

void TestDataSaver::loadedSettingsReplaceDefaults()
{
    DeclareSettingsTypes();
    SetSetting("minimize_to_tray", QStringLiteral("no"));
    SetSetting("username", QStringLiteral("zoe"));
    QVERIFY(m_saver->Save(Path()));

    // Next run: the defaults are written, then the file is loaded over them.
    d.RemoveAllItems();
    SetSetting("minimize_to_tray", QStringLiteral("yes"));
    SetSetting("log_room_chat", QStringLiteral("yes"));
    ItemPtr const l_key = d.GetType("global")->HasItem(Value("minimize_to_tray"));
    ItemPtr const l_yes = d.GetType("global_value")->HasItem(Value("yes"));
    // Handlers apply their defaults on the loaded state: it must be complete by then.
    SnapshotHandler l_handler(
        [] { return GetSetting("minimize_to_tray") + QLatin1Char('/') + GetSetting("username"); });
    m_saver->AddDataLoadedEventHandler(&l_handler);
    m_saver->Load(Path());
    QCOMPARE(l_handler.m_seen, QStringList({"no/zoe"}));

    QCOMPARE(GetSetting("minimize_to_tray"), QStringLiteral("no"));
    QCOMPARE(GetSetting("username"), QStringLiteral("zoe"));
    QCOMPARE(GetSetting("log_room_chat"), QStringLiteral("yes"));
    // The default's items are met, not duplicated.
    QCOMPARE(d.GetType("global")->HasItem(Value("minimize_to_tray")), l_key);
    QCOMPARE(d.GetType("global_value")->HasItem(Value("yes")), l_yes);
    QCOMPARE(l_key.GetItems("global_value").size(), std::size_t(1));
}

void TestDataSaver::unknownSectionsAndDanglingPairsAreSkipped()
{
    m_saver->AddSavedType("t_file");
    QByteArray const l_bytes = StoreFile({{"gone_type", false, {{1, "old"}, {2, "older"}}},
                                          {"gone_flag", true, {{3, ""}}},
                                          {"t_file", false, {{4, "kept"}, {5, "other"}}}},
                                         {{1, 4}, {3, 5}, {4, 99}, {4, 5}});
    QVERIFY(WriteFile(Path(), l_bytes));
    CountingHandler l_handler;
    m_saver->AddDataLoadedEventHandler(&l_handler);
    m_saver->Load(Path());
    QCOMPARE(l_handler.m_calls, 1);
    // t_file is not related to itself, so 4-5 is dropped as well.
    QCOMPARE(Content({"t_file"}), QStringList({"t_file=kept -> ", "t_file=other -> "}));
}

void TestDataSaver::schemaMismatchesAreSkipped()
{
    for (char const* lp_name : {"t_file", "t_flag", "t_note", "t_user"})
        m_saver->AddSavedType(lp_name);
    // t_user saved as a null type, t_flag as a valued one, and a pair joining a file and
    // a note, which the schema does not relate: each is skipped, the rest loads.
    QByteArray const l_bytes = StoreFile({{"t_file", false, {{1, "song"}}},
                                          {"t_flag", false, {{2, "not null"}}},
                                          {"t_note", false, {{3, "hello"}}},
                                          {"t_user", true, {{4, ""}}}},
                                         {{1, 2}, {1, 3}, {4, 3}});
    QVERIFY(WriteFile(Path(), l_bytes));
    m_saver->Load(Path());
    QCOMPARE(Content({"t_file", "t_flag", "t_note", "t_user"}),
             QStringList({"t_file=song -> ", "t_note=hello -> "}));
}

void TestDataSaver::idsMayComeInAnyOrderAndRepeat()
{
    for (char const* lp_name : {"t_file", "t_user"})
        m_saver->AddSavedType(lp_name);
    // Negative and descending ids; id 7 recorded twice, the later record wins; pair
    // given high id first.
    QByteArray const l_bytes = StoreFile(
        {{"t_file", false, {{7, "first"}, {-3, "song"}}}, {"t_user", false, {{7, "bob"}}}},
        {{7, -3}, {7, -3}});
    QVERIFY(WriteFile(Path(), l_bytes));
    m_saver->Load(Path());
    QCOMPARE(Content({"t_file", "t_user"}),
             QStringList({"t_file=song -> t_user=bob", "t_user=bob -> t_file=song"}));
}

void TestDataSaver::missingFileRunsHandlersOnly()
{
    d.GetType("t_file")->NewItem(Value("default"));
    std::vector<void*> l_order;
    auto l_handlers = std::make_unique<CountingHandler[]>(3);
    for (int l_index : {2, 0, 1})
    {
        l_handlers[l_index].mp_order = &l_order;
        m_saver->AddDataLoadedEventHandler(&l_handlers[l_index]);
    }
    CountingHandler l_late;
    RegisteringHandler l_registering(&l_late);
    m_saver->AddDataLoadedEventHandler(&l_registering);
    m_saver->Load(Path());
    // Once each, in address order rather than registration order.
    QCOMPARE(l_order, std::vector<void*>({&l_handlers[0], &l_handlers[1], &l_handlers[2]}));
    QCOMPARE(l_late.m_calls, 0);
    QCOMPARE(Content({"t_file"}), QStringList({"t_file=default -> "}));
}

void TestDataSaver::loadFiresTheEventsOfOrdinaryCreation()
{
    for (char const* lp_name : {"t_file", "t_name"})
        m_saver->AddSavedType(lp_name);
    // A default written before the load: "kept" already holds the name "old".
    d.GetType("t_file")->NewItem(Value("kept")) += d.GetType("t_name")->NewItem(Value("old"));
    // Values out of order within a section, a value the store holds already, and a file
    // that gets a second name (a file holds one name: the first is replaced).
    QByteArray const l_bytes =
        StoreFile({{"t_file", false, {{1, "kept"}, {2, "zeta"}, {3, "alpha"}}},
                   {"t_name", false, {{4, "n2"}, {5, "n1"}, {6, "old"}}}},
                  {{3, 5}, {1, 5}, {1, 4}, {2, 6}});
    QVERIFY(WriteFile(Path(), l_bytes));

    FileNameLog l_log;
    m_saver->Load(Path());
    // Every item first, in id order, existing ones silently; then every connection in
    // order of its first id and then its second, each with the full events of a
    // connection made by hand, a replacement's disconnection before its connection.
    QStringList const l_expected{
        "added file:zeta", "store added file:zeta", "added file:alpha", "store added file:alpha",
        "added name:n2", "store added name:n2", "added name:n1", "store added name:n1",
        // (1, 4): "kept" drops "old" for "n2"
        "- file:kept/name:old", "- name:old/file:kept", "+ file:kept/name:n2",
        "+ name:n2/file:kept",
        // (1, 5): and "n2" for "n1"
        "- file:kept/name:n2", "- name:n2/file:kept", "+ file:kept/name:n1", "+ name:n1/file:kept",
        // (2, 6), (3, 5)
        "+ file:zeta/name:old", "+ name:old/file:zeta", "+ file:alpha/name:n1",
        "+ name:n1/file:alpha"};
    QCOMPARE(l_log.m_lines, l_expected);
    QCOMPARE(Content({"t_file"}),
             QStringList({"t_file=alpha -> t_name=n1", "t_file=kept -> t_name=n1",
                          "t_file=zeta -> t_name=old"}));
    // The items' value table is in value order whatever the order they arrived in.
    QStringList l_values;
    for (Item* lp_item : d.GetType("t_name")->KeyedItems())
        l_values << QString::fromStdString(lp_item->GetValue().AsStdString());
    QCOMPARE(l_values, QStringList({"n1", "n2", "old"}));
}

void TestDataSaver::everyTruncationLeavesTheStoreUntouched()
{
    for (char const* lp_name : {"t_file", "t_node", "global"})
        m_saver->AddSavedType(lp_name);
    m_saver->AddSavedByConnectionType("t_user", "t_file");
    m_saver->AddSavedByConnectionType("global_value", "global");
    ItemPtr l_file = d.GetType("t_file")->NewItem(Value("song"));
    l_file += d.GetType("t_user")->GetItem(Value("bob"));
    d.GetType("t_node")->NewItem() += l_file;
    SetSetting("minimize_to_tray", QStringLiteral("no"));
    QVERIFY(m_saver->Save(Path()));
    QByteArray const l_whole = ReadFile(Path());
    QVERIFY(l_whole.size() > 60);

    // The live store a failed load must leave alone: defaults and other items.
    d.RemoveAllItems();
    SetSetting("minimize_to_tray", QStringLiteral("yes"));
    d.GetType("t_file")->NewItem(Value("live")) += d.GetType("t_user")->GetItem(Value("ann"));
    QStringList const l_types{"t_file", "t_user", "t_node", "global", "global_value"};
    QStringList const l_before = Content(l_types, true);

    CountingHandler l_handler;
    m_saver->AddDataLoadedEventHandler(&l_handler);
    for (qsizetype l_length = 0; l_length < l_whole.size(); ++l_length)
    {
        QVERIFY(WriteFile(Path(), l_whole.left(l_length)));
        bool l_thrown = false;
        try
        {
            m_saver->Load(Path());
        }
        catch (DataLoadFailure const&)
        {
            l_thrown = true;
        }
        QVERIFY2(l_thrown, qPrintable(QStringLiteral("length %1").arg(l_length)));
        QCOMPARE(l_handler.m_calls, int(l_length) + 1);
        QCOMPARE(Content(l_types, true), l_before);
    }

    // The whole file loads and meets the live items.
    QVERIFY(WriteFile(Path(), l_whole));
    m_saver->Load(Path());
    QCOMPARE(GetSetting("minimize_to_tray"), QStringLiteral("no"));
    QVERIFY(d.GetType("t_file")->HasItem(Value("live")).IsNotNull());
    QVERIFY(d.GetType("t_file")->HasItem(Value("song")).IsConnected(d.GetType("t_user")));
}

void TestDataSaver::corruptCountsAndLengthsFailTheLoad()
{
    m_saver->AddSavedType("t_file");
    QList<QByteArray> const l_files{
        FileBytes().Int(-1).Int(0).Bytes(),
        FileBytes().Int(0x7fffffff).Int(0).Bytes(),
        FileBytes().Int(1).Str("t_file").Byte(0).Int(0x40000000).Int(1).Int(0).Bytes(),
        FileBytes().Int(1).Str("t_file").Byte(0).Int(1).Int(1).Int(-5).Int(0).Bytes(),
        FileBytes().Int(1).Str("t_file").Byte(0).Int(1).Int(1).Int(0x7ffffff0).Int(0).Bytes(),
        FileBytes().Int(1).Str("gone").Byte(0).Int(1).Int(1).Int(-1).Int(0).Bytes(),
        FileBytes().Int(0).Int(-2).Bytes(),
        FileBytes().Int(0).Int(0x20000000).Int(1).Int(2).Bytes(),
    };
    for (QByteArray const& l_bytes : l_files)
    {
        QVERIFY(WriteFile(Path(), l_bytes));
        QVERIFY_THROWS_EXCEPTION(DataLoadFailure, m_saver->Load(Path()));
        QVERIFY(d.GetType("t_file")->GetItems().empty());
    }
}

void TestDataSaver::failedWriteKeepsOldFileAndRemovesTemporary()
{
    m_saver->AddSavedType("t_file");
    QByteArray const l_old = StoreFile({}, {});
    QVERIFY(WriteFile(Path(), l_old));
    for (int l_index = 0; l_index < 1000; ++l_index)
        d.GetType("t_file")->NewItem(Value(QStringLiteral("item %1").arg(l_index)));

    // A file size limit makes the writes come up short, as a full disk would.
    rlimit l_saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &l_saved), 0);
    auto const l_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit l_small = l_saved;
    l_small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &l_small), 0);
    LogCapture l_log;
    bool const l_savedOk = m_saver->Save(Path());
    setrlimit(RLIMIT_FSIZE, &l_saved);
    std::signal(SIGXFSZ, l_oldHandler);

    QVERIFY(!l_savedOk);
    QCOMPARE(ReadFile(Path()), l_old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList({"store"}));
    QCOMPARE(l_log.Count("Configuration Data", 1, "Failure to save configuration data."), 1);

    // The next save, unhindered, still takes the first number and succeeds.
    QVERIFY(m_saver->Save(Path()));
    QVERIFY(ReadFile(Path()).size() > 4096);
}

void TestDataSaver::refusingDirectoryKeepsOldFile()
{
    m_saver->AddSavedType("t_file");
    d.GetType("t_file")->NewItem(Value("new"));
    QByteArray const l_old = StoreFile({}, {});
    QVERIFY(WriteFile(Path(), l_old));
    QVERIFY(QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    bool l_result = true;
    bool l_refused = false;
    LogCapture l_log;
    {
        WithoutDacOverride l_asUser;
        QFile l_probe(m_dir->filePath(QStringLiteral("probe")));
        l_refused = !l_probe.open(QIODevice::WriteOnly);
        if (l_refused)
            l_result = m_saver->Save(Path());
    }
    QVERIFY(QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner));
    if (!l_refused)
        QSKIP("this process may write into any directory");
    QVERIFY(!l_result);
    QCOMPARE(ReadFile(Path()), l_old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList({"store"}));
    QCOMPARE(l_log.Count("Configuration Data", 1, "Failure to save configuration data."), 1);
}

void TestDataSaver::failedRenameKeepsOldFile()
{
    // A directory where the store should be: the rename over it fails.
    m_saver->AddSavedType("t_file");
    d.GetType("t_file")->NewItem(Value("new"));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("store/inside")));
    LogCapture l_log;
    QVERIFY(!m_saver->Save(Path()));
    QVERIFY(QFileInfo(Path() + QStringLiteral("/inside")).isDir());
    QVERIFY(!QFile::exists(Path() + QStringLiteral(".1")));
    QCOMPARE(l_log.Count("Configuration Data", 1, "Failure to save configuration data."), 1);
}

void TestDataSaver::runningOutOfMemoryKeepsOldFileAndRemovesTemporary()
{
    m_saver->AddSavedType("t_file");
    QByteArray const l_old = StoreFile({}, {});
    QVERIFY(WriteFile(Path(), l_old));
    // Over a megabyte of values, so the file goes out in more than one write.
    Type* const lp_file = d.GetType("t_file");
    for (int l_index = 0; l_index < 40000; ++l_index)
        lp_file->NewItem(Value(QStringLiteral("C:\\share\\folder\\file %1.mp3").arg(l_index)));

    // Memory running out before anything was written, and again after the first write.
    for (qint64 const l_failAfter : {qint64(0), qint64(1)})
    {
        int l_writes = 0;
        bool l_temporarySeen = false;
        m_saver->SetWriteHook(
            [&](qint64 written)
            {
                ++l_writes;
                if (written < l_failAfter)
                    return;
                l_temporarySeen = QFile::exists(Path() + QStringLiteral(".1"));
                throw std::bad_alloc();
            });
        LogCapture l_log;
        QVERIFY(!m_saver->Save(Path()));
        QCOMPARE(l_writes, l_failAfter == 0 ? 1 : 2);
        QVERIFY(l_temporarySeen);
        QCOMPARE(ReadFile(Path()), l_old);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList({"store"}));
        QCOMPARE(l_log.Count("Configuration Data", 1, "Failure to save configuration data."), 1);
    }

    m_saver->SetWriteHook({});
    QVERIFY(m_saver->Save(Path()));
    ParsedFile const l_file = ParseFile(ReadFile(Path()));
    QVERIFY(l_file.m_complete);
    QCOMPARE(l_file.m_ids.size(), 40000);
}

void TestDataSaver::itemsJoinedToThemselvesComeBack()
{
    // t_link is related to itself: "loop" is joined to itself and to "other".
    m_saver->AddSavedType("t_link");
    m_saver->AddSavedType("t_file");
    Type* const lp_link = d.GetType("t_link");
    ItemPtr const l_loop = lp_link->NewItem(Value("loop"));
    l_loop += l_loop;
    l_loop += lp_link->NewItem(Value("other"));
    QVERIFY(m_saver->Save(Path()));
    QVERIFY(ParseFile(ReadFile(Path())).m_pairs.contains(qMakePair(1, 1)));
    d.RemoveAllItems();
    m_saver->Load(Path());
    QCOMPARE(Content({"t_link"}), QStringList({"t_link=loop -> t_link=loop,t_link=other",
                                               "t_link=other -> t_link=loop"}));

    // t_file is not related to itself: a pair of one of its items with itself is skipped.
    d.RemoveAllItems();
    QVERIFY(WriteFile(Path(), StoreFile({{"t_file", false, {{1, "song"}}}}, {{1, 1}})));
    m_saver->Load(Path());
    QCOMPARE(Content({"t_file"}), QStringList({"t_file=song -> "}));
}

void TestDataSaver::onlySavedTypesAreLoaded()
{
    // Known types that are not saved, like a run-time type keyed by object addresses,
    // are skipped with every pair that touches them; saved-by-connection sections load.
    QByteArray const l_bytes = StoreFile({{"t_file", false, {{1, "song"}}},
                                          {"t_flag", true, {{2, ""}}},
                                          {"t_size", false, {{3, "140737488355328"}}},
                                          {"t_user", false, {{4, "bob"}}}},
                                         {{1, 2}, {1, 3}, {1, 4}});
    QVERIFY(WriteFile(Path(), l_bytes));
    struct Case
    {
        QStringList m_saved;
        QStringList m_byConnection; // to t_file
        QStringList m_expected;
    };
    QList<Case> const l_cases{
        {{}, {}, {}},
        {{"t_file"}, {}, {"t_file=song -> "}},
        {{"t_file", "t_flag"},
         {"t_user"},
         {"t_file=song -> t_flag=(),t_user=bob", "t_flag=() -> t_file=song",
          "t_user=bob -> t_file=song"}},
    };
    QStringList const l_types{"t_file", "t_flag", "t_size", "t_user"};
    for (Case const& l_case : l_cases)
    {
        d.RemoveAllItems();
        DataSaver l_saver;
        for (QString const& l_name : l_case.m_saved)
            l_saver.AddSavedType(l_name.toStdString());
        for (QString const& l_name : l_case.m_byConnection)
            l_saver.AddSavedByConnectionType(l_name.toStdString(), "t_file");
        l_saver.Load(Path());
        QCOMPARE(Content(l_types), l_case.m_expected);
    }
}

QTEST_GUILESS_MAIN(TestDataSaver)
#include "tst_data_saver.moc"
