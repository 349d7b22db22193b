#include "net/peer/PeerMessenger.h"

#include "net/peer/PeerLog.h"
#include "store/Log.h"
#include "store/Settings.h"

#include <QTcpSocket>

#include <zlib.h>

#include <utility>
#include <vector>

namespace
{
// Peer message codes this client sends or handles.
enum PeerCode : unsigned int
{
    PM_GET_SHARED_FILE_LIST = 4,
    PM_SHARED_FILE_LIST = 5,
    PM_FILE_SEARCH_RESULT = 9,
    PM_GET_SHARED_FILES_IN_FOLDER = 36,
    PM_SHARED_FILES_IN_FOLDER = 37,
    PM_TRANSFER_REQUEST = 40,
    PM_TRANSFER_RESPONSE = 41,
    PM_QUEUE_UPLOAD = 43,
    PM_UPLOAD_PLACE_IN_LINE = 44,
    PM_UPLOAD_FAILED = 46,
    PM_UPLOAD_DENIED = 50,
    PM_UPLOAD_PLACE_IN_LINE_REQUEST = 51,
    PM_QUEUE_DOWNLOAD = 60
};

// Direction of a transfer request that offers to upload the file now.
constexpr unsigned int c_uploadNow = 1;

MemStream NewMessage(PeerCode i_code)
{
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(i_code));
    return l_message;
}

// The share list of a user who may see nothing: no folders, no attribute names,
// compressed as every share list is.
MemStream EmptyShareListMessage()
{
    MemStream l_body;
    l_body.Write(0u);
    l_body.Write(0u);
    uLongf l_compressedSize = compressBound(static_cast<uLong>(l_body.GetWriteIndex()));
    std::vector<Bytef> l_compressed(l_compressedSize);
    compress2(l_compressed.data(), &l_compressedSize,
              reinterpret_cast<Bytef const*>(l_body.GetBuffer()),
              static_cast<uLong>(l_body.GetWriteIndex()), 9);
    MemStream l_message = NewMessage(PM_SHARED_FILE_LIST);
    l_message.WriteBuffer(l_compressed.data(), l_compressedSize);
    return l_message;
}
} // namespace

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

void PeerMessenger::SetShareListProvider(ShareListProvider i_provider)
{
    m_shareListProvider = std::move(i_provider);
}

void PeerMessenger::GetUserSharedFiles(QString i_user)
{
    m_pendingShareLists.insert(i_user);
    MemStream l_message = NewMessage(PM_GET_SHARED_FILE_LIST);
    SendMessage(i_user, l_message);
}

unsigned int PeerMessenger::RequestUpload(QString i_user, QString i_file, long long i_size)
{
    // The counter is saved with the settings, so ids keep rising across runs.
    unsigned int const l_req = GetSetting("transfer_req_counter").toUInt();
    SetSetting("transfer_req_counter", QString::number(l_req + 1u));
    MemStream l_message = NewMessage(PM_TRANSFER_REQUEST);
    l_message.Write(c_uploadNow);
    l_message.Write(l_req);
    l_message.Write(i_file);
    l_message.Write(i_size);
    SendMessage(i_user, l_message);
    return l_req;
}

void PeerMessenger::AcceptTransferRequest(QString i_user, unsigned int i_req, bool i_sendSize,
                                          long long i_size)
{
    MemStream l_message = NewMessage(PM_TRANSFER_RESPONSE);
    l_message.Write(i_req);
    l_message.Write(static_cast<unsigned char>(1));
    if (i_sendSize)
        l_message.Write(i_size);
    SendMessage(i_user, l_message);
}

void PeerMessenger::DenyTransferRequest(QString i_user, unsigned int i_req, QString i_reason)
{
    MemStream l_message = NewMessage(PM_TRANSFER_RESPONSE);
    l_message.Write(i_req);
    l_message.Write(static_cast<unsigned char>(0));
    l_message.Write(i_reason);
    SendMessage(i_user, l_message);
}

