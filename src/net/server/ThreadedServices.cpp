#include "net/server/ThreadedServices.h"

#include "net/server/PortForwarder.h"

#include <QMetaObject>
#include <QNetworkInterface>
#include <QRegularExpression>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/miniwget.h>
#include <miniupnpc/upnpcommands.h>

#include <atomic>
#include <cstdlib>
#include <cstring>


namespace
{
// The chosen gateway: its URL set (the first member is the control URL of the WAN
// connection service) and its parsed description (for that service's type). Only the
// UPnP thread touches them, so they need no lock.
UPNPUrls urls;
IGDdatas data;

char const* const c_loopback = "127.0.0.1";
char const* const c_gatewayType = "InternetGatewayDevice";
char const* const c_mappingDescription = "KestruneQT";
char const* const c_protocol = "TCP";
int const c_conflictInMappingEntry = 718;

bool HaveControlUrl()
{
    return urls.controlURL != nullptr && urls.controlURL[0] != '\0';
}

// A dual-stack socket reports an IPv4 address as ::ffff:a.b.c.d; the gateway wants the plain
// dotted form, and so does the comparison with the loopback address.
QString PlainIPv4(QString const& i_address)
{
    QHostAddress l_address(i_address);
    if (l_address.protocol() == QAbstractSocket::IPv6Protocol)
    {
        bool l_isMapped = false;
        quint32 const l_ipv4 = l_address.toIPv4Address(&l_isMapped);
        if (l_isMapped)
            return QHostAddress(l_ipv4).toString();
    }
    return i_address;
}
} // namespace

namespace
{
std::atomic<ThreadedServices::DiscoverFunction> g_defaultDiscover{&upnpDiscover};
} // namespace

ThreadedServices::ThreadedServices(PortForwarder& i_forwarder)
    : m_forwarder(i_forwarder), m_discoveryDelayMs(2000), mp_discover(g_defaultDiscover.load())
{
}

void ThreadedServices::SetDefaultDiscoverFunction(DiscoverFunction ip_discover)
{
    g_defaultDiscover.store(ip_discover);
}

void ThreadedServices::SetDiscoverFunction(DiscoverFunction ip_discover)
{
    mp_discover = ip_discover;
}

void ThreadedServices::SetDiscoveryOptions(int i_delayMs, QString const& i_multicastInterface)
{
    m_discoveryDelayMs = i_delayMs;
    m_multicastInterface = i_multicastInterface.toLatin1();
}

QString ThreadedServices::ControlUrl()
{
    return HaveControlUrl() ? QString::fromLatin1(urls.controlURL) : QString();
}

void ThreadedServices::ClearGateway()
{
    // FreeUPNPUrls releases and nulls what an earlier gateway left, so a repeated
    // choice does not leak.
    FreeUPNPUrls(&urls);
    std::memset(&urls, 0, sizeof(urls));
    std::memset(&data, 0, sizeof(data));
}

