#pragma once

// The UPnP work itself. Discovery and every SOAP call to the gateway block for
// seconds, so this object lives on the port forwarder's own thread and is reached
// only by queued calls; whatever it has to say goes back as log lines.

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

struct UPNPDev;
class PortForwarder;

class ThreadedServices : public QObject
{
    Q_OBJECT

public:
    explicit ThreadedServices(PortForwarder& i_forwarder);

    // The address to name as the mapping's internal client. A socket that reports the
    // loopback address says nothing about the LAN, so then the interface address that
    // shares its first three numbers with the gateway's control URL wins, and failing
    // that the first IPv4 non-loopback address of the list. Adds its log lines to
    // io_lines. Pure: the interface addresses come from the caller.
    static QString ChooseOwnAddress(QString const& i_reported,
                                    QList<QHostAddress> const& i_interfaceAddresses,
                                    QString const& i_controlUrl, QStringList& io_lines);

    // The first device announcing an Internet gateway, or the first device at all.
    // Null only for an empty list. Adds its log lines to io_lines.
    static UPNPDev* ChooseGateway(UPNPDev* ip_devices, QStringList& io_lines);

    // The gateway's control URL as chosen by the last discovery (empty when none).
    // Read it on the UPnP thread, or while that thread is idle.
    static QString ControlUrl();

    // Production discovery waits 2 s for answers on the default multicast interface;
    // tests shorten the wait and keep the search on the loopback interface.
    void SetDiscoveryOptions(int i_delayMs, QString const& i_multicastInterface);

    // The library's discovery call (upnpDiscover); a seam for tests that stand in for
    // the network's answers.
    using DiscoverFunction = UPNPDev* (*)(int i_delayMs, char const* ip_multicastInterface,
                                          char const* ip_daemonSocket, int i_localPort,
                                          int i_ipv6, unsigned char i_ttl, int* op_error);
    void SetDiscoverFunction(DiscoverFunction ip_discover);
    // The discovery call every later ThreadedServices starts with. Test programs set it
    // once, before any forwarder exists, so that no test can multicast to the network.
    static void SetDefaultDiscoverFunction(DiscoverFunction ip_discover);

public slots:
    void Init();
    // Discovers again when a mapping found the chosen gateway unreachable (it may have
    // restarted on another port); does nothing otherwise. Called once per renewal, so
    // at most once an hour.
    void Rediscover();
    void AddPortMapping(QString const& i_address, int i_port);
    void RemovePortMapping(int i_port);

    // Skips discovery and takes the gateway described at i_descriptionUrl. A seam for
    // tests that run the mapping calls against a gateway on loopback.
    void InitFromDescription(QString const& i_descriptionUrl);

private:
    static void ClearGateway();
    // Discovery and the choice of a gateway (whose description is fetched); adds its
    // log lines to io_lines.
    void Discover(QStringList& io_lines);
    static void FetchDescription(char const* ip_descriptionUrl, unsigned int i_scopeId,
                                 QStringList& io_lines);
    void SendLines(QStringList const& i_lines);

    PortForwarder& m_forwarder;
    int m_discoveryDelayMs;
    QByteArray m_multicastInterface;
    DiscoverFunction mp_discover;
    // A mapping found the chosen gateway unreachable and it was forgotten; set until a
    // later discovery finds one.
    bool m_isGatewayLost = false;
};
