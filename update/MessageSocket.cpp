#include "update/MessageSocket.h"

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

// The system needs no start of its network library; the count stays for diagnostics.
int g_liveSockets = 0;

} // namespace

int FillSockAddr(const char* name, uint32_t* address)
{
    std::vector<uint32_t> found;
    if (const int e = px::ResolveHostName(name, &found))
        return e;
    if (found.empty())
        return ENOENT;
    *address = found.size() > 1 ? px::kAnyAddress : found[0];
    return 0;
}

Socket::Socket() { ++g_liveSockets; }

Socket::~Socket()
{
    CloseSocket();
    --g_liveSockets;
}

int Socket::LiveCount() { return g_liveSockets; }

void Socket::CloseSocket()
{
    if (m_hSocket == px::kInvalidSocket)
        return;
    if (const int e = px::SocketClose(m_hSocket))
        StoreError("Close socket failed (%d)\n", e);
    m_hSocket = px::kInvalidSocket;
}

void Socket::StoreError(const char* format, int error)
{
    std::snprintf(m_szLastError, sizeof m_szLastError, format, error);
}

int SocketTCP::send(const void* buffer, int length)
{
    size_t sent = 0;
    if (length < 0 || buffer == nullptr) {
        StoreError("send failed (%d)\n", EINVAL);
        return -1;
    }
    if (const int e = px::SocketSend(m_hSocket, buffer, static_cast<size_t>(length), &sent)) {
        StoreError("send failed (%d)\n", e);
        return -1;
    }
    if (sent == 0 && length > 0)
        std::snprintf(m_szLastError, sizeof m_szLastError, "Connection closed at other end.");
    return static_cast<int>(sent);
}

int SocketTCP::receive(void* buffer, int length, uint32_t timeoutSeconds, bool peek)
{
    if (length < 0 || buffer == nullptr) {
        StoreError("recv failed (%d)\n", EINVAL);
        return -1;
    }
    if (timeoutSeconds != 0) {
        bool readable = false;
        // Whole seconds, capped where poll's millisecond count would overflow.
        const int ms = timeoutSeconds > 2000000u ? 2000000000 : static_cast<int>(timeoutSeconds * 1000u);
        if (const int e = px::SocketWaitReadable(m_hSocket, ms, &readable)) {
            StoreError("select failed (%d)\n", e);
            return -1;
        }
        if (!readable)
            return 0;
    }
    size_t got = 0;
    const int e = peek ? px::SocketPeek(m_hSocket, buffer, static_cast<size_t>(length), &got)
                       : px::SocketRecv(m_hSocket, buffer, static_cast<size_t>(length), &got);
    if (e != 0) {
        StoreError("recv failed (%d)\n", e);
        return -1;
    }
    return static_cast<int>(got);
}

bool ClientTCP::SetPort(uint32_t port)
{
    if (port > 65534)
        return false;
    m_dwPort = port;
    return true;
}

bool ClientTCP::SetHost(const char* name)
{
    std::snprintf(m_szRemoteName, sizeof m_szRemoteName, "%s", name != nullptr ? name : "");
    return true;
}

bool ClientTCP::connect()
{
    // The socket of a failed attempt is closed before the next is made.
    CloseSocket();
    if (const int e = px::SocketOpen(px::SocketType::Stream, &m_hSocket)) {
        StoreError("Socket connection failed (%d)\n", e);
        return false;
    }
    if (const int e = px::SocketSetLinger(m_hSocket, false, 1)) {
        StoreError("Setsockopt failed (%d)\n", e);
        return false;
    }
    if (const int e = px::LocalHostName(m_szHostName, sizeof m_szHostName)) {
        StoreError("gethostname failed (%d)\n", e);
        return false;
    }
    if (const int e = FillSockAddr(m_szHostName, &m_dwLocalAddress)) {
        StoreError("FillSockAddr failed (%d)\n", e);
        return false;
    }
    if (m_szRemoteName[0] != '\0') {
        if (const int e = FillSockAddr(m_szRemoteName, &m_dwRemoteAddress)) {
            StoreError("FillSockAddr failed (%d)\n", e);
            return false;
        }
    } else {
        m_dwRemoteAddress = px::Ipv4FromBytes(m_byDefaultRemote);
    }
    const uint16_t port = static_cast<uint16_t>(m_dwPort);
    const bool binding = !m_bBound;
    if (binding) {
        // The flag is set by the attempt, bound or not: only the first attempt binds.
        m_bBound = true;
        if (const int e = px::SocketBind(m_hSocket, m_dwLocalAddress, port)) {
            StoreError("bind failed (%d)\n", e);
            return false;
        }
    }
    if (const int e = px::SocketConnect(m_hSocket, m_dwRemoteAddress, port)) {
        StoreError("Connect failed (%d)\n", e);
        return false;
    }
    // Bound to the remote port on this host's own address, with nothing listening there, the
    // socket connects to itself: that is no message server.
    uint32_t localAddr = 0, peerAddr = 0;
    uint16_t localPort = 0, peerPort = 0;
    if (binding && px::SocketEndpoints(m_hSocket, &localAddr, &localPort, &peerAddr, &peerPort) == 0 &&
        localAddr == peerAddr && localPort == peerPort) {
        StoreError("Connect failed (%d)\n", ECONNREFUSED);
        CloseSocket();
        return false;
    }
    return true;
}
