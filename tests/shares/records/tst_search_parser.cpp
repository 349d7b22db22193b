#include "shares/records/SearchParser.h"

#include <QTest>

namespace
{
QString Join(SearchParser::TokenSet const& tokens)
{
    return QStringList(tokens.begin(), tokens.end()).join("|");
}
} // namespace

class TestSearchParser : public QObject
{
    Q_OBJECT

private slots:
    void tokenizes();
    void matches();
};

void TestSearchParser::tokenizes()
{
    struct Case
    {
        QString text;
        bool ok;
        QString included;
        QString parts;
        QString excluded;
    };
    QList<Case> const l_cases = {
        {"Hello  WORLD", true, "hello|world", "", ""},
        {"\tword\t", true, "word", "", ""},
        {"-live", false, "", "", "live"},
        {"-live concert", true, "concert", "", "live"},
        {"*mix", true, "", "mix", ""},
        {"-", false, "", "", ""},
        {"*", false, "", "", ""},
        {"word -", false, "word", "", ""},
        {"word *", false, "word", "", ""},
        {"- word", false, "", "", ""},
        {"\"two words\" -three", true, "two words", "", "three"},
        {"\"open phrase to the end", true, "open phrase to the end", "", ""},
        {"\"\"", false, "", "", ""},
        {"\"", false, "", "", ""},
        {"wo\"rd", false, "", "", ""},
        {"\"quoted\"plain", true, "plain|quoted", "", ""},
        {"-*star next", true, "next", "", "*star"},
        {"Dup dup DUP", true, "dup", "", ""},
        {"*\"part phrase\" x", true, "x", "part phrase", ""},
        {"-\"not this\"", false, "", "", "not this"},
        {"  \t ", false, "", "", ""},
        {"", false, "", "", ""},
        {"Ärger ÉTÉ", true, "ärger|été", "", ""},
        {"first \"\" second", false, "first", "", ""},
    };
    for (Case const& l_case : l_cases)
    {
        SearchParser l_parser;
        QVERIFY2(l_parser.SetSearchText(l_case.text) == l_case.ok, qPrintable(l_case.text));
        QVERIFY2(Join(l_parser.GetIncludedTokenSet()) == l_case.included,
                 qPrintable(l_case.text + ": " + Join(l_parser.GetIncludedTokenSet())));
        QVERIFY2(Join(l_parser.GetIncludedPartTokenSet()) == l_case.parts, qPrintable(l_case.text));
        QVERIFY2(Join(l_parser.GetExcludedTokenSet()) == l_case.excluded,
                 qPrintable(l_case.text + ": " + Join(l_parser.GetExcludedTokenSet())));
    }

    // One parser, one query: a second text adds to the first.
    SearchParser l_parser;
    QVERIFY(!l_parser.SetSearchText("-a"));
    QVERIFY(l_parser.SetSearchText("b"));
    QCOMPARE(Join(l_parser.GetExcludedTokenSet()), QStringLiteral("a"));
    QCOMPARE(Join(l_parser.GetIncludedTokenSet()), QStringLiteral("b"));
    QCOMPARE(QByteArray(SearchParser::Whitespace()), QByteArray(" \t"));
}

void TestSearchParser::matches()
{
    struct Case
    {
        QString query;
        QString text;
        bool match;
    };
    QList<Case> const l_cases = {
        {"beat -live", "Music\\xxBEATyy.mp3", true},
        {"beat -live", "beat (LIVE).mp3", false},
        {"beat -live", "other.mp3", false},
        {"*mix", "Remixes\\a.mp3", true},
        // A text that fails to parse still filters by the tokens made before the fault.
        {"*mix -", "remix.mp3", true},
        {"*mix -", "anything", false},
        {"\"daft punk\" -remix", "Daft Punk - One.mp3", true},
        {"\"daft punk\" -remix", "Daft-Punk.mp3", false},
        {"über", "ÜBER.ogg", true},
        {"a b", "b", false},
    };
    for (Case const& l_case : l_cases)
    {
        SearchParser l_parser;
        l_parser.SetSearchText(l_case.query);
        QVERIFY2(l_parser.IsMatch(l_case.text) == l_case.match, qPrintable(l_case.query + " / " + l_case.text));
    }
    QVERIFY(SearchParser().IsMatch("any text at all"));
}

QTEST_GUILESS_MAIN(TestSearchParser)
#include "tst_search_parser.moc"
