#pragma once

// Set-up of the tests of incoming server messages: a logged-in Server against a
// FakeServer, the peer network's item types that the server connection writes into,
// and helpers to deliver frames and read the store.
//
// Those types are declared again here, exactly as the peer network declares them, on
// purpose: the server tests must not link the peer library, so that they exercise the
// server connection alone and the server library keeps no hidden dependency on the
// peer code. Keep the two in step when the peer network's schema changes.

#include "ServerTestEnv.h"

#include "support/IncomingFrames.h"

#include "net/server/Server.h"
#include "store/Data.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace IncomingTestEnv
{
// Relates a to b: each a holds `perA` b items, each b holds `perB` a items.
inline void Relate(char const* a, char const* b, OneOrMany perA, OneOrMany perB)
{
    d[a]->RelateToType(d[b], perB, perA, false);
}

inline void InitOnce()
{
    ServerTestEnv::InitOnce();
    static bool s_done = false;
    if (s_done)
        return;
    s_done = true;

    d.NewType("peer_connection_request", Primary, true, false);
    d.NewType("peer_connection_request_id", Tertiary, false, true);
    d.NewType("peer_connection_type", Tertiary, false, true);
    d.NewType("user_address", Tertiary, false, true);
    d.NewType("user_port", Tertiary, false, true);
    d.NewType("user_obfuscated_port", Tertiary, false, true);
    Relate("peer_connection_request", "peer_connection_request_id", One, Many);
    Relate("peer_connection_request", "user", One, Many);
    Relate("peer_connection_request", "peer_connection_type", One, Many);
    Relate("user", "user_address", One, Many);
    Relate("user", "user_port", One, Many);
    Relate("user", "user_obfuscated_port", One, Many);

    d.NewType("search_correlation", Secondary, true, true);
    d.NewType("correlation_text", Tertiary, false, true);
    d.NewType("correlation_rank", Tertiary, false, true);
    Relate("search_request_text", "search_correlation", Many, One);
    Relate("search_correlation", "correlation_text", One, Many);
    Relate("search_correlation", "correlation_rank", One, Many);
}

// The value of the item of `type` connected to `item`, or "<none>".
inline QString ValueOf(ItemPtr item, char const* type)
{
    if (item.IsNull())
        return QStringLiteral("<no item>");
    ItemPtr const l_value = item[type];
    return l_value.IsNull() ? QStringLiteral("<none>") : l_value.AsString();
}

inline ItemPtr UserItem(QString const& name)
{
    return d["user"]->HasItem(Value(name));
}

inline ItemPtr RoomItem(QString const& name)
{
    return d["room"]->HasItem(Value(name));
}

inline bool HasFlag(ItemPtr item, char const* flag)
{
    return item.IsNotNull() && item.IsConnected(flag);
}

// The names of the users connected to `item` (a room or one of its nodes), sorted.
inline QStringList UserNames(ItemPtr item)
{
    QStringList l_names;
    if (item.IsNull())
        return l_names;
    for (ItemPtr const& l_user : item.GetItems("user"))
        l_names.append(l_user.AsString());
    l_names.sort();
    return l_names;
}

// A logged-in Server. Deliver() sends frames and returns once the client has
// dispatched them: a code 130 goes out behind them, and messages are dispatched in
// arrival order.
class Fixture : public ServerTestEnv::Fixture
{
public:
    Fixture()
    {
        InitOnce();
        m_loggedIn = LogIn();
        mp_reset = std::make_unique<QSignalSpy>(&server(), &Server::DNetReset);
    }

    ~Fixture() { mp_reset.reset(); }

    bool LoggedIn() const { return m_loggedIn; }

    bool Deliver(QByteArray const& frames)
    {
        int const l_before = static_cast<int>(mp_reset->count());
        fake().Send(frames + IncomingFrames::DNetReset().Frame());
        return QTest::qWaitFor([&] { return mp_reset->count() > l_before; }, 3000);
    }

    bool Deliver(FrameBuilder const& message) { return Deliver(message.Frame()); }

    QSignalSpy& resets() { return *mp_reset; }

private:
    bool m_loggedIn = false;
    std::unique_ptr<QSignalSpy> mp_reset;
};
} // namespace IncomingTestEnv
