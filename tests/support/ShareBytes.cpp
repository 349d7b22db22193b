#include "support/ShareBytes.h"

#include "support/FrameBuilder.h"

#include <zlib.h>

#include <vector>

namespace ShareBytes
{
QByteArray FileRecord(QByteArray const& name, quint64 size, QByteArray const& extension,
                      Pairs const& pairs)
{
    FrameBuilder l_record;
    l_record.U8(1).Str(name).U64(size).Str(extension).U32(quint32(pairs.size()));
    for (auto const& l_pair : pairs)
        l_record.U32(l_pair.first).U32(l_pair.second);
    return l_record.Payload();
}

QByteArray Compressed(QByteArray const& body)
{
    uLongf l_size = compressBound(uLong(body.size()));
    QByteArray l_out(qsizetype(l_size), '\0');
    if (compress2(reinterpret_cast<Bytef*>(l_out.data()), &l_size,
                  reinterpret_cast<Bytef const*>(body.constData()), uLong(body.size()), 9) != Z_OK)
        return {};
    l_out.resize(qsizetype(l_size));
    return l_out;
}

QByteArray CompressedZeros(quint64 count)
{
    z_stream l_zlib{};
    if (deflateInit(&l_zlib, 9) != Z_OK)
        return {};
    std::vector<Bytef> const l_zeros(1 << 20, 0);
    std::vector<Bytef> l_chunk(1 << 16);
    QByteArray l_out;
    quint64 l_left = count;
    int l_result = Z_OK;
    do
    {
        uInt const l_now = uInt(qMin<quint64>(l_left, l_zeros.size()));
        l_left -= l_now;
        l_zlib.next_in = const_cast<Bytef*>(l_zeros.data());
        l_zlib.avail_in = l_now;
        int const l_flush = l_left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do
        {
            l_zlib.next_out = l_chunk.data();
            l_zlib.avail_out = uInt(l_chunk.size());
            l_result = deflate(&l_zlib, l_flush);
            l_out.append(reinterpret_cast<char const*>(l_chunk.data()),
                         qsizetype(l_chunk.size() - l_zlib.avail_out));
        } while (l_zlib.avail_out == 0);
    } while (l_left > 0);
    deflateEnd(&l_zlib);
    return l_result == Z_STREAM_END ? l_out : QByteArray();
}

QByteArray Inflated(QByteArray const& stream)
{
    z_stream l_zlib{};
    if (inflateInit(&l_zlib) != Z_OK)
        return {};
    l_zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
    l_zlib.avail_in = uInt(stream.size());
    QByteArray l_out;
    std::vector<Bytef> l_chunk(1 << 16);
    int l_result = Z_OK;
    while (l_result == Z_OK)
    {
        l_zlib.next_out = l_chunk.data();
        l_zlib.avail_out = uInt(l_chunk.size());
        l_result = inflate(&l_zlib, Z_NO_FLUSH);
        l_out.append(reinterpret_cast<char const*>(l_chunk.data()),
                     qsizetype(l_chunk.size() - l_zlib.avail_out));
    }
    inflateEnd(&l_zlib);
    return l_result == Z_STREAM_END ? l_out : QByteArray();
}
} // namespace ShareBytes
