#include "ui/chat/MessageListForm.h"

#include "ui/chat/ChatLines.h"

#include "net/server/Server.h"
#include "store/Settings.h"
#include "store/Schema.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTreeWidget>

#include <set>

namespace
{
// The store saver keeps its handlers for the whole run and has no way to forget one, so
// the forms register this one relay, which passes DataLoaded() on to the forms alive at
// that moment and never to a destroyed one.
class MessageListRelay : public DataLoadedEventHandler
{
public:
    static MessageListRelay& Instance()
    {
        static MessageListRelay s_relay;
        return s_relay;
    }

    void Add(MessageListForm* ip_form)
    {
        if (dataSaver && !m_registered) {
            dataSaver->AddDataLoadedEventHandler(this);
            m_registered = true;
        }
        m_forms.insert(ip_form);
    }
    void Remove(MessageListForm* ip_form) { m_forms.erase(ip_form); }

    void DataLoaded() override
    {
        std::set<MessageListForm*> const l_forms = m_forms;
        for (MessageListForm* lp_form : l_forms)
            if (m_forms.count(lp_form))
                lp_form->DataLoaded();
    }

private:
    bool m_registered = false;
    std::set<MessageListForm*> m_forms;
};

TypeSpec const c_recordTypes[] = {
    {"private_message", Primary, true},
    {"private_message_time", Tertiary, false},
    {"private_message_text", Tertiary, false},
    {"private_message_direction", Tertiary, false},
    {"message_list_node", Primary, false},
};
} // namespace

MessageListForm::MessageListForm(QWidget* ip_parent) : QWidget(ip_parent)
{
    SetupUi();
}

MessageListForm::~MessageListForm()
{
    MessageListRelay::Instance().Remove(this);
    // The rows go with the list; their nodes must not name them afterwards.
    if (Type* const lp_node = d.HasType("message_list_node"))
        for (int l_index = 0; l_index < messageList->topLevelItemCount(); ++l_index)
            if (ItemPtr const l_node = lp_node->HasItem(Value(messageList->topLevelItem(l_index))))
                l_node.Remove();
}

void MessageListForm::SetupUi()
{
    setObjectName(QStringLiteral("MessageListForm"));
    resize(624, 421);
    setWindowTitle(QStringLiteral("Form"));
    horizontalLayout = new QHBoxLayout(this);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    messageList = new QTreeWidget(this);
    messageList->setObjectName(QStringLiteral("messageList"));
    horizontalLayout->addWidget(messageList);

    messageList->setColumnCount(3);
    messageList->setHeaderLabels({QString(), QStringLiteral("User"), QString()});
    messageList->setColumnWidth(0, 150);
    messageList->setColumnWidth(1, 200);
    messageList->header()->setStretchLastSection(true);
    messageList->header()->setSectionsMovable(false);
    messageList->setRootIsDecorated(false);
}

void MessageListForm::Init()
{
    if (!d.HasType("private_message")) {
        DeclareTypes(c_recordTypes);
        Type* const lp_message = d["private_message"];
        for (char const* l_other : {"private_message_time", "private_message_text",
                                    "private_message_direction", "user"})
            lp_message->RelateToType(d[l_other], Many, One);
        d["message_list_node"]->RelateToType(d["user"], One, One);

        if (dataSaver) {
            dataSaver->AddSavedType("private_message");
            dataSaver->AddSavedType("private_message_direction");
            for (char const* l_saved : {"private_message_time", "private_message_text", "user"})
                dataSaver->AddSavedByConnectionType(l_saved, "private_message");
        }
    }

    if (gp_server) {
        connect(gp_server, &Server::PrivateChat, this, &MessageListForm::OnPrivateChat);
        connect(gp_server, &Server::PrivateChatSent, this, &MessageListForm::OnPrivateChatSent);
    }
    MessageListRelay::Instance().Add(this);
}

void MessageListForm::OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool)
{
    Record(i_user, i_chat, static_cast<qint64>(i_time), "from");
}

void MessageListForm::OnPrivateChatSent(QString i_user, QString i_chat)
{
    Record(i_user, i_chat, QDateTime::currentSecsSinceEpoch(), "to");
}

void MessageListForm::Record(QString const& i_user, QString const& i_chat, qint64 i_time,
                             char const* i_direction)
{
    ItemPtr const l_message = d["private_message"]->NewItem();
    l_message += (*d["user"])[Value(i_user)];
    l_message += (*d["private_message_time"])[Value(static_cast<long long>(i_time))];
    l_message += (*d["private_message_text"])[Value(i_chat)];
    l_message += (*d["private_message_direction"])[Value(i_direction)];
    AddMessageToList(l_message);
}

void MessageListForm::AddMessageToList(ItemPtr i_message)
{
    ItemPtr const l_user = i_message["user"];
    if (!l_user)
        return;
    QTreeWidgetItem* lp_row = nullptr;
    if (ItemPtr const l_node = l_user["message_list_node"])
        lp_row = l_node.AsPtr<QTreeWidgetItem>();
    // Another list's row (a second form took the user's node over) is not ours to move.
    if (lp_row && lp_row->treeWidget() != messageList)
        lp_row = nullptr;
    if (!lp_row) {
        lp_row = new QTreeWidgetItem();
        messageList->insertTopLevelItem(0, lp_row);
        lp_row->setText(1, l_user.AsString());
        l_user += (*d["message_list_node"])[Value(lp_row)];
        if (gp_server)
            gp_server->TrackUser(l_user.AsString());
    } else {
        messageList->takeTopLevelItem(messageList->indexOfTopLevelItem(lp_row));
        messageList->insertTopLevelItem(0, lp_row);
    }

    // Read as a 64-bit number, so a time past 2106 is still shown as what it is.
    qint64 const l_seconds = i_message["private_message_time"].AsInt64();
    lp_row->setText(0, ChatLines::LongTime(QDateTime::fromSecsSinceEpoch(l_seconds)));
    QString const l_sender = i_message["private_message_direction"].AsStdString() == "from"
                                 ? l_user.AsString()
                                 : GetSetting("username");
    lp_row->setText(2, u'[' + l_sender + QStringLiteral("] ") + i_message["private_message_text"].AsString());
}

void MessageListForm::DataLoaded()
{
    for (ItemPtr const& l_message : g("private_message").SortNumericBy("private_message_time", true))
        AddMessageToList(l_message);
}
