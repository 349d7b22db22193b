#include "support/FakeGateway.h"

#include <QHostAddress>
#include <QTcpSocket>

char const* const FakeGateway::ServiceType = "urn:schemas-upnp-org:service:WANIPConnection:1";
char const* const FakeGateway::ControlPath = "/ctl/IPConn";
char const* const FakeGateway::DescriptionPath = "/rootDesc.xml";

namespace
{
// Headers larger than this are not HTTP from the library; drop the connection.
qsizetype const c_maxRequestBytes = 64 * 1024;
} // namespace

QString FakeGateway::Request::Argument(QString const& i_name) const
{
    QByteArray const l_open = '<' + i_name.toLatin1() + '>';
    QByteArray const l_close = "</" + i_name.toLatin1() + '>';
    qsizetype const l_start = body.indexOf(l_open);
    if (l_start < 0)
        return QString();
    qsizetype const l_valueStart = l_start + l_open.size();
    qsizetype const l_end = body.indexOf(l_close, l_valueStart);
    if (l_end < 0)
        return QString();
    return QString::fromUtf8(body.mid(l_valueStart, l_end - l_valueStart));
}

FakeGateway::FakeGateway()
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeGateway::OnNewConnection);
}

bool FakeGateway::Start()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 FakeGateway::Port() const
{
    return m_server.serverPort();
}

QString FakeGateway::DescriptionUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(QLatin1String(DescriptionPath));
}

QString FakeGateway::ControlUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(QLatin1String(ControlPath));
}

void FakeGateway::ScriptAddPortMapping(QList<int> const& i_results)
{
    m_addScript = i_results;
}

void FakeGateway::ScriptDeletePortMapping(QList<int> const& i_results)
{
    m_deleteScript = i_results;
}

QList<FakeGateway::Request> const& FakeGateway::Requests() const
{
    return m_requests;
}

QList<FakeGateway::Request> FakeGateway::RequestsFor(QByteArray const& i_action) const
{
    QList<Request> l_found;
    for (Request const& l_request : m_requests)
        if (l_request.action == i_action)
            l_found << l_request;
    return l_found;
}

void FakeGateway::OnNewConnection()
{
    while (QTcpSocket* lp_socket = m_server.nextPendingConnection())
    {
        m_pending.insert(lp_socket, QByteArray());
        connect(lp_socket, &QTcpSocket::readyRead, this,
                [this, lp_socket]() { OnReadyRead(lp_socket); });
        connect(lp_socket, &QTcpSocket::disconnected, this,
                [this, lp_socket]()
                {
                    m_pending.remove(lp_socket);
                    lp_socket->deleteLater();
                });
    }
}

void FakeGateway::OnReadyRead(QTcpSocket* ip_socket)
{
    auto l_it = m_pending.find(ip_socket);
    if (l_it == m_pending.end())
        return;
    QByteArray& l_buffer = l_it.value();
    l_buffer += ip_socket->readAll();

    qsizetype const l_headerEnd = l_buffer.indexOf("\r\n\r\n");
    if (l_headerEnd < 0)
    {
        if (l_buffer.size() > c_maxRequestBytes)
            ip_socket->abort();
        return;
    }

    QList<QByteArray> const l_lines = l_buffer.left(l_headerEnd).split('\n');
    QList<QByteArray> const l_requestLine = l_lines.value(0).trimmed().split(' ');
    Request l_request;
    l_request.method = l_requestLine.value(0);
    l_request.path = l_requestLine.value(1);
    qsizetype l_contentLength = 0;
    for (qsizetype l_i = 1; l_i < l_lines.size(); ++l_i)
    {
        QByteArray const l_line = l_lines[l_i].trimmed();
        qsizetype const l_colon = l_line.indexOf(':');
        if (l_colon < 0)
            continue;
        QByteArray const l_name = l_line.left(l_colon).trimmed().toLower();
        QByteArray const l_value = l_line.mid(l_colon + 1).trimmed();
        if (l_name == "content-length")
        {
            l_contentLength = l_value.toLongLong();
        }
        else if (l_name == "soapaction")
        {
            QByteArray l_action = l_value;
            l_action.replace('"', QByteArray());
            qsizetype const l_hash = l_action.indexOf('#');
            l_request.serviceType = l_hash < 0 ? QByteArray() : l_action.left(l_hash);
            l_request.action = l_hash < 0 ? l_action : l_action.mid(l_hash + 1);
        }
    }
    if (l_contentLength < 0 || l_contentLength > c_maxRequestBytes)
    {
        ip_socket->abort();
        return;
    }
    qsizetype const l_bodyStart = l_headerEnd + 4;
    if (l_buffer.size() - l_bodyStart < l_contentLength)
        return;
    l_request.body = l_buffer.mid(l_bodyStart, l_contentLength);
    l_buffer.clear();

    m_requests << l_request;
    Handle(ip_socket, l_request);
    emit RequestHandled();
}

