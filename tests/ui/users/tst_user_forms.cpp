// The user side of the users and shares UI: the user menu over the user's state and the
// private rooms, the add-user dialog against the fake server, the three user lists,
// the group dialogs and the shared-folder dialog with the rescan report.

#include "UsersTestEnv.h"

#include "shares/SharedFoldersManager.h"
#include "ui/users/AddSharedFolderDialog.h"
#include "ui/users/AddUserDialog.h"
#include "ui/users/SharedFilesRescannedDialog.h"
#include "ui/users/UserGroupConfigDialog.h"
#include "ui/users/UserGroupsDialog.h"
#include "ui/users/UserListForm.h"
#include "ui/users/UserMenuOptions.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

using namespace UsersTestEnv;

namespace
{
// Entries of a menu: separators "-", submenus as "title[entries]".
QStringList Entries(QMenu const* ip_menu)
{
    QStringList l_entries;
    for (QAction* const lp_action : ip_menu->actions())
    {
        if (lp_action->isSeparator())
            l_entries << "-";
        else if (lp_action->menu())
            l_entries << lp_action->text() + "[" + Entries(lp_action->menu()).join(",") + "]";
        else
            l_entries << lp_action->text();
    }
    return l_entries;
}

QAction* FindEntry(QMenu const* ip_menu, QString const& i_text, QString const& i_data)
{
    for (QAction* const lp_action : ip_menu->actions())
    {
        if (lp_action->menu())
            if (QAction* const lp_found = FindEntry(lp_action->menu(), i_text, i_data))
                return lp_found;
        if (lp_action->text() == i_text && lp_action->data().toString() == i_data)
            return lp_action;
    }
    return nullptr;
}

QByteArray AddUserAnswer(QByteArray const& i_name, bool i_exists)
{
    QByteArray l_payload = FrameBuilder::LittleEndian(5, 4) + Text(i_name) + U8(i_exists ? 1 : 0);
    if (i_exists)
        l_payload += QByteArray(48, '\0');
    return FrameBuilder::Framed(l_payload);
}

// Answers the next question box with the button; i_before runs while it is open.
void AnswerBox(QMessageBox::StandardButton i_button, std::function<void()> i_before = {})
{
    QTimer::singleShot(0, [i_button, i_before] {
        auto* const lp_box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!lp_box)
            return;
        if (i_before)
            i_before();
        if (i_button == QMessageBox::NoButton)
            QTest::keyClick(lp_box, Qt::Key_Return);
        else
            lp_box->button(i_button)->click();
    });
}
} // namespace

class TestUserForms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void userMenuEntries();
    void roomEntriesSendTheirMessages();
    void userListRows();
    void addUserDialog();
    void groupDialogs();
    void sharedFolderDialog();

private:
    UsersFixture m_env;
    UserListForm* mp_list = nullptr;
};

void TestUserForms::initTestCase()
{
    QVERIFY(m_env.SetUp());
    User("bob").NewItem("in_user_list");
    User("bob").NewItem("is_online");
    User("Alice").NewItem("in_user_list");
    ItemPtr const l_carl = User("carl");
    for (char const* lp_group : {"beta", "Alpha", "alpha"})
        l_carl.NewItem("in_user_list") += d["user_list_group"]->GetItem(Value(lp_group));
    l_carl += d["user_note"]->GetItem(Value("owes me"));
    for (char const* lp_name : {"carl", "Bea", "dora"})
        User(lp_name).NewItem("unshared");
    l_carl.NewItem("is_ignored");
    m_env.fake().ClearFrames();
    mp_list = new UserListForm(&m_env.window());
    mp_list->Init();
}

void TestUserForms::cleanupTestCase()
{
    delete mp_list;
    m_env.TearDown();
}

