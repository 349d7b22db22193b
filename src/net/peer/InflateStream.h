#pragma once

// Reads the bytes of one zlib stream (as compress2 makes it, no length prefix) while
// they are inflated, a window at a time, so a large body never sits in memory whole and
// a small one that claims to inflate to gigabytes costs no more than its window.
//
// Every inflated byte counts against a cap. A stream that is corrupt, cut short or
// inflates beyond the cap fails: the read that meets the fault and every later one
// return false, and so does Finish. Readers that stop before the end call Finish,
// which inflates and discards the rest, so that a body is accepted only when the
// whole stream is sound. Bytes after the end of the stream are ignored.

#include "net/server/Stream.h"

#include <zlib.h>

#include <cstdint>
#include <vector>

class InflateStream : public InputStream
{
public:
    // The stream's bytes stay the caller's and must outlive this reader.
    InflateStream(char const* ip_data, std::uint64_t i_size, std::uint64_t i_cap);
    ~InflateStream() override;
    InflateStream(InflateStream const&) = delete;
    InflateStream& operator=(InflateStream const&) = delete;

    // Exactly i_length bytes, or false consuming nothing.
    bool ReadBuffer(void* op_target, unsigned long i_length) override;
    // Inflates what no read took, discarding it. True when the stream ended within the
    // cap without a fault.
    bool Finish();

    bool IsFailed() const { return m_isFailed; }
    // Bytes inflated so far (read or not).
    std::uint64_t InflatedSize() const { return m_inflated; }

private:
    // Inflates into the window behind what is unread until it holds i_wanted unread
    // bytes or the stream ends or fails.
    void Fill(std::uint64_t i_wanted);
    // One inflate call into the free part of the window.
    void InflateStep();

    z_stream m_zlib{};
    char const* mp_input;
    std::uint64_t m_inputLeft;
    std::uint64_t m_cap;
    std::uint64_t m_inflated = 0;
    std::vector<char> m_window;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_isOpen = false;
    bool m_isEnded = false;
    bool m_isFailed = false;
};
