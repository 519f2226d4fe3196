// Transfers on a link: the request slots, the two worker threads, the byte layout per protocol
// and the half-close operations.
//
// A caller of NetTransferBuffer takes the direction's slot under the link's lock. A synchronous
// request runs on the caller's thread; an asynchronous one is handed to the direction's worker
// thread, which performs it, calls the stop hook and then frees the slot. Worker threads leave
// when their stop flag is set (NetFreeLink) and free their slot on the way out so that a caller
// waiting for it is not left behind.
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "netaccess/NetAccess.h"
#include "netaccess/NetLinkThreads.h"
#include "netaccess/protocol/AgentBytes.h"
#include "platform/Clock.h"

using px::agent::GetLe32;
using px::agent::PutLe32;

namespace {

constexpr NetResult kOk{NET_SUCCESS_CODE, NET_DETAIL_SUCCESS};

NetResult Fail(uint32_t code, uint32_t detail) { return NetResult{code, detail}; }
NetResult RecvFail(int e) { return Fail(NET_RECEIVE_ERROR, static_cast<uint32_t>(e)); }
NetResult SendFail(int e) { return Fail(NET_SEND_ERROR, static_cast<uint32_t>(e)); }

// A stream whose peer closed, or an empty datagram, has no errno of its own.
constexpr int kPeerClosed = ECONNRESET;

bool Framed(const NetLink* link) { return link->context->protocol == NET_PROTOCOL_UDP && !link->context->raw; }

NetResult TcpReceive(NetLink* link, uint8_t* buffer, uint32_t length, uint32_t flags, uint32_t* count)
{
    std::unique_ptr<uint8_t[]> bounce;
    if ((flags & NET_TRANSFER_COPY) && length > 0) {
        bounce.reset(new (std::nothrow) uint8_t[length]);
        if (!bounce)
            return Fail(NET_MEMORY_ALLOCATION_ERROR, ENOMEM);
    }
    uint32_t done = 0;
    while (done < length) {
        size_t got = 0;
        uint8_t* into = bounce ? bounce.get() : buffer + done;
        if (int e = px::SocketRecv(link->socket, into, length - done, &got))
            return RecvFail(e);
        if (got == 0)
            return RecvFail(kPeerClosed);
        if (bounce)
            std::memcpy(buffer + done, bounce.get(), got);
        done += static_cast<uint32_t>(got);
    }
    *count = length;
    return kOk;
}

// One datagram of at most len bytes. *truncated tells that the datagram was longer.
int ReadDatagram(NetLink* link, void* into, size_t len, size_t* got, bool* truncated)
{
    int e = px::SocketRecvDatagram(link->socket, into, len, got);
    *truncated = e == EMSGSIZE;
    if (*truncated)
        return 0;
    if (e == 0 && *got == 0)
        return kPeerClosed;
    return e;
}

NetResult FramedReceive(NetLink* link, uint8_t* buffer, uint32_t length, uint32_t* count)
{
    uint8_t word[4];
    size_t got = 0;
    bool truncated = false;
    for (;;) {
        // 1: the start marker; longer datagrams count as their first bytes.
        if (int e = ReadDatagram(link, word, 4, &got, &truncated))
            return RecvFail(e);
        if (got != 4 || GetLe32(word) != kNetFrameStart)
            continue;
        // 2: the announced length must fit what the caller asked for.
        if (int e = ReadDatagram(link, word, 4, &got, &truncated))
            return RecvFail(e);
        if (got != 4 || static_cast<int32_t>(GetLe32(word)) > static_cast<int32_t>(length))
            continue;
        // 3: the payload, in as many datagrams as it takes; a datagram longer than the rest
        // means we are out of step with the sender.
        uint32_t done = 0;
        bool restart = false;
        while (done < length && !restart) {
            if (int e = ReadDatagram(link, buffer + done, length - done, &got, &truncated))
                return RecvFail(e);
            restart = truncated;
            done += static_cast<uint32_t>(got);
        }
        if (restart)
            continue;
        // 4: the end marker.
        if (int e = ReadDatagram(link, word, 4, &got, &truncated))
            return RecvFail(e);
        if (truncated || got != 4 || GetLe32(word) != kNetFrameEnd)
            continue;
        *count = length;
        return kOk;
    }
}

NetResult FramedSend(NetLink* link, const uint8_t* buffer, uint32_t length, uint32_t* count)
{
    uint8_t word[4];
    size_t sent = 0;
    PutLe32(word, kNetFrameStart);
    if (int e = px::SocketSend(link->socket, word, 4, &sent))
        return SendFail(e);
    PutLe32(word, length);
    if (int e = px::SocketSend(link->socket, word, 4, &sent))
        return SendFail(e);
    const uint32_t piece = link->maxDatagram > 0 ? link->maxDatagram : 1;
    uint32_t done = 0;
    while (done < length) {
        uint32_t n = length - done < piece ? length - done : piece;
        if (int e = px::SocketSend(link->socket, buffer + done, n, &sent))
            return SendFail(e);
        done += n;
    }
    PutLe32(word, kNetFrameEnd);
    if (int e = px::SocketSend(link->socket, word, 4, &sent))
        return SendFail(e);
    *count = length;
    return kOk;
}

NetResult PerformSend(NetLink* link, const uint8_t* buffer, uint32_t length, uint32_t* count)
{
    if (Framed(link))
        return FramedSend(link, buffer, length, count);
    // TCP and raw UDP: one call; a partial send is a success with the smaller count.
    size_t sent = 0;
    if (int e = px::SocketSend(link->socket, buffer, length, &sent))
        return SendFail(e);
    *count = static_cast<uint32_t>(sent);
    return kOk;
}

NetResult PerformReceive(NetLink* link, uint8_t* buffer, uint32_t length, uint32_t flags, uint32_t* count)
{
    if (link->context->protocol == NET_PROTOCOL_TCP)
        return TcpReceive(link, buffer, length, flags, count);
    if (Framed(link))
        return FramedReceive(link, buffer, length, count);
    size_t got = 0;
    if (int e = px::SocketRecv(link->socket, buffer, length, &got))
        return RecvFail(e);
    if (got == 0)
        return RecvFail(kPeerClosed);
    *count = static_cast<uint32_t>(got);
    return kOk;
}

// The worker thread's stop hook. The requesting thread wrote the hooks and the slot under the
// link's lock before it signalled the requested event, and writes them again only after the worker
// freed the slot: the events order the two, which the lock analysis cannot see.
NetHook& WorkerHook(NetLink* link, bool send) PX_NO_THREAD_SAFETY_ANALYSIS
{
    return link->hooks[send ? NET_HOOK_SEND_STOP : NET_HOOK_RCV_STOP];
}

// The loop both worker threads run; only the direction's members differ.
template <bool Send>
void WorkerLoop(NetLink* link)
{
    std::atomic<bool>& stop = Send ? link->sendStopFlag : link->receiveStopFlag;
    px::Event& requested = Send ? *link->sendRequested : *link->receiveRequested;
    px::Event& slotFree = Send ? *link->sendSlotFree : *link->receiveSlotFree;
    NetRequest& pending = Send ? link->pendingSend : link->pendingReceive;
    NetHook& hook = WorkerHook(link, Send);
    (Send ? link->sendThreadId : link->receiveThreadId) = px::CurrentThreadId();

    while (requested.Wait() == px::WaitResult::Signaled && !stop) {
        uint32_t count = 0;
        NetResult r = Send ? PerformSend(link, pending.buffer, pending.length, &count)
                           : PerformReceive(link, pending.buffer, pending.length, pending.flags, &count);
        // Bytes moved on the caller's thread count towards the whole transfer.
        if (r.code == NET_SUCCESS_CODE)
            count += pending.alreadyDone;
        pending.queued = false;
        if (!pending.suppressHook && hook.function != nullptr)
            hook.function(count, r.code, r.detail, hook.user);
        slotFree.Set();
    }
    // A request that the link's end overtook still gets its answer, so that nobody waits for it.
    if (pending.queued) {
        pending.queued = false;
        if (!pending.suppressHook && hook.function != nullptr)
            hook.function(0, Send ? NET_SEND_ERROR : NET_RECEIVE_ERROR, ECANCELED, hook.user);
    }
    slotFree.Set();
}

// NET_TRANSFER_TRY_NOW: moves what the socket takes or holds right now. Returns true when the
// transfer is over (all of it moved, or it failed), with its result in *result; *done tells how
// much moved either way.
bool TryNow(NetLink* link, bool send, uint8_t* bytes, uint32_t length, uint32_t* done, NetResult* result)
{
    *done = 0;
    while (*done < length) {
        size_t n = 0;
        int e = send ? px::SocketSendNow(link->socket, bytes + *done, length - *done, &n)
                     : px::SocketRecvNow(link->socket, bytes + *done, length - *done, &n);
        if (e == EAGAIN)
            return false;
        if (e == 0 && n == 0 && !send)
            e = kPeerClosed;
        if (e != 0) {
            *result = send ? SendFail(e) : RecvFail(e);
            return true;
        }
        *done += static_cast<uint32_t>(n);
        // A send that the socket took only in part goes on blocking on the worker thread.
        if (send && *done < length)
            return false;
    }
    *result = kOk;
    return true;
}

// NetTransferBufferWait's work once the slot is taken: moves bytes as the socket allows and waits
// for it, at most until the deadline, while wake stays unsignalled.
NetResult MoveOrWait(NetLink* link, bool send, uint8_t* bytes, uint32_t length, uint32_t timeoutMs,
                     const px::Event* wake, uint32_t* done)
{
    const uint32_t code = send ? NET_SEND_ERROR : NET_RECEIVE_ERROR;
    const uint64_t deadline = px::TickCount64() + timeoutMs;
    const int wakeFd = wake != nullptr ? wake->Fd() : -1;
    while (*done < length) {
        size_t n = 0;
        int e = send ? px::SocketSendNow(link->socket, bytes + *done, length - *done, &n)
                     : px::SocketRecvNow(link->socket, bytes + *done, length - *done, &n);
        if (e == 0 && n == 0 && !send)
            e = kPeerClosed;
        if (e == 0) {
            *done += static_cast<uint32_t>(n);
            continue;
        }
        if (e != EAGAIN)
            return Fail(code, static_cast<uint32_t>(e));
        int waitMs = -1;
        if (timeoutMs != px::kInfinite) {
            const uint64_t now = px::TickCount64();
            if (now >= deadline)
                return Fail(code, NET_DETAIL_WAIT_TIMEOUT);
            waitMs = static_cast<int>(deadline - now);
        }
        bool ready = false, woken = false;
        if (int w = px::SocketWaitOrWake(link->socket, send, wakeFd, waitMs, &ready, &woken))
            return Fail(code, static_cast<uint32_t>(w));
        if (woken)
            return Fail(code, NET_DETAIL_WAIT_ABANDONED);
    }
    return kOk;
}

} // namespace

