#pragma once

// What a search reply carries after its user and ticket: the files, then the state of
// the replying user's uploads and an attribute-name table.
//
// Layout: u32 file count n (at most 131072), n FileInfo records (names are paths with
// `\` separators), u8 free slot (non-zero: free), u32 upload speed, u32 queue length,
// then the attribute table (u32 count, per entry i32 code and byte-string name).

#include "net/records/AttributeTranslationTable.h"
#include "net/records/FileInfo.h"
#include "net/server/Stream.h"

#include <vector>

class SearchReply
{
public:
    // The file count and the records, in order. False on a short read, a count above
    // 131072 or a malformed record: the reply is then refused.
    bool ReadFiles(InputStream& io_stream);
    // The fields after the files. Each may be missing: what is missing stays 0 (and
    // the table empty), and the reply stands.
    void ReadTail(InputStream& io_stream);

    std::vector<FileInfo> m_files;
    bool m_hasFreeSlot = false;
    unsigned int m_uploadSpeed = 0;
    unsigned int m_queueLength = 0;
    // Read so that nothing of the reply is misread, but not used.
    AttributeTranslationTable m_attributeNames;
};
