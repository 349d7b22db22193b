#include "ui/search/FilterParser.h"

#include "store/ExtendedAsciiTranslator.h"

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

char AsciiLower(char i_byte)
{
    return i_byte >= 'A' && i_byte <= 'Z' ? char(i_byte + ('a' - 'A')) : i_byte;
}

// Bytes that ToQString reads one character per byte, each the same code: no zero byte
// (the text would end there) and nothing from 0x80 up.
bool IsPlainAscii(std::string_view i_bytes)
{
    for (char const l_byte : i_bytes)
        if (l_byte == 0 || static_cast<unsigned char>(l_byte) >= 0x80)
            return false;
    return true;
}

// For ASCII on both sides, QString's case-insensitive search folds A-Z to a-z and
// nothing else: the same answer, byte by byte.
bool ContainsCaseless(std::string_view i_text, std::string const& i_lowerWord)
{
    std::size_t const l_length = i_lowerWord.size();
    if (l_length > i_text.size())
        return false;
    for (std::size_t l_start = 0; l_start + l_length <= i_text.size(); ++l_start)
    {
        std::size_t l_matched = 0;
        while (l_matched < l_length &&
               AsciiLower(i_text[l_start + l_matched]) == i_lowerWord[l_matched])
            ++l_matched;
        if (l_matched == l_length)
            return true;
    }
    return false;
}

bool ToLowerAscii(QStringList const& i_words, std::vector<std::string>& o_bytes)
{
    o_bytes.clear();
    for (QString const& l_word : i_words)
    {
        std::string l_bytes;
        l_bytes.reserve(std::size_t(l_word.size()));
        for (QChar const l_char : l_word)
        {
            if (l_char.unicode() >= 0x80)
                return false;
            l_bytes.push_back(AsciiLower(char(l_char.unicode())));
        }
        o_bytes.push_back(std::move(l_bytes));
    }
    return true;
}
} // namespace

FilterParser::FilterParser()
    : m_minBitrate(0), m_isVbr(false), m_isCbr(false), m_minFileSize(0), m_minFilesInFolder(0),
      m_hasAttributes(false), m_storedWordsState(StoredWords::Unknown)
{
}

FilterParser::~FilterParser() = default;

void FilterParser::Parse(QString i_filter)
{
    m_storedWordsState = StoredWords::Unknown;
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
        iop_remainder->m_storedWordsState = StoredWords::Unknown;
    }

    // Conditions on the file come before any word.
    if (MatchConditions(i_item) != 0)
        return 2;

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

int FilterParser::MatchConditions(ItemPtr i_item) const
{
    if (!i_item)
        return 0;
    if (m_isVbr && i_item["bitrate_mode"].AsStdString() != "vbr")
        return 2;
    if (m_isCbr && i_item["bitrate_mode"].AsStdString() != "cbr")
        return 2;
    if (i_item["bitrate"].AsInt64() < m_minBitrate)
        return 2;
    if (i_item["file_size"].AsInt64() < m_minFileSize)
        return 2;
    return 0;
}

bool FilterParser::PrepareStoredWords()
{
    if (m_storedWordsState == StoredWords::Unknown)
        m_storedWordsState = ToLowerAscii(m_words, m_storedWords) &&
                                     ToLowerAscii(m_excludedWords, m_storedExcludedWords)
                                 ? StoredWords::Ascii
                                 : StoredWords::Other;
    return m_storedWordsState == StoredWords::Ascii;
}

int FilterParser::IsMatchingStored(std::string_view i_bytes, ItemPtr i_item)
{
    if (!PrepareStoredWords() || !IsPlainAscii(i_bytes))
        return IsMatching(ToQString(i_bytes.data(), i_bytes.size()), nullptr, i_item);
    if (MatchConditions(i_item) != 0)
        return 2;
    for (std::string const& l_excluded : m_storedExcludedWords)
        if (ContainsCaseless(i_bytes, l_excluded))
            return 2;
    for (std::string const& l_word : m_storedWords)
        if (!ContainsCaseless(i_bytes, l_word))
            return 1;
    return 0;
}
