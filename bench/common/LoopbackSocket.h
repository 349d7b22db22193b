#pragma once

// The far end of a transfer benchmark's connection, for a helper thread: a blocking
// socket on loopback whose every read and write gives up after a while, so that a run
// whose other end stalls still lets its helper threads be joined.

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace bench
{

// A socket connected to the port on 127.0.0.1, or -1.
inline int ConnectToLoopback(quint16 i_port)
{
    int const l_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (l_socket < 0)
        return -1;
    timeval const l_timeout{30, 0};
    ::setsockopt(l_socket, SOL_SOCKET, SO_RCVTIMEO, &l_timeout, sizeof l_timeout);
    ::setsockopt(l_socket, SOL_SOCKET, SO_SNDTIMEO, &l_timeout, sizeof l_timeout);
    sockaddr_in l_address{};
    l_address.sin_family = AF_INET;
    l_address.sin_port = htons(i_port);
    l_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(l_socket, reinterpret_cast<sockaddr*>(&l_address), sizeof l_address) != 0)
    {
        ::close(l_socket);
        return -1;
    }
    return l_socket;
}

} // namespace bench
