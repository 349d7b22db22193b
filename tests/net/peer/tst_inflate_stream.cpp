#include "net/peer/InflateStream.h"
#include "support/ShareBytes.h"

#include <QTest>

namespace
{
// Bytes that do not repeat, so that no window fills from one lucky inflate.
QByteArray Pattern(qsizetype size)
{
    QByteArray l_bytes(size, '\0');
    quint32 l_state = 12345;
    for (char& l_byte : l_bytes)
        l_byte = char((l_state = l_state * 1103515245u + 12345u) >> 24);
    return l_bytes;
}
} // namespace

class TestInflateStream : public QObject
{
    Q_OBJECT

private slots:
    void readsWholeStreamsWithinTheCap();
    void readsAcrossItsWindow();
};

void TestInflateStream::readsWholeStreamsWithinTheCap()
{
    QByteArray const l_data = Pattern(1000);
    QByteArray const l_stream = ShareBytes::Compressed(l_data);
    QByteArray l_corrupt = l_stream;
    l_corrupt[l_corrupt.size() / 2] = char(l_corrupt[l_corrupt.size() / 2] ^ 0x55);
    // readsAll: one read of the 1000 bytes succeeds; whole: Finish after a 10-byte read.
    struct Case { char const* name; QByteArray stream; quint64 cap; bool readsAll; bool whole; };
    QList<Case> const l_cases = {
        {"inflating exactly to the cap", l_stream, 1000, true, true},
        {"one byte beyond the cap", l_stream, 999, false, false},
        {"trailing bytes after the stream", l_stream + "garbage", 1000, true, true},
        {"cut short", l_stream.chopped(6), 1 << 20, false, false},
        {"checksum missing", l_stream.chopped(4), 1 << 20, true, false},
        {"corrupt", l_corrupt, 1 << 20, false, false},
        {"not a stream", l_data, 1 << 20, false, false},
        {"nothing", QByteArray(), 1 << 20, false, false},
        {"empty stream", ShareBytes::Compressed(QByteArray()), 0, false, true},
    };
    for (Case const& l_case : l_cases)
    {
        InflateStream l_all(l_case.stream.constData(), quint64(l_case.stream.size()), l_case.cap);
        QByteArray l_read(1000, '\0');
        QVERIFY2(l_all.ReadBuffer(l_read.data(), 1000) == l_case.readsAll, l_case.name);
        QVERIFY2(!l_case.readsAll || l_read == l_data, l_case.name);
        char l_byte = 0;
        QVERIFY2(!l_all.ReadBuffer(&l_byte, 1), l_case.name);

        InflateStream l_head(l_case.stream.constData(), quint64(l_case.stream.size()), l_case.cap);
        l_head.ReadBuffer(l_read.data(), 10);
        QVERIFY2(l_head.Finish() == l_case.whole && l_head.InflatedSize() <= l_case.cap + 1, l_case.name);
    }
}

void TestInflateStream::readsAcrossItsWindow()
{
    // Several windows' worth, in pieces of varied sizes that straddle the window's end.
    QByteArray const l_data = Pattern(3 * 1024 * 1024 + 17);
    QByteArray const l_stream = ShareBytes::Compressed(l_data);
    InflateStream l_reader(l_stream.constData(), quint64(l_stream.size()), quint64(l_data.size()));
    QByteArray l_read;
    QByteArray l_piece(131072, '\0');
    for (qsizetype l_step = 1; l_read.size() < l_data.size(); l_step = l_step * 7 % 131071 + 1)
    {
        qsizetype const l_want = qMin<qsizetype>(l_step, l_data.size() - l_read.size());
        QVERIFY(l_reader.ReadBuffer(l_piece.data(), static_cast<unsigned long>(l_want)));
        l_read.append(l_piece.constData(), l_want);
    }
    QCOMPARE(l_read, l_data);
    QVERIFY(!l_reader.ReadBuffer(l_piece.data(), 1));
    QVERIFY(l_reader.Finish());
}

QTEST_GUILESS_MAIN(TestInflateStream)
#include "tst_inflate_stream.moc"
