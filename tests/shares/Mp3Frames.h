#pragma once

// MPEG audio frames written byte by byte for the scanner tests: a header from its
// fields, then zeros (after an optional filler), so no stray sync pattern appears
// unless a test puts one there.

#include <QByteArray>
#include <QFile>
#include <QList>

namespace Mp3Frames
{
// Version bits 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5; layer bits 1 Layer III, 2 Layer II.
struct Run
{
    int versionBits = 3;
    int bitrateIndex = 9; // 128 kbit/s for MPEG-1 Layer III
    int frequencyIndex = 0;
    int mode = 1; // joint stereo
    int count = 1;
    int layerBits = 1;
};

inline QByteArray Header(Run const& r)
{
    char const l_bytes[4] = {char(0xFF), char(0xE1 | (r.versionBits << 3) | (r.layerBits << 1)),
                             char((r.bitrateIndex << 4) | (r.frequencyIndex << 2)), char(r.mode << 6)};
    return QByteArray(l_bytes, 4);
}

inline QByteArray Frames(QList<Run> const& runs, int frameLength = 418, QByteArray const& filler = {})
{
    QByteArray l_bytes;
    for (Run const& l_run : runs)
        for (int l_index = 0; l_index < l_run.count; ++l_index)
            l_bytes += Header(l_run) + filler + QByteArray(frameLength - 4 - filler.size(), '\0');
    return l_bytes;
}

inline bool Write(QString const& path, QByteArray const& bytes)
{
    QFile l_file(path);
    return l_file.open(QIODevice::WriteOnly) && l_file.write(bytes) == bytes.size();
}
} // namespace Mp3Frames
