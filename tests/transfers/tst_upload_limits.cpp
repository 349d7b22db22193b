// Upload slots, the speed shares and the shared byte budget, and the half-minute
// checks (upload time-outs, download re-queues, place-in-line requests).

#include "UploadTestEnv.h"
#include "transfers/UploadPacer.h"

using namespace UploadTestEnv;

class TestUploadLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void init() { m_env.Reset(); }

    void sharesTheLimitAmongActiveUploads();
    void budgetPaysForOverdraftsAndEarnsNoCreditUnlimited();
    void freeSlotsStartButFewerStopNothing();
    void stalledUploadPhasesTimeOut();
    void downloadsAreRequeuedAndPlacesAskedAtOnlineUsers();

private:
    // An upload entry of the user in that status, made by hand (nothing is sent).
    ItemPtr Entry(QString const& user, char const* status, QString const& file = "x.bin");
    TransferQueueManager& manager() { return m_env.manager(); }
    UploadFixture m_env;
};

ItemPtr TestUploadLimits::Entry(QString const& user, char const* status, QString const& file)
{
    ItemPtr const l_entry = d["upload_entry"]->NewItem();
    l_entry += User(user);
    l_entry += d["filename_as_requested"]->GetItem(Value(file));
    l_entry += d["upload_entry_status"]->GetItem(Value(status));
    return l_entry;
}

void TestUploadLimits::sharesTheLimitAmongActiveUploads()
{
    struct Case
    {
        int limit;
        bool enabled;
        QList<char const*> statuses;
        int total;
        int share;
    };
    QList<Case> const l_cases = {
        {100, true, {"uploading", "uploading", "requesting", "queued"}, 100, 33},
        {2, true, {"uploading", "connecting", "waiting for offset"}, 2, 1},
        {0, true, {"uploading"}, 0, 0},
        {100, false, {"uploading"}, 0, 0},
        {100, true, {"queued", "complete"}, 100, 100},
    };
    for (Case const& l_case : l_cases)
    {
        ItemSet l_entries;
        for (char const* lp_status : l_case.statuses)
            l_entries.insert(Entry("nina", lp_status));
        ItemPtr const l_running = *l_entries.Connected(d["upload_entry_status"]->GetItem(Value(l_case.statuses[0]))).begin();
        l_running += d["bytes_since_last_receipt"]->GetItem(Value(new qint64(500)));
        manager().SetUploadSpeedLimit(l_case.limit);
        manager().EnableUploadSpeedLimit(l_case.enabled);
        QCOMPARE(manager().GetUploadSpeed(), l_case.total);
        QCOMPARE(manager().GetUploadSpeedLimitPerUpload(), l_case.share);
        // A new share restarts the speed measurements of the running uploads.
        if (l_case.total > 0)
            QCOMPARE(*l_running["bytes_since_last_receipt"].AsPtr<qint64>(),
                     qint64(QByteArray(l_case.statuses[0]) == "queued" ? 500 : 0));
        l_running["bytes_since_last_receipt"].Remove();
        l_entries.Remove();
    }

    // Removing a running upload hands its share to the others.
    ItemPtr const l_first = Entry("nina", "uploading");
    Entry("nina", "uploading");
    manager().DetermineUploadSpeedLimit();
    QCOMPARE(manager().GetUploadSpeedLimitPerUpload(), 50);
    manager().RemoveUpload(l_first);
    QCOMPARE(manager().GetUploadSpeedLimitPerUpload(), 100);
}

