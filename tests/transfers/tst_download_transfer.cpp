#include "TransferTestEnv.h"

#include "store/GeneralFunctions.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

using namespace TransferTestEnv;

namespace
{
// Bytes that differ from Content() at every position.
QByteArray OtherContent(qsizetype i_size)
{
    QByteArray l_bytes = Content(i_size);
    for (char& l_byte : l_bytes)
        l_byte = char(l_byte ^ 0x5A);
    return l_bytes;
}

} // namespace

class TestDownloadTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    // A test that changed the download folder may have stopped half-way.
    void cleanup() { SetSetting("download_folder", m_env.Folder()); }

    void queuesOffersReceivesResumesAndCompletes();
    void partialFileAsLongAsTheFileCompletesAtOnce();
    void refusesNamesLeadingOutOfTheDownloadFolder();
    void oneWriterPerPartialFile();
    void tricklingPeerDoesNotHoldUpTheGuiThread();
    void failedMoveLeavesTheFileWhereItIs();
    void failedWriteEndsTheDownloadUnrecorded();
    void partialFileResumedOnlyByItsWriter();
    void partialFileOfAnUnknownWriterIsSetAside();
    void recordsThatCannotBeReplacedStopTheDownload();
    void recordsAreNeverShared();
    void oneFileByTwoPathsHasOneRecord();
    void reportsArePacedExactAndWrittenThrough();
    void logLinesKeepThePercentSignsOfPeers();

private:
    // An online uploader whose address the client knows.
    std::unique_ptr<FakeUploader> Uploader(QByteArray const& name);
    // Offers the path with the token, waits for the answer and opens the file
    // connection.
    bool OfferAndOpen(FakeUploader& io_uploader, quint32 i_token, QByteArray const& i_path,
                      qint64 i_size);
    // The same, then the start offset the client sent (-2 when a step failed).
    qint64 Connect(FakeUploader& io_uploader, quint32 i_token, QByteArray const& i_path,
                   qint64 i_size);
    // Sends the content's first bytes on the newest file connection and, once they are
    // written, closes it: the download is "aborted" with them in its partial file.
    static bool SendPartAndClose(FakeUploader& io_uploader, ItemPtr i_entry,
                                 QByteArray const& i_content, qint64 i_count);
    TransferQueueManager& manager() { return m_env.manager(); }

    TransferFixture m_env;
};

std::unique_ptr<FakeUploader> TestDownloadTransfer::Uploader(QByteArray const& name)
{
    auto l_uploader = std::make_unique<FakeUploader>(name);
    SetAddress(QString::fromLatin1(name), l_uploader->Listen());
    SetOnline(QString::fromLatin1(name), true);
    return l_uploader;
}

bool TestDownloadTransfer::OfferAndOpen(FakeUploader& io_uploader, quint32 i_token,
                                        QByteArray const& i_path, qint64 i_size)
{
    qsizetype const l_answers = io_uploader.MessagesWithCode(41).size();
    return io_uploader.Offer(i_token, i_path, i_size) &&
           io_uploader.WaitForMessages(41, l_answers + 1) &&
           io_uploader.OpenFileConnection(m_env.peer().PlainPort(), i_token);
}

qint64 TestDownloadTransfer::Connect(FakeUploader& io_uploader, quint32 i_token,
                                     QByteArray const& i_path, qint64 i_size)
{
    return OfferAndOpen(io_uploader, i_token, i_path, i_size) ? io_uploader.ReadOffset() : -2;
}

bool TestDownloadTransfer::SendPartAndClose(FakeUploader& io_uploader, ItemPtr i_entry,
                                            QByteArray const& i_content, qint64 i_count)
{
    auto const l_written = [&]
    {
        ItemPtr const l_cell = i_entry["write_position"];
        return l_cell && *l_cell.AsPtr<qint64>() == i_count;
    };
    if (!io_uploader.SendFrom(i_content, 0, i_count) || !QTest::qWaitFor(l_written, 3000))
        return false;
    io_uploader.CloseFileConnection();
    return QTest::qWaitFor([&] { return Status(i_entry) == "aborted"; }, 5000);
}

