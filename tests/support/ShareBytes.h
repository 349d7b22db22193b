#pragma once

// Hand-built bodies of share lists and search replies for the peer tests. The records
// are spelled out byte by byte (never through the client's record classes); only the
// compression itself is left to zlib.
//
// FileInfo record: u8 presence, u32 name length, name, u64 size, u32 extension length,
// extension, u32 pair count, per pair u32 code and u32 value.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QtGlobal>

namespace ShareBytes
{
using Pairs = QList<QPair<quint32, quint32>>;

QByteArray FileRecord(QByteArray const& name, quint64 size, QByteArray const& extension = {},
                      Pairs const& pairs = {});
// zlib's compress2 at level 9, as the other client sends its bodies.
QByteArray Compressed(QByteArray const& body);
// One zlib stream of `count` zero bytes, deflated piecewise so that the test never holds
// the inflated size.
QByteArray CompressedZeros(quint64 count);
// The inflated bytes of one zlib stream (empty when it is not one).
QByteArray Inflated(QByteArray const& stream);
} // namespace ShareBytes
