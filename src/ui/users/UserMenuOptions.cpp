#include "ui/users/UserMenuOptions.h"

#include "net/server/Server.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "transfers/TransferQueueManager.h"
#include "ui/chat/RoomForm.h"
#include "ui/chat/UserNoteDialog.h"
#include "ui/dialogs/ItemLogDialog.h"
#include "ui/users/SharesForm.h"
#include "ui/users/UserGroupsDialog.h"
#include "widgets/ApplicationWindow.h"

#include <QAction>
#include <QIcon>

namespace
{
QAction* AddEntry(QMenu* ip_menu, QString const& i_text, char const* ip_icon, QString const& i_data)
{
    QAction* const lp_action =
        ip_icon ? ip_menu->addAction(QIcon(QString::fromLatin1(ip_icon)), i_text) : ip_menu->addAction(i_text);
    lp_action->setData(i_data);
    return lp_action;
}

void OpenGroupsDialog(QString const& i_user)
{
    (new UserGroupsDialog(i_user, applicationWindow ? applicationWindow->WindowWidget() : nullptr))
        ->show();
}
} // namespace

UserMenuOptions::UserMenuOptions(QMenu* ip_menu, QString i_user, QObject* ip_parent)
    : QObject(ip_parent), m_user(i_user)
{
    if (!ip_menu->actions().isEmpty())
        ip_menu->addSeparator();
    ItemPtr const l_user = d["user"]->GetItem(Value(m_user));
    auto const l_add = [&](QString const& i_text, char const* ip_icon, void (UserMenuOptions::*ip_slot)()) {
        connect(AddEntry(ip_menu, i_text, ip_icon, m_user), &QAction::triggered, this, ip_slot);
    };
    l_add(tr("Message user"), ":/icons/chat_icon", &UserMenuOptions::OnMessageUser);
    if (l_user.IsConnected("in_user_list"))
    {
        l_add(tr("Set user's groups"), ":/icons/users_icon", &UserMenuOptions::OnSetUserGroups);
        l_add(tr("Remove user from list"), ":/icons/remove_user_icon", &UserMenuOptions::OnRemoveUser);
    }
    else
        l_add(tr("Add user to list"), ":/icons/add_user_icon", &UserMenuOptions::OnAddUser);
    l_add(tr("Browse user's files"), ":/icons/browse_icon", &UserMenuOptions::OnBrowseUser);
    l_add(tr("Upload to user"), ":/icons/browse_icon", &UserMenuOptions::OnUploadToUser);
    // Forms built without the main window have no note type.
    bool const l_hasNote = d.HasType("user_note") && l_user.IsConnected("user_note");
    l_add(l_hasNote ? tr("Edit user note") : tr("Add user note"),
          ":/icons/note_icon", &UserMenuOptions::OnUserNote);
    ip_menu->addSeparator();
    if (l_user.IsConnected("unshared"))
        l_add(tr("Re-share files with user"), ":/icons/browse_icon", &UserMenuOptions::OnReshareFilesWithUser);
    else
        l_add(tr("Unshare files from user"), ":/icons/browse_icon", &UserMenuOptions::OnUnshareFilesFromUser);
    if (l_user.IsConnected("is_ignored"))
        l_add(tr("Receive chat from user"), ":/icons/chat_icon", &UserMenuOptions::OnUnignoreUser);
    else
        l_add(tr("Ignore chat from user"), ":/icons/chat_icon", &UserMenuOptions::OnIgnoreUser);

    ItemSet const l_rooms = d["room"]->GetItems();
    ItemList const l_owned = l_rooms.Connected("is_owner").SortAlphabetic(true);
    ItemList const l_operated = l_rooms.Connected("is_operator").SortAlphabetic(true);
    if (l_owned.empty() && l_operated.empty())
        return;
    ip_menu->addSeparator();
    QMenu* const lp_rooms = ip_menu->addMenu(tr("Private Rooms"));
    auto const l_addRoom = [&](QMenu* ip_sub, QString const& i_text, QString const& i_room,
                               void (UserMenuOptions::*ip_slot)()) {
        connect(AddEntry(ip_sub, i_text, nullptr, i_room), &QAction::triggered, this, ip_slot);
    };
    auto const l_membership = [&](QMenu* ip_sub, QString const& i_room, bool i_member) {
        if (i_member)
            l_addRoom(ip_sub, tr("Remove User's Membership"), i_room, &UserMenuOptions::OnRemoveUserMembership);
        else
            l_addRoom(ip_sub, tr("Give User Membership"), i_room, &UserMenuOptions::OnAddUserMembership);
    };
    for (ItemPtr const& l_room : l_owned)
    {
        QString const l_name = l_room.AsString();
        QMenu* const lp_sub =
            lp_rooms->addMenu(QIcon(QStringLiteral(":/icons/chat_icon")), EscapeMnemonics(l_name));
        QFont l_font = lp_sub->menuAction()->font();
        l_font.setWeight(QFont::Bold);
        l_font.setUnderline(true);
        lp_sub->menuAction()->setFont(l_font);
        bool const l_member = l_user.IsConnected(l_room.NewItem("room_members"));
        bool const l_operator = l_user.IsConnected(l_room.NewItem("room_operators"));
        l_membership(lp_sub, l_name, l_member);
        if (l_member && !l_operator)
        {
            lp_sub->addSeparator();
            l_addRoom(lp_sub, tr("Make User Operator"), l_name, &UserMenuOptions::OnAddUserOperatorship);
        }
        if (l_operator)
        {
            lp_sub->addSeparator();
            l_addRoom(lp_sub, tr("Remove User's Operator Status"), l_name,
                      &UserMenuOptions::OnRemoveUserOperatorship);
        }
    }
    for (ItemPtr const& l_room : l_operated)
    {
        if (l_room.IsConnected("is_owner"))
            continue;
        QString const l_name = l_room.AsString();
        QMenu* const lp_sub = lp_rooms->addMenu(EscapeMnemonics(l_name));
        l_membership(lp_sub, l_name, l_user.IsConnected(l_room.NewItem("room_members")));
    }
}