void TestUploadLimits::budgetPaysForOverdraftsAndEarnsNoCreditUnlimited()
{
    // One chunk per step: the limit in force from the step on (-1: unchanged) and how
    // long the chunk takes to send. The clock moves only by sends and sleeps.
    struct Step
    {
        int limit;
        qint64 sendMs;
    };
    struct Case
    {
        char const* name;
        QList<Step> steps;
        QList<qint64> sleeps; // per step
        long long budget;     // after the last step
    };
    QList<Step> l_unlimitedThenLimited(10, Step{0, 1000});
    l_unlimitedThenLimited << Step{100, 1} << Step{-1, 1};
    QList<Step> l_instantSends(10, Step{10000, 0});
    l_instantSends << Step{-1, 0};
    QList<Case> const l_cases = {
        // 8192 bytes in 1 ms against an empty budget at 100 KB/s: 81 ms of sleep, and
        // the allowance of the 82 ms goes back, less the overdraft.
        {"overdraft", {{100, 1}, {-1, 1}}, {0, 81}, 100 * 1024 * 82 / 1000 - 8192},
        // Five minutes for one chunk at 10000 KB/s earns more than 32 bits hold.
        {"long interval", {{10000, 300000}, {-1, 0}}, {0, 0}, 10000ll * 1024 * 300000 / 1000 - 8192},
        // Ten unlimited seconds leave no credit: the first limited chunks pay as if the
        // transfer had just begun.
        {"unlimited, then limited", l_unlimitedThenLimited, QList<qint64>(10, 0) << 0 << 81,
         100 * 1024 * 82 / 1000 - 8192},
        // A chunk is worth less than a millisecond at 10000 KB/s: the sleeps that are
        // cut to nothing are owed and paid later, 8 ms for the ten chunks' 80 KB.
        {"share above a chunk per millisecond", l_instantSends, {0, 0, 1, 1, 1, 1, 0, 1, 1, 1, 1}, 0},
    };
    for (Case const& l_case : l_cases)
    {
        qint64 l_now = 0;
        qint64 l_slept = 0;
        auto const l_apply = [&](int i_limit) {
            manager().SetUploadSpeedLimit(i_limit);
            manager().EnableUploadSpeedLimit(i_limit > 0);
        };
        l_apply(l_case.steps[0].limit);
        UploadPacer l_pacer(
            manager(), manager().GetUploadSpeed(), [&] { return l_now; },
            [&](qint64 i_ms) {
                l_now += i_ms;
                l_slept += i_ms;
                return true;
            });
        QList<qint64> l_sleeps;
        for (Step const& l_step : l_case.steps)
        {
            if (l_step.limit >= 0 && l_step.limit != manager().GetUploadSpeed())
                l_apply(l_step.limit);
            l_slept = 0;
            l_pacer.TakeShare();
            QVERIFY(l_pacer.Pay());
            l_sleeps << l_slept;
            l_now += l_step.sendMs;
            l_pacer.AfterChunk(8192);
        }
        QCOMPARE(l_sleeps, l_case.sleeps);
        QCOMPARE(manager().GetUploadByteBudget(), l_case.budget);
    }

    // A share that changes is reported once, so the worker restarts its measurement.
    manager().SetUploadSpeedLimit(100);
    manager().EnableUploadSpeedLimit(true);
    UploadPacer l_pacer(manager(), manager().GetUploadSpeed(), [] { return qint64(0); }, [](qint64) { return true; });
    QVERIFY(!l_pacer.TakeShare());
    l_pacer.AfterChunk(0);
    manager().SetUploadSpeedLimit(50);
    QVERIFY(l_pacer.TakeShare());
    l_pacer.AfterChunk(0);
    QVERIFY(!l_pacer.TakeShare());
}

void TestUploadLimits::freeSlotsStartButFewerStopNothing()
{
    QString const l_file = m_env.Share("slots.bin", "slot");
    std::vector<std::unique_ptr<FakeDownloader>> l_peers;
    for (char const* lp_user : {"s1", "s2", "s3", "s4"})
    {
        l_peers.push_back(m_env.Downloader(lp_user, FakeDownloader::Answer::Silent));
        manager().OnQueueUploadRequested(lp_user, l_file);
    }
    QCOMPARE(manager().ActiveUploadCount(), 1);

    struct Case
    {
        int requested;
        char const* setting;
        int active;
    };
    QList<Case> const l_cases = {{0, "1", 1}, {100, "1", 1}, {3, "3", 3}, {1, "1", 3}, {2, "2", 3}};
    for (Case const& l_case : l_cases)
    {
        manager().SetUploadSlots(l_case.requested);
        QCOMPARE(GetSetting("upload_slots"), QString(l_case.setting));
        QCOMPARE(manager().ActiveUploadCount(), l_case.active);
    }
    // With fewer slots than running uploads, an ending upload frees no slot yet.
    manager().RemoveUpload(UploadOf("s1", l_file));
    QCOMPARE(manager().ActiveUploadCount(), 2);
    QCOMPARE(UploadStatus(UploadOf("s4", l_file)), QByteArray("queued"));
    manager().RemoveUpload(UploadOf("s2", l_file));
    QCOMPARE(UploadStatus(UploadOf("s4", l_file)), QByteArray("requesting"));
}

void TestUploadLimits::stalledUploadPhasesTimeOut()
{
    QString const l_file = m_env.Share("stall.bin", "st");
    ItemPtr const l_shared = m_env.shares().GetSharedFileItem(m_env.ShareFolder() + "/stall.bin");
    auto l_olga = m_env.Downloader("olga", FakeDownloader::Answer::Silent, false);
    auto l_pia = m_env.Downloader("pia", FakeDownloader::Answer::Silent);

    struct Case
    {
        char const* status;
        int age; // seconds since the status changed; -1: no change time
        bool aborted;
    };
    QList<Case> const l_cases = {
        {"requesting", 28, false},       {"requesting", 30, true}, {"connecting", 31, true},
        {"waiting for offset", 600, true}, {"uploading", 3600, false}, {"queued", 3600, false},
        {"requesting", -1, false},
    };
    QList<ItemPtr> l_entries;
    for (Case const& l_case : l_cases)
    {
        l_entries << Entry("olga", l_case.status, l_file);
        l_entries.last() += l_shared;
        if (l_case.age >= 0)
            BackDate(l_entries.last(), "last_status_change_time", l_case.age);
    }
    // pia waits for a slot; the time-outs free some.
    ItemPtr const l_waiting = Entry("pia", "queued", l_file);
    l_waiting += l_shared;
    manager().OrderNewUpload(l_waiting);
    SetSetting("upload_slots", "5");

    LogCapture l_log;
    manager().EveryHalfMinute();
    for (int l_index = 0; l_index < l_cases.size(); ++l_index)
    {
        Case const& l_case = l_cases[l_index];
        QCOMPARE(UploadStatus(l_entries[l_index]), l_case.aborted ? QByteArray("aborted") : QByteArray(l_case.status));
    }
    for (char const* lp_phase : {"requesting", "connecting", "waiting for offset", "uploading"})
        QCOMPARE(l_log.Count(c_queueArea, 1,
                             QString("Upload of stall.bin to olga timed out in %1 phase, aborting").arg(lp_phase)),
                 QByteArray(lp_phase) == "uploading" ? 0 : 1);
    QVERIFY(l_olga->WaitForMessages(46, 3));
    QTest::qWait(20);
    QCOMPARE(l_olga->MessagesWithCode(46).size(), 3);
    QCOMPARE(UploadStatus(l_waiting), QByteArray("requesting"));
    QVERIFY(l_pia->WaitForMessages(40, 1));
}

