#pragma once

// The central server's share of peer connections, scripted on a FakeServer: address
// replies (code 3) that point at 127.0.0.1, relayed connect-back requests (code 18)
// and reports that a peer could not connect back (code 1001). Bytes are built by hand
// with FrameBuilder.
//
//     FakeServerPeerScript l_script(l_fake);
//     l_script.AnswerAddress("bob", l_peer.Listen());      // every code 3 for bob
//     l_script.RelayConnectionRequest("bob", "P", l_port, 77);

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QString>
#include <QtGlobal>

class FakeServer;

class FakeServerPeerScript
{
public:
    static constexpr quint32 c_loopback = 0x7F000001u;

    explicit FakeServerPeerScript(FakeServer& server) : m_server(server) {}

    // Code 3: user, u32 address, u32 port, u32 obfuscation type (1 with an obfuscated
    // port), u16 obfuscated port.
    static QByteArray UserAddress(QString const& user, quint16 port, quint16 obfuscatedPort = 0,
                                  quint32 address = c_loopback);
    // Code 18: user, type, u32 address, u32 port, u32 token, u8 privileged, u32
    // obfuscation type and, when it is 1, u32 obfuscated port.
    static QByteArray PeerConnectionRequest(QString const& user, QString const& type,
                                            quint16 port, quint32 token,
                                            quint16 obfuscatedPort = 0,
                                            quint32 address = c_loopback);
    // Code 1001 from the server: u32 token.
    static QByteArray CantConnect(quint32 token);

    // Answers every address request (whatever user it names) with this user's address.
    void AnswerAddress(QString const& user, quint16 port, quint16 obfuscatedPort = 0);
    void RelayConnectionRequest(QString const& user, QString const& type, quint16 port,
                                quint32 token, quint16 obfuscatedPort = 0);
    void ReportCantConnect(quint32 token);

    // What the client sent: the tokens, users and types of its code 18 requests, the
    // users of its code 3 requests, and token and user of its code 1001 reports.
    struct IndirectRequest
    {
        quint32 token = 0;
        QString user;
        QString type;
    };
    QList<IndirectRequest> IndirectRequests() const;
    QStringList AddressRequests() const;
    QList<QPair<quint32, QString>> CantConnectReports() const;

private:
    FakeServer& m_server;
};
