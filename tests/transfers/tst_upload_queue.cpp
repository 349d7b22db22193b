// The upload queue: which requests are queued, denied or ignored, the effective order
// and places in line, unsharing, and the empty-share probe.

#include "UploadTestEnv.h"

using namespace UploadTestEnv;

class TestUploadQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void init() { m_env.Reset(); }

    void requestsAreQueuedDeniedOrIgnored();
    void perUserLimitCountsQueuedUploadsOnly();
    void orderFollowsPriorityPrivilegeAndArrival();
    void unshareDeniesAndRemovesAndStartsTheNext();
    void emptySharesAreWarnedOncePerRun();

private:
    TransferQueueManager& manager() { return m_env.manager(); }
    UploadFixture m_env;
};

void TestUploadQueue::requestsAreQueuedDeniedOrIgnored()
{
    auto l_dave = m_env.Downloader("dave", FakeDownloader::Answer::Silent, false);
    QString const l_file = m_env.Share("song.mp3", "abc");
    QString const l_missing = QString(l_file).replace("song", "gone");
    long long const l_counter = GetSetting("transfer_order_counter").toLongLong();

    struct Case
    {
        QString file;
        char const* statusBefore; // forced on the entry before the request, if any
        QList<QByteArray> replies; // what dave receives for this request
        char const* log;
        char const* statusAfter;
    };
    QList<Case> const l_cases = {
        {l_missing, nullptr, {Denial(l_missing, "File not shared.")}, "Denied, file not shared", nullptr},
        {l_file, nullptr, {}, "Queued", "queued"},
        {l_file, nullptr, {}, "Already queued", "queued"},
        {l_file, "uploading", {}, "Already queued", "uploading"},
        {l_file, "complete", {}, "complete, re-queueing", "queued"},
        {l_file, "denied", {}, "denied, re-queueing", "queued"},
    };
    for (Case const& l_case : l_cases)
    {
        ItemPtr const l_before = UploadOf("dave", l_case.file);
        if (l_case.statusBefore)
            l_before += d["upload_entry_status"]->GetItem(Value(l_case.statusBefore));
        LogCapture l_log;
        qsizetype const l_frames = l_dave->MessagesWithCode(50).size();
        manager().OnQueueUploadRequested("dave", l_case.file);
        QVERIFY2(l_log.Contains(c_queueArea, 2, l_case.log), l_case.log);
        if (!l_case.replies.isEmpty())
            QVERIFY(l_dave->WaitForMessages(50, l_frames + l_case.replies.size()));
        QCOMPARE(l_dave->MessagesWithCode(50).mid(l_frames), l_case.replies);
        ItemPtr const l_entry = UploadOf("dave", l_case.file);
        QCOMPARE(UploadStatus(l_entry), QByteArray(l_case.statusAfter));
    }
    // One entry throughout, with the order numbers of its first request.
    ItemPtr const l_entry = UploadOf("dave", l_file);
    QCOMPARE(d["upload_entry"]->GetItemCount(), std::size_t(1));
    QCOMPARE(l_entry["upload_order"].AsInt64(), l_counter);
    QCOMPARE(l_entry["effective_upload_order"].AsInt(), 1);
    QCOMPARE(GetSetting("transfer_order_counter").toLongLong(), l_counter + 1);
    QCOMPARE(l_entry["shared_file"], m_env.shares().GetSharedFileItem(m_env.ShareFolder() + "/song.mp3"));
    // Nothing else reached dave: no offer, since he is offline.
    QVERIFY(l_dave->MessagesWithCode(40).isEmpty());
}

