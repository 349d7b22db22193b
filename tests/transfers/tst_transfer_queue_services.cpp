#include "TransferTestEnv.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

using namespace TransferTestEnv;

class TestTransferQueueServices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void followsTheUploadSlotsSetting();
    void comparesSlotsWithRunningUploads();
    void countsQueuedUploads();
    void takesOverAcceptedFileConnection();
    void receivesFileConnectionsOfThePeerNetwork();

private:
    ItemPtr NewUpload(char const* status);

    TransferFixture m_env;
    TransferQueueManager* mp_manager = nullptr;
};

void TestTransferQueueServices::initTestCase()
{
    QVERIFY(m_env.SetUp());
    mp_manager = &m_env.manager();
}

void TestTransferQueueServices::cleanupTestCase()
{
    m_env.TearDown();
    QVERIFY(transferQueueManager == nullptr);
}

ItemPtr TestTransferQueueServices::NewUpload(char const* status)
{
    ItemPtr const l_entry = d["upload_entry"]->NewItem();
    l_entry += d["upload_entry_status"]->GetItem(Value(status));
    return l_entry;
}

void TestTransferQueueServices::followsTheUploadSlotsSetting()
{
    QCOMPARE(GetSetting("upload_slots"), QString("1"));
    QVERIFY(mp_manager->IsFreeToUpload());
    SetSetting("upload_slots", "0");
    QVERIFY(!mp_manager->IsFreeToUpload());
    SetSetting("upload_slots", "1");
    QCOMPARE(mp_manager->QueuedUploadCount(), 0u);
}

void TestTransferQueueServices::comparesSlotsWithRunningUploads()
{
    // Each entry has one status item; the statuses that count as running carry the
    // is_active flag.
    SetSetting("upload_slots", "2");
    QVERIFY(mp_manager->IsFreeToUpload());
    NewUpload("uploading");
    NewUpload("queued");
    NewUpload("complete");
    QVERIFY(mp_manager->IsFreeToUpload());
    ItemPtr const l_second = NewUpload("requesting");
    QVERIFY(!mp_manager->IsFreeToUpload());
    SetSetting("upload_slots", "3");
    QVERIFY(mp_manager->IsFreeToUpload());
    SetSetting("upload_slots", "");
    QVERIFY(!mp_manager->IsFreeToUpload());

    SetSetting("upload_slots", "-1");
    QVERIFY(!mp_manager->IsFreeToUpload());
    l_second.Remove();
    SetSetting("upload_slots", "1");
    QVERIFY(!mp_manager->IsFreeToUpload());
}

void TestTransferQueueServices::countsQueuedUploads()
{
    std::uint32_t const l_before = mp_manager->QueuedUploadCount();
    QCOMPARE(l_before, 1u);
    ItemPtr const l_entry = NewUpload("queued");
    NewUpload("queued");
    QCOMPARE(mp_manager->QueuedUploadCount(), 3u);
    l_entry += d["upload_entry_status"]->GetItem(Value("uploading"));
    QCOMPARE(mp_manager->QueuedUploadCount(), 2u);
    // Counting changes nothing.
    QCOMPARE(mp_manager->QueuedUploadCount(), 2u);
    QCOMPARE(d["upload_entry"]->GetItemCount(), std::size_t(5));
}

void TestTransferQueueServices::takesOverAcceptedFileConnection()
{
    QTcpServer l_listener;
    QVERIFY(l_listener.listen(QHostAddress(QHostAddress::LocalHost), 0));
    FakePeer l_peer;
    QVERIFY(l_peer.ConnectTo(l_listener.serverPort()));
    QVERIFY(l_listener.hasPendingConnections() || l_listener.waitForNewConnection(3000));
    QPointer<QTcpSocket> const l_socket = l_listener.nextPendingConnection();
    l_socket->setParent(nullptr);

    // No upload of lena's waits for a connection: it is let go without a byte.
    mp_manager->OnFileConnectionAccepted("lena", l_socket);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(l_socket.isNull());
    QVERIFY(l_peer.WaitForDisconnected());
    QVERIFY(l_peer.Received().isEmpty());
}

void TestTransferQueueServices::receivesFileConnectionsOfThePeerNetwork()
{
    FakePeer l_peer;
    SetAddress("milo", l_peer.Listen());
    QSignalSpy l_accepted(peerMessenger, &PeerMessenger::FileConnectionAccepted);
    peerMessenger->RequestFileConnectionToUser("milo");
    QTRY_COMPARE_WITH_TIMEOUT(l_accepted.count(), 1, 3000);
    QCOMPARE(l_accepted[0][0].toString(), QString("milo"));
    // Handed to the transfer queues, which have no upload for it: it ends before any
    // transfer token could follow the introduction.
    QVERIFY(l_peer.WaitForDisconnected());
    QByteArray const l_init = FakePeer::PlainFrame(FakePeer::InitPayload("alice", "F"));
    QVERIFY(l_init.startsWith(l_peer.Received()));
}

QTEST_GUILESS_MAIN(TestTransferQueueServices)
#include "tst_transfer_queue_services.moc"
