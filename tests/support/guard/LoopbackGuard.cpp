// Linked into every test program: UPnP discovery multicasts to the local network, so
// before any port forwarder exists it is replaced by one that searches only when the
// caller keeps the search on the loopback interface, and otherwise finds nothing.

#include "net/server/ThreadedServices.h"

#include <miniupnpc/miniupnpc.h>

#include <cstring>

namespace
{
UPNPDev* LoopbackOnlyDiscover(int i_delayMs, char const* ip_multicastInterface,
                              char const* ip_daemonSocket, int i_localPort, int i_ipv6,
                              unsigned char i_ttl, int* op_error)
{
    if (ip_multicastInterface && std::strcmp(ip_multicastInterface, "127.0.0.1") == 0 && !i_ipv6)
        return upnpDiscover(i_delayMs, ip_multicastInterface, ip_daemonSocket, i_localPort,
                            i_ipv6, i_ttl, op_error);
    if (op_error)
        *op_error = UPNPDISCOVER_SOCKET_ERROR;
    return nullptr;
}

struct LoopbackGuard
{
    LoopbackGuard() { ThreadedServices::SetDefaultDiscoverFunction(&LoopbackOnlyDiscover); }
} const g_loopbackGuard;
} // namespace
