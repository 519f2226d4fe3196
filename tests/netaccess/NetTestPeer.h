// A plain TCP or UDP peer on loopback for the link tests, built directly on the socket calls so
// that the link under test is the only NetAccess code involved.
#pragma once

#include <cstdint>

#include "netaccess/NetAccess.h"
#include "platform/Socket.h"

namespace nettest {

inline const uint8_t kLoopback[4] = {127, 0, 0, 1};

struct TcpServer {
    px::SocketHandle listening = px::kInvalidSocket;
    uint16_t port = 0;
    TcpServer()
    {
        px::SocketOpen(px::SocketType::Stream, &listening);
        px::SocketBind(listening, px::kLoopbackAddress, 0);
        px::SocketListen(listening);
        px::SocketLocalPort(listening, &port);
    }
    ~TcpServer() { px::SocketClose(listening); }
    px::SocketHandle Accept()
    {
        px::SocketHandle s = px::kInvalidSocket;
        px::SocketAccept(listening, &s);
        return s;
    }
};

struct UdpPeer {
    px::SocketHandle socket = px::kInvalidSocket;
    uint16_t port = 0;
    UdpPeer()
    {
        px::SocketOpen(px::SocketType::Datagram, &socket);
        px::SocketBind(socket, px::kLoopbackAddress, 0);
        px::SocketLocalPort(socket, &port);
    }
    ~UdpPeer() { px::SocketClose(socket); }
};

// A port that was free a moment ago (for links whose local port must be known in advance).
inline uint16_t FreeUdpPort()
{
    UdpPeer probe;
    return probe.port;
}

// Records what the stop hooks report and signals an event for each call.
struct HookRecord {
    px::Event done{false, false};
    std::atomic<uint32_t> calls{0};
    uint32_t count = 0;
    NetResult result{99, 99};
    static uint32_t Hook(uint32_t count, uint32_t code, uint32_t detail, void* user)
    {
        auto* self = static_cast<HookRecord*>(user);
        self->count = count;
        self->result = NetResult{code, detail};
        ++self->calls;
        self->done.Set();
        return 0;
    }
};

} // namespace nettest
