#include "net/server/PortForwarder.h"
#include "net/server/ThreadedServices.h"

#include "support/FakeGateway.h"
#include "support/LogCapture.h"

#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <miniupnpc/miniupnpc.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace
{
QString const c_area = QStringLiteral("Port Forwarding");
int const c_timeoutMs = 8000;
char const* const c_checkingAll = "Own address is reported as 127.0.0.1, checking all addresses.";
char const* const c_alreadyMapped =
    "Port already mapped, attempting to remove existing mapping before retrying.";

// What the client must name when its socket reports loopback and the gateway sits on
// 127.0.0.1: no interface shares the gateway's first three numbers except loopback
// itself, so the first IPv4 non-loopback address wins.
QString ExpectedOwnAddressBehindLoopbackGateway()
{
    for (QHostAddress const& l_address : QNetworkInterface::allAddresses())
        if (l_address.protocol() == QAbstractSocket::IPv4Protocol &&
            l_address.toString() != QLatin1String("127.0.0.1"))
            return l_address.toString();
    return QStringLiteral("127.0.0.1");
}

// A connected loopback socket, as the server connection hands its own socket over.
struct LoopbackPair
{
    QTcpServer server;
    QTcpSocket client;
    std::unique_ptr<QTcpSocket> accepted;

    bool Connect()
    {
        if (!server.listen(QHostAddress::LocalHost, 0))
            return false;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!client.waitForConnected(3000) || !server.waitForNewConnection(3000))
            return false;
        accepted.reset(server.nextPendingConnection());
        return accepted != nullptr;
    }
};
// Stands in for the library's discovery on the UPnP thread: notes how it was asked and
// answers with one gateway at s_descriptionUrl (set before the queued calls that reach
// it; read back after the lines they send, so the queue orders every access).
struct FakeDiscovery
{
    static inline QByteArray s_descriptionUrl;
    static inline QByteArray s_daemonPath;
    static inline int s_calls = 0;

    static UPNPDev* Discover(int, char const*, char const* ip_daemonSocket, int, int, unsigned char,
                             int* op_error)
    {
        ++s_calls;
        s_daemonPath = ip_daemonSocket ? QByteArray(ip_daemonSocket) : QByteArray("<null>");
        *op_error = 0;
        // One device laid out as the library does it, texts behind the record, so that
        // freeUPNPDevlist can release it with free().
        QByteArray const l_texts = s_descriptionUrl + '\0' +
                                   "urn:schemas-upnp-org:device:InternetGatewayDevice:1" + '\0' +
                                   '\0';
        auto* lp_device = static_cast<UPNPDev*>(std::calloc(1, sizeof(UPNPDev) + l_texts.size()));
        std::memcpy(lp_device->buffer, l_texts.constData(), l_texts.size());
        lp_device->descURL = lp_device->buffer;
        lp_device->st = lp_device->descURL + s_descriptionUrl.size() + 1;
        lp_device->usn = lp_device->buffer + l_texts.size() - 1;
        return lp_device;
    }
};
} // namespace

class TestPortForwarder : public QObject
{
    Q_OBJECT

private slots:
    void ownAddressChoice_data();
    void ownAddressChoice();
    void gatewayChoice();
    void mappingResults_data();
    void mappingResults();
    void removalAgainstGateway();
    void noGatewayAfterFailedDescription();
    void realDiscoveryFindsNoDevice();
    void findsGatewayThatMovedAtNextRenewal();
};

