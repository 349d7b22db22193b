#include "PeerTestEnv.h"
#include "store/Log.h"
#include "support/LogCapture.h"

#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <cstdlib>
#include <functional>
#include <memory>

using PeerTestEnv::c_area;
using PeerTestEnv::Code;
using PeerTestEnv::MessageOf;

namespace
{
QByteArray BytesOf(MemStream const& stream)
{
    return QByteArray(stream.GetBuffer(), static_cast<qsizetype>(stream.GetWriteIndex()));
}

// Payload bytes the reader holds for the socket's current frame, -1 without a read
// state, -2 while no header has been read.
qint64 Buffered(QTcpSocket* socket)
{
    PeerMessenger::SocketBufferInfo const* lp_info = peerMessenger->FindSocketBufferInfo(socket);
    if (!lp_info)
        return -1;
    if (!lp_info->m_isLengthRead)
        return -2;
    return static_cast<qint64>(lp_info->m_buffer.GetWriteIndex());
}

// Puts a log sink back when it goes: declared before a LogCapture, it outlives it.
struct SinkRestorer
{
    LogTestSink m_previous;
    ~SinkRestorer() { SetLogTestSink(m_previous); }
};

QString Received(int code)
{
    return QStringLiteral("Received %1 (unknown) message from user alice").arg(code);
}
} // namespace

class TestPeerFraming : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void obfuscationKeyTakesLowBytesOfRand();
    void buildsGoldenFrames();
    void masksLikeAnIndependentEncoder();
    void sendsWholeFramesOverASocket_data();
    void sendsWholeFramesOverASocket();
    void reportsWriteErrors();
    void reassemblesByteByByte_data();
    void reassemblesByteByByte();
    void dispatchesSeveralFramesOfOneRead_data();
    void dispatchesSeveralFramesOfOneRead();
    void acceptsFramesUpToTenMebibytes_data();
    void acceptsFramesUpToTenMebibytes();
    void takesObfuscationFromAcceptedSocketRecord();
    void growsBufferOnlyWithArrivingBytes();
    void refreshesActivityTimeDuringLongFrames();
    void disposesOfConnectionOnShortFrame();
    void dispatchesEmptyFrameOnlyWithMoreBytes();
    void stopsWhenDispatchDisposedOfSocket();
    void stopsWhenRefusedFrameWasAlreadyDisposedOf();
    void handsOverFileConnectionAfterItsToken_data();
    void handsOverFileConnectionAfterItsToken();
    void leavesSocketAfterHandedOverFrame();
    void followsReplacedConnectionRecord();
    void countsMessagesAsActivityWithNobodyListening();

private:
    // Connects the fake peer to a listener of the test, gives the accepted socket to
    // the messenger's reader and, when asked, an open "P" record for user alice.
    QTcpSocket* Accept(FakePeer& peer, bool withPeerSocket, bool obfuscated);
    void FreeLeftoverActivityCells();

    std::unique_ptr<Server> mp_server;
    std::unique_ptr<PeerMessenger> mp_messenger;
    QTcpServer m_listener;
    QList<QPointer<QTcpSocket>> m_accepted;
};

void TestPeerFraming::initTestCase()
{
    StartStoreServices();
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();
    mp_messenger = std::make_unique<PeerMessenger>();
    QVERIFY(m_listener.listen(QHostAddress(QHostAddress::LocalHost), 0));
}

void TestPeerFraming::cleanupTestCase()
{
    mp_messenger.reset();
    mp_server.reset();
    delete portForwarder;
}

void TestPeerFraming::cleanup()
{
    for (QPointer<QTcpSocket> const& l_socket : m_accepted)
        if (l_socket)
            peerMessenger->DisposeOfSocket(l_socket);
    m_accepted.clear();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FreeLeftoverActivityCells();
}

void TestPeerFraming::FreeLeftoverActivityCells()
{
    // Cells of removed "P" records that no removal handler has freed.
    for (ItemPtr const& l_cell : d["last_activity_time"]->GetItems())
    {
        if (l_cell.IsConnected("peer_socket"))
            continue;
        delete l_cell.AsPtr<QDateTime>();
        l_cell.Remove();
    }
}

