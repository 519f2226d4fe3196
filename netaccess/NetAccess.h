// Pellix network access layer.
//
// The only code of Pellix that moves bytes over sockets (through platform/Socket.h). A context
// (NetContext) holds one endpoint configuration; a link (NetLink) is one socket of a context with
// two worker threads, a send thread and a receive thread, that run for the whole life of the link
// and carry out asynchronous transfer requests. Each direction has one request slot: a caller of
// NetTransferBuffer takes the slot (waiting while it is taken), an asynchronous request is then
// performed by the worker thread, which calls the direction's stop hook on its own thread and
// frees the slot after the hook returned. A TCP server context also owns a listening link whose
// thread reports incoming connections through the context's accept hook.
//
// Ownership: the caller owns contexts and links and frees them with NetFreeLink/NetFreeContext;
// a context owns the links made on it (NetFreeContext frees those still alive). Every operation
// returns a NetResult {code, detail}; nothing throws. Details are errno values or the layer's own
// numbers (5000...6001); success is {0, 2}.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Clock.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

struct NetResult {
    uint32_t code;
    uint32_t detail;
};

inline bool operator==(const NetResult& a, const NetResult& b) { return a.code == b.code && a.detail == b.detail; }

// Result codes.
enum : uint32_t {
    NET_SUCCESS_CODE = 0,
    NET_ERROR_CODE = 1,
    NET_NOT_APPLICABLE = 2,
    NET_MEMORY_ALLOCATION_ERROR = 3,
    NET_ACCEPT_ERROR = 4,
    NET_BIND_ERROR = 5,
    NET_CLOSESOCKET_ERROR = 6,
    NET_CONNECT_ERROR = 7,
    NET_GETHOSTNAME_ERROR = 8,
    NET_GETHOSTBYNAME_ERROR = 9,
    NET_GETHOSTBYADDR_ERROR = 10,
    NET_GETSOCKOPT_ERROR = 11,
    NET_LISTEN_ERROR = 12,
    NET_RECEIVE_ERROR = 13,
    NET_SELECT_ERROR = 14,
    NET_SEND_ERROR = 15,
    NET_SHUTDOWNSOCKET_ERROR = 16,
    NET_SOCKET_CREATION_ERROR = 17,
    NET_WSASTARTUP_ERROR = 18,
    NET_CREATETHREAD_ERROR = 19,
    NET_CREATEEVENT_ERROR = 20,
    NET_UNKNOWN_EVENT = 21,
    NET_INVALID_INPUT_PARAMETERS = 22,
    NET_WRONG_MULTICAST_TRANSFER = 23,
    NET_RECV_DISCONNECT_ERROR = 24,
    NET_SEND_DISCONNECT_ERROR = 25,
};

// Details of the layer's own making.
enum : uint32_t {
    NET_DETAIL_SUCCESS = 2,
    NET_DETAIL_BAD_MULTICAST_GROUP = 5000,
    NET_DETAIL_MULTICAST_REMOTE = 5001,
    NET_DETAIL_MULTICAST_NOT_UDP = 5002,
    NET_DETAIL_NO_REMOTE = 5003,
    NET_DETAIL_WAIT_TIMEOUT = 5164,   // used by callers that wait for an asynchronous transfer
    NET_DETAIL_WAIT_ABANDONED = 5165,
    NET_DETAIL_SEND_ON_RECEIVER = 6000,
    NET_DETAIL_RECEIVE_ON_SENDER = 6001,
};

enum : uint32_t { NET_PROTOCOL_UDP = 0, NET_PROTOCOL_TCP = 1 };
// Role 0: TCP server / multicast sender; role 1: TCP client / multicast receiver.
enum : uint32_t { NET_ROLE_SERVER = 0, NET_ROLE_SENDER = 0, NET_ROLE_CLIENT = 1, NET_ROLE_RECEIVER = 1 };
enum : uint32_t { NET_DIRECTION_SEND = 0, NET_DIRECTION_RECEIVE = 1 };
enum : uint32_t { NET_FLAG_RAW = 1 };             // NetAllocContext flags: no UDP framing
// NetTransferBuffer flags. NET_TRANSFER_COPY: a TCP receive goes through a bounce buffer.
// NET_TRANSFER_TRY_NOW: an asynchronous TCP transfer first moves what it can at once on the
// caller's thread without blocking; when that is everything, the request ends there (its stop
// hook runs on the caller's thread before NetTransferBuffer returns), otherwise the worker
// thread carries out the rest and reports the whole count. It spares a hand-over between threads
// for the many small records whose bytes are already waiting.
enum : uint32_t { NET_TRANSFER_COPY = 1, NET_TRANSFER_TRY_NOW = 2 };
enum : uint32_t {
    NET_HOOK_SEND_START = 0,
    NET_HOOK_RCV_START = 1,
    NET_HOOK_SEND_STOP = 2,
    NET_HOOK_RCV_STOP = 3,
};

// UDP framing markers.
constexpr uint32_t kNetFrameStart = 0xFEEDFACEu;
constexpr uint32_t kNetFrameEnd = 0xCAFEFADEu;

// Called on a link's worker thread after an asynchronous transfer: (bytes, code, detail, user).
// The byte count means something only when code is 0. The result is ignored.
using NetHookFunction = uint32_t (*)(uint32_t count, uint32_t code, uint32_t detail, void* user);
// Called on the listening thread when a connection waits ({0, 2}) or the wait failed ({14, e}).
using NetAcceptHookFunction = void (*)(NetResult result, void* user);

