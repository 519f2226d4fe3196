// Contexts, links, hooks and result texts of the network access layer (see NetAccess.h for who
// owns what). The transfers and the worker threads' loops are in NetTransfer.cpp.
#include "netaccess/NetAccess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "netaccess/NetLinkThreads.h"

namespace {

constexpr NetResult kOk{NET_SUCCESS_CODE, NET_DETAIL_SUCCESS};
// Linger on for one second for every TCP socket of the layer.
constexpr int kLingerSeconds = 1;
// After reporting a waiting connection, the listening thread gives the hook's owner this long to
// accept it before it looks again, so that a connection nobody accepts does not spin the thread.
constexpr uint32_t kAcceptGraceMs = 100;

NetResult Fail(uint32_t code, uint32_t detail) { return NetResult{code, detail}; }

bool IsTcpServer(const NetContext* c) { return c->protocol == NET_PROTOCOL_TCP && c->role == NET_ROLE_SERVER; }

std::unique_ptr<px::Event> MakeEvent(bool initiallySet, px::EventKind kind = px::EventKind::Pollable)
{
    std::unique_ptr<px::Event> e(new (std::nothrow) px::Event(false, initiallySet, kind));
    if (e && !e->Valid())
        e.reset();
    return e;
}

// Address of the local host name, as the layer binds its sockets: the resolver's answer, or
// {8, e} / {9, e}.
NetResult ResolveLocalName(std::vector<uint32_t>* addrs)
{
    char name[65] = {};
    if (int e = px::LocalHostName(name, sizeof name))
        return Fail(NET_GETHOSTNAME_ERROR, static_cast<uint32_t>(e));
    if (int e = px::ResolveHostName(name, addrs))
        return Fail(NET_GETHOSTBYNAME_ERROR, static_cast<uint32_t>(e));
    return kOk;
}

void ListeningThread(NetLink* link)
{
    NetContext* ctx = link->context;
    link->listenThreadId = px::CurrentThreadId();
    while (!link->listenStopFlag) {
        bool readable = false, woken = false;
        int e = px::SocketWaitReadableOrWake(link->socket, link->listenStop->Fd(), -1, &readable, &woken);
        if (link->listenStopFlag || woken)
            break;
        NetResult r = e != 0 ? Fail(NET_SELECT_ERROR, static_cast<uint32_t>(e)) : kOk;
        NetAcceptHookFunction hook;
        void* user;
        {
            px::CsLock guard(ctx->listLock);
            hook = ctx->acceptHook;
            user = ctx->acceptUser;
        }
        if (hook != nullptr)
            hook(r, user);
        // Either the owner accepts (NetAllocLink sets "accepted"), or we look again shortly.
        px::Event* wait[] = {link->listenStop.get(), ctx->accepted.get()};
        px::Event::WaitAny(wait, 2, kAcceptGraceMs);
    }
}

void Unlink(NetLink* link)
{
    NetContext* ctx = link->context;
    px::CsLock guard(ctx->listLock);
    if (ctx->listening == link) {
        ctx->listening = nullptr;
        return;
    }
    if (link->prev != nullptr)
        link->prev->next = link->next;
    else if (ctx->links == link)
        ctx->links = link->next;
    if (link->next != nullptr)
        link->next->prev = link->prev;
    link->prev = link->next = nullptr;
}

// Releases what a link holds after its threads ended; the socket is already closed.
void DestroyLink(NetLink* link)
{
    Unlink(link);
    delete link;
}

// Undoes a half-built link: stops threads that were started, closes the socket.
void AbandonLink(NetLink* link)
{
    link->listenStopFlag = link->sendStopFlag = link->receiveStopFlag = true;
    if (link->sendRequested)
        link->sendRequested->Set();
    if (link->receiveRequested)
        link->receiveRequested->Set();
    if (link->listenStop)
        link->listenStop->Set();
    if (link->socket != px::kInvalidSocket)
        px::SocketShutdown(link->socket, px::ShutdownHow::Both);
    link->listenThread.Join();
    link->sendThread.Join();
    link->receiveThread.Join();
    if (link->socket != px::kInvalidSocket)
        px::SocketClose(link->socket);
    delete link;
}

NetResult StartListening(NetContext* ctx)
{
    NetLink* link = new (std::nothrow) NetLink;
    if (link == nullptr)
        return Fail(NET_MEMORY_ALLOCATION_ERROR, ENOMEM);
    link->context = ctx;
    link->listening = 1;
    if (int e = px::SocketOpen(px::SocketType::Stream, &link->socket)) {
        link->socket = px::kInvalidSocket;
        AbandonLink(link);
        return Fail(NET_SOCKET_CREATION_ERROR, static_cast<uint32_t>(e));
    }
    px::SocketSetLinger(link->socket, true, kLingerSeconds);
    // A restarted server must be able to take its port again while old connections linger.
    px::SocketSetReuseAddress(link->socket, true);
    std::vector<uint32_t> addrs;
    NetResult r = ResolveLocalName(&addrs);
    if (r.code != 0) {
        AbandonLink(link);
        return r;
    }
    if (int e = px::SocketBind(link->socket, addrs[0], ctx->localPort)) {
        AbandonLink(link);
        return Fail(NET_BIND_ERROR, static_cast<uint32_t>(e));
    }
    if (int e = px::SocketListen(link->socket)) {
        AbandonLink(link);
        return Fail(NET_LISTEN_ERROR, static_cast<uint32_t>(e));
    }
    link->listenStop = MakeEvent(false);
    ctx->accepted = MakeEvent(false);
    if (!link->listenStop || !ctx->accepted) {
        AbandonLink(link);
        return Fail(NET_CREATEEVENT_ERROR, ENOMEM);
    }
    ctx->listening = link;
    if (int e = link->listenThread.Start("NetListen", [link] { ListeningThread(link); })) {
        ctx->listening = nullptr;
        AbandonLink(link);
        return Fail(NET_CREATETHREAD_ERROR, static_cast<uint32_t>(e));
    }
    return kOk;
}

// The socket of a new client, UDP or accepted link, ready for its threads.
NetResult OpenLinkSocket(NetContext* ctx, NetLink* link)
{
    if (IsTcpServer(ctx)) {
        if (ctx->listening == nullptr)
            return Fail(NET_ACCEPT_ERROR, EINVAL);
        if (int e = px::SocketAccept(ctx->listening->socket, &link->socket))
            return Fail(NET_ACCEPT_ERROR, static_cast<uint32_t>(e));
        px::SocketSetLinger(link->socket, true, kLingerSeconds);
        if (ctx->accepted)
            ctx->accepted->Set();
        return kOk;
    }

    const bool tcp = ctx->protocol == NET_PROTOCOL_TCP;
    const bool receiver = !tcp && ctx->multicast && ctx->role == NET_ROLE_RECEIVER;
    if (int e = px::SocketOpen(tcp ? px::SocketType::Stream : px::SocketType::Datagram, &link->socket)) {
        link->socket = px::kInvalidSocket;
        return Fail(NET_SOCKET_CREATION_ERROR, static_cast<uint32_t>(e));
    }
    if (tcp) {
        px::SocketSetLinger(link->socket, true, kLingerSeconds);
        // Requests and replies are small records, often sent as two pieces (envelope, record):
        // held back until the first is acknowledged, the second would wait for the peer's
        // delayed acknowledgement, some 40 ms a request.
        px::SocketSetNoDelay(link->socket, true);
    } else if (int e = px::SocketMaxDatagramSize(link->socket, &link->maxDatagram)) {
        return Fail(NET_GETSOCKOPT_ERROR, static_cast<uint32_t>(e));
    }

    std::vector<uint32_t> local;
    NetResult r = ResolveLocalName(&local);
    if (r.code != 0)
        return r;
    // The local name's address when it is the only one. Debian maps the host name to a loopback
    // address (127.0.1.1), from which no camera can be reached: then, as with several addresses,
    // the socket binds to all local addresses and the system picks the route.
    uint32_t bindAddr = px::kAnyAddress;
    if (!receiver && local.size() == 1 && !px::Ipv4IsLoopback(local[0]))
        bindAddr = local[0];
    if (receiver)
        px::SocketSetReuseAddress(link->socket, true);  // several receivers of one group on one host
    if (int e = px::SocketBind(link->socket, bindAddr, ctx->localPort))
        return Fail(NET_BIND_ERROR, static_cast<uint32_t>(e));
    if (receiver) {
        if (int e = px::SocketJoinMulticast(link->socket, px::Ipv4FromBytes(ctx->group)))
            return Fail(NET_GETSOCKOPT_ERROR, static_cast<uint32_t>(e));
    }

    uint32_t remote = 0;
    if (ctx->hostName[0] != '\0') {
        std::vector<uint32_t> addrs;
        if (int e = px::ResolveHostName(ctx->hostName, &addrs))
            return Fail(NET_GETHOSTBYNAME_ERROR, static_cast<uint32_t>(e));
        remote = addrs[0];
    } else if (ctx->multicast && ctx->role == NET_ROLE_SENDER) {
        remote = px::Ipv4FromBytes(ctx->group);
    } else {
        remote = px::Ipv4FromBytes(ctx->ipv4);
    }
    const int bound = ctx->connectTimeoutMs == px::kInfinite || ctx->connectTimeoutMs > 0x7FFFFFFFu
                          ? -1
                          : static_cast<int>(ctx->connectTimeoutMs);
    if (int e = px::SocketConnect(link->socket, remote, ctx->remotePort, bound))
        return Fail(NET_CONNECT_ERROR, static_cast<uint32_t>(e));
    return kOk;
}

bool CalledFromOwnThread(const NetLink* link)
{
    uint32_t self = px::CurrentThreadId();
    return self == link->sendThreadId || self == link->receiveThreadId || self == link->listenThreadId;
}

} // namespace

