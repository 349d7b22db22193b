// The orders of the room list and the member list, the room creation dialog, the note
// dialog and the private message list with its saved records.

#include "ChatTestEnv.h"

#include "ui/chat/CreateRoomDialog.h"
#include "ui/chat/QRoomListItemWidget.h"
#include "ui/chat/QRoomUserListItemWidget.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>

using namespace ChatTestEnv;

namespace
{
QStringList Column(QTreeWidget& i_tree, int i_column)
{
    QStringList l_texts;
    for (int l_row = 0; l_row < i_tree.topLevelItemCount(); ++l_row)
        l_texts << i_tree.topLevelItem(l_row)->text(i_column);
    return l_texts;
}

QString NoteOf(QString const& i_user)
{
    return d["user"]->HasItem(Value(i_user))["user_note"].AsString();
}
} // namespace

class TestChatDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitOnce();
        DefaultSettings();
        SetSetting("username", "alice");
    }
    void roomListOrder();
    void memberListOrder();
    void rowsFollowNewNamesAndRoles();
    void roomDialog();
    void noteDialog();
};

void TestChatDialogs::roomListOrder()
{
    struct Room
    {
        char const* name;
        char const* flags; // o owner, p operator, m member
        char const* count;
    };
    QList<Room> const l_rooms = {{"zoo", "o", "10"}, {"Alpha", "", "9"}, {"beta", "p", ""},
                                 {"Mid", "m", "3"}, {"alps", "", "x"}, {"Own", "om", "2"}, {"ALPS", "", "4"}};
    QTreeWidget l_list;
    l_list.setColumnCount(2);
    for (Room const& l_room : l_rooms) {
        ItemPtr const l_item = (*d["room"])[Value(l_room.name)];
        for (char const l_flag : QByteArray(l_room.flags))
            l_item.NewItem(l_flag == 'o' ? "is_owner" : l_flag == 'p' ? "is_operator" : "is_member");
        QRoomListItemWidget* const lp_row = new QRoomListItemWidget(&l_list);
        lp_row->setText(0, l_room.name);
        lp_row->setText(1, l_room.count);
    }
    // Names equal but for case compare equal: they keep their places among themselves.
    l_list.sortItems(0, Qt::AscendingOrder);
    QCOMPARE(Column(l_list, 0), (QStringList{"Own", "zoo", "beta", "Mid", "Alpha", "alps", "ALPS"}));
    l_list.sortItems(0, Qt::DescendingOrder);
    QCOMPARE(Column(l_list, 0).mid(2), (QStringList{"Alpha", "Mid", "beta", "zoo", "Own"}));
    // By users: numbers, not texts; an empty or odd count is 0.
    l_list.sortItems(1, Qt::AscendingOrder);
    QCOMPARE(Column(l_list, 1).mid(2), (QStringList{"2", "3", "4", "9", "10"}));
    QVERIFY(!d["room"]->HasItem(Value("nowhere")));
}

void TestChatDialogs::memberListOrder()
{
    QTreeWidget l_list;
    l_list.setColumnCount(6);
    QList<QStringList> const l_rows = {{"bob", "1,234", "0.5"}, {"Carl", "", "12.0"}, {"al", "999", ""}, {"Dee", "10,001", "2.5"}};
    for (QStringList const& l_cells : l_rows) {
        QRoomUserListItemWidget* const lp_row = new QRoomUserListItemWidget(&l_list);
        lp_row->setText(2, l_cells[0]);
        lp_row->setText(4, l_cells[1]);
        lp_row->setText(5, l_cells[2]);
    }
    struct Sort
    {
        int column;
        QStringList order;
    };
    for (Sort const& l_sort : QList<Sort>{{2, {"al", "bob", "Carl", "Dee"}},
                                          {4, {"Carl", "al", "bob", "Dee"}},
                                          {5, {"al", "bob", "Dee", "Carl"}}}) {
        l_list.sortItems(l_sort.column, Qt::AscendingOrder);
        QCOMPARE(Column(l_list, 2), l_sort.order);
    }
}

void TestChatDialogs::rowsFollowNewNamesAndRoles()
{
    // Rooms: a role given later counts once the row is told; a new name is another room,
    // whose role counts at once.
    QTreeWidget l_rooms;
    l_rooms.setColumnCount(2);
    QRoomListItemWidget* const lp_first = new QRoomListItemWidget(&l_rooms);
    lp_first->setText(0, "keys a");
    QRoomListItemWidget* const lp_second = new QRoomListItemWidget(&l_rooms);
    lp_second->setText(0, "keys b");
    l_rooms.sortItems(0, Qt::AscendingOrder);
    QCOMPARE(Column(l_rooms, 0), (QStringList{"keys a", "keys b"}));
    (*d["room"])[Value("keys b")].NewItem("is_member");
    lp_second->RefreshRoleRank();
    l_rooms.sortItems(0, Qt::AscendingOrder);
    QCOMPARE(Column(l_rooms, 0), (QStringList{"keys b", "keys a"}));
    (*d["room"])[Value("keys c")].NewItem("is_owner");
    lp_first->setText(0, "keys c");
    l_rooms.sortItems(0, Qt::AscendingOrder);
    QCOMPARE(Column(l_rooms, 0), (QStringList{"keys c", "keys b"}));

    // Members: names of ASCII and beyond side by side, and a renamed row by its new name.
    QTreeWidget l_members;
    l_members.setColumnCount(6);
    QList<QRoomUserListItemWidget*> l_rows;
    for (QString const& l_name :
         {QString("Bob"), QString("al"), QString::fromUtf8("\xC3\x89mile"), QString("emma")})
    {
        l_rows << new QRoomUserListItemWidget(&l_members);
        l_rows.last()->setText(2, l_name);
    }
    l_members.sortItems(2, Qt::AscendingOrder);
    QCOMPARE(Column(l_members, 2),
             (QStringList{"al", "Bob", "emma", QString::fromUtf8("\xC3\x89mile")}));
    l_rows[1]->setText(2, "Zed");
    l_members.sortItems(2, Qt::AscendingOrder);
    QCOMPARE(Column(l_members, 2),
             (QStringList{"Bob", "emma", "Zed", QString::fromUtf8("\xC3\x89mile")}));
}