void TestDownloadTransfer::queuesOffersReceivesResumesAndCompletes()
{
    auto l_bob = Uploader("bob");
    QList<ItemPtr> l_records;
    int l_progressReports = 0;
    QObject l_listener;
    connect(&manager(), &TransferQueueManager::CompleteDownloadAdded, &l_listener,
            [&](ItemPtr i_record) { l_records.append(i_record); });
    connect(&manager(), &TransferQueueManager::DownloadProgressed, &l_listener,
            [&](ItemPtr) { ++l_progressReports; });

    // A name that is not UTF-8: the queue request carries its bytes as they are, the
    // place request the text re-encoded.
    std::string const l_file = "caf\xe9.bin";
    QByteArray const l_path = QByteArray("music\\live\\") + l_file.c_str();
    QByteArray const l_content = Content(3 * 8192 + 100);
    ItemPtr const l_entry = manager().AddDownload("bob", l_file, "music\\live", l_content.size(), 0);
    QVERIFY(l_bob->WaitForMessages(43, 1));
    QCOMPARE(l_bob->MessagesWithCode(43), QList<QByteArray>{Code(43, FakePeer::Text(l_path))});
    manager().RequestDownloadPlaceInLine(l_entry);
    QVERIFY(l_bob->WaitForMessages(51, 1));
    QCOMPARE(l_bob->MessagesWithCode(51)[0],
             Code(51, FakePeer::Text(QString::fromLatin1(l_path).toUtf8())));

    QCOMPARE(Connect(*l_bob, 7, l_path, l_content.size()), 0);
    QCOMPARE(l_bob->MessagesWithCode(41).last(), Code(41, U32(7) + FakePeer::U8(1)));
    QCOMPARE(Status(l_entry), QByteArray("downloading"));

    // The peer goes away half-way: the partial file keeps what arrived.
    qint64 const l_half = 2 * 8192;
    QVERIFY(SendPartAndClose(*l_bob, l_entry, l_content, l_half));
    QString const l_partial = m_env.Folder() + QString::fromUtf8("/downloading/live/café.bin");
    QCOMPARE(ReadFile(l_partial), l_content.left(l_half));
    QVERIFY(!l_entry["download_thread"] && !l_entry["download_socket"] && !l_entry["download_file"]);

    // Offered again under a new token, the download resumes where the file ends; the
    // old token names nothing any more.
    qsizetype const l_answers = l_bob->MessagesWithCode(41).size();
    QVERIFY(l_bob->Offer(8, l_path, l_content.size()));
    QVERIFY(l_bob->WaitForMessages(41, l_answers + 1));
    FakePeer l_stale;
    QVERIFY(l_stale.ConnectTo(m_env.peer().PlainPort()));
    QVERIFY(l_stale.Send(InitFrameOf("bob", "F") + U32(7)));
    QVERIFY(l_stale.WaitForDisconnected());
    QCOMPARE(Status(l_entry), QByteArray("aborted"));
    QVERIFY(l_bob->OpenFileConnection(m_env.peer().PlainPort(), 8));
    QCOMPARE(l_bob->ReadOffset(), l_half);
    QVERIFY(l_bob->SendFrom(l_content, l_half));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("complete"), 5000);
    QVERIFY(l_bob->File().WaitForDisconnected());

    QString const l_done = m_env.Folder() + QString::fromUtf8("/complete/live/café.bin");
    QCOMPARE(Sha1(ReadFile(l_done)), Sha1(l_content));
    QVERIFY(!QFileInfo::exists(m_env.Folder() + "/downloading/live"));
    QVERIFY(l_progressReports >= 2);
    QVERIFY(!l_entry["write_position"] && !l_entry["download_thread"]);
    QCOMPARE(l_records.size(), 1);
    QString const l_storeFolder = QString(m_env.Folder()).replace('/', '\\') + "\\complete\\live";
    QCOMPARE(QStringList({l_records[0]["user"].AsString(),
                          l_records[0]["complete_download_folder"].AsString(),
                          l_records[0]["complete_download_relative_folder"].AsString(),
                          l_records[0]["complete_download_filename"].AsString(),
                          l_records[0]["complete_download_file_size"].AsString()}),
             QStringList({"bob", l_storeFolder, "live", QString::fromUtf8("café.bin"),
                          QString::number(l_content.size())}));
    QVERIFY(l_records[0]["complete_download_completion_time"]);

    // A finished download is not offered twice.
    QVERIFY(l_bob->Offer(9, l_path, l_content.size()));
    QVERIFY(l_bob->WaitForMessages(41, l_answers + 2));
    QCOMPARE(l_bob->MessagesWithCode(41).last(),
             Code(41, U32(9) + FakePeer::U8(0) + FakePeer::Text("Complete")));
    QCOMPARE(l_records.size(), 1);
}

void TestDownloadTransfer::partialFileAsLongAsTheFileCompletesAtOnce()
{
    auto l_carl = Uploader("carl");
    QByteArray const l_content = Content(8192 + 5000);
    ItemPtr const l_entry = manager().AddDownload("carl", "whole.bin", "docs", l_content.size(), 0);
    // carl's own bytes, the first block from him, the rest put there by hand.
    QCOMPARE(Connect(*l_carl, 10, "docs\\whole.bin", l_content.size()), 0);
    QVERIFY(SendPartAndClose(*l_carl, l_entry, l_content, 8192));
    QVERIFY(WriteFile(m_env.Folder() + "/downloading/docs/whole.bin", l_content));
    QCOMPARE(Connect(*l_carl, 11, "docs\\whole.bin", l_content.size()), qint64(l_content.size()));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("complete"), 3000);
    QCOMPARE(ReadFile(m_env.Folder() + "/complete/docs/whole.bin"), l_content);
}

void TestDownloadTransfer::refusesNamesLeadingOutOfTheDownloadFolder()
{
    struct Case
    {
        std::string file;
        std::string folder;
        int level;
        // Whether an offer's path arrives as these names (strings on the wire end at a
        // zero byte; a separator in the name splits it differently).
        bool offered;
    };
    Case const l_cases[] = {
        {"x", "..\\..", 1, true},          {"x", "..", 0, true},
        {"..", "music", 0, true},          {"x", "a\\.", 0, true},
        {"x", "\\y", 1, true},             {std::string("x\0y", 3), "music", 0, false},
        {"sub/x", "music", 0, false},      {"sub\\x", "music", 0, false},
    };
    QString const l_base = m_env.Folder() + "/nest";
    QDir().mkpath(l_base);
    SetSetting("download_folder", l_base + "/dl");
    // Where the first case would land: a file there must not count as downloaded.
    QVERIFY(WriteFile(l_base + "/x", "planted"));
    auto l_eve = Uploader("eve");
    quint32 l_token = 100;
    for (Case const& l_case : l_cases)
    {
        QByteArray const l_name = QByteArray::fromStdString(l_case.file);
        ItemPtr const l_entry = manager().AddDownload("eve", l_case.file, l_case.folder, 10, l_case.level);
        QVERIFY2(Status(l_entry) == "queued", l_name);
        QString l_path;
        QVERIFY2(!manager().GetLocalDownloadPath(l_entry, false, l_path), l_name);
        QVERIFY2(!manager().GetLocalDownloadPath(l_entry, true, l_path), l_name);
        if (!l_case.offered)
            continue;
        QByteArray const l_remote = QByteArray::fromStdString(l_case.folder + "\\" + l_case.file);
        QVERIFY2(OfferAndOpen(*l_eve, ++l_token, l_remote, 10), l_name);
        QVERIFY2(l_eve->File().WaitForDisconnected(), l_name);
        QVERIFY2(l_eve->File().Received().isEmpty(), l_name);
        QVERIFY2(Status(l_entry) == "local error", l_name);
        manager().RemoveDownloadDownloadingFolderIfAppropriate(l_entry);
    }
    QCOMPARE(FilesBelow(m_env.Folder() + "/nest"), QStringList{"x"});
    QCOMPARE(QDir(l_base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"x"});
}