NetResult NetAllocContext(uint32_t protocol, uint32_t role, uint16_t localPort, uint16_t remotePort,
                          const char* hostName, const uint8_t* ipv4, const uint8_t* group, uint32_t flags,
                          NetContext** context)
{
    if (context == nullptr)
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    std::unique_ptr<NetContext> ctx(new (std::nothrow) NetContext);
    if (!ctx)
        return Fail(NET_MEMORY_ALLOCATION_ERROR, ENOMEM);
    ctx->protocol = protocol;
    ctx->role = role;
    ctx->localPort = localPort;
    const bool tcpServer = IsTcpServer(ctx.get());
    if (!tcpServer) {
        ctx->remotePort = remotePort;
        if (ipv4 != nullptr)
            std::memcpy(ctx->ipv4, ipv4, 4);  // an address empties the host name
        else if (hostName != nullptr)
            std::snprintf(ctx->hostName, sizeof ctx->hostName, "%s", hostName);
    }
    ctx->raw = flags & NET_FLAG_RAW;
    if (group != nullptr) {
        ctx->multicast = 1;
        std::memcpy(ctx->group, group, 4);
    }

    const bool udpSender = protocol == NET_PROTOCOL_UDP && role == NET_ROLE_SENDER && ctx->multicast;
    if (!tcpServer && !udpSender && ctx->hostName[0] == '\0') {
        if (ipv4 == nullptr)
            return Fail(NET_INVALID_INPUT_PARAMETERS, NET_DETAIL_NO_REMOTE);
        if (ipv4[0] >= 224)
            return Fail(NET_INVALID_INPUT_PARAMETERS, NET_DETAIL_MULTICAST_REMOTE);
    }
    if (ctx->multicast) {
        if (ctx->group[0] < 224 || ctx->group[0] > 239)
            return Fail(NET_INVALID_INPUT_PARAMETERS, NET_DETAIL_BAD_MULTICAST_GROUP);
        if (protocol != NET_PROTOCOL_UDP)
            return Fail(NET_INVALID_INPUT_PARAMETERS, NET_DETAIL_MULTICAST_NOT_UDP);
    }

    if (tcpServer) {
        NetResult r = StartListening(ctx.get());
        if (r.code != 0)
            return r;
    }
    *context = ctx.release();
    return kOk;
}