void TestUploadQueue::perUserLimitCountsQueuedUploadsOnly()
{
    auto l_erin = m_env.Downloader("erin", FakeDownloader::Answer::Silent, false);
    QStringList l_files;
    for (int l_index = 0; l_index < 201; ++l_index)
        l_files << m_env.Share(QString("many/%1.txt").arg(l_index), "x");
    for (int l_index = 0; l_index < 200; ++l_index)
        manager().OnQueueUploadRequested("erin", l_files[l_index]);
    QCOMPARE(manager().QueuedUploadCount(), 200u);

    manager().OnQueueUploadRequested("erin", l_files[200]);
    QVERIFY(l_erin->WaitForMessages(50, 1));
    QCOMPARE(l_erin->MessagesWithCode(50), QList<QByteArray>{Denial(l_files[200], "Too many files")});
    QVERIFY(!UploadOf("erin", l_files[200]));

    // A running upload takes no place in the queue.
    UploadOf("erin", l_files[0]) += d["upload_entry_status"]->GetItem(Value("uploading"));
    manager().OnQueueUploadRequested("erin", l_files[200]);
    QCOMPARE(UploadStatus(UploadOf("erin", l_files[200])), QByteArray("queued"));
}

void TestUploadQueue::orderFollowsPriorityPrivilegeAndArrival()
{
    QString const l_file = m_env.Share("order.bin", "12345");
    d["user_list_group"]->GetItem(Value("friends")) += d["group_download_priority"]->GetItem(Value(5));
    User("vip").NewItem("in_user_list") += d["user_list_group"]->GetItem(Value("friends"));
    User("priv").NewItem("is_privileged");
    QCOMPARE(manager().GetUserGroupDownloadPriority("vip"), 5);
    QCOMPARE(manager().GetUserGroupDownloadPriority("nobody"), 0);

    // Arrival order, and the places each request leaves behind (numbered from 1).
    struct Case
    {
        char const* user;
        QStringList placesAfter;
    };
    QList<Case> const l_cases = {
        {"plain1", {"plain1"}},
        {"vip", {"vip", "plain1"}},
        {"priv", {"vip", "priv", "plain1"}},
        {"plain2", {"vip", "priv", "plain1", "plain2"}},
    };
    auto const l_places = [&] {
        QStringList l_users;
        for (ItemPtr const& l_entry : d["upload_entry"]->GetItems().SortNumericBy("effective_upload_order"))
            l_users << l_entry["user"].AsString();
        return l_users;
    };
    for (Case const& l_case : l_cases)
    {
        manager().OnQueueUploadRequested(l_case.user, l_file);
        QCOMPARE(l_places(), l_case.placesAfter);
    }
    QCOMPARE(UploadOf("plain2", l_file)["effective_upload_order"].AsInt(), 4);
    manager().DetermineUploadsEffectiveOrder();
    QCOMPARE(UploadOf("vip", l_file)["effective_upload_order"].AsInt(), 0);
    QCOMPARE(l_places(), l_cases.last().placesAfter);

    // A peer asking for its place hears the current number; an unknown file gets nothing.
    auto l_priv = m_env.Downloader("priv", FakeDownloader::Answer::Silent, false);
    manager().OnUploadPlaceInLineRequested("priv", l_file + "x");
    manager().OnUploadPlaceInLineRequested("priv", l_file);
    QVERIFY(l_priv->WaitForMessages(44, 1));
    QCOMPARE(l_priv->MessagesWithCode(44),
             QList<QByteArray>{Code(44, FakePeer::Text(l_file.toUtf8()) + U32(1))});

    // When a slot frees, the first of the online users is offered and the waiting
    // uploads are numbered from 0.
    SetSetting("upload_slots", "0");
    auto l_plain1 = m_env.Downloader("plain1", FakeDownloader::Answer::Silent);
    SetOnline("priv", true);
    manager().SetUploadSlots(1);
    QVERIFY(l_priv->WaitForMessages(40, 1));
    QCOMPARE(UploadStatus(UploadOf("plain1", l_file)), QByteArray("queued"));
    QCOMPARE(UploadStatus(UploadOf("priv", l_file)), QByteArray("requesting"));
    QCOMPARE(UploadOf("priv", l_file)["effective_upload_order"].AsInt(), 0);
    QCOMPARE(UploadOf("plain1", l_file)["effective_upload_order"].AsInt(), 1);
}

