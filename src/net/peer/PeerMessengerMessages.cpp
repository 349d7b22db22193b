#include "net/peer/PeerMessenger.h"

#include "store/Log.h"

#include <QTcpSocket>

QString PeerMessenger::MessageCodeToString(int i_code)
{
    switch (i_code)
    {
    case 1: return QStringLiteral("PM_SAY");
    case 4: return QStringLiteral("PM_GET_SHARED_FILE_LIST");
    case 5: return QStringLiteral("PM_SHARED_FILE_LIST");
    case 8: return QStringLiteral("PM_FILE_SEARCH_REQUEST");
    case 9: return QStringLiteral("PM_FILE_SEARCH_RESULT");
    case 10: return QStringLiteral("PM_INVITE_USER_TO_ROOM");
    case 14: return QStringLiteral("PM_CANCELLED_QUEUED_TRANSFER");
    case 15: return QStringLiteral("PM_USER_INFO_REQUEST");
    case 16: return QStringLiteral("PM_USER_INFO_REPLY");
    case 33: return QStringLiteral("PM_SEND_CONNECT_TOKEN");
    case 34: return QStringLiteral("PM_MOVE_DOWNLOAD_TO_TOP");
    case 36: return QStringLiteral("PM_GET_SHARED_FILES_IN_FOLDER");
    case 37: return QStringLiteral("PM_SHARED_FILES_IN_FOLDER");
    case 40: return QStringLiteral("PM_TRANSFER_REQUEST");
    case 41: return QStringLiteral("PM_TRANSFER_RESPONSE");
    case 42: return QStringLiteral("PM_PLACEHOLD_UPLOAD");
    case 43: return QStringLiteral("PM_QUEUE_UPLOAD");
    case 44: return QStringLiteral("PM_UPLOAD_PLACE_IN_LINE");
    case 46: return QStringLiteral("PM_UPLOAD_FAILED");
    case 47: return QStringLiteral("PM_EXACT_FILE_SEARCH_REQUEST");
    case 48: return QStringLiteral("PM_QUEUED_DOWNLOADS");
    case 49: return QStringLiteral("PM_INDIRECT_FILE_SEARCH_REQUEST");
    case 50: return QStringLiteral("PM_UPLOAD_DENIED");
    case 51: return QStringLiteral("PM_UPLOAD_PLACE_IN_LINE_REQUEST");
    case 52: return QStringLiteral("PM_NOTHING");
    default: return QString::number(i_code) + QLatin1String(" (unknown)");
    }
}

bool PeerMessenger::HandlePeerMessage(QTcpSocket* ip_socket, MemStream& i_message,
                                     SocketBufferInfo* ip_info)
{
    // The dispatch of the individual peer messages by code goes here. Until then every
    // code is logged and left alone; a frame too short to carry a code still ends the
    // connection.
    // Copies, not references into the read state: a handler's receivers may dispose
    // of the socket, and its read state with it.
    ItemPtr l_socketItem;
    QString l_userName;
    QDateTime* lp_activityTime = nullptr;
    if (ip_info)
    {
        CachePeerSocket(ip_socket, *ip_info);
        l_socketItem = ip_info->m_peerSocketItem;
        l_userName = ip_info->m_userName;
        lp_activityTime = ip_info->mp_activityTime;
    }
    else
    {
        l_socketItem = mp_peerSocketType->HasItem(Value(ip_socket));
        l_userName = l_socketItem["user"].AsString();
        lp_activityTime = l_socketItem["last_activity_time"].AsPtr<QDateTime>();
    }

    unsigned int l_code = 0;
    if (!i_message.Read(l_code))
    {
        Log(LogArea::PeerMessenger, 1,
            QString("Could not read message code on connection to user %1, disposing of socket")
                .arg(l_userName));
        return false;
    }
    if (lp_activityTime)
        TouchActivityTime(*lp_activityTime);
    // Formatting this line costs more than reading a small message; skip it when no
    // one would see it.
    if (IsLogHeard())
        Log(LogArea::PeerMessenger, 1,
            QStringLiteral("Received %1 message from user %2")
                .arg(MessageCodeToString(static_cast<int>(l_code)), l_userName),
            l_socketItem["user"]);
    return true;
}

void PeerMessenger::CachePeerSocket(QTcpSocket* ip_socket, SocketBufferInfo& io_info)
{
    if (io_info.m_isPeerSocketKnown)
        return;
    ItemPtr const l_item = mp_peerSocketType->HasItem(Value(ip_socket));
    if (!l_item)
        return;
    io_info.m_peerSocketItem = l_item;
    io_info.m_userName = l_item["user"].AsString();
    io_info.mp_activityTime = l_item["last_activity_time"].AsPtr<QDateTime>();
    io_info.m_isPeerSocketKnown = true;
}

void PeerMessenger::ForgetCachedPeerSocket(ItemPtr i_peerSocket)
{
    auto const l_found = m_socketBufferInfos.find(i_peerSocket.AsPtr<QTcpSocket>());
    if (l_found == m_socketBufferInfos.end())
        return;
    SocketBufferInfo& l_info = l_found->second;
    l_info.m_isPeerSocketKnown = false;
    l_info.m_peerSocketItem = ItemPtr();
    l_info.m_userName.clear();
    l_info.mp_activityTime = nullptr;
}
