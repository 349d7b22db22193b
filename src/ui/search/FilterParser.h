#pragma once

// The filter line of a browsable file list (search results, a user's share, one's own
// shares): words that must occur, words after a dash that must not, and keywords that
// put conditions on a file's audio attributes, its size and the number of matching
// files in its folder. A plain value: it knows no form, so every filter box shares it.
//
// A tree tests an outer row (a folder) with a remainder and then the row's files against
// that remainder, which holds the words the folder text lacked and every condition, so
// that words may be spread over folder and file name.
//
//   FilterParser l_filter;
//   l_filter.Parse(QStringLiteral("beat -live mbr:320"));
//   FilterParser l_rest;
//   if (l_filter.IsMatching(folderText, &l_rest, ItemPtr()) != 2)
//       l_rest.IsMatching(fileText, nullptr, fileItem); // 0: shown

#include "store/Data.h"

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

class FilterParser
{
public:
    FilterParser();
    ~FilterParser();

    // Adds the words and conditions of one line. Parts are separated by U+0020 only; a
    // keyword counts only at the very start of its part and in lower case; a later
    // keyword of one kind replaces the earlier value. Never fails: a value that is not
    // a whole decimal number reads as 0.
    void Parse(QString i_filter);

    // 0: the text (and the item, when given) matches; 1: words of the filter are missing
    // from the text (with a remainder, they are handed on to it); 2: rejected by an
    // excluded word or by a condition on the item. Word tests are substring tests that
    // ignore case. A remainder is emptied first and receives every condition, the
    // excluded words and the missing words.
    int IsMatching(QString i_text, FilterParser* iop_remainder, ItemPtr i_item);
    // IsMatching without a remainder, for a text in the form the store keeps it (the
    // bytes ToQString reads). A name of plain ASCII is tested as it is stored when the
    // words are plain ASCII as well, so a filter over many names reads none of them
    // as text.
    int IsMatchingStored(std::string_view i_bytes, ItemPtr i_item);

    // Whether the line held "isvbr", "iscbr" or a minimum bitrate or file size: only then
    // is a file's item worth handing to IsMatching.
    bool HasAttributes() const { return m_hasAttributes; }
    // How many matching files a folder needs to be shown; callers apply it.
    int MinFilesInFolder() const { return m_minFilesInFolder; }

    QStringList const& Words() const { return m_words; }
    QStringList const& ExcludedWords() const { return m_excludedWords; }

private:
    // 2 when the item fails a condition, else 0.
    int MatchConditions(ItemPtr i_item) const;
    // The words in lower case as ASCII bytes, when every word is plain ASCII.
    bool PrepareStoredWords();

    QStringList m_words;
    QStringList m_excludedWords;
    int m_minBitrate;
    bool m_isVbr;
    bool m_isCbr;
    // Bytes; megabytes of 1,000,000 as typed, saturated at the 64-bit limits.
    qint64 m_minFileSize;
    int m_minFilesInFolder;
    bool m_hasAttributes;
    // Byte forms of m_words and m_excludedWords, made when first needed after the words
    // change.
    enum class StoredWords
    {
        Unknown,
        Ascii,
        Other
    };
    StoredWords m_storedWordsState;
    std::vector<std::string> m_storedWords;
    std::vector<std::string> m_storedExcludedWords;
};
