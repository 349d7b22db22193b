// Every documented example as table-driven tests, plus the mended faults
// (StringReplace with an empty search text, GetBit with index 0 or negative).

#include "store/GeneralFunctions.h"

#include <QtTest>

#include <climits>
#include <string>

Q_DECLARE_METATYPE(std::string)

namespace
{
std::string B(char const* text)
{
    return std::string(text);
}
} // namespace

class TestGeneralFunctions : public QObject
{
    Q_OBJECT

private slots:
    void formatSeconds_data();
    void formatSeconds();
    void commafyNumber_data();
    void commafyNumber();
    void escapeHtml_data();
    void escapeHtml();
    void convertLinks_data();
    void convertLinks();
    void chatPipeline();
    void getFileName_data();
    void getFileName();
    void getFolder_data();
    void getFolder();
    void getParentFolder_data();
    void getParentFolder();
    void getFileExtension_data();
    void getFileExtension();
    void getAbsoluteFileName_data();
    void getAbsoluteFileName();
    void reversePathname_data();
    void reversePathname();
    void stringReplace_data();
    void stringReplace();
    void getBit_data();
    void getBit();
    void findFirstOf_data();
    void findFirstOf();
};

void TestGeneralFunctions::formatSeconds_data()
{
    QTest::addColumn<long>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << 0L << "0m0s";
    QTest::newRow("59") << 59L << "0m59s";
    QTest::newRow("60") << 60L << "1m0s";
    QTest::newRow("3599") << 3599L << "59m59s";
    QTest::newRow("3600") << 3600L << "1h0m0s";
    QTest::newRow("86399") << 86399L << "23h59m59s";
    QTest::newRow("86400") << 86400L << "1d0h0m0s";
    QTest::newRow("90061") << 90061L << "1d1h1m1s";
    QTest::newRow("ten days") << 864000L << "10d0h0m0s";
    QTest::newRow("negative truncates toward zero") << -61L << "-1m-1s";
}

void TestGeneralFunctions::formatSeconds()
{
    QFETCH(long, seconds);
    QFETCH(QString, expected);
    QCOMPARE(FormatSeconds(seconds), expected);
}

void TestGeneralFunctions::commafyNumber_data()
{
    QTest::addColumn<qlonglong>("number");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << 0LL << "";
    QTest::newRow("-1") << -1LL << "";
    QTest::newRow("-1000") << -1000LL << "";
    QTest::newRow("min") << static_cast<qlonglong>(LLONG_MIN) << "";
    QTest::newRow("1") << 1LL << "1";
    QTest::newRow("999") << 999LL << "999";
    QTest::newRow("1000") << 1000LL << "1,000";
    QTest::newRow("12345") << 12345LL << "12,345";
    QTest::newRow("123456") << 123456LL << "123,456";
    QTest::newRow("1234567") << 1234567LL << "1,234,567";
    QTest::newRow("max") << static_cast<qlonglong>(LLONG_MAX) << "9,223,372,036,854,775,807";
}

void TestGeneralFunctions::commafyNumber()
{
    QFETCH(qlonglong, number);
    QFETCH(QString, expected);
    QCOMPARE(CommafyNumber(number), expected);
}

void TestGeneralFunctions::escapeHtml_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "hello"
                           << "hello";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("brackets") << "<b>x</b>"
                              << "&lt;b&gt;x&lt;/b&gt;";
    QTest::newRow("ampersand first, entities not escaped again") << "a & <b>"
                                                                 << "a &amp; &lt;b&gt;";
    QTest::newRow("existing entity escaped") << "&amp;"
                                             << "&amp;amp;";
    QTest::newRow("quotes untouched") << "\"x\" 'y'"
                                      << "\"x\" 'y'";
}

void TestGeneralFunctions::escapeHtml()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(EscapeHTML(text), expected);
}

void TestGeneralFunctions::convertLinks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("http") << "see http://example.org/x now"
                          << "see <a href=\"http://example.org/x\">http://example.org/x</a> now";
    QTest::newRow("https") << "https://a.b"
                           << "<a href=\"https://a.b\">https://a.b</a>";
    QTest::newRow("trailing point not part of link")
        << "go to http://a.b/c."
        << "go to <a href=\"http://a.b/c\">http://a.b/c</a>.";
    QTest::newRow("query") << "http://a.b/?q=1&r=2"
                           << "<a href=\"http://a.b/?q=1&r=2\">http://a.b/?q=1&r=2</a>";
    QTest::newRow("two links")
        << "http://a http://b"
        << "<a href=\"http://a\">http://a</a> <a href=\"http://b\">http://b</a>";
    QTest::newRow("nothing after scheme") << "http://"
                                          << "http://";
    QTest::newRow("upper-case scheme") << "HTTP://a.b"
                                       << "HTTP://a.b";
    QTest::newRow("ftp") << "ftp://a.b"
                         << "ftp://a.b";
    QTest::newRow("inside a word") << "xhttp://a.b"
                                   << "xhttp://a.b";
    QTest::newRow("no link") << "plain text"
                             << "plain text";
}

