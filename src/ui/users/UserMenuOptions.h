#pragma once

// The user entries of a context menu: chat, user list and groups, browsing, uploading,
// the note, unsharing, ignoring, and membership and operator rights in the private rooms
// the own user owns or operates. Every view that shows user names builds one over its
// context menu as a local object, executes the menu and lets both go when it closes;
// the entries reflect the store as it was when the menu was built.

#include <QMenu>
#include <QObject>
#include <QString>

class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    UserMenuOptions(QMenu* ip_menu, QString i_user, QObject* ip_parent = nullptr);
    ~UserMenuOptions() override;

public slots:
    void OnMessageUser();
    void OnSetUserGroups();
    void OnAddUser();
    void OnRemoveUser();
    void OnBrowseUser();
    void OnUploadToUser();
    void OnUserLog();
    void OnUnshareFilesFromUser();
    void OnReshareFilesWithUser();
    void OnIgnoreUser();
    void OnUnignoreUser();
    void OnAddUserMembership();
    void OnRemoveUserMembership();
    void OnAddUserOperatorship();
    void OnRemoveUserOperatorship();
    void OnUserNote();

private:
    // The text the triggering entry carries: a user or a room name.
    QString SenderData() const;

    QString m_user;
};