void TestDownloadTransfer::oneWriterPerPartialFile()
{
    auto l_fred = Uploader("fred");
    QByteArray const l_content = Content(4 * 8192);
    qint64 const l_size = l_content.size();

    // A second connection for a running download ends the first transfer and resumes.
    ItemPtr const l_entry = manager().AddDownload("fred", "a.bin", "one", l_size, 0);
    QCOMPARE(Connect(*l_fred, 21, "one\\a.bin", l_size), 0);
    QVERIFY(l_fred->SendFrom(l_content, 0, 8192));
    QTRY_COMPARE_WITH_TIMEOUT(*l_entry["write_position"].AsPtr<qint64>(), qint64(8192), 3000);
    QVERIFY(l_fred->OpenFileConnection(m_env.peer().PlainPort(), 21));
    QCOMPARE(l_fred->ReadOffset(), qint64(8192));
    QVERIFY(l_fred->File(0).WaitForDisconnected());
    QCOMPARE(Status(l_entry), QByteArray("downloading"));
    QVERIFY(l_fred->SendFrom(l_content, 8192));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("complete"), 5000);
    QCOMPARE(Sha1(ReadFile(m_env.Folder() + "/complete/one/a.bin")), Sha1(l_content));

    // Two downloads whose partial files coincide: the second connection is turned away.
    ItemPtr const l_first = manager().AddDownload("fred", "b.bin", "x\\same", l_size, 0);
    ItemPtr const l_second = manager().AddDownload("fred", "b.bin", "y\\same", l_size, 0);
    QCOMPARE(Connect(*l_fred, 22, "x\\same\\b.bin", l_size), 0);
    LogCapture l_log;
    QVERIFY(OfferAndOpen(*l_fred, 23, "y\\same\\b.bin", l_size));
    QVERIFY(l_fred->File().WaitForDisconnected());
    QVERIFY(l_fred->File().Received().isEmpty());
    QCOMPARE(Status(l_second), QByteArray("queued"));
    QCOMPARE(l_log.Texts(c_queueArea).filter("being written by another download").size(), 1);
    QVERIFY(l_fred->File(2).Send(l_content));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_first), QByteArray("complete"), 5000);
    QCOMPARE(Sha1(ReadFile(m_env.Folder() + "/complete/same/b.bin")), Sha1(l_content));
}

void TestDownloadTransfer::tricklingPeerDoesNotHoldUpTheGuiThread()
{
    auto l_gina = Uploader("gina");
    QByteArray const l_content = Content(8192);
    ItemPtr const l_entry = manager().AddDownload("gina", "slow.bin", "drip", l_content.size(), 0);
    QString const l_partial = m_env.Folder() + "/downloading/drip/slow.bin";

    // A denial while a byte arrives now and then: the worker sees its exit flag between
    // waits instead of finishing the block first.
    QCOMPARE(Connect(*l_gina, 31, "drip\\slow.bin", l_content.size()), 0);
    l_gina->Trickle(l_content, 0, 20);
    QTest::qWait(100);
    QElapsedTimer l_clock;
    l_clock.start();
    manager().OnUploadDeniedNotification("gina", "drip\\slow.bin", "Too many files");
    QVERIFY(l_clock.elapsed() < 10000);
    QCOMPARE(Status(l_entry), QByteArray("denied"));
    QCOMPARE(l_entry["denial_reason"].AsString(), QString("Too many files"));
    QVERIFY(!l_entry["download_thread"]);
    QVERIFY(l_gina->File().WaitForDisconnected());

    // Removing a running download waits for its worker and keeps the partial file.
    QCOMPARE(Connect(*l_gina, 32, "drip\\slow.bin", l_content.size()), 0);
    l_gina->Trickle(l_content, 0, 20);
    QTest::qWait(100);
    l_clock.restart();
    manager().RemoveDownload(l_entry);
    QVERIFY(l_clock.elapsed() < 10000);
    QVERIFY(!manager().GetDownloadEntry("gina", "slow.bin", "drip"));
    QVERIFY(QFileInfo::exists(l_partial));
    QCOMPARE(manager().ActiveDownloadCount(), 0);
}

