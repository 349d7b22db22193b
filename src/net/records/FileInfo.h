#pragma once

// One file of a share list, a folder's contents or a search reply: its name (a bare
// file name or a path with `\` separators, as the carrying message decides), its size
// and its attributes. A new record has an empty name, size 0 and no attributes.
//
// Wire form: u8 presence (written 1), u32 name length N, N bytes, u64 size, then the
// AttributeMap. A presence byte of 0 is an absent entry: nothing else follows and the
// record keeps what it held.
//
// Records order by name (bytes compared unsigned, a prefix first), then by size as a
// signed number; attributes take no part, so a set keeps the first of two records
// with equal name and size.

#include "net/records/AttributeMap.h"
#include "net/server/Stream.h"

#include <string>

class FileInfo : public Persistent
{
public:
    // False on a short read or a length or count above 131072; fields read up to
    // then stay.
    bool Read(InputStream& io_stream) override;
    bool Write(OutputStream& io_stream) const override;

    bool operator<(FileInfo const& i_other) const
    {
        int const l_names = m_name.compare(i_other.m_name);
        if (l_names != 0)
            return l_names < 0;
        return m_size < i_other.m_size;
    }

    std::string m_name;
    long long m_size = 0;
    AttributeMap m_attributes;
};
