#pragma once

// Shared set-up of the peer connection tests: the services the messenger needs, one
// Server logged in as "alice" at a FakeServer on loopback, one PeerMessenger listening
// on free ports, and helpers to give users addresses and to back-date time stamps.

#include "net/peer/PeerMessenger.h"
#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "support/FakePeer.h"
#include "support/FakeServer.h"
#include "support/FakeServerPeerScript.h"
#include "support/FrameBuilder.h"
#include "support/StoreServices.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

namespace PeerTestEnv
{
inline QString const c_area = QStringLiteral("Peer Messenger");
inline unsigned int const c_loopback = 0x7F000001u;

// A port nobody listens on right now (bound once and released).
inline quint16 FreePort()
{
    QTcpServer l_probe;
    if (!l_probe.listen(QHostAddress(QHostAddress::AnyIPv4), 0))
        return 0;
    return l_probe.serverPort();
}

inline QByteArray U32(std::uint32_t value)
{
    return FakePeer::U32(value);
}

// A peer message's payload: its u32 code, then the fields.
inline QByteArray Code(std::uint32_t code, QByteArray const& fields = {})
{
    return FakePeer::U32(code) + fields;
}

// A message as the client builds it: its bytes in a fresh stream.
inline MemStream MessageOf(QByteArray const& bytes)
{
    MemStream l_message;
    l_message.WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
    return l_message;
}

class Fixture
{
public:
    // Everything up to a logged-in server and a listening messenger.
    // With a new listening port, the ports move to it (and the next one) at start.
    bool SetUp(quint16 newListeningPort = 0)
    {
        StartStoreServices();
        if (!m_fake.Listen())
            return false;
        SetSetting("server_host", QStringLiteral("127.0.0.1"));
        SetSetting("server_port", QString::number(m_fake.Port()));
        SetSetting("username", QStringLiteral("alice"));
        SetSetting("password", QStringLiteral("pw"));
        if (newListeningPort)
            SetSetting("new_listening_port", QString::number(newListeningPort));
        mp_server = std::make_unique<Server>();
        mp_server->CreateData();
        mp_messenger = std::make_unique<PeerMessenger>();
        // A free port can be taken by another test program before the messenger listens
        // on it; a socket left without one gets another.
        QTcpServer const& l_plain = mp_messenger->ListeningSocket();
        QTcpServer const& l_obfuscated = mp_messenger->ObfuscatedListeningSocket();
        for (int l_try = 0; l_try < 5 && !(l_plain.isListening() && l_obfuscated.isListening()); ++l_try)
        {
            if (!l_plain.isListening())
                SetSetting("listening_port", QString::number(FreePort()));
            if (!l_obfuscated.isListening())
                SetSetting("obfuscated_listening_port", QString::number(FreePort()));
            mp_messenger->DataLoaded();
        }
        if (!l_plain.isListening() || !l_obfuscated.isListening())
            return false;

        QSignalSpy l_connected(mp_server.get(), &Server::Connected);
        m_fake.SetReply(1, FrameBuilder::LoginAccepted());
        mp_server->Connect();
        return l_connected.wait(3000) || l_connected.count() > 0;
    }

    void TearDown()
    {
        mp_messenger.reset();
        mp_server.reset();
        delete portForwarder;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    FakeServer& fake() { return m_fake; }
    FakeServerPeerScript& script() { return m_script; }
    quint16 PlainPort() const { return mp_messenger->ListeningSocket().serverPort(); }
    quint16 ObfuscatedPort() const { return mp_messenger->ObfuscatedListeningSocket().serverPort(); }

private:
    FakeServer m_fake;
    FakeServerPeerScript m_script{m_fake};
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<PeerMessenger> mp_messenger;
};

inline ItemPtr User(QString const& name)
{
    return d["user"]->GetItem(Value(name));
}

// The user's address items as the server connection would set them.
inline void SetAddress(QString const& name, quint16 port, quint16 obfuscatedPort = 0)
{
    ItemPtr const l_user = User(name);
    l_user += d["user_address"]->GetItem(Value(c_loopback));
    l_user += d["user_port"]->GetItem(Value(int(port)));
    l_user += d["user_obfuscated_port"]->GetItem(Value(int(obfuscatedPort)));
}

// Re-links the item's time stamp of the given type to one `seconds` in the past.
inline void BackDate(ItemPtr item, char const* timeType, int seconds)
{
    item.Disconnect(timeType);
    item += d[timeType]->GetItem(
        Value(QDateTime::currentDateTime().addSecs(-seconds).toString(Qt::TextDate)));
}

// Disposes of every socket the messenger still knows and forgets every request, so
// that one test's leftovers cannot answer another's.
inline void ClearConnections()
{
    for (char const* lp_type : {"uninitialized_socket", "peer_socket", "peer_connection_request_socket"})
        for (ItemPtr const& l_item : d[lp_type]->GetItems())
            peerMessenger->DisposeOfSocket(l_item.AsPtr<QTcpSocket>());
    for (ItemPtr const& l_item : d["connect_to_peer_request_socket"]->GetItems())
    {
        auto* lp_socket = l_item.AsPtr<QTcpSocket>();
        lp_socket->disconnect();
        lp_socket->abort();
        lp_socket->deleteLater();
        l_item.Remove();
    }
    for (ItemPtr const& l_item : d["unsent_message"]->GetItems())
    {
        delete l_item.AsPtr<MemStream>();
        l_item.Remove();
    }
    for (char const* lp_type : {"connect_to_peer_request", "indirect_connect_to_peer_request",
                                "peer_connection_request"})
        d[lp_type]->GetItems().Remove();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The requests (anonymous items) for the user and type.
inline ItemSet Requests(QString const& name, QString const& type)
{
    ItemPtr const l_type = d["peer_connection_type"]->HasItem(Value(type));
    if (!l_type)
        return ItemSet();
    return d.GetItemSubset(ItemSet{User(name), l_type}, "connect_to_peer_request");
}

inline QByteArray InitFrameOf(QByteArray const& user, QByteArray const& type)
{
    return FakePeer::PlainFrame(FakePeer::InitPayload(user, type));
}
} // namespace PeerTestEnv