void TestUserForms::userMenuEntries()
{
    struct Case
    {
        char const* m_user;
        bool m_prefilled;
        QStringList m_entries;
    };
    QList<Case> const l_cases = {
        {"ann", false, {"Message user", "Add user to list", "Browse user's files", "Upload to user", "Add user note",
                        "-", "Unshare files from user", "Ignore chat from user"}},
        {"ann", true, {"x", "-", "Message user", "Add user to list", "Browse user's files", "Upload to user",
                       "Add user note", "-", "Unshare files from user", "Ignore chat from user"}},
        {"carl", false, {"Message user", "Set user's groups", "Remove user from list", "Browse user's files",
                         "Upload to user", "Edit user note", "-", "Re-share files with user",
                         "Receive chat from user"}},
    };
    for (Case const& l_case : l_cases)
    {
        QMenu l_menu;
        if (l_case.m_prefilled)
            l_menu.addAction("x");
        UserMenuOptions const l_options(&l_menu, l_case.m_user, nullptr);
        QCOMPARE(Entries(&l_menu), l_case.m_entries);
    }

    // Rooms: "both" is owned and operated and shows once, owned; "op" only operated.
    ItemPtr const l_ann = User("ann");
    for (char const* lp_room : {"r2", "r1", "both"})
        d["room"]->GetItem(Value(lp_room)).NewItem("is_owner");
    for (char const* lp_room : {"op", "both"})
        d["room"]->GetItem(Value(lp_room)).NewItem("is_operator");
    l_ann += d["room"]->GetItem(Value("r2")).NewItem("room_members");
    l_ann += d["room"]->GetItem(Value("r2")).NewItem("room_operators");
    l_ann += d["room"]->GetItem(Value("r1")).NewItem("room_operators");
    QMenu l_menu;
    UserMenuOptions const l_options(&l_menu, "ann", nullptr);
    QCOMPARE(Entries(&l_menu).mid(8),
             (QStringList{"-", "Private Rooms[both[Give User Membership],"
                               "r1[Give User Membership,-,Remove User's Operator Status],"
                               "r2[Remove User's Membership,-,Remove User's Operator Status],"
                               "op[Give User Membership]]"}));
    QMenu* const lp_rooms = l_menu.actions().last()->menu();
    QVERIFY(lp_rooms->actions()[0]->font().underline() && lp_rooms->actions()[0]->font().bold());
    QVERIFY(!lp_rooms->actions()[3]->font().bold());

    // The store entries act at once.
    FindEntry(&l_menu, "Ignore chat from user", "ann")->trigger();
    FindEntry(&l_menu, "Unshare files from user", "ann")->trigger();
    QVERIFY(l_ann.IsConnected("is_ignored") && l_ann.IsConnected("unshared"));
    QCOMPARE(mp_list->ignoredList->findItems("ann", Qt::MatchExactly).size(), 1);
    QCOMPARE(mp_list->unsharedList->findItems("ann", Qt::MatchExactly).size(), 1);
    FindEntry(&l_menu, "Add user to list", "ann")->trigger();
    QVERIFY(l_ann.IsConnected("in_user_list"));
    // The groups dialog of the new member opens beside the main window.
    QList<UserGroupsDialog*> l_dialogs;
    for (QWidget* const lp_top : QApplication::topLevelWidgets())
        if (auto* const lp_dialog = qobject_cast<UserGroupsDialog*>(lp_top))
            l_dialogs << lp_dialog;
    QCOMPARE(l_dialogs.size(), 1);
    QCOMPARE(l_dialogs.first()->windowTitle(), QStringLiteral("User Groups for [ann]"));
    delete l_dialogs.first();
    // Removed from the list, the user keeps no entry that holds on to its groups.
    ItemPtr const l_group = d["user_list_group"]->GetItem(Value("ann's group"));
    l_ann["in_user_list"] += l_group;
    std::size_t const l_entries = Count("in_user_list");
    QMenu l_second;
    UserMenuOptions const l_listed(&l_second, "ann", nullptr);
    FindEntry(&l_second, "Remove user from list", "ann")->trigger();
    QVERIFY(Count("in_user_list") == l_entries - 1 && l_group.GetItems("in_user_list").empty());
    l_group.Remove();
    FindEntry(&l_second, "Receive chat from user", "ann")->trigger();
    FindEntry(&l_second, "Re-share files with user", "ann")->trigger();
    QVERIFY(!l_ann.IsConnected("in_user_list") && !l_ann.IsConnected("is_ignored") && !l_ann.IsConnected("unshared"));
    QVERIFY(mp_list->userList->findItems("ann", Qt::MatchExactly).isEmpty());
    QVERIFY(mp_list->ignoredList->findItems("ann", Qt::MatchExactly).isEmpty());
}

