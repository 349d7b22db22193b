#pragma once

// General functions: display formatting, path splitting and small
// utilities. They hold no state. Paths on the wire and in the store use "\" as
// separator; the path functions accept "\" and "/" alike unless said otherwise.

#include <QString>
#include <string>


// A duration without spaces: "<d>d" when the whole days are not 0, "<h>h" when days or
// hours are not 0, then always "<m>m<s>s". Divisions truncate toward zero.
QString FormatSeconds(long seconds);
// Decimal digits with "," before every group of three from the right; values below 1
// (0 included) give the empty text.
QString CommafyNumber(long long number);
// "&" -> "&amp;", then "<" -> "&lt;", then ">" -> "&gt;"; nothing else.
QString EscapeHTML(QString const& text);
// Every http(s) link becomes <a href="link">link</a>.
QString ConvertLinks(QString const& text);
// "&" -> "&&": a name shown as a tab title, button or menu text keeps its "&" instead of
// turning the next character into a keyboard shortcut.
QString EscapeMnemonics(QString text);

// Text after the last separator, one trailing separator dropped first.
std::string GetFileName(std::string const& path);
// Text before the last separator (the whole text when there is none), one trailing
// separator dropped first.
std::string GetFolder(std::string const& path);
// Every trailing "\" dropped (only that separator), then GetFolder; empty when nothing
// is left.
std::string GetParentFolder(std::string const& path);
// Text after the last "." anywhere in the input, ASCII letters lowered; empty without a
// "." or when it is the last character.
std::string GetFileExtension(std::string const& path);
// Key form of a local path: one trailing separator dropped, then QString::toLower.
// Doubled separators inside the path are left as they are.
QString GetAbsoluteFileName(QString const& path);
// Components in reverse order joined by "/"; empty components are skipped.
QString ReversePathname(QString const& path);
// Every occurrence of `search` replaced by `replacement`, left to right, never searching
// inside an inserted replacement. An empty `search` returns the input unchanged.
std::string StringReplace(std::string const& text, std::string const& search,
                          std::string const& replacement);

// Whether bit n is set, counted from 1 at the least significant end; the index is taken
// modulo 32 after subtracting 1 (mathematical modulo, so 0 means bit 32).
bool GetBit(unsigned int value, int n);
// Smallest position at or after `start` (a negative start counts as 0) holding any
// character of `characters`, or -1.
int findFirstOf(QString const& text, QString const& characters, int start);
