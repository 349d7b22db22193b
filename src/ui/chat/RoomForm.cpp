#include "ui/chat/RoomForm.h"

#include "ui/chat/CountryFlags.h"
#include "ui/chat/QRoomUserListItemWidget.h"
#include "ui/chat/UserNoteDialog.h"
#include "ui/users/UserMenuOptions.h"

#include "net/server/Server.h"
#include "store/GeneralFunctions.h"
#include "store/TimerManager.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/SizeManager.h"
#include "widgets/UIFunctions.h"

#include <QDesktopServices>
#include <QFont>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QSplitter>
#include <QTextBrowser>
#include <QTime>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>
#include <utility>

namespace
{
QString const c_noteIcon = QStringLiteral(":/icons/note_icon");
QString const c_autojoinAction = QStringLiteral("toggle_room_autojoin");

// The connected item of the type (the first, as ItemPtr::operator[] gives it), or null.
ItemPtr Attribute(ItemPtr i_item, Type* ip_type)
{
    if (!i_item)
        return ItemPtr();
    ItemRange const l_items = i_item->ConnectedItemsOf(ip_type);
    return l_items ? ItemPtr(l_items.First()) : ItemPtr();
}

QString AutojoinText(bool i_on)
{
    return i_on ? QStringLiteral("Auto-Join Room [on]") : QStringLiteral("Auto-Join Room [off]");
}
} // namespace

RoomForm::RoomForm(QString i_room, QWidget* ip_parent)
    : QWidget(ip_parent), m_room(i_room), m_lines(ChatLogKind::Room, i_room), m_leftRoom(false)
{
    SetupUi();
    m_lines.SetView(chatView);

    userList->setHeaderLabels({QString(), QString(), QStringLiteral("User"), QString(),
                               QStringLiteral("Files"), QStringLiteral("K/s")});
    int const l_widths[] = {20, 25, 90, 25, 50, 40};
    for (int l_column = 0; l_column < 6; ++l_column)
        userList->setColumnWidth(l_column, l_widths[l_column]);
    userList->sortByColumn(QRoomUserListItemWidget::ColumnUser, Qt::AscendingOrder);
    userList->header()->setStretchLastSection(true);
    userList->headerItem()->setIcon(QRoomUserListItemWidget::ColumnNote, QIcon(c_noteIcon));

    m_types = {d["user"], d["user_count"], d["room_owner"], d["room_operators"],
               d["country_code"], d["shared_files_count"], d["average_download_speed"], d["user_note"]};
    m_roomItem = (*d["room"])[Value(m_room)];
    m_roomItem += (*d["room_form"])[Value(this)];
    RegisterPathHandlers();
    if (gp_server) {
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);
        connect(gp_server, &Server::Connected, this, &RoomForm::OnConnected);
        connect(gp_server, &Server::Disconnected, this, &RoomForm::OnDisconnected);
    }

    if (actionBar) {
        actionBar->RegisterWidget(this, QStringLiteral("room"));
        actionBar->AddWidgetKey(this, QStringLiteral("room"), m_room);
        actionBar->SetWidgetActionText(this, c_autojoinAction, AutojoinText(m_roomItem.IsConnected("room_autojoin")));
        bool const l_owner = m_roomItem.IsConnected("is_owner");
        actionBar->SetWidgetActionHidden(this, QStringLiteral("give_up_membership"),
                                         !(m_roomItem.IsConnected("is_member") && !l_owner));
        actionBar->SetWidgetActionHidden(this, QStringLiteral("give_up_ownership"), !l_owner);
    }

    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &RoomForm::CheckChatInactivity);
}

QRoomUserListItemWidget* RoomForm::UserRow(QString const& i_user) const
{
    return m_rows.value(d["user"]->HasItem(Value(i_user)).GetPtr());
}

RoomForm::~RoomForm()
{
    RemoveDataHandlers();
    qDeleteAll(m_queuedRows);
    if (ItemPtr const l_node = d["room_form"]->HasItem(Value(this)))
        l_node.Remove();
    // At shut-down the server connection goes before the tabs; a room the server already
    // left is not left twice.
    if (!m_leftRoom && !g_showIsOver && gp_server)
        gp_server->LeaveRoom(m_room);
}

