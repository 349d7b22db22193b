#include "net/peer/InflateStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
// Large enough for the longest field a record reads at once (a 128 KiB string), small
// enough that a body of any size costs only this while it is read.
constexpr std::size_t c_windowSize = 256 * 1024;
} // namespace

InflateStream::InflateStream(char const* ip_data, std::uint64_t i_size, std::uint64_t i_cap)
    : mp_input(ip_data), m_inputLeft(i_size), m_cap(i_cap), m_window(c_windowSize)
{
    m_isOpen = inflateInit(&m_zlib) == Z_OK;
    m_isFailed = !m_isOpen;
}

InflateStream::~InflateStream()
{
    if (m_isOpen)
        inflateEnd(&m_zlib);
}

bool InflateStream::ReadBuffer(void* op_target, unsigned long i_length)
{
    if (m_end - m_begin < i_length)
        Fill(i_length);
    // Once the stream is known to be unsound, no byte of it is handed out, not even
    // those inflated before the fault showed.
    if (m_isFailed || m_end - m_begin < i_length)
        return false;
    if (i_length)
        std::memcpy(op_target, m_window.data() + m_begin, i_length);
    m_begin += i_length;
    return true;
}

bool InflateStream::Finish()
{
    while (!m_isEnded && !m_isFailed)
    {
        m_begin = m_end = 0;
        InflateStep();
    }
    m_begin = m_end = 0;
    return m_isEnded && !m_isFailed;
}

void InflateStream::Fill(std::uint64_t i_wanted)
{
    if (i_wanted > m_window.size())
    {
        // Only a caller's own oversized read gets here; the records never ask this much.
        std::vector<char> l_larger(i_wanted);
        std::copy(m_window.begin() + m_begin, m_window.begin() + m_end, l_larger.begin());
        m_window.swap(l_larger);
        m_end -= m_begin;
        m_begin = 0;
    }
    else if (m_begin > 0 && m_window.size() - m_begin < i_wanted)
    {
        std::memmove(m_window.data(), m_window.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    while (m_end - m_begin < i_wanted && !m_isEnded && !m_isFailed)
        InflateStep();
}

void InflateStream::InflateStep()
{
    // At most one byte beyond the cap is ever produced: enough to know it was passed.
    std::uint64_t const l_allowed = m_cap - std::min(m_cap, m_inflated) + 1;
    std::uint64_t const l_room = std::min<std::uint64_t>(m_window.size() - m_end, l_allowed);
    std::uint64_t const l_maxChunk = std::numeric_limits<uInt>::max();

    m_zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(mp_input));
    m_zlib.avail_in = static_cast<uInt>(std::min(m_inputLeft, l_maxChunk));
    m_zlib.next_out = reinterpret_cast<Bytef*>(m_window.data() + m_end);
    m_zlib.avail_out = static_cast<uInt>(std::min(l_room, l_maxChunk));
    uInt const l_inBefore = m_zlib.avail_in;
    uInt const l_outBefore = m_zlib.avail_out;

    int const l_result = inflate(&m_zlib, Z_NO_FLUSH);

    std::uint64_t const l_consumed = l_inBefore - m_zlib.avail_in;
    std::uint64_t const l_produced = l_outBefore - m_zlib.avail_out;
    mp_input += l_consumed;
    m_inputLeft -= l_consumed;
    m_end += l_produced;
    m_inflated += l_produced;

    if (m_inflated > m_cap)
        m_isFailed = true;
    else if (l_result == Z_STREAM_END)
        m_isEnded = true;
    else if (l_result != Z_OK && l_result != Z_BUF_ERROR)
        m_isFailed = true;
    else if (l_consumed == 0 && l_produced == 0)
        m_isFailed = true; // cut short: no input left to make progress with
}
