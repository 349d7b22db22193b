#include "TransferTestEnv.h"

using namespace TransferTestEnv;

class TestDownloadQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void cleanup();

    void formsFoldersFromLevelAndSetting();
    void removesEmptiedFoldersOnceNoDownloadRemains();
    void addsOnceQueuesWhenOnlineAndFindsCompleteFiles();
    void requeuesInOrderSkippingFinishedAndDenied();
    void answersDenialsFailuresAndPlaces();
    void acceptsPushesFromChosenUsers();

private:
    TransferQueueManager& manager() { return m_env.manager(); }
    TransferFixture m_env;
};

void TestDownloadQueue::cleanup()
{
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        manager().RemoveDownload(l_entry);
    SetSetting("download_folder", m_env.Folder());
}

void TestDownloadQueue::formsFoldersFromLevelAndSetting()
{
    struct Case
    {
        char const* folder;
        int level;
        char const* relative;
    };
    // Deeper levels than the folder has repeat its first component; stored levels
    // outside 0 to 255 are brought back into that range.
    Case const l_cases[] = {
        {"music\\albums\\a", 0, "a"},         {"music\\albums\\a", 1, "albums\\a"},
        {"music\\albums\\a", 2, "music\\albums\\a"}, {"music\\a", 2, "music\\music\\a"},
        {"music\\albums\\a", -3, "a"},        {"", 1, ""},
    };
    SetSetting("download_folder", "/srv/dl");
    for (Case const& l_case : l_cases)
    {
        ItemPtr const l_entry = manager().AddDownload("ann", "f.mp3", l_case.folder, 1, l_case.level);
        QString const l_relative = QString::fromLatin1(l_case.relative);
        QString const l_tail = l_relative.isEmpty() ? QString() : "\\" + l_relative;
        QCOMPARE(manager().GetDownloadRelativeDownloadFolder(l_entry), l_relative);
        QCOMPARE(manager().GetDownloadTargetFolder(l_entry, false), "\\srv\\dl\\downloading" + l_tail);
        QCOMPARE(manager().GetDownloadTargetPath(l_entry, true),
                 "\\srv\\dl\\complete" + l_tail + "\\f.mp3");
        QString l_local;
        QVERIFY(manager().GetLocalDownloadPath(l_entry, true, l_local));
        QCOMPARE(l_local, QString("/srv/dl/complete" + l_tail + "/f.mp3").replace('\\', '/'));
        manager().RemoveDownload(l_entry);
    }
    ItemPtr const l_huge = manager().AddDownload("ann", "g.mp3", "a", 1, 100000);
    QCOMPARE(TransferQueueManager::SubfolderSaveLevel(l_huge), 255);
}

void TestDownloadQueue::removesEmptiedFoldersOnceNoDownloadRemains()
{
    ItemPtr const l_first = manager().AddDownload("ann", "1.mp3", "music\\band\\live", 1, 1);
    ItemPtr const l_second = manager().AddDownload("bea", "2.mp3", "music\\band\\live", 1, 1);
    QString const l_leaf = m_env.Folder() + "/downloading/band/live";
    QVERIFY(QDir().mkpath(l_leaf));
    manager().SetDownloadEntryStatus(l_first, "complete");
    manager().RemoveDownloadDownloadingFolderIfAppropriate(l_first);
    QVERIFY(QFileInfo::exists(l_leaf));
    manager().SetDownloadEntryStatus(l_second, "complete");
    manager().RemoveDownloadDownloadingFolderIfAppropriate(l_second);
    QVERIFY(!QFileInfo::exists(m_env.Folder() + "/downloading/band"));
    QVERIFY(QFileInfo::exists(m_env.Folder() + "/downloading"));

    // Without a remote folder the walk may take the downloading folder itself, never
    // the download folder above it.
    ItemPtr const l_loose = manager().AddDownload("ann", "3.mp3", "", 1, 3);
    manager().SetDownloadEntryStatus(l_loose, "complete");
    manager().RemoveDownloadDownloadingFolderIfAppropriate(l_loose);
    QVERIFY(!QFileInfo::exists(m_env.Folder() + "/downloading"));
    QVERIFY(QFileInfo::exists(m_env.Folder()));
}

void TestDownloadQueue::addsOnceQueuesWhenOnlineAndFindsCompleteFiles()
{
    FakeUploader l_cleo("cleo");
    SetAddress("cleo", l_cleo.Listen());
    SetOnline("cleo", true);
    long long const l_counter = GetSetting("transfer_order_counter").toLongLong();
    ItemPtr const l_entry = manager().AddDownload("cleo", "a.flac", "rips", 500, 0);
    QCOMPARE(Status(l_entry), QByteArray("queued"));
    QCOMPARE(l_entry["download_order"].AsInt64(), l_counter);
    QDateTime const l_next = QDateTime::fromString(
        User("cleo")["next_place_in_line_request_time"].AsString(), Qt::TextDate);
    QVERIFY(qAbs(QDateTime::currentDateTime().secsTo(l_next) - 10) <= 1);
    QVERIFY(l_cleo.WaitForMessages(43, 1));

    // Added again in any status: the same entry, nothing sent, nothing changed.
    manager().SetDownloadEntryStatus(l_entry, "denied");
    QCOMPARE(manager().AddDownload("cleo", "a.flac", "rips", 999, 4), l_entry);
    QCOMPARE(Status(l_entry), QByteArray("denied"));
    QCOMPARE(GetSetting("transfer_order_counter").toLongLong(), l_counter + 1);

    // Offline: queued without a message; a file already in the complete folder: done.
    QCOMPARE(Status(manager().AddDownload("dan", "b.flac", "rips", 1, 0)), QByteArray("queued"));
    QVERIFY(WriteFile(m_env.Folder() + "/complete/rips/c.flac", "x"));
    QCOMPARE(Status(manager().AddDownload("dan", "c.flac", "rips", 1, 0)), QByteArray("complete"));
    QVERIFY(User("dan").IsConnected("is_tracked"));
    QTest::qWait(50);
    QCOMPARE(l_cleo.MessagesWithCode(43).size(), 1);
}