void TestUserForms::roomEntriesSendTheirMessages()
{
    m_env.fake().ClearFrames();
    d["room"]->GetItem(Value("r3")).NewItem("is_owner");
    QMenu l_give;
    UserMenuOptions const l_first(&l_give, "ann", nullptr);
    FindEntry(&l_give, "Give User Membership", "r3")->trigger();
    // Nothing changes before the server's echo.
    QVERIFY(!User("ann").IsConnected(d["room"]->GetItem(Value("r3")).NewItem("room_members")));
    QMenu l_rest;
    UserMenuOptions const l_second(&l_rest, "ann", nullptr);
    FindEntry(&l_rest, "Remove User's Membership", "r2")->trigger();
    FindEntry(&l_rest, "Remove User's Operator Status", "r2")->trigger();
    User("ann") += d["room"]->GetItem(Value("r3")).NewItem("room_members");
    QMenu l_member;
    UserMenuOptions const l_third(&l_member, "ann", nullptr);
    FindEntry(&l_member, "Make User Operator", "r3")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(m_env.fake().HasCode(143), 2000);
    QByteArray const l_fields = Text("r3") + Text("ann");
    QList<QByteArray> l_payloads;
    for (auto const& l_frame : m_env.fake().Frames())
        if (QList<quint32>{134, 135, 143, 144}.contains(l_frame.code))
            l_payloads << l_frame.payload;
    QCOMPARE(l_payloads, (QList<QByteArray>{FrameBuilder::LittleEndian(134, 4) + l_fields,
                                            FrameBuilder::LittleEndian(135, 4) + Text("r2") + Text("ann"),
                                            FrameBuilder::LittleEndian(144, 4) + Text("r2") + Text("ann"),
                                            FrameBuilder::LittleEndian(143, 4) + l_fields}));
}

void TestUserForms::userListRows()
{
    // Built at start: online first, groups in code-unit order, notes.
    QCOMPARE(Lines(mp_list->userList), (QStringList{"bob", "Alice", "carl|Alpha, alpha, beta|owes me"}));
    QVERIFY(!mp_list->userList->topLevelItem(2)->icon(2).isNull());
    // The other two lists keep Qt's order once sorting is on: column 0, descending.
    QCOMPARE(Lines(mp_list->unsharedList), (QStringList{"dora", "carl|owes me", "Bea"}));
    QCOMPARE(Lines(mp_list->ignoredList), (QStringList{"carl|owes me"}));

    User("Alice").NewItem("is_online");
    QCOMPARE(Lines(mp_list->userList).mid(0, 2), (QStringList{"Alice", "bob"}));
    User("carl").Disconnect("user_note");
    User("carl") += d["user_note"]->GetItem(Value("paid"));
    QCOMPARE(Lines(mp_list->userList).last(), QStringLiteral("carl|Alpha, alpha, beta|paid"));
    QCOMPARE(Lines(mp_list->ignoredList), (QStringList{"carl|paid"}));
    User("carl").Disconnect("user_note");
    QCOMPARE(Lines(mp_list->ignoredList), (QStringList{"carl"}));
    QVERIFY(mp_list->ignoredList->topLevelItem(0)->icon(1).isNull());

    // Tracked once; leaving the list sends no untrack and keeps the other rows.
    QCOMPARE(User("carl").IsConnected("is_tracked"), true);
    m_env.fake().ClearFrames();
    User("carl").Disconnect("in_user_list");
    m_env.fake().Idle(100);
    QVERIFY(!m_env.fake().HasCode(6));
    QCOMPARE(Lines(mp_list->userList), (QStringList{"Alice", "bob"}));
    QCOMPARE(Lines(mp_list->unsharedList).size(), 3);
    QCOMPARE(Count("user_list_node"), std::size_t(2));
    // Added while online: the online icon at once.
    User("eve").NewItem("is_online");
    User("eve").NewItem("in_user_list");
    QCOMPARE(Lines(mp_list->userList), (QStringList{"Alice", "bob", "eve"}));
    QVERIFY(m_env.fake().WaitForCode(5));
    QCOMPARE(m_env.fake().FramesWithCode(5).first().Fields(), Text("eve"));

    // The toolbar: one group dialog at a time, a new add-user dialog every time.
    mp_list->OnActionBarTriggered(nullptr, "configure_user_groups");
    mp_list->OnActionBarTriggered(nullptr, "configure_user_groups");
    mp_list->OnActionBarTriggered(nullptr, "manual_add_user");
    mp_list->OnActionBarTriggered(nullptr, "manual_add_user");
    QCOMPARE(mp_list->findChildren<UserGroupConfigDialog*>().size(), 1);
    QCOMPARE(mp_list->findChildren<AddUserDialog*>().size(), 2);
    qDeleteAll(mp_list->findChildren<QDialog*>());
    QVERIFY(!userGroupConfigDialog);
}

