// What the central server hears from the share index after each login, and the own
// upload speed it reports back.

#include "shares/SharedFoldersManager.h"

#include "net/server/Server.h"
#include "store/Settings.h"

void SharedFoldersManager::OnConnectedToServer()
{
    // Every item counts, empty folders included.
    gp_server->SendFilesFolders(static_cast<int>(d["shared_file_folder"]->GetItemCount()),
                                static_cast<int>(d["shared_file"]->GetItemCount()));
    gp_server->GetUserStats(GetSetting("username"));
}

void SharedFoldersManager::OnReceivedUserStats(QString i_user, UserStats i_stats)
{
    if (i_user != GetSetting("username"))
        return;
    SetSetting("upload_speed", QString::number(static_cast<qint32>(i_stats.m_speed)));
}