void TestUploadQueue::unshareDeniesAndRemovesAndStartsTheNext()
{
    QString const l_first = m_env.Share("u1.bin", "1");
    QString const l_second = m_env.Share("u2.bin", "2");
    auto l_troll = m_env.Downloader("troll", FakeDownloader::Answer::Silent);
    auto l_fred = m_env.Downloader("fred", FakeDownloader::Answer::Silent);
    manager().OnQueueUploadRequested("troll", l_first);
    manager().OnQueueUploadRequested("troll", l_second);
    manager().OnQueueUploadRequested("fred", l_first);
    QCOMPARE(UploadStatus(UploadOf("troll", l_first)), QByteArray("requesting"));

    manager().UnshareUser("troll");
    QVERIFY(User("troll").IsConnected("unshared"));
    QVERIFY(l_troll->WaitForMessages(50, 2));
    QList<QByteArray> const l_denials = l_troll->MessagesWithCode(50);
    QCOMPARE(QSet<QByteArray>(l_denials.begin(), l_denials.end()),
             (QSet<QByteArray>{Denial(l_first, "File not shared."), Denial(l_second, "File not shared.")}));
    QVERIFY(!UploadOf("troll", l_first) && !UploadOf("troll", l_second));
    // The freed slot goes to fred at once.
    QCOMPARE(UploadStatus(UploadOf("fred", l_first)), QByteArray("requesting"));
    QVERIFY(l_fred->WaitForMessages(40, 1));

    manager().OnQueueUploadRequested("troll", l_first);
    QVERIFY(l_troll->WaitForMessages(50, 3));
    manager().ReshareUser("troll");
    QVERIFY(!User("troll").IsConnected("unshared"));
    QVERIFY(!UploadOf("troll", l_first));
    QTest::qWait(50);
    QCOMPARE(l_troll->MessagesWithCode(50).size(), 3);
}

void TestUploadQueue::emptySharesAreWarnedOncePerRun()
{
    QString const l_file = m_env.Share("probe.bin", "p");
    QString const l_other = m_env.Share("probe2.bin", "q");
    SetSetting("check_for_empty_shares", "yes");
    auto l_gus = m_env.Downloader("gus", FakeDownloader::Answer::Silent, false);
    auto l_lou = m_env.Downloader("lou", FakeDownloader::Answer::Silent, false);
    User("lou").NewItem("in_user_list");

    for (QString const& l_name : {l_file, l_other})
        for (char const* lp_user : {"gus", "lou"})
            manager().OnQueueUploadRequested(lp_user, l_name);
    QVERIFY(l_gus->WaitForMessages(4, 1));
    QTest::qWait(50);
    QCOMPARE(l_gus->MessagesWithCode(4).size(), 1);
    QVERIFY(l_lou->MessagesWithCode(4).isEmpty());
    QCOMPARE(User("gus")["empty_share_check_status"].AsString(), QString("requested"));

    FileInfoMap l_empty;
    AttributeTranslationTable l_table;
    LogCapture l_log;
    for (int l_round = 0; l_round < 2; ++l_round)
        for (char const* lp_user : {"gus", "lou"})
            manager().OnUserShare(lp_user, l_empty, l_table);
    QVERIFY(m_env.peer().fake().WaitForCode(22));
    QCOMPARE(m_env.peer().fake().FramesWithCode(22).size(), 1);
    QCOMPARE(m_env.peer().fake().FramesWithCode(22)[0].Fields(),
             FakePeer::Text("gus") + FakePeer::Text(GetSetting("empty_share_message").toUtf8()));
    QVERIFY(l_log.Contains("Shared", 1, "Sent empty share warning message to user gus"));
    QCOMPARE(User("gus")["empty_share_check_status"].AsString(), QString("empty"));
    QVERIFY(User("gus")["sent_empty_share_warning_message"]);
    QVERIFY(!User("lou")["empty_share_check_status"]);
    // The uploads stay queued.
    QCOMPARE(UploadStatus(UploadOf("gus", l_file)), QByteArray("queued"));
}

QTEST_GUILESS_MAIN(TestUploadQueue)
#include "tst_upload_queue.moc"
