// Uploads on the wire: the offer (40), every kind of answer to it (41), the file
// connection with its token and offset, the bytes, the endings and what the peer and
// the server are told.

#include "UploadTestEnv.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtEndian>

#include <functional>

using namespace UploadTestEnv;

class TestUploadTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void init() { m_env.Reset(); }

    void sendsTheFileFromTheOffsetInPieces();
    void endsBySizeAndOffset();
    void answersToTheOffer();
    void refusalWhileUploadingStopsTheWaitingWorker();
    void offersOnlyWhatIsStillSharedAndNeedsAnOpenFile();

private:
    TransferQueueManager& manager() { return m_env.manager(); }
    UploadFixture m_env;
};

void TestUploadTransfer::sendsTheFileFromTheOffsetInPieces()
{
    QByteArray const l_content = Content(3 * 8192 + 100);
    QString const l_file = m_env.Share("carol/live.bin", l_content);
    auto l_carol = m_env.Downloader("carol");
    l_carol->SetOffset(100, {3, 5});
    int l_reports = 0;
    qint64 l_reported = 0;
    QObject l_listener;
    connect(&manager(), &TransferQueueManager::UploadProgressed, &l_listener,
            [&](ItemPtr i_entry)
            {
                ++l_reports;
                l_reported = *i_entry["read_position"].AsPtr<qint64>();
            });

    manager().OnQueueUploadRequested("carol", l_file);
    QVERIFY(l_carol->WaitForMessages(40, 1));
    quint32 const l_token = l_carol->Offers()[0].token;
    QCOMPARE(l_carol->MessagesWithCode(40)[0], OfferOf(l_token, l_file, l_content.size()));
    QVERIFY(l_carol->WaitForFileConnections(1));
    QVERIFY(l_carol->WaitForFileClosed(5000));
    QCOMPARE(l_carol->Token(), U32(l_token));
    QCOMPARE(Sha1(l_carol->FileBytes()), Sha1(l_content.mid(100)));

    ItemPtr const l_entry = UploadOf("carol", l_file);
    QTRY_COMPARE_WITH_TIMEOUT(UploadStatus(l_entry), QByteArray("complete"), 5000);
    // Reports are paced; the last chunk's always comes.
    QVERIFY(l_reports >= 1 && l_reports <= 3);
    QCOMPARE(l_reported, qint64(l_content.size()));
    for (char const* lp_cell : {"upload_thread", "upload_socket", "upload_file", "read_position",
                                "bytes_per_second", "last_receipt_time", "bytes_since_last_receipt"})
        QVERIFY2(!l_entry[lp_cell] && d[lp_cell]->GetItemCount() == 0, lp_cell);
    QVERIFY(!m_env.peer().fake().HasCode(121));
    QVERIFY(l_carol->MessagesWithCode(46).isEmpty());
}

void TestUploadTransfer::endsBySizeAndOffset()
{
    // Fast enough to finish at once, slow enough that a speed is measured.
    manager().SetUploadSpeedLimit(10000);
    manager().EnableUploadSpeedLimit(true);
    qint64 const l_fiveGiB = 5ll << 30;
    struct Case
    {
        char const* user;
        qint64 size;
        qint64 offset;
        bool refuse;
        char const* status;
        bool failureNotice; // peer message 46
        bool speedReport;   // server message 121
    };
    QList<Case> const l_cases = {
        {"u_empty", 0, 0, false, "aborted", true, false},
        {"u_atend", 1000, 1000, false, "aborted", true, false},
        {"u_mib", 1048576, 0, false, "complete", false, false},
        {"u_mibplus", 1048577, 0, false, "complete", false, true},
        {"u_huge", l_fiveGiB, 0, true, "denied", false, false},
    };
    for (Case const& l_case : l_cases)
    {
        m_env.peer().fake().ClearFrames();
        QString const l_name = QString("ends/%1.bin").arg(l_case.user);
        QString const l_file = l_case.size > (1 << 21) ? m_env.ShareSized(l_name, l_case.size)
                                                        : m_env.Share(l_name, Content(l_case.size));
        auto l_peer = m_env.Downloader(l_case.user, l_case.refuse ? FakeDownloader::Answer::Refuse
                                                                  : FakeDownloader::Answer::Accept);
        l_peer->SetOffset(l_case.offset);
        manager().OnQueueUploadRequested(l_case.user, l_file);
        ItemPtr const l_entry = UploadOf(l_case.user, l_file);
        QTRY_COMPARE_WITH_TIMEOUT(UploadStatus(l_entry), QByteArray(l_case.status), 5000);
        QCOMPARE(l_peer->Offers()[0].size, l_case.size);
        if (l_case.failureNotice)
        {
            QVERIFY(l_peer->WaitForMessages(46, 1));
            QCOMPARE(l_peer->MessagesWithCode(46)[0], Code(46, FakePeer::Text(l_file.toUtf8())));
        }
        QTest::qWait(20);
        QCOMPARE(l_peer->MessagesWithCode(46).size(), l_case.failureNotice ? 1 : 0);
        QList<FakeServer::Frame> const l_speeds = m_env.peer().fake().FramesWithCode(121);
        QCOMPARE(l_speeds.size(), l_case.speedReport ? 1 : 0);
        if (l_case.speedReport)
            QVERIFY(qFromLittleEndian<qint32>(l_speeds[0].Fields().constData()) > 0);
        if (l_case.refuse)
            QCOMPARE(l_entry["denial_reason"].AsString(), QString("Cancelled"));
        else
            QCOMPARE(l_peer->FileConnectionCount(), 1);
    }
}