void TestUploadLimits::downloadsAreRequeuedAndPlacesAskedAtOnlineUsers()
{
    // Per user: the age of the last re-queue (-1: none), whether the user is online,
    // whether a download from the user runs, and whether the run re-queues.
    struct Case
    {
        char const* user;
        int lastQueueAge;
        bool online;
        bool downloading;
        bool requeued;
        bool placesAsked;
    };
    QList<Case> const l_cases = {
        {"quinn", -1, true, false, true, false},
        {"rosa", 598, true, false, false, true},
        {"sam", 600, true, false, true, false},
        {"tom", -1, false, false, false, false},
        {"uma", -1, true, true, false, false},
    };
    std::map<QString, std::unique_ptr<FakeDownloader>> l_peers;
    for (Case const& l_case : l_cases)
    {
        l_peers[l_case.user] = m_env.Downloader(l_case.user, FakeDownloader::Answer::Silent, false);
        // Two queued downloads, the later-ordered one added first (order numbers are
        // one per download).
        ItemPtr const l_late = manager().AddDownload(l_case.user, "late.bin", "music", 10, 0);
        manager().AddDownload(l_case.user, "early.bin", "music", 10, 0);
        l_late.Disconnect("download_order");
        l_late += d["download_order"]->GetItem(Value(999999 - l_peers.size()));
        if (l_case.downloading)
            manager().AddDownload(l_case.user, "now.bin", "music", 10, 0) +=
                d["download_entry_status"]->GetItem(Value("downloading"));
        SetOnline(l_case.user, l_case.online);
        ItemPtr const l_user = User(l_case.user);
        l_user.Disconnect("last_queue_request_time");
        l_user.Disconnect("next_place_in_line_request_time");
        if (l_case.lastQueueAge >= 0)
            BackDate(l_user, "last_queue_request_time", l_case.lastQueueAge);
    }
    // Coming online re-queued the two downloads at once; those requests are not counted.
    for (Case const& l_case : l_cases)
        if (l_case.online)
            QVERIFY(l_peers[l_case.user]->WaitForMessages(43, 2));

    manager().EveryHalfMinute();
    for (Case const& l_case : l_cases)
        if (l_case.requeued)
            QVERIFY(l_peers[l_case.user]->WaitForMessages(43, 4));
    QVERIFY(l_peers["rosa"]->WaitForMessages(51, 2));
    QTest::qWait(50);
    for (Case const& l_case : l_cases)
    {
        FakeDownloader& l_peer = *l_peers[l_case.user];
        QCOMPARE(l_peer.MessagesWithCode(43).size(), l_case.requeued ? 4 : l_case.online ? 2 : 0);
        QList<QByteArray> const l_places = l_peer.MessagesWithCode(51);
        QList<QByteArray> const l_expected = {Code(51, FakePeer::Text("music\\early.bin")),
                                              Code(51, FakePeer::Text("music\\late.bin"))};
        QCOMPARE(l_places, l_case.placesAsked ? l_expected : QList<QByteArray>());
        ItemPtr const l_next = User(l_case.user)["next_place_in_line_request_time"];
        if (l_case.placesAsked)
            QVERIFY(QDateTime::currentDateTime().secsTo(QDateTime::fromString(l_next.AsString(), Qt::TextDate)) >= 598);
    }

    // Places follow for the re-queued users once their time is due, and not again
    // before it.
    BackDate(User("quinn"), "next_place_in_line_request_time", 0);
    manager().EveryHalfMinute();
    QVERIFY(l_peers["quinn"]->WaitForMessages(51, 2));
    manager().EveryHalfMinute();
    QTest::qWait(50);
    QCOMPARE(l_peers["quinn"]->MessagesWithCode(51).size(), 2);
    QCOMPARE(l_peers["rosa"]->MessagesWithCode(51).size(), 2);
}

QTEST_GUILESS_MAIN(TestUploadLimits)
#include "tst_upload_limits.moc"
