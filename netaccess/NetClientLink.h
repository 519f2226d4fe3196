// A TCP client link to the camera, made the one way every connection of the component makes it.
//
// The exchange-buffer client, the agent channel, the watchdog and the message link each connect
// one link to a port of the camera: a context in the TCP client role, a link on it, and the four
// hooks. NetOpenClientLink does that, and NetAddress is the camera's address as a host gives it:
// a host name, an IPv4 address, or both. When both are given the address wins and the name is
// not used, because NetAllocContext empties the name of a context that gets an address.
//
// Every connect of a client link is bounded, by the time-out of the connection's requests or, when
// that is infinite, by the configuration value "ConnectTimeout" (5000 ms). The bound is a deliberate
// Linux addition: left to the kernel, a connect to an address that drops every packet (a mistyped
// address on a real network) waits out the SYN retries, more than two minutes, and an agent channel
// makes three such connects before PXClientInit returns. A connect that runs out fails like any
// other ({7, ETIMEDOUT}), and the connection takes its usual way from there. A bound of 0 would
// fail even a camera on this machine, so a time-out of 0 takes "ConnectTimeout" too, and
// "ConnectTimeout=0" leaves the connects to the system as before.
#pragma once

#include <cstdint>

#include "netaccess/NetAccess.h"

struct NetAddress {
    char szHostName[256] = {};
    uint32_t dwIpv4 = 0;   // a.b.c.d as (a << 24) | ...; 0: none

    // host (null or empty: none) and ipv4 (four bytes, most significant first; null: none).
    static NetAddress Of(const char* host, const uint8_t* ipv4);
    const char* HostName() const { return szHostName[0] != '\0' ? szHostName : nullptr; }
    bool HasIpv4() const { return dwIpv4 != 0; }
    void Ipv4Bytes(uint8_t out[4]) const;
};

// The four hooks of a link, in the order of their kinds, with one user value.
struct NetLinkHooks {
    NetHookFunction sendStart, receiveStart, sendStop, receiveStop;
    void* user;
};

// Which call of NetOpenClientLink failed.
enum class NetOpenStep { Context, Link, Hooks };

// "ConnectTimeout" when no other bound is given.
constexpr uint32_t kNetDefaultConnectTimeoutMs = 5000;

// The bound of a connect for a connection whose requests wait timeoutMs (see the head).
uint32_t NetConnectBound(uint32_t timeoutMs);

// Context, link and hooks for port of the address, the connect bounded for a connection whose
// requests wait timeoutMs. On failure nothing stays allocated, *failed names the step, and the
// result is that call's result.
NetResult NetOpenClientLink(const NetAddress& address, uint16_t port, uint32_t timeoutMs, const NetLinkHooks& hooks,
                            NetContext** context, NetLink** link, NetOpenStep* failed);