void FakeGateway::Handle(QTcpSocket* ip_socket, Request const& i_request)
{
    if (i_request.method == "GET" && i_request.path == DescriptionPath)
    {
        Reply(ip_socket, "200 OK", DescriptionXml());
        return;
    }
    if (i_request.method != "POST" || i_request.path != ControlPath)
    {
        Reply(ip_socket, "404 Not Found", QByteArray());
        return;
    }
    QList<int>* lp_script = nullptr;
    if (i_request.action == "AddPortMapping")
        lp_script = &m_addScript;
    else if (i_request.action == "DeletePortMapping")
        lp_script = &m_deleteScript;
    else
    {
        Reply(ip_socket, "500 Internal Server Error", SoapFault(401));
        return;
    }
    int const l_result = lp_script->isEmpty() ? 0 : lp_script->takeFirst();
    if (l_result == 0)
        Reply(ip_socket, "200 OK", SoapSuccess(i_request.action));
    else
        Reply(ip_socket, "500 Internal Server Error", SoapFault(l_result));
}

void FakeGateway::Reply(QTcpSocket* ip_socket, QByteArray const& i_status, QByteArray const& i_body)
{
    QByteArray l_response = "HTTP/1.1 " + i_status + "\r\n";
    l_response += "Content-Type: text/xml; charset=\"utf-8\"\r\n";
    l_response += "Content-Length: " + QByteArray::number(i_body.size()) + "\r\n";
    l_response += "Connection: close\r\n\r\n";
    l_response += i_body;
    ip_socket->write(l_response);
    ip_socket->disconnectFromHost();
}

QByteArray FakeGateway::DescriptionXml()
{
    QByteArray l_xml;
    l_xml += "<?xml version=\"1.0\"?>\r\n";
    l_xml += "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">";
    l_xml += "<specVersion><major>1</major><minor>0</minor></specVersion>";
    l_xml += "<device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>";
    l_xml += "<friendlyName>Loopback gateway</friendlyName>";
    l_xml += "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>";
    l_xml += "<serviceList><service>";
    l_xml += "<serviceType>urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1</serviceType>";
    l_xml += "<serviceId>urn:upnp-org:serviceId:WANCommonIFC1</serviceId>";
    l_xml += "<controlURL>/ctl/CmnIfCfg</controlURL><eventSubURL>/evt/CmnIfCfg</eventSubURL>";
    l_xml += "<SCPDURL>/WANCfg.xml</SCPDURL></service></serviceList>";
    l_xml += "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</"
             "deviceType>";
    l_xml += "<serviceList><service>";
    l_xml += "<serviceType>";
    l_xml += ServiceType;
    l_xml += "</serviceType>";
    l_xml += "<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>";
    l_xml += "<controlURL>";
    l_xml += ControlPath;
    l_xml += "</controlURL><eventSubURL>/evt/IPConn</eventSubURL>";
    l_xml += "<SCPDURL>/WANIPCn.xml</SCPDURL></service></serviceList>";
    l_xml += "</device></deviceList></device></deviceList></device></root>\r\n";
    return l_xml;
}

QByteArray FakeGateway::SoapSuccess(QByteArray const& i_action)
{
    QByteArray l_xml;
    l_xml += "<?xml version=\"1.0\"?>\r\n";
    l_xml += "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
             "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
    l_xml += "<u:" + i_action + "Response xmlns:u=\"" + ServiceType + "\"/>";
    l_xml += "</s:Body></s:Envelope>\r\n";
    return l_xml;
}

QByteArray FakeGateway::SoapFault(int i_code)
{
    QByteArray l_xml;
    l_xml += "<?xml version=\"1.0\"?>\r\n";
    l_xml += "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
             "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
    l_xml += "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>";
    l_xml += "<detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">";
    l_xml += "<errorCode>" + QByteArray::number(i_code) + "</errorCode>";
    l_xml += "<errorDescription>Scripted failure</errorDescription>";
    l_xml += "</UPnPError></detail></s:Fault></s:Body></s:Envelope>\r\n";
    return l_xml;
}
