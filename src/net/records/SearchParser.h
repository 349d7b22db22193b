#pragma once

// A search text as three sets of lower-case tokens, and the test of a candidate text
// against them.
//
// Syntax: words separated by blanks or tabs; "-word" must not occur, "*word" must occur
// (asked as a part), any other word must occur; double quotes make a phrase, blanks
// included, one token. Only the first byte of a word is taken as a prefix.
//
// One parser serves one query: tokenizing again adds to what is there.

#include <QString>

#include <set>

class SearchParser
{
public:
    using TokenSet = std::set<QString>;

    // Tokenize(i_text).
    bool SetSearchText(QString const& i_text);
    // Adds the text's tokens to the sets. True when the text is well formed and the
    // parser now holds at least one included or included-part token. On a malformed
    // text it stops at once; tokens added before stay.
    bool Tokenize(QString const& i_text);
    // Every included and included-part token occurs in the lower-cased text, and no
    // excluded one does. A parser without tokens matches every text.
    bool IsMatch(QString const& i_text) const;

    TokenSet const& GetIncludedTokenSet() const { return m_included; }
    TokenSet const& GetIncludedPartTokenSet() const { return m_includedPart; }
    TokenSet const& GetExcludedTokenSet() const { return m_excluded; }
    // The separators between words.
    static char const* Whitespace() { return " \t"; }

private:
    TokenSet m_included;
    TokenSet m_includedPart;
    TokenSet m_excluded;
};
