#include "net/records/SearchParser.h"

#include <QTest>

namespace
{
// result|included|included parts|excluded, tokens joined by ",".
QString Parse(SearchParser& parser, QString const& text)
{
    auto const l_join = [](SearchParser::TokenSet const& tokens) { return QStringList(tokens.begin(), tokens.end()).join(","); };
    bool const l_ok = parser.SetSearchText(text);
    return QStringList{l_ok ? "ok" : "fail", l_join(parser.GetIncludedTokenSet()), l_join(parser.GetIncludedPartTokenSet()),
                       l_join(parser.GetExcludedTokenSet())}.join("|");
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
    QList<QPair<QString, QString>> const l_cases = {
        {"Hello  WORLD", "ok|hello,world||"},
        {"\tword\t", "ok|word||"},
        {"-live", "fail|||live"},
        {"-live concert", "ok|concert||live"},
        {"*mix", "ok||mix|"},
        {"-", "fail|||"},
        {"*", "fail|||"},
        {"word -", "fail|word||"},
        {"word *", "fail|word||"},
        {"- word", "fail|||"},
        {"\"two words\" -three", "ok|two words||three"},
        {"\"open phrase to the end", "ok|open phrase to the end||"},
        {"\"\"", "fail|||"},
        {"\"", "fail|||"},
        {"wo\"rd", "fail|||"},
        {"\"quoted\"plain", "ok|plain,quoted||"},
        {"-*star next", "ok|next||*star"},
        {"Dup dup DUP", "ok|dup||"},
        {"*\"part phrase\" x", "ok|x|part phrase|"},
        {"-\"not this\"", "fail|||not this"},
        {"  \t ", "fail|||"},
        {"", "fail|||"},
        {"Ärger ÉTÉ", "ok|ärger,été||"},
        {"first \"\" second", "fail|first||"},
    };
    for (auto const& [text, expected] : l_cases)
    {
        SearchParser l_parser;
        QCOMPARE(Parse(l_parser, text), expected);
    }
    // One parser, one query: a second text adds to the first.
    SearchParser l_parser;
    Parse(l_parser, "-a");
    QCOMPARE(Parse(l_parser, "b"), QStringLiteral("ok|b||a"));
}

void TestSearchParser::matches()
{
    struct Case { QString query; QString text; bool match; };
    QList<Case> const l_cases = {
        {"beat -live", "Music\\xxBEATyy.mp3", true},
        {"beat -live", "beat (LIVE).mp3", false},
        {"beat -live", "other.mp3", false},
        {"*mix", "Remixes\\a.mp3", true},
        {"*mix -", "remix.mp3", true}, // a text that fails still filters by the tokens made before the fault
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