QTcpSocket* TestPeerFraming::Accept(FakePeer& peer, bool withPeerSocket, bool obfuscated)
{
    if (!peer.ConnectTo(m_listener.serverPort()))
        return nullptr;
    if (!m_listener.hasPendingConnections() && !m_listener.waitForNewConnection(3000))
        return nullptr;
    QTcpSocket* lp_socket = m_listener.nextPendingConnection();
    m_accepted.append(lp_socket);
    connect(lp_socket, &QTcpSocket::readyRead, peerMessenger, &PeerMessenger::OnSocketReadyToRead);
    if (withPeerSocket)
    {
        ItemPtr const l_item = d["peer_socket"]->NewItem(Value(lp_socket));
        l_item += d["user"]->GetItem(Value("alice"));
        if (obfuscated)
            l_item.NewItem("is_obfuscated");
    }
    return lp_socket;
}

void TestPeerFraming::obfuscationKeyTakesLowBytesOfRand()
{
    bool l_topBitSeen = false;
    for (unsigned l_seed = 1; l_seed <= 64; ++l_seed)
    {
        std::srand(l_seed);
        unsigned const l_r1 = static_cast<unsigned>(std::rand());
        unsigned const l_r2 = static_cast<unsigned>(std::rand());
        unsigned const l_r3 = static_cast<unsigned>(std::rand());
        unsigned const l_r4 = static_cast<unsigned>(std::rand());
        QByteArray const l_expected = QByteArray(1, char(l_r4 & 0xFF)) + char(l_r3 & 0xFF) +
                                      char(l_r2 & 0xFF) + char(l_r1 & 0xFF);
        std::srand(l_seed);
        std::uint32_t const l_key = PeerMessenger::NewObfuscationKey();
        QCOMPARE(FakePeer::U32(l_key), l_expected);
        l_topBitSeen = l_topBitSeen || (l_key & 0x80000000u);
    }
    // The first rand() value's low byte lands in the top byte, sign bit included.
    QVERIFY(l_topBitSeen);
}

void TestPeerFraming::buildsGoldenFrames()
{
    MemStream l_message = MessageOf(QByteArray::fromHex("04000000"));
    QCOMPARE(BytesOf(PeerMessenger::BuildFrame(l_message, false, 0)),
             QByteArray::fromHex("0400000004000000"));
    QCOMPARE(BytesOf(PeerMessenger::BuildFrame(l_message, true, 0x12345678)),
             QByteArray::fromHex("78563412f4ac6824e459d148"));

    // The whole message goes out, whatever has been read of it already.
    std::uint16_t l_half = 0;
    QVERIFY(l_message.Read(l_half));
    QCOMPARE(BytesOf(PeerMessenger::BuildFrame(l_message, true, 0x12345678)),
             QByteArray::fromHex("78563412f4ac6824e459d148"));

    QCOMPARE(BytesOf(PeerMessenger::BuildFrame(MemStream(), false, 0)),
             QByteArray::fromHex("00000000"));
    // Key 0: group g uses 0 rotated, still 0, so the masked frame reads as plain.
    QCOMPARE(BytesOf(PeerMessenger::BuildFrame(MessageOf("abcde"), true, 0)),
             QByteArray::fromHex("00000000") + QByteArray::fromHex("05000000") + "abcde");
}

void TestPeerFraming::masksLikeAnIndependentEncoder()
{
    QRandomGenerator l_random(20121207);
    for (int l_round = 0; l_round < 200; ++l_round)
    {
        std::uint32_t const l_key = l_random.generate();
        // Long enough for several 32-group key cycles, with every partial tail.
        int const l_length = static_cast<int>(l_random.bounded(0, 700));
        QByteArray l_payload(l_length, '\0');
        for (char& l_byte : l_payload)
            l_byte = char(l_random.bounded(256));

        QByteArray const l_frame =
            BytesOf(PeerMessenger::BuildFrame(MessageOf(l_payload), true, l_key));
        QCOMPARE(l_frame, FakePeer::ObfuscatedFrame(l_payload, l_key));
        // Unmasking is the same operation: the plain frame comes back.
        QCOMPARE(FakePeer::Mask(l_frame.mid(4), l_key), FakePeer::PlainFrame(l_payload));
    }
}

void TestPeerFraming::sendsWholeFramesOverASocket_data()
{
    QTest::addColumn<bool>("obfuscated");
    QTest::newRow("plain") << false;
    QTest::newRow("obfuscated") << true;
}

