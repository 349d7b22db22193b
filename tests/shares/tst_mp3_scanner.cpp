// The MP3 scanner's decisions on frame files written byte by byte, a file that shrinks
// under the scan, and threaded requests before and after Quit().

#include "Mp3Frames.h"
#include "shares/MP3Scanner.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using Mp3Frames::Frames;
using Mp3Frames::Header;

class TestMp3Scanner : public QObject
{
    Q_OBJECT

private slots:
    void decisions();
    void threadedRequestsAndQuit();
};

namespace
{
// "version mode frequency vbr bitrate", or "none" when the scan fails.
QString Outcome(bool ok, int version, QString const& mode, int frequency, bool vbr, int bitrate)
{
    return ok ? QStringLiteral("%1 %2 %3 %4 %5").arg(version).arg(mode).arg(frequency).arg(vbr).arg(bitrate)
              : QStringLiteral("none");
}

// Headers at the given offsets of an otherwise empty file that spans two chunks.
QByteArray AtOffsets(QList<QPair<int, Mp3Frames::Run>> const& placed)
{
    QByteArray l_bytes(int(MP3Scanner::c_chunkSize) + 1000, '\0');
    for (auto const& [l_offset, l_run] : placed)
        l_bytes.replace(l_offset, 4, Header(l_run));
    return l_bytes;
}
} // namespace

void TestMp3Scanner::decisions()
{
    int const c = int(MP3Scanner::c_chunkSize);
    QByteArray const l_ff(8, char(0xFF)); // padding: every pair of it looks like a sync word
    struct Case
    {
        char const* name;
        QByteArray bytes;
        char const* expected;
    };
    QList<Case> const l_cases = {
        {"constant 128", Frames({{.count = 200}}), "1 joint stereo 0 0 128"},
        {"99 % at one rate", Frames({{.count = 99}, {.bitrateIndex = 14}}), "1 joint stereo 0 0 128"},
        {"98.5 % is variable", Frames({{.count = 985}, {.bitrateIndex = 14, .count = 15}}), "1 joint stereo 0 1 130"},
        {"layer II", Frames({{.count = 100, .layerBits = 2}}), "none"},
        {"MPEG-2 22.05 kHz 64 kbit/s, 0xFF padding",
         Frames({{.versionBits = 2, .bitrateIndex = 8, .mode = 3, .count = 300}}, 208, l_ff), "2 mono 0 0 64"},
        {"MPEG-2.5 8 kHz, 0xFF padding, one stray MPEG-1 256 kbit/s pattern",
         Frames({{.versionBits = 0, .bitrateIndex = 1, .frequencyIndex = 2, .mode = 3, .count = 300}}, 72, l_ff) +
             Header({.bitrateIndex = 13, .frequencyIndex = 2, .mode = 3}) + QByteArray(8, '\0'),
         "none"},
        {"MPEG-1 and MPEG-2 tied", Frames({{.count = 50}, {.versionBits = 2, .count = 50}}), "2 joint stereo 0 0 80"},
        {"modes and rate indices tied",
         Frames({{.mode = 0, .count = 50}, {.bitrateIndex = 10, .frequencyIndex = 1, .mode = 3, .count = 50}}),
         "1 mono 1 0 160"},
        {"in the last four bytes of a chunk", AtOffsets({{c - 4, {.bitrateIndex = 14}}, {c + 100, {}}}), "1 joint stereo 0 0 128"},
        {"across chunks", AtOffsets({{c - 2, {.bitrateIndex = 14}}, {c + 100, {}}}), "1 joint stereo 0 0 128"},
        {"four bytes behind it", AtOffsets({{c - 5, {.bitrateIndex = 14}}, {c + 100, {}}}), "1 joint stereo 0 1 224"},
        {"empty", QByteArray(), "none"},
    };
    QTemporaryDir l_dir;
    QString const l_path = l_dir.filePath(QStringLiteral("case.mp3"));
    MP3Scanner l_scanner;
    int v, f, b;
    QString m;
    bool r;
    for (Case const& l_case : l_cases)
    {
        QVERIFY(Mp3Frames::Write(l_path, l_case.bytes));
        bool const l_ok = l_scanner.ScanMP3(l_path, v, m, f, r, b);
        QCOMPARE(Outcome(l_ok, v, m, f, r, b) + " " + l_case.name, QString(l_case.expected) + " " + l_case.name);
    }
    QVERIFY(!l_scanner.ScanMP3(l_dir.filePath(QStringLiteral("missing.mp3")), v, m, f, r, b));

    // A file that lost its tail after its size was taken: reads give nothing long
    // before the expected end, and the scan gives up instead of waiting.
    QByteArray l_bytes = Frames({{.count = 200}});
    for (qint64 const l_size : {qint64(l_bytes.size()), qint64(l_bytes.size()) + 5000})
    {
        QBuffer l_device(&l_bytes);
        QVERIFY(l_device.open(QIODevice::ReadOnly));
        QCOMPARE(MP3Scanner::ScanDevice(l_device, l_size, v, m, f, r, b), l_size == l_bytes.size());
    }
}

void TestMp3Scanner::threadedRequestsAndQuit()
{
    QTemporaryDir l_dir;
    QString const l_path = l_dir.filePath(QStringLiteral("song.mp3"));
    QVERIFY(Mp3Frames::Write(l_path, Frames({{.count = 100}})));
    QThread l_thread;
    MP3Scanner l_scanner;
    l_scanner.moveToThread(&l_thread);
    l_thread.start();
    QObject l_receiver;
    QStringList l_answers;
    connect(&l_scanner, &MP3Scanner::MP3Scanned, &l_receiver,
            [&](QString i_file, int v, QString m, int f, bool r, int b) { l_answers << i_file + " " + Outcome(true, v, m, f, r, b); });
    auto const l_requestAndDrain = [&](QStringList const& i_files) {
        for (QString const& l_file : i_files)
            QMetaObject::invokeMethod(&l_scanner, "OnMP3ScanRequired", Q_ARG(QString, l_file));
        // Returns once every request queued before it has been handled.
        QMetaObject::invokeMethod(&l_scanner, [] {}, Qt::BlockingQueuedConnection);
    };

    l_requestAndDrain({l_path, l_dir.filePath(QStringLiteral("missing.mp3"))});
    QTRY_COMPARE_WITH_TIMEOUT(l_answers, QStringList{l_path + " 1 joint stereo 0 0 128"}, 2000);
    l_scanner.Quit();
    l_requestAndDrain({l_path});
    QCoreApplication::processEvents();
    QCOMPARE(l_answers.size(), 1);
    l_thread.quit();
    l_thread.wait();
}

QTEST_GUILESS_MAIN(TestMp3Scanner)
#include "tst_mp3_scanner.moc"
