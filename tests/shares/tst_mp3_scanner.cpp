// The MP3 scanner's decisions on frame files written byte by byte, a file that shrinks
// under the scan, and the threaded requests before and after Quit().

#include "Mp3Frames.h"
#include "shares/MP3Scanner.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using Mp3Frames::Run;

class TestMp3Scanner : public QObject
{
    Q_OBJECT

private slots:
    void decisions();
    void fileShrinkingUnderTheScan();
    void threadedRequestsAndQuit();
};

namespace
{
struct Outcome
{
    bool ok = false;
    int version = 0;
    QString mode;
    int frequency = 0;
    bool vbr = false;
    int bitrate = 0;
};

Outcome Scan(MP3Scanner& io_scanner, QString const& i_path)
{
    Outcome l_out;
    l_out.ok = io_scanner.ScanMP3(i_path, l_out.version, l_out.mode, l_out.frequency, l_out.vbr,
                                  l_out.bitrate);
    return l_out;
}

QByteArray const c_ffPadding(8, char(0xFF));
} // namespace

void TestMp3Scanner::decisions()
{
    Run const l_mp1at128{.bitrateIndex = 9, .count = 1};
    Run const l_mp1at320{.bitrateIndex = 14, .count = 1};
    int const l_chunk = int(MP3Scanner::c_chunkSize);

    // MPEG-2.5 at 8 kHz with 0xFF padding and one stray MPEG-1 Layer III 256 kbit/s
    // pattern in the data: the padding must not vote the file into MPEG-1.
    QByteArray l_mpeg25WithStray =
        Mp3Frames::Frames({{.versionBits = 0, .bitrateIndex = 1, .frequencyIndex = 2, .mode = 3, .count = 300}},
                          72, c_ffPadding);
    l_mpeg25WithStray += Mp3Frames::Header({.bitrateIndex = 13, .frequencyIndex = 2, .mode = 3}) +
                         QByteArray(8, '\0');

    struct Case
    {
        char const* name;
        QByteArray bytes;
        Outcome expected;
    };
    QList<Case> const l_cases = {
        {"constant 128 kbit/s, joint stereo",
         Mp3Frames::Frames({{.count = 200}}), {true, 1, "joint stereo", 0, false, 128}},
        {"99 % at one rate is constant",
         Mp3Frames::Frames({{.count = 99}, {.bitrateIndex = 14, .count = 1}}),
         {true, 1, "joint stereo", 0, false, 128}},
        {"98.5 % rounds down to 98 and is variable",
         Mp3Frames::Frames({{.count = 985}, {.bitrateIndex = 14, .count = 15}}),
         {true, 1, "joint stereo", 0, true, 130}},
        {"layer II yields nothing", Mp3Frames::Frames({{.count = 100, .layerBits = 2}}), {}},
        {"MPEG-2 22.05 kHz 64 kbit/s with 0xFF padding",
         Mp3Frames::Frames({{.versionBits = 2, .bitrateIndex = 8, .mode = 3, .count = 300}}, 208, c_ffPadding),
         {true, 2, "mono", 0, false, 64}},
        {"MPEG-2.5 with padding and a stray MPEG-1 pattern", l_mpeg25WithStray, {}},
        {"mostly MPEG-2.5", Mp3Frames::Frames({{.versionBits = 0, .bitrateIndex = 1, .frequencyIndex = 2, .count = 100}}, 72), {}},
        {"equal MPEG-1 and MPEG-2 counts decide for MPEG-2",
         Mp3Frames::Frames({{.count = 50}, {.versionBits = 2, .count = 50}}),
         {true, 2, "joint stereo", 0, false, 80}},
        {"stereo and mono tied: mono",
         Mp3Frames::Frames({{.mode = 0, .count = 50}, {.bitrateIndex = 10, .mode = 3, .count = 50}}),
         {true, 1, "mono", 0, false, 160}},
        {"sampling-rate indices 0 and 1 tied: 1",
         Mp3Frames::Frames({{.count = 50}, {.bitrateIndex = 10, .frequencyIndex = 1, .count = 50}}),
         {true, 1, "joint stereo", 1, false, 160}},
        {"protection bit tied: clear",
         Mp3Frames::Frames({{.count = 50}, {.bitrateIndex = 10, .count = 50, .protection = 0}}),
         {true, 1, "joint stereo", 0, false, 160}},
        {"header in the last four bytes of a chunk is not counted",
         Mp3Frames::HeadersAt(l_chunk + 1000, {{l_chunk - 4, l_mp1at320}, {l_chunk + 100, l_mp1at128}}),
         {true, 1, "joint stereo", 0, false, 128}},
        {"header across the chunk boundary is not counted",
         Mp3Frames::HeadersAt(l_chunk + 1000, {{l_chunk - 2, l_mp1at320}, {l_chunk + 100, l_mp1at128}}),
         {true, 1, "joint stereo", 0, false, 128}},
        {"header with four bytes behind it in the chunk is counted",
         Mp3Frames::HeadersAt(l_chunk + 1000, {{l_chunk - 5, l_mp1at320}, {l_chunk + 100, l_mp1at128}}),
         {true, 1, "joint stereo", 0, true, 224}},
        {"empty file", QByteArray(), {}},
    };

    QTemporaryDir l_dir;
    QVERIFY(l_dir.isValid());
    MP3Scanner l_scanner;
    for (Case const& l_case : l_cases)
    {
        QString const l_path = l_dir.filePath(QStringLiteral("case.mp3"));
        QVERIFY(Mp3Frames::Write(l_path, l_case.bytes));
        Outcome const l_got = Scan(l_scanner, l_path);
        QVERIFY2(l_got.ok == l_case.expected.ok, l_case.name);
        if (!l_got.ok)
            continue;
        QVERIFY2(l_got.version == l_case.expected.version, l_case.name);
        QVERIFY2(l_got.mode == l_case.expected.mode, l_case.name);
        QVERIFY2(l_got.frequency == l_case.expected.frequency, l_case.name);
        QVERIFY2(l_got.vbr == l_case.expected.vbr, l_case.name);
        QVERIFY2(l_got.bitrate == l_case.expected.bitrate,
                 qPrintable(QStringLiteral("%1: %2").arg(l_case.name).arg(l_got.bitrate)));
    }
    QVERIFY(!Scan(l_scanner, l_dir.filePath(QStringLiteral("missing.mp3"))).ok);
}