void TestDownloadTransfer::failedMoveLeavesTheFileWhereItIs()
{
    auto l_hank = Uploader("hank");
    QByteArray const l_content = Content(9000);
    int l_records = 0;
    QObject l_listener;
    connect(&manager(), &TransferQueueManager::CompleteDownloadAdded, &l_listener,
            [&](ItemPtr) { ++l_records; });
    ItemPtr const l_entry = manager().AddDownload("hank", "m.bin", "blocked", l_content.size(), 0);
    QCOMPARE(Connect(*l_hank, 41, "blocked\\m.bin", l_content.size()), 0);
    // A file where the complete folder should be created.
    QVERIFY(WriteFile(m_env.Folder() + "/complete/blocked", "in the way"));
    LogCapture l_log;
    QVERIFY(l_hank->SendFrom(l_content, 0));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("local error"), 5000);
    QCOMPARE(ReadFile(m_env.Folder() + "/downloading/blocked/m.bin"), l_content);
    QCOMPARE(l_records, 0);
    QVERIFY(l_log.Texts(c_queueArea).filter("Could not move finished download").size() == 1);
    QVERIFY(!l_entry["download_file"] && !l_entry["download_thread"]);

    // Anything but a file of its own where the partial file goes: nothing is moved, nor
    // opened (a pipe would wait for a reader for ever), and no byte goes through a link.
    QString const l_mine = m_env.Folder() + "/mine.txt";
    QString const l_gone = m_env.Folder() + "/gone.txt";
    QVERIFY(WriteFile(l_mine, "mine"));
    quint32 l_token = 42;
    for (QByteArray const l_name :
         {"folder.bin", "pipe.bin", "null.bin", "mine.bin", "gone.bin", "hard.bin"})
    {
        ItemPtr const l_blocked =
            manager().AddDownload("hank", l_name.toStdString(), "held", 10, 0);
        QString const l_partial = m_env.Folder() + "/downloading/held/" + l_name;
        QByteArray const l_native = QFile::encodeName(l_partial);
        QVERIFY(QDir().mkpath(m_env.Folder() + "/downloading/held"));
        if (l_name == "folder.bin")
            QVERIFY(WriteFile(l_partial + "/inside", "kept"));
        else if (l_name == "pipe.bin")
            QVERIFY(::mkfifo(l_native, 0600) == 0);
        else if (l_name == "hard.bin")
            QVERIFY(::link(QFile::encodeName(l_mine), l_native) == 0);
        else
            QVERIFY(QFile::link(l_name == "null.bin"   ? "/dev/null"
                                : l_name == "mine.bin" ? l_mine
                                                       : l_gone,
                                l_partial));
        QVERIFY(OfferAndOpen(*l_hank, ++l_token, "held\\" + l_name, 10));
        QVERIFY(l_hank->File().WaitForDisconnected());
        QVERIFY2(l_hank->File().Received().isEmpty(), l_name);
        QCOMPARE(Status(l_blocked), QByteArray("local error"));
        QVERIFY(QFileInfo(l_partial).isSymLink() || QFileInfo::exists(l_partial));
    }
    // A second name is one the user can remove.
    QStringList const l_why = l_log.Texts(c_queueArea);
    QCOMPARE(l_why.filter("is not a file of its own (a link, a folder").size(), 5);
    QCOMPARE(l_why
                 .filter(QRegularExpression("hard.bin has another name elsewhere \\(a hard "
                                            "link\\).* go on once that other name is removed"))
                 .size(),
             1);
    QCOMPARE(ReadFile(m_env.Folder() + "/downloading/held/folder.bin/inside"), QByteArray("kept"));
    QCOMPARE(ReadFile(l_mine), QByteArray("mine"));
    QVERIFY(!QFileInfo::exists(l_gone) && !QFileInfo::exists(m_env.Folder() + "/complete/held"));
}

void TestDownloadTransfer::failedWriteEndsTheDownloadUnrecorded()
{
    // The partial file may not grow past its first 4,096 bytes: every write beyond is
    // refused.
    auto l_ivan = Uploader("ivan");
    int l_records = 0;
    QObject l_listener;
    connect(&manager(), &TransferQueueManager::CompleteDownloadAdded, &l_listener,
            [&](ItemPtr) { ++l_records; });
    ItemPtr const l_entry = manager().AddDownload("ivan", "full.bin", "disk", 9000, 0);
    QString const l_partial = m_env.Folder() + "/downloading/disk/full.bin";
    LogCapture l_log;
    QCOMPARE(Connect(*l_ivan, 51, "disk\\full.bin", 9000), 0);
    struct rlimit l_limit;
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &l_limit) == 0);
    rlim_t const l_was = l_limit.rlim_cur;
    l_limit.rlim_cur = 4096;
    auto const l_signal = ::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &l_limit) == 0);
    auto const l_restore = qScopeGuard(
        [&]
        {
            l_limit.rlim_cur = l_was;
            ::setrlimit(RLIMIT_FSIZE, &l_limit);
            ::signal(SIGXFSZ, l_signal);
        });
    QVERIFY(l_ivan->SendFrom(Content(9000), 0));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("aborted"), 5000);
    QCOMPARE(l_records, 0);
    QVERIFY(QFileInfo(l_partial).size() <= 4096 &&
            !QFileInfo::exists(m_env.Folder() + "/complete/disk"));
    QCOMPARE(l_log.Texts(c_queueArea).filter("Writing to file failed").size(), 1);
}

void TestDownloadTransfer::partialFileResumedOnlyByItsWriter()
{
    // Two files whose local paths coincide, with bytes that differ everywhere.
    auto l_xena = Uploader("xena");
    auto l_yuri = Uploader("yuri");
    QByteArray const l_rock = Content(5 * 8192);
    QByteArray const l_pop = OtherContent(4 * 8192 + 7);
    ItemPtr const l_rockEntry =
        manager().AddDownload("xena", "track.mp3", "rock\\album", l_rock.size(), 0);
    ItemPtr const l_popEntry =
        manager().AddDownload("yuri", "track.mp3", "pop\\album", l_pop.size(), 0);
    QCOMPARE(Connect(*l_xena, 61, "rock\\album\\track.mp3", l_rock.size()), 0);
    QVERIFY(SendPartAndClose(*l_xena, l_rockEntry, l_rock, 2 * 8192));

    // While xena's download is queued, yuri's is turned away and leaves her bytes alone.
    LogCapture l_log;
    QVERIFY(OfferAndOpen(*l_yuri, 62, "pop\\album\\track.mp3", l_pop.size()));
    QVERIFY(l_yuri->File().WaitForDisconnected());
    QVERIFY(l_yuri->File().Received().isEmpty());
    QCOMPARE(Status(l_popEntry), QByteArray("queued"));
    QCOMPARE(l_log.Texts(c_queueArea).filter("which is still queued").size(), 1);

    // Once it is gone, yuri's starts from the first byte.
    manager().RemoveDownload(l_rockEntry);
    QCOMPARE(Connect(*l_yuri, 63, "pop\\album\\track.mp3", l_pop.size()), 0);
    QVERIFY(l_yuri->SendFrom(l_pop, 0));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_popEntry), QByteArray("complete"), 5000);
    QCOMPARE(Sha1(ReadFile(m_env.Folder() + "/complete/album/track.mp3")), Sha1(l_pop));
    QCOMPARE(l_log.Texts(c_queueArea).filter("which is no longer queued, set aside as").size(), 1);
}