void TestPortForwarder::ownAddressChoice_data()
{
    QTest::addColumn<QString>("reported");
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<QString>("controlUrl");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("searched");

    QStringList const l_lan{"127.0.0.1", "fe80::1", "10.0.0.5", "192.168.1.20", "::1"};
    QString const l_routerUrl = QStringLiteral("http://192.168.1.1:5000/ctl/IPConn");

    QTest::newRow("LAN address kept")
        << "192.168.1.20" << l_lan << l_routerUrl << "192.168.1.20" << false;
    QTest::newRow("IPv4-mapped LAN address unwrapped")
        << "::ffff:192.168.1.20" << l_lan << l_routerUrl << "192.168.1.20" << false;
    QTest::newRow("loopback: address on the gateway's network")
        << "127.0.0.1" << l_lan << l_routerUrl << "192.168.1.20" << true;
    QTest::newRow("loopback: match found before a later candidate")
        << "127.0.0.1" << QStringList{"10.0.0.5", "172.16.4.2", "127.0.0.1"}
        << QStringLiteral("http://10.0.0.1/ctl") << "10.0.0.5" << true;
    QTest::newRow("loopback: the search stops at the match")
        << "127.0.0.1" << QStringList{"10.0.0.5", "192.168.1.20"} << l_routerUrl << "192.168.1.20"
        << true;
    QTest::newRow("loopback: no match names the first IPv4 address")
        << "127.0.0.1" << QStringList{"127.0.0.1", "::1", "172.16.4.2", "10.0.0.5"} << l_routerUrl
        << "172.16.4.2" << true;
    QTest::newRow("loopback: no gateway names the first IPv4 address")
        << "127.0.0.1" << l_lan << QString() << "10.0.0.5" << true;
    QTest::newRow("IPv4-mapped loopback searches too")
        << "::ffff:127.0.0.1" << l_lan << l_routerUrl << "192.168.1.20" << true;
    QTest::newRow("loopback: nothing but loopback and IPv6")
        << "127.0.0.1" << QStringList{"127.0.0.1", "::1", "fe80::1"} << l_routerUrl << "127.0.0.1"
        << true;
}

void TestPortForwarder::ownAddressChoice()
{
    QFETCH(QString, reported);
    QFETCH(QStringList, interfaces);
    QFETCH(QString, controlUrl);
    QFETCH(QString, expected);
    QFETCH(bool, searched);

    QList<QHostAddress> l_addresses;
    for (QString const& l_text : interfaces)
        l_addresses << QHostAddress(l_text);

    QStringList l_lines;
    QCOMPARE(ThreadedServices::ChooseOwnAddress(reported, l_addresses, controlUrl, l_lines),
             expected);
    QStringList l_expectedLines;
    if (searched)
        l_expectedLines << QString::fromLatin1(c_checkingAll);
    l_expectedLines << QStringLiteral("Found own address to be %1").arg(expected);
    QCOMPARE(l_lines, l_expectedLines);
}

void TestPortForwarder::gatewayChoice()
{
    char l_rootUrl[] = "http://10.0.0.2:80/desc.xml";
    char l_rootType[] = "upnp:rootdevice";
    char l_gatewayUrl[] = "http://10.0.0.1:5000/rootDesc.xml";
    char l_gatewayType[] = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";

    UPNPDev l_second{};
    l_second.descURL = l_gatewayUrl;
    l_second.st = l_gatewayType;
    UPNPDev l_first{};
    l_first.descURL = l_rootUrl;
    l_first.st = l_rootType;
    l_first.pNext = &l_second;

    // The gateway announced second is chosen; the device before it is skipped.
    QStringList l_lines;
    QCOMPARE(ThreadedServices::ChooseGateway(&l_first, l_lines), &l_second);
    QCOMPARE(l_lines,
             (QStringList{"http://10.0.0.2:80/desc.xml, upnp:rootdevice skipping",
                          "http://10.0.0.1:5000/rootDesc.xml, InternetGatewayDevice, found"}));

    // Without a gateway among them the first device is taken after every skip line.
    l_second.st = l_rootType;
    l_lines.clear();
    QCOMPARE(ThreadedServices::ChooseGateway(&l_first, l_lines), &l_first);
    QCOMPARE(l_lines, (QStringList{"http://10.0.0.2:80/desc.xml, upnp:rootdevice skipping",
                                   "http://10.0.0.1:5000/rootDesc.xml, upnp:rootdevice skipping",
                                   "Defaulting to first device found, upnp:rootdevice"}));

    // A first device that is the gateway gets no skip line.
    l_first.st = l_gatewayType;
    l_lines.clear();
    QCOMPARE(ThreadedServices::ChooseGateway(&l_first, l_lines), &l_first);
    QCOMPARE(l_lines, QStringList{"http://10.0.0.2:80/desc.xml, InternetGatewayDevice, found"});

    l_lines.clear();
    QCOMPARE(ThreadedServices::ChooseGateway(nullptr, l_lines), static_cast<UPNPDev*>(nullptr));
    QVERIFY(l_lines.isEmpty());
}

