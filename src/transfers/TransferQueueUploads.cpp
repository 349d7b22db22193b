#include "transfers/TransferQueueManager.h"

#include <QTcpSocket>

// The upload side: the queue, its order, the negotiation and the worker follow with
// the upload work. Until then requests for uploads are not answered, and a file
// connection this client asked for is only held until its peer closes it.

void TransferQueueManager::StartNewUploads()
{
}

void TransferQueueManager::DetermineUploadSpeedLimit()
{
}

void TransferQueueManager::EveryHalfMinute()
{
}

void TransferQueueManager::OnQueueUploadRequested(QString, QString)
{
}

void TransferQueueManager::OnFileTransferResponse(QString, unsigned int, bool, bool, long long,
                                                  QString)
{
}

void TransferQueueManager::OnUploadError()
{
}

void TransferQueueManager::OnUploadProgress(qint64, int)
{
}

void TransferQueueManager::OnUploadComplete()
{
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
}

void TransferQueueManager::OnUploadPlaceInLineRequested(QString, QString)
{
}

void TransferQueueManager::OnUserShare(QString, FileInfoMap&, AttributeTranslationTable&)
{
}

void TransferQueueManager::OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket)
{
    if (!ip_socket)
        return;
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
