#pragma once

// What the store-backed benchmarks need before they build a Server or a PeerMessenger:
// the timers, the store saver and the settings types. The periodic timers are stopped,
// so that no sweep runs in the middle of a measurement. Kept here rather than taken from
// the test support, so that the benchmarks build without the tests.

#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"

namespace bench
{

inline void StartStoreServices()
{
    new TimerManager();
    timerManager->everyHalfMinute()->stop();
    timerManager->everyFiveMinutes()->stop();
    timerManager->everyHour()->stop();
    new DataSaver();
    DeclareSettingsTypes();
}

// Logs in as "bench" at a server listening on loopback, with no gateway search.
inline void AimAtLoopbackServer(quint16 i_port)
{
    SetSetting("server_host", QStringLiteral("127.0.0.1"));
    SetSetting("server_port", QString::number(i_port));
    SetSetting("username", QStringLiteral("bench"));
    SetSetting("password", QStringLiteral("bench"));
    SetSetting("use_upnp", QStringLiteral("no"));
}

} // namespace bench
