#include "platform/Socket.h"

#include "platform/Clock.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace px {

namespace {

int Err() { return errno != 0 ? errno : EIO; }

sockaddr_in MakeAddr(uint32_t addr, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(addr);
    return sa;
}

} // namespace

int SocketOpen(SocketType type, SocketHandle* out)
{
    int s = socket(AF_INET, (type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (s < 0)
        return Err();
    *out = s;
    return 0;
}

int SocketClose(SocketHandle s) { return close(s) == 0 ? 0 : Err(); }

int SocketSetLinger(SocketHandle s, bool on, int seconds)
{
    linger l{on ? 1 : 0, seconds};
    return setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : Err();
}

int SocketSetReuseAddress(SocketHandle s, bool on)
{
    int v = on ? 1 : 0;
    return setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0 ? 0 : Err();
}

int SocketSetNoDelay(SocketHandle s, bool on)
{
    int v = on ? 1 : 0;
    return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0 ? 0 : Err();
}

int SocketSetBufferSizes(SocketHandle s, int bytes)
{
    if (setsockopt(s, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0 ||
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0)
        return Err();
    return 0;
}

int SocketBind(SocketHandle s, uint32_t addr, uint16_t port)
{
    sockaddr_in sa = MakeAddr(addr, port);
    return bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : Err();
}

int SocketListen(SocketHandle s) { return listen(s, SOMAXCONN) == 0 ? 0 : Err(); }

int SocketListenBacklog(SocketHandle s, int backlog) { return listen(s, backlog) == 0 ? 0 : Err(); }

int SocketAccept(SocketHandle listening, SocketHandle* out)
{
    for (;;) {
        int s = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (s >= 0) {
            *out = s;
            return 0;
        }
        if (errno != EINTR)
            return Err();
    }
}

namespace {

// The outcome of a connect that went on in the background, waited for at most timeoutMs.
int WaitConnected(SocketHandle s, int timeoutMs)
{
    const uint64_t deadline = TickCount64() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
    pollfd p{s, POLLOUT, 0};
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const uint64_t now = TickCount64();
            wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
        }
        const int n = poll(&p, 1, wait);
        if (n > 0)
            break;
        if (n == 0)
            return ETIMEDOUT;
        if (errno != EINTR)
            return Err();
    }
    int soErr = 0;
    socklen_t len = sizeof soErr;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &soErr, &len) != 0)
        return Err();
    return soErr;
}

} // namespace

int SocketConnect(SocketHandle s, uint32_t addr, uint16_t port, int timeoutMs)
{
    sockaddr_in sa = MakeAddr(addr, port);
    const int flags = fcntl(s, F_GETFL);
    if (flags < 0)
        return Err();
    // A bounded connect starts without blocking and waits for its outcome with poll.
    if (timeoutMs >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0)
        return Err();
    int e = 0;
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        e = errno;
        // An interrupted or unfinished connect goes on in the background.
        if (e == EINTR || e == EINPROGRESS)
            e = WaitConnected(s, timeoutMs);
    }
    if (timeoutMs >= 0 && fcntl(s, F_SETFL, flags) != 0 && e == 0)
        e = Err();
    return e;
}

int SocketLocalPort(SocketHandle s, uint16_t* port)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return Err();
    *port = ntohs(sa.sin_port);
    return 0;
}

int SocketEndpoints(SocketHandle s, uint32_t* localAddr, uint16_t* localPort, uint32_t* peerAddr, uint16_t* peerPort)
{
    sockaddr_in local{}, peer{};
    socklen_t len = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return Err();
    len = sizeof peer;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &len) != 0)
        return Err();
    *localAddr = ntohl(local.sin_addr.s_addr);
    *localPort = ntohs(local.sin_port);
    *peerAddr = ntohl(peer.sin_addr.s_addr);
    *peerPort = ntohs(peer.sin_port);
    return 0;
}

int SocketOpenServer(uint32_t addr, uint16_t port, bool listen, SocketHandle* out, uint16_t* boundPort)
{
    SocketHandle s = kInvalidSocket;
    if (int e = SocketOpen(SocketType::Stream, &s))
        return e;
    int e = SocketSetReuseAddress(s, true);
    if (e == 0)
        e = SocketBind(s, addr, port);
    if (e == 0 && listen)
        e = SocketListen(s);
    if (e == 0)
        e = SocketLocalPort(s, boundPort);
    if (e != 0) {
        SocketClose(s);
        return e;
    }
    *out = s;
    return 0;
}

int SocketSend(SocketHandle s, const void* data, size_t len, size_t* sent)
{
    for (;;) {
        ssize_t n = send(s, data, len, MSG_NOSIGNAL);
        if (n >= 0) {
            *sent = static_cast<size_t>(n);
            return 0;
        }
        if (errno != EINTR)
            return Err();
    }
}

int SocketSendNow(SocketHandle s, const void* data, size_t len, size_t* sent)
{
    for (;;) {
        ssize_t n = send(s, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            *sent = static_cast<size_t>(n);
            return 0;
        }
        if (errno == EWOULDBLOCK)
            return EAGAIN;
        if (errno != EINTR)
            return Err();
    }
}

int SocketRecvNow(SocketHandle s, void* data, size_t len, size_t* got)
{
    for (;;) {
        ssize_t n = recv(s, data, len, MSG_DONTWAIT);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            return 0;
        }
        if (errno == EWOULDBLOCK)
            return EAGAIN;
        if (errno != EINTR)
            return Err();
    }
}

