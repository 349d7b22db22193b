#include "net/records/SharedFolderInfo.h"
#include "net/server/MemStream.h"
#include "support/FrameBuilder.h"
#include "support/ShareBytes.h"

#include <QTest>

using ShareBytes::FileRecord;

namespace
{
QByteArray U32(quint32 value) { return FrameBuilder::LittleEndian(value, 4); }

MemStream StreamOf(QByteArray const& bytes)
{
    MemStream l_stream;
    l_stream.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    return l_stream;
}

FileInfo File(std::string name, long long size, std::string extension = {}, std::vector<AttributeMap::Pair> pairs = {})
{
    FileInfo l_file;
    l_file.m_name = std::move(name);
    l_file.m_size = size;
    l_file.m_attributes.m_extension = std::move(extension);
    l_file.m_attributes.m_pairs = std::move(pairs);
    return l_file;
}

// name|size|extension|code=value,...
QString Describe(FileInfo const& file)
{
    QStringList l_pairs;
    for (auto const& [code, value] : file.m_attributes.m_pairs)
        l_pairs << QString("%1=%2").arg(code).arg(value);
    return QString::fromLatin1(file.m_name.data(), qsizetype(file.m_name.size())) + "|" + QString::number(file.m_size) + "|" +
           QString::fromStdString(file.m_attributes.m_extension) + "|" + l_pairs.join(",");
}

QStringList Describe(std::set<FileInfo> const& files)
{
    QStringList l_lines;
    for (FileInfo const& l_file : files)
        l_lines << Describe(l_file);
    return l_lines;
}
} // namespace

class TestShareRecords : public QObject
{
    Q_OBJECT

private slots:
    void writesGoldenBytesAndReadsThemBack();
    void readsFileInfoWithinItsLimits();
    void readsFolderThroughOneWorkingRecord();
};

void TestShareRecords::writesGoldenBytesAndReadsThemBack()
{
    SharedFolderInfo l_folder;
    for (FileInfo const& l_file : {File("a", 7), File("a", 5), File("B", 9), File("ab", -1), File("\xE9", 1)})
        l_folder.m_files.insert(l_file);
    l_folder.m_files.insert(File("a", 5, "mp3", {{0, 1}})); // equal name and size: the first stays
    SharedFolderInfo l_pairs;
    l_pairs.m_files.insert(File("x\\y", 0x0102030405060708LL, "mp3", {{2, 1}, {0, 320}, {2, 0}, {9, 9}}));
    struct Case { char const* name; SharedFolderInfo folder; QByteArray expected; };
    QList<Case> const l_cases = {
        {"empty folder", SharedFolderInfo(), QByteArray(8, '\0')},
        {"set order: bytes unsigned, then signed size", l_folder,
         U32(5) + FileRecord("B", 9) + FileRecord("a", 5) + FileRecord("a", 7) + FileRecord("ab", quint64(-1)) + FileRecord("\xE9", 1) + U32(0)},
        {"pairs in list order, codes repeated", l_pairs, U32(1) + FileRecord("x\\y", 0x0102030405060708ULL, "mp3", {{2, 1}, {0, 320}, {2, 0}, {9, 9}}) + U32(0)},
    };
    for (Case const& l_case : l_cases)
    {
        MemStream l_stream;
        QVERIFY2(l_case.folder.Write(l_stream), l_case.name);
        QByteArray const l_bytes(l_stream.GetBuffer(), qsizetype(l_stream.GetWriteIndex()));
        QVERIFY2(l_bytes == l_case.expected, qPrintable(QString(l_case.name) + ": " + l_bytes.toHex()));
        SharedFolderInfo l_read;
        QVERIFY2(l_read.Read(l_stream) && l_stream.GetPendingReadLength() == 0, l_case.name);
        QVERIFY2(Describe(l_read.m_files) == Describe(l_case.folder.m_files), l_case.name);
    }
    // The record of one byte of name, size 5, no extension and the pair (0, 192): 30 bytes.
    MemStream l_stream;
    QVERIFY(File("a", 5, "", {{0, 192}}).Write(l_stream));
    QCOMPARE(QByteArray(l_stream.GetBuffer(), qsizetype(l_stream.GetWriteIndex())),
             QByteArray::fromHex("01" "01000000" "61" "0500000000000000" "00000000" "01000000" "00000000" "c0000000"));
}

