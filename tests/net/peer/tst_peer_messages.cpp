#include "PeerTestEnv.h"
#include "shares/records/FileInfo.h"
#include "support/LogCapture.h"
#include "support/ShareBytes.h"

#include <QTcpSocket>

#include <functional>

using namespace PeerTestEnv;
namespace
{
QByteArray Text(QByteArray const& bytes)
{
    return FakePeer::Text(bytes);
}

QByteArray U8(std::uint8_t value)
{
    return FakePeer::U8(value);
}

QByteArray I64(std::int64_t value)
{
    return FakePeer::I64(value);
}

QString Std(std::string const& bytes)
{
    return QString::fromStdString(bytes);
}

// Every signal that a received message may raise, written down as one line each.
class SignalRecorder
{
public:
    explicit SignalRecorder(PeerMessenger* ip_messenger)
    {
        auto const l_add = [this](QString const& line) { m_lines.append(line); };
        QObject::connect(ip_messenger, &PeerMessenger::FileTransferRequested, &m_context,
                         [=](QString u, int dir, uint req, std::string f, qint64 size) {
                             l_add(QString("FileTransferRequested %1 %2 %3 %4 %5").arg(u).arg(dir).arg(req).arg(Std(f)).arg(size));
                         });
        QObject::connect(ip_messenger, &PeerMessenger::FileTransferResponse, &m_context,
                         [=](QString u, uint req, bool ok, bool hasSize, qint64 size, QString why) {
                             l_add(QString("FileTransferResponse %1 %2 %3 %4 %5 [%6]").arg(u).arg(req).arg(ok ? "true" : "false").arg(hasSize ? "true" : "false").arg(size).arg(why));
                         });
        QObject::connect(ip_messenger, &PeerMessenger::QueueUploadRequested, &m_context,
                         [=](QString u, QString f) { l_add(QString("QueueUploadRequested %1 %2").arg(u, f)); });
        QObject::connect(ip_messenger, &PeerMessenger::QueueDownloadRequested, &m_context,
                         [=](QString u, std::string f, qint64 size) {
                             l_add(QString("QueueDownloadRequested %1 %2 %3").arg(u, Std(f)).arg(size));
                         });
        QObject::connect(ip_messenger, &PeerMessenger::UploadFailed, &m_context,
                         [=](QString u, std::string f) { l_add(QString("UploadFailed %1 %2").arg(u, Std(f))); });
        QObject::connect(ip_messenger, &PeerMessenger::UploadDenied, &m_context,
                         [=](QString u, std::string f, QString why) {
                             l_add(QString("UploadDenied %1 %2 [%3]").arg(u, Std(f), why));
                         });
        QObject::connect(ip_messenger, &PeerMessenger::DownloadPlaceInLine, &m_context,
                         [=](QString u, std::string f, int place) {
                             l_add(QString("DownloadPlaceInLine %1 %2 %3").arg(u, Std(f)).arg(place));
                         });
        QObject::connect(ip_messenger, &PeerMessenger::UploadPlaceInLineRequested, &m_context,
                         [=](QString u, QString f) { l_add(QString("UploadPlaceInLineRequested %1 %2").arg(u, f)); });
        QObject::connect(ip_messenger, &PeerMessenger::SharedFilesInFolderRequested, &m_context,
                         [=](QString u, uint req, QString folder) {
                             l_add(QString("SharedFilesInFolderRequested %1 %2 %3").arg(u).arg(req).arg(folder));
                         });
        QObject::connect(ip_messenger, &PeerMessenger::UserShare, &m_context,
                         [=](QString u, FileInfoMap& share, AttributeTranslationTable& table) {
                             QStringList l_parts;
                             for (auto const& [folder, files] : share)
                             {
                                 QStringList l_files;
                                 for (FileInfo const& l_file : files)
                                     l_files << QString("%1:%2:%3:%4").arg(Std(l_file.m_name)).arg(l_file.m_size)
                                                    .arg(Std(l_file.m_attributes.m_extension))
                                                    .arg(l_file.m_attributes.m_pairs.size());
                                 l_parts << Std(folder) + "=" + l_files.join(",");
                             }
                             QStringList l_names;
                             for (auto const& [code, name] : table)
                                 l_names << QString("%1:%2").arg(code).arg(Std(name));
                             l_add(QString("UserShare %1 {%2} {%3}").arg(u, l_parts.join(";"), l_names.join(",")));
                         });
    }

