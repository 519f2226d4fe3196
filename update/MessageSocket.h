// The client of the camera's message server: the lines of the camera's update tool arrive on a
// TCP connection that the host opens and only reads.
//
// Socket holds what every socket of the family keeps (handle, addresses, port, the last error's
// text for diagnostics); SocketTCP sends and receives on a stream; ClientTCP connects to a named
// host and port. Each connect() makes a new socket; only the first connect() of an object binds
// it to the local host's address and the remote port number, so that a retry after a failed bind
// gets a port of the system's choosing. A first attempt that finds nothing listening on the
// local host can connect to itself (same address and port at both ends); it counts as refused.
// The objects are used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Socket.h"

class Socket {
public:
    static constexpr size_t kHostNameSize = 64;     // the local host name, at most 63 characters
    static constexpr size_t kRemoteNameSize = 256;  // the remote host name, at most 255
    static constexpr size_t kErrorSize = 64;        // the last error's text, at most 63

    Socket();
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    virtual int send(const void* buffer, int length) = 0;
    virtual int receive(void* buffer, int length, uint32_t timeoutSeconds, bool peek) = 0;
    virtual bool connect() = 0;

    const char* LastError() const { return m_szLastError; }
    uint32_t Port() const { return m_dwPort; }
    bool Bound() const { return m_bBound; }
    // Live objects of the family in this process.
    static int LiveCount();

protected:
    // Closes the socket of the last attempt, when there is one.
    void CloseSocket();
    void StoreError(const char* format, int error);

    px::SocketHandle m_hSocket = px::kInvalidSocket;
    char m_szHostName[kHostNameSize] = {};
    uint32_t m_dwLocalAddress = 0, m_dwRemoteAddress = 0;   // IPv4, host order
    uint32_t m_dwPort = 0;
    char m_szLastError[kErrorSize] = {};
    uint8_t m_byDefaultRemote[4] = {127, 0, 0, 1};
    char m_szRemoteName[kRemoteNameSize] = {};
    bool m_bBound = false;
};

class SocketTCP : public Socket {
public:
    // One send; the bytes sent, or -1.
    int send(const void* buffer, int length) override;
    // timeoutSeconds 0 waits without limit; otherwise 0 when nothing arrived in that many seconds.
    // The bytes read (0 also when the peer closed), or -1. peek leaves them queued.
    int receive(void* buffer, int length, uint32_t timeoutSeconds, bool peek) override;
};

class ClientTCP : public SocketTCP {
public:
    // Ports above 65534 are refused and the previous one kept.
    bool SetPort(uint32_t port);
    // An empty name connects to 127.0.0.1.
    bool SetHost(const char* name);
    bool connect() override;
};

// The address a host name fills in, the way the message-server client asks for it: IPv4 only;
// a name with several addresses gives the wildcard 0.0.0.0. 0 or the resolver's errno value.
int FillSockAddr(const char* name, uint32_t* address);