void PeerMessenger::QueueDownload(QString i_user, std::string i_file)
{
    MemStream l_message = NewMessage(PM_QUEUE_UPLOAD);
    l_message.Write(i_file);
    SendMessage(i_user, l_message);
}

void PeerMessenger::SendUploadPlaceInLine(QString i_user, QString i_file, int i_place)
{
    MemStream l_message = NewMessage(PM_UPLOAD_PLACE_IN_LINE);
    l_message.Write(i_file);
    l_message.Write(i_place);
    SendMessage(i_user, l_message);
}

void PeerMessenger::DenyUpload(QString i_user, QString i_file, QString i_reason)
{
    MemStream l_message = NewMessage(PM_UPLOAD_DENIED);
    l_message.Write(i_file);
    l_message.Write(i_reason);
    SendMessage(i_user, l_message);
}

void PeerMessenger::QueueUpload(QString i_user, QString i_file, long long i_size)
{
    MemStream l_message = NewMessage(PM_QUEUE_DOWNLOAD);
    l_message.Write(i_file);
    l_message.Write(i_size);
    SendMessage(i_user, l_message);
}

void PeerMessenger::AnswerShareListRequest(QString const& i_user)
{
    MemStream l_message = m_shareListProvider ? m_shareListProvider(i_user) : EmptyShareListMessage();
    // A provider that could not build the list gives nothing, and nothing is sent.
    if (l_message.GetWriteIndex() == 0)
        return;
    SendMessage(i_user, l_message);
}

void PeerMessenger::AnswerUnlessRepeated(QString const& i_user, QString const& i_request,
                                         unsigned int i_code, std::function<void()> const& i_answer)
{
    // A peer that asks again and again without reading would otherwise have every
    // answer built and kept; its first answer still waiting anywhere stands for them.
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    for (ItemPtr const& l_socketItem : l_user.GetItems("peer_socket"))
    {
        auto* lp_socket = l_socketItem.AsPtr<QTcpSocket>();
        auto const l_found = m_socketBufferInfos.find(lp_socket);
        if (l_found == m_socketBufferInfos.end())
            continue;
        auto& l_answers = l_found->second.m_unsentAnswers;
        auto const l_answer = l_answers.find(i_request);
        if (l_answer == l_answers.end())
            continue;
        if (IsWrittenOut(lp_socket, l_found->second, l_answer->second.m_end))
        {
            l_answers.erase(l_answer);
            continue;
        }
        if (!l_answer->second.m_isRepeatLogged)
        {
            l_answer->second.m_isRepeatLogged = true;
            PeerLog(1,
                    QString("Repeated %1 request from user %2 dropped while the answer to it is "
                            "still unsent")
                        .arg(MessageCodeToString(static_cast<int>(i_code)), i_user),
                    l_user);
        }
        return;
    }

    mp_lastMessageSocket = nullptr;
    i_answer();
    QTcpSocket* const lp_socket = std::exchange(mp_lastMessageSocket, nullptr);
    // No answer, or its connection went meanwhile (it may have been ended for holding
    // too much).
    if (!lp_socket || !mp_peerSocketType->HasItem(Value(lp_socket)) ||
        lp_socket->bytesToWrite() == 0)
        return;
    SocketBufferInfo& l_info = GetSocketBufferInfo(lp_socket);
    std::erase_if(l_info.m_unsentAnswers, [&](auto const& l_entry)
                  { return IsWrittenOut(lp_socket, l_info, l_entry.second.m_end); });
    l_info.m_unsentAnswers[i_request] = SocketBufferInfo::UnsentAnswer{l_info.m_queuedBytes, false};
}

