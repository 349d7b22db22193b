#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace
{

// Counts what the settings types report, to prove which writes fire events.
class SettingsWatcher : public DataHandler
{
public:
    SettingsWatcher()
    {
        Type* const lp_global = d.GetType("global");
        lp_global->m_connectedEvent.AddHandler(CreateHandler(this, &SettingsWatcher::OnConnected));
        lp_global->m_disconnectedEvent.AddHandler(
            CreateHandler(this, &SettingsWatcher::OnDisconnected));
    }
    ~SettingsWatcher() override { RemoveDataHandlers(); }

    void OnConnected(ConnectionInfo info) { m_events << QStringLiteral("+") + Describe(info); }
    void OnDisconnected(ConnectionInfo info) { m_events << QStringLiteral("-") + Describe(info); }
    void OnChanged(ItemPtr key)
    {
        m_changed << key.AsString() + QLatin1Char('=') + key["global_value"].AsString();
    }

    static QString Describe(ConnectionInfo const& info)
    {
        return info.first.AsString() + QLatin1Char('/') + info.second.AsString();
    }

    QStringList m_events;
    QStringList m_changed;
};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void typesAreDeclaredAsTheShellNeeds();
    void readsOfAbsentKeysCreateNothing();
    void keysShareValueItemsAndSwitchCleanly();
    void writingTheSameValueFiresNothing();
    void defaultsYieldToExistingValues();
    void runOnlySettingsAreSeparateAndNeverSaved();
    void unheldValuesGoAtTheSweep();
    void watchersSeeWritesAndLoads();
    void watcherRestoringADefaultLetsTheWriteEnd();
    void declaringBeforeTheSaverFailsLoudly();

private:
    std::unique_ptr<DataSaver> m_saver;
};

void TestSettings::initTestCase()
{
    m_saver = std::make_unique<DataSaver>();
    DeclareSettingsTypes();
}

void TestSettings::init()
{
    d.RemoveAllItems();
}

void TestSettings::typesAreDeclaredAsTheShellNeeds()
{
    Type* const lp_global = d.GetType("global");
    Type* const lp_vglobal = d.GetType("vglobal");
    Type* const lp_value = d.GetType("global_value");
    QCOMPARE(lp_global->GetPrimacy(), Primary);
    QCOMPARE(lp_vglobal->GetPrimacy(), Primary);
    QCOMPARE(lp_value->GetPrimacy(), Tertiary);
    for (Type* lp_type : {lp_global, lp_vglobal, lp_value})
    {
        QVERIFY(!lp_type->IsNull());
        QVERIFY(lp_type->IsCreateOnGet());
    }
    // A key holds one value; a value may be held by many keys; nobody owns anybody.
    for (Type* lp_key : {lp_global, lp_vglobal})
    {
        RelationInfo const& l_keySide = lp_key->GetRelation(lp_value);
        QCOMPARE(l_keySide.m_otherOneOrMany, One);
        QCOMPARE(l_keySide.m_thisOneOrMany, Many);
        QVERIFY(!l_keySide.m_owns && !l_keySide.m_ownedBy);
        RelationInfo const& l_valueSide = lp_value->GetRelation(lp_key);
        QCOMPARE(l_valueSide.m_otherOneOrMany, Many);
        QVERIFY(!l_valueSide.m_owns && !l_valueSide.m_ownedBy);
    }
    QVERIFY(!lp_global->IsRelated(lp_vglobal));
    // A second declaration (another saver, as in tests) neither throws nor duplicates.
    DeclareSettingsTypes();
    QCOMPARE(d.GetType("global"), lp_global);
}

