#include "netaccess/NetClientLink.h"

#include <cstdio>

#include "platform/Config.h"

NetAddress NetAddress::Of(const char* host, const uint8_t* ipv4)
{
    NetAddress a;
    if (host != nullptr)
        std::snprintf(a.szHostName, sizeof a.szHostName, "%s", host);
    if (ipv4 != nullptr)
        a.dwIpv4 = px::Ipv4FromBytes(ipv4);
    return a;
}

void NetAddress::Ipv4Bytes(uint8_t out[4]) const
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(dwIpv4 >> (24 - 8 * i));
}

uint32_t NetConnectBound(uint32_t timeoutMs)
{
    if (timeoutMs != px::kInfinite && timeoutMs != 0)
        return timeoutMs;
    const uint32_t configured = px::ConfigGetNumber("ConnectTimeout", kNetDefaultConnectTimeoutMs);
    return configured != 0 ? configured : px::kInfinite;
}

NetResult NetOpenClientLink(const NetAddress& address, uint16_t port, uint32_t timeoutMs, const NetLinkHooks& hooks,
                            NetContext** context, NetLink** link, NetOpenStep* failed)
{
    *context = nullptr;
    *link = nullptr;
    uint8_t ipv4[4];
    address.Ipv4Bytes(ipv4);
    NetResult r = NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, 0, port, address.HostName(),
                                  address.HasIpv4() ? ipv4 : nullptr, nullptr, 0, context);
    if (r.code != NET_SUCCESS_CODE) {
        *context = nullptr;
        *failed = NetOpenStep::Context;
        return r;
    }
    NetSetConnectTimeout(*context, NetConnectBound(timeoutMs));
    r = NetAllocLink(*context, 0, link);
    if (r.code != NET_SUCCESS_CODE) {
        *link = nullptr;
        *failed = NetOpenStep::Link;
    } else {
        const NetHookFunction functions[] = {hooks.sendStart, hooks.receiveStart, hooks.sendStop, hooks.receiveStop};
        for (uint32_t kind = NET_HOOK_SEND_START; kind <= NET_HOOK_RCV_STOP && r.code == NET_SUCCESS_CODE; ++kind)
            r = NetLinkHookFunction(*link, kind, functions[kind], hooks.user, 0);
        if (r.code == NET_SUCCESS_CODE)
            return r;
        *failed = NetOpenStep::Hooks;
    }
    NetFreeContext(*context, 0);   // frees the link too
    *context = nullptr;
    *link = nullptr;
    return r;
}