int SocketSendAll(SocketHandle s, const void* data, size_t len)
{
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        size_t sent = 0;
        if (int e = SocketSend(s, p, len, &sent))
            return e;
        p += sent;
        len -= sent;
    }
    return 0;
}

int SocketSendAll2(SocketHandle s, const void* a, size_t alen, const void* b, size_t blen)
{
    iovec iov[2] = {{const_cast<void*>(a), alen}, {const_cast<void*>(b), blen}};
    int first = alen > 0 ? 0 : 1;
    while (first < 2) {
        msghdr msg{};
        msg.msg_iov = iov + first;
        msg.msg_iovlen = static_cast<size_t>(2 - first);
        ssize_t n = sendmsg(s, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Err();
        }
        size_t done = static_cast<size_t>(n);
        while (first < 2 && done >= iov[first].iov_len) {
            done -= iov[first].iov_len;
            ++first;
        }
        if (first < 2) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + done;
            iov[first].iov_len -= done;
        }
    }
    return 0;
}

static int SocketRecvFlags(SocketHandle s, void* data, size_t len, int flags, size_t* got);

int SocketRecv(SocketHandle s, void* data, size_t len, size_t* got)
{
    return SocketRecvFlags(s, data, len, 0, got);
}

int SocketPeek(SocketHandle s, void* data, size_t len, size_t* got)
{
    return SocketRecvFlags(s, data, len, MSG_PEEK, got);
}

static int SocketRecvFlags(SocketHandle s, void* data, size_t len, int flags, size_t* got)
{
    for (;;) {
        ssize_t n = recv(s, data, len, flags);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            return 0;
        }
        if (errno != EINTR)
            return Err();
    }
}

int SocketRecvDatagram(SocketHandle s, void* data, size_t len, size_t* got)
{
    for (;;) {
        iovec iov{data, len};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        ssize_t n = recvmsg(s, &msg, 0);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            return (msg.msg_flags & MSG_TRUNC) ? EMSGSIZE : 0;
        }
        if (errno != EINTR)
            return Err();
    }
}

int SocketRecvAll(SocketHandle s, void* data, size_t len)
{
    char* p = static_cast<char*>(data);
    while (len > 0) {
        size_t got = 0;
        if (int e = SocketRecv(s, p, len, &got))
            return e;
        if (got == 0)
            return ECONNRESET;
        p += got;
        len -= got;
    }
    return 0;
}

int SocketShutdown(SocketHandle s, ShutdownHow how)
{
    int h = how == ShutdownHow::Receive ? SHUT_RD : how == ShutdownHow::Send ? SHUT_WR : SHUT_RDWR;
    return shutdown(s, h) == 0 ? 0 : Err();
}

int SocketWaitReadable(SocketHandle s, int timeoutMs, bool* readable)
{
    pollfd p{s, POLLIN, 0};
    for (;;) {
        int n = poll(&p, 1, timeoutMs);
        if (n >= 0) {
            if (n > 0 && (p.revents & POLLNVAL))
                return EBADF;
            *readable = n > 0;
            return 0;
        }
        if (errno != EINTR)
            return Err();
    }
}

int SocketWaitReadableOrWake(SocketHandle s, int wakeFd, int timeoutMs, bool* readable, bool* woken)
{
    return SocketWaitOrWake(s, false, wakeFd, timeoutMs, readable, woken);
}

int SocketWaitOrWake(SocketHandle s, bool writable, int wakeFd, int timeoutMs, bool* ready, bool* woken)
{
    // A negative descriptor is ignored by poll: no wake then.
    pollfd p[2] = {{s, static_cast<short>(writable ? POLLOUT : POLLIN), 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        int n = poll(p, 2, timeoutMs);
        if (n >= 0) {
            if (n > 0 && (p[0].revents & POLLNVAL))
                return EBADF;
            *ready = (p[0].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR)) != 0;
            *woken = (p[1].revents & POLLIN) != 0;
            return 0;
        }
        if (errno != EINTR)
            return Err();
    }
}

int SocketJoinMulticast(SocketHandle s, uint32_t group)
{
    ip_mreq req{};
    req.imr_multiaddr.s_addr = htonl(group);
    req.imr_interface.s_addr = htonl(INADDR_ANY);
    return setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req) == 0 ? 0 : Err();
}

int SocketMaxDatagramSize(SocketHandle s, uint32_t* size)
{
    // Linux has no per-socket maximum message size option. The largest payload of one IPv4 UDP
    // datagram is 65535 - 20 (IP header) - 8 (UDP header) = 65507; the socket's type is read
    // so that a caller still learns of a broken socket here, where it asks.
    int type = 0;
    socklen_t len = sizeof type;
    if (getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return Err();
    *size = 65507;
    return 0;
}

int LocalHostName(char* name, size_t len)
{
    if (gethostname(name, len) != 0)
        return Err();
    if (len > 0)
        name[len - 1] = '\0';
    return 0;
}

int ResolveHostName(const char* name, std::vector<uint32_t>* addrs)
{
    addrs->clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(name, nullptr, &hints, &res);
    if (rc != 0) {
        if (rc == EAI_SYSTEM)
            return Err();
        if (rc == EAI_MEMORY)
            return ENOMEM;
        return rc == EAI_AGAIN ? EAGAIN : ENOENT;
    }
    for (addrinfo* ai = res; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || ai->ai_addr == nullptr)
            continue;
        uint32_t a = ntohl(reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
        bool seen = false;
        for (uint32_t x : *addrs)
            seen = seen || x == a;
        if (!seen)
            addrs->push_back(a);
    }
    freeaddrinfo(res);
    return addrs->empty() ? ENOENT : 0;
}

} // namespace px
