#include "support/FakeHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

FakeHttpServer::FakeHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeHttpServer::OnNewConnection);
}

bool FakeHttpServer::Listen()
{
    return m_server.isListening() || m_server.listen(QHostAddress(QHostAddress::LocalHost), 0);
}

void FakeHttpServer::SetAnswer(int status, QByteArray const& body, QList<QByteArray> const& headers)
{
    m_status = status;
    m_body = body;
    m_headers = headers;
}

bool FakeHttpServer::WaitForRequests(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_requests.size() >= count; }, timeoutMs);
}

void FakeHttpServer::OnNewConnection()
{
    while (QTcpSocket* const lp_socket = m_server.nextPendingConnection())
    {
        connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_socket] { OnReadyRead(lp_socket); });
        connect(lp_socket, &QTcpSocket::disconnected, lp_socket, &QObject::deleteLater);
    }
}

void FakeHttpServer::OnReadyRead(QTcpSocket* socket)
{
    QByteArray l_head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", l_head);
    if (!l_head.contains("\r\n\r\n"))
        return;
    // "GET /path HTTP/1.1"
    QList<QByteArray> const l_requestLine = l_head.left(l_head.indexOf("\r\n")).split(' ');
    m_requests.append({l_requestLine.value(0), l_requestLine.value(1)});

    QByteArray l_answer = "HTTP/1.1 " + QByteArray::number(m_status) + " Scripted\r\n";
    l_answer += "Content-Type: text/plain\r\n";
    l_answer += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
    l_answer += "Connection: close\r\n";
    for (QByteArray const& l_header : m_headers)
        l_answer += l_header + "\r\n";
    l_answer += "\r\n" + m_body;
    socket->write(l_answer);
    socket->disconnectFromHost();
}