void RoomForm::SetupUi()
{
    setWindowTitle(QStringLiteral("Form"));
    resize(748, 436);
    verticalLayout_2 = new QVBoxLayout(this);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("splitter"));
    layoutWidget = new QWidget(splitter);
    layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
    verticalLayout = new QVBoxLayout(layoutWidget);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(0, 0, 0, 0);
    chatView = new QTextBrowser(layoutWidget);
    chatView->setObjectName(QStringLiteral("chatView"));
    chatView->setOpenLinks(false);
    chatView->setOpenExternalLinks(false);
    verticalLayout->addWidget(chatView);
    chatEdit = new QLineEdit(layoutWidget);
    chatEdit->setObjectName(QStringLiteral("chatEdit"));
    verticalLayout->addWidget(chatEdit);
    splitter->addWidget(layoutWidget);
    userList = new QTreeWidget(splitter);
    userList->setObjectName(QStringLiteral("userList"));
    userList->setContextMenuPolicy(Qt::CustomContextMenu);
    userList->setSortingEnabled(true);
    userList->setRootIsDecorated(false);
    // Every row is one line high; the view then need not measure each of thousands.
    userList->setUniformRowHeights(true);
    splitter->addWidget(userList);
    verticalLayout_2->addWidget(splitter);

    splitter->setSizes({280, 280});
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);

    connect(userList, &QTreeWidget::itemClicked, this, &RoomForm::OnUserItemClicked);
    connect(chatEdit, &QLineEdit::returnPressed, this, &RoomForm::OnEnterPressed);
    connect(userList, &QWidget::customContextMenuRequested, this, &RoomForm::OnUserListContextMenuRequested);
    connect(chatView, &QTextBrowser::anchorClicked, this, &RoomForm::OnURLClicked);
}

void RoomForm::RegisterPathHandlers()
{
    // A member is listed once the server has given all three of its attributes.
    PathNode* const lp_added = new PathNode(&d, "user");
    new PathNode(lp_added, m_roomItem, PathConnected);
    new PathNode(lp_added, "average_download_speed", PathConnected);
    new PathNode(lp_added, "shared_files_count", PathConnected);
    new PathNode(lp_added, "country_code", PathConnected);
    d.AddPathEventHandler(lp_added, CreateHandler(this, &RoomForm::OnUserAdded));

    PathNode* const lp_removed = new PathNode(&d, "user");
    new PathNode(lp_removed, m_roomItem, PathDisconnecting);
    d.AddPathEventHandler(lp_removed, CreateHandler(this, &RoomForm::OnUserRemoved));

    PathNode* const lp_operatorAdded = new PathNode(&d, "user");
    new PathNode(new PathNode(lp_operatorAdded, "room_operators", PathConnected), m_roomItem, PathConnected);
    d.AddPathEventHandler(lp_operatorAdded, CreateHandler(this, &RoomForm::OnOperatorAdded));

    PathNode* const lp_operatorRemoved = new PathNode(&d, "user");
    new PathNode(new PathNode(lp_operatorRemoved, "room_operators", PathDisconnecting), m_roomItem, PathConnected);
    d.AddPathEventHandler(lp_operatorRemoved, CreateHandler(this, &RoomForm::OnOperatorRemoved));

    PathNode* const lp_left = new PathNode(m_roomItem);
    new PathNode(lp_left, "in_room", PathDisconnecting);
    d.AddPathEventHandler(lp_left, CreateHandler(this, &RoomForm::OnLeftRoom));

    PathNode* const lp_autojoinOn = new PathNode(m_roomItem);
    new PathNode(lp_autojoinOn, "room_autojoin", PathConnecting);
    d.AddPathEventHandler(lp_autojoinOn, CreateHandler(this, &RoomForm::OnRoomAutojoinOn));

    PathNode* const lp_autojoinOff = new PathNode(m_roomItem);
    new PathNode(lp_autojoinOff, "room_autojoin", PathDisconnecting);
    d.AddPathEventHandler(lp_autojoinOff, CreateHandler(this, &RoomForm::OnRoomAutojoinOff));

    PathNode* const lp_noteChanged = new PathNode(&d, "user");
    new PathNode(lp_noteChanged, "user_note", PathConnecting);
    d.AddPathEventHandler(lp_noteChanged, CreateHandler(this, &RoomForm::OnUserNoteChanged));

    PathNode* const lp_noteRemoved = new PathNode(&d, "user");
    new PathNode(lp_noteRemoved, "user_note", PathDisconnecting);
    d.AddPathEventHandler(lp_noteRemoved, CreateHandler(this, &RoomForm::OnUserNoteRemoved));
}

void RoomForm::Init()
{
    if (sizeManager) {
        sizeManager->RegisterSplitter(QStringLiteral("room_splitter"), splitter, {});
        sizeManager->RegisterTreeWidget(QStringLiteral("room_user_list"), userList);
    }
    RegisterWidgetForTabFocus(chatEdit, 1);
}