UserMenuOptions::~UserMenuOptions() = default;

QString UserMenuOptions::SenderData() const
{
    QAction const* const lp_action = qobject_cast<QAction const*>(sender());
    return lp_action ? lp_action->data().toString() : m_user;
}

void UserMenuOptions::OnMessageUser()
{
    if (applicationWindow)
        applicationWindow->OpenChatForm(SenderData());
}

void UserMenuOptions::OnSetUserGroups()
{
    OpenGroupsDialog(SenderData());
}

void UserMenuOptions::OnAddUser()
{
    // No question to the server: the add-user dialog is the path that checks existence.
    QString const l_user = SenderData();
    d["user"]->GetItem(Value(l_user)).NewItem("in_user_list");
    OpenGroupsDialog(l_user);
}

void UserMenuOptions::OnRemoveUser()
{
    // The entry goes as a whole: left behind, it would keep its groups and be saved with
    // them at every save.
    if (ItemPtr const l_entry = d["user"]->HasItem(Value(SenderData()))["in_user_list"])
        l_entry.Remove();
}

void UserMenuOptions::OnBrowseUser()
{
    if (sharesForm)
        sharesForm->OpenShareBrowse(SenderData());
}

void UserMenuOptions::OnUploadToUser()
{
    if (sharesForm)
        sharesForm->OpenUploadBrowse(SenderData());
}

void UserMenuOptions::OnUserLog()
{
    (new ItemLogDialog(d["user"]->GetItem(Value(SenderData())), nullptr))->show();
}

void UserMenuOptions::OnUnshareFilesFromUser()
{
    if (transferQueueManager)
        transferQueueManager->UnshareUser(SenderData());
}

void UserMenuOptions::OnReshareFilesWithUser()
{
    if (transferQueueManager)
        transferQueueManager->ReshareUser(SenderData());
}

void UserMenuOptions::OnIgnoreUser()
{
    d["user"]->GetItem(Value(SenderData())) += d["is_ignored"]->GetGlobalNullItem();
}

void UserMenuOptions::OnUnignoreUser()
{
    d["user"]->GetItem(Value(SenderData())).Disconnect("is_ignored");
}

void UserMenuOptions::OnAddUserMembership()
{
    QString const l_room = SenderData();
    if (RoomForm::RequireConnection(l_room, m_user + QStringLiteral(" not given membership.")))
        gp_server->AddPrivateRoomMember(l_room, m_user);
}

void UserMenuOptions::OnRemoveUserMembership()
{
    QString const l_room = SenderData();
    if (RoomForm::RequireConnection(l_room, m_user + QStringLiteral("'s membership not removed.")))
        gp_server->RemovePrivateRoomMember(l_room, m_user);
}

void UserMenuOptions::OnAddUserOperatorship()
{
    QString const l_room = SenderData();
    if (RoomForm::RequireConnection(l_room, m_user + QStringLiteral(" not made operator.")))
        gp_server->AddPrivateRoomOperator(l_room, m_user);
}

void UserMenuOptions::OnRemoveUserOperatorship()
{
    QString const l_room = SenderData();
    if (RoomForm::RequireConnection(l_room,
                                    m_user + QStringLiteral("'s operator status not removed.")))
        gp_server->RemovePrivateRoomOperator(l_room, m_user);
}

void UserMenuOptions::OnUserNote()
{
    if (UserNoteDialog* const lp_dialog = UserNoteDialog::GetDialog(m_user))
        lp_dialog->show();
}
