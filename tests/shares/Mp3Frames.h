#pragma once

// Writes MPEG audio frames byte by byte for the scanner tests: a four-byte header built
// from its fields, then a payload of zeros (with an optional filler at its start), so
// that no stray sync pattern appears unless a test puts one there.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace Mp3Frames
{
// Version bits: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5. Layer bits: 1 Layer III, 2 Layer II.
struct Run
{
    int versionBits = 3;
    int bitrateIndex = 9;   // 128 kbit/s in the MPEG-1 Layer III table
    int frequencyIndex = 0;
    int mode = 1;           // joint stereo
    int count = 1;
    int layerBits = 1;
    int protection = 1;     // no CRC
};

inline QByteArray Header(Run const& r)
{
    QByteArray l_header(4, '\0');
    l_header[0] = char(0xFF);
    l_header[1] = char(0xE0 | (r.versionBits << 3) | (r.layerBits << 1) | r.protection);
    l_header[2] = char((r.bitrateIndex << 4) | (r.frequencyIndex << 2));
    l_header[3] = char(r.mode << 6);
    return l_header;
}

// The runs one after the other, every frame `frameLength` bytes long.
inline QByteArray Frames(QList<Run> const& runs, int frameLength = 418, QByteArray const& filler = {})
{
    QByteArray l_bytes;
    for (Run const& l_run : runs)
        for (int l_index = 0; l_index < l_run.count; ++l_index)
        {
            QByteArray l_payload = filler;
            l_payload.append(QByteArray(frameLength - 4 - filler.size(), '\0'));
            l_bytes += Header(l_run) + l_payload;
        }
    return l_bytes;
}

// `size` zero bytes with the header of `run` written at each offset.
inline QByteArray HeadersAt(int size, QList<QPair<int, Run>> const& placed)
{
    QByteArray l_bytes(size, '\0');
    for (auto const& [l_offset, l_run] : placed)
        l_bytes.replace(l_offset, 4, Header(l_run));
    return l_bytes;
}

inline bool Write(QString const& path, QByteArray const& bytes)
{
    QFile l_file(path);
    return l_file.open(QIODevice::WriteOnly) && l_file.write(bytes) == bytes.size();
}
} // namespace Mp3Frames