    QStringList const& Lines() const { return m_lines; }
    void Clear() { m_lines.clear(); }

private:
    QObject m_context;
    QStringList m_lines;
};

QByteArray ShareListBody(QByteArray const& map, QByteArray const& table)
{
    return Code(5, ShareBytes::Compressed(map + table));
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
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void sendsGoldenMessages();
    void turnsReceivedMessagesIntoSignals();
    void answersShareListRequests();
    void refusesDecompressionBombWithBoundedMemory();

private:
    // A fake peer with an open "P" connection as the user.
    bool Open(FakePeer& peer, QByteArray const& user);

    Fixture m_env;
};

void TestPeerMessages::initTestCase()
{
    QVERIFY(m_env.SetUp());
}

void TestPeerMessages::cleanupTestCase()
{
    ClearConnections();
    m_env.TearDown();
}

void TestPeerMessages::cleanup()
{
    peerMessenger->SetShareListProvider(nullptr);
    ClearConnections();
}

bool TestPeerMessages::Open(FakePeer& peer, QByteArray const& user)
{
    std::size_t const l_before = User(user).GetItems("peer_socket").size();
    return peer.ConnectTo(m_env.PlainPort()) && peer.Send(InitFrameOf(user, "P")) &&
           QTest::qWaitFor([&] { return User(user).GetItems("peer_socket").size() > l_before; }, 3000);
}

void TestPeerMessages::sendsGoldenMessages()
{
    FakePeer l_peer;
    QVERIFY(Open(l_peer, "bob"));
    SetSetting("transfer_req_counter", "7");

    struct Case
    {
        char const* name;
        std::function<void()> send;
        QByteArray expected;
    };
    QString const l_file = QStringLiteral("music\\caf\u00e9.mp3");
    QByteArray const l_fileBytes = l_file.toUtf8();
    QList<Case> const l_cases = {
        {"4", [] { peerMessenger->GetUserSharedFiles("bob"); }, Code(4)},
        {"40 with direction 1 and the counter's id",
         [&] { QCOMPARE(peerMessenger->RequestUpload("bob", l_file, 0x123456789LL), 7u); },
         Code(40, U32(1) + U32(7) + Text(l_fileBytes) + I64(0x123456789LL))},
        {"40 takes the next id", [&] { QCOMPARE(peerMessenger->RequestUpload("bob", "a", 5), 8u); },
         Code(40, U32(1) + U32(8) + Text("a") + I64(5))},
        {"41 accepted with size", [] { peerMessenger->AcceptTransferRequest("bob", 9, true, 1000); },
         Code(41, U32(9) + U8(1) + I64(1000))},
        {"41 accepted without size", [] { peerMessenger->AcceptTransferRequest("bob", 9, false, 1000); },
         Code(41, U32(9) + U8(1))},
        {"41 refused", [] { peerMessenger->DenyTransferRequest("bob", 10, "Queued"); },
         Code(41, U32(10) + U8(0) + Text("Queued"))},
        {"43 writes the bytes as given",
         [] { peerMessenger->QueueDownload("bob", std::string("dir\\\xE9t\xE9.ogg")); },
         Code(43, Text("dir\\\xE9t\xE9.ogg"))},
        {"44", [&] { peerMessenger->SendUploadPlaceInLine("bob", l_file, -3); },
         Code(44, Text(l_fileBytes) + U32(0xFFFFFFFDu))},
        {"50 cuts texts at a NUL",
         [] { peerMessenger->DenyUpload("bob", "x.txt", QString("Banned") + QChar(0) + "tail"); },
         Code(50, Text("x.txt") + Text("Banned"))},
        {"60", [&] { peerMessenger->QueueUpload("bob", l_file, -1); },
         Code(60, Text(l_fileBytes) + I64(-1))},
    };
    for (Case const& l_case : l_cases)
    {
        qsizetype const l_before = l_peer.Frames().size();
        l_case.send();
        QVERIFY2(l_peer.WaitForFrames(l_before + 1), l_case.name);
        QVERIFY2(l_peer.Frames().size() == l_before + 1, l_case.name);
        QVERIFY2(l_peer.Frames().last() == l_case.expected,
                 qPrintable(QString("%1: %2").arg(l_case.name, QString(l_peer.Frames().last().toHex()))));
    }
    // The counter is stored for the next run.
    QCOMPARE(GetSetting("transfer_req_counter"), QStringLiteral("9"));
}

void TestPeerMessages::turnsReceivedMessagesIntoSignals()
{
    SignalRecorder l_recorder(peerMessenger);
    QByteArray const l_latin1Name("\xE9t\xE9.ogg"); // not UTF-8: kept as bytes by the byte fields
    QByteArray const l_map = U32(2) + Text("a\\b") + U32(2) + ShareBytes::FileRecord("z.mp3", 7, "mp3", {{0, 192}, {2, 1}}) +
                             ShareBytes::FileRecord("Y.txt", 1) + Text("c") + U32(0);
    QString const l_shareLine = "UserShare carl {a\\b=Y.txt:1::0,z.mp3:7:mp3:2;c=}";

    struct Case
    {
        char const* name;
        QByteArray payload;
        QString signal; // empty: nothing is emitted
        bool closes;
    };
    QList<Case> const l_cases = {
        {"36", Code(36, U32(12) + Text("music\\rock")), "SharedFilesInFolderRequested carl 12 music\\rock", false},
        {"36 without folder", Code(36, U32(12)), "", true},
        {"37 is ignored", Code(37, "anything"), "", false},
        {"40 direction 1", Code(40, U32(1) + U32(5) + Text("f.mp3") + I64(4096)),
         "FileTransferRequested carl 1 5 f.mp3 4096", false},
        {"40 direction 2 has no size", Code(40, U32(2) + U32(6) + Text("f.mp3")),
         "FileTransferRequested carl 2 6 f.mp3 0", false},
        {"40 direction 2 ignores a size", Code(40, U32(2) + U32(6) + Text("f.mp3") + I64(77)),
         "FileTransferRequested carl 2 6 f.mp3 0", false},
        {"40 direction 1 without size", Code(40, U32(1) + U32(5) + Text("f.mp3")), "", true},
        {"40 without file", Code(40, U32(1) + U32(5)), "", true},
        {"41 accepted with size", Code(41, U32(3) + U8(1) + I64(123456789012LL)),
         "FileTransferResponse carl 3 true true 123456789012 []", false},
        {"41 accepted without size", Code(41, U32(3) + U8(2)), "FileTransferResponse carl 3 true false 0 []", false},
        {"41 accepted with a cut size", Code(41, U32(3) + U8(1) + "\x01\x02\x03"),
         "FileTransferResponse carl 3 true false 0 []", false},
        {"41 refused", Code(41, U32(4) + U8(0) + Text("Too many files")),
         "FileTransferResponse carl 4 false false 0 [Too many files]", false},
        {"41 refused without reason", Code(41, U32(4) + U8(0)), "", true},
        {"41 without flag", Code(41, U32(4)), "", true},
        {"43", Code(43, Text("d\\f.flac")), "QueueUploadRequested carl d\\f.flac", false},
        {"43 cut", Code(43, U32(10) + "d\\f"), "", true},
        {"44", Code(44, Text(l_latin1Name) + U32(17)), "DownloadPlaceInLine carl " + Std(l_latin1Name.toStdString()) + " 17", false},
        {"44 without place", Code(44, Text("g")), "", true},
        {"46", Code(46, Text("h.avi")), "UploadFailed carl h.avi", false},
        {"46 empty", Code(46), "", true},
        {"50", Code(50, Text("i.iso") + Text("Banned")), "UploadDenied carl i.iso [Banned]", false},
        {"50 without reason", Code(50, Text("i.iso")), "", true},
        {"51", Code(51, Text("r\\j.mp3")), "UploadPlaceInLineRequested carl r\\j.mp3", false},
        {"51 with a count above 131072", Code(51, U32(131073) + QByteArray(64, 'j')), "", true},
        {"60", Code(60, Text("k.zip") + I64(99)), "QueueDownloadRequested carl k.zip 99", false},
        {"60 without size", Code(60, Text("k.zip")), "", true},
        {"5 with its table", ShareListBody(l_map, U32(1) + U32(0) + Text("bitrate")),
         l_shareLine + " {0:bitrate}", false},
        {"5 with a cut table", ShareListBody(l_map, U32(2) + U32(0) + Text("bitrate") + U32(1)),
         l_shareLine + " {}", false},
        {"5 without table", ShareListBody(l_map, {}), l_shareLine + " {}", false},
        {"5 with a cut map", ShareListBody(l_map.left(l_map.size() - 3), {}), "", true},
        {"5 not compressed", Code(5, l_map + U32(0)), "", true},
        {"5 with a cut stream", Code(5, ShareBytes::Compressed(l_map + U32(0)).chopped(4)), "", true},
        {"5 empty", Code(5), "", true},
        {"61 is unknown", Code(61, "x"), "", false},
        {"short code", QByteArray("\x2e\x00", 2), "", true},
    };
    QString const l_sentinel = "UploadFailed carl sentinel";
    for (Case const& l_case : l_cases)
    {
        LogCapture l_log;
        FakePeer l_peer;
        QVERIFY2(Open(l_peer, "carl"), l_case.name);
        l_recorder.Clear();
        // A second message behind the first shows whether the connection went on.
        QVERIFY(l_peer.Send(FakePeer::PlainFrame(l_case.payload) + FakePeer::PlainFrame(Code(46, Text("sentinel")))));
        QStringList l_expected;
        if (!l_case.signal.isEmpty())
            l_expected << l_case.signal;
        if (l_case.closes)
        {
            QVERIFY2(l_peer.WaitForDisconnected(), l_case.name);
            QTest::qWait(20);
        }
        else
        {
            l_expected << l_sentinel;
            QVERIFY2(QTest::qWaitFor([&] { return l_recorder.Lines().size() >= l_expected.size(); }, 3000),
                     l_case.name);
            QVERIFY2(!l_peer.IsDisconnected(), l_case.name);
        }
        QVERIFY2(l_recorder.Lines() == l_expected,
                 qPrintable(QString("%1: %2").arg(l_case.name, l_recorder.Lines().join(" | "))));
        ClearConnections();
    }

    // Message 60 has no name of its own in the log.
    LogCapture l_log;
    FakePeer l_peer;
    QVERIFY(Open(l_peer, "carl"));
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(60, Text("k") + I64(1)))));
    QTRY_VERIFY_WITH_TIMEOUT(l_log.Contains(c_area, 1, "Received 60 (unknown) message from user carl"), 3000);
}