void TestDownloadTransfer::partialFileOfAnUnknownWriterIsSetAside()
{
    // xavi's rock\albumN\<name> and yves's pop\albumN\<name> share a local path; xavi's
    // half-received file lies there when the next connection comes.
    enum class Move
    {
        None,
        Whole,
        // What a file manager's "select all" takes: hidden entries stay behind.
        WhatShows,
        // What a user may do to a folder of files named by 40 hex digits.
        RecordsDeleted,
        RecordsRenamed,
        // Into another download folder, without the records.
        DownloadingAlone,
        // As to another disk: every file anew.
        Copied
    };
    struct Case
    {
        // xavi's bytes came over a connection, rather than being put there with nothing
        // said about them.
        bool transferred = false;
        // A store file of an older version names this user as the writer.
        QString storeWriter;
        // The record lies where the version before kept it when this one starts.
        bool oldRecordPlace = false;
        Move move = Move::None;
        bool yvesQueued = true;
        bool xaviRemoved = false;
        // The offset sent to the next connection, yves's when he has a download, else
        // xavi's; -1 when it is refused.
        qint64 offset = 0;
        // The file names each peer sends: other bytes, one local name.
        QByteArray xaviName = "track.mp3";
        QByteArray yvesName = "track.mp3";
        // yves's remote folder ends in this folder, a link the user made to xavi's.
        QString yvesLink;
        // The record is replaced by a link to a file of the user's.
        bool recordLink = false;
        // A file already in the download folder, and where xavi's bytes go below "set
        // aside"; %1 is the album.
        QString taken;
        QString aside;
    };
    qint64 const l_half = 2 * 8192;
    // The longest name there is, of two-byte characters: a number can only take the
    // place of whole ones.
    QByteArray const l_long = QString(125, QChar(0xE9)).toUtf8() + "x.bin";
    QString const l_longAside = QString(123, QChar(0xE9)) + " (2).bin";
    // Members left out take their defaults, which g++ 12 warns of all the same.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
    Case const l_cases[] = {
        {.transferred = true, .move = Move::Whole, .offset = -1},
        {.transferred = true, .move = Move::Whole, .xaviRemoved = true},
        {.move = Move::Whole},
        {.move = Move::Whole, .yvesQueued = false},
        {.storeWriter = "xavi", .offset = -1},
        // Two records that disagree: neither is believed.
        {.transferred = true, .storeWriter = "yves"},
        {.transferred = true, .recordLink = true},
        {.xaviName = "caf\xc3\xa9.bin", .yvesName = "caf\xe9.bin"},
        {.transferred = true, .move = Move::WhatShows, .xaviRemoved = true},
        {.transferred = true, .oldRecordPlace = true, .move = Move::WhatShows, .offset = -1},
        {.yvesLink = "linked", .aside = "linked/track.mp3"},
        {.xaviName = l_long,
         .yvesName = l_long,
         .taken = "set aside/%1/" + QString::fromUtf8(l_long),
         .aside = "%1/" + l_longAside},
        {.taken = "set aside/%1", .aside = "%1 (2)/track.mp3"},
        {.transferred = true, .move = Move::Whole, .offset = -1, .taken = "partial writers"},
        {.transferred = true, .move = Move::RecordsDeleted, .xaviRemoved = true},
        {.transferred = true, .move = Move::RecordsRenamed, .xaviRemoved = true},
        {.transferred = true, .move = Move::DownloadingAlone, .xaviRemoved = true},
        {.transferred = true, .move = Move::Copied, .offset = -1},
    };
#pragma GCC diagnostic pop
    auto l_xavi = Uploader("xavi");
    auto l_yves = Uploader("yves");
    QByteArray const l_rock = Content(5 * 8192);
    QByteArray const l_pop = OtherContent(4 * 8192 + 7);
    quint32 l_token = 200;
    for (int l_index = 0; l_index < int(std::size(l_cases)); ++l_index)
    {
        Case const& l_case = l_cases[l_index];
        QByteArray const l_tag = QByteArray::number(l_index);
        QString l_base = m_env.Folder() + "/moving" + l_tag;
        SetSetting("download_folder", l_base);
        QString const l_album = "album" + l_tag;
        QString const l_yvesAlbum = l_case.yvesLink.isEmpty() ? l_album : l_case.yvesLink;
        QByteArray const l_rockPath = "rock\\" + l_album.toUtf8() + "\\" + l_case.xaviName;
        QByteArray const l_popPath = "pop\\" + l_yvesAlbum.toUtf8() + "\\" + l_case.yvesName;
        QString const l_below = l_album + "/" + QString::fromUtf8(l_case.xaviName);
        ItemPtr const l_rockEntry =
            manager().AddDownload("xavi", l_case.xaviName.toStdString(),
                                  "rock\\" + l_album.toStdString(), l_rock.size(), 0);
        ItemPtr const l_popEntry =
            l_case.yvesQueued
                ? manager().AddDownload("yves", l_case.yvesName.toStdString(),
                                        "pop\\" + l_yvesAlbum.toStdString(), l_pop.size(), 0)
                : ItemPtr();
        QString const l_taken = QString(l_case.taken).replace("%1", l_album);
        if (!l_taken.isEmpty())
            QVERIFY(WriteFile(l_base + "/" + l_taken, l_rock.left(100)));
        if (l_case.transferred)
        {
            QCOMPARE(Connect(*l_xavi, ++l_token, l_rockPath, l_rock.size()), 0);
            QVERIFY(SendPartAndClose(*l_xavi, l_rockEntry, l_rock, l_half));
        }
        else
            QVERIFY(WriteFile(l_base + "/downloading/" + l_below, l_rock.left(l_half)));
        if (l_case.oldRecordPlace)
        {
            QVERIFY(QDir(l_base).rename("partial writers", ".partial writers"));
            manager().DataLoaded();
        }
        if (!l_case.yvesLink.isEmpty())
            QVERIFY(QFile::link(l_album, l_base + "/downloading/" + l_yvesAlbum));
        QString const l_mine = m_env.Folder() + "/mine" + l_tag;
        if (l_case.recordLink)
        {
            QDir l_records(l_base + "/partial writers");
            QStringList const l_names = l_records.entryList(QDir::Files);
            QVERIFY(l_names.size() == 1 && WriteFile(l_mine, "mine") &&
                    l_records.remove(l_names[0]) &&
                    QFile::link(l_mine, l_records.filePath(l_names[0])));
        }
        // The store as last saved before the transfer started.
        for (ItemPtr const& l_record : d["partial_file"]->GetItems())
            l_record.Remove();
        if (!l_case.storeWriter.isEmpty())
        {
            ItemPtr const l_record =
                d["partial_file"]->GetItem(Value(l_base + "/downloading/" + l_below));
            l_record += User(l_case.storeWriter);
            l_record += d["partial_file_remote_path"]->GetItem(
                Value(l_case.storeWriter == "xavi" ? l_rockPath : l_popPath));
        }
        QString const l_moved = l_base + "-moved";
        if (l_case.move == Move::Whole)
            QVERIFY(QDir().rename(l_base, l_moved));
        else if (l_case.move == Move::WhatShows)
            for (QString const& l_name :
                 QDir(l_base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
                QVERIFY(QDir().mkpath(l_moved) &&
                        QDir(l_base).rename(l_name, l_moved + "/" + l_name));
        else if (l_case.move == Move::DownloadingAlone)
            QVERIFY(QDir().mkpath(l_moved) &&
                    QDir().rename(l_base + "/downloading", l_moved + "/downloading"));
        else if (l_case.move == Move::Copied)
            QCOMPARE(QProcess::execute("cp", {"-a", l_base, l_moved}), 0);
        else if (l_case.move == Move::RecordsDeleted)
            QVERIFY(QDir(l_base + "/partial writers").removeRecursively());
        else if (l_case.move == Move::RecordsRenamed)
            QVERIFY(QDir(l_base).rename("partial writers", "old writers"));
        if (QFileInfo::exists(l_moved))
        {
            l_base = l_moved;
            SetSetting("download_folder", l_base);
        }
        if (l_case.xaviRemoved)
            manager().RemoveDownload(l_rockEntry);

        LogCapture l_log;
        bool const l_byYves = l_case.yvesQueued;
        QByteArray const& l_content = l_byYves ? l_pop : l_rock;
        ItemPtr const l_entry = l_byYves ? l_popEntry : l_rockEntry;
        FakeUploader& l_peer = l_byYves ? *l_yves : *l_xavi;
        QByteArray const& l_remote = l_byYves ? l_popPath : l_rockPath;
        if (l_case.offset < 0)
        {
            QVERIFY(OfferAndOpen(l_peer, ++l_token, l_remote, l_content.size()));
            QVERIFY(l_peer.File().WaitForDisconnected());
            QVERIFY(l_peer.File().Received().isEmpty());
            QCOMPARE(Status(l_entry), QByteArray("queued"));
            // Its writer takes up where it stopped.
            QCOMPARE(Connect(*l_xavi, ++l_token, l_rockPath, l_rock.size()), l_half);
            QVERIFY(l_xavi->SendFrom(l_rock, l_half));
            QTRY_COMPARE_WITH_TIMEOUT(Status(l_rockEntry), QByteArray("complete"), 5000);
        }
        else
        {
            QCOMPARE(Connect(l_peer, ++l_token, l_remote, l_content.size()), l_case.offset);
            QVERIFY(l_peer.SendFrom(l_content, l_case.offset));
            QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("complete"), 5000);
        }
        QByteArray const& l_finished = l_case.offset < 0 ? l_rock : l_content;
        QString const l_finishedBelow = l_byYves && l_case.offset >= 0
                                            ? l_yvesAlbum + "/" + QFileInfo(l_below).fileName()
                                            : l_below;
        QCOMPARE(Sha1(ReadFile(l_base + "/complete/" + l_finishedBelow)), Sha1(l_finished));

        // Set aside where the log says, nothing taken is touched, and nothing else is left.
        QString const l_aside =
            l_base + "/set aside/" +
            (l_case.aside.isEmpty() ? l_below : QString(l_case.aside).replace("%1", l_album));
        bool const l_setAside = l_case.offset == 0;
        QCOMPARE(l_log.Texts(c_queueArea).filter(", set aside as " + l_aside).size(),
                 int(l_setAside));
        QCOMPARE(ReadFile(l_aside), l_setAside ? l_rock.left(l_half) : QByteArray());
        if (!l_taken.isEmpty())
            QCOMPARE(ReadFile(l_base + "/" + l_taken), l_rock.left(100));
        if (l_case.recordLink)
            QCOMPARE(ReadFile(l_mine), QByteArray("mine"));
        QStringList l_files = FilesBelow(l_base);
        l_files.removeIf([](QString const& i_file) { return i_file.startsWith("old writers/"); });
        QCOMPARE(l_files.size(), 1 + int(l_setAside) + int(!l_taken.isEmpty()));
        for (QString const& l_file : l_files)
        {
            QByteArray const l_bytes = ReadFile(l_base + "/" + l_file);
            QVERIFY2(l_rock.startsWith(l_bytes) != l_pop.startsWith(l_bytes), qPrintable(l_file));
        }
        QVERIFY(!d["partial_file"]->HasItem(Value(l_base + "/downloading/" + l_below)));
    }
}

void TestDownloadTransfer::recordsThatCannotBeReplacedStopTheDownload()
{
    // Records that can be read but not replaced, as in a folder copied as another user;
    // the hidden place can still take one. Root writes anywhere, so the client's side
    // runs as nobody, on this thread only; setfsuid() answers the id in force, still
    // root where the change is refused.
    QString const l_base = m_env.Folder() + "/copied";
    QVERIFY(QDir().mkpath(l_base) && ::chmod(QFile::encodeName(l_base), 0777) == 0 &&
            ::chmod(QFile::encodeName(m_env.Folder()), 0711) == 0);
    SetSetting("download_folder", l_base);
    bool const l_asNobody = ::geteuid() == 0;
    auto const l_asRoot = qScopeGuard(
        [&]
        {
            if (l_asNobody)
                ::setfsuid(0), ::setfsgid(0);
        });
    if (l_asNobody && (::setfsgid(65534), ::setfsuid(65534), ::setfsuid(65534) != 65534))
        QSKIP("The client's side cannot drop root here, and as root it proves nothing");
    auto l_amy = Uploader("amy");
    auto l_bob = Uploader("bob");
    QByteArray const l_bytes = Content(3 * 8192);
    ItemPtr l_amyEntry = manager().AddDownload("amy", "t.bin", "music\\x", l_bytes.size(), 0);
    QCOMPARE(Connect(*l_amy, 300, "music\\x\\t.bin", l_bytes.size()), 0);
    QVERIFY(SendPartAndClose(*l_amy, l_amyEntry, l_bytes, 8192));
    manager().RemoveDownload(l_amyEntry);
    QByteArray const l_records = QFile::encodeName(l_base + "/partial writers");
    QVERIFY(::chmod(l_records, 0555) == 0);

    // bob twice, then amy queued again: none may start before its record is the one.
    ItemPtr const l_bobEntry = manager().AddDownload("bob", "t.bin", "films\\x", l_bytes.size(), 0);
    LogCapture l_log;
    for (quint32 l_token = 301; l_token <= 303; ++l_token)
    {
        bool const l_byBob = l_token < 303;
        if (!l_byBob)
            l_amyEntry = manager().AddDownload("amy", "t.bin", "music\\x", l_bytes.size(), 0);
        FakeUploader& l_peer = l_byBob ? *l_bob : *l_amy;
        QVERIFY(OfferAndOpen(l_peer, l_token, l_byBob ? "films\\x\\t.bin" : "music\\x\\t.bin",
                             l_bytes.size()));
        QVERIFY(l_peer.File().WaitForDisconnected());
        QVERIFY(l_peer.File().Received().isEmpty());
        QCOMPARE(Status(l_byBob ? l_bobEntry : l_amyEntry), QByteArray("local error"));
    }
    // The folder to make writable, and why.
    QString const l_why = "t.bin in " + l_base + "/partial writers: Permission denied";
    QCOMPARE(l_log.Texts(c_queueArea).filter("Could not record the writer").filter(l_why).size(),
             3);
    QCOMPARE(ReadFile(l_base + "/set aside/x/t.bin"), l_bytes.left(8192));

    // Once the records can be replaced, amy's download is hers alone.
    QVERIFY(::chmod(l_records, 0755) == 0);
    QCOMPARE(Connect(*l_amy, 304, "music\\x\\t.bin", l_bytes.size()), 0);
    QVERIFY(l_amy->SendFrom(l_bytes, 0));
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_amyEntry), QByteArray("complete"), 5000);
    QCOMPARE(Sha1(ReadFile(l_base + "/complete/x/t.bin")), Sha1(l_bytes));
}

