#include "TransferTestEnv.h"

using namespace TransferTestEnv;

class TestTransferModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp(false)); }
    void cleanupTestCase() { m_env.TearDown(); }

    void writesSettingDefaults();
    void savedDownloadsComeBackQueuedAfterARestart();
    void freesEveryProgressCellOnce();

private:
    TransferQueueManager& manager() { return m_env.manager(); }
    TransferFixture m_env;
};

void TestTransferModel::writesSettingDefaults()
{
    std::pair<char const*, QString> const l_cases[] = {
        {"download_folder", QDir::homePath() + "/Kestrune Downloads"},
        {"transfer_order_counter", "1"}, {"transfer_req_counter", "1"},
        {"upload_speed_limit", "0"},     {"upload_speed_limit_enabled", "no"},
        {"upload_slots", "1"},           {"check_for_empty_shares", "no"},
        {"max_queued_uploads_per_user", "200"},
        {"empty_share_message",
         "It looks like you're not sharing any files. Please share something before "
         "downloading anything from my own shares. Thanks."},
    };
    for (auto const& [lp_key, l_value] : l_cases)
        QCOMPARE(GetSetting(lp_key), l_value);
    QVERIFY(d["download_entry_status"]->HasItem(Value("downloading")).IsConnected("is_active"));
}

void TestTransferModel::savedDownloadsComeBackQueuedAfterARestart()
{
    SetSetting("download_folder", m_env.Folder());
    char const* const l_statuses[] = {"queued", "downloading", "complete", "denied", "aborted",
                                      "local error"};
    for (char const* lp_status : l_statuses)
    {
        ItemPtr const l_entry = manager().AddDownload("kim", lp_status, "saved\\here", 77, 2);
        manager().SetDownloadEntryStatus(l_entry, lp_status);
        l_entry += d["place_in_line"]->GetItem(Value(4));
    }
    // A user whose only download is complete is still tracked after the restart.
    manager().SetDownloadEntryStatus(manager().AddDownload("lou", "done", "x", 1, 0), "complete");
    ItemPtr const l_upload = d["upload_entry"]->NewItem();
    l_upload += d["upload_entry_status"]->GetItem(Value("queued"));
    ItemPtr const l_record = d["complete_download"]->NewItem();
    l_record += User("kim");
    l_record += d["complete_download_folder"]->GetItem(Value("C\\complete"));
    l_record += d["complete_download_relative_folder"]->GetItem(Value("rel"));
    l_record += d["complete_download_filename"]->GetItem(Value("song.ogg"));
    l_record += d["complete_download_file_size"]->GetItem(Value("123"));
    l_record += d["complete_download_completion_time"]->GetItem(Value("Mon Jul 1 10:00:00 2024"));
    SetSetting("upload_slots", "3");
    SetSetting("max_queued_uploads_per_user", "7");
    QString const l_counter = GetSetting("transfer_order_counter");
    QString const l_file = m_env.Folder() + "/store";
    QVERIFY(dataSaver->Save(l_file));

    // What a new run holds before its store file loads: defaults, no transfers.
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        manager().RemoveDownload(l_entry);
    manager().RemoveUpload(l_upload);
    l_record.Remove();
    SetSetting("upload_slots", "1");
    SetSetting("max_queued_uploads_per_user", "200");
    SetSetting("transfer_order_counter", "1");
    for (char const* lp_user : {"kim", "lou"})
        User(lp_user).Disconnect("is_tracked");
    // The requests of the first run must be in before they are forgotten.
    QTRY_COMPARE_WITH_TIMEOUT(m_env.peer().fake().FramesWithCode(5).size(), 2, 3000);
    m_env.peer().fake().ClearFrames();
    int l_loaded = 0;
    QObject l_listener;
    connect(&manager(), &TransferQueueManager::TransfersLoaded, &l_listener, [&] { ++l_loaded; });

    dataSaver->Load(l_file);
    QCOMPARE(l_loaded, 1);
    QCOMPARE(GetSetting("upload_slots"), QString("3"));
    QCOMPARE(GetSetting("max_queued_uploads_per_user"), QString("7"));
    QCOMPARE(GetSetting("transfer_order_counter"), l_counter);
    QCOMPARE(d["upload_entry"]->GetItemCount(), std::size_t(0));
    for (char const* lp_status : l_statuses)
    {
        ItemPtr const l_entry = manager().GetDownloadEntry("kim", lp_status, "saved\\here");
        QVERIFY2(l_entry && l_entry["download_order"], lp_status);
        QCOMPARE(Status(l_entry), QByteArray(QByteArray(lp_status) == "complete" ? "complete" : "queued"));
        QCOMPARE(l_entry["file_size"].AsInt64() + l_entry["subfolder_save_level"].AsInt(), 79);
        QVERIFY(!l_entry["place_in_line"] && !l_entry["last_status_change_time"]);
    }
    ItemPtr const l_restored = d["complete_download"]->GetItems();
    QCOMPARE(l_restored["complete_download_filename"].AsString() + l_restored["user"].AsString() +
                 l_restored["complete_download_file_size"].AsString(),
             QString("song.oggkim123"));
    QTRY_COMPARE_WITH_TIMEOUT(m_env.peer().fake().FramesWithCode(5).size(), 2, 3000);
    QStringList l_tracked;
    for (FakeServer::Frame const& l_frame : m_env.peer().fake().FramesWithCode(5))
        l_tracked.append(QString::fromUtf8(l_frame.Fields().mid(4)));
    l_tracked.sort();
    QCOMPARE(l_tracked, (QStringList{"kim", "lou"}));
    for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
        manager().RemoveDownload(l_entry);
    d["complete_download"]->GetItems().Remove();
}

