// A room tab end to end against the fake server through the real Server: members from
// the join and later messages, the room's own lines, the input, a dropped connection,
// leaving in both directions, entering again, notes, and a shut-down that deletes the
// server before the tabs.

#include "ChatTestEnv.h"

#include "ui/chat/CountryFlags.h"
#include "ui/chat/QRoomUserListItemWidget.h"

#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QTreeWidget>

using namespace ChatTestEnv;
using IncomingFrames::Stats;

namespace
{
QString Describe(QRoomUserListItemWidget* ip_row)
{
    if (!ip_row)
        return QStringLiteral("<no row>");
    QFont const l_font = ip_row->font(QRoomUserListItemWidget::ColumnUser);
    return QStringList{ip_row->text(QRoomUserListItemWidget::ColumnFiles), ip_row->text(QRoomUserListItemWidget::ColumnSpeed),
                       l_font.bold() ? "bold" : "normal", l_font.underline() ? "underline" : "-",
                       ip_row->icon(QRoomUserListItemWidget::ColumnFlag).isNull() ? "-" : "flag",
                       ip_row->icon(QRoomUserListItemWidget::ColumnNote).isNull() ? "-" : "note"}
        .join(' ');
}

QString UserCount(QString const& i_room)
{
    return d["room"]->HasItem(Value(i_room))["user_count"].AsString();
}

} // namespace

class TestRoomForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitOnce();
        DefaultSettings();
    }
    void roomEndToEnd();
    void serverGoesBeforeTheTabs();
    void flagCacheHoldsPackagedFlagsOnly();
    void crowdsJoinAtOnce();
};

