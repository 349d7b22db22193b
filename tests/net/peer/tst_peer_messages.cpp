#include "MessageTestEnv.h"
#include "support/LogCapture.h"

#include <QTcpSocket>

#include <functional>

using namespace MessageTestEnv;

namespace
{
QByteArray ShareList(QByteArray const& body)
{
    return Code(5, ShareBytes::Compressed(body));
}

// Peak resident memory of this process so far, in KiB.
long PeakResidentKiB()
{
    QFile l_status("/proc/self/status");
    if (!l_status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray const& l_line : l_status.readAll().split('\n'))
        if (l_line.startsWith("VmHWM:"))
            return l_line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
} // namespace

class TestPeerMessages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { ClearConnections(); m_env.TearDown(); }
    void cleanup() { peerMessenger->SetShareListProvider(nullptr); ClearConnections(); }

    void sendsGoldenMessages();
    void turnsReceivedMessagesIntoSignals();
    void answersShareListRequests();
    void refusesDecompressionBombWithBoundedMemory();

private:
    Fixture m_env;
};

void TestPeerMessages::sendsGoldenMessages()
{
    FakePeer l_peer;
    QVERIFY(Open(m_env.PlainPort(), l_peer, "bob"));
    SetSetting("transfer_req_counter", "7");
    QString const l_file = QStringLiteral("music\\caf\u00e9.mp3");
    QByteArray const l_utf8 = l_file.toUtf8();
    struct Case { char const* name; std::function<void()> send; QByteArray expected; };
    QList<Case> const l_cases = {
        {"4", [] { peerMessenger->GetUserSharedFiles("bob"); }, Code(4)},
        {"40 with the counter's id", [&] { QCOMPARE(peerMessenger->RequestUpload("bob", l_file, 0x123456789LL), 7u); },
         Code(40, U32(1) + U32(7) + Text(l_utf8) + I64(0x123456789LL))},
        {"40 with the next id", [] { QCOMPARE(peerMessenger->RequestUpload("bob", "a", 5), 8u); },
         Code(40, U32(1) + U32(8) + Text("a") + I64(5))},
        {"41 accepted with size", [] { peerMessenger->AcceptTransferRequest("bob", 9, true, 1000); }, Code(41, U32(9) + U8(1) + I64(1000))},
        {"41 accepted without size", [] { peerMessenger->AcceptTransferRequest("bob", 9, false, 1000); }, Code(41, U32(9) + U8(1))},
        {"41 refused", [] { peerMessenger->DenyTransferRequest("bob", 10, "Queued"); }, Code(41, U32(10) + U8(0) + Text("Queued"))},
        {"43 as bytes", [] { peerMessenger->QueueDownload("bob", "dir\\\xE9t\xE9.ogg"); }, Code(43, Text("dir\\\xE9t\xE9.ogg"))},
        {"44", [&] { peerMessenger->SendUploadPlaceInLine("bob", l_file, -3); }, Code(44, Text(l_utf8) + U32(0xFFFFFFFDu))},
        {"50 cut at a NUL", [] { peerMessenger->DenyUpload("bob", "x.txt", QString("Banned") + QChar(0) + "tail"); },
         Code(50, Text("x.txt") + Text("Banned"))},
        {"60", [&] { peerMessenger->QueueUpload("bob", l_file, -1); }, Code(60, Text(l_utf8) + I64(-1))},
    };
    for (Case const& l_case : l_cases)
    {
        qsizetype const l_before = l_peer.Frames().size();
        l_case.send();
        QVERIFY2(l_peer.WaitForFrames(l_before + 1) && l_peer.Frames().size() == l_before + 1, l_case.name);
        QVERIFY2(l_peer.Frames().last() == l_case.expected, qPrintable(QString(l_case.name) + ": " + l_peer.Frames().last().toHex()));
    }
    QCOMPARE(GetSetting("transfer_req_counter"), QStringLiteral("9"));
}