void TestDownloadTransfer::recordsAreNeverShared()
{
    // The home folder holds the download folder used before and the one used now, each
    // with a finished and a half-received download.
    QString const l_home = m_env.Folder() + "/home";
    QVERIFY(WriteFile(l_home + "/notes.txt", "mine"));
    auto l_kim = Uploader("kim");
    QByteArray const l_bytes = Content(3 * 8192);
    QStringList l_shared{l_home + "/notes.txt"};
    quint32 l_token = 400;
    for (QString const l_folder : {"before", "now"})
    {
        QString const l_base = l_home + "/" + l_folder;
        SetSetting("download_folder", l_base);
        ItemPtr const l_entry =
            manager().AddDownload("kim", "half.bin", l_folder.toStdString(), l_bytes.size(), 0);
        QCOMPARE(Connect(*l_kim, ++l_token, l_folder.toUtf8() + "\\half.bin", l_bytes.size()), 0);
        QVERIFY(SendPartAndClose(*l_kim, l_entry, l_bytes, 8192) &&
                WriteFile(l_base + "/complete/k/done.bin", l_bytes));
        l_shared << l_base + "/complete/k/done.bin"
                 << l_base + "/downloading/" + l_folder + "/half.bin";
    }
    // A user may rename a folder of files named by 40 hex digits: they are records still.
    QVERIFY(QDir(l_home + "/before").rename("partial writers", "old writers"));
    QCOMPARE(FilesBelow(l_home).filter(QRegularExpression("writers/[0-9a-f]{40}$")).size(), 2);

    sharedFoldersManager->AddSharedFolder(l_home);
    sharedFoldersManager->RescanShares();
    QStringList l_indexed;
    for (ItemPtr const& l_file : d["shared_file"]->GetItems())
        l_indexed << l_file["shared_file_folder"].AsString() + "/" +
                         l_file["shared_file_name"].AsString();
    l_indexed.sort();
    l_shared.sort();
    QCOMPARE(l_indexed, l_shared);
}