void TestRoomForm::roomEndToEnd()
{
    IncomingTestEnv::Fixture l_fixture;
    QVERIFY(l_fixture.LoggedIn());
    DefaultSettings();
    Shell l_shell;
    FakeServer& l_fake = l_fixture.fake();

    // A private room: ann owns it, bob operates; cat has no country code and dan no
    // statistics, so neither is complete yet.
    FrameBuilder l_join = IncomingFrames::RoomJoined("lobby", {"ann", "bob", "cat", "dan"},
                                                     {Stats{1536, 0, 1234, 1}, Stats{0, 0, 0, 0}, Stats{2048, 0, 7, 1}},
                                                     {"DE", ""});
    IncomingFrames::AddOwnerAndOperators(l_join, "ann", {"bob"});
    QVERIFY(l_fixture.Deliver(l_join));
    QPointer<RoomForm> lp_room = l_shell.Room("lobby");
    QVERIFY(lp_room);
    QCOMPARE(lp_room->userList->topLevelItemCount(), 2);
    QCOMPARE(Describe(lp_room->UserRow("ann")), "1,234 1.5 bold underline flag -");
    QCOMPARE(Describe(lp_room->UserRow("bob")), "  bold - - -");
    QCOMPARE(UserCount("lobby"), "4");
    QVERIFY(l_shell.ShowActive());
    QCOMPARE(Shell::SetOnFocus(lp_room->chatEdit), "room");
    QCOMPARE(actionBar->GetKey("room"), "lobby");

    // 16, 17, 143 and 144; the owner losing an operator link keeps the underline.
    QVERIFY(l_fixture.Deliver(IncomingFrames::UserJoinedRoom("lobby", "eve", Stats{2048, 0, 5, 1}, "fr").Frame() +
                              IncomingFrames::RoomUserMessage(17, "lobby", "bob").Frame() +
                              IncomingFrames::RoomUserMessage(143, "lobby", "eve").Frame() +
                              IncomingFrames::RoomUserMessage(143, "lobby", "ann").Frame() +
                              IncomingFrames::RoomUserMessage(144, "lobby", "ann").Frame()));
    QCOMPARE(Describe(lp_room->UserRow("eve")), "5 2.0 bold - flag -");
    QCOMPARE(Describe(lp_room->UserRow("bob")), "<no row>");
    QCOMPARE(Describe(lp_room->UserRow("ann")), "1,234 1.5 normal underline flag -");
    QCOMPARE(UserCount("lobby"), "4");
    QCOMPARE(lp_room->userList->topLevelItem(0)->text(2), "ann");

    // Notes follow the store; the note column opens the one dialog of the user.
    ItemPtr const l_eve = d["user"]->HasItem(Value("eve"));
    l_eve += (*d["user_note"])[Value("pays late")];
    QCOMPARE(Describe(lp_room->UserRow("eve")).right(4), "note");
    lp_room->OnUserItemClicked(lp_room->UserRow("ann"), 3);
    lp_room->OnUserItemClicked(lp_room->UserRow("eve"), 2);
    QVERIFY(!l_eve.IsConnected("user_note_dialog"));
    lp_room->OnUserItemClicked(lp_room->UserRow("eve"), 3);
    QPointer<UserNoteDialog> lp_note = UserNoteDialog::GetDialog("eve");
    QVERIFY(lp_note && l_eve.IsConnected("user_note_dialog"));
    lp_note->close();
    QTRY_VERIFY_WITH_TIMEOUT(!lp_note, 1000);
    l_eve.Disconnect("user_note");
    QCOMPARE(Describe(lp_room->UserRow("eve")).right(1), "-");

    // Only the room's own lines; the input goes out untrimmed and is not shown.
    QVERIFY(l_fixture.Deliver(IncomingFrames::RoomChat("lobby", "ann", "  hello  ").Frame() +
                              IncomingFrames::RoomChat("other", "ann", "elsewhere").Frame()));
    QCOMPARE(Paragraphs(lp_room->chatView).mid(1), QStringList{"[ann] hello"});
    for (QString const l_typed : {"  hi there  ", "", "   "}) {
        lp_room->chatEdit->setText(l_typed);
        QTest::keyClick(lp_room->chatEdit, Qt::Key_Return);
    }
    QTRY_COMPARE_WITH_TIMEOUT(Payloads(l_fixture.FramesAfterLogin(), 13).size(), 2, 2000);
    QCOMPARE(Payloads(l_fixture.FramesAfterLogin(), 13),
             (QStringList{Hex(FrameBuilder(13).Str("lobby").Str("  hi there  ").Payload()),
                          Hex(FrameBuilder(13).Str("lobby").Str("   ").Payload())}));
    QVERIFY(lp_room->chatEdit->text().isEmpty());
    QCOMPARE(Paragraphs(lp_room->chatView).size(), 2);

    // A drop and a new login: both status lines, then the room entered again.
    l_fake.DropClient();
    QTRY_COMPARE_WITH_TIMEOUT(l_fixture.disconnected().count(), 1, 3000);
    l_fixture.server().AttemptReconnect();
    QTRY_VERIFY_WITH_TIMEOUT(Payloads(l_fixture.FramesAfterLogin(), 14).size() == 1, 3000);
    QCOMPARE(Payloads(l_fixture.FramesAfterLogin(), 14).first(),
             Hex(FrameBuilder(14).Str("lobby").U32(0).Payload()));
    QStringList const l_status = Paragraphs(lp_room->chatView).mid(2);
    QCOMPARE(l_status.size(), 2);
    QVERIFY(l_status[0].startsWith("* Disconnected at ") && l_status[1].startsWith("* Reconnected at "));

    // The server removing us from a room closes its tab without a word. Flags are the
    // packaged ones; a code the set lacks shows none.
    QVERIFY(l_fixture.Deliver(IncomingFrames::RoomJoined("side", {"ann", "zed"}, {Stats{}, Stats{}}, {"DE", "zz"})));
    QPointer<RoomForm> lp_side = l_shell.Room("side");
    QVERIFY(lp_side);
    QVERIFY(Describe(lp_side->UserRow("ann")).contains("flag") && !Describe(lp_side->UserRow("zed")).contains("flag"));
    QVERIFY(l_fixture.Deliver(IncomingFrames::RoomMessage(15, "side")));
    QVERIFY(!lp_side);
    QCOMPARE(l_shell.mp_rooms->count(), 1);

    // Closing a tab leaves its room once; entering again opens a tab again.
    delete lp_room;
    QVERIFY(l_fake.WaitForCode(15));
    QVERIFY(l_fixture.Deliver(IncomingFrames::RoomMessage(15, "lobby")));
    QCOMPARE(Payloads(l_fixture.FramesAfterLogin(), 15),
             QStringList{Hex(FrameBuilder(15).Str("lobby").Payload())});
    QVERIFY(!d["room"]->HasItem(Value("lobby")).IsConnected("room_form"));
    QVERIFY(l_fixture.Deliver(IncomingFrames::RoomJoined("lobby", {"ann"}, {Stats{}}, {""})));
    QVERIFY(l_shell.Room("lobby"));
    QCOMPARE(l_shell.mp_rooms->count(), 1);
    QCOMPARE(l_shell.Room("lobby")->userList->topLevelItemCount(), 1);
}

