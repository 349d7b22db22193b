#include "net/peer/PeerMessenger.h"

#include "net/peer/PeerLog.h"
#include "net/server/Server.h"
#include "store/Settings.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

namespace
{
constexpr int c_defaultListeningPort = 2235;

// The message's code: its first four bytes, little-endian.
int MessageCode(MemStream const& i_message)
{
    if (i_message.GetWriteIndex() < 4)
        return 0;
    return static_cast<int>(qFromLittleEndian<std::uint32_t>(i_message.GetBuffer()));
}

QDateTime OpenTime(ItemPtr i_peerSocket)
{
    return PeerTimeFromStamp(i_peerSocket["connection_open_time"].AsString());
}
} // namespace

void PeerMessenger::SendMessage(QString i_user, MemStream& i_message)
{
    ItemPtr const l_user = d["user"]->GetItem(Value(i_user));
    ItemSet const l_sockets = l_user.GetItems("peer_socket");
    PeerLog(1,
            QString("Send %1 message to user %2").arg(MessageCodeToString(MessageCode(i_message)), i_user),
            l_user);

    ItemPtr l_chosen;
    if (l_sockets.size() == 1)
    {
        PeerLog(2, "Found one existing messaging connection to user", l_user);
        l_chosen = *l_sockets.begin();
    }
    else if (l_sockets.size() > 1)
    {
        PeerLog(2,
                QString("Found %1 existing messaging connections to user, picking latest")
                    .arg(l_sockets.size()),
                l_user);
        for (ItemPtr const& l_socket : l_sockets)
        {
            QString const l_openText = l_socket["connection_open_time"].AsString();
            if (!l_chosen)
            {
                PeerLog(3, QString("First connection opened %1").arg(l_openText), l_user);
                l_chosen = l_socket;
            }
            else if (OpenTime(l_socket) > OpenTime(l_chosen))
            {
                PeerLog(3, QString("Found connection opened %1, exchanging").arg(l_openText), l_user);
                l_chosen = l_socket;
            }
        }
    }

    if (l_chosen)
    {
        mp_lastMessageSocket = l_chosen.AsPtr<QTcpSocket>();
        SendMessage(mp_lastMessageSocket, i_message, l_chosen.IsConnected("is_obfuscated"));
        return;
    }
    mp_lastMessageSocket = nullptr;

    PeerLog(2, "Did not find messaging connection to user, queueing unsent message", l_user);
    // A copy of the bytes, not a second handle on the caller's buffer: the caller is
    // free to reuse its stream while the message waits.
    auto* lp_copy = new MemStream();
    lp_copy->WriteBuffer(i_message.GetBuffer(), static_cast<unsigned long>(i_message.GetWriteIndex()));
    ItemPtr const l_unsent = d["unsent_message"]->GetItem(Value(lp_copy));
    l_unsent += l_user;
    l_unsent += d["send_order"]->GetItem(Value(static_cast<unsigned long long>(m_nextSendOrder++)));
    l_unsent += d["send_time"]->GetItem(Value(PeerTimeStamp()));
    ConnectToUser(i_user, "P");
}

void PeerMessenger::SendUnsentMessages(QString i_user)
{
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    if (!l_user)
        return;
    ItemSet const l_sockets = l_user.GetItems("peer_socket");
    if (l_sockets.empty())
        return;
    ItemPtr const l_socketItem = *l_sockets.begin();
    auto* lp_socket = l_socketItem.AsPtr<QTcpSocket>();
    bool const l_obfuscated = l_socketItem.IsConnected("is_obfuscated");

    ItemSet const l_unsent = l_user.GetItems("unsent_message");
    if (l_unsent.empty())
        return;
    ItemList const l_ordered = l_unsent.SortNumericBy("send_order");
    PeerLog(1,
            QString("Sending %1 pending peer messages to user %2").arg(l_ordered.size()).arg(i_user),
            l_user);
    for (ItemPtr const& l_item : l_ordered)
    {
        auto* lp_message = l_item.AsPtr<MemStream>();
        if (lp_message && !SendMessage(lp_socket, *lp_message, l_obfuscated))
            break;
        l_item.Remove();
        delete lp_message;
    }
}

bool PeerMessenger::Listen(QTcpServer& i_listener, int i_port)
{
    // A port beyond the 16-bit range would otherwise wrap to some other port.
    if (i_port < 1 || i_port > 65535 || i_listener.isListening())
        return false;
    return i_listener.listen(QHostAddress::AnyIPv4, static_cast<quint16>(i_port));
}

void PeerMessenger::DataLoaded()
{
    if (GetSettingInt("listening_port") == 0)
    {
        SetSetting("listening_port", QString::number(c_defaultListeningPort));
        SetSetting("obfuscated_listening_port", QString::number(c_defaultListeningPort + 1));
    }
    if (GetSettingInt("obfuscated_listening_port") == 0)
        SetSetting("obfuscated_listening_port",
                   QString::number(GetSettingInt("listening_port") + 1));

    if (HasSetting("new_listening_port"))
    {
        QString const l_newPort = GetSetting("new_listening_port");
        SetSetting("listening_port", l_newPort);
        SetSetting("obfuscated_listening_port", QString::number(l_newPort.toInt() + 1));
        if (ItemPtr const l_key = d["global"]->HasItem(Value("new_listening_port")))
            l_key.Remove();
    }

    // Failures are not reported: the ports are announced all the same.
    Listen(m_listeningSocket, GetSettingInt("listening_port"));
    Listen(m_obfuscatedListeningSocket, GetSettingInt("obfuscated_listening_port"));
    connect(&m_listeningSocket, &QTcpServer::newConnection, this, &PeerMessenger::OnNewConnection,
            Qt::UniqueConnection);
    connect(&m_obfuscatedListeningSocket, &QTcpServer::newConnection, this,
            &PeerMessenger::OnNewObfuscatedConnection, Qt::UniqueConnection);
}

void PeerMessenger::OnConnectedToServer()
{
    gp_server->SetWaitPort(GetSettingInt("listening_port"),
                           GetSettingInt("obfuscated_listening_port"));
}
