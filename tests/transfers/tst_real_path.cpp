#include "transfers/RealPath.h"

#include <QTest>

class TestRealPath : public QObject
{
    Q_OBJECT

private slots:
    // Which listed name a spelling leads to decides whether two downloads meet at one
    // record on a file system that takes names in any case or Unicode form.
    void spellingIsTakenForTheNameItsFolderLists();
};

void TestRealPath::spellingIsTakenForTheNameItsFolderLists()
{
    // Spelled, listed, the listed name the file system says is the spelled entry (if
    // any), and the name the spelling is taken for.
    QString const l_rows[][4] = {
        {"Track.mp3", "track.mp3|Track.mp3", "", "Track.mp3"},
        {"track.mp3", "Other.mp3|TRACK.MP3", "", "TRACK.MP3"},
        {"caf\u00E9.mp3", "a.mp3|Cafe\u0301.mp3", "", "Cafe\u0301.mp3"},
        {"T\u0131tle.mp3", "TITLE.MP3", "", "TITLE.MP3"},
        {"TRACKN~1.MP3", "a.mp3|Track number one.mp3", "Track number one.mp3",
         "Track number one.mp3"},
        {"track.mp3", "Track.mp3|TRACK.mp3", "TRACK.mp3", "TRACK.mp3"},
        {"track.mp3", "Track.mp3|TRACK.mp3", "", "track.mp3"},
    };
    for (auto const& l_row : l_rows)
        QCOMPARE(RealPath::ListedName(l_row[0], l_row[1].split('|'),
                                      [&](QString const& i_name) { return i_name == l_row[2]; }),
                 l_row[3]);
}

QTEST_GUILESS_MAIN(TestRealPath)
#include "tst_real_path.moc"