void TestUserForms::addUserDialog()
{
    AddUserDialog l_first;
    AddUserDialog l_second;
    struct Refusal
    {
        char const* m_typed;
        char const* m_status;
    };
    for (Refusal const& l_case : {Refusal{"", "User name must not be empty."},
                                  Refusal{"   ", "User name must not be empty."},
                                  Refusal{" bob ", "User already in list."}})
    {
        l_first.userNameEdit->setText(l_case.m_typed);
        l_first.addFriendButton->click();
        QCOMPARE(l_first.statusEdit->text(), QString(l_case.m_status));
    }
    QVERIFY(!d["user"]->HasItem(Value("   ")));
    m_env.fake().ClearFrames();
    for (AddUserDialog* lp_dialog : {&l_first, &l_second})
    {
        lp_dialog->userNameEdit->setText("  newbie ");
        lp_dialog->addFriendButton->click();
        QCOMPARE(lp_dialog->statusEdit->text(), QStringLiteral("Adding user..."));
        QVERIFY(lp_dialog->userNameEdit->isReadOnly() && !lp_dialog->addFriendButton->isEnabled());
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_env.fake().FramesWithCode(5).size(), 2, 2000);
    QCOMPARE(m_env.fake().FramesWithCode(5).first().Fields(), Text("newbie"));
    // Another letter case is another user.
    m_env.fake().Send(AddUserAnswer("Newbie", true));
    m_env.fake().Idle(100);
    QCOMPARE(l_first.PendingUser(), QStringLiteral("newbie"));
    m_env.fake().Send(AddUserAnswer("newbie", true));
    QTRY_VERIFY_WITH_TIMEOUT(l_second.PendingUser().isEmpty(), 2000);
    for (AddUserDialog* lp_dialog : {&l_first, &l_second})
    {
        QCOMPARE(lp_dialog->statusEdit->text(), QStringLiteral("User added to list."));
        QCOMPARE(lp_dialog->userNameEdit->text(), QStringLiteral("  newbie "));
        QVERIFY(!lp_dialog->userNameEdit->isReadOnly() && lp_dialog->addFriendButton->isEnabled());
    }
    QCOMPARE(mp_list->userList->findItems("newbie", Qt::MatchExactly).size(), 1);
    QVERIFY(!User("Newbie").IsConnected("in_user_list"));
    // The list's tracking asks once more.
    QTRY_COMPARE_WITH_TIMEOUT(m_env.fake().FramesWithCode(5).size(), 3, 2000);

    l_first.userNameEdit->setText("ghost");
    l_first.addFriendButton->click();
    m_env.fake().Send(AddUserAnswer("ghost", false));
    QTRY_COMPARE_WITH_TIMEOUT(l_first.statusEdit->text(), QStringLiteral("User name does not exist."), 2000);
    QVERIFY(!User("ghost").IsConnected("in_user_list"));

    gp_server->Disconnect();
    l_first.userNameEdit->setText("bob");
    l_first.addFriendButton->click();
    QCOMPARE(l_first.statusEdit->text(), QStringLiteral("Must be online to add a user to your list."));
}