void TestPeerFraming::sendsWholeFramesOverASocket()
{
    QFETCH(bool, obfuscated);
    FakePeer l_peer;
    l_peer.SetObfuscated(obfuscated);
    quint16 const l_port = l_peer.Listen();
    QVERIFY(l_port != 0);
    QTcpSocket l_socket;
    l_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), l_port);
    QVERIFY(l_socket.waitForConnected(3000));

    std::srand(77);
    std::uint32_t const l_firstKey = PeerMessenger::NewObfuscationKey();
    std::srand(77);
    QByteArray const l_big(300000, 'x');
    MemStream l_first = MessageOf(Code(4));
    MemStream l_second = MessageOf(Code(9, l_big));
    QVERIFY(peerMessenger->SendMessage(&l_socket, l_first, obfuscated));
    QVERIFY(peerMessenger->SendMessage(&l_socket, l_second, obfuscated));
    QVERIFY(l_peer.WaitForFrames(2));
    QCOMPARE(l_peer.Frames().size(), 2);
    QCOMPARE(l_peer.Frames()[0], Code(4));
    QCOMPARE(l_peer.Frames()[1], Code(9, l_big));
    if (obfuscated)
    {
        QCOMPARE(l_peer.Keys()[0], l_firstKey);
        QVERIFY(l_peer.Keys()[1] != l_peer.Keys()[0]);
    }
    else
        QCOMPARE(l_peer.Received().size(), 4 + 4 + 4 + 4 + l_big.size());
}

void TestPeerFraming::reportsWriteErrors()
{
    LogCapture l_log;
    QTcpSocket l_socket;
    MemStream l_message = MessageOf(Code(4));
    QVERIFY(!peerMessenger->SendMessage(&l_socket, l_message, false));
    QVERIFY(l_log.Contains(c_area, 1,
                           QStringLiteral("Error writing message to socket: %1")
                               .arg(l_socket.errorString())));

    // Large frames take another way to the socket; their failure is reported alike.
    l_log.Clear();
    MemStream l_large = MessageOf(Code(5, QByteArray(200000, 'l')));
    QVERIFY(!peerMessenger->SendMessage(&l_socket, l_large, true));
    QCOMPARE(l_log.Count(c_area, 1,
                         QStringLiteral("Error writing message to socket: %1")
                             .arg(l_socket.errorString())),
             1);
}

void TestPeerFraming::reassemblesByteByByte_data()
{
    sendsWholeFramesOverASocket_data();
}

void TestPeerFraming::reassemblesByteByByte()
{
    QFETCH(bool, obfuscated);
    LogCapture l_log;
    FakePeer l_peer;
    QTcpSocket* lp_socket = Accept(l_peer, true, obfuscated);
    QVERIFY(lp_socket);

    QByteArray const l_payload = Code(61, "tail");
    QByteArray const l_frame = obfuscated ? FakePeer::ObfuscatedFrame(l_payload, 0xA5C3F00Fu)
                                          : FakePeer::PlainFrame(l_payload);
    int const l_header = obfuscated ? 8 : 4;

    // An incomplete header stays in the socket until all of it is there.
    QVERIFY(l_peer.SendByteByByte(l_frame.left(l_header - 1)));
    QTRY_COMPARE_WITH_TIMEOUT(lp_socket->bytesAvailable(), qint64(l_header - 1), 3000);
    QCOMPARE(Buffered(lp_socket), qint64(-2));

    QVERIFY(l_peer.SendByteByByte(l_frame.mid(l_header - 1, l_frame.size() - l_header)));
    QTRY_COMPARE_WITH_TIMEOUT(Buffered(lp_socket), qint64(l_payload.size() - 1), 3000);
    QCOMPARE(l_log.Count(c_area, 1, Received(61)), 0);
    QCOMPARE(peerMessenger->FindSocketBufferInfo(lp_socket)->m_length,
             std::uint32_t(l_payload.size()));

    QVERIFY(l_peer.Send(l_frame.right(1)));
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Count(c_area, 1, Received(61)), 1, 3000);
    {
        PeerMessenger::SocketBufferInfo const* lp_info =
            peerMessenger->FindSocketBufferInfo(lp_socket);
        QVERIFY(lp_info);
        QVERIFY(!lp_info->m_isLengthRead);
        QCOMPARE(lp_info->m_buffer.GetWriteIndex(), std::uint64_t(0));
    }
    QVERIFY(!l_peer.IsDisconnected());
}