void RoomForm::OnRoomChat(QString i_room, QString i_user, QString i_chat)
{
    if (i_room != m_room)
        return;
    m_lines.AddChat(i_user, i_chat);
}

void RoomForm::AddStatusMessage(QString i_message)
{
    m_lines.AddStatusMessage(i_message);
}

bool RoomForm::RequireConnection(QString const& i_room, QString const& i_notice)
{
    if (gp_server && gp_server->IsConnected())
        return true;
    QString const l_text = QStringLiteral("Not connected: ") + i_notice;
    ItemPtr const l_room = d.HasType("room_form") ? d["room"]->HasItem(Value(i_room)) : ItemPtr();
    if (RoomForm* const lp_form = l_room["room_form"].AsPtr<RoomForm>())
        lp_form->AddStatusMessage(l_text);
    else
    {
        QMessageBox l_box(QMessageBox::Information, QStringLiteral("Not connected"), l_text);
        // Room and user names come from the server.
        l_box.setTextFormat(Qt::PlainText);
        l_box.exec();
    }
    return false;
}

void RoomForm::LogChat(QString i_line)
{
    m_lines.LogChat(i_line);
}

void RoomForm::CheckChatInactivity()
{
    m_lines.CheckChatInactivity();
}

void RoomForm::OnURLClicked(QUrl i_url)
{
    QDesktopServices::openUrl(i_url);
}

void RoomForm::OnUserAdded(ItemPtr i_user)
{
    if (m_rows.isEmpty())
        m_rows.reserve(static_cast<qsizetype>(m_roomItem->ConnectedItemsOf(m_types.user).size()));
    // Later changes of a listed member fire the pattern again; the row stays as it is.
    QRoomUserListItemWidget*& lp_slot = m_rows[i_user.GetPtr()];
    if (lp_slot)
        return;

    QString const l_name = i_user.AsString();
    // Filled before it joins the sorted list, so the list places it once.
    QRoomUserListItemWidget* const lp_row = new QRoomUserListItemWidget(nullptr);
    lp_row->setText(QRoomUserListItemWidget::ColumnUser, l_name);
    // Only a private room has an owner and operators; the nodes are the room's own.
    ItemPtr const l_owner = Attribute(m_roomItem, m_types.roomOwner);
    ItemPtr const l_operators = Attribute(m_roomItem, m_types.roomOperators);
    bool const l_isOwner = l_owner.IsConnected(i_user);
    if (l_isOwner || l_operators.IsConnected(i_user)) {
        QFont l_font = lp_row->font(QRoomUserListItemWidget::ColumnUser);
        l_font.setWeight(QFont::Bold);
        l_font.setUnderline(l_isOwner);
        lp_row->setFont(QRoomUserListItemWidget::ColumnUser, l_font);
    }
    QString const l_country = Attribute(i_user, m_types.countryCode).AsString();
    if (!l_country.isEmpty())
        lp_row->setIcon(QRoomUserListItemWidget::ColumnFlag, CountryFlags::Icon(l_country));
    // An empty cell is left unset: the text reads as empty all the same.
    QString const l_files = CommafyNumber(Attribute(i_user, m_types.sharedFiles).AsInt64());
    if (!l_files.isEmpty())
        lp_row->setText(QRoomUserListItemWidget::ColumnFiles, l_files);
    long long const l_speed = Attribute(i_user, m_types.speed).AsInt64();
    if (l_speed != 0)
        lp_row->setText(QRoomUserListItemWidget::ColumnSpeed, QString::number(l_speed / 1024.0, 'f', 1));
    if (i_user.IsConnected(m_types.userNote))
        lp_row->setIcon(QRoomUserListItemWidget::ColumnNote, QIcon(c_noteIcon));
    QueueRow(lp_row);
    lp_slot = lp_row;
    UpdateUserCount();
}

void RoomForm::QueueRow(QRoomUserListItemWidget* ip_row)
{
    if (m_queuedRows.isEmpty())
    {
        // The call may come after the form is gone.
        struct Insertion
        {
            QPointer<RoomForm> mp_form;
        };
        StoreOperation::DeferCall(
            [](void* ip_insertion)
            {
                std::unique_ptr<Insertion> const lp_insertion(
                    static_cast<Insertion*>(ip_insertion));
                if (lp_insertion->mp_form)
                    lp_insertion->mp_form->InsertQueuedRows();
            },
            new Insertion{this});
    }
    m_queuedRows.append(ip_row);
}