void TestGeneralFunctions::convertLinks()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ConvertLinks(text), expected);
}

void TestGeneralFunctions::chatPipeline()
{
    // The chat views escape first and convert links in the result.
    QCOMPARE(ConvertLinks(EscapeHTML("<i> http://a.b/?x=1&y=2")),
             QString("&lt;i&gt; <a href=\"http://a.b/?x=1&amp;y=2\">http://a.b/?x=1&amp;y=2</a>"));
}

void TestGeneralFunctions::getFileName_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("expected");
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("backslash") << B("a\\b\\c.mp3") << B("c.mp3");
    QTest::newRow("slash") << B("a/b/c.mp3") << B("c.mp3");
    QTest::newRow("mixed") << B("a\\b/c") << B("c");
    QTest::newRow("trailing separator gives last folder") << B("a\\b\\") << B("b");
    QTest::newRow("two trailing separators") << B("a\\b\\\\") << B("");
    QTest::newRow("no separator") << B("name") << B("name");
    QTest::newRow("single separator") << B("\\") << B("");
    QTest::newRow("leading separator") << B("\\x") << B("x");
}

void TestGeneralFunctions::getFileName()
{
    QFETCH(std::string, path);
    QFETCH(std::string, expected);
    QCOMPARE(GetFileName(path), expected);
}

void TestGeneralFunctions::getFolder_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("expected");
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("backslash") << B("a\\b\\c.mp3") << B("a\\b");
    QTest::newRow("slash") << B("a/b/c.mp3") << B("a/b");
    QTest::newRow("trailing separator") << B("a\\b\\") << B("a");
    QTest::newRow("no separator gives the name") << B("name") << B("name");
    QTest::newRow("leading separator") << B("\\x") << B("");
    QTest::newRow("single separator") << B("/") << B("");
}

void TestGeneralFunctions::getFolder()
{
    QFETCH(std::string, path);
    QFETCH(std::string, expected);
    QCOMPARE(GetFolder(path), expected);
}

void TestGeneralFunctions::getParentFolder_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("expected");
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("file") << B("a\\b\\c") << B("a\\b");
    QTest::newRow("every trailing backslash dropped") << B("a\\b\\c\\\\\\") << B("a\\b");
    QTest::newRow("only backslashes") << B("\\\\") << B("");
    QTest::newRow("trailing slash: one dropped by GetFolder") << B("a/b/") << B("a");
    QTest::newRow("two trailing slashes") << B("a/b//") << B("a/b");
    QTest::newRow("no separator") << B("a") << B("a");
}

void TestGeneralFunctions::getParentFolder()
{
    QFETCH(std::string, path);
    QFETCH(std::string, expected);
    QCOMPARE(GetParentFolder(path), expected);
}

void TestGeneralFunctions::getFileExtension_data()
{
    QTest::addColumn<std::string>("path");
    QTest::addColumn<std::string>("expected");
    QTest::newRow("upper case") << B("song.MP3") << B("mp3");
    QTest::newRow("lower") << B("a\\b\\c.ogg") << B("ogg");
    QTest::newRow("last point") << B("a.tar.GZ") << B("gz");
    QTest::newRow("no point") << B("README") << B("");
    QTest::newRow("point last") << B("name.") << B("");
    QTest::newRow("empty") << B("") << B("");
    QTest::newRow("point in a folder name") << B("a.b\\C") << B("b\\c");
    QTest::newRow("non-ASCII bytes kept") << B("x.\xC3\x89T") << B("\xC3\x89t");
}

void TestGeneralFunctions::getFileExtension()
{
    QFETCH(std::string, path);
    QFETCH(std::string, expected);
    QCOMPARE(GetFileExtension(path), expected);
}

void TestGeneralFunctions::getAbsoluteFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("mixed case with trailing separator") << "/Home/User/Music/"
                                                        << "/home/user/music";
    QTest::newRow("backslash") << "C:\\Music\\"
                               << "c:\\music";
    QTest::newRow("one trailing separator only") << "/a//"
                                                 << "/a/";
    QTest::newRow("no trailing separator") << "/A/B"
                                           << "/a/b";
    QTest::newRow("non-ASCII lowered")
        << QString::fromUtf8("/\xC3\x89T\xC3\x89") << QString::fromUtf8("/\xC3\xA9t\xC3\xA9");
    QTest::newRow("doubled separator kept") << "/a//B"
                                            << "/a//b";
}

