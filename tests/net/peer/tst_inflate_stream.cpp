#include "net/peer/InflateStream.h"
#include "support/ShareBytes.h"

#include <QTest>

#include <vector>

namespace
{
// Bytes that do not repeat, so the window cannot be filled by one lucky inflate.
QByteArray Pattern(qsizetype size)
{
    QByteArray l_bytes(size, '\0');
    quint32 l_state = 12345;
    for (char& l_byte : l_bytes)
    {
        l_state = l_state * 1103515245u + 12345u;
        l_byte = char(l_state >> 24);
    }
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
    struct Case
    {
        char const* name;
        QByteArray stream;
        quint64 cap;
        bool readsAll; // one read of all 1000 bytes succeeds
        bool whole;    // Finish after reading 10 bytes
    };
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
        {
            InflateStream l_reader(l_case.stream.constData(), quint64(l_case.stream.size()), l_case.cap);
            QByteArray l_all(1000, '\0');
            bool const l_ok = l_reader.ReadBuffer(l_all.data(), 1000);
            QVERIFY2(l_ok == l_case.readsAll, l_case.name);
            if (l_ok)
                QVERIFY2(l_all == l_data, l_case.name);
            // A failed read consumes nothing, and one byte more than there is fails.
            char l_byte = 0;
            QVERIFY2(!l_reader.ReadBuffer(&l_byte, 1), l_case.name);
        }
        InflateStream l_reader(l_case.stream.constData(), quint64(l_case.stream.size()), l_case.cap);
        char l_head[10];
        l_reader.ReadBuffer(l_head, sizeof l_head);
        QVERIFY2(l_reader.Finish() == l_case.whole, l_case.name);
        QVERIFY2(l_reader.InflatedSize() <= l_case.cap + 1, l_case.name);
    }
}

void TestInflateStream::readsAcrossItsWindow()
{
    // Several windows' worth, read in pieces that straddle the window's end, with a
    // read that fails on the way consuming nothing.
    QByteArray const l_data = Pattern(3 * 1024 * 1024 + 17);
    QByteArray const l_stream = ShareBytes::Compressed(l_data);
    InflateStream l_reader(l_stream.constData(), quint64(l_stream.size()), quint64(l_data.size()));
    QByteArray l_read;
    std::vector<char> l_piece(131072);
    qsizetype l_step = 1;
    while (l_read.size() < l_data.size())
    {
        qsizetype const l_want = qMin<qsizetype>(l_step, l_data.size() - l_read.size());
        QVERIFY(l_reader.ReadBuffer(l_piece.data(), static_cast<unsigned long>(l_want)));
        l_read.append(l_piece.data(), l_want);
        l_step = l_step * 7 % 131071 + 1;
    }
    QCOMPARE(l_read, l_data);
    QVERIFY(!l_reader.ReadBuffer(l_piece.data(), 1));
    QVERIFY(l_reader.Finish());
    QCOMPARE(l_reader.InflatedSize(), quint64(l_data.size()));
}

QTEST_GUILESS_MAIN(TestInflateStream)
#include "tst_inflate_stream.moc"
