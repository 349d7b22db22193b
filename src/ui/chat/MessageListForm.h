#pragma once

// The list of private-message correspondents: one row per user, the user with the latest
// message on top, each row showing the time and text of its latest message. Every private
// message received or sent is kept as a saved `private_message` record, and the list is
// rebuilt from those records after the store file is loaded.
//
// No window creates it; one that shows it constructs it and calls Init() once, before
// the store file is loaded.

#include "store/Data.h"
#include "store/DataSaver.h"

#include <QString>
#include <QWidget>

#include <ctime>

class QHBoxLayout;
class QTreeWidget;

class MessageListForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit MessageListForm(QWidget* ip_parent = nullptr);
    ~MessageListForm() override;

    // Declares the record types (unless an earlier form did), registers what is saved,
    // listens to the server's private messages and waits for DataLoaded().
    void Init();
    // Puts one `private_message` record into the list.
    void AddMessageToList(ItemPtr i_message);
    // Rebuilds the rows from the saved records, oldest first.
    void DataLoaded() override;

    QTreeWidget* messageList;

public slots:
    void OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);
    void OnPrivateChatSent(QString i_user, QString i_chat);

private:
    void SetupUi();
    // A new record of a message, connected to its user, time, text and direction.
    void Record(QString const& i_user, QString const& i_chat, qint64 i_time, char const* i_direction);

    QHBoxLayout* horizontalLayout;
};
