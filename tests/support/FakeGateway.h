#pragma once

// A UPnP Internet gateway on 127.0.0.1: serves a root description naming one
// WANIPConnection service and answers its SOAP control calls from a script. Every
// request it receives is recorded. The HTTP and XML are written by hand so that the
// client's UPnP library is checked against bytes it did not produce itself.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

class FakeGateway : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        // The SOAPAction header's service type (before '#') and action (after it);
        // both empty for plain GETs.
        QByteArray serviceType;
        QByteArray action;
        QByteArray body;

        // Text of the first <name>...</name> element of the body; null when absent.
        QString Argument(QString const& i_name) const;
    };

    static char const* const ServiceType;
    static char const* const ControlPath;
    static char const* const DescriptionPath;

    FakeGateway();

    // Listens on a free port of 127.0.0.1.
    bool Start();
    quint16 Port() const;
    QString DescriptionUrl() const;
    QString ControlUrl() const;

    // Answers to the coming AddPortMapping / DeletePortMapping calls, in order: 0 is
    // success, any other number a UPnPError fault with that code. Calls beyond the
    // script succeed.
    void ScriptAddPortMapping(QList<int> const& i_results);
    void ScriptDeletePortMapping(QList<int> const& i_results);

    QList<Request> const& Requests() const;
    QList<Request> RequestsFor(QByteArray const& i_action) const;

signals:
    void RequestHandled();

private:
    void OnNewConnection();
    void OnReadyRead(QTcpSocket* ip_socket);
    void Handle(QTcpSocket* ip_socket, Request const& i_request);
    static void Reply(QTcpSocket* ip_socket, QByteArray const& i_status, QByteArray const& i_body);
    static QByteArray DescriptionXml();
    static QByteArray SoapSuccess(QByteArray const& i_action);
    static QByteArray SoapFault(int i_code);

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
    QList<Request> m_requests;
    QList<int> m_addScript;
    QList<int> m_deleteScript;
};