void TestPortForwarder::mappingResults_data()
{
    QTest::addColumn<QList<int>>("addResults");
    QTest::addColumn<QList<int>>("deleteResults");
    QTest::addColumn<QStringList>("removalLines");
    QTest::addColumn<QStringList>("mappingTail");
    QTest::addColumn<QByteArrayList>("actions");

    QStringList const l_removed{"Removing mapping for port 40123",
                                "Port mapping successfully removed."};
    QByteArrayList const l_retried{"AddPortMapping", "DeletePortMapping", "AddPortMapping"};

    QTest::newRow("0") << QList<int>{0} << QList<int>{} << QStringList{}
                       << QStringList{"Port 40123 successfully mapped."}
                       << QByteArrayList{"AddPortMapping"};
    QTest::newRow("718 then 0") << QList<int>{718, 0} << QList<int>{0} << l_removed
                                << QStringList{c_alreadyMapped,
                                               "Second mapping attempt successful."}
                                << l_retried;
    QTest::newRow("718 twice")
        << QList<int>{718, 718} << QList<int>{0} << l_removed
        << QStringList{c_alreadyMapped, "Second mapping attempt failed, miniupnp error: 718"}
        << l_retried;
    QTest::newRow("718 then 501")
        << QList<int>{718, 501} << QList<int>{0} << l_removed
        << QStringList{c_alreadyMapped, "Second mapping attempt failed, miniupnp error: 501"}
        << l_retried;
    QTest::newRow("718, removal refused")
        << QList<int>{718, 0} << QList<int>{714}
        << QStringList{"Removing mapping for port 40123",
                       "Port mapping removal failed, miniupnp error: 714"}
        << QStringList{c_alreadyMapped, "Second mapping attempt successful."} << l_retried;
    QTest::newRow("606") << QList<int>{606} << QList<int>{} << QStringList{}
                         << QStringList{"Port 40123 mapping failure, miniupnp error: 606"}
                         << QByteArrayList{"AddPortMapping"};
}

void TestPortForwarder::mappingResults()
{
    QFETCH(QList<int>, addResults);
    QFETCH(QList<int>, deleteResults);
    QFETCH(QStringList, removalLines);
    QFETCH(QStringList, mappingTail);
    QFETCH(QByteArrayList, actions);

    FakeGateway l_gateway;
    QVERIFY(l_gateway.Start());
    l_gateway.ScriptAddPortMapping(addResults);
    l_gateway.ScriptDeletePortMapping(deleteResults);
    LoopbackPair l_pair;
    QVERIFY(l_pair.Connect());

    LogCapture l_log;
    PortForwarder l_forwarder;
    QCOMPARE(portForwarder, &l_forwarder);
    l_forwarder.InitFromDescription(l_gateway.DescriptionUrl());
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area), QStringList{"Device XML found."}, c_timeoutMs);
    // The description was fetched, and nothing else yet.
    QCOMPARE(l_gateway.Requests().size(), 1);
    QCOMPARE(l_gateway.Requests()[0].method, QByteArray("GET"));
    QCOMPARE(ThreadedServices::ControlUrl(), l_gateway.ControlUrl());
    l_log.Clear();

    // A later Init must neither rediscover nor forget the gateway handed over.
    l_forwarder.Init();
    l_forwarder.AddPortMapping(&l_pair.client, 40123);

    QString const l_own = ExpectedOwnAddressBehindLoopbackGateway();
    QStringList l_expected = removalLines;
    l_expected << QString::fromLatin1(c_checkingAll)
               << QStringLiteral("Found own address to be %1").arg(l_own) << mappingTail;
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), l_expected.size(), c_timeoutMs);
    QCOMPARE(l_log.Texts(c_area), l_expected);
    for (LogCapture::Entry const& l_entry : l_log.Entries())
    {
        QCOMPARE(l_entry.area, c_area);
        QCOMPARE(l_entry.level, 1);
    }

    // The gateway saw exactly the calls the lines speak of, each with the same fields.
    QList<FakeGateway::Request> const l_soap = l_gateway.Requests().mid(1);
    QCOMPARE(l_soap.size(), actions.size());
    for (qsizetype l_i = 0; l_i < l_soap.size(); ++l_i)
    {
        FakeGateway::Request const& l_request = l_soap[l_i];
        QCOMPARE(l_request.action, actions[l_i]);
        QCOMPARE(l_request.path, QByteArray(FakeGateway::ControlPath));
        // The WAN connection service whose control URL was chosen, not another of the
        // gateway's services.
        QCOMPARE(l_request.serviceType, QByteArray(FakeGateway::ServiceType));
        QCOMPARE(l_request.Argument("NewExternalPort"), QStringLiteral("40123"));
        QCOMPARE(l_request.Argument("NewProtocol"), QStringLiteral("TCP"));
        QVERIFY(l_request.Argument("NewRemoteHost").isEmpty());
        if (l_request.action == "AddPortMapping")
        {
            QCOMPARE(l_request.Argument("NewInternalPort"), QStringLiteral("40123"));
            QCOMPARE(l_request.Argument("NewInternalClient"), l_own);
            QCOMPARE(l_request.Argument("NewPortMappingDescription"), QStringLiteral("KestruneQT"));
            QCOMPARE(l_request.Argument("NewLeaseDuration"), QStringLiteral("0"));
        }
    }
}