void TestDownloadTransfer::oneFileByTwoPathsHasOneRecord()
{
    // The first download or the second: 'p' connects at the offset, is sent 8,192 bytes
    // and dropped; 'f' connects at the offset and finishes; 'w' is turned away; 'r' is
    // removed and 'q' queued again.
    struct Step
    {
        int who;
        char what;
        qint64 offset = 0;
    };
    // The first's bytes are on record when the second comes: while the first waits, so
    // does the second; once it is gone, and back after the second wrote, it waits.
    std::vector<Step> const l_writerQueued = {{0, 'p'}, {1, 'w'}, {0, 'f', 8192}, {1, 'f'}};
    std::vector<Step> const l_writerBack = {{0, 'p'}, {0, 'r'},       {1, 'p'}, {0, 'q'},
                                            {0, 'w'}, {1, 'f', 8192}, {0, 'f'}};
    // pia's folder is a link the user made in the downloading folder, to otto's folder or,
    // as otto's is too, to one folder outside it.
    std::unique_ptr<FakeUploader> const l_peers[] = {Uploader("otto"), Uploader("pia")};
    QByteArray const l_contents[] = {Content(5 * 8192), OtherContent(4 * 8192 + 7)};
    quint32 l_token = 500;
    int l_row = 0;
    for (bool const l_outside : {false, true})
        for (std::vector<Step> l_steps : {l_writerQueued, l_writerBack})
        {
            QByteArray const l_tag = QByteArray::number(l_row++);
            QString const l_downloading = m_env.Folder() + "/aliases" + l_tag + "/downloading/";
            QString const l_target =
                l_outside ? m_env.Folder() + "/outside" + l_tag : "album" + l_tag;
            SetSetting("download_folder", m_env.Folder() + "/aliases" + l_tag);
            QVERIFY(QDir().mkpath(l_outside ? l_target : l_downloading + l_target) &&
                    QDir().mkpath(l_downloading) &&
                    QFile::link(l_target, l_downloading + "linked" + l_tag) &&
                    (!l_outside || QFile::link(l_target, l_downloading + "album" + l_tag)));
            // The first to finish leaves its folder empty, which goes: the link then leads
            // nowhere.
            if (!l_outside)
                l_steps.pop_back();
            QByteArray const l_paths[] = {"rock\\album" + l_tag + "\\track.mp3",
                                          "pop\\linked" + l_tag + "\\track.mp3"};
            ItemPtr l_entries[2];
            auto const l_queue = [&](int i_who)
            {
                std::string const l_path = l_paths[i_who].toStdString();
                l_entries[i_who] = manager().AddDownload(
                    QString::fromLatin1(l_peers[i_who]->User()), GetFileName(l_path),
                    GetFolder(l_path), l_contents[i_who].size(), 0);
            };
            l_queue(0);
            l_queue(1);
            for (Step const& l_step : l_steps)
            {
                FakeUploader& l_peer = *l_peers[l_step.who];
                QByteArray const& l_content = l_contents[l_step.who];
                ItemPtr const l_entry = l_entries[l_step.who];
                if (l_step.what == 'r' || l_step.what == 'q')
                    l_step.what == 'r' ? manager().RemoveDownload(l_entry) : l_queue(l_step.who);
                else if (l_step.what == 'w')
                {
                    QVERIFY(
                        OfferAndOpen(l_peer, ++l_token, l_paths[l_step.who], l_content.size()) &&
                        l_peer.File().WaitForDisconnected());
                    QVERIFY(l_peer.File().Received().isEmpty());
                    QCOMPARE(Status(l_entry), QByteArray("queued"));
                }
                else
                {
                    QCOMPARE(Connect(l_peer, ++l_token, l_paths[l_step.who], l_content.size()),
                             l_step.offset);
                    if (l_step.what == 'p')
                    {
                        QVERIFY(SendPartAndClose(l_peer, l_entry, l_content, 8192));
                        continue;
                    }
                    QVERIFY(l_peer.SendFrom(l_content, l_step.offset));
                    QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("complete"), 5000);
                    QString l_finished;
                    QVERIFY(manager().GetLocalDownloadPath(l_entry, true, l_finished));
                    QCOMPARE(Sha1(ReadFile(l_finished)), Sha1(l_content));
                }
            }
        }
}