void TestPeerFraming::dispatchesSeveralFramesOfOneRead_data()
{
    sendsWholeFramesOverASocket_data();
}

void TestPeerFraming::dispatchesSeveralFramesOfOneRead()
{
    QFETCH(bool, obfuscated);
    LogCapture l_log;
    FakePeer l_peer;
    QTcpSocket* lp_socket = Accept(l_peer, true, obfuscated);
    QVERIFY(lp_socket);

    // Each obfuscated frame carries its own key; reusing the first would misread the rest.
    QByteArray l_bytes;
    std::uint32_t l_key = 0x01020304u;
    for (std::uint32_t l_code : {61u, 62u, 63u})
    {
        QByteArray const l_payload = Code(l_code, QByteArray(int(l_code) - 60, 'p'));
        l_bytes += obfuscated ? FakePeer::ObfuscatedFrame(l_payload, l_key)
                              : FakePeer::PlainFrame(l_payload);
        l_key = l_key * 2654435761u + 12345u;
    }
    QVERIFY(l_peer.Send(l_bytes));
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), 3, 3000);
    QCOMPARE(l_log.Texts(c_area), QStringList({Received(61), Received(62), Received(63)}));
    QVERIFY(!l_peer.IsDisconnected());
}

void TestPeerFraming::acceptsFramesUpToTenMebibytes_data()
{
    QTest::addColumn<bool>("obfuscated");
    QTest::addColumn<bool>("oversized");
    QTest::newRow("plain 10485760") << false << false;
    QTest::newRow("plain 10485761") << false << true;
    QTest::newRow("obfuscated 10485760") << true << false;
    QTest::newRow("obfuscated 10485761") << true << true;
}

void TestPeerFraming::acceptsFramesUpToTenMebibytes()
{
    QFETCH(bool, obfuscated);
    QFETCH(bool, oversized);
    LogCapture l_log;
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, true, obfuscated);
    QVERIFY(l_socket);

    QByteArray const l_payload = Code(61, QByteArray(10485760 - 4 + (oversized ? 1 : 0), 'z'));
    QByteArray const l_frame = obfuscated ? FakePeer::ObfuscatedFrame(l_payload, 0x0BADF00Du)
                                          : FakePeer::PlainFrame(l_payload);
    if (oversized)
    {
        // Only the header goes out: the connection must end on it alone.
        QVERIFY(l_peer.Send(l_frame.left(obfuscated ? 8 : 4)));
        QVERIFY(l_peer.WaitForDisconnected(5000));
        QVERIFY(l_log.Contains(c_area, 1, "Disposing of socket"));
        QVERIFY(l_log.Contains(c_area, 2, "Identified as peer socket"));
        QCOMPARE(l_log.Count(c_area, 1, Received(61)), 0);
        QVERIFY(d["peer_socket"]->HasItem(Value(l_socket.data())).IsNull());
        QVERIFY(peerMessenger->FindSocketBufferInfo(l_socket) == nullptr);
    }
    else
    {
        QVERIFY(l_peer.Send(l_frame));
        QTRY_COMPARE_WITH_TIMEOUT(l_log.Count(c_area, 1, Received(61)), 1, 10000);
        QVERIFY(!l_peer.IsDisconnected());
        // The reader does not sit on ten megabytes once the frame is handled.
        QVERIFY(peerMessenger->FindSocketBufferInfo(l_socket)->m_buffer.GetBufferCapacity() <
                1048576);
    }
}

void TestPeerFraming::takesObfuscationFromAcceptedSocketRecord()
{
    // Key 16 read as a plain length would wait for 16 bytes; unmasked, the header
    // announces 10485761 and ends the connection at once.
    LogCapture l_log;
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, false, false);
    QVERIFY(l_socket);
    d["uninitialized_socket"]->NewItem(Value(l_socket.data())).NewItem("is_obfuscated");

    QByteArray const l_header = FakePeer::U32(16) + FakePeer::Mask(FakePeer::U32(10485761), 16);
    QVERIFY(l_peer.Send(l_header));
    QVERIFY(l_peer.WaitForDisconnected(3000));
    QVERIFY(l_log.Contains(c_area, 2, "Identified as uninitialized socket"));
    QVERIFY(d["uninitialized_socket"]->HasItem(Value(l_socket.data())).IsNull());
}