bool PeerMessenger::DispatchPeerMessage(unsigned int i_code, QString const& i_user,
                                        MemStream& i_message)
{
    // Every field of a handled code must be there (unless said otherwise below);
    // a missing one refuses the message before anything is emitted. Bytes after the
    // last field are ignored.
    switch (i_code)
    {
    case PM_GET_SHARED_FILE_LIST:
        AnswerUnlessRepeated(i_user, QStringLiteral("4"), i_code,
                             [&] { AnswerShareListRequest(i_user); });
        return true;
    case PM_SHARED_FILE_LIST:
        return HandleShareList(i_user, i_message);
    case PM_FILE_SEARCH_RESULT:
        return HandleSearchResults(i_user, i_message);
    case PM_GET_SHARED_FILES_IN_FOLDER:
    {
        unsigned int l_req = 0;
        QString l_folder;
        if (!i_message.Read(l_req) || !i_message.Read(l_folder))
            return false;
        AnswerUnlessRepeated(i_user, QStringLiteral("36 ") + l_folder, i_code,
                             [&] { emit SharedFilesInFolderRequested(i_user, l_req, l_folder); });
        return true;
    }
    case PM_TRANSFER_REQUEST:
    {
        unsigned int l_direction = 0;
        unsigned int l_req = 0;
        std::string l_file;
        long long l_size = 0;
        if (!i_message.Read(l_direction) || !i_message.Read(l_req) || !i_message.Read(l_file))
            return false;
        // Only an offer to upload now carries the size.
        if (l_direction == c_uploadNow && !i_message.Read(l_size))
            return false;
        emit FileTransferRequested(i_user, static_cast<int>(l_direction), l_req, l_file, l_size);
        return true;
    }
    case PM_TRANSFER_RESPONSE:
    {
        unsigned int l_req = 0;
        unsigned char l_accepted = 0;
        if (!i_message.Read(l_req) || !i_message.Read(l_accepted))
            return false;
        if (l_accepted != 0)
        {
            // The size of an acceptance is optional.
            long long l_size = 0;
            bool const l_hasSize = i_message.Read(l_size);
            emit FileTransferResponse(i_user, l_req, true, l_hasSize, l_hasSize ? l_size : 0,
                                      QString());
            return true;
        }
        QString l_reason;
        if (!i_message.Read(l_reason))
            return false;
        emit FileTransferResponse(i_user, l_req, false, false, 0, l_reason);
        return true;
    }
    case PM_QUEUE_UPLOAD:
    {
        QString l_file;
        if (!i_message.Read(l_file))
            return false;
        emit QueueUploadRequested(i_user, l_file);
        return true;
    }
    case PM_UPLOAD_PLACE_IN_LINE:
    {
        std::string l_file;
        int l_place = 0;
        if (!i_message.Read(l_file) || !i_message.Read(l_place))
            return false;
        emit DownloadPlaceInLine(i_user, l_file, l_place);
        return true;
    }
    case PM_UPLOAD_FAILED:
    {
        std::string l_file;
        if (!i_message.Read(l_file))
            return false;
        emit UploadFailed(i_user, l_file);
        return true;
    }
    case PM_UPLOAD_DENIED:
    {
        std::string l_file;
        QString l_reason;
        if (!i_message.Read(l_file) || !i_message.Read(l_reason))
            return false;
        emit UploadDenied(i_user, l_file, l_reason);
        return true;
    }
    case PM_UPLOAD_PLACE_IN_LINE_REQUEST:
    {
        QString l_file;
        if (!i_message.Read(l_file))
            return false;
        emit UploadPlaceInLineRequested(i_user, l_file);
        return true;
    }
    case PM_QUEUE_DOWNLOAD:
    {
        std::string l_file;
        long long l_size = 0;
        if (!i_message.Read(l_file) || !i_message.Read(l_size))
            return false;
        emit QueueDownloadRequested(i_user, l_file, l_size);
        return true;
    }
    case PM_SHARED_FILES_IN_FOLDER: // this client never asks for folder contents
    default:
        return true;
    }
}

bool PeerMessenger::HandlePeerMessage(QTcpSocket* ip_socket, MemStream& i_message,
                                     SocketBufferInfo* ip_info)
{
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
    return DispatchPeerMessage(l_code, l_userName, i_message);
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
