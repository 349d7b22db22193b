#pragma once

// A stand-in for a web host: a QTcpServer on 127.0.0.1 on a free port that records the
// method and path of every request and answers each with one scripted status, header
// lines and body, then closes the connection. Requests are read by hand. A stalled host
// sends only the start of its answer and then keeps the connection open without a word.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

class FakeHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
    };

    explicit FakeHttpServer(QObject* parent = nullptr);
    bool Listen();
    quint16 Port() const { return m_server.serverPort(); }
    // The answer to every request from now on; header lines such as "Location: ...".
    void SetAnswer(int status, QByteArray const& body, QList<QByteArray> const& headers = {});
    // From now on only the first `bytes` of each answer are sent and the connection is
    // held open; a negative count sends whole answers again.
    void SetStallAfter(qsizetype bytes) { m_stallAfter = bytes; }
    QList<Request> const& Requests() const { return m_requests; }
    void ClearRequests() { m_requests.clear(); }
    // Runs the event loop until that many requests came, at most the time-out.
    bool WaitForRequests(int count, int timeoutMs = 3000);

private:
    void OnReadyRead(QTcpSocket* socket);

    QTcpServer m_server;
    QList<Request> m_requests;
    QByteArray m_answer;
    qsizetype m_stallAfter = -1;
};