void TestPeerFraming::growsBufferOnlyWithArrivingBytes()
{
    FakePeer l_peer;
    QTcpSocket* lp_socket = Accept(l_peer, true, false);
    QVERIFY(lp_socket);

    QVERIFY(l_peer.Send(FakePeer::U32(10485760) + QByteArray(1000, 'a')));
    QTRY_COMPARE_WITH_TIMEOUT(Buffered(lp_socket), qint64(1000), 3000);
    PeerMessenger::SocketBufferInfo const* lp_info = peerMessenger->FindSocketBufferInfo(lp_socket);
    QVERIFY(lp_info && lp_info->m_isLengthRead);
    QCOMPARE(lp_info->m_length, std::uint32_t(10485760));
    QCOMPARE(lp_info->m_buffer.GetWriteIndex(), std::uint64_t(1000));
    QVERIFY(lp_info->m_buffer.GetBufferCapacity() < 65536);

    QVERIFY(l_peer.Send(QByteArray(300000, 'b')));
    QTRY_COMPARE_WITH_TIMEOUT(Buffered(lp_socket), qint64(301000), 3000);
    lp_info = peerMessenger->FindSocketBufferInfo(lp_socket);
    QVERIFY(lp_info->m_buffer.GetBufferCapacity() >= 301000);
    QVERIFY(lp_info->m_buffer.GetBufferCapacity() < 1048576);
    QVERIFY(QByteArray(lp_info->m_buffer.GetBuffer(), 301000) ==
            QByteArray(1000, 'a') + QByteArray(300000, 'b'));
}

void TestPeerFraming::refreshesActivityTimeDuringLongFrames()
{
    FakePeer l_peer;
    QTcpSocket* lp_socket = Accept(l_peer, true, false);
    QVERIFY(lp_socket);
    QDateTime* lp_activity =
        d["peer_socket"]->HasItem(Value(lp_socket))["last_activity_time"].AsPtr<QDateTime>();
    QVERIFY(lp_activity);
    QDateTime const l_old = QDateTime::currentDateTime().addSecs(-3600);
    *lp_activity = l_old;

    // Below the first 102400 bytes of the payload nothing changes.
    QVERIFY(l_peer.Send(FakePeer::U32(400000) + QByteArray(100000, 'c')));
    QTRY_COMPARE_WITH_TIMEOUT(Buffered(lp_socket), qint64(100000), 3000);
    QCOMPARE(*lp_activity, l_old);

    QVERIFY(l_peer.Send(QByteArray(5000, 'c')));
    QTRY_VERIFY_WITH_TIMEOUT(*lp_activity > l_old.addSecs(1800), 3000);
}

void TestPeerFraming::disposesOfConnectionOnShortFrame()
{
    LogCapture l_log;
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, true, false);
    QVERIFY(l_socket);
    QTcpSocket* lp_raw = l_socket.data();

    QVERIFY(l_peer.Send(FakePeer::PlainFrame("ab") + FakePeer::PlainFrame(Code(61))));
    QVERIFY(l_peer.WaitForDisconnected(3000));
    QVERIFY(l_log.Contains(c_area, 1,
                           "Could not read message code on connection to user alice, "
                           "disposing of socket"));
    QCOMPARE(l_log.Count(c_area, 1, "Disposing of socket"), 1);
    QCOMPARE(l_log.Count(c_area, 1, Received(61)), 0);
    QVERIFY(d["peer_socket"]->HasItem(Value(lp_raw)).IsNull());
    QVERIFY(peerMessenger->FindSocketBufferInfo(lp_raw) == nullptr);
}

void TestPeerFraming::dispatchesEmptyFrameOnlyWithMoreBytes()
{
    LogCapture l_log;
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, true, false);
    QVERIFY(l_socket);

    QVERIFY(l_peer.Send(FakePeer::U32(0)));
    QTRY_COMPARE_WITH_TIMEOUT(Buffered(l_socket), qint64(0), 3000);
    QTest::qWait(50);
    QCOMPARE(Buffered(l_socket), qint64(0));
    QVERIFY(!l_log.Contains(c_area, 1, "Disposing of socket"));

    // The next byte lets the empty frame through; it carries no code and is refused.
    QVERIFY(l_peer.Send(QByteArray(1, '\x01')));
    QVERIFY(l_peer.WaitForDisconnected(3000));
    QVERIFY(l_log.Contains(c_area, 1,
                           "Could not read message code on connection to user alice, "
                           "disposing of socket"));
}

