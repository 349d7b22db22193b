#pragma once

// The managers a transfer benchmark runs against, created as start-up creates them and
// left alive for the whole process, as in the client.

#include "common/StoreServices.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"

namespace bench
{
inline void StartTransferServices()
{
    StartStoreServices();
    auto* lp_server = new Server();
    lp_server->CreateData();
    new PeerMessenger();
    new SharedFoldersManager(nullptr);
    new TransferQueueManager();
}
} // namespace bench