void TestTransferModel::freesEveryProgressCellOnce()
{
    // Heap values behind cells; the sanitizers report a value freed twice or never.
    auto l_giveCells = [](ItemPtr i_entry) {
        i_entry += d["write_position"]->GetItem(Value(new qint64(1)));
        i_entry += d["last_receipt_time"]->GetItem(Value(new QDateTime()));
        i_entry += d["last_speed_measurement_time"]->GetItem(Value(new QDateTime()));
        i_entry += d["bytes_per_second"]->GetItem(Value(new int(2)));
        i_entry += d["bytes_since_last_receipt"]->GetItem(Value(new qint64(3)));
    };
    char const* const l_cells[] = {"write_position", "last_receipt_time",
                                   "last_speed_measurement_time", "bytes_per_second",
                                   "bytes_since_last_receipt"};
    ItemPtr const l_removed = d["download_entry"]->NewItem();
    ItemPtr const l_ended = d["download_entry"]->NewItem();
    ItemPtr const l_swept = d["download_entry"]->NewItem();
    for (ItemPtr const& l_entry : {l_removed, l_ended, l_swept})
        l_giveCells(l_entry);
    ItemPtr const l_upload = d["upload_entry"]->NewItem();
    l_upload += d["read_position"]->GetItem(Value(new qint64(4)));
    l_upload += d["bytes_uploaded"]->GetItem(Value(new qint64(5)));

    manager().RemoveDownload(l_removed);
    manager().SetDownloadEntryStatus(l_ended, "downloading");
    manager().SetDownloadEntryStatus(l_ended, "aborted");
    QVERIFY(!l_ended["write_position"] && !l_ended["bytes_per_second"]);
    l_ended.Remove();
    l_swept.Remove();
    l_upload.Remove();
    d.RemoveDisconnectedItems();
    for (char const* lp_cell : l_cells)
        QVERIFY2(d[lp_cell]->GetItemCount() == 0, lp_cell);
    QCOMPARE(d["read_position"]->GetItemCount() + d["bytes_uploaded"]->GetItemCount(),
             std::size_t(0));
}

QTEST_GUILESS_MAIN(TestTransferModel)
#include "tst_transfer_model.moc"
