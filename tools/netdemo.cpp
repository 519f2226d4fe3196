// pellix-netdemo: a loopback demonstration of the link layer. A TCP server context listens on a
// free port, a client link connects to it by the host's name, and the two exchange a greeting,
// then stream 256 MiB with asynchronous receives; a framed UDP transfer follows. Prints each step
// and the throughput; exits non-zero with the layer's message text on any failure.
#include <cstdio>
#include <cstring>
#include <vector>

#include "netaccess/NetAccess.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Socket.h"

namespace {

struct Done {
    px::Event event{false, false};
    NetResult result{0, 0};
    uint32_t count = 0;
    static uint32_t Hook(uint32_t count, uint32_t code, uint32_t detail, void* user)
    {
        auto* d = static_cast<Done*>(user);
        d->count = count;
        d->result = NetResult{code, detail};
        d->event.Set();
        return 0;
    }
};

// A port the system just handed out and took back.
uint16_t FreeUdpPort()
{
    px::SocketHandle s = px::kInvalidSocket;
    uint16_t port = 0;
    if (px::SocketOpen(px::SocketType::Datagram, &s) == 0) {
        px::SocketBind(s, px::kLoopbackAddress, 0);
        px::SocketLocalPort(s, &port);
        px::SocketClose(s);
    }
    return port;
}

bool Check(const char* step, NetResult r)
{
    char text[256];
    NetErrorText(r, text, sizeof text);
    std::printf("%-44s %s\n", step, text);
    return r.code == NET_SUCCESS_CODE;
}

int Run()
{
    NetContext* server = nullptr;
    NetContext* client = nullptr;
    NetLink* clientLink = nullptr;
    NetLink* serverLink = nullptr;
    uint16_t port = 0;
    char host[65] = {};
    px::LocalHostName(host, sizeof host);

    if (!Check("server context on a free port", NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_SERVER, 0, 0, nullptr,
                                                                nullptr, nullptr, 0, &server)) ||
        !Check("listening port", NetGetListeningPort(server, &port)))
        return 1;
    std::printf("  listening on %s:%u\n", host, port);
    if (!Check("client context", NetAllocContext(NET_PROTOCOL_TCP, NET_ROLE_CLIENT, 0, port, host, nullptr, nullptr,
                                                 0, &client)) ||
        !Check("client link connects", NetAllocLink(client, 0, &clientLink)) ||
        !Check("server accepts", NetAllocLink(server, 0, &serverLink)))
        return 1;

    Done sent, received;
    NetLinkHookFunction(clientLink, NET_HOOK_SEND_STOP, &Done::Hook, &sent, 0);
    NetLinkHookFunction(serverLink, NET_HOOK_RCV_STOP, &Done::Hook, &received, 0);

    char greeting[] = "hello camera";
    char got[sizeof greeting] = {};
    NetTransferBuffer(serverLink, got, sizeof greeting, NET_DIRECTION_RECEIVE, 1, 0, nullptr, 0);
    NetTransferBuffer(clientLink, greeting, sizeof greeting, NET_DIRECTION_SEND, 1, 0, nullptr, 0);
    sent.event.Wait();
    received.event.Wait();
    if (!Check("greeting sent and received", received.result))
        return 1;
    std::printf("  server read \"%s\"\n", got);

    // Stream: the client sends 4 MiB blocks synchronously, the server receives asynchronously.
    constexpr uint32_t kBlock = 4u << 20;
    constexpr int kBlocks = 64;
    std::vector<uint8_t> out(kBlock, 0x5A), in(kBlock);
    uint64_t start = px::TickCount64();
    for (int i = 0; i < kBlocks; ++i) {
        NetTransferBuffer(serverLink, in.data(), kBlock, NET_DIRECTION_RECEIVE, 1, 0, nullptr, 0);
        uint32_t done = 0;
        while (done < kBlock) {
            uint32_t count = 0;
            NetResult r = NetTransferBuffer(clientLink, out.data() + done, kBlock - done, NET_DIRECTION_SEND, 0, 0,
                                            &count, 0);
            if (r.code != 0) {
                Check("stream send", r);
                return 1;
            }
            done += count;  // a send may take part of the block; the caller sends the rest
        }
        received.event.Wait();
        if (received.result.code != 0) {
            Check("stream receive", received.result);
            return 1;
        }
    }
    uint64_t ms = px::TickCount64() - start;
    std::printf("%-44s %d MiB in %llu ms (%.0f MiB/s)\n", "TCP stream through two links", kBlocks * 4,
                static_cast<unsigned long long>(ms), ms ? kBlocks * 4 * 1000.0 / ms : 0.0);

    Check("free client context", NetFreeContext(client, 0));
    Check("free server context", NetFreeContext(server, 0));

    // Framed UDP between two links; each needs the other's port in advance.
    const uint8_t loopback[4] = {127, 0, 0, 1};
    const uint16_t portA = FreeUdpPort(), portB = FreeUdpPort();
    NetContext* a = nullptr;
    NetContext* b = nullptr;
    NetLink* la = nullptr;
    NetLink* lb = nullptr;
    if (!Check("UDP context A", NetAllocContext(NET_PROTOCOL_UDP, NET_ROLE_CLIENT, portA, portB, nullptr, loopback,
                                                nullptr, 0, &a)) ||
        !Check("UDP context B", NetAllocContext(NET_PROTOCOL_UDP, NET_ROLE_CLIENT, portB, portA, nullptr, loopback,
                                                nullptr, 0, &b)) ||
        !Check("UDP link A", NetAllocLink(a, 0, &la)) || !Check("UDP link B", NetAllocLink(b, 0, &lb)))
        return 1;
    std::vector<uint8_t> frame(150000, 0x42), frameIn(frame.size());
    Done udp;
    NetLinkHookFunction(lb, NET_HOOK_RCV_STOP, &Done::Hook, &udp, 0);
    NetTransferBuffer(lb, frameIn.data(), static_cast<uint32_t>(frameIn.size()), NET_DIRECTION_RECEIVE, 1, 0, nullptr, 0);
    uint32_t count = 0;
    if (!Check("framed UDP send of 150000 bytes", NetTransferBuffer(la, frame.data(), static_cast<uint32_t>(frame.size()),
                                                                   NET_DIRECTION_SEND, 0, 0, &count, 0)))
        return 1;
    if (udp.event.Wait(5000) != px::WaitResult::Signaled) {
        std::printf("framed UDP receive: no frame within 5 s (datagrams lost)\n");
        NetFreeContext(a, 0);
        NetFreeContext(b, 0);
        return 1;
    }
    bool ok = Check("framed UDP receive", udp.result) && frameIn == frame;
    std::printf("  %u bytes, %s\n", udp.count, frameIn == frame ? "identical" : "DIFFERENT");
    NetFreeContext(a, 0);
    NetFreeContext(b, 0);
    return ok ? 0 : 1;
}

} // namespace

int main() { return Run(); }