void TestPeerMessages::turnsReceivedMessagesIntoSignals()
{
    Recorder l_recorder;
    QByteArray const l_latin1("\xE9t\xE9.ogg");
    QByteArray const l_map = U32(2) + Text("a\\b") + U32(2) + ShareBytes::FileRecord("z.mp3", 7, "mp3", {{0, 192}, {2, 1}}) +
                             ShareBytes::FileRecord("Y.txt", 1) + Text("c") + U32(0);
    QString const l_share = "UserShare carl {a\\b=Y.txt:1::0,z.mp3:7:mp3:2;c=} ";
    struct Case { char const* name; QByteArray payload; QString signal; bool closes; };
    QList<Case> const l_cases = {
        {"36", Code(36, U32(12) + Text("music\\rock")), "SharedFilesInFolderRequested carl 12 music\\rock", false},
        {"36 without folder", Code(36, U32(12)), "", true},
        {"37 is ignored", Code(37, "anything"), "", false},
        {"40 direction 1", Code(40, U32(1) + U32(5) + Text("f.mp3") + I64(4096)), "FileTransferRequested carl 1 5 f.mp3 4096", false},
        {"40 direction 2, no size", Code(40, U32(2) + U32(6) + Text("f.mp3")), "FileTransferRequested carl 2 6 f.mp3 0", false},
        {"40 direction 2 ignores a size", Code(40, U32(2) + U32(6) + Text("f") + I64(77)), "FileTransferRequested carl 2 6 f 0", false},
        {"40 direction 1 without size", Code(40, U32(1) + U32(5) + Text("f.mp3")), "", true},
        {"40 without file", Code(40, U32(1) + U32(5)), "", true},
        {"41 accepted with size", Code(41, U32(3) + U8(1) + I64(123456789012LL)), "FileTransferResponse carl 3 true true 123456789012 ", false},
        {"41 accepted without size", Code(41, U32(3) + U8(2)), "FileTransferResponse carl 3 true false 0 ", false},
        {"41 accepted, size cut", Code(41, U32(3) + U8(1) + "\x01\x02\x03"), "FileTransferResponse carl 3 true false 0 ", false},
        {"41 refused", Code(41, U32(4) + U8(0) + Text("Too many files")), "FileTransferResponse carl 4 false false 0 Too many files", false},
        {"41 refused without reason", Code(41, U32(4) + U8(0)), "", true},
        {"41 without flag", Code(41, U32(4)), "", true},
        {"43", Code(43, Text("d\\f.flac")), "QueueUploadRequested carl d\\f.flac", false},
        {"43 cut", Code(43, U32(10) + "d\\f"), "", true},
        {"44", Code(44, Text(l_latin1) + U32(17)), "DownloadPlaceInLine carl " + Str(l_latin1.toStdString()) + " 17", false},
        {"44 without place", Code(44, Text("g")), "", true},
        {"46", Code(46, Text("h.avi")), "UploadFailed carl h.avi", false},
        {"46 empty", Code(46), "", true},
        {"50", Code(50, Text("i.iso") + Text("Banned")), "UploadDenied carl i.iso Banned", false},
        {"50 without reason", Code(50, Text("i.iso")), "", true},
        {"51", Code(51, Text("r\\j.mp3")), "UploadPlaceInLineRequested carl r\\j.mp3", false},
        {"51, count above 131072", Code(51, U32(131073) + QByteArray(64, 'j')), "", true},
        {"60", Code(60, Text("k.zip") + I64(99)), "QueueDownloadRequested carl k.zip 99", false},
        {"60 without size", Code(60, Text("k.zip")), "", true},
        {"5 with its table", ShareList(l_map + U32(1) + U32(0) + Text("bitrate")), l_share + "{0:bitrate}", false},
        {"5 with a cut table", ShareList(l_map + U32(2) + U32(0) + Text("bitrate") + U32(1)), l_share + "{}", false},
        {"5 without table", ShareList(l_map), l_share + "{}", false},
        {"5 with a cut map", ShareList(l_map.chopped(3)), "", true},
        {"5 not compressed", Code(5, l_map + U32(0)), "", true},
        {"5, stream cut", Code(5, ShareBytes::Compressed(l_map + U32(0)).chopped(4)), "", true},
        {"5 empty", Code(5), "", true},
        {"61 is unknown", Code(61, "x"), "", false},
        {"short code", QByteArray("\x2e\x00", 2), "", true},
    };
    for (Case const& l_case : l_cases)
    {
        FakePeer l_peer;
        QVERIFY2(Open(m_env.PlainPort(), l_peer, "carl"), l_case.name);
        // A share list is decoded only when it was asked for.
        if (l_case.payload.startsWith(U32(5)))
            peerMessenger->GetUserSharedFiles("carl");
        l_recorder.m_lines.clear();
        QVERIFY2(SendAndSettle(l_recorder, l_peer, l_case.payload, l_case.closes), l_case.name);
        QVERIFY2(l_recorder.m_lines == (l_case.signal.isEmpty() ? QStringList() : QStringList{l_case.signal}),
                 qPrintable(QString(l_case.name) + ": " + l_recorder.m_lines.join(" | ")));
        ClearConnections();
    }
    // Message 60 has no name of its own in the log.
    LogCapture l_log;
    FakePeer l_peer;
    QVERIFY(Open(m_env.PlainPort(), l_peer, "carl") && SendAndSettle(l_recorder, l_peer, Code(60, Text("k") + I64(1)), false));
    QVERIFY(l_log.Contains(c_area, 1, "Received 60 (unknown) message from user carl"));
}