void TestShareRecords::readsFileInfoWithinItsLimits()
{
    QByteArray const l_head = "\x01" + U32(1) + "f" + QByteArray(8, '\0'); // presence, name "f", size 0
    struct Case { char const* name; QByteArray bytes; bool ok; qsizetype consumed; QString result; };
    // Each read starts on the record "old|3|ogg|1=2".
    QList<Case> const l_cases = {
        {"absent entry: one byte, record unchanged", QByteArray(1, '\0') + "more", true, 1, "old|3|ogg|1=2"},
        {"presence 2 is present", "\x02" + FileRecord("n", 4).mid(1), true, 22, "n|4||"},
        {"name of 131072 bytes", FileRecord(QByteArray(131072, 'n'), 1), true, 21 + 131072, QString(131072, 'n') + "|1||"},
        {"name of 131073 bytes fails unread", "\x01" + U32(131073) + QByteArray(200, 'n'), false, 5, "old|3|ogg|1=2"},
        {"name cut at its NUL, all consumed", FileRecord(QByteArray("ab\0c", 4), 2), true, 25, "ab|2||"},
        {"extension cut at its NUL", FileRecord("f", 2, QByteArray("mp\0x", 4)), true, 26, "f|2|mp|"},
        {"extension of 131073 bytes", l_head + U32(131073) + QByteArray(64, 'e'), false, 18, "f|0|ogg|1=2"},
        {"131073 pairs", l_head + U32(0) + U32(131073) + QByteArray(64, 'p'), false, 22, "f|0||"},
        {"a pair count that reads negative", l_head + U32(0) + U32(0xFFFFFFFFu), false, 22, "f|0||"},
        {"size cut, name kept", "\x01" + U32(1) + "g" + QByteArray(7, '\0'), false, 6, "g|3|ogg|1=2"},
        {"pair cut", FileRecord("h", 1, {}, {{0, 1}, {1, 2}}).chopped(1), false, 34, "h|1||0=1"},
        {"nothing", QByteArray(), false, 0, "old|3|ogg|1=2"},
    };
    for (Case const& l_case : l_cases)
    {
        FileInfo l_file = File("old", 3, "ogg", {{1, 2}});
        MemStream l_stream = StreamOf(l_case.bytes);
        QVERIFY2(l_file.Read(l_stream) == l_case.ok, l_case.name);
        QVERIFY2(qsizetype(l_stream.GetReadIndex()) == l_case.consumed, l_case.name);
        QVERIFY2(Describe(l_file) == l_case.result, qPrintable(QString(l_case.name) + ": " + Describe(l_file).left(80)));
    }
    QCOMPARE(Describe(FileInfo()), QStringLiteral("|0||"));
}

void TestShareRecords::readsFolderThroughOneWorkingRecord()
{
    QByteArray const l_first = FileRecord("same", 5, "mp3", {{0, 128}});
    QByteArray const l_other = FileRecord("other", 1);
    QByteArray const l_absent(1, '\0');
    struct Case { char const* name; QByteArray bytes; bool ok; QStringList files; };
    QList<Case> const l_cases = {
        {"equal name and size keep the first", U32(2) + l_first + FileRecord("same", 5, "", {{0, 320}}) + U32(0), true, {"same|5|mp3|0=128"}},
        {"an absent entry adds nothing new", U32(3) + l_other + l_absent + l_first + U32(0), true, {"other|1||", "same|5|mp3|0=128"}},
        {"an absent first entry is an empty file", U32(2) + l_absent + l_other + U32(7), true, {"|0||", "other|1||"}},
        {"missing trailer fails, entries kept", U32(2) + l_other + l_first, false, {"other|1||", "same|5|mp3|0=128"}},
        {"a cut entry fails, earlier ones kept", U32(2) + l_other + l_first.chopped(2), false, {"other|1||"}},
        {"131073 entries", U32(131073) + l_other, false, {}},
        {"131072 entries, too few there", U32(131072) + l_other, false, {"other|1||"}},
    };
    for (Case const& l_case : l_cases)
    {
        SharedFolderInfo l_folder;
        l_folder.m_files.insert(File("stale", 1));
        MemStream l_stream = StreamOf(l_case.bytes);
        QVERIFY2(l_folder.Read(l_stream) == l_case.ok, l_case.name);
        QVERIFY2(Describe(l_folder.m_files) == l_case.files, qPrintable(QString(l_case.name) + ": " + Describe(l_folder.m_files).join(" ")));
    }
}

QTEST_GUILESS_MAIN(TestShareRecords)
#include "tst_share_records.moc"
