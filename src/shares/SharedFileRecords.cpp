#include "shares/SharedFileRecords.h"

#include "store/GeneralFunctions.h"

#include <memory>

namespace SharedFileRecords
{
namespace
{
Compressor g_compressor = &compress2;

std::string const c_noText;
} // namespace

FileTypes::FileTypes()
    : mp_name(d["shared_file_name"]), mp_folder(d["shared_file_folder"]),
      mp_size(d["shared_file_size"]), mp_bitrate(d["bitrate"]), mp_bitrateMode(d["bitrate_mode"]),
      m_vbr(mp_bitrateMode->HasItem(Value("vbr")))
{
}

namespace
{
ItemPtr Attribute(ItemPtr i_file, Type* ip_type)
{
    ItemRange const l_items = i_file->ConnectedItemsOf(ip_type);
    return l_items ? ItemPtr(l_items.First()) : ItemPtr();
}
} // namespace

FileInfo Record(ItemPtr i_file, std::string i_name, FileTypes const& i_types, bool i_withAttributes)
{
    FileInfo l_record;
    l_record.m_name = std::move(i_name);
    l_record.m_size = Attribute(i_file, i_types.mp_size).AsInt64();
    if (!i_withAttributes || GetFileExtension(NameOf(i_file, i_types)) != "mp3")
        return l_record;
    AttributeMap& l_attributes = l_record.m_attributes;
    l_attributes.m_extension = "mp3";
    if (ItemPtr const l_bitrate = Attribute(i_file, i_types.mp_bitrate))
        l_attributes.m_pairs.emplace_back(0u, l_bitrate.AsUInt());
    if (ItemPtr const l_mode = Attribute(i_file, i_types.mp_bitrateMode))
        l_attributes.m_pairs.emplace_back(2u, l_mode == i_types.m_vbr ? 1u : 0u);
    return l_record;
}

std::string const& NameOf(ItemPtr i_file, FileTypes const& i_types)
{
    ItemPtr const l_name = Attribute(i_file, i_types.mp_name);
    return l_name ? l_name->GetValue().GetBytes() : c_noText;
}

std::string ReplyPathOf(ItemPtr i_file, FileTypes const& i_types)
{
    ItemPtr const l_folder = Attribute(i_file, i_types.mp_folder);
    std::string const& l_folderPath = l_folder ? l_folder->GetValue().GetBytes() : c_noText;
    return StringReplace(l_folderPath + '/' + NameOf(i_file, i_types), "/", "\\");
}

bool AppendCompressed(std::uint32_t i_code, MemStream const& i_body, MemStream& o_message)
{
    uLong const l_bodyLength = static_cast<uLong>(i_body.GetWriteIndex());
    // zlib's own worst case; it never needs more room than that.
    uLongf l_compressedLength = compressBound(l_bodyLength);
    std::unique_ptr<Bytef[]> const lp_compressed(new Bytef[l_compressedLength]);
    if (g_compressor(lp_compressed.get(), &l_compressedLength,
                     reinterpret_cast<Bytef const*>(i_body.GetBuffer()), l_bodyLength, 9) != Z_OK)
        return false;
    o_message.Write(static_cast<unsigned int>(i_code));
    o_message.WriteBuffer(lp_compressed.get(), l_compressedLength);
    return true;
}

Compressor SetCompressor(Compressor i_compressor)
{
    Compressor const l_before = g_compressor;
    g_compressor = i_compressor ? i_compressor : &compress2;
    return l_before;
}
} // namespace SharedFileRecords