void NetSendThread(NetLink* link) { WorkerLoop<true>(link); }
void NetReceiveThread(NetLink* link) { WorkerLoop<false>(link); }

NetResult NetTransferBuffer(NetLink* link, void* buffer, uint32_t length, uint32_t direction, uint32_t async,
                            uint32_t /*reserved*/, uint32_t* count, uint32_t flags)
{
    if (link == nullptr || link->listening || direction > NET_DIRECTION_RECEIVE || (buffer == nullptr && length > 0))
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    const bool send = direction == NET_DIRECTION_SEND;
    const NetContext* ctx = link->context;
    if (ctx->multicast) {
        if (!send && ctx->role == NET_ROLE_SENDER)
            return Fail(NET_WRONG_MULTICAST_TRANSFER, NET_DETAIL_RECEIVE_ON_SENDER);
        if (send && ctx->role == NET_ROLE_RECEIVER)
            return Fail(NET_WRONG_MULTICAST_TRANSFER, NET_DETAIL_SEND_ON_RECEIVER);
    }

    px::CsLock guard(link->lock);
    px::Event& slotFree = send ? *link->sendSlotFree : *link->receiveSlotFree;
    slotFree.Wait();
    if (send ? link->sendStopFlag.load() : link->receiveStopFlag.load()) {
        slotFree.Set();
        return Fail(send ? NET_SEND_ERROR : NET_RECEIVE_ERROR, ECANCELED);
    }
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    if (async) {
        uint32_t done = 0;
        NetResult now{};
        if ((flags & NET_TRANSFER_TRY_NOW) && !(flags & NET_TRANSFER_COPY) && ctx->protocol == NET_PROTOCOL_TCP &&
            TryNow(link, send, bytes, length, &done, &now)) {
            NetHook& hook = link->hooks[send ? NET_HOOK_SEND_STOP : NET_HOOK_RCV_STOP];
            if (hook.function != nullptr)
                hook.function(now.code == NET_SUCCESS_CODE ? length : done, now.code, now.detail, hook.user);
            slotFree.Set();
            return kOk;
        }
        NetRequest& pending = send ? link->pendingSend : link->pendingReceive;
        pending.buffer = bytes + done;
        pending.length = length - done;
        pending.alreadyDone = done;
        pending.flags = flags;
        pending.suppressHook = false;
        pending.queued = true;
        (send ? link->sendRequested : link->receiveRequested)->Set();
        return kOk;
    }
    uint32_t done = 0;
    NetResult r = send ? PerformSend(link, bytes, length, &done) : PerformReceive(link, bytes, length, flags, &done);
    if (count != nullptr)
        *count = done;
    slotFree.Set();
    return r;
}