void TestMp3Scanner::fileShrinkingUnderTheScan()
{
    // The size was taken before the file lost its tail: reads then give no bytes long
    // before the expected end, and the scan must give up rather than wait.
    QByteArray l_bytes = Mp3Frames::Frames({{.count = 200}});
    for (qint64 const l_claimed : {qint64(l_bytes.size()), qint64(l_bytes.size()) + 5000})
    {
        QBuffer l_device(&l_bytes);
        QVERIFY(l_device.open(QIODevice::ReadOnly));
        Outcome l_out;
        l_out.ok = MP3Scanner::ScanDevice(l_device, l_claimed, l_out.version, l_out.mode,
                                          l_out.frequency, l_out.vbr, l_out.bitrate);
        QCOMPARE(l_out.ok, l_claimed == l_bytes.size());
    }
}

void TestMp3Scanner::threadedRequestsAndQuit()
{
    QTemporaryDir l_dir;
    QString const l_path = l_dir.filePath(QStringLiteral("song.mp3"));
    QVERIFY(Mp3Frames::Write(l_path, Mp3Frames::Frames({{.count = 100}})));

    QThread l_thread;
    MP3Scanner l_scanner;
    l_scanner.moveToThread(&l_thread);
    l_thread.start();
    QObject l_receiver;
    QStringList l_answers;
    connect(&l_scanner, &MP3Scanner::MP3Scanned, &l_receiver,
            [&](QString i_file, int i_version, QString i_mode, int i_frequency, bool i_vbr, int i_bitrate) {
                l_answers << QStringLiteral("%1 %2 %3 %4 %5 %6")
                                 .arg(i_file).arg(i_version).arg(i_mode).arg(i_frequency).arg(i_vbr).arg(i_bitrate);
            });
    auto const l_request = [&](QString const& i_file) {
        QMetaObject::invokeMethod(&l_scanner, "OnMP3ScanRequired", Qt::QueuedConnection, Q_ARG(QString, i_file));
    };
    // Once this returns, every request queued before it has been handled.
    auto const l_drain = [&] {
        QMetaObject::invokeMethod(&l_scanner, [] {}, Qt::BlockingQueuedConnection);
        QCoreApplication::processEvents();
    };

    l_request(l_path);
    l_request(l_dir.filePath(QStringLiteral("missing.mp3")));
    l_drain();
    QTRY_COMPARE_WITH_TIMEOUT(l_answers, QStringList{l_path + " 1 joint stereo 0 0 128"}, 2000);

    l_scanner.Quit();
    l_request(l_path);
    l_drain();
    QCOMPARE(l_answers.size(), 1);

    l_thread.quit();
    l_thread.wait();
}

QTEST_GUILESS_MAIN(TestMp3Scanner)
#include "tst_mp3_scanner.moc"