void TestPeerFraming::stopsWhenDispatchDisposedOfSocket()
{
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, true, false);
    QVERIFY(l_socket);

    // Whatever runs inside the dispatch (here: something that sees its log line) closes
    // the connection; the frames behind it in the same read must not be touched.
    // Restored after the capture below, which puts back the sink it found.
    SinkRestorer const l_restorer{SetLogTestSink(
        [&l_socket](QString const&, int, QString const& line)
        {
            if (line.endsWith(Received(61)) && l_socket)
                peerMessenger->DisposeOfSocket(l_socket);
        })};
    LogCapture l_log;
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(61)) + FakePeer::PlainFrame(Code(62)) +
                        FakePeer::PlainFrame("x")));
    bool const l_disconnected = l_peer.WaitForDisconnected(3000);
    QVERIFY(l_disconnected);
    QCOMPARE(l_log.Count(c_area, 1, Received(61)), 1);
    QCOMPARE(l_log.Count(c_area, 1, Received(62)), 0);
    QCOMPARE(l_log.Count(c_area, 1, "Disposing of socket"), 1);
}

void TestPeerFraming::stopsWhenRefusedFrameWasAlreadyDisposedOf()
{
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, true, false);
    QVERIFY(l_socket);

    // Restored after the capture below, which puts back the sink it found.
    SinkRestorer const l_restorer{SetLogTestSink(
        [&l_socket](QString const&, int, QString const& line)
        {
            if (line.contains("Could not read message code") && l_socket)
                peerMessenger->DisposeOfSocket(l_socket);
        })};
    LogCapture l_log;
    QVERIFY(l_peer.Send(FakePeer::PlainFrame("ab") + FakePeer::PlainFrame(Code(62))));
    bool const l_disconnected = l_peer.WaitForDisconnected(3000);
    QVERIFY(l_disconnected);
    // One disposal, by the receiver; the reader does not dispose of it a second time.
    QCOMPARE(l_log.Count(c_area, 1, "Disposing of socket"), 1);
    QCOMPARE(l_log.Count(c_area, 1, Received(62)), 0);
}

void TestPeerFraming::handsOverFileConnectionAfterItsToken_data()
{
    sendsWholeFramesOverASocket_data();
}

void TestPeerFraming::handsOverFileConnectionAfterItsToken()
{
    QFETCH(bool, obfuscated);
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, false, false);
    QVERIFY(l_socket);
    PeerMessenger::SocketBufferInfo& l_info = peerMessenger->GetSocketBufferInfo(l_socket);
    l_info.m_isAwaitingFileToken = true;
    l_info.m_user = QStringLiteral("bob");
    l_info.m_isObfuscated = obfuscated;
    QSignalSpy l_requested(peerMessenger, &PeerMessenger::FileConnectionRequested);

    // Fewer than four token bytes wait in the socket.
    QVERIFY(l_peer.Send(QByteArray::fromHex("efbe")));
    QTRY_COMPARE_WITH_TIMEOUT(l_socket->bytesAvailable(), qint64(2), 3000);
    QTest::qWait(20);
    QCOMPARE(l_requested.count(), 0);

    // The token is raw, never masked; what follows it is the new owner's.
    QVERIFY(l_peer.Send(QByteArray::fromHex("adde") + "offset.."));
    QTRY_COMPARE_WITH_TIMEOUT(l_requested.count(), 1, 3000);
    QCOMPARE(l_requested[0][0].toString(), QStringLiteral("bob"));
    QCOMPARE(l_requested[0][1].value<QTcpSocket*>(), l_socket.data());
    QCOMPARE(l_requested[0][2].toUInt(), 0xDEADBEEFu);
    QVERIFY(peerMessenger->FindSocketBufferInfo(l_socket) == nullptr);
    QCOMPARE(l_socket->bytesAvailable(), qint64(8));

    // The messenger no longer reads it.
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(61))));
    QTRY_COMPARE_WITH_TIMEOUT(l_socket->bytesAvailable(), qint64(16), 3000);
    QVERIFY(peerMessenger->FindSocketBufferInfo(l_socket) == nullptr);
    QCOMPARE(l_requested.count(), 1);
}