void TestPortForwarder::removalAgainstGateway()
{
    FakeGateway l_gateway;
    QVERIFY(l_gateway.Start());
    l_gateway.ScriptDeletePortMapping({0, 714});

    LogCapture l_log;
    PortForwarder l_forwarder;
    l_forwarder.InitFromDescription(l_gateway.DescriptionUrl());
    l_forwarder.RemovePortMapping(2235);
    l_forwarder.RemovePortMapping(2236);
    QStringList const l_expected{
        "Device XML found.", "Removing mapping for port 2235", "Port mapping successfully removed.",
        "Removing mapping for port 2236", "Port mapping removal failed, miniupnp error: 714"};
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), l_expected.size(), c_timeoutMs);
    QCOMPARE(l_log.Texts(c_area), l_expected);

    QList<FakeGateway::Request> const l_deletes = l_gateway.RequestsFor("DeletePortMapping");
    QCOMPARE(l_deletes.size(), 2);
    QCOMPARE(l_deletes[0].Argument("NewExternalPort"), QStringLiteral("2235"));
    QCOMPARE(l_deletes[1].Argument("NewExternalPort"), QStringLiteral("2236"));
    QCOMPARE(l_deletes[1].Argument("NewProtocol"), QStringLiteral("TCP"));
    QCOMPARE(l_deletes[1].serviceType, QByteArray(FakeGateway::ServiceType));
}

void TestPortForwarder::noGatewayAfterFailedDescription()
{
    // A port that was free a moment ago: the description fetch is refused at once.
    quint16 l_closedPort = 0;
    {
        QTcpServer l_probe;
        QVERIFY(l_probe.listen(QHostAddress::LocalHost, 0));
        l_closedPort = l_probe.serverPort();
    }
    LoopbackPair l_pair;
    QVERIFY(l_pair.Connect());

    LogCapture l_log;
    PortForwarder l_forwarder;
    l_forwarder.InitFromDescription(
        QStringLiteral("http://127.0.0.1:%1/rootDesc.xml").arg(l_closedPort));
    l_forwarder.AddPortMapping(&l_pair.client, 2235);
    l_forwarder.RemovePortMapping(2235);

    // Without a control URL nothing reaches the library; the mapping fails as an
    // unreachable gateway would, and the removal says UPnP is not set up.
    QStringList const l_expected{
        "Device XML not found.",
        c_checkingAll,
        QStringLiteral("Found own address to be %1").arg(ExpectedOwnAddressBehindLoopbackGateway()),
        "Port 2235 mapping failure, miniupnp error: -3",
        "Removing mapping for port 2235",
        "UPnP appears to not have been initialized, aborting."};
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), l_expected.size(), c_timeoutMs);
    QCOMPARE(l_log.Texts(c_area), l_expected);
    QVERIFY(ThreadedServices::ControlUrl().isEmpty());
}

void TestPortForwarder::realDiscoveryFindsNoDevice()
{
    LoopbackPair l_pair;
    QVERIFY(l_pair.Connect());

    LogCapture l_log;
    PortForwarder l_forwarder;
    // The search goes out on the loopback interface only and waits briefly: nothing
    // answers there.
    l_forwarder.SetDiscoveryOptions(100, QStringLiteral("127.0.0.1"));
    l_forwarder.Init();
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), 2, c_timeoutMs);
    QStringList const l_lines = l_log.Texts(c_area);
    QCOMPARE(l_lines[0], QStringLiteral("Initializing UPnP"));
    QRegularExpression const l_noDevice(
        QStringLiteral("^No device list found during discovery\\. miniupnp error code: -?\\d+$"));
    QVERIFY2(l_noDevice.match(l_lines[1]).hasMatch(), qPrintable(l_lines[1]));
    QVERIFY(ThreadedServices::ControlUrl().isEmpty());

    // Discovery runs once: a second Init logs nothing, so the next lines are the
    // mapping's, failing for want of a gateway.
    l_log.Clear();
    l_forwarder.Init();
    l_forwarder.AddPortMapping(&l_pair.client, 2236);
    QStringList const l_expected{
        c_checkingAll,
        QStringLiteral("Found own address to be %1").arg(ExpectedOwnAddressBehindLoopbackGateway()),
        "Port 2236 mapping failure, miniupnp error: -3"};
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), l_expected.size(), c_timeoutMs);
    QCOMPARE(l_log.Texts(c_area), l_expected);
}