void TestUserForms::groupDialogs()
{
    ItemPtr const l_gus = User("gus");
    ItemPtr const l_listed = l_gus.NewItem("in_user_list");
    auto* const lp_groups = new UserGroupsDialog("gus");
    auto* const lp_config = new UserGroupConfigDialog();
    QCOMPARE(lp_groups->windowTitle(), QStringLiteral("User Groups for [gus]"));
    int const l_rows = lp_groups->groupListWidget->count();
    for (char const* lp_typed : {"  Team ", "Team", "   ", "team"})
    {
        lp_groups->newGroupEdit->setText(lp_typed);
        lp_groups->newGroupButton->click();
        QVERIFY(lp_groups->newGroupEdit->text().isEmpty());
    }
    QCOMPARE(lp_groups->groupListWidget->count(), l_rows + 2);
    QCOMPARE(lp_config->groupList->count(), l_rows + 2);
    QListWidgetItem* const lp_team = lp_groups->groupListWidget->findItems("Team", Qt::MatchExactly).first();
    QCOMPARE(lp_team->checkState(), Qt::Unchecked);
    ItemPtr const l_team = d["user_list_group"]->HasItem(Value("Team"));
    lp_team->setCheckState(Qt::Checked);
    QVERIFY(l_listed.IsConnected(l_team));
    QCOMPARE(Lines(mp_list->userList).filter("gus"), QStringList{"gus|Team"});
    lp_team->setCheckState(Qt::Unchecked);
    QVERIFY(!l_listed.IsConnected(l_team));

    // Priority and accepted uploads of the selected group.
    QVERIFY(!lp_config->prioritySpinBox->isEnabled());
    lp_config->groupList->setCurrentItem(lp_config->groupList->findItems("Team", Qt::MatchExactly).first());
    QCOMPARE(lp_config->groupBox->title(), QStringLiteral("Team"));
    QStringList l_priorities;
    for (int l_value : {5, 7, 0})
    {
        lp_config->prioritySpinBox->setValue(l_value);
        l_priorities << QString::number(l_team.GetItems("group_download_priority").size()) + ":" +
                            l_team["group_download_priority"].AsString();
    }
    QCOMPARE(l_priorities, (QStringList{"1:5", "1:7", "0:"}));
    lp_config->acceptUploadsCheckBox->setChecked(true);
    QVERIFY(l_team.IsConnected("accept_uploads"));
    lp_config->acceptUploadsCheckBox->setChecked(false);
    QVERIFY(!l_team.IsConnected("accept_uploads"));

    // Deleting: No is the default; a group removed while the box is open stays gone.
    lp_team->setCheckState(Qt::Checked);
    lp_config->prioritySpinBox->setValue(3);
    AnswerBox(QMessageBox::NoButton);
    lp_config->OnDeleteClicked();
    QVERIFY(d["user_list_group"]->HasItem(Value("Team")));
    AnswerBox(QMessageBox::Yes);
    lp_config->OnDeleteClicked();
    QVERIFY(!d["user_list_group"]->HasItem(Value("Team")));
    QVERIFY(l_listed.GetItems("user_list_group").empty());
    QCOMPARE(Lines(mp_list->userList).filter("gus"), QStringList{"gus"});
    QVERIFY(lp_config->groupList->findItems("Team", Qt::MatchExactly).isEmpty());
    QCOMPARE(lp_groups->groupListWidget->findItems("Team", Qt::MatchExactly).size(), 1);
    lp_config->groupList->setCurrentItem(lp_config->groupList->findItems("team", Qt::MatchExactly).first());
    AnswerBox(QMessageBox::Yes, [] { d["user_list_group"]->HasItem(Value("team")).Remove(); });
    lp_config->OnDeleteClicked();
    QVERIFY(!d["user_list_group"]->HasItem(Value("team")));

    // Unticking a deleted group does not bring it back.
    lp_team->setCheckState(Qt::Unchecked);
    QVERIFY(!d["user_list_group"]->HasItem(Value("Team")));
    // A tick after the user left the list puts nobody back in it.
    l_gus.Disconnect("in_user_list");
    lp_groups->groupListWidget->findItems("Alpha", Qt::MatchExactly).first()->setCheckState(Qt::Checked);
    QVERIFY(!l_gus.IsConnected("in_user_list"));
    delete lp_groups;
    delete lp_config;
    QVERIFY(!userGroupConfigDialog);
}

