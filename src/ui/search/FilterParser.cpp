#include "ui/search/FilterParser.h"

#include <QStringView>

#include <algorithm>
#include <limits>

namespace
{
qint64 const c_bytesPerMegabyte = 1000000;

// The rest of the word after the keyword, when the word starts with it.
bool TakeValue(QString const& i_word, QLatin1StringView i_keyword, QStringView& o_rest)
{
    if (!i_word.startsWith(i_keyword))
        return false;
    o_rest = QStringView(i_word).mid(i_keyword.size());
    return true;
}

bool TakeValue(QString const& i_word, QLatin1StringView i_long, QLatin1StringView i_short,
               QStringView& o_rest)
{
    return TakeValue(i_word, i_long, o_rest) || TakeValue(i_word, i_short, o_rest);
}

// Qt's number reading skips white space around the digits, but a tab or line break in a
// word belongs to the word: a value holding one is not a whole number.
bool HasNoWhiteSpace(QStringView i_value)
{
    return std::none_of(i_value.begin(), i_value.end(),
                        [](QChar i_char) { return i_char.isSpace(); });
}

int WholeInt(QStringView i_value)
{
    return HasNoWhiteSpace(i_value) ? i_value.toInt() : 0;
}

qint64 WholeInt64(QStringView i_value)
{
    return HasNoWhiteSpace(i_value) ? i_value.toLongLong() : 0;
}

// Megabytes as bytes. A minimum past the 64-bit range must still reject every file
// rather than wrap round to a small or negative one that accepts them.
qint64 Megabytes(qint64 i_megabytes)
{
    qint64 l_bytes = 0;
    if (!__builtin_mul_overflow(i_megabytes, c_bytesPerMegabyte, &l_bytes))
        return l_bytes;
    return i_megabytes < 0 ? std::numeric_limits<qint64>::min()
                           : std::numeric_limits<qint64>::max();
}
} // namespace

FilterParser::FilterParser()
    : m_minBitrate(0), m_isVbr(false), m_isCbr(false), m_minFileSize(0), m_minFilesInFolder(0),
      m_hasAttributes(false)
{
}

FilterParser::~FilterParser() = default;

void FilterParser::Parse(QString i_filter)
{
    // A tab is part of a word: only the space separates.
    QStringList const l_parts = i_filter.split(QChar(' '), Qt::SkipEmptyParts);
    for (QString const& l_word : l_parts)
    {
        QStringView l_rest;
        if (l_word.startsWith(QChar('-')))
        {
            if (l_word.size() >= 2)
                m_excludedWords.append(l_word.mid(1));
        }
        else if (l_word == QLatin1String("isvbr"))
        {
            m_isVbr = true;
            m_hasAttributes = true;
        }
        else if (l_word == QLatin1String("iscbr"))
        {
            m_isCbr = true;
            m_hasAttributes = true;
        }
        else if (TakeValue(l_word, QLatin1StringView("minbitrate:"), QLatin1StringView("mbr:"), l_rest))
        {
            m_minBitrate = WholeInt(l_rest);
            m_hasAttributes = true;
        }
        else if (TakeValue(l_word, QLatin1StringView("minfilesize:"), QLatin1StringView("mfs:"), l_rest))
        {
            m_minFileSize = Megabytes(WholeInt64(l_rest));
            m_hasAttributes = true;
        }
        else if (TakeValue(l_word, QLatin1StringView("minfilesinfolder:"), QLatin1StringView("mfif:"),
                           l_rest))
            m_minFilesInFolder = WholeInt(l_rest);
        else
            m_words.append(l_word);
    }
}

int FilterParser::IsMatching(QString i_text, FilterParser* iop_remainder, ItemPtr i_item)
{
    if (iop_remainder)
    {
        iop_remainder->m_words.clear();
        iop_remainder->m_excludedWords.clear();
    }

    // Conditions on the file come before any word.
    if (i_item)
    {
        if (m_isVbr && i_item["bitrate_mode"].AsStdString() != "vbr")
            return 2;
        if (m_isCbr && i_item["bitrate_mode"].AsStdString() != "cbr")
            return 2;
        if (i_item["bitrate"].AsInt64() < m_minBitrate)
            return 2;
        if (i_item["file_size"].AsInt64() < m_minFileSize)
            return 2;
    }

    if (iop_remainder)
    {
        iop_remainder->m_isVbr = m_isVbr;
        iop_remainder->m_isCbr = m_isCbr;
        iop_remainder->m_minBitrate = m_minBitrate;
        iop_remainder->m_minFileSize = m_minFileSize;
        iop_remainder->m_minFilesInFolder = m_minFilesInFolder;
        iop_remainder->m_hasAttributes = m_hasAttributes;
    }

    for (QString const& l_excluded : m_excludedWords)
        if (i_text.contains(l_excluded, Qt::CaseInsensitive))
            return 2;

    if (iop_remainder)
        iop_remainder->m_excludedWords = m_excludedWords;

    for (QString const& l_word : m_words)
    {
        if (i_text.contains(l_word, Qt::CaseInsensitive))
            continue;
        if (!iop_remainder)
            return 1;
        iop_remainder->m_words.append(l_word);
    }

    if (!iop_remainder)
        return 0;
    return iop_remainder->m_words.isEmpty() ? 0 : 1;
}