QString ThreadedServices::ChooseOwnAddress(QString const& i_reported,
                                           QList<QHostAddress> const& i_interfaceAddresses,
                                           QString const& i_controlUrl, QStringList& io_lines)
{
    QString l_address = PlainIPv4(i_reported);
    if (l_address == QLatin1String(c_loopback))
    {
        io_lines << QStringLiteral("Own address is reported as 127.0.0.1, checking all addresses.");
        static QRegularExpression const s_firstThree(QStringLiteral("\\d+\\.\\d+\\.\\d+"));
        // From the last to the first, so that without a match the address left over is
        // the first candidate in the list.
        for (qsizetype l_i = i_interfaceAddresses.size() - 1; l_i >= 0; --l_i)
        {
            QHostAddress const& l_candidate = i_interfaceAddresses[l_i];
            if (l_candidate.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            QString const l_text = l_candidate.toString();
            if (l_text == QLatin1String(c_loopback))
                continue;
            l_address = l_text;
            QRegularExpressionMatch const l_match = s_firstThree.match(l_text);
            if (l_match.hasMatch() && i_controlUrl.contains(l_match.captured(0)))
                break;
        }
    }
    io_lines << QStringLiteral("Found own address to be %1").arg(l_address);
    return l_address;
}

UPNPDev* ThreadedServices::ChooseGateway(UPNPDev* ip_devices, QStringList& io_lines)
{
    for (UPNPDev* lp_device = ip_devices; lp_device != nullptr; lp_device = lp_device->pNext)
    {
        QString const l_url = QString::fromLatin1(lp_device->descURL ? lp_device->descURL : "");
        QString const l_type = QString::fromLatin1(lp_device->st ? lp_device->st : "");
        if (l_type.contains(QLatin1String(c_gatewayType)))
        {
            io_lines << QStringLiteral("%1, InternetGatewayDevice, found").arg(l_url);
            return lp_device;
        }
        io_lines << QStringLiteral("%1, %2 skipping").arg(l_url, l_type);
    }
    if (ip_devices == nullptr)
        return nullptr;
    io_lines << QStringLiteral("Defaulting to first device found, %1")
                    .arg(QString::fromLatin1(ip_devices->st ? ip_devices->st : ""));
    return ip_devices;
}

void ThreadedServices::FetchDescription(char const* ip_descriptionUrl, unsigned int i_scopeId,
                                        QStringList& io_lines)
{
    int l_size = 0;
    int l_status = 0;
    void* lp_xml = miniwget(ip_descriptionUrl, &l_size, i_scopeId, &l_status);
    if (lp_xml == nullptr)
    {
        io_lines << QStringLiteral("Device XML not found.");
        return;
    }
    parserootdesc(static_cast<char const*>(lp_xml), l_size, &data);
    std::free(lp_xml);
    GetUPNPUrls(&urls, &data, ip_descriptionUrl, i_scopeId);
    io_lines << QStringLiteral("Device XML found.");
}

void ThreadedServices::Init()
{
    // Discovery runs once per run of the program, whether or not it found a gateway.
    if (m_forwarder.m_initialised)
        return;

    QStringList l_lines;
    Discover(l_lines);
    m_forwarder.m_initialised = true;
    SendLines(l_lines);
}

void ThreadedServices::Rediscover()
{
    if (!m_isGatewayLost)
        return;
    QStringList l_lines;
    Discover(l_lines);
    // Still nothing: the next renewal tries again.
    m_isGatewayLost = !HaveControlUrl();
    SendLines(l_lines);
}

void ThreadedServices::Discover(QStringList& io_lines)
{
    io_lines << QStringLiteral("Initializing UPnP");
    ClearGateway();

    int l_error = 0;
    char const* lp_multicastInterface =
        m_multicastInterface.isEmpty() ? nullptr : m_multicastInterface.constData();
    // An empty daemon socket path, not a null one: the library takes null for its
    // default path and asks a local discovery daemon instead of the network.
    UPNPDev* lp_devices = mp_discover(m_discoveryDelayMs, lp_multicastInterface, "",
                                      UPNP_LOCAL_PORT_ANY, 0, 2, &l_error);
    if (lp_devices == nullptr)
    {
        io_lines << QStringLiteral("No device list found during discovery. miniupnp error code: %1")
                       .arg(l_error);
    }
    else
    {
        io_lines << QStringLiteral("Device list found");
        UPNPDev* lp_chosen = ChooseGateway(lp_devices, io_lines);
        FetchDescription(lp_chosen->descURL, lp_chosen->scope_id, io_lines);
        freeUPNPDevlist(lp_devices);
    }
}

void ThreadedServices::InitFromDescription(QString const& i_descriptionUrl)
{
    QStringList l_lines;
    ClearGateway();
    m_isGatewayLost = false;
    QByteArray const l_url = i_descriptionUrl.toLatin1();
    FetchDescription(l_url.constData(), 0, l_lines);
    // The handed gateway stands for a finished discovery; a later Init must not
    // replace it.
    m_forwarder.m_initialised = true;
    SendLines(l_lines);
}

void ThreadedServices::AddPortMapping(QString const& i_address, int i_port)
{
    QStringList l_lines;
    QByteArray const l_port = QByteArray::number(i_port);
    QByteArray const l_address =
        ChooseOwnAddress(i_address, QNetworkInterface::allAddresses(), ControlUrl(), l_lines)
            .toLatin1();

    auto l_add = [&]() -> int
    {
        // Without a gateway there is no control URL; the library must not be handed a
        // null one, so this fails the way the library reports an unreachable URL.
        if (!HaveControlUrl())
            return UPNPCOMMAND_HTTP_ERROR;
        int const l_added = UPNP_AddPortMapping(
            urls.controlURL, data.first.servicetype, l_port.constData(), l_port.constData(),
            l_address.constData(), c_mappingDescription, c_protocol, nullptr, nullptr);
        if (l_added == UPNPCOMMAND_HTTP_ERROR)
        {
            // The gateway did not answer at its control URL: one that restarted may
            // now listen on another port, and its old URL would fail for the rest of
            // the run. Forgotten, it is looked for again at the next renewal.
            ClearGateway();
            m_isGatewayLost = true;
        }
        return l_added;
    };

    int const l_result = l_add();
    if (l_result == UPNPCOMMAND_SUCCESS)
    {
        l_lines << QStringLiteral("Port %1 successfully mapped.").arg(i_port);
    }
    else if (l_result == c_conflictInMappingEntry)
    {
        l_lines << QStringLiteral(
            "Port already mapped, attempting to remove existing mapping before retrying.");
        // Its lines go out before ours, so the log reads removal first.
        RemovePortMapping(i_port);
        int const l_second = l_add();
        // A second conflict is a failure like any other: the port stays unmapped.
        if (l_second == UPNPCOMMAND_SUCCESS)
            l_lines << QStringLiteral("Second mapping attempt successful.");
        else
            l_lines << QStringLiteral("Second mapping attempt failed, miniupnp error: %1")
                           .arg(l_second);
    }
    else
    {
        l_lines << QStringLiteral("Port %1 mapping failure, miniupnp error: %2")
                       .arg(i_port)
                       .arg(l_result);
    }
    SendLines(l_lines);
}

void ThreadedServices::RemovePortMapping(int i_port)
{
    QStringList l_lines;
    l_lines << QStringLiteral("Removing mapping for port %1").arg(i_port);
    if (!HaveControlUrl())
    {
        l_lines << QStringLiteral("UPnP appears to not have been initialized, aborting.");
    }
    else
    {
        QByteArray const l_port = QByteArray::number(i_port);
        int const l_result = UPNP_DeletePortMapping(urls.controlURL, data.first.servicetype,
                                                    l_port.constData(), c_protocol, nullptr);
        if (l_result == UPNPCOMMAND_SUCCESS)
            l_lines << QStringLiteral("Port mapping successfully removed.");
        else
            l_lines
                << QStringLiteral("Port mapping removal failed, miniupnp error: %1").arg(l_result);
    }
    SendLines(l_lines);
}

void ThreadedServices::SendLines(QStringList const& i_lines)
{
    PortForwarder* lp_forwarder = &m_forwarder;
    QMetaObject::invokeMethod(
        lp_forwarder, [lp_forwarder, i_lines]() { lp_forwarder->LogLines(i_lines); },
        Qt::QueuedConnection);
}
