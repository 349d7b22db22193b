#pragma once

// The transfer queues: downloads and uploads with their statuses, kept as items of the
// store. So far only what the peer network and the share index ask of them: whether an
// upload slot is free, how many uploads wait, and the taking over of "F" connections
// that this client asked for.
//
// GUI thread only.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class QTcpSocket;

class TransferQueueManager : public QObject
{
    Q_OBJECT

public:
    // Sets transferQueueManager; receives the peer network's file connections when the
    // peer messenger exists already.
    TransferQueueManager();
    ~TransferQueueManager() override;

    // True while the setting upload_slots exceeds the number of running uploads.
    bool IsFreeToUpload();
    // The number of uploads whose status is "queued".
    std::uint32_t QueuedUploadCount();

    // The sockets taken over and not yet given to an upload.
    QList<QPointer<QTcpSocket>> const& HeldFileConnections() const { return m_fileConnections; }

public slots:
    // An "F" connection this client asked for is open; the socket is ours from now on.
    void OnFileConnectionAccepted(QString i_user, QTcpSocket* ip_socket);

private:
    void OnFileConnectionClosed();

    QList<QPointer<QTcpSocket>> m_fileConnections;
};

extern TransferQueueManager* transferQueueManager;
