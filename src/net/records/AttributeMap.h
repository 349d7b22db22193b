#pragma once

// The extension of a shared file and its numeric attributes as pairs of code and value
// (0 bitrate in kbit/s, 1 play length in seconds, 2 variable bitrate when non-zero).
// The pairs keep their order and any repeated code, in both directions.
//
// Wire form: u32 extension length E, E bytes, u32 pair count K, K times u32 code and
// u32 value.

#include "net/server/Stream.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class AttributeMap : public Persistent
{
public:
    using Pair = std::pair<std::uint32_t, std::uint32_t>;

    // Replaces the extension and the pairs. False on a short read or when a length or
    // count is above 131072; what was read up to then stays.
    bool Read(InputStream& io_stream) override;
    bool Write(OutputStream& io_stream) const override;

    std::string m_extension;
    std::vector<Pair> m_pairs;
};