void TestUserForms::sharedFolderDialog()
{
    QTemporaryDir l_dir;
    QString const l_path = l_dir.path() + "/music";
    QVERIFY(TransferTestEnv::WriteFile(l_path + "/a.mp3", "a"));
    ItemPtr const l_crew = d["user_list_group"]->GetItem(Value("crew"));
    User("hal").NewItem("in_user_list") += l_crew;

    // The enabling rules of a new folder.
    auto* const lp_new = new AddSharedFolderDialog(ItemPtr());
    lp_new->show();
    QCOMPARE(lp_new->windowTitle(), QStringLiteral("Add Shared Folder"));
    auto l_state = [lp_new] {
        return QString("%1%2%3%4%5").arg(int(lp_new->everyoneCheckBox->isChecked()))
            .arg(int(lp_new->userListCheckBox->isChecked())).arg(int(lp_new->userListCheckBox->isEnabled()))
            .arg(int(lp_new->groupsListWidget->isEnabled())).arg(int(lp_new->groupsListWidget->count() > 0));
    };
    QCOMPARE(l_state(), QStringLiteral("11001"));
    lp_new->everyoneCheckBox->setChecked(false);
    QCOMPARE(l_state(), QStringLiteral("01101"));
    lp_new->userListCheckBox->setChecked(false);
    QCOMPARE(l_state(), QStringLiteral("00111"));
    lp_new->everyoneCheckBox->setChecked(true);
    QCOMPARE(l_state(), QStringLiteral("11001"));
    // OK without a folder stays open.
    lp_new->accept();
    QVERIFY(lp_new->isVisible());
    lp_new->selectedFolderEdit->setText(l_path);
    QPointer<AddSharedFolderDialog> lp_watch(lp_new);
    lp_new->accept();
    QTRY_VERIFY_WITH_TIMEOUT(!lp_watch, 1000);
    ItemPtr const l_folder = d["shared_folder"]->HasItem(Value(l_path));
    QVERIFY(l_folder && l_folder.IsConnected("shared_public") && !l_folder.IsConnected("shared_userlist"));

    // Editing: the three branches of OK.
    struct Case
    {
        bool m_everyone;
        bool m_userList;
        bool m_crew;
        char const* m_stored;
    };
    l_folder.NewItem("shared_userlist");
    for (Case const& l_case : {Case{true, true, false, "public userlist"}, Case{false, true, true, "userlist"},
                               Case{false, false, true, "crew"}, Case{false, false, false, ""}})
    {
        auto* const lp_edit = new AddSharedFolderDialog(l_folder);
        QVERIFY(!lp_edit->selectFolderButton->isEnabled());
        lp_edit->everyoneCheckBox->setChecked(l_case.m_everyone);
        lp_edit->userListCheckBox->setChecked(l_case.m_userList);
        lp_edit->groupsListWidget->findItems("crew", Qt::MatchExactly).first()->setCheckState(
            l_case.m_crew ? Qt::Checked : Qt::Unchecked);
        lp_edit->accept();
        QStringList l_stored;
        if (l_folder.IsConnected("shared_public"))
            l_stored << "public";
        if (l_folder.IsConnected("shared_userlist"))
            l_stored << "userlist";
        if (l_folder.IsConnected(l_crew))
            l_stored << "crew";
        QCOMPARE(l_stored.join(" "), QString(l_case.m_stored));
        delete lp_edit;
    }
    // Shared with the group: its member sees the folder, another user does not.
    l_folder += l_crew;
    for (auto const& [l_user, l_sees] : {std::pair{"hal", true}, std::pair{"ivy", false}})
    {
        FileInfoMap l_share;
        AttributeTranslationTable l_table;
        sharedFoldersManager->GetSharedFilesAsUserShare(l_user, l_share, l_table);
        QCOMPARE(!l_share.empty(), l_sees);
    }
    // A group deleted while the dialog is open stays deleted, ticked or not.
    d["user_list_group"]->GetItem(Value("gone"));
    auto* const lp_groups = new AddSharedFolderDialog(l_folder);
    lp_groups->everyoneCheckBox->setChecked(false);
    lp_groups->userListCheckBox->setChecked(false);
    lp_groups->groupsListWidget->findItems("gone", Qt::MatchExactly).first()->setCheckState(Qt::Checked);
    d["user_list_group"]->HasItem(Value("gone")).Remove();
    lp_groups->accept();
    QVERIFY(!d["user_list_group"]->HasItem(Value("gone")) && l_folder.IsConnected(l_crew));
    delete lp_groups;
    // Unshared while its dialog is open: OK changes nothing and closes.
    auto* const lp_gone = new AddSharedFolderDialog(l_folder);
    lp_gone->everyoneCheckBox->setChecked(true);
    l_folder.Remove();
    std::size_t const l_folders = Count("shared_folder");
    lp_gone->accept();
    QCOMPARE(Count("shared_folder"), l_folders);
    QVERIFY(!d["shared_folder"]->HasItem(Value(l_path)));
    delete lp_gone;

    SharedFilesRescannedDialog l_report;
    l_report.Append("0 files added.");
    l_report.Append("0 files removed.");
    QCOMPARE(l_report.plainTextEdit->toPlainText(), QStringLiteral("0 files added.\n0 files removed."));
}

QTEST_MAIN(TestUserForms)
#include "tst_user_forms.moc"
