#include "shares/MP3Scanner.h"

#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
// Version bits 11, 10 and 00 in that order; 01 is reserved.
enum VersionIndex
{
    c_mpeg1 = 0,
    c_mpeg2 = 1,
    c_mpeg25 = 2
};

// Layer III bitrates in kbit/s by bitrate index: the MPEG-1 table and the one shared by
// the low sampling rates of MPEG-2. Indices 0 and 15 never reach these tables.
constexpr int c_mpeg1Rates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int c_mpeg2Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};

char const* const c_channelModes[4] = {"stereo", "joint stereo", "dual mono", "mono"};

// Every count is 64-bit: a large file holds far more than 2^31 / 100 frames, and the
// percentage test multiplies by 100.
struct Votes
{
    std::int64_t m_versions[3] = {};
    std::int64_t m_protection[2] = {};
    std::int64_t m_frequencies[3] = {};
    std::int64_t m_channelModes[4] = {};
    // Candidates that passed every stage, by version, protection bit, sampling-rate
    // index, channel mode and bitrate index. A fixed table instead of a list of frames:
    // the decision only ever asks how many frames of each kind there were.
    std::int64_t m_frames[3][2][3][4][16] = {};

    // One candidate: p[0] is 0xFF and p[1] has its top three bits set. Each stage that
    // counts does so even when a later stage rejects the candidate.
    void Count(unsigned char const* p)
    {
        unsigned int const l_b1 = p[1];
        unsigned int const l_b2 = p[2];
        unsigned int const l_b3 = p[3];
        unsigned int const l_versionBits = (l_b1 >> 3) & 3u;
        if (l_versionBits == 1)
            return;
        if (((l_b1 >> 1) & 3u) != 1)
            return; // not Layer III: no vote at all
        int const l_version = l_versionBits == 3 ? c_mpeg1 : l_versionBits == 2 ? c_mpeg2 : c_mpeg25;
        ++m_versions[l_version];
        int const l_protection = static_cast<int>(l_b1 & 1u);
        ++m_protection[l_protection];
        int const l_frequency = static_cast<int>((l_b2 >> 2) & 3u);
        if (l_frequency == 3)
            return;
        ++m_frequencies[l_frequency];
        int const l_mode = static_cast<int>((l_b3 >> 6) & 3u);
        ++m_channelModes[l_mode];
        int const l_bitrate = static_cast<int>(l_b2 >> 4);
        if (l_bitrate == 0 || l_bitrate == 15)
            return;
        ++m_frames[l_version][l_protection][l_frequency][l_mode][l_bitrate];
    }

    // Every byte position that has four more bytes behind it in the chunk.
    void CountChunk(unsigned char const* ip_chunk, qint64 i_length)
    {
        qint64 const l_end = i_length - 4;
        qint64 l_position = 0;
        while (l_position < l_end)
        {
            auto const* lp_found = static_cast<unsigned char const*>(
                std::memchr(ip_chunk + l_position, 0xFF, static_cast<std::size_t>(l_end - l_position)));
            if (!lp_found)
                return;
            if ((lp_found[1] & 0xE0u) == 0xE0u)
                Count(lp_found);
            l_position = (lp_found - ip_chunk) + 1;
        }
    }
};

// The index of the highest count; ties go to the higher index.
template <std::size_t N> int Highest(std::int64_t const (&i_counts)[N])
{
    int l_best = 0;
    for (int l_index = 1; l_index < static_cast<int>(N); ++l_index)
        if (i_counts[l_index] >= i_counts[l_best])
            l_best = l_index;
    return l_best;
}
} // namespace

MP3Scanner::MP3Scanner() : QObject(nullptr), m_quit(false)
{
}

void MP3Scanner::Quit()
{
    QMutexLocker l_lock(&m_mutex);
    m_quit = true;
}

void MP3Scanner::OnMP3ScanRequired(QString i_file)
{
    int l_version = 0;
    QString l_mode;
    int l_frequency = 0;
    bool l_isVBR = false;
    int l_bitrate = 0;
    if (ScanMP3(i_file, l_version, l_mode, l_frequency, l_isVBR, l_bitrate))
        emit MP3Scanned(i_file, l_version, l_mode, l_frequency, l_isVBR, l_bitrate);
}

bool MP3Scanner::ScanMP3(QString i_file, int& o_mpegVersion, QString& o_channelMode,
                         int& o_frequency, bool& o_isVBR, int& o_bitrate)
{
    {
        QMutexLocker l_lock(&m_mutex);
        if (m_quit)
            return false;
    }
    o_bitrate = -1;
    QFile l_file(i_file);
    if (!l_file.open(QIODevice::ReadOnly))
        return false;
    qint64 const l_size = l_file.size();
    if (l_size < 1)
        return false;
    return ScanDevice(l_file, l_size, o_mpegVersion, o_channelMode, o_frequency, o_isVBR,
                      o_bitrate);
}

bool MP3Scanner::ScanDevice(QIODevice& io_device, qint64 i_size, int& o_mpegVersion,
                            QString& o_channelMode, int& o_frequency, bool& o_isVBR,
                            int& o_bitrate)
{
    Votes l_votes;
    std::vector<unsigned char> l_buffer(static_cast<std::size_t>(c_chunkSize));
    qint64 l_done = 0;
    while (l_done < i_size)
    {
        qint64 const l_wanted = std::min(c_chunkSize, i_size - l_done);
        qint64 const l_read = io_device.read(reinterpret_cast<char*>(l_buffer.data()), l_wanted);
        // No bytes before the end we were promised means the file shrank under us;
        // waiting for more would never end.
        if (l_read <= 0)
            return false;
        l_votes.CountChunk(l_buffer.data(), l_read);
        l_done += l_read;
    }

    std::int64_t const* const lp_versions = l_votes.m_versions;
    int l_version;
    if (lp_versions[c_mpeg1] > lp_versions[c_mpeg2] && lp_versions[c_mpeg1] > lp_versions[c_mpeg25])
        l_version = c_mpeg1;
    else if (lp_versions[c_mpeg2] >= lp_versions[c_mpeg1] && lp_versions[c_mpeg2] > lp_versions[c_mpeg25])
        l_version = c_mpeg2;
    else
        return false;
    int const l_protection = l_votes.m_protection[1] > l_votes.m_protection[0] ? 1 : 0;
    int const l_frequency = Highest(l_votes.m_frequencies);
    int const l_mode = Highest(l_votes.m_channelModes);

    int const* const lp_rates = l_version == c_mpeg1 ? c_mpeg1Rates : c_mpeg2Rates;
    std::int64_t const* const lp_frames = l_votes.m_frames[l_version][l_protection][l_frequency][l_mode];
    std::int64_t l_sum = 0;
    std::int64_t l_count = 0;
    for (int l_index = 1; l_index < 15; ++l_index)
    {
        l_sum += static_cast<std::int64_t>(lp_rates[l_index]) * lp_frames[l_index];
        l_count += lp_frames[l_index];
    }
    if (l_count == 0)
        return false;

    o_mpegVersion = l_version == c_mpeg1 ? 1 : 2;
    o_channelMode = QString::fromLatin1(c_channelModes[l_mode]);
    o_frequency = l_frequency;
    o_bitrate = static_cast<int>(l_sum / l_count);
    o_isVBR = true;
    // Rates rise with the index in both tables, so this visits them in increasing order.
    for (int l_index = 1; l_index < 15; ++l_index)
        if (100 * lp_frames[l_index] / l_count > 98)
        {
            o_isVBR = false;
            o_bitrate = lp_rates[l_index];
        }
    return true;
}