void TestSettings::readsOfAbsentKeysCreateNothing()
{
    QCOMPARE(GetSetting("absent"), QString());
    QCOMPARE(GetSettingInt("absent"), 0);
    QVERIFY(!HasSetting("absent"));
    QVERIFY(!IsSettingYes("absent"));
    QCOMPARE(GetVSetting("absent"), QString());
    QVERIFY(d.GetType("global")->HasItem(Value("absent")).IsNull());
    QVERIFY(d.GetType("vglobal")->HasItem(Value("absent")).IsNull());

    // A key item without a value reads the same way.
    d.GetType("global")->GetItem(Value("bare"));
    QVERIFY(!HasSetting("bare"));
    QCOMPARE(GetSetting("bare"), QString());

    SetSetting("port", QStringLiteral(" 2235 "));
    QCOMPARE(GetSettingInt("port"), 2235);
    SetSetting("port", QStringLiteral("22x"));
    QCOMPARE(GetSettingInt("port"), 0);
    SetSetting("name", QStringLiteral("Zo\u00eb"));
    QCOMPARE(GetSetting("name"), QStringLiteral("Zo\u00eb"));
    QVERIFY(HasSetting("name"));
}

void TestSettings::keysShareValueItemsAndSwitchCleanly()
{
    SetSettingYesNo("minimize_to_tray", true);
    SetSettingYesNo("log_room_chat", true);
    ItemPtr const l_tray = d.GetType("global")->HasItem(Value("minimize_to_tray"));
    ItemPtr const l_log = d.GetType("global")->HasItem(Value("log_room_chat"));
    ItemPtr const l_yes = d.GetType("global_value")->HasItem(Value("yes"));
    QVERIFY(l_yes.IsNotNull());
    QCOMPARE(l_tray["global_value"], l_yes);
    QCOMPARE(l_log["global_value"], l_yes);
    QVERIFY(IsSettingYes("minimize_to_tray"));

    SetSettingYesNo("minimize_to_tray", false);
    QCOMPARE(l_tray.GetItems("global_value").size(), std::size_t(1));
    QCOMPARE(GetSetting("minimize_to_tray"), QStringLiteral("no"));
    QVERIFY(!IsSettingYes("minimize_to_tray"));
    // The other key keeps the shared "yes" item.
    QVERIFY(l_log.IsConnected(l_yes));
    QVERIFY(IsSettingYes("log_room_chat"));

    // Only the exact text "yes" is true.
    SetSetting("log_room_chat", QStringLiteral("Yes"));
    QVERIFY(!IsSettingYes("log_room_chat"));
}

void TestSettings::writingTheSameValueFiresNothing()
{
    SettingsWatcher l_watcher;
    SetSetting("chat_timestamps", QStringLiteral("activity_based"));
    QCOMPARE(l_watcher.m_events, QStringList({"+chat_timestamps/activity_based"}));
    l_watcher.m_events.clear();

    SetSetting("chat_timestamps", QStringLiteral("activity_based"));
    QVERIFY(l_watcher.m_events.isEmpty());

    // The old value goes first, then the new one arrives.
    SetSetting("chat_timestamps", QStringLiteral("no_timestamps"));
    QCOMPARE(l_watcher.m_events,
             QStringList({"-chat_timestamps/activity_based", "+chat_timestamps/no_timestamps"}));
}

void TestSettings::defaultsYieldToExistingValues()
{
    SetSettingDefault("download_folder", QStringLiteral("/home/a"));
    QCOMPARE(GetSetting("download_folder"), QStringLiteral("/home/a"));
    SetSettingDefault("download_folder", QStringLiteral("/home/b"));
    QCOMPARE(GetSetting("download_folder"), QStringLiteral("/home/a"));
    // An empty text is a value too.
    SetSetting("empty_share_message", QString());
    SetSettingDefault("empty_share_message", QStringLiteral("please share"));
    QCOMPARE(GetSetting("empty_share_message"), QString());
    QVERIFY(HasSetting("empty_share_message"));
}

void TestSettings::runOnlySettingsAreSeparateAndNeverSaved()
{
    QTemporaryDir l_dir;
    QVERIFY(l_dir.isValid());
    QString const l_path = l_dir.filePath(QStringLiteral("store"));

    SetSetting("position", QStringLiteral("saved"));
    SetVSetting("position", QStringLiteral("run"));
    SetVSetting("only_run", QStringLiteral("x"));
    d.GetType("global_value")->GetItem(Value("nobody's"));
    QCOMPARE(GetSetting("position"), QStringLiteral("saved"));
    QCOMPARE(GetVSetting("position"), QStringLiteral("run"));

    QVERIFY(m_saver->Save(l_path));
    d.RemoveAllItems();
    m_saver->Load(l_path);
    QCOMPARE(GetSetting("position"), QStringLiteral("saved"));
    QCOMPARE(GetVSetting("position"), QString());
    QVERIFY(d.GetType("vglobal")->GetItems().empty());
    // Only the value a saved key holds came back.
    QCOMPARE(d.GetType("global_value")->GetItems().size(), std::size_t(1));
}