void TestPeerFraming::leavesSocketAfterHandedOverFrame()
{
    LogCapture l_log;
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, true, false);
    QVERIFY(l_socket);
    peerMessenger->GetSocketBufferInfo(l_socket).m_isHandedOver = true;

    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(61)) + FakePeer::PlainFrame(Code(62))));
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Count(c_area, 1, Received(61)), 1, 3000);
    QVERIFY(peerMessenger->FindSocketBufferInfo(l_socket) == nullptr);
    // The frame behind it is left for whoever took the socket.
    QCOMPARE(l_socket->bytesAvailable(), qint64(8));
    QCOMPARE(l_log.Count(c_area, 1, Received(62)), 0);
    QVERIFY(!l_peer.IsDisconnected());
}

void TestPeerFraming::followsReplacedConnectionRecord()
{
    // The reader keeps what it needs of a connection's record between frames. A record
    // that goes (freeing its activity cell) and a new one for the same socket must be
    // what the next frame sees.
    LogCapture l_log;
    FakePeer l_peer;
    QTcpSocket* lp_socket = Accept(l_peer, true, false);
    QVERIFY(lp_socket);
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(61))));
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Count(c_area, 1, Received(61)), 1, 3000);

    d["peer_socket"]->HasItem(Value(lp_socket)).Remove();
    ItemPtr const l_item = d["peer_socket"]->NewItem(Value(lp_socket));
    l_item += d["user"]->GetItem(Value("bob"));
    QDateTime* lp_activity = l_item["last_activity_time"].AsPtr<QDateTime>();
    QVERIFY(lp_activity);
    QDateTime const l_old = QDateTime::currentDateTime().addSecs(-3600);
    *lp_activity = l_old;

    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(62))));
    QTRY_VERIFY_WITH_TIMEOUT(
        l_log.Contains(c_area, 1, QStringLiteral("Received 62 (unknown) message from user bob")),
        3000);
    QCOMPARE(l_log.Count(c_area, 1, QStringLiteral("Received 62 (unknown) message from user alice")),
             0);
    QVERIFY(*lp_activity > l_old.addSecs(1800));
    QVERIFY(!l_peer.IsDisconnected());
}

void TestPeerFraming::countsMessagesAsActivityWithNobodyListening()
{
    // No log receiver and no sink: the per-message line is not built, but the message
    // still refreshes the activity time, and a frame without a code still ends the
    // connection.
    QVERIFY(!HasLogReceiver());
    FakePeer l_peer;
    QPointer<QTcpSocket> l_socket = Accept(l_peer, true, true);
    QVERIFY(l_socket);
    QDateTime* lp_activity =
        d["peer_socket"]->HasItem(Value(l_socket.data()))["last_activity_time"].AsPtr<QDateTime>();
    QVERIFY(lp_activity);
    QDateTime const l_old = QDateTime::currentDateTime().addSecs(-3600);
    *lp_activity = l_old;

    QVERIFY(l_peer.Send(FakePeer::ObfuscatedFrame(Code(61, QByteArray(1000, 'z')), 0x9E3779B9u)));
    QTRY_VERIFY_WITH_TIMEOUT(*lp_activity > l_old.addSecs(1800), 3000);
    QCOMPARE(Buffered(l_socket), qint64(-2));
    QVERIFY(!l_peer.IsDisconnected());

    QTcpSocket* const lp_raw = l_socket.data();
    QVERIFY(l_peer.Send(FakePeer::ObfuscatedFrame("ab", 0x01234567u) +
                        FakePeer::ObfuscatedFrame(Code(61), 0x01234567u)));
    QVERIFY(l_peer.WaitForDisconnected(3000));
    QVERIFY(d["peer_socket"]->HasItem(Value(lp_raw)).IsNull());
    QVERIFY(peerMessenger->FindSocketBufferInfo(lp_raw) == nullptr);
}

QTEST_GUILESS_MAIN(TestPeerFraming)
#include "tst_peer_framing.moc"