void TestUploadTransfer::answersToTheOffer()
{
    QString const l_file = m_env.Share("answers.bin", "answer me");
    auto l_hank = m_env.Downloader("hank", FakeDownloader::Answer::Silent);
    auto l_jill = m_env.Downloader("jill", FakeDownloader::Answer::Silent);
    manager().OnQueueUploadRequested("hank", l_file);
    manager().OnQueueUploadRequested("jill", l_file);
    QVERIFY(l_hank->WaitForMessages(40, 1));
    quint32 const l_token = l_hank->Offers()[0].token;
    ItemPtr const l_entry = UploadOf("hank", l_file);
    d["download_entry"]->NewItem() += d["transfer_req"]->GetItem(Value(l_token + 1));
    d["transfer_req"]->GetItem(Value(l_token + 2));

    struct Case
    {
        char const* user;
        quint32 token;
        bool accepted;
        char const* statusBefore;
        std::function<void()> before;
        QString log;
        char const* statusAfter;
    };
    QString const l_path = m_env.ShareFolder() + "/answers.bin";
    QList<Case> const l_cases = {
        {"hank", l_token + 1000, true, nullptr, {}, "req not found", "requesting"},
        {"hank", l_token + 1, true, nullptr, {}, "Found download, not processing", "requesting"},
        {"hank", l_token + 2, true, nullptr, {}, "Neither upload or download attached to req, weird", "requesting"},
        {"ivan", l_token, true, nullptr, {},
         "Upload user hank not the same as user who opened the connection, not doing anything", "requesting"},
        {"hank", l_token, true, "connecting", {},
         "Upload no longer in requesting phase, instead status is connecting. Not processing.", "connecting"},
        {"hank", l_token, true, "requesting", [&] { QFile::remove(l_path); },
         "File could not be opened, marking local error and sending denial message. Shouldn't we have done "
         "this before we requested the transfer?",
         "local error"},
        {"hank", l_token, false, nullptr, {}, "Upload was not accepted, marking denied. Reason: Busy", "denied"},
    };
    for (Case const& l_case : l_cases)
    {
        if (l_case.statusBefore)
            l_entry += d["upload_entry_status"]->GetItem(Value(l_case.statusBefore));
        if (l_case.before)
            l_case.before();
        LogCapture l_log;
        manager().OnFileTransferResponse(l_case.user, l_case.token, l_case.accepted, false, 0, "Busy");
        QVERIFY2(l_log.Contains(c_queueArea, 2, l_case.log), qPrintable(l_case.log));
        QCOMPARE(UploadStatus(l_entry), QByteArray(l_case.statusAfter));
    }
    QCOMPARE(l_entry["denial_reason"].AsString(), QString("Busy"));
    QVERIFY(l_hank->WaitForMessages(50, 1));
    QCOMPARE(l_hank->MessagesWithCode(50), QList<QByteArray>{Denial(l_file, "File read error.")});
    QVERIFY(l_hank->MessagesWithCode(46).isEmpty());
    // The slot hank's failure freed went to jill.
    QCOMPARE(UploadStatus(UploadOf("jill", l_file)), QByteArray("requesting"));
    QVERIFY(l_jill->WaitForMessages(40, 1));
}