void TestPeerMessages::answersShareListRequests()
{
    FakePeer l_peer;
    QVERIFY(Open(l_peer, "dora"));

    // Without a share index: an empty list, compressed like any other.
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(4))));
    QVERIFY(l_peer.WaitForFrames(1));
    QCOMPARE(l_peer.Frames()[0].left(4), U32(5));
    QCOMPARE(ShareBytes::Inflated(l_peer.Frames()[0].mid(4)), U32(0) + U32(0));

    // With one, its message goes out as built, over the user's newest connection.
    QStringList l_asked;
    peerMessenger->SetShareListProvider([&](QString const& user) {
        l_asked << user;
        return MessageOf(Code(5, "list of " + user.toUtf8()));
    });
    FakePeer l_newer;
    QVERIFY(Open(l_newer, "dora"));
    for (ItemPtr const& l_socket : User("dora").GetItems("peer_socket"))
    {
        bool const l_isFirst = l_socket.AsPtr<QTcpSocket>()->peerPort() == l_peer.Socket()->localPort();
        BackDate(l_socket, "connection_open_time", l_isFirst ? 20 : 10);
    }
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(4))));
    QVERIFY(l_newer.WaitForFrames(1));
    QCOMPARE(l_newer.Frames()[0], Code(5, "list of dora"));
    QCOMPARE(l_peer.Frames().size(), 1);
    QCOMPARE(l_asked, QStringList{"dora"});
}