void TestGeneralFunctions::getAbsoluteFileName()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(GetAbsoluteFileName(path), expected);
}

void TestGeneralFunctions::reversePathname_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("a\\b\\c") << "a\\b\\c"
                             << "c/b/a";
    QTest::newRow("a\\b\\") << "a\\b\\"
                            << "b/a";
    QTest::newRow("single separator") << "\\"
                                      << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("slashes") << "/x/y/z"
                             << "z/y/x";
    QTest::newRow("doubled separators skipped") << "a\\\\b//c"
                                                << "c/b/a";
    QTest::newRow("one component") << "abc"
                                   << "abc";
}

void TestGeneralFunctions::reversePathname()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(ReversePathname(path), expected);
}

void TestGeneralFunctions::stringReplace_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<std::string>("search");
    QTest::addColumn<std::string>("replacement");
    QTest::addColumn<std::string>("expected");
    QTest::newRow("slashes") << B("a/b/c") << B("/") << B("\\") << B("a\\b\\c");
    QTest::newRow("none") << B("abc") << B("/") << B("\\") << B("abc");
    QTest::newRow("replacement contains search") << B("aa") << B("a") << B("aa") << B("aaaa");
    QTest::newRow("left to right, no overlap") << B("aaa") << B("aa") << B("b") << B("ba");
    QTest::newRow("longer search") << B("x--y--") << B("--") << B("+") << B("x+y+");
    QTest::newRow("to empty") << B("a/b") << B("/") << B("") << B("ab");
    QTest::newRow("empty search returns input") << B("abc") << B("") << B("x") << B("abc");
    QTest::newRow("empty input") << B("") << B("/") << B("\\") << B("");
    QTest::newRow("zero bytes") << std::string("a\0b", 3) << std::string("\0", 1) << B("-")
                                << B("a-b");
}

void TestGeneralFunctions::stringReplace()
{
    QFETCH(std::string, text);
    QFETCH(std::string, search);
    QFETCH(std::string, replacement);
    QFETCH(std::string, expected);
    QCOMPARE(StringReplace(text, search, replacement), expected);
}

void TestGeneralFunctions::getBit_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("expected");
    QTest::newRow("bit 1 of 1") << 1u << 1 << true;
    QTest::newRow("bit 2 of 1") << 1u << 2 << false;
    QTest::newRow("bit 2 of 2") << 2u << 2 << true;
    QTest::newRow("bit 32 of high") << 0x80000000u << 32 << true;
    QTest::newRow("bit 31 of high") << 0x80000000u << 31 << false;
    QTest::newRow("33 wraps to 1") << 1u << 33 << true;
    QTest::newRow("0 wraps to 32") << 0x80000000u << 0 << true;
    QTest::newRow("0 wraps to 32, low bit clear") << 1u << 0 << false;
    QTest::newRow("-1 wraps to 31") << 0x40000000u << -1 << true;
    QTest::newRow("-31 wraps to 1") << 1u << -31 << true;
    QTest::newRow("INT_MIN") << 0xFFFFFFFFu << INT_MIN << true;
    QTest::newRow("INT_MAX") << 0u << INT_MAX << false;
}

void TestGeneralFunctions::getBit()
{
    QFETCH(uint, value);
    QFETCH(int, n);
    QFETCH(bool, expected);
    QCOMPARE(GetBit(value, n), expected);
}

void TestGeneralFunctions::findFirstOf_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("characters");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expected");
    QTest::newRow("first") << "hello world"
                           << "o" << 0 << 4;
    QTest::newRow("after start") << "hello world"
                                 << "o" << 5 << 7;
    QTest::newRow("at start") << "hello world"
                              << "o" << 4 << 4;
    QTest::newRow("any of") << "hello world"
                            << "wl" << 0 << 2;
    QTest::newRow("none") << "hello"
                          << "xyz" << 0 << -1;
    QTest::newRow("case-sensitive") << "Hello"
                                    << "h" << 0 << -1;
    QTest::newRow("start past end") << "hello"
                                    << "h" << 10 << -1;
    QTest::newRow("negative start") << "hello"
                                    << "h" << -3 << 0;
    QTest::newRow("empty characters") << "hello"
                                      << "" << 0 << -1;
}

void TestGeneralFunctions::findFirstOf()
{
    QFETCH(QString, text);
    QFETCH(QString, characters);
    QFETCH(int, start);
    QFETCH(int, expected);
    QCOMPARE(::findFirstOf(text, characters, start), expected);
}

QTEST_GUILESS_MAIN(TestGeneralFunctions)
#include "tst_general_functions.moc"
