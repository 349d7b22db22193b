#include "net/records/SearchParser.h"

#include <QByteArray>

#include <cstring>

namespace
{
bool IsSeparator(char i_byte)
{
    return i_byte != '\0' && std::strchr(SearchParser::Whitespace(), i_byte) != nullptr;
}
} // namespace

bool SearchParser::SetSearchText(QString const& i_text)
{
    return Tokenize(i_text);
}

bool SearchParser::Tokenize(QString const& i_text)
{
    // Positions are byte positions in the UTF-8 form: separators, prefixes and quotes
    // are all single bytes there, and no byte of a multi-byte character is one of them.
    QByteArray const l_text = i_text.toLower().toUtf8();
    qsizetype const l_size = l_text.size();
    qsizetype l_position = 0;
    for (;;)
    {
        while (l_position < l_size && IsSeparator(l_text[l_position]))
            ++l_position;
        if (l_position == l_size)
            return !m_included.empty() || !m_includedPart.empty();

        TokenSet* lp_set = &m_included;
        char const l_first = l_text[l_position];
        if (l_first == '-' || l_first == '*')
        {
            lp_set = l_first == '-' ? &m_excluded : &m_includedPart;
            ++l_position;
            if (l_position == l_size)
                return false;
        }

        qsizetype l_start = l_position;
        qsizetype l_end = 0;
        qsizetype l_next = 0;
        if (l_text[l_start] == '"')
        {
            ++l_start;
            l_end = l_text.indexOf('"', l_start);
            if (l_end < 0)
                l_end = l_size;
            l_next = l_end < l_size ? l_end + 1 : l_end;
        }
        else
        {
            l_end = l_start;
            while (l_end < l_size && !IsSeparator(l_text[l_end]))
                ++l_end;
            l_next = l_end;
        }

        QByteArray const l_token = l_text.mid(l_start, l_end - l_start);
        if (l_token.isEmpty() || l_token.contains('"'))
            return false;
        lp_set->insert(QString::fromUtf8(l_token));
        l_position = l_next;
    }
}

bool SearchParser::IsMatch(QString const& i_text) const
{
    QString const l_text = i_text.toLower();
    for (QString const& l_token : m_included)
        if (!l_text.contains(l_token))
            return false;
    for (QString const& l_token : m_includedPart)
        if (!l_text.contains(l_token))
            return false;
    for (QString const& l_token : m_excluded)
        if (l_text.contains(l_token))
            return false;
    return true;
}