void TestDownloadTransfer::reportsArePacedExactAndWrittenThrough()
{
    auto l_ivy = Uploader("ivy");
    QByteArray const l_content = Content(2 * 1024 * 1024 + 100);
    ItemPtr const l_entry = manager().AddDownload("ivy", "fast.bin", "paced", l_content.size(), 0);
    QString const l_partial = m_env.Folder() + "/downloading/paced/fast.bin";
    QCOMPARE(Connect(*l_ivy, 71, "paced\\fast.bin", l_content.size()), 0);
    // Taken on the worker's thread as each report is made: the position, and what the
    // file on disk holds at that moment.
    QMutex l_mutex;
    QList<std::pair<qint64, qint64>> l_reports;
    auto* const lp_worker = l_entry["download_thread"].AsPtr<DownloadThread>();
    connect(
        lp_worker, &DownloadThread::DownloadProgress, lp_worker,
        [&](qint64 i_position, int)
        {
            QMutexLocker l_lock(&l_mutex);
            l_reports.append({i_position, QFileInfo(l_partial).size()});
        },
        Qt::DirectConnection);
    QElapsedTimer l_clock;
    l_clock.start();
    for (qint64 l_at = 0; l_at < l_content.size(); l_at += 256 * 1024)
    {
        QVERIFY(l_ivy->SendFrom(l_content, l_at, 256 * 1024));
        QTest::qWait(40);
    }
    QTRY_COMPARE_WITH_TIMEOUT(Status(l_entry), QByteArray("complete"), 10000);
    qint64 const l_bound = l_clock.elapsed() / ProgressGate::c_intervalMs + 2;
    QMutexLocker l_lock(&l_mutex);
    QVERIFY2(l_reports.size() >= 2 && l_reports.size() <= l_bound,
             qPrintable(QString::number(l_reports.size())));
    for (qsizetype l_index = 0; l_index < l_reports.size(); ++l_index)
    {
        QCOMPARE(l_reports[l_index].second, l_reports[l_index].first);
        QVERIFY(l_index == 0 || l_reports[l_index].first > l_reports[l_index - 1].first);
    }
    QCOMPARE(l_reports.last().first, qint64(l_content.size()));
}

void TestDownloadTransfer::logLinesKeepThePercentSignsOfPeers()
{
    LogCapture l_log;
    manager().OnFileTransferRequest("pct%2", 1, 5, "dir\\a%1b.mp3", 10);
    manager().OnFileConnection("pct%2", new QTcpSocket, 5);
    manager().OnFileTransferResponse("pct%2", 5, true, false, 0, QString());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (char const* lp_line :
         {"Received upload request from pct%2 for file dir\\a%1b.mp3, req 5",
          "File connection created by user pct%2 for req 5",
          "Received file transfer response from user pct%2 for req 5, transfer accepted"})
        QVERIFY2(l_log.Contains(c_queueArea, 1, lp_line), lp_line);
}

QTEST_GUILESS_MAIN(TestDownloadTransfer)
#include "tst_download_transfer.moc"