NetResult NetRecvDisconnect(NetLink* link)
{
    if (link == nullptr)
        return Fail(NET_RECV_DISCONNECT_ERROR, 3);
    if (int e = px::SocketShutdown(link->socket, px::ShutdownHow::Receive))
        return Fail(NET_RECV_DISCONNECT_ERROR, static_cast<uint32_t>(e));
    return kOk;
}

NetResult NetSendDisconnect(NetLink* link)
{
    if (link == nullptr)
        return Fail(NET_SEND_DISCONNECT_ERROR, 3);
    if (int e = px::SocketShutdown(link->socket, px::ShutdownHow::Send))
        return Fail(NET_SEND_DISCONNECT_ERROR, static_cast<uint32_t>(e));
    return kOk;
}

NetResult NetTransferBufferWait(NetLink* link, void* buffer, uint32_t length, uint32_t direction, uint32_t timeoutMs,
                                const px::Event* wake, uint32_t* count)
{
    if (count != nullptr)
        *count = 0;
    if (link == nullptr || link->listening || link->context->protocol != NET_PROTOCOL_TCP ||
        direction > NET_DIRECTION_RECEIVE || (buffer == nullptr && length > 0))
        return Fail(NET_INVALID_INPUT_PARAMETERS, 0);
    const bool send = direction == NET_DIRECTION_SEND;
    px::Event& slotFree = send ? *link->sendSlotFree : *link->receiveSlotFree;
    {
        px::CsLock guard(link->lock);
        slotFree.Wait();
        if (send ? link->sendStopFlag.load() : link->receiveStopFlag.load()) {
            slotFree.Set();
            return Fail(send ? NET_SEND_ERROR : NET_RECEIVE_ERROR, ECANCELED);
        }
    }
    // The slot is ours until the transfer ends; the lock is not held meanwhile, so the other
    // direction can be requested while this one waits.
    uint32_t done = 0;
    const NetResult r = MoveOrWait(link, send, static_cast<uint8_t*>(buffer), length, timeoutMs, wake, &done);
    slotFree.Set();
    if (count != nullptr)
        *count = done;
    return r;
}