NetResult NetAllocLink(NetContext* context, uint32_t /*reserved*/, NetLink** out)
{
    if (context == nullptr || out == nullptr)
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    NetLink* link = new (std::nothrow) NetLink;
    if (link == nullptr)
        return Fail(NET_MEMORY_ALLOCATION_ERROR, ENOMEM);
    link->context = context;

    NetResult r = OpenLinkSocket(context, link);
    if (r.code != 0) {
        AbandonLink(link);
        return r;
    }
    // Every transfer passes these between threads; nobody polls them: local events, no system calls.
    link->sendRequested = MakeEvent(false, px::EventKind::Local);
    link->receiveRequested = MakeEvent(false, px::EventKind::Local);
    link->sendSlotFree = MakeEvent(true, px::EventKind::Local);
    link->receiveSlotFree = MakeEvent(true, px::EventKind::Local);
    if (!link->sendRequested || !link->receiveRequested || !link->sendSlotFree || !link->receiveSlotFree) {
        AbandonLink(link);
        return Fail(NET_CREATEEVENT_ERROR, ENOMEM);
    }
    if (int e = link->sendThread.Start("NetSend", [link] { NetSendThread(link); })) {
        AbandonLink(link);
        return Fail(NET_CREATETHREAD_ERROR, static_cast<uint32_t>(e));
    }
    if (int e = link->receiveThread.Start("NetRecv", [link] { NetReceiveThread(link); })) {
        AbandonLink(link);
        return Fail(NET_CREATETHREAD_ERROR, static_cast<uint32_t>(e));
    }

    {
        px::CsLock guard(context->listLock);
        link->next = context->links;
        if (context->links != nullptr)
            context->links->prev = link;
        context->links = link;
    }
    *out = link;
    return kOk;
}

NetResult NetLinkHookFunction(NetLink* link, uint32_t kind, NetHookFunction function, void* user,
                              uint32_t /*reserved*/)
{
    if (kind > NET_HOOK_RCV_STOP)
        return Fail(NET_UNKNOWN_EVENT, NET_DETAIL_SUCCESS);
    if (link == nullptr || link->listening)
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    px::CsLock guard(link->lock);
    // No transfer may be pending while a hook changes under its worker thread.
    link->sendSlotFree->Wait();
    link->receiveSlotFree->Wait();
    link->hooks[kind].function = function;
    link->hooks[kind].user = user;
    link->sendSlotFree->Set();
    link->receiveSlotFree->Set();
    return kOk;
}