void TestPortForwarder::findsGatewayThatMovedAtNextRenewal()
{
    auto lp_first = std::make_unique<FakeGateway>();
    QVERIFY(lp_first->Start());
    LoopbackPair l_pair;
    QVERIFY(l_pair.Connect());
    QString const l_own =
        QStringLiteral("Found own address to be %1").arg(ExpectedOwnAddressBehindLoopbackGateway());
    auto const l_mapped = [&](int i_port, QString const& i_result) {
        return QStringList{c_checkingAll, l_own, i_result.arg(i_port)};
    };
    auto const l_found = [](FakeGateway const& i_gateway) {
        return QStringList{"Initializing UPnP", "Device list found",
                           i_gateway.DescriptionUrl() + ", InternetGatewayDevice, found",
                           "Device XML found."};
    };

    LogCapture l_log;
    PortForwarder l_forwarder;
    l_forwarder.SetDiscoverFunction(&FakeDiscovery::Discover);
    FakeDiscovery::s_descriptionUrl = lp_first->DescriptionUrl().toLatin1();
    l_forwarder.Init();
    l_forwarder.AddPortMapping(&l_pair.client, 40124);
    QStringList l_expected = l_found(*lp_first) + l_mapped(40124, "Port %1 successfully mapped.");
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), l_expected.size(), c_timeoutMs);
    QCOMPARE(l_log.Texts(c_area), l_expected);
    QCOMPARE(FakeDiscovery::s_calls, 1);
    // Discovery asks the network, not a local discovery daemon.
    QCOMPARE(FakeDiscovery::s_daemonPath, QByteArray(""));

    // The gateway restarts on another port. Both mappings of the renewal that finds the
    // old URL dead fail, without a second search in between; a reconnect's Init neither.
    lp_first.reset();
    FakeGateway l_second;
    QVERIFY(l_second.Start());
    FakeDiscovery::s_descriptionUrl = l_second.DescriptionUrl().toLatin1();
    l_log.Clear();
    l_forwarder.AddPortMapping(&l_pair.client, 40124);
    l_forwarder.Init();
    l_forwarder.AddPortMapping(&l_pair.client, 40125);
    l_expected = l_mapped(40124, "Port %1 mapping failure, miniupnp error: -3") +
                 l_mapped(40125, "Port %1 mapping failure, miniupnp error: -3");
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), l_expected.size(), c_timeoutMs);
    QCOMPARE(l_log.Texts(c_area), l_expected);
    QCOMPARE(FakeDiscovery::s_calls, 1);
    QVERIFY(ThreadedServices::ControlUrl().isEmpty());

    // The next renewal finds it where it is now; a gateway that answers is not looked
    // for again.
    l_log.Clear();
    l_forwarder.Rediscover();
    l_forwarder.AddPortMapping(&l_pair.client, 40124);
    l_forwarder.Rediscover();
    l_forwarder.AddPortMapping(&l_pair.client, 40125);
    l_expected = l_found(l_second) + l_mapped(40124, "Port %1 successfully mapped.") +
                 l_mapped(40125, "Port %1 successfully mapped.");
    QTRY_COMPARE_WITH_TIMEOUT(l_log.Texts(c_area).size(), l_expected.size(), c_timeoutMs);
    QCOMPARE(l_log.Texts(c_area), l_expected);
    QCOMPARE(FakeDiscovery::s_calls, 2);
    QCOMPARE(ThreadedServices::ControlUrl(), l_second.ControlUrl());
    QCOMPARE(l_second.RequestsFor("AddPortMapping").size(), 2);
}

QTEST_GUILESS_MAIN(TestPortForwarder)
#include "tst_port_forwarder.moc"
