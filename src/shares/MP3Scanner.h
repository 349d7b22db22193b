#pragma once

// Works out the MPEG audio details of a shared MP3 file by reading all of it and taking
// a vote over every candidate frame header in it. Runs on a thread of its own: the share
// index sends one path per request and gets one answer per file that could be scanned
// (files that cannot be read or hold no usable frame get no answer at all).
//
// Every byte position of the file is a candidate, so sync patterns inside the audio
// data vote too; only candidates that say Layer III take part in the vote on the MPEG
// version, because runs of 0xFF bytes (padding, ancillary data) would otherwise outvote
// the real headers of a low-rate MPEG-2 file.

#include <QMutex>
#include <QObject>
#include <QString>

class QIODevice;

class MP3Scanner : public QObject
{
    Q_OBJECT

public:
    // The file is read in pieces of this size; a header that crosses two pieces is
    // not seen.
    static constexpr qint64 c_chunkSize = 65536;

    MP3Scanner();

    // Every request from now on is answered with nothing (a scan already running ends
    // normally). Any thread.
    void Quit();

    // Scans the file; false when the scanner was stopped, the file cannot be opened or
    // read to its end, is empty, or yields no decision. Outputs as in MP3Scanned.
    bool ScanMP3(QString i_file, int& o_mpegVersion, QString& o_channelMode, int& o_frequency,
                 bool& o_isVBR, int& o_bitrate);

    // The scan proper, over an open device whose size was taken as i_size. A read that
    // fails, or that gives no bytes before i_size bytes were read (the file shrank),
    // ends it with false.
    static bool ScanDevice(QIODevice& io_device, qint64 i_size, int& o_mpegVersion,
                           QString& o_channelMode, int& o_frequency, bool& o_isVBR,
                           int& o_bitrate);

public slots:
    void OnMP3ScanRequired(QString i_file);

signals:
    // i_mpegVersion 1 or 2; i_channelMode "stereo", "joint stereo", "dual mono" or
    // "mono"; i_frequency the header's sampling-rate index (0 to 2); i_isVBR false when
    // one bitrate holds at least 99 % of the frames; i_bitrate that bitrate, else the
    // mean, in kbit/s.
    void MP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency,
                    bool i_isVBR, int i_bitrate);

private:
    bool m_quit;
    QMutex m_mutex;
};