void TestPeerMessages::refusesDecompressionBombWithBoundedMemory()
{
    // A share list of no folders and no names, followed by a gigabyte of zeros: what
    // the readers need is at the front, yet the whole stream counts against the cap.
    quint64 const l_inflated = 1ull << 30;
    QByteArray const l_bomb = ShareBytes::CompressedZeros(l_inflated);
    QVERIFY(!l_bomb.isEmpty());
    QVERIFY(l_bomb.size() < 2 * 1024 * 1024);

    SignalRecorder l_recorder(peerMessenger);
    FakePeer l_peer;
    QVERIFY(Open(l_peer, "eve"));
    long const l_peakBefore = PeakResidentKiB();
    QVERIFY(l_peakBefore > 0);
    QVERIFY(l_peer.Send(FakePeer::PlainFrame(Code(5, l_bomb))));
    QVERIFY(l_peer.WaitForDisconnected(20000));
    QVERIFY(l_recorder.Lines().isEmpty());
    // Far below the cap, let alone the gigabyte: the body is never held whole.
    QVERIFY2(PeakResidentKiB() - l_peakBefore < 32 * 1024,
             qPrintable(QString("peak grew by %1 KiB").arg(PeakResidentKiB() - l_peakBefore)));

    // The same list within the cap is taken.
    FakePeer l_fine;
    QVERIFY(Open(l_fine, "eve"));
    QVERIFY(l_fine.Send(FakePeer::PlainFrame(Code(5, ShareBytes::CompressedZeros(8 * 1024 * 1024)))));
    QTRY_COMPARE_WITH_TIMEOUT(l_recorder.Lines(), QStringList{"UserShare eve {} {}"}, 5000);
}

QTEST_GUILESS_MAIN(TestPeerMessages)
#include "tst_peer_messages.moc"