struct NetLink;

struct NetContext {
    uint32_t protocol = 0;
    uint32_t role = 0;
    uint16_t localPort = 0;
    uint16_t remotePort = 0;
    char hostName[256] = {};
    uint8_t ipv4[4] = {};
    uint32_t multicast = 0;
    uint8_t group[4] = {};
    px::CriticalSection listLock;    // guards the list of links and the accept hook
    NetLink* links PX_GUARDED_BY(listLock) = nullptr;  // most recently added first
    NetLink* listening = nullptr;    // TCP server role only
    NetAcceptHookFunction acceptHook PX_GUARDED_BY(listLock) = nullptr;
    void* acceptUser PX_GUARDED_BY(listLock) = nullptr;
    uint32_t raw = 0;
    // How long NetAllocLink waits for a TCP connect to be answered (kInfinite: as long as the
    // system tries). Set with NetSetConnectTimeout; see NetClientLink.h for why clients bound it.
    uint32_t connectTimeoutMs = px::kInfinite;
    std::unique_ptr<px::Event> accepted;  // set when NetAllocLink accepted (see listening thread)
};

struct NetHook {
    NetHookFunction function = nullptr;
    void* user = nullptr;
};

struct NetRequest {
    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    uint32_t flags = 0;
    bool suppressHook = false;
    uint32_t alreadyDone = 0;  // bytes moved on the caller's thread (NET_TRANSFER_TRY_NOW)
    bool queued = false;       // handed to the worker thread and not yet carried out
};

struct NetLink {
    NetContext* context = nullptr;
    uint32_t listening = 0;
    px::CriticalSection lock;
    uint32_t maxDatagram = 0;
    px::SocketHandle socket = px::kInvalidSocket;
    px::Thread listenThread, sendThread, receiveThread;
    std::unique_ptr<px::Event> sendRequested, receiveRequested;
    std::unique_ptr<px::Event> sendSlotFree, receiveSlotFree;  // created signalled
    std::unique_ptr<px::Event> listenStop;                      // wakes the listening thread
    std::atomic<bool> listenStopFlag{false}, sendStopFlag{false}, receiveStopFlag{false};
    std::atomic<uint32_t> sendThreadId{0}, receiveThreadId{0}, listenThreadId{0};
    // Written under the lock by the requesting thread; the worker thread reads them after the
    // requested event, and nobody writes them again before the slot-free event (see NetTransfer.cpp).
    NetRequest pendingSend PX_GUARDED_BY(lock), pendingReceive PX_GUARDED_BY(lock);
    NetHook hooks[4] PX_GUARDED_BY(lock);
    NetLink* prev = nullptr;
    NetLink* next = nullptr;
};

NetResult NetAllocContext(uint32_t protocol, uint32_t role, uint16_t localPort, uint16_t remotePort,
                          const char* hostName, const uint8_t* ipv4, const uint8_t* group, uint32_t flags,
                          NetContext** context);
NetResult NetAllocLink(NetContext* context, uint32_t reserved, NetLink** link);
NetResult NetLinkHookFunction(NetLink* link, uint32_t kind, NetHookFunction function, void* user,
                              uint32_t reserved);
// Must not be called from one of the link's own hooks: that returns {1, EDEADLK} and frees nothing.
NetResult NetFreeLink(NetLink* link, uint32_t reserved);
NetResult NetFreeContext(NetContext* context, uint32_t reserved);
// Writes the message of the result into text (at most size bytes, NUL included); null does nothing.
void NetErrorText(NetResult result, char* text, size_t size = 256);

// direction: NET_DIRECTION_SEND / NET_DIRECTION_RECEIVE; async 1: performed by the worker thread,
// whose stop hook reports the end; async 0: performed here and the count stored through count.
NetResult NetTransferBuffer(NetLink* link, void* buffer, uint32_t length, uint32_t direction, uint32_t async,
                            uint32_t reserved, uint32_t* count, uint32_t flags);
// A synchronous TCP transfer on the caller's thread that waits for the socket at most timeoutMs
// (px::kInfinite: no limit) and ends as soon as wake (may be null) is signalled. It takes the
// direction's slot like every request, but does not hold the link's lock while it waits, so that
// the other direction can be requested meanwhile (a forced transfer sent while a read waits).
// *count is the bytes moved, also when the transfer ended early: {0, 2} all of them; {13 or 15,
// 5164} the time-out passed (call again for the rest); {13 or 15, 5165} wake was signalled; other
// results as for NetTransferBuffer. Nothing of the transfer goes on after the call returned, and
// it costs no hand-over between threads: the requests and replies of the agent use it.
NetResult NetTransferBufferWait(NetLink* link, void* buffer, uint32_t length, uint32_t direction, uint32_t timeoutMs,
                                const px::Event* wake, uint32_t* count);
NetResult NetRecvDisconnect(NetLink* link);
NetResult NetSendDisconnect(NetLink* link);

// Additions for hosts of the server role (tests, tools): the accept hook of a server context
// (nothing in the camera client sets one), and the port a context's listening link is bound to.
NetResult NetSetAcceptHook(NetContext* context, NetAcceptHookFunction hook, void* user);
// The bound on the connects of the context's later links (a Linux addition, see NetClientLink.h):
// a connect that gets no answer within timeoutMs fails with {7, ETIMEDOUT}.
NetResult NetSetConnectTimeout(NetContext* context, uint32_t timeoutMs);
NetResult NetGetListeningPort(const NetContext* context, uint16_t* port);
