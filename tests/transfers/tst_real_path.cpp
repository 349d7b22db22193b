#include "transfers/RealPath.h"

#include <QSet>
#include <QTest>

// Which listed name a spelling leads to decides whether two downloads meet at one
// record on a file system that takes names in any case or Unicode form.
class TestRealPath : public QObject
{
    Q_OBJECT

private slots:
    void spellingIsTakenForTheNameItsFolderLists();
};

void TestRealPath::spellingIsTakenForTheNameItsFolderLists()
{
    QString const l_nfd = QStringLiteral("Cafe\u0301.mp3");
    QString const l_nfc = QStringLiteral("Caf\u00E9.mp3");
    struct Case
    {
        QString spelled;
        QStringList listed;
        // The names the file system says lead to the spelled entry.
        QSet<QString> same;
        QString expected;
    } const l_cases[] = {
        // A file system that tells case apart lists both.
        {"Track.mp3", {"track.mp3", "Track.mp3"}, {}, "Track.mp3"},
        {"track.mp3", {"Other.mp3", "TRACK.MP3"}, {}, "TRACK.MP3"},
        {l_nfc.toLower(), {"a.mp3", l_nfd}, {}, l_nfd},
        {QStringLiteral("T\u0131tle.mp3"), {"TITLE.MP3"}, {}, "TITLE.MP3"},
        // A short name of eight and three characters is like no listed name.
        {"TRACKN~1.MP3",
         {"a.mp3", "Track number one.mp3"},
         {"Track number one.mp3"},
         "Track number one.mp3"},
        // Folded its own way: the file system says which.
        {"track.mp3", {"Track.mp3", "TRACK.mp3"}, {"TRACK.mp3"}, "TRACK.mp3"},
        // Nothing tells: the spelling stands.
        {"track.mp3", {"Track.mp3", "TRACK.mp3"}, {}, "track.mp3"},
        {"new.mp3", {"old.mp3"}, {}, "new.mp3"},
    };
    for (Case const& l_case : l_cases)
        QCOMPARE(RealPath::ListedName(l_case.spelled, l_case.listed,
                                      [&](QString const& i_name)
                                      { return l_case.same.contains(i_name); }),
                 l_case.expected);
}

QTEST_GUILESS_MAIN(TestRealPath)
#include "tst_real_path.moc"