void TestDownloadQueue::requeuesInOrderSkippingFinishedAndDenied()
{
    FakeUploader l_eli("eli");
    SetAddress("eli", l_eli.Listen());
    QList<ItemPtr> l_entries;
    for (char const* lp_status : {"aborted", "complete", "denied", "local error", "queued"})
    {
        l_entries.prepend(manager().AddDownload("eli", lp_status, "f", 1, 0));
        manager().SetDownloadEntryStatus(l_entries.first(), lp_status);
    }
    // Orders reversed against creation, so the order number alone decides.
    for (int l_at = 0; l_at < l_entries.size(); ++l_at)
        l_entries[l_at] += d["download_order"]->GetItem(Value(1000 + l_at));

    LogCapture l_log;
    SetOnline("eli", true);
    QVERIFY(l_log.Contains(c_queueArea, 1, "Requeueing downloads from user eli"));
    QVERIFY(l_eli.WaitForMessages(43, 3));
    QTest::qWait(50);
    QCOMPARE(l_eli.MessagesWithCode(43),
             (QList<QByteArray>{Code(43, FakePeer::Text("f\\queued")),
                                Code(43, FakePeer::Text("f\\local error")),
                                Code(43, FakePeer::Text("f\\aborted"))}));
    QCOMPARE(Status(l_entries[2]) + Status(l_entries[3]), QByteArray("deniedcomplete"));
    QVERIFY(User("eli")["last_queue_request_time"]);

    // The retry action revives a denied download.
    manager().RequeueDownload(l_entries[2]);
    QCOMPARE(Status(l_entries[2]), QByteArray("queued"));
    QVERIFY(l_eli.WaitForMessages(43, 4));
}

void TestDownloadQueue::answersDenialsFailuresAndPlaces()
{
    FakeUploader l_fay("fay");
    SetAddress("fay", l_fay.Listen());
    SetOnline("fay", true);
    ItemPtr const l_entry = manager().AddDownload("fay", "x.iso", "os", 1, 0);
    QVERIFY(l_fay.WaitForMessages(43, 1));
    auto l_send = [&](QByteArray const& i_payload) {
        return l_fay.Messages().Send(FakePeer::PlainFrame(i_payload));
    };

    // A place in line for a known and an unknown file: only the known one changes, and
    // the unknown name is not made into an item.
    std::size_t const l_names = d["file_name"]->GetItemCount();
    QVERIFY(l_send(Code(44, FakePeer::Text("os\\x.iso") + U32(17))));
    QVERIFY(l_send(Code(44, FakePeer::Text("os\\unknown.iso") + U32(3))));
    QTRY_COMPARE_WITH_TIMEOUT(l_entry["place_in_line"].AsInt(), 17, 3000);
    QCOMPARE(d["file_name"]->GetItemCount(), l_names);

    // A failed upload is queued again; a denial ends in "denied" with its reason.
    QVERIFY(l_send(Code(46, FakePeer::Text("os\\x.iso"))));
    QVERIFY(l_fay.WaitForMessages(43, 2));
    QVERIFY(l_send(Code(50, FakePeer::Text("os\\x.iso") + FakePeer::Text("Banned"))));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("denied"), 3000);
    QCOMPARE(l_entry["denial_reason"].AsString(), QString("Banned"));

    // Failures for downloads in "local error" or of offline users only log.
    LogCapture l_log;
    manager().SetDownloadEntryStatus(l_entry, "local error");
    manager().OnUploadFailedNotification("fay", "os\\x.iso");
    SetOnline("fay", false);
    manager().SetDownloadEntryStatus(l_entry, "queued");
    manager().OnUploadFailedNotification("fay", "os\\x.iso");
    QVERIFY(l_log.Contains(c_queueArea, 1, "User fay offline, not re-queueing os\\x.iso"));
    QTest::qWait(50);
    QCOMPARE(l_fay.MessagesWithCode(43).size(), 2);
}

void TestDownloadQueue::acceptsPushesFromChosenUsers()
{
    struct Case
    {
        char const* user;
        bool listed;
        bool groupAccepts;
        char const* settingYes;
        bool accepted;
    };
    Case const l_cases[] = {
        {"gus", false, false, "yes", false}, {"hal", true, false, "yes", true},
        {"ivy", true, false, "no", false},   {"jo", true, true, "no", true},
    };
    ItemPtr const l_open = d["user_list_group"]->GetItem(Value("open"));
    l_open.NewItem("accept_uploads");
    ItemPtr const l_closed = d["user_list_group"]->GetItem(Value("closed"));
    for (Case const& l_case : l_cases)
    {
        SetSetting("accept_userlist_uploads", l_case.settingYes);
        if (l_case.listed)
            User(l_case.user).NewItem("in_user_list") += l_case.groupAccepts ? l_open : l_closed;
        manager().OnQueueDownloadRequested(l_case.user, "pushed\\gift.zip", 42);
        ItemPtr const l_entry = manager().GetDownloadEntry(l_case.user, "gift.zip", "pushed");
        QCOMPARE(bool(l_entry), l_case.accepted);
        if (l_entry)
            QCOMPARE(Status(l_entry) + l_entry["file_size"].AsStdString().c_str(),
                     QByteArray("queued42"));
    }
}

QTEST_GUILESS_MAIN(TestDownloadQueue)
#include "tst_download_queue.moc"
