#include "store/Data.h"
#include "store/ExtendedAsciiTranslator.h"
#include "ui/search/FilterParser.h"

#include <QtTest>

#include <limits>
#include <optional>

namespace
{
struct File
{
    qint64 size;
    int bitrate; // 0: no bitrate item
    char const* mode; // "": no mode item
};

ItemPtr MakeFile(File const& i_file)
{
    ItemPtr const l_item = d["filter_test_file"]->NewItem();
    l_item += d["file_size"]->GetItem(Value(i_file.size));
    if (i_file.bitrate)
        l_item += d["bitrate"]->GetItem(Value(i_file.bitrate));
    if (*i_file.mode)
        l_item += d["bitrate_mode"]->GetItem(Value(i_file.mode));
    return l_item;
}
} // namespace

class TestFilterParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Type* const lp_file = d.NewType("filter_test_file", Primary, true, true);
        for (char const* lp_name : {"file_size", "bitrate", "bitrate_mode"})
            lp_file->RelateToType(d.NewType(lp_name, Tertiary, false, true), Many, One);
    }
    void parsesAndMatches();
    void foldersHandTheRestToTheirFiles();
    void storedNamesMatchAsTheirText();
};

void TestFilterParser::parsesAndMatches()
{
    File const l_song{10000000, 320, "cbr"}, l_small{9999999, 320, "cbr"}, l_vbr{20000000, 192, "vbr"}, l_bare{5, 0, ""};
    File const l_huge{std::numeric_limits<qint64>::max() - 1, 0, ""};
    // remainder: the words a given remainder must hold (nullopt: none is given).
    struct Case { char const* filter; char const* text; std::optional<File> file; int result;
                  std::optional<QStringList> remainder; bool attributes; int minFiles; };
    QList<Case> const l_cases = {
        {"    ", "", l_song, 0, QStringList(), false, 0},
        {"lackluster container", "LackLusterS/the CONTAINERS.mp3", std::nullopt, 0, QStringList(), false, 0},
        {"lackluster container", "lackluster only", std::nullopt, 1, std::nullopt, false, 0},
        {"lackluster container", "lackluster only", std::nullopt, 1, QStringList{"container"}, false, 0},
        {"lackluster  container -bothersome", "Lackluster Container BOTHERSOME", std::nullopt, 2, QStringList(), false, 0},
        // Conditions on the item come first.
        {"-bothersome mbr:500", "bothersome", l_song, 2, QStringList(), true, 0},
        {"- word", "word", std::nullopt, 0, std::nullopt, false, 0},
        {"-isvbr", "isvbr", l_song, 2, std::nullopt, false, 0},
        {"--x", "a-x", std::nullopt, 2, std::nullopt, false, 0},
        {"--x", "ax", std::nullopt, 0, std::nullopt, false, 0},
        {"mbr:abc", "x", l_bare, 0, std::nullopt, true, 0},
        {"mbr:1", "x", l_bare, 2, std::nullopt, true, 0},
        {"minfilesinfolder:3 mfif:8", "x", std::nullopt, 0, std::nullopt, false, 8},
        {"minfilesize:10", "x", l_small, 2, std::nullopt, true, 0},
        {"mfs:10", "x", l_song, 0, std::nullopt, true, 0},
        {"isvbr iscbr", "x", l_vbr, 2, std::nullopt, true, 0},
        {"isvbr iscbr", "x", std::nullopt, 0, std::nullopt, true, 0},
        {"iscbr", "x", l_vbr, 2, std::nullopt, true, 0},
        {"minbitrate:200 mbr:100", "x", l_vbr, 0, std::nullopt, true, 0},
        // Keywords are lower case at the start of a word; only the space separates.
        {"ISVBR", "isvbr.mp3", l_song, 0, std::nullopt, false, 0},
        {"MBR:1", "x", l_bare, 1, std::nullopt, false, 0},
        {"xmbr:1", "xmbr:1", l_bare, 0, std::nullopt, false, 0},
        {"a\tb", "a b", std::nullopt, 1, std::nullopt, false, 0},
        // White space inside a word makes its value no whole number.
        {"mbr:320\t", "x", l_bare, 0, std::nullopt, true, 0},
        {"mfif:8\t mfs:\n10", "x", l_bare, 0, std::nullopt, true, 0},
        {"minfilesinfolder:\u00a08", "x", std::nullopt, 0, std::nullopt, false, 0},
        // A minimum past the 64-bit range rejects every file instead of wrapping round.
        {"mfs:9223372036854775807", "x", l_huge, 2, std::nullopt, true, 0},
        {"mfs:10000000000000", "x", l_huge, 2, std::nullopt, true, 0},
    };
    for (Case const& l_case : l_cases)
    {
        QByteArray const l_name = QByteArray(l_case.filter) + " / " + l_case.text;
        FilterParser l_filter, l_remainder;
        l_filter.Parse(l_case.filter);
        l_remainder.Parse("stale -words");
        int const l_result = l_filter.IsMatching(l_case.text, l_case.remainder ? &l_remainder : nullptr,
                                                 l_case.file ? MakeFile(*l_case.file) : ItemPtr());
        QVERIFY2(l_result == l_case.result, l_name + " gave " + QByteArray::number(l_result));
        QVERIFY2(l_filter.HasAttributes() == l_case.attributes && l_filter.MinFilesInFolder() == l_case.minFiles, l_name);
        QVERIFY2(!l_case.remainder || l_remainder.Words() == *l_case.remainder, l_name);
    }

    // Parsing adds up, duplicates included.
    FilterParser l_twice;
    l_twice.Parse("a -b mbr:1");
    l_twice.Parse("c -b -d");
    QCOMPARE(l_twice.Words(), QStringList({"a", "c"}));
    QCOMPARE(l_twice.ExcludedWords(), QStringList({"b", "b", "d"}));
}