void TestPeerMessages::answersShareListRequests()
{
    // Without a share index: an empty list, compressed like any other.
    FakePeer l_peer;
    QVERIFY(Open(m_env.PlainPort(), l_peer, "dora") && l_peer.Send(FakePeer::PlainFrame(Code(4))) && l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0].left(4), U32(5));
    QCOMPARE(ShareBytes::Inflated(l_peer.Frames()[0].mid(4)), U32(0) + U32(0));

    // With one, its message goes out as built, over the user's newest connection.
    QStringList l_asked;
    peerMessenger->SetShareListProvider([&](QString const& user) {
        l_asked << user;
        return MessageOf(Code(5, "list of " + user.toUtf8()));
    });
    FakePeer l_newer;
    QVERIFY(Open(m_env.PlainPort(), l_newer, "dora"));
    for (ItemPtr const& l_socket : User("dora").GetItems("peer_socket"))
        BackDate(l_socket, "connection_open_time",
                 l_socket.AsPtr<QTcpSocket>()->peerPort() == l_peer.Socket()->localPort() ? 20 : 10);
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(4))) && l_newer.WaitForFrames(1));
    QCOMPARE(l_newer.Frames()[0], Code(5, "list of dora"));
    QCOMPARE(l_peer.Frames().size(), 1);
    QCOMPARE(l_asked, QStringList{"dora"});
}

void TestPeerMessages::refusesDecompressionBombWithBoundedMemory()
{
    // No folders and no names, then a gigabyte of zeros: the readers need only the front,
    // yet the whole stream counts against the cap.
    QByteArray const l_bomb = ShareBytes::CompressedZeros(1ull << 30);
    QVERIFY(!l_bomb.isEmpty() && l_bomb.size() < 2 * 1024 * 1024);
    Recorder l_recorder;
    FakePeer l_peer;
    QVERIFY(Open(m_env.PlainPort(), l_peer, "eve"));
    peerMessenger->GetUserSharedFiles("eve");
    long const l_peakBefore = PeakResidentKiB();
    QVERIFY(l_peakBefore > 0);
    QVERIFY(SendAndSettle(l_recorder, l_peer, Code(5, l_bomb), true, 30000));
    QVERIFY(l_recorder.m_lines.isEmpty());
    // Far below the cap, let alone the gigabyte: the body is never held whole.
    QVERIFY2(PeakResidentKiB() - l_peakBefore < 32 * 1024, qPrintable(QString::number(PeakResidentKiB() - l_peakBefore)));

    FakePeer l_fine;
    QVERIFY(Open(m_env.PlainPort(), l_fine, "eve"));
    peerMessenger->GetUserSharedFiles("eve");
    QVERIFY(SendAndSettle(l_recorder, l_fine, Code(5, ShareBytes::CompressedZeros(8 * 1024 * 1024)), false));
    QCOMPARE(l_recorder.m_lines, QStringList{"UserShare eve {} {}"});
}

QTEST_GUILESS_MAIN(TestPeerMessages)
#include "tst_peer_messages.moc"
