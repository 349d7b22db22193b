#pragma once

// Asks the local Internet gateway to forward the listening ports to this machine.
// The gateway's answers take seconds, so the work runs on a thread of its own; this
// side only queues requests and writes back what that thread reports to the log.

#include "net/server/ThreadedServices.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

class QTcpSocket;

class PortForwarder : public QObject
{
    Q_OBJECT

public:
    // Sets the global pointer and starts the UPnP thread, which runs until the end.
    PortForwarder();
    // The client keeps its one forwarder for the whole run; this only lets a short-lived
    // owner (a test) stop the thread cleanly.
    ~PortForwarder() override;

    // Finds the gateway, once per run; later calls do nothing. Returns at once.
    void Init();
    // Finds the gateway again when a mapping found the chosen one unreachable; nothing
    // otherwise. The hourly renewal calls it before its mappings. Returns at once.
    void Rediscover();
    // Maps i_port (TCP, same external and internal port) to the local address of the
    // connected socket i_socket. Returns at once. A port outside 1..65535 (the port after
    // 65535, say) is no TCP port and is not mapped.
    void AddPortMapping(QTcpSocket* i_socket, int i_port);
    void RemovePortMapping(int i_port);

    // Seams for tests: take the gateway described at a URL instead of discovering one,
    // and shorten or redirect the discovery. Not used by the client.
    void InitFromDescription(QString const& i_descriptionUrl);
    void SetDiscoveryOptions(int i_delayMs, QString const& i_multicastInterface);
    void SetDiscoverFunction(ThreadedServices::DiscoverFunction ip_discover);

public slots:
    void LogLines(QStringList const& i_lines);

private:
    friend class ThreadedServices;

    // Read and written only on the UPnP thread.
    bool m_initialised;
    QThread m_thread;
    ThreadedServices m_services;
};

extern PortForwarder* portForwarder;