void TestFilterParser::foldersHandTheRestToTheirFiles()
{
    FilterParser l_filter, l_remainder;
    l_filter.Parse("beat live -demo iscbr mfs:5 mfif:2");
    QCOMPARE(l_filter.IsMatching("Music/Beat", &l_remainder, ItemPtr()), 1);
    QCOMPARE(l_remainder.Words(), QStringList{"live"});
    QVERIFY(l_remainder.HasAttributes() && l_remainder.MinFilesInFolder() == 2);
    QCOMPARE(l_remainder.IsMatching("Live.mp3", nullptr, MakeFile({6000000, 320, "cbr"})), 0);
    QCOMPARE(l_remainder.IsMatching("Live.mp3", nullptr, MakeFile({4000000, 320, "cbr"})), 2);
    QCOMPARE(l_remainder.IsMatching("Live.mp3", nullptr, MakeFile({6000000, 320, "vbr"})), 2);
    QCOMPARE(l_remainder.IsMatching("Live demo.mp3", nullptr, ItemPtr()), 2);
    QCOMPARE(l_remainder.IsMatching("Studio.mp3", nullptr, ItemPtr()), 1);
    // A rejected folder leaves the remainder without words.
    QCOMPARE(l_filter.IsMatching("Demo/Beat Live", &l_remainder, ItemPtr()), 2);
    QVERIFY(l_remainder.Words().isEmpty() && l_remainder.ExcludedWords().isEmpty());
}

void TestFilterParser::storedNamesMatchAsTheirText()
{
    // Plain ASCII on both sides is tested on the bytes; anything else (a word that folds
    // onto ASCII like the Kelvin sign, UTF-8, bytes that are not UTF-8, a zero byte) must
    // give the answer its text gives.
    QStringList const l_filters = {"track 0007",
                                   "TRACK -live",
                                   "-Track",
                                   QString::fromUtf8("caf\xC3\xA9"),
                                   QString::fromUtf8("\xE2\x84\xAA"),
                                   QString::fromUtf8("-\xC3\xA9 track"),
                                   ""};
    std::string const l_names[] = {"01 - Track 0007.mp3",
                                   "LIVE track 0007",
                                   "caf\xC3\xA9 Track",
                                   "caf\xE9 track",
                                   std::string("track\0live 0007", 15),
                                   "",
                                   "Kilo.ogg"};
    for (QString const& l_text : l_filters)
    {
        FilterParser l_filter;
        l_filter.Parse(l_text);
        for (std::string const& l_name : l_names)
            QVERIFY2(l_filter.IsMatchingStored(l_name, ItemPtr()) ==
                         l_filter.IsMatching(ToQString(l_name), nullptr, ItemPtr()),
                     qPrintable(l_text + " / " + ToQString(l_name)));
    }
    // A remainder takes the words it is handed, not those it was last tested with.
    FilterParser l_filter, l_remainder;
    l_filter.Parse("beat live");
    l_filter.IsMatching("Live", &l_remainder, ItemPtr());
    QCOMPARE(l_remainder.IsMatchingStored("beat.mp3", ItemPtr()), 0);
    l_filter.IsMatching("Beat", &l_remainder, ItemPtr());
    QCOMPARE(l_remainder.IsMatchingStored("beat.mp3", ItemPtr()), 1);
}

QTEST_GUILESS_MAIN(TestFilterParser)
#include "tst_filter_parser.moc"