void TestRoomForm::serverGoesBeforeTheTabs()
{
    Shell* lp_shell = nullptr;
    {
        IncomingTestEnv::Fixture l_fixture;
        QVERIFY(l_fixture.LoggedIn());
        lp_shell = new Shell;
        QVERIFY(l_fixture.Deliver(IncomingFrames::RoomJoined("late", {"ann"}, {Stats{}}, {""})));
        QVERIFY(lp_shell->Room("late"));
    }
    QVERIFY(!gp_server);
    // The tab outlives the connection; deleting it now must touch nothing that is gone.
    delete lp_shell;
    QVERIFY(d["room_form"]->GetItemCount() == 0);
}

void TestRoomForm::flagCacheHoldsPackagedFlagsOnly()
{
    // Each packaged flag, asked for in either case, takes one entry; other codes none.
    QStringList const l_packaged = QDir(":/resources/flags").entryList();
    QVERIFY(l_packaged.size() > 200);
    for (QString const& l_code : l_packaged.join(' ').remove(".png").split(' '))
        QVERIFY2(!CountryFlags::Icon(l_code).pixmap(16, 11).isNull() && !CountryFlags::Icon(l_code.toUpper()).isNull(), qPrintable(l_code));
    for (char const* lp_code : {"zz", "", "x", "d e", "../flags/de", "ÄÖ"})
        QVERIFY2(CountryFlags::Icon(lp_code).isNull(), lp_code);
    QCOMPARE(CountryFlags::CachedCount(), l_packaged.size());
}

void TestRoomForm::crowdsJoinAtOnce()
{
    IncomingTestEnv::Fixture l_fixture;
    QVERIFY(l_fixture.LoggedIn());
    DefaultSettings();
    Shell l_shell;
    // More members than the list takes one at a time, named out of order in mixed case,
    // and one with a name beyond ASCII.
    QStringList l_names{QString::fromUtf8("\xC3\xA9mile")};
    for (int l_user = 0; l_user < 150; ++l_user)
        l_names << QString(l_user % 2 ? "User%1" : "user%1")
                       .arg((l_user * 37) % 150, 3, 10, QChar('0'));
    QVERIFY(l_fixture.Deliver(
        IncomingFrames::RoomJoined("crowd", l_names, QList<Stats>(151), QStringList(151, "de"))));
    QPointer<RoomForm> lp_room = l_shell.Room("crowd");
    QVERIFY(lp_room && lp_room->userList->isSortingEnabled());
    QCOMPARE(lp_room->userList->topLevelItemCount(), 151);
    QCOMPARE(lp_room->userList->topLevelItem(0)->text(2), "user000");
    QCOMPARE(lp_room->userList->topLevelItem(150)->text(2), QString::fromUtf8("\xC3\xA9mile"));
    for (int l_row = 1; l_row < 150; ++l_row)
        QCOMPARE(lp_room->userList->topLevelItem(l_row)->text(2).toLower(),
                 QString("user%1").arg(l_row, 3, 10, QChar('0')));

    // Rows made inside one store operation join the list when it ends; one made and gone
    // inside it never does, nor do those of a tab closed inside it.
    ItemPtr const l_room = d["room"]->HasItem(Value("crowd"));
    auto const l_join = [&](char const* ip_user)
    {
        ItemPtr const l_user = d["user"]->GetItem(Value(ip_user));
        for (char const* lp_type : {"average_download_speed", "shared_files_count", "country_code"})
            l_user += d[lp_type]->GetItem(Value(0));
        l_room.Connect(l_user);
        return l_user;
    };
    {
        StoreOperation const l_operation;
        l_room.Disconnect(l_join("ghost"));
        l_join("late");
        QVERIFY(lp_room->UserRow("late") && lp_room->userList->topLevelItemCount() == 151);
    }
    QVERIFY(lp_room->UserRow("late") && !lp_room->UserRow("ghost"));
    QCOMPARE(lp_room->userList->topLevelItemCount(), 152);
    {
        StoreOperation const l_operation;
        l_join("last");
        delete lp_room;
    }
    QVERIFY(!lp_room);
}

QTEST_MAIN(TestRoomForm)
#include "tst_room_form.moc"
