// Thin socket calls. Every function returns 0 on success or the errno value of the failing call,
// so that the network access layer can put it into a result detail without reading errno itself.
// IPv4 addresses are 32-bit values in host order (127.0.0.1 is 0x7F000001); ports are host order.
// Sends never raise SIGPIPE: a peer that went away gives EPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace px {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
constexpr uint32_t kAnyAddress = 0;
constexpr uint32_t kLoopbackAddress = 0x7F000001u;

enum class SocketType { Stream, Datagram };
enum class ShutdownHow { Receive, Send, Both };

// a.b.c.d from four bytes given in that order.
inline uint32_t Ipv4FromBytes(const uint8_t bytes[4])
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}
inline bool Ipv4IsLoopback(uint32_t addr) { return (addr >> 24) == 127; }

int SocketOpen(SocketType type, SocketHandle* out);
int SocketClose(SocketHandle s);
int SocketSetLinger(SocketHandle s, bool on, int seconds);
int SocketSetReuseAddress(SocketHandle s, bool on);
int SocketSetNoDelay(SocketHandle s, bool on);
int SocketSetBufferSizes(SocketHandle s, int bytes);
int SocketBind(SocketHandle s, uint32_t addr, uint16_t port);
int SocketListen(SocketHandle s);  // largest backlog the system allows
// A queue of at most backlog connections that were not accepted yet (0: one, on Linux); a peer
// whose connect finds the queue full gets no answer at all.
int SocketListenBacklog(SocketHandle s, int backlog);
int SocketAccept(SocketHandle listening, SocketHandle* out);
// Connects, waiting at most timeoutMs for the peer's answer (timeoutMs < 0: as long as the system
// tries); ETIMEDOUT when the time ran out. The socket keeps its blocking mode.
int SocketConnect(SocketHandle s, uint32_t addr, uint16_t port, int timeoutMs = -1);
int SocketLocalPort(SocketHandle s, uint16_t* port);
// Both ends of a connected socket.
int SocketEndpoints(SocketHandle s, uint32_t* localAddr, uint16_t* localPort, uint32_t* peerAddr, uint16_t* peerPort);
// A stream socket bound to addr:port (0: any free port, reported in *boundPort) with its address
// reusable at once, and listening unless listen is false (a port that is held but refuses).
int SocketOpenServer(uint32_t addr, uint16_t port, bool listen, SocketHandle* out, uint16_t* boundPort);

// One send call; *sent is what the kernel took (possibly less than len).
int SocketSend(SocketHandle s, const void* data, size_t len, size_t* sent);
// Sends all of len, looping over partial sends (for peers and tools, not for the link layer).
int SocketSendAll(SocketHandle s, const void* data, size_t len);
// Sends all of a and then all of b as one piece of the stream, in as few system calls as the
// kernel allows (a gather send): a header and the data it announces leave without being copied
// together first.
int SocketSendAll2(SocketHandle s, const void* a, size_t alen, const void* b, size_t blen);
// One send / receive call that does not block: EAGAIN when nothing could move right now.
int SocketSendNow(SocketHandle s, const void* data, size_t len, size_t* sent);
int SocketRecvNow(SocketHandle s, void* data, size_t len, size_t* got);
// One receive call; *got == 0 means the peer closed the connection.
int SocketRecv(SocketHandle s, void* data, size_t len, size_t* got);
// The same, leaving the bytes queued for the next receive.
int SocketPeek(SocketHandle s, void* data, size_t len, size_t* got);
// One datagram receive that also reports truncation (EMSGSIZE) with *got set to the bytes kept.
int SocketRecvDatagram(SocketHandle s, void* data, size_t len, size_t* got);
// Receives exactly len bytes; ECONNRESET when the peer closes first.
int SocketRecvAll(SocketHandle s, void* data, size_t len);
int SocketShutdown(SocketHandle s, ShutdownHow how);

// Waits until s is readable (or has an error or end of stream); timeoutMs < 0 waits without limit.
int SocketWaitReadable(SocketHandle s, int timeoutMs, bool* readable);
// The same, but also returns (with *woken set) as soon as wakeFd (an Event's descriptor) is
// readable, so that a thread blocked on a socket can be told to stop.
int SocketWaitReadableOrWake(SocketHandle s, int wakeFd, int timeoutMs, bool* readable, bool* woken);
// Either direction: readable, or writable (room to send); wakeFd < 0 waits for the socket alone.
int SocketWaitOrWake(SocketHandle s, bool writable, int wakeFd, int timeoutMs, bool* ready, bool* woken);

int SocketJoinMulticast(SocketHandle s, uint32_t group);
// Largest payload one datagram of this socket can carry.
int SocketMaxDatagramSize(SocketHandle s, uint32_t* size);

int LocalHostName(char* name, size_t len);
// IPv4 addresses of a host name or dotted address, in the resolver's order. An answer without
// any address is ENOENT; resolver failures that are not system errors map to ENOENT or EAGAIN.
int ResolveHostName(const char* name, std::vector<uint32_t>* addrs);

} // namespace px
