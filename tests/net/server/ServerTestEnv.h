#pragma once

// Shared set-up of the server connection tests: the services the connection needs
// (timers, store saver, settings types, the user and room types, the search types it
// writes), and a fixture that points a fresh Server at a FakeServer on loopback.

#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "support/StoreServices.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace ServerTestEnv
{
// Once per test program: the store schema and the services the connection uses. The
// timers are stopped: tests call the periodic slots themselves.
inline void InitOnce()
{
    static bool s_done = false;
    if (s_done)
        return;
    s_done = true;

    StartStoreServices();

    {
        Server l_server;
        l_server.CreateData();
    }
    delete portForwarder;

    // The searches a Server records; the peer network declares these in the program.
    d.NewType("search_request", Primary, false, false);
    d.NewType("search_request_text", Primary, false, true);
    d.NewType("wishlist_search", Tertiary, true, true);
    d["search_request"]->RelateToType(d["search_request_text"], Many, One, false);
    d["search_request"]->RelateToType(d["wishlist_search"], Many, One, false);
}

inline QList<quint32> CodesOf(QList<FakeServer::Frame> const& frames)
{
    QList<quint32> l_codes;
    for (FakeServer::Frame const& l_frame : frames)
        l_codes.append(l_frame.code);
    return l_codes;
}

// One Server against one FakeServer, user "alice" with password "pw".
class Fixture
{
public:
    Fixture()
    {
        InitOnce();
        d.RemoveAllItems();
        QVERIFY(m_fake.Listen());
        SetSetting("server_host", QStringLiteral("127.0.0.1"));
        SetSetting("server_port", QString::number(m_fake.Port()));
        SetSetting("username", QStringLiteral("alice"));
        SetSetting("password", QStringLiteral("pw"));
        mp_server = std::make_unique<Server>();
        mp_connecting = std::make_unique<QSignalSpy>(mp_server.get(), &Server::Connecting);
        mp_connected = std::make_unique<QSignalSpy>(mp_server.get(), &Server::Connected);
        mp_disconnected = std::make_unique<QSignalSpy>(mp_server.get(), &Server::Disconnected);
        mp_failed = std::make_unique<QSignalSpy>(mp_server.get(), &Server::ConnectionFailed);
    }

    ~Fixture()
    {
        mp_connecting.reset();
        mp_connected.reset();
        mp_disconnected.reset();
        mp_failed.reset();
        mp_server.reset();
        delete portForwarder;
    }

    Server& server() { return *mp_server; }
    FakeServer& fake() { return m_fake; }
    QSignalSpy& connecting() { return *mp_connecting; }
    QSignalSpy& connected() { return *mp_connected; }
    QSignalSpy& disconnected() { return *mp_disconnected; }
    QSignalSpy& failed() { return *mp_failed; }

    // Connects and has the fake accept the login; true once Connected() came.
    bool LogIn()
    {
        int const l_before = static_cast<int>(mp_connected->count());
        m_fake.SetReply(1, FrameBuilder::LoginAccepted());
        mp_server->Connect();
        return QTest::qWaitFor([&] { return mp_connected->count() > l_before; }, 3000);
    }

    // Connects and waits until the fake has the login, leaving the login unanswered.
    bool ConnectWithoutReply()
    {
        m_fake.ClearReply(1);
        int const l_accepted = m_fake.AcceptedCount();
        mp_server->Connect();
        return m_fake.WaitForAccepted(l_accepted + 1) &&
               QTest::qWaitFor(
                   [&] {
                       for (FakeServer::Frame const& l_frame : m_fake.FramesWithCode(1))
                           if (l_frame.connection == m_fake.AcceptedCount())
                               return true;
                       return false;
                   },
                   3000);
    }

    // The frames of the newest connection after its login, in order.
    QList<FakeServer::Frame> FramesAfterLogin() const
    {
        QList<FakeServer::Frame> l_frames;
        bool l_afterLogin = false;
        for (FakeServer::Frame const& l_frame : m_fake.Frames()) {
            if (l_frame.connection != m_fake.AcceptedCount())
                continue;
            if (l_afterLogin)
                l_frames.append(l_frame);
            else if (l_frame.code == 1)
                l_afterLogin = true;
        }
        return l_frames;
    }

private:
    FakeServer m_fake;
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<QSignalSpy> mp_connecting;
    std::unique_ptr<QSignalSpy> mp_connected;
    std::unique_ptr<QSignalSpy> mp_disconnected;
    std::unique_ptr<QSignalSpy> mp_failed;
};
} // namespace ServerTestEnv