void TestSettings::unheldValuesGoAtTheSweep()
{
    SetSetting("listening_port", QStringLiteral("2234"));
    SetSetting("listening_port", QStringLiteral("2235"));
    SetVSetting("wish_list_position", QStringLiteral("3"));
    SetVSetting("wish_list_position", QStringLiteral("4"));
    d.RemoveDisconnectedItems();
    Type* const lp_value = d.GetType("global_value");
    QVERIFY(lp_value->HasItem(Value("2234")).IsNull());
    QVERIFY(lp_value->HasItem(Value("3")).IsNull());
    QCOMPARE(GetSetting("listening_port"), QStringLiteral("2235"));
    QCOMPARE(GetVSetting("wish_list_position"), QStringLiteral("4"));
}

void TestSettings::watchersSeeWritesAndLoads()
{
    QTemporaryDir l_dir;
    QVERIFY(l_dir.isValid());
    QString const l_path = l_dir.filePath(QStringLiteral("store"));
    SetSetting("use_upnp", QStringLiteral("no"));
    QVERIFY(m_saver->Save(l_path));
    d.RemoveAllItems();

    SettingsWatcher l_watcher;
    WatchSetting("use_upnp", l_watcher.CreateHandler(&l_watcher, &SettingsWatcher::OnChanged));
    SetSetting("use_upnp", QStringLiteral("yes"));
    SetSetting("use_upnp", QStringLiteral("yes"));
    SetSetting("other", QStringLiteral("yes"));
    QCOMPARE(l_watcher.m_changed, QStringList({"use_upnp=yes"}));

    m_saver->Load(l_path);
    QCOMPARE(l_watcher.m_changed, QStringList({"use_upnp=yes", "use_upnp=no"}));
}

void TestSettings::watcherRestoringADefaultLetsTheWriteEnd()
{
    // A watcher that puts a default back whenever the key loses its value: every write
    // of another value first empties the key, and the watcher fills it again.
    struct DefaultKeeper : DataHandler
    {
        ~DefaultKeeper() override { RemoveDataHandlers(); }
        void OnLost(ItemPtr)
        {
            // Bounded, so that a write that never ends shows up as a count.
            if (++m_calls <= 50)
                SetSetting("upload_slots", QStringLiteral("2"));
        }
        int m_calls = 0;
    };
    SetSetting("upload_slots", QStringLiteral("2"));
    DefaultKeeper l_keeper;
    auto* lp_root = new PathNode(d.GetType("global")->GetItem(Value("upload_slots")));
    new PathNode(lp_root, "global_value", PathNotConnected);
    d.AddPathEventHandler(lp_root, l_keeper.CreateHandler(&l_keeper, &DefaultKeeper::OnLost));

    SetSetting("upload_slots", QStringLiteral("5"));
    QCOMPARE(GetSetting("upload_slots"), QStringLiteral("5"));
    QCOMPARE(d.GetType("global")->HasItem(Value("upload_slots")).GetItems("global_value").size(),
             std::size_t(1));
    QCOMPARE(l_keeper.m_calls, 1);

    // Disconnecting the value by hand still gets the default back.
    d.GetType("global")->HasItem(Value("upload_slots")).Disconnect("global_value");
    QCOMPARE(GetSetting("upload_slots"), QStringLiteral("2"));
    QCOMPARE(l_keeper.m_calls, 2);
}

void TestSettings::declaringBeforeTheSaverFailsLoudly()
{
    DataSaver* const lp_saver = dataSaver;
    dataSaver = nullptr;
    bool l_thrown = false;
    try
    {
        DeclareSettingsTypes();
    }
    catch (SettingsWithoutSaverException* lp_exception)
    {
        delete lp_exception;
        l_thrown = true;
    }
    dataSaver = lp_saver;
    QVERIFY(l_thrown);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