void TestUploadTransfer::refusalWhileUploadingStopsTheWaitingWorker()
{
    QString const l_file = m_env.Share("held.bin", Content(50000));
    auto l_kim = m_env.Downloader("kim");
    l_kim->SetSendOffset(false);
    manager().OnQueueUploadRequested("kim", l_file);
    ItemPtr const l_entry = UploadOf("kim", l_file);
    QTRY_COMPARE_WITH_TIMEOUT(UploadStatus(l_entry), QByteArray("uploading"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(l_kim->Token().size(), 4, 3000);

    // The worker waits for the offset; it notices the exit request after its current
    // wait slice, not after the whole silence limit.
    QElapsedTimer l_clock;
    l_clock.start();
    manager().OnFileTransferResponse("kim", l_kim->Offers()[0].token, false, false, 0, "Cancelled");
    QVERIFY(l_clock.elapsed() < UploadThread::c_waitLimitMs / 3);
    QCOMPARE(UploadStatus(l_entry), QByteArray("denied"));
    QVERIFY(!l_entry["upload_thread"] && !l_entry["upload_socket"] && !l_entry["read_position"]);
    QVERIFY(l_kim->WaitForFileClosed());
    QTest::qWait(20);
    QVERIFY(l_kim->MessagesWithCode(46).isEmpty());
}

void TestUploadTransfer::offersOnlyWhatIsStillSharedAndNeedsAnOpenFile()
{
    QTemporaryDir l_private;
    QVERIFY(WriteFile(l_private.path() + "/secret.bin", "s"));
    ItemPtr const l_folder = m_env.shares().AddSharedFolder(l_private.path());
    l_folder.NewItem("shared_public");
    QString const l_file = QString(l_private.path() + "/secret.bin").replace('/', '\\');
    QString const l_open = m_env.Share("open.bin", "o");
    auto l_lena = m_env.Downloader("lena", FakeDownloader::Answer::Silent, false);
    auto l_mia = m_env.Downloader("mia", FakeDownloader::Answer::Silent, false);
    manager().OnQueueUploadRequested("lena", l_file);
    manager().OnQueueUploadRequested("mia", l_open);
    QCOMPARE(UploadStatus(UploadOf("lena", l_file)), QByteArray("queued"));

    // The folder stops being shared while the upload waits: lena is told when her turn
    // comes, and the slot goes to mia.
    l_folder.Disconnect("shared_public");
    SetOnline("lena", true);
    SetOnline("mia", true);
    ItemPtr const l_denied = UploadOf("lena", l_file);
    QCOMPARE(UploadStatus(l_denied), QByteArray("denied"));
    QCOMPARE(l_denied["denial_reason"].AsString(), QString("File not shared."));
    QVERIFY(l_lena->WaitForMessages(50, 1));
    QCOMPARE(l_lena->MessagesWithCode(50), QList<QByteArray>{Denial(l_file, "File not shared.")});
    QVERIFY(l_lena->MessagesWithCode(40).isEmpty());
    QCOMPARE(UploadStatus(UploadOf("mia", l_open)), QByteArray("requesting"));

    // A file connection for an upload that has no open file is let go.
    ItemPtr const l_entry = UploadOf("mia", l_open);
    l_entry += d["upload_entry_status"]->GetItem(Value("connecting"));
    QTcpServer l_listener;
    QVERIFY(l_listener.listen(QHostAddress(QHostAddress::LocalHost), 0));
    FakePeer l_peer;
    QVERIFY(l_peer.ConnectTo(l_listener.serverPort()));
    QVERIFY(l_listener.hasPendingConnections() || l_listener.waitForNewConnection(3000));
    QPointer<QTcpSocket> const l_socket = l_listener.nextPendingConnection();
    l_socket->setParent(nullptr);
    manager().OnFileConnectionAccepted("mia", l_socket);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(l_socket.isNull());
    QVERIFY(!l_entry["upload_thread"] && !l_entry["upload_socket"]);
    QCOMPARE(UploadStatus(l_entry), QByteArray("connecting"));
}

QTEST_GUILESS_MAIN(TestUploadTransfer)
#include "tst_upload_transfer.moc"
