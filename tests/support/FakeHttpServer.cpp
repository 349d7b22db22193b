#include "support/FakeHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

FakeHttpServer::FakeHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* const lp_socket = m_server.nextPendingConnection())
        {
            connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_socket] { OnReadyRead(lp_socket); });
            connect(lp_socket, &QTcpSocket::disconnected, lp_socket, &QObject::deleteLater);
        }
    });
    SetAnswer(404, {});
}

bool FakeHttpServer::Listen()
{
    return m_server.isListening() || m_server.listen(QHostAddress(QHostAddress::LocalHost), 0);
}

void FakeHttpServer::SetAnswer(int status, QByteArray const& body, QList<QByteArray> const& headers)
{
    m_answer = "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\nContent-Type: text/plain\r\n" +
               "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n";
    for (QByteArray const& l_header : headers)
        m_answer += l_header + "\r\n";
    m_answer += "\r\n" + body;
}

bool FakeHttpServer::WaitForRequests(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_requests.size() >= count; }, timeoutMs);
}

void FakeHttpServer::OnReadyRead(QTcpSocket* socket)
{
    QByteArray const l_head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", l_head);
    if (!l_head.contains("\r\n\r\n"))
        return;
    // "GET /path HTTP/1.1"
    QList<QByteArray> const l_requestLine = l_head.left(l_head.indexOf("\r\n")).split(' ');
    m_requests.append({l_requestLine.value(0), l_requestLine.value(1)});
    socket->write(m_stallAfter < 0 ? m_answer : m_answer.left(m_stallAfter));
    if (m_stallAfter < 0)
        socket->disconnectFromHost();
}