NetResult NetFreeLink(NetLink* link, uint32_t /*reserved*/)
{
    if (link == nullptr)
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    // A hook that frees its own link would wait for itself to end.
    if (CalledFromOwnThread(link))
        return Fail(NET_ERROR_CODE, EDEADLK);

    link->listenStopFlag = link->sendStopFlag = link->receiveStopFlag = true;
    if (link->listening) {
        link->listenStop->Set();
    } else {
        link->sendRequested->Set();
        link->receiveRequested->Set();
    }
    // Closing alone does not wake a thread blocked in recv or send on Linux, and closing first
    // would let the descriptor number be reused under it: shut down, wait, then close.
    px::SocketShutdown(link->socket, px::ShutdownHow::Both);
    px::SocketSetLinger(link->socket, false, 0);
    link->listenThread.Join();
    link->sendThread.Join();
    link->receiveThread.Join();
    if (int e = px::SocketClose(link->socket))
        return Fail(NET_CLOSESOCKET_ERROR, static_cast<uint32_t>(e));
    link->socket = px::kInvalidSocket;
    DestroyLink(link);
    return kOk;
}

NetResult NetFreeContext(NetContext* context, uint32_t /*reserved*/)
{
    if (context == nullptr)
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    for (;;) {
        NetLink* link;
        {
            px::CsLock guard(context->listLock);
            link = context->links;
        }
        if (link == nullptr)
            break;
        NetResult r = NetFreeLink(link, 0);
        if (r.code != 0)
            return r;
    }
    if (context->listening != nullptr) {
        NetResult r = NetFreeLink(context->listening, 0);
        if (r.code != 0)
            return r;
    }
    delete context;
    return kOk;
}

void NetErrorText(NetResult result, char* text, size_t size)
{
    if (text == nullptr || size == 0)
        return;
    static const char* const kTexts[] = {
        "NetAccess SUCCESS_CODE",
        "NetAccess ERROR_CODE",
        "NetAccess NOT_APPLICABLE",
        "NetAccess MEMORY_ALLOCATION_ERROR",
        "NetAccess ACCEPT_ERROR",
        "NetAccess BIND_ERROR",
        "NetAccess CLOSESOCKET_ERROR",
        "NetAccess CONNECT_ERROR (%d)",
        "NetAccess GETHOSTNAME_ERROR",
        "NetAccess GETHOSTBYNAME_ERROR",
        "NetAccess GETHOSTBYADDR_ERROR",
        "NetAccess GETSOCKOPT_ERROR (%d)",
        "NetAccess LISTEN_ERROR (%d)",
        "NetAccess RECEIVE_ERROR (%d)",
        "NetAccess SELECT_ERROR (%d)",
        "NetAccess SEND_ERROR (%d)",
        "NetAccess SHUTDOWNSOCKET_ERROR",
        "NetAccess SOCKET_CREATION_ERROR",
        "NetAccess WSASTARTUP_ERROR",
        "NetAccess CREATETHREAD_ERROR:%d",
        "NetAccess CREATEEVENT_ERROR",
        "NetAccess UNKNOWN_EVENT",
        "NetAccess INVALID_INPUT_PARAMETERS: %d",
        "NetAccess WRONG_MULTICAST_TRANSFER: %d",
    };
    constexpr uint32_t kCount = sizeof kTexts / sizeof kTexts[0];
    // Details print as signed numbers, as the message format says.
    if (result.code < kCount) {
        std::snprintf(text, size, kTexts[result.code], static_cast<int>(result.detail));
    } else {
        std::snprintf(text, size, "NetAccess Unknown error code: %d", static_cast<int>(result.code));
    }
}

NetResult NetSetAcceptHook(NetContext* context, NetAcceptHookFunction hook, void* user)
{
    if (context == nullptr)
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    px::CsLock guard(context->listLock);
    context->acceptUser = user;
    context->acceptHook = hook;
    return kOk;
}

NetResult NetSetConnectTimeout(NetContext* context, uint32_t timeoutMs)
{
    if (context == nullptr)
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    context->connectTimeoutMs = timeoutMs;
    return kOk;
}

NetResult NetGetListeningPort(const NetContext* context, uint16_t* port)
{
    if (context == nullptr || port == nullptr || context->listening == nullptr)
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    if (int e = px::SocketLocalPort(context->listening->socket, port))
        return Fail(NET_GETSOCKOPT_ERROR, static_cast<uint32_t>(e));
    return kOk;
}
