#pragma once

// The search token items of the paths of one folder's files. The tokens of a folder's
// files recur from file to file (the folder's own, extensions, common words), so each
// distinct token is looked up in the store once per folder, and the text buffers are
// reused from one path to the next. An item handed out stays valid while no token item
// is removed, which no walk of a folder does.

#include "store/Data.h"

#include <QStringView>

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class FolderTokenItems
{
public:
    explicit FolderTokenItems(Type* ip_tokenType) : mp_tokenType(ip_tokenType) {}

    // The token items of a text, each once, in byte order of their tokens (the order in
    // which missing ones are created): the runs of token characters and the runs between
    // blanks and separators of its lower-case form. Valid until the next call.
    std::vector<Item*> const& Of(QStringView i_text);

private:
    // Fills m_bytes with the UTF-8 bytes of every run and m_runs with where they lie.
    void SplitAscii(QStringView i_text);
    void SplitLowered(QString const& i_lower);

    Type* mp_tokenType;
    std::string m_bytes;
    std::vector<std::pair<std::size_t, std::size_t>> m_runs; // offset and length in m_bytes
    std::vector<std::string_view> m_tokens;
    std::vector<Item*> m_items;
    // Keyed by the bytes of the item's own value, which live as long as the item.
    std::unordered_map<std::string_view, Item*> m_known;
};
