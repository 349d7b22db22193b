#include "transfers/TransferQueueManager.h"

#include "net/peer/PeerMessenger.h"
#include "store/Data.h"
#include "store/Settings.h"

#include <QTcpSocket>

TransferQueueManager* transferQueueManager = nullptr;

namespace
{
// The upload types belong to the queues; until they are declared there is nothing to
// count.
bool HasUploadTypes()
{
    return d.HasType("upload_entry") && d.HasType("upload_entry_status") && d.HasType("is_active");
}
} // namespace

TransferQueueManager::TransferQueueManager() : QObject(nullptr)
{
    transferQueueManager = this;
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
                &TransferQueueManager::OnFileConnectionAccepted);
}

TransferQueueManager::~TransferQueueManager()
{
    for (QPointer<QTcpSocket> const& l_socket : m_fileConnections)
        delete l_socket.data();
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

bool TransferQueueManager::IsFreeToUpload()
{
    unsigned long long const l_slots = GetSetting("upload_slots").toULongLong();
    unsigned long long l_running = 0;
    if (HasUploadTypes())
    {
        for (ItemPtr const& l_entry : d["upload_entry"]->GetItems())
            if (l_entry["upload_entry_status"].IsConnected("is_active"))
                ++l_running;
    }
    return l_slots > l_running;
}

std::uint32_t TransferQueueManager::QueuedUploadCount()
{
    if (!HasUploadTypes())
        return 0;
    ItemPtr const l_queued = d["upload_entry_status"]->HasItem(Value("queued"));
    if (!l_queued)
        return 0;
    return static_cast<std::uint32_t>(l_queued.GetItems("upload_entry").size());
}

void TransferQueueManager::OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    if (!ip_socket)
        return;
    // No upload is waiting for a connection yet, so nothing is written: the socket is
    // kept until its peer closes it or the queues go.
    Q_UNUSED(i_user);
    m_fileConnections.append(ip_socket);
    connect(ip_socket, &QAbstractSocket::disconnected, this,
            &TransferQueueManager::OnFileConnectionClosed);
    connect(ip_socket, &QAbstractSocket::errorOccurred, this,
            &TransferQueueManager::OnFileConnectionClosed);
}

void TransferQueueManager::OnFileConnectionClosed()
{
    auto* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    lp_socket->disconnect(this);
    m_fileConnections.removeAll(lp_socket);
    lp_socket->deleteLater();
}
