#pragma once

// The files of one folder, as a folder-contents reply carries them.
//
// Wire form: u32 entry count M, M FileInfo records in set order, u32 0.

#include "net/records/FileInfo.h"
#include "net/server/Stream.h"

#include <set>

class SharedFolderInfo : public Persistent
{
public:
    // Replaces the set. The entries are read one after the other into one working
    // record, and a copy of it is inserted after each: an absent entry (presence byte
    // 0) therefore adds nothing new. False on a short read, a count above 131072 or a
    // missing trailing u32; the entries read up to then stay.
    bool Read(InputStream& io_stream) override;
    bool Write(OutputStream& io_stream) const override;

    std::set<FileInfo> m_files;
};
