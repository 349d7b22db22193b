#pragma once

// What the share lists, folder contents and search replies have in common: the record
// of one shared file and the compressed message that carries the records.
//
// A record's attributes: files whose extension is "mp3" carry that extension, then the
// bitrate pair (0, kbit/s) once the MP3 scanner has reported one, then the rate-mode
// pair (2, 1 for variable, 0 for constant) once it has reported that. Other files carry
// neither extension nor pairs. The play length (code 1) is not known here.
//
// GUI thread only (the records read the store).

#include "net/records/FileInfo.h"
#include "net/server/MemStream.h"
#include "store/Data.h"

#include <zlib.h>

#include <cstdint>
#include <string>

namespace SharedFileRecords
{
// The store types a record is read from, looked up once per message rather than once
// per file.
struct FileTypes
{
    FileTypes();

    Type* mp_name;
    Type* mp_folder;
    Type* mp_size;
    Type* mp_bitrate;
    Type* mp_bitrateMode;
    ItemPtr m_vbr; // the "vbr" rate mode, null while no file has that mode
};

// The record of a shared file under the given name; the attributes only when asked for.
FileInfo Record(ItemPtr i_file, std::string i_name, FileTypes const& i_types,
                bool i_withAttributes);

// The file's name item value, and its folder value joined to it by "/" with every "/"
// then turned into "\" (the form a search reply names a file in).
std::string const& NameOf(ItemPtr i_file, FileTypes const& i_types);
std::string ReplyPathOf(ItemPtr i_file, FileTypes const& i_types);

// Appends the u32 code and then the body deflated by zlib at level 9 to o_message.
// False, with o_message untouched, when zlib does not report success: a message with a
// broken body is never sent.
bool AppendCompressed(std::uint32_t i_code, MemStream const& i_body, MemStream& o_message);

// zlib's compress2, or what a test puts in its place to see a compression fail. Returns
// the one in place before.
using Compressor = int (*)(Bytef* op_dest, uLongf* io_destLength, Bytef const* ip_source,
                           uLong i_sourceLength, int i_level);
Compressor SetCompressor(Compressor i_compressor);
} // namespace SharedFileRecords