void RoomForm::InsertQueuedRows()
{
    QList<QTreeWidgetItem*> const l_rows = std::exchange(m_queuedRows, {});
    // A sorted list takes rows one at a time, each with its own notice to the view, and
    // sorts them later. A room join brings thousands: they go in at once into the
    // unsorted list, which sorts them when sorting is turned on again. Few rows go in
    // the usual way, so that a run of single joins does not sort the list for each.
    constexpr qsizetype c_fewRows = 64;
    if (l_rows.size() < c_fewRows || !userList->isSortingEnabled())
    {
        userList->addTopLevelItems(l_rows);
        return;
    }
    userList->setSortingEnabled(false);
    userList->addTopLevelItems(l_rows);
    userList->setSortingEnabled(true);
}

void RoomForm::OnUserRemoved(ItemPtr i_user)
{
    QRoomUserListItemWidget* const lp_row = m_rows.take(i_user.GetPtr());
    if (!lp_row)
        return;
    m_queuedRows.removeOne(lp_row);
    delete lp_row;
    UpdateUserCount();
}

void RoomForm::UpdateUserCount()
{
    qint64 const l_count = static_cast<qint64>(m_roomItem->ConnectedItemsOf(m_types.user).size());
    // A join links every member before the first row is made, so the count is mostly
    // the one this form wrote last, still in place.
    ItemPtr const l_current = Attribute(m_roomItem, m_types.userCount);
    if (l_current && l_current == m_lastCountItem && l_count == m_lastCount)
        return;
    m_lastCountItem = m_roomItem += (*m_types.userCount)[Value(l_count)];
    m_lastCount = l_count;
}

void RoomForm::SetNameWeight(ItemPtr i_user, bool i_bold)
{
    QRoomUserListItemWidget* const lp_row = m_rows.value(i_user.GetPtr());
    if (!lp_row)
        return;
    QFont l_font = lp_row->font(QRoomUserListItemWidget::ColumnUser);
    l_font.setWeight(i_bold ? QFont::Bold : QFont::Normal);
    lp_row->setFont(QRoomUserListItemWidget::ColumnUser, l_font);
}

void RoomForm::OnOperatorAdded(ItemPtr i_user)
{
    SetNameWeight(i_user, true);
}

void RoomForm::OnOperatorRemoved(ItemPtr i_user)
{
    SetNameWeight(i_user, false);
}

void RoomForm::SetNoteIcon(ItemPtr i_user, bool i_hasNote)
{
    if (QRoomUserListItemWidget* const lp_row = m_rows.value(i_user.GetPtr()))
        lp_row->setIcon(QRoomUserListItemWidget::ColumnNote, i_hasNote ? QIcon(c_noteIcon) : QIcon());
}

void RoomForm::OnUserNoteChanged(ItemPtr i_user)
{
    SetNoteIcon(i_user, true);
}

void RoomForm::OnUserNoteRemoved(ItemPtr i_user)
{
    SetNoteIcon(i_user, false);
}

void RoomForm::OnRoomAutojoinOn(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, c_autojoinAction, AutojoinText(true));
}

void RoomForm::OnRoomAutojoinOff(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, c_autojoinAction, AutojoinText(false));
}

void RoomForm::OnLeftRoom(ItemPtr)
{
    m_leftRoom = true;
    // The store skips the handlers this deletion marks removed, so going now is safe.
    delete this;
}

void RoomForm::OnEnterPressed()
{
    QString const l_text = chatEdit->text();
    if (l_text.isEmpty())
        return;
    if (gp_server)
        gp_server->SendRoomChat(m_room, l_text);
    chatEdit->clear();
}

void RoomForm::OnConnected()
{
    AddStatusMessage(QStringLiteral("Reconnected at %1.").arg(ChatLines::ShortTime(QDateTime::currentDateTime())));
    if (gp_server)
        gp_server->EnterRoom(m_room, false);
}

void RoomForm::OnDisconnected()
{
    AddStatusMessage(QStringLiteral("Disconnected at %1.").arg(ChatLines::ShortTime(QDateTime::currentDateTime())));
}

void RoomForm::OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (!ip_item || i_column != QRoomUserListItemWidget::ColumnNote)
        return;
    QString const l_name = ip_item->text(QRoomUserListItemWidget::ColumnUser);
    ItemPtr const l_user = d["user"]->HasItem(Value(l_name));
    if (l_user.IsConnected("user_note"))
        UserNoteDialog::GetDialog(l_name)->show();
}

void RoomForm::OnUserListContextMenuRequested(QPoint i_point)
{
    QTreeWidgetItem* const lp_row = userList->itemAt(i_point);
    if (!lp_row)
        return;
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, lp_row->text(QRoomUserListItemWidget::ColumnUser), nullptr);
    l_menu.exec(userList->viewport()->mapToGlobal(i_point));
}
