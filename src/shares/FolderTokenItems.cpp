#include "shares/FolderTokenItems.h"

#include "shares/SharedFoldersManager.h"

#include <algorithm>

namespace
{
bool IsBlankOrPathSeparator(char16_t i_code)
{
    return i_code == u' ' || i_code == u'/' || i_code == u'\\';
}

bool IsAscii(QStringView i_text)
{
    return std::all_of(i_text.begin(), i_text.end(),
                       [](QChar i_char) { return i_char.unicode() < 0x80; });
}

// Calls i_take(start, end) for every maximal run of characters for which i_isSeparator
// is false.
template <class Text, class IsSeparator, class Take>
void ForEachRun(Text const& i_text, IsSeparator i_isSeparator, Take i_take)
{
    qsizetype const l_size = qsizetype(i_text.size());
    qsizetype l_start = -1;
    for (qsizetype l_index = 0; l_index <= l_size; ++l_index)
    {
        bool const l_separator = l_index == l_size || i_isSeparator(i_text[l_index]);
        if (l_separator && l_start >= 0)
        {
            i_take(l_start, l_index);
            l_start = -1;
        }
        else if (!l_separator && l_start < 0)
            l_start = l_index;
    }
}
} // namespace

std::vector<Item*> const& FolderTokenItems::Of(QStringView i_text)
{
    m_bytes.clear();
    m_runs.clear();
    if (IsAscii(i_text))
        SplitAscii(i_text);
    else
        SplitLowered(i_text.toString().toLower());
    m_tokens.clear();
    for (auto const& [l_offset, l_length] : m_runs)
        m_tokens.emplace_back(m_bytes.data() + l_offset, l_length);
    std::sort(m_tokens.begin(), m_tokens.end());
    m_tokens.erase(std::unique(m_tokens.begin(), m_tokens.end()), m_tokens.end());
    m_items.clear();
    for (std::string_view const l_token : m_tokens)
    {
        auto l_known = m_known.find(l_token);
        if (l_known == m_known.end())
        {
            Item* const lp_item = mp_tokenType->GetItem(Value(std::string(l_token))).GetPtr();
            l_known = m_known.emplace(lp_item->GetValue().GetBytes(), lp_item).first;
        }
        m_items.push_back(l_known->second);
    }
    return m_items;
}

void FolderTokenItems::SplitAscii(QStringView i_text)
{
    // Lower case of plain ASCII changes the capitals only, and its UTF-8 bytes are its
    // characters: the runs are taken straight from one lowered copy.
    std::size_t const l_lowered = m_bytes.size();
    for (QChar const l_char : i_text)
    {
        char16_t const l_code = l_char.unicode();
        m_bytes.push_back(char(l_code >= u'A' && l_code <= u'Z' ? l_code + (u'a' - u'A') : l_code));
    }
    std::string_view const l_text(m_bytes.data() + l_lowered, std::size_t(i_text.size()));
    auto const l_take = [&](qsizetype i_start, qsizetype i_end)
    { m_runs.emplace_back(l_lowered + std::size_t(i_start), std::size_t(i_end - i_start)); };
    ForEachRun(
        l_text,
        [](char i_char)
        { return SharedFoldersManager::IsSearchTokenSeparator(QChar(char16_t(i_char))); },
        l_take);
    ForEachRun(
        l_text, [](char i_char) { return IsBlankOrPathSeparator(char16_t(i_char)); }, l_take);
}

void FolderTokenItems::SplitLowered(QString const& i_lower)
{
    auto const l_take = [&](qsizetype i_start, qsizetype i_end)
    {
        QByteArray const l_bytes = QStringView(i_lower).mid(i_start, i_end - i_start).toUtf8();
        m_runs.emplace_back(m_bytes.size(), std::size_t(l_bytes.size()));
        m_bytes.append(l_bytes.constData(), std::size_t(l_bytes.size()));
    };
    ForEachRun(i_lower, &SharedFoldersManager::IsSearchTokenSeparator, l_take);
    ForEachRun(
        i_lower, [](QChar i_char) { return IsBlankOrPathSeparator(i_char.unicode()); }, l_take);
}