void TestChatDialogs::roomDialog()
{
    IncomingTestEnv::Fixture l_fixture;
    QVERIFY(l_fixture.LoggedIn());
    QWidget l_window;
    QPointer<CreateRoomDialog> lp_dialog = new CreateRoomDialog(&l_window);
    QCOMPARE(createRoomDialog, lp_dialog.data());
    lp_dialog->show();

    // Blank: stays; closed with a name typed: hidden and found again as it was.
    lp_dialog->roomNameEdit->setText("   ");
    lp_dialog->createRoomButton->click();
    QVERIFY(lp_dialog->isVisible());
    lp_dialog->roomNameEdit->setText("  Fresh Room ");
    lp_dialog->close();
    QVERIFY(lp_dialog && createRoomDialog == lp_dialog && !lp_dialog->isVisible());
    createRoomDialog->show();
    QCOMPARE(lp_dialog->roomNameEdit->text(), "  Fresh Room ");

    // A click sends the trimmed name and ends the dialog from inside its own slot.
    lp_dialog->createPrivateCheckBox->setChecked(true);
    lp_dialog->createRoomButton->click();
    QVERIFY(!createRoomDialog && !lp_dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!lp_dialog, 1000);
    QVERIFY(l_fixture.fake().WaitForCode(14));
    QCOMPARE(l_fixture.fake().FramesWithCode(14).last().payload, FrameBuilder(14).Str("Fresh Room").U32(1).Payload());

    // A fresh dialog while the old one waits for deletion keeps the global.
    new CreateRoomDialog(&l_window);
    CreateRoomDialog* const lp_second = createRoomDialog;
    lp_second->roomNameEdit->setText("second");
    lp_second->createRoomButton->click();
    CreateRoomDialog* const lp_third = new CreateRoomDialog(&l_window);
    QTest::qWait(10);
    QCOMPARE(createRoomDialog, lp_third);
    QTRY_COMPARE_WITH_TIMEOUT(l_fixture.fake().FramesWithCode(14).last().payload,
                              FrameBuilder(14).Str("second").U32(0).Payload(), 2000);
}

void TestChatDialogs::noteDialog()
{
    (*d["user"])[Value("nia")] += (*d["user_note"])[Value("<b>x</b>")];
    QPointer<UserNoteDialog> lp_dialog = UserNoteDialog::GetDialog("nia");
    QCOMPARE(UserNoteDialog::GetDialog("nia"), lp_dialog.data());
    QCOMPARE(lp_dialog->windowTitle(), "nia");
    QCOMPARE(lp_dialog->noteEdit->toPlainText(), "<b>x</b>");
    lp_dialog->saveButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!lp_dialog, 1000);
    QCOMPARE(NoteOf("nia"), "<b>x</b>");

    // Clear and close keeps the note; save trims; two users may share a text.
    lp_dialog = UserNoteDialog::GetDialog("nia");
    lp_dialog->show();
    lp_dialog->clearButton->click();
    lp_dialog->close();
    QTRY_VERIFY_WITH_TIMEOUT(!lp_dialog, 1000);
    QCOMPARE(NoteOf("nia"), "<b>x</b>");
    for (QString const l_user : {"nia", "ola"}) {
        UserNoteDialog* const lp_note = UserNoteDialog::GetDialog(l_user);
        lp_note->noteEdit->setPlainText("  shared text \n");
        lp_note->OnSaveNote();
    }
    QCOMPARE(NoteOf("nia"), "shared text");
    QCOMPARE(NoteOf("ola"), "shared text");
    QTRY_COMPARE_WITH_TIMEOUT(d["user_note_dialog"]->GetItemCount(), std::size_t(0), 1000);
    UserNoteDialog* const lp_blank = UserNoteDialog::GetDialog("ola");
    lp_blank->noteEdit->setPlainText("  \n ");
    lp_blank->OnSaveNote();
    QVERIFY(!d["user"]->HasItem(Value("ola")).IsConnected("user_note"));
    QCOMPARE(NoteOf("nia"), "shared text");
    QTRY_COMPARE_WITH_TIMEOUT(d["user_note_dialog"]->GetItemCount(), std::size_t(0), 1000);
}

QTEST_MAIN(TestChatDialogs)
#include "tst_chat_dialogs.moc"
